// Single sectors of one region of a source, for readers that look up many (FAT entries along
// chains, folders' directories named one after another). Most lookups need one sector and the
// next lies anywhere, so one sector is read; the sectors ahead are read at once only when the
// lookups move on just past what is held (a long chain, folders in cluster order).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "storage/sector_source.h"

namespace kfr::storage {

class SectorReadAhead {
public:
    // Sectors [first, first + count) of source, up to windowSectors read at a time.
    SectorReadAhead(const SectorSource& source, std::uint64_t first, std::uint64_t count, std::uint32_t windowSectors);

    // The 512 bytes of the region's sector index, valid until the next call; empty when it lies
    // past the region or cannot be read. Bytes past the medium's end read as zeros. One bad sector
    // does not cost its neighbours: a window that cannot be read is tried for the sector alone.
    std::span<const std::uint8_t> sector(std::uint64_t index);

    const SectorSource& source() const { return m_source; }
    std::uint64_t first() const { return m_first; }
    std::uint64_t count() const { return m_count; }

private:
    const SectorSource& m_source;
    std::uint64_t m_first;
    std::uint64_t m_count;
    std::uint32_t m_window;
    std::vector<std::uint8_t> m_held;
    std::uint64_t m_heldFirst = UINT64_MAX;  // region index of the first sector held
    std::uint32_t m_heldCount = 0;
};

}  // namespace kfr::storage
