// Basic Search: recovers one volume's folder tree without trusting its FAT or directory tree.
// FAT volumes: every cluster of the data area that begins with a "." entry naming itself and a
// ".." entry is a directory; directories are linked by their ".." clusters and named from their
// parents' entries. NTFS volumes: the file records of the master file table are read instead.
#pragma once

#include <atomic>
#include <span>
#include <unordered_map>
#include <cstdint>
#include <vector>

#include "recovery/dir_entry.h"
#include "recovery/folder_tree.h"
#include "storage/progress.h"
#include "storage/sector_source.h"
#include "volumes/cluster_chain.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// One NTFS file record found by the scan: its parent directory and where the record lies. Names,
// sizes and times are read from the record when its folder is shown.
struct MftFileRow {
    std::uint32_t parentRecord = 0;
    std::uint64_t recordSector = 0;
    std::string name;                // filled by scans that decode names at once
    std::uint64_t creationTime = 0;
    std::uint64_t recordNumber = 0;
    // The parent record is gone, reused by another file or folder, or no folder: the file is
    // listed in the orphan folder.
    bool parentLost = false;
    std::uint32_t volume = 0;        // which of the results' volumes holds it (Deep Search)
};
using MftFileTable = std::vector<MftFileRow>;

// One folder as the scan placed it in the results tree, for screens that grow their tree while
// the scan runs. Items keep their numbers in the finished results.
struct PlacedFolder {
    ItemId item = kNoItem;
    ItemId parentItem = kNoItem;
    std::string name;
    std::uint32_t self = 0;
    std::uint32_t parent = 0;
    bool deleted = false;
};

// A scan's observer may also follow the results tree as it is built: folders placed and renamed,
// in batches.
class BasicScanObserver : public ScanObserver {
public:
    // Directories found on the medium so far (before they are placed).
    virtual void onFoldersFound(std::uint64_t /*count*/) {}
    virtual void onFoldersPlaced(std::span<const PlacedFolder> /*folders*/) {}
    virtual void onFoldersRenamed(std::span<const FolderRename> /*renames*/) {}
};

struct BasicScanContext {
    const storage::SectorSource* source = nullptr;  // held for the whole scan
    volumes::VolumeSelection selection;
    const std::atomic<bool>* stopRequested = nullptr;  // cooperative: checked per block or record
    ScanObserver* observer = nullptr;               // a BasicScanObserver gets the tree events too
    DirNamer* namer = nullptr;                      // the session's "DIR_%d" counter (a scan's own when null)
    std::uint16_t orphanTimeWord = 0;               // the orphan folder's time (now, as a FAT time)
};

enum class ScanEnd { Finished, Stopped, Failed };

// Why the volume's parameters could not be had.
enum class ParamsFailure {
    None,
    NotInferred,       // FAT: no boot sector, and no two directories agree on a geometry
    StoppedInference,  // FAT: stopped while inferring
    MediumRemoved,     // the medium went away while the parameters were being inferred
    NtfsBootSector,    // NTFS: neither boot sector copy locates the master file table
    NotFatOrNtfs,      // the selection names no file system the scan reads
};

struct BasicScanResult {
    ScanEnd end = ScanEnd::Finished;
    volumes::VolumeParameters params;
    bool paramsFromBootSector = false;
    bool paramsFailed = false;      // see paramsFailure
    ParamsFailure paramsFailure = ParamsFailure::None;
    FolderResults folders;
    MftFileTable mftFiles;          // NTFS only
    bool foundNothing = false;      // the tree holds "Root" alone (or with an empty orphan folder)
    bool mediumRemoved = false;     // the medium went away during the scan (it ends Failed)
    std::uint64_t directoriesFound = 0;
    std::uint64_t unreadableSectors = 0;
    std::vector<Error> problems;    // the first problems met (bounded)
};

// Runs the whole scan on the calling thread and returns what it found. A stop request ends the
// reading early; the tree is then built from what was found so far.
BasicScanResult runBasicScan(const BasicScanContext& context);

// Names the children of one folder from the entries of the folder's own directory: each child
// node whose parent is this folder and whose self cluster matches an entry's first cluster takes
// that entry's final name and deleted mark (the last matching entry gives the name).
class ChildFolderNamer {
public:
    ChildFolderNamer(const FolderResults& results, ItemId folder);
    // Whether the folder has children to name at all.
    bool wanted() const { return !m_children.empty(); }
    // Whether an entry starting at this cluster could name a child: other entries need no name.
    bool wants(std::uint32_t cluster) const { return find(cluster) != nullptr; }
    void offer(const DirItem& entry);
    // The renames found, with the folder marked visited (once: the names are moved out).
    FolderChanges takeChanges();

private:
    struct Child {
        std::uint32_t self = 0;
        std::size_t node = 0;  // the first node with this self cluster
        bool named = false;
        FolderRename rename;
    };
    const Child* find(std::uint32_t cluster) const;

    const FolderResults& m_results;
    ItemId m_folder;
    std::vector<Child> m_children;     // by self cluster (a folder has few: searched, not hashed)
    std::vector<std::size_t> m_order;  // places in m_children in the order first named
};

// Reads a folder's own directory (up to its first end mark) and returns what ChildFolderNamer
// found, the folder marked visited. The results are not changed.
FolderChanges nameChildFolders(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                               const FolderResults& results, ItemId folder,
                               const std::atomic<bool>* stopRequested = nullptr, volumes::FatReader* fat = nullptr,
                               storage::SectorReadAhead* sectors = nullptr);

// The NTFS half of the scan (used by runBasicScan for NTFS selections; context.namer must be set).
void runNtfsRecordScan(const BasicScanContext& context, BasicScanResult& result);

// Ends a scan whose medium went away: Failed, with the reason among its problems.
void noteMediumGone(BasicScanResult& result, const storage::SectorSource& source);

// Whether results hold nothing but "Root" and possibly an orphan folder.
bool resultsAreEmpty(const FolderResults& results);

}  // namespace kfr::recovery
