// NTFS attribute lists: when a file's attributes do not fit its record (a large or heavily
// fragmented file, a fragmented $MFT), the base record holds an $ATTRIBUTE_LIST naming, for every
// attribute, the record that holds it. Decoding the list, and following it to the extension
// records it names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/mft_record.h"

namespace kfr::recovery {

// One entry of an attribute list: which attribute (type, name, first VCN of its extent) lies in
// which record.
struct AttributeListEntry {
    std::uint32_t type = 0;
    std::string name;  // UTF-8, "" for unnamed
    std::uint64_t lowestVcn = 0;
    FileReference reference;
    std::uint16_t attributeId = 0;
};

// The entries of a list value, in order. The walk ends at a type of 0 or 0xFFFFFFFF, at an entry
// shorter than its fixed part, or at one that runs past the value; a name running past its entry
// is left empty.
std::vector<AttributeListEntry> decodeAttributeList(Bytes value);

// What following a list needs from the volume: records by number, and the bytes of a
// non-resident attribute (a long list is itself non-resident).
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // Reads and fixes up record n; false when it lies outside the table, cannot be read or is no
    // file record.
    virtual bool readRecordNumber(std::uint64_t n, MftRecordBytes& record) const = 0;
    // At most maxBytes of a non-resident attribute's value, or nothing when it cannot be read.
    virtual std::optional<std::vector<std::uint8_t>> nonResidentValue(Bytes record, const AttributeRef& attr,
                                                                      std::size_t maxBytes) const = 0;
};

// Lists longer than this are damaged: NTFS keeps a list within 256 KiB.
inline constexpr std::size_t kMaxAttributeListBytes = 256 * 1024;
// Extension records followed per file at the most.
inline constexpr std::size_t kMaxExtensionRecords = 4096;

// The records that hold one file's attributes, the base record first.
struct FileRecords {
    std::vector<std::uint64_t> numbers;
    std::vector<MftRecordBytes> records;
    std::uint32_t refused = 0;  // records the list names that are unreadable or no longer this file's
};

// The base record and every extension record its attribute list names, each once, in list
// order. An extension record is taken only when it names this base as its base (record number,
// and sequence number as referenceStillValid judges it) and its own sequence number still matches
// the list's reference: a record freed and reused by another file is refused. Entries naming the
// base itself, repeats, and loops add nothing; records beyond the table are refused.
FileRecords followAttributeList(const RecordSource& source, std::uint64_t baseNumber, const MftRecordBytes& base);

}  // namespace kfr::recovery
