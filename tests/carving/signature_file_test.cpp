// Reading signature files: the value rules, hex conversion, the extension list, loading with
// ticks, damaged files, the start-up check, and the two files we ship.
#include <gtest/gtest.h>

#include <fstream>

#include "carving/signature_file.h"
#include "carving_test_util.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::carving;
using kfr::carving::test::Sig;
using kfr::carving::test::writeSignatures;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

SignatureTables load(const std::string& path, const ExtensionList& list = {})
{
    SignatureTables tables;
    EXPECT_TRUE(loadSignatureFile(path, list, tables).ok());
    return tables;
}

}  // namespace

TEST(SignatureLine, ValueFollowsTheLastColonAndIsTrimmed)
{
    struct Case {
        const char* line;
        const char* value;
    } cases[] = {
        {"Header:FFD8", "FFD8"},
        {"Header (see RFC 1952: section 2.3): 1F8B \t", "1F8B"},
        {"no colon at all ", "no colon at all"},
        {"Ends in a colon:", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(lineValue(c.line), c.value) << c.line;
}

TEST(SignatureLine, ExtensionKeyStaysAPlainWord)
{
    struct Case {
        const char* value;
        const char* key;
    } cases[] = {
        {".jpg", "JPG"}, {"jpg", "JPG"}, {".7z", "7Z"}, {".", ""}, {"", ""},
        {"../../etc", ""}, {".a/b", ""}, {".a b", ""}, {".tar.gz", ""}, {".my_ext", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(extensionKey(c.value), c.key) << c.value;
}

TEST(SignatureLine, NumbersAndHexFollowTheLenientRules)
{
    EXPECT_EQ(parseLeadingInteger("  -12abc"), -12);
    EXPECT_EQ(parseLeadingInteger("+7"), 7);
    EXPECT_EQ(parseLeadingInteger("x9"), 0);
    EXPECT_EQ(parseLeadingInteger("99999999999999999999999"), INT64_MAX);

    struct Case {
        const char* hex;
        std::vector<int> bytes;
    } cases[] = {
        {"FFD8FF", {0xFF, 0xD8, 0xFF}},
        {"ABC", {0xAB, 0x0C}},   // a lone last digit is a byte of its own
        {"ZZ1G", {0x00, 0x10}},  // any other character counts as 0
        {"", {}},
    };
    for (const auto& c : cases) {
        FileType1 rec;
        convertHeaderHex(c.hex, rec);
        ASSERT_EQ(rec.headerLen, static_cast<int>(c.bytes.size())) << c.hex;
        for (std::size_t i = 0; i < c.bytes.size(); ++i) EXPECT_EQ(rec.header[i], c.bytes[i]) << c.hex;
        EXPECT_EQ(rec.firstByte, c.bytes.empty() ? 0 : c.bytes[0]);
    }
    FileType1 longHeader;
    convertHeaderHex(std::string(200, 'A'), longHeader);
    EXPECT_EQ(longHeader.headerLen, kMaxHeaderBytes);
}

TEST(SignatureFile, LoadsRecordsInFileOrderWithOffsetsAndDuplicates)
{
    kfr::test::TempDir dir;
    const std::string path = dir.file("sig.dll");
    writeText(path,
              "Type: of file:.jpg\r\nMax:20000\r\nHeader:ffd8FF\r\nOffset:1\r\nx\r\nDescription:JPEG\r\n"
              "Ext:.jpg\nMax:5\nHeader:FFD8FF\nOffset:1\nx\nDescription:JPEG again\n"
              "Ext:.wav\nMax:9\nHeader:57415645\nOffset:9\nx\nDescription:Wave\n");
    const auto t = load(path);
    ASSERT_EQ(t.table.size(), 3u);
    EXPECT_EQ(t.table[0].ext, ".JPG");
    EXPECT_EQ(t.table[0].key(), "JPG");
    EXPECT_EQ(t.table[0].headerHex, "FFD8FF");
    EXPECT_EQ(t.table[0].headerLen, 3);
    EXPECT_EQ(t.table[0].firstByte, 255);
    EXPECT_EQ(t.table[0].maxSizeText, "20000");
    EXPECT_EQ(t.table[1].maxSize(), 5);
    EXPECT_TRUE(t.table[0] == t.table[1]);  // same offset, same first byte
    EXPECT_EQ(t.table[2].offset, 9);
    EXPECT_EQ(t.offsets, (HeaderOffsetList{1, 9}));
}

TEST(SignatureFile, LineFiveNamesTheEndRuleAndOlderFilesStillLoad)
{
    // Line 5 was once read and ignored; whatever older files hold there still means "no rule".
    struct Case {
        const char* line5;
        EndRule rule;
        bool exactOnly;
    } cases[] = {
        {"Source (not read by the program) - ITU-T T.81 SOI marker FFD8:", EndRule::None, false},
        {"x", EndRule::None, false},
        {"", EndRule::None, false},
        {"Exact end (header from RFC 1952: section 2.3):gzip", EndRule::Gzip, false},
        {"Exact end: JPEG ", EndRule::Jpeg, false},
        {"Exact end:mpeg-audio only", EndRule::MpegAudio, true},
        {"Exact end:none only", EndRule::None, false},
        {"Exact end:zip almost", EndRule::Zip, false},
    };
    kfr::test::TempDir dir;
    const std::string path = dir.file("sig.dll");
    for (const auto& c : cases) {
        writeText(path, std::string("Ext:.aaa\nMax:7\nHeader:41\nOffset:1\n") + c.line5 + "\nDescription:A\n");
        const auto t = load(path);
        ASSERT_EQ(t.table.size(), 1u) << c.line5;
        EXPECT_EQ(t.table[0].endRule, c.rule) << c.line5;
        EXPECT_EQ(t.table[0].exactOnly, c.exactOnly) << c.line5;
        EXPECT_EQ(t.table[0].headerLen, 1) << c.line5;
    }
}

TEST(SignatureFile, UntickedTypesAreLeftOutAndUnlistedOnesLoaded)
{
    kfr::test::TempDir dir;
    const std::string path = dir.file("sig.dll");
    writeSignatures(path, {{"aaa", "10", "41", "1"}, {"bbb", "10", "42", "3"}, {"ccc", "10", "43", "1"}});
    ExtensionList list;
    list.rows = {{"AAA", "", true}, {"BBB", "", false}};
    const auto t = load(path, list);
    ASSERT_EQ(t.table.size(), 2u);
    EXPECT_EQ(t.table[0].ext, ".AAA");
    EXPECT_EQ(t.table[1].ext, ".CCC");
    EXPECT_EQ(t.offsets, (HeaderOffsetList{1}));  // the skipped record's offset is not added
}

TEST(SignatureFile, DamagedFilesNeverFailOrOverflow)
{
    kfr::test::TempDir dir;
    struct Case {
        const char* name;
        std::string text;
        std::size_t records;
        int headerLen;  // of the last record
        std::int32_t offset;
    } cases[] = {
        {"empty file", "", 0, 0, 0},
        {"cut after line 1", "Ext:.aaa\n", 1, 0, 0},
        {"cut after the header", "Ext:.aaa\nMax:7\nHeader:4142\n", 1, 2, 0},
        {"odd digits", "Ext:.aaa\nMax:7\nHeader:414\nOffset:1\n\nD:x\n", 1, 2, 1},
        {"200 hex digits", "Ext:.aaa\nMax:7\nHeader:" + std::string(200, 'F') + "\nOffset:1\n\nD:x\n", 1, 50, 1},
        {"offset 0", "Ext:.aaa\nMax:7\nHeader:41\nOffset:0\n\nD:x\n", 1, 1, 0},
        {"negative offset", "Ext:.aaa\nMax:-7\nHeader:41\nOffset:-40\n\nD:x\n", 1, 1, -40},
        {"huge offset", "Ext:.aaa\nMax:7\nHeader:41\nOffset:99999999999\n\nD:x\n", 1, 1, INT32_MAX},
        {"binary junk", std::string("\0\xff:\n\n:\xfe\n", 8), 0, 0, 0},
        {"unsafe extension", "Ext:../../x\nMax:7\nHeader:41\nOffset:1\n\nD:x\n", 0, 0, 0},
        {"one endless line", std::string(100000, 'Z'), 0, 0, 0},
    };
    for (const auto& c : cases) {
        const std::string path = dir.file("damaged.dll");
        writeText(path, c.text);
        const auto t = load(path);
        ASSERT_EQ(t.table.size(), c.records) << c.name;
        if (c.records) {
            EXPECT_EQ(t.table.back().headerLen, c.headerLen) << c.name;
            EXPECT_EQ(t.table.back().offset, c.offset) << c.name;
            EXPECT_GE(t.table.back().maxSize(), 0) << c.name;
        }
        ExtensionList list;
        EXPECT_TRUE(fillExtensionList(list, path, path).ok()) << c.name;
    }
}

TEST(ExtensionList, OneRowPerTypeFromBothFilesSortedWithTheGeneralDescription)
{
    kfr::test::TempDir dir;
    writeSignatures(dir.file("g.dll"), {{"png", "1", "89", "1", "PNG image"},
                                        {"jpg", "1", "FF", "1", "JPEG image"},
                                        {"JPG", "1", "FF", "1", "JPEG variant"}});
    writeSignatures(dir.file("t.dll"), {{"jpg", "1", "FF", "1", "loose JPEG"}, {"bmp", "1", "42", "1", "Bitmap"}});
    ExtensionList list;
    ASSERT_TRUE(fillExtensionList(list, dir.file("g.dll"), dir.file("t.dll")).ok());
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(list.rows[0].key, "BMP");
    EXPECT_EQ(list.rows[1].key, "JPG");
    EXPECT_EQ(list.rows[1].description, "JPEG image");
    EXPECT_EQ(list.rows[2].key, "PNG");
    for (const auto& r : list.rows) EXPECT_TRUE(r.ticked);
    EXPECT_NE(list.find("jpg"), nullptr);

    // Clearing a type's tick keeps it out of both files.
    list.find("jpg")->ticked = false;
    EXPECT_EQ(load(dir.file("g.dll"), list).table.size(), 1u);
    EXPECT_EQ(load(dir.file("t.dll"), list).table.size(), 1u);
}

TEST(SignatureFile, MissingFileGivesTheOpenMessage)
{
    kfr::test::TempDir dir;
    auto check = checkSignatureFiles(dir.path());
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error().detail, "Couldn't open source file: No such file or directory");
    EXPECT_EQ(check.error().path, dir.file("MFTSig.dll"));

    writeText(dir.file("MFTSig.dll"), "");
    check = checkSignatureFiles(dir.path());
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error().path, dir.file("MFTSigAdv.dll"));
    writeText(dir.file("MFTSigAdv.dll"), "");
    EXPECT_TRUE(checkSignatureFiles(dir.path()).ok());

    SignatureTables tables;
    EXPECT_FALSE(loadSignatureFile(dir.file("nope.dll"), {}, tables).ok());
    ExtensionList list;
    EXPECT_FALSE(fillExtensionList(list, dir.file("MFTSig.dll"), dir.file("nope.dll")).ok());
}

TEST(ShippedSignatures, BothFilesAreWellFormedAndCoverTheCommonTypes)
{
    const std::string folder = KFR_BIN_DIR;  // the build copies them beside the programs
    ASSERT_TRUE(checkSignatureFiles(folder).ok());
    ExtensionList list;
    ASSERT_TRUE(fillExtensionList(list, signatureFilePath(folder, kGeneralSignatureFile),
                                  signatureFilePath(folder, kThoroughSignatureFile))
                    .ok());
    for (const char* key : {"JPG", "PNG", "GIF", "BMP", "TIF", "PSD", "PDF", "ZIP", "RAR", "7Z", "GZ", "DOC", "RTF",
                            "MP3", "WAV", "AVI", "MP4", "MOV", "MKV", "FLAC", "OGG", "SQLITE", "EXE"})
        EXPECT_NE(list.find(key), nullptr) << key;
    for (const char* name : {kGeneralSignatureFile, kThoroughSignatureFile}) {
        const std::string path = signatureFilePath(folder, name);
        const auto t = load(path, list);
        EXPECT_GT(t.table.size(), 20u) << name;
        for (const auto& rec : t.table) {
            EXPECT_GT(rec.headerLen, 1) << name << " " << rec.ext;
            EXPECT_EQ(rec.headerHex.size(), static_cast<std::size_t>(rec.headerLen) * 2) << name << " " << rec.ext;
            EXPECT_GE(rec.offset, 1) << name << " " << rec.ext;
            EXPECT_LE(rec.offset + rec.headerLen - 1, 512) << name << " " << rec.ext;
            EXPECT_GT(rec.maxSize(), 0) << name << " " << rec.ext;
        }
        // Six lines a record, nothing else.
        const auto bytes = kfr::test::readFileBytes(path);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n') % 6, 0) << name;
        EXPECT_EQ(bytes.back(), '\n') << name;
    }
    // Every ZIP-based office file is found as ZIP in the General pass; JFIF, Exif and bare JPEG
    // starts are all General records.
    const auto general = load(signatureFilePath(folder, kGeneralSignatureFile), list);
    int jpegVariants = 0;
    for (const auto& rec : general.table) jpegVariants += rec.ext == ".JPG";
    EXPECT_GE(jpegVariants, 3);
}
