// Tiny FAT volumes built byte by byte in memory, for faults that need exact bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "le_bytes.h"

namespace kfr::test {

class FatImageBuilder {
public:
    explicit FatImageBuilder(std::uint64_t sectors) : bytes(sectors * 512, 0) {}

    std::uint8_t* sector(std::uint64_t s) { return bytes.data() + s * 512; }

    void put16(std::uint64_t byteOffset, std::uint16_t v) { putLe16(bytes.data() + byteOffset, v); }
    void put32(std::uint64_t byteOffset, std::uint32_t v) { putLe32(bytes.data() + byteOffset, v); }

    // A FAT16 boot sector at sector first.
    void fat16Boot(std::uint64_t first, std::uint8_t spc, std::uint16_t reserved, std::uint16_t rootEntries,
                   std::uint16_t spf)
    {
        std::uint8_t* b = sector(first);
        b[13] = spc;
        put16(first * 512 + 14, reserved);
        b[16] = 2;
        put16(first * 512 + 17, rootEntries);
        put16(first * 512 + 22, spf);
        std::memcpy(b + 54, "FAT16   ", 8);
        b[510] = 0x55;
        b[511] = 0xAA;
    }

    // Media bytes at the start of a FAT.
    void fatStart(std::uint64_t s)
    {
        sector(s)[0] = 0xF8;
        sector(s)[1] = 0xFF;
    }

    // A directory's first sector: "." naming selfCluster and ".." naming parentCluster.
    void directory(std::uint64_t s, std::uint32_t selfCluster, std::uint32_t parentCluster)
    {
        std::uint8_t* d = sector(s);
        std::memset(d, ' ', 11);
        d[0] = '.';
        d[11] = 0x10;
        put16(s * 512 + 20, static_cast<std::uint16_t>(selfCluster >> 16));
        put16(s * 512 + 26, static_cast<std::uint16_t>(selfCluster));
        std::memset(d + 32, ' ', 11);
        d[32] = '.';
        d[33] = '.';
        d[43] = 0x10;
        put16(s * 512 + 52, static_cast<std::uint16_t>(parentCluster >> 16));
        put16(s * 512 + 58, static_cast<std::uint16_t>(parentCluster));
    }

    // A short directory entry at byte offset `at` of sector s.
    void entry(std::uint64_t s, std::size_t at, const char name11[11], std::uint8_t attr, std::uint32_t cluster,
               std::uint32_t size = 0)
    {
        std::uint8_t* e = sector(s) + at;
        std::memcpy(e, name11, 11);
        e[11] = attr;
        put16(s * 512 + at + 20, static_cast<std::uint16_t>(cluster >> 16));
        put16(s * 512 + at + 26, static_cast<std::uint16_t>(cluster));
        put32(s * 512 + at + 28, size);
    }

    std::vector<std::uint8_t> bytes;
};

}  // namespace kfr::test
