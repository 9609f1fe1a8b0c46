// A medium whose reads from a given sector on wait until released: the screenshots catch a
// search in the middle of its work with it, and tests act while a search is under way.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "storage/sector_source.h"

namespace kfr::ui {

struct ReadGate {
    explicit ReadGate(std::uint64_t from) : fromSector(from) {}
    std::atomic<std::uint64_t> fromSector;
    std::atomic<bool> reached{false};   // a read from fromSector on was asked for
    std::atomic<bool> released{false};  // reads go on
};

class HeldSource final : public storage::SectorSource {
public:
    HeldSource(std::unique_ptr<storage::SectorSource> inner, std::shared_ptr<ReadGate> gate)
        : m_inner(std::move(inner)), m_gate(std::move(gate))
    {
    }
    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override
    {
        if (sector >= m_gate->fromSector) {
            m_gate->reached = true;
            // A minute at most: a gate nobody opens never hangs its caller.
            for (int i = 0; i < 60000 && !m_gate->released; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return m_inner->read(sector, count, buffer);
    }
    std::uint64_t sectorCount() const override { return m_inner->sectorCount(); }
    const std::string& path() const override { return m_inner->path(); }

private:
    std::unique_ptr<storage::SectorSource> m_inner;
    std::shared_ptr<ReadGate> m_gate;
};

}  // namespace kfr::ui
