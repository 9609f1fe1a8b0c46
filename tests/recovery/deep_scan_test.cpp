// Deep Search: volumes found by their boot sectors or inferred from where their directories lie,
// decoded into one tree; the inference's arithmetic on exact numbers; hostile sweeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "recovery/folder_paths.h"
#include "recovery/basic_scan.h"
#include "recovery/deep_scan.h"
#include "storage/memory_source.h"
#include "test_support.h"
#include "volumes/fat_image_builder.h"

using namespace kfr;
using namespace kfr::recovery;

using test::folderPaths;
using test::lower;

namespace {

// The same with every unnamed folder's "DIR<n>" as "dir#": Basic Search numbers them by the row
// it found them in, Deep Search by a counter from 0.
std::map<std::string, bool> withoutDirNumbers(const std::map<std::string, bool>& paths)
{
    std::map<std::string, bool> out;
    for (const auto& [path, deleted] : paths) {
        std::string plain;
        std::size_t i = 0;
        while (i < path.size()) {
            const bool segmentStart = i == 0 || path[i - 1] == '/';
            if (segmentStart && path.compare(i, 3, "dir") == 0 && i + 3 < path.size() && std::isdigit(static_cast<unsigned char>(path[i + 3]))) {
                std::size_t j = i + 3;
                while (j < path.size() && std::isdigit(static_cast<unsigned char>(path[j]))) ++j;
                if (j == path.size() || path[j] == '/') {
                    plain += "dir#";
                    i = j;
                    continue;
                }
            }
            plain += path[i++];
        }
        out[plain] = deleted;
    }
    return out;
}

std::map<std::string, bool> basicFolders(const storage::SectorSource& source, const std::string& type)
{
    DirNamer namer;
    BasicScanContext ctx;
    ctx.source = &source;
    ctx.selection = {"", 0, source.sectorCount() - 1, type};
    ctx.namer = &namer;
    return folderPaths(runBasicScan(ctx).folders);
}

DeepScanResult deep(const storage::SectorSource& source, const std::string& type, std::uint64_t start = 0,
                    std::uint64_t end = 0, const std::atomic<bool>* stop = nullptr)
{
    DeepScanContext ctx;
    ctx.source = &source;
    ctx.startSector = start;
    ctx.endSector = end ? end : source.sectorCount();
    ctx.fileSystem = type;
    ctx.stopRequested = stop;
    return runDeepScan(ctx);
}

void zero(std::vector<std::uint8_t>& bytes, std::uint64_t sector, std::uint64_t count = 1)
{
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), count * 512, 0);
}

}  // namespace

TEST(DeepScan, VolumesWithAndWithoutBootSectorsGiveTheirOwnGeometryAndEveryFolder)
{
    struct Case {
        const char* name;
        const char* image;
        const char* type;
        bool destroyBoot;
        std::uint32_t spc;
        std::int64_t cluster0Start;
    };
    const Case cases[] = {
        {"intact FAT32: its boot sector places every directory", "fat32_basic.img", "FAT32", false, 1, 1290},
        {"FAT32 without boot sectors", "fat32_basic.img", "FAT32", true, 1, 1290},
        {"FAT16 without a boot sector", "fat16_basic.img", "FAT16", true, 4, 92},
        {"large clusters: cluster 0 before the volume", "fat16_large_clusters.img", "FAT16", true, 64, -92},
        {"FAT32 with lost parents, no boot sectors", "fat32_lost_parent.img", "FAT32", true, 1, 1290},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = test::readFileBytes(test::fixturePath(c.image));
        storage::MemorySectorSource intact(bytes);
        const auto expected = basicFolders(intact, c.type);
        if (c.destroyBoot) {
            zero(bytes, 0);
            zero(bytes, 6);  // FAT32's backup
        }
        storage::MemorySectorSource medium(bytes);
        const DeepScanResult result = deep(medium, c.type);
        ASSERT_EQ(result.partitions.size(), 1u);
        EXPECT_EQ(result.partitions[0].spc, c.spc);
        EXPECT_EQ(result.partitions[0].cluster0Start, c.cluster0Start);
        ASSERT_EQ(result.volumes.size(), 1u);
        EXPECT_NE(result.volumes[0].firstFat, 0u) << "the FAT copies were not found";
        EXPECT_EQ(withoutDirNumbers(folderPaths(result.folders)), withoutDirNumbers(expected));
    }
}

TEST(DeepScan, TwoVolumesBackToBackShareOneTreeAndKeepTheirOwnGeometry)
{
    auto first = test::readFileBytes(test::fixturePath("fat16_basic.img"));
    auto second = test::readFileBytes(test::fixturePath("fat32_basic.img"));
    zero(first, 0);
    zero(second, 0);
    zero(second, 6);
    std::vector<std::uint8_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    storage::MemorySectorSource medium(both);
    const std::uint64_t offset = first.size() / 512;
    // FAT16 chosen: the second volume's directories name clusters above 65,536 only if it is
    // large, so it keeps the chosen type unless they do.
    const DeepScanResult result = deep(medium, "FAT16");
    ASSERT_EQ(result.partitions.size(), 2u);
    EXPECT_EQ(result.partitions[0].spc, 4u);
    EXPECT_EQ(result.partitions[0].cluster0Start, 92);
    EXPECT_EQ(result.partitions[1].spc, 1u);
    EXPECT_EQ(result.partitions[1].cluster0Start, static_cast<std::int64_t>(offset) + 1290);
    // Every folder keeps its volume, and each volume's folders are all there.
    std::size_t perVolume[2] = {0, 0};
    for (const auto& n : result.folders.nodes)
        if (n.self != kOrphanCluster) ++perVolume[n.volume];
    storage::MemorySectorSource a(test::readFileBytes(test::fixturePath("fat16_basic.img")));
    storage::MemorySectorSource b(test::readFileBytes(test::fixturePath("fat32_basic.img")));
    EXPECT_EQ(perVolume[0] + 1, basicFolders(a, "FAT16").size());  // the orphan folder is one for both
    EXPECT_EQ(perVolume[1] + 1, basicFolders(b, "FAT32").size());
    EXPECT_EQ(std::count_if(result.folders.nodes.begin(), result.folders.nodes.end(),
                            [](const FolderNode& n) { return n.self == kOrphanCluster; }),
              1);
}

TEST(DeepScan, PairsOfDirectoriesInferTheClusterSize)
{
    auto dir = [](std::uint64_t sector, std::uint32_t self) {
        LostDirectoryRecord d;
        d.sector = sector;
        d.self = self;
        return d;
    };
    struct Case {
        const char* name;
        LostDirectoryTable dirs;
        std::uint32_t spc;          // 0: no partition
        std::int64_t cluster0Start;
        std::string type;
    };
    const std::vector<Case> cases = {
        {"24 sectors over 3 clusters: 8 per cluster, and a third joins",
         {dir(10000, 3), dir(10016, 5), dir(10040, 8)}, 8, 9976, "FAT16"},
        {"48 over 3 gives 16", {dir(10000, 3), dir(10048, 6)}, 16, 9952, "FAT16"},
        {"36 over 3 gives 12, no cluster size", {dir(10000, 3), dir(10036, 6)}, 0, 0, ""},
        {"a lone directory fits nothing", {dir(5000, 7)}, 0, 0, ""},
        {"a cluster above 65,536 makes it FAT32", {dir(100000, 3), dir(100001, 4), dir(169998, 70001)}, 1, 99997, "FAT32"},
        {"cluster 0 before sector 0 (large clusters)", {dir(36, 2), dir(164, 4)}, 64, -92, "FAT16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LostDirectoryTable dirs = c.dirs;
        DeepPartitionTable parts;
        inferPartitions(dirs, {}, "FAT16", parts);
        if (c.spc == 0) {
            EXPECT_TRUE(parts.empty());
            for (const auto& d : dirs) EXPECT_EQ(d.partition, kFitsNoPartition);
            continue;
        }
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].spc, c.spc);
        EXPECT_EQ(parts[0].cluster0Start, c.cluster0Start);
        EXPECT_EQ(parts[0].partType, c.type);
        for (const auto& d : dirs) EXPECT_EQ(d.partition, 1u);
    }
}

TEST(DeepScan, AVolumeWithoutSubfoldersIsDecodedFromItsRootWhenItListsTwoFiles)
{
    for (int files : {1, 2}) {
        SCOPED_TRACE(files);
        // FAT16: boot sector, FATs at 1 and 2, a 16-entry root at 3, data from 4.
        test::FatImageBuilder b(64);
        b.fat16Boot(0, 1, 1, 16, 1);
        b.put32(32, 64);  // total sectors
        b.fatStart(1);
        b.fatStart(2);
        b.entry(3, 0, "NOTES   TXT", 0x20, 2, 100);
        if (files == 2) b.entry(3, 32, "PHOTO   JPG", 0x20, 3, 100);
        storage::MemorySectorSource medium(b.bytes);
        const DeepScanResult result = deep(medium, "FAT16");
        EXPECT_EQ(result.decodedFromRoot, files == 2);
        EXPECT_EQ(result.partitions.size(), files == 2 ? 1u : 0u);
    }
}

TEST(DeepScan, GarbageThatLooksLikeDirectoriesNeverHangsAndAStopKeepsWhatWasFound)
{
    std::vector<std::uint8_t> bytes(4 * 1024 * 512, 0);
    std::mt19937 rng(11);
    for (std::size_t s = 0; s < bytes.size() / 512; s += 1 + rng() % 3) {
        std::uint8_t* d = bytes.data() + s * 512;
        for (int i = 0; i < 512; ++i) d[i] = static_cast<std::uint8_t>(rng());
        d[0] = '.';
        d[1] = ' ';
        d[32] = d[33] = '.';
        d[34] = ' ';
    }
    storage::MemorySectorSource medium(bytes);
    const DeepScanResult result = deep(medium, "FAT32");
    EXPECT_EQ(result.end, ScanEnd::Finished);
    EXPECT_GT(result.lostDirectories.size(), 1000u);

    // Stopped after the first block: what that block held is still inferred and decoded.
    auto real = test::readFileBytes(test::fixturePath("fat32_basic.img"));
    storage::MemorySectorSource volume(real);
    std::atomic<bool> stop{true};
    const DeepScanResult stopped = deep(volume, "FAT32", 0, 0, &stop);
    EXPECT_EQ(stopped.end, ScanEnd::Stopped);
    EXPECT_FALSE(stopped.folders.tree.empty());
}
