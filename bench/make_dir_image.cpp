// Plants directories into a freshly formatted FAT32 image for the Basic Search, listing and saving
// benchmarks: each directory's first sector holds ".", ".." and entries naming up to 12 children,
// optionally one file of one cluster (in the cluster after the directory's), then an end mark.
// The directories are spread evenly over the data area so the scan meets them all the way through.
// Every directory and file is one cluster, marked as a whole chain in both FATs, so that tools
// that read a volume through its FAT (mcopy, tsk_recover) see the same tree.
// Usage: make_dir_image IMAGE DIRECTORY_COUNT [FILES_PER_DIRECTORY (0 or 1)]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "storage/sector_source.h"
#include "volumes/boot_parameters.h"

namespace {

void put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void entry(std::uint8_t* e, const char* name11, std::uint32_t cluster, std::uint32_t fileBytes = 0)
{
    std::memcpy(e, name11, 11);
    e[11] = fileBytes ? 0x20 : 0x10;
    put16(e + 20, static_cast<std::uint16_t>(cluster >> 16));
    put16(e + 26, static_cast<std::uint16_t>(cluster));
    for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(fileBytes >> (8 * i));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s IMAGE DIRECTORY_COUNT [FILES_PER_DIRECTORY (0 or 1)]\n", argv[0]);
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const bool withFiles = argc == 4 && std::strtoull(argv[3], nullptr, 10) > 0;
    auto src = kfr::storage::openSource(argv[1]);
    if (!src) return 1;
    auto p = kfr::volumes::readBootParameters(**src, {argv[1], 0, (*src)->sectorCount() - 1, "FAT32"});
    if (!p) {
        std::fprintf(stderr, "not a FAT32 image\n");
        return 1;
    }
    const std::uint64_t clusters = ((*src)->sectorCount() - p->clusterSector(2)) / p->spc;
    const std::uint64_t spacing = (clusters - 16) / (count + 1);
    if (spacing < (withFiles ? 2u : 1u)) {
        std::fprintf(stderr, "image too small for %llu directories\n", static_cast<unsigned long long>(count));
        return 1;
    }
    src.value().reset();  // close the read-only handle before writing
    const int fd = ::open(argv[1], O_RDWR);
    if (fd < 0) return 1;
    auto clusterOf = [&](std::uint64_t i) { return static_cast<std::uint32_t>(3 + i * spacing); };
    std::vector<std::uint8_t> fat(static_cast<std::size_t>(p->spf) * 512);
    if (::pread(fd, fat.data(), fat.size(), static_cast<off_t>(p->firstFat * 512)) != static_cast<ssize_t>(fat.size()))
        return 1;
    auto endChain = [&](std::uint32_t cluster) {
        const std::size_t at = static_cast<std::size_t>(cluster) * 4;
        if (at + 4 <= fat.size()) put16(&fat[at], 0xFFFF), put16(&fat[at + 2], 0x0FFF);
    };
    constexpr std::uint64_t kFanOut = 12;  // with a file, 15 entries: the 16th is the end mark
    std::vector<std::uint8_t> sector(512);
    char name[32];  // 11 bytes used: D, seven digits, DIR
    for (std::uint64_t i = 0; i < count; ++i) {
        std::fill(sector.begin(), sector.end(), 0);
        const std::uint32_t self = clusterOf(i);
        const std::uint32_t parent = i == 0 ? 0 : clusterOf((i - 1) / kFanOut);
        entry(sector.data(), ".          ", self);
        entry(sector.data() + 32, "..         ", parent);
        std::uint64_t slot = 2;
        for (std::uint64_t k = 0; k < kFanOut; ++k) {
            const std::uint64_t child = i * kFanOut + 1 + k;
            if (child >= count) break;
            std::snprintf(name, sizeof name, "D%07lluDIR", static_cast<unsigned long long>(child));
            entry(sector.data() + 32 * slot++, name, clusterOf(child));
        }
        endChain(self);
        if (withFiles) {
            std::snprintf(name, sizeof name, "F%07lluBIN", static_cast<unsigned long long>(i));
            entry(sector.data() + 32 * slot, name, self + 1, p->spc * 512u);
            endChain(self + 1);
        }
        const std::uint64_t offset = p->clusterSector(self) * 512;
        if (::pwrite(fd, sector.data(), 512, static_cast<off_t>(offset)) != 512) return 1;
    }
    // The root names the first directory.
    std::fill(sector.begin(), sector.end(), 0);
    entry(sector.data(), "D0000000DIR", clusterOf(0));
    if (::pwrite(fd, sector.data(), 512, static_cast<off_t>(p->clusterSector(p->rootStart) * 512)) != 512) return 1;
    for (const std::uint64_t copy : {p->firstFat, p->secondFat})
        if (copy && ::pwrite(fd, fat.data(), fat.size(), static_cast<off_t>(copy * 512)) != static_cast<ssize_t>(fat.size()))
            return 1;
    ::close(fd);
    return 0;
}
