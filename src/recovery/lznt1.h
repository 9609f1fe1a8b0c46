// LZNT1, the compression of NTFS files with the compressed flag. A compression unit (16 clusters)
// whose data took fewer clusters than the unit holds is stored as a series of chunks, each giving
// at most 4,096 bytes: a 16-bit header (bits 0-11: the chunk's bytes after the header, less one;
// bit 15: compressed), then either the bytes as they are, or groups of a tag byte and up to eight
// items, each a literal byte (tag bit 0) or a 16-bit back reference (tag bit 1) whose split into
// offset and length bits depends on how far into its chunk it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/bytes.h"

namespace kfr::recovery {

inline constexpr std::size_t kLznt1ChunkBytes = 4096;

struct Lznt1Result {
    std::size_t produced = 0;  // output bytes up to the end of the last chunk's data
    // A chunk runs past the input, a reference reaches before its chunk, or the data gives more
    // than its chunk or the output holds: output from produced on is not to be trusted.
    bool damaged = false;
};

// Decompresses one unit's input into output (the unit's size in bytes). Whatever the chunks do
// not give reads as zeros: the tail of a chunk that gave fewer than 4,096 bytes, and everything
// after the data ends (a zero header, or the end of the input).
Lznt1Result decompressLznt1(Bytes input, std::span<std::uint8_t> output);

}  // namespace kfr::recovery
