// kestravon-cli search: "Search More Partitions" on a disk or disk image (Standard or Advanced
// mode), or inside one volume for the volumes nested in it; prints every partition found with
// what the other commands need to read it.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/terminal_text.h"
#include "recovery/mft_reader.h"
#include "session/partition_search_session.h"
#include "storage/sector_source.h"
#include "texts/search_texts.h"
#include "texts/work_texts.h"
#include "volumes/boot_parameters.h"

namespace kfr::cli {

namespace {

struct SearchOptions {
    std::string source;
    bool advanced = false;
    bool inside = false;
};

// A FAT volume's label from its boot sector, an NTFS volume's from its $Volume record.
std::string labelOf(const std::string& path, const std::string& fileSystem, std::uint64_t first, std::uint64_t last)
{
    auto opened = storage::openSource(path);
    if (!opened) return {};
    const storage::SectorSource& source = **opened;
    if (fileSystem == volumes::kNtfs) {
        auto params = volumes::readBootParameters(source, {path, first, last, volumes::kNtfs});
        if (!params) return {};
        return recovery::MftReader(source, *params, last + 1).volumeLabel();
    }
    const auto boot = storage::readOneSector(source, first);
    if (!boot || (fileSystem != volumes::kFat16 && fileSystem != volumes::kFat32)) return {};
    const std::size_t at = fileSystem == volumes::kFat32 ? 71 : 43;
    std::string label(reinterpret_cast<const char*>(boot->data()) + at, 11);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
    return label == "NO NAME" ? std::string() : label;
}

// A path as a shell takes it back: quoted when it holds anything but plain characters.
std::string shellWord(const std::string& path)
{
    const bool plain = !path.empty() && path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                                "0123456789/._-+:@") == std::string::npos;
    if (plain) return path;
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string sizeText(std::uint64_t sectors)
{
    return humanSize(sectors * storage::kSectorSize);
}

using SearchProgress = TerminalProgressFor<volumes::PartitionSearchObserver>;

struct FoundRow {
    std::string item;
    std::string fileSystem;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::string label;
};

nlohmann::json rowJson(const FoundRow& r)
{
    return {{"item", r.item},
            {"file_system", r.fileSystem},
            {"first_sector", r.first},
            {"last_sector", r.last},
            {"size", (r.last - r.first + 1) * storage::kSectorSize},
            {"label", r.label}};
}

void printRow(const FoundRow& r, const std::string& source)
{
    std::cout << "  " << escapeForTerminal(r.item) << "   sectors " << r.first << " - " << r.last << "   ("
              << sizeText(r.last - r.first + 1) << ")";
    if (!r.label.empty()) std::cout << "   label \"" << escapeForTerminal(r.label) << "\"";
    std::cout << "\n";
    if (r.fileSystem == volumes::kFat16 || r.fileSystem == volumes::kFat32 || r.fileSystem == volumes::kNtfs)
        std::cout << "      read it with: kestravon-cli scan " << escapeForTerminal(shellWord(source)) << " --first "
                  << r.first << " --last " << r.last << " --fs " << r.fileSystem << "\n";
}

int runDiskSearch(const SearchOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    SearchProgress progress(g, o.advanced ? "Advanced search, every sector" : "Standard search, two sectors per cylinder");
    session::PartitionSearchRequest request;
    request.path = o.source;
    request.mode = o.advanced ? volumes::SearchMode::Advanced : volumes::SearchMode::Standard;
    request.stopRequested = interrupt.flag();
    request.observer = &progress;
    auto outcome = session::searchPartitions(request);
    progress.clearLine();
    if (!outcome) return reportError(outcome.error(), g);
    const auto& out = *outcome;
    std::vector<FoundRow> rows;
    std::uint32_t number = static_cast<std::uint32_t>(out.listed.size());
    for (const auto& p : out.search.found)
        rows.push_back({volumes::partitionItemText(++number, p.fileSystem), p.fileSystem, p.firstSector, p.lastSector,
                        labelOf(o.source, p.fileSystem, p.firstSector, p.lastSector)});
    if (out.wholeDisk) {
        const auto& p = *out.wholeDisk;
        const std::string item = p.fileSystem == volumes::kUnknown ? "Unknown Partition" : volumes::partitionItemText(1, p.fileSystem);
        rows.push_back({item, p.fileSystem, p.firstSector, p.lastSector, {}});
    }
    const std::string message = texts::formatSearchResult(out.foundCount(), "Disk", out.disk.number, {});
    if (g.json) {
        nlohmann::json found = nlohmann::json::array();
        for (const auto& r : rows) found.push_back(rowJson(r));
        nlohmann::json listed = nlohmann::json::array();
        for (const auto& p : out.listed)
            listed.push_back(rowJson({p.itemText, p.fileSystem, p.firstSector, p.lastSector, {}}));
        printJson(g, {{"path", o.source},
                      {"mode", o.advanced ? "advanced" : "standard"},
                      {"disk_number", out.disk.number},
                      {"stopped", interrupt.interrupted()},
                      {"unreadable_sectors", out.search.unreadableSectors},
                      {"listed", std::move(listed)},
                      {"found", std::move(found)},
                      {"whole_disk", out.wholeDisk.has_value()},
                      {"message", message}});
    } else {
        if (interrupt.interrupted()) std::cout << "Search stopped by Ctrl+C; what it found so far:\n";
        std::cout << message << "\n";
        if (out.wholeDisk)
            std::cout << "No partition table entry and no boot sector: the whole disk is offered as one partition.\n";
        for (const auto& r : rows) printRow(r, o.source);
        if (out.search.found.empty() && !out.wholeDisk && !o.advanced) {
            std::cout << "Standard mode reads two sectors per cylinder; --advanced reads every sector and finds "
                         "partitions that do not start on a cylinder (most made since 2008 start at sector 2048).\n";
        }
    }
    if (interrupt.interrupted()) return kExitInterrupted;
    if (out.search.sourceFailed) return kExitUnreadable;
    return out.foundCount() > 0 ? kExitOk : kExitIncomplete;
}

int runInsideSearch(const SearchOptions& o, const GlobalOptions& g)
{
    InterruptToStop interrupt;
    SearchProgress progress(g, "Searching inside the volume");
    volumes::RecognisedPartitionTable table;
    session::VolumeSearchRequest request;
    request.path = o.source;
    request.stopRequested = interrupt.flag();
    request.observer = &progress;
    auto result = session::searchInsideVolume(request, table);
    progress.clearLine();
    if (!result) return reportError(result.error(), g);
    const std::string message = texts::formatSearchResult(result->added.size(), "Drive", 0, o.source);
    std::vector<FoundRow> rows;
    for (const auto& r : result->added)
        rows.push_back({texts::recognisedItemText(r), r.fileSystem, r.startSector, r.lastSector,
                        labelOf(o.source, r.fileSystem, r.startSector, r.lastSector)});
    if (g.json) {
        nlohmann::json found = nlohmann::json::array();
        for (const auto& r : rows) found.push_back(rowJson(r));
        printJson(g, {{"path", o.source},
                      {"mode", "inside"},
                      {"disk_number", nullptr},
                      {"stopped", interrupt.interrupted()},
                      {"unreadable_sectors", result->unreadableSectors},
                      {"listed", nlohmann::json::array()},
                      {"found", std::move(found)},
                      {"whole_disk", false},
                      {"message", message}});
    } else {
        if (interrupt.interrupted()) std::cout << "Search stopped by Ctrl+C; what it found so far:\n";
        std::cout << message << "\n";
        for (const auto& r : rows) printRow(r, o.source);
    }
    if (interrupt.interrupted()) return kExitInterrupted;
    return rows.empty() ? kExitIncomplete : kExitOk;
}

const CommandRegistration kRegistration{"25-search", [](CLI::App& app, GlobalOptions& g) {
    auto o = std::make_shared<SearchOptions>();
    auto* search = app.add_subcommand(
        "search", "Search More Partitions: sweep a disk or disk image for boot sectors of partitions its table no "
                  "longer lists (deleted, damaged), and print each with the sectors to read it with. Ctrl+C stops and "
                  "shows what was found.");
    search->add_option("source,-s,--source", o->source, "The whole disk (/dev/sdb) or a disk image; with --inside, a volume")
        ->required();
    auto* advanced = search->add_flag("--advanced", o->advanced,
                                      "Advanced mode: every sector, not two per cylinder (slower; finds partitions "
                                      "that do not start on a cylinder)");
    search->add_flag("--inside", o->inside, "Search inside one volume for the volumes nested in it")->excludes(advanced);
    search->callback([o, &g] {
        g.command = "search";
        g.exitCode = o->inside ? runInsideSearch(*o, g) : runDiskSearch(*o, g);
    });
}};

}  // namespace

}  // namespace kfr::cli
