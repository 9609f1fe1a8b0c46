// Disk identity and bus type.
#include "storage/disk_identity.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <vector>

#include "storage/byte_size.h"

namespace kfr::storage {

namespace fs = std::filesystem;

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool startsWithThenDigit(const std::string& text, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return text.size() > n && text.compare(0, n, prefix) == 0 && std::isdigit(static_cast<unsigned char>(text[n]));
}

std::vector<std::string> devicePathComponents(const SystemRoots& roots, const std::string& base)
{
    std::error_code ec;
    fs::path real = fs::canonical(base, ec);
    if (ec) real = base;
    // Only the part below the devices folder tells the bus; the roots may lie anywhere.
    fs::path devices = fs::canonical(fs::path(roots.sysfs) / "devices", ec);
    std::vector<std::string> parts;
    bool below = static_cast<bool>(ec);  // without a devices folder, take every component
    auto d = devices.begin();
    for (auto it = real.begin(); it != real.end(); ++it) {
        if (!below) {
            if (d != devices.end() && *it == *d) {
                ++d;
                if (d == devices.end()) below = true;
                continue;
            }
            below = true;  // not below the devices folder: read the path as it is
        }
        parts.push_back(it->string());
    }
    return parts;
}

std::string udevText(const UdevProperties& udev, const char* encodedKey, const char* plainKey)
{
    if (auto it = udev.find(encodedKey); it != udev.end()) {
        const std::string text = decodeUdevText(it->second);
        if (!text.empty()) return text;
    }
    if (auto it = udev.find(plainKey); it != udev.end()) {
        std::string text = it->second;
        std::replace(text.begin(), text.end(), '_', ' ');  // udev writes blanks as underscores here
        return trimText(text);
    }
    return {};
}

std::string firstOf(std::initializer_list<std::string> candidates)
{
    for (const auto& c : candidates)
        if (!c.empty()) return c;
    return {};
}

}  // namespace

BusType detectBusType(const SystemRoots& roots, const std::string& name, const std::string& base,
                      const UdevProperties& udev)
{
    const auto parts = devicePathComponents(roots, base);
    auto any = [&](auto pred) { return std::any_of(parts.begin(), parts.end(), pred); };
    const bool sataByUdev = udev.count("ID_ATA_SATA") && udev.at("ID_ATA_SATA") == "1";
    if (startsWith(name, "loop")) return BusType::Unknown;
    if (any([](const std::string& p) { return startsWithThenDigit(p, "usb"); })) return BusType::Usb;
    if (any([](const std::string& p) { return startsWithThenDigit(p, "fw"); })) return BusType::Ieee1394;
    if (any([](const std::string& p) { return startsWithThenDigit(p, "ata"); }))
        return sataByUdev ? BusType::Sata : BusType::Ata;
    if (any([](const std::string& p) { return startsWith(p, "end_device-"); })) return BusType::Sas;
    if (any([](const std::string& p) { return startsWithThenDigit(p, "session"); })) return BusType::IScsi;
    if (any([](const std::string& p) { return startsWith(p, "rport-"); })) return BusType::Fibre;
    if (startsWithThenDigit(name, "nvme") || any([](const std::string& p) { return p == "nvme"; }))
        return BusType::Scsi;
    if (startsWithThenDigit(name, "mmcblk") || any([](const std::string& p) { return startsWithThenDigit(p, "mmc"); }))
        return readAttribute(base + "/device/type").value_or("") == "MMC" ? BusType::Mmc : BusType::Sd;
    if (any([](const std::string& p) { return startsWithThenDigit(p, "target"); })) return BusType::Scsi;

    const auto bus = udev.find("ID_BUS");
    if (bus != udev.end()) {
        if (bus->second == "usb") return BusType::Usb;
        if (bus->second == "ata") return sataByUdev ? BusType::Sata : BusType::Ata;
        if (bus->second == "scsi" || bus->second == "nvme") return BusType::Scsi;
        if (bus->second == "ieee1394") return BusType::Ieee1394;
    }
    return BusType::Unknown;
}

DiskIdentity readDiskIdentity(const std::string& base, const UdevProperties& udev)
{
    const std::string dev = base + "/device/";
    DiskIdentity id;
    id.vendor = firstOf({udevText(udev, "ID_VENDOR_ENC", "ID_VENDOR"), readAttribute(dev + "vendor").value_or("")});
    // libata answers SCSI inquiries with the vendor "ATA" for every disk, and virtio and NVMe
    // devices give a PCI vendor number ("0x1af4"); neither names a maker.
    if (id.vendor == "ATA" || id.vendor.rfind("0x", 0) == 0) id.vendor.clear();
    id.product = firstOf({udevText(udev, "ID_MODEL_ENC", "ID_MODEL"), readAttribute(dev + "model").value_or(""),
                          readAttribute(dev + "name").value_or("")});
    id.revision = firstOf({udevText(udev, "", "ID_REVISION"), readAttribute(dev + "rev").value_or(""),
                           readAttribute(dev + "firmware_rev").value_or(""), readAttribute(dev + "fwrev").value_or("")});
    id.serial = firstOf({udevText(udev, "", "ID_SERIAL_SHORT"), readAttribute(base + "/serial").value_or(""),
                         readAttribute(dev + "serial").value_or("")});
    id.known = !id.vendor.empty() || !id.product.empty();
    return id;
}

}  // namespace kfr::storage
