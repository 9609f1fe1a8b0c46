// Populating reserved memory ahead of its first writes.
#include "storage/memory_room.h"

#include <algorithm>
#include <cstdint>
#include <sys/mman.h>

#include "storage/mapped_window.h"

namespace kfr::storage {

void populateForWriting(const void* begin, const void* end)
{
#ifdef MADV_POPULATE_WRITE
    const auto page = static_cast<std::uintptr_t>(pageBytes());
    const auto from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const auto to = reinterpret_cast<std::uintptr_t>(end) & ~(page - 1);
    // The whole pages inside the range; failure leaves them to fault in as they are used. A
    // megabyte a call: the kernel holds the process's memory map while it populates, and other
    // threads mapping memory (any large allocation) wait for it meanwhile.
    constexpr std::uintptr_t kStep = std::uintptr_t{1} << 20;
    for (std::uintptr_t at = from; at < to; at += kStep)
        if (::madvise(reinterpret_cast<void*>(at), std::min(kStep, to - at), MADV_POPULATE_WRITE) != 0) return;
#else
    (void)begin;
    (void)end;
#endif
}

}  // namespace kfr::storage
