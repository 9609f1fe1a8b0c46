// The options that pick what to read: a source (disk, partition, volume or image), a sector
// range and a file system, turned into a VolumeSelection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/result.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace CLI {
class App;
}

namespace kfr::cli {

struct SelectionOptions {
    std::string source;
    std::uint64_t first = 0;
    std::uint64_t last = 0;   // 0: the source's last sector
    bool lastGiven = false;
    std::string fileSystem = "auto";
    std::uint32_t partition = 0;  // 1.. picks a partition of a disk or disk image; 0: none
};

// Adds --source/-s, --partition, --first, --last and --fs to a command.
void addSelectionOptions(CLI::App& command, SelectionOptions& options);

struct OpenedSelection {
    std::unique_ptr<storage::SectorSource> source;
    volumes::VolumeSelection selection;
};

// Opens the source read-only and settles the range and the file system ("auto" reads the boot
// sector; FAT32 is also recognised by its backup boot sector). With a partition number the range
// and file system come from the disk's partition table.
Result<OpenedSelection> openSelection(const SelectionOptions& options);

}  // namespace kfr::cli
