// The end rules on real files (taken from the exact-ends fixture, each made by the tool that
// writes such files) and on the damaged and look-alike bytes a medium holds: a rule finds the
// whole file, never claims an end past what it may read, and turns away random bytes that only
// share a header.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "carving/end_rules.h"
#include "carving/signature_file.h"
#include "carving_test_util.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::carving;

namespace {

struct RealFile {
    std::string name;
    std::string type;
    std::vector<std::uint8_t> bytes;
    EndRule rule = EndRule::None;
};

// Every planted file with the rule of the shipped General record whose header it carries.
const std::vector<RealFile>& realFiles()
{
    static const std::vector<RealFile> files = [] {
        std::vector<RealFile> out;
        const auto image = kfr::test::readFileBytes(kfr::test::fixturePath("carving_exact.img"));
        SignatureTables sigs;
        EXPECT_TRUE(loadSignatureFile(signatureFilePath(KFR_BIN_DIR, kGeneralSignatureFile), {}, sigs).ok());
        for (const auto& planted : carving::test::plantedFiles("exact_manifest.txt")) {
            RealFile f;
            f.name = planted.name;
            f.type = planted.type;
            f.bytes.assign(image.begin() + static_cast<std::ptrdiff_t>(planted.offset),
                           image.begin() + static_cast<std::ptrdiff_t>(planted.offset + planted.length));
            for (const auto& rec : sigs.table) {
                const std::size_t at = static_cast<std::size_t>(rec.offset - 1);
                if (rec.headerLen > 0 && at + rec.headerLen <= f.bytes.size() &&
                    std::equal(rec.header.begin(), rec.header.begin() + rec.headerLen, f.bytes.begin() + static_cast<std::ptrdiff_t>(at))) {
                    f.rule = rec.endRule;
                    break;
                }
            }
            out.push_back(std::move(f));
        }
        return out;
    }();
    return files;
}

FileEnd endOf(EndRule rule, const std::vector<std::uint8_t>& bytes, std::uint64_t limit = UINT64_MAX)
{
    SpanFileBytes span(Bytes(bytes.data(), bytes.size()), limit);
    return findFileEnd(rule, span);
}

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

}  // namespace

TEST(EndRules, RealFilesEndWhereTheyEndWhateverFollows)
{
    ASSERT_GE(realFiles().size(), 30u);
    for (const auto& f : realFiles()) {
        SCOPED_TRACE(f.name);
        ASSERT_NE(f.rule, EndRule::None) << "no shipped record with an end rule matches it";
        // Followed by random bytes, by zeros, and by the next file's header: the same end.
        for (unsigned trail = 0; trail < 3; ++trail) {
            auto bytes = f.bytes;
            const auto tail = trail == 0 ? randomBytes(70000, 7) : std::vector<std::uint8_t>(70000, 0);
            bytes.insert(bytes.end(), tail.begin(), tail.end());
            if (trail == 2) std::copy_n("\xFF\xD8\xFF\xE0", 4, bytes.begin() + static_cast<std::ptrdiff_t>(f.bytes.size()));
            const FileEnd end = endOf(f.rule, bytes);
            EXPECT_EQ(end.verdict, EndVerdict::Found) << "trail " << trail;
            EXPECT_EQ(end.length, f.bytes.size()) << "trail " << trail;
            // The type its insides give (DOCX, NEF, ...) or the record's own.
            if (!end.refinedKey.empty()) {
                EXPECT_EQ(end.refinedKey, f.type);
            }
        }
    }
}

TEST(EndRules, ACutFileNeverGetsAnEndPastTheCut)
{
    // The medium ends, or the type's maximum size comes, before the file does: the rule may say
    // the end is unknown, or find an earlier end that the format allows (a stream of frames),
    // but never an end it could not read and never "not a file" for a file that starts well.
    for (const auto& f : realFiles()) {
        SCOPED_TRACE(f.name);
        for (const std::uint64_t cut : {f.bytes.size() - 1, f.bytes.size() / 2, std::uint64_t{600}}) {
            if (cut >= f.bytes.size()) continue;
            const FileEnd end = endOf(f.rule, f.bytes, cut);
            EXPECT_NE(end.verdict, EndVerdict::Invalid) << "cut at " << cut;
            if (end.verdict == EndVerdict::Found) {
                EXPECT_LE(end.length, cut);
            }
        }
    }
}

TEST(EndRules, RandomBytesBehindAHeaderAreNoFile)
{
    // Each shipped header followed by random bytes, many times over: exact ends turn them away
    // (or at worst cannot tell), and never cut a "file" out of them.
    SignatureTables sigs;
    ASSERT_TRUE(loadSignatureFile(signatureFilePath(KFR_BIN_DIR, kGeneralSignatureFile), {}, sigs).ok());
    ASSERT_TRUE(loadSignatureFile(signatureFilePath(KFR_BIN_DIR, kThoroughSignatureFile), {}, sigs).ok());
    for (const auto& rec : sigs.table) {
        if (rec.endRule == EndRule::None || rec.headerLen == 0) continue;
        SCOPED_TRACE(rec.ext + " " + rec.headerHex);
        int found = 0;
        for (unsigned seed = 0; seed < 200; ++seed) {
            auto bytes = randomBytes(8192, seed);
            std::copy_n(rec.header.begin(), rec.headerLen, bytes.begin() + (rec.offset - 1));
            found += endOf(rec.endRule, bytes).verdict == EndVerdict::Found;
        }
        EXPECT_EQ(found, 0);
    }
}

TEST(EndRules, BrokenStartsAreNotFiles)
{
    const auto real = [](const std::string& name) {
        for (const auto& f : realFiles())
            if (f.name == name) return f;
        ADD_FAILURE() << name;
        return RealFile{};
    };
    struct Case {
        const char* what;
        const char* file;
        std::size_t at;     // where the damage goes
        std::string bytes;  // what is written there
        EndVerdict expected;
    } cases[] = {
        {"PNG whose first chunk is not IHDR", "shade.png", 12, "tEXt", EndVerdict::Invalid},
        {"PNG with an IHDR of the wrong length", "shade.png", 8, std::string("\0\0\0\x0E", 4), EndVerdict::Invalid},
        {"JPEG whose first segment is no marker", "photo.jpg", 2, "\x12\x34", EndVerdict::Invalid},
        {"GIF without a valid block after its colour table", "anim.gif", 13 + 24, "\x99", EndVerdict::Invalid},
        {"BMP with an unknown header size", "small.bmp", 14, "\x11\x00\x00\x00", EndVerdict::Invalid},
        {"7z whose start header CRC is wrong", "notes.7z", 12, "\x01", EndVerdict::Invalid},
        {"ZIP with an unknown method", "bundle.zip", 8, "\x77\x00", EndVerdict::Invalid},
        {"SQLite with a page size that is no power of two", "contacts.sqlite", 16, "\x03\x00", EndVerdict::Invalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RealFile f = real(c.file);
        ASSERT_LE(c.at + c.bytes.size(), f.bytes.size());
        std::copy(c.bytes.begin(), c.bytes.end(), f.bytes.begin() + static_cast<std::ptrdiff_t>(c.at));
        EXPECT_EQ(endOf(f.rule, f.bytes).verdict, c.expected);
    }
}

TEST(EndRules, JpegFrameHeaderIsChecked)
{
    // SOI, then a frame header whose component count does not fit its length: not a JPEG.
    const std::vector<std::uint8_t> bad = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x07,
                                           1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 0xFF, 0xD9};
    EXPECT_EQ(endOf(EndRule::Jpeg, bad).verdict, EndVerdict::Invalid);
    // An EOI before any scan (a thumbnail's end seen without its picture) is no end either.
    const std::vector<std::uint8_t> early = {0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0};
    EXPECT_EQ(endOf(EndRule::Jpeg, early).verdict, EndVerdict::Invalid);
}

TEST(EndRules, ZipStoredInsideAZipDoesNotEndTheOuterOne)
{
    // The outer archive stores bundle.zip uncompressed: the inner end-of-central-directory
    // record comes first in the bytes but closes a directory that is not the outer one's.
    const RealFile inner = [] {
        for (const auto& f : realFiles())
            if (f.name == "bundle.zip") return f;
        return RealFile{};
    }();
    ASSERT_FALSE(inner.bytes.empty());
    kfr::test::TempDir dir;
    { std::ofstream(dir.file("inner.zip"), std::ios::binary).write(reinterpret_cast<const char*>(inner.bytes.data()),
                                                                     static_cast<std::streamsize>(inner.bytes.size())); }
    const std::string outer = dir.file("outer.zip");
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && zip -q -0 -X outer.zip inner.zip").c_str()), 0);
    const auto bytes = kfr::test::readFileBytes(outer);
    auto padded = bytes;
    padded.resize(bytes.size() + 4096, 0);
    const FileEnd end = endOf(EndRule::Zip, padded);
    EXPECT_EQ(end.verdict, EndVerdict::Found);
    EXPECT_EQ(end.length, bytes.size());
}

TEST(EndRules, CanonRawIsToldApartByItsMark)
{
    // No tool but a Canon camera writes CR2, so the file is built here as the format lays it out:
    // a little-endian TIFF header whose first IFD sits at 16, "CR", version 2 and the raw IFD's
    // offset in bytes 8-15, then IFD0 (size, one strip, the maker) and the strip's pixels.
    std::vector<std::uint8_t> file = {'I', 'I', 42, 0, 16, 0, 0, 0, 'C', 'R', 2, 0, 0, 0, 0, 0};
    const auto u16 = [&](std::uint16_t v) { file.push_back(v & 0xFF); file.push_back(v >> 8); };
    const auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) file.push_back((v >> (8 * i)) & 0xFF); };
    const std::uint32_t entries = 5, ifdEnd = 16 + 2 + entries * 12 + 4;
    const std::uint32_t makeAt = ifdEnd, stripAt = makeAt + 6, stripBytes = 40 * 30;
    u16(entries);
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    entry(256, 3, 1, 40);               // ImageWidth
    entry(257, 3, 1, 30);               // ImageLength
    entry(271, 2, 6, makeAt);           // Make, "Canon" and its NUL
    entry(273, 4, 1, stripAt);          // StripOffsets
    entry(279, 4, 1, stripBytes);       // StripByteCounts
    u32(0);                             // no next IFD
    for (char c : std::string("Canon")) file.push_back(static_cast<std::uint8_t>(c));
    file.push_back(0);
    for (std::uint32_t i = 0; i < stripBytes; ++i) file.push_back(static_cast<std::uint8_t>(i * 7));
    const std::size_t length = file.size();

    auto followed = file;
    const auto tail = randomBytes(5000, 3);
    followed.insert(followed.end(), tail.begin(), tail.end());
    const FileEnd end = endOf(EndRule::Tiff, followed);
    EXPECT_EQ(end.verdict, EndVerdict::Found);
    EXPECT_EQ(end.length, length);
    EXPECT_EQ(end.refinedKey, "CR2");

    // The same bytes without the mark are a plain TIFF of the same length.
    file[8] = 0;
    const FileEnd plain = endOf(EndRule::Tiff, file);
    EXPECT_EQ(plain.verdict, EndVerdict::Found);
    EXPECT_EQ(plain.length, length);
    EXPECT_EQ(plain.refinedKey, "");
}

TEST(EndRules, RuleNamesRoundTripAndUnknownTextsMeanNone)
{
    for (int r = 1; r <= static_cast<int>(EndRule::Compound); ++r) {
        const auto rule = static_cast<EndRule>(r);
        EXPECT_EQ(endRuleNamed(endRuleName(rule)), rule) << endRuleName(rule);
    }
    for (const char* text : {"", "none", "Source (not read by the program) - ITU-T T.81", "jpegs", "zip2"})
        EXPECT_EQ(endRuleNamed(text), EndRule::None) << text;
    EXPECT_EQ(endRuleNamed("JPEG"), EndRule::Jpeg);
}
