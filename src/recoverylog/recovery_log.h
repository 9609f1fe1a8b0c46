// Saving the index of a Basic or Deep Search as a recovery log, and loading it again: the
// signature and mode checks, the media check, and the results tree rebuilt without the medium.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "recovery/folder_tree.h"
#include "recoverylog/log_format.h"
#include "recoverylog/log_stream.h"
#include "recoverylog/media_check.h"
#include "storage/progress.h"
#include "storage/result.h"

namespace kfr::recoverylog {

// Whether the location block starts with a form name that decides what follows ("Logical"
// items, and "Recognised" ones in Deep logs); for every other kind a disk follows.
bool formNameDecides(const std::string& driveKind, std::uint32_t mode);

// Writes the log to a sink. The first write failure is returned; what was written stays.
Status writeRecoveryLog(ByteSink& sink, const LogContents& contents);

// Creates (or replaces) the file at path and writes the log into it through a 4096-byte buffer.
// A file that cannot be created is OpenFailed; a write that fails (DiskFull, WriteFailed, with
// the system's text) leaves the partial file on disk.
Status saveRecoveryLog(const std::string& path, const LogContents& contents);

// Reads a whole log. Reading stops at a wrong signature, at a mode other than 1 and 2, and at the
// first fault; what was read before stays in the result.
ParsedLog parseRecoveryLog(ByteInput& input, ScanObserver* observer = nullptr);

// Rebuilds the results tree from the folders read: "Root", then every folder under its parent
// with insertFolderNode, the cluster index neither consulted nor filled (two records with one
// cluster are two folders). When the extension names every folder's tree item, folders are
// placed in that order, which gives them the items they had when the log was saved.
void rebuildTree(const ParsedLog& log, recovery::FolderResults& results);

// The first items of a log, enough to tell which screen opens it: the signature, then the mode.
struct LogProbe {
    bool signatureOk = false;
    std::optional<std::uint32_t> mode;  // as stored; nullopt when the file ends before it
};
LogProbe probeRecoveryLog(ByteInput& input);

enum class LoadVerdict {
    Loaded,        // read whole; the medium was found
    CannotOpen,    // the file cannot be opened (openError says why)
    NotALog,       // the signature is not this system's
    OtherMode,     // saved by the other search mode: hand it over to that mode
    MediaMissing,  // the medium is moved or removed (or the mode is no mode at all)
    Declined,      // the medium was found elsewhere and the user chose not to continue
    Corrupt,       // a read failed (log.fault); the folders read before are in folders
};

struct LoadContext {
    // The mode of the screen that loads; a log of the other mode is handed over. Nothing: either.
    std::optional<LogMode> screenMode;
    // The media attached now, given the image files to list; the machine's when empty.
    std::function<MediaListing(const std::vector<std::string>& imagePaths)> listMedia;
    // The image files to look for the medium in; empty: the image the log was saved from.
    std::vector<std::string> imagePaths;
    // A medium the user names in place of the recorded one (see checkNamedMedium); no listing
    // and no question then.
    std::string namedSource;
    MediaPrompt* prompt = nullptr;   // answers the moved-medium questions; none: No
    ScanObserver* observer = nullptr;  // progress: folders read of the saved folder counter
};

struct LoadedLog {
    LoadVerdict verdict = LoadVerdict::Corrupt;
    Error openError;                   // CannotOpen: the log; MediaMissing: a named medium
    ParsedLog log;                     // the folders themselves move into `folders`
    recovery::FolderResults folders;   // Loaded, and Corrupt once the header was read
    MediaCheck medium;
    LogMode mode() const { return log.header.mode == 2 ? LogMode::Deep : LogMode::Basic; }
};

LoadedLog loadRecoveryLog(ByteInput& input, const LoadContext& context);
LoadedLog loadRecoveryLog(const std::string& path, const LoadContext& context);

}  // namespace kfr::recoverylog
