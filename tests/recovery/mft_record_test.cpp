// NTFS file records from exact bytes: fix-ups, attribute walks that must stop on hostile
// lengths, file-name values, attribute lists that name their own record, run lists and times.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "le_bytes.h"
#include "recovery/attribute_list.h"
#include "recovery/mft_reader.h"
#include "recovery/mft_record.h"
#include "recovery/run_list.h"
#include "storage/memory_source.h"

using namespace kfr;
using namespace kfr::recovery;

namespace {

struct RecordBuilder {
    std::array<std::uint8_t, 1024> b{};
    std::size_t next = 56;

    RecordBuilder()
    {
        std::memcpy(b.data(), "FILE", 4);
        put16(4, 48);  // update sequence array at 48, 3 entries
        put16(6, 3);
        put16(48, 0x0001);
        put16(50, 0xAAAA);  // original last bytes of sector 1
        put16(52, 0xBBBB);  // ... and of sector 2
        put16(510, 0x0001);
        put16(1022, 0x0001);
        put16(20, 56);
        put16(22, 0x01);  // in use, file
    }
    void put16(std::size_t o, std::uint16_t v) { test::putLe16(b.data() + o, v); }
    void put32(std::size_t o, std::uint32_t v) { test::putLe32(b.data() + o, v); }
    // A resident attribute with the given value; returns its offset.
    std::size_t resident(std::uint32_t type, const std::vector<std::uint8_t>& value)
    {
        const std::size_t at = next;
        const auto length = static_cast<std::uint32_t>((24 + value.size() + 7) / 8 * 8);
        put32(at, type);
        put32(at + 4, length);
        b[at + 8] = 0;
        put32(at + 16, static_cast<std::uint32_t>(value.size()));
        put16(at + 20, 24);
        std::memcpy(b.data() + at + 24, value.data(), value.size());
        next += length;
        put32(next, 0xFFFFFFFF);
        return at;
    }
    static std::vector<std::uint8_t> fileName(std::uint64_t parent, std::uint8_t nameSpace, const std::u16string& name)
    {
        std::vector<std::uint8_t> v(66 + 2 * name.size(), 0);
        for (int i = 0; i < 6; ++i) v[i] = static_cast<std::uint8_t>(parent >> (8 * i));
        v[8] = 0x11;  // creation time
        v[64] = static_cast<std::uint8_t>(name.size());
        v[65] = nameSpace;
        for (std::size_t i = 0; i < name.size(); ++i) {
            v[66 + 2 * i] = static_cast<std::uint8_t>(name[i]);
            v[67 + 2 * i] = static_cast<std::uint8_t>(name[i] >> 8);
        }
        return v;
    }
};

}  // namespace

TEST(MftRecord, FixupRestoresSectorEnds)
{
    RecordBuilder r;
    ASSERT_EQ(applyFixup(r.b), RecordVerdict::Usable);
    EXPECT_EQ(r.b[510], 0xAA);
    EXPECT_EQ(r.b[1023], 0xBB);

    RecordBuilder bad;
    bad.put16(6, 600);  // array would run past the record
    EXPECT_EQ(applyFixup(bad.b), RecordVerdict::BadUpdateSequence);
    std::array<std::uint8_t, 1024> blank{};
    EXPECT_EQ(applyFixup(blank), RecordVerdict::NoFileMagic);
}

TEST(MftRecord, AttributeWalkStopsOnHostileLengths)
{
    struct Case {
        const char* name;
        void (*damage)(RecordBuilder&);
        std::size_t expected;
    };
    const Case cases[] = {
        {"intact", [](RecordBuilder&) {}, 2},
        {"zero length", [](RecordBuilder& r) { r.put32(56 + 4, 0); }, 0},
        {"length past the record", [](RecordBuilder& r) { r.put32(56 + 4, 5000); }, 0},
        {"first attribute offset past the record", [](RecordBuilder& r) { r.put16(20, 1020); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordBuilder r;
        r.resident(kAttrFileName, RecordBuilder::fileName(5, 1, u"a.txt"));
        r.resident(kAttrData, {1, 2, 3});
        c.damage(r);
        EXPECT_EQ(listAttributes(r.b).size(), c.expected);
    }
    // A resident value whose stated length runs past the record is no value.
    RecordBuilder r;
    const auto at = r.resident(kAttrData, {1, 2, 3});
    r.put32(at + 16, 4000);
    EXPECT_FALSE(residentValue(r.b, listAttributes(r.b).at(0)));
}

TEST(MftRecord, NamePreferenceAndSelfNamingAttributeList)
{
    // Record 7 holds a DOS name, a Win32 name and an attribute list that names record 7 itself.
    RecordBuilder r;
    r.resident(kAttrFileName, RecordBuilder::fileName(5, 2, u"LONGNA~1.TXT"));
    r.resident(kAttrFileName, RecordBuilder::fileName(5, 1, u"Long name.txt"));
    std::vector<std::uint8_t> list(32, 0);
    list[0] = 0x30;
    list[4] = 32;  // entry length
    list[16] = 7;  // names record 7: itself
    r.resident(kAttrAttributeList, list);
    std::vector<std::uint8_t> volume(64 * 512, 0);
    storage::MemorySectorSource src(volume);
    volumes::VolumeParameters p;
    p.partType = "NTFS";
    p.spc = 8;
    MftReader reader(src, p);  // no MFT on this blank volume: the list cannot be followed
    ASSERT_EQ(applyFixup(r.b), RecordVerdict::Usable);
    const NameMatch match = reader.findName(r.b, 7);
    ASSERT_TRUE(match.found);
    EXPECT_EQ(match.value.name, "Long name.txt");
    EXPECT_EQ(match.value.parent.record, 5u);
    const auto entries = decodeAttributeList(*residentValue(r.b, listAttributes(r.b).at(2)));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].reference.record, 7u);
}

TEST(RunList, DecodesOffsetsLengthsAndSparseRuns)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> runs;
        std::vector<DataRun> expected;
    };
    const Case cases[] = {
        {"one run", {0x21, 0x10, 0x00, 0x01}, {{256, 16, false}}},
        {"second run steps back", {0x11, 0x04, 0x40, 0x11, 0x02, 0xF0}, {{64, 4, false}, {48, 2, false}}},
        {"first offset is unsigned", {0x11, 0x01, 0x80}, {{128, 1, false}}},
        {"sparse run", {0x11, 0x04, 0x40, 0x01, 0x08, 0x11, 0x01, 0x10}, {{64, 4, false}, {0, 8, true}, {80, 1, false}}},
        {"run fields past the record end the list", {0x11, 0x04, 0x40, 0x88}, {{64, 4, false}}},
        {"steps that overflow wrap instead of misbehaving",
         {0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
         {{0x7FFFFFFFFFFFFFFFULL, 1, false}, {0xFFFFFFFFFFFFFFFEULL, 1, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> record(64 + c.runs.size(), 0);
        record[32] = 64;  // run list offset within the attribute at 0
        std::copy(c.runs.begin(), c.runs.end(), record.begin() + 64);
        auto runs = decodeRunList(record, 0);
        ASSERT_TRUE(runs);
        ASSERT_EQ(runs->size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ((*runs)[i].startCluster, c.expected[i].startCluster) << i;
            EXPECT_EQ((*runs)[i].length, c.expected[i].length) << i;
            EXPECT_EQ((*runs)[i].sparse, c.expected[i].sparse) << i;
        }
    }
    std::vector<std::uint8_t> record(40, 0);
    record[32] = 200;  // run list outside the record
    EXPECT_FALSE(decodeRunList(record, 0));
}

TEST(NtfsTime, DatesAndTimesAsStored)
{
    EXPECT_EQ(formatNtfsDate(0), "01-JAN-1601");
    EXPECT_EQ(formatNtfsTime(0), "00:00:00");
    // 2024-03-15 10:20:30 UTC
    const std::uint64_t stamp = (1710498030ULL + 11644473600ULL) * 10000000ULL;
    EXPECT_EQ(formatNtfsDate(stamp), "15-MAR-2024");
    EXPECT_EQ(formatNtfsTime(stamp), "10:20:30");
    const std::uint64_t leap = (951782400ULL + 11644473600ULL) * 10000000ULL;  // 2000-02-29
    EXPECT_EQ(formatNtfsDate(leap), "29-FEB-2000");
}
