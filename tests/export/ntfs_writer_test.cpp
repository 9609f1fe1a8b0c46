// The NTFS writer on file records built byte by byte: resident and non-resident data, sparse
// and fragmented runs, and records or run lists that are damaged or lie about their size.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>

#include "export/ntfs_writer.h"
#include "recovery/mft_record.h"
#include "export_test_util.h"
#include "storage/memory_source.h"

using namespace kfr;
using namespace kfr::exporting;

namespace {

constexpr std::uint32_t kClusterBytes = 4096;
constexpr std::uint64_t kVolumeClusters = 64;

struct RecordBuilder {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(1024, 0);
    std::size_t next = 0x38;

    RecordBuilder()
    {
        std::memcpy(bytes.data(), "FILE", 4);
        put(0x04, 0x30, 2);  // update sequence at 0x30, count 0: nothing to fix up
        put(0x14, 0x38, 2);  // first attribute
        put(0x16, 1, 2);     // in use
    }
    void put(std::size_t at, std::uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    RecordBuilder& resident(const std::string& value, std::uint8_t nameLength = 0, std::uint32_t claimedLength = 0)
    {
        const std::size_t valueOffset = 24 + nameLength * 2;
        const std::size_t length = (valueOffset + value.size() + 7) / 8 * 8;
        put(next, 0x80, 4);
        put(next + 4, length, 4);
        bytes[next + 9] = nameLength;
        put(next + 10, 24, 2);
        put(next + 16, claimedLength ? claimedLength : value.size(), 4);
        put(next + 20, valueOffset, 2);
        std::memcpy(bytes.data() + next + valueOffset, value.data(), value.size());
        next += length;
        return *this;
    }
    RecordBuilder& nonResident(const std::vector<std::uint8_t>& runs, std::uint64_t realSize,
                               std::optional<std::uint64_t> initialized = std::nullopt, std::uint16_t flags = 0)
    {
        const std::size_t length = (0x40 + runs.size() + 1 + 7) / 8 * 8;
        put(next, 0x80, 4);
        put(next + 4, length, 4);
        bytes[next + 8] = 1;
        put(next + 0x0C, flags, 2);
        if (flags & recovery::kAttrFlagCompressed) bytes[next + 0x22] = 4;  // units of 16 clusters
        put(next + 0x20, 0x40, 2);
        put(next + 0x28, realSize, 8);
        put(next + 0x30, realSize, 8);
        put(next + 0x38, initialized.value_or(realSize), 8);
        std::memcpy(bytes.data() + next + 0x40, runs.data(), runs.size());
        next += length;
        return *this;
    }
    std::vector<std::uint8_t> done()
    {
        put(next, 0xFFFFFFFF, 4);
        return bytes;
    }
};

// 64 clusters of 8 sectors; the file record sits in cluster 0, every other cluster holds a pattern.
struct NtfsVolume {
    volumes::VolumeParameters params;
    mutable storage::MemorySectorSource source{std::vector<std::uint8_t>(kVolumeClusters * kClusterBytes, 0)};

    explicit NtfsVolume(const std::vector<std::uint8_t>& record)
    {
        params.partType = "NTFS";
        params.spc = 8;
        params.cluster0Start = 0;
        for (std::uint64_t c = 1; c < kVolumeClusters; ++c)
            for (std::uint32_t i = 0; i < kClusterBytes; ++i)
                source.bytes()[c * kClusterBytes + i] = static_cast<std::uint8_t>((c * 17 + i * 3) % 253);
        std::copy(record.begin(), record.end(), source.bytes().begin());
    }
    std::vector<std::uint8_t> clusters(std::initializer_list<int> list) const
    {
        std::vector<std::uint8_t> out;
        for (int c : list) {
            if (c < 0) {
                out.insert(out.end(), kClusterBytes, 0);  // a sparse cluster
                continue;
            }
            const auto* at = source.bytes().data() + static_cast<std::size_t>(c) * kClusterBytes;
            out.insert(out.end(), at, at + kClusterBytes);
        }
        return out;
    }
};

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(std::min(bytes.size(), size));
    return bytes;
}

// Writes files of a volume and keeps what the writer reported.
struct Writer : SaveObserver {
    SaveRunState state;
    WriterContext ctx;
    std::vector<FileResult> files;
    std::vector<Error> problems;

    explicit Writer(const NtfsVolume& v)
    {
        ctx.source = &v.source;
        ctx.params = &v.params;
        ctx.state = &state;
        ctx.observer = this;
    }
    FileOutcome write(const NtfsSaveRequest& request) { return writeNtfsFile(ctx, request); }
    void onFileFinished(const FileResult& r) override { files.push_back(r); }
    void onProblem(const Error& e) override { problems.push_back(e); }
};

}  // namespace

TEST(NtfsWriter, WritesWhatTheRecordHolds)
{
    const std::string text = "resident bytes of a small file";
    struct Case {
        const char* name;
        std::vector<std::uint8_t> record;
        std::uint64_t size;
        FileOutcome outcome;
        std::optional<std::vector<std::uint8_t>> bytes;  // nullopt: no file at all
    };
    NtfsVolume blank(RecordBuilder().done());
    const std::vector<Case> cases{
        {"resident data", RecordBuilder().resident(text).done(), text.size(), FileOutcome::Written,
         std::vector<std::uint8_t>(text.begin(), text.end())},
        {"resident value running past the record", RecordBuilder().resident(text, 0, 2000).done(), 2000,
         FileOutcome::NoData, std::nullopt},
        {"only a named stream", RecordBuilder().resident(text, 4).done(), 0, FileOutcome::Written,
         std::vector<std::uint8_t>{}},
        {"no data attribute", RecordBuilder().done(), 0, FileOutcome::Written, std::vector<std::uint8_t>{}},
        {"fragmented runs", RecordBuilder().nonResident({0x11, 2, 5, 0x11, 1, 5, 0}, 3 * 4096 - 100).done(),
         3 * 4096 - 100, FileOutcome::Written, cut(blank.clusters({5, 6, 10}), 3 * 4096 - 100)},
        {"sparse run reads as zeros", RecordBuilder().nonResident({0x11, 1, 3, 0x01, 2, 0x11, 1, 4, 0}, 4 * 4096).done(),
         4 * 4096, FileOutcome::Written, blank.clusters({3, -1, -1, 7})},
        {"valid data length shorter than the size", RecordBuilder().nonResident({0x11, 2, 5, 0}, 8192, 5000).done(),
         8192, FileOutcome::Written,
         [&] {
             auto b = blank.clusters({5, 6});
             std::fill(b.begin() + 5000, b.end(), 0);
             return b;
         }()},
        {"size 0 non-resident: 4096 bytes", RecordBuilder().nonResident({0x11, 1, 9, 0}, 0).done(), 0,
         FileOutcome::Written, blank.clusters({9})},
        {"run beyond the volume: incomplete", RecordBuilder().nonResident({0x21, 1, 0xE8, 0x03, 0}, 4096).done(), 4096,
         FileOutcome::Incomplete, std::vector<std::uint8_t>{}},
        {"run crossing the volume's end is cut there: incomplete",
         RecordBuilder().nonResident({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 60, 0}, 1ULL << 40).done(), 1ULL << 40,
         FileOutcome::Incomplete, blank.clusters({60, 61, 62, 63})},
        {"run list ending before the size: incomplete", RecordBuilder().nonResident({0x11, 1, 5, 0}, 3 * 4096).done(),
         3 * 4096, FileOutcome::Incomplete, blank.clusters({5})},
        {"record that is no file record", std::vector<std::uint8_t>(1024, 0x41), 100, FileOutcome::NoData, std::nullopt},
        {"encrypted data is written as stored",
         RecordBuilder().nonResident({0x11, 2, 5, 0}, 8000, std::nullopt, recovery::kAttrFlagEncrypted).done(), 8000,
         FileOutcome::Written, cut(blank.clusters({5, 6}), 8000)},
        {"a stream the record does not hold", RecordBuilder().resident(text).done(), 10, FileOutcome::NoData,
         std::nullopt},
    };
    // With the collision rules the name is taken by creating the file before the record is read:
    // a file that ends without data must not stay behind as an empty one.
    for (const bool checkExisting : {false, true})
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SCOPED_TRACE(checkExisting);
        NtfsVolume v(c.record);
        test::TempDir out;
        Writer writer(v);
        const std::string target = out.file("file.bin");
        const std::string stream = std::string(c.name).find("does not hold") != std::string::npos ? "extra" : "";
        EXPECT_EQ(writer.write({target, "file.bin", c.size, 0, checkExisting, 0, stream}), c.outcome);
        EXPECT_EQ(writer.state.filesWritten, 1u);
        EXPECT_EQ(std::filesystem::exists(target), c.bytes.has_value());
        if (c.bytes) {
            EXPECT_EQ(test::readFileBytes(target), *c.bytes);
        }
    }
}

TEST(NtfsWriter, RunListsThatClaimMoreThanTheVolumeAreBounded)
{
    // 100 runs, each over the whole volume again (an offset step of 0), for a file of 1 TiB.
    std::vector<std::uint8_t> runs;
    for (int i = 0; i < 100; ++i) runs.insert(runs.end(), {0x11, static_cast<std::uint8_t>(kVolumeClusters), 0});
    for (const std::uint16_t flags : {std::uint16_t{0}, recovery::kAttrFlagCompressed}) {
        SCOPED_TRACE(flags);
        NtfsVolume v(RecordBuilder().nonResident(runs, 1ULL << 40, std::nullopt, flags).done());
        test::TempDir out;
        Writer writer(v);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(writer.write({out.file("big"), "big", 1ULL << 40, 0, false, 0, ""}), FileOutcome::Incomplete);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        EXPECT_EQ(std::filesystem::file_size(out.file("big")), kVolumeClusters * kClusterBytes);
    }
    NtfsVolume v(RecordBuilder().done());

    const auto extents = runListExtents({{0, UINT64_MAX, true}, {3, UINT64_MAX, false}}, v.params, 512);
    ASSERT_EQ(extents.size(), 2u);
    EXPECT_TRUE(extents[0].zeros);
    EXPECT_EQ(extents[1].firstSector, 24u);
    EXPECT_EQ(extents[1].sectorCount, (kVolumeClusters - 3) * 8);
}

TEST(NtfsWriter, UnreadableRecordCreatesNoFile)
{
    NtfsVolume v(RecordBuilder().resident("x").done());
    test::TempDir out;
    Writer writer(v);
    EXPECT_EQ(writer.write({out.file("f"), "f", 1, 1ULL << 30, false, 0, ""}), FileOutcome::NoData);
    EXPECT_FALSE(std::filesystem::exists(out.file("f")));
}

TEST(NtfsWriter, CompressedUnitsAreDecompressedAndDamageIsReported)
{
    // Unit 0: LZNT1 "hello" in cluster 5; unit 1: damaged LZNT1 in cluster 9 (a reference before
    // its chunk); unit 2: stored whole in clusters 20-35; unit 3: sparse.
    const std::vector<std::uint8_t> runs{0x11, 1, 5, 0x01, 15, 0x11, 1, 4, 0x01, 15, 0x11, 16, 11, 0x01, 16, 0};
    const std::uint64_t unitBytes = 16 * kClusterBytes;
    NtfsVolume v(RecordBuilder().nonResident(runs, 4 * unitBytes, std::nullopt, recovery::kAttrFlagCompressed).done());
    const std::vector<std::uint8_t> hello{0x05, 0xB0, 0x00, 'h', 'e', 'l', 'l', 'o'};
    const std::vector<std::uint8_t> damaged{0x03, 0xB0, 0x02, 'a', 0x00, 0x10};
    auto& bytes = v.source.bytes();
    std::fill_n(bytes.begin() + 5 * kClusterBytes, kClusterBytes, 0);
    std::copy(hello.begin(), hello.end(), bytes.begin() + 5 * kClusterBytes);
    std::fill_n(bytes.begin() + 9 * kClusterBytes, kClusterBytes, 0);
    std::copy(damaged.begin(), damaged.end(), bytes.begin() + 9 * kClusterBytes);

    test::TempDir out;
    Writer writer(v);
    EXPECT_EQ(writer.write({out.file("c"), "c", 4 * unitBytes, 0, false, 0, ""}), FileOutcome::Written);
    std::vector<std::uint8_t> expected(4 * unitBytes, 0);
    std::copy_n("hello", 5, expected.begin());
    expected[unitBytes] = 'a';
    const auto stored = v.clusters({20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35});
    std::copy(stored.begin(), stored.end(), expected.begin() + 2 * unitBytes);
    EXPECT_EQ(test::readFileBytes(out.file("c")), expected);
    ASSERT_EQ(writer.files.size(), 1u);
    ASSERT_EQ(writer.files[0].unreadable.size(), 1u);
    EXPECT_EQ(writer.files[0].unreadable[0].offset, unitBytes + 1);  // "a" decompressed, then the damage
    EXPECT_EQ(writer.files[0].unreadable[0].length, unitBytes - 1);
}

TEST(NtfsWriter, EncryptedFilesSaySo)
{
    NtfsVolume v(RecordBuilder().nonResident({0x11, 1, 5, 0}, 100, std::nullopt, recovery::kAttrFlagEncrypted).done());
    test::TempDir out;
    Writer writer(v);
    EXPECT_EQ(writer.write({out.file("e"), "e", 100, 0, false, 0, ""}), FileOutcome::Written);
    ASSERT_EQ(writer.files.size(), 1u);
    EXPECT_TRUE(writer.files[0].encrypted);
    EXPECT_EQ(writer.problems.size(), 1u);
}
