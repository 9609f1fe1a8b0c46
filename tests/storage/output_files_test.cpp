// Output files and folders: names already taken, links planted under output names, pipes and
// folders where a file should go.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "storage/output_files.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::storage;
namespace fs = std::filesystem;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path)
{
    const auto bytes = test::readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(OutputFiles, CreateNeverWritesThroughALinkOrIntoAnythingButAFile)
{
    enum class Gives { File, Taken, Error };
    struct Case {
        const char* name;
        const char* planted;  // "", "file", "link", "fifo", "folder"
        CreateMode mode;
        Gives gives;
    } cases[] = {
        {"a new name, exclusive", "", CreateMode::Exclusive, Gives::File},
        {"a new name, truncate", "", CreateMode::Truncate, Gives::File},
        {"a taken name, exclusive: left alone", "file", CreateMode::Exclusive, Gives::Taken},
        {"a taken name, truncate: emptied", "file", CreateMode::Truncate, Gives::File},
        {"a link, exclusive", "link", CreateMode::Exclusive, Gives::Taken},
        {"a link, truncate", "link", CreateMode::Truncate, Gives::Error},
        {"a named pipe does not hang", "fifo", CreateMode::Truncate, Gives::Error},
        {"a folder", "folder", CreateMode::Truncate, Gives::Error},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string target = dir.file("target");
        const std::string path = dir.file("out");
        writeText(target, "keep me");
        const std::string planted = c.planted;
        if (planted == "file") writeText(path, "old bytes");
        if (planted == "link") fs::create_symlink(target, path);
        if (planted == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }
        if (planted == "folder") fs::create_directory(path);

        auto created = createOutputFile(path, c.mode);
        EXPECT_EQ(readText(target), "keep me");  // a link is never written through
        switch (c.gives) {
        case Gives::File:
            ASSERT_TRUE(created.ok());
            EXPECT_TRUE(*created);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
            EXPECT_EQ(fs::file_size(path), 0u);
            break;
        case Gives::Taken:
            ASSERT_TRUE(created.ok());
            EXPECT_FALSE(*created);
            if (planted == "file") {
                EXPECT_EQ(readText(path), "old bytes");
            }
            break;
        case Gives::Error:
            ASSERT_FALSE(created.ok());
            EXPECT_EQ(created.error().kind, ErrorKind::OpenFailed);
            EXPECT_EQ(created.error().path, path);
            break;
        }
    }
}

TEST(OutputFiles, FoldersMustBeRealFolders)
{
    test::TempDir dir;
    test::TempDir elsewhere;
    auto made = makeRealFolder(dir.file("new"), 0700);
    ASSERT_TRUE(made.ok());
    EXPECT_EQ(made->st_mode & 0777, 0700u);
    EXPECT_TRUE(makeRealFolder(dir.file("new")).ok());  // already there

    fs::create_directory_symlink(elsewhere.path(), dir.file("link"));
    writeText(dir.file("file"), "x");
    for (const char* name : {"link", "file", "missing/child"}) {
        SCOPED_TRACE(name);
        auto refused = makeRealFolder(dir.file(name));
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().kind, ErrorKind::WriteFailed);
    }
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}
