// The end rules over arbitrary bytes: the first byte picks the rule and the limit, the rest is
// the candidate file. A rule never claims an end past its limit.
#include <cstdint>
#include <cstdlib>

#include "carving/end_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kfr::carving;
    if (size < 2) return 0;
    const auto rule = static_cast<EndRule>(1 + data[0] % static_cast<int>(EndRule::Compound));
    const kfr::Bytes bytes(data + 1, size - 1);
    // Half the inputs are cut short, as the maximum size or the end of the range cuts a file.
    const std::uint64_t limit = (data[0] & 0x80) ? bytes.size() / 2 : bytes.size();
    SpanFileBytes file(bytes, limit);
    const FileEnd end = findFileEnd(rule, file);
    if (end.verdict == EndVerdict::Found && end.length > limit) std::abort();
    return 0;
}
