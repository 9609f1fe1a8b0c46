// Mounted volumes on a fake sysfs/udev/mountinfo tree whose device nodes hold real FAT16, FAT32
// and NTFS volumes cut from a fixture disk: which mounts are listed, their labels, serials and
// file systems, size texts, drive keys, item texts, the disk areas they map to, and the property
// list.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

#include "storage/drive_list.h"
#include "storage/fake_system_tree.h"
#include "storage/media_properties.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::storage;
using kfr::test::FakeSystemTree;

namespace {

// Sectors [first, end) of the fixture disk, whose partitions were made by mkfs.fat and mkntfs.
std::vector<std::uint8_t> fixtureSectors(std::uint64_t first, std::uint64_t end)
{
    std::ifstream in(test::fixturePath("disk_mbr.img"), std::ios::binary);
    std::vector<std::uint8_t> bytes((end - first) * 512);
    in.seekg(static_cast<std::streamoff>(first * 512));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

struct FakeMounts {
    FakeSystemTree tree;
    std::map<std::string, VolumeSpace> space;
    std::string ntfsSerial;

    FakeMounts()
    {
        using Disk = FakeSystemTree::Disk;
        tree.addDisk(Disk{"sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0", 204800, false,
                          {{"device/model", "Fixture Disk"}}});
        tree.addPartition("sda", "sda1", "8:1", 2048, 73728);
        tree.addPartition("sda", "sda2", "8:2", 75776, 32768);
        tree.addPartition("sda", "sda3", "8:3", 108544, 16384);
        tree.addDisk(Disk{"sdb", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0", "8:16",
                          15625000, true, {}});
        tree.addDisk(Disk{"sdc", "pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "8:32", 4194304, false, {}});
        tree.addPartition("sdc", "sdc1", "8:33", 2048, 4192256);
        tree.addDisk(Disk{"dm-0", "virtual", "253:0", 32768, false, {{"slaves/sda2", ""}}});
        tree.addDisk(Disk{"md0", "virtual", "9:0", 409600, false, {}});
        tree.addDisk(Disk{"sr0", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "11:0", 1400000, true,
                          {{"device/type", "5"}}});
        tree.addDisk(Disk{"fd0", "platform/floppy.0", "2:0", 2880, true, {}});
        tree.addDisk(Disk{"loop0", "virtual", "7:0", 1400000, false, {{"loop/backing_file", "/images/dvd.iso"}}});

        for (const char* node : {"sda", "sdc", "sdc1", "dm-0", "md0", "sr0", "fd0", "loop0"}) tree.addNode(node);
        tree.addNode("sda1", fixtureSectors(2048, 75776));     // FAT32 "KFR FAT32", volume ID 0012ABCD
        tree.addNode("sda3", fixtureSectors(108544, 124928));  // NTFS "KFR NTFS"
        tree.addNode("sdb", fixtureSectors(75776, 108544));    // FAT16 without a label, on the whole disk
        const auto boot = fixtureSectors(108544, 108545);
        char text[16];
        std::snprintf(text, sizeof text, "%X",
                      boot[0x48] | (boot[0x49] << 8) | (boot[0x4A] << 16) | (static_cast<unsigned>(boot[0x4B]) << 24));
        ntfsSerial = text;
        // Nodes that hold no volume; udev still knows what is on them.
        tree.setUdev("253:0", {"ID_FS_TYPE=xfs", "ID_FS_LABEL_ENC=data\\x20vol", "ID_FS_LABEL=data_vol",
                               "ID_FS_UUID=0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0"});
        tree.setUdev("8:33", {"ID_FS_TYPE=btrfs", "ID_FS_UUID=7d9e1b2c-aaaa-bbbb-cccc-0123456789ab"});

        tree.setMountInfo({
            "0:21 / /proc rw - proc proc rw",
            "0:22 / /sys rw - sysfs sysfs rw",
            "8:1 / / rw,relatime - vfat /dev/sda1 rw",
            "0:24 / /dev/shm rw - tmpfs tmpfs rw",
            "8:16 / /media/my\\040card rw shared:5 - vfat /dev/sdb rw",
            "8:3 / /mnt/win rw - fuseblk /dev/sda3 rw",
            "11:0 / /mnt/dvd ro - udf /dev/sr0 ro",
            "7:0 / /mnt/iso ro - iso9660 /dev/loop0 ro",
            "2:0 / /mnt/floppy rw - vfat /dev/fd0 rw",
            "253:0 / /srv rw - xfs /dev/mapper/vg-data rw",
            "8:16 /photos /mnt/bind rw - vfat /dev/sdb rw",
            "9:0 / /mnt/raid rw - ext4 /dev/md0 rw",
            "0:45 / /mnt/pool rw - btrfs /dev/sdc1 rw,subvol=/",
        });
        space["/"] = {500105216000ULL, 0};
        space["/media/my card"] = {8000000000ULL, 1000000000ULL};
        // /mnt/win: the size query fails.
        space["/srv"] = {1024ULL * 1024 * 1024, 512ULL * 1024 * 1024};
        space["/mnt/raid"] = {200ULL * 1024 * 1024, 0};
        space["/mnt/pool"] = {2ULL * 1024 * 1024 * 1024, 1024};
    }

    DiskListing disks() const
    {
        DiskListContext ctx;
        ctx.roots = tree.roots();
        ctx.hostName = "testhost";
        return listPhysicalDisks(ctx);
    }

    DriveListing drives(const std::string& mode = kBasicSearchName) const
    {
        DriveListContext ctx;
        ctx.roots = tree.roots();
        ctx.modeName = mode;
        const auto table = space;
        ctx.spaceQuery = [table](const std::string& mountPoint) -> std::optional<VolumeSpace> {
            const auto it = table.find(mountPoint);
            if (it == table.end()) return std::nullopt;
            return it->second;
        };
        return listLogicalDrives(ctx, disks().disks);
    }
};

// The tree holds some 60 MB of volume images; it is built once for all tests of the suite.
class DriveList : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_fake = std::make_unique<FakeMounts>(); }
    static void TearDownTestSuite() { s_fake.reset(); }
    static std::unique_ptr<FakeMounts> s_fake;
};
std::unique_ptr<FakeMounts> DriveList::s_fake;

}  // namespace

TEST_F(DriveList, MountedBlockDevicesWithLabelsSerialsAndSizes)
{
    const FakeMounts& fake = *s_fake;
    const DriveListing listing = fake.drives();
    const std::string dev = fake.tree.path("dev/");
    struct Row {
        std::string mountPoint, volumePath, itemText, fileSystem, label, serial, sizeText, freeText, totalSectors;
    };
    const std::vector<Row> rows = {
        {"/", dev + "sda1", "/ (465.76 GB - KFR FAT32 - FAT32)", "FAT32", "KFR FAT32", "12ABCD", "465.76 GB", "",
         "976768000"},
        // No label: the two separators stand next to each other.
        {"/media/my card", dev + "sdb", "/media/my card (7.45 GB -  - FAT16)", "FAT16", "", "5EED0016", "7.45 GB",
         "953.67 MB", "15625000"},
        {"/mnt/win", dev + "sda3", "/mnt/win (Unknown Size  - KFR NTFS - NTFS)", "NTFS", "KFR NTFS", fake.ntfsSerial,
         "Unknown Size ", "Unknown Size ", "0"},
        // blkid cannot read these nodes; udev's record names the file system and label.
        {"/srv", dev + "dm-0", "/srv (1.00 GB - data vol - xfs)", "xfs", "data vol", "", "1.00 GB", "512.00 MB",
         "2097152"},
        {"/mnt/raid", dev + "md0", "/mnt/raid (200.00 MB -  - ext4)", "ext4", "", "", "200.00 MB", "", "409600"},
        {"/mnt/pool", dev + "sdc1", "/mnt/pool (2.00 GB -  - btrfs)", "btrfs", "", "", "2.00 GB", "1.00 KB",
         "4194304"},
    };
    ASSERT_EQ(listing.drives.size(), rows.size());
    ASSERT_EQ(listing.driveKeys.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const LogicalDrive& d = listing.drives[i];
        SCOPED_TRACE(r.mountPoint);
        EXPECT_EQ(d.mountPoint, r.mountPoint);
        EXPECT_EQ(d.volumePath, r.volumePath);
        const auto& rec = d.record;
        EXPECT_EQ(rec.text(DriveField::kItemText), r.itemText);
        EXPECT_EQ(rec.text(DriveField::kBranch), "Logical Drives");
        EXPECT_EQ(rec.text(DriveField::kModeName), "Basic Search");
        EXPECT_EQ(rec.text(DriveField::kFirstSector), "0");
        EXPECT_EQ(rec.text(DriveField::kTotalSectors), r.totalSectors);
        EXPECT_EQ(rec.text(DriveField::kFileSystem), r.fileSystem);
        EXPECT_EQ(rec.text(DriveField::kDesignator), r.mountPoint);
        EXPECT_EQ(rec.text(DriveField::kLabel), r.label);
        EXPECT_EQ(rec.text(DriveField::kSizeText), r.sizeText);
        EXPECT_EQ(rec.text(DriveField::kFreeText), r.freeText);
        EXPECT_EQ(rec.text(DriveField::kSerial), r.serial);
        EXPECT_EQ(rec.text(DriveField::kVolumePath), r.volumePath);
        EXPECT_EQ(d.key, r.volumePath + "|" + r.totalSectors);
        EXPECT_EQ(listing.driveKeys[i], d.key);
        EXPECT_EQ(driveKey(rec), d.key);
    }
    // Total bytes as two 32-bit halves.
    const auto& root = listing.drives[0].record;
    EXPECT_EQ(root.number64(DriveField::kTotalBytes), 500105216000ULL);
    EXPECT_EQ(root.number(DriveField::kTotalBytes + 1), 116u);
}

TEST_F(DriveList, VolumesMapToTheirDiskOrToNothing)
{
    const FakeMounts& fake = *s_fake;
    const DriveListing listing = fake.drives();
    struct Row {
        const char* mountPoint;
        bool mapped;
        std::uint32_t disk;
        std::uint64_t first, end;
    };
    const Row rows[] = {
        {"/", true, 0, 2048, 75776},
        {"/media/my card", true, 1, 0, 15625000},  // a volume on the whole disk
        {"/mnt/win", true, 0, 108544, 124928},
        // Device-mapper and md volumes stand on several devices: disk 0, sectors 0 to 0.
        {"/srv", false, 0, 0, 0},
        {"/mnt/raid", false, 0, 0, 0},
        {"/mnt/pool", true, 2, 2048, 4194304},
    };
    ASSERT_EQ(listing.drives.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const LogicalDrive& d = listing.drives[i];
        SCOPED_TRACE(r.mountPoint);
        EXPECT_EQ(d.extent.mapped, r.mapped);
        EXPECT_EQ(d.record.number(DriveField::kDiskNumber), r.disk);
        EXPECT_EQ(d.record.number64(DriveField::kDiskFirstSector), r.first);
        EXPECT_EQ(d.record.number64(DriveField::kDiskEndSector), r.end);
    }
    // A partition of a disk that is not in the listing maps to nothing either.
    EXPECT_FALSE(mapVolumeToDisk(fake.tree.roots(), "sda1", {}).mapped);
}

TEST_F(DriveList, FloppyDrives)
{
    const FakeMounts& fake = *s_fake;
    EXPECT_TRUE(isFloppyDrive(fake.tree.roots(), "/mnt/floppy"));
    EXPECT_FALSE(isFloppyDrive(fake.tree.roots(), "/media/my card"));
    EXPECT_FALSE(isFloppyDrive(fake.tree.roots(), "/not/mounted"));
}

TEST_F(DriveList, PropertyListFollowsTheScreen)
{
    const FakeMounts& fake = *s_fake;
    const auto basic = fake.drives(kBasicSearchName);
    const auto& root = basic.drives.at(0).record;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"1. Start Sector :", "0"},          {"2. End Sector : ", "976768000"}, {"3. Partition Type : ", "FAT32"},
        {"4. Volume : ", "/"},               {"5. Label : ", "KFR FAT32"},      {"6. Size : ", "465.76 GB"},
        {"7. Free Space : ", ""},            {"8. Search Mode : ", "Basic Search"},
        {"9. Serial Number : ", "12ABCD"},
    };
    const auto rows = showDriveProperties(root, false);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rows[i].name, expected[i].first);
        EXPECT_EQ(rows[i].value, expected[i].second);
    }
    // Basic and Deep screens holding results show nothing; Signature Search always shows.
    EXPECT_TRUE(showDriveProperties(root, true).empty());
    EXPECT_TRUE(showDriveProperties(fake.drives(kDeepSearchName).drives.at(0).record, true).empty());
    EXPECT_EQ(showDriveProperties(fake.drives(kSignatureSearchName).drives.at(0).record, true).size(), 9u);
}

TEST_F(DriveList, MissingMountTableListsNothing)
{
    const FakeMounts& fake = *s_fake;
    DriveListContext ctx;
    ctx.roots = fake.tree.roots();
    ctx.roots.mountInfo = fake.tree.path("no-such-file");
    EXPECT_TRUE(listLogicalDrives(ctx, {}).drives.empty());
}
