// Basic Search: recovers one volume's folder tree without trusting its FAT or directory tree.
// FAT volumes: every cluster of the data area that begins with a "." entry naming itself and a
// ".." entry is a directory; directories are linked by their ".." clusters and named from their
// parents' entries. NTFS volumes: the file records of the master file table are read instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "recovery/folder_tree.h"
#include "storage/progress.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

inline constexpr const char* kSearchingLostDirectoriesText = "Searching Lost Directories. Please wait...";
inline constexpr const char* kStoringDirectoryInfoText = "Storing Directory Information. Please wait...";
inline constexpr const char* kSectorsScannedFormat = "sectors scanned of total %llu";
inline constexpr const char* kUnableToCalculateText =
    "Unable to calculate partition parameters.\n\nPlease select the partition from the list of Logical Drive or "
    "click on \xE2\x80\x98Search more Partitions\xE2\x80\x99 in case of deleted or missing Drives.";

// One NTFS file record found by the scan: its parent directory and where the record lies. Names,
// sizes and times are read from the record when its folder is shown.
struct MftFileRow {
    std::uint32_t parentRecord = 0;
    std::uint64_t recordSector = 0;
    std::string name;                // filled by scans that decode names at once
    std::uint64_t creationTime = 0;
};
using MftFileTable = std::vector<MftFileRow>;

struct BasicScanContext {
    const storage::SectorSource* source = nullptr;  // held for the whole scan
    volumes::VolumeSelection selection;
    std::atomic<bool>* stopRequested = nullptr;     // cooperative: checked per block or record
    ScanObserver* observer = nullptr;
    DirNamer* namer = nullptr;                      // the session's "DIR_%d" counter (a scan's own when null)
    std::uint16_t orphanTimeWord = 0;               // the orphan folder's time (now, as a FAT time)
};

enum class ScanEnd { Finished, Stopped, Failed };

struct BasicScanResult {
    ScanEnd end = ScanEnd::Finished;
    volumes::VolumeParameters params;
    bool paramsFromBootSector = false;
    bool paramsFailed = false;      // show kUnableToCalculateText
    FolderResults folders;
    MftFileTable mftFiles;          // NTFS only
    bool foundNothing = false;      // the tree holds "Root" alone (or with an empty orphan folder)
    std::uint64_t directoriesFound = 0;
    std::uint64_t unreadableSectors = 0;
    std::vector<Error> problems;    // the first problems met (bounded)
};

// Runs the whole scan on the calling thread and returns what it found. A stop request ends the
// reading early; the tree is then built from what was found so far.
BasicScanResult runBasicScan(const BasicScanContext& context);

// Reads a folder's own directory and gives each child node whose self cluster matches an entry
// that entry's final name and deleted mark. Marks the node visited.
void nameChildFolders(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                      FolderResults& results, ItemId folder, const std::atomic<bool>* stopRequested = nullptr);

// The NTFS half of the scan (used by runBasicScan for NTFS selections; context.namer must be set).
void runNtfsRecordScan(const BasicScanContext& context, BasicScanResult& result);

// Whether results hold nothing but "Root" and possibly an orphan folder.
bool resultsAreEmpty(const FolderResults& results);

}  // namespace kfr::recovery
