// Taken target names: "_dd_" renaming, the Replace dialog's answers and the standing answers,
// alone and in a save run over a destination that already holds the files.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <set>

#include "export/collision.h"
#include "export/save_run.h"
#include "export_test_util.h"

using namespace kfr;
using namespace kfr::exporting;

namespace {

// Answers from a script, like a user clicking through the Replace dialog.
struct ScriptedPrompt : CollisionPrompt {
    std::deque<ReplaceReply> replies;
    std::vector<std::pair<std::string, std::string>> asked;  // (collisionPath, suggested)

    ReplaceReply ask(const std::string& path, const std::string& suggested) override
    {
        asked.emplace_back(path, suggested);
        ReplaceReply r = replies.empty() ? ReplaceReply{} : replies.front();
        if (!replies.empty()) replies.pop_front();
        r.fileNameText = path;
        if (r.newFileNameText.empty()) r.newFileNameText = suggested;
        return r;
    }
};

ReplaceReply reply(ReplaceButton button, bool all = false, std::string newName = {})
{
    ReplaceReply r;
    r.button = button;
    r.applyToAll = all;
    r.newFileNameText = std::move(newName);
    return r;
}

}  // namespace

TEST(Collision, AutoRenameFindsTheFirstFreeNumber)
{
    struct Case {
        std::string path;
        std::set<std::string> taken;
        std::string expected;
    };
    const std::string longBase(250, 'n');
    const std::vector<Case> cases{
        {"/out/report.doc", {}, "/out/report_dd_0.doc"},
        {"/out/report.doc", {"/out/report_dd_0.doc"}, "/out/report_dd_1.doc"},
        {"/out/a.txt", {"/out/a_dd_0.txt", "/out/a_dd_1.txt"}, "/out/a_dd_2.txt"},
        {"/out/README", {}, "/out/README_dd_0"},
        {"/out/.profile", {}, "/out/_dd_0.profile"},
        {"/out/archive.tar.gz", {}, "/out/archive.tar_dd_0.gz"},
        {"/out/v1.2/README", {}, "/out/v1.2/README_dd_0"},
        {"/out/" + longBase + ".txt", {}, "/out/" + std::string(255 - 9, 'n') + "_dd_0.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(autoRenamePath(c.path, [&](const std::string& p) { return c.taken.count(p) != 0; }), c.expected);
    }
}

TEST(Collision, AnswersAndStandingAnswers)
{
    test::TempDir dir;
    for (const char* name : {"a.txt", "a_dd_0.txt", "a_dd_1.txt"}) test::writeText(dir.file(name), "old");
    const std::string target = dir.file("a.txt");
    struct Case {
        const char* name;
        CollisionAnswer start;
        std::vector<ReplaceReply> replies;
        bool proceed;
        std::string path;  // "" : the target itself
        CollisionAnswer after;
        std::size_t questions;
        bool cancel;
    };
    const std::vector<Case> cases{
        {"standing overwrite asks nothing", CollisionAnswer::OverwriteAll, {}, true, "", CollisionAnswer::OverwriteAll, 0, false},
        {"standing skip asks nothing", CollisionAnswer::SkipAll, {}, false, "", CollisionAnswer::SkipAll, 0, false},
        {"standing rename takes the next free number", CollisionAnswer::RenameAll, {}, true, dir.file("a_dd_2.txt"),
         CollisionAnswer::RenameAll, 0, false},
        {"Overwrite (Enter)", CollisionAnswer::Overwrite, {reply(ReplaceButton::Overwrite)}, true, "",
         CollisionAnswer::Overwrite, 1, false},
        {"Overwrite for all", CollisionAnswer::Skip, {reply(ReplaceButton::Overwrite, true)}, true, "",
         CollisionAnswer::OverwriteAll, 1, false},
        {"Rename keeps the suggested name", CollisionAnswer::Overwrite, {reply(ReplaceButton::Rename)}, true,
         dir.file("a_dd_2.txt"), CollisionAnswer::Rename, 1, false},
        {"Rename takes an edited name as typed", CollisionAnswer::Rename,
         {reply(ReplaceButton::Rename, true, dir.file("mine.txt"))}, true, dir.file("mine.txt"),
         CollisionAnswer::RenameAll, 1, false},
        {"Skip (Esc)", CollisionAnswer::Overwrite, {reply(ReplaceButton::Skip)}, false, "", CollisionAnswer::Skip, 1, false},
        {"Skip for all", CollisionAnswer::Overwrite, {reply(ReplaceButton::Skip, true)}, false, "",
         CollisionAnswer::SkipAll, 1, false},
        {"Cancel", CollisionAnswer::Overwrite, {reply(ReplaceButton::Cancel)}, false, "", CollisionAnswer::SkipAll, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CollisionState collisions;
        collisions.collisionAnswer = c.start;
        ScriptedPrompt prompt;
        prompt.replies.assign(c.replies.begin(), c.replies.end());
        const CollisionOutcome out = collisionStep(target, collisions, &prompt, posixOutputFiles());
        EXPECT_EQ(out.proceed, c.proceed);
        if (c.proceed) {
            const std::string expected = c.path.empty() ? target : c.path;
            EXPECT_EQ(out.targetPath, expected);
            EXPECT_EQ(out.displayName, std::filesystem::path(expected).filename().string());
        }
        EXPECT_EQ(collisions.collisionAnswer, c.after);
        ASSERT_EQ(prompt.asked.size(), c.questions);
        if (c.questions) {
            EXPECT_EQ(prompt.asked[0].first, target);
            EXPECT_EQ(prompt.asked[0].second, dir.file("a_dd_2.txt"));
        }
        EXPECT_EQ(collisions.runCancelled, c.cancel);
    }
    // Nobody to ask: the file is kept.
    CollisionState collisions;
    EXPECT_FALSE(collisionStep(target, collisions, nullptr, posixOutputFiles()).proceed);
}

TEST(Collision, SavingOverAnEarlierSave)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    s->checks.toggleCheck(s->result.folders.tree, test::itemAt(s->result.folders, "Documents"));
    test::TempDir out;
    test::SaveSetup first(*s, out.path());
    const SaveRunReport initial = runSave(first.ctx);
    ASSERT_EQ(initial.filesWritten, 5u);
    const std::string todo = out.file("Documents/Work/todo.txt");
    test::writeText(todo, "changed by the user");

    struct Case {
        const char* name;
        CollisionAnswer start;
        std::vector<ReplaceReply> replies;
        SaveEnd end;
        std::uint64_t written, declined;
        std::size_t questions;
        std::size_t filesAfter;  // files under the destination afterwards
    };
    const std::vector<Case> cases{
        {"Skip with the box ticked asks once", CollisionAnswer::Overwrite, {reply(ReplaceButton::Skip, true)},
         SaveEnd::Finished, 0, 5, 1, 5},
        {"Cancel stops the run at the first collision", CollisionAnswer::Overwrite, {reply(ReplaceButton::Cancel)},
         SaveEnd::Stopped, 0, 1, 1, 5},
        {"Rename with the box ticked renames every file", CollisionAnswer::Overwrite,
         {reply(ReplaceButton::Rename, true)}, SaveEnd::Finished, 5, 0, 1, 10},
        {"standing overwrite", CollisionAnswer::OverwriteAll, {}, SaveEnd::Finished, 5, 0, 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::SaveSetup again(*s, out.path());
        again.ctx.startAnswer = c.start;
        ScriptedPrompt prompt;
        prompt.replies.assign(c.replies.begin(), c.replies.end());
        again.ctx.prompt = &prompt;
        const SaveRunReport report = runSave(again.ctx);
        EXPECT_EQ(report.end, c.end);
        EXPECT_EQ(report.filesWritten, c.written);
        EXPECT_EQ(report.filesDeclined, c.declined);
        EXPECT_EQ(prompt.asked.size(), c.questions);
        EXPECT_EQ(test::filesUnder(out.path()).size(), c.filesAfter);
    }
    // The renaming run left the user's file alone; the overwriting run put the medium's bytes back.
    EXPECT_EQ(test::fileText(out.file("Documents/Work/todo_dd_0.txt")).substr(0, 8), "todo.txt");
    EXPECT_EQ(test::fileText(todo).substr(0, 8), "todo.txt");
}
