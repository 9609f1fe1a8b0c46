// The block sweep every scan reads through: the medium ending inside a block, bad sectors inside
// a block, blocks lost whole and what a handler decides about them, stop, early end, several ranges.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "storage/memory_source.h"
#include "storage/sector_sweep.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::storage;

namespace {

// Every byte of sector s holds s + 1, so a sector's bytes tell where they came from (0: zeros).
MemorySectorSource numberedMedium(std::size_t sectors)
{
    std::vector<std::uint8_t> bytes(sectors * kSectorSize);
    for (std::size_t s = 0; s < sectors; ++s)
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(s * kSectorSize), kSectorSize,
                    static_cast<std::uint8_t>(s + 1));
    return MemorySectorSource(std::move(bytes));
}

// What one block held: its place and the tag of each of its sectors (0 for zeros).
struct Seen {
    std::uint64_t firstSector;
    std::uint32_t sectorCount;
    std::uint32_t mediumSectors;
    std::size_t rangeIndex;
    std::uint64_t offsetInRange;
    std::vector<std::uint8_t> tags;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadable;
    bool lost;

    bool operator==(const Seen&) const = default;
};

std::vector<std::uint8_t> tagsOf(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> tags;
    for (std::size_t at = 0; at < bytes.size(); at += kSectorSize) {
        const std::uint8_t tag = bytes[at];
        // A sector is one tag throughout, or the sweep mixed two reads in it.
        EXPECT_EQ(std::count(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + kSectorSize), tag),
                  static_cast<std::ptrdiff_t>(kSectorSize));
        tags.push_back(tag);
    }
    return tags;
}

class ProgressLog : public test::RecordingObserver {
public:
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override
    {
        positions.push_back(position);
        bounds = {low, high};
    }
    std::vector<std::uint64_t> positions;
    std::pair<std::uint64_t, std::uint64_t> bounds;
};

struct Sweep {
    SweepContext ctx;
    ProgressLog observer;
    ProgressReporter progress{&observer};
    std::vector<Seen> seen;
    SweepReport report;

    explicit Sweep(const SectorSource& source, std::vector<SectorRange> ranges, std::uint32_t blockSectors)
    {
        ctx.source = &source;
        ctx.ranges = std::move(ranges);
        ctx.blockSectors = blockSectors;
        ctx.progress = &progress;
    }

    void run(const std::function<bool(const SweepBlock&)>& more = {})
    {
        report = sweepSectors(ctx, [&](const SweepBlock& b) {
            EXPECT_EQ(b.bytes.size(), static_cast<std::size_t>(ctx.blockSectors) * kSectorSize);
            std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
            for (const auto& r : b.unreadable) runs.emplace_back(r.firstSector, r.sectorCount);
            seen.push_back({b.firstSector, b.sectorCount, b.mediumSectors, b.rangeIndex, b.offsetInRange,
                            tagsOf(b.bytes), runs, b.lost});
            return more ? more(b) : true;
        });
    }
};

}  // namespace

TEST(SectorSweep, TheMediumEndingInsideABlockLeavesZerosNotTheBlockBefore)
{
    const MemorySectorSource medium = numberedMedium(10);
    struct Case {
        const char* name;
        bool hideSize;  // a device that cannot tell its size: the read itself comes up short
        bool wholeBlocks;
        std::uint64_t rangeSectors;
        std::vector<Seen> blocks;
    } cases[] = {
        {"whole blocks, known size: the rest of the range past the end is skipped", false, true, 100,
         {{0, 4, 4, 0, 0, {1, 2, 3, 4}, {}, false},
          {4, 4, 4, 0, 4, {5, 6, 7, 8}, {}, false},
          {8, 4, 2, 0, 8, {9, 10, 0, 0}, {}, false}}},
        {"whole blocks, unknown size: a short read", true, true, 12,
         {{0, 4, 4, 0, 0, {1, 2, 3, 4}, {}, false},
          {4, 4, 4, 0, 4, {5, 6, 7, 8}, {}, false},
          {8, 4, 4, 0, 8, {9, 10, 0, 0}, {}, false}}},
        {"the last block stops at the range's end", false, false, 7,
         {{0, 4, 4, 0, 0, {1, 2, 3, 4}, {}, false}, {4, 3, 3, 0, 4, {5, 6, 7, 0}, {}, false}}},
        {"whole blocks read past the range's end", false, true, 7,
         {{0, 4, 4, 0, 0, {1, 2, 3, 4}, {}, false}, {4, 3, 4, 0, 4, {5, 6, 7, 8}, {}, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FaultySectorSource source(medium);
        if (c.hideSize) source.hideSize();
        Sweep s(source, {{0, c.rangeSectors}}, 4);
        s.ctx.wholeBlocks = c.wholeBlocks;
        s.run();
        EXPECT_EQ(s.report.end, SweepEnd::Finished);
        EXPECT_EQ(s.seen, c.blocks);
        EXPECT_EQ(s.report.unreadableSectors, 0u);
        EXPECT_TRUE(s.observer.problems.empty());
    }
}

TEST(SectorSweep, BadSectorsCostOnlyThemselvesAndEachRunIsOneProblem)
{
    const MemorySectorSource medium = numberedMedium(16);
    test::FaultySectorSource source(medium);
    source.failSectors(3, 3);
    source.failSector(7);
    source.failSector(9);
    Sweep s(source, {{0, 16}}, 8);
    s.run();
    EXPECT_EQ(s.report.end, SweepEnd::Finished);
    const std::vector<Seen> expected{
        {0, 8, 8, 0, 0, {1, 2, 3, 0, 0, 0, 7, 0}, {{3, 3}, {7, 1}}, false},
        {8, 8, 8, 0, 8, {9, 0, 11, 12, 13, 14, 15, 16}, {{9, 1}}, false},
    };
    EXPECT_EQ(s.seen, expected);
    EXPECT_EQ(s.report.unreadableSectors, 5u);
    EXPECT_EQ(s.report.lostBlocks, 0u);
    ASSERT_EQ(s.observer.problems.size(), 3u);
    EXPECT_EQ(s.observer.problems[0].sector, 3u);
    EXPECT_EQ(s.observer.problems[0].kind, ErrorKind::ReadFailed);
    EXPECT_EQ(s.observer.problems[1].sector, 7u);
    EXPECT_EQ(s.observer.problems[2].sector, 9u);
}

TEST(SectorSweep, ABlockLostWholeIsDecidedByTheHandler)
{
    const MemorySectorSource medium = numberedMedium(12);
    const std::vector<std::uint8_t> zeros(4, 0);
    const std::vector<std::uint8_t> data{5, 6, 7, 8};
    struct Case {
        const char* name;
        bool handler;
        LostBlockAction action;
        bool healOnRetry;  // the handler brings the device back
        SweepEnd end;
        std::size_t blocks;
        std::vector<std::uint8_t> middle;
        std::uint64_t lostBlocks;
        std::size_t problems;
    } cases[] = {
        {"no handler: zeros, reported", false, LostBlockAction::Stop, false, SweepEnd::Finished, 3, zeros, 1, 1},
        {"carry on with zeros", true, LostBlockAction::CarryOnWithZeros, false, SweepEnd::Finished, 3, zeros, 1, 1},
        {"stop: the block is not handed over", true, LostBlockAction::Stop, false, SweepEnd::Stopped, 1, {}, 0, 0},
        {"retry after the device came back", true, LostBlockAction::Retry, true, SweepEnd::Finished, 3, data, 0, 0},
        {"retry that fails again: zeros, asked once", true, LostBlockAction::Retry, false, SweepEnd::Finished, 3, zeros,
         1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FaultySectorSource source(medium);
        source.failSectors(4, 4);
        Sweep s(source, {{0, 12}}, 4);
        std::vector<std::uint64_t> asked;
        if (c.handler) {
            s.ctx.onLostBlock = [&](const SweepBlock& b) {
                asked.push_back(b.firstSector);
                EXPECT_TRUE(b.lost);
                if (c.healOnRetry) source.heal();
                return c.action;
            };
        }
        s.run();
        EXPECT_EQ(s.report.end, c.end);
        if (c.handler) {
            EXPECT_EQ(asked, std::vector<std::uint64_t>{4});
        }
        ASSERT_EQ(s.seen.size(), c.blocks);
        if (c.blocks > 1) {
            EXPECT_EQ(s.seen[1].tags, c.middle);
            EXPECT_EQ(s.seen[1].lost, c.lostBlocks == 1);
            EXPECT_EQ(s.seen[2].tags, (std::vector<std::uint8_t>{9, 10, 11, 12}));
        }
        EXPECT_EQ(s.report.lostBlocks, c.lostBlocks);
        EXPECT_EQ(s.report.unreadableSectors, 4 * c.lostBlocks);
        EXPECT_EQ(s.observer.problems.size(), c.problems);
    }
}

TEST(SectorSweep, StopFlagAndCallbackEndTheSweepBetweenBlocks)
{
    const MemorySectorSource medium = numberedMedium(16);
    std::atomic<bool> stop{false};
    {
        Sweep s(medium, {{0, 16}}, 4);
        s.ctx.stopRequested = &stop;
        s.run([&](const SweepBlock&) {
            stop = true;  // seen before the next block
            return true;
        });
        EXPECT_EQ(s.report.end, SweepEnd::Stopped);
        EXPECT_EQ(s.seen.size(), 1u);
    }
    {
        Sweep s(medium, {{0, 16}}, 4);
        s.ctx.stopRequested = &stop;  // already set: nothing is read
        s.run();
        EXPECT_EQ(s.report.end, SweepEnd::Stopped);
        EXPECT_TRUE(s.seen.empty());
    }
    {
        Sweep s(medium, {{0, 16}}, 4);
        s.run([&](const SweepBlock& b) { return b.firstSector < 8; });
        EXPECT_EQ(s.report.end, SweepEnd::EndedByCallback);
        EXPECT_EQ(s.seen.size(), 3u);
    }
}

TEST(SectorSweep, SeveralRangesAreSweptInOrderWithARunningCount)
{
    const MemorySectorSource medium = numberedMedium(20);
    Sweep s(medium, {{2, 3}, {10, 5}, {18, 0}}, 2);
    s.run();
    EXPECT_EQ(s.report.end, SweepEnd::Finished);
    const std::vector<Seen> expected{
        {2, 2, 2, 0, 0, {3, 4}, {}, false},
        {4, 1, 1, 0, 2, {5, 0}, {}, false},
        {10, 2, 2, 1, 0, {11, 12}, {}, false},
        {12, 2, 2, 1, 2, {13, 14}, {}, false},
        {14, 1, 1, 1, 4, {15, 0}, {}, false},
    };
    EXPECT_EQ(s.seen, expected);
    // begin at 0, one update per block (the sectors before it), finish at the total.
    EXPECT_EQ(s.observer.positions, (std::vector<std::uint64_t>{0, 0, 2, 3, 5, 7, 8}));
    EXPECT_EQ(s.observer.bounds, (std::pair<std::uint64_t, std::uint64_t>{0, 8}));

    // One range: positions are absolute sectors; the caller may choose the bounds.
    Sweep one(medium, {{4, 8}}, 4);
    one.run();
    EXPECT_EQ(one.observer.positions, (std::vector<std::uint64_t>{4, 4, 8, 11}));
    EXPECT_EQ(one.observer.bounds, (std::pair<std::uint64_t, std::uint64_t>{4, 11}));
    Sweep bounded(medium, {{4, 8}}, 4);
    bounded.ctx.progressBounds = ProgressBounds{0, 100};
    bounded.run();
    EXPECT_EQ(bounded.observer.bounds, (std::pair<std::uint64_t, std::uint64_t>{0, 100}));
}

namespace {

// An image file of numbered sectors (as numberedMedium) in dir; returns its path.
std::string writeNumberedImage(const test::TempDir& dir, std::size_t sectors, std::size_t tailBytes = 0)
{
    const std::string path = dir.file("numbered.img");
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::vector<std::uint8_t> sector(kSectorSize);
    for (std::size_t s = 0; s < sectors; ++s) {
        std::fill(sector.begin(), sector.end(), static_cast<std::uint8_t>(s + 1));
        std::fwrite(sector.data(), 1, sector.size(), f);
    }
    std::fill(sector.begin(), sector.end(), static_cast<std::uint8_t>(sectors + 1));
    std::fwrite(sector.data(), 1, tailBytes, f);
    std::fclose(f);
    return path;
}

}  // namespace

// Image files are read through a mapping or copied, or each way on alternate blocks until the
// faster is settled: whichever way, what the handler sees must be what reading them gives, at a
// partial last block, a range ending inside a block, a file whose last sector is partial and
// after the way was settled.
TEST(SectorSweep, AnImageFileGivesWhatReadingItGives)
{
    struct Case {
        const char* name;
        std::size_t sectors;
        std::size_t tailBytes;
        SectorRange range;
        std::uint32_t blockSectors;
        bool wholeBlocks;
    } cases[] = {
        {"whole blocks", 64, 0, {0, 64}, 16, false},
        {"a range starting inside a page, ending inside a block", 64, 0, {3, 50}, 16, false},
        {"whole blocks past the range's end", 64, 0, {3, 50}, 16, true},
        {"the medium ending inside a block", 60, 0, {0, 64}, 16, true},
        {"a partial last sector", 48, 100, {0, 64}, 16, true},
        {"more blocks than the trial takes", 24576, 0, {0, 24576}, 256, false},
    };
    std::vector<std::pair<Case, ImageReading>> runs;
    for (const Case& c : cases)
        for (const ImageReading way : {ImageReading::Measured, ImageReading::Mapped, ImageReading::Read})
            runs.emplace_back(c, way);
    for (const auto& [c, way] : runs) {
        SCOPED_TRACE(std::string(c.name) + ", way " + std::to_string(static_cast<int>(way)));
        test::TempDir dir;
        const std::string path = writeNumberedImage(dir, c.sectors, c.tailBytes);
        const auto file = FileSectorSource::open(path);
        ASSERT_TRUE(file.ok());
        ASSERT_TRUE((*file)->imageFile().has_value());
        const std::string digest = test::fileDigest(path);
        const std::vector<std::uint8_t> bytes = test::readFileBytes(path);
        const MemorySectorSource memory{std::vector<std::uint8_t>(bytes)};

        // Every block's place and bytes (a partial sector is not one tag throughout).
        auto sweep = [&](const SectorSource& source) {
            SweepContext ctx;
            ctx.source = &source;
            ctx.ranges = {c.range};
            ctx.blockSectors = c.blockSectors;
            ctx.wholeBlocks = c.wholeBlocks;
            ctx.imageReading = way;
            std::vector<std::tuple<std::uint64_t, std::uint32_t, std::vector<std::uint8_t>>> blocks;
            const SweepReport report = sweepSectors(ctx, [&](const SweepBlock& b) {
                blocks.emplace_back(b.firstSector, b.mediumSectors, std::vector<std::uint8_t>(b.bytes.begin(), b.bytes.end()));
                return b.unreadable.empty();
            });
            EXPECT_EQ(report.end, SweepEnd::Finished);
            EXPECT_EQ(report.unreadableSectors, 0u);
            return blocks;
        };
        EXPECT_EQ(sweep(**file), sweep(memory));
        EXPECT_EQ(test::fileDigest(path), digest);
    }
}

// A file cut short while the sweep has it mapped: the pages that are gone read as zeros and are
// reported as unreadable sectors, the blocks after them are lost, and the process lives on.
TEST(SectorSweep, AnImageFileCutShortUnderTheMappingIsReportedNotACrash)
{
    test::TempDir dir;
    constexpr std::uint32_t kBlock = 256;  // 128 KiB
    const std::string path = writeNumberedImage(dir, 4 * kBlock);
    const auto file = FileSectorSource::open(path);
    ASSERT_TRUE(file.ok());

    Sweep s(**file, {{0, 4 * kBlock}}, kBlock);
    s.ctx.imageReading = ImageReading::Mapped;
    std::vector<std::uint8_t> firstBlockTags;
    s.run([&](const SweepBlock& b) {
        if (b.firstSector == 0) {
            // Cut the file to the first half of this block while the handler holds its bytes.
            EXPECT_EQ(::truncate(path.c_str(), kBlock / 2 * kSectorSize), 0);
            firstBlockTags = tagsOf(b.bytes);
        }
        return true;
    });
    EXPECT_EQ(s.report.end, SweepEnd::Finished);
    ASSERT_EQ(firstBlockTags.size(), kBlock);
    for (std::uint32_t i = 0; i < kBlock; ++i)
        ASSERT_EQ(firstBlockTags[i], i < kBlock / 2 ? static_cast<std::uint8_t>(i + 1) : 0) << "sector " << i;
    // The cut-off half of the first block and all later blocks.
    EXPECT_EQ(s.report.unreadableSectors, 4 * kBlock - kBlock / 2);
    EXPECT_EQ(s.report.lostBlocks, 3u);
    ASSERT_FALSE(s.observer.problems.empty());
    EXPECT_EQ(s.observer.problems.front().sector, kBlock / 2);
    for (std::size_t i = 1; i < s.seen.size(); ++i) EXPECT_TRUE(s.seen[i].lost);
}
