// Turns fuzzer bytes into a small medium: the bytes themselves, padded to whole sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "storage/memory_source.h"

namespace kfr::fuzz {

inline storage::MemorySectorSource mediumFrom(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    bytes.resize((size + 511) / 512 * 512 + 512, 0);
    return storage::MemorySectorSource(std::move(bytes));
}

}  // namespace kfr::fuzz
