// Making the kernel give fresh memory its pages ahead of use. A scan of a million folders writes
// hundreds of megabytes it has only reserved; each page faulted in one at a time on first write
// costs more than the write. Handed over in one call (on another thread while this one works) the
// pages are ready when the writing comes.
#pragma once

#include <cstddef>

namespace kfr::storage {

// Asks the kernel to back the whole pages inside [begin, end) with writable memory now, without
// changing their bytes, in large pages where it can. A hint only: where the kernel cannot (before
// Linux 5.14), nothing happens.
void populateForWriting(const void* begin, const void* end);

// Asks the kernel to back the whole pages inside [begin, end) with large pages where it can: a
// fault then readies two megabytes instead of four kilobytes. Where a page fault is dear (seen on
// virtual machines) placing a million folders took a third of the time. A hint only.
void preferLargePages(const void* begin, const void* end);

}  // namespace kfr::storage
