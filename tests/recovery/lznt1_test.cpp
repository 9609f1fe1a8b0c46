// LZNT1 units built byte by byte: literals, back references whose offset and length bits shift
// with the position, stored chunks, short chunks, and damaged data that must stay inside the
// output and say it is damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery/lznt1.h"

using namespace kfr::recovery;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> out;
    for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// A chunk header for data bytes after it.
std::vector<std::uint8_t> chunk(std::vector<std::uint8_t> data, bool compressed = true)
{
    const auto header = static_cast<std::uint16_t>((data.size() - 1) | 0x3000 | (compressed ? 0x8000 : 0));
    data.insert(data.begin(), {static_cast<std::uint8_t>(header), static_cast<std::uint8_t>(header >> 8)});
    return data;
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Lznt1, DecompressesUnits)
{
    // 17 literals "abcdefghijklmnopq", then at position 17 (5 offset bits, 11 length bits) a
    // reference 17 back, 6 long: "abcdef".
    std::vector<std::uint8_t> seventeen = bytes({0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                                                 0x00, 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 0x02, 'q'});
    const std::uint16_t token = static_cast<std::uint16_t>(((17 - 1) << 11) | (6 - 3));
    seventeen.insert(seventeen.end(), {static_cast<std::uint8_t>(token), static_cast<std::uint8_t>(token >> 8)});
    const std::vector<std::uint8_t> stored(4096, 'S');
    struct Case {
        const char* name;
        std::vector<std::uint8_t> input;
        std::size_t outputBytes;
        std::string expected;  // then zeros up to outputBytes
        bool damaged;
    };
    const std::vector<Case> cases{
        {"literals", chunk(bytes({0x00, 'h', 'e', 'l', 'l', 'o', '!', '!', '!'})), 64, "hello!!!", false},
        // "ab" then a reference 2 back, 7 long, overlapping what it writes.
        {"overlapping reference", chunk(bytes({0x04, 'a', 'b', 0x04, 0x10})), 64, "ababababa", false},
        {"offset bits grow with the position", chunk(seventeen), 64, "abcdefghijklmnopqabcdef", false},
        {"stored chunk", chunk(stored, false), 4096, std::string(4096, 'S'), false},
        // A chunk that gives 3 bytes: the next chunk's output starts at 4,096.
        {"short chunk, then the next", concat(chunk(bytes({0x00, 'x', 'y', 'z'})), chunk(bytes({0x00, 'w'}))),
         8192, "xyz" + std::string(4093, '\0') + "w", false},
        {"zero header ends the data", concat(concat(chunk(bytes({0x00, 'x'})), bytes({0, 0})), chunk(bytes({0x00, 'q'}))),
         8192, "x", false},
        {"chunk running past the input", bytes({0x10, 0xB0, 0x00, 'a'}), 64, "", true},
        {"reference before the chunk's start", chunk(bytes({0x02, 'a', 0x00, 0x10})), 64, "a", true},
        // 4,095 bytes from a reference 1 back: more than the 64-byte output holds.
        {"overrun is cut at the output's end", chunk(bytes({0x02, 'a', 0xFF, 0x0F})), 64, std::string(64, 'a'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> out(c.outputBytes, 0xEE);
        const Lznt1Result r = decompressLznt1(c.input, out);
        std::string expected = c.expected;
        expected.resize(c.outputBytes, '\0');
        EXPECT_EQ(std::string(out.begin(), out.end()), expected);
        EXPECT_EQ(r.damaged, c.damaged);
        EXPECT_LE(r.produced, c.outputBytes);
    }
}
