// Partition tables: the master boot record's four entries, the chain of extended boot records and
// the GUID partition table. Only partitions that hold a FAT16, FAT32 or NTFS volume are listed,
// numbered from 1 in listing order ("Partition - 1 ( FAT32 )").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/disk_list.h"
#include "storage/result.h"
#include "storage/sector_source.h"

namespace kfr::volumes {

// A partition entry pointing beyond the disk or into its last 24,576 sectors ends the listing.
inline constexpr std::uint64_t kMinSectorsAfterPartitionStart = 0x6000;
// At most this many partitions are listed per disk (a GUID table holds 128).
inline constexpr std::size_t kMaxPartitionsPerDisk = 256;

enum class PartitionTableKind { Mbr, Extended, Gpt };

struct PartitionRecord {
    std::uint32_t number = 0;  // from 1
    std::string fileSystem;    // "FAT16", "FAT32" or "NTFS"
    std::uint64_t firstSector = 0;
    // For master-boot-record and extended entries one past the last sector (first + count); for
    // GUID entries the last sector itself.
    std::uint64_t endSector = 0;
    std::string itemText;  // "Partition - 1 ( FAT32 )"
    PartitionTableKind table = PartitionTableKind::Mbr;
    std::uint8_t typeByte = 0;  // the MBR/EBR type byte; 0 for GUID entries
};

// Reads the partition tables of source, a disk of diskSectors sectors (the geometry size that
// the disk listing gives). Unreadable sectors read as zeros, so the type byte decides when a
// partition's first sector cannot be read. Never fails: a disk without a valid master boot
// record has no partitions.
std::vector<PartitionRecord> listPartitions(const storage::SectorSource& source, std::uint64_t diskSectors);

// The same on the device or image at devicePath, opened read-only for the listing. Fails when
// the path cannot be opened (PermissionDenied says that read permission is missing).
Result<std::vector<PartitionRecord>> listPartitions(const std::string& devicePath, std::uint64_t diskSectors);

// "Partition - " + number + " ( " + file system + " )".
std::string partitionItemText(std::uint32_t number, const std::string& fileSystem);

// One disk of the "Physical Drives" branch with the partitions listed under it.
struct DiskEntry {
    storage::PhysicalDisk disk;
    std::vector<PartitionRecord> partitions;
    std::optional<Error> readProblem;  // why the partitions could not be read
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
