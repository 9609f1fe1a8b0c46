// The property lists shown for a selected disk, partition or mounted volume, and the values a
// disk selection sets for the screens (the current disk).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/media_record.h"

namespace kfr::storage {

struct PropertyRow {
    std::string name;
    std::string value;
};

// The current-disk values a selected disk sets.
struct DiskSelection {
    std::string diskKey;
    std::string model;
    std::uint64_t totalSectors = 0;
    std::string sizeText;
    std::string cylinders;  // texts, as the partition search reads them
    std::string heads;
    std::string sectorsPerTrack;
    std::uint64_t sizeMiB = 0;
};

struct DiskProperties {
    std::vector<PropertyRow> rows;  // "1. Model :" to "13. Physical Device ID :"
    DiskSelection selection;
};

struct PhysicalDisk;

// The rows come from the disk's record (the texts it stores); the numbers from the disk itself.
DiskProperties showDiskProperties(const PhysicalDisk& disk);

struct PartitionProperties {
    std::vector<PropertyRow> rows;  // "1. Disk Number : " to "7. Size : "
    // What the screen's sector-range controls receive.
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;
    std::uint64_t diskTotalSectors = 0;
};

// partitionIndex counts from 0; the list shows it counted from 1.
PartitionProperties showPartitionProperties(std::uint32_t diskNumber, std::uint32_t partitionIndex,
                                            const std::string& typeText, const std::string& modeName,
                                            std::uint64_t startSector, std::uint64_t endSector,
                                            std::uint64_t diskTotalSectors);

// Nine rows "1. Start Sector :" to "9. Serial Number : ". A Basic or Deep screen that holds scan
// results shows nothing for a drive (empty list); the Signature Search screen always shows them.
std::vector<PropertyRow> showDriveProperties(const LogicalDriveRecord& record, bool screenHoldsResults);

}  // namespace kfr::storage
