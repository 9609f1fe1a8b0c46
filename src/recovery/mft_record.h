// Decoding NTFS file records: the update-sequence fix-up, the record header, the attribute walk,
// attribute headers, file-name values, and the display of NTFS time stamps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/bytes.h"

namespace kfr::recovery {

inline constexpr std::size_t kMftRecordBytes = 1024;
inline constexpr std::uint32_t kAttrStandardInformation = 0x10;
inline constexpr std::uint32_t kAttrAttributeList = 0x20;
inline constexpr std::uint32_t kAttrFileName = 0x30;
inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kRootRecord = 5;
inline constexpr std::uint32_t kExtendRecord = 11;      // the $Extend folder
inline constexpr std::uint32_t kFirstUserRecord = 16;   // records below are the volume's own files

// Attribute header flags.
inline constexpr std::uint16_t kAttrFlagCompressed = 0x0001;
inline constexpr std::uint16_t kAttrFlagEncrypted = 0x4000;
inline constexpr std::uint16_t kAttrFlagSparse = 0x8000;

using MftRecordBytes = std::array<std::uint8_t, kMftRecordBytes>;

// Why a record is not used.
enum class RecordVerdict { Usable, NoFileMagic, BadUpdateSequence };

// Checks the "FILE" magic and applies the update-sequence array: each entry after the first
// replaces the last two bytes of one 512-byte sector of the record.
RecordVerdict applyFixup(std::span<std::uint8_t> record);

// A 64-bit file reference: record number (low 48 bits) and the sequence number the record had.
struct FileReference {
    std::uint64_t record = 0;
    std::uint16_t sequence = 0;
};
FileReference decodeReference(std::uint64_t raw);

// Whether a reference made when the record had refSequence still names the record that now has
// recordSequence. NTFS raises a record's sequence number when it frees the record (and keeps it
// when the record is reused), so a freed record one step ahead is still the same file: only a
// record in use is a newcomer. A sequence of 0 is not checked (old or hand-made references).
bool referenceStillValid(std::uint16_t refSequence, std::uint16_t recordSequence, bool recordInUse);

// Record header fields.
std::uint16_t recordSequence(Bytes record);
// The base record of an extension record, whole: a base of record 0 (the $MFT's own extensions)
// still has its sequence number in the high bits, so only 0 as a whole means "no base".
std::uint64_t baseReference(Bytes record);
// The record's own number as NTFS 3.1 stores it in the header (32 bits; 0 on older volumes).
std::uint32_t statedRecordNumber(Bytes record);
// Low byte of the record's flags: 0x01 in use, 0x02 directory.
std::uint8_t recordFlags(Bytes record);
inline bool recordInUse(Bytes record) { return (recordFlags(record) & 0x01) != 0; }

struct AttributeRef {
    std::uint32_t type = 0;
    std::size_t offset = 0;
    std::uint32_t length = 0;
    std::uint8_t nonResident = 0;
    std::uint8_t nameLength = 0;  // UTF-16 code units
    std::uint16_t nameOffset = 0;
    std::uint16_t flags = 0;      // kAttrFlag...
};

// The attributes from the offset in the word at 20, stepping by each one's length. The walk ends
// at a type of 0 or 0xFFFFFFFF, a length of 0 or over 1,024, or past the record.
std::vector<AttributeRef> listAttributes(Bytes record);

// The attribute's name in UTF-8 ("" for an unnamed one, or when the name runs past the attribute).
std::string attributeName(Bytes record, const AttributeRef& attr);

// The value of a resident attribute, or nothing when it is non-resident or runs past the record.
std::optional<Bytes> residentValue(Bytes record, const AttributeRef& attr);

// The header of a non-resident attribute. Only the extent that starts at VCN 0 carries the sizes
// of the whole attribute; later extents hold 0 there.
struct NonResidentHeader {
    std::uint64_t lowestVcn = 0;
    std::uint64_t highestVcn = 0;
    std::uint8_t compressionUnit = 0;  // log2 of clusters per compression unit
    std::uint64_t allocatedSize = 0;
    std::uint64_t realSize = 0;
    std::uint64_t initializedSize = 0;
};
std::optional<NonResidentHeader> nonResidentHeader(Bytes record, const AttributeRef& attr);

struct FileNameValue {
    FileReference parent;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::uint8_t nameSpace = 0;      // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::string name;                // UTF-8
};

std::optional<FileNameValue> decodeFileName(Bytes value);

// The modification time of the record's standard-information attribute (what file managers
// show), or nothing when the record has none.
std::optional<std::uint64_t> modificationTime(Bytes record);

// NTFS time stamps (100 ns units since 1601, shown as stored) in the FAT display forms.
std::string formatNtfsDate(std::uint64_t stamp);
std::string formatNtfsTime(std::uint64_t stamp);

}  // namespace kfr::recovery
