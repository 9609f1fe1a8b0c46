// Directory walk over sectors and cluster chains.
#include "recovery/directory_listing.h"

#include <array>
#include <unordered_map>
#include <vector>

#include "volumes/cluster_chain.h"

namespace kfr::recovery {

namespace {

enum class SectorOutcome { Continue, EndDirectory, Stop };

// A deleted folder's clusters are no longer chained: its directory is read on from its first
// cluster through the following free clusters, at most as far as a directory can reach (65,536
// entries), and only while its sectors still hold directory entries.
constexpr std::uint64_t kMaxDirectoryBytes = 65536ULL * 32;
// Free clusters looked at for a deleted folder's next cluster before giving up.
constexpr std::uint32_t kMaxClustersLookedAt = 4096;

struct SectorVisit {
    SectorOutcome outcome = SectorOutcome::Continue;
    bool endMark = false;
    std::size_t entries = 0;  // entries that look like directory entries (items, long-name parts, dots)
};

// Whether an entry can be passed over unread: an item (not an end mark, dot or long-name part)
// whose first cluster the listing does not want.
bool passedOver(const DirectoryContext& ctx, Bytes entry, bool fat32)
{
    if (entry[0] == 0x00 || (entry[0] == '.' && entry[3] == ' ') || entry[volumes::kEntryAttrOffset] == kAttrLongName) return false;
    return !ctx.wantsEntry(volumes::entryFirstCluster(entry, fat32));
}

SectorVisit visitSector(const DirectoryContext& ctx, Bytes sector, std::uint64_t number, bool endMarkEndsDirectory,
                        bool continuation, const PreviousSector& previous,
                        const std::function<bool(const DirItem&)>& onItem)
{
    SectorVisit visit;
    const bool fat32 = ctx.params->isFat32();
    const bool filtered = ctx.wantsEntry && !continuation;
    for (std::size_t off = 0; off + kEntrySize <= sector.size(); off += kEntrySize) {
        if (ctx.stopRequested && ctx.stopRequested->load()) {
            visit.outcome = SectorOutcome::Stop;
            return visit;
        }
        if (filtered && passedOver(ctx, sector.subspan(off, kEntrySize), fat32)) continue;
        EntrySkip skip = EntrySkip::None;
        auto item = decodeEntryWithLongName(sector, off, number, fat32, *ctx.source, &skip, previous);
        if (!item) {
            if (skip == EntrySkip::EndMark) {
                visit.endMark = true;
                if (endMarkEndsDirectory) visit.outcome = SectorOutcome::EndDirectory;
                return visit;
            }
            if (skip == EntrySkip::LongNamePart || skip == EntrySkip::DotEntry) ++visit.entries;
            continue;
        }
        ++visit.entries;
        if (!onItem(*item)) {
            visit.outcome = SectorOutcome::Stop;
            return visit;
        }
    }
    return visit;
}

}  // namespace

storage::SectorReadAhead directoryReadAhead(const storage::SectorSource& source)
{
    // Folders named in tree order often lie a few sectors apart: 64 KiB ahead serves dozens.
    constexpr std::uint32_t kWindowSectors = 128;
    const std::uint64_t sectors = source.sectorCount();
    return storage::SectorReadAhead(source, 0, sectors ? sectors : UINT64_MAX, kWindowSectors);
}

void listDirectory(const DirectoryContext& ctx, DirectoryRef dir, EndMarkRule rule,
                   const std::function<bool(const DirItem&)>& onItem)
{
    if (!ctx.source || !ctx.params) return;
    const auto& p = *ctx.params;
    const auto& source = *ctx.source;
    ProgressReporter report(ctx.observer);
    std::array<std::uint8_t, storage::kSectorSize> buffer;

    storage::SectorReadAhead* const ahead = ctx.sectors && &ctx.sectors->source() == &source ? ctx.sectors : nullptr;
    auto readOrReport = [&](std::uint64_t sector) {
        if (ahead) {
            const auto bytes = ahead->sector(sector);
            if (!bytes.empty()) {
                std::copy(bytes.begin(), bytes.end(), buffer.begin());
                return true;
            }
        } else if (source.read(sector, 1, buffer)) {
            return true;
        }
        report.problem(Error{ErrorKind::ReadFailed, sector, source.path(), "directory sector unreadable"});
        return false;
    };

    if (dir.root && p.isFat16()) {
        const bool endsDirectory = rule == EndMarkRule::EndsDirectory;
        const PreviousSector previous = [&](std::uint64_t s) -> std::optional<std::uint64_t> {
            if (s <= p.rootStart) return std::nullopt;
            return s - 1;
        };
        for (std::uint32_t i = 0; i < p.rootSectors; ++i) {
            const std::uint64_t s = p.rootStart + i;
            if (!readOrReport(s)) continue;
            if (visitSector(ctx, buffer, s, endsDirectory, false, previous, onItem).outcome != SectorOutcome::Continue) return;
        }
        return;
    }

    const std::uint32_t first = dir.root ? static_cast<std::uint32_t>(p.rootStart) : dir.firstCluster;
    const bool endsDirectory = rule != EndMarkRule::EndsSector;
    if (p.spc == 0) return;
    const auto chain = volumes::walkClusterChain(source, p, first, ctx.stopRequested, ctx.fat);
    std::vector<std::uint32_t> clusters = chain.clusters();
    // A long name may start one or more clusters back, in clusters that need not lie just before:
    // every step back follows the directory's own clusters.
    std::unordered_map<std::uint64_t, std::size_t> clusterAt;  // first sector -> index in clusters
    const PreviousSector previous = [&](std::uint64_t s) -> std::optional<std::uint64_t> {
        const auto it = clusterAt.find(s);
        if (it == clusterAt.end()) return s - 1;  // inside a cluster of the directory
        if (it->second == 0) return std::nullopt;
        return p.clusterSector(clusters[it->second - 1]) + p.spc - 1;
    };
    auto visitCluster = [&](std::uint32_t cluster, bool continuation) {
        const std::uint64_t start = p.clusterSector(cluster);
        clusterAt.emplace(start, clusterAt.size());
        for (std::uint32_t i = 0; i < p.spc; ++i) {
            if (!readOrReport(start + i)) continue;
            const SectorVisit visit = visitSector(ctx, buffer, start + i, endsDirectory, continuation, previous, onItem);
            if (visit.outcome != SectorOutcome::Continue || (continuation && (visit.endMark || visit.entries == 0)))
                return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        if (clusters[i] == 0) return;
        if (!visitCluster(clusters[i], false)) return;
    }
    if (dir.root || chain.stop != volumes::ChainStop::FreeEntry || !endsDirectory) return;

    // The chain ended at a free entry without an end mark: a deleted folder that filled its first
    // clusters. Its later clusters most likely follow it, among clusters the first FAT gives to
    // other files and free ones that held other deleted data: the next free clusters whose first
    // sector reads as directory entries continue it, until an end mark.
    volumes::FatReader fat(source, p.isFat16(), p.firstFat, p.spf);
    const std::uint64_t volumeClusters = volumes::clustersBefore(p, source.sectorCount() ? source.sectorCount() : UINT64_MAX);
    std::uint64_t budget = kMaxDirectoryBytes / (static_cast<std::uint64_t>(p.spc) * storage::kSectorSize);
    std::uint32_t looked = 0;
    for (std::uint64_t c = static_cast<std::uint64_t>(clusters.back()) + 1;
         budget > 0 && looked < kMaxClustersLookedAt && c < volumeClusters && c <= UINT32_MAX; ++c) {
        std::uint32_t entry = 0;
        if (fat.entry(static_cast<std::uint32_t>(c), entry) && (p.isFat16() ? entry : entry & 0x0FFFFFFF) != 0) continue;
        ++looked;
        if (!source.read(p.clusterSector(c), 1, buffer) || !looksLikeDirectorySector(buffer)) continue;
        clusters.push_back(static_cast<std::uint32_t>(c));
        --budget;
        if (!visitCluster(static_cast<std::uint32_t>(c), true)) return;
    }
}

}  // namespace kfr::recovery
