// NTFS data runs: where a non-resident attribute's clusters lie on the volume.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/bytes.h"
#include "storage/result.h"

namespace kfr::recovery {

struct DataRun {
    std::uint64_t startCluster = 0;  // volume-relative cluster (meaningless when sparse)
    std::uint64_t length = 0;        // clusters
    bool sparse = false;             // no clusters on disk: the run reads as zeros
};

using RunList = std::vector<DataRun>;

// Decodes the run list of the non-resident attribute at attrOffset of a record. The first run's
// offset is read as an unsigned number, later ones as signed steps from the previous start. A run
// whose fields would run past the record ends the list there. Fails (Implausible) when the run
// list begins outside the record.
Result<RunList> decodeRunList(Bytes record, std::size_t attrOffset);

}  // namespace kfr::recovery
