// Loading recovery logs: the tree rebuilt by the depth of its lines, the checks in their order,
// files cut short or built to mislead, and the media check against the disks and volumes
// attached now.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "recovery/folder_tree.h"
#include "recoverylog/recovery_log.h"
#include "storage/fake_system_tree.h"

namespace kfr::recoverylog {
namespace {

using Buffer = std::vector<std::uint8_t>;
using recovery::ItemId;

const char* const kDiskKey = "Stick USB Device||1.00 GB||2097152||1";

LogHeader basicHeader()
{
    LogHeader h;
    h.mode = 1;
    h.location.form = LocationForm::Physical;
    h.location.diskIdentity = kDiskKey;
    h.location.diskNumber = 1;
    h.diskNumber = 1;
    h.fileSystem = volumes::kFat32;
    h.searchModeName = "Basic Search";
    h.workingPartType = volumes::kFat32;
    return h;
}

Buffer written(const LogContents& c)
{
    MemorySink sink;
    EXPECT_TRUE(writeRecoveryLog(sink, c).ok());
    return sink.bytes();
}

// A log whose tree section is the given Lines, each followed by a Basic folder record named by
// the line's text without its tabs (self cluster from the table), unless the line is empty.
Buffer logWithLines(const std::vector<std::pair<std::string, std::uint32_t>>& lines)
{
    recovery::FolderResults none;
    LogContents c;
    c.header = basicHeader();
    c.folders = &none;
    Buffer bytes = written(c);
    const std::size_t markerBytes = (endMarker().size() + 2) * 2;
    bytes.resize(bytes.size() - markerBytes);
    MemorySink sink;
    LogWriter w(sink);
    for (const auto& [text, self] : lines) {
        w.line(text);
        if (text.empty()) continue;
        w.string(text.substr(text.find_first_not_of('\t')));
        w.u32(self);
        w.u32(0);
        w.u64(0);
        w.u64(0);
        w.u32(0);
    }
    w.line(endMarker());
    EXPECT_TRUE(w.finish().ok());
    bytes.insert(bytes.end(), sink.bytes().begin(), sink.bytes().end());
    return bytes;
}

// The tree as "parent/name" paths in item order.
std::vector<std::string> paths(const recovery::FolderResults& r)
{
    std::vector<std::string> out;
    for (ItemId id = 1; r.tree.valid(id); ++id) {
        std::string path = r.tree.item(id).name;
        for (ItemId p = r.tree.item(id).parent; p != recovery::kNoItem; p = r.tree.item(p).parent)
            path = r.tree.item(p).name + "/" + path;
        out.push_back(path);
    }
    return out;
}

MediaListing diskAt(std::uint32_t number, const std::string& key, const std::string& path)
{
    MediaListing m;
    m.disks.push_back({number, key, path});
    return m;
}

LoadContext contextWith(MediaListing media, MediaPrompt* prompt = nullptr)
{
    LoadContext ctx;
    ctx.listMedia = [media](const std::vector<std::string>&) { return media; };
    ctx.prompt = prompt;
    return ctx;
}

struct RecordingPrompt : MediaPrompt {
    bool answer = true;
    std::vector<std::string> asked;
    bool continueWithDisk(std::uint32_t saved, std::uint32_t found) override
    {
        asked.push_back("disk " + std::to_string(saved) + " -> " + std::to_string(found));
        return answer;
    }
    bool continueWithVolume(const std::string& saved, const std::string& found) override
    {
        asked.push_back("volume " + saved + " -> " + found);
        return answer;
    }
};

// Counts the bytes taken, to show what a check read before it stopped.
struct CountingInput : ByteInput {
    explicit CountingInput(const Buffer& bytes) : inner(bytes) {}
    std::size_t read(std::span<std::uint8_t> out) override
    {
        const std::size_t n = inner.read(out);
        taken += n;
        return n;
    }
    MemoryInput inner;
    std::size_t taken = 0;
};

}  // namespace

TEST(LogLoading, FoldersGoUnderTheParentTheirDepthNames)
{
    // Same self cluster for B and C: the cluster index is not consulted, both are folders.
    const Buffer bytes = logWithLines({{"\tA", 3}, {"\t\tB", 10}, {"", 0}, {"\t\tC", 10}, {"\t\t\tD", 4},
                                       {"\tE", 5}, {"\t\t\t\t\tF", 6}, {"\t\t\t\t\t\tG", 7}, {"H", 8}, {"\tI", 9}});
    MemoryInput input(bytes);
    const LoadedLog loaded = loadRecoveryLog(input, contextWith(diskAt(1, kDiskKey, "/dev/sdb")));
    ASSERT_EQ(loaded.verdict, LoadVerdict::Loaded);
    const std::vector<std::string> expected = {"Root",     "Root/A",     "Root/A/B",   "Root/A/C",   "Root/A/C/D",
                                               "Root/E",   "Root/E/F",   "Root/E/F/G", "Root/H",     "Root/I"};
    EXPECT_EQ(paths(loaded.folders), expected);
    EXPECT_EQ(loaded.folders.folderCount, 9u);
    EXPECT_TRUE(loaded.folders.tree.item(1).expanded);
    EXPECT_EQ(loaded.medium.devicePath, "/dev/sdb");

    // A first line of a single tab has no root record after it.
    Buffer tabFirst = logWithLines({{"\tA", 3}});
    const Buffer rootLine = {'R', 0, 'o', 0, 'o', 0, 't', 0, 0x0D, 0, 0x0A, 0};
    const auto at = std::search(tabFirst.begin(), tabFirst.end(), rootLine.begin(), rootLine.end());
    ASSERT_NE(at, tabFirst.end());
    const std::size_t rootRecordBytes = 4 + 9 * 2 + 4 + 4 + 8 + 8 + 4;
    tabFirst.erase(at, at + static_cast<std::ptrdiff_t>(rootLine.size() + rootRecordBytes));
    const Buffer tabLine = {'\t', 0, 0x0D, 0, 0x0A, 0};
    tabFirst.insert(at, tabLine.begin(), tabLine.end());
    MemoryInput tabInput(tabFirst);
    const ParsedLog log = parseRecoveryLog(tabInput);
    EXPECT_FALSE(log.fault);
    ASSERT_EQ(log.folders.size(), 1u);
    EXPECT_EQ(log.folders[0].name, "A");
}

TEST(LogLoading, ChecksComeInTheOrderTheHeaderIsRead)
{
    recovery::FolderResults folders;
    recovery::insertFolderNode(folders, recovery::kNoItem, "Docs", 3, 0, 0, 0, false);
    LogContents c;
    c.header = basicHeader();
    c.folders = &folders;
    const Buffer good = written(c);
    ASSERT_FALSE(good.empty());

    // A wrong signature is rejected after the first two Strings, before anything else is read.
    LogContents other = c;
    other.header.driveKind = "";
    Buffer wrong = written(other);
    wrong[4 + 5 * 2] = 'X';  // "KestrXvon..."
    CountingInput counting(wrong);
    EXPECT_EQ(loadRecoveryLog(counting, contextWith(diskAt(1, kDiskKey, "/dev/sdb"))).verdict, LoadVerdict::NotALog);
    EXPECT_LE(counting.taken, 4u + 4 + 19 * 2 + 1);  // the peek of the next byte at most

    struct Case {
        const char* name;
        std::optional<LogMode> screen;
        std::uint32_t mode;
        MediaListing media;
        LoadVerdict verdict;
    };
    const Case cases[] = {
        {"own mode, disk in place", LogMode::Basic, 1, diskAt(1, kDiskKey, "/dev/sdb"), LoadVerdict::Loaded},
        {"either mode", std::nullopt, 1, diskAt(1, kDiskKey, "/dev/sdb"), LoadVerdict::Loaded},
        {"other mode is handed over before the media check", LogMode::Deep, 1, {}, LoadVerdict::OtherMode},
        {"a mode that is no mode", std::nullopt, 7, diskAt(1, kDiskKey, "/dev/sdb"), LoadVerdict::MediaMissing},
        {"disk gone", LogMode::Basic, 1, {}, LoadVerdict::MediaMissing},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        LogContents withMode = c;
        withMode.header.mode = k.mode;
        const Buffer bytes = written(withMode);
        MemoryInput input(bytes);
        LoadContext ctx = contextWith(k.media);
        ctx.screenMode = k.screen;
        const LoadedLog loaded = loadRecoveryLog(input, ctx);
        EXPECT_EQ(loaded.verdict, k.verdict);
        if (k.verdict == LoadVerdict::Loaded)
            EXPECT_EQ(paths(loaded.folders), (std::vector<std::string>{"Root", "Root/Docs"}));
        else
            EXPECT_EQ(loaded.folders.folderCount, 0u);
    }
}

TEST(LogLoading, ACutFileKeepsTheFoldersReadBeforeTheCut)
{
    recovery::FolderResults folders;
    ItemId parent = recovery::kNoItem;
    for (std::uint32_t i = 0; i < 12; ++i)
        parent = recovery::insertFolderNode(folders, i % 3 ? parent : recovery::kNoItem, "F" + std::to_string(i),
                                            100 + i, 0, 0, 0, false, 0, 0);
    recovery::MftFileTable files(3);
    LogExtension ext;
    ext.devicePath = "/dev/sdb";
    ext.volumes = {volumes::VolumeParameters{}};
    LogContents c;
    c.header = basicHeader();
    c.header.workingPartType = volumes::kNtfs;
    c.folders = &folders;
    c.mftFiles = &files;
    c.extension = &ext;
    const Buffer full = written(c);
    // Cut where the extension begins, the file is a whole log of the classic layout.
    LogContents classic = c;
    classic.extension = nullptr;
    const std::size_t classicEnd = written(classic).size();

    std::size_t lastCount = 0;
    bool sawPartialTree = false;
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        const Buffer prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        MemoryInput input(prefix);
        const LoadedLog loaded = loadRecoveryLog(input, contextWith(diskAt(1, kDiskKey, "/dev/sdb")));
        ASSERT_EQ(loaded.verdict, cut == classicEnd ? LoadVerdict::Loaded : LoadVerdict::Corrupt) << cut;
        ASSERT_EQ(loaded.log.fault.has_value(), cut != classicEnd) << cut;
        const std::size_t count = loaded.folders.folderCount;
        EXPECT_GE(count, lastCount) << cut;  // a longer piece never gives fewer folders
        EXPECT_LE(count, 12u);
        if (count > 0 && count < 12) sawPartialTree = true;
        lastCount = count;
    }
    EXPECT_TRUE(sawPartialTree);
    MemoryInput input(full);
    const LoadedLog loaded = loadRecoveryLog(input, contextWith(diskAt(1, kDiskKey, "/dev/sdb")));
    EXPECT_EQ(loaded.verdict, LoadVerdict::Loaded);
    EXPECT_EQ(loaded.folders.folderCount, 12u);
}

TEST(LogLoading, ClaimsOfAHostileFileAreNeverTrusted)
{
    recovery::FolderResults folders;
    recovery::insertFolderNode(folders, recovery::kNoItem, "Docs", 3, 0, 0, 0, false);
    LogContents c;
    c.header = basicHeader();
    c.header.mode = 2;
    c.folders = &folders;
    LogExtension ext;
    ext.devicePath = "/dev/sdb";
    c.extension = &ext;
    const Buffer good = written(c);

    struct Case {
        const char* name;
        Buffer bytes;
        FaultKind fault;
    };
    std::vector<Case> cases;
    // A drive kind that claims 2^62 code units.
    cases.push_back({"huge string", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x40},
                     FaultKind::LengthTooLong});
    {
        // 2^64 - 1 partition rows, and then the file ends. The count follows the header, whose
        // last item is the working PartType "FAT32".
        Buffer bytes = good;
        const Buffer fat32 = {0xFF, 0xFE, 0xFF, 0x05, 'F', 0, 'A', 0, 'T', 0, '3', 0, '2', 0};
        const auto at = std::find_end(bytes.begin(), bytes.end(), fat32.begin(), fat32.end());
        ASSERT_NE(at, bytes.end());
        bytes.resize(static_cast<std::size_t>(at - bytes.begin()) + fat32.size());
        bytes.insert(bytes.end(), 8, 0xFF);
        bytes.insert(bytes.end(), {0xFF, 0xFE, 0xFF, 0x01, '1', 0});
        cases.push_back({"endless row count", bytes, FaultKind::Truncated});
    }
    {
        // The extension counts another number of folders than the tree holds.
        Buffer bytes = good;
        const Buffer docs = {0x01, 0, 0, 0, 0, 0, 0, 0};  // the extension's folder count of 1
        auto at = std::find_end(bytes.begin(), bytes.end(), docs.begin(), docs.end());
        ASSERT_NE(at, bytes.end());
        *at = 2;
        cases.push_back({"extension disagrees", bytes, FaultKind::Inconsistent});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto start = std::chrono::steady_clock::now();
        MemoryInput input(k.bytes);
        const ParsedLog log = parseRecoveryLog(input);
        ASSERT_TRUE(log.fault);
        EXPECT_EQ(log.fault->kind, k.fault);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }

    // A String written without its tag counts single-byte characters.
    Buffer untagged = {0x07, 'L', 'o', 'g', 'i', 'c', 'a', 'l'};
    MemoryInput input(untagged);
    LogReader reader(input);
    EXPECT_EQ(reader.string(), "Logical");
    EXPECT_TRUE(reader.ok());
}

TEST(LogLoading, TheMediaCheckFindsAMovedMediumAndAsks)
{
    const std::string moved = "Stick USB Device||1.00 GB||2097152||2";
    Location disk;
    disk.form = LocationForm::Physical;
    disk.diskIdentity = kDiskKey;
    disk.diskNumber = 1;
    Location volume;
    volume.form = LocationForm::Logical;
    volume.volumePath = "/dev/sdb1";
    volume.volumeSectors = 2048000;
    MediaListing volumes;
    volumes.volumes = {{"/dev/sda1", 999}, {"/dev/sdc1", 2048000}};

    struct Case {
        const char* name;
        Location location;
        MediaListing media;
        bool answer;
        MediaVerdict verdict;
        std::string path;
        std::vector<std::string> asked;
    };
    MediaListing sameDisk = diskAt(1, kDiskKey, "/dev/sdb");
    MediaListing movedDisk = diskAt(2, moved, "/dev/sdc");
    movedDisk.disks.insert(movedDisk.disks.begin(), {1, "Other||8 GB||16777216||1", "/dev/sdb"});
    MediaListing sameVolume = volumes;
    sameVolume.volumes.push_back({"/dev/sdb1", 2048000});
    const Case cases[] = {
        {"disk in place", disk, sameDisk, true, MediaVerdict::Same, "/dev/sdb", {}},
        {"disk at another number, yes", disk, movedDisk, true, MediaVerdict::Moved, "/dev/sdc", {"disk 1 -> 2"}},
        {"disk at another number, no", disk, movedDisk, false, MediaVerdict::Declined, "", {"disk 1 -> 2"}},
        {"disk gone", disk, diskAt(1, "Other||8 GB||16777216||1", "/dev/sdb"), true, MediaVerdict::Missing, "", {}},
        {"volume in place", volume, sameVolume, true, MediaVerdict::Same, "/dev/sdb1", {}},
        {"volume of that size elsewhere", volume, volumes, true, MediaVerdict::Moved, "/dev/sdc1",
         {"volume /dev/sdb1 -> /dev/sdc1"}},
        {"no volume of that size", volume, diskAt(1, kDiskKey, "/dev/sdb"), true, MediaVerdict::Missing, "", {}},
        {"nothing to check", Location{}, {}, true, MediaVerdict::Unchecked, "", {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        RecordingPrompt prompt;
        prompt.answer = k.answer;
        const MediaCheck check = checkMedia(k.location, k.media, &prompt);
        EXPECT_EQ(check.verdict, k.verdict);
        EXPECT_EQ(check.devicePath, k.path);
        EXPECT_EQ(prompt.asked, k.asked);
    }
    // Without a prompt to ask, a moved disk is not taken.
    EXPECT_EQ(checkMedia(disk, movedDisk, nullptr).verdict, MediaVerdict::Declined);

    // A medium the user names is taken by its size alone.
    EXPECT_EQ(recordedSectors(disk), 2097152u);
    EXPECT_EQ(checkNamedMedium(disk, "/img/stick.img", 2097152).verdict, MediaVerdict::Moved);
    EXPECT_EQ(checkNamedMedium(disk, "/img/stick.img", 2097151).verdict, MediaVerdict::Missing);
    EXPECT_EQ(checkNamedMedium(volume, "/img/part.img", 2048000).devicePath, "/img/part.img");
}

TEST(LogLoading, MediaOfTheMachineAreKnownByTheirDiskKeyOrVolumeSize)
{
    test::FakeSystemTree tree;
    tree.addDisk({"sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0", 2097152, false, {}});
    tree.setUdev("8:0", {"ID_MODEL=Stick", "ID_BUS=ata"});
    tree.addPartition("sda", "sda1", "8:1", 2048, 2095104);
    const std::string diskNode = tree.addNode("sda");
    const std::string partNode = tree.addNode("sda1");
    test::TempDir dir;
    const std::string image = dir.file("card.img");
    test::FakeSystemTree::writeFile(image, std::string(1024 * 512, '\0'));

    MediaListContext ctx;
    ctx.roots = tree.roots();
    ctx.hostName = "host";
    auto disk = identifyMedium(ctx, diskNode);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->form, LocationForm::Physical);
    EXPECT_EQ(disk->diskNumber, 0u);
    EXPECT_EQ(recordedSectors({LocationForm::Physical, disk->diskKey, 0, {}, 0}), 2097152u);
    auto part = identifyMedium(ctx, partNode);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->form, LocationForm::Logical);
    EXPECT_EQ(part->volumePath, partNode);
    EXPECT_EQ(part->volumeSectors, 2095104u);
    // An image file comes after the machine's disks and is known by its name and size.
    auto img = identifyMedium(ctx, image);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->form, LocationForm::Physical);
    EXPECT_TRUE(img->isImage);
    EXPECT_EQ(img->diskNumber, 1u);
    EXPECT_NE(img->diskKey.find("card.img"), std::string::npos);
    EXPECT_FALSE(identifyMedium(ctx, dir.file("missing.img")));

    ctx.imagePaths = {image};
    const MediaListing media = listMedia(ctx);
    ASSERT_EQ(media.disks.size(), 2u);
    EXPECT_EQ(media.disks[1].key, img->diskKey);
    ASSERT_EQ(media.volumes.size(), 1u);
    EXPECT_EQ(media.volumes[0].volumePath, partNode);
}

}  // namespace kfr::recoverylog
