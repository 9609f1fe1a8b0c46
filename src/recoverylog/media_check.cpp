// Listing the attached media, identifying a source path, and the media check of a loaded log.
#include "recoverylog/media_check.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "storage/disk_list.h"
#include "storage/media_record.h"
#include "storage/sector_source.h"

namespace kfr::recoverylog {

namespace fs = std::filesystem;

namespace {

// More block devices than any machine has; a broken tree cannot make the listing endless.
constexpr std::size_t kMaxBlockDevices = 4096;

std::string canonical(const std::string& path)
{
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? path : real.string();
}

// Every block device that is not one of the disks: partitions, device-mapper and RAID volumes.
std::vector<ListedVolume> listVolumes(const storage::SystemRoots& roots, const std::vector<storage::PhysicalDisk>& disks)
{
    std::set<std::string> diskNames;
    for (const auto& d : disks)
        if (!d.sysfsName.empty()) diskNames.insert(d.sysfsName);
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sysfs + "/class/block", ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
        if (names.size() >= kMaxBlockDevices) break;
    }
    std::sort(names.begin(), names.end());
    std::vector<ListedVolume> out;
    for (const auto& name : names) {
        if (diskNames.count(name)) continue;
        const std::string entry = roots.sysfs + "/class/block/" + name;
        const auto size = storage::readNumberAttribute(entry + "/size");  // in 512-byte sectors
        if (!size || *size == 0) continue;
        out.push_back({roots.devDir + "/" + storage::deviceNameOf(entry, name), *size});
    }
    return out;
}

std::string withoutLastPart(const std::string& key)
{
    const auto bar = key.rfind('|');
    return bar == std::string::npos ? key : key.substr(0, bar);
}

MediumIdentity diskIdentity(const storage::PhysicalDisk& disk, const std::string& path)
{
    MediumIdentity m;
    m.form = LocationForm::Physical;
    m.devicePath = path;
    m.isImage = disk.isImage;
    m.deviceSectors = disk.totalSectors;
    m.diskModel = disk.record.text(storage::DiskField::kModel);
    m.diskKey = disk.key;
    m.diskNumber = disk.number;
    return m;
}

}  // namespace

MediaListing listMedia(const MediaListContext& context)
{
    storage::DiskListContext dc;
    dc.roots = context.roots;
    dc.hostName = context.hostName;
    dc.imagePaths = context.imagePaths;
    const storage::DiskListing disks = storage::listPhysicalDisks(dc);
    MediaListing listing;
    for (const auto& d : disks.disks) listing.disks.push_back({d.number, d.key, d.devicePath});
    listing.volumes = listVolumes(context.roots, disks.disks);
    return listing;
}

Result<MediumIdentity> identifyMedium(const MediaListContext& context, const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Error{ErrorKind::NotFound, 0, path, "does not exist"};
    const std::string real = canonical(path);

    storage::DiskListContext dc;
    dc.roots = context.roots;
    dc.hostName = context.hostName;
    const storage::DiskListing disks = storage::listPhysicalDisks(dc);
    for (const auto& d : disks.disks)
        if (canonical(d.devicePath) == real) return diskIdentity(d, path);
    for (const auto& v : listVolumes(context.roots, disks.disks)) {
        if (canonical(v.volumePath) != real) continue;
        MediumIdentity m;
        m.form = LocationForm::Logical;
        m.devicePath = path;
        m.deviceSectors = v.sectors;
        m.volumePath = v.volumePath;
        m.volumeSectors = v.sectors;
        return m;
    }
    if (S_ISREG(st.st_mode)) {
        dc.imagePaths = {path};
        const storage::DiskListing withImage = storage::listPhysicalDisks(dc);
        if (withImage.disks.size() > disks.disks.size() && withImage.disks.back().isImage)
            return diskIdentity(withImage.disks.back(), path);
        if (!withImage.problems.empty()) return withImage.problems.front();
        return Error{ErrorKind::NotFound, 0, path, "cannot be listed as a disk image"};
    }
    if (S_ISBLK(st.st_mode)) {
        // A block device the kernel's tree does not show (or a test's node): a volume by its size.
        auto source = storage::openSource(path);
        if (!source) return source.error();
        MediumIdentity m;
        m.form = LocationForm::Logical;
        m.devicePath = path;
        m.deviceSectors = (*source)->sectorCount();
        m.volumePath = path;
        m.volumeSectors = m.deviceSectors;
        return m;
    }
    return Error{ErrorKind::InvalidArgument, 0, path, "is neither a disk, a volume nor an image file"};
}

MediaListing listingOf(const MediumIdentity& medium)
{
    MediaListing listing;
    if (medium.form == LocationForm::Physical)
        listing.disks.push_back({medium.diskNumber, medium.diskKey, medium.devicePath});
    else if (medium.form == LocationForm::Logical)
        listing.volumes.push_back({medium.volumePath, medium.volumeSectors});
    return listing;
}

MediaCheck checkMedia(const Location& location, const MediaListing& media, MediaPrompt* prompt)
{
    MediaCheck check;
    if (location.form == LocationForm::None) {
        check.verdict = MediaVerdict::Unchecked;
        return check;
    }
    if (location.form == LocationForm::Physical) {
        for (const auto& d : media.disks)
            if (d.number == location.diskNumber && d.key == location.diskIdentity) {
                check.verdict = MediaVerdict::Same;
                check.devicePath = d.devicePath;
                check.diskNumber = d.number;
                return check;
            }
        // The disk number is the key's last part: the same disk reconnected differs only there.
        const std::string saved = withoutLastPart(location.diskIdentity);
        for (const auto& d : media.disks) {
            if (d.number == location.diskNumber || withoutLastPart(d.key) != saved) continue;
            if (!prompt || !prompt->continueWithDisk(location.diskNumber, d.number)) {
                check.verdict = MediaVerdict::Declined;
                return check;
            }
            check.verdict = MediaVerdict::Moved;
            check.devicePath = d.devicePath;
            check.diskNumber = d.number;
            return check;
        }
        return check;
    }
    for (const auto& v : media.volumes)
        if (v.volumePath == location.volumePath && v.sectors == location.volumeSectors) {
            check.verdict = MediaVerdict::Same;
            check.devicePath = v.volumePath;
            return check;
        }
    for (const auto& v : media.volumes) {
        if (v.sectors != location.volumeSectors) continue;
        if (!prompt || !prompt->continueWithVolume(location.volumePath, v.volumePath)) {
            check.verdict = MediaVerdict::Declined;
            return check;
        }
        check.verdict = MediaVerdict::Moved;
        check.devicePath = v.volumePath;
        return check;
    }
    return check;
}

std::uint64_t recordedSectors(const Location& location)
{
    if (location.form == LocationForm::Logical) return location.volumeSectors;
    if (location.form != LocationForm::Physical) return 0;
    // model||size text||total sectors||number: read from the end, as a model may hold "||".
    const std::string& key = location.diskIdentity;
    const auto last = key.rfind("||");
    if (last == std::string::npos || last < 2) return 0;
    const auto before = key.rfind("||", last - 1);
    if (before == std::string::npos) return 0;
    const std::string text = key.substr(before + 2, last - before - 2);
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoull(text);
}

MediaCheck checkNamedMedium(const Location& location, const std::string& path, std::uint64_t pathSectors)
{
    MediaCheck check;
    const std::uint64_t wanted = recordedSectors(location);
    if (location.form != LocationForm::None && (wanted == 0 || wanted != pathSectors)) return check;
    check.verdict = MediaVerdict::Moved;
    check.devicePath = path;
    check.diskNumber = location.diskNumber;
    return check;
}

}  // namespace kfr::recoverylog
