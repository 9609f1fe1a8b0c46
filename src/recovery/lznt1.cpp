// LZNT1 decompression.
#include "recovery/lznt1.h"

#include <algorithm>
#include <cstring>

namespace kfr::recovery {

namespace {

constexpr std::uint16_t kChunkSizeMask = 0x0FFF;
constexpr std::uint16_t kChunkCompressed = 0x8000;

// What one chunk gave: its bytes in out[0, given), and whether its data is damaged (what was
// given before the damage stays).
struct ChunkResult {
    std::size_t given = 0;
    bool damaged = false;
};

// Decompresses one chunk's data into out[0, room).
ChunkResult decompressChunk(Bytes data, std::uint8_t* out, std::size_t room)
{
    ChunkResult r;
    std::size_t& pos = r.given;
    std::size_t p = 0;
    while (p < data.size()) {
        const std::uint8_t tag = data[p++];
        for (int bit = 0; bit < 8 && p < data.size(); ++bit) {
            if ((tag & (1u << bit)) == 0) {
                if (pos >= room) return {pos, true};
                out[pos++] = data[p++];
                continue;
            }
            if (p + 2 > data.size() || pos == 0) return {pos, true};
            const std::uint16_t token = readLe16(data, p);
            p += 2;
            // The further into the chunk, the more bits the offset needs: 4 up to position 16,
            // one more each time the position doubles.
            unsigned lengthBits = 12;
            for (std::size_t i = pos - 1; i >= 0x10; i >>= 1) --lengthBits;
            const std::size_t offset = (static_cast<std::size_t>(token) >> lengthBits) + 1;
            std::size_t length = (token & ((1u << lengthBits) - 1)) + 3;
            if (offset > pos) return {pos, true};
            const bool overrun = length > room - pos;
            if (overrun) length = room - pos;
            // Byte by byte: a reference may overlap what it writes (a run of one repeated byte).
            for (std::size_t i = 0; i < length; ++i, ++pos) out[pos] = out[pos - offset];
            if (overrun) return {pos, true};
        }
    }
    return r;
}

}  // namespace

Lznt1Result decompressLznt1(Bytes input, std::span<std::uint8_t> output)
{
    Lznt1Result result;
    std::fill(output.begin(), output.end(), 0);
    std::size_t in = 0;
    for (std::size_t chunkStart = 0; chunkStart < output.size() && in + 2 <= input.size();
         chunkStart += kLznt1ChunkBytes) {
        const std::uint16_t header = readLe16(input, in);
        if (header == 0) break;
        in += 2;
        const std::size_t size = (header & kChunkSizeMask) + 1u;
        if (size > input.size() - in) {
            result.damaged = true;
            break;
        }
        const Bytes data = input.subspan(in, size);
        in += size;
        const std::size_t room = std::min(kLznt1ChunkBytes, output.size() - chunkStart);
        std::uint8_t* out = output.data() + chunkStart;
        if ((header & kChunkCompressed) == 0) {
            const std::size_t copied = std::min(size, room);
            std::memcpy(out, data.data(), copied);
            result.produced = chunkStart + copied;
            if (copied < size) {
                result.damaged = true;
                break;
            }
            continue;
        }
        const ChunkResult chunk = decompressChunk(data, out, room);
        result.produced = chunkStart + chunk.given;
        if (chunk.damaged) {
            result.damaged = true;
            break;
        }
    }
    return result;
}

}  // namespace kfr::recovery
