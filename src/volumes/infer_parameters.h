// Inferring FAT geometry when the boot sector is gone: two directories found on the medium fix the
// cluster size and where cluster 0 lies, because a directory's "." entry names its own cluster.
#pragma once

#include <atomic>

#include "storage/progress.h"
#include "storage/result.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

struct InferenceContext {
    const storage::SectorSource* source = nullptr;
    VolumeSelection selection;            // partType must be FAT16 or FAT32
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;     // stage CalculatingPartitionParams, progress over the range
};

// Fills FAT16 or FAT32 parameters from directory positions. Fails when no pair of directories
// agrees on a geometry before the last sector, or when stopped.
Result<VolumeParameters> inferFatParameters(const InferenceContext& context);

}  // namespace kfr::volumes
