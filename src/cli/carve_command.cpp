// kestravon-cli carve: Signature Search over a sector range of a disk or image, writing the
// carved files under the destination and printing a per-type summary.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "carving/carve_scan.h"
#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "session/carve_session.h"
#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

using namespace kfr::carving;

struct CarveOptions {
    std::string source;
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> last;
    std::string destination;
    std::string types;
    bool thorough = false;
    std::string signatureFolder;
    std::string mediaError = "retry";
    bool listTypes = false;
};

// Answers the media prompt the same way every time, as chosen on the command line.
class FixedMediaAnswer final : public MediaPrompt {
public:
    explicit FixedMediaAnswer(const std::string& choice)
    {
        if (choice == "cancel") m_answer = {MediaAction::CancelSearching, false};
        else if (choice == "skip") m_answer = {MediaAction::Closed, false};
        else m_answer = {MediaAction::RetryAndContinue, true};
    }
    MediaAnswer askDeviceUnavailable(const Error&) override { return m_answer; }

private:
    MediaAnswer m_answer;
};

// The terminal progress line, plus a count of the carved files for the stage lines.
class CarveProgress final : public CarveObserver {
public:
    explicit CarveProgress(bool enabled) : m_terminal(enabled) {}
    void onStage(WorkStage stage) override { m_terminal.onStage(stage); }
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override
    {
        m_terminal.onProgress(position, low, high);
    }
    void onProblem(const Error& problem) override { m_terminal.onProblem(problem); }
    void clearLine() { m_terminal.clearLine(); }

private:
    TerminalProgress m_terminal;
};

Error usageError(const std::string& text)
{
    return Error{ErrorKind::InvalidArgument, 0, {}, text};
}

// "JPG,png, .gif" ticks exactly those types; an unknown type is an error that lists the known.
Status applyTypeChoice(ExtensionList& list, const std::string& choice)
{
    if (choice.empty()) return okStatus();
    list.checkAll(false);
    std::size_t start = 0;
    while (start <= choice.size()) {
        const std::size_t comma = std::min(choice.find(',', start), choice.size());
        const std::string word = lineValue(choice.substr(start, comma - start));
        start = comma + 1;
        if (word.empty()) continue;
        const std::string key = extensionKey(word);
        ExtensionRow* row = key.empty() ? nullptr : list.find(key);
        if (!row) {
            std::string known;
            for (const auto& r : list.rows) known += (known.empty() ? "" : ",") + r.key;
            return usageError("Unknown file type \"" + word + "\". Known types: " + known);
        }
        row->ticked = true;
    }
    return okStatus();
}

const char* endingText(CarveEnding ending)
{
    switch (ending) {
    case CarveEnding::Finished: return "finished";
    case CarveEnding::Stopped: return "stopped";
    case CarveEnding::Failed: return "failed";
    }
    return "finished";
}

void listTypes(const ExtensionList& list, bool json)
{
    if (json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const auto& r : list.rows) rows.push_back({{"type", r.key}, {"description", r.description}});
        printJson({{"types", rows}});
        return;
    }
    for (const auto& r : list.rows) std::printf("%-8s %s\n", r.key.c_str(), r.description.c_str());
}

int runCarve(const CarveOptions& o, const GlobalOptions& g)
{
    auto extensions = session::loadExtensionList(o.signatureFolder);
    if (!extensions) {
        const Error& e = extensions.error();
        if (g.json || e.kind != ErrorKind::OpenFailed) return reportError(e, g.json);
        std::cerr << "kestravon-cli: " << e.detail << " (" << e.path << ")\n";
        return 1;
    }
    if (o.listTypes) {
        listTypes(*extensions, g.json);
        return 0;
    }
    if (o.source.empty() || o.destination.empty())
        return reportError(usageError("carve needs --source and --dest (or --list-types)"), g.json);
    if (auto chosen = applyTypeChoice(*extensions, o.types); !chosen) return reportError(chosen.error(), g.json);

    session::CarveSetup setup;
    setup.sourcePath = o.source;
    setup.firstSector = o.first;
    setup.lastSector = o.last;
    setup.destination = o.destination;
    setup.signatureFolder = o.signatureFolder;
    setup.thorough = o.thorough;
    session::CarvePreparation prepared = session::prepareCarve(setup, std::move(extensions).value());
    if (prepared.check != SearchCheck::Ready) {
        const Error refusal{ErrorKind::InvalidArgument, 0, {}, texts::searchCheckMessage(prepared.check)};
        if (g.json) return reportError(refusal, true);
        std::cerr << "kestravon-cli: " << refusal.detail << "\n";
        return 1;
    }
    if (prepared.error) return reportError(*prepared.error, g.json);
    auto& ctx = prepared.context;
    if (!g.json) {
        std::cout << "Signature Search of " << o.source << ", sectors " << ctx->startSector << " to " << ctx->endSector
                  << (ctx->thorough ? ", General and Thorough passes" : ", General pass") << "\n";
    }

    FixedMediaAnswer prompt(o.mediaError);
    CarveProgress progress(!g.noProgress && !g.json);
    std::atomic<bool> stop{false};
    CarveOutcome outcome;
    {
        InterruptToStop interrupt(stop);
        outcome = session::runCarve(*ctx, &stop, &progress, &prompt);
    }
    progress.clearLine();

    const auto& results = ctx->results;
    const std::string outputFolder =
        (ctx->destination.back() == '/' ? ctx->destination : ctx->destination + "/") + kOutputRootFolder + "/" +
        kSignatureSearchFolder;
    if (g.json) {
        nlohmann::json types = nlohmann::json::array();
        for (const auto& row : results.fileTypes.rows) types.push_back({{"type", row.fileTypes}, {"found", row.filesFound}});
        nlohmann::json out{{"source", o.source},
                           {"firstSector", ctx->startSector},
                           {"lastSector", ctx->endSector},
                           {"outputFolder", outputFolder},
                           {"ending", endingText(outcome.ending)},
                           {"thoroughRan", outcome.thoroughRan},
                           {"generalFound", results.generalTotal},
                           {"thoroughFound", results.thoroughTotal},
                           {"unreadableBlocks", outcome.unreadableBlocks},
                           {"types", types}};
        if (outcome.error)
            out["error"] = {{"kind", errorKindName(outcome.error->kind)}, {"message", describeError(*outcome.error)}};
        printJson(out);
    } else {
        std::cout << "Search " << endingText(outcome.ending) << ": " << results.generalTotal + results.thoroughTotal
                  << " files carved (General " << results.generalTotal << ", Thorough " << results.thoroughTotal << ")";
        if (outcome.unreadableBlocks) std::cout << ", " << outcome.unreadableBlocks << " unreadable blocks kept as zeros";
        std::cout << ".\n";
        std::printf("  %-8s %s\n", "Type", "Files");
        for (const auto& row : results.fileTypes.rows)
            if (row.filesFound) std::printf("  %-8s %llu\n", row.fileTypes.c_str(), static_cast<unsigned long long>(row.filesFound));
        if (results.generalTotal + results.thoroughTotal) std::cout << texts::closingText() << "\n";
        std::cout << "Output folder: " << outputFolder << "\n";
        if (outcome.error) std::cerr << "kestravon-cli: " << describeError(*outcome.error) << "\n";
    }
    switch (outcome.ending) {
    case CarveEnding::Finished: return 0;
    case CarveEnding::Stopped: return 130;
    case CarveEnding::Failed: return 1;
    }
    return 0;
}

kfr::cli::CommandRegistration reg{"60-carve", [](CLI::App& app, GlobalOptions& g) {
    auto opts = std::make_shared<CarveOptions>();
    auto* sub = app.add_subcommand(
        "carve", "Signature Search: carve files out of raw sectors by their headers, ignoring the file system");
    sub->add_option("--source", opts->source, "Disk, partition or image file to read (read-only)");
    sub->add_option("--first", opts->first, "First sector of the range (default 0)");
    sub->add_option("--last", opts->last, "Last sector of the range, inclusive (default: the last sector of the source)");
    sub->add_option("--dest", opts->destination,
                    "Existing folder that receives \"Kestravon FAT Recovery/Signature Search/General\" (and \"Omitted\")");
    sub->add_option("--types", opts->types, "Comma-separated types to carve, e.g. JPG,PNG (default: every type)");
    sub->add_flag("--thorough", opts->thorough,
                  "Also run the Thorough pass with the looser signatures; its files go to \"Omitted\"");
    sub->add_option("--signatures", opts->signatureFolder,
                    "Folder holding MFTSig.dll and MFTSigAdv.dll (default: the program's own folder)");
    sub->add_option("--media-error", opts->mediaError,
                    "When the medium cannot be opened or a block cannot be read: retry (read once more, then "
                    "carry on with the block as zeros; the default), skip (carry on at once) or cancel (stop the search, "
                    "keeping what was carved)")
        ->check(CLI::IsMember({"retry", "skip", "cancel"}));
    sub->add_flag("--list-types", opts->listTypes, "List the types the signature files know, then exit");
    sub->footer("Exit status: 0 finished, 1 error, 130 stopped by Ctrl+C or by --media-error cancel (what was carved is kept).");
    sub->callback([&g, opts] { g.exitCode = runCarve(*opts, g); });
}};

}  // namespace

}  // namespace kfr::cli
