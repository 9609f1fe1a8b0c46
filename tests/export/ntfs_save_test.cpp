// Saving NTFS volumes made by mkntfs and ntfs-3g: data in extension records, a fragmented $MFT,
// files whose parent is lost, compressed, sparse and short-valid-length files all come back equal
// to their originals (and to icat); system files and named streams only when asked for; an $MFT
// run list that claims the impossible lets scan, listing, save and open end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "export_test_util.h"
#include "recovery/mft_record.h"
#include "session/recovery_session.h"
#include "sleuthkit_oracle.h"

using namespace kfr;
using namespace kfr::exporting;

namespace {

SaveRunReport saveAll(test::ScannedImage& s, const std::string& out, bool streams = false, bool system = false)
{
    s.checks.toggleCheck(s.result.folders.tree, s.result.folders.tree.firstTopLevel());
    test::SaveSetup setup(s, out);
    setup.ctx.includeStreams = streams;
    setup.ctx.includeSystemFiles = system;
    return runSave(setup.ctx);
}

// The saved file for a planted path: at the same path, or (its parent lost) found by its name.
std::string savedFor(const std::map<std::string, std::string>& files, const std::string& path)
{
    if (const auto it = files.find(test::lower(path)); it != files.end()) return it->second;
    const std::string leaf = "/" + test::lower(std::filesystem::path(path).filename().string());
    for (const auto& [rel, full] : files)
        if (rel.rfind("lumo_miscellaneous/", 0) == 0 && ("/" + rel).ends_with(leaf)) return full;
    return {};
}

}  // namespace

TEST(NtfsSave, EveryPlantedFileComesBackEqualToItsOriginal)
{
    struct Case {
        const char* image;
        std::size_t files;  // saved by "save everything"
    };
    for (const Case c : {Case{"ntfs_attribute_list", 2}, Case{"ntfs_fragmented_mft", 3603}, Case{"ntfs_lost_parent", 11},
                         Case{"ntfs_compressed_sparse", 9}}) {
        SCOPED_TRACE(c.image);
        const std::string image = test::fixturePath(std::string(c.image) + ".img");
        const std::string before = test::fileDigest(image);
        auto s = test::scanImage(std::string(c.image) + ".img", "NTFS");
        test::TempDir out;
        const SaveRunReport report = saveAll(*s, out.path());
        EXPECT_EQ(report.end, SaveEnd::Finished);
        EXPECT_EQ(report.filesWritten, c.files);
        EXPECT_EQ(report.filesIncomplete + report.filesFailed + report.filesWithUnreadable, 0u);

        const auto files = test::filesUnder(out.path());
        EXPECT_EQ(files.size(), c.files);
        for (const auto& m : test::manifest(c.image)) {
            if (m.kind != "file") continue;  // streams are left out unless asked for
            SCOPED_TRACE(m.path);
            const std::string saved = savedFor(files, m.path);
            ASSERT_FALSE(saved.empty()) << m.state << " file not saved";
            EXPECT_EQ(test::fileDigest(saved), m.digest);
        }
        for (const auto& [rel, full] : files) EXPECT_NE(rel[0], '$') << "system file saved without being asked for";
        EXPECT_EQ(test::fileDigest(image), before);
    }
}

TEST(NtfsSave, LiveFilesEqualWhatTheIndependentReaderReads)
{
    // Compressed units (stored, LZNT1, sparse, a boundary inside a run), sparse runs, valid data
    // length, and a 40 MB file in 415 runs over three records.
    for (const char* name : {"ntfs_compressed_sparse.img", "ntfs_attribute_list.img"}) {
        SCOPED_TRACE(name);
        const std::string image = test::fixturePath(name);
        auto s = test::scanImage(name, "NTFS");
        test::TempDir out;
        saveAll(*s, out.path());
        const auto files = test::filesUnder(out.path());
        std::size_t compared = 0;
        for (const auto& e : test::flsEntries(image)) {
            if (e.directory || e.deleted || e.path[0] == '$') continue;
            SCOPED_TRACE(e.path);
            const auto it = files.find(test::lower(e.path));
            ASSERT_NE(it, files.end());
            EXPECT_EQ(test::readFileBytes(it->second), test::icatBytes(image, e.inode));
            ++compared;
        }
        EXPECT_GE(compared, 2u);
    }
}

TEST(NtfsSave, StreamsAndSystemFilesWhenAskedFor)
{
    const std::string image = test::fixturePath("ntfs_compressed_sparse.img");
    auto s = test::scanImage("ntfs_compressed_sparse.img", "NTFS");
    test::TempDir out;
    const SaveRunReport report = saveAll(*s, out.path(), true, true);
    EXPECT_EQ(report.end, SaveEnd::Finished);
    const auto files = test::filesUnder(out.path());
    struct Case {
        const char* path;
        const char* inode;
    };
    for (const Case c : {Case{"file.txt:extra", "73-128-4"}, Case{"$mft", "0"}, Case{"$upcase:$info", "10-128-2"}}) {
        SCOPED_TRACE(c.path);
        const auto it = files.find(c.path);
        ASSERT_NE(it, files.end());
        EXPECT_EQ(test::readFileBytes(it->second), test::icatBytes(image, c.inode));
    }
    EXPECT_TRUE(files.count("$extend/$quota"));

    // $Extend ticked on its own is asked for, without the flag.
    auto again = test::scanImage("ntfs_compressed_sparse.img", "NTFS");
    again->checks.toggleCheck(again->result.folders.tree, test::itemAt(again->result.folders, "$Extend"));
    test::TempDir extendOnly;
    test::SaveSetup setup(*again, extendOnly.path());
    EXPECT_EQ(runSave(setup.ctx).filesWritten, 3u);  // $Quota, $ObjId, $Reparse
}

TEST(NtfsSave, ImpossibleMftRunListsEndEveryOperation)
{
    const std::string original = test::fixturePath("ntfs_basic.img");
    const std::string before = test::fileDigest(original);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> runs;
    };
    const Case cases[] = {
        {"a run of 2^40 clusters", {0x15, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x04, 0x00}},
        {"a run beyond the medium", {0x31, 0x1B, 0xFF, 0xFF, 0x7F, 0x00}},
        {"a sparse first run", {0x01, 0x1B, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string image = dir.file("hostile.img");
        std::filesystem::copy_file(original, image);
        {
            // Record 0 at sector 32: its unnamed $DATA run list, rewritten in place.
            auto bytes = test::readFileBytes(image);
            recovery::MftRecordBytes record{};
            std::copy_n(bytes.begin() + 32 * 512, record.size(), record.begin());
            ASSERT_EQ(recovery::applyFixup(record), recovery::RecordVerdict::Usable);
            std::size_t at = 0;
            for (const auto& attr : recovery::listAttributes(record))
                if (attr.type == recovery::kAttrData) {
                    at = attr.offset + readLe16(record, attr.offset + 0x20);
                    ASSERT_LE(at + c.runs.size(), attr.offset + attr.length);
                }
            ASSERT_GT(at, 0u);
            std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(32 * 512 + at));
            f.write(reinterpret_cast<const char*>(c.runs.data()), static_cast<std::streamsize>(c.runs.size()));
        }
        session::RecoverySession session;
        ASSERT_TRUE(session.selectSource({image, 0, {}, {}, "NTFS"}));
        auto scanned = session.scan({});
        ASSERT_TRUE(scanned);
        const auto& results = **scanned;
        EXPECT_EQ(results.scan.end, recovery::ScanEnd::Finished);
        recovery::ItemRow aFile;
        for (recovery::ItemId id : results.scan.folders.tree.preOrder()) {
            auto listing = session.listFolder(results, id);
            ASSERT_TRUE(listing);
            for (const auto& row : listing->rows)
                if (row.kind == recovery::RowKind::NtfsFile && row.size > 0) aFile = row;
        }
        test::TempDir out;
        SaveRunState state;
        CollisionState collisions;
        session::SaveRequest request;
        request.destination = out.path();
        request.checks.tick(results.scan.folders.tree, results.scan.folders.tree.firstTopLevel());
        request.includeSystemFiles = true;
        request.state = &state;
        request.collisions = &collisions;
        request.startAnswer = CollisionAnswer::RenameAll;
        EXPECT_NE(session.save(results, request).end, SaveEnd::Failed);
        if (aFile.kind == recovery::RowKind::NtfsFile) {
            TemporaryCopies copies(out.path() + "/copies");
            SaveRunState openState;
            session.openFile(results, aFile, copies, nullptr, openState);
        }
    }
    EXPECT_EQ(test::fileDigest(original), before);
}
