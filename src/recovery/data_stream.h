// A file's data on NTFS: its unnamed $DATA attribute or a named stream ("file.txt:extra"),
// gathered across the base record and its extension records. A large or heavily fragmented
// attribute is split into extents, each in some record and each covering a range of VCNs; only
// the extent at VCN 0 carries the sizes and flags of the whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/attribute_list.h"
#include "recovery/run_list.h"

namespace kfr::recovery {

struct DataStream {
    std::string name;                     // "" for the file's unnamed data
    bool resident = false;
    std::vector<std::uint8_t> value;      // resident data
    RunList runs;                         // non-resident: the runs of every extent, in VCN order
    std::uint64_t size = 0;               // bytes of data
    std::uint64_t initializedSize = 0;    // valid data length: bytes from here on read as zeros
    std::uint16_t flags = 0;              // kAttrFlag... of the extent at VCN 0
    std::uint8_t compressionUnit = 0;     // log2 of clusters per compression unit
    // The extents stop at a VCN that no record covers (an extension record was refused or
    // unreadable), or no extent starts at VCN 0: the runs end early.
    bool extentMissing = false;
    bool valueBroken = false;             // a resident value that would run past its record

    bool compressed() const { return (flags & kAttrFlagCompressed) != 0; }
    bool encrypted() const { return (flags & kAttrFlagEncrypted) != 0; }
};

// Every $DATA attribute of the file, one stream per name: the unnamed one first, then named ones
// in the order they are met. Extents of one stream are joined in VCN order: each must start where
// the one before ended (a later duplicate is passed over); a gap ends the runs there. Each
// extent gives at most the clusters its VCN range holds.
std::vector<DataStream> dataStreams(const FileRecords& records);

// The stream of that name, or nothing when the file has none.
std::optional<DataStream> findDataStream(const FileRecords& records, const std::string& name);

}  // namespace kfr::recovery
