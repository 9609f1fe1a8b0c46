// Times the General carving pass alone over an image: every type of the shipped General file
// ticked, carved bytes thrown away, so the figure is the scan's own speed.
// Usage: carve_scan IMAGE SIGNATURE_FOLDER [REPEATS] [exact] [any-offset]
// Prints: "<bytes> <best seconds> <files carved>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "carving/carve_scan.h"
#include "storage/sector_source.h"

using namespace kfr;
using namespace kfr::carving;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IMAGE SIGNATURE_FOLDER [REPEATS]\n", argv[0]);
        return 2;
    }
    const std::string image = argv[1];
    const std::string folder = argv[2];
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    bool exactEnds = false, anyOffset = false;
    for (int i = 4; i < argc; ++i) {
        exactEnds = exactEnds || std::string(argv[i]) == "exact";
        anyOffset = anyOffset || std::string(argv[i]) == "any-offset";
    }
    auto source = storage::FileSectorSource::open(image);
    if (!source) {
        std::fprintf(stderr, "cannot open %s: %s\n", image.c_str(), source.error().detail.c_str());
        return 1;
    }
    const std::uint64_t bytes = (*source)->byteSize();
    const std::uint64_t sectors = (*source)->sectorCount();
    source.value().reset();

    double best = 1e30;
    std::uint64_t files = 0;
    for (int r = 0; r < repeats; ++r) {
        CarveContext ctx;
        DiscardSink sink;
        ctx.sink = &sink;
        ctx.devicePath = image;
        ctx.startSector = 0;
        ctx.endSector = sectors - 1;
        ctx.thorough = false;
        ctx.exactEnds = exactEnds;
        ctx.anyOffset = anyOffset;
        ctx.generalFile = signatureFilePath(folder, kGeneralSignatureFile);
        ctx.thoroughFile = signatureFilePath(folder, kThoroughSignatureFile);
        if (!fillExtensionList(ctx.extensions, ctx.generalFile, ctx.thoroughFile).ok() ||
            !prepareSignatureSearch(ctx).ok()) {
            std::fprintf(stderr, "signature files missing in %s\n", folder.c_str());
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        const CarveOutcome outcome = runSignatureSearch(ctx);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (outcome.ending != CarveEnding::Finished) {
            std::fprintf(stderr, "the pass did not finish\n");
            return 1;
        }
        files = ctx.results.generalTotal;
        if (seconds < best) best = seconds;
    }
    std::printf("%llu %.6f %llu\n", static_cast<unsigned long long>(bytes), best, static_cast<unsigned long long>(files));
    return 0;
}
