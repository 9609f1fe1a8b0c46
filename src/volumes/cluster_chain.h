// Following a file's or folder's clusters through the first FAT.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

using ClusterChain = std::vector<std::uint32_t>;

// The clusters of the chain that starts at firstCluster, in order, firstCluster included.
// The walk ends at an entry below 2 or above the largest cluster value (0xFFFE for FAT16,
// 0x0FFFFFFE for FAT32, so FAT16's 0xFFF7..0xFFFE are followed like clusters), at a FAT sector
// past the FAT's size, at an unreadable FAT sector, on a stop request, and at the first cluster
// the chain already visited: a chain on a damaged volume may loop, and a real chain never
// revisits a cluster.
ClusterChain walkClusterChain(const storage::SectorSource& source, const VolumeParameters& params,
                              std::uint32_t firstCluster, const std::atomic<bool>* stopRequested = nullptr);

// Reads FAT entries with a small cache of FAT sectors, for callers that look up many entries.
class FatReader {
public:
    FatReader(const storage::SectorSource& source, const VolumeParameters& params);
    // The FAT entry of cluster c, or nullopt when it lies past the FAT or cannot be read.
    bool entry(std::uint32_t cluster, std::uint32_t& value);

private:
    const storage::SectorSource& m_source;
    const VolumeParameters& m_params;
    std::vector<std::uint8_t> m_cache;
    std::uint64_t m_cacheFirst = UINT64_MAX;  // FAT sector index of the cache's first sector
    std::uint32_t m_cacheCount = 0;
    std::uint32_t m_misses = 0;
};

}  // namespace kfr::volumes
