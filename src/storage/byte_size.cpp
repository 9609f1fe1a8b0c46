// Size texts.
#include "storage/byte_size.h"

#include <cstdio>

namespace kfr::storage {

std::string formatByteSize(std::uint64_t bytes)
{
    char text[64];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%u Byte", static_cast<unsigned>(bytes));
        return text;
    }
    static constexpr char kUnits[] = "KMGTPEZY";
    std::uint64_t value = bytes;
    std::size_t divisions = 0;
    while (value >= 1048576) {
        // (value + 512) / 1024 without the overflow that adding first would risk near 2^64.
        value = value / 1024 + (value % 1024 >= 512 ? 1 : 0);
        ++divisions;
    }
    // 2^64 needs five divisions at most, so the letter index stays inside "KMGTPEZY".
    std::snprintf(text, sizeof text, "%6.2f %cB", static_cast<double>(value) / 1024.0, kUnits[divisions]);
    return text;
}

std::string sizeText(std::uint64_t bytes)
{
    return trimText(formatByteSize(bytes));
}

std::string trimText(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace kfr::storage
