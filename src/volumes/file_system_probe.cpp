// Naming a volume by the marks its file system leaves in its first sectors.
#include "volumes/file_system_probe.h"

#include <array>
#include <cstring>
#include <map>
#include <string_view>

#include "volumes/boot_sector.h"

namespace kfr::volumes {

namespace {

using storage::kSectorSize;

// A mark: these bytes at this byte offset from the volume's first sector.
struct Mark {
    FileSystemKind kind;
    std::uint64_t byteOffset;
    std::string_view bytes;
};

// The marks of the file systems this tool does not read, where each one's own format puts them.
// Swap keeps its mark in the last ten bytes of the first page, whose size depends on the machine
// that made it; Linux RAID keeps its version 1.2 superblock 4 KiB in.
constexpr std::array kOtherMarks = {
    Mark{FileSystemKind::ExFat, 3, "EXFAT   "},
    Mark{FileSystemKind::ReFs, 3, std::string_view("ReFS\0\0\0\0", 8)},
    Mark{FileSystemKind::Xfs, 0, "XFSB"},
    Mark{FileSystemKind::Luks, 0, "LUKS\xBA\xBE"},
    Mark{FileSystemKind::Squashfs, 0, "hsqs"},
    Mark{FileSystemKind::Apfs, 32, "NXSB"},
    Mark{FileSystemKind::LvmMember, 512, "LABELONE"},
    Mark{FileSystemKind::HfsPlus, 1024, std::string_view("H+\0\x04", 4)},
    Mark{FileSystemKind::HfsPlus, 1024, std::string_view("HX\0\x05", 4)},
    Mark{FileSystemKind::F2fs, 1024, "\x10\x20\xF5\xF2"},
    Mark{FileSystemKind::Swap, 4096 - 10, "SWAPSPACE2"},
    Mark{FileSystemKind::Swap, 4096 - 10, "SWAP-SPACE"},
    Mark{FileSystemKind::Swap, 8192 - 10, "SWAPSPACE2"},
    Mark{FileSystemKind::Swap, 16384 - 10, "SWAPSPACE2"},
    Mark{FileSystemKind::Swap, 65536 - 10, "SWAPSPACE2"},
    Mark{FileSystemKind::LinuxRaidMember, 4096, "\xFC\x4E\x2B\xA9"},
    Mark{FileSystemKind::Iso9660, 32769, "CD001"},
    Mark{FileSystemKind::Btrfs, 65536 + 64, "_BHRfS_M"},
};

// The ext2/3/4 superblock, 1024 bytes in.
constexpr std::uint64_t kExtSuperblock = 1024;
constexpr std::size_t kExtMagicOffset = 56;  // 0xEF53
constexpr std::size_t kExtCompatOffset = 92;
constexpr std::size_t kExtIncompatOffset = 96;
constexpr std::size_t kExtRoCompatOffset = 100;
constexpr std::uint32_t kExtHasJournal = 0x4;
// Features only ext4 brings: extents, 64-bit block numbers, flexible block groups (incompatible);
// huge files, group descriptor checksums, large directories' link counts, extra inode size
// (read-only compatible).
constexpr std::uint32_t kExt4Incompat = 0x40 | 0x80 | 0x200;
constexpr std::uint32_t kExt4RoCompat = 0x8 | 0x10 | 0x20 | 0x40;

// The sectors of one volume, each read once and only when a test needs it.
class VolumeBytes {
public:
    VolumeBytes(const storage::SectorSource& source, std::uint64_t first, std::uint64_t last)
        : m_source(source), m_first(first), m_last(last)
    {
    }

    // The sector holding byte offset (relative to the volume); zeros when unreadable or past the
    // volume's end.
    const storage::SectorBytes& sectorAt(std::uint64_t byteOffset)
    {
        const std::uint64_t index = byteOffset / kSectorSize;
        auto it = m_cache.find(index);
        if (it != m_cache.end()) return it->second;
        storage::SectorBytes bytes{};
        if (m_last >= m_first && index <= m_last - m_first)
            bytes = storage::readOneSector(m_source, m_first + index).value_or(storage::SectorBytes{});
        return m_cache.emplace(index, bytes).first->second;
    }

    bool holds(const Mark& mark)
    {
        // Marks never straddle a sector boundary.
        const std::size_t within = mark.byteOffset % kSectorSize;
        if (within + mark.bytes.size() > kSectorSize) return false;
        const auto& sector = sectorAt(mark.byteOffset);
        return std::memcmp(sector.data() + within, mark.bytes.data(), mark.bytes.size()) == 0;
    }

private:
    const storage::SectorSource& m_source;
    std::uint64_t m_first;
    std::uint64_t m_last;
    std::map<std::uint64_t, storage::SectorBytes> m_cache;
};

FileSystemKind extVariant(VolumeBytes& volume)
{
    const Bytes sb = Bytes(volume.sectorAt(kExtSuperblock));  // the superblock's first 512 bytes
    if (readLe16(sb, kExtMagicOffset) != 0xEF53) return FileSystemKind::None;
    if ((readLe32(sb, kExtIncompatOffset) & kExt4Incompat) || (readLe32(sb, kExtRoCompatOffset) & kExt4RoCompat))
        return FileSystemKind::Ext4;
    return (readLe32(sb, kExtCompatOffset) & kExtHasJournal) ? FileSystemKind::Ext3 : FileSystemKind::Ext2;
}

}  // namespace

const char* fileSystemKindName(FileSystemKind kind)
{
    switch (kind) {
    case FileSystemKind::None: return "";
    case FileSystemKind::Fat16: return "FAT16";
    case FileSystemKind::Fat32: return "FAT32";
    case FileSystemKind::Ntfs: return "NTFS";
    case FileSystemKind::Fat12: return "FAT12";
    case FileSystemKind::ExFat: return "exFAT";
    case FileSystemKind::Ext2: return "ext2";
    case FileSystemKind::Ext3: return "ext3";
    case FileSystemKind::Ext4: return "ext4";
    case FileSystemKind::Swap: return "swap";
    case FileSystemKind::Xfs: return "XFS";
    case FileSystemKind::Btrfs: return "Btrfs";
    case FileSystemKind::Luks: return "LUKS";
    case FileSystemKind::LvmMember: return "LVM member";
    case FileSystemKind::LinuxRaidMember: return "Linux RAID member";
    case FileSystemKind::HfsPlus: return "HFS+";
    case FileSystemKind::Apfs: return "APFS";
    case FileSystemKind::Iso9660: return "ISO 9660";
    case FileSystemKind::Squashfs: return "SquashFS";
    case FileSystemKind::F2fs: return "F2FS";
    case FileSystemKind::ReFs: return "ReFS";
    }
    return "";
}

bool isReadableKind(FileSystemKind kind)
{
    return kind == FileSystemKind::Fat16 || kind == FileSystemKind::Fat32 || kind == FileSystemKind::Ntfs;
}

FileSystemKind probeFileSystem(const storage::SectorSource& source, std::uint64_t firstSector, std::uint64_t lastSector)
{
    VolumeBytes volume(source, firstSector, lastSector);
    const Bytes boot = Bytes(volume.sectorAt(0));
    switch (detectBootSignature(boot)) {
    case BootSignature::Fat32: return FileSystemKind::Fat32;
    case BootSignature::Fat16: return FileSystemKind::Fat16;
    case BootSignature::Ntfs: return FileSystemKind::Ntfs;
    case BootSignature::None: break;
    }
    // FAT12 names itself where FAT16 does; without the boot marker those bytes could be anything.
    if (hasBootMarker(boot) && bytesEqual(boot, 54, "FAT12")) return FileSystemKind::Fat12;
    for (const Mark& mark : kOtherMarks)
        if (volume.holds(mark)) return mark.kind;
    return extVariant(volume);
}

}  // namespace kfr::volumes
