// The byte layout of recovery logs: the header and a folder record as the format's own example
// gives them, the length forms of Strings, which sections each kind of log has, and the tree
// and tables read back as they were written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery/folder_tree.h"
#include "recoverylog/log_stream.h"
#include "recoverylog/recovery_log.h"

namespace kfr::recoverylog {
namespace {

using Buffer = std::vector<std::uint8_t>;

// An independent encoder of the layout's items, to state expected bytes.
struct Expect {
    Buffer b;
    Expect& le(std::uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Expect& units(const std::string& ascii)
    {
        for (char c : ascii) le(static_cast<unsigned char>(c), 2);
        return *this;
    }
    Expect& str(const std::string& ascii)  // ASCII text short enough for the one-byte length
    {
        b.insert(b.end(), {0xFF, 0xFE, 0xFF, static_cast<std::uint8_t>(ascii.size())});
        return units(ascii);
    }
    Expect& line(const std::string& ascii) { return units(ascii).le(0x0D, 2).le(0x0A, 2); }
    Expect& params(const volumes::VolumeParameters& p)
    {
        return le(p.spf, 4).le(p.spc, 4).le(p.rootSectors, 4).le(p.rootStart, 4).le(p.reserveSectors, 4)
            .le(static_cast<std::uint64_t>(p.cluster0Start), 8).le(p.firstFat, 4).le(p.secondFat, 4)
            .le(p.mftSector, 8).le(p.mftMirrorSector, 8).le(p.sectorsPerRecord, 4).le(p.sectorsPerIndexRecord, 4);
    }
};

Buffer written(const LogContents& contents)
{
    MemorySink sink;
    EXPECT_TRUE(writeRecoveryLog(sink, contents).ok());
    return sink.bytes();
}

ParsedLog parsed(const Buffer& bytes)
{
    MemoryInput input(bytes);
    return parseRecoveryLog(input);
}

volumes::VolumeParameters fat32Params()
{
    volumes::VolumeParameters p;
    p.partType = volumes::kFat32;
    p.spf = 15300;
    p.spc = 8;
    p.rootStart = 2;
    p.reserveSectors = 32;
    p.cluster0Start = 16350;
    p.firstFat = 2080;
    p.secondFat = 17380;
    return p;
}

LogHeader deepDiskHeader()
{
    LogHeader h;
    h.driveKind = kHardDiskKind;
    h.diskModel = "USB Flash USB Device";
    h.mode = 2;
    h.location.form = LocationForm::Physical;
    h.location.diskIdentity = "USB Flash USB Device||7.45 GB||15633408||1";
    h.location.diskNumber = 1;
    h.diskNumber = 1;
    h.fileSystem = volumes::kFat32;
    h.searchModeName = "Deep Search";
    h.rangeFirst = 2048;
    h.rangeLast = 15633407;
    h.volumeFirst = 2048;
    h.volumeSectors = 15631360;
    h.selectionParams = fat32Params();
    h.workingParams = fat32Params();
    h.workingPartType = volumes::kFat32;
    return h;
}

Expect expectedHeader(const LogHeader& h)
{
    Expect e;
    e.str(h.driveKind).str(kSignature).str(h.diskModel).le(h.mode, 4);
    e.str("PHY").str(h.location.diskIdentity).le(h.location.diskNumber, 2);
    e.le(h.diskNumber, 2).le(h.selector, 4).str(h.fileSystem).str(h.searchModeName);
    e.le(h.rangeFirst, 8).le(h.rangeLast, 8).le(h.volumeFirst, 8).le(h.volumeSectors, 8);
    e.params(h.selectionParams).params(h.workingParams).str(h.workingPartType);
    return e;
}

bool startsWith(const Buffer& all, const Buffer& prefix)
{
    return all.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), all.begin());
}

std::size_t find(const Buffer& all, const Buffer& part)
{
    return static_cast<std::size_t>(std::search(all.begin(), all.end(), part.begin(), part.end()) - all.begin());
}

}  // namespace

TEST(LogFormat, TheHeaderAndAFolderRecordOfADeepLogAreByteExact)
{
    recovery::FolderResults folders;
    recovery::insertFolderNode(folders, recovery::kNoItem, "Photos", 1234, 2, 0x4A21, 0x6B40, false, 16350);
    LogContents c;
    c.header = deepDiskHeader();
    c.folders = &folders;
    const Buffer bytes = written(c);

    const Buffer header = expectedHeader(c.header).b;
    ASSERT_TRUE(startsWith(bytes, header));
    // The example's own bytes for the first items.
    const Buffer opening = {0xFF, 0xFE, 0xFF, 0x09, 0x48, 0x00, 0x61, 0x00, 0x72, 0x00};
    EXPECT_TRUE(startsWith(bytes, opening));
    const Buffer modeAndForm = {0x02, 0x00, 0x00, 0x00, 0xFF, 0xFE, 0xFF, 0x03, 0x50, 0x00, 0x48, 0x00, 0x59, 0x00};
    EXPECT_LT(find(bytes, modeAndForm), bytes.size());
    const Buffer diskAndFileSystem = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFE, 0xFF, 0x05, 0x46, 0x00, 0x41, 0x00,
                                      0x54, 0x00, 0x33, 0x00, 0x32, 0x00, 0xFF, 0xFE, 0xFF, 0x0B, 0x44, 0x00};
    const std::size_t at = find(bytes, diskAndFileSystem);
    ASSERT_LT(at, bytes.size());
    // Then "Deep Search" (11 units), four u64 values, two 60-byte parameter blocks, the PartType.
    const Buffer partType = {0xFF, 0xFE, 0xFF, 0x05, 0x46, 0x00, 0x41, 0x00, 0x54, 0x00, 0x33, 0x00, 0x32, 0x00};
    const std::size_t afterName = at + 20 + 4 + 22;
    EXPECT_EQ(Buffer(bytes.begin() + static_cast<std::ptrdiff_t>(afterName + 32 + 120),
                     bytes.begin() + static_cast<std::ptrdiff_t>(afterName + 32 + 120 + partType.size())),
              partType);
    EXPECT_EQ(afterName + 32 + 120 + partType.size(), header.size());

    const Buffer photos = {
        0x09, 0x00, 0x50, 0x00, 0x68, 0x00, 0x6F, 0x00, 0x74, 0x00, 0x6F, 0x00, 0x73, 0x00, 0x0D, 0x00, 0x0A, 0x00,
        0xFF, 0xFE, 0xFF, 0x06, 0x50, 0x00, 0x68, 0x00, 0x6F, 0x00, 0x74, 0x00, 0x6F, 0x00, 0x73, 0x00,
        0xD2, 0x04, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
        0x21, 0x4A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x6B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0xDE, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_LT(find(bytes, photos), bytes.size());
}

TEST(LogFormat, StringLengthsTakeTheirFourForms)
{
    const struct {
        std::uint64_t length;
        Buffer encoded;
    } cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {300, {0xFF, 0x2C, 0x01}},
        {65533, {0xFF, 0xFD, 0xFF}},
        {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0xFFFFFFFEull, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}},
        {0xFFFFFFFFull, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(encodeLength(c.length), c.encoded) << c.length;

    // A 300-character folder name is written with the long form after the tag bytes.
    recovery::FolderResults folders;
    const std::string name(300, 'a');
    recovery::insertFolderNode(folders, recovery::kNoItem, name, 5, 0, 0, 0, false);
    LogContents c;
    c.header = deepDiskHeader();
    c.folders = &folders;
    const Buffer bytes = written(c);
    Expect record;
    record.b = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};
    record.units(name);
    EXPECT_LT(find(bytes, record.b), bytes.size());
    ASSERT_EQ(parsed(bytes).folders.size(), 1u);
    EXPECT_EQ(parsed(bytes).folders[0].name, name);
}

// Which sections a log has, in full: Basic logs have no partition section, no Cluster0Start in
// their records and no drive partition rows; an NTFS Deep log has the NTFS section with the
// drive partition rows but no partition section; an empty tree still has "Root" and the marker.
TEST(LogFormat, EachKindOfLogHasItsSections)
{
    recovery::MftFileRow file;
    file.parentRecord = 5;
    file.recordSector = 4194304;
    file.name = "a.txt";
    file.creationTime = 133000000000000000ull;
    const recovery::MftFileTable files = {file};
    const DrivePartitionTable drives = {{"D", "1", "63", "999", "100", "1000"}};
    recovery::DeepPartitionRecord part;
    part.sector = 2048;
    part.spc = 8;
    part.cluster0Start = -6;  // cluster 0 before the medium's start
    part.partType = volumes::kFat32;
    const recovery::DeepPartitionTable parts = {part};

    struct Case {
        const char* name;
        std::uint32_t mode;
        const char* fileSystem;
        bool withFolder;
    };
    for (const Case& k : {Case{"basic NTFS", 1, "NTFS", true}, Case{"deep NTFS", 2, "NTFS", true},
                          Case{"deep FAT32", 2, "FAT32", true}, Case{"empty basic FAT32", 1, "FAT32", false}}) {
        SCOPED_TRACE(k.name);
        const bool deep = k.mode == 2, ntfs = std::string(k.fileSystem) == "NTFS";
        recovery::FolderResults folders;
        if (k.withFolder) recovery::insertFolderNode(folders, recovery::kNoItem, "Docs", 40, 5, 7, 8, true, 99);
        LogContents c;
        c.header = deepDiskHeader();
        c.header.mode = k.mode;
        c.header.searchModeName = deep ? "Deep Search" : "Basic Search";
        c.header.fileSystem = k.fileSystem;
        c.header.workingPartType = k.fileSystem;
        c.folders = &folders;
        c.deepPartitions = &parts;
        c.mftFiles = &files;
        c.drivePartitions = &drives;
        c.ntfsScanValue = 77;

        Expect e = expectedHeader(c.header);
        if (deep && !ntfs) {
            e.le(1, 8);
            for (const char* cell : {"2048", "0", "8", "0", "0", "0", "-6", "0", "0", "0", "FAT32", ""}) e.str(cell);
        }
        e.le(k.withFolder ? 1 : 0, 8);
        e.line("Root").str("Root_Item").le(0, 4).le(0, 4).le(0, 8).le(0, 8).le(0, 4);
        if (deep) e.le(0, 8);
        if (k.withFolder) {
            e.line("\tDocs").str("Docs").le(40, 4).le(5, 4).le(7, 8).le(8, 8).le(1, 4);
            if (deep) e.le(99, 8);
        }
        e.line(endMarker());
        if (ntfs) {
            e.le(1, 8).str("5|4194304|").str("a.txt").str("").str("133000000000000000").str("").str("5");
            e.le(77, 4);
            if (deep) {
                e.le(1, 4);
                for (const auto& cell : drives[0]) e.str(cell);
            }
        }
        EXPECT_EQ(written(c), e.b);

        // And read back as written.
        const ParsedLog log = parsed(e.b);
        EXPECT_FALSE(log.fault);
        EXPECT_TRUE(log.treeRead);
        EXPECT_EQ(log.folders.size(), k.withFolder ? 1u : 0u);
        EXPECT_EQ(log.mftFiles.size(), ntfs ? 1u : 0u);
        EXPECT_EQ(log.drivePartitions.size(), ntfs && deep ? 1u : 0u);
        EXPECT_EQ(log.deepPartitions.size(), deep && !ntfs ? 1u : 0u);
        if (deep && !ntfs) {
            EXPECT_EQ(log.deepPartitions[0].cluster0Start, -6);
        }
        if (ntfs) {
            EXPECT_EQ(log.mftFiles[0].parentRecord, 5u);
            EXPECT_EQ(log.mftFiles[0].recordSector, 4194304u);
            EXPECT_EQ(log.mftFiles[0].creationTime, file.creationTime);
            EXPECT_EQ(log.ntfsScanValue, 77u);
        }
    }
}

TEST(LogFormat, TheExtensionFollowsTheClassicPartAndCarriesWhatItCannot)
{
    recovery::FolderResults folders;
    const auto docs = recovery::insertFolderNode(folders, recovery::kNoItem, "Docs", 7, 0, 0, 0, false, -12, 2);
    recovery::insertFolderNode(folders, docs, "Sub", 9, 7, 0, 0, false, -12, 2);
    folders.nodeOf(docs)->visited = true;
    recovery::MftFileRow row;
    row.parentRecord = 5;
    row.recordSector = 6000000000ull;
    row.recordNumber = 70000;
    row.volume = 1;
    row.parentLost = true;
    const recovery::MftFileTable files = {row};
    LogExtension ext;
    ext.devicePath = "/dev/sdb";
    ext.deviceSectors = 8000000000ull;
    ext.sweptFileSystem = "FAT+NTFS";
    ext.summary.directoriesFound = 12;
    ext.summary.end = recovery::ScanEnd::Stopped;
    volumes::VolumeParameters big = fat32Params();
    big.firstFat = 5000000000ull;  // beyond what the classic block holds
    ext.volumes = {fat32Params(), big};
    recovery::NtfsVolumeGuess guess;
    guess.firstSector = 4096;
    guess.guessedClusterSize = true;
    ext.ntfsVolumes = {guess};

    LogContents c;
    c.header = deepDiskHeader();
    c.header.workingParams = big;
    c.header.workingPartType = volumes::kNtfs;
    c.folders = &folders;
    c.mftFiles = &files;
    c.extension = &ext;
    const Buffer bytes = written(c);

    // A reader of the classic layout ends where the extension begins.
    LogContents classic = c;
    classic.extension = nullptr;
    const Buffer classicBytes = written(classic);
    ASSERT_TRUE(startsWith(bytes, classicBytes));
    EXPECT_FALSE(parsed(classicBytes).extension);
    // The classic block cannot hold a FAT beyond 2^32 sectors: it gets a value no volume has.
    EXPECT_EQ(parsed(classicBytes).header.workingParams.firstFat, UINT32_MAX);

    const ParsedLog log = parsed(bytes);
    ASSERT_FALSE(log.fault);
    ASSERT_TRUE(log.extension);
    EXPECT_EQ(log.extension->devicePath, "/dev/sdb");
    EXPECT_EQ(log.extension->deviceSectors, 8000000000ull);
    EXPECT_EQ(log.extension->sweptFileSystem, "FAT+NTFS");
    EXPECT_EQ(log.extension->summary.end, recovery::ScanEnd::Stopped);
    EXPECT_EQ(log.extension->summary.directoriesFound, 12u);
    ASSERT_EQ(log.extension->volumes.size(), 2u);
    EXPECT_EQ(log.extension->volumes[1].firstFat, 5000000000ull);
    ASSERT_EQ(log.extension->ntfsVolumes.size(), 1u);
    EXPECT_TRUE(log.extension->ntfsVolumes[0].guessedClusterSize);
    ASSERT_EQ(log.folders.size(), 2u);
    EXPECT_EQ(log.folders[0].volume, 2u);
    EXPECT_EQ(log.folders[0].cluster0Start, -12);
    EXPECT_TRUE(log.folders[0].visited);
    EXPECT_EQ(log.folders[1].item, 3u);
    ASSERT_EQ(log.mftFiles.size(), 1u);
    EXPECT_EQ(log.mftFiles[0].recordNumber, 70000u);
    EXPECT_EQ(log.mftFiles[0].recordSector, 6000000000ull);
    EXPECT_EQ(log.mftFiles[0].volume, 1u);
    EXPECT_TRUE(log.mftFiles[0].parentLost);

    // Every way a scan can end, and every reason its parameters failed, comes back as it was.
    for (const auto failure : {recovery::ParamsFailure::None, recovery::ParamsFailure::NotInferred,
                               recovery::ParamsFailure::StoppedInference, recovery::ParamsFailure::MediumRemoved,
                               recovery::ParamsFailure::NtfsBootSector, recovery::ParamsFailure::NotFatOrNtfs}) {
        for (const auto end : {recovery::ScanEnd::Finished, recovery::ScanEnd::Stopped, recovery::ScanEnd::Failed}) {
            ext.summary.paramsFailure = failure;
            ext.summary.paramsFailed = failure != recovery::ParamsFailure::None;
            ext.summary.end = end;
            const ParsedLog back = parsed(written(c));
            ASSERT_TRUE(back.extension) << static_cast<int>(failure);
            EXPECT_EQ(back.extension->summary.paramsFailure, failure);
            EXPECT_EQ(back.extension->summary.paramsFailed, ext.summary.paramsFailed);
            EXPECT_EQ(back.extension->summary.end, end);
        }
    }
}

}  // namespace kfr::recoverylog
