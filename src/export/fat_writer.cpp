// FAT file writer and cluster-chain builder.
#include "export/fat_writer.h"

#include <algorithm>
#include <optional>

#include "export/file_times.h"

namespace kfr::exporting {

ClusterChain buildClusterChain(const storage::SectorSource& source, const std::string& partType, std::uint32_t first,
                               std::uint64_t fatStart, std::uint64_t fatSectors, std::uint64_t wanted,
                               const SaveRunState* state, volumes::FatReader* reader)
{
    const bool fat16 = partType == volumes::kFat16;
    if (!fat16 && partType != volumes::kFat32) return {};
    volumes::ChainWalk walk;
    walk.fat16 = fat16;
    walk.fatStart = fatStart;
    walk.fatSectors = fatSectors;
    walk.endRule = volumes::ChainEndRule::BeforeFreeOrEndMark;
    walk.maxClusters = wanted;
    // A Skip is noticed once copying starts; a cancel ends the walk at once.
    if (state) walk.stopFlags = {&state->cancelRequested};
    walk.reader = reader;
    return volumes::followClusterChain(source, first, walk);
}

ClusterChain chainForFile(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                          std::uint32_t first, std::uint64_t wanted, const SaveRunState* state, bool followFat,
                          volumes::FatReader* reader)
{
    ClusterChain chain;
    if (followFat) {
        chain = buildClusterChain(source, params.partType, first, params.firstFat, params.spf, wanted, state, reader);
        if (chain.clusterCount == wanted) return chain;
        if (params.secondFat) {
            chain = buildClusterChain(source, params.partType, first, params.secondFat, params.spf, wanted, state);
            if (chain.clusterCount == wanted) return chain;
        }
    }
    // A deleted file: its FAT entries were cleared, and its clusters were most likely allocated
    // one after the other, around the clusters that other files held then and still hold: a
    // cluster the first FAT gives to a file belongs to that live file, and copying it would put
    // another file's bytes into this one. With a cleared or unreadable FAT every cluster counts.
    chain = {};
    std::uint64_t left = wanted;
    std::uint64_t next = first;
    if (!followFat || params.firstFat == 0) {
        // A size no chain on the volume could hold: the clusters that follow, in one stretch.
        while (left > 0 && next <= UINT32_MAX) {
            const std::uint64_t n = std::min<std::uint64_t>({left, UINT32_MAX, UINT32_MAX - next + 1});
            chain.runs.push_back({static_cast<std::uint32_t>(next), static_cast<std::uint32_t>(n)});
            chain.clusterCount += n;
            left -= n;
            next += n;
        }
        return chain;
    }
    std::optional<volumes::FatReader> own;
    volumes::FatReader& fat = reader && reader->reads(source, params.isFat16(), params.firstFat, params.spf)
                                  ? *reader
                                  : own.emplace(source, params.isFat16(), params.firstFat, params.spf);
    auto inUse = [&](std::uint64_t cluster) {
        std::uint32_t entry = 0;
        return fat.entry(static_cast<std::uint32_t>(cluster), entry) && (params.isFat16() ? entry : entry & 0x0FFFFFFF) != 0;
    };
    // Only a chain that is gone (its first entry free) tells that the FAT no longer speaks for
    // this file; a chain that is merely broken (a loop, a wrong length) leaves the FAT unreliable.
    const bool skipInUse = !inUse(first);
    while (left > 0 && next <= UINT32_MAX) {
        if (state && state->cancelRequested) break;
        // The first cluster is the file's own whatever the FAT says now.
        if (skipInUse && next != first && inUse(next)) {
            ++next;
            continue;
        }
        chain.append(static_cast<std::uint32_t>(next));
        --left;
        ++next;
    }
    return chain;
}

FileOutcome writeFatFile(const WriterContext& ctx, const FatSaveRequest& request)
{
    const volumes::VolumeParameters& p = *ctx.params;
    const bool fat = p.isFat();
    // Clusters 0 and 1 do not exist: their sectors are the FAT or root directory area.
    const bool namesDataCluster =
        fat && p.spc != 0 && request.firstCluster >= 2 && p.clusterSector(request.firstCluster) < volumeEndOf(ctx);
    // A FAT directory entry holds a 32-bit size; anything larger did not come from one.
    std::uint64_t size = std::min<std::uint64_t>(request.size, UINT32_MAX);
    if (size == 0 && namesDataCluster) size = 4096;

    FileSession file(ctx, request.targetPath, request.displayName, size, request.checkExisting);
    if (file.ended()) return file.outcome();
    if (!fat || p.spc == 0) {
        file.finish(FileOutcome::NoData);
        return file.outcome();
    }
    if (const auto modified = fatEntryTime(request.date, request.time)) file.setModifiedTime(*modified);

    std::vector<SectorExtent> extents;
    if (!namesDataCluster && size > 0) {
        if (request.firstCluster < 2) {
            file.setShortReason(ShortReason::NoDataCluster);
        } else {
            file.setShortReason(pastEndReason(ctx));
        }
    }
    if (namesDataCluster && size > 0) {
        const std::uint64_t clusterBytes = static_cast<std::uint64_t>(p.spc) * storage::kSectorSize;
        const std::uint64_t wanted = (size + clusterBytes - 1) / clusterBytes;
        const std::uint64_t volumeClusters = volumes::clustersBefore(p, volumeEndOf(ctx));
        // A chain never visits a cluster twice, so one longer than the volume cannot be valid:
        // following it would only loop. The clusters after the first are read instead (and the
        // copy ends at the volume's end).
        const ClusterChain chain = wanted <= volumeClusters
                                       ? chainForFile(*ctx.source, p, request.firstCluster, wanted, ctx.state, true, ctx.fat)
                                       : chainForFile(*ctx.source, p, request.firstCluster, wanted, ctx.state, false);
        for (const ClusterRun& run : chain.runs) {
            if (run.first < 2) break;  // a chain into cluster 0 or 1 holds no more data
            extents.push_back({p.clusterSector(run.first), static_cast<std::uint64_t>(run.count) * p.spc, false});
        }
    }
    if (!file.create()) return file.outcome();
    file.copy(extents);
    file.finish();
    return file.outcome();
}

}  // namespace kfr::exporting
