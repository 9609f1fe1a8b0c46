// File-record access for NTFS volumes.
#include "recovery/mft_reader.h"

#include <unordered_set>

#include "recovery/run_list.h"
#include "storage/bytes.h"

namespace kfr::recovery {

namespace {
constexpr std::uint32_t kSectorsPerRecordSlot = 2;
constexpr std::size_t kMaxListedRecords = 64;  // attribute-list entries followed per record
constexpr std::size_t kNonResidentRealSize = 48;
}  // namespace

MftReader::MftReader(const storage::SectorSource& source, const volumes::VolumeParameters& params)
    : m_source(source)
{
    if (params.mftSector == 0 || params.spc == 0) return;
    MftRecordBytes rootDir{}, record0{};
    if (!readRecord(params.mftSector + 10, rootDir)) return;
    if (!readRecord(params.mftSector, record0)) return;
    for (const auto& attr : listAttributes(record0)) {
        if (attr.type != kAttrData || attr.nameLength != 0 || attr.nonResident != 1) continue;
        auto runs = decodeRunList(record0, attr.offset);
        if (!runs) break;
        for (const auto& run : *runs) {
            SectorRun s;
            s.sectorCount = run.length * params.spc;
            // A run without clusters on disk maps to sector 0, where no file record lies.
            if (!run.sparse) s.firstSector = params.clusterSector(run.startCluster);
            m_runs.push_back(s);
        }
        break;
    }
}

std::uint64_t MftReader::totalSectors() const
{
    std::uint64_t t = 0;
    for (const auto& r : m_runs) t += r.sectorCount;
    return t;
}

std::optional<std::uint64_t> MftReader::sectorOf(std::uint64_t record) const
{
    if (record > (UINT64_MAX / kSectorsPerRecordSlot)) return std::nullopt;
    std::uint64_t index = record * kSectorsPerRecordSlot;
    for (const auto& run : m_runs) {
        if (index < run.sectorCount) return run.firstSector + index;
        index -= run.sectorCount;
    }
    return std::nullopt;
}

bool MftReader::readRecord(std::uint64_t sector, MftRecordBytes& record) const
{
    record.fill(0);
    if (!m_source.read(sector, kSectorsPerRecordSlot, record)) return false;
    return applyFixup(record) == RecordVerdict::Usable;
}

NameMatch MftReader::findName(const MftRecordBytes& record, std::uint64_t recordNumber) const
{
    std::vector<FileNameValue> candidates;
    auto collect = [&](Bytes rec) {
        for (const auto& attr : listAttributes(rec)) {
            if (attr.type != kAttrFileName || attr.nameLength != 0) continue;
            if (auto value = residentValue(rec, attr))
                if (auto fn = decodeFileName(*value)) candidates.push_back(*fn);
        }
    };
    collect(record);

    std::vector<std::uint64_t> listed;
    for (const auto& attr : listAttributes(record)) {
        if (attr.type != kAttrAttributeList) continue;
        if (auto value = residentValue(record, attr)) listed = attributeListRecords(*value);
        break;
    }
    // A list names the record itself and may repeat entries; each record is read once.
    std::unordered_set<std::uint64_t> seen{recordNumber};
    MftRecordBytes other{};
    for (std::uint64_t n : listed) {
        if (seen.size() > kMaxListedRecords) break;
        if (!seen.insert(n).second) continue;
        const auto sector = sectorOf(n);
        if (!sector || !readRecord(*sector, other)) continue;
        collect(other);
    }

    for (std::uint8_t wanted : {1, 3, 2, 0})
        for (const auto& c : candidates)
            if (c.nameSpace == wanted) return NameMatch{c, true};
    return {};
}

std::optional<std::uint64_t> dataAttributeSize(Bytes record)
{
    for (const auto& attr : listAttributes(record)) {
        if (attr.type != kAttrData || attr.nameLength != 0) continue;
        if (attr.nonResident == 0) return readLe32(record, attr.offset + 16);
        if (attr.nonResident == 1) return readLe64(record, attr.offset + kNonResidentRealSize);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<NtfsFileInfo> MftReader::describeFile(std::uint64_t sector) const
{
    MftRecordBytes record{};
    if (!readRecord(sector, record)) return std::nullopt;
    NtfsFileInfo info;
    // The record number is only needed to avoid re-reading the record itself from its list.
    const NameMatch match = findName(record, UINT64_MAX);
    if (match.found) {
        info.name = match.value.name;
        info.timeStamp = match.value.creationTime;
        info.hasName = true;
    }
    info.dataSize = dataAttributeSize(record).value_or(0);
    info.deleted = (recordFlags(record) & 0x01) == 0;
    return info;
}

}  // namespace kfr::recovery
