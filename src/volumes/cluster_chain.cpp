// Cluster chain walks and the FAT entry reader.
#include "volumes/cluster_chain.h"

#include <optional>
#include <unordered_set>

#include "storage/bytes.h"

namespace kfr::volumes {

namespace {
// FAT sectors fetched per read: chains mostly run forward through neighbouring FAT sectors.
constexpr std::uint32_t kCacheSectors = 64;
constexpr std::uint32_t kFat16ChainEnd = 0xFFF8;
constexpr std::uint32_t kFat32ChainEnd = 0x0FFFFFF8;
// The top four bits of a FAT32 entry are reserved and not part of the cluster number.
constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;
}  // namespace

FatReader::FatReader(const storage::SectorSource& source, bool fat16, std::uint64_t fatStart, std::uint64_t fatSectors)
    : m_sectors(source, fatStart, fatSectors, kCacheSectors), m_fat16(fat16)
{
}

bool FatReader::entry(std::uint32_t cluster, std::uint32_t& value)
{
    if (m_sectors.first() == 0) return false;  // the copy is unknown
    const std::uint32_t perSector = m_fat16 ? 256 : 128;
    const auto bytes = m_sectors.sector(cluster / perSector);
    if (bytes.empty()) return false;
    const std::size_t index = static_cast<std::size_t>(cluster % perSector) * (m_fat16 ? 2 : 4);
    value = m_fat16 ? readLe16(bytes, index) : readLe32(bytes, index);
    return true;
}

void ClusterChain::append(std::uint32_t cluster)
{
    if (!runs.empty() && runs.back().first + runs.back().count == cluster && runs.back().count < UINT32_MAX)
        ++runs.back().count;
    else
        runs.push_back({cluster, 1});
    ++clusterCount;
}

std::vector<std::uint32_t> ClusterChain::clusters() const
{
    std::vector<std::uint32_t> all;
    all.reserve(static_cast<std::size_t>(clusterCount));
    for (const ClusterRun& run : runs)
        for (std::uint32_t i = 0; i < run.count; ++i) all.push_back(run.first + i);
    return all;
}

ClusterChain followClusterChain(const storage::SectorSource& source, std::uint32_t firstCluster, const ChainWalk& walk)
{
    ClusterChain chain;
    chain.append(firstCluster);
    std::optional<FatReader> own;
    FatReader& fat = walk.reader && walk.reader->reads(source, walk.fat16, walk.fatStart, walk.fatSectors)
                         ? *walk.reader
                         : own.emplace(source, walk.fat16, walk.fatStart, walk.fatSectors);
    const bool endMarks = walk.endRule == ChainEndRule::BeforeFreeOrEndMark;
    const std::uint32_t largest = walk.fat16 ? 0xFFFE : 0x0FFFFFFE;
    const std::uint32_t firstEndMark = walk.fat16 ? kFat16ChainEnd : kFat32ChainEnd;
    auto stopped = [&] {
        for (const auto* flag : walk.stopFlags)
            if (flag && flag->load()) return true;
        return false;
    };
    std::unordered_set<std::uint32_t> seen;
    if (walk.stopAtRevisit) seen.insert(firstCluster);
    std::uint32_t c = firstCluster;
    for (;;) {
        if (chain.clusterCount > walk.maxClusters) {
            chain.stop = ChainStop::TooLong;
            break;
        }
        if (stopped()) {
            chain.stop = ChainStop::Stopped;
            break;
        }
        std::uint32_t next = 0;
        if (!fat.entry(c, next)) {
            chain.stop = ChainStop::Unreadable;
            break;
        }
        if (endMarks && !walk.fat16) next &= kFat32EntryMask;
        if (next == 0 || next == 1) {
            chain.stop = next == 0 ? ChainStop::FreeEntry : ChainStop::BadEntry;
            break;
        }
        if (endMarks ? next >= firstEndMark : next > largest) {
            chain.stop = ChainStop::EndMark;
            break;
        }
        if (walk.stopAtRevisit && !seen.insert(next).second) {
            chain.stop = ChainStop::Revisit;
            break;
        }
        chain.append(next);
        c = next;
    }
    return chain;
}

ClusterChain walkClusterChain(const storage::SectorSource& source, const VolumeParameters& params,
                              std::uint32_t firstCluster, const std::atomic<bool>* stopRequested, FatReader* reader)
{
    ChainWalk walk;
    walk.fat16 = params.isFat16();
    walk.fatStart = params.firstFat;
    walk.fatSectors = static_cast<std::uint64_t>(params.spf) + 1;
    walk.endRule = ChainEndRule::WithinClusterValues;
    walk.stopAtRevisit = true;
    walk.stopFlags = {stopRequested};
    walk.reader = reader;
    return followClusterChain(source, firstCluster, walk);
}

FatReader directoryFatReader(const storage::SectorSource& source, const VolumeParameters& params)
{
    // The same copy and extent walkClusterChain names, so that its walks take this reader.
    return FatReader(source, params.isFat16(), params.firstFat, static_cast<std::uint64_t>(params.spf) + 1);
}

}  // namespace kfr::volumes
