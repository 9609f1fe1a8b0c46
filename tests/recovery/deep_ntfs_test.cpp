// Deep Search over NTFS: file records found anywhere in a range, the volume they belong to found
// from its boot sectors or from the $MFT's first record and its mirror copy, and the same tree
// and files as Basic Search gives on the intact volume.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>

#include "le_bytes.h"
#include "recovery/basic_scan.h"
#include "recovery/deep_scan.h"
#include "storage/memory_source.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::recovery;

namespace {

constexpr std::uint64_t kSector = 512;

std::set<std::string> folderPaths(const FolderResults& r)
{
    std::set<std::string> out;
    for (const auto& n : r.nodes) {
        std::string path;
        for (ItemId cur = n.item; r.tree.item(cur).parent != kNoItem; cur = r.tree.item(cur).parent)
            path = r.tree.item(cur).name + (path.empty() ? "" : "/" + path);
        out.insert(path + (n.deleted ? " [deleted]" : ""));
    }
    return out;
}

// (record number, parent lost) of every file row.
std::multiset<std::pair<std::uint64_t, bool>> fileRecords(const MftFileTable& files)
{
    std::multiset<std::pair<std::uint64_t, bool>> out;
    for (const auto& f : files) out.insert({f.recordNumber, f.parentLost});
    return out;
}

void zeroSector(std::vector<std::uint8_t>& bytes, std::uint64_t sector)
{
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * kSector), kSector, 0);
}

// A 1,024-byte file record with one file-name attribute (or none).
std::array<std::uint8_t, 1024> record(std::uint32_t number, std::uint16_t flags, std::uint8_t nameSpace,
                                      const std::u16string& name, std::uint32_t allocated = 1024, std::uint64_t base = 0)
{
    std::array<std::uint8_t, 1024> b{};
    std::memcpy(b.data(), "FILE", 4);
    test::putLe16(b.data() + 4, 48);  // update sequence array at 48: the number and two sector ends
    test::putLe16(b.data() + 6, 3);
    test::putLe16(b.data() + 48, 7);
    test::putLe16(b.data() + 510, 7);
    test::putLe16(b.data() + 1022, 7);
    test::putLe16(b.data() + 20, 56);
    test::putLe16(b.data() + 22, flags);
    test::putLe32(b.data() + 28, allocated);
    test::putLe64(b.data() + 32, base);
    test::putLe32(b.data() + 44, number);
    std::size_t at = 56;
    if (!name.empty()) {
        std::vector<std::uint8_t> v(66 + 2 * name.size(), 0);
        v[0] = 5;  // parent: the root
        v[64] = static_cast<std::uint8_t>(name.size());
        v[65] = nameSpace;
        for (std::size_t i = 0; i < name.size(); ++i) test::putLe16(v.data() + 66 + 2 * i, name[i]);
        const auto length = static_cast<std::uint32_t>((24 + v.size() + 7) / 8 * 8);
        test::putLe32(b.data() + at, 0x30);
        test::putLe32(b.data() + at + 4, length);
        test::putLe32(b.data() + at + 16, static_cast<std::uint32_t>(v.size()));
        test::putLe16(b.data() + at + 20, 24);
        std::memcpy(b.data() + at + 24, v.data(), v.size());
        at += length;
    }
    test::putLe32(b.data() + at, 0xFFFFFFFF);
    return b;
}

}  // namespace

TEST(DeepNtfs, RecordsAreKnownByTheirOwnBytes)
{
    struct Case {
        const char* name;
        std::array<std::uint8_t, 1024> bytes;
        bool found;
        const char* fileName;
    };
    const Case cases[] = {
        {"a Win32 name", record(40, 1, 1, u"Report.txt"), true, "Report.txt"},
        {"only a DOS name is listed under it", record(41, 1, 2, u"REPORT~1.TXT"), true, "REPORT~1.TXT"},
        {"an allocated size of 4,096 is no 1,024-byte record", record(42, 1, 1, u"big.txt", 4096), false, ""},
        {"an extension record belongs to its base", record(43, 1, 1, u"ext.txt", 1024, 40), false, ""},
        {"no name in the record itself: named later through the $MFT", record(44, 1, 1, u""), true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto hit = ntfsRecordHit(c.bytes, 1000);
        ASSERT_EQ(hit.has_value(), c.found);
        if (!hit) continue;
        EXPECT_EQ(hit->facts.name, c.fileName);
        EXPECT_EQ(hit->facts.named, *c.fileName != 0);
        EXPECT_EQ(hit->facts.sector, 1000u);
        if (hit->facts.named) {
            EXPECT_EQ(hit->facts.parent.record, 5u);
        }
    }
}

TEST(DeepNtfs, VolumesComeFromBootSectorsOrFromTheMftAndItsMirror)
{
    // Record 0 of a volume at V with cluster size K lies at V + mft * K, its mirror copy at
    // V + mirror * K; the record 1 right after each gives the mirror's cluster.
    auto zeroAt = [](std::uint64_t sector, std::uint64_t mft, std::uint64_t mirror) {
        std::vector<NtfsRecordHit> hits(2);
        hits[0].facts.recordNumber = 0;
        hits[0].facts.sector = sector;
        hits[0].dataCluster = mft;
        hits[1].facts.recordNumber = 1;
        hits[1].facts.sector = sector + 2;
        hits[1].dataCluster = mirror;
        return hits;
    };
    auto join = [](std::vector<NtfsRecordHit> a, const std::vector<NtfsRecordHit>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto boot = [](std::uint64_t sector, std::uint32_t spc, std::uint64_t total, std::uint64_t mft, std::uint64_t mirror) {
        NtfsBootHit b;
        b.sector = sector;
        b.fields.spc = spc;
        b.fields.totalSectors = total;
        b.fields.mftCluster = mft;
        b.fields.mirrorCluster = mirror;
        return b;
    };
    struct Case {
        const char* name;
        std::vector<NtfsRecordHit> records;
        std::vector<NtfsBootHit> boots;
        std::uint64_t firstSector;
        std::uint32_t spc;
        bool guessed;
        bool fromBoot;
    };
    const Case cases[] = {
        {"the $MFT and its mirror fix K = 8",
         join(zeroAt(2048 + 4 * 8, 4, 2), zeroAt(2048 + 2 * 8, 4, 2)), {}, 2048, 8, false, false},
        {"the pair with 64-sector clusters",
         join(zeroAt(100000 + 786432 * 64, 786432, 2), zeroAt(100000 + 2 * 64, 786432, 2)), {}, 100000, 64, false, false},
        {"a lone record 0: the usual 8 sectors per cluster", zeroAt(4096 + 16 * 8, 16, 2), {}, 4096, 8, true, false},
        {"the boot sector's copy at the volume's end places it",
         join(zeroAt(2048 + 4 * 4, 4, 2), zeroAt(2048 + 2 * 4, 4, 2)), {boot(2048 + 60000, 4, 60000, 4, 2)}, 2048, 4,
         false, true},
        {"an intact boot sector", zeroAt(512 + 4 * 2, 4, 2), {boot(512, 2, 9000, 4, 2)}, 512, 2, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto volumes = inferNtfsVolumes(c.records, c.boots, 0);
        ASSERT_EQ(volumes.size(), 1u);
        EXPECT_EQ(volumes[0].firstSector, c.firstSector);
        EXPECT_EQ(volumes[0].spc, c.spc);
        EXPECT_EQ(volumes[0].guessedClusterSize, c.guessed);
        EXPECT_EQ(volumes[0].fromBootSector, c.fromBoot);
    }
    // Records no volume explains fall to the volume the search began in; none at all give none.
    std::vector<NtfsRecordHit> stray(1);
    stray[0].facts.recordNumber = 70;
    stray[0].facts.sector = 9000;
    const auto fallback = inferNtfsVolumes(stray, {}, 2048);
    ASSERT_EQ(fallback.size(), 1u);
    EXPECT_EQ(fallback[0].firstSector, 2048u);
    EXPECT_TRUE(inferNtfsVolumes({}, {}, 0).empty());
}

TEST(DeepNtfs, LostBootSectorsStillGiveTheTreeAndFilesOfBasicSearch)
{
    struct Case {
        const char* image;
        bool wipeBoots;
        bool wipeMirror;        // record 0's mirror copy too: the cluster size is then assumed
        std::uint64_t offset;   // sectors of zeros before the volume
    };
    const Case cases[] = {
        {"ntfs_basic.img", false, false, 0},
        {"ntfs_basic.img", true, false, 2048},
        {"ntfs_basic.img", true, true, 63},
        {"ntfs_fragmented_mft.img", true, false, 2048},
        {"ntfs_lost_parent.img", true, false, 0},
        {"ntfs_attribute_list.img", true, false, 128},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.image) + (c.wipeBoots ? " without boot sectors" : "") +
                     (c.wipeMirror ? " or mirror" : "") + " at " + std::to_string(c.offset));
        auto bytes = test::readFileBytes(test::fixturePath(c.image));
        storage::MemorySectorSource intact(bytes);
        DirNamer basicNamer;
        BasicScanContext basic;
        basic.source = &intact;
        basic.selection = {"", 0, intact.sectorCount() - 1, "NTFS"};
        basic.namer = &basicNamer;
        const BasicScanResult expected = runBasicScan(basic);
        ASSERT_FALSE(expected.paramsFailed);
        if (c.wipeMirror) zeroSector(bytes, expected.params.mftMirrorSector);
        if (c.wipeBoots) {
            zeroSector(bytes, 0);
            zeroSector(bytes, bytes.size() / kSector - 1);
        }
        std::vector<std::uint8_t> medium(c.offset * kSector, 0);
        medium.insert(medium.end(), bytes.begin(), bytes.end());
        storage::MemorySectorSource source(medium);

        DeepScanContext ctx;
        ctx.source = &source;
        ctx.startSector = 0;
        ctx.endSector = source.sectorCount();
        ctx.fileSystem = "NTFS";
        const DeepScanResult result = runDeepScan(ctx);
        ASSERT_EQ(result.volumes.size(), 1u);
        EXPECT_EQ(result.volumes[0].cluster0Start, static_cast<std::int64_t>(c.offset));
        EXPECT_EQ(result.volumes[0].spc, expected.params.spc);
        EXPECT_EQ(result.volumes[0].mftSector, expected.params.mftSector + c.offset);
        EXPECT_EQ(folderPaths(result.folders), folderPaths(expected.folders));
        EXPECT_EQ(fileRecords(result.mftFiles), fileRecords(expected.mftFiles));
    }
}
