// Reading file records of one NTFS volume: where record n lies (through the MFT's own runs),
// reading and fixing up a record, and finding a record's name across its attribute list.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "recovery/mft_record.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

namespace kfr::recovery {

using MftRecordBytes = std::array<std::uint8_t, kMftRecordBytes>;

struct SectorRun {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

struct NameMatch {
    FileNameValue value;
    bool found = false;
};

// What the item list shows for a file record.
struct NtfsFileInfo {
    std::string name;
    std::uint64_t dataSize = 0;
    std::uint64_t timeStamp = 0;
    bool deleted = false;
    bool hasName = false;
};

class MftReader {
public:
    // Builds the record map from record 0's unnamed data attribute. The map is empty when record 5
    // (the root directory) or record 0 does not read as a file record.
    MftReader(const storage::SectorSource& source, const volumes::VolumeParameters& params);

    const std::vector<SectorRun>& runs() const { return m_runs; }
    std::uint64_t totalSectors() const;
    // Records are taken 1,024 bytes (2 sectors) at a time through the runs.
    std::optional<std::uint64_t> sectorOf(std::uint64_t record) const;
    // Reads and fixes up the record at sector; false when unreadable or not a file record.
    bool readRecord(std::uint64_t sector, MftRecordBytes& record) const;
    // File-name lookup: Win32 name first, then Win32-and-DOS, DOS, POSIX; across the records the
    // record's resident attribute list names.
    NameMatch findName(const MftRecordBytes& record, std::uint64_t recordNumber) const;
    // Name, data size, time stamp and deleted state of the record at sector.
    std::optional<NtfsFileInfo> describeFile(std::uint64_t sector) const;

private:
    const storage::SectorSource& m_source;
    std::vector<SectorRun> m_runs;
};

// Record bytes from the data attribute: size of a file's unnamed data attribute (resident value
// length or non-resident real size), or nothing when there is none.
std::optional<std::uint64_t> dataAttributeSize(Bytes record);

}  // namespace kfr::recovery
