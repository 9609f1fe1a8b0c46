// Times one Basic Search of an image and reports seconds, directories and peak memory.
// Usage: basic_scan_throughput IMAGE
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

#include "recovery/basic_scan.h"
#include "texts/work_texts.h"
#include "storage/sector_source.h"
#include "volumes/boot_sector.h"

namespace {

// Prints how long each stage of the scan took (on stderr), to see where time goes.
class StageClock : public kfr::ScanObserver {
public:
    void onStage(kfr::WorkStage stage) override
    {
        lap();
        m_stage = kfr::texts::stageText(stage);
    }
    void onStatus(kfr::StatusLine line, std::uint64_t value) override
    {
        lap();
        m_stage = kfr::texts::statusText(line, value);
    }
    void lap()
    {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        if (!m_stage.empty())
            std::fprintf(stderr, "  %-50s %.3f s  (peak so far %ld KiB)\n", m_stage.c_str(), seconds, usage.ru_maxrss);
        if (m_stage.rfind("sectors scanned", 0) == 0) sweepSeconds = seconds;
        m_start = now;
    }
    double sweepSeconds = 0;

private:
    std::string m_stage;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 2;
    }
    auto src = kfr::storage::openSource(argv[1]);
    if (!src) return 1;
    kfr::recovery::DirNamer namer;
    kfr::recovery::BasicScanContext ctx;
    ctx.source = src->get();
    ctx.selection = {argv[1], 0, (*src)->sectorCount() - 1, "FAT32"};
    ctx.namer = &namer;
    StageClock clock;
    ctx.observer = &clock;
    const auto start = std::chrono::steady_clock::now();
    const auto result = kfr::recovery::runBasicScan(ctx);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    clock.lap();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("sweep_seconds=%.3f seconds=%.3f directories=%llu folders=%llu peak_kib=%ld\n", clock.sweepSeconds, seconds,
                static_cast<unsigned long long>(result.directoriesFound),
                static_cast<unsigned long long>(result.folders.folderCount), usage.ru_maxrss);
    return 0;
}
