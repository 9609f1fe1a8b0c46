// Reading file records of one NTFS volume: where record n lies (through the $MFT's own runs, all
// of its extents), reading and fixing up a record, following a record's attribute list, and what
// the item list shows for a file record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/attribute_list.h"
#include "recovery/data_stream.h"
#include "recovery/mft_record.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

struct SectorRun {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

struct NameMatch {
    FileNameValue value;
    bool found = false;
};

// One named data stream of a file, as the item list shows it ("file.txt:extra").
struct StreamInfo {
    std::string name;
    std::uint64_t size = 0;
};

// What the item list shows for a file record.
struct NtfsFileInfo {
    std::string name;
    std::uint64_t dataSize = 0;        // of the unnamed data, across every extent
    std::uint64_t timeStamp = 0;       // the modification time
    bool deleted = false;
    bool hasName = false;
    bool compressed = false;
    bool encrypted = false;
    std::vector<StreamInfo> streams;   // named data streams
};

// File-name lookup across records: Win32 name first, then Win32-and-DOS, DOS, POSIX.
NameMatch findFileName(const FileRecords& records);

class MftReader final : public RecordSource {
public:
    // Builds the record map from record 0's unnamed data attribute, following record 0's attribute
    // list when the $MFT is in several extents. The map is empty when record 5 (the root
    // directory) or record 0 does not read as a file record. Every run is bounded by the volume
    // (volumeEndSector, 0 for none) and the medium: the map ends at the first run that leaves
    // them, at a sparse run, at the $MFT's data size, and before it would hold more sectors than
    // the volume.
    MftReader(const storage::SectorSource& source, const volumes::VolumeParameters& params,
              std::uint64_t volumeEndSector = 0);

    const std::vector<SectorRun>& runs() const { return m_runs; }
    std::uint64_t totalSectors() const;
    std::uint64_t recordCount() const { return totalSectors() / kSectorsPerRecord; }
    // Records are taken 1,024 bytes (2 sectors) at a time through the runs.
    std::optional<std::uint64_t> sectorOf(std::uint64_t record) const;
    // Reads and fixes up the record at sector; false when unreadable or not a file record.
    bool readRecord(std::uint64_t sector, MftRecordBytes& record) const;
    bool readRecordNumber(std::uint64_t n, MftRecordBytes& record) const override;
    std::optional<std::vector<std::uint8_t>> nonResidentValue(Bytes record, const AttributeRef& attr,
                                                              std::size_t maxBytes) const override;
    // The base record and the extension records its attribute list names.
    FileRecords fileRecords(std::uint64_t recordNumber, const MftRecordBytes& record) const;
    // File-name lookup: Win32 name first, then Win32-and-DOS, DOS, POSIX; across the records the
    // record's attribute list names.
    NameMatch findName(const MftRecordBytes& record, std::uint64_t recordNumber) const;
    // The volume's label ($Volume's name attribute); "" when it has none or cannot be read.
    std::string volumeLabel() const;
    // Name, sizes, time stamp, state and named streams of the record at sector.
    std::optional<NtfsFileInfo> describeFile(std::uint64_t sector, std::uint64_t recordNumber) const;

    static constexpr std::uint32_t kSectorsPerRecord = 2;

private:
    void setRuns(const RunList& runs, std::uint64_t dataSize);

    const storage::SectorSource& m_source;
    volumes::VolumeParameters m_params;
    std::uint64_t m_end = 0;  // first sector past the volume and the medium
    std::vector<SectorRun> m_runs;
};

}  // namespace kfr::recovery
