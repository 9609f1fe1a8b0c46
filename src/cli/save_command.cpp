// kestravon-cli save / open: Basic Search, then write chosen folders and files to a destination
// folder, or write one file to a temporary copy and hand it to the desktop's opener.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/scan_support.h"
#include "cli/selection.h"
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
using session::findFolder;

struct SaveOptions {
    SelectionOptions selection;
    std::string destination;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    bool all = false;
    bool deletedOnly = false;
    bool streams = false;
    bool systemFiles = false;
    std::string onCollision = "rename";
};

struct OpenOptions {
    SelectionOptions selection;
    std::string file;
    bool noOpen = false;
};

// The progress window on one terminal line: counts while counting, then the current file.
class TerminalSaveProgress final : public SaveObserver {
public:
    explicit TerminalSaveProgress(bool enabled) : m_enabled(enabled && ::isatty(STDERR_FILENO)) {}
    ~TerminalSaveProgress() override { clearLine(); }

    void clearLine()
    {
        if (!m_lineShown) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_lineShown = false;
    }

    void onStage(WorkStage stage) override
    {
        if (!m_enabled) return;
        clearLine();
        std::fprintf(stderr, "%s\n", stageText(stage).c_str());
    }
    void onCounting(std::uint64_t files, std::uint64_t folders) override
    {
        show(std::string(kTotalFilesLabel) + " " + std::to_string(files) + "   " + kTotalFoldersLabel + " " +
             std::to_string(folders));
    }
    void onSelectedTotals(std::uint64_t files, std::uint64_t folders) override
    {
        // The closing summary is printed with the report.
        if (!m_enabled) return;
        clearLine();
        std::fprintf(stderr, "%s\n", selectedSummaryText(files, folders).c_str());
    }
    void onFileStarted(const SaveFileInfo& file) override
    {
        m_file = file;
    }
    void onFileBytes(std::uint64_t written, std::uint64_t size) override
    {
        show(std::string(kFilesRecoveredLabel) + " " + countText(m_file.fileNumber, m_file.totalFiles) + "   " +
             m_file.displayName + "   " + byteCountText(written, size));
    }
    void onDiskFull() override
    {
        clearLine();
        std::fprintf(stderr, "%s\n", kDiskFullText);
    }

private:
    void show(const std::string& line)
    {
        if (!m_enabled) return;
        std::fprintf(stderr, "\r\033[K  %s", line.c_str());
        std::fflush(stderr);
        m_lineShown = true;
    }

    bool m_enabled;
    bool m_lineShown = false;
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
                         "A file of this name already exists.", kReplaceFileNameLabel, collisionPath.c_str(),
                         kReplaceNewFileNameLabel, suggestedPath.c_str());
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

std::string lowerText(std::string text)
{
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

CollisionAnswer startAnswerFor(const std::string& mode)
{
    if (mode == "overwrite") return CollisionAnswer::OverwriteAll;
    if (mode == "skip") return CollisionAnswer::SkipAll;
    if (mode == "rename") return CollisionAnswer::RenameAll;
    return CollisionAnswer::Overwrite;  // ask
}

bool isFile(const ItemRow& row)
{
    return row.kind == RowKind::FatFile || row.kind == RowKind::NtfsFile;
}

// The file rows named by a path "Folder/Sub/name.ext" ("name.ext" for a file of Root), with the
// folder that lists them. Every row of that name counts: a live file and a deleted one may share it.
Result<std::vector<SelectedRow>> findFileRows(ScanRun& run, const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto& results = run.results->scan.folders;
    const ItemId folder = findFolder(results, folderPath.empty() ? "/" : folderPath);
    if (folder == kNoItem) return Error{ErrorKind::NotFound, 0, path, "no recovered folder has this path"};
    auto listing = run.session.listFolder(*run.results, folder);
    if (!listing) return listing.error();
    run.session.applyChanges(run.results.get(), listing->changes);
    std::vector<SelectedRow> rows;
    for (const auto& row : listing->rows)
        if (isFile(row) && row.name == name) rows.push_back({folder, row});
    // FAT keeps 8.3 names in upper case; "todo.txt" finds "TODO.TXT" when nothing matches exactly.
    if (rows.empty())
        for (const auto& row : listing->rows)
            if (isFile(row) && lowerText(row.name) == lowerText(name)) rows.push_back({folder, row});
    if (rows.empty()) return Error{ErrorKind::NotFound, 0, path, "the folder lists no file of this name"};
    return rows;
}

nlohmann::json fileJson(const FileResult& f)
{
    nlohmann::json unreadable = nlohmann::json::array();
    for (const auto& range : f.unreadable) unreadable.push_back({{"offset", range.offset}, {"length", range.length}});
    nlohmann::json j{{"path", f.info.targetPath},
                     {"size", f.info.size},
                     {"written", f.bytesWritten},
                     {"outcome", fileOutcomeName(f.outcome)},
                     {"unreadableRanges", unreadable},
                     {"firstSector", f.firstSector}};
    if (f.outcome == FileOutcome::Incomplete) j["reason"] = shortReasonName(f.reason);
    return j;
}

// Whether anything the user asked for did not come out whole.
bool anythingShort(const SaveRunReport& r)
{
    return r.filesIncomplete || r.filesWithUnreadable || r.filesFailed || r.filesSkipped;
}

nlohmann::json reportJson(const SaveOptions& o, const SaveRunReport& r)
{
    nlohmann::json replaced = nlohmann::json::array();
    for (const auto& [original, used] : r.replacedNames) replaced.push_back({{"original", original}, {"used", used}});
    nlohmann::json problems = nlohmann::json::array();
    for (const auto& e : r.problems)
        problems.push_back({{"kind", errorKindName(e.kind)}, {"path", e.path}, {"message", describeError(e)}});
    nlohmann::json j{{"source", o.selection.source},
                     {"destination", o.destination},
                     {"end", saveEndName(r.end)},
                     {"filesTotal", r.filesTotal},
                     {"foldersTotal", r.foldersTotal},
                     {"filesWritten", r.filesWritten},
                     {"filesSkipped", r.filesSkipped},
                     {"filesDeclined", r.filesDeclined},
                     {"filesFailed", r.filesFailed},
                     {"filesIncomplete", r.filesIncomplete},
                     {"filesWithUnreadable", r.filesWithUnreadable},
                     {"foldersDone", r.foldersDone},
                     {"summary", savedSummaryText(r.filesWritten, r.foldersDone)},
                     {"replacedNames", replaced},
                     {"problems", problems}};
    nlohmann::json files = nlohmann::json::array();
    for (const auto& f : r.files) files.push_back(fileJson(f));
    j["files"] = std::move(files);
    if (r.end == SaveEnd::DiskFull) j["message"] = kDiskFullText;
    return j;
}

void printReport(const SaveOptions& o, const SaveRunReport& r)
{
    std::cout << "Saved " << r.filesWritten << " of " << r.filesTotal << " files (" << r.foldersDone << " of "
              << r.foldersTotal << " folders) to " << o.destination << ".\n"
              << savedSummaryText(r.filesWritten, r.foldersDone) << "\n";
    if (r.filesIncomplete) {
        std::cout << r.filesIncomplete << " files are incomplete (written short):\n";
        for (const auto& f : r.files)
            if (f.outcome == FileOutcome::Incomplete)
                std::cout << "  " << f.info.targetPath << ": " << f.bytesWritten << " of " << f.info.size << " bytes, "
                          << shortReasonText(f.reason) << "\n";
    }
    if (r.filesWithUnreadable) {
        std::cout << r.filesWithUnreadable << " files hold stretches the medium could not give, saved as zeros:\n";
        for (const auto& f : r.files) {
            if (f.outcome != FileOutcome::Written || f.unreadable.empty()) continue;
            std::uint64_t bytes = 0;
            for (const auto& range : f.unreadable) bytes += range.length;
            std::cout << "  " << f.info.targetPath << ": " << bytes << " bytes in " << f.unreadable.size()
                      << " stretch(es), the first at byte " << f.unreadable.front().offset << "\n";
        }
    }
    if (r.filesSkipped) std::cout << r.filesSkipped << " files stopped part-way (what was written stays).\n";
    if (r.filesDeclined) std::cout << r.filesDeclined << " files not written: a file of the same name was kept.\n";
    if (r.filesFailed) {
        std::cout << r.filesFailed << " files could not be written:\n";
        for (const auto& f : r.files)
            if (f.outcome == FileOutcome::NotCreated || f.outcome == FileOutcome::NoData ||
                f.outcome == FileOutcome::WriteFailed)
                std::cout << "  " << f.info.targetPath << ": " << fileOutcomeText(f.outcome) << "\n";
    }
    for (const auto& [original, used] : r.replacedNames)
        std::cout << "Name not usable as it stands, saved as \"" << used << "\": " << nlohmann::json(original).dump()
                  << "\n";
    for (const auto& e : r.problems) std::cout << "  " << describeError(e) << "\n";
    if (r.end == SaveEnd::Stopped) std::cout << "Saving was stopped.\n";
}

int runSaveCommand(const SaveOptions& o, const GlobalOptions& g)
{
    if (!o.all && o.folders.empty() && o.files.empty())
        return reportError(Error{ErrorKind::InvalidArgument, 0, {},
                                 std::string(kNothingSelectedText) + " (give --all, --folder or --file)"},
                           g.json);
    const bool ask = o.onCollision == "ask";
    if (ask && !::isatty(STDIN_FILENO))
        return reportError(Error{ErrorKind::InvalidArgument, 0, {},
                                 "--on-collision ask needs a terminal to ask on; use overwrite, skip or rename"},
                           g.json);
    const DestinationVerdict verdict = checkDestination(o.destination, o.selection.source);
    if (verdict != DestinationVerdict::Usable)
        return reportError(Error{ErrorKind::InvalidArgument, 0, o.destination, destinationMessage(verdict)}, g.json);

    auto scanned = runScan(o.selection, g);
    if (!scanned) return reportError(scanned.error(), g.json);
    ScanRun& run = **scanned;
    const auto& scan = run.results->scan;
    const auto& results = scan.folders;
    if (scan.end == ScanEnd::Failed || scan.paramsFailed)
        return reportError(Error{ErrorKind::Implausible, 0, o.selection.source, paramsFailureText(scan.paramsFailure)},
                           g.json);

    session::SaveRequest request;
    if (o.all && !results.tree.empty()) request.checks.tick(results.tree, results.tree.firstTopLevel());
    for (const auto& path : o.folders) {
        const ItemId id = findFolder(results, path);
        if (id == kNoItem) return reportError(Error{ErrorKind::NotFound, 0, path, "no recovered folder has this path"}, g.json);
        request.checks.tick(results.tree, id);
    }
    for (const auto& path : o.files) {
        auto rows = findFileRows(run, path);
        if (!rows) return reportError(rows.error(), g.json);
        request.selectedRows.insert(request.selectedRows.end(), rows->begin(), rows->end());
    }

    SaveRunState state;
    CollisionState collisions;
    TerminalSaveProgress progress(!g.noProgress && !g.json);
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

    SaveRunReport report;
    {
        InterruptToStop interrupt(state.cancelRequested);
        report = run.session.save(*run.results, request);
    }
    progress.clearLine();
    run.session.applyChanges(run.results.get(), report.folderChanges);
    if (report.end == SaveEnd::Refused)
        return reportError(Error{ErrorKind::InvalidArgument, 0, o.destination, destinationMessage(report.verdict)},
                           g.json);
    if (report.end == SaveEnd::Failed) return reportError(report.error, g.json);
    if (g.json) {
        printJson(reportJson(o, report));
    } else {
        printReport(o, report);
        if (report.end == SaveEnd::DiskFull) std::cerr << kDiskFullText << "\n";
    }
    return report.end == SaveEnd::Finished && !anythingShort(report) ? 0 : 1;
}

int runOpenCommand(const OpenOptions& o, const GlobalOptions& g)
{
    auto scanned = runScan(o.selection, g);
    if (!scanned) return reportError(scanned.error(), g.json);
    ScanRun& run = **scanned;
    auto rows = findFileRows(run, o.file);
    if (!rows) return reportError(rows.error(), g.json);
    const ItemRow& row = rows->front().row;

    auto folder = temporaryFolder();
    if (!folder) return reportError(folder.error(), g.json);
    removeLeftoverCopies(*folder);
    TemporaryCopies copies(*folder);
    SaveRunState state;
    if (!g.json)
        for (const auto& line : openingLines(row)) std::cerr << line << "\n";
    Opener opener;
    if (!o.noOpen) opener = [](const std::string& path) { return openWithShell(0, path); };
    OpenResult opened = run.session.openFile(*run.results, row, copies, opener, state);
    if (opened.action == OpenAction::Failed && opened.error.kind == ErrorKind::NotFound)
        opened.error.detail = kDoesNotExistText;
    if (opened.action == OpenAction::Failed) return reportError(opened.error, g.json);
    if (opened.action != OpenAction::Opened)
        return reportError(Error{ErrorKind::NotFound, 0, o.file, "this row cannot be opened"}, g.json);
    if (g.json)
        printJson({{"source", o.selection.source}, {"file", o.file}, {"copy", opened.copyPath}, {"opened", !o.noOpen}});
    else
        std::cout << opened.copyPath << "\n";
    // The copy lives as long as it is needed: on a terminal until the user says so; otherwise
    // until a later run finds that no program holds it open any more.
    if (!o.noOpen && ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO)) {
        std::cerr << "Press Enter when you have finished with the file; its temporary copy is then removed.\n";
        std::string line;
        std::getline(std::cin, line);
        removeTemporaryCopies(copies);
    }
    return 0;
}

const CommandRegistration kRegistration{"30-save", [](CLI::App& app, GlobalOptions& g) {
    auto saveOptions = std::make_shared<SaveOptions>();
    auto* save = app.add_subcommand("save", "Basic Search, then save recovered folders and files (deleted ones "
                                            "included) under a destination folder, keeping their folder structure. "
                                            "Ctrl+C stops after the current chunk.");
    addSelectionOptions(*save, saveOptions->selection);
    save->add_option("-d,--dest", saveOptions->destination,
                     "Destination folder (must exist, and must not lie on the medium being recovered)")
        ->required();
    save->add_option("-f,--folder", saveOptions->folders,
                     "Save this recovered folder with everything below it, e.g. Documents/Work (repeatable)");
    save->add_option("--file", saveOptions->files,
                     "Save this recovered file, e.g. Documents/Work/todo.txt or README.TXT (repeatable)");
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
    save->callback([saveOptions, &g] { g.exitCode = runSaveCommand(*saveOptions, g); });

    auto openOptions = std::make_shared<OpenOptions>();
    auto* open = app.add_subcommand("open", "Basic Search, then write one recovered file to a temporary copy "
                                            "(MRC0.<ext> in a private folder under $TMPDIR or /tmp), print its "
                                            "path and open it with xdg-open");
    addSelectionOptions(*open, openOptions->selection);
    open->add_option("--file", openOptions->file, "The recovered file, e.g. Pictures/Camera/IMG_0001.JPG")->required();
    open->add_flag("--no-open", openOptions->noOpen, "Only write the copy and print its path");
    open->callback([openOptions, &g] { g.exitCode = runOpenCommand(*openOptions, g); });
}};

}  // namespace

}  // namespace kfr::cli
