// Settling what to read from what the user names: partitions by the kernel's numbers, a whole
// disk that has partitions, volumes of file systems this tool does not read, a file system that
// contradicts the boot sector, and ranges that a table or the user lets run past the medium.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "le_bytes.h"
#include "session/recovery_session.h"
#include "storage/memory_source.h"
#include "test_support.h"

namespace kfr::session {
namespace {

SourceRequest request(const std::string& path, std::uint32_t partition = 0, const std::string& fileSystem = "")
{
    return SourceRequest{path, partition, std::nullopt, std::nullopt, fileSystem, false};
}

// A medium of 128 sectors whose MBR claims a FAT32 partition of 2^32 - 16 sectors from sector 64.
std::vector<std::uint8_t> oversizedPartitionDisk()
{
    std::vector<std::uint8_t> bytes(128 * 512, 0);
    std::uint8_t* entry = bytes.data() + 446;
    entry[4] = 0x0C;
    test::putLe32(entry + 8, 64);
    test::putLe32(entry + 12, 0xFFFFFFF0u);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    std::copy_n("FAT32   ", 8, bytes.begin() + 64 * 512 + 82);
    bytes[64 * 512 + 510] = 0x55;
    bytes[64 * 512 + 511] = 0xAA;
    return bytes;
}

// Remembers the highest sector anything asked it for.
class RecordingSource final : public storage::SectorSource {
public:
    RecordingSource(std::shared_ptr<const storage::SectorSource> inner, std::atomic<std::uint64_t>& highest)
        : m_inner(std::move(inner)), m_highest(highest)
    {
    }
    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override
    {
        std::uint64_t seen = m_highest.load();
        while (sector + count - 1 > seen && !m_highest.compare_exchange_weak(seen, sector + count - 1)) {
        }
        return m_inner->read(sector, count, buffer);
    }
    std::uint64_t sectorCount() const override { return m_inner->sectorCount(); }
    const std::string& path() const override { return m_inner->path(); }

private:
    std::shared_ptr<const storage::SectorSource> m_inner;
    std::atomic<std::uint64_t>& m_highest;
};

}  // namespace

TEST(SettleSelection, WhatTheUserNamesAndWhatItComesTo)
{
    const std::string linuxMbr = test::fixturePath("disk_linux_first_mbr.img");
    const std::string linuxGpt = test::fixturePath("disk_linux_first_gpt.img");
    const std::string fat16 = test::fixturePath("fat16_basic.img");
    struct Case {
        const char* name;
        SourceRequest request;
        const char* partType;  // nullptr: refused
        std::uint64_t first, last;
        ErrorKind kind;
        const char* message;  // part of the refusal
    };
    const Case cases[] = {
        {"MBR slot 2 behind a Linux slot 1", request(linuxMbr, 2), "FAT16", 10240, 26623, {}, ""},
        {"GUID slot 2 behind a Linux slot 1", request(linuxGpt, 2), "FAT16", 10240, 26623, {}, ""},
        {"a logical partition by its kernel number", request(test::fixturePath("disk_mbr.img"), 5), "FAT16", 126976,
         143359, {}, ""},
        {"ext4 is named, not taken for a damaged boot sector", request(linuxMbr, 1), nullptr, 0, 0,
         ErrorKind::Implausible, "partition 1 holds ext4, which this tool does not read"},
        {"swap is named", request(linuxGpt, 3), nullptr, 0, 0, ErrorKind::Implausible, "partition 3 holds swap"},
        {"FAT12 is named", request(linuxMbr, 6), nullptr, 0, 0, ErrorKind::Implausible, "partition 6 holds FAT12"},
        {"an unused slot", request(linuxMbr, 4), nullptr, 0, 0, ErrorKind::NotFound,
         "there is no partition 4 on this disk; its partitions are 1, 2, 5, 6 (1: ext4, 2: FAT16, 5: swap, 6: FAT12)"},
        {"the extended container", request(linuxMbr, 3), nullptr, 0, 0, ErrorKind::InvalidArgument,
         "is the extended partition"},
        {"a whole disk with partitions", request(linuxMbr), nullptr, 0, 0, ErrorKind::InvalidArgument,
         "this disk has partitions 1, 2, 5, 6: use --partition N"},
        {"a partition of a volume image", request(fat16, 1), nullptr, 0, 0, ErrorKind::NotFound,
         "holds no partition table"},
        {"a file system that contradicts a valid boot sector", request(fat16, 0, "FAT32"), nullptr, 0, 0,
         ErrorKind::InvalidArgument, "--fs FAT32 contradicts the boot sector at sector 0, which is a FAT16 boot sector"},
        {"a file system that agrees", request(fat16, 0, "fat16"), "FAT16", 0, 32767, {}, ""},
        // A reformatted medium: the old file system is named over what the new one wrote.
        {"a file system named over ext4", request(linuxMbr, 1, "FAT32"), "FAT32", 2048, 10239, {}, ""},
    };
    RecoverySession session;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = test::fileDigest(c.request.path);
        const Status selected = session.selectSource(c.request);
        EXPECT_EQ(test::fileDigest(c.request.path), before);
        if (!c.partType) {
            ASSERT_FALSE(selected.ok());
            EXPECT_EQ(selected.error().kind, c.kind);
            EXPECT_NE(selected.error().detail.find(c.message), std::string::npos) << selected.error().detail;
            continue;
        }
        ASSERT_TRUE(selected.ok()) << selected.error().detail;
        EXPECT_EQ(session.selection().partType, c.partType);
        EXPECT_EQ(session.selection().firstSector, c.first);
        EXPECT_EQ(session.selection().lastSector, c.last);
    }
}

TEST(SettleSelection, RangesStayOnTheMedium)
{
    storage::MemorySectorSource disk(oversizedPartitionDisk());
    struct Case {
        const char* name;
        SourceRequest request;
        bool ok;
        std::uint64_t last;
        bool clipped;
    };
    SourceRequest pastEnd = request("disk", 0, "FAT32");
    pastEnd.firstSector = 64;
    pastEnd.lastSector = 1000000;
    SourceRequest startPastEnd = request("disk", 0, "FAT32");
    startPastEnd.firstSector = 128;
    const Case cases[] = {
        {"a table entry larger than the medium", request("disk", 1), true, 127, true},
        {"a last sector past the end", pastEnd, true, 127, true},
        {"a first sector past the end", startPastEnd, false, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto range = settleRange(disk, c.request);
        ASSERT_EQ(range.ok(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(range->lastSector, c.last);
        EXPECT_EQ(range->clipped, c.clipped);
    }

    // Its boot sector gone, the partition is what its type byte 0x0C says.
    auto noBootSector = oversizedPartitionDisk();
    std::fill_n(noBootSector.begin() + 64 * 512, 512, 0);
    const auto guessed = settleSelection(storage::MemorySectorSource(noBootSector), request("disk", 1));
    ASSERT_TRUE(guessed.ok()) << guessed.error().detail;
    EXPECT_EQ(guessed->partType, "FAT32");

    // Inference and the scan sweep a selection from the table without reading past the medium
    // (without the clip they would try some four billion sectors beyond it).
    std::atomic<std::uint64_t> highest{0};
    auto shared = std::make_shared<storage::MemorySectorSource>(oversizedPartitionDisk());
    RecoverySession session([&](const std::string&) -> Result<std::shared_ptr<const storage::SectorSource>> {
        return std::shared_ptr<const storage::SectorSource>(std::make_shared<RecordingSource>(shared, highest));
    });
    ASSERT_TRUE(session.selectSource(request("disk", 1)).ok());
    EXPECT_EQ(session.selection().partType, "FAT32");
    EXPECT_EQ(session.selection().lastSector, 127u);
    EXPECT_FALSE(session.volumeInfo({}).ok());  // nothing to infer from, but only the medium is read
    ASSERT_TRUE(session.scan({}).ok());
    EXPECT_LT(highest.load(), 128u);
}

}  // namespace kfr::session
