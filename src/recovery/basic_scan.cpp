// The FAT half of Basic Search: parameters, the directory-cluster sweep and the tree build.
#include "recovery/basic_scan.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <unordered_map>

#include "recovery/directory_listing.h"
#include "recovery/fat_tree_build.h"
#include "recovery/placement_events.h"
#include "storage/bytes.h"
#include "storage/mapped_window.h"
#include "storage/sector_sweep.h"
#include "volumes/boot_parameters.h"
#include "volumes/fat_entry.h"
#include "volumes/infer_parameters.h"

namespace kfr::recovery {

namespace {

constexpr std::uint32_t kBlockSectors = 512;  // 256 KiB per read: sequential-read speed
constexpr std::size_t kMaxKeptProblems = 100;
// Rows set aside before a sweep: as many as its clusters, up to this bound. The room is only
// taken as rows are written, and a million folders are then not copied each time the rows grow.
constexpr std::uint64_t kMaxRowsSetAside = std::uint64_t{1} << 21;

bool stopped(const BasicScanContext& ctx)
{
    return ctx.stopRequested && ctx.stopRequested->load();
}

// The record of a cluster whose first sector starts a directory that names itself, or nothing.
std::optional<FolderRecord> examineCluster(Bytes first, std::uint32_t cluster, std::uint64_t sector,
                                           const volumes::VolumeParameters& p)
{
    using namespace volumes;  // the entry layout
    if (!isDirectoryStart(first)) return std::nullopt;
    const bool fat32 = p.isFat32();
    if (entryFirstCluster(first, fat32) != cluster) return std::nullopt;
    FolderRecord r;
    r.sector = sector;
    r.self = cluster;
    r.parent = entryFirstCluster(first.subspan(kEntrySize), fat32);
    r.date = readLe16(first, kEntryDateOffset);
    r.time = readLe16(first, kEntryTimeOffset);
    r.size = readLe32(first, kEntryFileSizeOffset);
    r.attr = first[kEntryAttrOffset];
    r.fat16BasicRow = p.isFat16();
    return r;
}

// Hands found(record) every directory that starts a cluster of the block; firstCluster is the
// block's first cluster.
template <typename Found>
void examineBlock(const storage::SweepBlock& block, std::uint32_t firstCluster, std::uint32_t clusters,
                  const volumes::VolumeParameters& p, const Found& found)
{
    // Only each cluster's first sector matters: that is where a directory's "." entry lies. The
    // first byte is tested here, in a loop that keeps many reads of the medium's bytes in flight
    // at once; the few clusters that pass are examined in full.
    const std::uint8_t* bytes = block.bytes.data();
    const std::size_t clusterBytes = static_cast<std::size_t>(p.spc) * storage::kSectorSize;
    // Small clusters put several tested bytes in a page: asking for the bytes 8 KiB ahead keeps
    // the next pages' lines coming while these are tested (a million 512-byte clusters: 15 %).
    const std::size_t ahead = std::max<std::size_t>(8192 / clusterBytes, 1);
    std::uint32_t cluster = firstCluster;
    for (std::uint32_t i = 0; i < clusters; ++i, ++cluster) {
        const std::size_t at = static_cast<std::size_t>(i) * clusterBytes;
        if (i + ahead < clusters) __builtin_prefetch(bytes + at + ahead * clusterBytes);
        if (bytes[at] != '.') continue;
        if (auto record = examineCluster(block.bytes.subspan(at, storage::kSectorSize), cluster,
                                         block.firstSector + static_cast<std::uint64_t>(i) * p.spc, p))
            found(*record);
    }
}

// Whether the sectors of an image file lie in the page cache, judged by evenly spread samples:
// a sweep of memory may then run on two cores, where a disk is read fastest front to back.
bool heldInMemory(const storage::SectorSource& source, std::uint64_t firstSector, std::uint64_t sectors)
{
    const auto image = source.imageFile();
    if (!image || sectors == 0) return false;
    const std::uint64_t from = storage::byteOffsetOf(firstSector);
    const std::uint64_t to = std::min(image->byteSize, storage::byteOffsetOf(firstSector + sectors));
    if (to <= from || to - from > SIZE_MAX) return false;
    storage::MappedWindow window;
    if (!window.map(image->fd, from, static_cast<std::size_t>(to - from))) return false;
    constexpr int kSamples = 64;
    constexpr std::uint64_t kSampleBytes = 1 << 20;
    for (int i = 0; i < kSamples; ++i) {
        const std::uint64_t at = from + (to - from) / kSamples * static_cast<std::uint64_t>(i);
        if (!window.resident(at, static_cast<std::size_t>(std::min(kSampleBytes, to - at)))) return false;
    }
    return true;
}

// What the second half of a two-core sweep found, for the first to take over when both end.
struct SweepHalf {
    std::vector<FolderRecord> rows;
    std::vector<Error> problems;
    std::atomic<std::uint64_t> sectorsDone{0};
    std::atomic<std::uint64_t> found{0};
    storage::SweepReport report;
};

void sweepDirectoryClusters(const BasicScanContext& ctx, const volumes::VolumeParameters& p, BasicScanResult& result,
                            ProgressReporter& report)
{
    const std::uint64_t last = ctx.selection.lastSector;
    report.status(StatusLine::SectorsScannedOfTotal, last);
    if (p.spc == 0) return;
    auto* events = dynamic_cast<BasicScanObserver*>(ctx.observer);
    std::uint64_t foundReported = 0;

    // Blocks start at cluster 2's sector and below the last sector (the first one always); each
    // is read whole, so the last may reach up to 511 sectors past the last sector, and the
    // directories found there count.
    const std::uint64_t start = p.clusterSector(2);
    const std::uint64_t sectors = last > start ? last - start : 1;
    const std::uint32_t clustersPerBlock = kBlockSectors / p.spc;
    const auto rowsFor = [&](std::uint64_t sectorCount) {
        return static_cast<std::size_t>(std::min(sectorCount / p.spc + 1, kMaxRowsSetAside));
    };
    result.folders.table.reserve(result.folders.table.slotCount() + rowsFor(sectors));
    storage::SweepContext sweep;
    sweep.source = ctx.source;
    sweep.ranges = {{start, sectors}};
    sweep.blockSectors = kBlockSectors;
    sweep.wholeBlocks = true;
    sweep.stopRequested = ctx.stopRequested;
    std::uint64_t rowNumber = 1;
    const auto keep = [&](FolderRecord record) {
        record.nameByNumber(rowNumber++);
        result.folders.table.append(record);
        ++result.directoriesFound;
    };
    const auto clusterOf = [&](std::uint64_t offsetInVolume) {
        return static_cast<std::uint32_t>(2 + offsetInVolume / kBlockSectors * clustersPerBlock);
    };

    // An image in the page cache is swept in two halves at once, the second on a thread of its
    // own; the first half's thread reports progress for both and takes the second's folders
    // after its own, numbered on from them, so the rows stand as one sweep front to back gives.
    const std::uint64_t half = sectors / 2 / kBlockSectors * kBlockSectors;
    if (half >= (std::uint64_t{4} << 11) && heldInMemory(*ctx.source, start, sectors)) {
        SweepHalf second;
        second.rows.reserve(rowsFor(sectors - half));
        storage::SweepContext secondSweep = sweep;
        secondSweep.ranges = {{start + half, sectors - half}};
        sweep.ranges = {{start, half}};
        sweep.wholeBlocks = false;  // the first half ends where the second begins
        std::jthread helper([&] {
            second.report = storage::sweepSectors(secondSweep, [&](const storage::SweepBlock& block) {
                for (const auto& run : block.unreadable)
                    if (second.problems.size() < kMaxKeptProblems)
                        second.problems.push_back(storage::unreadableRunError(*ctx.source, run));
                examineBlock(block, clusterOf(half + block.offsetInRange), clustersPerBlock, p,
                             [&](const FolderRecord& record) {
                                 second.rows.push_back(record);
                                 second.found.fetch_add(1, std::memory_order_relaxed);
                             });
                second.sectorsDone.fetch_add(block.sectorCount, std::memory_order_relaxed);
                return true;
            });
        });
        report.begin(start, last);
        std::uint64_t firstDone = 0;
        const auto firstReport = storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
            for (const auto& run : block.unreadable) {
                const Error problem = storage::unreadableRunError(*ctx.source, run);
                report.problem(problem);
                if (result.problems.size() < kMaxKeptProblems) result.problems.push_back(problem);
            }
            examineBlock(block, clusterOf(block.offsetInRange), clustersPerBlock, p, keep);
            firstDone += block.sectorCount;
            report.update(start + firstDone + second.sectorsDone.load(std::memory_order_relaxed));
            const std::uint64_t found = result.directoriesFound + second.found.load(std::memory_order_relaxed);
            if (events && found != foundReported) events->onFoldersFound(foundReported = found);
            return true;
        });
        helper.join();
        for (const FolderRecord& record : second.rows) keep(record);
        for (const Error& problem : second.problems) {
            report.problem(problem);
            if (result.problems.size() < kMaxKeptProblems) result.problems.push_back(problem);
        }
        report.finish();
        if (events && result.directoriesFound != foundReported) events->onFoldersFound(result.directoriesFound);
        result.unreadableSectors += firstReport.unreadableSectors + second.report.unreadableSectors;
        if (firstReport.end == storage::SweepEnd::Stopped || second.report.end == storage::SweepEnd::Stopped)
            result.end = ScanEnd::Stopped;
        if (firstReport.end == storage::SweepEnd::MediumGone || second.report.end == storage::SweepEnd::MediumGone)
            noteMediumGone(result, *ctx.source);
        return;
    }

    sweep.progress = &report;
    sweep.progressBounds = storage::ProgressBounds{start, last};
    const auto swept = storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        for (const auto& run : block.unreadable)
            if (result.problems.size() < kMaxKeptProblems)
                result.problems.push_back(storage::unreadableRunError(*ctx.source, run));
        examineBlock(block, clusterOf(block.offsetInRange), clustersPerBlock, p, keep);
        if (events && result.directoriesFound != foundReported) {
            foundReported = result.directoriesFound;
            events->onFoldersFound(foundReported);
        }
        return true;
    });
    result.unreadableSectors += swept.unreadableSectors;
    if (swept.end == storage::SweepEnd::Stopped) result.end = ScanEnd::Stopped;
    if (swept.end == storage::SweepEnd::MediumGone) noteMediumGone(result, *ctx.source);
}

// The found folders' rows, and the orphan folder's. Its row goes last (its cluster number is above
// every real cluster's): the rows then stand in the cluster order the sweep found them in, which
// the tree build's sort by cluster finds already done.
void scanDirectoryClusters(const BasicScanContext& ctx, const volumes::VolumeParameters& p, BasicScanResult& result,
                           ProgressReporter& report)
{
    sweepDirectoryClusters(ctx, p, result, report);
    result.folders.table.append(makeOrphanRecord(ctx.orphanTimeWord));
}

}  // namespace

void noteMediumGone(BasicScanResult& result, const storage::SectorSource& source)
{
    result.end = ScanEnd::Failed;
    result.mediumRemoved = true;
    if (result.problems.size() < kMaxKeptProblems)
        result.problems.push_back(Error{ErrorKind::MediumRemoved, 0, source.path(), "the medium was removed"});
}

bool resultsAreEmpty(const FolderResults& r)
{
    if (r.tree.empty()) return true;
    const ItemId top = r.tree.firstTopLevel();
    const auto& kids = r.tree.children(top);
    if (r.tree.topLevel().size() > 1) return false;
    if (kids.empty()) return true;
    return kids.size() == 1 && r.tree.item(kids[0]).name == kOrphanName && r.tree.children(kids[0]).empty();
}

ChildFolderNamer::ChildFolderNamer(const FolderResults& results, ItemId folder) : m_results(results), m_folder(folder)
{
    const FolderNode* node = results.nodeOf(folder);
    if (!node) return;
    const std::uint32_t self = node->self;
    const auto ownIndex = static_cast<std::size_t>(results.tree.item(folder).node);
    // Children to name: the tree children of this folder whose parent cluster is this folder. Two
    // nodes with one self cluster cannot both be placed, but the first one is the one named.
    for (ItemId child : results.tree.children(folder)) {
        const auto idx = results.tree.item(child).node;
        if (idx < 0) continue;
        const FolderNode& cn = results.nodes[static_cast<std::size_t>(idx)];
        if (cn.parent != self || static_cast<std::size_t>(idx) < ownIndex) continue;
        m_children.push_back(Child{cn.self, static_cast<std::size_t>(idx), false, {}});
    }
    std::sort(m_children.begin(), m_children.end(), [](const Child& a, const Child& b) {
        return a.self != b.self ? a.self < b.self : a.node < b.node;
    });
    m_children.erase(std::unique(m_children.begin(), m_children.end(),
                                 [](const Child& a, const Child& b) { return a.self == b.self; }),
                     m_children.end());
}

const ChildFolderNamer::Child* ChildFolderNamer::find(std::uint32_t cluster) const
{
    const auto it = std::lower_bound(m_children.begin(), m_children.end(), cluster,
                                     [](const Child& c, std::uint32_t v) { return c.self < v; });
    return it != m_children.end() && it->self == cluster ? &*it : nullptr;
}

void ChildFolderNamer::offer(const DirItem& entry)
{
    const Child* found = find(entry.firstCluster);
    if (!found) return;
    Child& child = m_children[static_cast<std::size_t>(found - m_children.data())];
    if (!child.named) {
        const FolderNode& node = m_results.nodes[child.node];
        child.named = true;
        child.rename = FolderRename{node.item, {}, node.deleted};
        m_order.push_back(static_cast<std::size_t>(found - m_children.data()));
    }
    child.rename.name = entry.name;
    if (entry.deleted) child.rename.deleted = true;
}

FolderChanges ChildFolderNamer::takeChanges()
{
    FolderChanges out;
    out.visited.push_back(m_folder);
    out.renames.reserve(m_order.size());
    for (std::size_t at : m_order) out.renames.push_back(std::move(m_children[at].rename));
    return out;
}

FolderChanges nameChildFolders(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                               const FolderResults& results, ItemId folder, const std::atomic<bool>* stopRequested,
                               volumes::FatReader* fat, storage::SectorReadAhead* sectors)
{
    const FolderNode* node = results.nodeOf(folder);
    if (!node) return {};
    ChildFolderNamer namer(results, folder);
    if (namer.wanted()) {
        DirectoryContext dctx{&source, &params, stopRequested, nullptr,
                              [&](std::uint32_t cluster) { return namer.wants(cluster); }, fat, sectors};
        listDirectory(dctx, DirectoryRef{false, node->self}, EndMarkRule::EndsDirectory, [&](const DirItem& item) {
            namer.offer(item);
            return true;
        });
    }
    return namer.takeChanges();
}

BasicScanResult runBasicScan(const BasicScanContext& given)
{
    // Callers without a session-long counter get one for this scan.
    DirNamer scanNamer;
    BasicScanContext ctx = given;
    if (!ctx.namer) ctx.namer = &scanNamer;
    BasicScanResult result;
    ProgressReporter report(ctx.observer);
    const auto& sel = ctx.selection;
    const bool fat = sel.partType == volumes::kFat16 || sel.partType == volumes::kFat32;

    if (!ctx.source) {
        result.end = ScanEnd::Failed;
        result.folders.tree.add(kNoItem, kRootName, 0);
        result.foundNothing = true;
        return result;
    }

    if (!fat && sel.partType != volumes::kNtfs) result.paramsFailure = ParamsFailure::NotFatOrNtfs;

    if (sel.partType == volumes::kNtfs) {
        runNtfsRecordScan(ctx, result);
        result.foundNothing = resultsAreEmpty(result.folders);
        return result;
    }

    if (fat) {
        auto boot = volumes::readBootParameters(*ctx.source, sel);
        if (boot) {
            result.params = *boot;
            result.paramsFromBootSector = true;
        } else {
            volumes::InferenceContext ictx{ctx.source, sel, ctx.stopRequested, ctx.observer};
            auto inferred = volumes::inferFatParameters(ictx);
            if (inferred) {
                result.params = *inferred;
            } else {
                result.paramsFailed = true;
                result.paramsFailure = ParamsFailure::NotInferred;
                if (inferred.error().kind == ErrorKind::Stopped) {
                    result.end = ScanEnd::Stopped;
                    result.paramsFailure = ParamsFailure::StoppedInference;
                } else if (inferred.error().kind == ErrorKind::MediumRemoved) {
                    result.paramsFailure = ParamsFailure::MediumRemoved;
                    noteMediumGone(result, *ctx.source);
                }
            }
        }
        if (!result.paramsFailed) {
            if (!stopped(ctx)) scanDirectoryClusters(ctx, result.params, result, report);
            else result.end = ScanEnd::Stopped;
            FatTreeBuild build;
            build.source = ctx.source;
            build.params = &result.params;
            build.namer = ctx.namer;
            build.observer = ctx.observer;
            buildFatTree(build, result.folders);
        }
    }

    if (result.folders.tree.empty()) result.folders.tree.add(kNoItem, kRootName, 0);
    result.foundNothing = resultsAreEmpty(result.folders);
    if (stopped(ctx) && result.end == ScanEnd::Finished) result.end = ScanEnd::Stopped;
    return result;
}

}  // namespace kfr::recovery
