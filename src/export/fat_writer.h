// Writing one file of a FAT16 or FAT32 volume: its cluster chain from the first FAT, else from
// the second, else (a deleted file, whose FAT entries were cleared) the clusters that follow its
// first cluster.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/file_writer.h"
#include "volumes/cluster_chain.h"

namespace kfr::exporting {

struct FatSaveRequest {
    std::string targetPath;    // full path of the file to write
    std::string displayName;   // its file-name part, shown while it is written
    std::uint64_t size = 0;    // from the directory entry
    std::uint32_t firstCluster = 0;
    bool checkExisting = true; // apply the collision rules when the target exists
    std::uint16_t date = 0;    // the entry's date and time words: the saved file's modification time
    std::uint16_t time = 0;
};

using volumes::ClusterChain;
using volumes::ClusterRun;

// Follows a file's chain through one FAT copy (fatStart: its first sector; fatSectors: its size),
// from first, for a file of wanted clusters: the BeforeFreeOrEndMark rule, ended by a skip or
// cancel request and once it holds more than wanted clusters, so a looping chain is bounded and
// rejected by the caller's length test. An empty chain for a partType other than
// "FAT16"/"FAT32"; the first cluster alone when wanted is 0 or fatStart is 0.
ClusterChain buildClusterChain(const storage::SectorSource& source, const std::string& partType,
                               std::uint32_t first, std::uint64_t fatStart, std::uint64_t fatSectors,
                               std::uint64_t wanted, const SaveRunState* state = nullptr,
                               volumes::FatReader* reader = nullptr);

// The clusters the FAT writer reads for a file: the chain from the first FAT when it holds
// exactly wanted clusters, else from the second, else wanted clusters from first on, passing
// over clusters the first FAT gives to other files (all consecutive clusters, at once, when
// followFat is false). reader: a reader of the first FAT copy the caller keeps across files.
ClusterChain chainForFile(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                          std::uint32_t first, std::uint64_t wanted, const SaveRunState* state = nullptr,
                          bool followFat = true, volumes::FatReader* reader = nullptr);

// Writes one FAT file. A size of 0 is written as 4096 bytes from the first cluster on when the
// entry names a data cluster, and as an empty file when it names none (cluster 0 or 1). Sizes
// are 32-bit on FAT: a larger request is cut to 4 GiB - 1. Bytes that lie past the end of the
// volume end the file early; unreadable chunks become zeros.
FileOutcome writeFatFile(const WriterContext& context, const FatSaveRequest& request);

}  // namespace kfr::exporting
