// Listing rows as a table and as JSON.
#include "cli/listing_output.h"

#include <algorithm>
#include <array>

#include "cli/scan_support.h"
#include "cli/terminal_text.h"
#include "texts/list_columns.h"

namespace kfr::cli {

using recovery::RowKind;

namespace {

const char* kindName(RowKind kind)
{
    switch (kind) {
    case RowKind::Folder: return "folder";
    case RowKind::VolumeLabel: return "volume_label";
    case RowKind::FatFile:
    case RowKind::NtfsFile: return "file";
    }
    return "file";
}

bool hasSize(const recovery::ItemRow& row)
{
    return row.kind == RowKind::FatFile || row.kind == RowKind::NtfsFile;
}

}  // namespace

nlohmann::json rowJson(const recovery::ItemRow& row, recovery::ItemId folder, std::size_t index,
                       const recovery::VolumeSet& volumes, bool debug)
{
    const volumes::VolumeParameters* params = volumes.of(row.volume);
    const auto modified = isoTime(row);
    nlohmann::json j{{"id", fileId(folder, index)},
                     {"kind", kindName(row.kind)},
                     {"name", row.name},
                     {"size", hasSize(row) ? nlohmann::json(row.size) : nlohmann::json(nullptr)},
                     {"modified", modified ? nlohmann::json(*modified) : nlohmann::json(nullptr)},
                     {"deleted", row.deleted}};
    if (row.kind == RowKind::Folder) j["folder_id"] = row.folderItem;
    if (row.kind == RowKind::FatFile) {
        j["short_name"] = row.shortName;
        j["cluster"] = row.firstCluster;
        // Clusters 0 and 1 hold no data: such an entry names no place on the medium.
        j["first_sector"] = row.firstCluster >= 2 && params ? nlohmann::json(params->clusterSector(row.firstCluster))
                                                            : nlohmann::json(nullptr);
    }
    if (row.kind == RowKind::NtfsFile) j["mft_record_sector"] = row.recordSector;
    // NTFS marks, only where they apply.
    if (row.systemFile) j["system_file"] = true;
    if (!row.streamName.empty()) j["stream"] = row.streamName;
    if (row.compressed) j["compressed"] = true;
    if (row.encrypted) j["encrypted"] = true;
    if (debug) {
        const auto columns = texts::listColumns(row, texts::todayDateText());
        nlohmann::json cols = nlohmann::json::object();
        for (std::size_t i = 0; i < columns.size(); ++i) cols[texts::kBasicListColumns[i]] = columns[i];
        j["debug"] = {{"columns", cols}};
    }
    return j;
}

void printRowTable(std::ostream& out, const std::string& heading, const std::vector<NumberedRow>& rows, bool exactBytes)
{
    struct Cells {
        std::string size, modified, deleted, type, name;
    };
    std::vector<Cells> cells;
    cells.reserve(rows.size());
    for (const auto& [index, row] : rows) {
        Cells c;
        c.size = !hasSize(*row) ? "-" : exactBytes ? std::to_string(row->size) : humanSize(row->size);
        std::string modified = isoTime(*row).value_or("-");
        if (modified.size() > 10 && modified[10] == 'T') modified[10] = ' ';
        c.modified = modified;
        c.deleted = row->deleted ? "yes" : "";
        c.type = texts::typeText(*row);
        c.name = escapeForTerminal(row->name) + (row->kind == RowKind::Folder ? "/" : "");
        cells.push_back(std::move(c));
    }
    const std::array<const char*, 5> header = {"Size", "Modified", "Deleted", "Type", "Name"};
    std::array<std::size_t, 4> width{};
    for (std::size_t i = 0; i < width.size(); ++i) width[i] = displayWidth(header[i]);
    for (const auto& c : cells) {
        width[0] = std::max(width[0], displayWidth(c.size));
        width[1] = std::max(width[1], displayWidth(c.modified));
        width[2] = std::max(width[2], displayWidth(c.deleted));
        width[3] = std::max(width[3], displayWidth(c.type));
    }
    // The name comes last: however wide or long it is, the columns before it stay aligned. The
    // table is made in one text and written at once (a listing of every folder prints millions
    // of cells).
    std::string text = heading + '\n';
    const auto pad = [&text](const std::string& cell, std::size_t width, bool alignRight) {
        appendPadded(text, cell, width, alignRight);
        text += "  ";
    };
    auto line = [&](const std::string& size, const std::string& modified, const std::string& deleted,
                    const std::string& type, const std::string& name) {
        text += "  ";
        pad(size, width[0], true);
        pad(modified, width[1], false);
        pad(deleted, width[2], false);
        pad(type, width[3], false);
        text += name;
        text += '\n';
    };
    if (!cells.empty()) {
        line(header[0], header[1], header[2], header[3], header[4]);
        for (const auto& c : cells) line(c.size, c.modified, c.deleted, c.type, c.name);
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace kfr::cli
