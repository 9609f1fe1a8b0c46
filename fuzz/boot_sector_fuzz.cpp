// Boot sectors and geometry inference on arbitrary media: FAT16, FAT32, NTFS.
#include "fuzz_input.h"
#include "volumes/boot_parameters.h"
#include "volumes/infer_parameters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto medium = kfr::fuzz::mediumFrom(data, size);
    for (const char* type : {"FAT16", "FAT32", "NTFS"}) {
        kfr::volumes::VolumeSelection sel{"", 0, medium.sectorCount() - 1, type};
        (void)kfr::volumes::readBootParameters(medium, sel);
        if (type[0] == 'F') (void)kfr::volumes::inferFatParameters({&medium, sel, nullptr, nullptr});
    }
    return 0;
}
