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
constexpr std::size_t kFlagsField = 22;
constexpr std::size_t kFirstAttributeField = 20;
constexpr std::uint32_t kEndMarker = 0xFFFFFFFF;
// Inside a file-name value.
constexpr std::size_t kFnCreationTime = 8;
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
        a.nameLength = readU8(record, off + 9);
        out.push_back(a);
        off += a.length;
    }
    return out;
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
    fn.parentRecord = readLe64(value, 0) & 0x0000FFFFFFFFFFFFULL;
    fn.creationTime = readLe64(value, kFnCreationTime);
    fn.nameSpace = value[kFnNameSpace];
    const std::size_t chars = value[kFnNameLength];
    const std::size_t available = (value.size() - kFnName) / 2;
    fn.name = utf16LeToUtf8(value, kFnName, std::min(chars, available));
    return fn;
}

std::vector<std::uint64_t> attributeListRecords(Bytes value)
{
    std::vector<std::uint64_t> out;
    std::size_t off = 0;
    while (off + 26 <= value.size()) {
        const std::uint32_t type = readLe32(value, off);
        if (type == 0 || type == kEndMarker) break;
        const std::uint16_t length = readLe16(value, off + 4);
        out.push_back(readLe64(value, off + 16) & 0x0000FFFFFFFFFFFFULL);
        if (length == 0) break;
        off += length;
    }
    return out;
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

std::uint8_t recordFlags(Bytes record)
{
    return readU8(record, kFlagsField);
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
