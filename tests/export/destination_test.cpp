// Destination checks: unusable folders, and folders whose file system lives on the medium being
// recovered, judged through a fake kernel device tree (sysfs) where the real one cannot show it.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "export/destination.h"
#include "export_test_util.h"

using namespace kfr;
using namespace kfr::exporting;
namespace fs = std::filesystem;

namespace {

dev_t deviceOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_dev;
}

std::string devText(dev_t d)
{
    return std::to_string(major(d)) + ":" + std::to_string(minor(d));
}

// A block-device node for dev, or "" when this user may not make one (it needs root).
std::string blockNode(const test::TempDir& dir, dev_t dev)
{
    const std::string path = dir.file("node-" + std::to_string(major(dev)) + "-" + std::to_string(minor(dev)));
    if (::mknod(path.c_str(), S_IFBLK | 0600, dev) != 0) return {};
    return path;
}

// A sysfs device directory with its "dev" file, reachable as dev/block/<major:minor>.
void fakeDevice(const std::string& sys, const std::string& dir, dev_t dev, bool partition = false)
{
    fs::create_directories(sys + "/" + dir);
    test::writeText(sys + "/" + dir + "/dev", devText(dev) + "\n");
    if (partition) test::writeText(sys + "/" + dir + "/partition", "1\n");
    fs::create_directories(sys + "/dev/block");
    fs::create_symlink("../../" + dir, sys + "/dev/block/" + devText(dev));
}

}  // namespace

TEST(Destination, FoldersThatCannotTakeFilesAreRefused)
{
    test::TempDir dir;
    test::writeText(dir.file("plain"), "x");
    const std::string image = test::fixturePath("fat16_basic.img");
    EXPECT_EQ(checkDestination(dir.file("missing"), image), DestinationVerdict::NotUsable);
    EXPECT_EQ(checkDestination(dir.file("plain"), image), DestinationVerdict::NotUsable);
    EXPECT_EQ(checkDestination("", image), DestinationVerdict::NotUsable);
    // An image file is not a volume: a folder on the same file system is fine.
    EXPECT_EQ(checkDestination(dir.path(), image), DestinationVerdict::Usable);
}

TEST(Destination, TheDeviceBeingRecoveredIsRefused)
{
    test::TempDir dir;
    const dev_t own = deviceOf(dir.path());
    const std::string node = blockNode(dir, own);
    if (node.empty()) GTEST_SKIP() << "making block-device nodes needs root";
    // The destination's own device, through the real sysfs.
    EXPECT_EQ(checkDestination(dir.path(), node), DestinationVerdict::OnSourceVolume);

    // Destination on a mapped device stacked over partition 1 of disk 250:0.
    const std::string sys = dir.file("sys");
    const dev_t disk = makedev(250, 0), part1 = makedev(250, 1), part2 = makedev(250, 2);
    fakeDevice(sys, "devices/disk", disk);
    fakeDevice(sys, "devices/disk/p1", part1, true);
    fakeDevice(sys, "devices/disk/p2", part2, true);
    fakeDevice(sys, "devices/dm", own);
    fs::create_directories(sys + "/devices/dm/slaves");
    fs::create_directory_symlink("../../disk/p1", sys + "/devices/dm/slaves/p1");

    const DeviceStack stack = deviceStack(own, sys);
    EXPECT_EQ(stack.devices, (std::vector<dev_t>{own, part1}));
    EXPECT_EQ(stack.wholeDisks, std::vector<dev_t>{disk});
    struct Case {
        const char* name;
        dev_t source;
        DestinationVerdict verdict;
    };
    for (const Case c : {Case{"the partition under the destination", part1, DestinationVerdict::OnSourceVolume},
                         Case{"the whole disk of that partition", disk, DestinationVerdict::OnSourceVolume},
                         Case{"another partition of that disk", part2, DestinationVerdict::Usable}}) {
        SCOPED_TRACE(c.name);
        const std::string source = blockNode(dir, c.source);
        ASSERT_FALSE(source.empty());
        EXPECT_EQ(checkDestination(dir.path(), source, sys), c.verdict);
    }
}

TEST(Destination, AFileSystemMountedFromTheImageIsRefused)
{
    struct Case {
        const char* name;
        bool destinationOnPartition;  // the destination's file system is on loop0p1, not loop0
        bool sourceIsSecondLoop;      // the source is /dev/loop1 over the same image
        const char* image;            // what loop0 (and loop1) rest on
        DestinationVerdict verdict;
    };
    const Case cases[] = {
        {"mounted from the image itself", false, false, "image.img", DestinationVerdict::OnSourceVolume},
        {"mounted from another image", false, false, "other.img", DestinationVerdict::Usable},
        {"on a partition of a loop device over the image", true, false, "image.img", DestinationVerdict::OnSourceVolume},
        {"source a second loop device over the image", false, true, "image.img", DestinationVerdict::OnSourceVolume},
        {"source a loop device over another image", false, true, "other.img", DestinationVerdict::Usable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string sys = dir.file("sys");
        test::writeText(dir.file("image.img"), "an image");
        test::writeText(dir.file("other.img"), "another image");
        const dev_t own = deviceOf(dir.path());
        const dev_t loop0 = c.destinationOnPartition ? makedev(7, 0) : own;
        fakeDevice(sys, "devices/loop0", loop0);
        fs::create_directories(sys + "/devices/loop0/loop");
        test::writeText(sys + "/devices/loop0/loop/backing_file", dir.file(c.image) + "\n");
        if (c.destinationOnPartition) fakeDevice(sys, "devices/loop0/loop0p1", own, true);
        std::string source = dir.file("image.img");
        if (c.sourceIsSecondLoop) {
            const dev_t loop1 = makedev(7, 1);
            source = blockNode(dir, loop1);
            if (source.empty()) GTEST_SKIP() << "making block-device nodes needs root";
            fakeDevice(sys, "devices/loop1", loop1);
            fs::create_directories(sys + "/devices/loop1/loop");
            test::writeText(sys + "/devices/loop1/loop/backing_file", dir.file("image.img") + "\n");
        }
        EXPECT_EQ(checkDestination(dir.path(), source, sys), c.verdict);
    }
}

TEST(Destination, MakeDirectoryPathCreatesEveryMissingFolder)
{
    test::TempDir dir;
    EXPECT_TRUE(makeDirectoryPath(dir.file("a/b/c d/e")));
    EXPECT_TRUE(fs::is_directory(dir.file("a/b/c d/e")));
    EXPECT_TRUE(makeDirectoryPath(dir.file("a/b")));  // already there
    test::writeText(dir.file("file"), "x");
    EXPECT_FALSE(makeDirectoryPath(dir.file("file/sub")));
}
