// Deep Search over NTFS: file records found anywhere in the swept range, the volumes they belong
// to (from NTFS boot sectors, or from the copies of the $MFT's first record in the $MFT and in its
// mirror, which fix the cluster size and where the volume begins), and the records of each volume
// turned into folders and file rows.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/ntfs_tree_build.h"
#include "storage/bytes.h"
#include "storage/sector_source.h"
#include "volumes/boot_parameters.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// A file record met by the sweep.
struct NtfsRecordHit {
    NtfsRecordFacts facts;
    // Records 0 ($MFT) and 1 ($MFTMirr): the first cluster of their unnamed data.
    std::optional<std::uint64_t> dataCluster;
};

// An NTFS boot sector met by the sweep.
struct NtfsBootHit {
    std::uint64_t sector = 0;
    volumes::NtfsBootFields fields;
};

// A volume the records were placed in. Cluster n lies at firstSector + n * spc.
struct NtfsVolumeGuess {
    std::uint64_t firstSector = 0;
    std::uint32_t spc = 0;
    std::uint64_t totalSectors = 0;  // 0 when no boot sector says
    std::uint64_t mftSector = 0;     // 0 when unknown
    std::uint64_t mirrorSector = 0;  // 0 when unknown
    std::uint64_t bootSector = 0;    // the boot sector that gave it; 0 when inferred
    bool fromBootSector = false;
    bool guessedClusterSize = false;  // nothing fixed the cluster size: the usual 8 is taken
};

// Whether two sectors start an MFT file record of 1,024 bytes, and if so its facts (the record
// number it states itself; the name when the record holds it). Nothing for a record that fails
// its fix-up or an extension record.
std::optional<NtfsRecordHit> ntfsRecordHit(Bytes twoSectors, std::uint64_t sector);
// The first test alone: "FILE" and an allocated size of 1,024.
bool looksLikeMftRecord(Bytes sector);

// The volumes the hits and boot sectors show, by first sector. When records lie outside all of
// them, a volume at fallbackStart with 8 sectors per cluster takes them.
std::vector<NtfsVolumeGuess> inferNtfsVolumes(const std::vector<NtfsRecordHit>& records,
                                              const std::vector<NtfsBootHit>& boots, std::uint64_t fallbackStart);

// The parameters of a guessed volume.
volumes::VolumeParameters ntfsParameters(const NtfsVolumeGuess& volume);

// Which of the volumes (sorted by first sector) holds sector: the last one that begins at or
// before it and does not end before it; nothing when none does.
std::optional<std::size_t> ntfsVolumeOf(const std::vector<NtfsVolumeGuess>& volumes, std::uint64_t sector);

// Names the records whose names lie in extension records, through the volume's $MFT, and
// returns the records that have a name.
std::vector<const NtfsRecordHit*> nameThroughMft(std::vector<NtfsRecordHit*> records, const storage::SectorSource& source,
                                                 const volumes::VolumeParameters& params);

// Copies of one record (the $MFT mirror's, a record found twice) are offered once: the copy that
// lies where the volume's $MFT puts that record, else the first met. Copies that differ in name
// or parent are different files and all stay.
std::vector<const NtfsRecordHit*> distinctRecords(const std::vector<const NtfsRecordHit*>& records,
                                                  const storage::SectorSource& source,
                                                  const volumes::VolumeParameters& params);

}  // namespace kfr::recovery
