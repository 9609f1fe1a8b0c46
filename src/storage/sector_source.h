// Reading a medium as an array of 512-byte sectors. A source is a disk, a partition, a mounted
// volume's block device or an image file; it is only ever opened read-only. Scans hold one
// source for their whole loop; single reads use readSectors, which opens and closes each time.
#pragma once

#include <cstdint>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>

#include "storage/result.h"
#include "storage/unique_fd.h"

namespace kfr::storage {

inline constexpr std::uint32_t kSectorSize = 512;

inline constexpr std::uint64_t byteOffsetOf(std::uint64_t sector) { return sector << 9; }

// The image file behind a source: a regular file, which readers may map or copy from in the
// kernel instead of reading it into their own buffers.
struct ImageFile {
    int fd = -1;                // open read-only; owned by the source
    std::uint64_t byteSize = 0;  // as the source measured it when opened
};

// A read-only view of a medium in whole sectors. Implementations must allow reads from several
// threads at once (no shared file position).
class SectorSource {
public:
    virtual ~SectorSource() = default;

    // Reads count sectors starting at sector into buffer (which holds count * 512 bytes).
    // A read that reaches past the end of the medium succeeds and leaves the buffer's tail as it
    // was; a read that starts at or beyond the end, or fails, returns false.
    virtual bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const = 0;

    // Number of whole and partial sectors of the medium (0 when unknown).
    virtual std::uint64_t sectorCount() const = 0;

    // Path the source was opened from ("" for sources in memory).
    virtual const std::string& path() const = 0;

    // Whether the medium is still there: false once a disk was unplugged (its device node is
    // gone or names another device now), so that failing reads can be told from bad sectors.
    virtual bool present() const { return true; }

    // The image file the sectors are read from, or nothing (block devices, sources in memory, and
    // sources that change what they read). Reads through it must give what read() gives.
    virtual std::optional<ImageFile> imageFile() const { return std::nullopt; }
};

// A sector source over a file descriptor opened O_RDONLY. Reads use pread, so one instance may be
// shared by threads.
class FileSectorSource final : public SectorSource {
public:
    // Opens path read-only. The error says whether the path is missing or read permission is
    // lacking (raw disks need root or membership of the "disk" group).
    static Result<std::unique_ptr<FileSectorSource>> open(const std::string& path);

    FileSectorSource(const FileSectorSource&) = delete;
    FileSectorSource& operator=(const FileSectorSource&) = delete;

    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override;
    std::uint64_t sectorCount() const override { return m_sectorCount; }
    const std::string& path() const override { return m_path; }
    bool present() const override;
    std::optional<ImageFile> imageFile() const override;
    std::uint64_t byteSize() const { return m_byteSize; }

private:
    FileSectorSource(UniqueFd fd, std::string path, std::uint64_t byteSize);
    UniqueFd m_fd;
    std::string m_path;
    std::uint64_t m_byteSize = 0;
    std::uint64_t m_sectorCount = 0;
    // What the path named when it was opened.
    dev_t m_device = 0;
    ino_t m_inode = 0;
    dev_t m_rdev = 0;
    bool m_blockDevice = false;
};

using SectorBytes = std::array<std::uint8_t, kSectorSize>;

// One sector from a source, or nothing when it cannot be read.
std::optional<SectorBytes> readOneSector(const SectorSource& source, std::uint64_t sector);

// One-shot read: opens path, reads, closes. Returns false (and says nothing) when the path cannot
// be opened or the read fails. A count of 0 succeeds when the path opens.
bool readSectors(const std::string& path, std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer);

// Opens the device or image named by path; the shared way for tools to get a source.
Result<std::unique_ptr<SectorSource>> openSource(const std::string& path);

}  // namespace kfr::storage
