// Following attribute lists: the input is a run of 1,024-byte file records (record n at byte
// 1,024 n), read both through a record source that hands them out directly and as the $MFT of a
// small volume, so lists that name themselves, loop, or point past the table meet the follower
// and the extent joiner.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "recovery/attribute_list.h"
#include "recovery/data_stream.h"
#include "recovery/mft_reader.h"

namespace {

using namespace kfr::recovery;

class FuzzRecords final : public RecordSource {
public:
    FuzzRecords(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool readRecordNumber(std::uint64_t n, MftRecordBytes& record) const override
    {
        if (n >= m_size / kMftRecordBytes) return false;
        std::memcpy(record.data(), m_data + n * kMftRecordBytes, kMftRecordBytes);
        return applyFixup(record) == RecordVerdict::Usable;
    }
    std::optional<std::vector<std::uint8_t>> nonResidentValue(kfr::Bytes, const AttributeRef&,
                                                              std::size_t maxBytes) const override
    {
        // The tail of the input stands for the list's clusters.
        const std::size_t take = std::min(maxBytes, m_size / 2);
        return std::vector<std::uint8_t>(m_data + m_size - take, m_data + m_size);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

void follow(const RecordSource& source, std::uint64_t n, const MftRecordBytes& record)
{
    const FileRecords records = followAttributeList(source, n, record);
    for (const auto& stream : dataStreams(records)) (void)stream.runs.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzRecords direct(data, size);
    MftRecordBytes record{};
    for (std::uint64_t n = 0; n < 128; ++n)
        if (direct.readRecordNumber(n, record)) follow(direct, n, record);

    // The same bytes as the $MFT of a volume with 512-byte clusters, after two sectors of zeros.
    std::vector<std::uint8_t> padded(kMftRecordBytes, 0);
    padded.insert(padded.end(), data, data + size);
    auto medium = kfr::fuzz::mediumFrom(padded.data(), padded.size());
    kfr::volumes::VolumeParameters p;
    p.partType = "NTFS";
    p.spc = 1;
    p.mftSector = 2;
    p.cluster0Start = 0;
    const MftReader reader(medium, p);
    for (std::uint64_t n = 0; n < std::min<std::uint64_t>(reader.recordCount(), 128); ++n) {
        if (!reader.readRecordNumber(n, record)) continue;
        (void)reader.findName(record, n);
        if (const auto sector = reader.sectorOf(n)) (void)reader.describeFile(*sector, n);
    }
    return 0;
}
