// Pieces every command shares: a progress line on the terminal, Ctrl+C as a stop request,
// turning core errors into sentences, and printing JSON.
#pragma once

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "storage/progress.h"
#include "storage/result.h"

namespace kfr::cli {

// Draws "stage  position / high  (NN%)" on stderr when stderr is a terminal; otherwise quiet.
class TerminalProgress : public ScanObserver {
public:
    explicit TerminalProgress(bool enabled);
    ~TerminalProgress() override;
    void onStage(WorkStage stage) override;
    void onStatus(StatusLine line, std::uint64_t value) override;
    // Prints a line of its own above the progress line.
    void showLine(const std::string& text);
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override;
    void onProblem(const Error& problem) override;
    std::uint64_t problemCount() const { return m_problems; }
    void clearLine();

private:
    bool m_enabled;
    bool m_lineShown = false;
    std::string m_stage;
    std::uint64_t m_problems = 0;
};

// While alive, Ctrl+C (SIGINT) sets the given flag instead of killing the program, so a scan
// stops the way the Stop button does and what was found is still printed. A second Ctrl+C
// ends the program at once.
class InterruptToStop {
public:
    explicit InterruptToStop(std::atomic<bool>& flag);
    ~InterruptToStop();
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;
};

// A sentence for the user: what happened and what they can do.
std::string describeError(const Error& e);

// Prints an error on stderr (or as {"error": ...} JSON on stdout) and returns the exit code 1.
int reportError(const Error& e, bool json);

void printJson(const nlohmann::json& value);

}  // namespace kfr::cli
