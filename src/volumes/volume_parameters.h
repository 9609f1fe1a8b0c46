// Where a volume's FATs, root directory and clusters lie, and how the file system of a selection
// is named. Cluster n of a FAT volume begins at sector cluster0Start + n * spc.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kfr::volumes {

inline constexpr const char* kFat16 = "FAT16";
inline constexpr const char* kFat32 = "FAT32";
inline constexpr const char* kNtfs = "NTFS";
inline constexpr const char* kUnknown = "Unknown";

// Absolute sectors count from sector 0 of the device or image that holds the volume. They are held
// in 64 bits so volumes that start beyond 2 TiB on a large disk still compute correctly.
struct VolumeParameters {
    std::uint32_t spf = 0;             // sectors per FAT
    std::uint32_t spc = 0;             // sectors per cluster: 1, 2, 4, ..., 128
    std::uint32_t rootSectors = 0;     // FAT16: sectors of the fixed root directory; FAT32: 0
    std::uint64_t rootStart = 0;       // FAT16: absolute sector of the root; FAT32: root cluster
    std::uint32_t reserveSectors = 0;  // from the volume's first sector to the first FAT
    // Where cluster 0 would begin. With large clusters on a small volume the data area can start
    // before sector 2 * SPC, and cluster 0 then lies before the medium's sector 0: a negative
    // position is valid here, only clusters from 2 on are ever read.
    std::int64_t cluster0Start = 0;
    std::uint64_t firstFat = 0;
    std::uint64_t secondFat = 0;
    std::uint32_t totalSectors = 0;    // from the boot sector (partition lists only)
    std::string partType;              // "FAT16", "FAT32", "NTFS", "Unknown" or empty when cleared

    // NTFS only.
    std::uint64_t mftSector = 0;        // 0 when not found
    std::uint64_t mftMirrorSector = 0;  // 0 when not found
    std::uint32_t sectorsPerRecord = 0;
    std::uint32_t sectorsPerIndexRecord = 0;

    bool isFat16() const { return partType == kFat16; }
    bool isFat32() const { return partType == kFat32; }
    bool isFat() const { return isFat16() || isFat32(); }
    bool isNtfs() const { return partType == kNtfs; }
    // Unsigned arithmetic wraps, so a negative cluster0Start still gives cluster n's sector.
    std::uint64_t clusterSector(std::uint64_t cluster) const
    {
        return static_cast<std::uint64_t>(cluster0Start) + cluster * spc;
    }
};

// The volume the user selected: the device or image holding it and its sector range.
struct VolumeSelection {
    std::string devicePath;
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;  // inclusive end of every scan
    std::string partType;          // from nameFileSystem or guessFileSystemBySize
};

// How many whole clusters fit below sector `end` (clusters counted from cluster 0).
std::uint64_t clustersBefore(const VolumeParameters& params, std::uint64_t end);

// Maps a file-system name shown in the drive lists to a PartType: contains "FAT16" or is exactly
// "FAT" -> FAT16; contains "FAT32" -> FAT32; contains "NTFS" -> NTFS; otherwise "Unknown".
std::string nameFileSystem(const std::string& text);

// PartType of a selection without a known file system, by its size: 35 GiB or more is taken for
// NTFS, 1 MiB or more for FAT32.
std::string guessFileSystemBySize(std::uint64_t firstSector, std::uint64_t lastSector);

// True for 1, 2, 4, ..., 128: the only cluster sizes FAT and NTFS boot sectors may state.
bool isValidClusterSize(std::uint32_t spc);

}  // namespace kfr::volumes
