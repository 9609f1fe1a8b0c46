// Partition searches on a disk or an image named by its path.
#include "session/partition_search_session.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include "storage/sector_source.h"

namespace kfr::session {

namespace {

std::string canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The disk as the disk list describes it: an image file is listed as a disk of its own; a block
// device is found among the listed disks by its path.
std::optional<storage::PhysicalDisk> describeDisk(const std::string& path, std::uint64_t sectors)
{
    storage::DiskListContext ctx;
    struct stat st {};
    const bool image = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (image) ctx.imagePaths.push_back(path);
    const storage::DiskListing listing = storage::listPhysicalDisks(ctx);
    const std::string wanted = canonical(path);
    for (const auto& d : listing.disks)
        if (canonical(d.devicePath) == wanted && (!image || d.isImage)) return d;
    // A device the list does not show as a disk (a partition's node, say): its size alone.
    storage::PhysicalDisk d;
    d.devicePath = path;
    d.deviceBytes = sectors * storage::kSectorSize;
    d.totalSectors = sectors;
    d.geometry = storage::translatedGeometry(d.deviceBytes, storage::kSectorSize);
    return d;
}

}  // namespace

namespace {

volumes::PartitionSearchResult searchDisk(const storage::SectorSource& source, volumes::SearchMode mode,
                                          const storage::DiskGeometry& geometry, std::uint64_t totalSectors,
                                          const std::vector<volumes::PartitionRecord>& listed,
                                          const std::atomic<bool>* stopRequested, ScanObserver* observer)
{
    volumes::PartitionSearchContext ctx;
    ctx.source = &source;
    ctx.mode = mode;
    ctx.geometry = {geometry.cylinders, geometry.tracksPerCylinder, geometry.sectorsPerTrack};
    ctx.totalSectors = totalSectors;
    for (const auto& p : listed) ctx.listed.push_back({p.fileSystem, p.firstSector, p.lastSector});
    ctx.itemCount = static_cast<std::uint32_t>(listed.size());
    ctx.stopRequested = stopRequested;
    ctx.observer = observer;
    return volumes::physicalPartitionSearch(ctx);
}

}  // namespace

Result<PartitionSearchOutcome> searchPartitions(const PartitionSearchRequest& request)
{
    auto opened = storage::openSource(request.path);
    if (!opened) return opened.error();
    const storage::SectorSource& source = **opened;
    PartitionSearchOutcome out;
    out.disk = *describeDisk(request.path, source.sectorCount());
    const std::uint64_t total = source.sectorCount() ? source.sectorCount() : out.disk.totalSectors;
    out.listed = volumes::listPartitions(source, total);
    out.search = searchDisk(source, request.mode, out.disk.geometry, total, out.listed, request.stopRequested,
                            request.observer);
    if (out.listed.empty() && out.search.found.empty()) out.wholeDisk = volumes::wholeDiskPartition(total);
    return out;
}

Result<PartitionSearchOutcome> searchListedDisk(const volumes::DiskEntry& entry, volumes::SearchMode mode,
                                                const std::atomic<bool>* stopRequested, ScanObserver* observer)
{
    auto opened = storage::openSource(entry.disk.devicePath);
    if (!opened) return opened.error();
    PartitionSearchOutcome out;
    out.disk = entry.disk;
    out.listed = entry.partitions;
    const std::uint64_t total = (*opened)->sectorCount() ? (*opened)->sectorCount() : entry.disk.totalSectors;
    out.search = searchDisk(**opened, mode, entry.disk.geometry, total, out.listed, stopRequested, observer);
    if (out.listed.empty() && out.search.found.empty()) out.wholeDisk = volumes::wholeDiskPartition(total);
    return out;
}

std::vector<RemovableMediaSearch> searchRemovableMedia(const volumes::PhysicalDrivesBranch& branch,
                                                       const std::atomic<bool>* stopRequested,
                                                       ScanObserver* observer)
{
    std::vector<RemovableMediaSearch> searches;
    for (const auto& medium : branch.removableMedia) {
        if (stopRequested && stopRequested->load()) break;
        const auto disk = std::find_if(branch.disks.begin(), branch.disks.end(),
                                       [&](const volumes::DiskEntry& e) { return e.disk.number == medium.diskNumber; });
        if (disk == branch.disks.end() || !(disk->disk.removable || disk->disk.isImage) || disk->readProblem) continue;
        RemovableMediaSearch one;
        one.medium = medium;
        auto opened = storage::openSource(medium.devicePath);
        if (!opened) {
            one.problem = opened.error();
            searches.push_back(std::move(one));
            continue;
        }
        one.search = searchDisk(**opened, volumes::SearchMode::Standard, disk->disk.geometry, medium.totalSectors, {},
                                stopRequested, observer);
        if (one.search.found.empty()) one.wholeDisk = volumes::wholeDiskPartition(medium.totalSectors);
        searches.push_back(std::move(one));
    }
    return searches;
}

Result<volumes::LogicalSearchResult> searchInsideVolume(const VolumeSearchRequest& request,
                                                        volumes::RecognisedPartitionTable& table)
{
    auto opened = storage::openSource(request.path);
    if (!opened) return opened.error();
    volumes::LogicalSearchContext ctx;
    ctx.source = opened->get();
    ctx.devicePath = request.path;
    ctx.volumeSectors = (*opened)->sectorCount();
    ctx.stopRequested = request.stopRequested;
    ctx.observer = request.observer;
    return volumes::logicalPartitionSearch(ctx, table);
}

}  // namespace kfr::session
