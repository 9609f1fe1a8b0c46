// Texts of the partition search.
#include "texts/search_texts.h"

#include <cstdio>

#include "texts/screen_texts.h"

namespace kfr::texts {

namespace {
constexpr const char* kConnectionAdvice =
    ".\n\nIf you have connected your storage using any usb hub or extension, check storage connections or connect "
    "the storage media directly to your computer.";
}  // namespace

std::string noStorageInDiskMessage(std::uint32_t diskNumber)
{
    char text[512];
    std::snprintf(text, sizeof text, kNoStorageAreaFormat, static_cast<int>(diskNumber));
    return text;
}

std::string noStorageInDriveMessage(const std::string& driveText)
{
    return "No physical storage area found in Drive(Drive - " + driveText + " )" + kConnectionAdvice;
}

std::string formatSearchResult(std::uint64_t found, const std::string& kind, std::uint32_t diskNumber,
                               const std::string& text)
{
    const std::string which = kind + " ( " + kind + " - " + (kind == "Disk" ? std::to_string(diskNumber) : text) + " )";
    if (found > 0) return "Found " + std::to_string(found) + " more partitions in selected " + which;
    return "No more partitions found in selected " + which;
}

std::string recognisedItemText(const volumes::RecognisedPartition& row)
{
    return row.name + " - " + row.sizeText + " - " + row.fileSystem;
}

std::string searchReadingText(std::uint64_t total)
{
    return " / " + std::to_string(total) + " reading";
}

}  // namespace kfr::texts
