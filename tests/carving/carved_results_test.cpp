// The result list and its clearing every 2,000 files, the per-type numbering, the path a
// listed file opens from, and handing that path to the desktop.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

#include "carving/carved_output.h"
#include "carving_test_util.h"
#include "export/shell_open.h"

using namespace kfr;
using namespace kfr::carving;

namespace {

CarvedResults resultsWithType(const std::string& key)
{
    CarvedResults r;
    r.fileTypes.rows.push_back(FileTypeRow{key, 0, "", "", 0, 0, key, ""});
    return r;
}

// What finishing a file does: count it for its pass, then list it.
void finishOne(CarvedResults& r, CarvePass pass, carving::test::RecordingCarveObserver& obs)
{
    const std::string name = nameCarvedFile(r.fileTypes, "JPG");
    ++(pass == CarvePass::General ? r.generalFound : r.thoroughFound);
    addCarvedResult(r, "JPG", name, "/dest/" + name, pass, &obs);
}

}  // namespace

TEST(CarvedResults, The2001stFileClearsTheListAndCountingGoesOn)
{
    auto r = resultsWithType("JPG");
    carving::test::RecordingCarveObserver obs;
    for (int i = 0; i < 2000; ++i) finishOne(r, CarvePass::General, obs);
    EXPECT_EQ(r.resultList.size(), 2000u);
    EXPECT_EQ(obs.clearings, 0);
    finishOne(r, CarvePass::General, obs);
    EXPECT_EQ(obs.clearings, 1);
    ASSERT_EQ(r.resultList.size(), 1u);
    EXPECT_EQ(r.resultList[0].name, "JPG02001.JPG");
    EXPECT_EQ(r.generalFound, 1u);
    const FileTypeRow* row = r.fileTypes.find("jpg");
    EXPECT_EQ(row->filesFound, 2001u);
    EXPECT_EQ(row->nameOfFile, "JPG02001.JPG");
    EXPECT_EQ(row->pathOfFileSaved, "/dest/JPG02001.JPG");
}

TEST(CarvedResults, ClearingInTheThoroughPassKeepsPositionsPointingAtOmitted)
{
    auto r = resultsWithType("JPG");
    carving::test::RecordingCarveObserver obs;
    for (int i = 0; i < 1500; ++i) finishOne(r, CarvePass::General, obs);
    for (int i = 0; i < 501; ++i) finishOne(r, CarvePass::Thorough, obs);
    EXPECT_EQ(obs.clearings, 1);
    EXPECT_EQ(r.generalFound, 0u);
    EXPECT_EQ(r.thoroughFound, 1u);  // the one item the list now holds, not an underflow
    const auto path = carvedResultPath("/dest", 0, r.generalFound, r.resultList[0].name);
    ASSERT_TRUE(path.ok());
    EXPECT_EQ(*path, "/dest/Kestravon FAT Recovery/Signature Search/Omitted/JPG/JPG02001.JPG");
}

TEST(CarvedResults, NamesAndPathsOfListedFiles)
{
    FileTypesTable table;
    table.rows.push_back(FileTypeRow{"JPG", 0, "", "", 9999, 0, "JPG", ""});
    EXPECT_EQ(nameCarvedFile(table, "JPG"), "JPG10000.JPG");
    EXPECT_EQ(nameCarvedFile(table, "PNG"), "PNG00001.PNG");  // an unlisted type still numbers apart
    EXPECT_EQ(nameCarvedFile(table, "PNG"), "PNG00002.PNG");

    struct Case {
        const char* name;
        std::size_t position;
        std::uint64_t generalFound;
        const char* path;  // "" when nothing opens
    } cases[] = {
        {"JPG00001.JPG", 2, 3, "/d/Kestravon FAT Recovery/Signature Search/General/JPG/JPG00001.JPG"},
        {"JPG00004.JPG", 3, 3, "/d/Kestravon FAT Recovery/Signature Search/Omitted/JPG/JPG00004.JPG"},
        {"photo_x1.jpg", 0, 1, "/d/Kestravon FAT Recovery/Signature Search/General/JPG_x1/photo_x1.jpg"},
        {"_lead.png", 0, 1, "/d/Kestravon FAT Recovery/Signature Search/General/PNG/_lead.png"},
        {"NODOT", 0, 1, ""},
        {"", 0, 1, ""},
    };
    for (const auto& c : cases) {
        const auto path = carvedResultPath("/d", c.position, c.generalFound, c.name);
        EXPECT_EQ(path.ok() ? *path : std::string(), c.path) << c.name;
    }
}

TEST(OpenWithShell, HandsThePathOverAsOneArgumentWithoutAShell)
{
    kfr::test::TempDir dir;
    const std::string launcher = dir.file("fake-open");
    const std::string record = dir.file("argv.txt");
    {
        std::ofstream out(launcher);
        out << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" << record << ".tmp' && mv '" << record << ".tmp' '"
            << record << "'\n";
    }
    ::chmod(launcher.c_str(), 0755);
    const std::string tricky = dir.file("a b $(touch pwned) ;x.JPG");
    std::ofstream(tricky) << "x";

    ASSERT_TRUE(exporting::openWithShell(0, tricky, launcher).ok());
    for (int i = 0; i < 500 && !std::filesystem::exists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(record);
    std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, "1|" + tricky);
    EXPECT_FALSE(std::filesystem::exists("pwned"));

    auto missing = exporting::openWithShell(0, dir.file("gone.JPG"), launcher);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().detail, "Does not exist.");
    auto noLauncher = exporting::openWithShell(1, tricky, dir.file("no-such-opener"));
    ASSERT_FALSE(noLauncher.ok());
    EXPECT_EQ(noLauncher.error().kind, ErrorKind::OpenFailed);

    // A desktop without a program for the type: the opener gives up at once, and that is said.
    const std::string refusing = dir.file("refusing-open");
    std::ofstream(refusing) << "#!/bin/sh\nexit 3\n";
    ::chmod(refusing.c_str(), 0755);
    auto noProgram = exporting::openWithShell(0, tricky, refusing);
    ASSERT_FALSE(noProgram.ok());
    EXPECT_EQ(noProgram.error().kind, ErrorKind::NotFound);
    EXPECT_NE(noProgram.error().detail.find("exit status 3"), std::string::npos);
}
