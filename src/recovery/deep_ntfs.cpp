// NTFS volumes inferred from the records a sweep found.
#include "recovery/deep_ntfs.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

#include "recovery/mft_reader.h"
#include "recovery/run_list.h"

namespace kfr::recovery {

namespace {

constexpr std::size_t kAllocatedSizeOffset = 28;
constexpr std::uint64_t kMftRecord = 0;
constexpr std::uint64_t kMirrorRecord = 1;
// NTFS clusters hold up to 2 MiB.
constexpr std::uint64_t kMaxClusterSectors = 4096;
// What formatting tools choose unless told otherwise.
constexpr std::uint32_t kUsualClusterSectors = 8;

bool validNtfsClusterSize(std::uint64_t spc)
{
    return spc != 0 && spc <= kMaxClusterSectors && (spc & (spc - 1)) == 0;
}

std::optional<std::uint64_t> firstDataCluster(const MftRecordBytes& record)
{
    for (const auto& attr : listAttributes(record)) {
        if (attr.type != kAttrData || attr.nameLength != 0) continue;
        const auto header = nonResidentHeader(record, attr);
        if (!header || header->lowestVcn != 0) return std::nullopt;
        const auto runs = decodeRunList(record, attr.offset);
        if (!runs || runs->empty() || runs->front().sparse) return std::nullopt;
        return runs->front().startCluster;
    }
    return std::nullopt;
}

// Whether the guess puts a copy of record 0 at sector (in its $MFT or its mirror).
bool placesRecordZero(const NtfsVolumeGuess& v, std::uint64_t sector)
{
    return (v.mftSector && v.mftSector == sector) || (v.mirrorSector && v.mirrorSector == sector);
}

// Cluster n of a volume at first with spc sectors per cluster, when it fits in 64 bits.
std::optional<std::uint64_t> clusterAt(std::uint64_t first, std::uint64_t spc, std::uint64_t n)
{
    const unsigned __int128 s = static_cast<unsigned __int128>(n) * spc + first;
    if (s > UINT64_MAX) return std::nullopt;
    return static_cast<std::uint64_t>(s);
}

}  // namespace

bool looksLikeMftRecord(Bytes sector)
{
    return sector.size() >= kAllocatedSizeOffset + 4 && bytesEqual(sector, 0, "FILE") &&
           readLe32(sector, kAllocatedSizeOffset) == kMftRecordBytes;
}

std::optional<NtfsRecordHit> ntfsRecordHit(Bytes twoSectors, std::uint64_t sector)
{
    if (twoSectors.size() < kMftRecordBytes || !looksLikeMftRecord(twoSectors)) return std::nullopt;
    MftRecordBytes record{};
    std::copy_n(twoSectors.begin(), kMftRecordBytes, record.begin());
    if (applyFixup(record) != RecordVerdict::Usable) return std::nullopt;
    auto facts = recordFacts(record, statedRecordNumber(record), sector, nullptr);
    if (!facts) return std::nullopt;
    NtfsRecordHit hit;
    hit.facts = std::move(*facts);
    if (hit.facts.recordNumber == kMftRecord || hit.facts.recordNumber == kMirrorRecord)
        hit.dataCluster = firstDataCluster(record);
    return hit;
}

std::vector<NtfsVolumeGuess> inferNtfsVolumes(const std::vector<NtfsRecordHit>& records,
                                              const std::vector<NtfsBootHit>& boots, std::uint64_t fallbackStart)
{
    // Copies of record 0, each with the mirror's first cluster from the record 1 right after it.
    struct RecordZero {
        std::uint64_t sector = 0;
        std::uint64_t mft = 0;
        std::optional<std::uint64_t> mirror;
    };
    std::unordered_map<std::uint64_t, std::uint64_t> mirrorClusterAt;  // sector of a record 1 -> its data cluster
    for (const auto& r : records)
        if (r.facts.recordNumber == kMirrorRecord && r.dataCluster) mirrorClusterAt[r.facts.sector] = *r.dataCluster;
    std::vector<RecordZero> zeros;
    for (const auto& r : records) {
        if (r.facts.recordNumber != kMftRecord || !r.dataCluster) continue;
        RecordZero z{r.facts.sector, *r.dataCluster, std::nullopt};
        if (const auto it = mirrorClusterAt.find(r.facts.sector + MftReader::kSectorsPerRecord); it != mirrorClusterAt.end())
            z.mirror = it->second;
        zeros.push_back(z);
    }
    auto recordZeroAt = [&](std::uint64_t sector) {
        return std::any_of(zeros.begin(), zeros.end(), [&](const RecordZero& z) { return z.sector == sector; });
    };

    std::vector<NtfsVolumeGuess> volumes;
    auto add = [&](NtfsVolumeGuess v) {
        for (const auto& known : volumes)
            if (known.firstSector == v.firstSector) return;
        volumes.push_back(v);
    };

    // Boot sectors: the volume's first sector, or its last (the copy). A reading is taken when
    // a copy of record 0 lies where it puts the $MFT or the mirror; a boot sector that no record
    // confirms either way is taken as the volume's first.
    auto fromBoot = [&](const NtfsBootHit& b, std::uint64_t first) -> std::optional<NtfsVolumeGuess> {
        NtfsVolumeGuess v;
        v.firstSector = first;
        v.spc = b.fields.spc;
        v.totalSectors = b.fields.totalSectors;
        v.bootSector = b.sector;
        v.fromBootSector = true;
        const auto mft = clusterAt(first, v.spc, b.fields.mftCluster);
        const auto mirror = clusterAt(first, v.spc, b.fields.mirrorCluster);
        if (!mft || !mirror) return std::nullopt;
        v.mftSector = recordZeroAt(*mft) ? *mft : 0;
        v.mirrorSector = recordZeroAt(*mirror) ? *mirror : 0;
        return v;
    };
    std::vector<NtfsVolumeGuess> unconfirmed;
    for (const auto& b : boots) {
        std::optional<NtfsVolumeGuess> asFirst = fromBoot(b, b.sector);
        std::optional<NtfsVolumeGuess> asCopy;
        if (b.fields.totalSectors && b.fields.totalSectors <= b.sector) asCopy = fromBoot(b, b.sector - b.fields.totalSectors);
        const bool firstConfirmed = asFirst && (asFirst->mftSector || asFirst->mirrorSector);
        const bool copyConfirmed = asCopy && (asCopy->mftSector || asCopy->mirrorSector);
        if (firstConfirmed) add(*asFirst);
        if (copyConfirmed) add(*asCopy);
        if (!firstConfirmed && !copyConfirmed && asFirst) unconfirmed.push_back(*asFirst);
    }
    for (const auto& v : unconfirmed) {
        // The copy at a confirmed volume's end is no volume of its own.
        const bool copyOfKnown = std::any_of(volumes.begin(), volumes.end(), [&](const NtfsVolumeGuess& k) {
            return k.totalSectors && k.firstSector + k.totalSectors == v.firstSector;
        });
        if (!copyOfKnown) add(v);
    }
    auto explained = [&](std::uint64_t sector) {
        return std::any_of(volumes.begin(), volumes.end(), [&](const NtfsVolumeGuess& v) { return placesRecordZero(v, sector); });
    };

    // Without a boot sector: the $MFT's record 0 and its mirror's copy name the clusters they lie
    // in, so their distance in sectors over their distance in clusters is the cluster size.
    std::map<std::tuple<std::uint64_t, std::uint64_t>, std::vector<std::uint64_t>> copies;  // (mft, mirror) -> sectors
    for (const auto& z : zeros)
        if (z.mirror && z.mft != *z.mirror && !explained(z.sector)) copies[{z.mft, *z.mirror}].push_back(z.sector);
    for (const auto& [clusters, sectors] : copies) {
        const auto [mft, mirror] = clusters;
        const std::uint64_t clusterGap = mft > mirror ? mft - mirror : mirror - mft;
        for (std::size_t i = 0; i < sectors.size(); ++i)
            for (std::size_t j = i + 1; j < sectors.size(); ++j) {
                const std::uint64_t low = std::min(sectors[i], sectors[j]), high = std::max(sectors[i], sectors[j]);
                if (explained(low) || explained(high) || (high - low) % clusterGap) continue;
                const std::uint64_t spc = (high - low) / clusterGap;
                // The $MFT's copy is the one whose cluster is the smaller or the larger, as in the records.
                const std::uint64_t mftAt = mft < mirror ? low : high;
                if (!validNtfsClusterSize(spc) || mft > mftAt / spc) continue;
                NtfsVolumeGuess v;
                v.spc = static_cast<std::uint32_t>(spc);
                v.firstSector = mftAt - mft * spc;
                v.mftSector = mftAt;
                v.mirrorSector = mft < mirror ? high : low;
                add(v);
            }
    }
    // A lone record 0: the usual cluster size (or the largest smaller one that keeps the volume
    // on the medium).
    for (const auto& z : zeros) {
        if (explained(z.sector)) continue;
        std::uint64_t spc = kUsualClusterSectors;
        while (spc > 1 && z.mft > z.sector / spc) spc /= 2;
        if (z.mft > z.sector / spc) continue;
        NtfsVolumeGuess v;
        v.spc = static_cast<std::uint32_t>(spc);
        v.firstSector = z.sector - z.mft * spc;
        v.mftSector = z.sector;
        v.guessedClusterSize = true;
        add(v);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const NtfsVolumeGuess& a, const NtfsVolumeGuess& b) { return a.firstSector < b.firstSector; });

    // Records no volume holds: the volume the search began in, as the usual cluster size has it.
    const bool stray = std::any_of(records.begin(), records.end(),
                                   [&](const NtfsRecordHit& r) { return !ntfsVolumeOf(volumes, r.facts.sector); });
    if (stray) {
        NtfsVolumeGuess v;
        v.firstSector = fallbackStart;
        v.spc = kUsualClusterSectors;
        v.guessedClusterSize = true;
        if (std::none_of(volumes.begin(), volumes.end(), [&](const NtfsVolumeGuess& k) { return k.firstSector == fallbackStart; })) {
            volumes.insert(volumes.begin(), v);
            std::sort(volumes.begin(), volumes.end(),
                      [](const NtfsVolumeGuess& a, const NtfsVolumeGuess& b) { return a.firstSector < b.firstSector; });
        }
    }
    return volumes;
}

std::optional<std::size_t> ntfsVolumeOf(const std::vector<NtfsVolumeGuess>& volumes, std::uint64_t sector)
{
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const auto& v = volumes[i];
        if (v.firstSector > sector) break;
        if (v.totalSectors && sector - v.firstSector >= v.totalSectors) continue;
        found = i;
    }
    return found;
}

volumes::VolumeParameters ntfsParameters(const NtfsVolumeGuess& v)
{
    volumes::VolumeParameters p;
    p.partType = volumes::kNtfs;
    p.spc = v.spc;
    p.cluster0Start = static_cast<std::int64_t>(v.firstSector);
    p.mftSector = v.mftSector;
    p.mftMirrorSector = v.mirrorSector;
    p.sectorsPerRecord = MftReader::kSectorsPerRecord;
    p.sectorsPerIndexRecord = 8;
    return p;
}

std::vector<const NtfsRecordHit*> nameThroughMft(std::vector<NtfsRecordHit*> records, const storage::SectorSource& source,
                                                 const volumes::VolumeParameters& params)
{
    std::optional<MftReader> reader;
    std::vector<const NtfsRecordHit*> named;
    for (NtfsRecordHit* r : records) {
        if (!r->facts.named) {
            if (!reader) reader.emplace(source, params);
            MftRecordBytes record{};
            if (reader->runs().empty() || !reader->readRecord(r->facts.sector, record)) continue;
            const auto facts = recordFacts(record, r->facts.recordNumber, r->facts.sector, &*reader);
            if (!facts || !facts->named) continue;
            r->facts = *facts;
        }
        named.push_back(r);
    }
    return named;
}

std::vector<const NtfsRecordHit*> distinctRecords(const std::vector<const NtfsRecordHit*>& records,
                                                  const storage::SectorSource& source,
                                                  const volumes::VolumeParameters& params)
{
    const MftReader reader(source, params);
    using Key = std::tuple<std::uint64_t, std::string, std::uint64_t>;
    std::map<Key, std::size_t> first;  // -> index in out
    std::vector<const NtfsRecordHit*> out;
    for (const NtfsRecordHit* r : records) {
        const Key key{r->facts.recordNumber, r->facts.name, r->facts.parent.record};
        const auto [it, inserted] = first.try_emplace(key, out.size());
        if (inserted) {
            out.push_back(r);
            continue;
        }
        // The copy where the $MFT puts the record is the record itself.
        const auto home = reader.sectorOf(r->facts.recordNumber);
        if (home && *home == r->facts.sector) out[it->second] = r;
    }
    return out;
}

}  // namespace kfr::recovery
