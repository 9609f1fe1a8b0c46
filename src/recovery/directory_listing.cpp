// Directory walk over sectors and cluster chains.
#include "recovery/directory_listing.h"

#include <vector>

#include "volumes/cluster_chain.h"

namespace kfr::recovery {

namespace {

enum class SectorOutcome { Continue, EndDirectory, Stop };

SectorOutcome visitSector(const DirectoryContext& ctx, Bytes sector, std::uint64_t number, bool endMarkEndsDirectory,
                          const PreviousSector& previous, const std::function<bool(const DirItem&)>& onItem)
{
    const bool fat32 = ctx.params->isFat32();
    for (std::size_t off = 0; off + kEntrySize <= sector.size(); off += kEntrySize) {
        if (ctx.stopRequested && ctx.stopRequested->load()) return SectorOutcome::Stop;
        EntrySkip skip = EntrySkip::None;
        auto item = decodeEntryWithLongName(sector, off, number, fat32, *ctx.source, &skip, previous);
        if (!item) {
            if (skip == EntrySkip::EndMark)
                return endMarkEndsDirectory ? SectorOutcome::EndDirectory : SectorOutcome::Continue;
            continue;
        }
        if (!onItem(*item)) return SectorOutcome::Stop;
    }
    return SectorOutcome::Continue;
}

}  // namespace

void listDirectory(const DirectoryContext& ctx, DirectoryRef dir, EndMarkRule rule,
                   const std::function<bool(const DirItem&)>& onItem)
{
    if (!ctx.source || !ctx.params) return;
    const auto& p = *ctx.params;
    const auto& source = *ctx.source;
    ProgressReporter report(ctx.observer);
    std::vector<std::uint8_t> buffer(storage::kSectorSize);

    auto readOrReport = [&](std::uint64_t sector) {
        if (source.read(sector, 1, buffer)) return true;
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
            const auto outcome = visitSector(ctx, buffer, s, endsDirectory, previous, onItem);
            if (outcome != SectorOutcome::Continue) return;
        }
        return;
    }

    const std::uint32_t first = dir.root ? static_cast<std::uint32_t>(p.rootStart) : dir.firstCluster;
    const bool endsDirectory = rule != EndMarkRule::EndsSector;
    if (p.spc == 0) return;
    const auto chain = volumes::walkClusterChain(source, p, first, ctx.stopRequested);
    // A long name may start in the directory's previous cluster, which need not lie just before.
    std::uint64_t previousClusterEnd = 0;
    bool havePreviousCluster = false;
    std::uint64_t clusterStart = 0;
    const PreviousSector previous = [&](std::uint64_t s) -> std::optional<std::uint64_t> {
        if (s > clusterStart) return s - 1;
        if (s == clusterStart && havePreviousCluster) return previousClusterEnd;
        return std::nullopt;
    };
    for (std::uint32_t cluster : chain.clusters()) {
        if (cluster == 0) continue;
        const std::uint64_t start = p.clusterSector(cluster);
        clusterStart = start;
        for (std::uint32_t i = 0; i < p.spc; ++i) {
            if (!readOrReport(start + i)) continue;
            const auto outcome = visitSector(ctx, buffer, start + i, endsDirectory, previous, onItem);
            if (outcome != SectorOutcome::Continue) return;
        }
        previousClusterEnd = start + p.spc - 1;
        havePreviousCluster = true;
    }
}

}  // namespace kfr::recovery
