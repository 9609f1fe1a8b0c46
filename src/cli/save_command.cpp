// kestravon-cli save / open: Basic Search, then write chosen folders and files to a destination
// folder, or write one file to a temporary copy and hand it to the desktop's opener.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/scan_support.h"
#include "cli/selection.h"
#include "cli/terminal_text.h"
#include "export/collision.h"
#include "export/destination.h"
#include "export/save_run.h"
#include "export/shell_open.h"
#include "export/temp_copies.h"
#include "recovery/folder_listing.h"
#include "storage/byte_size.h"
#include "texts/messages.h"
#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

using namespace kfr::recovery;
using namespace kfr::exporting;
using namespace kfr::texts;

struct SaveOptions {
    SelectionOptions selection;
    std::string destination;
    std::vector<std::string> folders;
    std::vector<std::uint64_t> folderIds;
    std::vector<std::string> files;
    std::vector<std::string> fileIds;
    bool all = false;
    bool deletedOnly = false;
    bool streams = false;
    bool systemFiles = false;
    std::string onCollision = "rename";
};

struct OpenOptions {
    SelectionOptions selection;
    std::string file;
    std::string fileId;
    bool noOpen = false;
};

// The progress window on one terminal line: counts while counting, then the current file.
class TerminalSaveProgress final : public SaveObserver {
public:
    explicit TerminalSaveProgress(const GlobalOptions& global) : m_line(progressWanted(global)) {}

    void clearLine() { m_line.clear(); }
    void onStage(WorkStage stage) override { m_line.show(stageText(stage)); }
    void onCounting(std::uint64_t files, std::uint64_t folders) override
    {
        reachPhase(Phase::Counting);
        if (!m_line.due()) return;
        m_line.show(std::string(kTotalFilesLabel) + " " + std::to_string(files) + "   " + kTotalFoldersLabel + " " +
                    std::to_string(folders));
    }
    void onSelectedTotals(std::uint64_t files, std::uint64_t folders) override
    {
        m_line.show(selectedSummaryText(files, folders));
    }
    void onFileStarted(const SaveFileInfo& file) override { m_file = file; }
    void onFileBytes(std::uint64_t written, std::uint64_t size) override
    {
        if (written > 0 && written < size) reachPhase(Phase::Writing);
        if (!m_line.due()) return;
        m_line.show(std::string(kFilesRecoveredLabel) + " " + countText(m_file.fileNumber, m_file.totalFiles) + "   " +
                    escapeForTerminal(m_file.displayName) + "   " + byteCountText(written, size));
    }
    void onDiskFull() override { m_line.clear(); }

private:
    TerminalLine m_line;
    SaveFileInfo m_file;
};

// The Replace dialog as a question on the terminal.
class TerminalCollisionPrompt final : public CollisionPrompt {
public:
    explicit TerminalCollisionPrompt(TerminalSaveProgress& progress) : m_progress(progress) {}

    ReplaceReply ask(const std::string& collisionPath, const std::string& suggestedPath) override
    {
        m_progress.clearLine();
        ReplaceReply reply;
        reply.fileNameText = collisionPath;
        reply.newFileNameText = suggestedPath;
        for (;;) {
            std::fprintf(stderr,
                         "%s\n  %s %s\n  %s %s\n  [o]verwrite (Enter), [r]ename, [s]kip, [c]ancel; add ! to apply "
                         "the answer to all the files (o!, r!, s!): ",
                         "A file of this name already exists.", kReplaceFileNameLabel,
                         escapeForTerminal(collisionPath).c_str(), kReplaceNewFileNameLabel,
                         escapeForTerminal(suggestedPath).c_str());
            std::fflush(stderr);
            std::string line;
            if (!std::getline(std::cin, line)) {  // end of input answers like Esc: Skip
                reply.button = ReplaceButton::Skip;
                return reply;
            }
            line = storage::trimText(line);
            reply.applyToAll = !line.empty() && line.back() == '!';
            if (reply.applyToAll) line.pop_back();
            if (line.empty() || line == "o" || line == "O") {
                reply.button = ReplaceButton::Overwrite;
                return reply;
            }
            if (line == "r" || line == "R") {
                reply.button = ReplaceButton::Rename;
                return reply;
            }
            if (line == "s" || line == "S") {
                reply.button = ReplaceButton::Skip;
                return reply;
            }
            if (line == "c" || line == "C") {
                reply.button = ReplaceButton::Cancel;
                return reply;
            }
        }
    }

private:
    TerminalSaveProgress& m_progress;
};

CollisionAnswer startAnswerFor(const std::string& mode)
{
    if (mode == "overwrite") return CollisionAnswer::OverwriteAll;
    if (mode == "skip") return CollisionAnswer::SkipAll;
    if (mode == "rename") return CollisionAnswer::RenameAll;
    return CollisionAnswer::Overwrite;  // ask
}

// Why a destination cannot be used, after the system's own message.
std::string destinationReason(DestinationVerdict verdict, const std::string& destination, const std::string& source)
{
    if (verdict == DestinationVerdict::OnSourceVolume) return destination + " lies on " + source + ", the medium being recovered";
    struct stat st {};
    if (::stat(destination.c_str(), &st) != 0) return destination + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return destination + " is not a folder";
    struct statvfs vfs {};
    if (::statvfs(destination.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
        return destination + " lies on a file system mounted read-only";
    if (::access(destination.c_str(), W_OK) != 0) return destination + " cannot be written to: " + std::strerror(errno);
    return destination + " cannot be used";
}

Failure destinationFailure(DestinationVerdict verdict, const std::string& destination, const std::string& source)
{
    return {"destination_invalid",
            std::string(destinationMessage(verdict)) + " (" + destinationReason(verdict, destination, source) + ")",
            kExitUsage};
}

// Whether anything the user asked for did not come out whole.
bool anythingShort(const SaveRunReport& r)
{
    return r.filesIncomplete || r.filesWithUnreadable || r.filesFailed || r.filesSkipped || r.filesDeclined;
}

// A file that Ctrl+C cut short: kept beside its name with ".part" added, so it is never taken
// for a whole file.
struct CutShort {
    std::string path;
    std::string keptAs;  // "" when it could not be renamed
    std::uint64_t written = 0;
    std::uint64_t size = 0;
};

std::vector<CutShort> setAsidePartialFiles(SaveRunReport& report)
{
    std::vector<CutShort> out;
    for (auto& f : report.files) {
        if (f.outcome != FileOutcome::Cancelled) continue;
        CutShort cut{f.info.targetPath, "", f.bytesWritten, f.info.size};
        struct stat st {};
        if (::stat(f.info.targetPath.c_str(), &st) != 0) continue;  // nothing was created
        for (int n = 1; n < 1000 && cut.keptAs.empty(); ++n) {
            const std::string candidate = f.info.targetPath + (n == 1 ? std::string(".part") : ".part" + std::to_string(n));
            if (::access(candidate.c_str(), F_OK) == 0) continue;
            if (std::rename(f.info.targetPath.c_str(), candidate.c_str()) == 0) cut.keptAs = candidate;
            break;
        }
        out.push_back(cut);
    }
    return out;
}

nlohmann::json fileJson(const FileResult& f)
{
    nlohmann::json unreadable = nlohmann::json::array();
    for (const auto& range : f.unreadable) unreadable.push_back({{"offset", range.offset}, {"length", range.length}});
    return {{"path", f.info.targetPath},
            {"size", f.info.size},
            {"written", f.bytesWritten},
            {"outcome", snakeCase(fileOutcomeName(f.outcome))},
            {"reason", f.outcome == FileOutcome::Incomplete ? nlohmann::json(snakeCase(shortReasonName(f.reason)))
                                                            : nlohmann::json(nullptr)},
            {"first_sector", f.firstSector ? nlohmann::json(f.firstSector) : nlohmann::json(nullptr)},
            {"unreadable_ranges", unreadable}};
}

std::string diskFullMessage(const SaveRunReport& r, const std::string& destination)
{
    std::string reason = "no space is left on the drive holding " + destination;
    for (const auto& e : r.problems)
        if (e.kind == ErrorKind::DiskFull && !e.detail.empty()) reason += ": " + e.detail;
    return std::string(kDiskFullText) + " (" + reason + ")";
}

nlohmann::json reportJson(const SaveOptions& o, const ScanRun& run, const SaveRunReport& r,
                          const std::vector<CutShort>& cut, bool interrupted)
{
    nlohmann::json replaced = nlohmann::json::array();
    for (const auto& [original, used] : r.replacedNames) replaced.push_back({{"original", original}, {"used", used}});
    nlohmann::json problems = nlohmann::json::array();
    for (const auto& e : r.problems) problems.push_back(problemJson(e));
    nlohmann::json cutShort = nlohmann::json::array();
    for (const auto& c : cut)
        cutShort.push_back({{"path", c.path},
                            {"kept_as", c.keptAs.empty() ? nlohmann::json(nullptr) : nlohmann::json(c.keptAs)},
                            {"written", c.written},
                            {"size", c.size}});
    nlohmann::json files = nlohmann::json::array();
    for (const auto& f : r.files) files.push_back(fileJson(f));
    nlohmann::json j{{"source", selectionJson(run.request, run.results->selection)},
                     {"destination", o.destination},
                     {"end", interrupted ? std::string("interrupted") : snakeCase(saveEndName(r.end))},
                     {"files_total", r.filesTotal},
                     {"folders_total", r.foldersTotal},
                     {"files_written", r.filesWritten},
                     {"files_skipped", r.filesSkipped},
                     {"files_declined", r.filesDeclined},
                     {"files_failed", r.filesFailed},
                     {"files_incomplete", r.filesIncomplete},
                     {"files_with_unreadable", r.filesWithUnreadable},
                     {"folders_done", r.foldersDone},
                     {"folders_too_deep", r.foldersTooDeep},
                     {"failure", r.end == SaveEnd::Failed ? problemJson(r.error) : nlohmann::json(nullptr)},
                     {"replaced_names", replaced},
                     {"problems", problems},
                     {"cut_short", cutShort},
                     {"files", files}};
    j["message"] = r.end == SaveEnd::DiskFull ? nlohmann::json(diskFullMessage(r, o.destination)) : nlohmann::json(nullptr);
    if (run.log) j["loaded_log"] = loadedLogJson(run);
    return j;
}

void printReport(const SaveOptions& o, const SaveRunReport& r, const std::vector<CutShort>& cut, bool interrupted)
{
    std::cout << "Saved " << r.filesWritten << " of " << r.filesTotal << " files (" << r.foldersDone << " of "
              << r.foldersTotal << " folders) to " << o.destination << ".\n"
              << savedSummaryText(r.filesWritten, r.foldersDone) << "\n";
    if (r.filesIncomplete) {
        std::cout << r.filesIncomplete << " files are incomplete (written short):\n";
        for (const auto& f : r.files)
            if (f.outcome == FileOutcome::Incomplete)
                std::cout << "  " << escapeForTerminal(f.info.targetPath) << ": " << f.bytesWritten << " of "
                          << f.info.size << " bytes, " << shortReasonText(f.reason) << "\n";
    }
    if (r.filesWithUnreadable) {
        std::cout << r.filesWithUnreadable << " files hold stretches the medium could not give, saved as zeros:\n";
        for (const auto& f : r.files) {
            if (f.outcome != FileOutcome::Written || f.unreadable.empty()) continue;
            std::uint64_t bytes = 0;
            for (const auto& range : f.unreadable) bytes += range.length;
            std::cout << "  " << escapeForTerminal(f.info.targetPath) << ": " << bytes << " bytes in "
                      << f.unreadable.size() << " stretch(es), the first at byte " << f.unreadable.front().offset << "\n";
        }
    }
    if (r.filesSkipped) std::cout << r.filesSkipped << " files stopped part-way (what was written stays).\n";
    if (r.filesDeclined) std::cout << r.filesDeclined << " files not written: a file of the same name was kept.\n";
    if (r.filesFailed) {
        std::cout << r.filesFailed << " files could not be written:\n";
        for (const auto& f : r.files)
            if (f.outcome == FileOutcome::NotCreated || f.outcome == FileOutcome::NoData ||
                f.outcome == FileOutcome::WriteFailed || f.outcome == FileOutcome::DiskFull ||
                f.outcome == FileOutcome::PathTooLong)
                std::cout << "  " << escapeForTerminal(f.info.targetPath) << ": " << fileOutcomeText(f.outcome) << "\n";
    }
    if (r.foldersTooDeep)
        std::cout << r.foldersTooDeep
                  << " folders lie deeper than the system's path limit (4,096 bytes) allows: they were not made, "
                     "and their files are listed above as not written.\n";
    if (r.end == SaveEnd::Failed) std::cerr << "Saving ended early: " << escapeForTerminal(describeError(r.error)) << "\n";
    for (const auto& [original, used] : r.replacedNames)
        std::cout << "Name not usable as it stands, saved as \"" << escapeForTerminal(used)
                  << "\": " << escapeForTerminal(original) << "\n";
    for (const auto& e : r.problems) std::cout << "  " << escapeForTerminal(describeError(e)) << "\n";
    if (interrupted) {
        std::cout << "Saving was interrupted (Ctrl+C); the files after it were not saved.\n";
        for (const auto& c : cut)
            std::cout << "  " << escapeForTerminal(c.path) << " was cut short at " << c.written << " of " << c.size
                      << " bytes" << (c.keptAs.empty() ? "" : "; kept as " + escapeForTerminal(c.keptAs)) << "\n";
    } else if (r.end == SaveEnd::Stopped) {
        std::cout << "Saving was cancelled.\n";
    }
    if (r.end == SaveEnd::DiskFull) std::cerr << diskFullMessage(r, o.destination) << "\n";
}

Failure interruptedBeforeSaving(const char* phase)
{
    return {"interrupted", std::string("Interrupted (Ctrl+C) during the ") + phase + "; nothing was saved.",
            kExitInterrupted};
}

int saveExitCode(const SaveRunReport& r, bool interrupted)
{
    if (interrupted) return kExitInterrupted;
    // The medium went away part-way: what was saved stays, but the source can no longer be read.
    if (r.end == SaveEnd::Failed && r.error.kind == ErrorKind::MediumRemoved) return kExitUnreadable;
    if (r.end == SaveEnd::Finished && r.filesTotal > 0 && !anythingShort(r)) return kExitOk;
    return kExitIncomplete;
}

// Ticks and selects what the options name. Listing folders for --file may be interrupted.
Status chooseItems(const SaveOptions& o, ScanRun& run, session::SaveRequest& request, const std::atomic<bool>* stop)
{
    const auto& tree = run.results->scan.folders.tree;
    if (o.all && !tree.empty()) request.checks.tick(tree, tree.firstTopLevel());
    for (const auto& path : o.folders) {
        auto id = folderNamed(run, path);
        if (!id) return id.error();
        request.checks.tick(tree, *id);
    }
    for (std::uint64_t value : o.folderIds) {
        auto id = folderWithId(run, value);
        if (!id) return id.error();
        request.checks.tick(tree, *id);
    }
    for (const auto& path : o.files) {
        auto rows = fileRowsNamed(run, path, stop);
        if (!rows) return rows.error();
        request.selectedRows.insert(request.selectedRows.end(), rows->begin(), rows->end());
    }
    for (const auto& id : o.fileIds) {
        auto row = fileRowWithId(run, id, stop);
        if (!row) return row.error();
        request.selectedRows.push_back(*row);
    }
    return okStatus();
}

int runSaveCommand(const SaveOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    if (!o.all && o.folders.empty() && o.folderIds.empty() && o.files.empty() && o.fileIds.empty())
        return reportFailure({"nothing_selected",
                              std::string(kNothingSelectedText) + " (give --all, --folder, --folder-id, --file or --file-id)",
                              kExitUsage},
                             g);
    const bool ask = o.onCollision == "ask";
    if (ask && !::isatty(STDIN_FILENO))
        return reportFailure({"invalid_argument",
                              "--on-collision ask needs a terminal to ask on; use overwrite, skip or rename", kExitUsage},
                             g);
    // The destination is judged before a scan, which may take hours; a log names its medium only
    // once it is loaded.
    std::unique_ptr<ScanRun> scanned;
    Failure failure;
    if (o.selection.log.empty()) {
        auto source = resolveSource(o.selection, g);
        if (!source) return reportError(source.error(), g);
        const DestinationVerdict verdict = checkDestination(o.destination, source->path);
        if (verdict != DestinationVerdict::Usable)
            return reportFailure(destinationFailure(verdict, o.destination, source->path), g);
    }
    scanned = startRun(o.selection, g, interrupt.flag(), failure);
    if (!scanned) return reportFailure(failure, g);
    ScanRun& run = *scanned;
    const std::string sourcePath = run.results->selection.devicePath;
    if (!o.selection.log.empty()) {
        const DestinationVerdict verdict = checkDestination(o.destination, sourcePath);
        if (verdict != DestinationVerdict::Usable)
            return reportFailure(destinationFailure(verdict, o.destination, sourcePath), g);
    }
    if (interrupt.interrupted()) return reportFailure(interruptedBeforeSaving("scan"), g);
    const auto& scan = run.results->scan;
    if (scan.end == ScanEnd::Failed || scan.paramsFailed)
        return reportFailure({"no_parameters", paramsFailureMessage(scan.paramsFailure, run.results->selection), kExitIncomplete}, g);

    session::SaveRequest request;
    if (auto chosen = chooseItems(o, run, request, interrupt.flag()); !chosen) {
        if (interrupt.interrupted()) return reportFailure(interruptedBeforeSaving("listing of a folder"), g);
        return reportError(chosen.error(), g);
    }

    SaveRunState state;
    CollisionState collisions;
    TerminalSaveProgress progress(g);
    TerminalCollisionPrompt prompt(progress);
    request.destination = o.destination;
    request.deletedOnly = o.deletedOnly;
    request.includeStreams = o.streams;
    request.includeSystemFiles = o.systemFiles;
    request.state = &state;
    request.collisions = &collisions;
    request.startAnswer = startAnswerFor(o.onCollision);
    request.prompt = ask ? &prompt : nullptr;
    request.observer = &progress;

    // From here on Ctrl+C also ends the save run, whichever step it is in.
    interrupt.alsoStop(state.cancelRequested);
    SaveRunReport report = run.session.save(*run.results, request);
    progress.clearLine();
    run.session.applyChanges(run.results.get(), report.folderChanges);
    if (report.end == SaveEnd::Refused)
        return reportFailure(destinationFailure(report.verdict, o.destination, sourcePath), g);
    if (report.end == SaveEnd::Failed) return reportError(report.error, g);
    const bool interrupted = interrupt.interrupted();
    const std::vector<CutShort> cut = interrupted ? setAsidePartialFiles(report) : std::vector<CutShort>{};
    if (g.json)
        printJson(g, reportJson(o, run, report, cut, interrupted));
    else
        printReport(o, report, cut, interrupted);
    return saveExitCode(report, interrupted);
}

int runOpenCommand(const OpenOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    if (o.file.empty() == o.fileId.empty())
        return reportFailure({"invalid_argument", "open needs one file: give --file or --file-id", kExitUsage}, g);
    Failure failure;
    auto scanned = startRun(o.selection, g, interrupt.flag(), failure);
    if (!scanned) return reportFailure(failure, g);
    ScanRun& run = *scanned;
    if (interrupt.interrupted())
        return reportFailure({"interrupted", "Interrupted (Ctrl+C) during the scan; nothing was opened.", kExitInterrupted}, g);
    SelectedRow chosen;
    if (!o.fileId.empty()) {
        auto row = fileRowWithId(run, o.fileId, interrupt.flag());
        if (!row) return reportError(row.error(), g);
        chosen = *row;
    } else {
        auto rows = fileRowsNamed(run, o.file, interrupt.flag());
        if (!rows) return reportError(rows.error(), g);
        chosen = rows->front();
    }
    const ItemRow& row = chosen.row;

    auto folder = temporaryFolder();
    if (!folder) return reportError(folder.error(), g);
    removeLeftoverCopies(*folder);
    TemporaryCopies copies(*folder);
    SaveRunState state;
    interrupt.alsoStop(state.cancelRequested);
    for (const auto& line : openingLines(row)) note(g, escapeForTerminal(line));
    Opener opener;
    if (!o.noOpen) opener = [](const std::string& path) { return openWithShell(0, path); };
    OpenResult opened = run.session.openFile(*run.results, row, copies, opener, state);
    if (opened.action == OpenAction::Failed && opened.error.kind == ErrorKind::NotFound)
        opened.error.detail = kDoesNotExistText;
    if (interrupt.interrupted())
        return reportFailure({"interrupted", "Interrupted (Ctrl+C) while the copy was written.", kExitInterrupted}, g);
    if (opened.action == OpenAction::Failed) return reportError(opened.error, g);
    if (opened.action != OpenAction::Opened)
        return reportError(Error{ErrorKind::NotFound, 0, o.file.empty() ? o.fileId : o.file, "this row cannot be opened"}, g);
    if (g.json) {
        nlohmann::json out{{"source", selectionJson(run.request, run.results->selection)},
                           {"file", {{"name", row.name}, {"size", row.size}, {"deleted", row.deleted}}},
                           {"copy_path", opened.copyPath},
                           {"opened", !o.noOpen}};
        if (run.log) out["loaded_log"] = loadedLogJson(run);
        printJson(g, out);
    } else
        std::cout << opened.copyPath << "\n";
    // The copy lives as long as it is needed: on a terminal until the user says so; otherwise
    // until a later run finds that no program holds it open any more.
    if (!o.noOpen && ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) {
        std::cerr << "Press Enter when you have finished with the file; its temporary copy is then removed.\n";
        std::string line;
        std::getline(std::cin, line);
        removeTemporaryCopies(copies);
    }
    return kExitOk;
}

const CommandRegistration kRegistration{"30-save", [](CLI::App& app, GlobalOptions& g) {
    auto saveOptions = std::make_shared<SaveOptions>();
    auto* save = app.add_subcommand("save", "Basic Search (or the results of a recovery log, --log), then save recovered folders and files (deleted ones "
                                            "included) under a destination folder, keeping their folder structure. "
                                            "Ctrl+C stops the whole command; a file cut short is kept as NAME.part.");
    addSelectionOptions(*save, saveOptions->selection, true, true);
    save->add_option("-d,--dest", saveOptions->destination,
                     "Destination folder (must exist, and must not lie on the medium being recovered)")
        ->required();
    save->add_option("-f,--folder", saveOptions->folders,
                     "Save this recovered folder with everything below it, e.g. Documents/Work (repeatable)");
    save->add_option("--folder-id", saveOptions->folderIds, "Save the folder of this id, as scan --json gives it (repeatable)");
    save->add_option("--file", saveOptions->files,
                     "Save this recovered file, e.g. Documents/Work/todo.txt or README.TXT (repeatable)");
    save->add_option("--file-id", saveOptions->fileIds, "Save the file of this id, e.g. 12:3, as list --json gives it (repeatable)");
    save->add_flag("-a,--all", saveOptions->all, "Save everything under Root");
    save->add_flag("--deleted-only", saveOptions->deletedOnly, "Save only files marked deleted");
    save->add_flag("--streams", saveOptions->streams,
                   "NTFS: also save the named data streams of the files in the chosen folders, as name:stream "
                   "beside each file");
    save->add_flag("--system-files", saveOptions->systemFiles,
                   "NTFS: also save the volume's own files ($MFT, $LogFile, ... and $Extend) in the chosen folders");
    save->add_option("--on-collision", saveOptions->onCollision,
                     "When a file of the same name exists: overwrite, skip, rename (name_dd_0.ext; default) or "
                     "ask (needs a terminal)")
        ->check(CLI::IsMember({"overwrite", "skip", "rename", "ask"}));
    save->callback([saveOptions, &g] {
        g.command = "save";
        g.exitCode = runSaveCommand(*saveOptions, g);
    });

    auto openOptions = std::make_shared<OpenOptions>();
    auto* open = app.add_subcommand("open", "Basic Search (or the results of a recovery log, --log), then write one recovered file to a temporary copy "
                                            "(MRC0.<ext> in a private folder under $TMPDIR or /tmp), print its "
                                            "path and open it with xdg-open");
    addSelectionOptions(*open, openOptions->selection, true, true);
    open->add_option("--file", openOptions->file, "The recovered file, e.g. Pictures/Camera/IMG_0001.JPG");
    open->add_option("--file-id", openOptions->fileId, "The file of this id, e.g. 12:3, as list --json gives it");
    open->add_flag("--no-open", openOptions->noOpen, "Only write the copy and print its path");
    open->callback([openOptions, &g] {
        g.command = "open";
        g.exitCode = runOpenCommand(*openOptions, g);
    });
}};

}  // namespace

}  // namespace kfr::cli
