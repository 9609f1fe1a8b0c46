// NTFS file record decoding.
#include "recovery/mft_record.h"

#include <array>
#include <cstdio>

#include "recovery/dir_entry.h"
#include "recovery/text_encoding.h"

namespace kfr::recovery {

namespace {
constexpr std::size_t kUsaOffsetField = 4;
constexpr std::size_t kUsaCountField = 6;
constexpr std::size_t kSequenceField = 16;
constexpr std::size_t kFirstAttributeField = 20;
constexpr std::size_t kFlagsField = 22;
constexpr std::size_t kBaseReferenceField = 32;
constexpr std::size_t kRecordNumberField = 44;
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
// Inside an attribute header.
constexpr std::size_t kAttrNameLength = 9;
constexpr std::size_t kAttrNameOffset = 10;
constexpr std::size_t kAttrFlags = 12;
constexpr std::size_t kNonResidentHeaderBytes = 64;
constexpr std::size_t kLowestVcn = 16;
constexpr std::size_t kHighestVcn = 24;
constexpr std::size_t kCompressionUnit = 34;
constexpr std::size_t kAllocatedSize = 40;
constexpr std::size_t kRealSize = 48;
constexpr std::size_t kInitializedSize = 56;
// Inside a file-name value.
constexpr std::size_t kFnCreationTime = 8;
constexpr std::size_t kFnModificationTime = 16;
constexpr std::size_t kFnNameLength = 64;
constexpr std::size_t kFnNameSpace = 65;
constexpr std::size_t kFnName = 66;
}  // namespace

RecordVerdict applyFixup(std::span<std::uint8_t> record)
{
    if (!bytesEqual(record, 0, "FILE")) return RecordVerdict::NoFileMagic;
    const std::size_t usaOffset = readLe16(record, kUsaOffsetField);
    const std::size_t usaCount = readLe16(record, kUsaCountField);
    if (usaCount == 0) return RecordVerdict::Usable;
    if (usaOffset + 2 * usaCount > record.size()) return RecordVerdict::BadUpdateSequence;
    for (std::size_t i = 1; i < usaCount; ++i) {
        const std::size_t sectorEnd = i * 512;
        if (sectorEnd > record.size()) break;
        record[sectorEnd - 2] = record[usaOffset + 2 * i];
        record[sectorEnd - 1] = record[usaOffset + 2 * i + 1];
    }
    return RecordVerdict::Usable;
}

FileReference decodeReference(std::uint64_t raw)
{
    return {raw & 0x0000FFFFFFFFFFFFULL, static_cast<std::uint16_t>(raw >> 48)};
}

bool referenceStillValid(std::uint16_t refSequence, std::uint16_t recordSequence, bool recordInUse)
{
    if (refSequence == 0 || refSequence == recordSequence) return true;
    return !recordInUse && static_cast<std::uint16_t>(refSequence + 1) == recordSequence;
}

std::uint16_t recordSequence(Bytes record)
{
    return readLe16(record, kSequenceField);
}

std::uint64_t baseReference(Bytes record)
{
    return readLe64(record, kBaseReferenceField);
}

std::uint32_t statedRecordNumber(Bytes record)
{
    return readLe32(record, kRecordNumberField);
}

std::uint8_t recordFlags(Bytes record)
{
    return readU8(record, kFlagsField);
}

std::vector<AttributeRef> listAttributes(Bytes record)
{
    std::vector<AttributeRef> out;
    std::size_t off = readLe16(record, kFirstAttributeField);
    while (off + 16 <= record.size() && off < kMftRecordBytes) {
        AttributeRef a;
        a.type = readLe32(record, off);
        if (a.type == 0 || a.type == kEndMarker) break;
        a.length = readLe32(record, off + 4);
        if (a.length == 0 || a.length > kMftRecordBytes) break;
        a.offset = off;
        a.nonResident = readU8(record, off + 8);
        a.nameLength = readU8(record, off + kAttrNameLength);
        a.nameOffset = readLe16(record, off + kAttrNameOffset);
        a.flags = readLe16(record, off + kAttrFlags);
        out.push_back(a);
        off += a.length;
    }
    return out;
}

std::string attributeName(Bytes record, const AttributeRef& attr)
{
    if (attr.nameLength == 0) return {};
    const std::size_t start = attr.offset + attr.nameOffset;
    const std::size_t bytes = 2 * static_cast<std::size_t>(attr.nameLength);
    if (attr.nameOffset + bytes > attr.length || start + bytes > record.size()) return {};
    return utf16LeToUtf8(record, start, attr.nameLength);
}

std::optional<NonResidentHeader> nonResidentHeader(Bytes record, const AttributeRef& attr)
{
    if (attr.nonResident != 1 || attr.length < kNonResidentHeaderBytes ||
        attr.offset + kNonResidentHeaderBytes > record.size())
        return std::nullopt;
    NonResidentHeader h;
    h.lowestVcn = readLe64(record, attr.offset + kLowestVcn);
    h.highestVcn = readLe64(record, attr.offset + kHighestVcn);
    h.compressionUnit = readU8(record, attr.offset + kCompressionUnit);
    h.allocatedSize = readLe64(record, attr.offset + kAllocatedSize);
    h.realSize = readLe64(record, attr.offset + kRealSize);
    h.initializedSize = readLe64(record, attr.offset + kInitializedSize);
    return h;
}

std::optional<Bytes> residentValue(Bytes record, const AttributeRef& attr)
{
    if (attr.nonResident != 0) return std::nullopt;
    const std::size_t valueLength = readLe32(record, attr.offset + 16);
    const std::size_t valueOffset = readLe16(record, attr.offset + 20);
    const std::size_t start = attr.offset + valueOffset;
    if (start > record.size() || valueLength > record.size() - start) return std::nullopt;
    return record.subspan(start, valueLength);
}

std::optional<FileNameValue> decodeFileName(Bytes value)
{
    if (value.size() < kFnName) return std::nullopt;
    FileNameValue fn;
    fn.parent = decodeReference(readLe64(value, 0));
    fn.creationTime = readLe64(value, kFnCreationTime);
    fn.modificationTime = readLe64(value, kFnModificationTime);
    fn.nameSpace = value[kFnNameSpace];
    const std::size_t chars = value[kFnNameLength];
    const std::size_t available = (value.size() - kFnName) / 2;
    fn.name = utf16LeToUtf8(value, kFnName, std::min(chars, available));
    return fn;
}

std::optional<std::uint64_t> modificationTime(Bytes record)
{
    constexpr std::size_t kModifiedOffset = 8;  // after the creation time
    for (const auto& attr : listAttributes(record)) {
        if (attr.type != kAttrStandardInformation) continue;
        const auto value = residentValue(record, attr);
        if (!value || value->size() < kModifiedOffset + 8) return std::nullopt;
        return readLe64(*value, kModifiedOffset);
    }
    return std::nullopt;
}

namespace {

struct CivilTime {
    long long year;
    unsigned month, day, hour, minute, second;
};

// Days since 1601-01-01 to a proleptic Gregorian date (the algorithm of "days from civil",
// shifted to 1601, the start of a 400-year cycle).
CivilTime civilFromStamp(std::uint64_t stamp)
{
    const std::uint64_t seconds = stamp / 10000000ULL;
    long long days = static_cast<long long>(seconds / 86400);
    const std::uint64_t rest = seconds % 86400;
    // Shift to an era starting 1600-03-01 so leap days fall at the end of a year.
    days += 306;  // 1600-03-01 .. 1601-01-01
    const long long era = days / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const unsigned d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    const long long y = 1600 + yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {y, m, d, static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
            static_cast<unsigned>(rest % 60)};
}

}  // namespace

std::string formatNtfsDate(std::uint64_t stamp)
{
    const CivilTime t = civilFromStamp(stamp);
    return formatDayMonthYear(t.day, t.month, t.year);
}

std::string formatNtfsTime(std::uint64_t stamp)
{
    const CivilTime t = civilFromStamp(stamp);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", t.hour, t.minute, t.second);
    return text;
}

}  // namespace kfr::recovery
