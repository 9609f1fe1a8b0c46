// Texts of the counting and progress windows.
#include "export/save_state.h"

namespace kfr::exporting {

const char* fileOutcomeName(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Written: return "written";
    case FileOutcome::Skipped: return "skipped";
    case FileOutcome::Cancelled: return "cancelled";
    case FileOutcome::Declined: return "declined";
    case FileOutcome::NotCreated: return "not-created";
    case FileOutcome::NoData: return "no-data";
    case FileOutcome::WriteFailed: return "write-failed";
    case FileOutcome::DiskFull: return "disk-full";
    }
    return "written";
}

std::string byteCountText(std::uint64_t done, std::uint64_t total)
{
    return countText(done, total) + " Bytes";
}

std::string selectedSummaryText(std::uint64_t files, std::uint64_t folders)
{
    return "( Total selected recovered data to be saved : " + std::to_string(files) + " Files, " +
           std::to_string(folders) + " Folders )";
}

std::string savedSummaryText(std::uint64_t files, std::uint64_t folders)
{
    return "( recovered saved data : " + std::to_string(files) + " Files, " + std::to_string(folders) + " Folders )";
}

std::string wrappedPathText(const std::string& path)
{
    // Characters, not bytes: continuation bytes of UTF-8 do not count.
    std::size_t characters = 0;
    for (unsigned char c : path)
        if ((c & 0xC0) != 0x80) ++characters;
    if (characters <= 70) return path;
    std::string out;
    out.reserve(path.size() + path.size() / 8);
    for (char c : path) {
        if (c == '/') out += ' ';
        out += c;
    }
    return out;
}

}  // namespace kfr::exporting
