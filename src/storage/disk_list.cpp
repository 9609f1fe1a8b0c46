// Physical disk enumeration from sysfs, the udev database and HDIO_GETGEO.
#include "storage/disk_list.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/byte_size.h"
#include "storage/disk_identity.h"
#include "storage/unique_fd.h"

namespace kfr::storage {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kTranslatedHeads = 255;
constexpr std::uint32_t kTranslatedSectorsPerTrack = 63;
// More entries than any machine has disks; a fake or broken tree cannot make the listing endless.
constexpr std::size_t kMaxDisks = 1024;

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool startsWithThenDigit(const std::string& text, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return text.size() > n && text.compare(0, n, prefix) == 0 && std::isdigit(static_cast<unsigned char>(text[n]));
}

// Natural order: digit runs compare by value, everything else character by character, so loop2
// comes before loop10 and nvme0n1 before nvme1n1.
bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            std::string ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
            ra.erase(0, std::min(ra.find_first_not_of('0'), ra.size() - 1));
            rb.erase(0, std::min(rb.find_first_not_of('0'), rb.size() - 1));
            if (ra.size() != rb.size()) return ra.size() < rb.size();
            if (ra != rb) return ra < rb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// The kernel numbers sd, vd, hd and xvd disks with letters: sda..sdz, then sdaa. The letters are
// turned into their number (a = 1, aa = 27) so that sdz sorts before sdaa.
std::string sortKey(const std::string& name)
{
    for (const char* family : {"xvd", "sd", "vd", "hd"}) {
        const std::size_t n = std::strlen(family);
        if (name.compare(0, n, family) != 0) continue;
        std::size_t end = n;
        std::uint64_t index = 0;
        while (end < name.size() && name[end] >= 'a' && name[end] <= 'z' && end - n < 8)
            index = index * 26 + static_cast<std::uint64_t>(name[end++] - 'a' + 1);
        if (end == n) break;
        return std::string(family) + std::to_string(index) + "_" + name.substr(end);
    }
    return name;
}

std::string fileName(const std::string& path)
{
    return fs::path(path).filename().string();
}

Error accessError(const std::string& path, int err)
{
    Error e;
    e.path = path;
    e.detail = std::strerror(err);
    e.kind = (err == EACCES || err == EPERM) ? ErrorKind::PermissionDenied : ErrorKind::OpenFailed;
    if (e.kind == ErrorKind::PermissionDenied)
        e.detail = "read permission is missing; run as root (sudo) or join the \"disk\" group";
    return e;
}

// Why a /sys/block entry is not a physical disk, or nullptr when it is one.
const char* notADisk(const std::string& name, const std::string& base)
{
    if (fs::exists(base + "/partition")) return "partition";
    if (startsWith(name, "ram") || startsWith(name, "zram")) return "RAM disk";
    if (startsWith(name, "dm-") || startsWithThenDigit(name, "md")) return "volume of several devices";
    if (startsWithThenDigit(name, "sr") || readAttribute(base + "/device/type").value_or("") == "5")
        return "optical drive";
    if (startsWithThenDigit(name, "fd")) return "floppy drive";
    if (readAttribute(base + "/hidden").value_or("0") == "1") return "hidden";
    if (startsWith(name, "loop") && readAttribute(base + "/loop/backing_file").value_or("").empty())
        return "loop device without a file";
    return nullptr;
}

// A disk found before its number is known, with the identity its record will be built from.
struct Candidate {
    PhysicalDisk disk;
    DiskIdentity id;
};

std::string decimal(std::uint64_t value)
{
    return std::to_string(value);
}

// Fills the record and the key from what was learned about the disk.
void fillRecord(PhysicalDisk& disk, const DiskIdentity& id, const DiskListContext& ctx, const std::string& hostName)
{
    PhysicalDiskRecord& r = disk.record;
    const std::string bus = busTypeName(disk.busType);
    const std::string mediaClass = mediaClassName(disk.removable, bus);
    const std::string size = sizeText(disk.deviceBytes);
    std::string vendor = id.vendor;
    std::string model;
    if (id.known) {
        if (!trimText(vendor).empty()) {
            model = vendor + " " + id.product;
            vendor.clear();
        } else {
            model = id.product;
        }
        model = trimText(model) + " " + bus + " Device";
    }
    const std::string n = decimal(disk.number);
    r.setText(DiskField::kItemText, mediaClass + " (Disk" + n + " - " + size + ")");
    r.setText(DiskField::kMediaClass, mediaClass);
    r.setText(DiskField::kModeName, ctx.modeName);
    r.setText(DiskField::kNumber, n);
    r.setText(DiskField::kName, "Disk" + n);
    r.setText(DiskField::kModel, model);
    r.setText(DiskField::kSizeAndClass, mediaClass.empty() ? size : size + " - " + mediaClass);
    r.setText(DiskField::kModelRow, model);
    r.setText(DiskField::kMediaTypeRow, mediaClass);
    r.setText(DiskField::kBusType, bus);
    r.setText(DiskField::kSizeText, size);
    r.setText(DiskField::kCylinders, decimal(disk.geometry.cylinders));
    r.setText(DiskField::kHeads, decimal(disk.geometry.tracksPerCylinder));
    r.setText(DiskField::kTotalSectors, decimal(disk.totalSectors));
    r.setText(DiskField::kBytesPerSector, decimal(disk.geometry.bytesPerSector));
    r.setText(DiskField::kSectorsPerTrack, decimal(disk.geometry.sectorsPerTrack));
    r.setText(DiskField::kRevision, id.revision);
    r.setText(DiskField::kVendor, vendor);
    r.setText(DiskField::kSerial, id.serial);
    r.setText(DiskField::kSystemName, hostName);
    r.setText(DiskField::kDevicePath, disk.devicePath);
    r.sizeMiB = disk.deviceBytes >> 20;
    disk.key = diskKey(r);
}

void settleSize(PhysicalDisk& disk, std::optional<DiskGeometry> kernelGeometry)
{
    const std::uint32_t bps = disk.geometry.bytesPerSector;
    disk.geometry = translatedGeometry(disk.deviceBytes, bps);
    if (kernelGeometry && kernelGeometry->tracksPerCylinder && kernelGeometry->sectorsPerTrack) {
        // HDIO_GETGEO's cylinder field is 16 bits wide and wraps on large disks; the heads and
        // sectors it reports are kept and the cylinders recomputed from the size.
        DiskGeometry g = *kernelGeometry;
        g.bytesPerSector = bps;
        const std::uint64_t cylinderBytes =
            static_cast<std::uint64_t>(g.tracksPerCylinder) * g.sectorsPerTrack * bps;
        g.cylinders = disk.deviceBytes / cylinderBytes;
        g.fromKernel = true;
        if (g.cylinders > 0) disk.geometry = g;
    }
    // The size is the medium's own, last partial cylinder included: a partition or a lost file
    // may well lie there, and a scan must be able to reach it.
    disk.totalSectors = disk.deviceBytes / kSectorSize;
}

std::optional<Candidate> blockDisk(const DiskListContext& ctx, const std::string& name)
{
    const std::string base = ctx.roots.sysfs + "/block/" + name;
    if (notADisk(name, base)) return std::nullopt;
    const auto sectors512 = readNumberAttribute(base + "/size");  // always in 512-byte units
    if (!sectors512 || *sectors512 == 0 || *sectors512 > (UINT64_MAX >> 9)) return std::nullopt;  // empty slot

    PhysicalDisk disk;
    disk.sysfsName = name;
    disk.devicePath = ctx.roots.devDir + "/" + deviceNameOf(base, name);
    disk.deviceBytes = *sectors512 << 9;
    disk.removable = readAttribute(base + "/removable").value_or("0") == "1";
    const auto lbs = readNumberAttribute(base + "/queue/logical_block_size");
    disk.geometry.bytesPerSector = (lbs && *lbs >= 512 && *lbs <= 65536) ? static_cast<std::uint32_t>(*lbs) : 512;

    const UdevProperties udev = readUdevProperties(ctx.roots, readAttribute(base + "/dev").value_or(""));
    disk.busType = detectBusType(ctx.roots, name, base, udev);
    DiskIdentity id;
    if (startsWith(name, "loop")) {
        disk.backingFile = readAttribute(base + "/loop/backing_file").value_or("");
        // An attached image names itself by its file; it has no maker, revision or serial.
        id.product = fileName(disk.backingFile);
        id.known = true;
    } else {
        id = readDiskIdentity(base, udev);
    }

    // Only opened to learn whether it can be read and to ask for the geometry; never written.
    std::optional<DiskGeometry> kernelGeometry;
    UniqueFd fd(::open(disk.devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        disk.accessProblem = accessError(disk.devicePath, errno);
    } else {
        hd_geometry geo{};
        if (::ioctl(fd.get(), HDIO_GETGEO, &geo) == 0) {
            DiskGeometry g;
            g.tracksPerCylinder = geo.heads;
            g.sectorsPerTrack = geo.sectors;
            kernelGeometry = g;
        }
    }
    settleSize(disk, kernelGeometry);
    return Candidate{std::move(disk), std::move(id)};
}

Result<Candidate> imageDisk(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return accessError(path, errno);
    PhysicalDisk disk;
    disk.isImage = true;
    disk.devicePath = path;
    disk.backingFile = path;
    if (S_ISREG(st.st_mode)) {
        disk.deviceBytes = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISBLK(st.st_mode)) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        std::uint64_t bytes = 0;
        if (fd.get() < 0) return accessError(path, errno);
        if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0) return accessError(path, errno);
        disk.deviceBytes = bytes;
    } else {
        return Error{ErrorKind::InvalidArgument, 0, path, "is neither an image file nor a block device"};
    }
    if (disk.deviceBytes < kSectorSize) return Error{ErrorKind::Implausible, 0, path, "holds not even one sector"};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) disk.accessProblem = accessError(path, errno);
    settleSize(disk, std::nullopt);
    // An image names itself by its file; it has no maker, revision or serial.
    DiskIdentity id;
    id.product = fileName(path);
    id.known = true;
    return Candidate{std::move(disk), std::move(id)};
}

}  // namespace

DiskGeometry translatedGeometry(std::uint64_t deviceBytes, std::uint32_t bytesPerSector)
{
    DiskGeometry g;
    g.bytesPerSector = bytesPerSector ? bytesPerSector : 512;
    const std::uint64_t sectors = deviceBytes / g.bytesPerSector;
    const std::uint64_t perCylinder = kTranslatedHeads * kTranslatedSectorsPerTrack;
    if (sectors >= perCylinder) {
        g.tracksPerCylinder = kTranslatedHeads;
        g.sectorsPerTrack = kTranslatedSectorsPerTrack;
        g.cylinders = sectors / perCylinder;
    } else if (sectors >= kTranslatedSectorsPerTrack) {
        g.sectorsPerTrack = kTranslatedSectorsPerTrack;
        g.tracksPerCylinder = static_cast<std::uint32_t>(sectors / kTranslatedSectorsPerTrack);
        g.cylinders = 1;
    } else if (sectors > 0) {
        g.sectorsPerTrack = static_cast<std::uint32_t>(sectors);
        g.tracksPerCylinder = 1;
        g.cylinders = 1;
    }
    return g;
}

DiskListing listPhysicalDisks(const DiskListContext& ctx)
{
    DiskListing listing;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(ctx.roots.sysfs + "/block", ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
        if (names.size() >= kMaxDisks) break;
    }
    // Real disks first, then attached images (loop devices), each in natural name order.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const bool la = startsWith(a, "loop"), lb = startsWith(b, "loop");
        if (la != lb) return lb;
        return naturalLess(sortKey(a), sortKey(b));
    });

    std::vector<Candidate> found;
    for (const auto& name : names)
        if (auto candidate = blockDisk(ctx, name)) found.push_back(std::move(*candidate));
    for (const auto& path : ctx.imagePaths) {
        auto candidate = imageDisk(path);
        if (candidate)
            found.push_back(std::move(candidate).value());
        else
            listing.problems.push_back(candidate.error());
    }

    const std::string hostName = ctx.hostName.empty() ? systemHostName() : ctx.hostName;
    for (auto& [disk, id] : found) {
        if (listing.disks.size() >= kMaxDisks) break;
        disk.number = static_cast<std::uint32_t>(listing.disks.size());
        fillRecord(disk, id, ctx, hostName);
        listing.diskKeys.push_back(disk.key);
        listing.disks.push_back(std::move(disk));
    }
    return listing;
}

std::string diskKey(const PhysicalDiskRecord& record)
{
    return record.text(DiskField::kModelRow) + "||" + record.text(DiskField::kSizeText) + "||" +
           record.text(DiskField::kTotalSectors) + "||" + record.text(DiskField::kNumber);
}

std::optional<std::uint32_t> diskNumberFromItemText(const std::string& itemText)
{
    const auto open = itemText.find('(');
    if (open == std::string::npos || open + 5 > itemText.size()) return std::nullopt;
    std::string rest = itemText.substr(open + 5);
    const auto dash = rest.find('-');
    if (dash != std::string::npos) rest.erase(dash);
    rest = trimText(rest);
    if (rest.empty() || rest.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

std::string systemHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

RemovableMediaEntry removableMediaEntry(const PhysicalDisk& disk)
{
    RemovableMediaEntry e;
    e.cylinders = static_cast<std::uint32_t>(std::min<std::uint64_t>(disk.geometry.cylinders, UINT32_MAX));
    e.heads = disk.geometry.tracksPerCylinder;
    e.sectorsPerTrack = disk.geometry.sectorsPerTrack;
    e.diskNumber = disk.number;
    e.totalSectors = disk.totalSectors;
    e.devicePath = disk.devicePath;
    return e;
}

}  // namespace kfr::storage
