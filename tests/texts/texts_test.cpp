// The shared texts: stage and status lines, the saving windows' texts, the carving texts and
// the item list's columns made from typed rows.
#include <gtest/gtest.h>

#include "texts/list_columns.h"
#include "texts/messages.h"
#include "texts/search_texts.h"
#include "texts/work_texts.h"

namespace kfr::texts {
namespace {

TEST(Texts, StagesAndStatusLinesAreTheSystemsOwnWords)
{
    EXPECT_EQ(stageText(WorkStage::SearchingLostDirectories), "Searching Lost Directories. Please wait...");
    EXPECT_EQ(stageText(WorkStage::StoringDirectoryInformation), "Storing Directory Information. Please wait...");
    EXPECT_EQ(stageText(WorkStage::CalculatingPartitionParams), "Calculating Partition Params: ");
    EXPECT_EQ(stageText(WorkStage::GeneralPass), "(Searching files based on:  General Signature Recovery Procedure)");
    EXPECT_EQ(stageText(WorkStage::ThoroughPass), "(Searching files based on:  Thorough Signature Scanning Algorithm)");
    EXPECT_EQ(statusText(StatusLine::SectorsScannedOfTotal, 204799), "sectors scanned of total 204799");
    EXPECT_EQ(closingText(),
              "The results of Primary Scanning are saved in folder: Kestravon FAT Recovery >> Signature Search >> "
              "General, in selected location by user and (if selected) Thorough Scanning results are saved in folder: "
              "Kestravon FAT Recovery >> Signature Search >> Omitted, in the same path.");
    EXPECT_STREQ(searchCheckMessage(carving::SearchCheck::NothingTicked),
                 "Please select at least one Extension type to continue recovery process?");
    EXPECT_STREQ(destinationMessage(exporting::DestinationVerdict::NotUsable), kInvalidDestinationText);
    EXPECT_STREQ(destinationMessage(exporting::DestinationVerdict::OnSourceVolume), kSameDriveText);
}

TEST(Texts, ProgressWindowTexts)
{
    EXPECT_EQ(byteCountText(0, 0), "0 / 0 Bytes");
    EXPECT_EQ(byteCountText(5000, 4096), "4096 / 4096 Bytes");  // never more done than the total
    EXPECT_EQ(selectedSummaryText(12, 3), "( Total selected recovered data to be saved : 12 Files, 3 Folders )");
    EXPECT_EQ(savedSummaryText(1, 0), "( recovered saved data : 1 Files, 0 Folders )");
    const std::string shortPath = "/media/usb/Recovered/Documents/notes.txt";
    EXPECT_EQ(wrappedPathText(shortPath), shortPath);
    const std::string longPath = "/media/usb/Recovered/Documents/Work/Reports/2023/Quarterly Summary Q3.txt";
    EXPECT_EQ(wrappedPathText(longPath),
              " /media /usb /Recovered /Documents /Work /Reports /2023 /Quarterly Summary Q3.txt");
}

TEST(Texts, ListColumnsComeFromTypedRows)
{
    using recovery::ItemRow;
    using recovery::RowKind;
    using recovery::RowTime;
    ItemRow file;
    file.kind = RowKind::FatFile;
    file.name = "README.TXT";
    file.shortName = "README.TXT";
    file.size = 1234;
    file.fatDate = static_cast<std::uint16_t>(((2023 - 1980) << 9) | (6 << 5) | 1);
    file.fatTime = static_cast<std::uint16_t>((8 << 11) | (15 << 5) | 15);
    file.firstCluster = 7;

    ItemRow orphan;
    orphan.kind = RowKind::Folder;
    orphan.name = "Lumo_Miscellaneous";
    orphan.timeKind = RowTime::Today;
    orphan.firstCluster = 268435455;
    orphan.folderItem = 3;

    ItemRow ntfs;
    ntfs.kind = RowKind::NtfsFile;
    ntfs.name = "photo.jpg";
    ntfs.size = 1;
    ntfs.timeKind = RowTime::NtfsStamp;
    ntfs.recordSector = 4242;
    ntfs.parent = 5;

    struct Case {
        const char* name;
        ItemRow row;
        std::array<std::string, 9> columns;
    };
    const Case cases[] = {
        {"FAT file", file, {"README.TXT", "Text file", "1234", "01-JUN-2023", "08:15:30", "7", "", "", "README.TXT"}},
        {"orphan folder", orphan, {"Lumo_Miscellaneous", "FOLDER", "0", "09-DEC-2026", "00:00:00", "268435455", "0", "3", ""}},
        {"NTFS file", ntfs, {"photo.jpg", "Image File", "1", "01-JAN-1601", "00:00:00", "4242", "5", "0", ""}},
    };
    for (const auto& c : cases) EXPECT_EQ(listColumns(c.row, "09-DEC-2026"), c.columns) << c.name;
    EXPECT_EQ(countsText(6, 12), "6 Folders, 12 Files");
}

TEST(Texts, CurrentFolderText)
{
    recovery::ResultTree t;
    const recovery::ItemId root = t.add(recovery::kNoItem, "Root", 0);
    const recovery::ItemId docs = t.add(root, "Documents");
    const recovery::ItemId photos = t.add(docs, "Photos");
    const recovery::ItemId slashed = t.add(root, "C:\\");
    const recovery::ItemId inner = t.add(slashed, "Inner");
    EXPECT_EQ(folderPathText(t, root), "Root");
    EXPECT_EQ(folderPathText(t, docs), "Documents");
    EXPECT_EQ(folderPathText(t, photos), "Documents \\Photos");
    EXPECT_EQ(folderPathText(t, inner), "C:\\Inner");
}

}  // namespace
}  // namespace kfr::texts

TEST(Texts, PartitionSearchMessages)
{
    struct Case {
        std::uint64_t found;
        const char* kind;
        std::uint32_t disk;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {2, "Disk", 1, "", "Found 2 more partitions in selected Disk ( Disk - 1 )"},
        {1, "Drive", 0, "E:", "Found 1 more partitions in selected Drive ( Drive - E: )"},
        {0, "Disk", 3, "", "No more partitions found in selected Disk ( Disk - 3 )"},
        {0, "Drive", 0, "E:", "No more partitions found in selected Drive ( Drive - E: )"},
    };
    for (const auto& c : cases) EXPECT_EQ(kfr::texts::formatSearchResult(c.found, c.kind, c.disk, c.text), c.expected);

    kfr::volumes::RecognisedPartition row;
    row.name = "Recognised1";
    row.sizeText = "2048 MB";
    row.fileSystem = "NTFS";
    EXPECT_EQ(kfr::texts::recognisedItemText(row), "Recognised1 - 2048 MB - NTFS");
    EXPECT_EQ(kfr::texts::noStorageInDiskMessage(2),
              "No physical storage area found in Disk(Disk - 2).\n\nIf you have connected your storage using any usb hub "
              "or extension, check storage connections or connect the storage media directly to your computer.");
    EXPECT_EQ(kfr::texts::noStorageInDriveMessage("E:"),
              "No physical storage area found in Drive(Drive - E: ).\n\nIf you have connected your storage using any usb "
              "hub or extension, check storage connections or connect the storage media directly to your computer.");
}
