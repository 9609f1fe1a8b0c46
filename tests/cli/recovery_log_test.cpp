// Recovery logs on the command line: scan and deep save one (--save-log), and list, save and open
// work from it (--log) as they do after scanning; a log that fails its checks says why and exits
// non-zero.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kfr::test::fileDigest;
using kfr::test::shellQuote;

struct CliRun {
    int exitCode = -1;
    nlohmann::json json;
};

CliRun cli(const std::string& args)
{
    // FAT times are local times: read them in a fixed zone.
    const auto r = kfr::test::runCommand("TZ=UTC " + shellQuote(KFR_CLI_PATH) + " --json " + args + " </dev/null", false);
    return {r.exitCode, nlohmann::json::parse(r.out, nullptr, false)};
}

std::map<std::string, std::string> filesUnder(const std::string& folder)
{
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = fileDigest(e.path().string());
    return out;
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(RecoveryLogCli, ListSaveAndOpenFromALogGiveWhatTheScanGave)
{
    const struct {
        const char* image;
        const char* search;  // "scan" or "deep"
        const char* file;    // a file to open
    } cases[] = {
        {"fat32_basic.img", "scan", "Documents/Work/Reports/2023/Quarterly Summary Q3.txt"},
        {"ntfs_basic.img", "scan", "small.txt"},
        {"fat16_lost_parent.img", "deep", nullptr},
        {"ntfs_basic.img", "deep", "small.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.search) + " " + c.image);
        kfr::test::TempDir dir;
        const std::string image = dir.file("medium.img");
        fs::copy_file(kfr::test::fixturePath(c.image), image);
        const std::string before = fileDigest(image);
        const std::string log = dir.file("results.MFT");
        const std::string deep = std::string(c.search) == "deep" ? " --deep" : "";

        const CliRun scanned = cli(std::string(c.search) + " " + shellQuote(image) + " --save-log " + shellQuote(log));
        ASSERT_EQ(scanned.exitCode, 0);
        EXPECT_EQ(scanned.json["saved_log"]["path"], log);
        EXPECT_TRUE(scanned.json["saved_log"]["error"].is_null());

        const CliRun listed = cli("list --all" + deep + " " + shellQuote(image));
        const CliRun fromLog = cli("list --all --log " + shellQuote(log));
        ASSERT_EQ(fromLog.exitCode, 0) << fromLog.json.dump();
        EXPECT_EQ(fromLog.json["folders"], listed.json["folders"]);
        EXPECT_EQ(fromLog.json["source"], listed.json["source"]);
        EXPECT_EQ(fromLog.json["loaded_log"]["medium"], "same");
        EXPECT_EQ(fromLog.json["loaded_log"]["mode"], std::string(c.search) == "deep" ? "deep" : "basic");

        fs::create_directories(dir.file("scanned"));
        fs::create_directories(dir.file("logged"));
        EXPECT_EQ(cli("save --all" + deep + " " + shellQuote(image) + " -d " + shellQuote(dir.file("scanned"))).exitCode, 0);
        EXPECT_EQ(cli("save --all --log " + shellQuote(log) + " -d " + shellQuote(dir.file("logged"))).exitCode, 0);
        EXPECT_FALSE(filesUnder(dir.file("scanned")).empty());
        EXPECT_EQ(filesUnder(dir.file("logged")), filesUnder(dir.file("scanned")));

        if (c.file) {
            const CliRun opened = cli("open --no-open --log " + shellQuote(log) + " --file " + shellQuote(c.file));
            ASSERT_EQ(opened.exitCode, 0) << opened.json.dump();
            const CliRun direct = cli("open --no-open" + deep + " " + shellQuote(image) + " --file " + shellQuote(c.file));
            EXPECT_EQ(fileDigest(opened.json["copy_path"]), fileDigest(direct.json["copy_path"]));
        }
        EXPECT_EQ(fileDigest(image), before);
    }
}

TEST(RecoveryLogCli, ALogThatFailsItsChecksSaysWhyAndExitsNonZero)
{
    kfr::test::TempDir dir;
    const std::string image = dir.file("stick.img");
    fs::copy_file(kfr::test::fixturePath("fat16_basic.img"), image);
    const std::string log = dir.file("stick.MFT");
    ASSERT_EQ(cli("scan " + shellQuote(image) + " --save-log " + shellQuote(log)).exitCode, 0);
    const std::string before = fileDigest(image);

    // A file whose second String is not the signature; a log cut inside its tree.
    writeBytes(dir.file("other.MFT"), {0xFF, 0xFE, 0xFF, 1, 'A', 0, 0xFF, 0xFE, 0xFF, 1, 'B', 0, 0, 0, 0, 0});
    auto bytes = kfr::test::readFileBytes(log);
    bytes.resize(bytes.size() / 2);
    writeBytes(dir.file("cut.MFT"), bytes);
    const std::string moved = dir.file("moved.img");

    const struct {
        const char* name;
        std::string args;
        bool moveImage;
        int exitCode;
        const char* code;  // nullptr: it loads
        const char* message;
    } cases[] = {
        {"loads where it was saved", "list --log " + shellQuote(log), false, 0, nullptr, ""},
        {"not a log", "list --log " + shellQuote(dir.file("other.MFT")), false, 2, "invalid_log",
         "The selected recovery Log (index of recovered files and folders) file is invalid or corrupted."},
        {"cut short", "list --log " + shellQuote(dir.file("cut.MFT")), false, 2, "corrupt_log",
         "Please browse the valid Log file or Scan the disk again."},
        {"no such log", "list --log " + shellQuote(dir.file("none.MFT")), false, 2, "not_found", ""},
        {"a range besides the log", "list --first 5 --log " + shellQuote(log), false, 2, "invalid_argument", "--log"},
        {"medium moved away", "list --log " + shellQuote(log), true, 3, "media_missing",
         "Original Media has been moved or removed.\n\nThe drive from which selected recovery Log"},
        {"moved medium named", "list --log " + shellQuote(log) + " --source " + shellQuote(moved), true, 0, nullptr, ""},
        {"a medium of another size named",
         "list --log " + shellQuote(log) + " --source " + shellQuote(kfr::test::fixturePath("fat32_basic.img")), true, 3,
         "media_missing", "Original Media has been moved or removed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.moveImage) fs::rename(image, moved);
        const CliRun r = cli(c.args);
        if (c.moveImage) fs::rename(moved, image);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.json.dump();
        if (!c.code) {
            EXPECT_FALSE(r.json["folders"].empty());
            continue;
        }
        EXPECT_EQ(r.json["error"]["code"], c.code);
        EXPECT_NE(r.json["error"]["message"].get<std::string>().find(c.message), std::string::npos)
            << r.json["error"]["message"];
    }
    EXPECT_EQ(fileDigest(image), before);
}

TEST(RecoveryLogCli, ALogThatCannotBeWrittenThereIsRefusedBeforeTheScan)
{
    kfr::test::TempDir dir;
    const std::string image = kfr::test::fixturePath("fat32_basic.img");
    const CliRun r = cli("scan " + shellQuote(image) + " --save-log " + shellQuote(dir.file("no/such/folder/x.MFT")));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.json["error"]["code"], "destination_invalid");
    EXPECT_FALSE(r.json.contains("folders"));  // no scan ran
}
