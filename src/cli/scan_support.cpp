// Basic Search runs for commands, and looking up folders and files in their results.
#include "cli/scan_support.h"

#include <cctype>

#include "cli/cli_support.h"
#include "texts/work_texts.h"

namespace kfr::cli {

using recovery::ItemId;
using recovery::kNoItem;

namespace {

std::string lowerText(std::string text)
{
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isFile(const recovery::ItemRow& row)
{
    return row.kind == recovery::RowKind::FatFile || row.kind == recovery::RowKind::NtfsFile;
}

Error stoppedError()
{
    return Error{ErrorKind::Stopped, 0, {}, "Interrupted (Ctrl+C) while reading the folder; nothing was done."};
}

}  // namespace

Result<session::SourceRequest> resolveSource(const SelectionOptions& sel, const GlobalOptions& g)
{
    auto request = sourceRequest(sel, g);
    if (!request) return request;
    if (auto source = storage::openSource(request->path)) {
        auto range = session::settleRange(**source, *request);
        if (range && range->clipped)
            note(g, request->path + ": " +
                        (request->partition ? "partition " + std::to_string(request->partition) + " reaches"
                                            : std::string("the range reaches")) +
                        " past the end of the medium (" + std::to_string((*source)->sectorCount()) +
                        " sectors); reading up to its last sector, " + std::to_string(range->lastSector) + ".");
    }
    return request;
}

Result<std::unique_ptr<ScanRun>> runScan(const session::SourceRequest& request, const GlobalOptions& g,
                                         const std::atomic<bool>* stop, const std::optional<std::string>& deep)
{
    auto run = std::make_unique<ScanRun>();
    run->request = request;
    if (deep) {
        if (auto selected = run->session.selectRange(run->request); !selected) return selected.error();
    } else if (auto selected = run->session.selectSource(run->request); !selected) {
        return selected.error();
    }
    TerminalProgress progress(g, deep ? "Deep Search" : "Basic Search");
    Result<std::shared_ptr<session::ScanResults>> scanned = Error{ErrorKind::InvalidArgument, 0, {}, ""};
    if (deep) {
        const auto& range = run->session.selection();
        scanned = run->session.deepScan({range.firstSector, range.lastSector + 1, *deep}, {stop, &progress});
    } else {
        scanned = run->session.scan({stop, &progress});
    }
    progress.clearLine();
    if (!scanned) return scanned.error();
    run->session.adoptResults(std::move(scanned).value());
    run->results = run->session.results();
    return run;
}

nlohmann::json selectionJson(const session::SourceRequest& request, const volumes::VolumeSelection& selection)
{
    return {{"path", request.path},
            {"partition", request.partition ? nlohmann::json(request.partition) : nlohmann::json(nullptr)},
            {"first_sector", selection.firstSector},
            {"last_sector", selection.lastSector},
            {"file_system", selection.partType}};
}

std::string paramsFailureMessage(recovery::ParamsFailure failure, const volumes::VolumeSelection& selection)
{
    std::string reason;
    switch (failure) {
    case recovery::ParamsFailure::NotInferred:
        reason = "no valid " + selection.partType + " boot sector at sector " + std::to_string(selection.firstSector) +
                 ", and no two folders in sectors " + std::to_string(selection.firstSector) + " - " +
                 std::to_string(selection.lastSector) + " agree on a cluster layout";
        break;
    case recovery::ParamsFailure::StoppedInference: reason = "stopped while the layout was inferred"; break;
    case recovery::ParamsFailure::NtfsBootSector: reason = "neither copy of the NTFS boot sector locates the master file table"; break;
    case recovery::ParamsFailure::NotFatOrNtfs: reason = "the selection names no file system Basic Search reads"; break;
    case recovery::ParamsFailure::MediumRemoved: reason = "the medium went away while the layout was read"; break;
    case recovery::ParamsFailure::None: return {};
    }
    return texts::paramsFailureText(failure) + "\n(" + reason + ")";
}

std::string fileId(ItemId folder, std::size_t row)
{
    return std::to_string(folder) + ":" + std::to_string(row);
}

Result<ItemId> folderNamed(const ScanRun& run, const std::string& path)
{
    const ItemId id = session::findFolder(run.results->scan.folders, path);
    if (id == kNoItem) return Error{ErrorKind::NotFound, 0, path, "no recovered folder has this path"};
    return id;
}

Result<ItemId> folderWithId(const ScanRun& run, std::uint64_t id)
{
    const auto& tree = run.results->scan.folders.tree;
    if (id > UINT32_MAX || !tree.valid(static_cast<ItemId>(id)))
        return Error{ErrorKind::NotFound, 0, std::to_string(id), "no recovered folder has this id"};
    return static_cast<ItemId>(id);
}

Result<recovery::FolderListing> listForCommand(ScanRun& run, ItemId folder, const std::atomic<bool>* stop,
                                               session::HeldMedium* held)
{
    reachPhase(Phase::Listing);
    session::ListingControl control;
    control.stopRequested = stop;
    control.held = held;
    auto listing = run.session.listFolder(*run.results, folder, control);
    if (!listing) return listing.error();
    // What one listing learns (a subfolder's name, a deleted mark) shows in the listings after it.
    run.session.applyChanges(run.results.get(), listing->changes);
    if (listing->stopped) return stoppedError();
    return listing;
}

Result<std::vector<exporting::SelectedRow>> fileRowsNamed(ScanRun& run, const std::string& path,
                                                          const std::atomic<bool>* stop)
{
    const auto slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    auto folder = folderNamed(run, folderPath.empty() ? "/" : folderPath);
    if (!folder) return Error{ErrorKind::NotFound, 0, path, "no recovered folder has this path"};
    auto listing = listForCommand(run, *folder, stop);
    if (!listing) return listing.error();
    std::vector<exporting::SelectedRow> rows;
    for (const auto& row : listing->rows)
        if (isFile(row) && row.name == name) rows.push_back({*folder, row});
    // FAT keeps 8.3 names in upper case; "todo.txt" finds "TODO.TXT" when nothing matches exactly.
    if (rows.empty())
        for (const auto& row : listing->rows)
            if (isFile(row) && lowerText(row.name) == lowerText(name)) rows.push_back({*folder, row});
    if (rows.empty()) return Error{ErrorKind::NotFound, 0, path, "the folder lists no file of this name"};
    return rows;
}

Result<exporting::SelectedRow> fileRowWithId(ScanRun& run, const std::string& id, const std::atomic<bool>* stop)
{
    const auto colon = id.find(':');
    const Error unknown{ErrorKind::NotFound, 0, id, "no recovered file has this id (ids look like 12:3, as list --json gives them)"};
    if (colon == std::string::npos || colon == 0 || colon + 1 >= id.size()) return unknown;
    std::uint64_t folderId = 0, rowIndex = 0;
    try {
        std::size_t used = 0;
        folderId = std::stoull(id.substr(0, colon), &used);
        if (used != colon) return unknown;
        rowIndex = std::stoull(id.substr(colon + 1), &used);
        if (used != id.size() - colon - 1) return unknown;
    } catch (const std::exception&) {
        return unknown;
    }
    auto folder = folderWithId(run, folderId);
    if (!folder) return unknown;
    auto listing = listForCommand(run, *folder, stop);
    if (!listing) return listing.error();
    if (rowIndex >= listing->rows.size() || !isFile(listing->rows[rowIndex])) return unknown;
    return exporting::SelectedRow{*folder, listing->rows[rowIndex]};
}

}  // namespace kfr::cli
