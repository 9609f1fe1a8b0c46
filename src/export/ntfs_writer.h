// Writing one file of an NTFS volume from its file record: resident data straight from the
// record, non-resident data through its run list (every extent, across the extension records its
// attribute list names), compressed data one compression unit at a time.
#pragma once

#include <cstdint>
#include <string>

#include "export/file_writer.h"
#include "recovery/data_stream.h"
#include "recovery/run_list.h"

namespace kfr::exporting {

inline constexpr std::uint64_t kRecordNumberFromRecord = UINT64_MAX;

struct NtfsSaveRequest {
    std::string targetPath;
    std::string displayName;
    std::uint64_t size = 0;          // the data size the list shows
    std::uint64_t recordSector = 0;  // absolute sector of the 1,024-byte file record
    bool checkExisting = true;
    // The record's number, for checking that the extension records its list names are its own
    // (kRecordNumberFromRecord: the number the record's header states).
    std::uint64_t recordNumber = kRecordNumberFromRecord;
    std::string streamName;          // "" for the file's data, else one of its named streams
};

// Writes one NTFS file. A record that cannot be read (or is no file record) creates no file; a
// record without an unnamed data attribute gives an empty file (a file whose data lives only
// in named streams); a named stream the record does not hold, and a resident value that would
// run past the record, create no file. Compressed data is decompressed (LZNT1); encrypted data
// is written as stored, and the result says it is encrypted.
FileOutcome writeNtfsFile(const WriterContext& context, const NtfsSaveRequest& request);

// Creates the target of a counted file and writes the clusters of runs into it, up to the file's
// size: sparse runs as zeros, the rest read from the volume. The file ends where the runs end, at
// the end of the volume, or once the runs have given as many clusters as the volume holds (a run
// list that claims more is damaged or hostile). Bytes from initializedSize on read as zeros.
void writeRunList(const WriterContext& context, FileSession& file, const recovery::RunList& runs,
                  std::uint64_t initializedSize = UINT64_MAX);

// Creates the target and writes a compressed stream one compression unit at a time: a unit with
// every cluster allocated is stored as is, a unit with none is zeros, and any other holds LZNT1
// data in its allocated clusters. A unit whose data is damaged or unreadable is written as zeros
// from where it fails and noted as unreadable; clusters past the volume end the file there.
void writeCompressedStream(const WriterContext& context, FileSession& file, const recovery::DataStream& stream,
                           std::uint64_t initializedSize = UINT64_MAX);

// The sector extents of runs on a volume (cluster0Start: the volume's first sector), clipped as
// writeRunList describes; clipped (when given) tells whether anything was cut off.
std::vector<SectorExtent> runListExtents(const recovery::RunList& runs, const volumes::VolumeParameters& params,
                                         std::uint64_t volumeEndSector, bool* clipped = nullptr);

}  // namespace kfr::exporting
