// NTFS file records: fix-up, attribute walk, file names, attribute lists and run lists.
#include <array>
#include <cstring>

#include "fuzz_input.h"
#include "recovery/attribute_list.h"
#include "recovery/mft_reader.h"
#include "recovery/run_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kfr::recovery::MftRecordBytes record{};
    std::memcpy(record.data(), data, std::min(size, record.size()));
    if (kfr::recovery::applyFixup(record) != kfr::recovery::RecordVerdict::Usable) return 0;
    for (const auto& attr : kfr::recovery::listAttributes(record)) {
        if (auto value = kfr::recovery::residentValue(record, attr)) {
            (void)kfr::recovery::decodeFileName(*value);
            (void)kfr::recovery::decodeAttributeList(*value);
        }
        if (attr.nonResident) (void)kfr::recovery::decodeRunList(record, attr.offset);
    }
    auto medium = kfr::fuzz::mediumFrom(data, size);
    kfr::volumes::VolumeParameters p;
    p.partType = "NTFS";
    p.spc = 1;
    p.mftSector = 0;
    kfr::recovery::MftReader reader(medium, p);
    (void)reader.findName(record, 0);
    return 0;
}
