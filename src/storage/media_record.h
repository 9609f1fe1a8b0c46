// The record that hangs on every disk and every mounted volume of the drive tree: 40 numbered
// fields plus one 64-bit number. Disks and volumes share the type and use different fields; the
// field numbers below are the ones the recovery log and the screens rely on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kfr::storage {

// Names of the recovery modes, as written into field 2 of every record a screen lists.
inline constexpr const char* kBasicSearchName = "Basic Search";
inline constexpr const char* kDeepSearchName = "Deep Search";
inline constexpr const char* kSignatureSearchName = "Signature Search";

class MediaRecord {
public:
    static constexpr std::size_t kFieldCount = 40;

    // Fields 11 to 21 hold 32-bit numbers; every other field holds text. Asking a field for the
    // wrong kind, or a field beyond 39, is a bug and throws std::out_of_range.
    static bool isNumberField(std::size_t field) { return field >= 11 && field <= 21; }

    const std::string& text(std::size_t field) const;
    void setText(std::size_t field, std::string value);

    std::uint32_t number(std::size_t field) const;
    void setNumber(std::size_t field, std::uint32_t value);

    // A 64-bit value kept as a low half in lowField and a high half in lowField + 1.
    std::uint64_t number64(std::size_t lowField) const;
    void setNumber64(std::size_t lowField, std::uint64_t value);

    // The record's one 64-bit number: for a disk its size in MiB (geometry size >> 20);
    // mounted volumes leave it 0.
    std::uint64_t sizeMiB = 0;

private:
    std::array<std::string, kFieldCount> m_texts;
    std::array<std::uint32_t, kFieldCount> m_numbers{};
};

using PhysicalDiskRecord = MediaRecord;
using LogicalDriveRecord = MediaRecord;

// Fields of a PhysicalDiskRecord.
struct DiskField {
    static constexpr std::size_t kItemText = 0;
    static constexpr std::size_t kMediaClass = 1;
    static constexpr std::size_t kModeName = 2;
    static constexpr std::size_t kNumber = 22;
    static constexpr std::size_t kName = 23;  // "Disk0"
    static constexpr std::size_t kModel = 24;
    static constexpr std::size_t kSizeAndClass = 25;
    static constexpr std::size_t kModelRow = 26;      // "1. Model :"
    static constexpr std::size_t kMediaTypeRow = 27;  // "2. MediaType :"
    static constexpr std::size_t kBusType = 28;
    static constexpr std::size_t kSizeText = 29;
    static constexpr std::size_t kCylinders = 30;
    static constexpr std::size_t kHeads = 31;
    static constexpr std::size_t kTotalSectors = 32;
    static constexpr std::size_t kBytesPerSector = 33;
    static constexpr std::size_t kSectorsPerTrack = 34;
    static constexpr std::size_t kRevision = 35;
    static constexpr std::size_t kVendor = 36;
    static constexpr std::size_t kSerial = 37;
    static constexpr std::size_t kSystemName = 38;
    static constexpr std::size_t kDevicePath = 39;  // "/dev/sda", "/dev/loop0" or an image file
};

// Fields of a LogicalDriveRecord.
struct DriveField {
    static constexpr std::size_t kItemText = 0;
    static constexpr std::size_t kBranch = 1;  // "Logical Drives"
    static constexpr std::size_t kModeName = 2;
    static constexpr std::size_t kFirstSector = 3;  // "0": the volume as it sees itself
    static constexpr std::size_t kTotalSectors = 4;
    static constexpr std::size_t kFileSystem = 5;
    static constexpr std::size_t kDesignator = 6;  // the mount point
    static constexpr std::size_t kLabel = 7;
    static constexpr std::size_t kSizeText = 8;
    static constexpr std::size_t kFreeText = 9;
    static constexpr std::size_t kSerial = 10;
    static constexpr std::size_t kTotalBytes = 14;  // numbers 14 (low) and 15 (high)
    static constexpr std::size_t kDiskNumber = 16;
    static constexpr std::size_t kDiskFirstSector = 18;  // numbers 18 and 19
    static constexpr std::size_t kDiskEndSector = 20;    // numbers 20 and 21
    // Where drive letters name their volume themselves ("\\.\C:"), a mount point does not, so
    // the volume's block device is kept in the field that holds a disk's device path.
    static constexpr std::size_t kVolumePath = 39;
};

// Bus type names indexed by the bus type values of disk adapters (0 to 13).
enum class BusType : unsigned {
    Unknown = 0,
    Scsi = 1,
    Atapi = 2,
    Ata = 3,
    Ieee1394 = 4,
    Ssa = 5,
    Fibre = 6,
    Usb = 7,
    Raid = 8,
    IScsi = 9,
    Sas = 10,
    Sata = 11,
    Sd = 12,   // named "Reserved" by the table
    Mmc = 13,  // named "" by the table
};

// The table's name for a bus type value. Values beyond the table have no name of their own and
// are called "UNKNOWN", the table's word for a bus it cannot tell.
std::string busTypeName(unsigned value);
inline std::string busTypeName(BusType type) { return busTypeName(static_cast<unsigned>(type)); }

// "Removable Media" for a removable medium; for a fixed one "External hard disk media" on USB
// and "Fixed hard disk media" otherwise.
std::string mediaClassName(bool removable, const std::string& busName);

}  // namespace kfr::storage
