// Populating reserved memory ahead of its first writes.
#include "storage/memory_room.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>

#include "storage/mapped_window.h"

namespace kfr::storage {

namespace {

// The whole pages inside [begin, end), as addresses [from, to).
struct WholePages {
    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
};

WholePages wholePages(const void* begin, const void* end)
{
    const auto page = static_cast<std::uintptr_t>(pageBytes());
    return {(reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1),
            reinterpret_cast<std::uintptr_t>(end) & ~(page - 1)};
}

}  // namespace

void preferLargePages(const void* begin, const void* end)
{
#ifdef MADV_HUGEPAGE
    const WholePages pages = wholePages(begin, end);
    if (pages.to > pages.from) ::madvise(reinterpret_cast<void*>(pages.from), pages.to - pages.from, MADV_HUGEPAGE);
#else
    (void)begin;
    (void)end;
#endif
}

void populateForWriting(const void* begin, const void* end)
{
    preferLargePages(begin, end);
#ifdef MADV_POPULATE_WRITE
    const WholePages pages = wholePages(begin, end);
    // Failure leaves the pages to fault in as they are used. A megabyte a call: the kernel holds
    // the process's memory map while it populates, and other threads mapping memory (any large
    // allocation) wait for it meanwhile.
    constexpr std::uintptr_t kStep = std::uintptr_t{1} << 20;
    for (std::uintptr_t at = pages.from; at < pages.to; at += kStep)
        if (::madvise(reinterpret_cast<void*>(at), std::min(kStep, pages.to - at), MADV_POPULATE_WRITE) != 0) return;
#endif
}

}  // namespace kfr::storage
