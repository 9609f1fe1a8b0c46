// Basic Search runs for commands.
#include "cli/scan_support.h"

#include "cli/cli_support.h"

namespace kfr::cli {

Result<std::unique_ptr<ScanRun>> runScan(const SelectionOptions& sel, const GlobalOptions& g)
{
    auto run = std::make_unique<ScanRun>();
    if (auto selected = run->session.selectSource(sourceRequest(sel)); !selected) return selected.error();
    std::atomic<bool> stop{false};
    InterruptToStop interrupt(stop);
    TerminalProgress progress(!g.noProgress && !g.json);
    auto scanned = run->session.scan({&stop, &progress});
    progress.clearLine();
    if (!scanned) return scanned.error();
    run->session.adoptResults(std::move(scanned).value());
    run->results = run->session.results();
    return run;
}

}  // namespace kfr::cli
