// The recovered folder tree for people (an indented tree) and for scripts (a flat list of folders
// with their parents' ids). Both walk the tree without recursion and print in time and space linear
// in the number of folders, however deep a crafted medium nests them.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <ostream>

#include "recovery/folder_listing.h"
#include "recovery/folder_tree.h"

namespace kfr::cli {

// Indentation stops growing at this depth; deeper folders say their depth instead, so a chain
// of a hundred thousand nested folders prints a hundred thousand short lines, not gigabytes.
inline constexpr std::size_t kMaxIndentDepth = 32;

// Paths longer than this are no paths a file system takes (Linux allows 4,096 bytes); a folder
// that deep gets none, so a crafted medium cannot make the path texts grow with the square of its
// depth.
inline constexpr std::size_t kMaxPathBytes = 4096;

// Visits every item in pre-order with its depth and its path under Root ("/Documents/Work"; "/"
// for Root), or nullptr when the path would be longer than kMaxPathBytes. Paths are built as the
// walk goes down, so the work is linear in the number of folders.
void walkFolderPaths(const recovery::ResultTree& tree,
                     const std::function<void(recovery::ItemId, std::size_t depth, const std::string* path)>& visit);

// One line per folder, two spaces per level, names escaped for the terminal, deleted ones marked.
void printFolderTree(std::ostream& out, const recovery::FolderResults& results);

// Every folder in pre-order: {"id", "parent_id", "name", "depth", "kind", "deleted"} and, where
// the medium gives one, its "cluster" (FAT) or "mft_record" (NTFS). With debug, the raw self and
// parent numbers of the folder table too.
nlohmann::json foldersJson(const recovery::FolderResults& results, const recovery::VolumeSet& volumes, bool debug);

}  // namespace kfr::cli
