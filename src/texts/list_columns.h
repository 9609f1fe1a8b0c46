// The column texts of the item list and the texts around it, made from typed rows by one
// formatter that the desktop program and the command-line program share.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "recovery/folder_listing.h"
#include "recovery/results_tree.h"

namespace kfr::texts {

inline constexpr std::array<const char*, 9> kBasicListColumns = {
    "Name", "Type", "Size", "Date", "Time", "SelfCluster-Debug Info 1", "ParentCluster-Debug Info 2",
    "TreeItem-Debug Info 3", "SFN"};

// The Deep screen's columns: the Basic screen's with its own debug names and the volume a root
// file belongs to.
inline constexpr std::array<const char*, 10> kDeepListColumns = {
    "Name", "Type", "Size", "Date", "Time", "Sector-Debug Info 1", "ParentMFT-Debug Info 2",
    "SelfMFT-Debug Info 3", "SFN", "FILE_SYS"};

// The nine column texts of a row. todayText is the date the orphan folder shows ("09-DEC-2026").
std::array<std::string, 9> listColumns(const recovery::ItemRow& row, const std::string& todayText);

// The Type column: "FOLDER" for folders, else the description of the name's extension.
std::string typeText(const recovery::ItemRow& row);

// "%llu Folders, %llu Files".
std::string countsText(std::uint64_t folders, std::uint64_t files);

// Today's date as the orphan folder shows it: "%d-%b-%Y" upper-cased, e.g. "09-DEC-2026".
std::string todayDateText();

// "Documents \Photos": the names from below the top item down to the item ("Root" for the top).
std::string folderPathText(const recovery::ResultTree& tree, recovery::ItemId item);

}  // namespace kfr::texts
