// Each command of kestravon-cli lives in its own file and registers itself here, so commands can
// be added without touching the program's entry point.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kfr::cli {

// Options every command shares; they may stand anywhere on the command line.
struct GlobalOptions {
    bool json = false;        // machine-readable output on stdout (see docs/json.md)
    bool noProgress = false;  // no progress line on the terminal
    bool quiet = false;       // neither progress nor notes on stderr; errors still
    bool debug = false;       // show the system's own display fields and record texts too
    std::string command;      // the command that runs, as the JSON names it
    int exitCode = 0;         // set by the command that ran
};

using CommandSetup = std::function<void(CLI::App& app, GlobalOptions& global)>;

struct CommandRegistration {
    CommandRegistration(std::string order, CommandSetup setup);
};

// Registered commands, sorted by their order key so --help lists them in a stable order.
std::vector<CommandSetup> registeredCommands();

// Runs the whole program (used by main and by tests). Returns the exit code.
int runCli(int argc, char** argv);

}  // namespace kfr::cli
