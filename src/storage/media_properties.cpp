// Property lists of disks, partitions and mounted volumes.
#include "storage/media_properties.h"

#include "storage/byte_size.h"
#include "storage/disk_list.h"

namespace kfr::storage {

DiskProperties showDiskProperties(const PhysicalDisk& disk)
{
    const PhysicalDiskRecord& record = disk.record;
    static const std::pair<const char*, std::size_t> kRows[] = {
        {"1. Model :", DiskField::kModelRow},
        {"2. MediaType :", DiskField::kMediaTypeRow},
        {"3. Interface Type :", DiskField::kBusType},
        {"4. Capacity(size) :", DiskField::kSizeText},
        {"5. Cylinders :", DiskField::kCylinders},
        {"6. Heads :", DiskField::kHeads},
        {"7. Sectors :", DiskField::kTotalSectors},
        {"8. Bytes per Sector :", DiskField::kBytesPerSector},
        {"9. Sector per Track :", DiskField::kSectorsPerTrack},
        {"10. Firmware Revision ID :", DiskField::kRevision},
        {"11. Serial Number :", DiskField::kSerial},
        {"12. System Name :", DiskField::kSystemName},
        {"13. Physical Device ID :", DiskField::kDevicePath},
    };
    DiskProperties props;
    for (const auto& [name, field] : kRows) props.rows.push_back({name, record.text(field)});
    DiskSelection& s = props.selection;
    s.diskKey = diskKey(record);
    s.model = record.text(DiskField::kModelRow);
    s.totalSectors = disk.totalSectors;
    s.sizeText = record.text(DiskField::kSizeText);
    s.cylinders = record.text(DiskField::kCylinders);
    s.heads = record.text(DiskField::kHeads);
    s.sectorsPerTrack = record.text(DiskField::kSectorsPerTrack);
    s.sizeMiB = record.sizeMiB;
    return props;
}

PartitionProperties showPartitionProperties(std::uint32_t diskNumber, std::uint32_t partitionIndex,
                                            const std::string& typeText, const std::string& modeName,
                                            std::uint64_t startSector, std::uint64_t endSector,
                                            std::uint64_t diskTotalSectors)
{
    PartitionProperties props;
    // A damaged table can put the end before the start; the size is then shown as nothing
    // rather than as a wrapped-around figure.
    const std::uint64_t sectors = endSector > startSector ? endSector - startSector : 0;
    const std::uint64_t bytes = sectors > (UINT64_MAX >> 9) ? UINT64_MAX : sectors << 9;
    props.rows = {
        {"1. Disk Number : ", std::to_string(diskNumber)},
        {"2. Partition Number : ", std::to_string(static_cast<std::uint64_t>(partitionIndex) + 1)},
        {"3. Partition Type : ", typeText},
        {"4. Search Mode : ", modeName},
        {"5. Start Sector : ", std::to_string(startSector)},
        {"6. End Sector : ", std::to_string(endSector)},
        {"7. Size : ", sizeText(bytes)},
    };
    props.startSector = startSector;
    props.endSector = endSector;
    props.diskTotalSectors = diskTotalSectors;
    return props;
}

std::vector<PropertyRow> showDriveProperties(const LogicalDriveRecord& record, bool screenHoldsResults)
{
    if (screenHoldsResults && record.text(DriveField::kModeName) != kSignatureSearchName) return {};
    return {
        {"1. Start Sector :", "0"},
        {"2. End Sector : ", record.text(DriveField::kTotalSectors)},
        {"3. Partition Type : ", record.text(DriveField::kFileSystem)},
        {"4. Volume : ", record.text(DriveField::kDesignator)},
        {"5. Label : ", record.text(DriveField::kLabel)},
        {"6. Size : ", record.text(DriveField::kSizeText)},
        {"7. Free Space : ", record.text(DriveField::kFreeText)},
        {"8. Search Mode : ", record.text(DriveField::kModeName)},
        {"9. Serial Number : ", record.text(DriveField::kSerial)},
    };
}

}  // namespace kfr::storage
