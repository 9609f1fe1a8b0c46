// libblkid superblock probing.
#include "storage/volume_probe.h"

#include <blkid/blkid.h>

#include <cctype>
#include <memory>

namespace kfr::storage {

namespace {

struct ProbeDeleter {
    void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};

std::string lookup(blkid_probe probe, const char* name)
{
    const char* data = nullptr;
    std::size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return {};
    std::string text(data, length);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

bool isHex(const std::string& text)
{
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !text.empty();
}

}  // namespace

std::optional<VolumeIdentity> probeVolume(const std::string& path)
{
    std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(blkid_new_probe_from_filename(path.c_str()));
    if (!probe) return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE |
                                                       BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 0);
    if (blkid_do_safeprobe(probe.get()) != 0) return std::nullopt;
    VolumeIdentity id;
    id.type = lookup(probe.get(), "TYPE");
    id.version = lookup(probe.get(), "VERSION");
    id.label = lookup(probe.get(), "LABEL");
    id.uuid = lookup(probe.get(), "UUID");
    if (id.type.empty()) return std::nullopt;
    return id;
}

std::string fileSystemName(const VolumeIdentity& identity)
{
    if (identity.type == "vfat" || identity.type == "msdos")
        return identity.version.rfind("FAT", 0) == 0 ? identity.version : "FAT";
    if (identity.type == "ntfs" || identity.type == "ntfs3") return "NTFS";
    if (identity.type == "exfat") return "exFAT";
    return identity.type.empty() ? "Unknown" : identity.type;
}

std::optional<std::uint32_t> volumeSerial(const VolumeIdentity& identity)
{
    std::string hex;
    for (char c : identity.uuid)
        if (c != '-') hex.push_back(c);
    if (!isHex(hex)) return std::nullopt;
    if (hex.size() == 16 && fileSystemName(identity) == "NTFS") hex = hex.substr(8);
    if (hex.size() != 8) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
}

}  // namespace kfr::storage
