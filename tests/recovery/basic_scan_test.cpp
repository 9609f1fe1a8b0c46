// Basic Search on real images, compared with an independent reader (The Sleuth Kit's fls):
// every folder, live or deleted, lands in the tree with its name; every file shows in its
// folder's listing with its size; the image is never changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <map>
#include <random>

#include "recovery/folder_paths.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "recovery/mft_reader.h"
#include "le_bytes.h"
#include "sleuthkit_oracle.h"
#include "storage/memory_source.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::recovery;

using test::folderPaths;
using test::lower;

namespace {

struct Scanned {
    std::unique_ptr<storage::FileSectorSource> source;
    BasicScanResult result;
};

// Basic Search over the whole of a source.
BasicScanResult scanSource(const storage::SectorSource& source, const std::string& type,
                           std::atomic<bool>* stop = nullptr, ScanObserver* observer = nullptr)
{
    static DirNamer namer;
    BasicScanContext ctx;
    ctx.source = &source;
    ctx.selection = {source.path(), 0, source.sectorCount() ? source.sectorCount() - 1 : 0, type};
    ctx.stopRequested = stop;
    ctx.observer = observer;
    ctx.namer = &namer;
    return runBasicScan(ctx);
}

Scanned scan(const std::string& image, const std::string& type, std::atomic<bool>* stop = nullptr,
             ScanObserver* observer = nullptr)
{
    auto src = storage::FileSectorSource::open(image);
    EXPECT_TRUE(src);
    Scanned s;
    s.source = std::move(src).value();
    s.result = scanSource(*s.source, type, stop, observer);
    return s;
}

ItemId itemAt(const FolderResults& r, const std::string& lowerPath)
{
    for (const auto& n : r.nodes)
        if (test::folderPath(r, n.item) == lowerPath) return n.item;
    return kNoItem;
}

// "01-JUN-2023" and "08:15:30" as fls prints them: "2023-06-01 08:15:30".
std::string asFlsTime(const std::string& date, const std::string& time)
{
    static const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    int month = 0;
    for (int i = 0; i < 12; ++i)
        if (date.substr(3, 3) == kMonths[i]) month = i + 1;
    char text[32];
    std::snprintf(text, sizeof text, "%s-%02d-%s %s", date.substr(7, 4).c_str(), month, date.substr(0, 2).c_str(),
                  time.c_str());
    return text;
}

// Checks every entry fls reports against the scan's tree and listings.
void expectSameAsFls(const std::string& image, Scanned& s)
{
    auto& r = s.result.folders;
    const auto folders = folderPaths(r);
    ListingContext lctx;
    lctx.source = s.source.get();
    lctx.params = &s.result.params;
    lctx.mftFiles = &s.result.mftFiles;
    std::map<std::string, FolderListing> listings;

    for (const auto& e : test::flsEntries(image)) {
        SCOPED_TRACE(e.path);
        // An NTFS record that no folder names and that holds no name of its own: an extension
        // record (the $MFT's record 16), which the oracle lists by the name it carries for its base.
        if (s.result.params.isNtfs() && e.inode.find('-') == std::string::npos) continue;
        const std::string path = lower(e.path);
        if (e.directory) {
            const auto it = folders.find(path);
            ASSERT_NE(it, folders.end()) << "folder missing from the recovered tree";
            EXPECT_EQ(it->second, e.deleted) << "deleted mark differs";
            continue;
        }
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!listings.count(folder)) {
            const ItemId item = folder.empty() ? r.tree.firstTopLevel() : itemAt(r, folder);
            ASSERT_NE(item, kNoItem) << "folder of the file missing";
            listings[folder] = populateItemList(lctx, r, item);
        }
        const auto& rows = listings[folder].rows;
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const ItemRow& x) {
            return x.kind != RowKind::Folder && lower(x.name) == name;
        });
        ASSERT_NE(row, rows.end()) << "file missing from its folder's listing";
        EXPECT_EQ(row->size, e.size);
        EXPECT_EQ(row->deleted, e.deleted);
        if (row->kind == RowKind::FatFile) {
            EXPECT_EQ(asFlsTime(formatFatDate(row->fatDate), formatFatTime(row->fatTime)), e.modified);
        } else if (row->ntfsStamp != 0 && row->recordNumber >= kFirstUserRecord) {
            // The modification time, as file managers show it (the oracle's own for never-set
            // stamps of the system files differs).
            EXPECT_EQ(asFlsTime(formatNtfsDate(row->ntfsStamp), formatNtfsTime(row->ntfsStamp)), e.modified);
        }
    }
}

}  // namespace

TEST(BasicScan, FatVolumesMatchAnIndependentReader)
{
    for (const auto& [image, type] : {std::pair{"fat16_basic.img", "FAT16"}, std::pair{"fat32_basic.img", "FAT32"}}) {
        SCOPED_TRACE(image);
        const std::string path = test::fixturePath(image);
        const std::string before = test::fileDigest(path);
        Scanned s = scan(path, type);
        EXPECT_EQ(s.result.end, ScanEnd::Finished);
        EXPECT_TRUE(s.result.paramsFromBootSector);
        EXPECT_FALSE(s.result.foundNothing);
        expectSameAsFls(path, s);
        // The orphan folder is there, empty, on an intact volume.
        const FolderNode* orphan = s.result.folders.orphanNode();
        ASSERT_NE(orphan, nullptr);
        EXPECT_TRUE(s.result.folders.tree.children(orphan->item).empty());
        EXPECT_EQ(test::fileDigest(path), before);
    }
}

TEST(BasicScan, NtfsVolumesMatchAnIndependentReader)
{
    // Data in extension records, an $MFT in 228 extents, compressed and sparse files.
    for (const char* image : {"ntfs_basic.img", "ntfs_attribute_list.img", "ntfs_fragmented_mft.img",
                              "ntfs_compressed_sparse.img"}) {
        SCOPED_TRACE(image);
        const std::string path = test::fixturePath(image);
        const std::string before = test::fileDigest(path);
        Scanned s = scan(path, "NTFS");
        EXPECT_EQ(s.result.end, ScanEnd::Finished);
        expectSameAsFls(path, s);
        EXPECT_EQ(test::fileDigest(path), before);
    }
}

TEST(BasicScan, NtfsUnreadableRecordHidesOnlyItsFolder)
{
    Scanned clean = scan(test::fixturePath("ntfs_basic.img"), "NTFS");
    const auto& nodes = clean.result.folders.nodes;
    const auto folder = std::find_if(nodes.begin(), nodes.end(), [](const FolderNode& n) { return n.self != kOrphanCluster; });
    ASSERT_NE(folder, nodes.end());
    const MftReader reader(*clean.source, clean.result.params);
    const auto sector = reader.sectorOf(folder->self);
    ASSERT_TRUE(sector.has_value());
    // The second half of the folder's record: its neighbours in the same block must still count.
    test::FaultySectorSource faulty(*clean.source);
    faulty.failSector(*sector + 1);
    test::RecordingObserver observer;
    const auto result = scanSource(faulty, "NTFS", nullptr, &observer);
    EXPECT_EQ(result.directoriesFound + 1, clean.result.directoriesFound);
    EXPECT_EQ(result.unreadableSectors, 1u);
    ASSERT_EQ(observer.problems.size(), 1u);
    EXPECT_EQ(observer.problems[0].sector, *sector + 1);
}

TEST(BasicScan, FoldersWhoseParentWasOverwrittenLandInTheOrphanFolder)
{
    Scanned s = scan(test::fixturePath("fat32_lost_parent.img"), "FAT32");
    const auto& r = s.result.folders;
    const FolderNode* orphan = r.orphanNode();
    ASSERT_NE(orphan, nullptr);
    const auto& lost = r.tree.children(orphan->item);
    ASSERT_EQ(lost.size(), 2u);  // Child1 and Child2, named by their scan row number
    for (ItemId id : lost) EXPECT_EQ(r.tree.item(id).name.rfind("DIR", 0), 0u) << r.tree.item(id).name;
    const auto paths = folderPaths(r);
    EXPECT_TRUE(paths.count("other"));
    // Child2's own directory survived, so its subfolder keeps its name under it.
    bool grandchildFound = false;
    for (const auto& [p, deleted] : paths)
        if (p.size() > 11 && p.substr(p.size() - 11) == "/grandchild") grandchildFound = true;
    EXPECT_TRUE(grandchildFound);
}

TEST(BasicScan, AnImageInMemorySweptInTwoHalvesGivesWhatOneSweepGives)
{
    // The same image read from the disk (swept front to back) and from the page cache (swept in
    // two halves at once) gives the same folders, rows, numbers and names, in the same order.
    // Lost folders planted in both halves, their parents in the other half, show the halves
    // joined: one at three quarters under "Other", one at seven eighths under it, and one at a
    // quarter under the first.
    test::TempDir dir;
    const std::string image = dir.file("lost_parent.img");
    std::filesystem::copy_file(test::fixturePath("fat32_lost_parent.img"), image);
    const Scanned before = scan(image, "FAT32");
    const volumes::VolumeParameters& p = before.result.params;
    const ItemId other = itemAt(before.result.folders, "other");
    ASSERT_NE(other, kNoItem);
    const std::uint32_t otherCluster = before.result.folders.nodeOf(other)->self;
    const auto clusters = static_cast<std::uint32_t>((before.source->sectorCount() - p.clusterSector(2)) / p.spc);
    const std::uint32_t planted[3][2] = {{clusters / 4 * 3, otherCluster},
                                         {clusters / 8 * 7, clusters / 4 * 3},
                                         {clusters / 4, clusters / 4 * 3}};
    std::vector<std::uint8_t> bytes = test::readFileBytes(image);
    for (const auto& [self, parent] : planted) {
        std::uint8_t* at = bytes.data() + storage::byteOffsetOf(p.clusterSector(self));
        std::fill(at, at + 64, std::uint8_t{' '});
        at[0] = at[32] = at[33] = '.';
        for (std::uint8_t* entry : {at, at + 32}) {
            entry[11] = 0x10;
            std::fill(entry + 12, entry + 32, std::uint8_t{0});
        }
        test::putLe16(at + 20, static_cast<std::uint16_t>(self >> 16));
        test::putLe16(at + 26, static_cast<std::uint16_t>(self));
        test::putLe16(at + 32 + 20, static_cast<std::uint16_t>(parent >> 16));
        test::putLe16(at + 32 + 26, static_cast<std::uint16_t>(parent));
    }
    {
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        // Out of the page cache: written back, then dropped.
        const int fd = ::open(image.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    const auto describe = [](const BasicScanResult& r) {
        std::vector<std::string> rows;
        for (const FolderNode& n : r.folders.nodes)
            rows.push_back(test::folderPath(r.folders, n.item) + " " + std::to_string(n.self) + " " +
                           std::to_string(n.parent) + (n.deleted ? " deleted" : ""));
        rows.push_back("found " + std::to_string(r.directoriesFound));
        return rows;
    };
    const Scanned fromDisk = scan(image, "FAT32");
    (void)test::readFileBytes(image);  // into the page cache
    const Scanned fromMemory = scan(image, "FAT32");
    EXPECT_EQ(describe(fromDisk.result), describe(fromMemory.result));
    EXPECT_EQ(fromMemory.result.directoriesFound, before.result.directoriesFound + 3);
    const auto& r = fromMemory.result.folders;
    std::size_t plantedFound = 0;
    for (const FolderNode& n : r.nodes)
        for (const auto& [self, parent] : planted)
            if (n.self == self) {
                ++plantedFound;
                EXPECT_EQ(n.parent, parent);
                EXPECT_EQ(test::folderPath(r, n.item).rfind("other/", 0), 0u) << test::folderPath(r, n.item);
            }
    EXPECT_EQ(plantedFound, 3u);
}

TEST(BasicScan, DestroyedBootSectorIsInferredAndScanned)
{
    auto bytes = test::readFileBytes(test::fixturePath("fat16_basic.img"));
    std::fill_n(bytes.begin(), 512, 0);
    storage::MemorySectorSource mem(bytes);
    const auto result = scanSource(mem, "FAT16");
    EXPECT_FALSE(result.paramsFromBootSector);
    EXPECT_FALSE(result.paramsFailed);
    EXPECT_EQ(result.params.cluster0Start, 92u);
    EXPECT_TRUE(folderPaths(result.folders).count("documents/work/reports/2023"));
}

TEST(BasicScan, StopKeepsTheFoldersFoundSoFar)
{
    struct StopAfterFirstBlock : ScanObserver {
        std::atomic<bool>* stop = nullptr;
        void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t) override
        {
            if (position > low) stop->store(true);
        }
    };
    // The fixture's folders sit in its first clusters; one more lies near the end of the volume.
    storage::MemorySectorSource mem(test::readFileBytes(test::fixturePath("fat16_basic.img")));
    std::uint8_t* d = mem.bytes().data() + (92 + 8000 * 4ULL) * 512;
    std::fill_n(d, 64, ' ');
    d[0] = d[32] = d[33] = '.';
    d[11] = d[43] = 0x10;
    d[26] = 8000 & 0xFF;
    d[27] = 8000 >> 8;
    d[58] = d[59] = 0;
    std::atomic<bool> stop{false};
    StopAfterFirstBlock observer;
    observer.stop = &stop;
    const auto whole = scanSource(mem, "FAT16");
    const auto part = scanSource(mem, "FAT16", &stop, &observer);
    EXPECT_EQ(whole.end, ScanEnd::Finished);
    EXPECT_EQ(part.end, ScanEnd::Stopped);
    EXPECT_GT(part.directoriesFound, 0u);
    EXPECT_EQ(part.directoriesFound + 1, whole.directoriesFound);
    EXPECT_EQ(part.folders.folderCount, part.directoriesFound + 1);  // + the orphan folder
    EXPECT_TRUE(folderPaths(part.folders).count("documents/work"));
}

TEST(BasicScan, UnreadableSectorHidesOnlyItself)
{
    const std::string path = test::fixturePath("fat16_basic.img");
    auto file = storage::FileSectorSource::open(path);
    ASSERT_TRUE(file);
    test::FaultySectorSource faulty(**file);
    // A sector in the block that holds the first folders, not itself a folder's first sector.
    faulty.failSector(92 + 4 * 3 + 1);
    test::RecordingObserver observer;
    const auto result = scanSource(faulty, "FAT16", nullptr, &observer);
    Scanned clean = scan(path, "FAT16");
    EXPECT_EQ(result.directoriesFound, clean.result.directoriesFound);
    EXPECT_EQ(result.unreadableSectors, 1u);
    ASSERT_EQ(observer.problems.size(), 1u);
    EXPECT_EQ(observer.problems[0].sector, 92u + 4 * 3 + 1);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0].sector, 92u + 4 * 3 + 1);
}

TEST(BasicScan, AMediumUnpluggedDuringTheScanEndsItAsSuch)
{
    const std::string path = test::fixturePath("fat32_basic.img");
    auto file = storage::FileSectorSource::open(path);
    ASSERT_TRUE(file);
    struct Case {
        const char* name;
        const char* type;
        std::uint64_t readsBeforeGone;
    };
    // With the boot sector read, or already during the inference of a damaged volume's geometry.
    for (const Case c : {Case{"during the sweep", "FAT32", 20}, Case{"before the boot sector", "FAT32", 0}}) {
        SCOPED_TRACE(c.name);
        test::FaultySectorSource gone(**file);
        gone.disappearAfter(c.readsBeforeGone);
        const auto result = scanSource(gone, c.type);
        EXPECT_EQ(result.end, ScanEnd::Failed);
        EXPECT_TRUE(result.mediumRemoved);
        // Not thousands of "unreadable sectors" for a medium that is simply not there.
        EXPECT_LT(result.unreadableSectors, 2048u);
    }
}

TEST(BasicScan, HostileDirectoriesEndInTheOrphanFolder)
{
    // A FAT16 volume: boot sector, FATs, root; then directories whose ".." entries lie.
    auto bytes = test::readFileBytes(test::fixturePath("fat16_basic.img"));
    storage::MemorySectorSource mem(bytes);
    auto putDir = [&](std::uint32_t cluster, std::uint32_t parent) {
        const std::size_t at = (92 + cluster * 4ULL) * 512;
        std::fill_n(mem.bytes().begin() + static_cast<std::ptrdiff_t>(at), 512, 0);
        std::uint8_t* d = mem.bytes().data() + at;
        std::fill_n(d, 11, ' ');
        d[0] = '.';
        d[11] = 0x10;
        d[26] = static_cast<std::uint8_t>(cluster);
        d[27] = static_cast<std::uint8_t>(cluster >> 8);
        std::fill_n(d + 32, 11, ' ');
        d[32] = d[33] = '.';
        d[43] = 0x10;
        d[58] = static_cast<std::uint8_t>(parent);
        d[59] = static_cast<std::uint8_t>(parent >> 8);
    };
    putDir(8000, 8001);  // two folders naming each other
    putDir(8001, 8000);
    putDir(8002, 8002);  // a folder naming itself as parent
    putDir(8003, 60000); // a parent beyond the volume
    // Garbage fills a stretch of clusters.
    std::mt19937 rng(7);
    for (std::size_t i = (92 + 7000 * 4ULL) * 512; i < (92 + 7900 * 4ULL) * 512; ++i)
        mem.bytes()[i] = static_cast<std::uint8_t>(rng());
    const auto result = scanSource(mem, "FAT16");
    ASSERT_EQ(result.end, ScanEnd::Finished);
    const auto& r = result.folders;
    const FolderNode* orphan = r.orphanNode();
    ASSERT_NE(orphan, nullptr);
    std::vector<std::uint32_t> lost;
    for (ItemId id : r.tree.children(orphan->item)) lost.push_back(r.nodeOf(id)->self);
    std::sort(lost.begin(), lost.end());
    EXPECT_EQ(lost, (std::vector<std::uint32_t>{8000, 8001, 8002, 8003}));
}

TEST(BasicScan, UnknownFileSystemEndsWithRootAlone)
{
    storage::MemorySectorSource mem(std::vector<std::uint8_t>(64 * 512, 0));
    const auto result = scanSource(mem, "Unknown");
    EXPECT_TRUE(result.foundNothing);
    EXPECT_EQ(result.folders.tree.itemCount(), 1u);

    const auto blank = scanSource(mem, "FAT32");  // nothing to infer from a blank medium
    EXPECT_TRUE(blank.paramsFailed);
    EXPECT_TRUE(blank.foundNothing);
}

TEST(FolderListing, ExpansionNamesOnceAndNoticeShowsOnlyForEmptyResults)
{
    const std::string path = test::fixturePath("fat16_basic.img");
    Scanned s = scan(path, "FAT16");
    auto& r = s.result.folders;
    const ItemId docs = itemAt(r, "documents");
    ASSERT_NE(docs, kNoItem);
    // The scan already named every folder with children, so expanding reads nothing again.
    EXPECT_TRUE(expandFolder(*s.source, s.result.params, r, docs).empty());
    EXPECT_TRUE(expandFolder(*s.source, s.result.params, r, r.orphanNode()->item).empty());
    r.nodeOf(docs)->visited = false;
    const FolderChanges expanded = expandFolder(*s.source, s.result.params, r, docs);
    ASSERT_FALSE(expanded.empty());
    EXPECT_EQ(expanded.visited, std::vector<ItemId>{docs});
    // Expanding only reads: the owner applies what it found, and then it is not read again.
    EXPECT_FALSE(r.nodeOf(docs)->visited);
    applyFolderChanges(r, expanded);
    EXPECT_TRUE(expandFolder(*s.source, s.result.params, r, docs).empty());

    EXPECT_FALSE(shouldShowEmptyResultNotice(r, false, false));
    storage::MemorySectorSource blank(std::vector<std::uint8_t>(64 * 512, 0));
    const auto empty = scanSource(blank, "FAT16");
    EXPECT_TRUE(shouldShowEmptyResultNotice(empty.folders, false, false));
    EXPECT_FALSE(shouldShowEmptyResultNotice(empty.folders, true, false));   // loaded from a log
    EXPECT_FALSE(shouldShowEmptyResultNotice(empty.folders, false, true));   // once per scan
}

TEST(FolderListing, RowsOfTheRootAndOfADeletedFolder)
{
    Scanned s = scan(test::fixturePath("fat16_basic.img"), "FAT16");
    auto& r = s.result.folders;
    ListingContext ctx;
    ctx.source = s.source.get();
    ctx.params = &s.result.params;
    const FolderListing root = populateItemList(ctx, r, r.tree.firstTopLevel());
    EXPECT_EQ(root.folders, 6u);
    EXPECT_EQ(root.files, 11u);  // the volume label is listed, but is no file
    const auto label = std::find_if(root.rows.begin(), root.rows.end(),
                                    [](const ItemRow& x) { return x.kind == RowKind::VolumeLabel; });
    ASSERT_NE(label, root.rows.end());
    EXPECT_EQ(label->name, "KFR16");
    const auto readme = std::find_if(root.rows.begin(), root.rows.end(), [](const ItemRow& x) { return x.name == "README.TXT"; });
    ASSERT_NE(readme, root.rows.end());
    EXPECT_EQ(readme->kind, RowKind::FatFile);
    EXPECT_EQ(readme->size, 1234u);
    EXPECT_EQ(formatFatDate(readme->fatDate), "01-JUN-2023");
    EXPECT_EQ(formatFatTime(readme->fatTime), "08:15:30");
    EXPECT_EQ(readme->shortName, "README.TXT");
    const auto orphan = std::find_if(root.rows.begin(), root.rows.end(), [](const ItemRow& x) { return x.name == kOrphanName; });
    ASSERT_NE(orphan, root.rows.end());
    EXPECT_EQ(orphan->kind, RowKind::Folder);
    EXPECT_EQ(orphan->timeKind, RowTime::Today);
    EXPECT_EQ(orphan->firstCluster, kOrphanCluster);

    // Listing a deleted folder marks its subfolders deleted too, through changes the owner
    // applies; the listing itself leaves the results as they were.
    const ItemId old = itemAt(r, "old projects");
    ASSERT_NE(old, kNoItem);
    for (ItemId c : r.tree.children(old)) r.nodeOf(c)->deleted = false;
    const FolderListing oldRows = populateItemList(ctx, r, old);
    for (const auto& row : oldRows.rows) EXPECT_TRUE(row.deleted) << row.name;
    for (ItemId c : r.tree.children(old)) EXPECT_FALSE(r.nodeOf(c)->deleted);
    applyFolderChanges(r, oldRows.changes);
    for (ItemId c : r.tree.children(old)) EXPECT_TRUE(r.nodeOf(c)->deleted);
}
