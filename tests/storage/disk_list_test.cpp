// Physical disk listing on a fake sysfs/udev tree: which devices are disks, their order and
// numbers, bus types, media classes, models, geometry and sizes, the disk key and the property
// lists; image files as disks; disks that cannot be read.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "storage/byte_size.h"
#include "storage/disk_list.h"
#include "storage/media_properties.h"
#include "storage/fake_system_tree.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::storage;
using kfr::test::FakeSystemTree;

TEST(ByteSize, FormsOfTheSizeText)
{
    struct Row {
        std::uint64_t bytes;
        const char* text;  // untrimmed, as formatByteSize gives it
    };
    const Row rows[] = {
        {0, "0 Byte"},
        {1023, "1023 Byte"},
        {1024, "  1.00 KB"},
        {1048575, "1024.00 KB"},  // the division only starts at 1,048,576
        {1048576, "  1.00 MB"},
        {500105216000ULL, "465.76 GB"},
        {1000202273280ULL, "931.51 GB"},
        {8000000000ULL, "  7.45 GB"},
        {1099511627776ULL, "  1.00 TB"},
        {UINT64_MAX, " 16.00 EB"},  // rounding near 2^64 must not wrap to zero
    };
    for (const auto& r : rows) {
        EXPECT_EQ(formatByteSize(r.bytes), r.text) << r.bytes;
        EXPECT_EQ(sizeText(r.bytes), trimText(r.text)) << r.bytes;
    }
    // Rounding is to nearest at every division: 1,048,576 + 511 stays 1024 KiB, + 512 rounds up.
    EXPECT_EQ(formatByteSize(1048576ULL * 1024 + 511 * 1024), "  1.00 GB");
    EXPECT_EQ(formatByteSize(1048575ULL * 1024 + 512), "  1.00 GB");
}

namespace {

// A machine with one disk of each kind the listing must tell apart, and devices that are not
// disks at all.
struct FakeMachine {
    FakeSystemTree tree;

    FakeMachine()
    {
        using Disk = FakeSystemTree::Disk;
        tree.addDisk(Disk{"sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0", 1953525168, false,
                          {{"device/vendor", "ATA"}, {"device/model", "WDC WD5000AAKS-0"}, {"device/rev", "1D05"}}});
        tree.setUdev("8:0", {"ID_ATA_SATA=1", "ID_BUS=ata", "ID_MODEL=WDC_WD5000AAKS-00A7B0",
                             "ID_MODEL_ENC=WDC\\x20WD5000AAKS-00A7B0\\x20\\x20", "ID_REVISION=01.03B01",
                             "ID_SERIAL_SHORT=WD-WCAPW1234567"});
        tree.addDisk(Disk{"sdb", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "8:16",
                          15625000, false, {{"device/vendor", "Seagate"}, {"device/model", "Expansion"}}});
        tree.addDisk(Disk{"sdc", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host7/target7:0:0/7:0:0:0", "8:32",
                          15240576, true, {}});
        tree.setUdev("8:32", {"ID_BUS=usb", "ID_VENDOR_ENC=\\x20\\x20\\x20\\x20\\x20\\x20", "ID_VENDOR=",
                              "ID_MODEL_ENC=Card\\x20Reader", "ID_REVISION=1.00"});
        tree.addDisk(Disk{"sdd", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/host8/target8:0:0/8:0:0:0", "8:48", 0,
                          true, {{"device/model", "Empty Slot"}}});
        tree.addDisk(Disk{"sdaa", "pci0000:00/0000:00:10.0/host2/target2:0:1/2:0:1:0", "65:160", 4194304, false,
                          {{"device/vendor", "HP"}, {"device/model", "LOGICAL VOLUME"}, {"device/rev", "7.22"}}});
        tree.addDisk(Disk{"nvme0n1", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "259:0", 1953525168, false,
                          {{"device/model", "Samsung SSD 970 EVO Plus 1TB"}, {"device/firmware_rev", "2B2QEXM7"},
                           {"device/serial", "S4EWNX0N123456"}, {"queue/logical_block_size", "4096"}}});
        tree.addDisk(Disk{"mmcblk0", "platform/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa", "179:0", 62521344, false,
                          {{"device/type", "SD"}, {"device/name", "SC32G"}, {"device/serial", "0x1b2c3d4e"}}});
        tree.addDisk(Disk{"vda", "pci0000:00/0000:00:02.0/virtio1", "254:0", 536870912, false,
                          {{"device/vendor", "0x1af4"}, {"serial", "overlayblk"}}});
        tree.addDisk(Disk{"loop0", "virtual", "7:0", 204800, false, {{"loop/backing_file", "/images/disk one.img"}}});
        tree.addDisk(Disk{"loop10", "virtual", "7:10", 204800, false, {{"loop/backing_file", "/images/ten.img"}}});
        tree.addDisk(Disk{"loop2", "virtual", "7:2", 204800, false, {{"loop/backing_file", "/images/two.img"}}});
        // Not disks.
        tree.addDisk(Disk{"loop1", "virtual", "7:1", 0, false, {}});
        tree.addDisk(Disk{"loop3", "virtual", "7:3", 204800, false, {{"loop/backing_file", ""}}});
        tree.addDisk(Disk{"ram0", "virtual", "1:0", 8192, false, {}});
        tree.addDisk(Disk{"zram0", "virtual", "252:0", 8388608, false, {}});
        tree.addDisk(Disk{"dm-0", "virtual", "253:0", 4194304, false, {{"slaves/.keep", ""}}});
        tree.addDisk(Disk{"md0", "virtual", "9:0", 4194304, false, {}});
        tree.addDisk(Disk{"sr0", "pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "11:0", 1400000, true,
                          {{"device/type", "5"}}});
        tree.addDisk(Disk{"fd0", "platform/floppy.0", "2:0", 2880, true, {}});
        tree.addDisk(Disk{"nvme0c0n1", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "259:9", 1953525168,
                          false, {{"hidden", "1"}}});
        for (const char* node : {"sda", "sdb", "sdc", "sdaa", "nvme0n1", "mmcblk0", "loop0", "loop10", "loop2"})
            tree.addNode(node);
        // vda has no node here: it cannot be opened, and is listed all the same.
    }

    DiskListing list() const
    {
        DiskListContext ctx;
        ctx.roots = tree.roots();
        ctx.hostName = "testhost";
        ctx.modeName = kDeepSearchName;
        return listPhysicalDisks(ctx);
    }
};

const PhysicalDisk* diskNamed(const DiskListing& listing, const std::string& name)
{
    for (const auto& d : listing.disks)
        if (d.sysfsName == name) return &d;
    return nullptr;
}

}  // namespace

TEST(DiskList, OnlyDisksAreListedInAStableOrder)
{
    FakeMachine machine;
    const DiskListing listing = machine.list();
    std::vector<std::string> names;
    for (const auto& d : listing.disks) names.push_back(d.sysfsName);
    // Real disks in natural order (sdaa after sdc), then the attached images, loop2 before loop10.
    const std::vector<std::string> expected = {"mmcblk0", "nvme0n1", "sda", "sdb", "sdc", "sdaa",
                                               "vda", "loop0", "loop2", "loop10"};
    EXPECT_EQ(names, expected);
    ASSERT_EQ(listing.diskKeys.size(), listing.disks.size());
    for (std::size_t i = 0; i < listing.disks.size(); ++i) {
        EXPECT_EQ(listing.disks[i].number, i);
        EXPECT_EQ(listing.disks[i].record.text(DiskField::kNumber), std::to_string(i));
        EXPECT_EQ(listing.diskKeys[i], listing.disks[i].key);
    }
    // The order does not depend on the order the tree hands out its entries: list again.
    std::vector<std::string> again;
    for (const auto& d : machine.list().disks) again.push_back(d.sysfsName);
    EXPECT_EQ(again, expected);
}

TEST(DiskList, BusTypesMediaClassesAndModels)
{
    struct Row {
        const char* name;
        const char* bus;
        const char* mediaClass;
        const char* model;
        const char* vendorField;  // empty once merged into the model
        const char* revision;
        const char* serial;
    };
    const Row rows[] = {
        {"sda", "SATA", "Fixed hard disk media", "WDC WD5000AAKS-00A7B0 SATA Device", "", "01.03B01", "WD-WCAPW1234567"},
        {"sdb", "USB", "External hard disk media", "Seagate Expansion USB Device", "", "", ""},
        // A vendor of blanks is not put in front of the model.
        {"sdc", "USB", "Removable Media", "Card Reader USB Device", "", "1.00", ""},
        {"sdaa", "SCSI", "Fixed hard disk media", "HP LOGICAL VOLUME SCSI Device", "", "7.22", ""},
        {"nvme0n1", "SCSI", "Fixed hard disk media", "Samsung SSD 970 EVO Plus 1TB SCSI Device", "", "2B2QEXM7",
         "S4EWNX0N123456"},
        {"mmcblk0", "Reserved", "Fixed hard disk media", "SC32G Reserved Device", "", "", "0x1b2c3d4e"},
        // Nothing names the virtio disk: its model stays empty (a PCI vendor number is no name).
        {"vda", "UNKNOWN", "Fixed hard disk media", "", "", "", "overlayblk"},
        {"loop0", "UNKNOWN", "Fixed hard disk media", "disk one.img UNKNOWN Device", "", "", ""},
    };
    FakeMachine machine;
    const DiskListing listing = machine.list();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const PhysicalDisk* d = diskNamed(listing, r.name);
        ASSERT_NE(d, nullptr);
        const auto& rec = d->record;
        EXPECT_EQ(rec.text(DiskField::kBusType), r.bus);
        EXPECT_EQ(rec.text(DiskField::kMediaClass), r.mediaClass);
        EXPECT_EQ(rec.text(DiskField::kMediaTypeRow), r.mediaClass);
        EXPECT_EQ(rec.text(DiskField::kModel), r.model);
        EXPECT_EQ(rec.text(DiskField::kModelRow), r.model);
        EXPECT_EQ(rec.text(DiskField::kVendor), r.vendorField);
        EXPECT_EQ(rec.text(DiskField::kRevision), r.revision);
        EXPECT_EQ(rec.text(DiskField::kSerial), r.serial);
        EXPECT_EQ(rec.text(DiskField::kModeName), "Deep Search");
        EXPECT_EQ(rec.text(DiskField::kSystemName), "testhost");
        EXPECT_EQ(rec.text(DiskField::kDevicePath), machine.tree.path("dev/") + r.name);
        EXPECT_EQ(rec.text(DiskField::kName), "Disk" + std::to_string(d->number));
    }
    EXPECT_EQ(diskNamed(listing, "loop0")->backingFile, "/images/disk one.img");
}

TEST(DiskList, GeometrySizeAndRecordForms)
{
    FakeMachine machine;
    const DiskListing listing = machine.list();

    // 1,000,204,886,016 bytes: whole cylinders of 255 x 63 sectors in the geometry fields, but the
    // size and the sectors are the device's own, last partial cylinder included.
    const PhysicalDisk* sda = diskNamed(listing, "sda");
    ASSERT_NE(sda, nullptr);
    const auto& r = sda->record;
    EXPECT_EQ(sda->number, 2u);
    EXPECT_EQ(r.text(DiskField::kItemText), "Fixed hard disk media (Disk2 - 931.51 GB)");
    EXPECT_EQ(r.text(DiskField::kSizeAndClass), "931.51 GB - Fixed hard disk media");
    EXPECT_EQ(r.text(DiskField::kSizeText), "931.51 GB");
    EXPECT_EQ(r.text(DiskField::kCylinders), "121601");
    EXPECT_EQ(r.text(DiskField::kHeads), "255");
    EXPECT_EQ(r.text(DiskField::kSectorsPerTrack), "63");
    EXPECT_EQ(r.text(DiskField::kBytesPerSector), "512");
    EXPECT_EQ(r.text(DiskField::kTotalSectors), "1953525168");
    EXPECT_EQ(sda->totalSectors, 1953525168u);
    EXPECT_EQ(r.sizeMiB, 1000204886016ULL >> 20);
    EXPECT_FALSE(sda->geometry.fromKernel);  // a plain file answers no HDIO_GETGEO
    EXPECT_EQ(sda->key, "WDC WD5000AAKS-00A7B0 SATA Device||931.51 GB||1953525168||2");
    EXPECT_EQ(diskKey(r), sda->key);
    EXPECT_FALSE(sda->accessProblem);

    // A 4096-byte-sector disk: cylinders count 4096-byte sectors, total sectors are 512-byte ones.
    const PhysicalDisk* nvme = diskNamed(listing, "nvme0n1");
    ASSERT_NE(nvme, nullptr);
    EXPECT_EQ(nvme->record.text(DiskField::kBytesPerSector), "4096");
    EXPECT_EQ(nvme->record.text(DiskField::kCylinders), "15200");
    EXPECT_EQ(nvme->record.text(DiskField::kTotalSectors), "1953525168");

    // A disk fills no drive fields: texts 3 to 10 stay empty and the number fields stay 0.
    for (std::size_t f = 0; f < MediaRecord::kFieldCount; ++f) {
        if (MediaRecord::isNumberField(f)) {
            EXPECT_EQ(r.number(f), 0u) << f;
        } else if (f >= 3 && f <= 10) {
            EXPECT_EQ(r.text(f), "") << f;
        }
    }
}

TEST(DiskList, DiskThatCannotBeOpenedIsStillListed)
{
    FakeMachine machine;
    const DiskListing listing = machine.list();
    const PhysicalDisk* vda = diskNamed(listing, "vda");
    ASSERT_NE(vda, nullptr);
    ASSERT_TRUE(vda->accessProblem.has_value());
    EXPECT_EQ(vda->accessProblem->kind, ErrorKind::OpenFailed);
    EXPECT_EQ(vda->record.text(DiskField::kSizeText), "256.00 GB");
}

namespace {

// Runs check as the unprivileged user "nobody" in a child process (root reads everything, so
// a permission error can only be seen without it). Returns the child's exit status.
int runUnprivileged(const std::function<bool()>& check)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

}  // namespace

TEST(DiskList, UnreadableDiskSaysHowToGetReadPermission)
{
    FakeMachine machine;
    ::chmod(machine.tree.path("dev/sdb").c_str(), 0600);
    if (::getuid() != 0) ::chmod(machine.tree.path("dev/sdb").c_str(), 0);
    const int status = runUnprivileged([&] {
        const DiskListing listing = machine.list();
        const PhysicalDisk* sdb = diskNamed(listing, "sdb");
        return sdb && sdb->accessProblem && sdb->accessProblem->kind == ErrorKind::PermissionDenied &&
               sdb->accessProblem->detail.find("\"disk\" group") != std::string::npos &&
               sdb->accessProblem->detail.find("root") != std::string::npos &&
               sdb->record.text(DiskField::kItemText) == "External hard disk media (Disk3 - 7.45 GB)";
    });
    if (status == 3) GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(status, 0);
}

TEST(DiskList, ImageFilesAreDisksAfterTheRealOnes)
{
    FakeMachine machine;
    test::TempDir dir;
    const std::string big = dir.file("big.img");
    const std::string tiny = dir.file("tiny.img");
    ASSERT_EQ(::truncate(big.c_str(), 0), -1);  // not there yet
    FakeSystemTree::writeFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 100 * 1024 * 1024), 0);
    FakeSystemTree::writeFile(tiny, "");
    ASSERT_EQ(::truncate(tiny.c_str(), 1024 * 1024), 0);

    DiskListContext ctx;
    ctx.roots = machine.tree.roots();
    ctx.hostName = "testhost";
    ctx.imagePaths = {big, dir.file("missing.img"), tiny};
    const DiskListing listing = listPhysicalDisks(ctx);

    ASSERT_EQ(listing.disks.size(), 12u);
    const PhysicalDisk& first = listing.disks[10];
    EXPECT_TRUE(first.isImage);
    EXPECT_EQ(first.number, 10u);
    EXPECT_EQ(first.devicePath, big);
    EXPECT_EQ(first.record.text(DiskField::kItemText), "Fixed hard disk media (Disk10 - 100.00 MB)");
    EXPECT_EQ(first.record.text(DiskField::kModel), "big.img UNKNOWN Device");
    EXPECT_EQ(first.totalSectors, 100u * 2048u);
    EXPECT_EQ(first.deviceBytes, 100u * 1024 * 1024);

    // Smaller than one 255 x 63 cylinder: one cylinder of 63-sector tracks instead of nothing.
    const PhysicalDisk& small = listing.disks[11];
    EXPECT_EQ(small.geometry.cylinders, 1u);
    EXPECT_EQ(small.geometry.tracksPerCylinder, 32u);
    EXPECT_EQ(small.totalSectors, 2048u);
    EXPECT_EQ(small.record.text(DiskField::kSizeText), "1.00 MB");

    ASSERT_EQ(listing.problems.size(), 1u);
    EXPECT_EQ(listing.problems[0].path, dir.file("missing.img"));
    EXPECT_EQ(listing.problems[0].kind, ErrorKind::OpenFailed);
}

TEST(DiskList, DiskNumberFromItemText)
{
    struct Row {
        const char* text;
        std::optional<std::uint32_t> number;
    };
    const Row rows[] = {
        {"Fixed hard disk media (Disk0 - 465.76 GB)", 0u},
        {"Removable Media (Disk2 - 7.45 GB)", 2u},
        {" (Disk12 - 1.00 MB)", 12u},  // an empty media class
        {"External hard disk media (Disk3 - 931.51 GB) (Disk9 - 1 MB)", 3u},
        {"Partition - 1 ( FAT32 )", std::nullopt},
        {"no disk here", std::nullopt},
        {"(Disk", std::nullopt},
    };
    for (const auto& r : rows) EXPECT_EQ(diskNumberFromItemText(r.text), r.number) << r.text;

    FakeMachine machine;
    for (const auto& d : machine.list().disks)
        EXPECT_EQ(diskNumberFromItemText(d.record.text(DiskField::kItemText)), d.number);
}

TEST(DiskList, PropertyListsOfDiskAndPartition)
{
    FakeMachine machine;
    const DiskListing listing = machine.list();
    const PhysicalDisk* sda = diskNamed(listing, "sda");
    ASSERT_NE(sda, nullptr);
    const DiskProperties props = showDiskProperties(*sda);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"1. Model :", "WDC WD5000AAKS-00A7B0 SATA Device"},
        {"2. MediaType :", "Fixed hard disk media"},
        {"3. Interface Type :", "SATA"},
        {"4. Capacity(size) :", "931.51 GB"},
        {"5. Cylinders :", "121601"},
        {"6. Heads :", "255"},
        {"7. Sectors :", "1953525168"},
        {"8. Bytes per Sector :", "512"},
        {"9. Sector per Track :", "63"},
        {"10. Firmware Revision ID :", "01.03B01"},
        {"11. Serial Number :", "WD-WCAPW1234567"},
        {"12. System Name :", "testhost"},
        {"13. Physical Device ID :", machine.tree.path("dev/sda")},
    };
    ASSERT_EQ(props.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(props.rows[i].name, expected[i].first);
        EXPECT_EQ(props.rows[i].value, expected[i].second);
    }
    EXPECT_EQ(props.selection.diskKey, sda->key);
    EXPECT_EQ(props.selection.totalSectors, 1953525168u);
    EXPECT_EQ(props.selection.cylinders, "121601");
    EXPECT_EQ(props.selection.sizeMiB, sda->record.sizeMiB);

    const PartitionProperties part = showPartitionProperties(2, 0, "FAT32", kBasicSearchName, 2048, 75776, 192780);
    const std::vector<std::pair<std::string, std::string>> partRows = {
        {"1. Disk Number : ", "2"},          {"2. Partition Number : ", "1"}, {"3. Partition Type : ", "FAT32"},
        {"4. Search Mode : ", "Basic Search"}, {"5. Start Sector : ", "2048"},  {"6. End Sector : ", "75776"},
        {"7. Size : ", "36.00 MB"},
    };
    ASSERT_EQ(part.rows.size(), partRows.size());
    for (std::size_t i = 0; i < partRows.size(); ++i) {
        EXPECT_EQ(part.rows[i].name, partRows[i].first);
        EXPECT_EQ(part.rows[i].value, partRows[i].second);
    }
    EXPECT_EQ(part.diskTotalSectors, 192780u);
    // A damaged entry whose end lies before its start shows no size, not a wrapped one.
    EXPECT_EQ(showPartitionProperties(0, 0, "FAT16", kBasicSearchName, 100, 50, 1000).rows[6].value, "0 Byte");
}

TEST(DiskList, DisksCommandListsAnImageWithItsPartitions)
{
    test::TempDir emptyRoot;
    const std::string image = test::fixturePath("disk_mbr.img");
    const std::string before = test::fileDigest(image);
    const std::string command = std::string(KFR_CLI_PATH) + " --json --debug disks --sysfs-root '" + emptyRoot.path() +
                                "' --image '" + image + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    ASSERT_EQ(::pclose(pipe), 0);
    const auto doc = nlohmann::json::parse(out);
    ASSERT_EQ(doc["disks"].size(), 1u);
    // The desktop program's forms are kept in the debug view: the item texts, the record and the
    // "Partition - N" numbering, each listed partition with the kernel's slot number beside it.
    const auto& disk = doc["disks"][0]["debug"];
    EXPECT_EQ(disk["item_text"], "Fixed hard disk media (Disk0 - 100.00 MB)");
    EXPECT_EQ(disk["record"]["fields"].size(), 40u);
    EXPECT_EQ(disk["record"]["fields"][39], image);
    std::vector<std::pair<std::string, int>> items;
    for (const auto& p : disk["partition_items"]) items.emplace_back(p["item_text"], p["slot"]);
    const std::vector<std::pair<std::string, int>> expected = {{"Partition - 1 ( FAT32 )", 1}, {"Partition - 2 ( FAT16 )", 2},
                                                               {"Partition - 3 ( NTFS )", 3},  {"Partition - 4 ( FAT16 )", 5},
                                                               {"Partition - 5 ( NTFS )", 6}};
    EXPECT_EQ(items, expected);
    EXPECT_EQ(disk["partition_items"][4]["properties"][5]["value"], "161791");
    EXPECT_TRUE(doc["debug"]["removable_media"].empty());
    EXPECT_EQ(test::fileDigest(image), before);
}
