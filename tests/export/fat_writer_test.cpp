// The FAT writer on tiny volumes built in memory: which clusters a file is read from (first FAT,
// second FAT, consecutive clusters), how long it is, and what stands in for unreadable chunks.
#include <gtest/gtest.h>

#include <filesystem>

#include "export/fat_writer.h"
#include "export_test_util.h"
#include "storage/memory_source.h"

using namespace kfr;
using namespace kfr::exporting;

namespace {

// A volume of 64 clusters (2 .. 65): FAT copies at sectors 1 and 2, cluster c at sector 8 + c * spc.
struct TinyVolume {
    volumes::VolumeParameters params;
    mutable storage::MemorySectorSource source{{}};

    TinyVolume(const char* type, std::uint32_t spc) : source(std::vector<std::uint8_t>((8 + 66 * spc) * 512, 0))
    {
        params.partType = type;
        params.spc = spc;
        params.spf = 1;
        params.firstFat = 1;
        params.secondFat = 2;
        params.cluster0Start = 8;
        for (std::uint32_t c = 2; c < 66; ++c)
            for (std::uint32_t i = 0; i < clusterBytes(); ++i)
                source.bytes()[(8 + c * spc) * 512 + i] = static_cast<std::uint8_t>((c * 131 + i * 7) % 251);
    }
    std::uint32_t clusterBytes() const { return params.spc * 512; }

    // Sets the entry of cluster c in one FAT copy (1 or 2) or both (0).
    void link(std::uint32_t c, std::uint32_t next, int copy = 0)
    {
        for (int fat : {1, 2}) {
            if (copy && copy != fat) continue;
            std::uint8_t* e = source.bytes().data() + fat * 512;
            if (params.isFat16()) {
                e[c * 2] = static_cast<std::uint8_t>(next);
                e[c * 2 + 1] = static_cast<std::uint8_t>(next >> 8);
            } else {
                for (int b = 0; b < 4; ++b) e[c * 4 + b] = static_cast<std::uint8_t>(next >> (8 * b));
            }
        }
    }

    std::vector<std::uint8_t> expected(const std::vector<std::uint32_t>& clusters, std::size_t size) const
    {
        std::vector<std::uint8_t> out;
        for (std::uint32_t c : clusters) {
            const auto* at = source.bytes().data() + (8 + c * params.spc) * 512;
            out.insert(out.end(), at, at + clusterBytes());
        }
        out.resize(std::min(out.size(), size));
        return out;
    }
};

struct Written {
    FileOutcome outcome;
    std::vector<std::uint8_t> bytes;
    bool exists;
    ShortReason reason;
    std::vector<ByteRange> unreadable;
};

struct ResultKeeper : SaveObserver {
    FileResult last;
    void onFileFinished(const FileResult& r) override { last = r; }
};

Written write(const TinyVolume& v, const storage::SectorSource& source, std::uint32_t first, std::uint64_t size)
{
    test::TempDir out;
    SaveRunState state;
    WriterContext ctx;
    ctx.source = &source;
    ctx.params = &v.params;
    ctx.state = &state;
    ResultKeeper keeper;
    ctx.observer = &keeper;
    const std::string target = out.file("file.bin");
    const FileOutcome outcome = writeFatFile(ctx, {target, "file.bin", size, first, false});
    EXPECT_EQ(state.filesWritten, 1u);
    EXPECT_EQ(keeper.last.outcome, outcome);
    return {outcome, test::readFileBytes(target), std::filesystem::exists(target), keeper.last.reason,
            keeper.last.unreadable};
}

}  // namespace

TEST(FatWriter, ReadsTheChainThenTheSecondFatThenConsecutiveClusters)
{
    struct Case {
        const char* name;
        const char* type;
        std::uint32_t spc;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> fat1, fat2;  // (cluster, entry)
        std::uint32_t first;
        std::uint64_t size;
        std::vector<std::uint32_t> clusters;
        ShortReason shortBecause = ShortReason::None;  // None: written whole
    };
    const std::vector<Case> cases{
        {"fragmented live file", "FAT16", 4, {{3, 4}, {4, 9}, {9, 0xFFFF}}, {{3, 4}, {4, 9}, {9, 0xFFFF}}, 3, 6000, {3, 4, 9}},
        {"first FAT damaged, second intact", "FAT32", 1, {{5, 7}, {7, 0x0FFFFFFF}}, {{5, 6}, {6, 12}, {12, 0x0FFFFFFF}}, 5,
         1500, {5, 6, 12}},
        {"deleted file: entries cleared", "FAT16", 4, {}, {}, 20, 10000, {20, 21, 22, 23, 24}},
        {"deleted file passes over clusters live files hold", "FAT16", 4, {{21, 0xFFFF}, {23, 24}, {24, 0xFFFF}}, {},
         20, 10000, {20, 22, 25, 26, 27}},
        {"FAT16 chain ending at 0xFFF8", "FAT16", 4, {{30, 33}, {33, 0xFFF8}}, {{30, 33}, {33, 0xFFF8}}, 30, 4096, {30, 33}},
        {"FAT32 end mark 0x0FFFFFF8, reserved bits set", "FAT32", 1, {{30, 0xF0000021}, {33, 0x0FFFFFF8}},
         {{30, 0xF0000021}, {33, 0x0FFFFFF8}}, 30, 1024, {30, 33}},
        {"looping chain falls back", "FAT16", 4, {{40, 41}, {41, 40}}, {{40, 41}, {41, 40}}, 40, 3 * 2048, {40, 41, 42}},
        {"chain longer than the size falls back", "FAT16", 2, {{44, 50}, {50, 51}, {51, 0xFFFF}}, {}, 44, 2048, {44, 45}},
        {"exact multiple of the chunk is not padded", "FAT16", 4, {{3, 4}, {4, 9}, {9, 0xFFFF}}, {}, 3, 2 * 2048 + 512,
         {3, 4, 9}},
        {"size 0 with a data cluster: 4096 bytes", "FAT16", 4, {}, {}, 50, 0, {50, 51}},
        {"size 0 without a cluster: empty", "FAT16", 4, {}, {}, 0, 0, {}},
        {"clusters past the medium end the file, which is incomplete", "FAT16", 4, {}, {}, 63, 5 * 2048, {63, 64, 65},
         ShortReason::PastMediumEnd},
        {"cluster 0 or 1 holds no data: incomplete", "FAT32", 1, {}, {}, 1, 700, {}, ShortReason::NoDataCluster},
        {"a first cluster past the medium: incomplete and empty", "FAT16", 4, {}, {}, 70, 100, {},
         ShortReason::PastMediumEnd},
        {"a size beyond the volume over a looping chain ends at the volume's end", "FAT16", 4, {{2, 3}, {3, 2}},
         {{2, 3}, {3, 2}}, 2, 1ULL << 40, [] {
             std::vector<std::uint32_t> all;
             for (std::uint32_t c = 2; c < 66; ++c) all.push_back(c);
             return all;
         }(), ShortReason::PastMediumEnd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TinyVolume v(c.type, c.spc);
        for (auto [cluster, next] : c.fat1) v.link(cluster, next, 1);
        for (auto [cluster, next] : c.fat2) v.link(cluster, next, 2);
        const std::uint64_t size = c.size ? c.size : 4096;
        const Written w = write(v, v.source, c.first, c.size);
        EXPECT_EQ(w.outcome, c.shortBecause == ShortReason::None ? FileOutcome::Written : FileOutcome::Incomplete);
        EXPECT_EQ(w.reason, c.shortBecause);
        EXPECT_TRUE(w.exists);
        EXPECT_EQ(w.bytes, v.expected(c.clusters, static_cast<std::size_t>(size)));
    }
}

TEST(FatWriter, UnreadableChunkBecomesZerosInItsPlace)
{
    for (std::uint32_t spc : {4u, 8u}) {
        SCOPED_TRACE(spc);
        TinyVolume v("FAT16", spc);
        v.link(3, 4);
        v.link(4, 0xFFFF);
        test::FaultySectorSource faulty(v.source);
        const std::uint64_t bad = 8 + 4 * spc + 1;  // second sector of cluster 4
        faulty.failSector(bad);
        const std::uint64_t size = 2ULL * spc * 512 - 10;
        const Written w = write(v, faulty, 3, size);
        auto expected = v.expected({3, 4}, static_cast<std::size_t>(size));
        // The chunk that holds the bad sector: 512 bytes, or 4096 with clusters of 8 sectors or more.
        const std::size_t chunk = spc >= 8 ? 4096 : 512;
        const std::size_t badOffset = (bad - (8 + 3 * spc)) * 512 / chunk * chunk;
        std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(badOffset), std::min(chunk, expected.size() - badOffset), 0);
        EXPECT_EQ(w.bytes.size(), size);
        EXPECT_EQ(w.bytes, expected);
        // The file is saved whole, and says which stretch stands for what could not be read.
        EXPECT_EQ(w.outcome, FileOutcome::Written);
        ASSERT_EQ(w.unreadable.size(), 1u);
        EXPECT_EQ(w.unreadable[0].offset, badOffset);
        EXPECT_EQ(w.unreadable[0].length, std::min<std::uint64_t>(chunk, size - badOffset));
    }
}

TEST(FatWriter, ChainWalkIsBoundedAndStopsOnRequest)
{
    TinyVolume v("FAT16", 1);
    for (std::uint32_t c = 2; c < 65; ++c) v.link(c, c + 1);
    v.link(65, 2);  // one big loop
    const ClusterChain chain = buildClusterChain(v.source, "FAT16", 2, 1, 1, 10);
    EXPECT_EQ(chain.clusterCount, 11u);  // stops once it holds more than wanted
    ASSERT_EQ(chain.runs.size(), 1u);
    EXPECT_EQ(chain.runs[0].first, 2u);
    EXPECT_EQ(buildClusterChain(v.source, "NTFS", 2, 1, 1, 10).clusterCount, 0u);
    EXPECT_EQ(buildClusterChain(v.source, "FAT16", 2, 0, 1, 10).clusterCount, 1u);  // FAT copy unknown
    SaveRunState state;
    state.cancelRequested = true;
    EXPECT_EQ(buildClusterChain(v.source, "FAT16", 2, 1, 1, 10, &state).clusterCount, 1u);
}
