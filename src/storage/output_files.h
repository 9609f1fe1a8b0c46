// Making the files and folders that recovered data is written into, shared by the save writers
// and the carving scan. Nothing here ever follows a symbolic link planted under an output name:
// a link could send recovered bytes anywhere, even onto the medium being recovered.
#pragma once

#include <optional>
#include <string>
#include <vector>
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

// A destination folder held open, under which folders and files are made and opened one name at
// a time from the folder's own descriptor, never through a symbolic link: a link planted at any
// level below the destination (dest/Docs -> the medium itself) cannot redirect what is written.
// The destination's own path may contain links; the user chose it. One instance per thread.
class OutputTree {
public:
    static Result<OutputTree> open(const std::string& root);
    // Another tree over the very folder this one holds (not the path opened again), for another
    // thread.
    Result<OutputTree> twin() const;

    const std::string& root() const { return m_rootPath; }
    // The part of path below the root ("" for the root itself), or nothing when path is not
    // below it.
    std::optional<std::string> relative(const std::string& path) const;

    // The folder at relative path, made with every missing folder above it when create is set.
    Result<UniqueFd> folder(const std::string& relative, bool create);
    // Makes the folder at relative path with every missing folder above it, without opening it
    // (files are written into it later, when it is opened once).
    Status makeFolder(const std::string& relative);
    Result<UniqueFd> createFile(const std::string& relative, CreateMode mode);
    bool exists(const std::string& relative);
    bool removeFile(const std::string& relative);
    // The destination folder was removed while the run went on.
    bool rootRemoved() const;

private:
    // The folder's descriptor, held by the tree (valid until the next call); openLeaf false: the
    // last folder is made or checked but not opened, and its parent's descriptor is returned.
    Result<int> openFolder(const std::string& relative, bool create, bool openLeaf);
    OutputTree(UniqueFd root, std::string path) : m_root(std::move(root)), m_rootPath(std::move(path)) {}
    UniqueFd m_root;
    std::string m_rootPath;
    // Files are written folder by folder: the folders of the last path walked are kept open, one
    // per level, so the next folder (a child or a sibling) is reached from its nearest open
    // ancestor instead of from the root.
    std::vector<std::string> m_openNames;
    std::vector<UniqueFd> m_openFolders;
    // Files are made by their whole path through openat2 until the kernel turns out to lack it.
    bool m_beneathOpen = true;
};

}  // namespace kfr::storage
