// Windows-1252, UTF-16 and UTF-8 conversions.
#include "recovery/text_encoding.h"

#include <array>

namespace kfr::recovery {

namespace {

// Windows-1252 bytes 0x80..0x9F; the five undefined bytes keep their own value.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::u32string decodeWindows1252(const std::string& bytes)
{
    std::u32string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) out += (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80] : static_cast<char32_t>(b);
    return out;
}

std::string toUtf8(const std::u32string& text)
{
    std::string out;
    for (char32_t c : text) appendUtf8(out, c);
    return out;
}

std::string utf16ToUtf8(const std::vector<std::uint16_t>& units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

std::string utf16LeToUtf8(Bytes bytes, std::size_t offset, std::size_t unitCount)
{
    std::vector<std::uint16_t> units;
    units.reserve(unitCount);
    for (std::size_t i = 0; i < unitCount && offset + 2 * i + 1 < bytes.size(); ++i)
        units.push_back(readLe16(bytes, offset + 2 * i));
    return utf16ToUtf8(units);
}

}  // namespace kfr::recovery
