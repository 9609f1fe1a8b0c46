// Cluster chain walk over the first FAT.
#include "volumes/cluster_chain.h"

#include <unordered_set>

#include "storage/bytes.h"

namespace kfr::volumes {

namespace {
// FAT sectors fetched per read: chains mostly run forward through neighbouring FAT sectors.
constexpr std::uint32_t kCacheSectors = 64;
}  // namespace

FatReader::FatReader(const storage::SectorSource& source, bool fat16, std::uint64_t fatStart, std::uint64_t fatSectors)
    : m_source(source), m_fat16(fat16), m_start(fatStart), m_sectors(fatSectors)
{
}

bool FatReader::entry(std::uint32_t cluster, std::uint32_t& value)
{
    if (m_start == 0) return false;
    const std::uint32_t perSector = m_fat16 ? 256 : 128;
    const std::uint64_t fatSector = cluster / perSector;
    if (fatSector >= m_sectors) return false;
    if (fatSector < m_cacheFirst || fatSector >= m_cacheFirst + m_cacheCount) {
        // Most chains (folders, small files) fit in one FAT sector: read one first, and read
        // ahead only once the chain has shown that it moves on.
        const std::uint32_t want = m_misses++ == 0 ? 1 : kCacheSectors;
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, m_sectors - fatSector));
        m_cache.assign(static_cast<std::size_t>(count) * storage::kSectorSize, 0);
        if (!m_source.read(m_start + fatSector, count, m_cache)) {
            // Retry the single sector so one bad sector does not blank its neighbours.
            m_cache.assign(storage::kSectorSize, 0);
            m_cacheFirst = UINT64_MAX;
            m_cacheCount = 0;
            if (!m_source.read(m_start + fatSector, 1, m_cache)) return false;
            m_cacheFirst = fatSector;
            m_cacheCount = 1;
        } else {
            m_cacheFirst = fatSector;
            m_cacheCount = count;
        }
    }
    const std::size_t index = static_cast<std::size_t>(fatSector - m_cacheFirst) * storage::kSectorSize +
                              static_cast<std::size_t>(cluster % perSector) * (m_fat16 ? 2 : 4);
    value = m_fat16 ? readLe16(m_cache, index) : readLe32(m_cache, index);
    return true;
}

ClusterChain walkClusterChain(const storage::SectorSource& source, const VolumeParameters& params,
                              std::uint32_t firstCluster, const std::atomic<bool>* stopRequested)
{
    ClusterChain chain{firstCluster};
    const bool fat16 = params.isFat16();
    // A FAT sector whose offset exceeds the FAT's size belongs to something else; offset SPF
    // itself is still read, as the walk always has.
    FatReader fat(source, fat16, params.firstFat, static_cast<std::uint64_t>(params.spf) + 1);
    const std::uint32_t highest = fat16 ? 0xFFFE : 0x0FFFFFFE;
    std::unordered_set<std::uint32_t> seen{firstCluster};
    std::uint32_t c = firstCluster;
    for (;;) {
        if (stopRequested && stopRequested->load()) break;
        std::uint32_t next = 0;
        if (!fat.entry(c, next)) break;
        if (next < 2 || next > highest) break;
        if (!seen.insert(next).second) break;
        chain.push_back(next);
        c = next;
    }
    return chain;
}

}  // namespace kfr::volumes
