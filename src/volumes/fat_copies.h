// Finding a FAT volume's two FAT copies on the medium when no boot sector says where they are:
// both begin with the media byte and entry 0's end mark, and the second repeats the first.
#pragma once

#include <cstdint>
#include <optional>

#include "storage/bytes.h"
#include "storage/sector_source.h"

namespace kfr::volumes {

struct FatCopies {
    std::uint64_t firstFat = 0;
    std::uint64_t secondFat = 0;
    std::uint32_t spf = 0;
    std::uint64_t rootStart = 0;    // FAT16: the fixed root directory, after the second copy
    std::uint32_t rootSectors = 0;  // FAT16
};

// The first sector of a FAT: the media byte 0xF8, then the end mark of entry 0.
bool startsFat(Bytes sector, bool fat16);

// Looks for the two copies between windowStart and cluster2 (the sector where the data area
// begins). The second copy lies just before cluster 2 on FAT32 and before the fixed root on FAT16;
// a pair is taken only when the second copy's first sector repeats the first's byte for byte. The
// first copy may lie before windowStart (a window that starts inside a large first FAT). Nothing
// when no such pair exists.
std::optional<FatCopies> findFatCopies(const storage::SectorSource& source, std::uint64_t windowStart,
                                       std::uint64_t cluster2, bool fat16);

}  // namespace kfr::volumes
