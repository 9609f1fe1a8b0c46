// Making the files and folders that recovered data is written into, shared by the save writers
// and the carving scan. Nothing here ever follows a symbolic link planted under an output name:
// a link could send recovered bytes anywhere, even onto the medium being recovered.
#pragma once

#include <string>
#include <sys/stat.h>

#include "storage/result.h"
#include "storage/unique_fd.h"

namespace kfr::storage {

// True for the errno values that mean "no room on the destination" (ENOSPC, EDQUOT).
bool isNoSpaceError(int err);

// An output failure: DiskFull when err means no room, otherwise the given kind.
Error outputError(const std::string& path, int err, ErrorKind otherwise);

enum class CreateMode {
    Exclusive,  // only a new file; a name already taken is left alone
    Truncate,   // a regular file already there is emptied and reused
};

// Opens path for writing, never through a symbolic link and only as a regular file (a named pipe
// under the name must not hang the writer). With Exclusive, a taken name gives an empty UniqueFd
// rather than an error, so the caller can pick another name. Failures are DiskFull or OpenFailed.
Result<UniqueFd> createOutputFile(const std::string& path, CreateMode mode);

// Makes the folder path (its parent must exist) with the given mode, or accepts one already
// there, and checks that it is a real folder and not a link to one. Returns its status as
// lstat gives it. Failures are DiskFull or WriteFailed.
Result<struct stat> makeRealFolder(const std::string& path, mode_t mode = 0755);

}  // namespace kfr::storage
