// The command table and the program's top level: global options anywhere on the line, help and
// version, usage errors with the nearest command or option, and the exit codes.
#include "cli/command_registry.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <utility>

#include "cli/cli_support.h"
#include "cli/manual.h"

#ifndef KFR_VERSION
#define KFR_VERSION "0"
#endif

namespace kfr::cli {

namespace {

std::vector<std::pair<std::string, CommandSetup>>& table()
{
    static std::vector<std::pair<std::string, CommandSetup>> commands;
    return commands;
}

constexpr const char* kExitStatusText =
    "Exit status:\n"
    "  0    all done\n"
    "  1    finished, but some files are incomplete or could not be saved, or nothing was found, or the\n"
    "       recovery log could not be written\n"
    "  2    usage or input error (unknown option, no such partition, a volume this tool does not read, a\n"
    "       recovery log that is no log or is damaged, ...)\n"
    "  3    the source cannot be opened or read, or a recovery log's medium is attached nowhere\n"
    "  130  interrupted by Ctrl+C\n";

// Edit distance, for "did you mean".
std::size_t distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The candidate closest to word, when it is close enough to be what was meant.
std::string nearest(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string best;
    std::size_t bestDistance = SIZE_MAX;
    for (const auto& c : candidates) {
        const std::size_t d = distance(word, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    const std::size_t allowed = std::max<std::size_t>(2, word.size() / 3);
    return bestDistance <= allowed ? best : std::string();
}

const CLI::App* findCommand(const CLI::App& app, const std::string& name)
{
    const auto found = app.get_subcommands([&](const CLI::App* sub) { return sub->get_name() == name; });
    return found.empty() ? nullptr : found.front();
}

std::vector<std::string> optionNames(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* o : app.get_options()) {
        for (const auto& n : o->get_lnames()) names.push_back("--" + n);
        for (const auto& n : o->get_snames()) names.push_back("-" + n);
    }
    return names;
}


// What the user most likely mistyped: an unknown command, or an option the command does not know.
std::string suggestion(const CLI::App& app, const std::vector<std::string>& args)
{
    std::vector<std::string> commands;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        commands.push_back(sub->get_name());
    const CLI::App* command = nullptr;
    for (const auto& arg : args) {
        if (arg.empty() || arg[0] == '-') continue;
        command = findCommand(app, arg);
        if (command) break;
        const std::string near = nearest(arg, commands);
        return "unknown command \"" + arg + "\"" + (near.empty() ? "" : "; did you mean \"" + near + "\"?");
    }
    std::vector<std::string> known = optionNames(app);
    if (command) {
        const auto own = optionNames(*command);
        known.insert(known.end(), own.begin(), own.end());
    }
    for (const auto& arg : args) {
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") continue;
        const std::string name = arg.substr(0, arg.find('='));
        if (std::find(known.begin(), known.end(), name) != known.end()) continue;
        const std::string near = nearest(name, known);
        return "unknown option \"" + name + "\"" + (near.empty() ? "" : "; did you mean \"" + near + "\"?");
    }
    return {};
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
    // Global options may follow the command too: `kestravon-cli scan disk.img --json`.
    app.fallthrough();
    app.set_version_flag("--version", std::string("kestravon-cli ") + KFR_VERSION);
    app.footer(std::string("Run 'kestravon-cli help COMMAND' for a command's options; the JSON that --json prints is "
                           "described in docs/json.md.\n\n") +
               kExitStatusText);
    GlobalOptions global;
    app.add_flag("--json", global.json, "Print machine-readable JSON on stdout (see docs/json.md)");
    app.add_flag("--no-progress", global.noProgress, "Do not draw a progress line on the terminal");
    app.add_flag("-q,--quiet", global.quiet, "Print neither progress nor notes on stderr; errors still");
    app.add_flag("--debug", global.debug, "Show the desktop program's display fields and raw record values too");
    bool manPageWanted = false, completionWanted = false;
    app.add_flag("--man-page", manPageWanted, "Print the manual page (roff) and exit")->group("");
    app.add_flag("--bash-completion", completionWanted, "Print the bash completion script and exit")->group("");
    for (auto& setup : registeredCommands()) setup(app, global);

    auto* help = app.add_subcommand("help", "Show the options of a command: kestravon-cli help scan");
    auto helpTopic = std::make_shared<std::string>();
    help->add_option("command", *helpTopic, "The command");
    help->callback([&app, helpTopic, &global] {
        global.command = "help";
        const CLI::App* topic = helpTopic->empty() ? &app : findCommand(app, *helpTopic);
        if (!topic) {
            global.exitCode = reportFailure({"usage", suggestion(app, {*helpTopic}), kExitUsage}, global);
            return;
        }
        std::cout << topic->help();
    });

    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (std::find(args.begin(), args.end(), "--man-page") != args.end()) {
        std::cout << manPage(app, kExitStatusText);
        return kExitOk;
    }
    if (std::find(args.begin(), args.end(), "--bash-completion") != args.end()) {
        std::cout << bashCompletion(app);
        return kExitOk;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        // --json may stand anywhere, even after what failed to parse.
        global.json = std::find(args.begin(), args.end(), "--json") != args.end();
        global.command = "";
        for (const auto& arg : args)
            if (!arg.empty() && arg[0] != '-' && findCommand(app, arg)) {
                global.command = arg;
                break;
            }
        std::string message = e.what();
        const std::string hint = suggestion(app, args);
        if (!hint.empty() && (e.get_name() == "ExtrasError" || hint.rfind("unknown command", 0) == 0))
            message = hint;
        else if (!hint.empty())
            message += " (" + hint + ")";
        if (message.back() != '?' && message.back() != '.') message += ".";
        message += global.command.empty() ? " Run 'kestravon-cli --help' for the commands."
                                          : " Run 'kestravon-cli help " + global.command + "' for its options.";
        return reportFailure({"usage", message, kExitUsage}, global);
    }
    return global.exitCode;
}

}  // namespace kfr::cli
