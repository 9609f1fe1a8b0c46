// The gzip end rule. A deflate stream does not state its length, so its blocks are walked:
// every Huffman code is decoded, but no byte of output is made (only its count is kept, to
// check distances and the trailer's size).
#include <array>
#include <vector>

#include "carving/end_rules.h"

namespace kfr::carving {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kMaxBits = 15;
// A stream broken this early is taken for random bytes, not a damaged file.
constexpr std::uint64_t kEarlyBytes = 64 * 1024;

class BitStream {
public:
    BitStream(FileBytes& bytes, std::uint64_t pos) : m_bytes(bytes), m_next(pos) {}

    bool failed() const { return m_failed; }
    // Offset of the first byte not yet touched: once the stream has ended, its end.
    std::uint64_t offset() const { return m_next; }

    std::uint32_t bits(int n)
    {
        while (m_count < n) {
            const int b = nextByte();
            if (b < 0) {
                m_failed = true;
                return 0;
            }
            m_buffer |= static_cast<std::uint64_t>(b) << m_count;
            m_count += 8;
        }
        const std::uint32_t v = static_cast<std::uint32_t>(m_buffer & ((1ull << n) - 1));
        m_buffer >>= n;
        m_count -= n;
        return v;
    }

    void alignToByte()
    {
        m_buffer = 0;
        m_count = 0;
    }

    void skipBytes(std::uint64_t n)
    {
        m_next += n;
        m_chunk = Bytes();
        m_index = 0;
    }

private:
    int nextByte()
    {
        if (m_index >= m_chunk.size()) {
            m_chunk = m_bytes.readSome(m_next, kReadChunk);
            m_index = 0;
            if (m_chunk.empty()) return -1;
        }
        ++m_next;
        return m_chunk[m_index++];
    }

    FileBytes& m_bytes;
    std::uint64_t m_next;
    Bytes m_chunk;
    std::size_t m_index = 0;
    std::uint64_t m_buffer = 0;
    int m_count = 0;
    bool m_failed = false;
};

// A canonical Huffman code as deflate defines it: symbols ordered by code length, then value.
struct Huffman {
    std::array<std::uint16_t, kMaxBits + 1> count{};
    std::vector<std::uint16_t> symbols;

    // False for lengths that promise more codes than there are bit patterns.
    bool build(const std::uint8_t* lengths, int n)
    {
        count.fill(0);
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        count[0] = 0;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = left * 2 - count[len];
            if (left < 0) return false;
        }
        std::array<std::uint16_t, kMaxBits + 2> offsets{};
        for (int len = 1; len <= kMaxBits; ++len) offsets[len + 1] = offsets[len] + count[len];
        symbols.assign(n, 0);
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbols[offsets[lengths[i]]++] = static_cast<std::uint16_t>(i);
        return true;
    }

    // The next symbol, or -1 for a bit pattern that is no code.
    int decode(BitStream& in) const
    {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>(in.bits(1));
            const int n = count[len];
            if (code - first < n) return symbols[index + code - first];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                                         33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

enum class Walk { Ok, Broken, OutOfBytes };

class DeflateWalk {
public:
    explicit DeflateWalk(BitStream& in) : m_in(in) {}

    Walk run()
    {
        for (bool last = false; !last;) {
            last = m_in.bits(1);
            const std::uint32_t type = m_in.bits(2);
            if (m_in.failed()) return Walk::OutOfBytes;
            Walk w;
            if (type == 0) w = stored();
            else if (type == 1) w = fixedBlock();
            else if (type == 2) w = dynamicBlock();
            else return Walk::Broken;
            if (w != Walk::Ok) return w;
        }
        return Walk::Ok;
    }

    std::uint64_t produced() const { return m_produced; }

private:
    Walk stored()
    {
        m_in.alignToByte();
        const std::uint32_t length = m_in.bits(16), complement = m_in.bits(16);
        if (m_in.failed()) return Walk::OutOfBytes;
        if ((length ^ 0xFFFF) != complement) return Walk::Broken;
        m_in.skipBytes(length);
        m_produced += length;
        return Walk::Ok;
    }

    Walk fixedBlock()
    {
        static const auto tables = [] {
            std::array<std::uint8_t, 288 + 30> lengths{};
            for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
            for (int i = 0; i < 30; ++i) lengths[288 + i] = 5;
            std::pair<Huffman, Huffman> t;
            t.first.build(lengths.data(), 288);
            t.second.build(lengths.data() + 288, 30);
            return t;
        }();
        return codes(tables.first, tables.second);
    }

    Walk dynamicBlock()
    {
        static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        const int literals = static_cast<int>(m_in.bits(5)) + 257;
        const int distances = static_cast<int>(m_in.bits(5)) + 1;
        const int codeLengths = static_cast<int>(m_in.bits(4)) + 4;
        if (literals > 286 || distances > 30) return Walk::Broken;
        std::array<std::uint8_t, 19> clen{};
        for (int i = 0; i < codeLengths; ++i) clen[kOrder[i]] = static_cast<std::uint8_t>(m_in.bits(3));
        if (m_in.failed()) return Walk::OutOfBytes;
        Huffman lengthCode;
        if (!lengthCode.build(clen.data(), 19)) return Walk::Broken;
        std::array<std::uint8_t, 286 + 30> lengths{};
        for (int i = 0; i < literals + distances;) {
            const int sym = lengthCode.decode(m_in);
            if (m_in.failed()) return Walk::OutOfBytes;
            if (sym < 0) return Walk::Broken;
            if (sym < 16) {
                lengths[i++] = static_cast<std::uint8_t>(sym);
                continue;
            }
            std::uint8_t value = 0;
            int repeat;
            if (sym == 16) {
                if (i == 0) return Walk::Broken;
                value = lengths[i - 1];
                repeat = 3 + static_cast<int>(m_in.bits(2));
            } else if (sym == 17) {
                repeat = 3 + static_cast<int>(m_in.bits(3));
            } else {
                repeat = 11 + static_cast<int>(m_in.bits(7));
            }
            if (i + repeat > literals + distances) return Walk::Broken;
            while (repeat--) lengths[i++] = value;
        }
        if (lengths[256] == 0) return Walk::Broken;  // no end-of-block code
        Huffman lit, dist;
        if (!lit.build(lengths.data(), literals) || !dist.build(lengths.data() + literals, distances)) return Walk::Broken;
        return codes(lit, dist);
    }

    Walk codes(const Huffman& lit, const Huffman& dist)
    {
        while (true) {
            const int sym = lit.decode(m_in);
            if (m_in.failed()) return Walk::OutOfBytes;
            if (sym < 0 || sym > 285) return Walk::Broken;
            if (sym < 256) {
                ++m_produced;
                continue;
            }
            if (sym == 256) return Walk::Ok;
            const int l = sym - 257;
            const std::uint64_t length = kLengthBase[l] + m_in.bits(kLengthExtra[l]);
            const int d = dist.decode(m_in);
            if (m_in.failed()) return Walk::OutOfBytes;
            if (d < 0 || d > 29) return Walk::Broken;
            const std::uint64_t distance = kDistanceBase[d] + m_in.bits(kDistanceExtra[d]);
            if (distance > m_produced) return Walk::Broken;  // reaches before the stream's start
            m_produced += length;
        }
    }

    BitStream& m_in;
    std::uint64_t m_produced = 0;
};

}  // namespace

FileEnd gzipEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 10);
    if (h.empty() || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0)) return endInvalid();
    const std::uint8_t flags = h[3];
    std::uint64_t pos = 10;
    if (flags & 0x04) {  // FEXTRA
        const Bytes x = bytes.read(pos, 2);
        if (x.empty()) return endUnknown();
        pos += 2 + readLe16(x, 0);
    }
    for (const std::uint8_t textFlag : {std::uint8_t{0x08}, std::uint8_t{0x10}}) {  // FNAME, FCOMMENT
        if (!(flags & textFlag)) continue;
        const Bytes text = bytes.readSome(pos, 64 * 1024);
        std::size_t n = 0;
        while (n < text.size() && text[n] != 0) ++n;
        if (n == text.size()) return endInvalid();
        pos += n + 1;
    }
    if (flags & 0x02) pos += 2;  // FHCRC
    BitStream in(bytes, pos);
    DeflateWalk walk(in);
    switch (walk.run()) {
    case Walk::Ok: break;
    case Walk::OutOfBytes: return endUnknown();
    case Walk::Broken: return in.offset() - pos < kEarlyBytes ? endInvalid() : endUnknown();
    }
    // CRC-32 and the size modulo 2^32 follow the stream.
    const std::uint64_t end = in.offset() + 8;
    const Bytes trailer = bytes.read(in.offset(), 8);
    if (trailer.empty() || readLe32(trailer, 4) != static_cast<std::uint32_t>(walk.produced())) return endUnknown();
    return endFound(end);
}

}  // namespace kfr::carving
