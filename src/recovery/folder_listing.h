// The rows of the item list for one folder of the results: its subfolders and its files, with
// the column texts the list shows, read again from the medium each time a folder is shown.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/folder_tree.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

inline constexpr std::array<const char*, 9> kBasicListColumns = {
    "Name", "Type", "Size", "Date", "Time", "SelfCluster-Debug Info 1", "ParentCluster-Debug Info 2",
    "TreeItem-Debug Info 3", "SFN"};

enum class RowKind { Folder, FatFile, NtfsFile };

struct ItemRow {
    RowKind kind = RowKind::Folder;
    std::array<std::string, 9> columns;  // the list's column texts
    bool deleted = false;
    // What saving needs, as numbers.
    std::uint64_t size = 0;
    std::uint32_t firstCluster = 0;   // FAT files
    std::uint64_t recordSector = 0;   // NTFS files
    ItemId folderItem = kNoItem;      // folder rows
};

// Rows of an MftFileTable by parent record, in table order: lets callers that list many folders
// (a save run) avoid walking the whole table for each one.
using MftFileIndex = std::unordered_map<std::uint32_t, std::vector<std::size_t>>;
MftFileIndex indexMftFilesByParent(const MftFileTable& files);

struct ListingContext {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    const MftFileTable* mftFiles = nullptr;       // NTFS scans
    const MftFileIndex* mftIndex = nullptr;       // optional index of mftFiles
    const std::atomic<bool>* stopRequested = nullptr;
    std::string todayText;                        // "09-DEC-2026": the orphan folder's date
};

struct FolderListing {
    std::vector<ItemRow> rows;
    std::uint64_t folders = 0;
    std::uint64_t files = 0;
};

// Lists the folder shown by item (the top item lists the root directory). Names the folder's
// children from its own directory first and marks subfolders of a deleted folder deleted.
FolderListing populateItemList(const ListingContext& context, FolderResults& results, ItemId item);

// Expanding a folder in the tree: names its children from its own directory the first time only
// (never for the top item or the orphan folder). Returns whether the directory was read.
bool expandFolder(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                  FolderResults& results, ItemId item, const std::atomic<bool>* stopRequested = nullptr);

// The notice that nothing was recovered is shown after a listing when the tree holds only "Root"
// (or "Root" and an empty orphan folder), the results do not come from a recovery log, and the
// notice has not been shown since the scan started.
bool shouldShowEmptyResultNotice(const FolderResults& results, bool fromRecoveryLog, bool shownSinceScan);

inline constexpr const char* kEmptyResultBasicText =
    "Recovery is not possible in Basic Search Mode, use other search mode to recover your data.";

// "%llu Folders, %llu Files".
std::string countsText(std::uint64_t folders, std::uint64_t files);

// Today's date as the orphan folder shows it: "%d-%b-%Y" upper-cased, e.g. "09-DEC-2026".
std::string todayDateText();

}  // namespace kfr::recovery
