// The rows of the item list for one folder of the results: its subfolders and its files, read
// again from the medium each time a folder is shown. Listing reads the results and never changes
// them: what a listing learns about the folders (names of subfolders found in the folder's own
// directory, deleted marks inherited from a deleted folder) comes back as FolderChanges, which the
// owner of the results applies on its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/folder_tree.h"
#include "storage/sector_read_ahead.h"
#include "storage/sector_source.h"
#include "volumes/cluster_chain.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// A volume label is listed (it is the medium's own name) but is no file: it holds no data and
// is never saved.
enum class RowKind { Folder, FatFile, NtfsFile, VolumeLabel };

// How a row's date and time are held.
enum class RowTime {
    FatWords,   // fatDate and fatTime: FAT date and time words
    NtfsStamp,  // ntfsStamp: 100 ns units since 1601
    Today,      // the orphan folder: today's date with the time word in fatTime
};

// One row of the item list, typed: front ends format it (the shared column formatter) and the
// writers read where its data lies. Nothing is decided by a display text.
struct ItemRow {
    RowKind kind = RowKind::Folder;
    std::string name;
    std::string shortName;            // FAT files: the 8.3 name
    bool deleted = false;
    std::uint64_t size = 0;
    RowTime timeKind = RowTime::FatWords;
    std::uint16_t fatDate = 0;
    std::uint16_t fatTime = 0;
    std::uint64_t ntfsStamp = 0;
    std::uint32_t firstCluster = 0;   // FAT files: first cluster; folders: self cluster or record
    std::uint32_t parent = 0;         // folders: parent cluster or record; NTFS files: parent record
    std::uint64_t recordSector = 0;   // NTFS files: the file record's sector
    ItemId folderItem = kNoItem;      // folder rows: the folder's tree item
    std::uint32_t volume = 0;         // which of the results' volumes holds it (Deep Search)
    // NTFS.
    std::uint64_t recordNumber = 0;   // files: the file record's number
    std::string streamName;           // a named data stream of the file: the row is "name:stream"
    bool systemFile = false;          // the volume's own files (records 0-15) and $Extend with all in it
    bool compressed = false;
    bool encrypted = false;           // its data cannot be read without the owner's key: saved as stored
};

// The volumes of a scan's results as folders and rows name them by index: a list (Deep Search
// finds several, FAT and NTFS mixed), or one set of parameters that serves every folder.
struct VolumeSet {
    const volumes::VolumeParameters* params = nullptr;
    const std::vector<volumes::VolumeParameters>* list = nullptr;

    const volumes::VolumeParameters* of(std::uint32_t volume) const
    {
        if (!list) return params;
        return volume < list->size() ? &(*list)[volume] : nullptr;
    }
    bool isNtfs(std::uint32_t volume) const
    {
        const auto* p = of(volume);
        return p && p->isNtfs();
    }
    bool anyNtfs() const;
};

// Whether node is an NTFS volume's $Extend folder.
bool isExtendFolder(const FolderNode& node, const VolumeSet& volumes);
// Whether item is $Extend or a folder inside it (folders of NTFS volumes only; never on FAT).
// Walks up the tree: callers that test a whole subtree go down it with isExtendFolder instead.
bool isSystemFolder(const FolderResults& results, ItemId item, const VolumeSet& volumes);

// Rows of an MftFileTable by parent record, in table order, so listing a folder does not walk
// the whole table. Files whose parent is lost are under the orphan folder's kOrphanCluster.
// Keyed by folderKey(volume, parent).
using MftFileIndex = std::unordered_map<std::uint64_t, std::vector<std::size_t>>;
MftFileIndex indexMftFilesByParent(const MftFileTable& files);

// Receives a listing's rows as they are read, in batches, so a large folder or a slow medium
// shows rows as they come. Called on the listing's thread.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void onRows(std::span<const ItemRow> rows) = 0;
};

struct ListingContext {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    // The parameters of every volume of the results, by the volume index folders carry (a Deep
    // Search finds several); null when params serves every folder. The top item then lists the
    // root directory of each volume.
    const std::vector<volumes::VolumeParameters>* volumes = nullptr;
    const MftFileTable* mftFiles = nullptr;       // NTFS scans
    const MftFileIndex* mftIndex = nullptr;       // optional index of mftFiles
    std::uint64_t volumeEndSector = 0;            // NTFS: first sector past the volume (0: the medium's end)
    const std::atomic<bool>* stopRequested = nullptr;
    const FolderOverlay* overlay = nullptr;       // changes not yet applied to the results
    RowSink* sink = nullptr;                      // optional: rows in batches as they are read
    // A FAT reader kept across many listings (see directoryFatReader): used for the folders of
    // the volume it reads.
    volumes::FatReader* fat = nullptr;
    // The source's sectors read ahead across many listings (see directoryReadAhead): used when
    // it reads this listing's source.
    storage::SectorReadAhead* sectors = nullptr;
};

struct FolderListing {
    std::vector<ItemRow> rows;
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
    bool stopped = false;
    FolderChanges changes;
};

// Lists the folder shown by item (the top item lists the root directory). The folder's own
// directory is read once: it names the subfolders (returned as changes, and used for their rows)
// and lists the files. Subfolders of a deleted folder are deleted too.
FolderListing populateItemList(const ListingContext& context, const FolderResults& results, ItemId item);

// Expanding a folder in the tree: names its children from its own directory the first time only
// (never for the top item or the orphan folder). The changes are empty when nothing was read.
FolderChanges expandFolder(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                           const FolderResults& results, ItemId item,
                           const std::atomic<bool>* stopRequested = nullptr);

// The notice that nothing was recovered is shown after a listing when the tree holds only "Root"
// (or "Root" and an empty orphan folder), the results do not come from a recovery log, and the
// notice has not been shown since the scan started.
bool shouldShowEmptyResultNotice(const FolderResults& results, bool fromRecoveryLog, bool shownSinceScan);

}  // namespace kfr::recovery
