// LZNT1 decompression of arbitrary compression units into outputs of a unit and of less.
#include <vector>

#include "recovery/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t outputBytes : {std::size_t{65536}, std::size_t{5000}, std::size_t{0}}) {
        std::vector<std::uint8_t> output(outputBytes, 0xAA);
        const auto result = kfr::recovery::decompressLznt1({data, size}, output);
        if (result.produced > output.size()) __builtin_trap();
    }
    return 0;
}
