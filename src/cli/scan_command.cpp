// kestravon-cli info / scan / list: a volume's parameters, the Basic Search tree, and the
// contents of recovered folders.
#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/scan_support.h"
#include "cli/selection.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "texts/list_columns.h"
#include "texts/messages.h"
#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

using namespace kfr::recovery;
using session::findFolder;
using session::slashPath;

nlohmann::json paramsJson(const volumes::VolumeParameters& p)
{
    nlohmann::json j{{"PartType", p.partType},          {"SPF", p.spf},
                     {"SPC", p.spc},                    {"RootSectors", p.rootSectors},
                     {"RootStart", p.rootStart},        {"ReserveSectors", p.reserveSectors},
                     {"Cluster0Start", p.cluster0Start}, {"firstFAT", p.firstFat},
                     {"secondFAT", p.secondFat},        {"TotalSectors", p.totalSectors}};
    if (p.isNtfs()) {
        j["MftSector"] = p.mftSector;
        j["MftMirrorSector"] = p.mftMirrorSector;
        j["SectorsPerRecord"] = p.sectorsPerRecord;
        j["SectorsPerIndexRecord"] = p.sectorsPerIndexRecord;
    }
    return j;
}

void printParams(const volumes::VolumeParameters& p, const std::string& origin)
{
    std::cout << "File system     : " << p.partType << "  (" << origin << ")\n";
    if (p.isNtfs()) {
        std::cout << "SPC             : " << p.spc << "\n"
                  << "Volume start    : " << p.cluster0Start << "\n"
                  << "MFT sector      : " << p.mftSector << "\n"
                  << "MFT mirror      : " << p.mftMirrorSector << "\n"
                  << "Sectors/record  : " << p.sectorsPerRecord << "\n"
                  << "Sectors/index   : " << p.sectorsPerIndexRecord << "\n";
        return;
    }
    std::cout << "SPF             : " << p.spf << "\n"
              << "SPC             : " << p.spc << "\n"
              << "Root Sectors    : " << p.rootSectors << "\n"
              << "Root Start      : " << p.rootStart << "\n"
              << "Reserve Sectors : " << p.reserveSectors << "\n"
              << "Cluster0Start   : " << p.cluster0Start << "\n"
              << "firstFAT        : " << p.firstFat << "\n"
              << "secondFAT       : " << p.secondFat << "\n"
              << "TotalSectors    : " << p.totalSectors << "\n";
}

const char* endText(ScanEnd end)
{
    switch (end) {
    case ScanEnd::Finished: return "finished";
    case ScanEnd::Stopped: return "stopped";
    case ScanEnd::Failed: return "failed";
    }
    return "finished";
}

nlohmann::json treeJson(const FolderResults& r, ItemId id)
{
    const auto& item = r.tree.item(id);
    nlohmann::json j{{"name", item.name}};
    if (const FolderNode* n = r.nodeOf(id)) {
        j["self"] = n->self;
        j["parent"] = n->parent;
        j["deleted"] = n->deleted;
    }
    nlohmann::json kids = nlohmann::json::array();
    for (ItemId c : item.children) kids.push_back(treeJson(r, c));
    j["children"] = std::move(kids);
    return j;
}

void printTree(const FolderResults& r, ItemId id, int depth)
{
    const auto& item = r.tree.item(id);
    std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << item.name;
    if (const FolderNode* n = r.nodeOf(id); n && n->deleted) std::cout << "  [deleted]";
    std::cout << "\n";
    for (ItemId c : item.children) printTree(r, c, depth + 1);
}

nlohmann::json summaryJson(const BasicScanResult& res)
{
    return {{"end", endText(res.end)},
            {"parametersFrom", res.paramsFailed ? "none" : res.paramsFromBootSector ? "boot-sector" : "inferred"},
            {"directoriesFound", res.directoriesFound},
            {"foldersPlaced", res.folders.folderCount},
            {"unreadableSectors", res.unreadableSectors},
            {"foundNothing", res.foundNothing}};
}

void printSummary(const BasicScanResult& res)
{
    if (res.paramsFailed) std::cout << texts::paramsFailureText(res.paramsFailure) << "\n";
    std::cout << "Scan " << endText(res.end) << ": " << res.folders.folderCount << " folders placed";
    if (res.unreadableSectors) std::cout << ", " << res.unreadableSectors << " unreadable sectors skipped";
    std::cout << ".\n";
    if (res.foundNothing)
        std::cout << texts::kEmptyResultBasicText << "\n";
}

nlohmann::json listingJson(const FolderResults& r, ItemId id, const FolderListing& listing, const std::string& today)
{
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& row : listing.rows) {
        const auto columns = texts::listColumns(row, today);
        nlohmann::json cols = nlohmann::json::object();
        for (std::size_t i = 0; i < columns.size(); ++i) cols[texts::kBasicListColumns[i]] = columns[i];
        const char* kind = row.kind == RowKind::Folder ? "folder" : row.kind == RowKind::VolumeLabel ? "label" : "file";
        nlohmann::json j{{"kind", kind}, {"deleted", row.deleted}, {"columns", cols}};
        // NTFS marks, only where they apply.
        if (row.systemFile) j["systemFile"] = true;
        if (!row.streamName.empty()) j["stream"] = row.streamName;
        if (row.compressed) j["compressed"] = true;
        if (row.encrypted) j["encrypted"] = true;
        rows.push_back(std::move(j));
    }
    return {{"folder", slashPath(r, id)},
            {"currentFolderText", texts::folderPathText(r.tree, id)},
            {"counts", texts::countsText(listing.folders, listing.files)},
            {"rows", rows}};
}

void printListing(const FolderResults& r, ItemId id, const FolderListing& listing, const std::string& today)
{
    std::cout << slashPath(r, id) << "   (" << texts::countsText(listing.folders, listing.files) << ")\n";
    for (const auto& row : listing.rows) {
        const auto c = texts::listColumns(row, today);
        std::printf("  %-1s %-40s %-28s %12s  %s %s%s\n", row.kind == RowKind::Folder ? "D" : "",
                    c[0].c_str(), c[1].c_str(), c[2].c_str(), c[3].c_str(), c[4].c_str(),
                    row.deleted ? "  [deleted]" : "");
    }
    std::fflush(stdout);
}

struct ListOptions {
    SelectionOptions selection;
    std::string folder = "/";
    bool all = false;
};

int runInfo(const SelectionOptions& sel, const GlobalOptions& g)
{
    session::RecoverySession session;
    if (auto selected = session.selectSource(sourceRequest(sel)); !selected) return reportError(selected.error(), g.json);
    std::atomic<bool> stop{false};
    InterruptToStop interrupt(stop);
    TerminalProgress progress(!g.noProgress && !g.json);
    auto info = session.volumeInfo({&stop, &progress});
    progress.clearLine();
    if (!info) {
        const auto failure = info.error().kind == ErrorKind::Stopped       ? ParamsFailure::StoppedInference
                             : session.selection().partType == volumes::kNtfs ? ParamsFailure::NtfsBootSector
                                                                               : ParamsFailure::NotInferred;
        const std::string message = texts::paramsFailureText(failure);
        if (g.json) {
            printJson({{"source", sel.source}, {"error", {{"message", message}}}});
        } else {
            std::cerr << message << "\n";
        }
        return 2;
    }
    const auto& selection = info->selection;
    const bool fromBoot = info->origin == session::ParamsOrigin::BootSector;
    if (g.json) {
        printJson({{"source", sel.source},
                   {"firstSector", selection.firstSector},
                   {"lastSector", selection.lastSector},
                   {"parametersFrom", fromBoot ? "boot-sector" : "inferred"},
                   {"parameters", paramsJson(info->params)}});
    } else {
        std::cout << "Source          : " << sel.source << "  (sectors " << selection.firstSector << " - "
                  << selection.lastSector << ")\n";
        printParams(info->params, fromBoot ? "boot sector" : "inferred from directory positions");
    }
    return 0;
}

int runScanCommand(const SelectionOptions& sel, const GlobalOptions& g)
{
    auto run = runScan(sel, g);
    if (!run) return reportError(run.error(), g.json);
    const auto& res = (*run)->results->scan;
    const auto& r = res.folders;
    if (g.json) {
        printJson({{"source", sel.source},
                   {"summary", summaryJson(res)},
                   {"parameters", paramsJson(res.params)},
                   {"tree", treeJson(r, r.tree.firstTopLevel())}});
    } else {
        printTree(r, r.tree.firstTopLevel(), 0);
        printSummary(res);
    }
    return res.end == ScanEnd::Failed ? 1 : 0;
}

int runList(const ListOptions& o, const GlobalOptions& g)
{
    auto run = runScan(o.selection, g);
    if (!run) return reportError(run.error(), g.json);
    const session::ScanResults& results = *(*run)->results;
    const auto& res = results.scan;
    const auto& r = res.folders;
    const std::string today = texts::todayDateText();

    std::vector<ItemId> folders;
    if (o.all) {
        folders = r.tree.preOrder();
    } else {
        const ItemId id = findFolder(r, o.folder);
        if (id == kNoItem)
            return reportError(Error{ErrorKind::NotFound, 0, o.folder, "no recovered folder has this path"}, g.json);
        folders.push_back(id);
    }
    nlohmann::json all = nlohmann::json::array();
    for (ItemId id : folders) {
        auto listing = (*run)->session.listFolder(results, id);
        if (!listing) return reportError(listing.error(), g.json);
        // What one listing learns (a subfolder's name, a deleted mark) shows in the listings after it.
        (*run)->session.applyChanges(&results, listing->changes);
        if (g.json)
            all.push_back(listingJson(r, id, *listing, today));
        else
            printListing(r, id, *listing, today);
    }
    if (g.json) printJson({{"source", o.selection.source}, {"summary", summaryJson(res)}, {"folders", all}});
    return 0;
}

const CommandRegistration kRegistration{"10-scan", [](CLI::App& app, GlobalOptions& g) {
    auto infoOptions = std::make_shared<SelectionOptions>();
    auto* info = app.add_subcommand("info", "Print the volume parameters (from the boot sector, or inferred when "
                                            "the boot sector is damaged)");
    addSelectionOptions(*info, *infoOptions);
    info->callback([infoOptions, &g] { g.exitCode = runInfo(*infoOptions, g); });

    auto scanOptions = std::make_shared<SelectionOptions>();
    auto* scan = app.add_subcommand("scan", "Basic Search: find every folder on the volume, deleted ones included, "
                                            "and print the recovered tree. Ctrl+C stops and prints what was found.");
    addSelectionOptions(*scan, *scanOptions);
    scan->callback([scanOptions, &g] { g.exitCode = runScanCommand(*scanOptions, g); });

    auto listOptions = std::make_shared<ListOptions>();
    auto* list = app.add_subcommand("list", "Basic Search, then list a recovered folder's subfolders and files "
                                            "(sizes, dates, types, deleted marks)");
    addSelectionOptions(*list, listOptions->selection);
    list->add_option("-f,--folder", listOptions->folder,
                     "Folder path under Root, e.g. / or Documents/Work or Lumo_Miscellaneous/DIR5 (default /)");
    list->add_flag("-a,--all", listOptions->all, "List every recovered folder");
    list->callback([listOptions, &g] { g.exitCode = runList(*listOptions, g); });
}};

}  // namespace

}  // namespace kfr::cli
