// Directory entries and long names decoded from an arbitrary directory sector.
#include "fuzz_input.h"
#include "recovery/dir_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto medium = kfr::fuzz::mediumFrom(data, size);
    std::vector<std::uint8_t> sector(512);
    for (std::uint64_t s = 0; s < medium.sectorCount(); ++s) {
        medium.read(s, 1, sector);
        for (std::size_t off = 0; off < 512; off += 32)
            for (bool fat32 : {false, true}) (void)kfr::recovery::decodeEntryWithLongName(sector, off, s, fat32, medium);
    }
    return 0;
}
