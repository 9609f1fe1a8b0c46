// FAT and NTFS time stamps as file times.
#include "export/file_times.h"

namespace kfr::exporting {

std::optional<struct timespec> fatEntryTime(std::uint16_t date, std::uint16_t time)
{
    const int day = date & 0x1F;
    const int month = (date >> 5) & 0x0F;
    if (day == 0 || month == 0 || month > 12) return std::nullopt;
    std::tm local{};
    local.tm_year = ((date >> 9) & 0x7F) + 1980 - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = (time >> 11) & 0x1F;
    local.tm_min = (time >> 5) & 0x3F;
    local.tm_sec = (time & 0x1F) * 2;
    local.tm_isdst = -1;  // FAT keeps no zone or summer-time flag: let the local rules decide
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return timespec{seconds, 0};
}

std::optional<struct timespec> ntfsStampTime(std::uint64_t stamp)
{
    // 1601-01-01 to 1970-01-01 in 100 ns units.
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;
    if (stamp <= kUnixEpoch) return std::nullopt;
    const std::uint64_t since = stamp - kUnixEpoch;
    return timespec{static_cast<std::time_t>(since / 10000000ULL), static_cast<long>((since % 10000000ULL) * 100)};
}

}  // namespace kfr::exporting
