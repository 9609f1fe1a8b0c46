// Following a file's or folder's clusters through a FAT copy: one walker whose limits the caller
// chooses (which copy, how large it is, what ends a chain, how long a chain may grow, which stop
// flags end it, whether a revisit ends it), and the reader of FAT entries it walks with.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "storage/sector_read_ahead.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

// Consecutive clusters of a chain.
struct ClusterRun {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// Why a walk ended.
enum class ChainStop {
    EndMark,     // an end-of-chain mark (or, under WithinClusterValues, any value past the clusters)
    FreeEntry,   // a free entry (0): a deleted file or folder, whose entries were cleared
    BadEntry,    // an entry of 1, which names no cluster
    Unreadable,  // the FAT sector cannot be read, or lies past the copy
    TooLong,     // the chain grew past maxClusters
    Revisit,     // the next cluster is one the chain already holds
    Stopped,     // a stop flag was set
};

// A chain as runs of consecutive clusters: a file of 4 GiB in 512-byte clusters has 8 million
// clusters, mostly in a few runs.
struct ClusterChain {
    std::vector<ClusterRun> runs;
    std::uint64_t clusterCount = 0;
    ChainStop stop = ChainStop::EndMark;

    void append(std::uint32_t cluster);
    // Every cluster, in order (for short chains such as folders).
    std::vector<std::uint32_t> clusters() const;
};

// What a FAT entry must hold for the walk to go on.
enum class ChainEndRule {
    // Any value from 2 to the largest cluster value (0xFFFE on FAT16, 0x0FFFFFFE on FAT32, all 32
    // bits compared): FAT16's 0xFFF7..0xFFFE are followed like clusters.
    WithinClusterValues,
    // Anything but a free entry (0) or an end-of-chain mark: 0xFFF8..0xFFFF on FAT16,
    // 0x0FFFFFF8..0x0FFFFFFF on FAT32 after its reserved top four bits are masked off.
    // Formatters differ in which end mark they write (0xFFFF and 0x0FFFFFFF are common, 0xFFF8
    // and 0x0FFFFFF8 occur too).
    BeforeFreeOrEndMark,
};

class FatReader;

struct ChainWalk {
    bool fat16 = true;
    std::uint64_t fatStart = 0;    // first sector of the FAT copy; 0: unknown, the chain is its first cluster
    std::uint64_t fatSectors = 0;  // entries in later sectors read as absent and end the chain
    ChainEndRule endRule = ChainEndRule::WithinClusterValues;
    // The walk ends once the chain holds more than this many clusters, so a looping chain is
    // bounded and its caller can tell it is too long.
    std::uint64_t maxClusters = UINT64_MAX;
    // A chain on a damaged volume may loop and a real chain never revisits a cluster: with this
    // set, the walk ends before the first cluster it already holds.
    bool stopAtRevisit = false;
    // Any of these set ends the walk (null entries are ignored).
    std::vector<const std::atomic<bool>*> stopFlags;
    // A reader kept by the caller across many walks (its FAT sectors are read once); used only
    // when it reads the copy this walk names from the same source.
    FatReader* reader = nullptr;
};

// The chain from firstCluster (always its first cluster) through the FAT copy the walk names.
// It also ends at an entry that cannot be read (an unreadable FAT sector).
ClusterChain followClusterChain(const storage::SectorSource& source, std::uint32_t firstCluster, const ChainWalk& walk);

// A folder's chain through the first FAT, as directory listings walk it: the WithinClusterValues
// rule, a FAT of SPF + 1 sectors (offset SPF itself is still read, as the walk always has), the
// revisit guard and the stop flag.
ClusterChain walkClusterChain(const storage::SectorSource& source, const VolumeParameters& params,
                              std::uint32_t firstCluster, const std::atomic<bool>* stopRequested = nullptr,
                              FatReader* reader = nullptr);

// Reads the entries of one FAT copy with a small cache of its sectors, for callers that look up
// many entries (chain walks, file writers).
class FatReader {
public:
    // The copy starting at fatStart and holding fatSectors sectors; entries past it read as absent.
    FatReader(const storage::SectorSource& source, bool fat16, std::uint64_t fatStart, std::uint64_t fatSectors);
    // The FAT entry of cluster c (all 32 bits on FAT32); false when it lies past the copy, the copy
    // is unknown (start 0) or its sector cannot be read.
    bool entry(std::uint32_t cluster, std::uint32_t& value);
    // Whether this reader reads the copy a walk names, from that source.
    bool reads(const storage::SectorSource& source, bool fat16, std::uint64_t fatStart, std::uint64_t fatSectors) const
    {
        return &source == &m_sectors.source() && fat16 == m_fat16 && fatStart == m_sectors.first() &&
               fatSectors == m_sectors.count();
    }

private:
    storage::SectorReadAhead m_sectors;  // the copy's sectors
    bool m_fat16;
};

// A reader of the FAT copy directory listings walk (see walkClusterChain), for callers that list
// many folders of one volume.
FatReader directoryFatReader(const storage::SectorSource& source, const VolumeParameters& params);

}  // namespace kfr::volumes
