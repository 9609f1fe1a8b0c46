// FAT file writer and cluster-chain builder.
#include "export/fat_writer.h"

#include <algorithm>

#include "storage/bytes.h"
#include "volumes/cluster_chain.h"

namespace kfr::exporting {

namespace {

// Any value from these on marks the end of a chain; formatters differ in which one they write
// (0xFFFF and 0x0FFFFFFF are common, 0xFFF8 and 0x0FFFFFF8 occur too).
constexpr std::uint32_t kFat16ChainEnd = 0xFFF8;
constexpr std::uint32_t kFat32ChainEnd = 0x0FFFFFF8;
// The top four bits of a FAT32 entry are reserved and not part of the cluster number.
constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;

bool stopRequestedFor(const SaveRunState* state)
{
    return state && state->cancelRequested;
}

}  // namespace

void ClusterChain::append(std::uint32_t cluster)
{
    if (!runs.empty() && runs.back().first + runs.back().count == cluster && runs.back().count < UINT32_MAX)
        ++runs.back().count;
    else
        runs.push_back({cluster, 1});
    ++clusterCount;
}

ClusterChain buildClusterChain(const storage::SectorSource& source, const std::string& partType, std::uint32_t first,
                               std::uint64_t fatStart, std::uint64_t fatSectors, std::uint64_t wanted,
                               const SaveRunState* state)
{
    ClusterChain chain;
    const bool fat16 = partType == volumes::kFat16;
    if (!fat16 && partType != volumes::kFat32) return chain;
    chain.append(first);
    if (wanted < 1 || fatStart == 0) return chain;
    volumes::FatReader fat(source, fat16, fatStart, fatSectors);
    std::uint32_t c = first;
    while (!stopRequestedFor(state)) {
        std::uint32_t next = 0;
        if (!fat.entry(c, next)) break;
        if (!fat16) next &= kFat32EntryMask;
        if (next == 0 || next >= (fat16 ? kFat16ChainEnd : kFat32ChainEnd)) break;
        chain.append(next);
        if (chain.clusterCount > wanted) break;
        c = next;
    }
    return chain;
}

ClusterChain chainForFile(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                          std::uint32_t first, std::uint64_t wanted, const SaveRunState* state, bool followFat)
{
    ClusterChain chain;
    if (followFat) {
        chain = buildClusterChain(source, params.partType, first, params.firstFat, params.spf, wanted, state);
        if (chain.clusterCount == wanted) return chain;
        if (params.secondFat) {
            chain = buildClusterChain(source, params.partType, first, params.secondFat, params.spf, wanted, state);
            if (chain.clusterCount == wanted) return chain;
        }
    }
    // A deleted file: its FAT entries were cleared, and its clusters were most likely allocated
    // one after the other.
    chain = {};
    std::uint64_t left = wanted;
    std::uint64_t next = first;
    while (left > 0 && next <= UINT32_MAX) {
        const std::uint64_t n = std::min<std::uint64_t>({left, UINT32_MAX, UINT32_MAX - next + 1});
        chain.runs.push_back({static_cast<std::uint32_t>(next), static_cast<std::uint32_t>(n)});
        chain.clusterCount += n;
        left -= n;
        next += n;
    }
    return chain;
}

FileOutcome writeFatFile(const WriterContext& ctx, const FatSaveRequest& request)
{
    const volumes::VolumeParameters& p = *ctx.params;
    const bool fat = p.isFat16() || p.isFat32();
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

    std::vector<SectorExtent> extents;
    if (namesDataCluster && size > 0) {
        const std::uint64_t clusterBytes = static_cast<std::uint64_t>(p.spc) * storage::kSectorSize;
        const std::uint64_t wanted = (size + clusterBytes - 1) / clusterBytes;
        const std::uint64_t end = volumeEndOf(ctx);
        const std::uint64_t volumeClusters = end > p.cluster0Start ? (end - p.cluster0Start) / p.spc : 0;
        // A chain never visits a cluster twice, so one longer than the volume cannot be valid:
        // following it would only loop. The clusters after the first are read instead (and the
        // copy ends at the volume's end).
        const ClusterChain chain = wanted <= volumeClusters
                                       ? chainForFile(*ctx.source, p, request.firstCluster, wanted, ctx.state)
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
