// A disk of any size for hand-built partition layouts: only the sectors a test writes are held.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>

#include "storage/sector_source.h"

namespace kfr::test {

using Sector = std::array<std::uint8_t, 512>;

// A disk of any size held as the few sectors that are not zero; reads of the rest give zeros.
class SparseDisk final : public storage::SectorSource {
public:
    explicit SparseDisk(std::uint64_t sectors) : m_sectors(sectors) {}

    Sector& at(std::uint64_t sector) { return m_data[sector]; }
    void failSector(std::uint64_t sector) { m_bad.insert(sector); }

    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override
    {
        if (sector >= m_sectors) return false;
        highest = std::max(highest, sector + count - 1);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (m_bad.count(sector + i)) return false;
            const auto it = m_data.find(sector + i);
            std::uint8_t* out = buffer.data() + static_cast<std::size_t>(i) * 512;
            if (it == m_data.end())
                std::fill(out, out + 512, 0);
            else
                std::copy(it->second.begin(), it->second.end(), out);
        }
        return true;
    }
    std::uint64_t sectorCount() const override { return m_sectors; }
    const std::string& path() const override { return m_path; }

    mutable std::uint64_t highest = 0;  // the highest sector read

private:
    std::uint64_t m_sectors;
    std::map<std::uint64_t, Sector> m_data;
    std::set<std::uint64_t> m_bad;
    std::string m_path;
};

}  // namespace kfr::test
