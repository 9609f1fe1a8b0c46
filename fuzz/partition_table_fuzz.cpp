// Master boot records, extended chains and GUID tables on arbitrary disks.
#include "fuzz_input.h"
#include "volumes/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto medium = kfr::fuzz::mediumFrom(data, size);
    (void)kfr::volumes::listPartitions(medium, medium.sectorCount());
    (void)kfr::volumes::listPartitions(medium, 0xFFFFFFFFFFFFULL);
    return 0;
}
