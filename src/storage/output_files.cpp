// Output files and folders on the real file system.
#include "storage/output_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
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
    // O_EXCL made it just now: a regular file, empty, and O_NONBLOCK means nothing to it.
    if (mode == CreateMode::Exclusive) return fd;
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

Result<OutputTree> OutputTree::open(const std::string& root)
{
    std::string path = root;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return outputError(path, errno, ErrorKind::OpenFailed);
    return OutputTree(std::move(fd), std::move(path));
}

Result<OutputTree> OutputTree::twin() const
{
    UniqueFd fd(::fcntl(m_root.get(), F_DUPFD_CLOEXEC, 0));
    if (!fd) return outputError(m_rootPath, errno, ErrorKind::OpenFailed);
    return OutputTree(std::move(fd), m_rootPath);
}

std::optional<std::string> OutputTree::relative(const std::string& path) const
{
    if (path == m_rootPath) return std::string();
    const std::string prefix = m_rootPath == "/" ? "/" : m_rootPath + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return path.substr(prefix.size());
}

Result<int> OutputTree::openFolder(const std::string& relativePath, bool create, bool openLeaf)
{
    // The path's folder names, each with the length of the path up to it (for messages).
    std::vector<std::pair<std::string, std::size_t>> names;
    std::size_t start = 0;
    while (start < relativePath.size()) {
        std::size_t slash = relativePath.find('/', start);
        if (slash == std::string::npos) slash = relativePath.size();
        std::string name = relativePath.substr(start, slash - start);
        start = slash + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..")
            return Error{ErrorKind::OpenFailed, 0, m_rootPath + "/" + relativePath.substr(0, slash), "names a parent folder"};
        names.emplace_back(std::move(name), slash);
    }
    // Folders already open on the way: they were entered without following a link, and a
    // descriptor keeps naming the folder it opened whatever is put at its name later.
    std::size_t level = 0;
    while (level < names.size() && level < m_openNames.size() && names[level].first == m_openNames[level]) ++level;
    m_openNames.resize(level);
    m_openFolders.resize(level);
    for (; level < names.size(); ++level) {
        const std::string& name = names[level].first;
        const int parent = level == 0 ? m_root.get() : m_openFolders.back().get();
        // The path as messages show it, made only when something fails.
        const auto shown = [&, level] { return m_rootPath + "/" + relativePath.substr(0, names[level].second); };
        const bool leaf = level + 1 == names.size();
        if (leaf && !openLeaf) {
            if (create && ::mkdirat(parent, name.c_str(), 0755) == 0) return parent;  // made just now: a folder
            if (const int err = errno; create && err != EEXIST) return outputError(shown(), err, ErrorKind::WriteFailed);
            // It was there: it must be a folder itself, not a link to one.
            struct stat st {};
            if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                const int err = errno;  // read before the message is made
                return outputError(shown(), err, ErrorKind::WriteFailed);
            }
            if (!S_ISDIR(st.st_mode))
                return Error{ErrorKind::WriteFailed, 0, shown(), "exists and is not a folder (or is a symbolic link)"};
            return parent;
        }
        // O_NOFOLLOW: a link standing at this name fails instead of being entered. Opened before it
        // is made: a folder on the way was mostly made just before, by makeFolder.
        constexpr int kEnter = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        UniqueFd next(::openat(parent, name.c_str(), kEnter));
        if (!next && errno == ENOENT && create) {
            if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
                const int err = errno;
                return outputError(shown(), err, ErrorKind::WriteFailed);
            }
            next = UniqueFd(::openat(parent, name.c_str(), kEnter));
        }
        if (!next) {
            const int err = errno;
            if (err == ELOOP || err == ENOTDIR)
                return Error{ErrorKind::WriteFailed, 0, shown(), "exists and is not a folder (or is a symbolic link)"};
            return outputError(shown(), err, create ? ErrorKind::WriteFailed : ErrorKind::OpenFailed);
        }
        m_openNames.push_back(name);
        m_openFolders.push_back(std::move(next));
    }
    return names.empty() ? m_root.get() : m_openFolders.back().get();
}

Result<UniqueFd> OutputTree::folder(const std::string& relativePath, bool create)
{
    auto fd = openFolder(relativePath, create, true);
    if (!fd) return fd.error();
    UniqueFd folder(::dup(*fd));
    if (!folder) return outputError(m_rootPath + "/" + relativePath, errno, ErrorKind::OpenFailed);
    return folder;
}

Status OutputTree::makeFolder(const std::string& relativePath)
{
    auto fd = openFolder(relativePath, true, false);
    if (!fd) return fd.error();
    return okStatus();
}

namespace {

// openat2 with every symbolic link refused and the path kept below dir; -1 with errno set, ENOSYS
// where the kernel (before 5.6) or a sandbox has no openat2.
UniqueFd openBeneath(int dir, const std::string& path, int flags)
{
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = 0644;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    return UniqueFd(static_cast<int>(::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how)));
}

std::pair<std::string, std::string> splitLeaf(const std::string& relative)
{
    const auto slash = relative.rfind('/');
    if (slash == std::string::npos) return {std::string(), relative};
    return {relative.substr(0, slash), relative.substr(slash + 1)};
}

}  // namespace

Result<UniqueFd> OutputTree::createFile(const std::string& relativePath, CreateMode mode)
{
    const auto [folderPath, leaf] = splitLeaf(relativePath);
    const std::string shown = m_rootPath + "/" + relativePath;
    if (leaf.empty() || leaf == "." || leaf == "..") return Error{ErrorKind::OpenFailed, 0, shown, "is no file name"};
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (mode == CreateMode::Exclusive ? O_EXCL : 0);
    UniqueFd fd;
    if (m_beneathOpen) {
        // The whole path at once, refusing every link on the way as the walk below does, so
        // that a folder is not opened (and closed again) for each file written into it.
        fd = openBeneath(m_root.get(), relativePath, flags);
        if (!fd && (errno == ENOSYS || errno == EPERM || errno == E2BIG)) m_beneathOpen = false;
        if (!fd && mode == CreateMode::Exclusive && errno == EEXIST) return UniqueFd();
        // Any other failure is met again by the walk, which says where it lies.
    }
    if (!fd) {
        auto dir = openFolder(folderPath, false, true);
        if (!dir) return dir.error();
        fd = UniqueFd(::openat(*dir, leaf.c_str(), flags, 0644));
    }
    if (!fd) {
        if (mode == CreateMode::Exclusive && errno == EEXIST) return UniqueFd();
        return outputError(shown, errno, ErrorKind::OpenFailed);
    }
    // O_EXCL made it just now: a regular file, empty, and O_NONBLOCK means nothing to it.
    if (mode == CreateMode::Exclusive) return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Error{ErrorKind::OpenFailed, 0, shown, "not a regular file"};
    if (mode == CreateMode::Truncate && ::ftruncate(fd.get(), 0) != 0) return outputError(shown, errno, ErrorKind::OpenFailed);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool OutputTree::exists(const std::string& relativePath)
{
    const auto [folderPath, leaf] = splitLeaf(relativePath);
    auto dir = openFolder(folderPath, false, true);
    if (!dir) return false;
    struct stat st {};
    return ::fstatat(*dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool OutputTree::removeFile(const std::string& relativePath)
{
    const auto [folderPath, leaf] = splitLeaf(relativePath);
    auto dir = openFolder(folderPath, false, true);
    return dir && ::unlinkat(*dir, leaf.c_str(), 0) == 0;
}

bool OutputTree::rootRemoved() const
{
    struct stat st {};
    return ::fstat(m_root.get(), &st) != 0 || st.st_nlink == 0;
}

}  // namespace kfr::storage
