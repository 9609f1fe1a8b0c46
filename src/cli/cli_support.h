// Pieces every command shares: exit codes, failures as sentences or JSON, a progress line on the
// terminal that leaves nothing behind, and Ctrl+C as a stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/command_registry.h"
#include "storage/progress.h"
#include "storage/result.h"

namespace kfr::cli {

// Exit codes, as --help and the README list them.
inline constexpr int kExitOk = 0;           // all done
inline constexpr int kExitIncomplete = 1;   // finished, but some files incomplete or failed, or nothing found
inline constexpr int kExitUsage = 2;        // usage or input error
inline constexpr int kExitUnreadable = 3;   // the source cannot be read
inline constexpr int kExitInterrupted = 130;  // Ctrl+C (128 + SIGINT, as shells report it)

// The version of the JSON format (docs/json.md); raised when a key changes meaning or goes away.
inline constexpr int kJsonFormatVersion = 1;

// Why a command could not do its work: a code for scripts, a sentence for people.
struct Failure {
    std::string code;
    std::string message;
    int exitCode = kExitUsage;
};

// A sentence for the user: what happened and what they can do.
std::string describeError(const Error& e);

// The failure of a core error: a source that cannot be opened or read exits 3, anything else
// the user asked for that cannot be had exits 2.
Failure failureOf(const Error& e);

// Prints the failure ("kestravon-cli: ..." on stderr, or {"error": {"code", "message"}} on
// stdout with --json) and returns its exit code.
int reportFailure(const Failure& failure, const GlobalOptions& global);
int reportError(const Error& e, const GlobalOptions& global);

// {"code", "message"} of an error met along the way (the items of "problems" lists).
nlohmann::json problemJson(const Error& e);

// A note for the user on stderr (not with --quiet or --json).
void note(const GlobalOptions& global, const std::string& text);

// Prints a command's JSON document with the format version and the command's name.
void printJson(const GlobalOptions& global, nlohmann::json document);

// snake_case of a name the core gives ("past-medium-end" -> "past_medium_end").
std::string snakeCase(std::string name);

// One status line on stderr, redrawn in place and cut to the terminal's width so it never
// wraps; cleared when the work ends, so nothing of it stays on the screen.
class TerminalLine {
public:
    explicit TerminalLine(bool enabled);
    ~TerminalLine();
    TerminalLine(const TerminalLine&) = delete;
    TerminalLine& operator=(const TerminalLine&) = delete;
    bool enabled() const { return m_enabled; }
    void show(const std::string& text);
    void clear();
    // Whether a line that changes with every file or chunk should be drawn now: drawn and made at
    // most ten times a second, since on a large save drawing it costs more than the file.
    bool due() const;

private:
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_drawn{};
};

// Whether a command draws progress: on a terminal, unless --no-progress, --quiet or --json.
bool progressWanted(const GlobalOptions& global);

// Where a command's work is; tests stop a command at a chosen phase through setPhaseProbe.
enum class Phase { Reading, Listing, Counting, Writing };
void setPhaseProbe(std::function<void(Phase)> probe);
void reachPhase(Phase phase);

// The stage and "done / to do sectors (NN%)" of scans, inference and carving on one line; label
// names the work until the core names a stage.
class TerminalProgress : public ScanObserver {
public:
    TerminalProgress(const GlobalOptions& global, std::string label);
    void onStage(WorkStage stage) override;
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override;
    void onProblem(const Error& problem) override;
    std::uint64_t problemCount() const { return m_problems; }
    void clearLine() { m_line.clear(); }

private:
    TerminalLine m_line;
    std::string m_stage;
    const char* m_unit = "sectors";
    std::uint64_t m_problems = 0;
};

// The terminal progress line for work whose observer extends ScanObserver with events of its own
// (carving, partition searches): those events are left to their defaults.
template <typename Observer>
class TerminalProgressFor final : public Observer {
public:
    TerminalProgressFor(const GlobalOptions& global, std::string label) : m_terminal(global, std::move(label)) {}
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

// While alive, Ctrl+C (SIGINT) sets the command's stop flag, and every flag handed to alsoStop,
// instead of killing the program, so the work stops the way the Stop button stops it and what
// was done can still be reported. A second Ctrl+C ends the program at once.
class InterruptToStop {
public:
    InterruptToStop();
    ~InterruptToStop();
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;

    const std::atomic<bool>* flag() const { return &m_flag; }
    bool interrupted() const { return m_flag.load(); }
    // Also sets flag on Ctrl+C from now on (a save run's cancelRequested); a Ctrl+C that came
    // already sets it at once.
    void alsoStop(std::atomic<bool>& flag);

private:
    std::atomic<bool> m_flag{false};
};

}  // namespace kfr::cli
