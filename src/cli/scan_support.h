// Running Basic Search for a command through a recovery session, and finding what the user
// named in its results: shared by the commands that scan, list, save and open.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/selection.h"
#include "export/save_run.h"
#include "session/recovery_session.h"
#include "storage/result.h"

namespace kfr::cli {

// Where the results of a run came from when a recovery log gave them.
struct LoadedLog {
    std::string path;
    recoverylog::MediaVerdict medium = recoverylog::MediaVerdict::Same;
};

struct ScanRun {
    session::RecoverySession session;
    session::SourceRequest request;  // from a log: the medium it was found on
    std::shared_ptr<const session::ScanResults> results;
    std::optional<LoadedLog> log;
};

// The request the options name (see sourceRequest), with a note when the partition table or the
// range reaches past the medium's end and reading stops at its last sector.
Result<session::SourceRequest> resolveSource(const SelectionOptions& selection, const GlobalOptions& global);

// Selects the source and runs Basic Search (or, with deep, Deep Search of the request's range for
// that file system) with a progress line on the terminal; stop is the command's Ctrl+C flag. The
// session holds the results.
Result<std::unique_ptr<ScanRun>> runScan(const session::SourceRequest& request, const GlobalOptions& global,
                                         const std::atomic<bool>* stop, const std::optional<std::string>& deep);

// The results of the recovery log that --log names, without scanning again: the session loads it
// and finds its medium (a moved disk or volume is asked about on the terminal), or takes the
// medium --source names. A log that fails its checks gives nothing and the failure to report.
std::unique_ptr<ScanRun> loadLogRun(const SelectionOptions& selection, const GlobalOptions& global, Failure& failure);

// The run list and open work on: the results of --log, or a scan of the source.
std::unique_ptr<ScanRun> startRun(const SelectionOptions& selection, const GlobalOptions& global,
                                  const std::atomic<bool>* stop, Failure& failure);

// The "loaded_log" JSON of a run from a log: its path, mode and how its medium was found.
nlohmann::json loadedLogJson(const ScanRun& run);

// A usable folder for the recovery log that --save-log names, checked before the scan: it must
// exist and not lie on the medium being recovered. Nothing when it is fine.
std::optional<Failure> checkLogDestination(const std::string& logPath, const std::string& sourcePath);

// Saves the results of a scan as the recovery log --save-log names; the "saved_log" JSON, with
// the failure when it could not be written (what was written stays on disk).
nlohmann::json saveLogOfRun(ScanRun& run, const std::string& logPath, const GlobalOptions& global, int& exitCode);

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
Result<recovery::FolderListing> listForCommand(ScanRun& run, recovery::ItemId folder, const std::atomic<bool>* stop,
                                               session::HeldMedium* held = nullptr);

// The file rows a path "Folder/Sub/name.ext" ("name.ext" for a file of Root) or a file id
// names, with the folder that lists them. By path every row of that name counts: a live file
// and a deleted one may share it.
Result<std::vector<exporting::SelectedRow>> fileRowsNamed(ScanRun& run, const std::string& path,
                                                          const std::atomic<bool>* stop);
Result<exporting::SelectedRow> fileRowWithId(ScanRun& run, const std::string& id, const std::atomic<bool>* stop);

}  // namespace kfr::cli
