// Little-endian field readers. Every on-disk structure is decoded through these, with the
// offset named at the call site, instead of casting bytes to packed structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kfr {

using Bytes = std::span<const std::uint8_t>;

// Callers check that offset + width fits the span before reading; these return 0 when it does
// not, so a missed check reads as "nothing" instead of past the buffer.
inline std::uint8_t readU8(Bytes b, std::size_t off) { return off < b.size() ? b[off] : 0; }

inline std::uint16_t readLe16(Bytes b, std::size_t off)
{
    if (off + 2 > b.size()) return 0;
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}

inline std::uint32_t readLe32(Bytes b, std::size_t off)
{
    if (off + 4 > b.size()) return 0;
    return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
           (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

inline std::uint64_t readLe64(Bytes b, std::size_t off)
{
    if (off + 8 > b.size()) return 0;
    return static_cast<std::uint64_t>(readLe32(b, off)) | (static_cast<std::uint64_t>(readLe32(b, off + 4)) << 32);
}

// True when the bytes at off equal the given ASCII text.
bool bytesEqual(Bytes b, std::size_t off, const char* text);

}  // namespace kfr
