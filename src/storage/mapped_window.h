// Reading an image file through memory-mapped windows. A sweep over a file held in the page cache
// then looks only at the bytes it tests instead of copying every block out of the cache first.
// Only regular files are mapped: a block device is limited by the device, not by the copy.
//
// An I/O error on a mapped page arrives as SIGBUS, which would end the process. Two things keep
// that from happening: a block is read through the mapping only when every page of it is in the
// page cache and up to date (such a page needs no I/O), and a guard catches what is left (the
// file cut short, or a page dropped from the cache and failing when read again): the page then
// reads as zeros and the guard notes it, so the reader can report those sectors as unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kfr::storage {

// A read-only mapping of part of a file.
class MappedWindow {
public:
    MappedWindow() = default;
    ~MappedWindow() { unmap(); }
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    // Maps length bytes of fd from byteOffset (rounded down to a page). Any earlier mapping is
    // dropped first. False when the mapping fails.
    bool map(int fd, std::uint64_t byteOffset, std::size_t length);
    void unmap();

    bool mapped() const { return m_base != nullptr; }
    // Whether [byteOffset, byteOffset + length) of the file lies inside the mapping.
    bool covers(std::uint64_t byteOffset, std::size_t length) const;
    // The bytes of the file at [byteOffset, byteOffset + length); covers() must hold.
    std::span<const std::uint8_t> bytes(std::uint64_t byteOffset, std::size_t length) const;
    // Whether every page of [byteOffset, byteOffset + length) is in the page cache and up to
    // date, so reading it through the mapping needs no I/O and cannot fail.
    bool resident(std::uint64_t byteOffset, std::size_t length) const;
    // Lets go of the pages mapped so far: they stay in the page cache, and reading them again
    // maps them again. A long copy through a large window then does not hold all it has read.
    void releasePages() const;

    const std::uint8_t* base() const { return m_base; }
    std::size_t length() const { return m_length; }
    std::uint64_t fileOffset() const { return m_fileOffset; }

private:
    std::uint8_t* m_base = nullptr;
    std::size_t m_length = 0;
    std::uint64_t m_fileOffset = 0;
};

// While a guard lives, a SIGBUS raised on this thread by a page of its window no longer ends the
// process: the page is replaced by one of zeros (the read that faulted sees zeros) and its file
// offset is noted. Faults elsewhere go to whatever handled SIGBUS before. One guard per thread at
// a time; the window must stay mapped while the guard lives.
class MappedFaultGuard {
public:
    explicit MappedFaultGuard(const MappedWindow& window);
    ~MappedFaultGuard();
    MappedFaultGuard(const MappedFaultGuard&) = delete;
    MappedFaultGuard& operator=(const MappedFaultGuard&) = delete;

    struct Faults {
        std::vector<std::uint64_t> pageOffsets;  // file byte offsets of the pages, in fault order
        bool overflowed = false;                 // more faulted than were kept (a few hundred)
    };
    // The pages that faulted since the guard began or since the last call.
    Faults takeFaults();
};

// The size of a memory page.
std::size_t pageBytes();

}  // namespace kfr::storage
