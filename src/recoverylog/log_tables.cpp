// The text columns of the Deep partition rows and the MFT file rows, as the log stores them, and
// the rows read back from them.
#include <charconv>

#include "recoverylog/log_format.h"

namespace kfr::recoverylog {

namespace {

// An unsigned decimal cell; an empty cell is 0.
std::optional<std::uint64_t> unsignedCell(const std::string& text)
{
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> u32Cell(const std::string& text)
{
    const auto value = unsignedCell(text);
    if (!value || *value > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

// A signed decimal cell (cluster 0 may lie before the medium's first sector).
std::optional<std::int64_t> signedCell(const std::string& text)
{
    if (text.empty()) return 0;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::string endMarker()
{
    return std::string(kSignature) + kEndMarkerTail;
}

std::array<std::string, 12> deepPartitionColumns(const recovery::DeepPartitionRecord& row)
{
    return {std::to_string(row.sector),         std::to_string(row.spf),
            std::to_string(row.spc),            std::to_string(row.rootSectors),
            std::to_string(row.rootStart),      std::to_string(row.reserveSectors),
            std::to_string(row.cluster0Start),  std::to_string(row.firstFat),
            std::to_string(row.secondFat),      std::to_string(row.totalSectors),
            row.partType,                       std::string()};  // End Sector: left empty by the scan
}

std::optional<recovery::DeepPartitionRecord> deepPartitionFromColumns(const std::array<std::string, 12>& c)
{
    const auto sector = unsignedCell(c[0]), rootStart = unsignedCell(c[4]), firstFat = unsignedCell(c[7]),
               secondFat = unsignedCell(c[8]), total = unsignedCell(c[9]);
    const auto spf = u32Cell(c[1]), spc = u32Cell(c[2]), rootSectors = u32Cell(c[3]), reserve = u32Cell(c[5]);
    const auto cluster0 = signedCell(c[6]);
    if (!sector || !rootStart || !firstFat || !secondFat || !total || !spf || !spc || !rootSectors || !reserve ||
        !cluster0)
        return std::nullopt;
    recovery::DeepPartitionRecord row;
    row.sector = *sector;
    row.spf = *spf;
    row.spc = *spc;
    row.rootSectors = *rootSectors;
    row.rootStart = *rootStart;
    row.reserveSectors = *reserve;
    row.cluster0Start = *cluster0;
    row.firstFat = *firstFat;
    row.secondFat = *secondFat;
    row.totalSectors = *total;
    row.partType = c[10];
    row.fromBootSector = row.sector != 0;
    return row;
}

// Columns Sector, name, size, date, time, type: the row text "parent|sector|", the name, the
// creation time in the date column and the parent record again in the type column.
std::array<std::string, 6> mftFileColumns(const recovery::MftFileRow& row)
{
    const std::string parent = std::to_string(row.parentRecord);
    return {parent + "|" + std::to_string(row.recordSector) + "|", row.name, std::string(),
            std::to_string(row.creationTime), std::string(), parent};
}

std::optional<recovery::MftFileRow> mftFileFromColumns(const std::array<std::string, 6>& c)
{
    const std::string& key = c[0];
    const auto bar = key.find('|');
    if (bar == std::string::npos || key.empty() || key.back() != '|' || bar + 1 >= key.size()) return std::nullopt;
    const auto parent = u32Cell(key.substr(0, bar));
    const auto sector = unsignedCell(key.substr(bar + 1, key.size() - bar - 2));
    const auto created = unsignedCell(c[3]);
    if (!parent || !sector || !created || bar == 0) return std::nullopt;
    recovery::MftFileRow row;
    row.parentRecord = *parent;
    row.recordSector = *sector;
    row.name = c[1];
    row.creationTime = *created;
    return row;
}

}  // namespace kfr::recoverylog
