// The command table and the program's top level.
#include "cli/command_registry.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>

namespace kfr::cli {

namespace {

std::vector<std::pair<std::string, CommandSetup>>& table()
{
    static std::vector<std::pair<std::string, CommandSetup>> commands;
    return commands;
}

}  // namespace

CommandRegistration::CommandRegistration(std::string order, CommandSetup setup)
{
    table().emplace_back(std::move(order), std::move(setup));
}

std::vector<CommandSetup> registeredCommands()
{
    auto entries = table();
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CommandSetup> out;
    for (auto& e : entries) out.push_back(e.second);
    return out;
}

int runCli(int argc, char** argv)
{
    CLI::App app{"Kestravon FAT Recovery - finds lost folders and files on FAT16, FAT32 and NTFS media.\n"
                 "The medium is only ever read."};
    app.name("kestravon-cli");
    app.require_subcommand(1);
    GlobalOptions global;
    app.add_flag("--json", global.json, "Print machine-readable JSON on stdout instead of text");
    app.add_flag("--no-progress", global.noProgress, "Do not draw a progress line on the terminal");
    for (auto& setup : registeredCommands()) setup(app, global);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return global.exitCode;
}

}  // namespace kfr::cli
