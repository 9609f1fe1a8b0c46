// Deep Search: one sweep of a sector range gathers FAT boot sectors and the sectors that start a
// directory; the volumes the directories belong to are inferred from where they lie (a directory's
// "." entry names its own cluster, so two of them fix the cluster size and where cluster 0 lies),
// even when no boot sector survives; and each volume's folders are decoded into one shared tree,
// as Basic Search decodes one volume.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/deep_ntfs.h"
#include "recovery/deep_tables.h"
#include "recovery/folder_tree.h"
#include "storage/progress.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// Deep Search sweeps in blocks of 1,024 sectors.
inline constexpr std::uint32_t kDeepBlockSectors = 1024;

// What a Deep Search may be asked to look for besides "FAT16", "FAT32" and "NTFS": FAT volumes of
// either type (each volume's own is found from its FAT copies), or FAT and NTFS in one sweep.
inline constexpr const char* kDeepAnyFat = "FAT";
inline constexpr const char* kDeepEveryFileSystem = "FAT+NTFS";

struct DeepFileSystems {
    bool fat = false;
    bool ntfs = false;
    std::string fatType;  // the type inferred FAT volumes take; empty: found per volume
};
// What a chosen file system asks to sweep for; neither for a name it does not know.
DeepFileSystems deepFileSystems(const std::string& chosen);

// A Deep Search observer also hears how many boot sectors the sweep has found.
class DeepScanObserver : public BasicScanObserver {
public:
    virtual void onBootSectorsFound(std::uint64_t /*count*/) {}
};

struct DeepScanContext {
    const storage::SectorSource* source = nullptr;  // held for the whole scan
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;     // blocks are read while they begin below it (the last one whole)
    std::string fileSystem;          // "FAT16", "FAT32", "NTFS", kDeepAnyFat or kDeepEveryFileSystem
    // NTFS records that no boot sector or $MFT copy places are read as a volume beginning here
    // (the selected partition's first sector, or the disk's).
    std::uint64_t fallbackVolumeStart = 0;
    const std::atomic<bool>* stopRequested = nullptr;  // ends the sweep; what was found is decoded
    ScanObserver* observer = nullptr;  // a DeepScanObserver also gets the tree and the boot sectors
    DirNamer* namer = nullptr;         // "DIR_n" names of unnamed rows (a scan's own when null)
    std::uint16_t orphanTimeWord = 0;
};

struct DeepScanResult {
    ScanEnd end = ScanEnd::Finished;
    LostDirectoryTable lostDirectories;
    BootCandidateTable bootCandidates;
    DeepPartitionTable partitions;
    // One per partition, in table order: a folder's node names its partition by index here.
    std::vector<volumes::VolumeParameters> volumes;
    FolderResults folders;
    MftFileTable mftFiles;  // NTFS
    // The NTFS volumes, in the order their rows follow the FAT rows in partitions and volumes.
    std::vector<NtfsVolumeGuess> ntfsVolumes;
    std::uint64_t ntfsRecordsFound = 0;
    bool decodedFromRoot = false;    // one intact volume, decoded from its root alone
    bool foundNothing = false;
    bool mediumRemoved = false;
    std::uint64_t unreadableSectors = 0;
    std::vector<Error> problems;
};

// The whole Deep Search on the calling thread: the sweep, the inference (also after a stop, on
// what the sweep gathered) and the decoding of every volume.
DeepScanResult runDeepScan(const DeepScanContext& context);

// Where a volume's FAT copies lie, looked for before its cluster 0 (which must be known): fills
// firstFat, secondFat and SPF (and the FAT16 root) of the row. False when they are not found.
bool locateFatCopies(const storage::SectorSource& source, DeepPartitionRecord& row);

// Whether the root directory the parameters describe lists at least two files with usable names:
// the sign of an intact volume that has no subdirectories to infer it from.
bool isIntactVolume(const storage::SectorSource& source, const volumes::VolumeParameters& params);

// Assigns every lost directory to a partition: first to the boot sectors that place it, then to
// volumes inferred from pairs of directories (selectedType names them; a volume with a cluster
// number above 65,536 is FAT32). Directories that fit none are marked kFitsNoPartition.
void inferPartitions(LostDirectoryTable& directories, const BootCandidateTable& bootSectors,
                     const std::string& selectedType, DeepPartitionTable& partitions);

}  // namespace kfr::recovery
