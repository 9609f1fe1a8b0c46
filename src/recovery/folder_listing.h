// The rows of the item list for one folder of the results: its subfolders and its files, with
// the column texts the list shows, read again from the medium each time a folder is shown.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
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

struct ListingContext {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    const MftFileTable* mftFiles = nullptr;       // NTFS scans
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

// "%llu Folders, %llu Files".
std::string countsText(std::uint64_t folders, std::uint64_t files);

// Today's date as the orphan folder shows it: "%d-%b-%Y" upper-cased, e.g. "09-DEC-2026".
std::string todayDateText();

}  // namespace kfr::recovery
