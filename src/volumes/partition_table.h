// Partition tables: the master boot record's four entries, the chain of extended boot records and
// the GUID partition table. Read two ways at once: the listing of the partitions that hold a
// FAT16, FAT32 or NTFS volume, numbered from 1 in listing order ("Partition - 1 ( FAT32 )"), and
// every partition the table holds, numbered as the kernel numbers them (the N of /dev/sdbN) and
// named for what it holds, readable here or not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/disk_list.h"
#include "storage/result.h"
#include "storage/sector_source.h"
#include "volumes/file_system_probe.h"

namespace kfr::volumes {

// A partition entry pointing beyond the disk or into its last 24,576 sectors ends the listing.
inline constexpr std::uint64_t kMinSectorsAfterPartitionStart = 0x6000;
// At most this many partitions are listed per disk (a GUID table holds 128).
inline constexpr std::size_t kMaxPartitionsPerDisk = 256;
// The kernel numbers the partitions of the extended chain from 5, whichever primary slots are used.
inline constexpr std::uint32_t kFirstLogicalSlot = 5;

enum class PartitionTableKind { Mbr, Extended, Gpt };

// Which table a disk carries.
enum class PartitionScheme { None, Mbr, Gpt };

// A partition of the listing.
struct PartitionRecord {
    std::uint32_t number = 0;  // from 1, in listing order
    std::string fileSystem;    // "FAT16", "FAT32" or "NTFS"
    std::uint64_t firstSector = 0;
    // The last sector, inclusive, for every kind of table. As the table states it: it may lie
    // past the end of the disk, so a scan range is clipped to the medium before use.
    std::uint64_t lastSector = 0;
    std::string itemText;  // "Partition - 1 ( FAT32 )"
    PartitionTableKind table = PartitionTableKind::Mbr;
    std::uint8_t typeByte = 0;  // the MBR/EBR type byte; 0 for GUID entries
    std::uint32_t slot = 0;     // its number in partitions(); 0 when the kernel would not count it
};

// A partition as the kernel counts it.
struct PartitionSlot {
    std::uint32_t slot = 0;  // 1-4 primary, 5.. logical (MBR); entry index + 1 (GUID)
    PartitionTableKind table = PartitionTableKind::Mbr;
    std::uint8_t typeByte = 0;               // MBR/EBR
    std::array<std::uint8_t, 16> typeGuid{};  // GUID tables, as stored on disk
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;  // inclusive, as the table states it (may lie past the disk)
    bool extendedContainer = false;  // the primary entry that holds the extended chain
    FileSystemKind content = FileSystemKind::None;  // what its first sectors hold
    std::uint32_t listedNumber = 0;  // its "Partition - N" number; 0 when not listed

    bool readable() const { return isReadableKind(content); }
};

struct DiskPartitions {
    PartitionScheme scheme = PartitionScheme::None;
    std::vector<PartitionRecord> listed;  // the listing (FAT16, FAT32, NTFS), in listing order
    std::vector<PartitionSlot> slots;     // every partition, in table order
    // No table, and sector 0 is the boot sector of a FAT16, FAT32 or NTFS volume filling the
    // medium: its file system ("FAT16", "FAT32", "NTFS"); empty otherwise.
    std::string bareVolume;
};

// Reads the partition tables of source, a disk of diskSectors sectors. Unreadable sectors read
// as zeros, so the type byte decides when a partition's first sector cannot be read. Never
// fails: a disk without a valid master boot record has no partitions. A sector 0 that is itself
// a FAT or NTFS boot sector, or whose entries carry boot flags other than 0x00 and 0x80, holds
// no partition table the kernel would read, and gives no slots.
DiskPartitions readPartitions(const storage::SectorSource& source, std::uint64_t diskSectors);

// The listing alone.
std::vector<PartitionRecord> listPartitions(const storage::SectorSource& source, std::uint64_t diskSectors);

// The same on the device or image at devicePath, opened read-only for the listing. Fails when
// the path cannot be opened (PermissionDenied says that read permission is missing).
Result<DiskPartitions> readPartitions(const std::string& devicePath, std::uint64_t diskSectors);
Result<std::vector<PartitionRecord>> listPartitions(const std::string& devicePath, std::uint64_t diskSectors);

// "Partition - " + number + " ( " + file system + " )".
std::string partitionItemText(std::uint32_t number, const std::string& fileSystem);

// The partition type as the table stores it: "0x0c", or a GUID such as
// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7".
std::string partitionTypeId(const PartitionSlot& slot);

// The common name of that type ("W95 FAT32 (LBA)", "Linux swap", "EFI System"); "" when the
// type is not a well-known one.
std::string partitionTypeName(const PartitionSlot& slot);

// The file system an MBR or extended entry's type byte names, as the listing reads it ("FAT16",
// "FAT32", "NTFS"; "" for other types and for GUID entries, whose types do not tell FAT from NTFS).
// What a partition holds when its boot sector is destroyed.
std::string fileSystemOfType(const PartitionSlot& slot);

// One disk of the "Physical Drives" branch with the partitions listed under it.
struct DiskEntry {
    storage::PhysicalDisk disk;
    std::vector<PartitionRecord> partitions;
    PartitionScheme scheme = PartitionScheme::None;
    std::vector<PartitionSlot> slots;  // every partition, readable here or not
    std::optional<Error> readProblem;  // why the partitions could not be read
    std::string bareVolume;            // see DiskPartitions
};

struct PhysicalDrivesBranch {
    std::vector<DiskEntry> disks;
    std::vector<std::string> diskKeys;
    // Disks left without partition items, in listing order, for the removable-media search.
    storage::RemovableMediaList removableMedia;
};

// Lists the partitions of every disk of a disk listing and gathers the disks that got none.
PhysicalDrivesBranch listPhysicalDrivesBranch(storage::DiskListing listing);

}  // namespace kfr::volumes
