// Output files and folders on the real file system.
#include "storage/output_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kfr::storage {

bool isNoSpaceError(int err)
{
    return err == ENOSPC || err == EDQUOT;
}

Error outputError(const std::string& path, int err, ErrorKind otherwise)
{
    return Error{isNoSpaceError(err) ? ErrorKind::DiskFull : otherwise, 0, path, std::strerror(err)};
}

Result<UniqueFd> createOutputFile(const std::string& path, CreateMode mode)
{
    // O_NOFOLLOW: a link at path fails instead of being written through. O_NONBLOCK: opening a
    // named pipe for writing would otherwise wait for a reader.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (mode == CreateMode::Exclusive ? O_EXCL : 0);
    UniqueFd fd(::open(path.c_str(), flags, 0644));
    if (!fd) {
        if (mode == CreateMode::Exclusive && errno == EEXIST) return UniqueFd();
        return outputError(path, errno, ErrorKind::OpenFailed);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error{ErrorKind::OpenFailed, 0, path, "not a regular file"};
    if (mode == CreateMode::Truncate && ::ftruncate(fd.get(), 0) != 0) return outputError(path, errno, ErrorKind::OpenFailed);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Result<struct stat> makeRealFolder(const std::string& path, mode_t mode)
{
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) return outputError(path, errno, ErrorKind::WriteFailed);
    // Whatever stands there now must be a folder itself: lstat, so a link to one is refused.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return outputError(path, errno, ErrorKind::WriteFailed);
    if (!S_ISDIR(st.st_mode))
        return Error{ErrorKind::WriteFailed, 0, path, "exists and is not a folder (or is a symbolic link)"};
    return st;
}

}  // namespace kfr::storage
