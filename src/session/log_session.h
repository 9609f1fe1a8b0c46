// What a front end asks of the session to save the results as a recovery log or to load a log,
// and how each ends. The session's saveLog and loadLog take and give these; the shared texts
// turn the outcomes into the system's messages and questions.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "recoverylog/media_check.h"
#include "recoverylog/recovery_log.h"
#include "storage/progress.h"
#include "storage/result.h"

namespace kfr::session {

struct ScanResults;
enum class ScanMode;

struct LogSaveRequest {
    std::string path;
    // The kind of the drive-tree item that was scanned (recoverylog::kHardDiskKind,
    // kPartitionKind, kLogicalKind, kRecognisedKind); empty: found from the source path (a volume
    // read through its own device is "Logical"; a disk is "Hard Disk", or "part" when a Basic
    // Search read a partition of it).
    std::string driveKind;
    recoverylog::MediaListContext media;  // where disks and volumes are looked up
};

enum class LogSaveEnd {
    Saved,
    OnSourceMedium,  // the log's folder lies on the medium being recovered: nothing written
    CannotCreate,    // the file cannot be created (error says why)
    WriteFailed,     // writing failed (DiskFull or WriteFailed, with the system's text); the
                     // partial file stays
};

struct LogSaveOutcome {
    LogSaveEnd end = LogSaveEnd::Saved;
    Error error;
};

struct LogLoadRequest {
    std::string path;
    // The screen's mode; a log of the other mode comes back as OtherMode. Nothing: either.
    std::optional<ScanMode> screenMode;
    // Where disks and volumes are looked up. imagePaths: image files to look for the medium in
    // (empty: the image the log was saved from).
    recoverylog::MediaListContext media;
    // A medium named by the user in place of the recorded one; taken when its size is the same.
    std::string namedSource;
    recoverylog::MediaPrompt* prompt = nullptr;  // the front end's two questions; none: No
    ScanObserver* observer = nullptr;            // folders read of the saved folder counter
};

struct LogLoadOutcome {
    recoverylog::LoadVerdict verdict = recoverylog::LoadVerdict::Corrupt;
    std::optional<ScanMode> logMode;          // OtherMode: the mode to hand the log over to
    // Loaded, and Corrupt once the header was read (the folders read so far): for adoptResults.
    std::shared_ptr<ScanResults> results;
    recoverylog::MediaCheck medium;
    Error error;                              // CannotOpen: why; MediaMissing: a named medium's failure
    std::optional<recoverylog::ReadFault> fault;  // Corrupt
};

// The writing behind RecoverySession::saveLog, which calls it while it holds the results.
LogSaveOutcome writeLogOf(const ScanResults& results, const LogSaveRequest& request);

}  // namespace kfr::session
