// Naming the file system of a selection.
#include "volumes/volume_parameters.h"

namespace kfr::volumes {

namespace {

std::string trimSpaces(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string nameFileSystem(const std::string& text)
{
    const std::string t = trimSpaces(text);
    if (t.find("FAT16") != std::string::npos || t == "FAT") return kFat16;
    if (t.find("FAT32") != std::string::npos) return kFat32;
    if (t.find("NTFS") != std::string::npos) return kNtfs;
    return kUnknown;
}

std::string guessFileSystemBySize(std::uint64_t firstSector, std::uint64_t lastSector)
{
    const std::uint64_t sectors = lastSector > firstSector ? lastSector - firstSector : 0;
    if (sectors / 2097152 >= 35) return kNtfs;  // whole GiB units
    if (sectors / 2048 >= 1) return kFat32;     // whole MiB units
    return kUnknown;
}

std::uint64_t clustersBefore(const VolumeParameters& p, std::uint64_t end)
{
    if (p.spc == 0) return 0;
    const __int128 span = static_cast<__int128>(end) - p.cluster0Start;
    return span > 0 ? static_cast<std::uint64_t>(span / p.spc) : 0;
}

bool isValidClusterSize(std::uint32_t spc)
{
    return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0;
}

}  // namespace kfr::volumes
