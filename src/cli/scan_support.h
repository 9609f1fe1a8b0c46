// Running Basic Search for a command and finding recovered folders by path: shared by the
// commands that scan, list and save.
#pragma once

#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/selection.h"
#include "recovery/basic_scan.h"
#include "storage/result.h"

namespace kfr::cli {

struct ScanRun {
    OpenedSelection opened;
    recovery::BasicScanResult result;
    recovery::DirNamer namer;
};

// Opens the selection and runs Basic Search with a progress line on the terminal and Ctrl+C as Stop.
Result<std::unique_ptr<ScanRun>> runScan(const SelectionOptions& selection, const GlobalOptions& global);

// Finds a folder by a path of names under "Root" ("/", "Documents/Work", "Lumo_Miscellaneous/DIR5").
recovery::ItemId findFolder(const recovery::FolderResults& results, const std::string& path);

// "/Documents/Work" for an item; "/" for the top item.
std::string slashPath(const recovery::FolderResults& results, recovery::ItemId item);

// The current local time as a FAT time word (the orphan folder's time).
std::uint16_t nowAsFatTime();

}  // namespace kfr::cli
