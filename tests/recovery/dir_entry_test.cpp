// Directory entries: short names, deleted marks, invalid names, long names (also across a sector
// boundary), final names, date and time texts, and file-type descriptions.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "recovery/dir_entry.h"
#include "recovery/file_types.h"
#include "storage/memory_source.h"

using namespace kfr;
using namespace kfr::recovery;

namespace {

std::array<std::uint8_t, 32> shortEntry(const char* name11, std::uint8_t attr = 0x20)
{
    std::array<std::uint8_t, 32> e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    return e;
}

// A long-name entry holding up to 13 characters of text (ASCII here), 0-terminated and
// 0xFFFF-padded as formatters write them.
void putLongNameEntry(std::uint8_t* e, const std::u16string& part, std::uint8_t sequence, std::uint8_t checksum = 0)
{
    static constexpr std::size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::memset(e, 0, 32);
    e[0] = sequence;
    e[11] = 0x0F;
    e[13] = checksum;
    for (std::size_t i = 0; i < 13; ++i) {
        std::uint16_t ch = i < part.size() ? part[i] : (i == part.size() ? 0x0000 : 0xFFFF);
        e[kOffsets[i]] = static_cast<std::uint8_t>(ch);
        e[kOffsets[i] + 1] = static_cast<std::uint8_t>(ch >> 8);
    }
}

}  // namespace

TEST(DirEntry, ShortNamesAndSkips)
{
    struct Case {
        const char* name;
        std::array<std::uint8_t, 32> entry;
        EntrySkip skip;
        const char* expected;
        bool deleted;
    };
    auto withByte = [](const char* name11, std::size_t at, std::uint8_t v, std::uint8_t attr = 0x20) {
        auto e = shortEntry(name11, attr);
        e[at] = v;
        return e;
    };
    const Case cases[] = {
        {"inner spaces dropped", shortEntry("READ ME TXT"), EntrySkip::None, "README.TXT", false},
        {"no extension", shortEntry("MAKEFILE   "), EntrySkip::None, "MAKEFILE", false},
        {"extension starting with a space has no dot", shortEntry("NAME     AB"), EntrySkip::None, "NAMEAB", false},
        {"deleted mark", withByte(" EPORT  DOC", 0, 0xE5), EntrySkip::None, "_EPORT.DOC", true},
        {"0x7F is allowed", withByte("ABC     TXT", 1, 0x7F), EntrySkip::None, "A\x7F" "C.TXT", false},
        {"control byte 0x1F", withByte("ABC     TXT", 1, 0x1F), EntrySkip::InvalidName, "", false},
        {"question mark", shortEntry("AB?     TXT"), EntrySkip::InvalidName, "", false},
        {"OEM letter in an entry that holds what entries hold", withByte("ABC     TXT", 1, 0x90), EntrySkip::None,
         "A\xC3\x89" "C.TXT", false},
        {"OEM letter with a reserved attribute bit: random bytes", withByte("ABC     TXT", 1, 0x90, 0xA0),
         EntrySkip::NonAnsiName, "", false},
        {"OEM letter with a month 13", [] {
             auto e = shortEntry("ABC     TXT");
             e[1] = 0x90;
             e[24] = 0xA1;  // day 1, month 13
             e[25] = 0x01;
             return e;
         }(), EntrySkip::NonAnsiName, "", false},
        {"0x05 stands for a first character 0xE5", withByte("ABC     TXT", 0, 0x05), EntrySkip::None,
         "\xC3\x95" "BC.TXT", false},
        {"lower-case flags", withByte("RECEIPTSCSV", 12, 0x18), EntrySkip::None, "receipts.csv", false},
        {"lower-case base only", withByte("MARCH   CSV", 12, 0x08), EntrySkip::None, "march.CSV", false},
        {"lower-case flags keep the deleted mark", [] {
             auto e = shortEntry("XPRIL   CSV");
             e[0] = 0xE5;
             e[12] = 0x18;
             return e;
         }(), EntrySkip::None, "_pril.csv", true},
        {"volume label is one name", shortEntry("CHS_FAT32  ", 0x08), EntrySkip::None, "CHS_FAT32", false},
        {"end mark", withByte("ABC     TXT", 0, 0x00), EntrySkip::EndMark, "", false},
        {"dot entry", shortEntry(".          ", 0x10), EntrySkip::DotEntry, "", false},
        {"dotdot entry", shortEntry("..         ", 0x10), EntrySkip::DotEntry, "", false},
        {"long-name part", shortEntry("ABC     TXT", 0x0F), EntrySkip::LongNamePart, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EntrySkip skip = EntrySkip::None;
        auto item = decodeEntry(c.entry, false, &skip);
        EXPECT_EQ(skip, c.skip);
        if (c.skip == EntrySkip::None) {
            ASSERT_TRUE(item);
            EXPECT_EQ(item->shortName, c.expected);
            EXPECT_EQ(item->deleted, c.deleted);
        } else {
            EXPECT_FALSE(item);
        }
    }
}

TEST(DirEntry, ClusterSizeAndOemCodePage)
{
    auto e = shortEntry("PHOTO   JPG");
    e[20] = 0x01;  // high cluster word
    e[26] = 0x34;
    e[27] = 0x12;
    e[28] = 0x10;
    e[29] = 0x27;  // 10000 bytes
    EXPECT_EQ(decodeEntry(e, false)->firstCluster, 0x1234u);
    EXPECT_EQ(decodeEntry(e, true)->firstCluster, 0x11234u);
    EXPECT_EQ(decodeEntry(e, true)->size, 10000u);
    e[2] = 0x80;  // C-cedilla in code page 850
    EXPECT_EQ(decodeEntry(e, false)->shortName, "PH\xC3\x87TO.JPG");
}

TEST(DirEntry, LongNamesInFrontOfTheShortEntry)
{
    // Sector 10 holds the short entry at offset 0; its two long-name entries end sector 9.
    std::vector<std::uint8_t> image(12 * 512, 0);
    putLongNameEntry(image.data() + 9 * 512 + 480, u"Quarterly Sum", 0x01);
    putLongNameEntry(image.data() + 9 * 512 + 448, u"mary", 0x42);
    const auto shortE = shortEntry("QUARTE~1TXT");
    std::memcpy(image.data() + 10 * 512, shortE.data(), 32);
    storage::MemorySectorSource src(image);
    const kfr::Bytes sector(image.data() + 10 * 512, 512);
    EXPECT_EQ(longNameBefore(sector, 0, 10, src), "Quarterly Summary");
    EXPECT_EQ(finalName("Quarterly Summary", "QUARTE~1.TXT"), "Quarterly Summary.TXT");

    // A deleted long-name entry (sequence byte 0xE5) still names its file.
    src.bytes()[9 * 512 + 448] = 0xE5;
    EXPECT_EQ(longNameBefore(sector, 0, 10, src), "Quarterly Summary");

    // A long name that starts with 0x0000 is no long name.
    putLongNameEntry(src.bytes().data() + 9 * 512 + 480, u"", 0x41);
    EXPECT_EQ(longNameBefore(sector, 0, 10, src), "");

    EXPECT_EQ(finalName("", "DATA.BIN"), "DATA.BIN");
    EXPECT_EQ(finalName("data file", "DATA.BIN"), "data file.BIN");
    EXPECT_EQ(finalName("report.final", "REPORT~1.FIN"), "report.final");
}

TEST(DirEntry, OemShortNameIsKeptWhenItsLongNameVouchesForIt)
{
    std::vector<std::uint8_t> image(2 * 512, 0);
    auto shortE = shortEntry("CAF\x90~1  TXT");  // an OEM code page's E-acute: undefined in Windows-1252
    std::memcpy(image.data() + 32, shortE.data(), 32);
    putLongNameEntry(image.data(), u"CAF\u00c9.txt", 0x41, shortNameChecksum(shortE));
    storage::MemorySectorSource src(image);
    const kfr::Bytes sector(image.data(), 512);
    auto item = decodeEntryWithLongName(sector, 32, 0, false, src);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->name, "CAF\xC3\x89.txt");
    // A wrong checksum proves nothing: an entry whose own fields do not look like an entry's
    // stays skipped.
    src.bytes()[13] ^= 0x55;
    src.bytes()[32 + 12] = 0xFF;
    const kfr::Bytes changed(src.bytes().data(), 512);
    EntrySkip skip{};
    EXPECT_FALSE(decodeEntryWithLongName(changed, 32, 0, false, src, &skip));
    EXPECT_EQ(skip, EntrySkip::NonAnsiName);

    // Deleted, the first byte is the deleted mark and the checksum no longer matches: some first
    // byte still makes it agree. The same when the short entry opens its sector and its long
    // name ends the sector before.
    std::vector<std::uint8_t> two(3 * 512, 0);
    putLongNameEntry(two.data() + 512 - 32, u"Caf\u00e9.jpg", 0x41, shortNameChecksum(shortEntry("CAF\x90~1  JPG")));
    auto deleted = shortEntry("CAF\x90~1  JPG");
    deleted[0] = 0xE5;
    deleted[12] = 0xFF;  // only the long name can vouch for it
    std::memcpy(two.data() + 512, deleted.data(), 32);
    storage::MemorySectorSource twoSectors(two);
    const auto found = decodeEntryWithLongName(kfr::Bytes(two.data() + 512, 512), 0, 1, false, twoSectors);
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->deleted);
    EXPECT_EQ(found->name, "Caf\xC3\xA9.jpg");
}

TEST(DirEntry, DateAndTimeTexts)
{
    const std::pair<std::uint16_t, const char*> dates[] = {
        {0x3A65, "05-MAR-2009"}, {0x0021, "01-JAN-1980"}, {0x0000, "00-ERR-1980"}, {0x01A1, "01-ERR-1980"}};
    for (const auto& [word, text] : dates) EXPECT_EQ(formatFatDate(word), text);
    EXPECT_EQ(formatFatTime(0xBF7D), "23:59:58");
    EXPECT_EQ(formatFatTime(0), "00:00:00");
}

TEST(FileTypes, DescriptionsByExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"report.docx", "Microsoft Word File"}, {"REPORT.DOCX", "Microsoft Word File"},
        {"Report.Docx", "DOCX File"},           {"index.html", "Web file"},
        {"page.XHTML", "Web file"},             {"photo.JPEG", "Image File"},
        {"script.ws", "Scripting File"},        {"README", "File"},
        {"archive.tar.gz", "Winzip File"},      {"notes.Txt", "TXT File"},
        {"data.xyz", "XYZ File"},               {"card.vcf", "vCard File"},
        {"me.CONTACT", "Contact File"},         {"a.Doc", "DOC File"},
    };
    for (const auto& [name, description] : cases)
        EXPECT_EQ(describeFileType(extensionOf(name)), description) << name;
    EXPECT_EQ(describeFileType("  .pdf "), "PDF file");
    EXPECT_EQ(describeFileType("   "), "File");
}
