// FAT copies found by their contents.
#include "volumes/fat_copies.h"

#include <vector>

namespace kfr::volumes {

namespace {

// The FAT16 root directory holds at most 65,536 entries: 4,096 sectors.
constexpr std::uint64_t kMaxRootSectors = 4096;
constexpr std::uint32_t kReadSectors = 256;

}  // namespace

bool startsFat(Bytes s, bool fat16)
{
    return s.size() >= 4 && s[0] == 0xF8 && s[1] == 0xFF && s[2] == 0xFF &&
           (fat16 ? s[3] == 0xFF : (s[3] & 0x0F) == 0x0F);
}

std::optional<FatCopies> findFatCopies(const storage::SectorSource& source, std::uint64_t windowStart,
                                       std::uint64_t cluster2, bool fat16)
{
    if (cluster2 <= windowStart) return std::nullopt;
    // Every sector of the window that begins like a FAT, read in blocks.
    std::vector<std::uint64_t> starts;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kReadSectors) * storage::kSectorSize);
    for (std::uint64_t s = windowStart; s < cluster2; s += kReadSectors) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadSectors, cluster2 - s));
        std::fill(block.begin(), block.end(), 0);
        if (!source.read(s, count, block)) continue;
        for (std::uint32_t i = 0; i < count; ++i)
            if (startsFat(Bytes(block.data() + static_cast<std::size_t>(i) * storage::kSectorSize, storage::kSectorSize), fat16))
                starts.push_back(s + i);
    }
    auto sameSector = [&](std::uint64_t a, std::uint64_t b) {
        const auto x = storage::readOneSector(source, a);
        const auto y = storage::readOneSector(source, b);
        return x && y && *x == *y;
    };
    // The second copy is the later of the pair, so look from the end of the window.
    for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
        const std::uint64_t second = *it;
        const std::uint64_t tail = cluster2 - second;  // the second FAT, and the FAT16 root
        if (!fat16) {
            // FAT32 keeps no root area: the second copy runs up to cluster 2.
            if (tail > second || !sameSector(second - tail, second)) continue;
            FatCopies c;
            c.firstFat = second - tail;
            c.secondFat = second;
            c.spf = static_cast<std::uint32_t>(std::min<std::uint64_t>(tail, UINT32_MAX));
            return c;
        }
        for (auto first = std::next(it); first != starts.rend(); ++first) {
            const std::uint64_t spf = second - *first;
            if (spf > tail || tail - spf > kMaxRootSectors || !sameSector(*first, second)) continue;
            FatCopies c;
            c.firstFat = *first;
            c.secondFat = second;
            c.spf = static_cast<std::uint32_t>(spf);
            c.rootStart = second + spf;
            c.rootSectors = static_cast<std::uint32_t>(tail - spf);
            return c;
        }
    }
    return std::nullopt;
}

}  // namespace kfr::volumes
