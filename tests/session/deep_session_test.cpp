// Deep Search through the session on a disk whose partition table and boot sectors are wiped:
// FAT16, NTFS and FAT32 volumes side by side come back with their own geometry, and saving the
// whole tree gives the same files as Basic Search gives on the intact volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "export/export_test_util.h"
#include "recovery/deep_scan.h"
#include "session/recovery_session.h"
#include "test_support.h"

namespace kfr::session {
namespace {

constexpr std::uint64_t kGap = 2048;  // sectors before the first volume, as partitioning tools leave

SourceRequest named(const std::string& path)
{
    SourceRequest request;
    request.path = path;
    return request;
}

// Every file saved under root by its digest, with how often it occurs.
std::map<std::string, int> savedDigests(const std::string& root)
{
    std::map<std::string, int> out;
    for (const auto& [path, full] : test::filesUnder(root)) ++out[test::fileDigest(full)];
    return out;
}

// Saves everything the results hold under dest.
exporting::SaveRunReport saveAll(RecoverySession& session, const ScanResults& results, const std::string& dest)
{
    std::filesystem::create_directories(dest);
    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    SaveRequest request;
    request.destination = dest;
    request.checks.tick(results.scan.folders.tree, results.scan.folders.tree.firstTopLevel());
    request.state = &state;
    request.collisions = &collisions;
    request.startAnswer = exporting::CollisionAnswer::RenameAll;
    return session.save(results, request);
}

std::map<std::string, int> basicSaveOf(const std::string& image, const std::string& dest)
{
    RecoverySession session;
    EXPECT_TRUE(session.selectSource(named(image)).ok()) << image;
    auto scanned = session.scan({});
    EXPECT_TRUE(scanned);
    const auto report = saveAll(session, **scanned, dest);
    EXPECT_EQ(report.end, exporting::SaveEnd::Finished) << image;
    return savedDigests(dest);
}

}  // namespace

TEST(DeepSession, AWipedDiskGivesEveryVolumeItsGeometryAndSavesWhatBasicSearchSaves)
{
    test::TempDir dir;
    const std::string image = dir.file("wiped.img");
    const test::WipedDisk wiped = test::writeWipedMixedDisk(image);
    const std::uint64_t fat16At = wiped.fat16At, ntfsAt = wiped.ntfsAt, fat32At = wiped.fat32At;
    ASSERT_EQ(fat16At, kGap);
    const std::string before = test::fileDigest(image);

    RecoverySession session;
    // A wiped disk has no file system to settle: Deep Search needs only the range.
    ASSERT_TRUE(session.selectRange(named(image)).ok());
    auto scanned = session.deepScan({0, wiped.sectors, recovery::kDeepEveryFileSystem}, {});
    ASSERT_TRUE(scanned);
    const ScanResults& results = **scanned;

    struct Expected {
        const char* type;
        std::uint32_t spc;
        std::int64_t cluster0Start;
    };
    // FAT volumes first, in the order their folders were paired, then NTFS ones.
    const Expected expected[] = {
        {"FAT16", 4, static_cast<std::int64_t>(fat16At) + 92},
        {"FAT32", 1, static_cast<std::int64_t>(fat32At) + 1290},
        {"NTFS", 8, static_cast<std::int64_t>(ntfsAt)},
    };
    ASSERT_EQ(results.volumes.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results.volumes[i].partType, expected[i].type);
        EXPECT_EQ(results.volumes[i].spc, expected[i].spc);
        EXPECT_EQ(results.volumes[i].cluster0Start, expected[i].cluster0Start);
    }
    // The NTFS volume was found from its $MFT's first record and the mirror's copy, not assumed.
    ASSERT_EQ(results.deep.ntfsVolumes.size(), 1u);
    EXPECT_FALSE(results.deep.ntfsVolumes[0].guessedClusterSize);
    EXPECT_FALSE(results.deep.ntfsVolumes[0].fromBootSector);

    // Saving reads each file through its own volume's parameters.
    const auto report = saveAll(session, results, dir.file("deep"));
    EXPECT_EQ(report.end, exporting::SaveEnd::Finished);
    EXPECT_EQ(report.filesIncomplete, 0u);
    std::map<std::string, int> basic;
    for (const char* name : {"fat16_basic.img", "ntfs_basic.img", "fat32_basic.img"}) {
        const std::string dest = dir.file(std::string("basic-") + name);
        for (const auto& [digest, count] : basicSaveOf(test::fixturePath(name), dest)) basic[digest] += count;
    }
    const auto deep = savedDigests(dir.file("deep"));
    for (const auto& [digest, count] : basic) {
        const auto it = deep.find(digest);
        EXPECT_EQ(it == deep.end() ? 0 : it->second, count) << digest;
    }
    for (const auto& [digest, count] : deep) EXPECT_TRUE(basic.count(digest)) << digest << " saved by Deep Search only";
    EXPECT_EQ(test::fileDigest(image), before);
}

}  // namespace kfr::session
