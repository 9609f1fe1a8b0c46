// FAT directory entry decoding.
#include "recovery/dir_entry.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "recovery/text_encoding.h"

namespace kfr::recovery {

using namespace volumes;  // the entry layout

namespace {

constexpr std::size_t kMaxLongName = 255;

// Attribute bits 0x40 and 0x80 are never set, the case byte holds only its two flags, and a date
// or time (when there is one) names a real day and hour.
bool plausibleEntryFields(Bytes e)
{
    if (e[kEntryAttrOffset] & 0xC0) return false;
    if (e[kEntryNtFlagsOffset] & ~(kLowerCaseBase | kLowerCaseExtension)) return false;
    const std::uint16_t date = readLe16(e, kEntryDateOffset);
    const std::uint16_t time = readLe16(e, kEntryTimeOffset);
    const unsigned month = (date >> 5) & 0x0F;
    if (date != 0 && ((date & 0x1F) == 0 || month == 0 || month > 12)) return false;
    if ((time >> 11) > 23 || ((time >> 5) & 0x3F) > 59 || (time & 0x1F) > 29) return false;
    return true;
}

inline bool isInvalidNameChar(char32_t c)
{
    if (c >= 1 && c <= 31) return true;
    switch (c) {
    case '"': case '\\': case '/': case '?': case '*': case '<': case '>': case '|': case ':': return true;
    default: return false;
    }
}

std::string trimmed(const std::string& s)
{
    const auto a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

}  // namespace

std::optional<DirItem> decodeEntry(Bytes e, bool fat32, EntrySkip* skip, bool allowNonAnsi)
{
    auto skipped = [&](EntrySkip why) -> std::optional<DirItem> {
        if (skip) *skip = why;
        return std::nullopt;
    };
    if (e.size() < kEntrySize) return skipped(EntrySkip::TooShort);
    if (e[0] == 0x00) return skipped(EntrySkip::EndMark);
    if (e[0] == '.' && e[3] == ' ') return skipped(EntrySkip::DotEntry);
    const std::uint8_t attr = e[kEntryAttrOffset];
    if (attr == kAttrLongName) return skipped(EntrySkip::LongNamePart);

    DirItem item;
    auto finish = [&](std::string name) -> std::optional<DirItem> {
        item.shortName = std::move(name);
        item.name = item.shortName;
        item.attr = attr;
        item.time = readLe16(e, kEntryTimeOffset);
        item.date = readLe16(e, kEntryDateOffset);
        item.size = readLe32(e, kEntryFileSizeOffset);
        item.firstCluster = entryFirstCluster(e, fat32);
        if (skip) *skip = EntrySkip::None;
        return item;
    };
    const bool label = (attr & kAttrVolumeLabel) && !(attr & kAttrDirectory);
    // Most names are plain ASCII, which reads the same in every code page: made straight into
    // their text (a listing of a large volume decodes millions of them).
    if (!label && e[0] != 0x05 && std::all_of(e.begin(), e.begin() + 11, [](std::uint8_t b) { return b < 0x80; })) {
        const std::uint8_t flags = e[kEntryNtFlagsOffset];
        char name[12];
        std::size_t length = 0;
        auto add = [&](std::size_t from, std::size_t to, bool lower) {
            for (std::size_t i = from; i < to; ++i) {
                char c = static_cast<char>(e[i]);
                if (c == ' ') continue;
                if (isInvalidNameChar(static_cast<char32_t>(c))) return false;
                if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
                name[length++] = c;
            }
            return true;
        };
        if (!add(0, 8, flags & kLowerCaseBase)) return skipped(EntrySkip::InvalidName);
        if (e[8] != ' ') name[length++] = '.';
        if (!add(8, 11, flags & kLowerCaseExtension)) return skipped(EntrySkip::InvalidName);
        return finish(std::string(name, length));
    }
    std::u32string text;
    if (label) {
        // A label is eleven characters, not a name and an extension: "CHS_FAT32  " stays
        // "CHS_FAT32". Only trailing blanks are padding.
        std::string raw(reinterpret_cast<const char*>(e.data()), 11);
        raw.erase(raw.find_last_not_of(' ') + 1);
        text = decodeOemName(raw);
    } else {
        // Spaces are dropped wherever they stand, inside the base name too.
        std::string base, extension;
        for (std::size_t i = 0; i < 8; ++i)
            if (e[i] != ' ') base += static_cast<char>(e[i]);
        for (std::size_t i = 8; i < 11; ++i)
            if (e[i] != ' ') extension += static_cast<char>(e[i]);
        if (!base.empty() && static_cast<std::uint8_t>(base[0]) == kDeletedMark) {
            item.deleted = true;
            base[0] = '_';
        } else if (!base.empty() && base[0] == 0x05) {
            // A name whose first character is 0xE5 in its code page is stored with 0x05 there,
            // so that it is not taken for the deleted mark.
            base[0] = static_cast<char>(kDeletedMark);
        }
        // Lower-case flags give the name as the system that wrote it showed it ("receipts",
        // "january.csv").
        const std::uint8_t flags = e[kEntryNtFlagsOffset];
        std::u32string baseText = decodeOemName(base);
        std::u32string extensionText = decodeOemName(extension);
        if (flags & kLowerCaseBase)
            for (char32_t& c : baseText) c = lowerLatin(c);
        if (flags & kLowerCaseExtension)
            for (char32_t& c : extensionText) c = lowerLatin(c);
        text = baseText;
        if (e[8] != ' ') text += U'.';
        text += extensionText;
    }
    bool nonAscii = false;
    for (char32_t c : text) {
        if (isInvalidNameChar(c)) return skipped(EntrySkip::InvalidName);
        if (c >= 0x80) nonAscii = true;
    }
    // Names written in an OEM code page are real names, but bytes from 0x80 on also make random
    // data pass for an entry; such a name is taken when a long name proves it, or when the rest
    // of the entry holds what a real entry holds.
    if (nonAscii && !allowNonAnsi && !plausibleEntryFields(e)) return skipped(EntrySkip::NonAnsiName);

    return finish(toUtf8(text));
}

std::string longNameBefore(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                           const storage::SectorSource& source, const PreviousSector& previousSector)
{
    std::vector<std::uint16_t> name;
    std::array<std::uint8_t, storage::kSectorSize> previous;  // filled by the read before any use
    Bytes current = sector;
    std::int64_t offset = static_cast<std::int64_t>(byteOffset);
    std::uint64_t currentNumber = sectorNumber;
    bool firstEntry = true;
    for (;;) {
        offset -= static_cast<std::int64_t>(kEntrySize);
        if (offset < 0) {
            // The name may begin in the sector before, even in the directory's previous cluster.
            std::optional<std::uint64_t> before;
            if (previousSector)
                before = previousSector(currentNumber);
            else if (currentNumber > 0)
                before = currentNumber - 1;
            if (!before || !source.read(*before, 1, previous)) break;
            current = Bytes(previous);
            currentNumber = *before;
            offset = static_cast<std::int64_t>(storage::kSectorSize - kEntrySize);
        }
        const Bytes entry = current.subspan(static_cast<std::size_t>(offset), kEntrySize);
        if (entry[kEntryAttrOffset] != kAttrLongName) break;
        bool ended = false;
        for (std::size_t off : kLongNameCharOffsets) {
            const std::uint16_t ch = readLe16(entry, off);
            if (ch == 0x0000) {
                ended = true;
                break;
            }
            name.push_back(ch);
        }
        if (firstEntry && name.empty()) return {};
        firstEntry = false;
        if (ended || name.size() > kMaxLongName) break;
    }
    return utf16ToUtf8(name);
}

bool looksLikeDirectorySector(Bytes sector)
{
    std::size_t entries = 0;
    for (std::size_t off = 0; off + kEntrySize <= sector.size(); off += kEntrySize) {
        const Bytes e = sector.subspan(off, kEntrySize);
        if (e[0] == 0x00) break;
        ++entries;
        if (e[kEntryAttrOffset] == kAttrLongName) {
            // A long-name part: its type byte and cluster word are always 0.
            if (e[12] != 0 || readLe16(e, kEntryClusterLowOffset) != 0) return false;
            continue;
        }
        if (!plausibleEntryFields(e)) return false;
        EntrySkip skip = EntrySkip::None;
        if (!decodeEntry(e, false, &skip, true) && skip != EntrySkip::DotEntry) return false;
    }
    return entries > 0;
}

std::uint8_t shortNameChecksum(Bytes entry)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11 && i < entry.size(); ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

bool provenByLongName(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                      const storage::SectorSource& source, const PreviousSector& previousSector)
{
    if (byteOffset + kEntrySize > sector.size()) return false;
    const Bytes entry = sector.subspan(byteOffset, kEntrySize);
    // The entry in front: in this sector, or the last of the directory's sector before it.
    std::array<std::uint8_t, kEntrySize> before{};
    if (byteOffset >= kEntrySize) {
        std::copy_n(sector.begin() + static_cast<std::ptrdiff_t>(byteOffset - kEntrySize), kEntrySize, before.begin());
    } else {
        std::optional<std::uint64_t> previous;
        if (previousSector)
            previous = previousSector(sectorNumber);
        else if (sectorNumber > 0)
            previous = sectorNumber - 1;
        if (!previous) return false;
        const auto bytes = storage::readOneSector(source, *previous);
        if (!bytes) return false;
        std::copy_n(bytes->begin() + (storage::kSectorSize - kEntrySize), kEntrySize, before.begin());
    }
    if (before[kEntryAttrOffset] != kAttrLongName) return false;
    const std::uint8_t checksum = before[kLongNameChecksumOffset];
    if (entry[0] != kDeletedMark) return checksum == shortNameChecksum(entry);
    // Deleting overwrote the first byte, which the checksum covers: any first byte that makes
    // the checksum agree proves the pair.
    std::array<std::uint8_t, 11> name{};
    std::copy_n(entry.begin(), 11, name.begin());
    for (unsigned first = 0x20; first <= 0xFF; ++first) {
        if (first == kDeletedMark) continue;
        name[0] = static_cast<std::uint8_t>(first);
        if (shortNameChecksum(name) == checksum) return true;
    }
    return false;
}

std::optional<DirItem> decodeEntryWithLongName(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                                               bool fat32, const storage::SectorSource& source, EntrySkip* skip,
                                               const PreviousSector& previousSector)
{
    EntrySkip why = EntrySkip::None;
    const Bytes entry = sector.subspan(byteOffset, std::min(kEntrySize, sector.size() - byteOffset));
    auto item = decodeEntry(entry, fat32, &why);
    if (!item && why == EntrySkip::NonAnsiName && provenByLongName(sector, byteOffset, sectorNumber, source, previousSector))
        item = decodeEntry(entry, fat32, &why, true);
    if (!item) {
        if (skip) *skip = why;
        return std::nullopt;
    }
    item->sector = sectorNumber;
    item->byteOffset = static_cast<std::uint32_t>(byteOffset);
    // Without a long name the final name is the short one decodeEntry gave it already.
    if (std::string longName = longNameBefore(sector, byteOffset, sectorNumber, source, previousSector); !longName.empty())
        item->name = finalName(longName, item->shortName);
    if (skip) *skip = EntrySkip::None;
    return item;
}

std::string finalName(const std::string& longName, const std::string& shortName)
{
    if (longName.empty()) return shortName;
    std::string name = longName;
    if (trimmed(name).find('.') == std::string::npos) {
        const auto dot = shortName.rfind('.');
        if (dot != std::string::npos) name += trimmed(shortName.substr(dot));
    }
    return name;
}

std::string formatDayMonthYear(unsigned day, unsigned month, long long year)
{
    static constexpr std::array<const char*, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    char text[40];
    std::snprintf(text, sizeof text, "%02u-%s-%04lld", day, (month >= 1 && month <= 12) ? kMonths[month - 1] : "ERR",
                  year);
    return text;
}

std::string formatFatDate(std::uint16_t date)
{
    return formatDayMonthYear(date & 0x1F, (date >> 5) & 0x0F, ((date >> 9) & 0x7F) + 1980);
}

std::string formatFatTime(std::uint16_t time)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
    return text;
}

}  // namespace kfr::recovery
