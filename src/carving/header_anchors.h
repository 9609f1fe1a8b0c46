// Finding headers at every byte offset of a block (--any-offset). Probing each record at each
// byte, as sector starts are probed, costs tens of nanoseconds a byte; instead every record is
// known by two bytes of its header (its anchor, chosen to avoid 00 and FF, which fill media),
// one look-up in a 65,536-bit table per byte says whether any record could start near, and only
// then are the headers compared in full.
#pragma once

#include <cstdint>
#include <vector>

#include "carving/signature_file.h"
#include "storage/bytes.h"

namespace kfr::carving {

struct HeaderMatch {
    std::uint32_t candidate = 0;    // block offset where the file starts
    std::uint32_t offsetOrder = 0;  // place of the record's offset in the HeaderOffsetList
    std::uint32_t record = 0;       // index in the SignatureTable
};

class HeaderAnchors {
public:
    // The records that take part (used(record) is true), with their offsets' order.
    template <typename Used>
    HeaderAnchors(const SignatureTables& tables, Used used)
    {
        for (std::uint32_t i = 0; i < tables.table.size(); ++i)
            if (used(tables.table[i])) add(tables, i);
    }

    // Every match in block[0, valid) whose header lies wholly inside it, in the order the
    // sector-start probe would meet them: by candidate, then offset order, then table order.
    void find(const SignatureTable& table, Bytes block, std::uint32_t valid, std::vector<HeaderMatch>& out) const;

private:
    struct Anchor {
        std::uint32_t record;
        std::uint32_t offsetOrder;
        std::int64_t delta;  // from the candidate to the anchor's first byte
    };
    void add(const SignatureTables& tables, std::uint32_t record);

    std::vector<std::uint64_t> m_pairs = std::vector<std::uint64_t>(65536 / 64);  // anchors present
    std::vector<std::vector<Anchor>> m_byPair = std::vector<std::vector<Anchor>>(65536);
    std::vector<Anchor> m_single;  // one-byte headers, tried at every byte
};

}  // namespace kfr::carving
