// kestravon-cli save and open, run as a user would run them.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include "export/destination.h"
#include "export/save_state.h"
#include "texts/messages.h"
#include "texts/work_texts.h"
#include "export_test_util.h"

using namespace kfr;

namespace {

using test::shellQuote;
const auto quote = shellQuote;

// Runs the program with stdin from /dev/null (no terminal), stdout captured.
test::CommandOutput cli(const std::string& args)
{
    return test::runCli(args + " </dev/null", false);
}

nlohmann::json json(const test::CommandOutput& r)
{
    return nlohmann::json::parse(r.out, nullptr, false);
}

}  // namespace

TEST(SaveCommand, SavesFoldersAndFilesAndAnswersCollisionsAsTold)
{
    const std::string image = test::fixturePath("fat32_basic.img");
    const std::string before = test::fileDigest(image);
    test::TempDir out;
    const std::string base = "--json save -s " + quote(image) + " -d " + quote(out.path());

    const auto first = cli(base + " --folder 'Old Projects' --file Documents/Work/todo.txt");
    ASSERT_EQ(first.exitCode, 0) << first.out;
    const auto j = json(first);
    EXPECT_EQ(j["end"], "finished");
    EXPECT_EQ(j["files_total"], 4);
    EXPECT_EQ(j["files_written"], 4);
    EXPECT_EQ(j["folders_total"], 2);
    const auto files = test::filesUnder(out.path());
    EXPECT_EQ(files.size(), 4u);
    const std::string draft = out.file("Old Projects/Archive/_raft1.txt");
    EXPECT_EQ(test::fileText(draft), test::fileText(std::string(KFR_FIXTURE_SOURCE_DIR) +
                                                    "/originals/fat32_basic/Old Projects/Archive/draft1.txt"));

    struct Case {
        const char* mode;
        int written, declined;
        std::size_t filesAfter;
    };
    for (const Case c : {Case{"skip", 0, 4, 4}, Case{"rename", 4, 0, 8}, Case{"overwrite", 4, 0, 8}}) {
        SCOPED_TRACE(c.mode);
        const auto again = json(cli(base + " --folder 'Old Projects' --file Documents/Work/todo.txt --on-collision " + c.mode));
        EXPECT_EQ(again["files_written"], c.written);
        EXPECT_EQ(again["files_declined"], c.declined);
        EXPECT_EQ(test::filesUnder(out.path()).size(), c.filesAfter);
    }
    EXPECT_TRUE(test::filesUnder(out.path()).count("old projects/archive/_raft1_dd_0.txt"));
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(SaveCommand, RefusesWhatItCannotDo)
{
    const std::string image = test::fixturePath("fat16_basic.img");
    test::TempDir out;
    struct Case {
        const char* name;
        std::string args;
        std::string message;  // part of the error text
    };
    const std::vector<Case> cases{
        {"missing destination", "-d " + quote(out.file("missing")) + " --all", texts::kInvalidDestinationText},
        {"nothing chosen", "-d " + quote(out.path()), "No item has been selected."},
        {"asking without a terminal", "-d " + quote(out.path()) + " --all --on-collision ask", "needs a terminal"},
        {"unknown folder", "-d " + quote(out.path()) + " --folder Nowhere", "no recovered folder"},
        {"unknown file", "-d " + quote(out.path()) + " --file Documents/none.txt", "no file of this name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = cli("--json save -s " + quote(image) + " " + c.args);
        EXPECT_NE(r.exitCode, 0);
        const auto j = json(r);
        ASSERT_TRUE(j.contains("error")) << r.out;
        EXPECT_NE(j["error"]["message"].get<std::string>().find(c.message), std::string::npos) << r.out;
    }
    EXPECT_TRUE(test::filesUnder(out.path()).empty());
}

TEST(SaveCommand, OpenWritesATemporaryCopy)
{
    const std::string image = test::fixturePath("ntfs_basic.img");
    test::TempDir tmp;
    const auto r = cli("--json open --no-open -s " + quote(image) + " --file small.txt");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto j = json(r);
    const std::string copy = j["copy_path"];
    EXPECT_EQ(std::filesystem::path(copy).filename(), "MRC0.txt");
    EXPECT_EQ(test::fileText(copy).substr(0, 9), "small.txt");
    EXPECT_EQ(std::filesystem::file_size(copy), 300u);
    std::filesystem::remove(copy);
}

TEST(SaveCommand, NtfsStreamsAndSystemFilesOnlyWhenAskedFor)
{
    const std::string image = test::fixturePath("ntfs_compressed_sparse.img");
    const std::string before = test::fileDigest(image);
    struct Case {
        const char* options;
        bool stream;
        bool system;
    };
    for (const Case c : {Case{"", false, false}, Case{"--streams", true, false}, Case{"--system-files", false, true},
                         Case{"--streams --system-files", true, true}}) {
        SCOPED_TRACE(c.options);
        test::TempDir out;
        const auto r = cli("--json save -a -s " + quote(image) + " -d " + quote(out.path()) + " " + c.options);
        ASSERT_EQ(r.exitCode, 0) << r.out;
        const auto files = test::filesUnder(out.path());
        EXPECT_TRUE(files.count("file.txt"));
        EXPECT_EQ(files.count("file.txt:extra"), c.stream ? 1u : 0u);
        EXPECT_EQ(files.count("$mft"), c.system ? 1u : 0u);
        EXPECT_EQ(files.count("$extend/$quota"), c.system ? 1u : 0u);
    }
    EXPECT_EQ(test::fileDigest(image), before);
}
