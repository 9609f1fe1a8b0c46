// Following attribute lists on records built byte by byte: extension records are taken only when
// they still belong to the file, hostile lists (naming themselves, repeating, looping, pointing
// past the table) end, and $DATA extents join in VCN order.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "le_bytes.h"
#include "recovery/attribute_list.h"
#include "recovery/data_stream.h"
#include "recovery/mft_reader.h"
#include "storage/memory_source.h"

using namespace kfr;
using namespace kfr::recovery;

namespace {

// One record: header fields, then attributes appended in order.
struct Record {
    MftRecordBytes b{};
    std::size_t next = 56;

    Record(std::uint16_t sequence, bool inUse, std::uint64_t baseRef = 0)
    {
        std::memcpy(b.data(), "FILE", 4);
        test::putLe16(b.data() + 16, sequence);
        test::putLe16(b.data() + 20, 56);
        test::putLe16(b.data() + 22, inUse ? 1 : 0);
        test::putLe64(b.data() + 32, baseRef);
        end();
    }
    void end() { test::putLe32(b.data() + next, 0xFFFFFFFF); }
    Record& resident(std::uint32_t type, const std::vector<std::uint8_t>& value)
    {
        const auto length = static_cast<std::uint32_t>((24 + value.size() + 7) / 8 * 8);
        test::putLe32(b.data() + next, type);
        test::putLe32(b.data() + next + 4, length);
        test::putLe32(b.data() + next + 16, static_cast<std::uint32_t>(value.size()));
        test::putLe16(b.data() + next + 20, 24);
        std::memcpy(b.data() + next + 24, value.data(), value.size());
        next += length;
        end();
        return *this;
    }
    // An unnamed $DATA extent over VCNs lowest..highest; sizes only on the first.
    Record& dataExtent(std::uint64_t lowest, std::uint64_t highest, const std::vector<std::uint8_t>& runs,
                       std::uint64_t size = 0)
    {
        const auto length = static_cast<std::uint32_t>((64 + runs.size() + 1 + 7) / 8 * 8);
        test::putLe32(b.data() + next, kAttrData);
        test::putLe32(b.data() + next + 4, length);
        b[next + 8] = 1;
        test::putLe64(b.data() + next + 16, lowest);
        test::putLe64(b.data() + next + 24, highest);
        test::putLe64(b.data() + next + 48, size);
        test::putLe64(b.data() + next + 56, size);
        test::putLe16(b.data() + next + 32, 64);
        std::memcpy(b.data() + next + 64, runs.data(), runs.size());
        next += length;
        end();
        return *this;
    }
};

// An attribute-list value: (type, lowest VCN, record, sequence) per entry.
std::vector<std::uint8_t> listValue(std::initializer_list<std::array<std::uint64_t, 4>> entries)
{
    std::vector<std::uint8_t> v;
    for (const auto& [type, vcn, record, sequence] : entries) {
        std::vector<std::uint8_t> e(32, 0);
        test::putLe32(e.data(), static_cast<std::uint32_t>(type));
        test::putLe16(e.data() + 4, 32);
        e[7] = 26;
        test::putLe64(e.data() + 8, vcn);
        test::putLe64(e.data() + 16, record | (sequence << 48));
        v.insert(v.end(), e.begin(), e.end());
    }
    return v;
}

struct Records final : RecordSource {
    std::map<std::uint64_t, MftRecordBytes> byNumber;
    mutable int reads = 0;
    bool readRecordNumber(std::uint64_t n, MftRecordBytes& record) const override
    {
        ++reads;
        const auto it = byNumber.find(n);
        if (it == byNumber.end()) return false;
        record = it->second;
        return true;
    }
    std::optional<std::vector<std::uint8_t>> nonResidentValue(Bytes, const AttributeRef&, std::size_t) const override
    {
        return std::nullopt;
    }
};

constexpr std::uint64_t kBase = 40;

std::uint64_t baseRef(std::uint16_t sequence) { return kBase | (static_cast<std::uint64_t>(sequence) << 48); }

}  // namespace

TEST(AttributeList, ExtensionRecordsAreTakenOnlyWhileTheyBelongToTheFile)
{
    struct Case {
        const char* name;
        Record extension;
        std::uint16_t listedSequence;
        bool baseInUse;
        bool taken;
    };
    const Case cases[] = {
        {"its own extension", Record(3, true, baseRef(7)), 3, true, true},
        {"base reference as a whole: record 0 with a sequence", Record(3, true, 7ULL << 48), 3, true, false},
        {"names another base", Record(3, true, baseRef(7) + 1), 3, true, false},
        {"reused: sequence moved on and in use", Record(4, true, baseRef(7)), 3, true, false},
        {"no base at all", Record(3, true, 0), 3, true, false},
        // A deleted file: both records freed together, each sequence one step ahead.
        {"freed with its deleted base", Record(4, false, baseRef(7)), 3, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Records src;
        src.byNumber[41] = c.extension.b;
        Record base(c.baseInUse ? 7 : 8, c.baseInUse);
        base.resident(kAttrAttributeList, listValue({{kAttrData, 0, 41, c.listedSequence}}));
        const FileRecords got = followAttributeList(src, kBase, base.b);
        EXPECT_EQ(got.records.size(), c.taken ? 2u : 1u);
        EXPECT_EQ(got.refused, c.taken ? 0u : 1u);
    }
}

TEST(AttributeList, HostileListsEnd)
{
    Records src;
    src.byNumber[41] = Record(1, true, baseRef(1)).b;
    Record base(1, true);
    // Itself, an extension twice, records beyond the table, and a zero-length entry that would loop.
    auto list = listValue({{kAttrData, 0, kBase, 1}, {kAttrData, 5, 41, 1}, {kAttrData, 9, 41, 1},
                           {kAttrData, 12, 1ULL << 40, 1}, {kAttrData, 15, 999, 1}});
    std::vector<std::uint8_t> looping(32, 0);
    looping[0] = 0x80;  // type, then a length of 0
    list.insert(list.end(), looping.begin(), looping.end());
    base.resident(kAttrAttributeList, list);
    const FileRecords got = followAttributeList(src, kBase, base.b);
    EXPECT_EQ(got.numbers, (std::vector<std::uint64_t>{kBase, 41}));
    EXPECT_EQ(got.refused, 2u);
    EXPECT_EQ(src.reads, 3);  // 41 once, and the two beyond the table
    EXPECT_EQ(decodeAttributeList(list).size(), 5u);
}

TEST(DataStream, ExtentsJoinInVcnOrder)
{
    struct Case {
        const char* name;
        std::vector<Record> records;  // base first
        std::vector<DataRun> runs;
        bool missing;
    };
    // Extents listed out of order; the first carries the size.
    const std::vector<std::uint8_t> r0{0x11, 0x04, 0x10, 0};        // 4 clusters at 16
    const std::vector<std::uint8_t> r1{0x11, 0x02, 0x40, 0};        // 2 clusters at 64
    const std::vector<std::uint8_t> r1long{0x11, 0x09, 0x40, 0};    // claims 9 where its VCNs hold 2
    const std::vector<std::uint8_t> r2{0x11, 0x03, 0x20, 0};        // 3 clusters at 32
    const std::vector<Case> cases{
        {"three extents, out of order",
         {Record(1, true).dataExtent(6, 8, r2), Record(1, true).dataExtent(0, 3, r0, 36864),
          Record(1, true).dataExtent(4, 5, r1)},
         {{16, 4, false}, {64, 2, false}, {32, 3, false}}, false},
        {"an extent claiming more than its VCNs is cut",
         {Record(1, true).dataExtent(0, 3, r0, 36864), Record(1, true).dataExtent(4, 5, r1long),
          Record(1, true).dataExtent(6, 8, r2)},
         {{16, 4, false}, {64, 2, false}, {32, 3, false}}, false},
        {"a missing middle extent ends the runs",
         {Record(1, true).dataExtent(0, 3, r0, 36864), Record(1, true).dataExtent(6, 8, r2)},
         {{16, 4, false}}, true},
        {"a duplicate extent is taken once",
         {Record(1, true).dataExtent(0, 3, r0, 36864), Record(1, true).dataExtent(0, 3, r0, 36864)},
         {{16, 4, false}}, false},
        {"no extent at VCN 0", {Record(1, true).dataExtent(4, 5, r1)}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileRecords records;
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            records.numbers.push_back(kBase + i);
            records.records.push_back(c.records[i].b);
        }
        const auto stream = findDataStream(records, "");
        ASSERT_TRUE(stream);
        EXPECT_EQ(stream->extentMissing, c.missing);
        ASSERT_EQ(stream->runs.size(), c.runs.size());
        for (std::size_t i = 0; i < c.runs.size(); ++i) {
            EXPECT_EQ(stream->runs[i].startCluster, c.runs[i].startCluster) << i;
            EXPECT_EQ(stream->runs[i].length, c.runs[i].length) << i;
        }
        if (!c.missing) {
            EXPECT_EQ(stream->size, 36864u);
        }
    }
}

TEST(MftReader, RunTableIsBoundedByTheVolumeAndTheMedium)
{
    // 256 sectors, clusters of 8; the $MFT at sector 16 (cluster 2), record 5 where it should be.
    struct Case {
        const char* name;
        std::vector<std::uint8_t> runs;
        std::uint64_t dataSize;
        std::uint64_t expectedSectors;
    };
    const Case cases[] = {
        {"as stated", {0x11, 0x04, 0x02, 0}, 16 * 1024, 32},
        {"a run of 2^56 clusters stops at the medium's end", {0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02, 0}, 0, 240},
        // 2^61 clusters of 8 sectors: 2^64 sectors, 0 when multiplied in 64 bits.
        {"a run whose sectors wrap", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x02, 0}, 0, 240},
        {"a start that wraps", {0x11, 0x04, 0x02, 0x81, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x20, 0}, 0, 32},
        {"a start beyond the medium", {0x31, 0x04, 0xFF, 0xFF, 0x7F, 0}, 0, 0},
        {"a sparse run ends the table", {0x11, 0x04, 0x02, 0x01, 0x04, 0x11, 0x04, 0x10, 0}, 0, 32},
        {"the data size cuts the table", {0x11, 0x10, 0x02, 0}, 20 * 1024, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        storage::MemorySectorSource medium(std::vector<std::uint8_t>(256 * 512, 0));
        Record record0(1, true);
        record0.dataExtent(0, 0, c.runs, c.dataSize);
        std::copy(record0.b.begin(), record0.b.end(), medium.bytes().begin() + 16 * 512);
        const Record root(5, true);
        std::copy(root.b.begin(), root.b.end(), medium.bytes().begin() + 26 * 512);
        volumes::VolumeParameters p;
        p.partType = "NTFS";
        p.spc = 8;
        p.mftSector = 16;
        const MftReader reader(medium, p);
        EXPECT_EQ(reader.totalSectors(), c.expectedSectors);
        for (const auto& run : reader.runs()) EXPECT_LE(run.firstSector + run.sectorCount, 256u);
    }
}
