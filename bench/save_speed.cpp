// Save-run throughput: scans a FAT or NTFS image (untimed), ticks Root and saves everything into
// a folder, timing only the save run. Prints "files=N bytes=B seconds=S".
// Usage: save_speed IMAGE DESTINATION [FAT32|FAT16|NTFS]
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "export/save_run.h"
#include "recovery/basic_scan.h"
#include "storage/sector_source.h"
#include "volumes/volume_parameters.h"

using namespace kfr;

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s IMAGE DESTINATION [FAT32|FAT16|NTFS]\n", argv[0]);
        return 2;
    }
    auto source = storage::openSource(argv[1]);
    if (!source) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], source.error().detail.c_str());
        return 1;
    }
    recovery::DirNamer namer;
    recovery::BasicScanContext scan;
    scan.source = source->get();
    scan.selection = {argv[1], 0, (*source)->sectorCount() - 1, argc == 4 ? argv[3] : volumes::kFat32};
    scan.namer = &namer;
    auto result = recovery::runBasicScan(scan);
    auto& tree = result.folders.tree;
    recovery::TreeChecks checks;
    checks.toggleCheck(tree, tree.firstTopLevel());

    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    exporting::SaveRunContext ctx;
    ctx.source = source->get();
    ctx.params = &result.params;
    ctx.mftFiles = &result.mftFiles;
    ctx.volumeEndSector = (*source)->sectorCount();
    ctx.results = &result.folders;
    ctx.checks = &checks;
    ctx.destination = argv[2];
    ctx.state = &state;
    ctx.collisions = &collisions;
    ctx.startAnswer = exporting::CollisionAnswer::OverwriteAll;
    const auto t0 = std::chrono::steady_clock::now();
    const auto report = exporting::runSave(ctx);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::uint64_t bytes = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(argv[2]))
        if (e.is_regular_file()) bytes += e.file_size();
    std::printf("end=%s files=%llu bytes=%llu seconds=%.6f\n", exporting::saveEndName(report.end),
                static_cast<unsigned long long>(report.filesWritten), static_cast<unsigned long long>(bytes), seconds);
    return report.end == exporting::SaveEnd::Finished ? 0 : 1;
}
