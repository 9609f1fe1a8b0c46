// Boot-sector sweeps for partitions the tables do not describe.
#include "volumes/partition_search.h"

#include <algorithm>

#include "storage/sector_sweep.h"
#include "volumes/boot_sector.h"
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

namespace {

constexpr std::uint32_t kTranslatedHeads = 255;
constexpr std::uint32_t kTranslatedSectorsPerTrack = 63;
constexpr std::uint32_t kAdvancedBlockSectors = 512;
constexpr std::uint32_t kLogicalBlockSectors = 1024;
// FAT32 keeps a copy of its boot sector six sectors in: the copy is no volume of its own.
constexpr std::uint64_t kFat32BackupBoot = 6;

constexpr std::size_t kBytesPerSectorOffset = 11;
constexpr std::size_t kSpcOffset = 13;
constexpr std::size_t kTotal16Offset = 19;
constexpr std::size_t kTotal32Offset = 32;
constexpr std::size_t kNtfsTotalOffset = 40;

bool stopped(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

// The partitions a search knows: the disk's list and what it found, with where each one's boot
// sector copy lies (so the copy is not taken for another volume).
class KnownPartitions {
public:
    explicit KnownPartitions(const std::vector<SearchedPartition>& listed)
    {
        for (const auto& p : listed) {
            m_known.push_back(p);
            // A table's NTFS partition ends with the copy; FAT32 keeps it six sectors in.
            if (p.fileSystem == kNtfs) m_copies.push_back(p.lastSector);
            if (p.fileSystem == kFat32) m_copies.push_back(p.firstSector + kFat32BackupBoot);
        }
    }

    // Whether the boot sector at sector, of a volume of the given size, is a copy or a partition
    // already known.
    bool known(const SearchBootSector& boot, std::uint64_t sector) const
    {
        if (std::find(m_copies.begin(), m_copies.end(), sector) != m_copies.end()) return true;
        const std::uint64_t last = lastOf(boot, sector);
        return std::any_of(m_known.begin(), m_known.end(), [&](const SearchedPartition& p) {
            if (p.fileSystem != boot.fileSystem || p.firstSector != sector) return false;
            return p.lastSector == last;
        });
    }

    SearchedPartition add(const SearchBootSector& boot, std::uint64_t sector)
    {
        SearchedPartition p{boot.fileSystem, sector, lastOf(boot, sector)};
        m_known.push_back(p);
        if (boot.fileSystem == kNtfs) m_copies.push_back(p.lastSector);
        if (boot.fileSystem == kFat32) m_copies.push_back(sector + kFat32BackupBoot);
        return p;
    }

    static std::uint64_t lastOf(const SearchBootSector& boot, std::uint64_t sector)
    {
        return searchedLastSector(boot, sector);
    }

private:
    std::vector<SearchedPartition> m_known;
    std::vector<std::uint64_t> m_copies;
};

class Finder {
public:
    Finder(const PartitionSearchContext& ctx, PartitionSearchResult& result)
        : m_ctx(ctx), m_result(result), m_known(ctx.listed), m_events(dynamic_cast<PartitionSearchObserver*>(ctx.observer))
    {
    }

    void offer(Bytes sector, std::uint64_t s)
    {
        if (m_ctx.itemCount + m_result.found.size() >= kMaxPartitionItems) return;
        const SearchBootSector boot = classifySearchSector(sector);
        if (boot.fileSystem.empty() || m_known.known(boot, s)) return;
        m_result.found.push_back(m_known.add(boot, s));
        if (m_events) m_events->onPartitionFound(m_result.found.back());
    }

private:
    const PartitionSearchContext& m_ctx;
    PartitionSearchResult& m_result;
    KnownPartitions m_known;
    PartitionSearchObserver* m_events;
};

// Sweeps sectors [0, total) in blocks and hands every sector that carries the boot marker to
// visit(sector bytes, sector number).
template <typename Visit>
storage::SweepReport sweepBootMarkers(const storage::SectorSource* source, std::uint64_t total, std::uint32_t blockSectors,
                                      const std::atomic<bool>* stopRequested, ProgressReporter& report, Visit visit)
{
    storage::SweepContext sweep;
    sweep.source = source;
    sweep.ranges = {{0, total}};
    sweep.blockSectors = blockSectors;
    sweep.stopRequested = stopRequested;
    sweep.progress = &report;
    return storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        for (std::uint32_t i = 0; i < block.sectorCount; ++i) {
            const std::uint8_t* bytes = block.bytes.data() + static_cast<std::size_t>(i) * storage::kSectorSize;
            if (bytes[510] != 0x55 || bytes[511] != 0xAA) continue;
            visit(Bytes(bytes, storage::kSectorSize), block.firstSector + i);
        }
        return true;
    });
}

void standardSearch(const PartitionSearchContext& ctx, PartitionSearchResult& result)
{
    const SearchGeometry g = translateSearchGeometry(ctx.geometry);
    ProgressReporter report(ctx.observer);
    report.status(StatusLine::SectorsScannedOfTotal, g.cylinders);
    report.begin(0, g.cylinders);
    Finder finder(ctx, result);
    const std::uint64_t track = g.sectorsPerTrack;
    const std::uint64_t cylinder = static_cast<std::uint64_t>(g.heads) * track;
    storage::SectorBytes sector{};
    bool readAny = false;
    for (std::uint64_t c = 0; c < g.cylinders; ++c) {
        if (stopped(ctx.stopRequested)) {
            result.stopped = true;
            break;
        }
        report.update(c);
        // A partition begins on the cylinder's second track (the first holds the table) or on
        // its first sector.
        const std::uint64_t candidates[] = {c * cylinder + track, c * cylinder};
        for (std::uint64_t s : candidates) {
            if (!ctx.source->read(s, 1, sector)) {
                ++result.unreadableSectors;
                continue;
            }
            readAny = true;
            if (!hasBootMarker(sector)) continue;
            finder.offer(sector, s);
            break;
        }
    }
    if (!result.stopped) report.finish();
    result.sourceFailed = !readAny && g.cylinders > 0;
}

void advancedSearch(const PartitionSearchContext& ctx, PartitionSearchResult& result)
{
    ProgressReporter report(ctx.observer);
    report.status(StatusLine::SectorsScannedOfTotal, ctx.totalSectors);
    Finder finder(ctx, result);
    const auto swept = sweepBootMarkers(ctx.source, ctx.totalSectors, kAdvancedBlockSectors, ctx.stopRequested, report,
                                        [&](Bytes sector, std::uint64_t s) { finder.offer(sector, s); });
    result.stopped = swept.end == storage::SweepEnd::Stopped;
    result.unreadableSectors = swept.unreadableSectors;
    result.sourceFailed = ctx.totalSectors > 0 && swept.unreadableSectors >= ctx.totalSectors;
}

}  // namespace

std::uint64_t searchedLastSector(const SearchBootSector& boot, std::uint64_t firstSector)
{
    // NTFS counts its sectors without the boot sector's copy, which follows them.
    if (boot.fileSystem == kNtfs) return firstSector + boot.sectors;
    return boot.sectors ? firstSector + boot.sectors - 1 : firstSector;
}

SearchGeometry translateSearchGeometry(const SearchGeometry& g)
{
    if (g.sectorsPerTrack == kTranslatedSectorsPerTrack) return g;
    SearchGeometry t;
    t.cylinders = g.cylinders * g.heads * g.sectorsPerTrack / (static_cast<std::uint64_t>(kTranslatedHeads) * kTranslatedSectorsPerTrack);
    t.heads = kTranslatedHeads;
    t.sectorsPerTrack = kTranslatedSectorsPerTrack;
    return t;
}

SearchBootSector classifySearchSector(Bytes s)
{
    SearchBootSector boot;
    if (!hasBootMarker(s)) return boot;
    // Beyond the labels, a boot sector of a volume names 512-byte sectors and a real cluster
    // size: random data that happens to carry the marker and two digits is no volume.
    if (readLe16(s, kBytesPerSectorOffset) != storage::kSectorSize || !isValidClusterSize(readU8(s, kSpcOffset)))
        return boot;
    // Volumes under 32 MiB keep their size in the 16-bit field alone, FAT32 ones too when a
    // formatter makes them that small.
    const std::uint16_t small = readLe16(s, kTotal16Offset);
    if (s[85] == '3' && s[86] == '2') {
        boot.fileSystem = kFat32;
        boot.sectors = small ? small : readLe32(s, kTotal32Offset);
    } else if (s[57] == '1' && s[58] == '6') {
        boot.fileSystem = kFat16;
        boot.sectors = small ? small : readLe32(s, kTotal32Offset);
    } else if (bytesEqual(s, 3, "NTFS")) {
        boot.fileSystem = kNtfs;
        boot.sectors = readLe64(s, kNtfsTotalOffset);
    }
    return boot;
}

PartitionSearchResult physicalPartitionSearch(const PartitionSearchContext& ctx)
{
    PartitionSearchResult result;
    if (!ctx.source) {
        result.sourceFailed = true;
        return result;
    }
    if (ctx.mode == SearchMode::Advanced) advancedSearch(ctx, result);
    else standardSearch(ctx, result);
    return result;
}

SearchedPartition wholeDiskPartition(std::uint64_t totalSectors)
{
    SearchedPartition p;
    p.fileSystem = guessFileSystemBySize(0, totalSectors);
    p.firstSector = 0;
    p.lastSector = totalSectors ? totalSectors - 1 : 0;
    return p;
}

std::string logicalSearchKey(const std::string& devicePath)
{
    return "Log|" + devicePath + "|";
}

LogicalSearchResult logicalPartitionSearch(const LogicalSearchContext& ctx, RecognisedPartitionTable& table)
{
    LogicalSearchResult result;
    if (!ctx.source) return result;
    const std::string key = logicalSearchKey(ctx.devicePath);
    ProgressReporter report(ctx.observer);
    report.status(StatusLine::SectorsScannedOfTotal, ctx.volumeSectors);
    auto rowsWithKey = [&] {
        return static_cast<std::size_t>(std::count_if(table.begin(), table.end(), [&](const RecognisedPartition& r) { return r.key == key; }));
    };
    const auto swept = sweepBootMarkers(ctx.source, ctx.volumeSectors, kLogicalBlockSectors, ctx.stopRequested, report,
                                        [&](Bytes sector, std::uint64_t start) {
        const SearchBootSector boot = classifySearchSector(sector);
        if (boot.fileSystem.empty()) return;
        // An NTFS volume cannot be larger than the one that holds it.
        const std::uint64_t size = boot.fileSystem == kNtfs ? std::min(boot.sectors, ctx.volumeSectors) : boot.sectors;
        if (boot.fileSystem == kNtfs && size == 0) return;
        const std::uint64_t end = start + size;
        const bool duplicate = std::any_of(table.begin(), table.end(), [&](const RecognisedPartition& r) {
            if (r.key != key || r.fileSystem != boot.fileSystem) return false;
            if (r.startSector == start && r.endSector == end) return true;
            // The copies of a volume found before: NTFS at its end, FAT32 six sectors in.
            return (boot.fileSystem == kNtfs && r.endSector == start) ||
                   (boot.fileSystem == kFat32 && r.startSector + kFat32BackupBoot == start);
        });
        if (duplicate) return;
        RecognisedPartition row;
        row.key = key;
        row.name = "Recognised" + std::to_string(rowsWithKey() + 1);
        row.fileSystem = boot.fileSystem;
        row.startSector = start;
        row.endSector = end;
        row.lastSector = searchedLastSector({boot.fileSystem, size}, start);
        row.sizeText = std::to_string((size * storage::kSectorSize) >> 20) + " MB";
        table.push_back(row);
        result.added.push_back(row);
                                        });
    result.stopped = swept.end == storage::SweepEnd::Stopped;
    result.unreadableSectors = swept.unreadableSectors;
    return result;
}

}  // namespace kfr::volumes
