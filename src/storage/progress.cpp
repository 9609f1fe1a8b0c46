// Progress coalescing and the shared progress-bar rule.
#include "storage/progress.h"

#include <algorithm>

namespace kfr {

void ProgressReporter::stage(WorkStage stage)
{
    if (m_observer) m_observer->onStage(stage);
}

void ProgressReporter::status(StatusLine line, std::uint64_t value)
{
    if (m_observer) m_observer->onStatus(line, value);
}

void ProgressReporter::begin(std::uint64_t low, std::uint64_t high)
{
    m_low = low;
    m_high = high;
    m_lastPercent = UINT64_MAX;
    m_lastReport = {};
    if (m_observer) m_observer->onProgress(low, low, high);
}

void ProgressReporter::update(std::uint64_t position)
{
    if (!m_observer) return;
    const std::uint64_t span = m_high > m_low ? m_high - m_low : 0;
    const std::uint64_t done = position > m_low ? std::min(position - m_low, span) : 0;
    const std::uint64_t percent = span ? static_cast<std::uint64_t>(static_cast<long double>(done) * 100 / span) : 100;
    const auto now = std::chrono::steady_clock::now();
    if (percent != m_lastPercent || now - m_lastReport >= std::chrono::milliseconds(100)) {
        m_lastPercent = percent;
        m_lastReport = now;
        m_observer->onProgress(position, m_low, m_high);
    }
}

void ProgressReporter::finish()
{
    if (m_observer) m_observer->onProgress(m_high, m_low, m_high);
}

void ProgressReporter::problem(const Error& e)
{
    if (m_observer) m_observer->onProblem(e);
}

void ProgressBarModel::start(std::uint64_t low, std::uint64_t high, std::uint64_t step)
{
    m_low = low;
    m_high = high;
    m_step = step;
    m_position = 0;
    const std::uint64_t span = high > low ? high - low : 0;
    m_percent = span > 2147483646ULL;
    m_maximum = m_percent ? 100 : static_cast<int>(span);
}

void ProgressBarModel::advance(std::uint64_t current)
{
    if (!m_percent) {
        const std::uint64_t next = static_cast<std::uint64_t>(m_position) + m_step;
        m_position = static_cast<int>(std::min<std::uint64_t>(next, static_cast<std::uint64_t>(m_maximum)));
        return;
    }
    const std::uint64_t span = m_high - m_low;
    const std::uint64_t done = current > m_low ? current - m_low : 0;
    const int pos = static_cast<int>(std::min<long double>(100.0L, static_cast<long double>(done) * 100 / span));
    if (pos > m_position) m_position = pos;
}

std::string countText(std::uint64_t done, std::uint64_t total)
{
    if (done > total) done = total;
    return std::to_string(done) + " / " + std::to_string(total);
}

}  // namespace kfr
