// Raw FAT directory-entry reads.
#include "volumes/fat_entry.h"

namespace kfr::volumes {

bool isDirectoryStart(Bytes s)
{
    return s.size() >= 2 * kEntrySize && s[0] == '.' && s[1] == ' ' && s[kEntrySize] == '.' &&
           s[kEntrySize + 1] == '.' && s[kEntrySize + 2] == ' ';
}

std::uint32_t entryFirstCluster(Bytes entry, bool fat32)
{
    std::uint32_t cluster = readLe16(entry, kEntryClusterLowOffset);
    if (fat32) cluster |= static_cast<std::uint32_t>(readLe16(entry, kEntryClusterHighOffset)) << 16;
    return cluster;
}

}  // namespace kfr::volumes
