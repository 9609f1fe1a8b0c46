// Boot-sector decoding for FAT16, FAT32 and NTFS volumes.
#include "volumes/boot_parameters.h"

#include <array>
#include <optional>

#include "volumes/boot_sector.h"

namespace kfr::volumes {

namespace {

using storage::SectorSource;
using storage::readOneSector;
using Sector = storage::SectorBytes;

// BIOS parameter block offsets shared by FAT16 and FAT32.
constexpr std::size_t kSpcOffset = 13;
constexpr std::size_t kReservedOffset = 14;
constexpr std::size_t kRootEntriesOffset = 17;
constexpr std::size_t kTotalSectors16Offset = 19;
constexpr std::size_t kSpf16Offset = 22;
constexpr std::size_t kTotalSectors32Offset = 32;
constexpr std::size_t kSpf32Offset = 36;
constexpr std::size_t kRootClusterOffset = 44;
// FAT32 keeps a copy of its boot sector six sectors in.
constexpr std::uint64_t kFat32BackupBoot = 6;
// The first byte of every FAT is the media descriptor; fixed disks use 0xF8.
constexpr std::uint8_t kMediaFixedDisk = 0xF8;

// NTFS boot sector offsets.
constexpr std::size_t kNtfsTotalSectorsOffset = 40;
constexpr std::size_t kNtfsMftClusterOffset = 48;
constexpr std::size_t kNtfsMirrorClusterOffset = 56;
constexpr std::size_t kNtfsRecordSizeOffset = 64;
constexpr std::size_t kNtfsIndexSizeOffset = 68;

Error rejected(std::uint64_t sector, const std::string& detail)
{
    return Error{ErrorKind::Implausible, sector, {}, detail};
}

std::uint32_t totalSectorsOf(Bytes boot)
{
    const std::uint16_t small = readLe16(boot, kTotalSectors16Offset);
    return small ? small : readLe32(boot, kTotalSectors32Offset);
}

Result<VolumeParameters> readFat16(const SectorSource& source, const VolumeSelection& sel)
{
    const std::uint64_t first = sel.firstSector;
    const auto boot = readOneSector(source, first);
    if (!boot) return Error{ErrorKind::ReadFailed, first, source.path(), "boot sector unreadable"};
    const FatBootVerdict verdict = judgeFatBootSector(*boot, false);
    if (verdict != FatBootVerdict::Plausible) return rejected(first, fatBootVerdictText(verdict));

    const std::uint32_t reserved = readLe16(*boot, kReservedOffset);
    const std::uint32_t spc = readU8(*boot, kSpcOffset);
    const std::uint32_t rootEntries = readLe16(*boot, kRootEntriesOffset);
    const std::uint32_t spf = readLe16(*boot, kSpf16Offset);

    // Two FATs are assumed; the second one must start with the media byte.
    const auto secondFat = readOneSector(source, first + reserved + spf);
    if (!secondFat || (*secondFat)[0] != kMediaFixedDisk)
        return rejected(first + reserved + spf, "second FAT does not start with the media byte 0xF8");

    VolumeParameters p;
    p.partType = kFat16;
    p.spf = spf;
    p.spc = spc;
    p.reserveSectors = reserved;
    p.rootSectors = rootEntries / 16;
    p.rootStart = first + 2ULL * spf + reserved;
    p.firstFat = first + reserved;
    p.secondFat = first + reserved + spf;
    p.totalSectors = totalSectorsOf(*boot);
    const std::uint64_t dataStart = first + reserved + 2ULL * spf + p.rootSectors;
    p.cluster0Start = static_cast<std::int64_t>(dataStart) - 2LL * spc;
    return p;
}

Result<VolumeParameters> readFat32(const SectorSource& source, const VolumeSelection& sel)
{
    const std::uint64_t first = sel.firstSector;
    auto boot = readOneSector(source, first);
    bool usingBackup = false;
    if (!boot || !hasBootMarker(*boot)) {
        boot = readOneSector(source, first + kFat32BackupBoot);
        usingBackup = true;
        if (!boot || !hasBootMarker(*boot)) return rejected(first, "no valid boot sector or backup boot sector");
    }

    // Try the sector in hand, then (once) the backup copy.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const FatBootVerdict verdict = judgeFatBootSector(*boot, true);
        if (verdict == FatBootVerdict::Plausible) {
            const std::uint32_t rootCluster = readLe32(*boot, kRootClusterOffset);
            const std::uint32_t reserved = readLe16(*boot, kReservedOffset);
            const std::uint32_t spc = readU8(*boot, kSpcOffset);
            const std::uint32_t spf = readLe32(*boot, kSpf32Offset);
            const auto secondFat = readOneSector(source, first + reserved + spf);
            if (secondFat && (*secondFat)[0] == kMediaFixedDisk) {
                VolumeParameters p;
                p.partType = kFat32;
                p.rootStart = rootCluster;
                p.rootSectors = 0;
                p.reserveSectors = reserved;
                p.spc = spc;
                p.spf = spf;
                p.firstFat = first + reserved;
                p.secondFat = first + reserved + spf;
                p.totalSectors = totalSectorsOf(*boot);
                const std::uint64_t dataStart = first + reserved + 2ULL * spf;
                p.cluster0Start = static_cast<std::int64_t>(dataStart) - 2LL * spc;
                return p;
            }
        }
        if (usingBackup) break;
        boot = readOneSector(source, first + kFat32BackupBoot);
        usingBackup = true;
        if (!boot || !hasBootMarker(*boot)) break;
    }
    return rejected(first, "neither boot sector copy locates a FAT starting with the media byte 0xF8");
}

// Checks the NTFS boot sector copy in hand and computes what it can; fills p on success.
bool ntfsFromCopy(Bytes boot, std::uint64_t first, VolumeParameters& p)
{
    const auto fields = parseNtfsBootSector(boot);
    if (!fields) return false;
    p.partType = kNtfs;
    p.spc = fields->spc;
    p.sectorsPerRecord = fields->sectorsPerRecord;
    p.sectorsPerIndexRecord = fields->sectorsPerIndexRecord;
    p.cluster0Start = static_cast<std::int64_t>(first);
    return true;
}

bool startsWithFile(const SectorSource& source, std::uint64_t sector)
{
    const auto s = readOneSector(source, sector);
    return s && bytesEqual(*s, 0, "FILE");
}

Result<VolumeParameters> readNtfs(const SectorSource& source, const VolumeSelection& sel)
{
    const std::uint64_t first = sel.firstSector;
    const std::uint64_t last = sel.lastSector;
    const auto primary = readOneSector(source, first);
    const auto backup = last > first ? readOneSector(source, last) : std::nullopt;

    VolumeParameters p;
    const Sector* used = nullptr;
    const Sector* other = nullptr;
    if (primary && ntfsFromCopy(*primary, first, p)) {
        used = &*primary;
        other = backup ? &*backup : nullptr;
    } else if (backup && ntfsFromCopy(*backup, first, p)) {
        used = &*backup;
        other = primary ? &*primary : nullptr;
    } else {
        return rejected(first, "no readable NTFS boot sector in the first or last sector");
    }

    // Each table's position is taken from the copy in use, and once more from the other copy when
    // the first guess does not land on a "FILE" record.
    auto locate = [&](std::size_t offset) -> std::uint64_t {
        for (const Sector* copy : {used, other}) {
            if (!copy || !hasBootMarker(*copy)) continue;
            const std::uint32_t copySpc = readU8(*copy, kSpcOffset);
            if (!isValidClusterSize(copySpc)) continue;
            const std::uint64_t sector = first + readLe64(*copy, offset) * copySpc;
            if (startsWithFile(source, sector)) return sector;
        }
        return 0;
    };
    p.mftSector = locate(kNtfsMftClusterOffset);
    p.mftMirrorSector = locate(kNtfsMirrorClusterOffset);
    if (p.mftSector == 0 && p.mftMirrorSector == 0) return rejected(first, "neither the MFT nor its mirror was found");
    return p;
}

}  // namespace

std::optional<NtfsBootFields> parseNtfsBootSector(Bytes boot)
{
    if (!hasBootMarker(boot) || detectBootSignature(boot) != BootSignature::Ntfs) return std::nullopt;
    const std::uint32_t spc = readU8(boot, kSpcOffset);
    if (!isValidClusterSize(spc)) return std::nullopt;
    const std::uint32_t recordValue = readLe32(boot, kNtfsRecordSizeOffset);
    std::uint32_t perRecord = 0;
    if (recordValue == 0xF6) {
        perRecord = 2;  // 0xF6 is -10: records of 2^10 bytes
    } else {
        const std::uint64_t v = static_cast<std::uint64_t>(recordValue) * spc;
        if (v != 2 && v != 4 && v != 6 && v != 8) return std::nullopt;
        perRecord = static_cast<std::uint32_t>(v);
    }
    const std::uint32_t indexValue = readLe32(boot, kNtfsIndexSizeOffset);
    NtfsBootFields f;
    f.spc = spc;
    f.sectorsPerRecord = perRecord;
    f.sectorsPerIndexRecord = indexValue == 0xF4 ? 8 : indexValue * spc;
    f.totalSectors = readLe64(boot, kNtfsTotalSectorsOffset);
    f.mftCluster = readLe64(boot, kNtfsMftClusterOffset);
    f.mirrorCluster = readLe64(boot, kNtfsMirrorClusterOffset);
    return f;
}

FatBootVerdict judgeFatBootSector(Bytes sector, bool fat32)
{
    if (!hasBootMarker(sector)) return FatBootVerdict::NoBootMarker;
    if (!isValidClusterSize(readU8(sector, kSpcOffset))) return FatBootVerdict::BadClusterSize;
    const std::uint32_t spf = fat32 ? readLe32(sector, kSpf32Offset) : readLe16(sector, kSpf16Offset);
    if (spf == 0) return FatBootVerdict::NoFatSize;
    if (readLe16(sector, kReservedOffset) == 0) return FatBootVerdict::NoReservedArea;
    return FatBootVerdict::Plausible;
}

const char* fatBootVerdictText(FatBootVerdict verdict)
{
    switch (verdict) {
    case FatBootVerdict::Plausible: return "plausible";
    case FatBootVerdict::NoBootMarker: return "boot sector lacks the 0x55AA marker";
    case FatBootVerdict::BadClusterSize: return "sectors per cluster is not a power of two up to 128";
    case FatBootVerdict::NoFatSize: return "sectors per FAT is zero";
    case FatBootVerdict::NoReservedArea: return "reserved sector count is zero";
    }
    return "unknown";
}

Result<VolumeParameters> readBootParameters(const storage::SectorSource& source, const VolumeSelection& selection)
{
    if (selection.partType == kFat16) return readFat16(source, selection);
    if (selection.partType == kFat32) return readFat32(source, selection);
    if (selection.partType == kNtfs) return readNtfs(source, selection);
    return Error{ErrorKind::InvalidArgument, selection.firstSector, {}, "file system is not FAT16, FAT32 or NTFS"};
}

}  // namespace kfr::volumes
