// A recovered folder's rows for people (a table with a header row, aligned columns, ISO 8601
// times and sizes in KiB/MiB) and for scripts (one JSON object per row).
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "recovery/folder_listing.h"
#include "volumes/volume_parameters.h"

namespace kfr::cli {

// One row of a listing with its place in it (the row part of its file id).
struct NumberedRow {
    std::size_t index = 0;
    const recovery::ItemRow* row = nullptr;
};

// {"id", "kind", "name", "size", "modified", "deleted", ...} for one row of the listing of folder.
// With debug, the nine columns of the desktop program's item list too.
nlohmann::json rowJson(const recovery::ItemRow& row, recovery::ItemId folder, std::size_t index,
                       const recovery::VolumeSet& volumes, bool debug);

// The table of a folder's rows under a heading line; exactBytes prints sizes in bytes.
void printRowTable(std::ostream& out, const std::string& heading, const std::vector<NumberedRow>& rows, bool exactBytes);

}  // namespace kfr::cli
