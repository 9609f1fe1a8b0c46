// kestravon-cli carve: Signature Search over a disk, a partition or a sector range, writing the
// carved files under the destination and reporting each of them and a per-type summary.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "carving/carve_report.h"
#include "carving/carve_scan.h"
#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/scan_support.h"
#include "cli/selection.h"
#include "cli/terminal_text.h"
#include "session/carve_session.h"
#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

using namespace kfr::carving;

struct CarveOptions {
    SelectionOptions selection;
    std::string destination;
    std::string types;
    bool thorough = true;
    bool exactEnd = false;
    bool anyOffset = false;
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

using CarveProgress = TerminalProgressFor<CarveObserver>;

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
            return Error{ErrorKind::InvalidArgument, 0, {}, "Unknown file type \"" + word + "\". Known types: " + known};
        }
        row->ticked = true;
    }
    return okStatus();
}

const char* endingName(CarveEnding ending, bool interrupted)
{
    if (interrupted) return "interrupted";
    switch (ending) {
    case CarveEnding::Finished: return "finished";
    case CarveEnding::Stopped: return "stopped";
    case CarveEnding::Failed: return "failed";
    }
    return "finished";
}

void listTypes(const ExtensionList& list, const GlobalOptions& g)
{
    if (g.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (const auto& r : list.rows) rows.push_back({{"type", r.key}, {"description", r.description}});
        printJson(g, {{"types", rows}});
        return;
    }
    for (const auto& r : list.rows) std::printf("%-8s %s\n", r.key.c_str(), r.description.c_str());
}

// What reached the destination: all of the file, nothing, or (cut short by a failed write) what
// its file holds.
std::uint64_t writtenSize(const CarvedResult& c)
{
    if (c.outcome == CarvedOutcome::Written) return c.length;
    struct stat st {};
    if (c.outcome == CarvedOutcome::NotWritten || ::stat(c.savedPath.c_str(), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

nlohmann::json carvedJson(const CarvedResult& c)
{
    return {{"path", c.savedPath},
            {"name", c.name},
            {"type", typeFolderOf(c.name)},
            {"pass", carvePassWord(c.pass)},
            {"size", writtenSize(c)},
            {"outcome", carvedOutcomeWord(c.outcome)},
            {"first_sector", c.firstSector},
            {"byte_offset", c.byteOffset},
            {"end_found", c.endFound}};
}

nlohmann::json pathOrNull(const std::string& path) { return path.empty() ? nlohmann::json(nullptr) : nlohmann::json(path); }

int carveExitCode(const CarveOutcome& outcome, bool interrupted, std::uint64_t carved)
{
    if (interrupted) return kExitInterrupted;
    switch (outcome.ending) {
    case CarveEnding::Finished: return carved ? kExitOk : kExitIncomplete;
    // Not Ctrl+C: --media-error cancel gave up on a medium that could not be read.
    case CarveEnding::Stopped: return kExitUnreadable;
    case CarveEnding::Failed: return outcome.error ? failureOf(*outcome.error).exitCode : kExitIncomplete;
    }
    return kExitOk;
}

int runCarve(const CarveOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    auto extensions = session::loadExtensionList(o.signatureFolder);
    if (!extensions) {
        Failure f = failureOf(extensions.error());
        f.exitCode = kExitUsage;  // an installation without its signature files, not the source
        f.message = extensions.error().detail + " (" + extensions.error().path + ")";
        return reportFailure(f, g);
    }
    if (o.listTypes) {
        listTypes(*extensions, g);
        return kExitOk;
    }
    if (o.selection.source.empty() || o.destination.empty())
        return reportFailure({"usage", "carve needs a source and --dest (or --list-types)", kExitUsage}, g);
    if (auto chosen = applyTypeChoice(*extensions, o.types); !chosen) return reportError(chosen.error(), g);

    auto request = resolveSource(o.selection, g);
    if (!request) return reportError(request.error(), g);
    auto source = storage::openSource(request->path);
    if (!source) return reportError(source.error(), g);
    auto range = session::settleRange(**source, *request);
    if (!range) return reportError(range.error(), g);
    source->reset();  // each pass opens the medium itself

    session::CarveSetup setup;
    setup.sourcePath = request->path;
    setup.firstSector = range->firstSector;
    setup.lastSector = range->lastSector;
    setup.destination = o.destination;
    setup.signatureFolder = o.signatureFolder;
    setup.thorough = o.thorough;
    setup.exactEnds = o.exactEnd;
    setup.anyOffset = o.anyOffset;
    session::CarvePreparation prepared = session::prepareCarve(setup, std::move(extensions).value());
    if (prepared.check != SearchCheck::Ready)
        return reportFailure({"invalid_argument", texts::searchCheckMessage(prepared.check), kExitUsage}, g);
    if (prepared.error) return reportError(*prepared.error, g);
    auto& ctx = prepared.context;
    note(g, "Signature Search of " + request->path + ", sectors " + std::to_string(ctx->startSector) + " to " +
                std::to_string(ctx->endSector) + (ctx->thorough ? ", General and Thorough passes" : ", General pass") +
                (ctx->exactEnds ? ", exact ends" : "") + (ctx->anyOffset ? ", every byte offset" : ""));

    FixedMediaAnswer prompt(o.mediaError);
    CarveProgress progress(g, "Signature Search");
    const CarveOutcome outcome = session::runCarve(*ctx, interrupt.flag(), &progress, &prompt);
    progress.clearLine();
    const bool interrupted = interrupt.interrupted();

    const auto& results = ctx->results;
    const std::string outputFolder =
        (ctx->destination.back() == '/' ? ctx->destination : ctx->destination + "/") + kOutputRootFolder + "/" +
        kSignatureSearchFolder;
    const std::uint64_t carved = results.generalTotal + results.thoroughTotal;
    if (g.json) {
        nlohmann::json types = nlohmann::json::array();
        for (const auto& row : results.fileTypes.rows) types.push_back({{"type", row.fileTypes}, {"found", row.filesFound}});
        nlohmann::json files = nlohmann::json::array();
        for (const auto& c : results.allFiles) files.push_back(carvedJson(c));
        const nlohmann::json problem = outcome.error ? problemJson(*outcome.error) : nlohmann::json(nullptr);
        printJson(g, {{"source",
                       {{"path", request->path},
                        {"partition", request->partition ? nlohmann::json(request->partition) : nlohmann::json(nullptr)},
                        {"first_sector", ctx->startSector},
                        {"last_sector", ctx->endSector}}},
                      {"output_folder", outputFolder},
                      {"end", endingName(outcome.ending, interrupted)},
                      {"thorough_ran", outcome.thoroughRan},
                      {"exact_end", ctx->exactEnds},
                      {"any_offset", ctx->anyOffset},
                      {"report", {{"json", pathOrNull(outcome.reportPath)}, {"xml", pathOrNull(outcome.reportXmlPath)}}},
                      {"general_found", results.generalTotal},
                      {"thorough_found", results.thoroughTotal},
                      {"unreadable_blocks", outcome.unreadableBlocks},
                      {"problem", problem},
                      {"types", types},
                      {"files", files}});
    } else {
        std::cout << "Search " << (interrupted ? "stopped by Ctrl+C" : endingName(outcome.ending, false)) << ": " << carved
                  << " files carved (General " << results.generalTotal << ", Thorough " << results.thoroughTotal << ")";
        if (outcome.unreadableBlocks) std::cout << ", " << outcome.unreadableBlocks << " unreadable blocks kept as zeros";
        std::cout << ".\n";
        if (carved) {
            std::printf("  %-8s %s\n", "Type", "Files");
            for (const auto& row : results.fileTypes.rows)
                if (row.filesFound)
                    std::printf("  %-8s %llu\n", row.fileTypes.c_str(), static_cast<unsigned long long>(row.filesFound));
            std::cout << texts::closingText() << "\n";
        }
        std::cout << "Output folder: " << escapeForTerminal(outputFolder) << "\n";
        if (!outcome.reportPath.empty())
            std::cout << texts::carveReportText(escapeForTerminal(outcome.reportPath),
                                                escapeForTerminal(outcome.reportXmlPath))
                      << "\n";
        if (outcome.error) std::cerr << "kestravon-cli: " << describeError(*outcome.error) << "\n";
    }
    return carveExitCode(outcome, interrupted, carved);
}

kfr::cli::CommandRegistration reg{"60-carve", [](CLI::App& app, GlobalOptions& g) {
    auto opts = std::make_shared<CarveOptions>();
    auto* sub = app.add_subcommand(
        "carve", "Signature Search: carve files out of raw sectors by their headers, ignoring the file system");
    addSelectionOptions(*sub, opts->selection, false)->required(false);
    sub->add_option("-d,--dest", opts->destination,
                    "Existing folder that receives \"Kestravon FAT Recovery/Signature Search/General\" (and \"Omitted\")");
    sub->add_option("--types", opts->types, "Comma-separated types to carve, e.g. JPG,PNG (default: every type)");
    sub->add_flag("--thorough,!--no-thorough", opts->thorough,
                  "Also run the Thorough pass with the looser signatures, as the screen does (the default); its files "
                  "go to \"Omitted\". --no-thorough runs the General pass alone");
    sub->add_flag("--exact-end", opts->exactEnd,
                  "Cut each file where its own structure ends (JPEG, PNG, GIF, BMP, TIFF and RAW photos, PDF, ZIP and "
                  "Office files, 7z, RAR, gzip, xz, WAV/AVI/WEBP, MP4/MOV/HEIC/AVIF, MKV/WebM, MP3, Ogg, SQLite, "
                  "DOC/XLS/PPT) and write nothing for a candidate whose structure is broken; other types keep ending "
                  "at the next header");
    sub->add_flag("--any-offset", opts->anyOffset,
                  "Look for headers at every byte, not only at sector starts: files inside other files or unaligned "
                  "containers (slower)");
    sub->add_option("--signatures", opts->signatureFolder,
                    "Folder holding MFTSig.dll and MFTSigAdv.dll (default: beside the program, else "
                    "../share/kestravon from it)");
    sub->add_option("--media-error", opts->mediaError,
                    "When the medium cannot be opened or a block cannot be read: retry (read once more, then "
                    "carry on with the block as zeros; the default), skip (carry on at once) or cancel (stop the search, "
                    "keeping what was carved)")
        ->check(CLI::IsMember({"retry", "skip", "cancel"}));
    sub->add_flag("--list-types", opts->listTypes, "List the types the signature files know, then exit");
    sub->callback([&g, opts] {
        g.command = "carve";
        g.exitCode = runCarve(*opts, g);
    });
}};

}  // namespace

}  // namespace kfr::cli
