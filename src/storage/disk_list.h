// The physical disks of the machine: whole block devices from sysfs, loop devices that carry an
// image, and image files the user names, each with its geometry, identity and record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/media_record.h"
#include "storage/result.h"
#include "storage/sector_source.h"
#include "storage/system_tree.h"

namespace kfr::storage {

struct DiskGeometry {
    std::uint64_t cylinders = 0;
    std::uint32_t tracksPerCylinder = 0;  // heads
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t bytesPerSector = 512;
    bool fromKernel = false;  // the kernel answered HDIO_GETGEO; otherwise 255 heads, 63 sectors

    // Whole cylinders only: the last partial cylinder of a disk is not counted. The disk's size is
    // PhysicalDisk::deviceBytes; this is only what the geometry fields add up to.
    std::uint64_t byteSize() const
    {
        return cylinders * tracksPerCylinder * sectorsPerTrack * static_cast<std::uint64_t>(bytesPerSector);
    }
};

// The geometry of a medium of deviceBytes bytes whose driver does not report one: the usual
// translation with 255 heads of 63 sectors. A medium smaller than one such cylinder gets a
// single cylinder of as many 63-sector tracks as fit (or one track of all its sectors), so it
// keeps a nonzero size instead of vanishing.
DiskGeometry translatedGeometry(std::uint64_t deviceBytes, std::uint32_t bytesPerSector);

struct PhysicalDisk {
    PhysicalDiskRecord record;
    std::uint32_t number = 0;
    std::string devicePath;   // field 39
    std::string sysfsName;    // "sda", "loop0"; empty for an image file
    std::string backingFile;  // the image behind a loop device, or the image file itself
    bool isImage = false;     // an image file named by the user
    bool removable = false;
    BusType busType = BusType::Unknown;
    DiskGeometry geometry;
    std::uint64_t deviceBytes = 0;   // the whole medium, partial cylinder included
    std::uint64_t totalSectors = 0;  // deviceBytes / 512, whatever the bytes per sector
    std::string key;                 // the disk key
    // Set when the disk cannot be opened for reading; it is still listed, and the error says
    // what is missing (PermissionDenied: run as root or join the "disk" group).
    std::optional<Error> accessProblem;
};

struct DiskListContext {
    SystemRoots roots;
    std::string modeName = kBasicSearchName;  // field 2
    std::string hostName;                     // field 38; the machine's name when empty
    std::vector<std::string> imagePaths;      // listed as disks of their own after the real ones
};

struct DiskListing {
    std::vector<PhysicalDisk> disks;
    std::vector<std::string> diskKeys;  // in listing order
    std::vector<Error> problems;        // image files that could not be listed
};

// Lists the disks. Order, and so the disk numbers: real disks by their kernel names in natural
// order (sda, sdb, ..., sdz, sdaa; nvme0n1 before nvme1n1), then loop devices with a backing file,
// then the image files in the order given. Partitions, RAM disks (ram, zram), device-mapper and
// md volumes, optical and floppy drives, hidden devices, empty removable slots and loop devices
// without a file are not disks.
DiskListing listPhysicalDisks(const DiskListContext& ctx);

// Model, size text, total sectors and disk number (fields 26, 29, 32, 22) joined by "||".
std::string diskKey(const PhysicalDiskRecord& record);

// The number in "Fixed hard disk media (Disk2 - 931.51 GB)": the text after the first "(" and
// the four letters "Disk", up to the first "-". nullopt when the text has no such number.
std::optional<std::uint32_t> diskNumberFromItemText(const std::string& itemText);

// The machine's host name, empty when it cannot be had.
std::string systemHostName();

// A disk without partition items, kept for the removable-media search.
struct RemovableMediaEntry {
    std::uint32_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t diskNumber = 0;  // stands for the disk's tree item
    std::uint64_t totalSectors = 0;
    std::string devicePath;
};
using RemovableMediaList = std::vector<RemovableMediaEntry>;

RemovableMediaEntry removableMediaEntry(const PhysicalDisk& disk);

}  // namespace kfr::storage
