// How long work reports itself: an observer interface that scans and writers call, a throttle
// that coalesces progress reports, and the progress-bar rule for 64-bit ranges that every
// front end applies the same way.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "storage/result.h"

namespace kfr {

// The stages long work goes through. The core names them; each front end shows them in its own
// words (the shared text module holds the system's texts for them).
enum class WorkStage {
    CalculatingPartitionParams,   // FAT geometry inferred from directory positions
    SearchingLostDirectories,     // sorting and linking the directories found
    StoringDirectoryInformation,  // placing and naming them in the results tree
    CountingFiles,                // a save run counts what it will write
    SavingFiles,                  // a save run writes
    GeneralPass,                  // carving with the General signature file
    ThoroughPass,                 // carving with the Thorough signature file
};

// What a status line says, with its number.
enum class StatusLine {
    SectorsScannedOfTotal,  // value: the last sector (or the sectors) to be scanned
};

// Implemented by front ends (a recording observer in tests, a terminal line in the CLI, a queued
// signal adapter in the GUI). Calls come from the worker thread. Stage, status line and progress
// are separate calls because a screen shows them in separate places.
class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    virtual void onStage(WorkStage /*stage*/) {}
    virtual void onStatus(StatusLine /*line*/, std::uint64_t /*value*/) {}
    // position is an absolute counter (a sector, a row) within [low, high].
    virtual void onProgress(std::uint64_t /*position*/, std::uint64_t /*low*/, std::uint64_t /*high*/) {}
    // Something was skipped (unreadable sector, corrupt record); the work goes on.
    virtual void onProblem(const Error& /*problem*/) {}
};

// Forwards to an optional observer and coalesces progress: a report passes when the percentage
// changed or about 100 ms went by, and always at the range's end.
class ProgressReporter {
public:
    explicit ProgressReporter(ScanObserver* observer) : m_observer(observer) {}

    void stage(WorkStage stage);
    void status(StatusLine line, std::uint64_t value);
    void begin(std::uint64_t low, std::uint64_t high);
    void update(std::uint64_t position);
    void finish();
    void problem(const Error& e);
    ScanObserver* observer() const { return m_observer; }

private:
    ScanObserver* m_observer;
    std::uint64_t m_low = 0;
    std::uint64_t m_high = 0;
    std::uint64_t m_lastPercent = UINT64_MAX;
    std::chrono::steady_clock::time_point m_lastReport{};
};

// The progress-bar rule for 64-bit ranges: a range up to 2,147,483,646 units is shown one to one
// (advanced by a step per update); a larger one is shown as a percentage that never goes back.
class ProgressBarModel {
public:
    void start(std::uint64_t low, std::uint64_t high, std::uint64_t step);
    // One update at the given absolute position.
    void advance(std::uint64_t current);
    int maximum() const { return m_maximum; }
    int position() const { return m_position; }

private:
    std::uint64_t m_low = 0;
    std::uint64_t m_high = 0;
    std::uint64_t m_step = 1;
    bool m_percent = false;
    int m_maximum = 0;
    int m_position = 0;
};

// "%llu / %llu" that never shows more done than the total.
std::string countText(std::uint64_t done, std::uint64_t total);

}  // namespace kfr
