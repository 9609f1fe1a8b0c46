// Times one Basic Search of an image and reports seconds, directories and peak memory.
// Usage: basic_scan_throughput IMAGE
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

#include "recovery/basic_scan.h"
#include "storage/sector_source.h"
#include "volumes/boot_sector.h"

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
    const auto start = std::chrono::steady_clock::now();
    const auto result = kfr::recovery::runBasicScan(ctx);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f directories=%llu folders=%llu peak_kib=%ld\n", seconds,
                static_cast<unsigned long long>(result.directoriesFound),
                static_cast<unsigned long long>(result.folders.folderCount), usage.ru_maxrss);
    return 0;
}
