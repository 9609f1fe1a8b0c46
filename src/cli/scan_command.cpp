// kestravon-cli info / scan / list: a volume's parameters, the Basic Search tree, and the
// contents of recovered folders.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/listing_output.h"
#include "cli/scan_support.h"
#include "cli/selection.h"
#include "cli/terminal_text.h"
#include "cli/tree_output.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "texts/list_columns.h"
#include "texts/messages.h"
#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

using namespace kfr::recovery;

nlohmann::json paramsJson(const volumes::VolumeParameters& p)
{
    if (p.isNtfs())
        return {{"file_system", p.partType},
                {"sectors_per_cluster", p.spc},
                {"volume_start", p.cluster0Start},
                {"mft_sector", p.mftSector},
                {"mft_mirror_sector", p.mftMirrorSector},
                {"sectors_per_record", p.sectorsPerRecord},
                {"sectors_per_index_record", p.sectorsPerIndexRecord}};
    return {{"file_system", p.partType},
            {"sectors_per_fat", p.spf},
            {"sectors_per_cluster", p.spc},
            {"root_sectors", p.rootSectors},
            {"root_start", p.rootStart},
            {"reserved_sectors", p.reserveSectors},
            {"cluster0_start", p.cluster0Start},
            {"first_fat_sector", p.firstFat},
            {"second_fat_sector", p.secondFat},
            {"total_sectors", p.totalSectors}};
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

const char* endName(ScanEnd end)
{
    switch (end) {
    case ScanEnd::Finished: return "finished";
    case ScanEnd::Stopped: return "stopped";
    case ScanEnd::Failed: return "failed";
    }
    return "finished";
}

const char* paramsFailureName(ParamsFailure failure)
{
    switch (failure) {
    case ParamsFailure::None: return "none";
    case ParamsFailure::NotInferred: return "not_inferred";
    case ParamsFailure::StoppedInference: return "stopped_inference";
    case ParamsFailure::NtfsBootSector: return "ntfs_boot_sector";
    case ParamsFailure::NotFatOrNtfs: return "not_fat_or_ntfs";
    case ParamsFailure::MediumRemoved: return "medium_removed";
    }
    return "none";
}

nlohmann::json summaryJson(const BasicScanResult& res)
{
    return {{"end", endName(res.end)},
            {"parameters_from", res.paramsFailed ? "none" : res.paramsFromBootSector ? "boot_sector" : "inferred"},
            {"parameters_failure", res.paramsFailed ? nlohmann::json(paramsFailureName(res.paramsFailure))
                                                    : nlohmann::json(nullptr)},
            {"directories_found", res.directoriesFound},
            {"folders_placed", res.folders.folderCount},
            {"unreadable_sectors", res.unreadableSectors},
            {"found_nothing", res.foundNothing}};
}

void printSummary(const BasicScanResult& res, const volumes::VolumeSelection& selection, bool interrupted, bool deep)
{
    if (res.paramsFailed) std::cout << paramsFailureMessage(res.paramsFailure, selection) << "\n";
    std::cout << "Scan " << (interrupted ? "stopped by Ctrl+C" : endName(res.end)) << ": " << res.folders.folderCount
              << " folders placed";
    if (res.unreadableSectors) std::cout << ", " << res.unreadableSectors << " unreadable sectors skipped";
    std::cout << ".\n";
    // Deep Search has said already that no volume could be inferred.
    if (res.foundNothing && !deep) std::cout << texts::kEmptyResultBasicText << "\n";
}

// The exit code of a command that ran Basic Search: what the scan found decides when nothing
// else went wrong.
int scanExitCode(const BasicScanResult& res, bool interrupted)
{
    if (interrupted) return kExitInterrupted;
    if (res.end == ScanEnd::Failed) return kExitUnreadable;
    if (res.paramsFailed || res.foundNothing) return kExitIncomplete;
    return kExitOk;
}

int runInfo(const SelectionOptions& sel, const GlobalOptions& g)
{
    if (sel.deep)
        return reportFailure({"usage", "info reads one volume's boot sector; scan --deep (or deep) finds the volumes of a range",
                              kExitUsage},
                             g);
    InterruptToStop interrupt;
    auto request = resolveSource(sel, g);
    if (!request) return reportError(request.error(), g);
    session::RecoverySession session;
    if (auto selected = session.selectSource(*request); !selected) return reportError(selected.error(), g);
    TerminalProgress progress(g, "Reading the volume's parameters");
    auto info = session.volumeInfo({interrupt.flag(), &progress});
    progress.clearLine();
    if (!info) {
        if (interrupt.interrupted())
            return reportFailure({"interrupted", "Interrupted (Ctrl+C) while inferring the volume's parameters.",
                                  kExitInterrupted},
                                 g);
        const auto failure = session.selection().partType == volumes::kNtfs ? ParamsFailure::NtfsBootSector
                                                                            : ParamsFailure::NotInferred;
        return reportFailure({"no_parameters", paramsFailureMessage(failure, session.selection()), kExitIncomplete}, g);
    }
    const bool fromBoot = info->origin == session::ParamsOrigin::BootSector;
    if (g.json) {
        printJson(g, {{"source", selectionJson(*request, info->selection)},
                      {"parameters_from", fromBoot ? "boot_sector" : "inferred"},
                      {"parameters", paramsJson(info->params)}});
    } else {
        const auto& s = info->selection;
        std::cout << "Source          : " << request->path
                  << (request->partition ? ", partition " + std::to_string(request->partition) : std::string()) << "  (sectors "
                  << s.firstSector << " - " << s.lastSector << ")\n";
        printParams(info->params, fromBoot ? "boot sector" : "inferred from directory positions");
    }
    return kExitOk;
}

// Where a Deep Search volume begins and what gave its geometry.
struct DeepVolumeView {
    std::optional<std::uint64_t> firstSector;  // unknown for a FAT volume inferred from folders
    bool fromBootSector = false;
    bool clusterSizeGuessed = false;
};

DeepVolumeView deepVolumeView(const session::ScanResults& r, std::size_t i)
{
    DeepVolumeView v;
    const auto& row = r.deep.partitions[i];
    v.fromBootSector = row.fromBootSector;
    if (row.partType == volumes::kNtfs) {
        v.firstSector = static_cast<std::uint64_t>(row.cluster0Start);
        const std::size_t ntfsIndex = i - (r.deep.partitions.size() - r.deep.ntfsVolumes.size());
        if (ntfsIndex < r.deep.ntfsVolumes.size()) v.clusterSizeGuessed = r.deep.ntfsVolumes[ntfsIndex].guessedClusterSize;
    } else if (row.fromBootSector) {
        v.firstSector = row.sector;
    }
    return v;
}

nlohmann::json deepJson(const session::ScanResults& r)
{
    nlohmann::json volumesJson = nlohmann::json::array();
    for (std::size_t i = 0; i < r.deep.partitions.size() && i < r.volumes.size(); ++i) {
        const auto& p = r.volumes[i];
        const DeepVolumeView v = deepVolumeView(r, i);
        volumesJson.push_back({{"index", i},
                               {"file_system", p.partType},
                               {"from", v.fromBootSector ? "boot_sector" : "inferred"},
                               {"first_sector", v.firstSector ? nlohmann::json(*v.firstSector) : nlohmann::json(nullptr)},
                               {"sectors_per_cluster", p.spc},
                               {"cluster_size_guessed", v.clusterSizeGuessed},
                               {"cluster0_start", p.cluster0Start},
                               {"first_fat_sector", p.firstFat ? nlohmann::json(p.firstFat) : nlohmann::json(nullptr)},
                               {"mft_sector", p.mftSector ? nlohmann::json(p.mftSector) : nlohmann::json(nullptr)}});
    }
    return {{"range", {{"first_sector", r.selection.firstSector}, {"last_sector", r.selection.lastSector}}},
            {"directories_found", r.deep.lostDirectories.size()},
            {"boot_sectors_found", r.deep.bootCandidates.size()},
            {"ntfs_records_found", r.deep.ntfsRecordsFound},
            {"volumes", std::move(volumesJson)}};
}

void printDeepVolumes(const session::ScanResults& r)
{
    std::cout << "Deep Search of sectors " << r.selection.firstSector << " - " << r.selection.lastSector << ": "
              << r.deep.lostDirectories.size() << " FAT folders, " << r.deep.bootCandidates.size()
              << " FAT boot sectors, " << r.deep.ntfsRecordsFound << " NTFS file records found.\n";
    if (r.deep.partitions.empty()) {
        std::cout << "No volume could be inferred from them.\n";
        return;
    }
    for (std::size_t i = 0; i < r.deep.partitions.size() && i < r.volumes.size(); ++i) {
        const auto& p = r.volumes[i];
        const DeepVolumeView v = deepVolumeView(r, i);
        std::cout << "Volume " << i + 1 << ": " << p.partType;
        if (v.firstSector) std::cout << " at sector " << *v.firstSector;
        std::cout << (v.fromBootSector ? " (boot sector)" : p.isNtfs() ? " (inferred from its $MFT records)" : " (inferred from folder positions)")
                  << ", " << p.spc << " sectors per cluster" << (v.clusterSizeGuessed ? " (assumed)" : "")
                  << ", cluster 0 at sector " << p.cluster0Start;
        if (!p.isNtfs() && p.firstFat) std::cout << ", first FAT at sector " << p.firstFat;
        std::cout << "\n";
    }
    for (std::size_t i = 0; i < r.deep.partitions.size() && i < r.volumes.size(); ++i) {
        const DeepVolumeView v = deepVolumeView(r, i);
        if (!v.firstSector) continue;
        std::cout << "To read one volume with the other commands, give its first sector, e.g. --first "
                  << *v.firstSector << " --fs " << r.volumes[i].partType << ".\n";
        break;
    }
}

struct ScanOptions {
    SelectionOptions selection;
    std::string saveLog;  // --save-log: the recovery log to write of the results
};

int runScanCommand(const ScanOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    const SelectionOptions& sel = o.selection;
    auto request = resolveSource(sel, g);
    if (!request) return reportError(request.error(), g);
    // Checked before the scan, which may take hours, rather than after it.
    if (!o.saveLog.empty())
        if (auto refused = checkLogDestination(o.saveLog, request->path)) return reportFailure(*refused, g);
    auto run = runScan(*request, g, interrupt.flag(), deepFileSystem(sel));
    if (!run) return reportError(run.error(), g);
    const auto& results = *(*run)->results;
    const auto& res = results.scan;
    const bool deep = results.mode == session::ScanMode::Deep;
    int exitCode = scanExitCode(res, interrupt.interrupted());
    // A stopped scan's results are saved too: they are what was found, and the log says how the scan ended.
    const nlohmann::json savedLog = o.saveLog.empty() ? nlohmann::json() : saveLogOfRun(**run, o.saveLog, g, exitCode);
    if (g.json) {
        nlohmann::json out{{"source", selectionJson((*run)->request, results.selection)},
                           {"summary", summaryJson(res)},
                           {"parameters", res.paramsFailed || deep ? nlohmann::json(nullptr) : paramsJson(res.params)},
                           {"folders", foldersJson(res.folders, recovery::VolumeSet{&res.params, &results.volumes}, g.debug)}};
        if (deep) out["deep"] = deepJson(results);
        if (!o.saveLog.empty()) out["saved_log"] = savedLog;
        printJson(g, out);
    } else {
        if (deep) printDeepVolumes(results);
        printFolderTree(std::cout, res.folders);
        printSummary(res, results.selection, interrupt.interrupted(), deep);
    }
    return exitCode;
}

struct ListOptions {
    SelectionOptions selection;
    std::string folder = "/";
    std::optional<std::uint64_t> folderId;
    bool all = false;
    bool deletedOnly = false;
    bool bytes = false;
};

// The folders to list, with their paths (nullptr for one too deep to have one).
struct FolderToList {
    ItemId id = kNoItem;
    std::optional<std::string> path;
};

Result<std::vector<FolderToList>> foldersToList(const ListOptions& o, const ScanRun& run)
{
    const auto& r = run.results->scan.folders;
    std::vector<FolderToList> out;
    if (o.all) {
        walkFolderPaths(r.tree, [&](ItemId id, std::size_t, const std::string* path) {
            out.push_back({id, path ? std::optional<std::string>(*path) : std::nullopt});
        });
        return out;
    }
    auto id = o.folderId ? folderWithId(run, *o.folderId) : folderNamed(run, o.folder);
    if (!id) return id.error();
    out.push_back({*id, session::slashPath(r, *id)});
    return out;
}

int runList(const ListOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    Failure failure;
    auto scanned = startRun(o.selection, g, interrupt.flag(), failure);
    if (!scanned) return reportFailure(failure, g);
    ScanRun& run = *scanned;
    const auto& res = run.results->scan;
    if (interrupt.interrupted())
        return reportFailure({"interrupted", "Interrupted (Ctrl+C) during the scan; nothing was listed.", kExitInterrupted}, g);
    auto folders = foldersToList(o, run);
    if (!folders) return reportError(folders.error(), g);

    // Every folder is listed through one open medium and one FAT cache.
    auto held = run.session.holdMedium(*run.results);
    if (!held) return reportError(held.error(), g);
    nlohmann::json all = nlohmann::json::array();
    bool first = true;
    for (const auto& folder : *folders) {
        auto listing = listForCommand(run, folder.id, interrupt.flag(), &*held);
        if (!listing) return reportError(listing.error(), g);
        std::vector<NumberedRow> rows;
        for (std::size_t i = 0; i < listing->rows.size(); ++i)
            if (!o.deletedOnly || listing->rows[i].deleted) rows.push_back({i, &listing->rows[i]});
        if (o.all && o.deletedOnly && rows.empty()) continue;
        if (g.json) {
            nlohmann::json entries = nlohmann::json::array();
            for (const auto& [index, row] : rows) entries.push_back(rowJson(*row, folder.id, index, recovery::VolumeSet{&res.params, &run.results->volumes}, g.debug));
            const ItemId parent = res.folders.tree.item(folder.id).parent;
            all.push_back({{"id", folder.id},
                           {"parent_id", parent == kNoItem ? nlohmann::json(nullptr) : nlohmann::json(parent)},
                           {"path", folder.path ? nlohmann::json(*folder.path) : nlohmann::json(nullptr)},
                           {"folder_count", listing->folders},
                           {"file_count", listing->files},
                           {"entries", std::move(entries)}});
        } else {
            const std::string where =
                folder.path ? escapeForTerminal(*folder.path) : "[folder " + std::to_string(folder.id) + ", too deep for a path]";
            if (!first) std::cout << '\n';
            first = false;
            printRowTable(std::cout, where + "   (" + texts::countsText(listing->folders, listing->files) + ")", rows, o.bytes);
        }
    }
    if (g.json) {
        nlohmann::json out{{"source", selectionJson(run.request, run.results->selection)},
                           {"summary", summaryJson(res)},
                           {"folders", std::move(all)}};
        if (run.log) out["loaded_log"] = loadedLogJson(run);
        printJson(g, out);
    }
    else if (res.foundNothing && run.results->mode == session::ScanMode::Basic)
        std::cout << texts::kEmptyResultBasicText << "\n";
    return scanExitCode(res, false);
}

const CommandRegistration kRegistration{"10-scan", [](CLI::App& app, GlobalOptions& g) {
    auto infoOptions = std::make_shared<SelectionOptions>();
    auto* info = app.add_subcommand("info", "Print the volume parameters (from the boot sector, or inferred when "
                                            "the boot sector is damaged)");
    addSelectionOptions(*info, *infoOptions);
    info->callback([infoOptions, &g] {
        g.command = "info";
        g.exitCode = runInfo(*infoOptions, g);
    });

    const auto addSaveLog = [](CLI::App& command, ScanOptions& options) {
        command.add_option("--save-log", options.saveLog,
                           "Also save the results as a recovery log (FILE.MFT), which list, save and open take with "
                           "--log instead of scanning again")
            ->type_name("FILE");
    };
    auto scanOptions = std::make_shared<ScanOptions>();
    auto* scan = app.add_subcommand("scan", "Basic Search: find every folder on the volume, deleted ones included, "
                                            "and print the recovered tree. Ctrl+C stops and prints what was found.");
    addSelectionOptions(*scan, scanOptions->selection);
    addSaveLog(*scan, *scanOptions);
    scan->callback([scanOptions, &g] {
        g.command = "scan";
        g.exitCode = runScanCommand(*scanOptions, g);
    });

    auto deepOptions = std::make_shared<ScanOptions>();
    auto* deep = app.add_subcommand(
        "deep", "Deep Search: sweep a disk, partition or sector range once for FAT boot sectors, FAT folders and NTFS "
                "file records; infer the lost volumes even without a boot sector and print each one (first sector, "
                "sectors per cluster, cluster 0) and the recovered tree. list, save and open take --deep for the same "
                "search. Ctrl+C stops the sweep and shows what was found.");
    addSelectionOptions(*deep, deepOptions->selection);
    addSaveLog(*deep, *deepOptions);
    deep->callback([deepOptions, &g] {
        g.command = "deep";
        deepOptions->selection.deep = true;
        g.exitCode = runScanCommand(*deepOptions, g);
    });

    auto listOptions = std::make_shared<ListOptions>();
    auto* list = app.add_subcommand("list", "Basic Search (or the results of a recovery log, --log), then list a "
                                            "recovered folder's subfolders and files (sizes, dates, types, deleted marks)");
    addSelectionOptions(*list, listOptions->selection, true, true);
    auto* folder = list->add_option("-f,--folder", listOptions->folder,
                                    "Folder path under Root, e.g. / or Documents/Work or Lumo_Miscellaneous/DIR5 (default /)");
    auto* folderId = list->add_option("--folder-id", listOptions->folderId, "Folder by its id, as scan --json gives it");
    auto* all = list->add_flag("-a,--all", listOptions->all, "List every recovered folder");
    folder->excludes(folderId)->excludes(all);
    folderId->excludes(all);
    list->add_flag("--deleted-only", listOptions->deletedOnly, "Show only rows marked deleted");
    list->add_flag("--bytes", listOptions->bytes, "Sizes in bytes instead of KiB, MiB, GiB");
    list->callback([listOptions, &g] {
        g.command = "list";
        g.exitCode = runList(*listOptions, g);
    });
}};

}  // namespace

}  // namespace kfr::cli
