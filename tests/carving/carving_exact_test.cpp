// Exact ends over a real image: files of every type with an end rule, made by the tools that
// write such files, planted at sector starts with slack and random gaps between them
// (tests/fixtures/make_carving_exact_fixtures.sh). With exact ends on, every planted file comes
// out byte for byte under its own type and random bytes make no file; without them the search is
// what it always was.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "carving/carve_report.h"
#include "carving/carve_scan.h"
#include "carving_test_util.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::carving;

namespace {

using carving::test::PlantedFile;

std::vector<PlantedFile> exactManifest() { return carving::test::plantedFiles("exact_manifest.txt"); }

std::vector<std::uint8_t> imageBytes(const std::string& path, std::uint64_t offset, std::uint64_t length)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::uint8_t> bytes(length);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}


// The shipped search over an image file that fails to read one sector.
struct ShippedSearchOver {
    ShippedSearchOver(const std::string& image, std::unique_ptr<storage::FileSectorSource> file, std::uint64_t badSector)
        : inner(std::move(file)), search(image, true)
    {
        search.ctx.openDevice = [this, badSector]() -> Result<std::unique_ptr<storage::SectorSource>> {
            auto faulty = std::make_unique<kfr::test::FaultySectorSource>(*inner);
            faulty->failSector(badSector);
            return std::unique_ptr<storage::SectorSource>(std::move(faulty));
        };
    }
    std::unique_ptr<storage::FileSectorSource> inner;
    carving::test::ShippedSearch search;
};

}  // namespace

TEST(CarveExact, EveryPlantedFileComesOutWholeAndRandomBytesMakeNothing)
{
    const std::string image = kfr::test::fixturePath("carving_exact.img");
    const std::string before = kfr::test::fileDigest(image);
    const auto planted = exactManifest();
    ASSERT_GE(planted.size(), 30u);

    carving::test::ShippedSearch s(image, true);
    const auto outcome = runSignatureSearch(s.ctx);
    ASSERT_EQ(outcome.ending, CarveEnding::Finished);

    std::map<std::uint64_t, const CarvedResult*> byOffset;
    for (const auto& c : s.ctx.results.allFiles) byOffset[c.byteOffset] = &c;
    for (const auto& want : planted) {
        SCOPED_TRACE(want.name);
        const auto it = byOffset.find(want.offset);
        ASSERT_NE(it, byOffset.end()) << "not carved";
        const CarvedResult& got = *it->second;
        EXPECT_TRUE(got.endFound);
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(got.length, want.length);
        EXPECT_EQ(got.outcome, CarvedOutcome::Written);
        EXPECT_EQ(got.savedPath, passFolder(s.dir.path(), CarvePass::General) + want.type + "/" + got.name);
        EXPECT_EQ(kfr::test::readFileBytes(got.savedPath), imageBytes(image, want.offset, want.length));
    }
    // Anything else lies inside a planted file (a picture inside a document, whose sectors line
    // up with the medium's): nothing comes from the random gaps, decoy headers included.
    for (const auto& c : s.ctx.results.allFiles) {
        const bool inside = std::any_of(planted.begin(), planted.end(), [&](const PlantedFile& p) {
            return c.byteOffset >= p.offset && c.byteOffset + c.length <= p.offset + p.length;
        });
        EXPECT_TRUE(inside) << c.name << " at " << c.byteOffset << ", " << c.length << " bytes";
    }
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CarveExact, WithoutTheOptionFilesRunToTheNextHeaderAsBefore)
{
    // The next-header rule: each file runs from its header's sector to the next header's sector
    // (or its maximum size); the records that exist only for exact ends take no part.
    const std::string image = kfr::test::fixturePath("carving_exact.img");
    carving::test::ShippedSearch s(image, false);
    ASSERT_EQ(runSignatureSearch(s.ctx).ending, CarveEnding::Finished);
    const auto& files = s.ctx.results.allFiles;
    ASSERT_FALSE(files.empty());
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        EXPECT_FALSE(files[i].endFound);
        EXPECT_EQ(files[i].byteOffset % 512, 0u);
        if (i + 1 < files.size() && files[i + 1].byteOffset != files[i].byteOffset) {
            EXPECT_EQ(files[i].byteOffset + files[i].length, files[i + 1].byteOffset);
        }
        EXPECT_EQ(std::filesystem::file_size(files[i].savedPath), files[i].length);
    }
    // The plain MP3 (frames without an ID3 tag) has no header the default search knows.
    for (const auto& p : exactManifest()) {
        if (p.name == "plain.mp3") {
            EXPECT_TRUE(std::none_of(files.begin(), files.end(), [&](const CarvedResult& c) { return c.byteOffset == p.offset; }));
        }
    }
}

TEST(CarveExact, ReportsListEveryFileInJsonAndDfxml)
{
    const std::string image = kfr::test::fixturePath("carving_exact.img");
    carving::test::ShippedSearch s(image, true);
    s.ctx.writeReport = true;
    const auto outcome = runSignatureSearch(s.ctx);
    ASSERT_FALSE(outcome.reportPath.empty());
    EXPECT_EQ(outcome.reportPath, searchFolder(s.dir.path()) + "report.json");
    EXPECT_EQ(outcome.reportXmlPath, searchFolder(s.dir.path()) + "report.xml");

    std::ifstream in(outcome.reportPath);
    const auto json = nlohmann::json::parse(in);
    EXPECT_EQ(json["options"]["exact_end"], true);
    ASSERT_EQ(json["files"].size(), s.ctx.results.allFiles.size());
    const auto& first = json["files"][0];
    const auto& c = s.ctx.results.allFiles[0];
    EXPECT_EQ(first["name"], c.name);
    EXPECT_EQ(first["type"], c.type);
    EXPECT_EQ(first["first_sector"], c.firstSector);
    EXPECT_EQ(first["length"], c.length);
    EXPECT_EQ(first["end_found"], true);
    EXPECT_EQ(first["pass"], "general");

    const auto xmlBytes = kfr::test::readFileBytes(outcome.reportXmlPath);
    const std::string xml(xmlBytes.begin(), xmlBytes.end());
    EXPECT_NE(xml.find("<dfxml"), std::string::npos);
    const std::string run = "<byte_run file_offset=\"0\" img_offset=\"" + std::to_string(c.byteOffset) + "\" len=\"" +
                            std::to_string(c.length) + "\"/>";
    EXPECT_NE(xml.find(run), std::string::npos);
    std::size_t objects = 0;
    for (std::size_t at = 0; (at = xml.find("<fileobject>", at)) != std::string::npos; ++at) ++objects;
    EXPECT_EQ(objects, s.ctx.results.allFiles.size());

    // A second search into the same destination keeps the first one's reports.
    carving::test::ShippedSearch again(image, true);
    again.ctx.destination = s.dir.path();
    again.ctx.writeReport = true;
    const auto second = runSignatureSearch(again.ctx);
    EXPECT_EQ(second.reportPath, searchFolder(s.dir.path()) + "report-2.json");
    EXPECT_TRUE(std::filesystem::exists(outcome.reportPath));
}

TEST(CarveExact, CommandLineCutsExactlyAndSaysWhereTheReportIs)
{
    const std::string image = kfr::test::fixturePath("carving_exact.img");
    const std::string before = kfr::test::fileDigest(image);
    const auto planted = exactManifest();
    kfr::test::TempDir dir;
    const std::string common = "carve --source " + image + " --dest " + dir.path() + " --no-thorough --exact-end";

    auto run = kfr::test::runCli("--json " + common, false);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["exact_end"], true);
    EXPECT_EQ(json["any_offset"], false);
    ASSERT_EQ(json["files"].size(), planted.size());  // nothing from the random gaps
    for (std::size_t i = 0; i < planted.size(); ++i) {
        const auto& f = json["files"][i];
        SCOPED_TRACE(planted[i].name);
        EXPECT_EQ(f["byte_offset"], planted[i].offset);
        EXPECT_EQ(f["size"], planted[i].length);
        EXPECT_EQ(f["type"], planted[i].type);
        EXPECT_EQ(f["end_found"], true);
        EXPECT_EQ(std::filesystem::file_size(f["path"].get<std::string>()), planted[i].length);
    }
    const std::string report = json["report"]["json"];
    EXPECT_EQ(report, searchFolder(dir.path()) + "report.json");
    EXPECT_TRUE(std::filesystem::exists(json["report"]["xml"].get<std::string>()));

    // The words a person reads say where the second search's reports went.
    run = kfr::test::runCli(common, false);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("Report: " + searchFolder(dir.path()) + "report-2.json (and " + searchFolder(dir.path()) +
                           "report-2.xml)"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(kfr::test::fileDigest(image), before);
}

TEST(CarveExact, AnUnreadableSectorInsideAFileLeavesItToTheNextHeaderRule)
{
    // The end of a file whose middle cannot be read is not known: it is cut by the next header
    // as before, the unreadable sector written as zeros; the files around it keep their ends.
    const std::string image = kfr::test::fixturePath("carving_exact.img");
    const auto planted = exactManifest();
    const auto& victim = planted[2];  // exif.jpg: four sectors from sector 16
    ASSERT_EQ(victim.name, "exif.jpg");
    const std::uint64_t badSector = victim.offset / 512 + 2;
    auto source = storage::FileSectorSource::open(image);
    ASSERT_TRUE(source);
    ShippedSearchOver s(image, std::move(source).value(), badSector);
    ASSERT_EQ(runSignatureSearch(s.search.ctx).ending, CarveEnding::Finished);
    const auto& files = s.search.ctx.results.allFiles;
    std::map<std::uint64_t, const CarvedResult*> byOffset;
    for (const auto& c : files) byOffset[c.byteOffset] = &c;
    ASSERT_TRUE(byOffset.count(victim.offset));
    const CarvedResult& cut = *byOffset[victim.offset];
    EXPECT_FALSE(cut.endFound);
    EXPECT_EQ(cut.length, planted[3].offset - victim.offset);  // up to the next file's sector
    auto bytes = kfr::test::readFileBytes(cut.savedPath);
    auto expected = imageBytes(image, victim.offset, cut.length);
    std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(badSector * 512 - victim.offset), 512, 0);
    EXPECT_EQ(bytes, expected);
    for (const std::size_t i : {std::size_t{1}, std::size_t{3}}) {
        ASSERT_TRUE(byOffset.count(planted[i].offset)) << planted[i].name;
        EXPECT_TRUE(byOffset[planted[i].offset]->endFound) << planted[i].name;
        EXPECT_EQ(byOffset[planted[i].offset]->length, planted[i].length) << planted[i].name;
    }
}
