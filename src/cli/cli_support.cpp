// Terminal progress, Ctrl+C handling and error texts for kestravon-cli.
#include "cli/cli_support.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "texts/work_texts.h"

namespace kfr::cli {

namespace {

std::atomic<bool>* g_interruptFlag = nullptr;  // the one flag a signal handler may touch
volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void onInterrupt(int)
{
    g_interrupts = g_interrupts + 1;
    if (g_interrupts > 1) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    if (g_interruptFlag) g_interruptFlag->store(true);
}

}  // namespace

TerminalProgress::TerminalProgress(bool enabled) : m_enabled(enabled && ::isatty(STDERR_FILENO)) {}

TerminalProgress::~TerminalProgress()
{
    clearLine();
}

void TerminalProgress::clearLine()
{
    if (m_lineShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_lineShown = false;
    }
}

void TerminalProgress::showLine(const std::string& text)
{
    m_stage = text;
    if (!m_enabled) return;
    clearLine();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void TerminalProgress::onStage(WorkStage stage)
{
    showLine(texts::stageText(stage));
}

void TerminalProgress::onStatus(StatusLine line, std::uint64_t value)
{
    showLine(texts::statusText(line, value));
}

void TerminalProgress::onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high)
{
    if (!m_enabled) return;
    const std::uint64_t span = high > low ? high - low : 0;
    const std::uint64_t done = position > low ? position - low : 0;
    const double percent = span ? 100.0 * static_cast<double>(std::min(done, span)) / static_cast<double>(span) : 100.0;
    std::fprintf(stderr, "\r\033[K  %llu / %llu  (%5.1f%%)", static_cast<unsigned long long>(position),
                 static_cast<unsigned long long>(high), percent);
    std::fflush(stderr);
    m_lineShown = true;
}

void TerminalProgress::onProblem(const Error&)
{
    ++m_problems;
}

InterruptToStop::InterruptToStop(std::atomic<bool>& flag)
{
    g_interruptFlag = &flag;
    g_interrupts = 0;
    std::signal(SIGINT, onInterrupt);
}

InterruptToStop::~InterruptToStop()
{
    std::signal(SIGINT, SIG_DFL);
    g_interruptFlag = nullptr;
}

std::string describeError(const Error& e)
{
    switch (e.kind) {
    case ErrorKind::PermissionDenied:
        return "Cannot read " + e.path + ": permission denied. Reading a disk needs root "
               "(run with sudo) or membership of the \"disk\" group.";
    case ErrorKind::OpenFailed:
        return "Cannot open " + e.path + ": " + e.detail + ".";
    case ErrorKind::ReadFailed:
        return "Cannot read " + (e.path.empty() ? std::string("the medium") : e.path) + " at sector " +
               std::to_string(e.sector) + (e.detail.empty() ? "" : ": " + e.detail) + ".";
    case ErrorKind::DiskFull:
        return "The destination " + e.path + " is full: " + e.detail;
    default:
        break;
    }
    std::string text = e.detail.empty() ? errorKindName(e.kind) : e.detail;
    if (!e.path.empty()) text = e.path + ": " + text;
    return text;
}

int reportError(const Error& e, bool json)
{
    if (json) {
        printJson({{"error", {{"kind", errorKindName(e.kind)}, {"message", describeError(e)}, {"path", e.path},
                              {"sector", e.sector}}}});
    } else {
        std::cerr << "kestravon-cli: " << describeError(e) << "\n";
    }
    return 1;
}

void printJson(const nlohmann::json& value)
{
    std::cout << value.dump(2) << "\n";
}

}  // namespace kfr::cli
