// Running a piece of independent work over a range on two threads: the upper half on a thread of
// its own, the lower half on the calling thread. The machine this serves has few cores; two
// threads take most of what they give, and keep each half's results in the order of one loop.
#pragma once

#include <cstddef>
#include <thread>

namespace kfr::storage {

// Calls work(begin, end, half) for [0, count / 2) with half 0 on this thread and for
// [count / 2, count) with half 1 on another, and returns once both are done. A single item is
// done here alone. work must only read what the other half may touch.
template <typename Work>
void runInTwoHalves(std::size_t count, const Work& work)
{
    if (count < 2) {
        if (count == 1) work(std::size_t{0}, std::size_t{1}, 0);
        return;
    }
    const std::size_t middle = count / 2;
    std::jthread upper([&] { work(middle, count, 1); });
    work(std::size_t{0}, middle, 0);
}

}  // namespace kfr::storage
