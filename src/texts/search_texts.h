// What "Search More Partitions" says beyond its dialog and buttons (in the screen texts): its
// question and messages, the result message and the item texts of what it finds.
#pragma once

#include <cstdint>
#include <string>

#include "volumes/partition_search.h"

namespace kfr::texts {

inline constexpr const char* kSelectDriveToSearchMessage =
    "Select the Physical or Logical Drive (in which you want to search Partitions) from the list of available Drives "
    "in left Panel in order to search deleted or missing Partitions.";

// kNoStorageAreaFormat with the disk number, for a disk that shows no size.
std::string noStorageInDiskMessage(std::uint32_t diskNumber);
// The same for a drive: driveText is the first two characters of its item ("E:").
std::string noStorageInDriveMessage(const std::string& driveText);

// "Found %d more partitions in selected Disk ( Disk - 1 )", "No more partitions found in
// selected Drive ( Drive - E: )", ...: kind is "Disk" (with diskNumber) or "Drive" (with text).
std::string formatSearchResult(std::uint64_t found, const std::string& kind, std::uint32_t diskNumber,
                               const std::string& text);

// "Recognised1 - 2048 MB - NTFS".
std::string recognisedItemText(const volumes::RecognisedPartition& row);

// " / %llu reading" beside the progress text: cylinders (Standard) or sectors to read.
std::string searchReadingText(std::uint64_t total);

}  // namespace kfr::texts
