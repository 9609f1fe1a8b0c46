// Partition tables: MBR entries, the extended chain and GUID tables, classified by boot sector
// first and type byte second; the 24,576-sector rule; damaged chains; fixture disks checked
// against sfdisk; a loop device listed with its partitions.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "storage/disk_list.h"
#include "storage/sector_source.h"
#include "le_bytes.h"
#include "sparse_disk.h"
#include "test_support.h"
#include "volumes/partition_table.h"

using namespace kfr;
using namespace kfr::volumes;

namespace {

using Sector = test::Sector;
using test::SparseDisk;

// Runs a shell command and returns its output, or nullopt when it fails.
std::optional<std::string> run(const std::string& command)
{
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buf[512];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    if (::pclose(pipe) != 0) return std::nullopt;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}


void put32(Sector& s, std::size_t off, std::uint32_t v)
{
    test::putLe32(s.data() + off, v);
}

void put64(Sector& s, std::size_t off, std::uint64_t v)
{
    test::putLe64(s.data() + off, v);
}

void putText(Sector& s, std::size_t off, const char* text)
{
    for (std::size_t i = 0; text[i]; ++i) s[off + i] = static_cast<std::uint8_t>(text[i]);
}

// Writes entry index (0-3) of the boot record at sector and its 0x55AA marker.
void entry(SparseDisk& d, std::uint64_t sector, int index, std::uint8_t type, std::uint32_t first, std::uint32_t count)
{
    Sector& s = d.at(sector);
    const std::size_t off = 446 + static_cast<std::size_t>(index) * 16;
    s[off + 4] = type;
    put32(s, off + 8, first);
    put32(s, off + 12, count);
    s[510] = 0x55;
    s[511] = 0xAA;
}

enum class Boot { Fat32, Fat16, Ntfs };

void bootSector(SparseDisk& d, std::uint64_t sector, Boot kind)
{
    Sector& s = d.at(sector);
    switch (kind) {
    case Boot::Fat32: putText(s, 82, "FAT32   "); break;
    case Boot::Fat16: putText(s, 54, "FAT16   "); break;
    case Boot::Ntfs: putText(s, 3, "NTFS    "); break;
    }
    s[510] = 0x55;
    s[511] = 0xAA;
}

// GUID entry slot (0-127) of the table in sectors 2-33.
void gptEntry(SparseDisk& d, int slot, const std::array<std::uint8_t, 16>& type, std::uint64_t first, std::uint64_t last)
{
    Sector& s = d.at(2 + static_cast<std::uint64_t>(slot) / 4);
    const std::size_t off = static_cast<std::size_t>(slot % 4) * 128;
    std::copy(type.begin(), type.end(), s.begin() + static_cast<std::ptrdiff_t>(off));
    put64(s, off + 32, first);
    put64(s, off + 40, last);
}

void protectiveMbr(SparseDisk& d)
{
    entry(d, 0, 0, 0xEE, 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(d.sectorCount() - 1, UINT32_MAX)));
    putText(d.at(1), 0, "EFI PART");
}

// EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, the basic data type, and the Microsoft reserved type.
const std::array<std::uint8_t, 16> kBasicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
const std::array<std::uint8_t, 16> kMsReserved = {0x16, 0xE3, 0xC9, 0xE3, 0x5C, 0x0B, 0xB8, 0x4D,
                                                  0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE};

struct Expected {
    std::string fileSystem;
    std::uint64_t first;
    std::uint64_t last;
};

void expectPartitions(const std::vector<PartitionRecord>& got, const std::vector<Expected>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].number, i + 1);
        EXPECT_EQ(got[i].fileSystem, want[i].fileSystem);
        EXPECT_EQ(got[i].firstSector, want[i].first);
        EXPECT_EQ(got[i].lastSector, want[i].last);
        EXPECT_EQ(got[i].itemText, "Partition - " + std::to_string(i + 1) + " ( " + want[i].fileSystem + " )");
    }
}

}  // namespace

TEST(PartitionTable, MasterBootRecordAndExtendedChainCases)
{
    struct Case {
        const char* name;
        std::uint64_t diskSectors;
        std::function<void(SparseDisk&)> build;
        std::vector<Expected> expected;
    };
    const std::vector<Case> cases = {
        {"types 07, 0C and 0F with one 06 logical partition", 2000000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x07, 2048, 100000);
             entry(d, 0, 1, 0x0C, 102048, 200000);
             entry(d, 0, 2, 0x0F, 302048, 500000);
             entry(d, 302048, 0, 0x06, 63, 1000);
         },
         {{"NTFS", 2048, 102047}, {"FAT32", 102048, 302047}, {"FAT16", 302111, 303110}}},
        {"a Linux partition carrying a FAT32 boot sector is FAT32", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x83, 2048, 50000);
             bootSector(d, 2048, Boot::Fat32);
         },
         {{"FAT32", 2048, 52047}}},
        {"the boot sector wins over the type byte", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x07, 2048, 50000);
             bootSector(d, 2048, Boot::Fat16);
             entry(d, 0, 1, 0x0C, 60000, 50000);
             bootSector(d, 60000, Boot::Ntfs);
         },
         {{"FAT16", 2048, 52047}, {"NTFS", 60000, 109999}}},
        {"type 0x01 is skipped as a primary and FAT16 as a logical partition", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x01, 2048, 1000);
             entry(d, 0, 1, 0x05, 10000, 50000);
             entry(d, 10000, 0, 0x01, 63, 1000);
         },
         {{"FAT16", 10063, 11062}}},
        {"other types and empty entries are not listed", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x83, 2048, 1000);
             entry(d, 0, 2, 0x0E, 4096, 1000);
             entry(d, 0, 3, 0x82, 8192, 1000);
         },
         {{"FAT16", 4096, 5095}}},
        {"an entry in the last 24,576 sectors ends the listing", 1000000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x0C, 2048, 900000);
             entry(d, 0, 1, 0x07, 990000, 9000);
             entry(d, 0, 2, 0x06, 902048, 1000);  // valid, but listing stopped before it
         },
         {{"FAT32", 2048, 902047}}},
        {"exactly 24,576 sectors before the end is still listed", 1000000,
         [](SparseDisk& d) { entry(d, 0, 0, 0x0C, 1000000 - 24576, 24576); },
         {{"FAT32", 1000000 - 24576, 999999}}},
        {"an entry beyond the disk ends the listing, extended chain included", 100000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x05, 2048, 50000);
             entry(d, 2048, 0, 0x06, 63, 1000);
             entry(d, 0, 1, 0x0B, 4000000, 1000);
         },
         {}},
        {"logical partitions are not held to the disk-size rule", 100000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x0F, 2048, 97000);
             entry(d, 2048, 0, 0x07, 90000, 5000);
         },
         {{"NTFS", 92048, 97047}}},
        {"an unreadable first sector leaves the type byte to decide", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x83, 2048, 1000);
             bootSector(d, 2048, Boot::Fat32);
             d.failSector(2048);
             entry(d, 0, 1, 0x0B, 4096, 1000);
             d.failSector(4096);
         },
         {{"FAT32", 4096, 5095}}},
        {"without the 0x55AA marker nothing is listed", 200000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x0C, 2048, 1000);
             d.at(0)[511] = 0;
         },
         {}},
        {"an end beyond sector 2^32 is not cut to 32 bits", 6000000000ULL,
         [](SparseDisk& d) { entry(d, 0, 0, 0x07, 0xF0000000u, 0x20000000u); },
         {{"NTFS", 0xF0000000ULL, 0x10FFFFFFFULL}}},
        {"chain of three records, links counted from the extended base", 500000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x05, 100000, 300000);
             entry(d, 100000, 0, 0x0B, 2048, 10000);
             entry(d, 100000, 1, 0x05, 20000, 30000);
             entry(d, 120000, 0, 0x07, 2048, 10000);
             entry(d, 120000, 1, 0x0F, 50000, 30000);
             entry(d, 150000, 0, 0x83, 2048, 10000);
             bootSector(d, 152048, Boot::Fat16);
         },
         {{"FAT32", 102048, 112047}, {"NTFS", 122048, 132047}, {"FAT16", 152048, 162047}}},
        {"an extended chain that loops stops at the first record read twice", 500000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x05, 100000, 300000);
             entry(d, 100000, 0, 0x06, 2048, 1000);
             entry(d, 100000, 1, 0x05, 20000, 30000);
             entry(d, 120000, 0, 0x07, 2048, 1000);
             entry(d, 120000, 1, 0x05, 0, 30000);  // back to the first record
         },
         {{"FAT16", 102048, 103047}, {"NTFS", 122048, 123047}}},
        {"a record that links to itself is read once", 500000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x05, 100000, 300000);
             entry(d, 100000, 0, 0x06, 2048, 1000);
             entry(d, 100000, 1, 0x05, 0, 1000);
         },
         {{"FAT16", 102048, 103047}}},
        {"an unreadable extended record ends the chain", 500000,
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x06, 2048, 1000);
             entry(d, 0, 1, 0x05, 100000, 300000);
             d.failSector(100000);
         },
         {{"FAT16", 2048, 3047}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SparseDisk disk(c.diskSectors);
        c.build(disk);
        expectPartitions(listPartitions(disk, c.diskSectors), c.expected);
    }
}

TEST(PartitionTable, GuidPartitionTable)
{
    SparseDisk d(200000);
    protectiveMbr(d);
    gptEntry(d, 0, kBasicData, 2048, 22047);
    bootSector(d, 2048, Boot::Fat32);
    gptEntry(d, 1, kMsReserved, 22048, 30047);
    bootSector(d, 22048, Boot::Fat16);  // carries a boot sector, but reserved partitions are skipped
    // Slot 2 is unused (a deleted partition); the table goes on after it.
    gptEntry(d, 3, kBasicData, 40000, 59999);
    bootSector(d, 40000, Boot::Ntfs);
    gptEntry(d, 4, kBasicData, 60000, 69999);  // no boot sector: not listed
    std::array<std::uint8_t, 16> linux = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                          0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
    gptEntry(d, 125, linux, 70000, 79999);  // the type does not matter, the boot sector does
    bootSector(d, 70000, Boot::Fat16);
    const auto parts = listPartitions(d, 200000);
    expectPartitions(parts, {{"FAT32", 2048, 22047}, {"NTFS", 40000, 59999}, {"FAT16", 70000, 79999}});
    for (const auto& p : parts) EXPECT_EQ(p.table, PartitionTableKind::Gpt);
}

TEST(PartitionTable, BoundOnPartitionsPerDisk)
{
    // A chain of 300 records, each with one FAT16 logical partition: only the bound is listed,
    // and the walk stops soon after instead of following the chain to its end.
    SparseDisk d(10000000);
    entry(d, 0, 0, 0x05, 1000, 9000000);
    for (std::uint32_t i = 0; i < 300; ++i) {
        entry(d, 1000 + i * 100, 0, 0x06, 10, 50);
        entry(d, 1000 + i * 100, 1, 0x05, (i + 1) * 100, 100);
    }
    const auto parts = listPartitions(d, 10000000);
    ASSERT_EQ(parts.size(), kMaxPartitionsPerDisk);
    EXPECT_GE(kMaxPartitionsPerDisk, 128u);
    EXPECT_EQ(parts.back().number, kMaxPartitionsPerDisk);
    EXPECT_EQ(parts.back().firstSector, 1000 + (kMaxPartitionsPerDisk - 1) * 100 + 10);
    EXPECT_LT(d.highest, 1000 + (kMaxPartitionsPerDisk + 1) * 100);

    // 128 GUID entries, all FAT32: every one is listed.
    SparseDisk g(1000000);
    protectiveMbr(g);
    for (int slot = 0; slot < 128; ++slot) {
        const std::uint64_t first = 4096 + static_cast<std::uint64_t>(slot) * 1000;
        gptEntry(g, slot, kBasicData, first, first + 999);
        bootSector(g, first, Boot::Fat32);
    }
    EXPECT_EQ(listPartitions(g, 1000000).size(), 128u);
}

namespace {

// 0FC63DAF-8483-4772-8E79-3D69D8477DE4, Linux filesystem data.
const std::array<std::uint8_t, 16> kLinuxData = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                                 0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

// An ext4 superblock at the start of a partition: the magic and the extents feature.
void ext4At(SparseDisk& d, std::uint64_t first)
{
    Sector& sb = d.at(first + 2);
    sb[56] = 0x53;
    sb[57] = 0xEF;
    put32(sb, 96, 0x40);
}

struct ExpectedSlot {
    std::uint32_t slot;
    std::uint64_t first;
    std::uint64_t last;
    FileSystemKind content;
    std::uint32_t listedNumber;
};

}  // namespace

TEST(PartitionTable, SlotsAreNumberedAsTheKernelNumbersThem)
{
    struct Case {
        const char* name;
        std::function<void(SparseDisk&)> build;
        std::vector<ExpectedSlot> expected;
    };
    const std::vector<Case> cases = {
        {"a Linux first partition is slot 1 and the FAT volume slot 2, listed first",
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x83, 2048, 50000);
             ext4At(d, 2048);
             entry(d, 0, 1, 0x0C, 60000, 50000);
             bootSector(d, 60000, Boot::Fat32);
         },
         {{1, 2048, 52047, FileSystemKind::Ext4, 0}, {2, 60000, 109999, FileSystemKind::Fat32, 1}}},
        {"an unused primary slot leaves a gap; logical partitions count from 5",
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x06, 2048, 1000);
             bootSector(d, 2048, Boot::Fat16);
             entry(d, 0, 2, 0x05, 100000, 50000);
             entry(d, 100000, 0, 0x82, 2048, 1000);
             entry(d, 100000, 1, 0x05, 10000, 20000);
             entry(d, 110000, 0, 0x0B, 2048, 5000);
             bootSector(d, 112048, Boot::Fat32);
         },
         {{1, 2048, 3047, FileSystemKind::Fat16, 1},
          {3, 100000, 149999, FileSystemKind::None, 0},
          {5, 102048, 103047, FileSystemKind::None, 0},
          {6, 112048, 117047, FileSystemKind::Fat32, 2}}},
        {"GUID entries keep their index; a reserved partition's stale boot sector is not its content",
         [](SparseDisk& d) {
             protectiveMbr(d);
             gptEntry(d, 0, kLinuxData, 2048, 22047);
             ext4At(d, 2048);
             gptEntry(d, 1, kMsReserved, 22048, 30047);
             bootSector(d, 22048, Boot::Fat16);
             gptEntry(d, 3, kBasicData, 40000, 59999);
             bootSector(d, 40000, Boot::Fat16);
         },
         {{1, 2048, 22047, FileSystemKind::Ext4, 0},
          {2, 22048, 30047, FileSystemKind::None, 0},
          {4, 40000, 59999, FileSystemKind::Fat16, 1}}},
        {"a Linux extended partition (0x85) gives its logical partitions slots, not listing items",
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x85, 100000, 50000);
             entry(d, 100000, 0, 0x06, 2048, 1000);
             bootSector(d, 102048, Boot::Fat16);
         },
         {{1, 100000, 149999, FileSystemKind::None, 0}, {5, 102048, 103047, FileSystemKind::Fat16, 0}}},
        {"a volume's own boot sector at sector 0 holds no partition table",
         [](SparseDisk& d) {
             bootSector(d, 0, Boot::Fat16);
             entry(d, 0, 0, 0x06, 2048, 1000);
         },
         {}},
        {"boot flags other than 0x00 and 0x80 are boot code, not a table",
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x06, 2048, 1000);
             d.at(0)[446 + 16] = 0x4C;
         },
         {}},
        {"an entry of no sectors is no partition",
         [](SparseDisk& d) {
             entry(d, 0, 0, 0x83, 2048, 0);
             entry(d, 0, 1, 0x06, 4096, 1000);
         },
         {{2, 4096, 5095, FileSystemKind::None, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SparseDisk disk(200000);
        c.build(disk);
        const DiskPartitions parts = readPartitions(disk, 200000);
        ASSERT_EQ(parts.slots.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            SCOPED_TRACE(i);
            const auto& got = parts.slots[i];
            const auto& want = c.expected[i];
            EXPECT_EQ(got.slot, want.slot);
            EXPECT_EQ(got.firstSector, want.first);
            EXPECT_EQ(got.lastSector, want.last);
            EXPECT_EQ(got.content, want.content);
            EXPECT_EQ(got.listedNumber, want.listedNumber);
            if (want.listedNumber) {
                EXPECT_EQ(parts.listed.at(want.listedNumber - 1).slot, want.slot);
            }
        }
    }
}

namespace {

struct SfdiskEntry {
    std::uint32_t slot;  // sfdisk names partitions image1, image2, image5 as the kernel numbers them
    std::uint64_t start;
    std::uint64_t size;
    std::string type;
};

// The partitions sfdisk reads from an image ("sfdisk -d"), the oracle for the fixture images.
std::optional<std::vector<SfdiskEntry>> sfdiskDump(const std::string& image)
{
    const auto out = run("sfdisk -d '" + image + "'");
    if (!out) return std::nullopt;
    std::vector<SfdiskEntry> entries;
    const std::regex line(R"((\d+) : start=\s*(\d+),\s*size=\s*(\d+),\s*type=([0-9A-Fa-f-]+))");
    for (std::sregex_iterator it(out->begin(), out->end(), line), end; it != end; ++it)
        entries.push_back({static_cast<std::uint32_t>(std::stoul((*it)[1])), std::stoull((*it)[2]), std::stoull((*it)[3]),
                           (*it)[4]});
    return entries;
}

// Every listed partition is one that sfdisk sees, with the same start and length.
void expectSfdiskAgrees(const std::string& image, const std::vector<PartitionRecord>& parts)
{
    const auto dump = sfdiskDump(image);
    if (!dump) {
        std::printf("sfdisk is not available; fixture tables checked against the expected list only\n");
        return;
    }
    for (const auto& p : parts) {
        const std::uint64_t length = p.lastSector - p.firstSector + 1;
        const bool found = std::any_of(dump->begin(), dump->end(), [&](const SfdiskEntry& e) {
            return e.start == p.firstSector && e.size == length;
        });
        EXPECT_TRUE(found) << p.itemText << " at " << p.firstSector << " is not a partition sfdisk knows";
    }
}

}  // namespace

TEST(PartitionTable, FixtureDisksMatchSfdisk)
{
    const std::string mbr = test::fixturePath("disk_mbr.img");
    const std::string gpt = test::fixturePath("disk_gpt.img");
    const std::string mbrDigest = test::fileDigest(mbr), gptDigest = test::fileDigest(gpt);

    // The disk sizes are those the disk listing gives: the images' own sizes.
    auto mbrParts = listPartitions(mbr, 100 * 2048);
    ASSERT_TRUE(mbrParts);
    expectPartitions(*mbrParts, {{"FAT32", 2048, 75775},
                                 {"FAT16", 75776, 108543},
                                 {"NTFS", 108544, 124927},
                                 {"FAT16", 126976, 143359},
                                 {"NTFS", 145408, 161791}});
    EXPECT_EQ((*mbrParts)[3].table, PartitionTableKind::Extended);
    expectSfdiskAgrees(mbr, *mbrParts);

    auto gptParts = listPartitions(gpt, 64 * 2048);
    ASSERT_TRUE(gptParts);
    // The reserved partition holds a FAT16 boot sector and the Linux-typed one a FAT16 volume;
    // only the latter is listed. Entry 3 of the table is unused.
    expectPartitions(*gptParts, {{"FAT32", 2048, 43007}, {"NTFS", 51200, 67583}, {"FAT16", 67584, 83967}});
    expectSfdiskAgrees(gpt, *gptParts);

    EXPECT_EQ(test::fileDigest(mbr), mbrDigest);
    EXPECT_EQ(test::fileDigest(gpt), gptDigest);
}

namespace {

// What blkid finds at a partition's first byte ("ext4", "swap", "vfat FAT12"), the oracle for
// what the probe names.
std::string blkidType(const std::string& image, std::uint64_t firstSector)
{
    const auto out = run("blkid -p -O " + std::to_string(firstSector * 512) + " -o export '" + image + "'");
    if (!out) return "";
    std::smatch type, version;
    const std::regex typeLine(R"((^|\n)TYPE=(\S+))"), versionLine(R"((^|\n)VERSION=(\S+))");
    if (!std::regex_search(*out, type, typeLine)) return "";
    if (type[2] == "vfat" && std::regex_search(*out, version, versionLine)) return version[2];
    return type[2];
}

std::string asBlkidNames(FileSystemKind kind)
{
    return kind == FileSystemKind::Ntfs ? "ntfs" : fileSystemKindName(kind);
}

}  // namespace

TEST(PartitionTable, FixtureSlotsMatchSfdiskAndBlkid)
{
    struct Case {
        const char* image;
        std::vector<std::uint32_t> slots;
        std::vector<std::uint32_t> listedSlots;  // the slots of "Partition - 1", "Partition - 2", ...
    };
    const Case cases[] = {
        {"disk_mbr.img", {1, 2, 3, 4, 5, 6}, {1, 2, 3, 5, 6}},
        {"disk_gpt.img", {1, 2, 4, 5, 6}, {1, 4, 5}},
        // A non-FAT first partition: the FAT16 volume is /dev/sdX2, listed as Partition - 1. The
        // FAT12 logical partition is listed by its type byte 0x01, as the listing always has.
        {"disk_linux_first_mbr.img", {1, 2, 3, 5, 6}, {2, 6}},
        {"disk_linux_first_gpt.img", {1, 2, 3}, {2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const std::string image = test::fixturePath(c.image);
        const std::string before = test::fileDigest(image);
        auto parts = readPartitions(image, std::filesystem::file_size(image) / 512);
        ASSERT_TRUE(parts);
        std::vector<std::uint32_t> slots, listed;
        for (const auto& s : parts->slots) slots.push_back(s.slot);
        for (const auto& p : parts->listed) listed.push_back(p.slot);
        EXPECT_EQ(slots, c.slots);
        EXPECT_EQ(listed, c.listedSlots);

        const auto dump = sfdiskDump(image);
        if (!dump) GTEST_SKIP() << "sfdisk is not available";
        for (const auto& e : *dump) {
            const auto found = std::find_if(parts->slots.begin(), parts->slots.end(),
                                            [&](const PartitionSlot& s) { return s.slot == e.slot; });
            ASSERT_NE(found, parts->slots.end()) << "slot " << e.slot;
            EXPECT_EQ(found->firstSector, e.start);
            EXPECT_EQ(found->lastSector - found->firstSector + 1, e.size);
            if (found->extendedContainer || partitionTypeName(*found) == "Microsoft reserved") continue;
            // blkid also reads a reserved partition's stale boot sector; that is not its content.
            EXPECT_EQ(asBlkidNames(found->content), blkidType(image, found->firstSector)) << "slot " << e.slot;
        }
        EXPECT_EQ(dump->size(), c.slots.size());
        EXPECT_EQ(test::fileDigest(image), before);
    }
}

TEST(PartitionTable, MissingDeviceIsAnError)
{
    test::TempDir dir;
    auto parts = listPartitions(dir.file("nothing.img"), 100000);
    ASSERT_FALSE(parts);
    EXPECT_EQ(parts.error().kind, ErrorKind::OpenFailed);
}

TEST(PartitionTable, DisksWithoutPartitionsBecomeRemovableMedia)
{
    test::TempDir dir;
    const std::string blank = dir.file("blank.img");
    { std::FILE* f = std::fopen(blank.c_str(), "wb"); std::fclose(f); }
    ASSERT_EQ(::truncate(blank.c_str(), 20 * 1024 * 1024), 0);

    storage::DiskListContext ctx;
    ctx.roots.sysfs = dir.path();  // no block devices here: only the images are disks
    ctx.imagePaths = {test::fixturePath("disk_mbr.img"), blank, test::fixturePath("disk_gpt.img")};
    const PhysicalDrivesBranch branch = listPhysicalDrivesBranch(storage::listPhysicalDisks(ctx));
    ASSERT_EQ(branch.disks.size(), 3u);
    EXPECT_EQ(branch.disks[0].partitions.size(), 5u);
    EXPECT_TRUE(branch.disks[1].partitions.empty());
    EXPECT_EQ(branch.disks[2].partitions.size(), 3u);
    ASSERT_EQ(branch.diskKeys.size(), 3u);
    EXPECT_EQ(branch.diskKeys[1], "blank.img UNKNOWN Device||20.00 MB||40960||1");
    ASSERT_EQ(branch.removableMedia.size(), 1u);
    const auto& m = branch.removableMedia[0];
    EXPECT_EQ(m.diskNumber, 1u);
    EXPECT_EQ(m.devicePath, blank);
    EXPECT_EQ(m.cylinders, 2u);
    EXPECT_EQ(m.heads, 255u);
    EXPECT_EQ(m.sectorsPerTrack, 63u);
    EXPECT_EQ(m.totalSectors, 40960u);
}

namespace {

// Detaches the loop device when the test ends, however it ends.
struct LoopDevice {
    std::string path;
    ~LoopDevice()
    {
        if (!path.empty()) run("losetup -d '" + path + "'");
    }
};

}  // namespace

TEST(PartitionTable, AttachedImageIsListedWithItsPartitions)
{
    const std::string image = test::fixturePath("disk_mbr.img");
    const std::string before = test::fileDigest(image);
    LoopDevice loop;
    const auto attached = run("losetup --find --show --read-only --partscan '" + image + "'");
    if (!attached || attached->empty())
        GTEST_SKIP() << "cannot attach a loop device here (needs root and loop support): losetup failed";
    loop.path = *attached;
    const std::string name = loop.path.substr(loop.path.rfind('/') + 1);

    storage::DiskListContext ctx;
    const storage::DiskListing listing = storage::listPhysicalDisks(ctx);
    const auto it = std::find_if(listing.disks.begin(), listing.disks.end(),
                                 [&](const storage::PhysicalDisk& d) { return d.sysfsName == name; });
    ASSERT_NE(it, listing.disks.end()) << name << " is not listed";
    EXPECT_EQ(it->devicePath, loop.path);
    EXPECT_EQ(it->backingFile, image);
    EXPECT_EQ(it->record.text(storage::DiskField::kModel), "disk_mbr.img UNKNOWN Device");
    EXPECT_EQ(it->totalSectors, 100u * 2048u);
    EXPECT_FALSE(it->accessProblem);

    const PhysicalDrivesBranch branch = listPhysicalDrivesBranch(listing);
    const auto entry = std::find_if(branch.disks.begin(), branch.disks.end(),
                                    [&](const DiskEntry& e) { return e.disk.sysfsName == name; });
    ASSERT_NE(entry, branch.disks.end());
    EXPECT_FALSE(entry->readProblem);
    expectPartitions(entry->partitions, {{"FAT32", 2048, 75775},
                                         {"FAT16", 75776, 108543},
                                         {"NTFS", 108544, 124927},
                                         {"FAT16", 126976, 143359},
                                         {"NTFS", 145408, 161791}});
    EXPECT_EQ(test::fileDigest(image), before);
}
