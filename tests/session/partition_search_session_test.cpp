// "Search More Partitions" on real disks whose tables were wiped: every partition the table listed
// comes back from its boot sector alone, with the bounds the table gave, and the images are never
// changed; media without partitions are searched by themselves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "session/partition_search_session.h"
#include "storage/disk_list.h"
#include "test_support.h"
#include "volumes/partition_table.h"

namespace kfr::session {
namespace {

constexpr std::uint64_t kSector = 512;

// A copy of a fixture disk with the given sectors zeroed (a wiped table).
std::string wipedCopy(const test::TempDir& dir, const std::string& fixture, const std::vector<std::uint64_t>& sectors)
{
    auto bytes = test::readFileBytes(test::fixturePath(fixture));
    for (std::uint64_t s : sectors) {
        if (s * kSector < bytes.size()) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(s * kSector), kSector, 0);
    }
    const std::string path = dir.file(fixture);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

struct Bounds {
    std::string fileSystem;
    std::uint64_t first;
    std::uint64_t last;
    bool operator==(const Bounds&) const = default;
};

std::vector<Bounds> tableOf(const std::string& fixture)
{
    const std::string path = test::fixturePath(fixture);
    auto listed = volumes::listPartitions(path, std::filesystem::file_size(path) / kSector);
    EXPECT_TRUE(listed.ok());
    std::vector<Bounds> out;
    for (const auto& p : *listed) out.push_back({p.fileSystem, p.firstSector, p.lastSector});
    return out;
}

}  // namespace

TEST(PartitionSearchSession, AWipedTableComesBackFromTheBootSectors)
{
    test::TempDir dir;
    // The MBR disk: its primary table and the two boot records of the extended chain. The GUID
    // disk: the protective MBR, both headers and both entry arrays.
    std::vector<std::uint64_t> gptSectors;
    const std::uint64_t gptTotal = std::filesystem::file_size(test::fixturePath("disk_gpt.img")) / kSector;
    for (std::uint64_t s = 0; s < 34; ++s) gptSectors.push_back(s);
    for (std::uint64_t s = gptTotal - 33; s < gptTotal; ++s) gptSectors.push_back(s);
    struct Case {
        std::string fixture;
        std::vector<std::uint64_t> wipe;
    };
    const Case cases[] = {{"disk_mbr.img", {0, 124928, 143360}}, {"disk_gpt.img", gptSectors}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::string path = wipedCopy(dir, c.fixture, c.wipe);
        const std::string digest = test::fileDigest(path);

        PartitionSearchRequest request;
        request.path = path;
        request.mode = volumes::SearchMode::Advanced;
        auto advanced = searchPartitions(request);
        ASSERT_TRUE(advanced.ok());
        EXPECT_TRUE(advanced->listed.empty());
        EXPECT_FALSE(advanced->wholeDisk);
        std::vector<Bounds> found;
        for (const auto& p : advanced->search.found) found.push_back({p.fileSystem, p.firstSector, p.lastSector});
        // Every partition of the table, in disk order, with its bounds; a volume's leftover boot
        // sector in another partition's space (the GUID disk's reserved partition) is found too.
        for (const Bounds& b : tableOf(c.fixture))
            EXPECT_NE(std::find(found.begin(), found.end(), b), found.end()) << b.fileSystem << " " << b.first << "-" << b.last;
        EXPECT_LE(found.size(), tableOf(c.fixture).size() + 1);

        // Partitions at 2048-aligned starts lie on no cylinder of 255 × 63: Standard mode finds
        // none, and the disk gets one partition over its whole size.
        request.mode = volumes::SearchMode::Standard;
        auto standard = searchPartitions(request);
        ASSERT_TRUE(standard.ok());
        EXPECT_TRUE(standard->search.found.empty());
        ASSERT_TRUE(standard->wholeDisk);
        EXPECT_EQ(standard->wholeDisk->lastSector, std::filesystem::file_size(path) / kSector - 1);
        EXPECT_EQ(standard->foundCount(), 1u);

        // Searched with its table intact, the disk gets nothing it already lists.
        request.path = test::fixturePath(c.fixture);
        request.mode = volumes::SearchMode::Advanced;
        auto intact = searchPartitions(request);
        ASSERT_TRUE(intact.ok());
        EXPECT_FALSE(intact->listed.empty());
        EXPECT_LE(intact->search.found.size(), 1u);  // at most the leftover boot sector
        EXPECT_EQ(test::fileDigest(path), digest);
    }
}

TEST(PartitionSearchSession, MediaWithoutPartitionsAreSearchedByThemselves)
{
    test::TempDir dir;
    const std::string wiped = wipedCopy(dir, "disk_mbr.img", {0, 124928, 143360});
    storage::DiskListContext ctx;
    ctx.imagePaths = {wiped, test::fixturePath("disk_gpt.img")};
    const auto branch = volumes::listPhysicalDrivesBranch(storage::listPhysicalDisks(ctx));
    const auto searches = searchRemovableMedia(branch, nullptr, nullptr);
    // The intact GUID disk lists its partitions and is left alone.
    const auto ours = std::find_if(searches.begin(), searches.end(), [&](const RemovableMediaSearch& s) {
        return s.medium.devicePath == wiped;
    });
    ASSERT_NE(ours, searches.end());
    EXPECT_FALSE(ours->problem);
    EXPECT_EQ(ours->foundCount(), 1u);
    ASSERT_TRUE(ours->wholeDisk);
    for (const auto& s : searches) EXPECT_NE(s.medium.devicePath, test::fixturePath("disk_gpt.img"));

    std::atomic<bool> stop{true};
    EXPECT_TRUE(searchRemovableMedia(branch, &stop, nullptr).empty());
    EXPECT_FALSE(searchPartitions({dir.file("missing.img")}).ok());
}

}  // namespace kfr::session
