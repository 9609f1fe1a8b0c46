// NTFS listings on images made by mkntfs and ntfs-3g: files and folders whose parent record is
// gone, reused or lost its magic land in "Lumo_Miscellaneous" (which Root lists as the tree
// shows it); system files and named streams are listed and marked.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "export/export_test_util.h"
#include "recovery/folder_listing.h"
#include "recovery/mft_reader.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::recovery;

namespace {

const ItemRow* rowNamed(const FolderListing& listing, const std::string& name)
{
    const auto it = std::find_if(listing.rows.begin(), listing.rows.end(),
                                 [&](const ItemRow& r) { return r.name == name; });
    return it == listing.rows.end() ? nullptr : &*it;
}

}  // namespace

TEST(NtfsListing, FilesAndFoldersWhoseParentIsLostGoToTheOrphanFolder)
{
    const std::string image = test::fixturePath("ntfs_lost_parent.img");
    const std::string before = test::fileDigest(image);
    auto s = test::scanImage("ntfs_lost_parent.img", "NTFS");
    const auto& r = s->result.folders;

    struct Case {
        const char* folder;  // "" for Root
        const char* name;
        bool folderRow;
        bool deleted;
    };
    // The parent of report.txt and photo.jpg (64) is now a file; that of letter.txt and Sub (65) a
    // new folder; that of alpha.txt and Beta Document.txt (66) lost its magic. Sub (deleted,
    // intact) keeps deep.txt; Deleted Intact (freed once, not reused) keeps its files.
    const Case cases[] = {
        {"", "Lumo_Miscellaneous", true, false},
        {"Lumo_Miscellaneous", "report.txt", false, true},
        {"Lumo_Miscellaneous", "photo.jpg", false, true},
        {"Lumo_Miscellaneous", "letter.txt", false, true},
        {"Lumo_Miscellaneous", "Sub", true, true},
        {"Lumo_Miscellaneous", "alpha.txt", false, false},
        {"Lumo_Miscellaneous", "Beta Document.txt", false, false},
        {"Lumo_Miscellaneous/Sub", "deep.txt", false, true},
        {"Deleted Intact", "gamma.txt", false, true},
        {"Deleted Intact", "delta.jpg", false, true},
        {"Kept", "kept.txt", false, false},
        {"", "Newcomer.txt", false, false},
        {"", "top.txt", false, false},
    };
    std::map<std::string, FolderListing> listings;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + "/" + c.name);
        if (!listings.count(c.folder)) {
            const ItemId item = test::itemAt(r, c.folder);
            ASSERT_NE(item, kNoItem);
            listings[c.folder] = test::listFolder(*s, item);
        }
        const ItemRow* row = rowNamed(listings[c.folder], c.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->kind == RowKind::Folder, c.folderRow);
        EXPECT_EQ(row->deleted, c.deleted);
    }
    // The reused records' new owners hold nothing of the old ones.
    EXPECT_TRUE(test::listFolder(*s, test::itemAt(r, "Newcomer Folder")).rows.empty());
    EXPECT_EQ(listings[""].folders, 5u);  // Lumo_Miscellaneous, $Extend, Newcomer Folder, Deleted Intact, Kept
    EXPECT_EQ(test::fileDigest(image), before);
}

TEST(NtfsListing, SystemFilesAndNamedStreamsAreListedAndMarked)
{
    auto s = test::scanImage("ntfs_compressed_sparse.img", "NTFS");
    const auto& r = s->result.folders;
    const FolderListing root = test::listFolder(*s, r.tree.firstTopLevel());
    struct Case {
        const char* name;
        bool system;
        const char* stream;
        std::uint64_t size;
    };
    const Case cases[] = {
        {"$MFT", true, "", 0},           {"$LogFile", true, "", 0},         {"$Extend", true, "", 0},
        {"file.txt", false, "", 3000},   {"file.txt:extra", false, "extra", 7000},
        {"sparse.bin", false, "", 1048576}, {"Compressed", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ItemRow* row = rowNamed(root, c.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->systemFile, c.system);
        EXPECT_EQ(row->streamName, c.stream);
        if (c.size) {
            EXPECT_EQ(row->size, c.size);
        }
    }
    // Everything inside $Extend is the volume's own too.
    const FolderListing extend = test::listFolder(*s, test::itemAt(r, "$Extend"));
    ASSERT_FALSE(extend.rows.empty());
    for (const auto& row : extend.rows) EXPECT_TRUE(row.systemFile) << row.name;
    // Compressed files say so.
    const FolderListing compressed = test::listFolder(*s, test::itemAt(r, "Compressed"));
    ASSERT_NE(rowNamed(compressed, "small.txt"), nullptr);
    EXPECT_TRUE(rowNamed(compressed, "small.txt")->compressed);
    EXPECT_FALSE(rowNamed(root, "sparse.bin")->compressed);  // sparse, with a compression unit, is not compressed
}

TEST(NtfsListing, FragmentedMftIsMappedThroughItsAttributeList)
{
    auto s = test::scanImage("ntfs_fragmented_mft.img", "NTFS");
    const MftReader reader(*s->source, s->result.params);
    // 3,681 records in 228 runs; records from 3356 on are mapped only through record 15.
    EXPECT_EQ(reader.recordCount(), 3681u);
    EXPECT_EQ(reader.runs().size(), 228u);
    MftRecordBytes record{};
    ASSERT_TRUE(reader.readRecordNumber(3680, record));
    EXPECT_EQ(reader.findName(record, 3680).value.name, "late photo.jpg");
    EXPECT_FALSE(reader.readRecordNumber(3681, record));
    // Record 16 holds the $MFT's name for record 0: an extension record is no file of its own.
    const FolderListing root = test::listFolder(*s, s->result.folders.tree.firstTopLevel());
    EXPECT_EQ(std::count_if(root.rows.begin(), root.rows.end(), [](const ItemRow& r) { return r.name == "$MFT"; }), 1);
}
