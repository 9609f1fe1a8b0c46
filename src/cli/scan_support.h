// Running Basic Search for a command through a recovery session, and finding what the user
// named in its results: shared by the commands that scan, list, save and open.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command_registry.h"
#include "cli/selection.h"
#include "export/save_run.h"
#include "session/recovery_session.h"
#include "storage/result.h"

namespace kfr::cli {

struct ScanRun {
    session::RecoverySession session;
    session::SourceRequest request;
    std::shared_ptr<const session::ScanResults> results;
};

// The request the options name (see sourceRequest), with a note when the partition table or the
// range reaches past the medium's end and reading stops at its last sector.
Result<session::SourceRequest> resolveSource(const SelectionOptions& selection, const GlobalOptions& global);

// Selects the source and runs Basic Search (or, with deep, Deep Search of the request's range for
// that file system) with a progress line on the terminal; stop is the command's Ctrl+C flag. The
// session holds the results.
Result<std::unique_ptr<ScanRun>> runScan(const session::SourceRequest& request, const GlobalOptions& global,
                                         const std::atomic<bool>* stop, const std::optional<std::string>& deep);

// The system's message that a volume's parameters could not be had, and why.
std::string paramsFailureMessage(recovery::ParamsFailure failure, const volumes::VolumeSelection& selection);

// The selection as JSON: what the user named and the sectors and file system it came to.
nlohmann::json selectionJson(const session::SourceRequest& request, const volumes::VolumeSelection& selection);

// A file's identifier in the JSON and for --file-id: "<folder id>:<row>", the folder's tree item
// and the row's place in that folder's listing. Both hold for the same medium and program version.
std::string fileId(recovery::ItemId folder, std::size_t row);

// The folder a path under Root ("Documents/Work") or an id names.
Result<recovery::ItemId> folderNamed(const ScanRun& run, const std::string& path);
Result<recovery::ItemId> folderWithId(const ScanRun& run, std::uint64_t id);

// Lists a folder for a command (what the listing learns is applied to the results), stopping
// at the command's Ctrl+C.
Result<recovery::FolderListing> listForCommand(ScanRun& run, recovery::ItemId folder, const std::atomic<bool>* stop);

// The file rows a path "Folder/Sub/name.ext" ("name.ext" for a file of Root) or a file id
// names, with the folder that lists them. By path every row of that name counts: a live file
// and a deleted one may share it.
Result<std::vector<exporting::SelectedRow>> fileRowsNamed(ScanRun& run, const std::string& path,
                                                          const std::atomic<bool>* stop);
Result<exporting::SelectedRow> fileRowWithId(ScanRun& run, const std::string& id, const std::atomic<bool>* stop);

}  // namespace kfr::cli
