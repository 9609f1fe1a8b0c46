// Sector reads from image files: offsets, short reads at the end, missing paths, read-only use.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>

#include "storage/memory_source.h"
#include "storage/sector_read_ahead.h"
#include "storage/sector_source.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::storage;

namespace {

void writeAt(const std::string& path, std::uint64_t offset, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

}  // namespace

TEST(SectorRead, SectorZeroAndOffsetsBeyondFourGigaSectors)
{
    test::TempDir dir;
    const std::string image = dir.file("sparse.img");
    writeAt(image, 0, "first");
    // Sector 2^32 lies at byte 2^41; a sparse file holds it without using the space.
    writeAt(image, 0x20000000000ULL, "far away");
    std::array<std::uint8_t, 512> buf{};
    ASSERT_TRUE(readSectors(image, 0, 1, buf));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 5), "first");
    ASSERT_TRUE(readSectors(image, 0x100000000ULL, 1, buf));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 8), "far away");
}

TEST(SectorRead, ShortReadAtEndKeepsBufferTail)
{
    test::TempDir dir;
    const std::string image = dir.file("short.img");
    writeAt(image, 0, std::string(512 + 100, 'a'));
    std::array<std::uint8_t, 1024> buf;
    buf.fill(0xCC);
    ASSERT_TRUE(readSectors(image, 1, 2, buf));
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(buf[99], 'a');
    EXPECT_EQ(buf[100], 0xCC);
    EXPECT_EQ(buf[1023], 0xCC);
    // Starting past the end reads nothing.
    EXPECT_FALSE(readSectors(image, 5, 1, buf));
}

TEST(SectorRead, CountZeroAndMissingPath)
{
    test::TempDir dir;
    const std::string image = dir.file("one.img");
    writeAt(image, 0, std::string(512, 'x'));
    std::array<std::uint8_t, 512> buf{};
    EXPECT_TRUE(readSectors(image, 0, 0, buf));
    EXPECT_FALSE(readSectors(dir.file("missing.img"), 0, 0, buf));
    EXPECT_FALSE(readSectors(dir.file("missing.img"), 0, 1, buf));
    auto opened = FileSectorSource::open(dir.file("missing.img"));
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, ErrorKind::OpenFailed);
}

TEST(SectorRead, UnreadableFileSaysPermissionIsMissing)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file; permission errors cannot be shown";
    test::TempDir dir;
    const std::string image = dir.file("locked.img");
    writeAt(image, 0, std::string(512, 'x'));
    ::chmod(image.c_str(), 0);
    auto opened = FileSectorSource::open(image);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, ErrorKind::PermissionDenied);
}

TEST(SectorRead, ReadsLeaveTheImageUnchanged)
{
    test::TempDir dir;
    const std::string image = dir.file("ro.img");
    writeAt(image, 0, std::string(4096, 'r'));
    ::chmod(image.c_str(), 0444);  // a read-only file still opens: nothing asks for write access
    const std::string before = test::fileDigest(image);
    auto src = FileSectorSource::open(image);
    ASSERT_TRUE(src);
    std::array<std::uint8_t, 4096> buf{};
    EXPECT_TRUE((*src)->read(0, 8, buf));
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(SectorRead, MemorySourceMatchesFileBehaviour)
{
    MemorySectorSource mem(std::vector<std::uint8_t>(600, 7));
    std::array<std::uint8_t, 1024> buf;
    buf.fill(1);
    EXPECT_TRUE(mem.read(1, 2, buf));
    EXPECT_EQ(buf[87], 7);
    EXPECT_EQ(buf[88], 1);
    EXPECT_FALSE(mem.read(2, 1, buf));
    EXPECT_EQ(mem.sectorCount(), 2u);
}

TEST(SectorRead, ANamedPipeIsRefusedAtOnceInsteadOfWaitingForAWriter)
{
    kfr::test::TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto opened = kfr::storage::openSource(fifo);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().detail.find("not a disk"), std::string::npos);
}

// Single sectors read with a window ahead give what reading each alone gives, whatever the order
// of the lookups: moving on just past the window, jumping back, past the region's end, with a bad
// sector inside a window (only that sector is lost), and at a medium whose last sector is partial
// (its tail reads as zeros, not as an earlier window's bytes).
TEST(SectorRead, ReadAheadGivesWhatReadingEachSectorGives)
{
    constexpr std::uint64_t kSectors = 64;
    auto medium = [](std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / kSectorSize * 7 + i % 13 + 1);
        return MemorySectorSource(std::move(bytes));
    };
    const MemorySectorSource whole = medium(kSectors * kSectorSize);
    test::FaultySectorSource faulty(whole);
    faulty.failSector(20);
    const MemorySectorSource partial = medium(kSectors * kSectorSize - 100);
    struct Case {
        const char* name;
        const SectorSource& source;
        std::uint64_t first;
        std::uint64_t count;
        std::vector<std::uint64_t> lookups;
    } cases[] = {
        {"a bad sector, a region of sectors 4 to 43", faulty, 4, 40, {0, 1, 3, 9, 12, 15, 16, 17, 14, 30, 2, 39, 40, 38, 100}},
        {"a partial last sector", partial, 0, kSectors, {48, 50, 58, 63, 62, 64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SectorReadAhead ahead(c.source, c.first, c.count, 8);
        for (const std::uint64_t index : c.lookups) {
            SCOPED_TRACE(index);
            const auto got = ahead.sector(index);
            std::array<std::uint8_t, kSectorSize> alone{};
            if (index >= c.count || !c.source.read(c.first + index, 1, alone)) {
                EXPECT_TRUE(got.empty());
                continue;
            }
            ASSERT_EQ(got.size(), kSectorSize);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), alone.begin()));
        }
    }
}
