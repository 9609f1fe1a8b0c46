// Volume parameters of real images, the backup boot sector, inference when the boot sector is
// gone, and boot sectors that must be refused instead of trusted.
#include <gtest/gtest.h>

#include <array>
#include <atomic>

#include "fat_image_builder.h"
#include "storage/memory_source.h"
#include "test_support.h"
#include "volumes/boot_parameters.h"
#include "volumes/infer_parameters.h"

using namespace kfr;
using namespace kfr::volumes;
using storage::MemorySectorSource;

namespace {

VolumeSelection selectionOf(const storage::SectorSource& src, const std::string& type, std::uint64_t first = 0)
{
    return VolumeSelection{"", first, src.sectorCount() - 1, type};
}

MemorySectorSource loadFixture(const std::string& name)
{
    return MemorySectorSource(test::readFileBytes(test::fixturePath(name)));
}

void zeroSector(MemorySectorSource& src, std::uint64_t s)
{
    std::fill_n(src.bytes().begin() + static_cast<std::ptrdiff_t>(s * 512), 512, 0);
}

struct FatExpectation {
    const char* image;
    const char* type;
    std::uint32_t spf, spc, rootSectors;
    std::uint64_t rootStart;
    std::uint32_t reserved;
    std::int64_t cluster0Start;
    std::uint64_t firstFat, secondFat;
};

// Geometry as fsstat reports it for each fixture (see tests/fixtures/README.md).
const FatExpectation kFatFixtures[] = {
    {"fat16_basic.img", "FAT16", 32, 4, 32, 68, 4, 92, 4, 36},
    {"fat32_basic.img", "FAT32", 630, 1, 0, 2, 32, 1290, 32, 662},
    // Large clusters on small volumes: the data area begins before sector 2 * SPC, so cluster 0
    // lies before the volume's first sector.
    {"fat16_large_clusters.img", "FAT16", 17, 64, 1, 35, 1, -92, 1, 18},
    {"fat32_large_clusters.img", "FAT32", 2, 128, 0, 2, 8, -244, 8, 10},
};

void expectGeometry(const VolumeParameters& p, const FatExpectation& e)
{
    EXPECT_EQ(p.partType, e.type);
    EXPECT_EQ(p.spf, e.spf);
    EXPECT_EQ(p.spc, e.spc);
    EXPECT_EQ(p.rootSectors, e.rootSectors);
    EXPECT_EQ(p.rootStart, e.rootStart);
    EXPECT_EQ(p.reserveSectors, e.reserved);
    EXPECT_EQ(p.cluster0Start, e.cluster0Start);
    EXPECT_EQ(p.firstFat, e.firstFat);
    EXPECT_EQ(p.secondFat, e.secondFat);
}

}  // namespace

TEST(BootParameters, FatFixturesMatchTheirFileSystems)
{
    for (const auto& e : kFatFixtures) {
        SCOPED_TRACE(e.image);
        auto src = storage::FileSectorSource::open(test::fixturePath(e.image));
        ASSERT_TRUE(src);
        auto p = readBootParameters(**src, selectionOf(**src, e.type));
        ASSERT_TRUE(p) << p.error().detail;
        expectGeometry(*p, e);
    }
}

TEST(BootParameters, NtfsFixtureLocatesMftAndMirror)
{
    auto src = storage::FileSectorSource::open(test::fixturePath("ntfs_basic.img"));
    ASSERT_TRUE(src);
    auto p = readBootParameters(**src, selectionOf(**src, "NTFS"));
    ASSERT_TRUE(p) << p.error().detail;
    EXPECT_EQ(p->spc, 8u);
    EXPECT_EQ(p->mftSector, 4u * 8);
    EXPECT_EQ(p->mftMirrorSector, 2047u * 8);
    EXPECT_EQ(p->sectorsPerRecord, 2u);
    EXPECT_EQ(p->cluster0Start, 0u);

    // With the first boot sector destroyed the copy in the last sector serves.
    MemorySectorSource mem = loadFixture("ntfs_basic.img");
    zeroSector(mem, 0);
    auto fromCopy = readBootParameters(mem, selectionOf(mem, "NTFS"));
    ASSERT_TRUE(fromCopy);
    EXPECT_EQ(fromCopy->mftSector, p->mftSector);
}

TEST(BootParameters, Fat32ZeroedBootSectorIsReadFromBackup)
{
    MemorySectorSource mem = loadFixture("fat32_basic.img");
    zeroSector(mem, 0);
    auto p = readBootParameters(mem, selectionOf(mem, "FAT32"));
    ASSERT_TRUE(p) << p.error().detail;
    expectGeometry(*p, kFatFixtures[1]);
}

TEST(BootParameters, AbsurdBootSectorsAreRefused)
{
    struct Case {
        const char* name;
        void (*damage)(test::FatImageBuilder&);
    };
    const Case cases[] = {
        {"zero sectors per cluster", [](test::FatImageBuilder& b) { b.sector(0)[13] = 0; }},
        {"three sectors per cluster", [](test::FatImageBuilder& b) { b.sector(0)[13] = 3; }},
        {"zero sectors per FAT", [](test::FatImageBuilder& b) { b.put16(22, 0); }},
        {"reserved area beyond the device", [](test::FatImageBuilder& b) { b.put16(14, 60000); }},
        {"no 0x55AA marker", [](test::FatImageBuilder& b) { b.sector(0)[510] = 0; }},
        {"second FAT without media byte", [](test::FatImageBuilder& b) { b.sector(5)[0] = 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FatImageBuilder b(64);
        b.fat16Boot(0, 4, 1, 512, 4);
        b.fatStart(1);
        b.fatStart(5);
        c.damage(b);
        MemorySectorSource mem(b.bytes);
        EXPECT_FALSE(readBootParameters(mem, selectionOf(mem, "FAT16")));
    }
}

TEST(Inference, DestroyedBootSectorGivesTheFileSystemsOwnGeometry)
{
    for (const auto& e : kFatFixtures) {
        SCOPED_TRACE(e.image);
        MemorySectorSource mem = loadFixture(e.image);
        zeroSector(mem, 0);
        zeroSector(mem, 6);  // FAT32's backup too
        ASSERT_FALSE(readBootParameters(mem, selectionOf(mem, e.type)));
        test::RecordingObserver observer;
        auto p = inferFatParameters({&mem, selectionOf(mem, e.type), nullptr, &observer});
        ASSERT_TRUE(p) << p.error().detail;
        expectGeometry(*p, e);
        ASSERT_FALSE(observer.stages.empty());
        EXPECT_EQ(observer.stages.front(), WorkStage::CalculatingPartitionParams);
    }
}

TEST(Inference, HandBuiltFat16WithOffsetStart)
{
    // Reserved 1, SPF 200, SPC 4, 512 root entries, volume starting at sector 100: the FATs and
    // root fill 433 sectors, so cluster 2 lies at 533 and cluster 0 at 525.
    const std::uint64_t first = 100;
    test::FatImageBuilder b(first + 1200);
    b.fatStart(first + 1);
    b.fatStart(first + 201);
    const std::uint64_t c0 = first + 1 + 400 + 32 - 8;
    // A stray directory whose cluster distance does not divide the sector distance comes first
    // after the anchor and must not be paired.
    b.directory(c0 + 5 * 4, 5, 0);
    b.directory(c0 + 7 * 4 + 3, 7, 5);
    b.directory(c0 + 9 * 4, 9, 5);
    MemorySectorSource mem(b.bytes);
    auto p = inferFatParameters({&mem, VolumeSelection{"", first, mem.sectorCount() - 1, "FAT16"}, nullptr, nullptr});
    ASSERT_TRUE(p) << p.error().detail;
    EXPECT_EQ(p->reserveSectors, 1u);
    EXPECT_EQ(p->spf, 200u);
    EXPECT_EQ(p->spc, 4u);
    EXPECT_EQ(p->rootStart, first + 401);
    EXPECT_EQ(p->cluster0Start, c0);
    EXPECT_EQ(p->firstFat, first + 1);
    EXPECT_EQ(p->secondFat, first + 201);
}

TEST(Inference, BadInputEndsWithAFailureNotAHang)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    test::FatImageBuilder lone(300);
    lone.directory(150, 5, 0);  // one directory alone cannot fix a geometry
    test::FatImageBuilder selfParent(300);
    selfParent.directory(150, 5, 5);
    selfParent.directory(151, 5, 5);  // same cluster twice: never paired with itself
    const Case cases[] = {
        {"zero-filled", std::vector<std::uint8_t>(200 * 512, 0)},
        {"one directory", lone.bytes},
        {"repeated cluster", selfParent.bytes},
        {"truncated to 3 sectors", std::vector<std::uint8_t>(3 * 512 + 100, 0xFF)},
    };
    for (const auto& c : cases) {
        for (const char* type : {"FAT16", "FAT32"}) {
            SCOPED_TRACE(std::string(c.name) + " " + type);
            MemorySectorSource mem(c.bytes);
            EXPECT_FALSE(readBootParameters(mem, selectionOf(mem, type)));
            EXPECT_FALSE(inferFatParameters({&mem, selectionOf(mem, type), nullptr, nullptr}));
        }
    }
}

TEST(Inference, StopRequestEndsIt)
{
    MemorySectorSource mem(std::vector<std::uint8_t>(4096 * 512, 0));
    std::atomic<bool> stop{true};
    auto p = inferFatParameters({&mem, selectionOf(mem, "FAT16"), &stop, nullptr});
    ASSERT_FALSE(p);
    EXPECT_EQ(p.error().kind, ErrorKind::Stopped);
}

TEST(FileSystemNames, NamesAndSizeRule)
{
    const std::pair<const char*, const char*> names[] = {
        {"FAT16", "FAT16"}, {" FAT ", "FAT16"}, {"FAT32", "FAT32"}, {"  NTFS", "NTFS"},
        {"exFAT", "Unknown"}, {"vfat", "Unknown"}, {"", "Unknown"}, {"FAT12", "Unknown"},
    };
    for (const auto& [text, expected] : names) EXPECT_EQ(nameFileSystem(text), expected) << text;

    EXPECT_EQ(guessFileSystemBySize(63, 63 + 73400320), "NTFS");
    EXPECT_EQ(guessFileSystemBySize(63, 63 + 73400319), "FAT32");
    EXPECT_EQ(guessFileSystemBySize(63, 73400320), "FAT32");  // a whole disk of that size, from 63
    EXPECT_EQ(guessFileSystemBySize(63, 63 + 2048), "FAT32");
    EXPECT_EQ(guessFileSystemBySize(63, 63 + 2047), "Unknown");
}
