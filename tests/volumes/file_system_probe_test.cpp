// Naming a volume by its marks: the boot sectors this tool reads first, then the marks of the
// file systems it does not read, each where its own format keeps it, never past the volume.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "le_bytes.h"
#include "storage/memory_source.h"
#include "volumes/file_system_probe.h"

using namespace kfr;
using namespace kfr::volumes;

namespace {

struct Mark {
    std::size_t offset;
    std::string bytes;
};

// A volume of 160 sectors (80 KiB, enough for every mark) starting at sector 4 of the medium.
constexpr std::uint64_t kVolumeStart = 4;

storage::MemorySectorSource volumeWith(const std::vector<Mark>& marks, std::size_t mediumSectors = 164)
{
    std::vector<std::uint8_t> bytes(mediumSectors * 512, 0);
    for (const auto& m : marks)
        for (std::size_t i = 0; i < m.bytes.size(); ++i)
            if (kVolumeStart * 512 + m.offset + i < bytes.size()) bytes[kVolumeStart * 512 + m.offset + i] = static_cast<std::uint8_t>(m.bytes[i]);
    return storage::MemorySectorSource(std::move(bytes));
}

std::string le32(std::uint32_t v)
{
    std::string s(4, '\0');
    test::putLe32(reinterpret_cast<std::uint8_t*>(s.data()), v);
    return s;
}

const Mark kBootMarker{510, "\x55\xAA"};
const Mark kExtMagic{1024 + 56, "\x53\xEF"};

}  // namespace

TEST(FileSystemProbe, NamesWhatTheFirstSectorsHold)
{
    struct Case {
        const char* name;
        std::vector<Mark> marks;
        FileSystemKind expected;
    };
    const std::vector<Case> cases = {
        {"nothing at all", {}, FileSystemKind::None},
        {"FAT32 label", {{82, "FAT32   "}, kBootMarker}, FileSystemKind::Fat32},
        {"FAT16 label", {{54, "FAT16   "}, kBootMarker}, FileSystemKind::Fat16},
        {"NTFS name", {{3, "NTFS    "}, kBootMarker}, FileSystemKind::Ntfs},
        {"FAT12 label with the boot marker", {{54, "FAT12   "}, kBootMarker}, FileSystemKind::Fat12},
        {"FAT12 label without the boot marker is no boot sector", {{54, "FAT12   "}}, FileSystemKind::None},
        {"exFAT", {{3, "EXFAT   "}, kBootMarker}, FileSystemKind::ExFat},
        {"ext2: the magic alone", {kExtMagic}, FileSystemKind::Ext2},
        {"ext3: a journal", {kExtMagic, {1024 + 92, le32(0x4)}}, FileSystemKind::Ext3},
        {"ext4: extents", {kExtMagic, {1024 + 92, le32(0x4)}, {1024 + 96, le32(0x40)}}, FileSystemKind::Ext4},
        {"swap with 4 KiB pages", {{4086, "SWAPSPACE2"}}, FileSystemKind::Swap},
        {"swap with 64 KiB pages", {{65526, "SWAPSPACE2"}}, FileSystemKind::Swap},
        {"LUKS", {{0, "LUKS\xBA\xBE"}}, FileSystemKind::Luks},
        {"XFS", {{0, "XFSB"}}, FileSystemKind::Xfs},
        {"Btrfs, 64 KiB in", {{65536 + 64, "_BHRfS_M"}}, FileSystemKind::Btrfs},
        {"LVM label in the second sector", {{512, "LABELONE"}}, FileSystemKind::LvmMember},
        // The FAT32 label wins over an NTFS name in the same sector, as the listing has it.
        {"boot signatures come first", {{82, "FAT32   "}, {3, "NTFS    "}}, FileSystemKind::Fat32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto source = volumeWith(c.marks);
        EXPECT_EQ(probeFileSystem(source, kVolumeStart, kVolumeStart + 159), c.expected);
    }
}

TEST(FileSystemProbe, NeverLooksPastTheVolume)
{
    // A Btrfs mark 64 KiB into a volume of 100 sectors belongs to whatever follows it.
    const auto source = volumeWith({{65536 + 64, "_BHRfS_M"}});
    EXPECT_EQ(probeFileSystem(source, kVolumeStart, kVolumeStart + 99), FileSystemKind::None);
    // Nor past the medium: a volume the table makes larger than the disk reads zeros there.
    const auto cut = volumeWith({{65536 + 64, "_BHRfS_M"}}, 100);
    EXPECT_EQ(probeFileSystem(cut, kVolumeStart, UINT64_MAX - 1), FileSystemKind::None);
    EXPECT_EQ(std::string(fileSystemKindName(FileSystemKind::Ext4)), "ext4");
    EXPECT_FALSE(isReadableKind(FileSystemKind::Fat12));
    EXPECT_TRUE(isReadableKind(FileSystemKind::Ntfs));
}
