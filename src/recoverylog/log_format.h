// What a recovery log (a ".MFT" file) holds: the words the file itself is made of, its header
// with the location of the medium, the tables of the scan, and the part this system appends
// after the last section for what the classic layout cannot carry.
//
// The classic layout, in order: header (drive kind, signature, disk model, mode, location block,
// disk number, selector, file system, search mode name, range, volume, two parameter blocks,
// working PartType); in Deep logs that are not NTFS the Deep partition rows; the folder counter;
// the tree in pre-order (a Line of tabs and the item's text, then its folder record) up to the end
// marker; when the working PartType is NTFS the MFT file rows, the NTFS scan value and, in Deep
// logs, the drive partition rows. A reader of that layout stops there.
//
// Appended after it (the extension): the marker String, a u32 version and a u64 byte count, then
// what the results of this system hold beyond the classic layout: the path and size of the medium
// read, every volume's parameters in 64 bits, the scan's summary, the Deep Search tables in full,
// each folder's tree item, volume and Cluster0Start, and each MFT row's record number, volume and
// lost-parent mark.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/deep_ntfs.h"
#include "recovery/deep_tables.h"
#include "recoverylog/log_stream.h"
#include "volumes/volume_parameters.h"

namespace kfr::recoverylog {

// The words of the file.
inline constexpr const char* kSignature = "KestravonWIN7SR2013";
inline constexpr const char* kRootItemName = "Root_Item";
inline constexpr const char* kPhysicalForm = "PHY";
inline constexpr const char* kLogicalForm = "LOG";
// The end marker's eight characters after the signature: none of them can occur in a folder name.
inline constexpr const char* kEndMarkerTail = "/:*?\"<>|";
inline constexpr const char* kExtensionMarker = "KestravonLinuxResults";
inline constexpr std::uint32_t kExtensionVersion = 1;

// The kind of the drive-tree item that was scanned, as the file stores it. Logs of "Logical"
// (and on Deep logs "Recognised") items say in their location block whether the volume or the
// disk under it was read; every other kind names its disk.
inline constexpr const char* kHardDiskKind = "Hard Disk";  // a whole disk (or disk image)
inline constexpr const char* kPartitionKind = "part";      // a partition of a disk
inline constexpr const char* kLogicalKind = "Logical";     // a volume read through its own device
inline constexpr const char* kRecognisedKind = "Recognised";

std::string endMarker();

enum class LogMode : std::uint32_t { Basic = 1, Deep = 2 };

enum class LocationForm {
    Physical,  // "PHY": disk identity (the disk key) and disk number
    Logical,   // "LOG": volume path and sector count
    None,      // no medium named: nothing is checked
};

struct Location {
    LocationForm form = LocationForm::None;
    std::string diskIdentity;        // PHY
    std::uint32_t diskNumber = 0;    // PHY (a u16 in the file)
    std::string volumePath;          // LOG
    std::uint64_t volumeSectors = 0; // LOG
};

struct LogHeader {
    std::string driveKind = kHardDiskKind;
    std::string diskModel;            // empty when no disk was selected
    std::uint32_t mode = 1;           // LogMode as stored; a reader may meet any value
    Location location;
    std::uint16_t diskNumber = 0;
    std::uint32_t selector = 0;       // kept unchanged through saving and loading
    std::string fileSystem;           // "FAT16", "FAT32", "NTFS" or "Unknown"
    std::string searchModeName;       // "Basic Search" or "Deep Search"
    std::uint64_t rangeFirst = 0;
    std::uint64_t rangeLast = 0;      // the last sector scanned (inclusive)
    std::uint64_t volumeFirst = 0;
    std::uint64_t volumeSectors = 0;
    volumes::VolumeParameters selectionParams;  // PartType is not stored with the block
    volumes::VolumeParameters workingParams;
    std::string workingPartType;      // decides whether the NTFS section follows
};

// The six text columns "Drive", "Part", "St_Sec", "End_Sec", "Clus0", "Drive_E_Sec". No scan
// makes rows; a Deep log carries them through from a log it was loaded from.
using DrivePartitionRow = std::array<std::string, 6>;
using DrivePartitionTable = std::vector<DrivePartitionRow>;

// How a scan ended, as its summary reports it.
struct ScanSummary {
    recovery::ScanEnd end = recovery::ScanEnd::Finished;
    bool paramsFromBootSector = false;
    bool paramsFailed = false;
    recovery::ParamsFailure paramsFailure = recovery::ParamsFailure::None;
    bool foundNothing = false;
    bool mediumRemoved = false;
    std::uint64_t directoriesFound = 0;
    std::uint64_t unreadableSectors = 0;
};

// What a log carries that no scan makes, kept with results loaded from a log so that saving them
// again writes it back: the header's selector, the NTFS scan value and the drive partition rows.
struct LogCarry {
    std::uint32_t selector = 0;
    std::uint32_t ntfsScanValue = 0;
    DrivePartitionTable drivePartitions;
};

// What the extension holds besides the per-folder and per-row values.
struct LogExtension {
    std::string devicePath;          // the disk, partition or image file the scan read
    bool deviceIsImage = false;      // an image file, listed as a disk of its own when it is looked for
    std::uint64_t deviceSectors = 0; // its size when the log was saved
    std::string sweptFileSystem;     // the selection's file system as the scan named it ("FAT+NTFS", ...)
    ScanSummary summary;
    volumes::VolumeParameters selectionParams;
    std::vector<volumes::VolumeParameters> volumes;  // by the index folders and rows carry
    recovery::DeepPartitionTable partitions;
    recovery::BootCandidateTable bootCandidates;
    std::vector<recovery::NtfsVolumeGuess> ntfsVolumes;
    std::uint64_t ntfsRecordsFound = 0;
    bool decodedFromRoot = false;
};

// Everything saveRecoveryLog writes. The tables are read where the caller keeps them.
struct LogContents {
    LogHeader header;
    const recovery::FolderResults* folders = nullptr;         // required
    const recovery::DeepPartitionTable* deepPartitions = nullptr;  // Deep logs
    const recovery::MftFileTable* mftFiles = nullptr;
    const DrivePartitionTable* drivePartitions = nullptr;
    std::uint32_t ntfsScanValue = 0;
    const LogExtension* extension = nullptr;  // nullptr: the classic layout alone
};

// One folder of the tree section, as read.
struct LoggedFolder {
    std::int64_t parent = -1;   // index of its parent among the folders read; -1: under "Root"
    std::string name;
    std::uint32_t self = 0;
    std::uint32_t parentCluster = 0;
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    bool deleted = false;
    std::int64_t cluster0Start = 0;
    // From the extension.
    recovery::ItemId item = recovery::kNoItem;
    std::uint32_t volume = 0;
    bool visited = false;
};

// A log as read: everything up to the first fault (when there is one).
struct ParsedLog {
    LogHeader header;
    bool signatureOk = false;
    bool locationRead = false;  // the header was read up to and with its location block
    bool headerRead = false;    // the whole header was read
    recovery::DeepPartitionTable deepPartitions;
    std::uint64_t folderCounter = 0;
    std::vector<LoggedFolder> folders;  // pre-order
    bool treeRead = false;              // the end marker was reached
    recovery::MftFileTable mftFiles;
    std::uint32_t ntfsScanValue = 0;
    DrivePartitionTable drivePartitions;
    std::optional<LogExtension> extension;
    std::optional<ReadFault> fault;
};

// Column texts of the tables the classic layout stores as text.
std::array<std::string, 12> deepPartitionColumns(const recovery::DeepPartitionRecord& row);
std::array<std::string, 6> mftFileColumns(const recovery::MftFileRow& row);
// The rows back from their texts; nothing when a cell that holds a number does not.
std::optional<recovery::DeepPartitionRecord> deepPartitionFromColumns(const std::array<std::string, 12>& cells);
std::optional<recovery::MftFileRow> mftFileFromColumns(const std::array<std::string, 6>& cells);

}  // namespace kfr::recoverylog
