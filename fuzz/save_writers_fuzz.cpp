// The save writers over arbitrary media: FAT chain walks and the consecutive-cluster fallback,
// NTFS run lists turned into extents, and the file session that copies them, for sizes and first
// clusters the bytes choose. Output goes nowhere.
#include <memory>

#include "export/fat_writer.h"
#include "export/ntfs_writer.h"
#include "fuzz_input.h"
#include "recovery/run_list.h"
#include "storage/bytes.h"
#include "volumes/boot_parameters.h"

namespace {

using namespace kfr;

// Output files that accept everything and keep nothing.
struct NullFile final : exporting::OutputFile {
    Status write(std::span<const std::uint8_t>) override { return okStatus(); }
    Status writeZeros(std::uint64_t) override { return okStatus(); }
    Status close() override { return okStatus(); }
};

struct NullFiles final : exporting::OutputFiles {
    Result<std::unique_ptr<exporting::OutputFile>> create(const std::string&) override
    {
        return std::unique_ptr<exporting::OutputFile>(std::make_unique<NullFile>());
    }
    bool exists(const std::string&) const override { return false; }
    bool removeFile(const std::string&) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 16) return 0;
    auto medium = fuzz::mediumFrom(data, size);
    const Bytes head(data, size);
    NullFiles files;
    exporting::SaveRunState state;
    for (const char* type : {"FAT16", "FAT32", "NTFS"}) {
        const volumes::VolumeSelection selection{"", 0, medium.sectorCount() - 1, type};
        auto params = volumes::readBootParameters(medium, selection);
        if (!params) continue;
        exporting::WriterContext ctx;
        ctx.source = &medium;
        ctx.params = &*params;
        ctx.state = &state;
        ctx.files = &files;
        ctx.volumeEndSector = readLe32(head, 4);
        // Sizes up to 4 GiB and first clusters anywhere: the writers must bound what they read by
        // the volume and the medium, never by what an entry claims.
        const std::uint64_t fileSize = readLe32(head, 8);
        const std::uint32_t firstCluster = readLe32(head, 12);
        if (params->isNtfs()) {
            (void)exporting::writeNtfsFile(ctx, {"/null/file", "file", fileSize, readLe16(head, 0), false});
            auto runs = recovery::decodeRunList(head, 0);
            if (runs) (void)exporting::runListExtents(*runs, *params, ctx.volumeEndSector ? ctx.volumeEndSector : UINT64_MAX);
        } else {
            (void)exporting::writeFatFile(ctx, {"/null/file", "file", fileSize, firstCluster, false, 0, 0});
            (void)exporting::chainForFile(medium, *params, firstCluster, fileSize % 100000, &state);
        }
    }
    return 0;
}
