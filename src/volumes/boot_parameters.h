// Reading a volume's parameters from its boot sector (FAT16, FAT32 with the backup copy at
// sector 6, NTFS with the copy in the volume's last sector).
#pragma once

#include <cstdint>
#include <optional>

#include "storage/bytes.h"
#include "storage/result.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

// Why a FAT boot sector's fields cannot describe a volume.
enum class FatBootVerdict {
    Plausible,
    NoBootMarker,    // bytes 510/511 are not 0x55 0xAA
    BadClusterSize,  // sectors per cluster not a power of two up to 128
    NoFatSize,       // sectors per FAT is 0
    NoReservedArea,  // reserved sectors is 0, so the first FAT would overwrite the boot sector
};

// Judges the fields of a FAT16 or FAT32 boot sector (512 bytes).
FatBootVerdict judgeFatBootSector(Bytes sector, bool fat32);
const char* fatBootVerdictText(FatBootVerdict verdict);

// The fields of an NTFS boot sector ("NTFS" at 3, the 0x55AA marker, a valid cluster size and
// record size). Cluster numbers count from the volume's first sector; the boot sector's own copy
// at the volume's end lies at totalSectors.
struct NtfsBootFields {
    std::uint32_t spc = 0;
    std::uint64_t totalSectors = 0;
    std::uint64_t mftCluster = 0;
    std::uint64_t mirrorCluster = 0;
    std::uint32_t sectorsPerRecord = 0;
    std::uint32_t sectorsPerIndexRecord = 0;
};
std::optional<NtfsBootFields> parseNtfsBootSector(Bytes sector);

// Fills the parameters of the selected volume from its boot sector, by the selection's PartType.
// Fails (ErrorKind::Implausible or ReadFailed) when no usable boot sector is found.
Result<VolumeParameters> readBootParameters(const storage::SectorSource& source, const VolumeSelection& selection);

}  // namespace kfr::volumes
