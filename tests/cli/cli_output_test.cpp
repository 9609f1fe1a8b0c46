// The command-line program as a user and a script see it: JSON output for fixture images equals
// the expected files, every exit code from a real command, the usual command-line manners,
// partitions by the kernel's numbers, an aligned listing, names that cannot take over the
// terminal, a crafted tree too deep to recurse, and Ctrl+C during a scan. Images stay unchanged.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "le_bytes.h"
#include "test_support.h"

namespace {

using kfr::test::fixturePath;
using kfr::test::runCli;
using kfr::test::shellQuote;

nlohmann::json expected(const std::string& name)
{
    std::ifstream in(std::string(KFR_SOURCE_DIR) + "/tests/cli/expected/" + name);
    return nlohmann::json::parse(in);
}

nlohmann::json parsed(const kfr::test::CommandOutput& r)
{
    return nlohmann::json::parse(r.out, nullptr, false);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A medium of 128 sectors whose MBR claims a FAT32 partition of 2^32 - 16 sectors from sector 64.
std::vector<std::uint8_t> oversizedPartitionDisk()
{
    std::vector<std::uint8_t> bytes(128 * 512, 0);
    bytes[446 + 4] = 0x0C;
    kfr::test::putLe32(bytes.data() + 446 + 8, 64);
    kfr::test::putLe32(bytes.data() + 446 + 12, 0xFFFFFFF0u);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    return bytes;
}

// A FAT32 volume of 512-byte clusters holding a chain of `depth` folders, each the only child of
// the one before: "D" inside "D" inside "D" ...
std::vector<std::uint8_t> deepTreeVolume(std::uint32_t depth)
{
    const std::uint32_t clusters = depth + 10, reserved = 32;
    const std::uint32_t spf = ((clusters + 2) * 4 + 511) / 512;
    const std::uint32_t dataStart = reserved + 2 * spf, total = dataStart + clusters;
    std::vector<std::uint8_t> img(static_cast<std::size_t>(total) * 512, 0);
    std::uint8_t* bs = img.data();
    const char oem[] = "\xEB\x58\x90MSWIN4.1";
    std::copy(oem, oem + 11, bs);
    kfr::test::putLe16(bs + 11, 512);
    bs[13] = 1;  // sectors per cluster
    kfr::test::putLe16(bs + 14, static_cast<std::uint16_t>(reserved));
    bs[16] = 2;  // FATs
    bs[21] = 0xF8;
    kfr::test::putLe32(bs + 32, total);
    kfr::test::putLe32(bs + 36, spf);
    kfr::test::putLe32(bs + 44, 2);  // root cluster
    std::copy_n("FAT32   ", 8, bs + 82);
    bs[510] = 0x55;
    bs[511] = 0xAA;
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        std::uint8_t* fat = img.data() + static_cast<std::size_t>(reserved + copy * spf) * 512;
        kfr::test::putLe32(fat, 0x0FFFFFF8);
        for (std::uint32_t c = 1; c < 3 + depth; ++c) kfr::test::putLe32(fat + c * 4, 0x0FFFFFFF);
    }
    auto entry = [&](std::uint32_t cluster, std::size_t index, const char* name, std::uint32_t target) {
        std::uint8_t* e = img.data() + static_cast<std::size_t>(dataStart + cluster - 2) * 512 + index * 32;
        std::copy_n(name, 11, e);
        e[11] = 0x10;
        kfr::test::putLe16(e + 20, static_cast<std::uint16_t>(target >> 16));
        kfr::test::putLe16(e + 26, static_cast<std::uint16_t>(target & 0xFFFF));
    };
    entry(2, 0, "D          ", 3);
    for (std::uint32_t i = 0; i < depth; ++i) {
        const std::uint32_t c = 3 + i;
        entry(c, 0, ".          ", c);
        entry(c, 1, "..         ", i == 0 ? 0 : c - 1);
        if (i + 1 < depth) entry(c, 2, "D          ", c + 1);
    }
    return img;
}

// A copy of fat16_basic.img in which two long names carry terminal control sequences: the folder
// "Documents" becomes "D ESC[2J BEL CR LF s" (clear the screen, ring, forge a line) and the file
// "Holiday Photos List.txt" starts "H ESC[1A" (cursor up).
std::string controlCharacterImage(const kfr::test::TempDir& dir)
{
    auto bytes = kfr::test::readFileBytes(fixturePath("fat16_basic.img"));
    const std::size_t rootStart = 68 * 512, rootEnd = rootStart + 32 * 512;
    const std::size_t charOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20};  // of a long-name entry
    auto patch = [&](const std::u16string& firstFive, const std::u16string& replacement) {
        for (std::size_t e = rootStart; e < rootEnd; e += 32) {
            bool match = true;
            for (std::size_t i = 0; i < 5 && match; ++i)
                match = bytes[e + charOffsets[i]] == (firstFive[i] & 0xFF) && bytes[e + charOffsets[i] + 1] == 0;
            if (!match) continue;
            for (std::size_t i = 0; i < replacement.size(); ++i)
                kfr::test::putLe16(bytes.data() + e + charOffsets[i], replacement[i]);
            return true;
        }
        return false;
    };
    EXPECT_TRUE(patch(u"Docum", u"D\x1b[2J\x07\r\ns"));
    EXPECT_TRUE(patch(u"Holid", u"H\x1b[1A"));
    const std::string path = dir.file("control.img");
    writeFile(path, bytes);
    return path;
}

}  // namespace

TEST(CliOutput, JsonMatchesExpectedFiles)
{
    struct Case {
        const char* args;
        const char* image;
        const char* expectedFile;
    };
    const Case cases[] = {
        {"--json scan", "fat16_basic.img", "fat16_basic_scan.json"},
        {"--json scan -s", "fat32_lost_parent.img", "fat32_lost_parent_scan.json"},
        {"scan --json", "ntfs_basic.img", "ntfs_basic_scan.json"},
        {"info --json --source", "fat32_basic.img", "fat32_basic_info.json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectedFile);
        const std::string image = fixturePath(c.image);
        const std::string before = kfr::test::fileDigest(image);
        const auto r = runCli(std::string(c.args) + " " + shellQuote(image), false);
        ASSERT_EQ(r.exitCode, 0) << r.out;
        auto json = nlohmann::json::parse(r.out);
        EXPECT_EQ(json["source"]["path"], image);
        json.erase("source");
        EXPECT_EQ(json, expected(c.expectedFile)) << json.dump(2);
        EXPECT_EQ(kfr::test::fileDigest(image), before);
    }
}

TEST(CliOutput, EveryExitCodeFromARealCommand)
{
    kfr::test::TempDir dir;
    writeFile(dir.file("zeros.img"), std::vector<std::uint8_t>(64 * 512, 0));
    writeFile(dir.file("oversized.img"), oversizedPartitionDisk());
    const std::string zeros = shellQuote(dir.file("zeros.img"));
    const std::string fat16 = shellQuote(fixturePath("fat16_basic.img"));
    const std::string linuxMbr = shellQuote(fixturePath("disk_linux_first_mbr.img"));
    struct Case {
        std::string args;
        int exitCode;
        const char* message;   // in the text output (stdout and stderr)
        const char* jsonCode;  // error.code with --json; nullptr when the command reports, not fails
    };
    const std::vector<Case> cases = {
        {"scan " + fat16, 0, "Scan finished: 12 folders placed.", nullptr},
        {"scan --fs FAT32 " + zeros, 1, "Recovery is not possible in Basic Search Mode", nullptr},
        {"info --fs FAT16 " + zeros, 1, "Unable to calculate partition parameters.", "no_parameters"},
        {"save " + shellQuote(fixturePath("fat_truncated.img")) + " --all -d " + shellQuote(dir.path()), 1,
         "files are incomplete", nullptr},
        {"info -p 1 --fs FAT32 " + shellQuote(dir.file("oversized.img")), 1,
         "(no valid FAT32 boot sector at sector 64, and no two folders in sectors 64 - 127", "no_parameters"},
        {"scna " + fat16, 2, "unknown command \"scna\"; did you mean \"scan\"?", "usage"},
        {"scan " + fat16 + " --jsn", 2, "unknown option \"--jsn\"; did you mean \"--json\"?", "usage"},
        {"list " + fat16 + " --foldr Documents", 2, "did you mean \"--folder\"?", "usage"},
        {"scan", 2, "--source is required", "usage"},
        {"scan -p 9 " + shellQuote(fixturePath("disk_mbr.img")), 2, "there is no partition 9", "not_found"},
        {"scan " + linuxMbr, 2, "this disk has partitions 1, 2, 5, 6: use --partition N", "invalid_argument"},
        {"scan -p 1 " + linuxMbr, 2, "partition 1 holds ext4, which this tool does not read", "not_recognised"},
        {"scan --fs FAT32 " + fat16, 2, "contradicts the boot sector at sector 0", "invalid_argument"},
        {"scan " + zeros, 2, "no FAT16, FAT32 or NTFS boot sector", "not_recognised"},
        {"scan --first 100 " + zeros, 2, "beyond the end of the source", "invalid_argument"},
        {"scan -p 1 --first 5 " + linuxMbr, 2, "give either it or --first/--last", "invalid_argument"},
        {"list " + fat16 + " -f Nowhere", 2, "no recovered folder has this path", "not_found"},
        {"save " + fat16 + " -d " + shellQuote(dir.path()), 2, "No item has been selected.", "nothing_selected"},
        {"save " + fat16 + " --all -d " + shellQuote(dir.file("missing")), 2,
         "Invalid destination path. Please provide a valid location path to save the recovered data. (", "destination_invalid"},
        {"scan " + shellQuote(dir.file("missing.img")), 3, "No such file or directory", "open_failed"},
        {"deep " + zeros, 1, "No volume could be inferred from them.", nullptr},
        {"scan --fs FAT " + fat16, 2, "is for Deep Search (--deep)", "invalid_argument"},
        {"info --deep " + fat16, 2, "scan --deep (or deep) finds the volumes of a range", "usage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto text = runCli(c.args + " </dev/null");
        EXPECT_EQ(text.exitCode, c.exitCode) << text.out;
        EXPECT_NE(text.out.find(c.message), std::string::npos) << text.out;
        // The same with --json at the end of the line: a document on stdout and the same exit code.
        const auto json = runCli(c.args + " --json </dev/null", false);
        EXPECT_EQ(json.exitCode, c.exitCode);
        const auto doc = parsed(json);
        ASSERT_TRUE(doc.is_object()) << json.out;
        EXPECT_EQ(doc["format_version"], 1);
        if (c.jsonCode) {
            EXPECT_EQ(doc["error"]["code"], c.jsonCode) << json.out;
            EXPECT_NE(doc["error"]["message"].get<std::string>().find(c.message), std::string::npos) << json.out;
        } else {
            EXPECT_FALSE(doc.contains("error")) << json.out;
        }
    }
    // A partition the table makes larger than the medium is read up to the medium's end, and said so.
    const auto clipped = runCli("info -p 1 --fs FAT32 " + shellQuote(dir.file("oversized.img")));
    EXPECT_NE(clipped.out.find("partition 1 reaches past the end of the medium (128 sectors); reading up to its last "
                               "sector, 127."),
              std::string::npos)
        << clipped.out;
}

TEST(CliOutput, DeepSearchPrintsEveryVolumeOfAWipedDisk)
{
    // No partition table and no boot sectors: a FAT16 and a FAT32 volume at sectors 2048 and 42048.
    std::vector<std::uint8_t> disk(2048 * 512, 0);
    for (const char* name : {"fat16_basic.img", "fat32_basic.img"}) {
        auto bytes = kfr::test::readFileBytes(fixturePath(name));
        std::fill_n(bytes.begin(), 512, 0);
        std::fill_n(bytes.begin() + 6 * 512, 512, 0);
        disk.insert(disk.end(), bytes.begin(), bytes.end());
    }
    kfr::test::TempDir dir;
    const std::string image = dir.file("wiped.img");
    writeFile(image, disk);
    const std::string before = kfr::test::fileDigest(image);
    const std::uint64_t second = 2048 + kfr::test::readFileBytes(fixturePath("fat16_basic.img")).size() / 512;
    const auto out = runCli("deep --no-progress " + shellQuote(image));
    EXPECT_EQ(out.exitCode, 0) << out.out;
    for (const std::string& line :
         {std::string("Volume 1: FAT16 (inferred from folder positions), 4 sectors per cluster, cluster 0 at sector 2140, "
                      "first FAT at sector 2052"),
          "Volume 2: FAT32 (inferred from folder positions), 1 sectors per cluster, cluster 0 at sector " +
              std::to_string(second + 1290)})
        EXPECT_NE(out.out.find(line), std::string::npos) << out.out;
    const auto saved = runCli("save --deep --no-progress " + shellQuote(image) + " --all -d " + shellQuote(dir.path()));
    EXPECT_EQ(saved.exitCode, 0) << saved.out;
    EXPECT_NE(saved.out.find("Saved 136 of 136 files"), std::string::npos) << saved.out;
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CliOutput, SearchFindsDeletedPartitionsAndSaysHowToReadThem)
{
    // The disk's table and the boot records of its extended chain are gone.
    auto disk = kfr::test::readFileBytes(fixturePath("disk_mbr.img"));
    for (std::uint64_t sector : {0, 124928, 143360}) std::fill_n(disk.begin() + static_cast<std::ptrdiff_t>(sector * 512), 512, 0);
    kfr::test::TempDir dir;
    const std::string image = dir.file("wiped.img");
    writeFile(image, disk);
    const std::string before = kfr::test::fileDigest(image);

    const auto standard = runCli("search --no-progress " + shellQuote(image));
    EXPECT_EQ(standard.exitCode, 0) << standard.out;
    EXPECT_NE(standard.out.find("Found 1 more partitions in selected Disk ( Disk - 1 )"), std::string::npos) << standard.out;

    const auto advanced = runCli("search --advanced --no-progress " + shellQuote(image));
    EXPECT_EQ(advanced.exitCode, 0) << advanced.out;
    EXPECT_NE(advanced.out.find("Found 5 more partitions in selected Disk ( Disk - 1 )"), std::string::npos) << advanced.out;
    EXPECT_NE(advanced.out.find("Partition - 5 ( NTFS )   sectors 145408 - 161791   (8.0 MiB)   label \"LOGICALNT\""),
              std::string::npos)
        << advanced.out;
    // The command it prints reads the lost partition as the intact table's partition reads.
    const std::smatch hint = [&] {
        std::smatch m;
        std::regex_search(advanced.out, m, std::regex(R"(read it with: kestravon-cli scan \S+ (--first 108544 --last \d+ --fs NTFS))"));
        return m;
    }();
    ASSERT_FALSE(hint.empty()) << advanced.out;
    const auto lost = runCli("list --all --no-progress " + shellQuote(image) + " " + hint[1].str());
    const auto intact = runCli("list --all --no-progress -p 3 " + shellQuote(fixturePath("disk_mbr.img")));
    EXPECT_EQ(lost.exitCode, 0) << lost.out;
    EXPECT_EQ(lost.out, intact.out);
    EXPECT_NE(lost.out.find("$MFTMirr"), std::string::npos) << lost.out;

    const auto none = runCli("search --no-progress " + shellQuote(fixturePath("disk_mbr.img")));
    EXPECT_EQ(none.exitCode, 1) << none.out;
    EXPECT_NE(none.out.find("No more partitions found in selected Disk ( Disk - 1 )"), std::string::npos) << none.out;
    EXPECT_EQ(runCli("search --inside --advanced " + shellQuote(image)).exitCode, 2);
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CliOutput, UsualManners)
{
    const std::string fat16 = shellQuote(fixturePath("fat16_basic.img"));
    const auto version = runCli("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_search(version.out, std::regex(R"(^kestravon-cli \d+\.\d+\.\d+\n$)"))) << version.out;

    const auto help = runCli("help save");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* text : {"--dest", "--file-id", "--on-collision", "Exit status:", "130"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;

    // Global options anywhere; -q keeps stderr quiet; the source as a plain argument.
    const auto quiet = runCli("scan -q " + fat16 + " --no-progress", false);
    const auto quietAll = runCli("scan -q " + fat16 + " --no-progress", true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, quietAll.out);

    // carve takes the partition and the destination as the other commands do.
    kfr::test::TempDir out;
    const auto carve = runCli("--json carve -s " + shellQuote(fixturePath("disk_linux_first_mbr.img")) +
                                  " --partition 2 -d " + shellQuote(out.path()) + " --no-thorough",
                              false);
    const auto doc = parsed(carve);
    ASSERT_TRUE(doc.is_object()) << carve.out;
    EXPECT_EQ(doc["source"]["first_sector"], 10240);
    EXPECT_EQ(doc["source"]["last_sector"], 26623);
    EXPECT_EQ(doc["thorough_ran"], false);
}

TEST(CliOutput, IdsFromTheJsonNameWhatToSave)
{
    const std::string image = fixturePath("fat16_basic.img");
    // The id of a listed file, and of a listed folder, as a script would pick them.
    auto idOf = [&](const std::string& folder, const std::string& name, const char* key) {
        const auto listed = parsed(runCli("--json list -f " + shellQuote(folder) + " " + shellQuote(image), false));
        for (const auto& e : listed["folders"][0]["entries"])
            if (e["name"] == name) return e[key].dump();
        return std::string();
    };
    const std::string fileId = idOf("Documents/Work", "todo.txt", "id");
    const std::string folderId = idOf("Pictures", "Camera", "folder_id");
    ASSERT_FALSE(fileId.empty());
    ASSERT_FALSE(folderId.empty());
    kfr::test::TempDir out;
    const auto saved = runCli("--json save " + shellQuote(image) + " -d " + shellQuote(out.path()) + " --file-id " +
                                  fileId + " --folder-id " + folderId,
                              false);
    ASSERT_EQ(saved.exitCode, 0) << saved.out;
    std::set<std::string> files;
    const auto report = parsed(saved);
    ASSERT_TRUE(report.is_object()) << saved.out;
    for (const auto& f : report["files"])
        files.insert(std::filesystem::relative(f["path"].get<std::string>(), out.path()).string());
    const std::set<std::string> expectedFiles = {"Documents/Work/todo.txt", "Pictures/Camera/IMG_0001.JPG",
                                                 "Pictures/Camera/IMG_0002.JPG", "Pictures/Camera/IMG_0003.JPG"};
    EXPECT_EQ(files, expectedFiles);
    EXPECT_EQ(runCli("save " + shellQuote(image) + " -d " + shellQuote(out.path()) + " --file-id 1:999").exitCode, 2);
}

TEST(CliOutput, PartitionsAreNumberedAsTheKernelNumbersThem)
{
    struct Case {
        const char* image;
        std::vector<int> slots;
        std::vector<bool> readable;
        std::vector<std::string> fileSystems;
    };
    const Case cases[] = {
        {"disk_linux_first_mbr.img", {1, 2, 3, 5, 6}, {false, true, false, false, false},
         {"ext4", "FAT16", "", "swap", "FAT12"}},
        {"disk_linux_first_gpt.img", {1, 2, 3}, {false, true, false}, {"ext4", "FAT16", "swap"}},
    };
    kfr::test::TempDir emptySysfs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const std::string image = fixturePath(c.image);
        const std::string before = kfr::test::fileDigest(image);
        const auto listed = runCli("--json disks --sysfs-root " + shellQuote(emptySysfs.path()) + " --image " + shellQuote(image), false);
        ASSERT_EQ(listed.exitCode, 0) << listed.out;
        const auto doc = parsed(listed);
        std::vector<int> slots;
        std::vector<bool> readable;
        std::vector<std::string> fileSystems;
        for (const auto& p : doc["disks"][0]["partitions"]) {
            slots.push_back(p["slot"]);
            readable.push_back(p["readable"]);
            fileSystems.push_back(p["file_system"].is_null() ? "" : p["file_system"].get<std::string>());
        }
        EXPECT_EQ(slots, c.slots);
        EXPECT_EQ(readable, c.readable);
        EXPECT_EQ(fileSystems, c.fileSystems);
        // The FAT volume is partition 2, as /dev/sdb2 would be, although it is the first one listed.
        const auto scanned = runCli("--json scan -p 2 " + shellQuote(image), false);
        EXPECT_EQ(parsed(scanned)["source"]["first_sector"], 10240) << scanned.out;
        const auto text = runCli("disks --sysfs-root " + shellQuote(emptySysfs.path()) + " --image " + shellQuote(image));
        EXPECT_NE(text.out.find("ext4 (not read by this tool)"), std::string::npos) << text.out;
        EXPECT_EQ(kfr::test::fileDigest(image), before);
    }
}

TEST(CliOutput, ListingIsAnAlignedTable)
{
    const std::string image = fixturePath("fat16_basic.img");
    const auto r = runCli("list " + shellQuote(image), false);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto rows = lines(r.out);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0], "/   (6 Folders, 11 Files)");
    const std::size_t nameColumn = rows[1].find("Name");
    ASSERT_NE(nameColumn, std::string::npos) << rows[1];
    // Everything before the name is ASCII, so a byte offset is a column: every name starts in the
    // header's Name column, wide and accented names included.
    std::map<std::string, std::string> byName;
    for (std::size_t i = 2; i < rows.size(); ++i) {
        ASSERT_GT(rows[i].size(), nameColumn) << rows[i];
        EXPECT_EQ(rows[i][nameColumn - 1], ' ') << rows[i];
        EXPECT_NE(rows[i][nameColumn], ' ') << rows[i];
        byName[rows[i].substr(nameColumn)] = rows[i].substr(0, nameColumn);
    }
    for (const char* name : {"写真.jpg", "café_ünïcode.txt", "README.TXT", "Documents/"})
        EXPECT_TRUE(byName.count(name)) << name;
    EXPECT_NE(byName["README.TXT"].find("1.2 KiB  2023-06-01 08:15:30"), std::string::npos) << byName["README.TXT"];
    EXPECT_NE(byName["Deleted Notes.txt"].find("yes"), std::string::npos);

    const auto exact = runCli("list --bytes --deleted-only " + shellQuote(image), false);
    const auto deleted = lines(exact.out);
    ASSERT_EQ(deleted.size(), 5u) << exact.out;  // heading, header, Old Projects, Deleted Notes, Spacer B
    EXPECT_NE(deleted[3].find("5000  2023-06-07 20:33:54  yes"), std::string::npos) << deleted[3];
}

TEST(CliOutput, NamesCannotControlTheTerminal)
{
    kfr::test::TempDir dir;
    const std::string image = controlCharacterImage(dir);
    const std::string before = kfr::test::fileDigest(image);
    const auto original = runCli("scan " + shellQuote(fixturePath("fat16_basic.img")), false);
    for (const char* command : {"scan", "list"}) {
        SCOPED_TRACE(command);
        const auto r = runCli(std::string(command) + " " + shellQuote(image), false);
        ASSERT_EQ(r.exitCode, 0) << r.out;
        for (char c : {'\x1b', '\x07', '\r'}) EXPECT_EQ(r.out.find(c), std::string::npos) << int(c);
        EXPECT_NE(r.out.find("D\\x1B[2J\\x07\\x0D\\x0As"), std::string::npos) << r.out;
        // No line was forged: as many lines as the untouched image gives.
        if (std::string(command) == "scan") {
            EXPECT_EQ(lines(r.out).size(), lines(original.out).size());
        } else {
            EXPECT_NE(r.out.find("H\\x1B[1Aay Photos List.txt"), std::string::npos);
        }
    }
    // Scripts get the names as they are, escaped by JSON itself.
    const auto json = parsed(runCli("--json list " + shellQuote(image), false));
    bool found = false;
    for (const auto& e : json["folders"][0]["entries"]) found = found || e["name"] == "D\x1b[2J\x07\r\ns";
    EXPECT_TRUE(found);
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CliOutput, ATreeTooDeepToRecurseIsPrintedInLinearSpace)
{
    constexpr std::uint32_t kDepth = 100000;
    kfr::test::TempDir dir;
    const std::string image = dir.file("deep.img");
    writeFile(image, deepTreeVolume(kDepth));

    const auto text = runCli("scan " + shellQuote(image), false);
    ASSERT_EQ(text.exitCode, 0);
    const auto rows = lines(text.out);
    ASSERT_EQ(rows.size(), kDepth + 3u);  // Root, the chain, the orphan folder, the summary
    EXPECT_EQ(rows[kDepth], std::string(64, ' ') + "[depth 100000] D");
    EXPECT_LT(text.out.size(), 100u * kDepth);

    const auto json = runCli("--json scan " + shellQuote(image), false);
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_LT(json.out.size(), 250u * kDepth);
    const auto doc = parsed(json);
    ASSERT_TRUE(doc.is_object());
    ASSERT_EQ(doc["folders"].size(), kDepth + 2u);
    EXPECT_EQ(doc["folders"][kDepth]["depth"], kDepth);

    // Listing every folder names each by its path while the path is one a file system could take.
    const auto all = runCli("--json list --all " + shellQuote(image), false);
    ASSERT_EQ(all.exitCode, 0);
    EXPECT_LT(all.out.size(), 4200u * 2100u + 400u * kDepth);
    const auto listed = parsed(all);
    ASSERT_EQ(listed["folders"].size(), kDepth + 2u);
    EXPECT_EQ(listed["folders"][2]["path"], "/D/D");
    EXPECT_TRUE(listed["folders"][kDepth]["path"].is_null());
}

TEST(CliOutput, MountPointStandsForItsDevice)
{
    kfr::test::TempDir dir;
    const std::string image = fixturePath("fat16_basic.img");
    std::filesystem::create_directories(dir.file("mnt/sub"));
    {
        std::ofstream table(dir.file("mountinfo"));
        table << "21 1 8:1 / / rw - ext4 /dev/nonexistent-root rw\n"
              << "40 21 7:0 / " << dir.file("mnt") << " rw,relatime - vfat " << image << " rw\n";
    }
    const auto scanned = runCli("scan " + shellQuote(dir.file("mnt")) + " --mountinfo " + shellQuote(dir.file("mountinfo")));
    EXPECT_EQ(scanned.exitCode, 0) << scanned.out;
    EXPECT_NE(scanned.out.find("is where " + image + " is mounted; reading " + image), std::string::npos) << scanned.out;
    EXPECT_NE(scanned.out.find("Scan finished: 12 folders placed."), std::string::npos);

    const auto inside = runCli("scan " + shellQuote(dir.file("mnt/sub")) + " --mountinfo " + shellQuote(dir.file("mountinfo")));
    EXPECT_EQ(inside.exitCode, 2);
    EXPECT_NE(inside.out.find("is a folder, not a disk, partition or image file; it lies on " + image), std::string::npos)
        << inside.out;
}

TEST(CliOutput, InterruptStopsTheScanAndStillPrintsTheTree)
{
    // A FAT32 volume's first sectors in front of 64 GiB of empty space: a scan takes a while.
    kfr::test::TempDir dir;
    const std::string image = dir.file("big.img");
    {
        const auto head = kfr::test::readFileBytes(fixturePath("fat32_basic.img"));
        std::ofstream out(image, std::ios::binary);
        out.write(reinterpret_cast<const char*>(head.data()), 2 * 1024 * 1024);
    }
    ASSERT_EQ(::truncate(image.c_str(), 64LL << 30), 0);

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string cli = KFR_CLI_PATH;
    std::vector<std::string> args = {cli, "scan", image};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ), 0);
    ::close(pipeFds[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ::kill(pid, SIGINT);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 130) << out;
    EXPECT_NE(out.find("Scan stopped by Ctrl+C"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("Root", 0), 0u) << out;
}

TEST(CliOutput, EveryCommandLeavesAReadOnlyLoopDeviceAndItsImageUnchanged)
{
    kfr::test::TempDir dir;
    const std::string image = dir.file("medium.img");
    writeFile(image, kfr::test::readFileBytes(fixturePath("fat32_basic.img")));
    const std::string before = kfr::test::fileDigest(image);
    const auto attached = kfr::test::runCommand("losetup --find --show --read-only " + shellQuote(image) + " 2>/dev/null", false);
    std::string loop = attached.out.substr(0, attached.out.find('\n'));
    if (attached.exitCode != 0 || loop.empty()) GTEST_SKIP() << "cannot attach a loop device here (needs root)";
    struct Detach {
        std::string path;
        ~Detach() { kfr::test::runCommand("losetup -d " + shellQuote(path), true); }
    } detach{loop};
    const std::string device = shellQuote(loop);
    const std::string dest = shellQuote(dir.path());
    for (const std::string& args : {"info " + device, "scan " + device, "deep " + device, "list --all " + device,
                                   "save --all -d " + dest + " " + device, "save --deep --all -d " + dest + " " + device,
                                   "open --no-open --file README.TXT " + device, "carve -d " + dest + " " + device,
                                   std::string("disks"), std::string("volumes")}) {
        SCOPED_TRACE(args);
        const auto out = runCli(args + " --no-progress </dev/null");
        EXPECT_LE(out.exitCode, 1) << out.out;
        EXPECT_EQ(kfr::test::fileDigest(loop), before);
    }
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}
