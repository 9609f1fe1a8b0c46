// Finding partitions that no partition table describes any more (deleted, damaged, never
// listed) by their boot sectors: the physical-disk search (Standard mode looks at two sectors
// per translated cylinder, Advanced mode at every sector), the search inside one volume for the
// volumes nested in it, and the search of removable media that show no partitions.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/bytes.h"
#include "storage/progress.h"
#include "storage/sector_source.h"

namespace kfr::volumes {

enum class SearchMode : int { Standard = 5, Advanced = 10 };

// A disk's geometry as the search uses it.
struct SearchGeometry {
    std::uint64_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
};

// A geometry whose tracks are not 63 sectors is read as 255 heads of 63 sectors, with as many
// cylinders as the disk's sectors fill.
SearchGeometry translateSearchGeometry(const SearchGeometry& geometry);

// What the search makes of one sector: a FAT32, FAT16 or NTFS boot sector and the volume's size
// in sectors as the boot sector states it.
struct SearchBootSector {
    std::string fileSystem;  // "FAT32", "FAT16", "NTFS"; empty when the sector is none of them
    std::uint64_t sectors = 0;
};
SearchBootSector classifySearchSector(Bytes sector);

// The volume's last sector, inclusive: NTFS's stated count leaves out the copy of the boot sector
// that ends the volume.
std::uint64_t searchedLastSector(const SearchBootSector& boot, std::uint64_t firstSector);

// A partition of the disk's list, found by a table or by a search. Sectors are absolute and the
// last one is inclusive, as the partition tables give them.
struct SearchedPartition {
    std::string fileSystem;
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;
};

// Hears each partition as it is found (from the worker thread).
class PartitionSearchObserver : public ScanObserver {
public:
    virtual void onPartitionFound(const SearchedPartition& /*partition*/) {}
};

inline constexpr std::uint32_t kMaxPartitionItems = 26;

struct PartitionSearchContext {
    const storage::SectorSource* source = nullptr;  // the whole disk, held for the search
    SearchMode mode = SearchMode::Standard;
    SearchGeometry geometry;                        // Standard mode (translated first)
    std::uint64_t totalSectors = 0;                 // Advanced mode: the disk's sectors
    std::vector<SearchedPartition> listed;          // the disk's list: found twice is found once
    std::uint32_t itemCount = 0;                    // partition items under the disk already
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;               // a PartitionSearchObserver hears each find
};

struct PartitionSearchResult {
    std::vector<SearchedPartition> found;  // in the order found, appended to the list
    bool stopped = false;
    bool sourceFailed = false;             // nothing could be read
    std::uint64_t unreadableSectors = 0;
};

PartitionSearchResult physicalPartitionSearch(const PartitionSearchContext& context);

// What a disk shows when neither its table nor a search gives it a partition: one partition over
// the whole disk, its file system from the size rule ("Unknown" when the rule names none).
SearchedPartition wholeDiskPartition(std::uint64_t totalSectors);

// A volume found inside another volume by the logical search, as its table row keeps it.
struct RecognisedPartition {
    std::string key;         // "Log|" + the searched volume's device path + "|"
    std::string name;        // "Recognised1", ...
    std::string fileSystem;  // "NTFS", "FAT16", "FAT32"
    std::uint64_t startSector = 0;  // within the searched volume
    std::uint64_t endSector = 0;    // start + size (for NTFS the copy of its boot sector)
    std::uint64_t lastSector = 0;   // inclusive
    std::string sizeText;           // "%llu MB"
};
using RecognisedPartitionTable = std::vector<RecognisedPartition>;

// "Log|" + device path + "|".
std::string logicalSearchKey(const std::string& devicePath);

struct LogicalSearchContext {
    const storage::SectorSource* source = nullptr;  // the volume, held for the search
    std::string devicePath;
    std::uint64_t volumeSectors = 0;
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;
};

struct LogicalSearchResult {
    std::vector<RecognisedPartition> added;  // rows this run added, in order
    bool stopped = false;
    std::uint64_t unreadableSectors = 0;
};

// Sweeps the volume and appends a row to table for every volume found in it that the table does
// not hold yet (a second search after a refresh adds nothing for what the first found).
LogicalSearchResult logicalPartitionSearch(const LogicalSearchContext& context, RecognisedPartitionTable& table);

}  // namespace kfr::volumes
