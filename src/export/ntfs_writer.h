// Writing one file of an NTFS volume from its file record: resident data straight from the
// record, non-resident data through the record's run list.
#pragma once

#include <cstdint>
#include <string>

#include "export/file_writer.h"
#include "recovery/run_list.h"

namespace kfr::exporting {

struct NtfsSaveRequest {
    std::string targetPath;
    std::string displayName;
    std::uint64_t size = 0;          // the data size the list shows
    std::uint64_t recordSector = 0;  // absolute sector of the 1,024-byte file record
    bool checkExisting = true;
};

// Writes one NTFS file. A record that cannot be read (or is no file record) creates no file; a
// record without an unnamed data attribute gives an empty file (a file whose data lives only
// in named streams); a resident value that would run past the record creates no file.
FileOutcome writeNtfsFile(const WriterContext& context, const NtfsSaveRequest& request);

// Creates the target of a counted file and writes the clusters of runs into it, up to the file's
// size: sparse runs as zeros, the rest read from the volume. The file ends where the runs end, at
// the end of the volume, or once the runs have given as many clusters as the volume holds (a run
// list that claims more is damaged or hostile). Bytes from initializedSize on read as zeros.
void writeRunList(const WriterContext& context, FileSession& file, const recovery::RunList& runs,
                  std::uint64_t initializedSize = UINT64_MAX);

// The sector extents of runs on a volume (cluster0Start: the volume's first sector), clipped as
// writeRunList describes; clipped (when given) tells whether anything was cut off.
std::vector<SectorExtent> runListExtents(const recovery::RunList& runs, const volumes::VolumeParameters& params,
                                         std::uint64_t volumeEndSector, bool* clipped = nullptr);

}  // namespace kfr::exporting
