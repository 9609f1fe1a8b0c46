// Run-list decoding.
#include "recovery/run_list.h"

namespace kfr::recovery {

namespace {
constexpr std::size_t kRunListOffsetField = 0x20;
}  // namespace

Result<RunList> decodeRunList(Bytes record, std::size_t attrOffset)
{
    RunList runs;
    const std::size_t size = record.size();
    if (attrOffset + kRunListOffsetField + 2 > size)
        return Error{ErrorKind::Implausible, 0, {}, "attribute lies outside the record"};
    std::size_t p = attrOffset + readLe16(record, attrOffset + kRunListOffsetField);
    if (p >= size) return Error{ErrorKind::Implausible, 0, {}, "run list lies outside the record"};

    // Starts are summed modulo 2^64: a hostile list may step anywhere, and a start outside the
    // volume simply fails to read later.
    std::uint64_t previous = 0;
    bool first = true;
    while (p < size && record[p] != 0) {
        const std::uint8_t header = record[p];
        const std::size_t lengthBytes = header & 0x0F;
        const std::size_t offsetBytes = header >> 4;
        if (lengthBytes > 8 || offsetBytes > 8 || p + 1 + lengthBytes + offsetBytes > size) break;
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) length |= static_cast<std::uint64_t>(record[p + 1 + i]) << (8 * i);
        DataRun run;
        run.length = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            std::uint64_t raw = 0;
            for (std::size_t i = 0; i < offsetBytes; ++i)
                raw |= static_cast<std::uint64_t>(record[p + 1 + lengthBytes + i]) << (8 * i);
            std::uint64_t step = raw;
            const bool negative = (raw >> (8 * offsetBytes - 1)) & 1;
            if (!first && negative && offsetBytes < 8) step = raw | (~0ULL << (8 * offsetBytes));  // sign-extend
            previous = first ? step : previous + step;
            run.startCluster = previous;
            first = false;
        }
        runs.push_back(run);
        p += 1 + lengthBytes + offsetBytes;
    }
    return runs;
}

}  // namespace kfr::recovery
