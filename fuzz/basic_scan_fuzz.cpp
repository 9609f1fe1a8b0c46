// A whole Basic Search (boot sector or inference, directory sweep, tree build, listing of every
// folder) over arbitrary media, FAT and NTFS.
#include "fuzz_input.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto medium = kfr::fuzz::mediumFrom(data, size);
    for (const char* type : {"FAT16", "FAT32", "NTFS"}) {
        kfr::recovery::DirNamer namer;
        kfr::recovery::BasicScanContext ctx;
        ctx.source = &medium;
        ctx.selection = {"", 0, medium.sectorCount() - 1, type};
        ctx.namer = &namer;
        auto result = kfr::recovery::runBasicScan(ctx);
        kfr::recovery::ListingContext lctx;
        lctx.source = &medium;
        lctx.params = &result.params;
        lctx.mftFiles = &result.mftFiles;
        for (auto item : result.folders.tree.preOrder()) (void)kfr::recovery::populateItemList(lctx, result.folders, item);
    }
    return 0;
}
