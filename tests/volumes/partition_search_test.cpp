// Searching a disk for partitions its tables no longer list: what each mode reaches, what counts
// as a boot sector, what is found once only, the item limit, unreadable sectors, a stop, and the
// search inside a volume with its table of recognised volumes.
#include <gtest/gtest.h>

#include <atomic>

#include "le_bytes.h"
#include "sparse_disk.h"
#include "volumes/partition_search.h"

using namespace kfr;
using namespace kfr::volumes;
using test::Sector;
using test::SparseDisk;

namespace {

// A boot sector the search takes for a volume of the given kind and size.
Sector bootSector(const std::string& kind, std::uint64_t sectors)
{
    Sector s{};
    auto text = [&](std::size_t off, const char* t) {
        for (std::size_t i = 0; t[i]; ++i) s[off + i] = static_cast<std::uint8_t>(t[i]);
    };
    test::putLe16(s.data() + 11, 512);
    s[13] = 8;
    if (kind == "FAT32") {
        text(82, "FAT32   ");
        test::putLe32(s.data() + 32, static_cast<std::uint32_t>(sectors));
    } else if (kind == "FAT16") {
        text(54, "FAT16   ");
        if (sectors < 65536) test::putLe16(s.data() + 19, static_cast<std::uint16_t>(sectors));
        else test::putLe32(s.data() + 32, static_cast<std::uint32_t>(sectors));
    } else {
        text(3, "NTFS    ");
        test::putLe64(s.data() + 40, sectors);
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

void plant(SparseDisk& disk, const std::string& kind, std::uint64_t first, std::uint64_t sectors)
{
    disk.at(first) = bootSector(kind, sectors);
    // The copies a formatter leaves: FAT32 six sectors in, NTFS after its last counted sector.
    if (kind == "FAT32") disk.at(first + 6) = bootSector(kind, sectors);
    if (kind == "NTFS") disk.at(first + sectors) = bootSector(kind, sectors);
}

constexpr std::uint64_t kCylinder = 255 * 63;

struct Recorder : PartitionSearchObserver {
    std::vector<SearchedPartition> heard;
    std::atomic<bool>* stopAfterFirst = nullptr;
    void onPartitionFound(const SearchedPartition& p) override
    {
        heard.push_back(p);
        if (stopAfterFirst) *stopAfterFirst = true;
    }
};

PartitionSearchContext contextFor(const SparseDisk& disk, SearchMode mode)
{
    PartitionSearchContext ctx;
    ctx.source = &disk;
    ctx.mode = mode;
    ctx.totalSectors = disk.sectorCount();
    ctx.geometry = {disk.sectorCount() / kCylinder, 255, 63};
    return ctx;
}

}  // namespace

TEST(PartitionSearch, EachModeFindsWhatItLooksAt)
{
    struct Case {
        const char* what;
        std::string kind;
        std::uint64_t first;
        std::uint64_t sectors;
        bool standardFinds;
        std::uint64_t last;  // inclusive
    };
    const Case cases[] = {
        {"a first partition at sector 63 (cylinder 0, second track)", "FAT32", 63, 80000, true, 80062},
        {"a partition on a cylinder's first sector", "FAT16", 5 * kCylinder, 40000, true, 5 * kCylinder + 39999},
        {"a small FAT16 volume sized by its 16-bit field", "FAT16", 8 * kCylinder + 63, 20000, true, 8 * kCylinder + 63 + 19999},
        {"NTFS at a 2048-aligned start: only every sector finds it", "NTFS", 2048, 16383, false, 2048 + 16383},
        {"FAT32 at a 2048-aligned start", "FAT32", 10 * 2048 * 8, 30000, false, 10 * 2048 * 8 + 29999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SparseDisk disk(20 * kCylinder);
        plant(disk, c.kind, c.first, c.sectors);
        for (SearchMode mode : {SearchMode::Standard, SearchMode::Advanced}) {
            const auto result = physicalPartitionSearch(contextFor(disk, mode));
            const bool expected = mode == SearchMode::Advanced || c.standardFinds;
            ASSERT_EQ(result.found.size(), expected ? 1u : 0u) << (mode == SearchMode::Advanced ? "Advanced" : "Standard");
            if (!expected) continue;
            EXPECT_EQ(result.found[0].fileSystem, c.kind);
            EXPECT_EQ(result.found[0].firstSector, c.first);
            EXPECT_EQ(result.found[0].lastSector, c.last);
            EXPECT_FALSE(result.stopped);
        }
    }
}

TEST(PartitionSearch, WhatIsNoVolumeOrAlreadyKnownIsNotAdded)
{
    SparseDisk disk(40 * kCylinder);
    plant(disk, "FAT32", 2048, 70000);                // its copy at 2054 is no second volume
    plant(disk, "NTFS", 100000, 16383);               // listed: the table's entry ends with the copy
    plant(disk, "FAT16", 200000, 30000);              // listed with the same bounds
    disk.at(300000) = bootSector("FAT16", 1000);
    disk.at(300000)[12] = 0;                          // 0 bytes per sector: random bytes, no volume
    disk.at(300010) = bootSector("FAT32", 1000);
    disk.at(300010)[13] = 3;                          // 3 sectors per cluster
    disk.at(400000)[510] = 0x55;                      // the marker alone
    disk.at(400000)[511] = 0xAA;

    auto ctx = contextFor(disk, SearchMode::Advanced);
    ctx.listed = {{"NTFS", 100000, 100000 + 16383}, {"FAT16", 200000, 229999}};
    ctx.itemCount = 2;
    const auto result = physicalPartitionSearch(ctx);
    ASSERT_EQ(result.found.size(), 1u);
    EXPECT_EQ(result.found[0].firstSector, 2048u);
    EXPECT_EQ(result.found[0].fileSystem, "FAT32");

    // Another file system, or other bounds, at the same first sector is another partition.
    ctx.listed = {{"FAT32", 100000, 100000 + 16383}, {"FAT16", 200000, 200000 + 29998}};
    const auto other = physicalPartitionSearch(ctx);
    EXPECT_EQ(other.found.size(), 3u);
}

TEST(PartitionSearch, TwentySixItemsAtMostAndTheSweepStillEnds)
{
    SparseDisk disk(60 * kCylinder);
    for (std::uint64_t c = 0; c < 30; ++c) plant(disk, "FAT16", c * 2 * kCylinder + 63, 20000);
    for (std::uint32_t listed : {0u, 20u, 26u}) {
        SCOPED_TRACE(listed);
        auto ctx = contextFor(disk, SearchMode::Standard);
        ctx.itemCount = listed;
        const auto result = physicalPartitionSearch(ctx);
        EXPECT_EQ(result.found.size(), kMaxPartitionItems - listed);
        EXPECT_FALSE(result.stopped);
        if (!result.found.empty()) {
            EXPECT_EQ(result.found.back().firstSector, (kMaxPartitionItems - listed - 1) * 2 * kCylinder + 63);
        }
    }
}

TEST(PartitionSearch, UnreadableSectorsArePassedOverAndAStopKeepsWhatWasFound)
{
    SparseDisk disk(20 * kCylinder);
    plant(disk, "FAT32", 63, 40000);
    plant(disk, "FAT16", 10 * kCylinder, 20000);
    disk.at(15 * kCylinder + 63) = bootSector("NTFS", 8000);
    // Standard mode falls back to a cylinder's first sector when its second track cannot be read;
    // Advanced mode loses only the block that fails.
    disk.failSector(15 * kCylinder + 63);
    disk.failSector(15 * kCylinder);
    for (SearchMode mode : {SearchMode::Standard, SearchMode::Advanced}) {
        const auto result = physicalPartitionSearch(contextFor(disk, mode));
        ASSERT_EQ(result.found.size(), 2u);
        EXPECT_EQ(result.found[1].firstSector, 10 * kCylinder);
        EXPECT_GT(result.unreadableSectors, 0u);
        EXPECT_FALSE(result.sourceFailed);
    }

    std::atomic<bool> stop{false};
    Recorder recorder;
    recorder.stopAfterFirst = &stop;
    for (SearchMode mode : {SearchMode::Standard, SearchMode::Advanced}) {
        stop = false;
        recorder.heard.clear();
        auto ctx = contextFor(disk, mode);
        ctx.stopRequested = &stop;
        ctx.observer = &recorder;
        const auto result = physicalPartitionSearch(ctx);
        EXPECT_TRUE(result.stopped);
        ASSERT_EQ(result.found.size(), 1u);
        EXPECT_EQ(recorder.heard.size(), 1u);
        EXPECT_EQ(result.found[0].firstSector, 63u);
    }
}

TEST(PartitionSearch, GeometryAndTheWholeDiskFallback)
{
    const SearchGeometry usb = translateSearchGeometry({1000, 64, 32});
    EXPECT_EQ(usb.heads, 255u);
    EXPECT_EQ(usb.sectorsPerTrack, 63u);
    EXPECT_EQ(usb.cylinders, 1000u * 64 * 32 / 16065);
    const SearchGeometry kept = translateSearchGeometry({500, 16, 63});
    EXPECT_EQ(kept.heads, 16u);
    EXPECT_EQ(kept.cylinders, 500u);
    // Terabyte disks: cylinders and sectors past 32 bits.
    EXPECT_EQ(translateSearchGeometry({1ull << 32, 16, 32}).cylinders, (1ull << 32) * 16 * 32 / 16065);

    // A boot sector on a cylinder past the 32-bit sector range of a 3 TiB disk.
    SparseDisk disk(3ull << 33);
    const std::uint64_t first = ((1ull << 32) / kCylinder + 1000) * kCylinder + 63;
    disk.at(first) = bootSector("NTFS", 1ull << 33);
    auto ctx = contextFor(disk, SearchMode::Standard);
    ctx.geometry.cylinders = first / kCylinder + 1;  // no need to read the cylinders beyond it
    const auto result = physicalPartitionSearch(ctx);
    ASSERT_EQ(result.found.size(), 1u);
    EXPECT_EQ(result.found[0].firstSector, first);
    EXPECT_EQ(result.found[0].lastSector, first + (1ull << 33));

    const SearchedPartition whole = wholeDiskPartition(204800);
    EXPECT_EQ(whole.firstSector, 0u);
    EXPECT_EQ(whole.lastSector, 204799u);
    EXPECT_FALSE(whole.fileSystem.empty());
}

TEST(PartitionSearch, InsideAVolumeRowsOutliveARefreshAndNumberOnPerDrive)
{
    SparseDisk volume(200000);
    plant(volume, "NTFS", 4096, 16383);
    plant(volume, "FAT16", 40000, 20000);
    plant(volume, "FAT32", 80000, 100000);
    volume.at(190000) = bootSector("NTFS", 500000);  // larger than the volume: cut to it

    RecognisedPartitionTable table;
    LogicalSearchContext ctx;
    ctx.source = &volume;
    ctx.devicePath = "/dev/sdc1";
    ctx.volumeSectors = volume.sectorCount();
    const auto first = logicalPartitionSearch(ctx, table);
    ASSERT_EQ(first.added.size(), 4u);
    EXPECT_EQ(table[0].key, "Log|/dev/sdc1|");
    EXPECT_EQ(table[0].name, "Recognised1");
    EXPECT_EQ(table[0].fileSystem, "NTFS");
    EXPECT_EQ(table[0].startSector, 4096u);
    EXPECT_EQ(table[0].endSector, 4096u + 16383);
    EXPECT_EQ(table[0].sizeText, "7 MB");
    EXPECT_EQ(table[1].fileSystem, "FAT16");
    EXPECT_EQ(table[1].lastSector, 40000u + 19999);
    EXPECT_EQ(table[2].fileSystem, "FAT32");  // recorded too: a nested FAT32 volume is as lost as the others
    EXPECT_EQ(table[2].startSector, 80000u);
    EXPECT_EQ(table[3].endSector, 190000u + 200000);
    EXPECT_EQ(table[3].name, "Recognised4");

    // After a refresh the rows stay: a second search adds nothing for them, and a new find is
    // numbered after them.
    const auto again = logicalPartitionSearch(ctx, table);
    EXPECT_TRUE(again.added.empty());
    plant(volume, "FAT16", 60000, 10000);
    const auto third = logicalPartitionSearch(ctx, table);
    ASSERT_EQ(third.added.size(), 1u);
    EXPECT_EQ(third.added[0].name, "Recognised5");

    // Another drive numbers its own rows from 1.
    ctx.devicePath = "/dev/sdd1";
    const auto other = logicalPartitionSearch(ctx, table);
    ASSERT_EQ(other.added.size(), 5u);
    EXPECT_EQ(other.added[0].name, "Recognised1");
    EXPECT_EQ(table.size(), 10u);
}
