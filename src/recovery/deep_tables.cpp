// Boot-sector rows and the parameters of Deep Search volumes.
#include "recovery/deep_tables.h"

namespace kfr::recovery {

namespace {

constexpr std::size_t kSpcOffset = 13;
constexpr std::size_t kReservedOffset = 14;
constexpr std::size_t kRootEntriesOffset = 17;
constexpr std::size_t kTotal16Offset = 19;
constexpr std::size_t kSpf16Offset = 22;
constexpr std::size_t kTotal32Offset = 32;
constexpr std::size_t kSpf32Offset = 36;
constexpr std::size_t kRootClusterOffset = 44;

}  // namespace

bool isFatBootSector(Bytes s)
{
    if (s.size() < 512 || s[510] != 0x55 || s[511] != 0xAA) return false;
    return (s[85] == '3' && s[86] == '2') || (s[57] == '1' && s[58] == '6');
}

DeepPartitionRecord bootCandidate(Bytes b, std::uint64_t s)
{
    DeepPartitionRecord row;
    const bool fat32 = b[85] == '3' && b[86] == '2';
    row.sector = s;
    row.fromBootSector = true;
    row.spc = readU8(b, kSpcOffset);
    row.reserveSectors = readLe16(b, kReservedOffset);
    row.partType = fat32 ? volumes::kFat32 : volumes::kFat16;
    if (fat32) {
        row.spf = readLe32(b, kSpf32Offset);
        row.rootSectors = 0;
        row.rootStart = readLe32(b, kRootClusterOffset);
    } else {
        row.spf = readLe16(b, kSpf16Offset);
        row.rootSectors = readLe16(b, kRootEntriesOffset) / 16;
        row.rootStart = 2ULL * row.spf + row.reserveSectors + s;
    }
    // Two FAT copies; on FAT16 the root directory follows them.
    row.cluster0Start = (static_cast<std::int64_t>(row.spf) - row.spc) * 2 + row.reserveSectors + row.rootSectors +
                        static_cast<std::int64_t>(s);
    row.firstFat = row.reserveSectors + s;
    row.secondFat = static_cast<std::uint64_t>(row.reserveSectors) + row.spf + s;
    // Small volumes keep their size in the 16-bit field and leave the 32-bit one 0.
    const std::uint32_t total = readLe16(b, kTotal16Offset) ? readLe16(b, kTotal16Offset) : readLe32(b, kTotal32Offset);
    row.totalSectors = total + s;
    return row;
}

volumes::VolumeParameters parametersOf(const DeepPartitionRecord& row)
{
    volumes::VolumeParameters p;
    p.partType = row.partType;
    p.spc = row.spc;
    p.spf = row.spf;
    p.reserveSectors = row.reserveSectors;
    p.cluster0Start = row.cluster0Start;
    p.firstFat = row.firstFat;
    p.secondFat = row.secondFat;
    p.rootSectors = row.rootSectors == 0 && p.isFat16() ? 32 : row.rootSectors;
    p.rootStart = row.rootStart == 0 ? 2 : row.rootStart;
    p.totalSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(row.totalSectors - std::min(row.totalSectors, row.sector), UINT32_MAX));
    return p;
}

}  // namespace kfr::recovery
