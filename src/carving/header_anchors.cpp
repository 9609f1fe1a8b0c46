// Headers at every byte offset, found through two-byte anchors.
#include "carving/header_anchors.h"

#include <algorithm>
#include <cstring>

namespace kfr::carving {

namespace {

int rarity(std::uint8_t b) { return b != 0x00 && b != 0xFF; }

}  // namespace

void HeaderAnchors::add(const SignatureTables& tables, std::uint32_t record)
{
    const FileType1& rec = tables.table[record];
    const auto order = static_cast<std::uint32_t>(
        std::find(tables.offsets.begin(), tables.offsets.end(), rec.offset) - tables.offsets.begin());
    if (rec.headerLen < 2) {
        m_single.push_back(Anchor{record, order, static_cast<std::int64_t>(rec.offset) - 1});
        return;
    }
    int best = 0, bestScore = -1;
    for (int a = 0; a + 1 < rec.headerLen; ++a) {
        const int score = rarity(rec.header[a]) + rarity(rec.header[a + 1]);
        if (score > bestScore) {
            best = a;
            bestScore = score;
        }
    }
    const unsigned pair = rec.header[best] | (rec.header[best + 1] << 8);
    m_pairs[pair / 64] |= std::uint64_t{1} << (pair % 64);
    m_byPair[pair].push_back(Anchor{record, order, static_cast<std::int64_t>(rec.offset) - 1 + best});
}

void HeaderAnchors::find(const SignatureTable& table, Bytes block, std::uint32_t valid, std::vector<HeaderMatch>& out) const
{
    out.clear();
    const std::uint8_t* b = block.data();
    const auto tryAnchor = [&](const Anchor& an, std::int64_t at) {
        const FileType1& rec = table[an.record];
        const std::int64_t candidate = at - an.delta;
        const std::int64_t pos = candidate + rec.offset - 1;
        if (candidate < 0 || candidate >= valid || pos < 0 || pos + rec.headerLen > valid) return;
        if (std::memcmp(b + pos, rec.header.data(), static_cast<std::size_t>(rec.headerLen)) != 0) return;
        out.push_back(HeaderMatch{static_cast<std::uint32_t>(candidate), an.offsetOrder, an.record});
    };
    for (std::uint32_t q = 0; q + 1 < valid; ++q) {
        const unsigned pair = b[q] | (b[q + 1] << 8);
        if (!(m_pairs[pair / 64] & (std::uint64_t{1} << (pair % 64)))) continue;
        for (const Anchor& an : m_byPair[pair]) tryAnchor(an, q);
    }
    if (!m_single.empty())
        for (std::uint32_t q = 0; q < valid; ++q)
            for (const Anchor& an : m_single) tryAnchor(an, q);
    std::sort(out.begin(), out.end(), [](const HeaderMatch& x, const HeaderMatch& y) {
        if (x.candidate != y.candidate) return x.candidate < y.candidate;
        if (x.offsetOrder != y.offsetOrder) return x.offsetOrder < y.offsetOrder;
        return x.record < y.record;
    });
}

}  // namespace kfr::carving
