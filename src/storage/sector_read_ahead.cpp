// Reading single sectors with a window ahead.
#include "storage/sector_read_ahead.h"

#include <algorithm>

namespace kfr::storage {

SectorReadAhead::SectorReadAhead(const SectorSource& source, std::uint64_t first, std::uint64_t count,
                                 std::uint32_t windowSectors)
    : m_source(source), m_first(first), m_count(count), m_window(std::max<std::uint32_t>(windowSectors, 1))
{
}

std::span<const std::uint8_t> SectorReadAhead::sector(std::uint64_t index)
{
    if (index >= m_count) return {};
    if (index < m_heldFirst || index >= m_heldFirst + m_heldCount) {
        const bool movingOn =
            m_heldCount > 0 && index >= m_heldFirst + m_heldCount && index - (m_heldFirst + m_heldCount) < m_window;
        const std::uint32_t want = movingOn ? m_window : 1;
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, m_count - index));
        m_held.resize(static_cast<std::size_t>(count) * kSectorSize);
        // A read reaching the medium's end leaves the rest as it was: it must read as zeros, not
        // as an earlier window's bytes. Elsewhere every byte is read over.
        const std::uint64_t mediumEnd = m_source.sectorCount();
        if (mediumEnd == 0 || m_first + index + count >= mediumEnd) std::fill(m_held.begin(), m_held.end(), 0);
        m_heldFirst = index;
        m_heldCount = count;
        if (!m_source.read(m_first + index, count, m_held)) {
            m_held.assign(kSectorSize, 0);
            m_heldCount = 1;
            if (!m_source.read(m_first + index, 1, m_held)) {
                m_heldFirst = UINT64_MAX;
                m_heldCount = 0;
                return {};
            }
        }
    }
    return std::span<const std::uint8_t>(m_held).subspan(static_cast<std::size_t>(index - m_heldFirst) * kSectorSize,
                                                          kSectorSize);
}

}  // namespace kfr::storage
