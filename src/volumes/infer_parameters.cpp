// Geometry inference from directory clusters.
#include "volumes/infer_parameters.h"

#include <algorithm>
#include <array>
#include <optional>

#include "storage/bytes.h"
#include "storage/sector_sweep.h"
#include "volumes/fat_copies.h"
#include "volumes/fat_entry.h"

namespace kfr::volumes {

namespace {

constexpr std::uint32_t kBlockSectors = 256;

bool isClusterSize(std::uint64_t q)
{
    return q >= 1 && q <= 128 && (q & (q - 1)) == 0;
}

struct Anchor {
    bool held = false;
    std::uint64_t sector = 0;
    std::uint32_t cluster = 0;
};

// The layout read off the medium: the first sector after the volume's start that begins like a
// FAT, and the sector where it repeats (the second copy). Formatters differ in reserved sectors,
// FAT16 root sizes and padding, so what the medium shows beats any default. Fills p and returns
// true when both copies are found.
bool fatsOnMedium(const storage::SectorSource& source, std::uint64_t first, std::uint64_t cluster2, VolumeParameters& p)
{
    const bool fat16 = p.isFat16();
    // The reserved area is counted in 16 bits.
    const std::uint64_t searchEnd = std::min<std::uint64_t>(cluster2, first + 65536);
    std::optional<storage::SectorBytes> fat;
    std::uint64_t firstFat = 0;
    for (std::uint64_t s = first + 1; s < searchEnd; ++s) {
        fat = storage::readOneSector(source, s);
        if (fat && startsFat(*fat, fat16)) {
            firstFat = s;
            break;
        }
        fat.reset();
    }
    if (!fat) return false;
    const std::uint64_t gap = cluster2 - firstFat;  // two FATs, and on FAT16 the root directory
    std::uint64_t spf = 0;
    if (fat16) {
        // The root directory holds at most 65,536 entries: 4,096 sectors.
        for (std::uint64_t candidate = gap / 2; candidate > 0 && gap - 2 * candidate <= 4096; --candidate) {
            const auto copy = storage::readOneSector(source, firstFat + candidate);
            if (copy && *copy == *fat) {
                spf = candidate;
                break;
            }
        }
    } else if (gap % 2 == 0) {
        spf = gap / 2;
    }
    if (spf == 0 || spf > 0xFFFFFFFFULL) return false;
    p.reserveSectors = static_cast<std::uint32_t>(firstFat - first);
    p.spf = static_cast<std::uint32_t>(spf);
    p.firstFat = firstFat;
    p.secondFat = firstFat + spf;
    if (fat16) {
        p.rootStart = firstFat + 2 * spf;
        p.rootSectors = static_cast<std::uint32_t>(gap - 2 * spf);
    }
    return true;
}

// The layout the usual formatters give, from the reserved sectors found in the window (or their
// default) and a FAT16 root of 512 entries.
bool usualFats(std::uint64_t first, std::uint64_t cluster2, VolumeParameters& p)
{
    if (cluster2 < first + p.reserveSectors) return false;
    const std::uint64_t gap = cluster2 - first - p.reserveSectors;  // FATs (and FAT16 root) before cluster 2
    std::uint64_t spf = 0;
    if (p.isFat16()) {
        if (gap < 32) return false;
        spf = (gap - 32) / 2;
        p.rootStart = first + p.reserveSectors + 2 * spf;
    } else {
        spf = gap / 2;
    }
    if (spf == 0 || spf > 0xFFFFFFFFULL) return false;
    p.spf = static_cast<std::uint32_t>(spf);
    p.firstFat = first + p.reserveSectors;
    p.secondFat = first + p.reserveSectors + spf;
    return true;
}

// Tries to pair the directory at sector s with the anchor; on success fills p.
bool pairWithAnchor(const storage::SectorSource& source, const Anchor& anchor, std::uint64_t s, std::uint32_t k,
                    std::uint64_t first, VolumeParameters& p)
{
    const std::uint32_t ca = anchor.cluster;
    const std::uint64_t a = anchor.sector;
    if (ca < 2 || k == ca || k == 0xFFFFFFFFu || k >= s || k >= a) return false;
    const std::uint32_t d = k - ca;  // wraps when k < ca; the checks below then reject the pair
    const std::uint64_t n = s - a;
    if (d == 0 || n % d != 0) return false;
    const std::uint64_t q = n / d;
    if (!isClusterSize(q)) return false;
    // Both directories must put cluster 0 at the same sector. Cluster 0 may lie before the
    // volume's first sector (large clusters on a small volume), so positions are signed here;
    // cluster 2, where the data area begins, may not.
    const std::int64_t zeroFromAnchor = static_cast<std::int64_t>(a) - static_cast<std::int64_t>(ca) * static_cast<std::int64_t>(q);
    const std::int64_t zeroFromOther = static_cast<std::int64_t>(s) - static_cast<std::int64_t>(k) * static_cast<std::int64_t>(q);
    if (zeroFromAnchor != zeroFromOther) return false;
    if ((static_cast<std::uint64_t>(ca) - 2) * q > a) return false;
    const std::uint64_t cluster2 = a - (static_cast<std::uint64_t>(ca) - 2) * q;
    if (cluster2 <= first) return false;

    if (!fatsOnMedium(source, first, cluster2, p) && !usualFats(first, cluster2, p)) return false;
    p.spc = static_cast<std::uint32_t>(q);
    p.cluster0Start = zeroFromAnchor;
    return true;
}

}  // namespace

Result<VolumeParameters> inferFatParameters(const InferenceContext& ctx)
{
    const auto& sel = ctx.selection;
    const bool fat16 = sel.partType == kFat16;
    if (!fat16 && sel.partType != kFat32)
        return Error{ErrorKind::InvalidArgument, sel.firstSector, {}, "inference needs a FAT16 or FAT32 selection"};
    if (!ctx.source) return Error{ErrorKind::OpenFailed, 0, sel.devicePath, "no source"};
    const auto& source = *ctx.source;
    const std::uint64_t first = sel.firstSector;
    const std::uint64_t last = sel.lastSector;

    VolumeParameters p;
    p.partType = sel.partType;

    // The first FAT begins with the media byte 0xF8 followed by 0xFF; the last match in the window
    // where formatters put it wins.
    const std::uint64_t windowStart = fat16 ? first : first + 30;
    const std::uint32_t windowLength = fat16 ? 10 : 30;
    p.reserveSectors = fat16 ? 1 : 32;
    {
        std::array<std::uint8_t, storage::kSectorSize> s{};
        for (std::uint32_t i = 0; i < windowLength; ++i) {
            if (!source.read(windowStart + i, 1, s)) continue;
            if (s[0] == 0xF8 && s[1] == 0xFF) p.reserveSectors = static_cast<std::uint32_t>(windowStart + i - first);
        }
    }
    if (fat16) {
        p.rootSectors = 32;
    } else {
        p.rootSectors = 0;
        p.rootStart = 2;
    }

    ProgressReporter progress(ctx.observer);
    progress.stage(WorkStage::CalculatingPartitionParams);

    // Every sector of the range, in order: the first directory found is the anchor, and the first
    // later one that agrees with it on a geometry settles it.
    storage::SweepContext sweep;
    sweep.source = ctx.source;
    sweep.ranges = {storage::inclusiveRange(first, last)};
    sweep.blockSectors = kBlockSectors;
    sweep.stopRequested = ctx.stopRequested;
    sweep.progress = &progress;
    Anchor anchor;
    std::optional<VolumeParameters> found;
    std::uint64_t reached = first;
    const auto swept = storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        reached = block.firstSector + block.sectorCount;
        for (std::uint32_t i = 0; i < block.sectorCount; ++i) {
            const std::uint64_t s = block.firstSector + i;
            const Bytes sector = block.bytes.subspan(static_cast<std::size_t>(i) * storage::kSectorSize, storage::kSectorSize);
            if (!isDirectoryStart(sector)) continue;  // unreadable sectors read as zeros and are passed over
            // The anchor is read with the high word on FAT16 too, where that word is reserved and 0.
            const std::uint32_t self = entryFirstCluster(sector, true);
            if (!anchor.held) {
                if (self >= 2 && self <= 0xFFFFFFFEu) anchor = Anchor{true, s, self};
                continue;
            }
            const std::uint32_t k = entryFirstCluster(sector, !fat16);
            VolumeParameters candidate = p;
            if (pairWithAnchor(source, anchor, s, k, first, candidate)) {
                found = candidate;
                return false;
            }
        }
        return true;
    });
    if (found) {
        progress.finish();
        return *found;
    }
    if (swept.end == storage::SweepEnd::Stopped) return Error{ErrorKind::Stopped, reached, {}, "stopped"};
    if (swept.end == storage::SweepEnd::MediumGone)
        return Error{ErrorKind::MediumRemoved, reached, sel.devicePath, "the medium was removed"};
    return Error{ErrorKind::Implausible, first, sel.devicePath, "no two directories agree on a geometry"};
}

}  // namespace kfr::volumes
