// Cluster chain walks through the first FAT: ends, FAT16's 0xFFF7..0xFFFE, loops, bounds.
#include <gtest/gtest.h>

#include "fat_image_builder.h"
#include "storage/memory_source.h"
#include "volumes/cluster_chain.h"

using namespace kfr;
using namespace kfr::volumes;

namespace {

struct ChainCase {
    const char* name;
    bool fat32;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // cluster -> FAT entry
    std::uint32_t spf;
    std::uint32_t start;
    std::vector<std::uint32_t> expected;
};

}  // namespace

TEST(ClusterChain, WalksTheFirstFat)
{
    const ChainCase cases[] = {
        {"three clusters then end", false, {{2, 3}, {3, 4}, {4, 0xFFFF}}, 4, 2, {2, 3, 4}},
        {"free entry ends it", false, {{2, 0}}, 4, 2, {2}},
        {"entry 1 ends it", false, {{2, 1}}, 4, 2, {2}},
        {"FAT16 0xFFF8 is followed, its FAT sector lies past SPF", false, {{2, 0xFFF8}}, 4, 2, {2, 0xFFF8}},
        {"FAT16 0xFFF8 followed into a sector within SPF", false, {{2, 0xFFF8}, {0xFFF8, 0xFFFF}}, 256, 2, {2, 0xFFF8}},
        {"loop stops at the first repeat", false, {{2, 3}, {3, 4}, {4, 2}}, 4, 2, {2, 3, 4}},
        {"self loop", false, {{5, 5}}, 4, 5, {5}},
        {"FAT32 end of chain", true, {{2, 3}, {3, 0x0FFFFFFF}}, 4, 2, {2, 3}},
        {"FAT32 high nibble counts: entry above 0x0FFFFFFE ends", true, {{2, 0x10000003}, {3, 4}}, 4, 2, {2}},
        {"FAT32 across FAT sectors", true, {{127, 128}, {128, 129}, {129, 0x0FFFFFFF}}, 4, 127, {127, 128, 129}},
        {"FAT32 0x0FFFFFF8 is followed like FAT16 0xFFF8", true, {{2, 0x0FFFFFF8}}, 4, 2, {2, 0x0FFFFFF8}},
        {"start beyond the FAT", false, {}, 1, 40000, {40000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FatImageBuilder b(1 + 300);
        const std::uint64_t fatStart = 1;
        for (const auto& [cluster, value] : c.entries) {
            if (c.fat32)
                b.put32(fatStart * 512 + cluster * 4ULL, value);
            else
                b.put16(fatStart * 512 + cluster * 2ULL, static_cast<std::uint16_t>(value));
        }
        storage::MemorySectorSource mem(b.bytes);
        VolumeParameters p;
        p.partType = c.fat32 ? "FAT32" : "FAT16";
        p.firstFat = fatStart;
        p.spf = c.spf;
        p.spc = 1;
        EXPECT_EQ(walkClusterChain(mem, p, c.start).clusters(), c.expected);
        // Through a reader kept across walks (a listing of many folders), twice; a reader of
        // the other FAT type is not taken.
        FatReader kept = directoryFatReader(mem, p);
        EXPECT_EQ(walkClusterChain(mem, p, c.start, nullptr, &kept).clusters(), c.expected);
        EXPECT_EQ(walkClusterChain(mem, p, c.start, nullptr, &kept).clusters(), c.expected);
        FatReader other(mem, !p.isFat16(), p.firstFat, static_cast<std::uint64_t>(p.spf) + 1);
        EXPECT_EQ(walkClusterChain(mem, p, c.start, nullptr, &other).clusters(), c.expected);
    }
}

TEST(ClusterChain, UnknownFatOrStopGivesTheFirstClusterOnly)
{
    storage::MemorySectorSource mem(std::vector<std::uint8_t>(4 * 512, 0));
    VolumeParameters p;
    p.partType = "FAT16";
    p.spf = 2;
    EXPECT_EQ(walkClusterChain(mem, p, 7).clusters(), std::vector<std::uint32_t>{7});  // firstFat 0: unknown
    p.firstFat = 1;
    std::atomic<bool> stop{true};
    EXPECT_EQ(walkClusterChain(mem, p, 7, &stop).clusters(), std::vector<std::uint32_t>{7});
}
