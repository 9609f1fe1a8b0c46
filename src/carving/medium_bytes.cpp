// Reading ahead of the scan for the end rules.
#include "carving/medium_bytes.h"

#include <algorithm>

namespace kfr::carving {

namespace {

// Most files are walked within a window or two; a rule never asks for more than kMaxRead at once.
constexpr std::size_t kWindowBytes = 1 << 20;
constexpr std::size_t kMaxRead = 256 * 1024;

}  // namespace

Bytes MediumFileBytes::readSome(std::uint64_t offset, std::size_t n)
{
    if (offset >= m_limit) return {};
    n = static_cast<std::size_t>(std::min<std::uint64_t>({n, kMaxRead, m_limit - offset}));
    const std::uint64_t at = m_first + offset;
    if (at >= m_blockFirst && at + n <= m_blockFirst + m_block.size())
        return m_block.subspan(static_cast<std::size_t>(at - m_blockFirst), n);
    if (!(at >= m_windowFirst && at + n <= m_windowFirst + m_windowSize) && !fill(at, n)) {
        // An unreadable sector ahead: what precedes it still counts.
        if (at >= m_windowFirst && at < m_windowFirst + m_windowSize)
            return Bytes(m_window.data() + (at - m_windowFirst), static_cast<std::size_t>(m_windowFirst + m_windowSize - at));
        return {};
    }
    return Bytes(m_window.data() + (at - m_windowFirst), n);
}

bool MediumFileBytes::fill(std::uint64_t firstByte, std::size_t n)
{
    using storage::kSectorSize;
    m_windowSize = 0;
    if (m_window.empty()) m_window.resize(kWindowBytes + kMaxRead + kSectorSize);
    const std::uint64_t sector = firstByte / kSectorSize;
    const std::uint64_t needEnd = (firstByte + n + kSectorSize - 1) / kSectorSize;  // sectors, exclusive
    // Read ahead, but not past the file's limit or the medium's end.
    std::uint64_t end = std::max<std::uint64_t>(needEnd, sector + kWindowBytes / kSectorSize);
    end = std::min<std::uint64_t>(end, (m_first + m_limit + kSectorSize - 1) / kSectorSize);
    const std::uint64_t known = m_source.sectorCount();
    if (known != 0) end = std::min(end, known);
    if (end < needEnd) return false;
    auto count = static_cast<std::uint32_t>(end - sector);
    const std::span<std::uint8_t> into(m_window.data(), static_cast<std::size_t>(count) * kSectorSize);
    // A medium that ends inside its last sector leaves the rest of that sector as it was.
    if (known == 0 || end == known) std::fill(into.end() - kSectorSize, into.end(), 0);
    m_windowFirst = sector * kSectorSize;
    if (!m_source.read(sector, count, into)) {
        // Sector by sector, as far as the first that fails: the bytes before it are the file's.
        const auto needed = static_cast<std::uint32_t>(needEnd - sector);
        std::uint32_t good = 0;
        while (good < needed && m_source.read(sector + good, 1, into.subspan(static_cast<std::size_t>(good) * kSectorSize, kSectorSize)))
            ++good;
        m_windowSize = static_cast<std::size_t>(good) * kSectorSize;
        return good == needed;
    }
    m_windowSize = static_cast<std::size_t>(count) * kSectorSize;
    return true;
}

}  // namespace kfr::carving
