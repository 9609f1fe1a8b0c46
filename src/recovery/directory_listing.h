// Visiting the entries of one FAT directory: the FAT16 root's fixed sectors, or a folder's (and
// the FAT32 root's) cluster chain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "recovery/dir_entry.h"
#include "storage/progress.h"
#include "storage/sector_read_ahead.h"
#include "storage/sector_source.h"
#include "volumes/cluster_chain.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

// What an end mark (first byte 0x00) ends. Listing files ends a folder at its first end mark but
// keeps reading the FAT16 root's next sector; naming folders from the root ends only the sector.
enum class EndMarkRule { EndsDirectory, EndsSector, EndsDirectoryExceptFat16Root };

struct DirectoryContext {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    const std::atomic<bool>* stopRequested = nullptr;  // tested before every entry
    ScanObserver* observer = nullptr;                    // told about unreadable sectors
    // When set, an entry whose first cluster it refuses is passed over without decoding its
    // name (a folder's own entries are read only to name the few subfolders found). Entries of
    // the clusters a deleted folder is read on into are still decoded: whether they decode
    // decides how far that folder reaches.
    std::function<bool(std::uint32_t firstCluster)> wantsEntry;
    // A FAT reader the caller keeps across many listings of this volume (see directoryFatReader);
    // null: each listing reads the FAT sectors it needs itself.
    volumes::FatReader* fat = nullptr;
    // The medium's sectors read ahead for a caller that lists many folders of it (see
    // directoryReadAhead), used when it reads source; null: each sector is read on its own.
    storage::SectorReadAhead* sectors = nullptr;
};

// A reader of the medium's sectors for callers that list many folders one after another.
storage::SectorReadAhead directoryReadAhead(const storage::SectorSource& source);

// The root directory is the FAT16 root or the FAT32 root cluster; any other folder by its cluster.
struct DirectoryRef {
    bool root = false;
    std::uint32_t firstCluster = 0;
};

// Calls onItem for every entry that decodes to an item (directories included; the caller
// filters), with its final name. Returning false from onItem ends the listing.
void listDirectory(const DirectoryContext& context, DirectoryRef directory, EndMarkRule rule,
                   const std::function<bool(const DirItem&)>& onItem);

}  // namespace kfr::recovery
