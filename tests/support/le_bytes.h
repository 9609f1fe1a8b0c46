// Writing little-endian fields into hand-built sectors and records.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kfr::test {

inline void putLe(std::uint8_t* at, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void putLe16(std::uint8_t* at, std::uint16_t value) { putLe(at, value, 2); }
inline void putLe32(std::uint8_t* at, std::uint32_t value) { putLe(at, value, 4); }
inline void putLe64(std::uint8_t* at, std::uint64_t value) { putLe(at, value, 8); }

}  // namespace kfr::test
