// Deep Search timings.
// Usage: deep_scan_throughput sweep IMAGE   one Deep Search (FAT and NTFS) of the whole image
//        deep_scan_throughput infer N       the volume inference over N lost directories
// Prints key=value pairs on one line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "recovery/deep_scan.h"
#include "storage/sector_source.h"

namespace {

// When the sweep ended: the first stage after it is the inference.
class SweepClock : public kfr::ScanObserver {
public:
    void onStage(kfr::WorkStage) override
    {
        if (sweepSeconds == 0) sweepSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double sweepSeconds = 0;
};

int sweep(const char* path)
{
    auto src = kfr::storage::openSource(path);
    if (!src) return 1;
    kfr::recovery::DeepScanContext ctx;
    ctx.source = src->get();
    ctx.startSector = 0;
    ctx.endSector = (*src)->sectorCount();
    ctx.fileSystem = kfr::recovery::kDeepEveryFileSystem;
    SweepClock clock;
    ctx.observer = &clock;
    const auto result = kfr::recovery::runDeepScan(ctx);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - clock.start).count();
    std::printf("seconds=%.3f sweep_seconds=%.3f directories=%zu volumes=%zu folders=%llu\n", seconds,
                clock.sweepSeconds ? clock.sweepSeconds : seconds, result.lostDirectories.size(), result.volumes.size(),
                static_cast<unsigned long long>(result.folders.folderCount));
    return 0;
}

// n directories spread over four volumes of different cluster sizes, one in ten of them garbage
// (". " and ".. " at random sectors), in sector order as a sweep finds them.
int infer(std::size_t n)
{
    std::mt19937_64 random(7);
    struct Volume {
        std::int64_t zero;
        std::uint32_t spc;
    };
    const Volume volumes[] = {{2048, 8}, {40'000'000, 16}, {90'000'000, 64}, {300'000'000, 4}};
    kfr::recovery::LostDirectoryTable dirs;
    dirs.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        kfr::recovery::LostDirectoryRecord d;
        if (i % 10 == 9) {
            d.sector = random() % 400'000'000;
            d.self = static_cast<std::uint32_t>(random());
            d.parent = static_cast<std::uint32_t>(random());
        } else {
            const Volume& v = volumes[i % 4];
            d.self = static_cast<std::uint32_t>(3 + random() % 2'000'000);
            d.sector = static_cast<std::uint64_t>(v.zero + static_cast<std::int64_t>(d.self) * v.spc);
            d.parent = 0;
        }
        dirs.push_back(d);
    }
    std::sort(dirs.begin(), dirs.end(), [](const auto& a, const auto& b) { return a.sector < b.sector; });
    kfr::recovery::DeepPartitionTable parts;
    const auto start = std::chrono::steady_clock::now();
    kfr::recovery::inferPartitions(dirs, {}, "FAT32", parts);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("seconds=%.3f directories=%zu partitions=%zu\n", seconds, n, parts.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "sweep") return sweep(argv[2]);
    if (mode == "infer") return infer(std::strtoull(argv[2], nullptr, 10));
    std::fprintf(stderr, "usage: %s sweep IMAGE | infer N\n", argv[0]);
    return 2;
}
