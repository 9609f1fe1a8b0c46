// The carving pass on hand-made images: where carved files start and end, the maximum-size
// rule within and across blocks, duplicate records, probe offsets, stop, the two passes,
// unreadable blocks and the media prompt, and a destination that fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "carving/carve_scan.h"
#include "carving_test_util.h"

using namespace kfr;
using namespace kfr::carving;
using namespace kfr::carving::test;

namespace {

constexpr std::size_t kSector = 512;
const std::string kA = "AAAA";  // header 41414141
const std::string kB = "BBBB";  // header 42424242

Sig aaa(const std::string& maxSize = "10000000") { return {"aaa", maxSize, "41414141", "1"}; }
Sig bbb() { return {"bbb", "10000000", "42424242", "1"}; }

struct Planted {
    std::size_t byteOffset;
    std::string bytes;
};

struct Expected {
    std::string type;
    std::string name;
    std::size_t from;
    std::size_t length;
};

struct ContentCase {
    const char* name;
    std::vector<Sig> sigs;
    std::size_t sectors;
    std::vector<Planted> planted;
    std::vector<Expected> files;
    std::uint64_t lastSector = 0;  // 0: the image's last sector
};

}  // namespace

TEST(CarveContent, FilesStartAtTheirSectorAndEndByTheRules)
{
    const std::size_t block = kBlockBytes;
    const ContentCase cases[] = {
        {"a later header ends the file at its sector",
         {aaa(), bbb()}, 20, {{0, kA}, {10 * kSector, kB}},
         {{"AAA", "AAA00001.AAA", 0, 10 * kSector}, {"BBB", "BBB00001.BBB", 10 * kSector, 10 * kSector}}},
        {"maximum size inside the first block, from block offset 0",
         {aaa("100000")}, 1024, {{0, kA}}, {{"AAA", "AAA00001.AAA", 0, 100000}}},
        {"maximum size from block offset 200,704 keeps only the rest of the block",
         {aaa("100000")}, 1024, {{200704, kA}}, {{"AAA", "AAA00001.AAA", 200704, 61440}}},
        {"maximum size across blocks ends at the block that would pass it",
         {aaa("600000")}, 2048, {{0, kA}}, {{"AAA", "AAA00001.AAA", 0, 2 * block}}},
        {"a header in the next block ends a file that crossed the boundary",
         {aaa(), bbb()}, 1024, {{500 * kSector, kA}, {520 * kSector, kB}},
         {{"AAA", "AAA00001.AAA", 500 * kSector, 20 * kSector}, {"BBB", "BBB00001.BBB", 520 * kSector, 504 * kSector}}},
        {"a file cut to its maximum takes nothing from a later block",
         {aaa("1000"), bbb()}, 1024, {{0, kA}, {600 * kSector, kB}},
         {{"AAA", "AAA00001.AAA", 0, 1000}, {"BBB", "BBB00001.BBB", 600 * kSector, 424 * kSector}}},
        {"two records with one header open two files that the next match finishes",
         {aaa(), {"aab", "10000000", "41414141", "1"}, aaa(), bbb()}, 20, {{2 * kSector, kA}, {7 * kSector, kB}},
         {{"AAA", "AAA00001.AAA", 2 * kSector, 5 * kSector},
          {"AAB", "AAB00001.AAB", 2 * kSector, 5 * kSector},
          {"AAA", "AAA00002.AAA", 2 * kSector, 5 * kSector},
          {"BBB", "BBB00001.BBB", 7 * kSector, 13 * kSector}}},
        {"a header at offset 9 starts its file 8 bytes earlier",
         {{"www", "10000000", "57415645", "9"}, bbb()}, 16, {{4 * kSector + 8, "WAVE"}, {8 * kSector, kB}},
         {{"WWW", "WWW00001.WWW", 4 * kSector, 4 * kSector}, {"BBB", "BBB00001.BBB", 8 * kSector, 8 * kSector}}},
        {"offset 0 probes the last byte of the sector before",
         {{"zzz", "10000000", "5A", "0"}}, 8, {{kSector - 1, "Z"}}, {{"ZZZ", "ZZZ00001.ZZZ", kSector, 7 * kSector}}},
        {"an offset beyond the sector probes a later sector",
         {{"yyy", "10000000", "59", "600"}}, 8, {{3 * kSector + 599, "Y"}}, {{"YYY", "YYY00001.YYY", 3 * kSector, 5 * kSector}}},
        {"offsets and headers that would leave the block never match",
         {{"yyy", "10000000", "59", "-5"}, {"xxx", "10000000", "5858", "512"}}, 512, {{0, "Y"}, {block - 1, "X"}}, {}},
        {"a record without header bytes never matches",
         {{"eee", "10000000", "", "1"}}, 8, {}, {}},
        {"a short range still reads its whole first block",
         {aaa(), bbb()}, 1024, {{0, kA}, {100 * kSector, kB}},
         {{"AAA", "AAA00001.AAA", 0, 100 * kSector}, {"BBB", "BBB00001.BBB", 100 * kSector, block - 100 * kSector}},
         9},
        {"a medium that ends inside a block carves nothing twice",
         {aaa(), bbb()}, 700, {{300 * kSector, kB}, {600 * kSector, kA}},
         {{"BBB", "BBB00001.BBB", 300 * kSector, 300 * kSector}, {"AAA", "AAA00001.AAA", 600 * kSector, 100 * kSector}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = blankImage(c.sectors);
        for (const auto& p : c.planted) plant(image, p.byteOffset, p.bytes);
        Search s(c.sigs, {}, image);
        if (c.lastSector) s.ctx.endSector = c.lastSector;
        const auto outcome = s.run();
        EXPECT_EQ(outcome.ending, CarveEnding::Finished);
        ASSERT_EQ(s.observer.carved.size(), c.files.size());
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            const auto& want = c.files[i];
            EXPECT_EQ(s.observer.carved[i].name, want.name);
            EXPECT_EQ(s.carved(CarvePass::General, want.type, want.name), s.slice(want.from, want.length)) << want.name;
        }
        EXPECT_EQ(s.ctx.results.generalFound, c.files.size());
        EXPECT_TRUE(s.ctx.queue.empty());
    }
}

TEST(CarveSearch, StopDuringTheGeneralPassFinishesPendingFilesAndSkipsThorough)
{
    auto image = blankImage(2048);
    for (std::size_t sector = 0; sector < 2048; sector += 10) plant(image, sector * kSector, kA);
    Search s({aaa()}, {{"ccc", "100", "11", "1"}}, image);
    s.ctx.thorough = true;
    s.observer.stopAfter = 2;
    s.observer.stopFlag = &s.stop;
    const auto outcome = s.run();
    EXPECT_EQ(outcome.ending, CarveEnding::Stopped);
    EXPECT_FALSE(outcome.thoroughRan);
    EXPECT_TRUE(s.stop.load());  // the front end's flag: the search only read it
    // The stop is seen at the next block: the first block's files are all there, the last of
    // them finished with what it had, and nothing of the Thorough pass was written.
    ASSERT_EQ(s.observer.carved.size(), 52u);
    EXPECT_EQ(s.carved(CarvePass::General, "AAA", "AAA00052.AAA"), s.slice(510 * kSector, 2 * kSector));
    EXPECT_EQ(s.ctx.results.generalFound, 52u);
    EXPECT_FALSE(std::filesystem::exists(passFolder(s.ctx.destination, CarvePass::Thorough)));
    // A Stop pressed before the worker starts is not lost: the search ends at its first block.
    Search again({aaa()}, {}, image);
    ASSERT_TRUE(prepareSignatureSearch(again.ctx).ok());
    again.stop.store(true);
    EXPECT_EQ(runSignatureSearch(again.ctx).ending, CarveEnding::Stopped);
    EXPECT_TRUE(again.observer.carved.empty());
}

TEST(CarveSearch, ThoroughPassNumbersOnAndWritesToOmitted)
{
    const Sig jfif{"jpg", "10000000", "FFD8FFE0", "1"};
    const Sig loose{"jpg", "10000000", "FFD8FF", "1"};
    auto image = blankImage(40);
    for (std::size_t sector : {0, 10, 20}) plant(image, sector * kSector, "\xFF\xD8\xFF\xE0");
    plant(image, 30 * kSector, "\xFF\xD8\xFF\xDB");

    {
        Search s({jfif}, {loose}, image);
        s.ctx.thorough = true;
        const auto outcome = s.run();
        EXPECT_EQ(outcome.ending, CarveEnding::Finished);
        EXPECT_TRUE(outcome.thoroughRan);
        EXPECT_EQ(s.ctx.results.generalFound, 3u);
        EXPECT_EQ(s.ctx.results.thoroughFound, 4u);
        EXPECT_EQ(s.carved(CarvePass::General, "JPG", "JPG00003.JPG"), s.slice(20 * kSector, 20 * kSector));
        EXPECT_EQ(s.carved(CarvePass::Thorough, "JPG", "JPG00004.JPG"), s.slice(0, 10 * kSector));
        EXPECT_EQ(s.carved(CarvePass::Thorough, "JPG", "JPG00007.JPG"), s.slice(30 * kSector, 10 * kSector));
        const FileTypeRow* row = s.ctx.results.fileTypes.find("JPG");
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->filesFound, 7u);
        EXPECT_EQ(row->lastFileNo, 7u);
        ASSERT_EQ(s.ctx.results.fileTypes.rows.size(), 1u);  // one row for the type of both files
        EXPECT_EQ(s.observer.stages.front(), WorkStage::GeneralPass);
        EXPECT_EQ(s.observer.stages.back(), WorkStage::ThoroughPass);
    }
    {
        Search s({jfif}, {loose}, image);  // Thorough option cleared
        EXPECT_FALSE(s.run().thoroughRan);
        EXPECT_FALSE(std::filesystem::exists(passFolder(s.ctx.destination, CarvePass::Thorough)));
    }
    {
        Search s({jfif}, {{"ccc", "100", "FFD8", "1"}}, image);  // every Thorough type unticked
        s.ctx.thorough = true;
        s.ctx.extensions.find("CCC")->ticked = false;
        EXPECT_FALSE(s.run().thoroughRan);
        EXPECT_EQ(s.observer.carved.size(), 3u);
    }
}

TEST(CarveSearch, StartingRefusesAnEmptyRangeOrNoTypes)
{
    Search s({aaa()}, {}, blankImage(8));
    s.ctx.endSector = 0;
    EXPECT_EQ(checkSignatureSearch(s.ctx), SearchCheck::EndNotAfterStart);
    EXPECT_FALSE(prepareSignatureSearch(s.ctx).ok());
    s.ctx.endSector = 7;
    s.ctx.extensions.checkAll(false);
    EXPECT_EQ(checkSignatureSearch(s.ctx), SearchCheck::NothingTicked);
    EXPECT_FALSE(prepareSignatureSearch(s.ctx).ok());
    s.ctx.extensions.checkAll(true);
    EXPECT_EQ(checkSignatureSearch(s.ctx), SearchCheck::Ready);
}

namespace {

class ScriptedPrompt final : public MediaPrompt {
public:
    explicit ScriptedPrompt(MediaAnswer answer) : m_answer(answer) {}
    MediaAnswer askDeviceUnavailable(const Error& failure) override
    {
        asked.push_back(failure);
        return m_answer;
    }
    std::vector<Error> asked;

private:
    MediaAnswer m_answer;
};

}  // namespace

TEST(CarveMedia, UnreadableBlocksKeepPendingFilesInShapeAndAskWhenFarFromTheEnd)
{
    // Three blocks; the middle one cannot be read, whole or in one sector. The range reaches far
    // beyond the image, so a failure is not near its end and a lost block is asked about.
    auto image = blankImage(3 * 512);
    plant(image, 100 * kSector, kA);
    plant(image, 1100 * kSector, kB);
    struct Case {
        const char* name;
        std::uint64_t firstBad, badCount;
        MediaAnswer answer;
        CarveEnding ending;
        std::size_t files;
        std::size_t asked;
        std::uint64_t unreadableBlocks;
    } cases[] = {
        {"retry, then carry on with zeros", 512, 512, {MediaAction::RetryAndContinue, true}, CarveEnding::Finished, 2, 1, 1},
        {"closed without an answer", 512, 512, {MediaAction::Closed, false}, CarveEnding::Finished, 2, 1, 1},
        {"cancel searching", 512, 512, {MediaAction::CancelSearching, false}, CarveEnding::Stopped, 1, 1, 0},
        {"one bad sector becomes zeros alone, unasked", 700, 1, {MediaAction::CancelSearching, false},
         CarveEnding::Finished, 2, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Search s({aaa(), bbb()}, {}, image);
        storage::MemorySectorSource memory(image);
        s.ctx.openDevice = [&memory, &c]() -> Result<std::unique_ptr<storage::SectorSource>> {
            auto faulty = std::make_unique<kfr::test::FaultySectorSource>(memory);
            faulty->failSectors(c.firstBad, c.badCount);
            return std::unique_ptr<storage::SectorSource>(std::move(faulty));
        };
        s.ctx.endSector = 1000000;
        ScriptedPrompt prompt(c.answer);
        s.ctx.mediaPrompt = &prompt;
        const auto outcome = s.run();
        EXPECT_EQ(outcome.ending, c.ending);
        EXPECT_EQ(prompt.asked.size(), c.asked);
        ASSERT_EQ(s.observer.carved.size(), c.files);
        auto expected = s.slice(100 * kSector, 1000 * kSector);
        const auto badFrom = static_cast<std::ptrdiff_t>((c.firstBad - 100) * kSector);
        if (c.ending == CarveEnding::Stopped)
            expected.resize(static_cast<std::size_t>(badFrom));  // up to the lost block
        else
            std::fill_n(expected.begin() + badFrom, c.badCount * kSector, 0);
        EXPECT_EQ(s.carved(CarvePass::General, "AAA", "AAA00001.AAA"), expected);
        EXPECT_EQ(outcome.unreadableBlocks, c.unreadableBlocks);
        if (c.ending == CarveEnding::Finished) {
            ASSERT_EQ(s.observer.problems.size(), 1u);  // the unreadable run, once
            EXPECT_EQ(s.observer.problems[0].sector, c.firstBad);
        }
    }
}

TEST(CarveMedia, NearTheEndAFailedBlockIsNotAskedAboutAndAnUnopenableDeviceIs)
{
    auto image = blankImage(3 * 512);
    plant(image, 0, kA);
    Search s({aaa()}, {}, image);
    storage::MemorySectorSource memory(image);
    s.ctx.openDevice = [&memory]() -> Result<std::unique_ptr<storage::SectorSource>> {
        auto faulty = std::make_unique<kfr::test::FaultySectorSource>(memory);
        faulty->failSectors(512, 512);  // the middle block, lost whole
        return std::unique_ptr<storage::SectorSource>(std::move(faulty));
    };
    ScriptedPrompt prompt({MediaAction::CancelSearching, false});
    s.ctx.mediaPrompt = &prompt;
    const auto outcome = s.run();
    EXPECT_EQ(outcome.ending, CarveEnding::Finished);
    EXPECT_EQ(outcome.unreadableBlocks, 1u);
    EXPECT_TRUE(prompt.asked.empty());
    ASSERT_EQ(s.observer.problems.size(), 1u);
    EXPECT_EQ(s.observer.problems[0].sector, 512u);

    Search gone({aaa()}, {}, image);
    gone.ctx.openDevice = []() -> Result<std::unique_ptr<storage::SectorSource>> {
        return Error{ErrorKind::OpenFailed, 0, "memory", "No such device"};
    };
    ScriptedPrompt cancel({MediaAction::CancelSearching, false});
    gone.ctx.mediaPrompt = &cancel;
    EXPECT_EQ(gone.run().ending, CarveEnding::Stopped);
    ASSERT_EQ(cancel.asked.size(), 1u);
    EXPECT_EQ(cancel.asked[0].kind, ErrorKind::OpenFailed);
    EXPECT_TRUE(gone.observer.carved.empty());

    // A standing retry asks once; later blocks without a device retry unasked.
    Search retry({aaa()}, {}, image);
    retry.ctx.openDevice = gone.ctx.openDevice;
    ScriptedPrompt standing({MediaAction::RetryAndContinue, true});
    retry.ctx.mediaPrompt = &standing;
    EXPECT_EQ(retry.run().ending, CarveEnding::Finished);
    EXPECT_EQ(standing.asked.size(), 1u);
}

TEST(CarveOptions, ExactEndsAndAnyOffsetChangeOnlyWhatTheyAsk)
{
    // A tiny GIF (header, one 1x1 image, trailer) at byte 1000 of a block: not a sector start.
    const std::string gif = std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00", 13) +
                            std::string("\x2C\0\0\0\0\x01\0\x01\0\0", 10) + std::string("\x02\x02\x4C\x01\x00\x3B", 6);
    auto image = blankImage(16);
    plant(image, 1000, gif);
    plant(image, 8 * kSector, gif);  // and one at a sector start
    struct Case {
        const char* name;
        std::string rule;
        bool exactEnds;
        bool anyOffset;
        std::vector<std::pair<std::size_t, std::size_t>> files;  // byte offset, length
        bool endFound;
    } cases[] = {
        {"sector starts, next-header rule", "gif", false, false, {{8 * kSector, 8 * kSector}}, false},
        {"sector starts, exact ends", "gif", true, false, {{8 * kSector, gif.size()}}, true},
        {"every byte, next-header rule", "gif", false, true, {{1000, 8 * kSector - 1000}, {8 * kSector, 8 * kSector}}, false},
        {"every byte, exact ends", "gif", true, true, {{1000, gif.size()}, {8 * kSector, gif.size()}}, true},
        {"a record for exact ends only, without them", "gif only", false, false, {}, false},
        {"a record for exact ends only, with them", "gif only", true, false, {{8 * kSector, gif.size()}}, true},
        {"no rule: exact ends keep the next-header rule", "", true, false, {{8 * kSector, 8 * kSector}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sig sig{"gif", "10000000", "474946383961", "1"};
        sig.exactEnd = c.rule;
        Search s({sig}, {}, image);
        s.ctx.exactEnds = c.exactEnds;
        s.ctx.anyOffset = c.anyOffset;
        ASSERT_EQ(s.run().ending, CarveEnding::Finished);
        const auto& files = s.ctx.results.allFiles;
        ASSERT_EQ(files.size(), c.files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].byteOffset, c.files[i].first);
            EXPECT_EQ(files[i].firstSector, c.files[i].first / kSector);
            EXPECT_EQ(files[i].length, c.files[i].second);
            EXPECT_EQ(files[i].endFound, c.endFound);
            EXPECT_EQ(s.carved(CarvePass::General, "GIF", files[i].name), s.slice(c.files[i].first, c.files[i].second));
        }
    }
}

TEST(CarveOptions, EveryByteFindsWhatSectorStartsFindInTheSameOrder)
{
    // Headers at sector starts only, of records at several offsets, duplicates and a one-byte
    // header among them, some across a block boundary: probing every byte must open the same
    // files, named and cut alike, and nothing more.
    const std::vector<Sig> sigs = {aaa(), bbb(), {"ccc", "20000", "434343", "9"}, {"ddd", "10000000", "44", "1"},
                                   {"eee", "10000000", "41414141", "1"}, {"fff", "10000000", "4646", "258"}};
    auto image = blankImage(1200);
    std::mt19937 gen(5);
    const std::vector<std::pair<std::size_t, std::string>> headers = {{0, kA}, {8, "CCC"}, {0, kB}, {0, "D"}, {257, "FF"}};
    for (std::size_t sector = 3; sector < 1190; sector += 1 + gen() % 40) {
        const auto& [at, bytes] = headers[gen() % headers.size()];
        plant(image, sector * kSector + at, bytes);
    }
    std::vector<std::vector<CarvedResult>> runs;
    for (const bool anyOffset : {false, true}) {
        Search s(sigs, {}, image);
        s.ctx.anyOffset = anyOffset;
        ASSERT_EQ(s.run().ending, CarveEnding::Finished);
        runs.push_back(s.ctx.results.allFiles);
    }
    ASSERT_GT(runs[0].size(), 30u);
    ASSERT_EQ(runs[1].size(), runs[0].size());
    for (std::size_t i = 0; i < runs[0].size(); ++i) {
        EXPECT_EQ(runs[1][i].name, runs[0][i].name) << i;
        EXPECT_EQ(runs[1][i].byteOffset, runs[0][i].byteOffset) << i;
        EXPECT_EQ(runs[1][i].length, runs[0][i].length) << i;
    }
}

TEST(CarveOptions, ABrokenCandidateNeitherMakesAFileNorEndsTheOneBeforeIt)
{
    // A JPEG header whose next bytes are no JPEG segment, in the middle of an open file of a
    // type without a rule: with exact ends the open file runs on past it.
    auto image = blankImage(32);
    plant(image, 0, kA);
    plant(image, 10 * kSector, "\xFF\xD8\xFF\xE0\x12\x34");
    const Sig jpg{"jpg", "10000000", "FFD8FFE0", "1", "test type", "jpeg"};
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact);
        Search s({aaa(), jpg}, {}, image);
        s.ctx.exactEnds = exact;
        s.run();
        const auto& files = s.ctx.results.allFiles;
        ASSERT_EQ(files.size(), exact ? 1u : 2u);
        EXPECT_EQ(files[0].length, (exact ? 32 : 10) * kSector);
    }
}

namespace {

// A destination that fills up after a number of bytes.
class FillingSink final : public CarvedFileSink {
public:
    explicit FillingSink(std::size_t room) : m_room(room) {}
    Result<CreatedFile> create(CarvePass, const std::string&, const std::string& name) override
    {
        ++created;
        return CreatedFile{std::make_unique<File>(*this), name};
    }
    std::size_t created = 0;

private:
    struct File final : CarvedFile {
        explicit File(FillingSink& sink) : m_sink(sink) {}
        Status write(Bytes bytes) override
        {
            if (bytes.size() > m_sink.m_room) return Error{ErrorKind::DiskFull, 0, "dest", "No space left on device"};
            m_sink.m_room -= bytes.size();
            return okStatus();
        }
        Status close() override { return okStatus(); }
        void discard() override { ++m_sink.discarded; }
        FillingSink& m_sink;
    };
    std::size_t m_room;
public:
    std::size_t discarded = 0;
};

}  // namespace

TEST(CarveOutput, AFullDestinationStopsTheSearchWithAnError)
{
    auto image = blankImage(4 * 512);
    for (std::size_t sector = 0; sector < 4 * 512; sector += 100) plant(image, sector * kSector, kA);
    Search s({aaa()}, {{"aaa", "10000000", "4141", "1"}}, image);
    s.ctx.thorough = true;
    FillingSink sink(120 * kSector);
    s.ctx.sink = &sink;
    const auto outcome = s.run();
    EXPECT_EQ(outcome.ending, CarveEnding::Failed);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->kind, ErrorKind::DiskFull);
    EXPECT_FALSE(outcome.thoroughRan);
    // The writer works behind the scan, so a few more files may be opened before the failure is
    // seen; none of them is kept, and each says so.
    EXPECT_EQ(sink.created - sink.discarded, 2u);
    const auto& files = s.ctx.results.allFiles;
    ASSERT_EQ(files.size(), sink.created);
    EXPECT_EQ(files[0].outcome, CarvedOutcome::Written);
    EXPECT_EQ(files[1].outcome, CarvedOutcome::Incomplete);
    for (std::size_t i = 2; i < files.size(); ++i) EXPECT_EQ(files[i].outcome, CarvedOutcome::NotWritten) << i;
}

TEST(CarveOutput, TakenNamesAreSkippedAndLinksAreNotFollowed)
{
    auto image = blankImage(16);
    plant(image, 0, kA);
    Search s({aaa()}, {}, image);
    const std::string folder = passFolder(s.ctx.destination, CarvePass::General) + "AAA";
    std::filesystem::create_directories(folder);
    { std::ofstream(folder + "/AAA00001.AAA") << "earlier search"; }
    s.run();
    ASSERT_EQ(s.observer.carved.size(), 1u);
    EXPECT_EQ(s.observer.carved[0].name, "AAA00002.AAA");
    EXPECT_EQ(s.observer.carved[0].savedPath, folder + "/AAA00002.AAA");
    EXPECT_EQ(kfr::test::readFileBytes(folder + "/AAA00001.AAA").size(), 14u);

    // A type folder that is a link to somewhere else is refused, and nothing lands there.
    Search linked({aaa()}, {}, image);
    const std::string elsewhere = linked.dir().file("elsewhere");
    std::filesystem::create_directories(elsewhere);
    const std::string pass = passFolder(linked.ctx.destination, CarvePass::General);
    std::filesystem::create_directories(pass);
    std::filesystem::create_directory_symlink(elsewhere, pass + "AAA");
    const auto outcome = linked.run();
    EXPECT_EQ(outcome.ending, CarveEnding::Failed);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}
