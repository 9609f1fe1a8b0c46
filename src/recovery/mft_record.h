// Decoding NTFS file records: the update-sequence fix-up, the attribute walk, file-name values,
// and the display of NTFS time stamps.
#pragma once

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

// Why a record is not used.
enum class RecordVerdict { Usable, NoFileMagic, BadUpdateSequence };

// Checks the "FILE" magic and applies the update-sequence array: each entry after the first
// replaces the last two bytes of one 512-byte sector of the record.
RecordVerdict applyFixup(std::span<std::uint8_t> record);

struct AttributeRef {
    std::uint32_t type = 0;
    std::size_t offset = 0;
    std::uint32_t length = 0;
    std::uint8_t nonResident = 0;
    std::uint8_t nameLength = 0;
};

// The attributes from the offset in the word at 20, stepping by each one's length. The walk ends
// at a type of 0 or 0xFFFFFFFF, a length of 0 or over 1,024, or past the record.
std::vector<AttributeRef> listAttributes(Bytes record);

// The value of a resident attribute, or nothing when it is non-resident or runs past the record.
std::optional<Bytes> residentValue(Bytes record, const AttributeRef& attr);

struct FileNameValue {
    std::uint64_t parentRecord = 0;  // low 48 bits of the parent reference
    std::uint64_t creationTime = 0;
    std::uint8_t nameSpace = 0;      // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::string name;                // UTF-8
};

std::optional<FileNameValue> decodeFileName(Bytes value);

// Record numbers named by a resident attribute-list value, in list order (ends at type 0 or
// 0xFFFFFFFF).
std::vector<std::uint64_t> attributeListRecords(Bytes value);

// The modification time of the record's standard-information attribute (what file managers
// show), or nothing when the record has none.
std::optional<std::uint64_t> modificationTime(Bytes record);

// Low byte of the record's flags: 0x01 in use, 0x02 directory.
std::uint8_t recordFlags(Bytes record);

// NTFS time stamps (100 ns units since 1601, shown as stored) in the FAT display forms.
std::string formatNtfsDate(std::uint64_t stamp);
std::string formatNtfsTime(std::uint64_t stamp);

}  // namespace kfr::recovery
