// A sector source over bytes in memory, for tests, fuzzing and hand-built images.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/sector_source.h"

namespace kfr::storage {

class MemorySectorSource final : public SectorSource {
public:
    explicit MemorySectorSource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override;
    std::uint64_t sectorCount() const override { return (m_bytes.size() + kSectorSize - 1) / kSectorSize; }
    const std::string& path() const override { return m_path; }

    std::vector<std::uint8_t>& bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::string m_path;
};

}  // namespace kfr::storage
