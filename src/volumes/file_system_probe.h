// What a volume's first sectors say it is: the FAT16, FAT32 and NTFS boot sectors this tool reads,
// and the marks of the file systems it does not read (FAT12, exFAT, ext2/3/4, swap, ...), so a
// partition or a source can be named for what it holds instead of "no boot sector".
#pragma once

#include <cstdint>

#include "storage/sector_source.h"

namespace kfr::volumes {

enum class FileSystemKind {
    None,  // nothing recognised
    Fat16,
    Fat32,
    Ntfs,
    Fat12,
    ExFat,
    Ext2,
    Ext3,
    Ext4,
    Swap,
    Xfs,
    Btrfs,
    Luks,
    LvmMember,
    LinuxRaidMember,
    HfsPlus,
    Apfs,
    Iso9660,
    Squashfs,
    F2fs,
    ReFs,
};

// "FAT16", "FAT32", "NTFS", "FAT12", "exFAT", "ext4", "swap", ...; "" for None.
const char* fileSystemKindName(FileSystemKind kind);

// FAT16, FAT32 and NTFS: the file systems Basic Search reads.
bool isReadableKind(FileSystemKind kind);

// Reads the few sectors from firstSector on where file systems keep their marks (never past
// lastSector, inclusive) and names what they hold. The FAT16, FAT32 and NTFS boot-sector
// signatures are tested first, as the partition listing tests them; unreadable sectors read as
// zeros and so carry no mark.
FileSystemKind probeFileSystem(const storage::SectorSource& source, std::uint64_t firstSector,
                               std::uint64_t lastSector);

}  // namespace kfr::volumes
