// Opening recovered files through temporary copies: their names, their bytes, the folder they
// go to, and removing only the copies this program made.
#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "export/temp_copies.h"
#include "texts/messages.h"
#include "texts/work_texts.h"
#include "export_test_util.h"
#include "sleuthkit_oracle.h"

using namespace kfr;
using namespace kfr::exporting;
using namespace kfr::recovery;
namespace fs = std::filesystem;

namespace {

struct Opened {
    std::vector<std::string> paths;
    Opener opener()
    {
        return [this](const std::string& path) {
            paths.push_back(path);
            return okStatus();
        };
    }
};

// Refuses to create files (as a destination that refuses the name would), or creates them and
// fills up after the first bytes.
struct RefusingFiles : OutputFiles {
    bool fillUp = false;
    struct Full : OutputFile {
        std::unique_ptr<OutputFile> inner;
        Status write(std::span<const std::uint8_t> b) override
        {
            (void)inner->write(b.first(std::min<std::size_t>(b.size(), 100)));
            return Error{ErrorKind::DiskFull, 0, "", "No space left on device"};
        }
        Status writeZeros(std::uint64_t) override { return Error{ErrorKind::DiskFull, 0, "", "No space left on device"}; }
        Status close() override { return inner->close(); }
    };
    Result<std::unique_ptr<OutputFile>> create(const std::string& path) override
    {
        if (!fillUp) return Error{ErrorKind::OpenFailed, 0, path, "Permission denied"};
        auto f = std::make_unique<Full>();
        f->inner = std::move(posixOutputFiles().create(path)).value();
        return std::unique_ptr<OutputFile>(std::move(f));
    }
    bool exists(const std::string& path) const override { return posixOutputFiles().exists(path); }
    bool removeFile(const std::string& path) override { return posixOutputFiles().removeFile(path); }
};

}  // namespace

TEST(TemporaryCopies, NamesFollowTheOpenCounterAndTheExtension)
{
    struct Case {
        std::uint32_t counter;
        std::string name;
        std::string expected;
    };
    for (const auto& c : std::vector<Case>{{0, "Holiday.JPG", "MRC0.JPG"},
                                           {0, "README", "MRC0"},
                                           {3, "archive.tar.gz", "MRC3.gz"},
                                           {1, "photo", "MRC1"},
                                           {2, "trailing.", "MRC2"},
                                           {4, "blanks. txt ", "MRC4.txt"},
                                           {5, ".profile", "MRC5.profile"},
                                           {6, "x.a/../../b", "MRC6._b"}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(temporaryCopyName(c.counter, c.name), c.expected);
    }
}

TEST(TemporaryCopies, OpenWritesTheFileAndHandsItOver)
{
    const std::string image = test::fixturePath("fat16_basic.img");
    const std::string before = test::fileDigest(image);
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    test::TempDir tmp;
    auto folder = temporaryFolder(tmp.path());
    ASSERT_TRUE(folder);
    TemporaryCopies copies(*folder);
    SaveRunState state;
    WriterContext ctx;
    ctx.source = s->source.get();
    ctx.params = &s->result.params;
    ctx.state = &state;
    Opened opened;

    const ItemRow holiday = test::fileRow(*s, "", "Holiday Photos List.txt");
    const ItemRow photo = test::fileRow(*s, "Pictures/Camera", "IMG_0001.JPG");
    const OpenResult first = openThroughCopy(ctx, holiday, copies, opened.opener());
    const OpenResult second = openThroughCopy(ctx, photo, copies, opened.opener());
    EXPECT_EQ(first.action, OpenAction::Opened);
    EXPECT_EQ(first.copyPath, *folder + "/MRC0.txt");
    EXPECT_EQ(second.copyPath, *folder + "/MRC1.JPG");
    EXPECT_EQ(opened.paths, (std::vector<std::string>{first.copyPath, second.copyPath}));
    EXPECT_EQ(test::readFileBytes(first.copyPath), test::icatBytes(image, "8"));
    EXPECT_EQ(test::readFileBytes(second.copyPath), test::icatBytes(image, "1733"));
    EXPECT_EQ(state.filesWritten, 2u);
    EXPECT_EQ(texts::openingLines(holiday),
              (std::vector<std::string>{"Holiday Photos List.txt", "Opening File : 3.03 KB", texts::kPleaseWaitText}));

    // A folder row lists the folder instead; without volume parameters nothing is opened.
    const auto root = test::listFolder(*s, s->result.folders.tree.firstTopLevel());
    const auto folderRow = std::find_if(root.rows.begin(), root.rows.end(),
                                        [](const ItemRow& r) { return r.kind == RowKind::Folder; });
    ASSERT_NE(folderRow, root.rows.end());
    const OpenResult listed = openThroughCopy(ctx, *folderRow, copies, opened.opener());
    EXPECT_EQ(listed.action, OpenAction::ListFolder);
    EXPECT_EQ(listed.folderItem, folderRow->folderItem);
    WriterContext noVolume = ctx;
    noVolume.params = nullptr;
    EXPECT_EQ(openThroughCopy(noVolume, holiday, copies, opened.opener()).action, OpenAction::Nothing);
    EXPECT_EQ(opened.paths.size(), 2u);

    // A copy that could not be written, or only in part, is reported and not handed over; no
    // disk-full message is given and the run state is not cancelled for a copy.
    for (const bool fillUp : {false, true}) {
        SCOPED_TRACE(fillUp ? "destination fills up" : "destination refuses the file");
        RefusingFiles refusing;
        refusing.fillUp = fillUp;
        ctx.files = &refusing;
        const OpenResult failed = openThroughCopy(ctx, holiday, copies, opened.opener());
        EXPECT_EQ(failed.action, OpenAction::Failed);
        EXPECT_EQ(failed.error.kind, ErrorKind::NotFound);
        EXPECT_FALSE(fs::exists(failed.copyPath));
        EXPECT_EQ(opened.paths.size(), 2u);
        EXPECT_FALSE(state.cancelRequested);
    }
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(TemporaryCopies, OnlyTheCopiesThisProgramMadeAreRemoved)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    test::TempDir tmp;
    auto folder = temporaryFolder(tmp.path());
    ASSERT_TRUE(folder);
    struct stat st {};
    ASSERT_EQ(::lstat(folder->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    TemporaryCopies copies(*folder);
    SaveRunState state;
    WriterContext ctx;
    ctx.source = s->source.get();
    ctx.params = &s->result.params;
    ctx.state = &state;
    // A copy left by an earlier run keeps its name (a viewer may still show it): the new copy
    // takes the next free one.
    test::writeText(*folder + "/MRC0.jpg", "left over");
    const OpenResult jpg = openThroughCopy(ctx, test::fileRow(*s, "", "写真.jpg"), copies, nullptr);
    ASSERT_EQ(jpg.copyPath, *folder + "/MRC1.jpg");
    EXPECT_EQ(test::fileText(*folder + "/MRC0.jpg"), "left over");
    EXPECT_EQ(fs::file_size(jpg.copyPath), 6000u);
    const OpenResult txt = openThroughCopy(ctx, test::fileRow(*s, "", "NOTES.TXT"), copies, nullptr);
    fs::create_directory(*folder + "/MRC2");
    test::writeText(*folder + "/MRC9.txt", "another program's file");
    // Our second copy was replaced by another program's file of the same name: it stays.
    fs::rename(txt.copyPath, *folder + "/moved away");
    test::writeText(txt.copyPath, "not ours any more");

    EXPECT_EQ(removeTemporaryCopies(copies), 1u);
    EXPECT_FALSE(fs::exists(jpg.copyPath));
    EXPECT_TRUE(fs::exists(txt.copyPath));
    EXPECT_TRUE(fs::is_directory(*folder + "/MRC2"));
    EXPECT_TRUE(fs::exists(*folder + "/MRC9.txt"));

    // What earlier runs left goes at the next start, unless a program still holds it open.
    test::writeText(*folder + "/MRC7.pdf", "held by a viewer");
    test::writeText(*folder + "/notes.txt", "not a copy");
    const int held = ::open((*folder + "/MRC7.pdf").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    EXPECT_EQ(removeLeftoverCopies(*folder), 3u);  // MRC0.jpg, MRC9.txt and the stand-in at MRC2.TXT's name
    EXPECT_FALSE(fs::exists(*folder + "/MRC0.jpg"));
    EXPECT_TRUE(fs::exists(*folder + "/MRC7.pdf"));
    EXPECT_TRUE(fs::exists(*folder + "/notes.txt"));
    EXPECT_TRUE(fs::is_directory(*folder + "/MRC2"));
    ::close(held);
    EXPECT_EQ(removeLeftoverCopies(*folder), 1u);

    // A link planted where the private folder goes is refused.
    test::TempDir other;
    fs::create_directories(tmp.file("planted-base"));
    fs::create_directory_symlink(other.path(), tmp.file("planted-base/kestravon-fat-recovery-" + std::to_string(::geteuid())));
    EXPECT_FALSE(temporaryFolder(tmp.file("planted-base")));
}
