// Running Basic Search for a command through a recovery session: shared by the commands that
// scan, list, save and open.
#pragma once

#include <memory>
#include <string>

#include "cli/command_registry.h"
#include "cli/selection.h"
#include "session/recovery_session.h"
#include "storage/result.h"

namespace kfr::cli {

struct ScanRun {
    session::RecoverySession session;
    std::shared_ptr<const session::ScanResults> results;
};

// Selects the source and runs Basic Search with a progress line on the terminal and Ctrl+C as
// Stop; the session holds the results.
Result<std::unique_ptr<ScanRun>> runScan(const SelectionOptions& selection, const GlobalOptions& global);

}  // namespace kfr::cli
