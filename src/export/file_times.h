// The modification times saved files and folders get back: what their entry or record holds, so
// a restored folder of photos sorts by date as it did on the medium.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace kfr::exporting {

// A FAT date and time word pair, written as local time by the system that wrote the entry, as a
// point in time. Nothing for a date word that names no day (0, month 0 or above 12, day 0).
std::optional<struct timespec> fatEntryTime(std::uint16_t date, std::uint16_t time);

// An NTFS time stamp (100 ns units since 1601, UTC). Nothing for 0 or a time before 1970 that
// the file system cannot hold.
std::optional<struct timespec> ntfsStampTime(std::uint64_t stamp);

}  // namespace kfr::exporting
