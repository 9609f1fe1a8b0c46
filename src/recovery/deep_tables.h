// What Deep Search gathers from a sector range and infers from it: the sectors that start a
// directory, the boot sectors found, and the volumes accepted or inferred. Rows hold numbers; the
// recovery log writes them as the text columns it stores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/bytes.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// A directory's partition: not yet assigned, or known to fit none.
inline constexpr std::uint32_t kUnassigned = 0;
inline constexpr std::uint32_t kFitsNoPartition = 4294967295u;

// One sector that starts a directory ("." then ".." entry).
struct LostDirectoryRecord {
    std::uint64_t sector = 0;
    std::uint32_t self = 0;       // the "." entry's cluster (high word at 20, low at 26)
    std::uint32_t parent = 0;     // the ".." entry's cluster; 0 is the root
    std::uint32_t partition = kUnassigned;  // 1-based number of its DeepPartitionRecord
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::int64_t cluster0Start = 0;  // of its partition, once assigned
};
using LostDirectoryTable = std::vector<LostDirectoryRecord>;

// A boot sector found in the range, or a volume the scan accepted or inferred. All sectors are
// absolute; cluster 0 may lie before the volume (large clusters on a small volume).
struct DeepPartitionRecord {
    std::uint64_t sector = 0;          // the boot sector; 0 for a volume inferred from directories
    std::uint32_t spf = 0;
    std::uint32_t spc = 0;
    std::uint32_t rootSectors = 0;     // FAT16
    std::uint64_t rootStart = 0;       // FAT16: sector of the root; FAT32: its cluster
    std::uint32_t reserveSectors = 0;
    std::int64_t cluster0Start = 0;
    std::uint64_t firstFat = 0;        // 0 while unknown
    std::uint64_t secondFat = 0;
    std::uint64_t totalSectors = 0;    // the volume's end: its total sectors plus its first sector
    std::string partType;              // "FAT16", "FAT32" ("NTFS" for the volumes of an NTFS sweep)
    bool fromBootSector = false;       // a boot sector found in the range gave it
};
using BootCandidateTable = std::vector<DeepPartitionRecord>;
using DeepPartitionTable = std::vector<DeepPartitionRecord>;

// Whether a sector is a FAT boot sector: the 0x55AA marker and "32" of the FAT32 label at 85, or
// else "16" of the FAT16 label at 57.
bool isFatBootSector(Bytes sector);

// The row of a boot sector at absolute sector s (FAT32 or FAT16 by its label).
DeepPartitionRecord bootCandidate(Bytes sector, std::uint64_t s);

// The parameters a row describes: a FAT16 root of 0 sectors is taken as the usual 32, a root
// start of 0 as 2.
volumes::VolumeParameters parametersOf(const DeepPartitionRecord& row);

}  // namespace kfr::recovery
