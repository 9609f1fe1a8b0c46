// Who made a disk and which bus it hangs on, from sysfs and the udev database.
#pragma once

#include <string>

#include "storage/media_record.h"
#include "storage/system_tree.h"

namespace kfr::storage {

struct DiskIdentity {
    bool known = false;  // something named the device, so a model text can be built
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
};

// Vendor, product, revision and serial of the disk whose sysfs block folder is base: udev's
// record first (it holds the full ATA model, where sysfs cuts SCSI inquiry texts to 16
// characters), then the device's sysfs attributes. Texts are trimmed.
DiskIdentity readDiskIdentity(const std::string& base, const UdevProperties& udev);

// The bus a disk hangs on, read from its place in the device tree (the most reliable source)
// and else from udev's ID_BUS. NVMe is presented as SCSI, the way the platform's storage stack
// presents NVMe disks to programs; SD and MMC cards get the table's values 12 and 13; buses the
// table does not know stay UNKNOWN (virtio, Xen, network block devices, loop devices).
BusType detectBusType(const SystemRoots& roots, const std::string& name, const std::string& base,
                      const UdevProperties& udev);

}  // namespace kfr::storage
