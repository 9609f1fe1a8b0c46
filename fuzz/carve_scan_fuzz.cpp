// Signature Search (both passes, the shipped signature files) over arbitrary media; carved files
// go nowhere.
#include <memory>

#include "carving/carve_scan.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kfr;
    auto medium = std::make_shared<storage::MemorySectorSource>(fuzz::mediumFrom(data, size));
    carving::CarveContext ctx;
    ctx.generalFile = std::string(KFR_SIGNATURE_DIR) + "/MFTSig.dll";
    ctx.thoroughFile = std::string(KFR_SIGNATURE_DIR) + "/MFTSigAdv.dll";
    if (!carving::fillExtensionList(ctx.extensions, ctx.generalFile, ctx.thoroughFile)) return 0;
    ctx.devicePath = "memory";
    ctx.openDevice = [medium]() -> Result<std::unique_ptr<storage::SectorSource>> {
        return std::unique_ptr<storage::SectorSource>(std::make_unique<storage::MemorySectorSource>(*medium));
    };
    ctx.startSector = 0;
    ctx.endSector = medium->sectorCount() - 1;
    ctx.thorough = true;
    carving::DiscardSink sink;
    ctx.sink = &sink;
    if (!carving::prepareSignatureSearch(ctx)) return 0;
    (void)carving::runSignatureSearch(ctx);
    return 0;
}
