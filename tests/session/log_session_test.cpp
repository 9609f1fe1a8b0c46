// Recovery logs through the session: results loaded from a log list and save exactly what the
// scanned results do (Basic Search on every kind of volume, Deep Search of a wiped disk), a
// medium found at another disk number is asked about, and a log that cannot be used says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "export/export_test_util.h"
#include "recovery/deep_scan.h"
#include "recoverylog/recovery_log.h"
#include "session/recovery_session.h"
#include "storage/fake_system_tree.h"
#include "test_support.h"

namespace kfr::session {
namespace {

using recovery::ItemId;
using recoverylog::LoadVerdict;

struct RecordingPrompt : recoverylog::MediaPrompt {
    bool answer = true;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> disks;
    bool continueWithDisk(std::uint32_t saved, std::uint32_t found) override
    {
        disks.emplace_back(saved, found);
        return answer;
    }
    bool continueWithVolume(const std::string&, const std::string&) override { return answer; }
};

// Everything a front end can see of results: the tree with each folder's record, every folder's
// listing, and the files a save of everything writes (relative path -> digest).
struct Snapshot {
    std::vector<std::string> tree;
    std::vector<std::string> rows;
    std::map<std::string, std::string> saved;
};

Snapshot snapshotOf(RecoverySession& session, const ScanResults& r, const std::string& dest)
{
    Snapshot s;
    const auto& f = r.scan.folders;
    for (ItemId id = 1; f.tree.valid(id); ++id) {
        std::ostringstream line;
        const auto& item = f.tree.item(id);
        line << id << " " << item.parent << " " << item.name;
        if (const auto* n = f.nodeOf(id))
            line << " | " << n->self << " " << n->parent << " " << n->date << " " << n->time << " " << n->deleted << " "
                 << n->cluster0Start << " " << n->volume;
        s.tree.push_back(line.str());
        auto listing = session.listFolder(r, id);
        EXPECT_TRUE(listing) << line.str();
        if (!listing) continue;
        for (const auto& row : listing->rows) {
            std::ostringstream text;
            text << id << ": " << row.name << " " << static_cast<int>(row.kind) << " " << row.size << " " << row.deleted
                 << " " << row.fatDate << " " << row.fatTime << " " << row.ntfsStamp << " " << row.firstCluster << " "
                 << row.parent << " " << row.recordSector << " " << row.folderItem << " " << row.volume << " "
                 << row.recordNumber << " " << row.streamName << " " << row.systemFile;
            s.rows.push_back(text.str());
        }
    }
    std::filesystem::create_directories(dest);
    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    SaveRequest request;
    request.destination = dest;
    request.checks.tick(f.tree, f.tree.firstTopLevel());
    request.state = &state;
    request.collisions = &collisions;
    request.startAnswer = exporting::CollisionAnswer::RenameAll;
    const auto report = session.save(r, request);
    EXPECT_NE(report.end, exporting::SaveEnd::Failed);
    for (const auto& [path, full] : test::filesUnder(dest)) s.saved[path] = test::fileDigest(full);
    return s;
}

void expectSame(const Snapshot& scanned, const Snapshot& loaded)
{
    EXPECT_EQ(loaded.tree, scanned.tree);
    EXPECT_EQ(loaded.rows, scanned.rows);
    EXPECT_EQ(loaded.saved, scanned.saved);
    EXPECT_FALSE(scanned.rows.empty());
}

// Saves the log of results and loads it again as a front end would: the medium is found where
// the log says (the machine's disks are not consulted for an image the log names).
LogLoadOutcome saveAndLoad(RecoverySession& session, const ScanResults& results, const std::string& logPath,
                           const storage::SystemRoots& roots)
{
    LogSaveRequest save;
    save.path = logPath;
    save.media.roots = roots;
    save.media.hostName = "host";
    const LogSaveOutcome saved = session.saveLog(results, save);
    EXPECT_EQ(saved.end, LogSaveEnd::Saved) << saved.error.detail;
    LogLoadRequest load;
    load.path = logPath;
    load.media = save.media;
    return session.loadLog(load);
}

SourceRequest named(const std::string& path, std::uint32_t partition = 0)
{
    SourceRequest request;
    request.path = path;
    request.partition = partition;
    return request;
}

}  // namespace

TEST(LogSession, ResultsLoadedFromALogListAndSaveAsScanned)
{
    const struct {
        const char* image;
        std::uint32_t partition;
        bool deep;  // Deep Search of the whole image (or partition) instead of Basic Search
    } cases[] = {
        {"fat16_basic.img", 0, false},          {"fat32_basic.img", 0, false},
        {"ntfs_basic.img", 0, false},           {"fat16_lost_parent.img", 0, false},
        {"fat32_lost_parent.img", 0, false},    {"ntfs_lost_parent.img", 0, false},
        {"ntfs_attribute_list.img", 0, false},  {"ntfs_compressed_sparse.img", 0, false},
        {"ntfs_fragmented_mft.img", 0, false},  {"fat_long_names_fragmented.img", 0, false},
        {"fat32_large_clusters.img", 0, false}, {"fat16_large_clusters.img", 0, false},
        {"fat_volume_label.img", 0, false},     {"fat_accented_deleted.img", 0, false},
        {"fat_deleted_fragmented.img", 0, false}, {"fat_lowercase_names.img", 0, false},
        {"fat_truncated.img", 0, false},        {"disk_mbr.img", 1, false},
        {"disk_mbr.img", 5, false},             {"disk_mbr.img", 6, false},  // empty volumes
        {"disk_gpt.img", 1, false},             {"disk_gpt.img", 4, false},
        {"disk_linux_first_mbr.img", 2, false}, {"disk_linux_first_gpt.img", 2, false},
        {"fat16_basic.img", 0, true},           {"fat32_lost_parent.img", 0, true},
        {"ntfs_lost_parent.img", 0, true},      {"fat_truncated.img", 0, true},
        {"fat_accented_deleted.img", 0, true},  {"disk_gpt.img", 0, true},
    };
    test::FakeSystemTree machine;  // a machine without disks: the image is disk 0
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " partition " + std::to_string(c.partition) + (c.deep ? " deep" : ""));
        const std::string image = test::fixturePath(c.image);
        const std::string before = test::fileDigest(image);
        test::TempDir dir;
        RecoverySession session;
        Result<std::shared_ptr<ScanResults>> scanned = Error{};
        if (c.deep) {
            ASSERT_TRUE(session.selectRange(named(image, c.partition)).ok());
            const auto& range = session.selection();
            scanned = session.deepScan({range.firstSector, range.lastSector + 1, recovery::kDeepEveryFileSystem}, {});
        } else {
            ASSERT_TRUE(session.selectSource(named(image, c.partition)).ok());
            scanned = session.scan({});
        }
        ASSERT_TRUE(scanned);
        const Snapshot expected = snapshotOf(session, **scanned, dir.file("scanned"));

        const LogLoadOutcome loaded = saveAndLoad(session, **scanned, dir.file("scan.MFT"), machine.roots());
        ASSERT_EQ(loaded.verdict, LoadVerdict::Loaded);
        ASSERT_TRUE(loaded.results);
        EXPECT_EQ(loaded.medium.verdict, recoverylog::MediaVerdict::Same);
        const ScanResults& r = *loaded.results;
        EXPECT_EQ(r.mode, (*scanned)->mode);
        EXPECT_EQ(r.selection.devicePath, image);
        EXPECT_EQ(r.volumes.size(), (*scanned)->volumes.size());
        EXPECT_EQ(r.selection.firstSector, (*scanned)->selection.firstSector);
        EXPECT_EQ(r.selection.lastSector, (*scanned)->selection.lastSector);
        EXPECT_EQ(r.scan.folders.folderCount, (*scanned)->scan.folders.folderCount);
        EXPECT_EQ(r.scan.directoriesFound, (*scanned)->scan.directoriesFound);
        expectSame(expected, snapshotOf(session, r, dir.file("loaded")));
        EXPECT_EQ(test::fileDigest(image), before);
    }
}

TEST(LogSession, DeepResultsOfMixedVolumesLoadedFromALogListAndSaveAsScanned)
{
    // FAT16, NTFS and FAT32 volumes side by side with the partition table and boot sectors gone.
    test::TempDir dir;
    const std::string image = dir.file("wiped.img");
    const test::WipedDisk wiped = test::writeWipedMixedDisk(image);
    const std::string before = test::fileDigest(image);

    RecoverySession session;
    ASSERT_TRUE(session.selectRange(named(image)).ok());
    auto scanned = session.deepScan({0, wiped.sectors, recovery::kDeepEveryFileSystem}, {});
    ASSERT_TRUE(scanned);
    ASSERT_EQ((*scanned)->volumes.size(), 3u);
    const Snapshot expected = snapshotOf(session, **scanned, dir.file("scanned"));

    test::FakeSystemTree machine;
    const LogLoadOutcome loaded = saveAndLoad(session, **scanned, dir.file("deep.MFT"), machine.roots());
    ASSERT_EQ(loaded.verdict, LoadVerdict::Loaded);
    const ScanResults& r = *loaded.results;
    EXPECT_EQ(r.mode, ScanMode::Deep);
    EXPECT_EQ(r.selection.partType, recovery::kDeepEveryFileSystem);
    ASSERT_EQ(r.volumes.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(r.volumes[i].partType, (*scanned)->volumes[i].partType);
        EXPECT_EQ(r.volumes[i].cluster0Start, (*scanned)->volumes[i].cluster0Start);
        EXPECT_EQ(r.deep.partitions[i].fromBootSector, (*scanned)->deep.partitions[i].fromBootSector);
    }
    EXPECT_EQ(r.deep.partitions[2].partType, volumes::kNtfs);
    EXPECT_EQ(r.deep.ntfsVolumes.size(), (*scanned)->deep.ntfsVolumes.size());
    EXPECT_EQ(r.scan.mftFiles.size(), (*scanned)->scan.mftFiles.size());
    expectSame(expected, snapshotOf(session, r, dir.file("loaded")));

    // A log saved from loaded results is the same file.
    LogSaveRequest again;
    again.path = dir.file("again.MFT");
    again.media.roots = machine.roots();
    again.media.hostName = "host";
    ASSERT_EQ(session.saveLog(r, again).end, LogSaveEnd::Saved);
    EXPECT_EQ(test::fileDigest(again.path), test::fileDigest(dir.file("deep.MFT")));
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(LogSession, AnImageListedAtAnotherDiskNumberIsAskedAbout)
{
    test::TempDir dir;
    const std::string image = dir.file("stick.img");
    std::filesystem::copy_file(test::fixturePath("fat16_basic.img"), image);
    RecoverySession session;
    ASSERT_TRUE(session.selectSource(named(image)).ok());
    auto scanned = session.scan({});
    ASSERT_TRUE(scanned);

    test::FakeSystemTree without;  // saved where the image was the only disk: disk 0
    LogSaveRequest save;
    save.path = dir.file("stick.MFT");
    save.media.roots = without.roots();
    save.media.hostName = "host";
    ASSERT_EQ(session.saveLog(**scanned, save).end, LogSaveEnd::Saved);

    test::FakeSystemTree with;  // loaded where a disk came before it: disk 1
    with.addDisk({"sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0", 1048576, false, {}});
    RecordingPrompt prompt;
    LogLoadRequest load;
    load.path = save.path;
    load.media.roots = with.roots();
    load.media.hostName = "host";
    load.prompt = &prompt;
    LogLoadOutcome loaded = session.loadLog(load);
    EXPECT_EQ(loaded.verdict, LoadVerdict::Loaded);
    EXPECT_EQ(prompt.disks, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 1}}));
    EXPECT_EQ(loaded.medium.verdict, recoverylog::MediaVerdict::Moved);
    ASSERT_TRUE(loaded.results);
    EXPECT_EQ(loaded.results->selection.devicePath, image);

    prompt.answer = false;
    loaded = session.loadLog(load);
    EXPECT_EQ(loaded.verdict, LoadVerdict::Declined);
    EXPECT_FALSE(loaded.results);

    // Moved away: the log's path names nothing.
    const std::string movedTo = dir.file("elsewhere.img");
    std::filesystem::rename(image, movedTo);
    load.media.roots = without.roots();
    loaded = session.loadLog(load);
    EXPECT_EQ(loaded.verdict, LoadVerdict::MediaMissing);
    EXPECT_FALSE(loaded.results);
    // Named by the user, a medium of the same size is taken.
    load.namedSource = movedTo;
    loaded = session.loadLog(load);
    EXPECT_EQ(loaded.verdict, LoadVerdict::Loaded);
    ASSERT_TRUE(loaded.results);
    EXPECT_EQ(loaded.results->selection.devicePath, movedTo);
    load.namedSource = test::fixturePath("fat32_basic.img");  // another size
    EXPECT_EQ(session.loadLog(load).verdict, LoadVerdict::MediaMissing);
}

TEST(LogSession, ALogThatCannotBeUsedSaysWhy)
{
    test::TempDir dir;
    const std::string image = test::fixturePath("fat32_basic.img");
    RecoverySession session;
    ASSERT_TRUE(session.selectSource(named(image)).ok());
    auto scanned = session.scan({});
    ASSERT_TRUE(scanned);
    test::FakeSystemTree machine;
    LogSaveRequest save;
    save.path = dir.file("scan.MFT");
    save.media.roots = machine.roots();
    ASSERT_EQ(session.saveLog(**scanned, save).end, LogSaveEnd::Saved);
    LogLoadRequest load;
    load.media.roots = machine.roots();

    // A Basic log on the Deep screen is handed over.
    load.path = save.path;
    load.screenMode = ScanMode::Deep;
    LogLoadOutcome out = session.loadLog(load);
    EXPECT_EQ(out.verdict, LoadVerdict::OtherMode);
    EXPECT_EQ(out.logMode, ScanMode::Basic);
    EXPECT_FALSE(out.results);
    load.screenMode = ScanMode::Basic;

    // Cut in the middle of the tree: the folders read so far, to browse.
    auto bytes = test::readFileBytes(save.path);
    bytes.resize(bytes.size() * 2 / 3);
    load.path = dir.file("cut.MFT");
    // The cut took the image's path with it (it is kept after the tree): the user names it.
    load.media.imagePaths = {image};
    std::ofstream(load.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out = session.loadLog(load);
    EXPECT_EQ(out.verdict, LoadVerdict::Corrupt);
    ASSERT_TRUE(out.fault);
    ASSERT_TRUE(out.results);
    EXPECT_GT(out.results->scan.folders.folderCount, 0u);
    EXPECT_LT(out.results->scan.folders.folderCount, (*scanned)->scan.folders.folderCount);
    EXPECT_TRUE(session.listFolder(*out.results, out.results->scan.folders.tree.firstTopLevel()));

    load.path = dir.file("missing.MFT");
    out = session.loadLog(load);
    EXPECT_EQ(out.verdict, LoadVerdict::CannotOpen);
    EXPECT_EQ(out.error.kind, ErrorKind::NotFound);

    // A full disk is reported with the system's text; what was written stays.
    save.path = "/dev/full";
    const LogSaveOutcome full = session.saveLog(**scanned, save);
    EXPECT_EQ(full.end, LogSaveEnd::WriteFailed);
    EXPECT_EQ(full.error.kind, ErrorKind::DiskFull);
    save.path = dir.file("no/such/folder/scan.MFT");
    EXPECT_EQ(session.saveLog(**scanned, save).end, LogSaveEnd::CannotCreate);
}

}  // namespace kfr::session
