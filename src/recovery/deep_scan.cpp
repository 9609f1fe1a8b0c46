// Deep Search over FAT volumes: the sweep, the partition inference and the decoding.
#include "recovery/deep_scan.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "recovery/deep_ntfs.h"
#include "recovery/directory_listing.h"
#include "recovery/ntfs_tree_build.h"
#include "recovery/placement_events.h"
#include "recovery/fat_tree_build.h"
#include "storage/sector_sweep.h"
#include "volumes/fat_copies.h"
#include "volumes/fat_entry.h"

namespace kfr::recovery {

namespace {

constexpr std::size_t kMaxKeptProblems = 100;
// Cluster sizes a directory pair may give, in sectors.
constexpr std::array<std::uint32_t, 8> kClusterSizes = {1, 2, 4, 8, 16, 32, 64, 128};
// A volume whose directories name clusters beyond this many cannot be FAT16.
constexpr std::uint32_t kMaxFat16Cluster = 65536;

// What one sweep of the range gathers besides the FAT tables.
struct NtfsFinds {
    std::vector<NtfsRecordHit> records;
    std::vector<NtfsBootHit> boots;
    std::uint64_t directories = 0;
};

// The sweep: every sector of every block is tested as a FAT boot sector and a directory start
// (FAT), and as an NTFS boot sector and file record (NTFS).
void sweepRange(const DeepScanContext& ctx, const DeepFileSystems& systems, DeepScanResult& result, NtfsFinds& ntfs)
{
    ProgressReporter report(ctx.observer);
    report.status(StatusLine::SectorsScannedOfTotal, ctx.endSector);
    auto* events = dynamic_cast<DeepScanObserver*>(ctx.observer);

    storage::SweepContext sweep;
    sweep.source = ctx.source;
    sweep.ranges = {{ctx.startSector, ctx.endSector - ctx.startSector}};
    sweep.blockSectors = kDeepBlockSectors;
    sweep.wholeBlocks = true;  // the last block is read whole, even past the end sector
    sweep.stopRequested = ctx.stopRequested;
    sweep.progress = &report;
    std::uint64_t bootsReported = 0, dirsReported = 0;
    std::vector<std::uint8_t> straddling(kMftRecordBytes);
    const auto swept = storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        for (std::uint32_t i = 0; i < block.mediumSectors; ++i) {
            const std::uint8_t* bytes = block.bytes.data() + static_cast<std::size_t>(i) * storage::kSectorSize;
            // Most sectors are none of these: the first byte and the boot marker rule them out
            // before any test is called.
            const std::uint8_t first = bytes[0];
            const bool bootMarker = bytes[510] == 0x55 && bytes[511] == 0xAA;
            if (first != 'F' && first != '.' && !bootMarker) continue;
            const Bytes sector(bytes, storage::kSectorSize);
            const std::uint64_t s = block.firstSector + i;
            if (systems.ntfs) {
                if (first == 'F' && looksLikeMftRecord(sector)) {
                    // A record is two sectors; the last sector of a block has its second in the next.
                    std::optional<NtfsRecordHit> hit;
                    if (i + 1 < block.mediumSectors) {
                        if (block.readable(s, 2)) hit = ntfsRecordHit(Bytes(bytes, kMftRecordBytes), s);
                    } else if (ctx.source->read(s, 2, straddling)) {
                        hit = ntfsRecordHit(straddling, s);
                    }
                    if (hit) {
                        ntfs.directories += hit->facts.directory();
                        ntfs.records.push_back(std::move(*hit));
                    }
                    continue;
                }
                if (bootMarker) {
                    if (const auto boot = volumes::parseNtfsBootSector(sector)) ntfs.boots.push_back({s, *boot});
                }
            }
            if (!systems.fat) continue;
            if (bootMarker && isFatBootSector(sector)) result.bootCandidates.push_back(bootCandidate(sector, s));
            if (first != '.' || !volumes::isDirectoryStart(sector)) continue;
            LostDirectoryRecord d;
            d.sector = s;
            // Both clusters with their high words: the volume's type is not known yet.
            d.self = volumes::entryFirstCluster(sector, true);
            d.parent = volumes::entryFirstCluster(sector.subspan(volumes::kEntrySize), true);
            d.date = readLe16(sector, volumes::kEntryDateOffset);
            d.time = readLe16(sector, volumes::kEntryTimeOffset);
            result.lostDirectories.push_back(d);
        }
        for (const auto& run : block.unreadable)
            if (result.problems.size() < kMaxKeptProblems) result.problems.push_back(storage::unreadableRunError(*ctx.source, run));
        const std::uint64_t boots = result.bootCandidates.size() + ntfs.boots.size();
        if (events && boots != bootsReported) {
            bootsReported = boots;
            events->onBootSectorsFound(bootsReported);
        }
        const std::uint64_t found = result.lostDirectories.size() + ntfs.directories;
        if (events && found != dirsReported) {
            dirsReported = found;
            events->onFoldersFound(dirsReported);
        }
        return true;
    });
    result.unreadableSectors += swept.unreadableSectors;
    if (swept.end == storage::SweepEnd::Stopped) result.end = ScanEnd::Stopped;
    if (swept.end == storage::SweepEnd::MediumGone) {
        result.end = ScanEnd::Failed;
        result.mediumRemoved = true;
        result.problems.push_back(Error{ErrorKind::MediumRemoved, 0, ctx.source->path(), "the medium was removed"});
    }
}

// A volume inferred without a chosen FAT type is the type whose FAT copies are found before its
// data area; failing both, FAT32 (whose root is a cluster chain like any folder).
void decideFatType(const storage::SectorSource& source, DeepPartitionRecord& row)
{
    for (const char* type : {volumes::kFat32, volumes::kFat16}) {
        row.partType = type;
        if (locateFatCopies(source, row)) return;
    }
    row.partType = volumes::kFat32;
}

// Every volume's folders into one tree, one volume after the other.
void decodeFat(const DeepScanContext& ctx, DirNamer& namer, DeepScanResult& result)
{
    FolderResults& r = result.folders;
    clearResults(r);
    if (result.partitions.empty()) return;
    if (result.partitions.size() > 1)
        std::stable_sort(result.lostDirectories.begin(), result.lostDirectories.end(),
                         [](const LostDirectoryRecord& a, const LostDirectoryRecord& b) { return a.partition < b.partition; });
    result.volumes.reserve(result.partitions.size());
    std::uint64_t dirCounter = 0;
    for (std::size_t p = 0; p < result.partitions.size(); ++p) {
        DeepPartitionRecord& row = result.partitions[p];
        const auto number = static_cast<std::uint32_t>(p + 1);
        r.table.clear();
        if (p == 0) r.table.append(makeOrphanRecord(ctx.orphanTimeWord));
        for (const auto& d : result.lostDirectories) {
            if (d.partition != number) continue;
            FolderRecord f;
            f.nameByNumber(dirCounter++);
            f.sector = d.sector;
            f.self = d.self;
            f.parent = d.parent;
            f.date = d.date;
            f.time = d.time;
            f.attr = 16;
            f.cluster0Start = d.cluster0Start;
            f.hasCluster0Start = true;
            r.table.append(f);
        }
        if (row.partType.empty()) decideFatType(*ctx.source, row);
        if (row.firstFat == 0) locateFatCopies(*ctx.source, row);
        result.volumes.push_back(parametersOf(row));

        FatTreeBuild build;
        build.source = ctx.source;
        build.params = &result.volumes.back();
        build.namer = &namer;
        build.observer = ctx.observer;
        build.volume = static_cast<std::uint32_t>(p);
        build.firstVolume = p == 0;
        buildFatTree(build, r);
    }
}

// The NTFS volumes the records show, each volume's records into the shared tree.
void decodeNtfs(const DeepScanContext& ctx, DirNamer& namer, NtfsFinds& finds, DeepScanResult& result)
{
    if (finds.records.empty() && finds.boots.empty()) return;
    ProgressReporter report(ctx.observer);
    report.stage(WorkStage::CalculatingPartitionParams);
    const auto guesses = inferNtfsVolumes(finds.records, finds.boots, ctx.fallbackVolumeStart);
    std::vector<std::vector<NtfsRecordHit*>> byVolume(guesses.size());
    for (auto& hit : finds.records)
        if (const auto v = ntfsVolumeOf(guesses, hit.facts.sector)) byVolume[*v].push_back(&hit);

    FolderResults& r = result.folders;
    r.table.clear();
    if (r.tree.empty()) r.tree.add(kNoItem, kRootName, 0);
    const ItemId root = r.tree.firstTopLevel();
    PlacementEvents events(ctx.observer, r);
    for (std::size_t g = 0; g < guesses.size(); ++g) {
        // A boot sector whose volume holds no record found gives nothing to show.
        if (byVolume[g].empty()) continue;
        const NtfsVolumeGuess& guess = guesses[g];
        const auto volume = static_cast<std::uint32_t>(result.volumes.size());
        result.volumes.push_back(ntfsParameters(guess));
        DeepPartitionRecord row;
        row.sector = guess.bootSector;
        row.spc = guess.spc;
        row.cluster0Start = static_cast<std::int64_t>(guess.firstSector);
        row.totalSectors = guess.totalSectors ? guess.firstSector + guess.totalSectors : 0;
        row.partType = volumes::kNtfs;
        row.fromBootSector = guess.fromBootSector;
        result.partitions.push_back(row);
        result.ntfsVolumes.push_back(guess);

        NtfsTreeBuilder builder(r, result.mftFiles, root, volume, events);
        const auto named = nameThroughMft(byVolume[g], *ctx.source, result.volumes.back());
        for (const NtfsRecordHit* hit : distinctRecords(named, *ctx.source, result.volumes.back()))
            builder.offer(hit->facts);
        builder.finish(namer, report);
    }
    r.tree.item(root).expanded = true;
}

}  // namespace

bool locateFatCopies(const storage::SectorSource& source, DeepPartitionRecord& row)
{
    const bool fat16 = row.partType == volumes::kFat16;
    if (!fat16 && row.partType != volumes::kFat32) return false;
    // Where the copies may begin: a FAT16 FAT is at most 256 sectors long; a FAT32 one is longer,
    // and its first copy may even lie before the window (the second is looked for first).
    const std::int64_t window = fat16 ? 550 : 30000;
    const std::int64_t cluster2 = row.cluster0Start + 2LL * row.spc;
    if (cluster2 <= 0) return false;
    const std::uint64_t start = static_cast<std::uint64_t>(std::max<std::int64_t>(0, row.cluster0Start - window));
    const auto copies = volumes::findFatCopies(source, start, static_cast<std::uint64_t>(cluster2), fat16);
    if (!copies) return false;
    row.firstFat = copies->firstFat;
    row.secondFat = copies->secondFat;
    row.spf = copies->spf;
    if (fat16) {
        row.rootStart = copies->rootStart;
        row.rootSectors = copies->rootSectors;
    } else {
        row.rootStart = 2;
    }
    return true;
}

bool isIntactVolume(const storage::SectorSource& source, const volumes::VolumeParameters& params)
{
    if (!params.isFat16() && !params.isFat32()) return false;
    DirectoryContext dctx{&source, &params, nullptr, nullptr, {}, nullptr};
    int named = 0;
    listDirectory(dctx, DirectoryRef{true, 0}, EndMarkRule::EndsDirectory, [&](const DirItem& item) {
        // A label is no file: a volume with a label and one file proves no more than one file.
        if (!item.isDirectory() && !item.isVolumeLabel() && !item.name.empty()) ++named;
        return named < 2;
    });
    return named >= 2;
}

void inferPartitions(LostDirectoryTable& dirs, const BootCandidateTable& boots, const std::string& selectedType,
                     DeepPartitionTable& parts)
{
    // Known boot sectors first: a directory belongs to a boot sector's volume when it lies inside
    // it exactly where the volume's geometry puts its cluster.
    for (const auto& boot : boots) {
        std::uint32_t number = kUnassigned;
        for (auto& d : dirs) {
            if (d.partition != kUnassigned || boot.spc == 0) continue;
            const auto sector = static_cast<std::int64_t>(d.sector);
            if (sector < boot.cluster0Start || d.sector > boot.totalSectors) continue;
            if (static_cast<std::int64_t>(d.self) * boot.spc + boot.cluster0Start != sector) continue;
            if (number == kUnassigned) {
                parts.push_back(boot);
                number = static_cast<std::uint32_t>(parts.size());
            }
            d.partition = number;
            d.cluster0Start = boot.cluster0Start;
        }
    }

    // Then pairs of directories. For every cluster size K, directories of one volume share the
    // value sector - self * K (their cluster 0): index the directories by it, so finding a
    // directory's partner and its volume's other directories is a lookup, not a search of all.
    // (cluster 0, directory index) for every unassigned directory and cluster size, sorted: a
    // volume's directories under one cluster size are one run, in table order.
    using Entry = std::pair<std::int64_t, std::size_t>;
    std::array<std::vector<Entry>, kClusterSizes.size()> byZero;
    for (std::size_t k = 0; k < kClusterSizes.size(); ++k) {
        auto& list = byZero[k];
        list.reserve(dirs.size());
        for (std::size_t i = 0; i < dirs.size(); ++i)
            if (dirs[i].partition == kUnassigned)
                list.emplace_back(static_cast<std::int64_t>(dirs[i].sector) - static_cast<std::int64_t>(dirs[i].self) * kClusterSizes[k], i);
        std::sort(list.begin(), list.end());
    }
    auto sameZero = [&](std::size_t k, std::int64_t zero) {
        const auto& list = byZero[k];
        const auto from = std::lower_bound(list.begin(), list.end(), Entry{zero, 0});
        const auto to = std::lower_bound(from, list.end(), Entry{zero + 1, 0});
        return std::make_pair(from, to);
    };
    for (std::size_t a = 0; a < dirs.size(); ++a) {
        LostDirectoryRecord& A = dirs[a];
        if (A.partition != kUnassigned) continue;
        // The first later directory (in table order) that pairs with A under any cluster size.
        std::size_t partner = dirs.size();
        std::size_t partnerSize = 0;
        std::int64_t zero = 0;
        for (std::size_t k = 0; k < kClusterSizes.size() && A.self >= 2; ++k) {
            const std::int64_t q = static_cast<std::int64_t>(A.sector) - static_cast<std::int64_t>(A.self) * kClusterSizes[k];
            // Cluster 2, where the data area begins, must lie on the medium.
            if (q + 2LL * kClusterSizes[k] < 0) continue;
            const auto [from, to] = sameZero(k, q);
            for (auto it = std::upper_bound(from, to, Entry{q, a}); it != to && it->second < partner; ++it) {
                const LostDirectoryRecord& B = dirs[it->second];
                if (B.partition == kUnassigned && B.self > A.self) {
                    partner = it->second;
                    partnerSize = k;
                    zero = q;
                    break;
                }
            }
        }
        if (partner == dirs.size()) {
            A.partition = kFitsNoPartition;
            continue;
        }
        DeepPartitionRecord row;
        row.spc = kClusterSizes[partnerSize];
        row.cluster0Start = zero;
        row.partType = selectedType;
        parts.push_back(row);
        const auto number = static_cast<std::uint32_t>(parts.size());
        std::uint32_t largest = 0;
        const auto [from, to] = sameZero(partnerSize, zero);
        for (auto it = from; it != to; ++it) {
            LostDirectoryRecord& d = dirs[it->second];
            if (d.partition != kUnassigned) continue;
            d.partition = number;
            d.cluster0Start = zero;
            largest = std::max(largest, d.self);
        }
        if (selectedType != volumes::kFat32 && largest > kMaxFat16Cluster) parts.back().partType = volumes::kFat32;
    }
}

DeepFileSystems deepFileSystems(const std::string& chosen)
{
    if (chosen == volumes::kFat16 || chosen == volumes::kFat32) return {true, false, chosen};
    if (chosen == kDeepAnyFat) return {true, false, ""};
    if (chosen == volumes::kNtfs) return {false, true, ""};
    if (chosen == kDeepEveryFileSystem) return {true, true, ""};
    return {false, false, ""};
}

DeepScanResult runDeepScan(const DeepScanContext& given)
{
    DeepScanResult result;
    DirNamer scanNamer;
    DirNamer& namer = given.namer ? *given.namer : scanNamer;
    const DeepFileSystems systems = deepFileSystems(given.fileSystem);
    if (!given.source || given.endSector <= given.startSector || (!systems.fat && !systems.ntfs)) {
        result.end = ScanEnd::Failed;
        result.folders.tree.add(kNoItem, kRootName, 0);
        result.foundNothing = true;
        return result;
    }
    const DeepScanContext& ctx = given;
    ProgressReporter report(ctx.observer);

    NtfsFinds ntfs;
    sweepRange(ctx, systems, result, ntfs);
    // Stopped or not, the volumes are inferred and decoded from what the sweep gathered.
    if (result.lostDirectories.empty()) {
        for (const auto& boot : result.bootCandidates) {
            // Each intact volume without subdirectories is decoded from its root.
            // A FAT32 volume's boot sector copy six sectors in is no volume of its own.
            const bool inside = std::any_of(result.partitions.begin(), result.partitions.end(), [&](const DeepPartitionRecord& p) {
                return boot.sector > p.sector && boot.sector < p.totalSectors;
            });
            if (inside) continue;
            DeepPartitionRecord row = boot;
            if (row.firstFat == 0) locateFatCopies(*ctx.source, row);
            if (!isIntactVolume(*ctx.source, parametersOf(row))) continue;
            result.partitions.push_back(row);
            result.decodedFromRoot = true;
        }
    } else {
        report.stage(WorkStage::CalculatingPartitionParams);
        inferPartitions(result.lostDirectories, result.bootCandidates, systems.fatType, result.partitions);
    }
    decodeFat(ctx, namer, result);
    decodeNtfs(ctx, namer, ntfs, result);
    result.ntfsRecordsFound = ntfs.records.size();
    if (result.folders.tree.empty()) result.folders.tree.add(kNoItem, kRootName, 0);
    result.foundNothing = result.partitions.empty();
    return result;
}

}  // namespace kfr::recovery
