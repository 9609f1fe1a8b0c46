// One 32-byte FAT directory entry turned into a named item, the long name gathered from the
// entries in front of it, and the date and time texts shown for it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "storage/bytes.h"
#include "storage/sector_source.h"
#include "volumes/fat_entry.h"

namespace kfr::recovery {

using volumes::kAttrVolumeLabel;
using volumes::kAttrDirectory;
using volumes::kAttrLongName;
using volumes::kDeletedMark;
using volumes::kEntrySize;

// Why an entry yields no item.
enum class EntrySkip {
    None,
    EndMark,       // byte 0 is 0x00: nothing follows in this sector (or directory)
    DotEntry,      // "." or ".."
    LongNamePart,  // attribute 0x0F: read backwards by longNameBefore
    InvalidName,   // control characters or reserved punctuation in the short name
    NonAnsiName,   // characters 0x80..0xFF after conversion (see decodeEntryWithLongName)
    TooShort,      // fewer than 32 bytes given
};

struct DirItem {
    std::string shortName;   // 8.3 name, UTF-8, deleted mark replaced by '_'
    std::string name;        // final name: the long name when there is one, else the short name
    bool deleted = false;
    std::uint32_t firstCluster = 0;
    std::uint32_t size = 0;
    std::uint8_t attr = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint64_t sector = 0;      // absolute sector of the entry
    std::uint32_t byteOffset = 0;  // offset of the entry in that sector

    bool isDirectory() const { return (attr & kAttrDirectory) != 0; }
    // The volume's label: named by all eleven bytes (no name and extension), and no file.
    bool isVolumeLabel() const { return (attr & kAttrVolumeLabel) != 0 && !isDirectory(); }
};

// Decodes one entry; fat32 decides whether the high cluster word counts. Returns nothing for a
// skipped entry and says why through skip. The final name is the short name here; callers that
// have the sector use decodeEntryWithLongName. allowNonAnsi lets characters 0x80..0xFF through.
std::optional<DirItem> decodeEntry(Bytes entry, bool fat32, EntrySkip* skip = nullptr, bool allowNonAnsi = false);

// Which sector comes before a given one in the directory being read: the sector physically
// before, except where a directory's clusters are not contiguous. Nothing at the directory's start.
using PreviousSector = std::function<std::optional<std::uint64_t>(std::uint64_t sector)>;

// The long name stored in the long-name entries just before the entry at byteOffset of sector
// (whose absolute number is sectorNumber), or "" when there is none. Crossing to the previous
// sector reads it from source; previousSector (when given) says which sector that is.
std::string longNameBefore(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                           const storage::SectorSource& source, const PreviousSector& previousSector = {});

// Whether a sector holds nothing but what directory sectors hold: short entries (live or
// deleted) whose fields are sane, long-name entries, and from an end mark on nothing. Used to tell
// the later clusters of a deleted folder, which no chain names any more, from file data.
bool looksLikeDirectorySector(Bytes sector);

// Checksum of an 11-byte short name as long-name entries store it at their offset 13.
std::uint8_t shortNameChecksum(Bytes entry);

// Whether the long-name entry in front of the short entry at byteOffset (in this sector, or at
// the end of the directory's sector before) carries that short entry's checksum. For a deleted
// entry, whose first byte was overwritten, any first byte that agrees will do.
bool provenByLongName(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                      const storage::SectorSource& source, const PreviousSector& previousSector = {});

// decodeEntry, plus the long name from the entries before it. A short name written in another
// code page (bytes 0x80..0xFF, as formatters using OEM code pages produce for accented names) is
// still accepted when the long-name entry in front of it carries that short name's checksum: the
// checksum proves the pair was written together, so the entry is real and its long name is shown.
std::optional<DirItem> decodeEntryWithLongName(Bytes sector, std::size_t byteOffset, std::uint64_t sectorNumber,
                                               bool fat32, const storage::SectorSource& source,
                                               EntrySkip* skip = nullptr, const PreviousSector& previousSector = {});

// The long name when there is one, with the short name's extension appended when the long name
// has none; otherwise the short name.
std::string finalName(const std::string& longName, const std::string& shortName);

// "05-MAR-2009"; months outside 1..12 show as ERR.
std::string formatFatDate(std::uint16_t date);
// The same form from its parts (shared with NTFS time stamps and today's date).
std::string formatDayMonthYear(unsigned day, unsigned month, long long year);
// "23:59:58".
std::string formatFatTime(std::uint16_t time);

}  // namespace kfr::recovery
