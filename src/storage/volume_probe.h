// What a volume says about itself: file-system type, label and serial number, read with libblkid
// from the volume's block device (or an image of it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kfr::storage {

struct VolumeIdentity {
    std::string type;     // blkid's TYPE: "vfat", "ntfs", "ext4", ...
    std::string version;  // blkid's VERSION: "FAT32", "FAT16", ...
    std::string label;
    std::string uuid;     // blkid's UUID: "ABCD-1234" for FAT, 16 hex digits for NTFS
};

// Probes the superblock at path (opened read-only). nullopt when the path cannot be opened or
// carries no file system blkid knows.
std::optional<VolumeIdentity> probeVolume(const std::string& path);

// The file-system name as the listings show it: "FAT32", "FAT16", "FAT12" for FAT volumes,
// "NTFS", "exFAT", otherwise blkid's type as it is; "Unknown" when there is none.
std::string fileSystemName(const VolumeIdentity& identity);

// The 32-bit volume serial number: the volume ID of FAT and exFAT volumes, the low half of the
// 64-bit NTFS serial. nullopt for file systems that identify themselves by a longer UUID.
std::optional<std::uint32_t> volumeSerial(const VolumeIdentity& identity);

}  // namespace kfr::storage
