// The command-line program as a script sees it: JSON output for fixture images equals the
// expected files, bad input gives a clear message and a failing exit code, images stay unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "test_support.h"

namespace {

using kfr::test::runCli;

nlohmann::json expected(const std::string& name)
{
    std::ifstream in(std::string(KFR_SOURCE_DIR) + "/tests/cli/expected/" + name);
    return nlohmann::json::parse(in);
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
        {"--json scan -s", "fat16_basic.img", "fat16_basic_scan.json"},
        {"--json scan -s", "fat32_lost_parent.img", "fat32_lost_parent_scan.json"},
        {"--json scan -s", "ntfs_basic.img", "ntfs_basic_scan.json"},
        {"--json info -s", "fat32_basic.img", "fat32_basic_info.json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expectedFile);
        const std::string image = kfr::test::fixturePath(c.image);
        const std::string before = kfr::test::fileDigest(image);
        const auto r = runCli(std::string(c.args) + " '" + image + "'");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        auto json = nlohmann::json::parse(r.out);
        json.erase("source");
        EXPECT_EQ(json, expected(c.expectedFile)) << json.dump(2);
        EXPECT_EQ(kfr::test::fileDigest(image), before);
    }
}

TEST(CliOutput, BadInputIsExplained)
{
    kfr::test::TempDir dir;
    {
        std::ofstream zeros(dir.file("zeros.img"), std::ios::binary);
        zeros << std::string(64 * 512, '\0');
    }
    struct Case {
        std::string args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {"scan -s " + dir.file("missing.img"), 1, "No such file or directory"},
        {"scan -s " + dir.file("zeros.img"), 1, "no FAT16, FAT32 or NTFS boot sector"},
        {"info --fs FAT16 -s " + dir.file("zeros.img"), 2, "Unable to calculate partition parameters."},
        {"scan --first 100 -s " + dir.file("zeros.img"), 1, "beyond the end of the source"},
        {"scan --first 10 --last 5 -s " + dir.file("zeros.img"), 1, "before the first sector"},
        {"scan", 106, "--source is required"},
        {"scan -p 9 -s " + kfr::test::fixturePath("disk_mbr.img"), 1, "there is no partition 9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = runCli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    }
    // A partition of a disk image is chosen by its number.
    const auto part = runCli("--json info -p 1 -s " + kfr::test::fixturePath("disk_mbr.img"));
    ASSERT_EQ(part.exitCode, 0) << part.out;
    const auto info = nlohmann::json::parse(part.out);
    EXPECT_EQ(info["parameters"]["PartType"], "FAT32");
    EXPECT_EQ(info["firstSector"], 2048);

    // A blank FAT32 selection still scans: "Root" alone and the parameters message.
    const auto blank = runCli("scan --fs FAT32 -s " + dir.file("zeros.img"));
    EXPECT_EQ(blank.exitCode, 0) << blank.out;
    EXPECT_NE(blank.out.find("Unable to calculate partition parameters."), std::string::npos);
    EXPECT_NE(blank.out.find("Recovery is not possible in Basic Search Mode"), std::string::npos);
}

TEST(CliOutput, InterruptStopsTheScanAndStillPrintsTheTree)
{
    // A FAT32 volume's first sectors in front of 64 GiB of empty space: a scan takes a while.
    kfr::test::TempDir dir;
    const std::string image = dir.file("big.img");
    {
        const auto head = kfr::test::readFileBytes(kfr::test::fixturePath("fat32_basic.img"));
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
    std::vector<std::string> args = {cli, "scan", "-s", image};
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
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("Scan stopped"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("Root", 0), 0u) << out;
}
