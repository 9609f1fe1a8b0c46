// Saving under conditions an attacker or a failing disk makes: links planted inside the
// destination, a destination removed while files are written, a medium unplugged half-way, a
// thousand files of one name, a folder tree deeper than the system can name.
#include <gtest/gtest.h>

#include <filesystem>

#include "export/save_run.h"
#include "export_test_util.h"
#include "storage/memory_source.h"
#include "test_support.h"
#include "volumes/fat_image_builder.h"

using namespace kfr;
using namespace kfr::exporting;
namespace fs = std::filesystem;

namespace {

std::size_t filesIn(const std::string& folder)
{
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) ++n;
    return n;
}

// Removes the destination as the given file starts.
struct DestinationRemover : SaveObserver {
    std::string destination;
    std::uint64_t atFile = 0;
    void onFileStarted(const SaveFileInfo& f) override
    {
        if (f.fileNumber != atFile) return;
        // The save makes folders on a second thread: one made while the removal walks the tree
        // makes it fail with "not empty", and the user removes it again.
        std::error_code error;
        for (int attempt = 0; attempt < 100 && fs::exists(destination); ++attempt) fs::remove_all(destination, error);
    }
};

// Counts how often the collision step asks whether a name is taken.
struct CountingFiles : OutputFiles {
    mutable std::uint64_t existsCalls = 0;
    Result<std::unique_ptr<OutputFile>> create(const std::string& path) override { return posixOutputFiles().create(path); }
    bool exists(const std::string& path) const override
    {
        ++existsCalls;
        return posixOutputFiles().exists(path);
    }
    bool removeFile(const std::string& path) override { return posixOutputFiles().removeFile(path); }
};

}  // namespace

TEST(HostileSave, LinksPlantedInsideTheDestinationAreNeverFollowed)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    struct Case {
        const char* name;
        const char* link;  // a link at this folder's name, pointing outside the destination
    };
    for (const Case c : {Case{"at a saved folder", "Documents"}, Case{"one level down", "Documents/Work"}}) {
        SCOPED_TRACE(c.name);
        test::TempDir sandbox;
        const std::string dest = sandbox.file("dest"), outside = sandbox.file("outside");
        fs::create_directories(dest);
        fs::create_directories(outside);
        fs::create_directories(fs::path(dest + "/" + c.link).parent_path());
        fs::create_directory_symlink(outside, dest + "/" + c.link);
        recovery::TreeChecks checks;
        checks.tick(s->result.folders.tree, test::itemAt(s->result.folders, "Documents"));
        test::SaveSetup setup(*s, dest);
        setup.ctx.checks = &checks;
        const SaveRunReport report = runSave(setup.ctx);
        EXPECT_EQ(filesIn(outside), 0u) << "a file was written through the link";
        EXPECT_GT(report.filesFailed, 0u);
        EXPECT_TRUE(fs::is_symlink(dest + "/" + c.link));
    }
}

TEST(HostileSave, ALinkPutInPlaceOfAFolderWhileTheRunGoesIsNeverFollowed)
{
    // The run makes every folder first and keeps the folders on its way open. A folder it made
    // and has not written into yet is swapped for a link once files are being written: the files
    // meant for it must not go through the link.
    struct Swapper : SaveObserver {
        std::vector<std::string> candidates;
        std::string outside;
        int swapped = 0;
        void onFileStarted(const SaveFileInfo&) override
        {
            for (const std::string& at : candidates) {
                if (!fs::is_directory(fs::symlink_status(at)) || !fs::is_empty(at)) continue;
                fs::rename(at, at + ".moved");
                fs::create_directory_symlink(outside, at);
                ++swapped;
            }
        }
    };
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    test::TempDir sandbox;
    const std::string dest = sandbox.file("dest"), outside = sandbox.file("outside");
    fs::create_directories(dest);
    fs::create_directories(outside);
    recovery::TreeChecks checks;
    checks.tick(s->result.folders.tree, test::itemAt(s->result.folders, "Documents"));
    test::SaveSetup setup(*s, dest);
    setup.ctx.checks = &checks;
    Swapper swapper;
    for (const char* folder : {"Documents/Personal", "Documents/Work/Reports/2023"})
        swapper.candidates.push_back(dest + "/" + folder);
    swapper.outside = outside;
    setup.ctx.observer = &swapper;
    const SaveRunReport report = runSave(setup.ctx);
    ASSERT_GT(swapper.swapped, 0);
    EXPECT_EQ(filesIn(outside), 0u) << "a file was written through the link";
    EXPECT_GT(report.filesFailed, 0u);
    EXPECT_GT(report.filesWritten, 0u);
}

TEST(HostileSave, ADestinationRemovedMidRunEndsTheRun)
{
    auto s = test::scanImage("fat32_basic.img", "FAT32");
    s->checks.tick(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
    test::TempDir sandbox;
    const std::string dest = sandbox.file("dest");
    fs::create_directories(dest);
    test::SaveSetup setup(*s, dest);
    DestinationRemover remover;
    remover.destination = dest;
    remover.atFile = 3;
    setup.ctx.observer = &remover;
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Failed);
    EXPECT_LE(report.filesFailed, 2u);  // it stops at once, instead of failing every file left
    EXPECT_FALSE(fs::exists(dest));
}

TEST(HostileSave, AMediumUnpluggedHalfWayEndsTheRunAndSaysWhichFileIsShort)
{
    auto s = test::scanImage("fat32_basic.img", "FAT32");
    s->checks.tick(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
    test::FaultySectorSource gone(*s->source);
    gone.disappearAfter(60);
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    setup.ctx.source = &gone;
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Failed);
    EXPECT_EQ(report.error.kind, ErrorKind::MediumRemoved);
    ASSERT_FALSE(report.files.empty());
    EXPECT_EQ(report.files.back().outcome, FileOutcome::Incomplete);
    EXPECT_EQ(report.files.back().reason, ShortReason::MediumRemoved);
    EXPECT_LT(report.files.size(), report.filesTotal);
}

TEST(HostileSave, AThousandFilesOfOneNameAreRenamedWithoutStartingOverEachTime)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    const recovery::ItemRow readme = test::fileRow(*s, "", "README.TXT");
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    CountingFiles files;
    setup.ctx.files = &files;
    constexpr std::size_t kCopies = 1000;
    for (std::size_t i = 0; i < kCopies; ++i) {
        recovery::ItemRow row = readme;
        row.size = readme.size - i % 7;  // distinct rows, one name
        setup.ctx.selectedRows.push_back({s->result.folders.tree.firstTopLevel(), row});
    }
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.filesWritten, 7u);  // the planner keeps one row per name, cluster and size
    EXPECT_TRUE(fs::exists(out.file("README_dd_5.TXT")));
    EXPECT_LT(files.existsCalls, 5 * report.filesTotal);
}

TEST(HostileSave, AFolderTreeDeeperThanThePathLimitIsCutAndSaidSo)
{
    // FAT16, one sector per cluster: a chain of 400 folders, each named by a 12-character entry in
    // its parent, with a file in the deepest one. 400 levels make a path far past 4,096 bytes.
    constexpr std::uint32_t kDepth = 400;
    constexpr std::uint16_t kSpf = 4;
    constexpr std::uint64_t kRoot = 1 + 2 * kSpf, kData = kRoot + 1;  // 16 root entries: one sector
    test::FatImageBuilder b(kData + kDepth + 8);
    b.fat16Boot(0, 1, 1, 16, kSpf);
    for (std::uint64_t fat : {1ULL, 1ULL + kSpf}) {
        b.fatStart(fat);
        b.sector(fat)[2] = b.sector(fat)[3] = 0xFF;
        for (std::uint32_t c = 2; c < kDepth + 3; ++c) b.put16(fat * 512 + c * 2, 0xFFFF);
    }
    auto dirSector = [&](std::uint32_t level) { return kData + level; };  // cluster 2 + level
    b.entry(kRoot, 0, "FOLDER00ABC", 0x10, 2);
    for (std::uint32_t level = 0; level < kDepth; ++level) {
        b.directory(dirSector(level), 2 + level, level == 0 ? 0 : 1 + level);
        if (level + 1 < kDepth) {
            char name[12];
            std::snprintf(name, sizeof name, "FOLDER%02uABC", (level + 1) % 100);
            b.entry(dirSector(level), 64, name, 0x10, 3 + level);
        }
    }
    b.entry(dirSector(kDepth - 1), 64, "DEEPEST TXT", 0x20, kDepth + 2, 10);
    test::ScannedImage s;
    s.source = std::make_unique<storage::MemorySectorSource>(b.bytes);
    recovery::BasicScanContext scan;
    scan.source = s.source.get();
    scan.selection = {"", 0, s.source->sectorCount() - 1, "FAT16"};
    scan.namer = &s.namer;
    s.result = recovery::runBasicScan(scan);
    ASSERT_EQ(s.result.folders.folderCount, kDepth + 1);  // and the orphan folder
    s.checks.tick(s.result.folders.tree, s.result.folders.tree.firstTopLevel());
    test::TempDir out;
    test::SaveSetup setup(s, out.path());
    const SaveRunReport report = runSave(setup.ctx);
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].outcome, FileOutcome::PathTooLong);
    EXPECT_GT(report.foldersTooDeep, 0u);
    EXPECT_EQ(report.filesWritten, 0u);
    // What fits is made: the folders down to where the path would pass the limit.
    std::string deepest = out.file("FOLDER00.ABC");
    while (true) {
        fs::directory_iterator it(deepest), end;
        if (it == end || !it->is_directory()) break;
        deepest = it->path().string();
    }
    EXPECT_GT(deepest.size(), 3500u);
    EXPECT_LT(deepest.size(), 4096u);
}
