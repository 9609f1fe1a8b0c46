// The folder a save run writes into: whether it can be used, whether it lies on the medium being
// recovered (saving there could overwrite the very data being recovered), and creating folders.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kfr::exporting {

enum class DestinationVerdict {
    Usable,
    NotUsable,       // missing, not a folder, not writable, or on a read-only file system
    OnSourceVolume,  // writing there would write to the device (or the image) being recovered
};

// Judges a destination folder for a source (a block device or an image file).
// A block-device source is refused when the destination's file system lives on that device, on
// a partition of it, on the whole disk it is a partition of, or on a device stacked over any of
// these (device mapper, RAID, loop). An image file is not a volume: any other folder, even on
// the same file system, is fine, except a file system mounted from that very image (a loop
// device backed by it, or a partition of one). Files are compared by identity, and a loop
// device as source stands for its image: a second loop device over the same image is the same
// medium. sysfsRoot is where the kernel's block-device tree is read ("/sys").
DestinationVerdict checkDestination(const std::string& destination, const std::string& sourcePath,
                                    const std::string& sysfsRoot = "/sys");

// The block devices that hold the file system of device dev, dev itself first: what it is stacked
// over (sysfs "slaves"), recursively, and the whole disk of every partition among them. Loop
// devices add their backing files to backingFiles. Bounded: at most 64 devices are followed.
struct DeviceStack {
    std::vector<dev_t> devices;            // the file system's own devices and what they rest on
    std::vector<dev_t> wholeDisks;         // the disks those partitions belong to
    std::vector<std::string> backingFiles; // image files behind loop devices
};
DeviceStack deviceStack(dev_t dev, const std::string& sysfsRoot = "/sys");

// Creates the folder and every missing folder above it. True when it exists as a folder at the end.
bool makeDirectoryPath(const std::string& path);

}  // namespace kfr::exporting
