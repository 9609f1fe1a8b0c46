// Escaping, widths, sizes and times for terminal output.
#include "cli/terminal_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace kfr::cli {

namespace {

// One decoded UTF-8 character: its code point and its length in bytes; length 0 for a byte
// that starts no valid sequence.
struct Decoded {
    char32_t code = 0;
    std::size_t length = 0;
};

Decoded decodeAt(std::string_view s, std::size_t i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {b0, 1};
    std::size_t n = 0;
    char32_t code = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        code = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        code = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        code = b0 & 0x07;
    } else {
        return {};
    }
    if (i + n > s.size()) return {};
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return {};
        code = (code << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are no valid UTF-8.
    static constexpr std::array<char32_t, 5> kMinimum = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, n};
}

bool mustEscape(char32_t c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) ||  // C0, DEL, C1 controls
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||  // bidirectional overrides
           c == 0x200E || c == 0x200F || c == 0x061C ||                     // direction marks
           c == 0x2028 || c == 0x2029;                                     // line and paragraph separators
}

struct Range {
    char32_t first;
    char32_t last;
};

// East Asian wide and fullwidth characters, and emoji, which terminals draw two columns wide.
constexpr std::array kWide = {
    Range{0x1100, 0x115F},   Range{0x231A, 0x231B},   Range{0x2329, 0x232A},   Range{0x23E9, 0x23EC},
    Range{0x2E80, 0x303E},   Range{0x3041, 0x33FF},   Range{0x3400, 0x4DBF},   Range{0x4E00, 0x9FFF},
    Range{0xA000, 0xA4CF},   Range{0xA960, 0xA97F},   Range{0xAC00, 0xD7A3},   Range{0xF900, 0xFAFF},
    Range{0xFE10, 0xFE19},   Range{0xFE30, 0xFE6F},   Range{0xFF00, 0xFF60},   Range{0xFFE0, 0xFFE6},
    Range{0x1F300, 0x1F64F}, Range{0x1F900, 0x1F9FF}, Range{0x20000, 0x2FFFD}, Range{0x30000, 0x3FFFD},
};

// Combining marks and zero-width characters, drawn on the character before them.
constexpr std::array kZeroWidth = {
    Range{0x0300, 0x036F}, Range{0x0483, 0x0489}, Range{0x0591, 0x05BD}, Range{0x0610, 0x061A},
    Range{0x064B, 0x065F}, Range{0x1AB0, 0x1AFF}, Range{0x1DC0, 0x1DFF}, Range{0x200B, 0x200D},
    Range{0x20D0, 0x20FF}, Range{0xFE00, 0xFE0F}, Range{0xFE20, 0xFE2F},
};

template <std::size_t N>
bool within(const std::array<Range, N>& ranges, char32_t c)
{
    for (const auto& r : ranges)
        if (c >= r.first && c <= r.last) return true;
    return false;
}

void appendHex(std::string& out, const char* format, unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    out += buf;
}

}  // namespace

std::string escapeForTerminal(std::string_view text)
{
    // Most names are printable ASCII with nothing to escape (a listing prints every name).
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }))
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = decodeAt(text, i);
        if (d.length == 0) {
            appendHex(out, "\\x%02X", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (d.code == '\\') {
            out += "\\\\";
        } else if (mustEscape(d.code)) {
            appendHex(out, d.code < 0x80 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(d.code));
        } else {
            out.append(text.substr(i, d.length));
        }
        i += d.length;
    }
    return out;
}

std::size_t displayWidth(std::string_view text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        // Plain ASCII is one column a byte (a listing measures every name of a volume).
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++width;
            ++i;
            continue;
        }
        const Decoded d = decodeAt(text, i);
        if (d.length == 0) {
            ++width;
            ++i;
            continue;
        }
        if (within(kWide, d.code))
            width += 2;
        else if (!within(kZeroWidth, d.code))
            width += 1;
        i += d.length;
    }
    return width;
}

void appendPadded(std::string& out, std::string_view text, std::size_t width, bool alignRight)
{
    const std::size_t have = displayWidth(text);
    const std::size_t spaces = have < width ? width - have : 0;
    if (alignRight) out.append(spaces, ' ');
    out += text;
    if (!alignRight) out.append(spaces, ' ');
}

std::string padToWidth(const std::string& text, std::size_t width)
{
    std::string out;
    appendPadded(out, text, width);
    return out;
}

std::string padLeftToWidth(const std::string& text, std::size_t width)
{
    std::string out;
    appendPadded(out, text, width, true);
    return out;
}

std::string humanSize(std::uint64_t bytes)
{
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static constexpr std::array<const char*, 6> kUnits = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", value, kUnits[unit]);
    return buf;
}

std::optional<std::string> isoTime(const recovery::ItemRow& row)
{
    char buf[40];
    if (row.timeKind == recovery::RowTime::NtfsStamp) {
        // 100 ns units since 1601-01-01, UTC.
        constexpr std::uint64_t kTicksPerSecond = 10000000;
        constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
        if (row.ntfsStamp == 0) return std::nullopt;
        const std::time_t seconds =
            static_cast<std::time_t>(static_cast<std::int64_t>(row.ntfsStamp / kTicksPerSecond) - kSecondsFrom1601To1970);
        std::tm utc{};
        if (!gmtime_r(&seconds, &utc)) return std::nullopt;
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                      utc.tm_hour, utc.tm_min, utc.tm_sec);
        return std::string(buf);
    }
    if (row.timeKind != recovery::RowTime::FatWords) return std::nullopt;
    // Date: years since 1980 in bits 9-15, month 5-8, day 0-4. Time: hours 11-15, minutes 5-10,
    // two-second units 0-4.
    const unsigned year = 1980u + (row.fatDate >> 9), month = (row.fatDate >> 5) & 0x0F, day = row.fatDate & 0x1F;
    const unsigned hour = row.fatTime >> 11, minute = (row.fatTime >> 5) & 0x3F, second = (row.fatTime & 0x1F) * 2u;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", year, month, day, hour, minute, second);
    return std::string(buf);
}

}  // namespace kfr::cli
