// File-record access for NTFS volumes.
#include "recovery/mft_reader.h"

#include <algorithm>

#include "recovery/run_list.h"
#include "recovery/text_encoding.h"
#include "storage/bytes.h"

namespace kfr::recovery {

namespace {
// An $MFT smaller than this is damaged: its own system records take 16.
constexpr std::uint64_t kMinMftRecords = 16;
}  // namespace

MftReader::MftReader(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                     std::uint64_t volumeEndSector)
    : m_source(source), m_params(params)
{
    m_end = volumeEndSector ? volumeEndSector : UINT64_MAX;
    if (source.sectorCount()) m_end = std::min(m_end, source.sectorCount());
    if (params.mftSector == 0 || params.spc == 0) return;
    MftRecordBytes rootDir{}, record0{};
    if (!readRecord(params.mftSector + 10, rootDir)) return;
    if (!readRecord(params.mftSector, record0)) return;

    // The extent at VCN 0 lies in record 0 itself and reaches every extension record of the
    // $MFT (NTFS keeps them in its first extent), so it is mapped first and the rest through it.
    for (const auto& attr : listAttributes(record0)) {
        if (attr.type != kAttrData || attr.nameLength != 0) continue;
        const auto header = nonResidentHeader(record0, attr);
        if (!header || header->lowestVcn != 0) continue;
        if (auto runs = decodeRunList(record0, attr.offset)) setRuns(*runs, header->realSize);
        break;
    }
    if (m_runs.empty()) return;
    const FileRecords records = fileRecords(0, record0);
    if (records.records.size() < 2) return;
    if (const auto data = findDataStream(records, "")) setRuns(data->runs, data->size);
}

void MftReader::setRuns(const RunList& runs, std::uint64_t dataSize)
{
    m_runs.clear();
    const std::uint64_t spc = m_params.spc;
    const auto volumeStart = static_cast<__int128>(m_params.cluster0Start);
    if (volumeStart < 0 || volumeStart >= m_end) return;
    // No more sectors than the volume has, and no more records than the data size names.
    std::uint64_t room = m_end - static_cast<std::uint64_t>(volumeStart);
    if (dataSize / kMftRecordBytes >= kMinMftRecords) {
        const std::uint64_t records = dataSize / kMftRecordBytes + (dataSize % kMftRecordBytes != 0);
        room = std::min(room, records * kSectorsPerRecord);
    }
    for (const DataRun& run : runs) {
        if (run.sparse || room == 0) break;
        const __int128 first = volumeStart + static_cast<__int128>(run.startCluster) * spc;
        if (first >= m_end) break;
        const auto firstSector = static_cast<std::uint64_t>(first);
        const std::uint64_t available = std::min(m_end - firstSector, room);
        const __int128 wanted = static_cast<__int128>(run.length) * spc;
        const std::uint64_t sectors = wanted < available ? static_cast<std::uint64_t>(wanted) : available;
        if (sectors == 0) break;
        m_runs.push_back({firstSector, sectors});
        room -= sectors;
        if (sectors < wanted) break;  // cut at the volume's or the medium's end
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
    if (record > (UINT64_MAX / kSectorsPerRecord)) return std::nullopt;
    std::uint64_t index = record * kSectorsPerRecord;
    for (const auto& run : m_runs) {
        if (index < run.sectorCount) return run.firstSector + index;
        index -= run.sectorCount;
    }
    return std::nullopt;
}

bool MftReader::readRecord(std::uint64_t sector, MftRecordBytes& record) const
{
    record.fill(0);
    if (!m_source.read(sector, kSectorsPerRecord, record)) return false;
    return applyFixup(record) == RecordVerdict::Usable;
}

bool MftReader::readRecordNumber(std::uint64_t n, MftRecordBytes& record) const
{
    const auto sector = sectorOf(n);
    return sector && readRecord(*sector, record);
}

std::optional<std::vector<std::uint8_t>> MftReader::nonResidentValue(Bytes record, const AttributeRef& attr,
                                                                     std::size_t maxBytes) const
{
    const auto header = nonResidentHeader(record, attr);
    auto runs = decodeRunList(record, attr.offset);
    if (!header || !runs || m_params.spc == 0) return std::nullopt;
    const std::uint64_t wanted = std::min<std::uint64_t>(header->realSize, maxBytes);
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(m_params.spc) * storage::kSectorSize;
    const std::uint64_t volumeClusters = volumes::clustersBefore(m_params, m_end);
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(wanted));
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(clusterBytes));
    for (const DataRun& run : *runs) {
        for (std::uint64_t i = 0; i < run.length && out.size() < wanted; ++i) {
            if (run.sparse) {
                std::fill(cluster.begin(), cluster.end(), 0);
            } else {
                const std::uint64_t c = run.startCluster + i;
                if (c < run.startCluster || c >= volumeClusters) return std::nullopt;
                if (!m_source.read(m_params.clusterSector(c), m_params.spc, cluster)) return std::nullopt;
            }
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(clusterBytes, wanted - out.size()));
            out.insert(out.end(), cluster.begin(), cluster.begin() + static_cast<std::ptrdiff_t>(take));
        }
        if (out.size() >= wanted) break;
    }
    if (out.size() < wanted) return std::nullopt;
    return out;
}

FileRecords MftReader::fileRecords(std::uint64_t recordNumber, const MftRecordBytes& record) const
{
    return followAttributeList(*this, recordNumber, record);
}

NameMatch findFileName(const FileRecords& records)
{
    std::vector<FileNameValue> candidates;
    for (const auto& rec : records.records)
        for (const auto& attr : listAttributes(rec)) {
            if (attr.type != kAttrFileName || attr.nameLength != 0) continue;
            if (auto value = residentValue(rec, attr))
                if (auto fn = decodeFileName(*value)) candidates.push_back(*fn);
        }
    for (std::uint8_t wanted : {1, 3, 2, 0})
        for (const auto& c : candidates)
            if (c.nameSpace == wanted) return NameMatch{c, true};
    return {};
}

NameMatch MftReader::findName(const MftRecordBytes& record, std::uint64_t recordNumber) const
{
    return findFileName(fileRecords(recordNumber, record));
}

std::string MftReader::volumeLabel() const
{
    constexpr std::uint64_t kVolumeRecord = 3;
    constexpr std::uint32_t kAttrVolumeName = 0x60;
    MftRecordBytes record{};
    if (!readRecordNumber(kVolumeRecord, record)) return {};
    for (const auto& attr : listAttributes(record)) {
        if (attr.type != kAttrVolumeName) continue;
        const auto value = residentValue(record, attr);
        if (!value) return {};
        return utf16LeToUtf8(*value, 0, value->size() / 2);
    }
    return {};
}

std::optional<NtfsFileInfo> MftReader::describeFile(std::uint64_t sector, std::uint64_t recordNumber) const
{
    MftRecordBytes record{};
    if (!readRecord(sector, record)) return std::nullopt;
    const FileRecords records = fileRecords(recordNumber, record);
    NtfsFileInfo info;
    const NameMatch match = findFileName(records);
    if (match.found) {
        info.name = match.value.name;
        info.timeStamp = match.value.modificationTime;
        info.hasName = true;
    }
    // A zero stamp was never set (mkntfs leaves the $MFT's so): the name's own time stands in.
    if (const auto modified = modificationTime(record); modified && *modified != 0) info.timeStamp = *modified;
    for (const DataStream& s : dataStreams(records)) {
        if (s.name.empty()) {
            info.dataSize = s.size;
            info.compressed = s.compressed();
            info.encrypted = s.encrypted();
        } else {
            info.streams.push_back({s.name, s.size});
        }
    }
    info.deleted = !recordInUse(record);
    return info;
}

}  // namespace kfr::recovery
