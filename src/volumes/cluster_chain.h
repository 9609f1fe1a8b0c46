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

// Reads the entries of one FAT copy with a small cache of its sectors, for callers that look up
// many entries (chain walks, file writers).
class FatReader {
public:
    // The copy starting at fatStart and holding fatSectors sectors; entries past it read as absent.
    FatReader(const storage::SectorSource& source, bool fat16, std::uint64_t fatStart, std::uint64_t fatSectors);
    // The FAT entry of cluster c (all 32 bits on FAT32); false when it lies past the copy, the copy
    // is unknown (start 0) or its sector cannot be read.
    bool entry(std::uint32_t cluster, std::uint32_t& value);

private:
    const storage::SectorSource& m_source;
    bool m_fat16;
    std::uint64_t m_start;
    std::uint64_t m_sectors;
    std::vector<std::uint8_t> m_cache;
    std::uint64_t m_cacheFirst = UINT64_MAX;  // FAT sector index of the cache's first sector
    std::uint32_t m_cacheCount = 0;
    std::uint32_t m_misses = 0;
};

}  // namespace kfr::volumes
