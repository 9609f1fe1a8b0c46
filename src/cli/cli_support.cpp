// Exit codes, failures, terminal progress and Ctrl+C handling for kestravon-cli.
#include "cli/cli_support.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

// The flags a signal handler may set: the command's own and the ones handed to alsoStop.
std::array<std::atomic<std::atomic<bool>*>, 4> g_interruptFlags{};
volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void onInterrupt(int)
{
    g_interrupts = g_interrupts + 1;
    if (g_interrupts > 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    for (auto& slot : g_interruptFlags)
        if (std::atomic<bool>* flag = slot.load()) flag->store(true);
}

std::function<void(Phase)>& phaseProbe()
{
    static std::function<void(Phase)> probe;
    return probe;
}

std::size_t terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
}

// Cuts text to columns characters; a cut UTF-8 sequence is dropped whole.
std::string cutToColumns(const std::string& text, std::size_t columns)
{
    std::size_t count = 0, i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count++ == columns) break;
    }
    return text.substr(0, i);
}

}  // namespace

std::string describeError(const Error& e)
{
    return texts::describeError(e);
}

Failure failureOf(const Error& e)
{
    switch (e.kind) {
    case ErrorKind::OpenFailed: return {"open_failed", describeError(e), kExitUnreadable};
    case ErrorKind::PermissionDenied: return {"permission_denied", describeError(e), kExitUnreadable};
    case ErrorKind::ReadFailed:
    case ErrorKind::MediumRemoved: return {"read_failed", describeError(e), kExitUnreadable};
    case ErrorKind::Implausible: return {"not_recognised", describeError(e), kExitUsage};
    case ErrorKind::NotFound: return {"not_found", describeError(e), kExitUsage};
    case ErrorKind::InvalidArgument: return {"invalid_argument", describeError(e), kExitUsage};
    case ErrorKind::WriteFailed: return {"write_failed", describeError(e), kExitIncomplete};
    case ErrorKind::DiskFull: return {"disk_full", describeError(e), kExitIncomplete};
    case ErrorKind::Stopped: return {"interrupted", describeError(e), kExitInterrupted};
    }
    return {"invalid_argument", describeError(e), kExitUsage};
}

int reportFailure(const Failure& failure, const GlobalOptions& global)
{
    if (global.json)
        printJson(global, {{"error", {{"code", failure.code}, {"message", failure.message}}}});
    else
        std::cerr << "kestravon-cli: " << failure.message << "\n";
    return failure.exitCode;
}

int reportError(const Error& e, const GlobalOptions& global)
{
    return reportFailure(failureOf(e), global);
}

nlohmann::json problemJson(const Error& e)
{
    const Failure f = failureOf(e);
    return {{"code", f.code}, {"message", f.message}};
}

void note(const GlobalOptions& global, const std::string& text)
{
    if (!global.quiet && !global.json) std::cerr << text << "\n";
}

void printJson(const GlobalOptions& global, nlohmann::json document)
{
    document["format_version"] = kJsonFormatVersion;
    document["command"] = global.command;
    // Names from the medium need not be UTF-8: replace what is not, rather than fail.
    std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    std::cout.flush();
}

std::string snakeCase(std::string name)
{
    for (auto& c : name)
        if (c == '-' || c == ' ') c = '_';
    return name;
}

TerminalLine::TerminalLine(bool enabled) : m_enabled(enabled && ::isatty(STDERR_FILENO)) {}

TerminalLine::~TerminalLine()
{
    clear();
}

void TerminalLine::show(const std::string& text)
{
    if (!m_enabled) return;
    std::fprintf(stderr, "\r\033[K%s", cutToColumns(text, terminalColumns() - 1).c_str());
    std::fflush(stderr);
    m_shown = true;
    m_drawn = std::chrono::steady_clock::now();
}

bool TerminalLine::due() const
{
    return m_enabled && (!m_shown || std::chrono::steady_clock::now() - m_drawn >= std::chrono::milliseconds(100));
}

void TerminalLine::clear()
{
    if (!m_shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_shown = false;
}

bool progressWanted(const GlobalOptions& global)
{
    return !global.noProgress && !global.quiet && !global.json;
}

void setPhaseProbe(std::function<void(Phase)> probe)
{
    phaseProbe() = std::move(probe);
}

void reachPhase(Phase phase)
{
    if (phaseProbe()) phaseProbe()(phase);
}

TerminalProgress::TerminalProgress(const GlobalOptions& global, std::string label)
    : m_line(progressWanted(global)), m_stage(std::move(label))
{
}

void TerminalProgress::onStage(WorkStage stage)
{
    m_stage = texts::stageText(stage);
    // Linking and placing the directories found counts folders, every other stage sectors.
    m_unit = stage == WorkStage::SearchingLostDirectories || stage == WorkStage::StoringDirectoryInformation ? "folders"
                                                                                                              : "sectors";
    m_line.show(m_stage);
}

void TerminalProgress::onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high)
{
    reachPhase(Phase::Reading);
    if (!m_line.enabled()) return;
    // Sectors done of sectors to do, whatever sector the range starts at.
    const std::uint64_t total = high > low ? high - low : 0;
    const std::uint64_t done = std::min(position > low ? position - low : 0, total);
    const double percent = total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
    char counts[96];
    std::snprintf(counts, sizeof counts, "%llu / %llu %s (%.1f%%)", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), m_unit, percent);
    m_line.show(m_stage.empty() ? std::string(counts) : m_stage + "  " + counts);
}

void TerminalProgress::onProblem(const Error&)
{
    ++m_problems;
}

InterruptToStop::InterruptToStop()
{
    for (auto& slot : g_interruptFlags) slot.store(nullptr);
    g_interruptFlags[0].store(&m_flag);
    g_interrupts = 0;
    std::signal(SIGINT, onInterrupt);
}

InterruptToStop::~InterruptToStop()
{
    std::signal(SIGINT, SIG_DFL);
    for (auto& slot : g_interruptFlags) slot.store(nullptr);
}

void InterruptToStop::alsoStop(std::atomic<bool>& flag)
{
    for (std::size_t i = 1; i < g_interruptFlags.size(); ++i) {
        std::atomic<bool>* expected = nullptr;
        if (g_interruptFlags[i].compare_exchange_strong(expected, &flag)) break;
    }
    if (m_flag.load()) flag.store(true);
}

}  // namespace kfr::cli
