// The recovery session driven the way the desktop program drives it: a scan on a worker that
// reports the growing tree, listings and a save on other threads against the same results, a
// stop in the middle, and the owner applying what listings learned only when nobody reads.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "session/recovery_session.h"
#include "export/export_test_util.h"
#include "test_support.h"

namespace kfr::session {
namespace {

using recovery::ItemId;

// Follows the tree as a screen would: from the placement and rename events alone.
struct TreeFollower : recovery::BasicScanObserver {
    std::map<ItemId, std::pair<ItemId, std::string>> items;  // item -> (parent item, name)
    std::uint64_t found = 0;
    std::atomic<bool>* stopAtFirstBlock = nullptr;

    void onProgress(std::uint64_t, std::uint64_t, std::uint64_t) override
    {
        if (stopAtFirstBlock) stopAtFirstBlock->store(true);
    }
    void onFoldersFound(std::uint64_t count) override { found = count; }
    void onFoldersPlaced(std::span<const recovery::PlacedFolder> folders) override
    {
        for (const auto& f : folders) items[f.item] = {f.parentItem, f.name};
    }
    void onFoldersRenamed(std::span<const recovery::FolderRename> renames) override
    {
        for (const auto& r : renames) items.at(r.item).second = r.name;
    }
};

// Collects a listing's rows as they come.
struct RowCollector : recovery::RowSink {
    std::vector<std::string> names;
    void onRows(std::span<const recovery::ItemRow> rows) override
    {
        for (const auto& r : rows) names.push_back(r.name);
    }
};

// Holds a save run at its first file until released, so its lease on the results stays held.
struct HoldingObserver : exporting::SaveObserver {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool released = false;

    void onFileStarted(const exporting::SaveFileInfo&) override
    {
        std::unique_lock lock(mutex);
        if (released) return;
        holding = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
    }
    void waitUntilHolding()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return holding; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

SourceRequest named(const std::string& path, std::uint32_t partition = 0, const std::string& fileSystem = "")
{
    SourceRequest request;
    request.path = path;
    request.partition = partition;
    request.fileSystem = fileSystem;
    return request;
}

std::set<std::string> savedFiles(const std::string& root)
{
    std::set<std::string> out;
    for (const auto& [path, full] : test::filesUnder(root)) out.insert(path);
    return out;
}

TEST(RecoverySession, EventsBuildTheSameTreeAsTheResults)
{
    RecoverySession session;
    ASSERT_TRUE(session.selectSource(named(test::fixturePath("fat16_basic.img"))).ok());
    EXPECT_EQ(session.selection().partType, "FAT16");
    TreeFollower follower;
    auto scanned = session.scan({nullptr, &follower});
    ASSERT_TRUE(scanned);
    const auto& r = (*scanned)->scan.folders;
    EXPECT_EQ(follower.found, (*scanned)->scan.directoriesFound);
    ASSERT_EQ(follower.items.size(), r.nodes.size());
    for (const auto& node : r.nodes) {
        const auto& [parent, name] = follower.items.at(node.item);
        EXPECT_EQ(parent, r.tree.item(node.item).parent);
        EXPECT_EQ(name, r.tree.item(node.item).name);
    }
}

TEST(RecoverySession, WorkersShareResultsWhileAScanStops)
{
    const std::string image = test::fixturePath("fat32_basic.img");
    const std::string before = test::fileDigest(image);
    RecoverySession session;
    ASSERT_TRUE(session.selectSource(named(image)).ok());
    auto first = session.scan({});
    ASSERT_TRUE(first);
    session.adoptResults(std::move(first).value());
    const std::shared_ptr<const ScanResults> results = session.results();
    const ItemId root = results->scan.folders.tree.firstTopLevel();

    // What a listing and a save give when nothing else runs.
    auto alone = session.listFolder(*results, root);
    ASSERT_TRUE(alone);
    test::TempDir aloneOut;
    exporting::SaveRunState aloneState;
    exporting::CollisionState aloneCollisions;
    SaveRequest aloneSave;
    aloneSave.destination = aloneOut.path();
    aloneSave.checks.tick(results->scan.folders.tree, root);
    aloneSave.state = &aloneState;
    aloneSave.collisions = &aloneCollisions;
    aloneSave.startAnswer = exporting::CollisionAnswer::RenameAll;
    const auto aloneReport = session.save(*results, aloneSave);
    ASSERT_EQ(aloneReport.end, exporting::SaveEnd::Finished);

    // Now all at once: a second scan stopped after its first block, a listing and a save.
    std::atomic<bool> stopScan{false};
    TreeFollower follower;
    follower.stopAtFirstBlock = &stopScan;
    Result<std::shared_ptr<ScanResults>> second = Error{};
    std::thread scanner([&] { second = session.scan({&stopScan, &follower}); });

    RowCollector rows;
    Result<recovery::FolderListing> listing = Error{};
    std::thread lister([&] {
        ListingControl control;
        control.sink = &rows;
        listing = session.listFolder(*results, root, control);
    });

    test::TempDir out;
    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    SaveRequest request = aloneSave;
    request.destination = out.path();
    request.state = &state;
    request.collisions = &collisions;
    exporting::SaveRunReport report;
    std::thread saver([&] { report = session.save(*results, request); });

    scanner.join();
    lister.join();
    saver.join();

    ASSERT_TRUE(second);
    EXPECT_EQ((*second)->scan.end, recovery::ScanEnd::Stopped);
    EXPECT_LT((*second)->scan.directoriesFound, results->scan.directoriesFound);
    // Stopped or not, the tree is built from what was found: Root with the orphan folder at least.
    EXPECT_GE((*second)->scan.folders.folderCount, 1u);

    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->rows.size(), alone->rows.size());
    EXPECT_EQ(rows.names.size(), alone->rows.size());  // every row also came through the sink
    EXPECT_EQ(report.end, exporting::SaveEnd::Finished);
    EXPECT_EQ(report.filesWritten, aloneReport.filesWritten);
    EXPECT_EQ(savedFiles(out.path()), savedFiles(aloneOut.path()));
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(RecoverySession, ChangesWaitWhileAWorkerReads)
{
    RecoverySession session;
    ASSERT_TRUE(session.selectSource(named(test::fixturePath("fat16_basic.img"))).ok());
    auto scanned = session.scan({});
    ASSERT_TRUE(scanned);
    session.adoptResults(std::move(scanned).value());
    auto results = session.results();
    const auto& folders = results->scan.folders;
    const ItemId docs = test::itemAt(folders, "Documents");
    ASSERT_NE(docs, recovery::kNoItem);

    test::TempDir out;
    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    HoldingObserver holding;
    SaveRequest request;
    request.destination = out.path();
    request.checks.tick(folders.tree, docs);
    request.state = &state;
    request.collisions = &collisions;
    request.observer = &holding;
    exporting::SaveRunReport report;
    std::thread saver([&] { report = session.save(*results, request); });
    holding.waitUntilHolding();

    recovery::FolderChanges rename;
    rename.renames.push_back({docs, "Renamed", false});
    session.applyChanges(results.get(), rename);
    EXPECT_EQ(folders.tree.item(docs).name, "Documents");  // the save still reads the results

    holding.release();
    saver.join();
    EXPECT_EQ(report.end, exporting::SaveEnd::Finished);
    EXPECT_TRUE(std::filesystem::exists(out.file("Documents")));
    results = session.results();  // the next owner call applies what waited
    EXPECT_EQ(results->scan.folders.tree.item(docs).name, "Renamed");

    // Changes that belong to results the session no longer holds are dropped.
    session.adoptResults(nullptr);
    session.applyChanges(results.get(), rename);
    EXPECT_EQ(session.results(), nullptr);
}

TEST(RecoverySession, SourcesAsTheUserNamesThem)
{
    RecoverySession session;
    struct Case {
        const char* name;
        SourceRequest request;
        bool ok;
        const char* partType;
        std::uint64_t first;
    };
    const std::string disk = test::fixturePath("disk_mbr.img");
    Case cases[] = {
        {"boot sector decides", named(test::fixturePath("ntfs_basic.img")), true, "NTFS", 0},
        {"partition of a disk image", named(disk, 1), true, "FAT32", 2048},
        {"file system given", named(test::fixturePath("fat16_basic.img"), 0, "fat16"), true, "FAT16", 0},
        {"whole disk without a boot sector", named(disk), false, "", 0},
        {"missing file", named("/nonexistent/disk.img"), false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Status selected = session.selectSource(c.request);
        ASSERT_EQ(selected.ok(), c.ok) << (selected.ok() ? "" : selected.error().detail);
        if (!c.ok) continue;
        EXPECT_EQ(session.selection().partType, c.partType);
        EXPECT_EQ(session.selection().firstSector, c.first);
    }
}

}  // namespace
}  // namespace kfr::session
