// Boot-sector signatures.
#include "volumes/boot_sector.h"

namespace kfr::volumes {

namespace {
constexpr std::size_t kFat32LabelOffset = 82;
constexpr std::size_t kFat16LabelOffset = 54;
constexpr std::size_t kNtfsOemOffset = 3;
}  // namespace

BootSignature detectBootSignature(Bytes sector)
{
    if (bytesEqual(sector, kFat32LabelOffset, "FAT32")) return BootSignature::Fat32;
    if (bytesEqual(sector, kFat16LabelOffset, "FAT16")) return BootSignature::Fat16;
    if (bytesEqual(sector, kNtfsOemOffset, "NTFS")) return BootSignature::Ntfs;
    return BootSignature::None;
}

bool hasBootMarker(Bytes sector)
{
    return sector.size() >= 512 && sector[510] == 0x55 && sector[511] == 0xAA;
}

std::string partTypeName(BootSignature sig)
{
    switch (sig) {
    case BootSignature::Fat32: return "FAT32";
    case BootSignature::Fat16: return "FAT16";
    case BootSignature::Ntfs: return "NTFS";
    case BootSignature::None: break;
    }
    return "Unknown";
}

}  // namespace kfr::volumes
