// Attribute-list decoding and following.
#include "recovery/attribute_list.h"

#include <unordered_set>

#include "recovery/text_encoding.h"

namespace kfr::recovery {

namespace {
// Inside a list entry.
constexpr std::size_t kEntryLength = 4;
constexpr std::size_t kEntryNameLength = 6;
constexpr std::size_t kEntryNameOffset = 7;
constexpr std::size_t kEntryLowestVcn = 8;
constexpr std::size_t kEntryReference = 16;
constexpr std::size_t kEntryAttributeId = 24;
constexpr std::size_t kEntryFixedBytes = 26;
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
}  // namespace

std::vector<AttributeListEntry> decodeAttributeList(Bytes value)
{
    std::vector<AttributeListEntry> out;
    std::size_t off = 0;
    while (off + kEntryFixedBytes <= value.size()) {
        AttributeListEntry e;
        e.type = readLe32(value, off);
        if (e.type == 0 || e.type == kEndMarker) break;
        const std::size_t length = readLe16(value, off + kEntryLength);
        if (length < kEntryFixedBytes || length > value.size() - off) break;
        const std::size_t nameUnits = readU8(value, off + kEntryNameLength);
        const std::size_t nameOffset = readU8(value, off + kEntryNameOffset);
        if (nameUnits > 0 && nameOffset + 2 * nameUnits <= length)
            e.name = utf16LeToUtf8(value, off + nameOffset, nameUnits);
        e.lowestVcn = readLe64(value, off + kEntryLowestVcn);
        e.reference = decodeReference(readLe64(value, off + kEntryReference));
        e.attributeId = readLe16(value, off + kEntryAttributeId);
        out.push_back(std::move(e));
        off += length;
    }
    return out;
}

FileRecords followAttributeList(const RecordSource& source, std::uint64_t baseNumber, const MftRecordBytes& base)
{
    FileRecords out;
    out.numbers.push_back(baseNumber);
    out.records.push_back(base);

    std::optional<std::vector<std::uint8_t>> value;
    for (const auto& attr : listAttributes(base)) {
        if (attr.type != kAttrAttributeList) continue;
        if (attr.nonResident == 0) {
            if (const auto v = residentValue(base, attr)) value.emplace(v->begin(), v->end());
        } else {
            value = source.nonResidentValue(base, attr, kMaxAttributeListBytes);
        }
        break;
    }
    if (!value) return out;

    const std::uint16_t baseSequence = recordSequence(base);
    const bool baseInUse = recordInUse(base);
    std::unordered_set<std::uint64_t> seen{baseNumber};
    MftRecordBytes other{};
    for (const auto& entry : decodeAttributeList(*value)) {
        if (!seen.insert(entry.reference.record).second) continue;
        if (out.records.size() > kMaxExtensionRecords) break;
        if (!source.readRecordNumber(entry.reference.record, other)) {
            ++out.refused;
            continue;
        }
        const FileReference owner = decodeReference(baseReference(other));
        const bool ours = owner.record == baseNumber && referenceStillValid(owner.sequence, baseSequence, baseInUse) &&
                          referenceStillValid(entry.reference.sequence, recordSequence(other), recordInUse(other));
        if (!ours) {
            ++out.refused;
            continue;
        }
        out.numbers.push_back(entry.reference.record);
        out.records.push_back(other);
    }
    return out;
}

}  // namespace kfr::recovery
