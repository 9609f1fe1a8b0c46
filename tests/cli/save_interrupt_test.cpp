// Ctrl+C in each phase of `save` stops the whole command: nothing is saved after a scan or a
// listing that was interrupted, and a file cut short while being written is set aside as
// NAME.part and named in the report. The command runs in this process and a real SIGINT is
// raised the moment it reaches the phase.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kfr::cli::Phase;

struct SaveRun {
    int exitCode = -1;
    nlohmann::json report;
};

// Runs kestravon-cli in this process; Ctrl+C comes the first time the command reaches `at`.
SaveRun saveInterruptedAt(Phase at, const std::vector<std::string>& args)
{
    bool raised = false;
    kfr::cli::setPhaseProbe([&](Phase phase) {
        if (phase == at && !raised) {
            raised = true;
            std::raise(SIGINT);
        }
    });
    std::vector<std::string> words = {"kestravon-cli", "--json", "save"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    testing::internal::CaptureStdout();
    SaveRun run;
    run.exitCode = kfr::cli::runCli(static_cast<int>(argv.size()), argv.data());
    run.report = nlohmann::json::parse(testing::internal::GetCapturedStdout(), nullptr, false);
    kfr::cli::setPhaseProbe(nullptr);
    EXPECT_TRUE(raised) << "the command never reached the phase";
    return run;
}

std::vector<std::string> filesUnder(const std::string& root)
{
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
    return out;
}

}  // namespace

TEST(SaveInterrupt, CtrlCInEachPhaseStopsTheWholeCommand)
{
    const std::string image = kfr::test::fixturePath("fat32_basic.img");
    const std::string before = kfr::test::fileDigest(image);
    struct Case {
        const char* name;
        Phase phase;
        std::vector<std::string> choice;
        const char* errorMessage;  // the run ends before saving, with this message; nullptr: a report
    };
    const Case cases[] = {
        {"during the scan", Phase::Reading, {"--all"}, "during the scan; nothing was saved"},
        {"while the folder of a file is listed", Phase::Listing, {"--file", "Documents/Work/todo.txt"},
         "during the listing of a folder; nothing was saved"},
        {"while the files are counted", Phase::Counting, {"--all"}, nullptr},
        {"while a file is written", Phase::Writing, {"--all"}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kfr::test::TempDir out;
        std::vector<std::string> args = {image, "-d", out.path()};
        args.insert(args.end(), c.choice.begin(), c.choice.end());
        const SaveRun run = saveInterruptedAt(c.phase, args);
        EXPECT_EQ(run.exitCode, 130);
        ASSERT_TRUE(run.report.is_object());
        const auto left = filesUnder(out.path());
        if (c.errorMessage) {
            EXPECT_EQ(run.report["error"]["code"], "interrupted");
            EXPECT_NE(run.report["error"]["message"].get<std::string>().find(c.errorMessage), std::string::npos);
            EXPECT_TRUE(left.empty());
            continue;
        }
        EXPECT_EQ(run.report["end"], "interrupted");
        const auto& cut = run.report["cut_short"];
        if (c.phase == Phase::Counting) {
            EXPECT_EQ(run.report["files_written"], 0);
            EXPECT_TRUE(cut.empty());
            EXPECT_TRUE(left.empty());
            continue;
        }
        // What was written before the cut stays whole; the file cut short is set aside and named;
        // nothing after it was started.
        ASSERT_EQ(cut.size(), 1u) << run.report.dump(2);
        const std::string path = cut[0]["path"];
        const std::string keptAs = cut[0]["kept_as"];
        EXPECT_EQ(keptAs, path + ".part");
        EXPECT_FALSE(fs::exists(path));
        ASSERT_TRUE(fs::exists(keptAs));
        EXPECT_EQ(fs::file_size(keptAs), cut[0]["written"].get<std::uint64_t>());
        EXPECT_LT(cut[0]["written"].get<std::uint64_t>(), cut[0]["size"].get<std::uint64_t>());
        std::size_t whole = 0;
        for (const auto& f : run.report["files"]) {
            if (f["outcome"] == "written") {
                ++whole;
                EXPECT_EQ(fs::file_size(f["path"].get<std::string>()), f["size"].get<std::uint64_t>());
            }
        }
        EXPECT_EQ(run.report["files_written"], whole);
        EXPECT_EQ(left.size(), whole + 1);
        EXPECT_LT(whole + 1, run.report["files_total"].get<std::size_t>());
    }
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}
