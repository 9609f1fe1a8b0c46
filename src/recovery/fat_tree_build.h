// Building the folder tree of one FAT volume from the directories found on it: the rows are
// linked by their parent clusters, the top-level folders named from the root directory, every
// folder placed under its parent and named from its parent's own directory, and what has no
// parent left under "Lumo_Miscellaneous". Basic Search builds one volume; Deep Search builds each
// volume it infers into one shared tree.
#pragma once

#include <cstdint>

#include "recovery/basic_scan.h"
#include "recovery/folder_tree.h"
#include "storage/progress.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

struct FatTreeBuild {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    DirNamer* namer = nullptr;
    ScanObserver* observer = nullptr;  // stages, progress; a BasicScanObserver follows the tree
    std::uint32_t volume = 0;          // the volume the rows belong to
    bool firstVolume = true;           // the tree starts afresh with "Root"; later volumes join it
};

// Builds the rows of results.table (the orphan record among them for the first volume) into
// results' tree; the table is empty afterwards. Reads only the volume's root directory and the
// directories of folders that have children to name.
void buildFatTree(const FatTreeBuild& build, FolderResults& results);

}  // namespace kfr::recovery
