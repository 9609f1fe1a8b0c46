// In-memory sector source with the same end-of-medium behaviour as a file.
#include "storage/memory_source.h"

#include <algorithm>
#include <cstring>

namespace kfr::storage {

bool MemorySectorSource::read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const
{
    const std::uint64_t want = static_cast<std::uint64_t>(count) * kSectorSize;
    if (buffer.size() < want) return false;
    if (count == 0) return true;
    if (sector > (UINT64_MAX >> 9)) return false;
    const std::uint64_t offset = byteOffsetOf(sector);
    if (offset >= m_bytes.size()) return false;
    const std::uint64_t n = std::min<std::uint64_t>(want, m_bytes.size() - offset);
    std::memcpy(buffer.data(), m_bytes.data() + offset, n);
    return true;
}

}  // namespace kfr::storage
