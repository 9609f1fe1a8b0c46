// Finding the medium a recovery log describes among the media attached now. Every later read
// (listing, opening, saving) goes to the medium, so a log is only loaded once its disk or volume
// is found again, even when it was reconnected under another disk number or device name.
//
// Identities, on this system:
// - a disk (a whole block device, a loop device with its image, or an image file named as a
//   source) is known by its disk key: model, size text, total sectors and disk number joined by
//   "||". An image file is listed as a disk of its own after the machine's disks; its model is
//   its file name, so an image is known by its file name and size, and found at the path the log
//   recorded (or a path the user names);
// - a volume read through its own device (a partition, a device-mapper or RAID volume) is known
//   by its block device path and its size in 512-byte sectors, "path|sectors". Every block device
//   of the machine that is not a disk counts, mounted or not: volumes are unmounted before they
//   are recovered.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recoverylog/log_format.h"
#include "storage/result.h"
#include "storage/system_tree.h"

namespace kfr::recoverylog {

struct ListedDisk {
    std::uint32_t number = 0;
    std::string key;         // the disk key
    std::string devicePath;  // what to read it through
};

struct ListedVolume {
    std::string volumePath;
    std::uint64_t sectors = 0;
};

// The media attached now.
struct MediaListing {
    std::vector<ListedDisk> disks;
    std::vector<ListedVolume> volumes;
};

struct MediaListContext {
    storage::SystemRoots roots;
    std::string hostName;                 // the machine's name when empty
    std::vector<std::string> imagePaths;  // image files listed as disks after the machine's disks
};

// Lists the disks (with the image files) and the volumes of the machine.
MediaListing listMedia(const MediaListContext& context);

// What a source path is: the identity a log records for it.
struct MediumIdentity {
    LocationForm form = LocationForm::None;
    std::string devicePath;       // the path as given
    bool isImage = false;         // an image file
    std::uint64_t deviceSectors = 0;
    // Physical: the disk.
    std::string diskModel;
    std::string diskKey;
    std::uint32_t diskNumber = 0;
    // Logical: the volume.
    std::string volumePath;
    std::uint64_t volumeSectors = 0;
};

// Identifies a source path: a listed disk (by the same file), a volume, or else an image file
// (listed after the machine's disks). NotFound when the path names nothing.
Result<MediumIdentity> identifyMedium(const MediaListContext& context, const std::string& path);

// A listing that holds only the given medium: the media check then finds that one or nothing.
MediaListing listingOf(const MediumIdentity& medium);

// The front end's answer to the two questions a moved medium raises. Called on the loading thread.
class MediaPrompt {
public:
    virtual ~MediaPrompt() = default;
    // The disk the log names is at another disk number now. True: continue with that disk.
    virtual bool continueWithDisk(std::uint32_t savedNumber, std::uint32_t foundNumber) = 0;
    // A volume of the saved size is found under another path. True: continue with it.
    virtual bool continueWithVolume(const std::string& savedVolume, const std::string& foundVolume) = 0;
};

enum class MediaVerdict {
    Same,       // the medium is where the log says
    Moved,      // found elsewhere, and the user chose to continue with it
    Declined,   // found elsewhere, and the user chose not to
    Missing,    // not found: moved or removed
    Unchecked,  // the log names no medium to check
};

struct MediaCheck {
    MediaVerdict verdict = MediaVerdict::Missing;
    std::string devicePath;        // Same and Moved: what to read
    std::uint32_t diskNumber = 0;  // Physical: the disk's number now
};

// Checks the location block against the media attached now. Without a prompt every question is
// answered No.
MediaCheck checkMedia(const Location& location, const MediaListing& media, MediaPrompt* prompt);

// The sectors of the medium a location block records: a disk's total sectors (the third part of
// its key) or a volume's sector count; 0 when the block does not tell.
std::uint64_t recordedSectors(const Location& location);

// A medium the user names in place of the one the log records (the usual case: an image made of
// a failing disk after the scan). It is taken when it holds as many sectors as the recorded one,
// and is then Moved; otherwise Missing. A log that names no medium takes it as it is.
MediaCheck checkNamedMedium(const Location& location, const std::string& path, std::uint64_t pathSectors);

}  // namespace kfr::recoverylog
