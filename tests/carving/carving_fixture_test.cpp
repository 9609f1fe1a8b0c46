// Signature Search over a real image: files of many types made by real tools, planted at
// sector boundaries (tests/fixtures/make_carving_fixtures.sh), carved with the shipped
// signature files, through the core and through kestravon-cli.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/wait.h>

#include "carving/carve_scan.h"
#include "carving_test_util.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::carving;

namespace {

std::vector<carving::test::PlantedFile> manifest() { return carving::test::plantedFiles("manifest.txt"); }

using carving::test::fnv1a;

// The carve command's JSON goes to stdout; its progress and messages to stderr are left out.
kfr::test::CommandOutput runCli(const std::string& args)
{
    return kfr::test::runCli(args, false);
}

}  // namespace

TEST(CarveFixture, EveryPlantedFileIsCarvedWithItsOwnBytes)
{
    const std::string image = kfr::test::fixturePath("carving_planted.img");
    const std::string before = kfr::test::fileDigest(image);
    const auto planted = manifest();
    ASSERT_GE(planted.size(), 12u);

    carving::test::ShippedSearch s(image, false);
    auto& ctx = s.ctx;
    auto& observer = s.observer;
    const auto& dir = s.dir;
    ASSERT_EQ(ctx.endSector, 2047u);
    const auto outcome = runSignatureSearch(ctx);
    ASSERT_EQ(outcome.ending, CarveEnding::Finished);

    // Files finish in the order they start, so the list follows the image.
    ASSERT_EQ(observer.carved.size(), planted.size());
    for (std::size_t i = 0; i < planted.size(); ++i) {
        const auto& want = planted[i];
        SCOPED_TRACE(want.name);
        const auto& got = observer.carved[i];
        EXPECT_EQ(typeFolderOf(got.name), want.type);
        EXPECT_EQ(got.savedPath, passFolder(dir.path(), CarvePass::General) + want.type + "/" + got.name);
        const auto bytes = kfr::test::readFileBytes(got.savedPath);
        ASSERT_GE(bytes.size(), want.length);
        EXPECT_EQ(fnv1a(bytes, want.length), want.digest);  // starts with the original's bytes
        if (want.exact) {
            EXPECT_EQ(bytes.size(), (want.length + 511) / 512 * 512);  // plus its last sector's slack
        }
    }
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CarveFixture, CommandLineSummaryAndTypeChoice)
{
    const std::string image = kfr::test::fixturePath("carving_planted.img");
    const std::string before = kfr::test::fileDigest(image);
    std::map<std::string, std::uint64_t> expected;
    for (const auto& f : manifest()) ++expected[f.type];

    kfr::test::TempDir dir;
    const std::string common = "--source " + image + " --dest " + dir.path();
    auto run = runCli("--json carve " + common + " --no-thorough");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["end"], "finished");
    EXPECT_EQ(json["source"]["last_sector"], 2047);
    std::map<std::string, std::uint64_t> found;
    for (const auto& t : json["types"])
        if (t["found"].get<std::uint64_t>() > 0) found[t["type"]] = t["found"];
    EXPECT_EQ(found, expected);

    // The second search into the same destination numbers on instead of overwriting.
    run = runCli("--json carve " + common + " --types png,.GIF --thorough");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["general_found"], 2);
    EXPECT_EQ(json["thorough_ran"], false);  // neither type has Thorough records
    const std::string pngs = std::string(dir.path()) + "/Kestravon FAT Recovery/Signature Search/General/PNG/";
    EXPECT_TRUE(std::filesystem::exists(pngs + "PNG00001.PNG"));
    EXPECT_TRUE(std::filesystem::exists(pngs + "PNG00002.PNG"));

    run = runCli("carve " + common + " --thorough --types jpg,bmp");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("JPG"), std::string::npos);
    EXPECT_NE(run.out.find("Kestravon FAT Recovery >> Signature Search >> Omitted"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(std::string(dir.path()) +
                                        "/Kestravon FAT Recovery/Signature Search/Omitted/JPG"));

    EXPECT_NE(runCli("carve " + common + " --types nosuch").exitCode, 0);
    EXPECT_NE(runCli("carve " + common + " --first 10 --last 10").exitCode, 0);
    run = runCli("--json carve " + common + " --signatures " + dir.path());
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.out.find("Couldn't open source file: No such file or directory"), std::string::npos) << run.out;
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}
