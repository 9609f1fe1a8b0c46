// A candidate file's bytes as the end rules read them: straight from the block the scan holds
// while they lie in it, through a window of the medium read ahead beyond it.
#pragma once

#include <cstdint>
#include <vector>

#include "carving/end_rules.h"
#include "storage/sector_source.h"

namespace kfr::carving {

class MediumFileBytes final : public FileBytes {
public:
    explicit MediumFileBytes(const storage::SectorSource& source) : m_source(source) {}

    // The file starts at firstByte of the medium and may reach limit bytes; block is the scan's
    // current block, which starts at blockFirstByte.
    void reset(std::uint64_t firstByte, std::uint64_t limit, Bytes block, std::uint64_t blockFirstByte)
    {
        m_first = firstByte;
        m_limit = limit;
        m_block = block;
        m_blockFirst = blockFirstByte;
    }

    std::uint64_t limit() const override { return m_limit; }
    Bytes readSome(std::uint64_t offset, std::size_t n) override;

private:
    bool fill(std::uint64_t firstByte, std::size_t n);

    const storage::SectorSource& m_source;
    std::uint64_t m_first = 0;
    std::uint64_t m_limit = 0;
    Bytes m_block;
    std::uint64_t m_blockFirst = 0;
    // Kept across candidates: the next file often starts where the last one's window lies.
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_windowFirst = 0;
    std::size_t m_windowSize = 0;
};

}  // namespace kfr::carving
