// "Search More Partitions" through the session: a whole disk or disk image swept for boot
// sectors of partitions its tables no longer list, and a volume swept for volumes nested in it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/disk_list.h"
#include "storage/progress.h"
#include "storage/result.h"
#include "volumes/partition_search.h"
#include "volumes/partition_table.h"

namespace kfr::session {

struct PartitionSearchRequest {
    std::string path;  // a whole disk or a disk image
    volumes::SearchMode mode = volumes::SearchMode::Standard;
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;  // a volumes::PartitionSearchObserver hears each find
};

struct PartitionSearchOutcome {
    storage::PhysicalDisk disk;                     // as the disk list describes it
    std::vector<volumes::PartitionRecord> listed;   // what its partition tables give
    volumes::PartitionSearchResult search;
    // A disk that shows no partition after the search gets one over the whole disk.
    std::optional<volumes::SearchedPartition> wholeDisk;
    // Partitions the search added to the disk (the whole-disk one included).
    std::uint64_t foundCount() const { return search.found.size() + (wholeDisk ? 1 : 0); }
};

// Describes the disk (its geometry from the kernel, or translated from its size for an image),
// reads its partition tables and searches it. Fails when the path cannot be opened.
Result<PartitionSearchOutcome> searchPartitions(const PartitionSearchRequest& request);

// What the recovery screens search by themselves when they open: every removable medium (and
// every image file added as a disk) that shows no partition, in Standard mode, so a stick whose
// table is gone still shows the partition it had (or one over the whole medium).
struct RemovableMediaSearch {
    storage::RemovableMediaEntry medium;
    std::optional<Error> problem;              // the medium could not be opened
    volumes::PartitionSearchResult search;
    std::optional<volumes::SearchedPartition> wholeDisk;
    std::uint64_t foundCount() const { return search.found.size() + (wholeDisk ? 1 : 0); }
};

// Searches the branch's media without partitions one after another; a stop ends the medium being
// searched (what it found is kept) and leaves the rest unsearched.
std::vector<RemovableMediaSearch> searchRemovableMedia(const volumes::PhysicalDrivesBranch& branch,
                                                       const std::atomic<bool>* stopRequested,
                                                       ScanObserver* observer);

// The same for a disk the drive tree already lists with its partitions (a screen's search): its
// geometry and partitions as listed, its device opened for the search.
Result<PartitionSearchOutcome> searchListedDisk(const volumes::DiskEntry& entry, volumes::SearchMode mode,
                                                const std::atomic<bool>* stopRequested, ScanObserver* observer);

struct VolumeSearchRequest {
    std::string path;  // the volume's device, or an image of it
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;
};

// Sweeps a volume for the volumes nested inside it; rows go into table (kept by the caller for
// the life of its screen, so a second search adds only what is new).
Result<volumes::LogicalSearchResult> searchInsideVolume(const VolumeSearchRequest& request,
                                                        volumes::RecognisedPartitionTable& table);

}  // namespace kfr::session
