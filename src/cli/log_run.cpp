// Recovery logs in the commands: list, save and open work from a log (--log) instead of scanning
// again, and scan and deep save one (--save-log). The session does the reading and the media
// checks; here the two questions of a moved medium are asked on the terminal and each way a log
// can fail becomes the system's message and an exit code.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <unistd.h>

#include "cli/scan_support.h"
#include "export/destination.h"
#include "storage/byte_size.h"
#include "texts/log_texts.h"

namespace kfr::cli {

namespace {

using recoverylog::LoadVerdict;
using recoverylog::MediaVerdict;

// The moved-medium questions, asked on the terminal. Without one (a script, a pipe) the answer
// is No, as a closed dialog's would be; the failure then says how to name the medium instead.
class TerminalMediaPrompt final : public recoverylog::MediaPrompt {
public:
    bool continueWithDisk(std::uint32_t saved, std::uint32_t found) override
    {
        return ask(texts::diskMovedQuestion(saved, found));
    }
    bool continueWithVolume(const std::string& saved, const std::string& found) override
    {
        return ask(texts::volumeMovedQuestion(saved, found));
    }
    const std::string& question() const { return m_question; }
    bool asked() const { return m_asked; }

private:
    bool ask(const std::string& question)
    {
        m_question = question;
        if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) return false;
        m_asked = true;
        std::fprintf(stderr, "%s [y/N] ", question.c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) return false;
        line = storage::trimText(line);
        return line == "y" || line == "Y" || line == "yes" || line == "Yes";
    }

    std::string m_question;
    bool m_asked = false;
};

const char* modeName(session::ScanMode mode)
{
    return mode == session::ScanMode::Deep ? "deep" : "basic";
}

const char* mediumName(MediaVerdict verdict)
{
    switch (verdict) {
    case MediaVerdict::Same: return "same";
    case MediaVerdict::Moved: return "moved";
    case MediaVerdict::Unchecked: return "unchecked";
    case MediaVerdict::Declined:
    case MediaVerdict::Missing: break;
    }
    return "missing";
}

// Why a load gave no results, as the command reports it.
Failure loadFailure(const session::LogLoadOutcome& out, const TerminalMediaPrompt& prompt, const std::string& logPath)
{
    switch (out.verdict) {
    case LoadVerdict::CannotOpen: return failureOf(out.error);
    case LoadVerdict::NotALog: return {"invalid_log", texts::loadOutcomeMessage(out), kExitUsage};
    case LoadVerdict::Corrupt:
        return {"corrupt_log", logPath + ": " + texts::loadOutcomeMessage(out), kExitUsage};
    case LoadVerdict::MediaMissing: {
        // A damaged log may have lost where its image lies (that is kept after the tree): the
        // damage is what to report.
        if (out.fault) return {"corrupt_log", logPath + ": " + texts::readFaultText(*out.fault) + texts::kCorruptLogText, kExitUsage};
        std::string text = texts::loadOutcomeMessage(out);
        if (!out.error.path.empty()) text += "\n(" + describeError(out.error) + ")";
        else text += "\n(If the medium is attached under another name, or imaged since, give it with --source.)";
        return {"media_missing", text, kExitUnreadable};
    }
    case LoadVerdict::Declined:
        return {"media_moved",
                prompt.question() + (prompt.asked() ? "\nAnswered No." : "\nNo terminal to answer on: not continued.") +
                    " To read the medium from there, give it with --source.",
                kExitUsage};
    case LoadVerdict::OtherMode:
    case LoadVerdict::Loaded: break;
    }
    return {"invalid_log", texts::kNotALogText, kExitUsage};
}

}  // namespace

std::unique_ptr<ScanRun> loadLogRun(const SelectionOptions& sel, const GlobalOptions& g, Failure& failure)
{
    if (sel.partition || sel.first || sel.last || (sel.fileSystem != "auto" && sel.fileSystem != "all")) {
        failure = {"invalid_argument",
                   "--log takes the medium, the range and the file system from the log; give --partition, --first, "
                   "--last and --fs only when scanning",
                   kExitUsage};
        return nullptr;
    }
    session::LogLoadRequest request;
    request.path = sel.log;
    if (sel.deep) request.screenMode = session::ScanMode::Deep;
    if (!sel.source.empty()) {
        // A folder a volume is mounted at stands for its device here too.
        SelectionOptions named = sel;
        named.deep = false;
        named.fileSystem = "auto";
        auto source = sourceRequest(named, g);
        if (!source) {
            failure = failureOf(source.error());
            return nullptr;
        }
        request.namedSource = source->path;
    }
    TerminalMediaPrompt prompt;
    request.prompt = &prompt;
    auto run = std::make_unique<ScanRun>();
    session::LogLoadOutcome out = run->session.loadLog(request);
    if (out.verdict == LoadVerdict::OtherMode && out.logMode) {
        // The log decides the mode, as a screen hands a log of the other mode to that mode's screen.
        note(g, std::string("The log was saved by ") + (*out.logMode == session::ScanMode::Deep ? "Deep" : "Basic") +
                    " Search; its results are used as they are.");
        request.screenMode.reset();
        out = run->session.loadLog(request);
    }
    if (out.verdict != LoadVerdict::Loaded || !out.results) {
        failure = loadFailure(out, prompt, sel.log);
        return nullptr;
    }
    if (out.medium.verdict == MediaVerdict::Moved)
        note(g, "Reading the medium from " + out.medium.devicePath + ".");
    note(g, texts::kLogLoadedText);
    run->request.path = out.results->selection.devicePath;
    run->request.firstSector = out.results->selection.firstSector;
    run->request.lastSector = out.results->selection.lastSector;
    run->log = LoadedLog{sel.log, out.medium.verdict};
    run->session.adoptResults(std::move(out.results));
    run->results = run->session.results();
    return run;
}

std::unique_ptr<ScanRun> startRun(const SelectionOptions& sel, const GlobalOptions& g, const std::atomic<bool>* stop,
                                  Failure& failure)
{
    if (!sel.log.empty()) return loadLogRun(sel, g, failure);
    if (sel.source.empty()) {
        failure = {"usage", "give a source (a disk, partition, volume device or image file) or --log FILE", kExitUsage};
        return nullptr;
    }
    auto request = resolveSource(sel, g);
    if (!request) {
        failure = failureOf(request.error());
        return nullptr;
    }
    auto run = runScan(*request, g, stop, deepFileSystem(sel));
    if (!run) {
        failure = failureOf(run.error());
        return nullptr;
    }
    return std::move(run).value();
}

nlohmann::json loadedLogJson(const ScanRun& run)
{
    return {{"path", run.log->path},
            {"mode", modeName(run.results->mode)},
            {"medium", mediumName(run.log->medium)}};
}

std::optional<Failure> checkLogDestination(const std::string& logPath, const std::string& sourcePath)
{
    std::string folder = std::filesystem::path(logPath).parent_path().string();
    if (folder.empty()) folder = ".";
    switch (exporting::checkDestination(folder, sourcePath)) {
    case exporting::DestinationVerdict::Usable: return std::nullopt;
    case exporting::DestinationVerdict::NotUsable:
        return Failure{"destination_invalid",
                       logPath + ": the recovery log cannot be written there (" + folder +
                           " is missing, not a folder, or not writable)",
                       kExitUsage};
    case exporting::DestinationVerdict::OnSourceVolume:
        return Failure{"destination_invalid",
                       logPath + ": the recovery log would be written onto " + sourcePath +
                           ", the medium being recovered; choose a folder on another drive",
                       kExitUsage};
    }
    return std::nullopt;
}

nlohmann::json saveLogOfRun(ScanRun& run, const std::string& logPath, const GlobalOptions& g, int& exitCode)
{
    session::LogSaveRequest request;
    request.path = logPath;
    const session::LogSaveOutcome saved = run.session.saveLog(*run.results, request);
    if (saved.end == session::LogSaveEnd::Saved) {
        note(g, std::string(texts::kLogSavedText) + " (" + logPath + ")");
        return {{"path", logPath}, {"error", nullptr}};
    }
    // Whatever kept the log from being written, the scan itself went well: exit 1, not 3.
    Failure failure = failureOf(saved.error);
    if (failure.code != "disk_full") failure = {"write_failed", describeError(saved.error), kExitIncomplete};
    if (saved.end == session::LogSaveEnd::OnSourceMedium)
        if (auto refused = checkLogDestination(logPath, run.results->selection.devicePath)) failure = *refused;
    if (saved.end == session::LogSaveEnd::WriteFailed) failure.message += " The partial log stays on disk.";
    if (!g.json) std::cerr << "kestravon-cli: " << failure.message << "\n";
    exitCode = std::max(exitCode, failure.exitCode);
    return {{"path", logPath}, {"error", {{"code", failure.code}, {"message", failure.message}}}};
}

}  // namespace kfr::cli
