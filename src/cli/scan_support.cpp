// Basic Search runs and folder lookup for commands.
#include "cli/scan_support.h"

#include <ctime>
#include <sstream>

#include "cli/cli_support.h"

namespace kfr::cli {

using namespace kfr::recovery;

std::uint16_t nowAsFatTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return fatTimeWord(local.tm_hour, local.tm_min, local.tm_sec);
}

Result<std::unique_ptr<ScanRun>> runScan(const SelectionOptions& sel, const GlobalOptions& g)
{
    auto opened = openSelection(sel);
    if (!opened) return opened.error();
    auto run = std::make_unique<ScanRun>();
    run->opened = std::move(opened).value();
    std::atomic<bool> stop{false};
    InterruptToStop interrupt(stop);
    TerminalProgress progress(!g.noProgress && !g.json);
    BasicScanContext ctx;
    ctx.source = run->opened.source.get();
    ctx.selection = run->opened.selection;
    ctx.stopRequested = &stop;
    ctx.observer = &progress;
    ctx.namer = &run->namer;
    ctx.orphanTimeWord = nowAsFatTime();
    run->result = runBasicScan(ctx);
    progress.clearLine();
    return run;
}

// Finds a folder by a path of names under "Root" ("/", "Documents/Work", "Lumo_Miscellaneous/DIR5").
ItemId findFolder(const FolderResults& r, const std::string& path)
{
    ItemId cur = r.tree.firstTopLevel();
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        ItemId next = kNoItem;
        for (ItemId c : r.tree.children(cur))
            if (r.tree.item(c).name == part) {
                next = c;
                break;
            }
        if (next == kNoItem) return kNoItem;
        cur = next;
    }
    return cur;
}

std::string slashPath(const FolderResults& r, ItemId id)
{
    std::string path;
    for (ItemId cur = id; r.tree.valid(cur) && r.tree.item(cur).parent != kNoItem; cur = r.tree.item(cur).parent)
        path = "/" + r.tree.item(cur).name + path;
    return path.empty() ? "/" : path;
}

}  // namespace kfr::cli
