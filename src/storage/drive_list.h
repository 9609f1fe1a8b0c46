// The mounted volumes of the machine ("Logical Drives"): every mount of a block device, with its
// size, label, file system and serial number, and the disk and sectors it occupies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "storage/disk_list.h"
#include "storage/media_record.h"
#include "storage/system_tree.h"

namespace kfr::storage {

struct VolumeSpace {
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;  // free to the calling user
};

// How the sizes of a mounted volume are learned; statvfs unless a test supplies its own.
using VolumeSpaceQuery = std::function<std::optional<VolumeSpace>(const std::string& mountPoint)>;
std::optional<VolumeSpace> statVolumeSpace(const std::string& mountPoint);

struct DriveListContext {
    SystemRoots roots;
    std::string modeName = kBasicSearchName;  // slot 2
    VolumeSpaceQuery spaceQuery = statVolumeSpace;
};

// Where a volume lies: the disk (its number in the disk listing) and the sectors from firstSector
// up to endSector (first + length). A volume that maps to no single listed disk keeps 0, 0, 0.
struct DiskExtent {
    std::uint32_t diskNumber = 0;
    std::uint64_t firstSector = 0;
    std::uint64_t endSector = 0;
    bool mapped = false;
};

struct LogicalDrive {
    LogicalDriveRecord record;
    std::string mountPoint;  // the drive designator (slot 6)
    std::string volumePath;  // the volume's block device, e.g. "/dev/sdb1" (slot 39)
    std::string fileSystem;
    std::string label;
    std::uint64_t totalBytes = 0;
    std::optional<std::uint64_t> freeBytes;  // nullopt when the size query failed
    DiskExtent extent;
    std::string key;  // the drive key
};

struct DriveListing {
    std::vector<LogicalDrive> drives;
    std::vector<std::string> driveKeys;  // in listing order
};

// Lists, in mount-table order, the mounts whose source is a block device, each block device once
// (its first mount point). Pseudo and network file systems, optical media (and ISO 9660 images)
// and floppy drives are left out. disks is the disk listing the volumes are mapped onto.
DriveListing listLogicalDrives(const DriveListContext& ctx, const std::vector<PhysicalDisk>& disks);

// The disk and sectors of the block device named blockName ("sdb1", "loop0p2", "sdc"): a
// partition maps to its parent disk at its start sector, a whole-disk volume to its disk from
// sector 0. Device-mapper, md RAID and LVM volumes, and volumes on disks that are not listed,
// map to nothing.
DiskExtent mapVolumeToDisk(const SystemRoots& roots, const std::string& blockName,
                           const std::vector<PhysicalDisk>& disks);

// True when the volume mounted at designator lives on a floppy drive.
bool isFloppyDrive(const SystemRoots& roots, const std::string& designator);

// Volume path (slot 39), "|", total sectors (slot 4), e.g. "/dev/sdb1|15625000".
std::string driveKey(const LogicalDriveRecord& record);

}  // namespace kfr::storage
