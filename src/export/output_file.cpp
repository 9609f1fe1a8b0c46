// Output files on the real file system: O_NOFOLLOW so that a link planted under the name of a
// recovered file can never redirect the bytes elsewhere, and holes for runs of zeros.
#include "export/output_file.h"

#include "export/destination.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/output_files.h"

namespace kfr::exporting {

namespace {

using storage::outputError;

class PosixOutputFile final : public OutputFile {
public:
    PosixOutputFile(storage::UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
    ~PosixOutputFile() override { close(); }

    Status write(std::span<const std::uint8_t> bytes) override
    {
        std::size_t done = 0;
        return append(bytes, done, false);
    }

    Result<std::uint64_t> appendMapped(std::span<const std::uint8_t> bytes) override
    {
        std::size_t done = 0;
        if (const Status s = append(bytes, done, true); !s.ok()) return s.error();
        return std::uint64_t{done};
    }

    Result<std::uint64_t> appendFrom(int fd, std::uint64_t offset, std::uint64_t length) override
    {
        if (!m_fd) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        if (offset > static_cast<std::uint64_t>(INT64_MAX) || length > static_cast<std::uint64_t>(INT64_MAX) - offset)
            return std::uint64_t{0};
        std::uint64_t done = 0;
        while (done < length) {
            loff_t from = static_cast<loff_t>(offset + done);
            loff_t to = static_cast<loff_t>(m_length);
            const ssize_t n = ::copy_file_range(fd, &from, m_fd.get(), &to, static_cast<std::size_t>(length - done), 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (storage::isNoSpaceError(errno) || errno == EFBIG) return outputError(m_path, errno, ErrorKind::WriteFailed);
                break;  // declined (EXDEV, EINVAL, ENOSYS, EOPNOTSUPP) or a read error: the caller reads
            }
            if (n == 0) break;  // the source ends here
            done += static_cast<std::uint64_t>(n);
            m_length += static_cast<std::uint64_t>(n);
            m_dataEnd = m_length;
        }
        return done;
    }

    Status writeZeros(std::uint64_t byteCount) override
    {
        if (!m_fd) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        // Leave a hole; close() gives the file its length. File systems without holes fill the gap
        // with zeros when the next write or the final truncate reaches past it.
        if (byteCount > static_cast<std::uint64_t>(INT64_MAX) - m_length)
            return Error{ErrorKind::WriteFailed, 0, m_path, std::strerror(EFBIG)};
        m_length += byteCount;
        return okStatus();
    }

    void setModifiedTime(const struct timespec& time) override
    {
        m_modified = time;
        m_hasModified = true;
    }

    Status close() override
    {
        if (!m_fd) return okStatus();
        Status result = okStatus();
        // The file was created empty: only a hole at its end leaves it shorter than appended.
        if (m_dataEnd < m_length) {
            if (::ftruncate(m_fd.get(), static_cast<off_t>(m_length)) != 0)
                result = outputError(m_path, errno, ErrorKind::WriteFailed);
        }
        // Last, after every write: a later write would stamp the file with the time of writing.
        if (m_hasModified) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, m_modified};
            ::futimens(m_fd.get(), times);
        }
        if (const int err = m_fd.close(); err != 0 && result.ok()) result = outputError(m_path, err, ErrorKind::WriteFailed);
        return result;
    }

private:
    // Writes bytes at the end, counting in done what was appended. With sourceMayFault, the kernel
    // meeting a page of the source it cannot read (EFAULT) ends the append without an error.
    Status append(std::span<const std::uint8_t> bytes, std::size_t& done, bool sourceMayFault)
    {
        if (!m_fd) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        Status result = okStatus();
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(m_fd.get(), bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(m_length + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EFAULT && sourceMayFault) break;
                result = outputError(m_path, errno, ErrorKind::WriteFailed);
                break;
            }
            if (n == 0) {
                result = Error{ErrorKind::DiskFull, 0, m_path, std::strerror(ENOSPC)};
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        m_length += done;
        if (done) m_dataEnd = m_length;
        return result;
    }

    storage::UniqueFd m_fd;
    std::string m_path;
    std::uint64_t m_length = 0;
    std::uint64_t m_dataEnd = 0;  // end of the last bytes written (a hole may follow)
    struct timespec m_modified {};
    bool m_hasModified = false;
};

}  // namespace

Result<std::unique_ptr<OutputFile>> PosixOutputFiles::create(const std::string& path)
{
    auto fd = storage::createOutputFile(path, storage::CreateMode::Truncate);
    if (!fd) return fd.error();
    return std::unique_ptr<OutputFile>(std::make_unique<PosixOutputFile>(std::move(fd).value(), path));
}

Result<std::unique_ptr<OutputFile>> PosixOutputFiles::createNew(const std::string& path)
{
    auto fd = storage::createOutputFile(path, storage::CreateMode::Exclusive);
    if (!fd) return fd.error();
    if (!*fd) return std::unique_ptr<OutputFile>();
    return std::unique_ptr<OutputFile>(std::make_unique<PosixOutputFile>(std::move(fd).value(), path));
}

bool PosixOutputFiles::exists(const std::string& path) const
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool PosixOutputFiles::removeFile(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(path.c_str()) == 0;
}

Result<std::unique_ptr<OutputFile>> OutputFiles::createNew(const std::string& path)
{
    if (exists(path)) return std::unique_ptr<OutputFile>();
    return create(path);
}

OutputFiles& posixOutputFiles()
{
    static PosixOutputFiles files;  // stateless
    return files;
}

Status OutputFiles::makeFolders(const std::string& path)
{
    if (makeDirectoryPath(path)) return okStatus();
    return Error{ErrorKind::WriteFailed, 0, path, "the folder cannot be created"};
}

Result<std::unique_ptr<AnchoredOutputFiles>> AnchoredOutputFiles::open(const std::string& destination)
{
    auto tree = storage::OutputTree::open(destination);
    if (!tree) return tree.error();
    return std::unique_ptr<AnchoredOutputFiles>(new AnchoredOutputFiles(std::move(tree).value()));
}

Result<std::unique_ptr<AnchoredOutputFiles>> AnchoredOutputFiles::twin() const
{
    auto tree = m_tree.twin();
    if (!tree) return tree.error();
    return std::unique_ptr<AnchoredOutputFiles>(new AnchoredOutputFiles(std::move(tree).value()));
}

Result<std::unique_ptr<OutputFile>> AnchoredOutputFiles::create(const std::string& path)
{
    const auto relative = m_tree.relative(path);
    if (!relative) return posixOutputFiles().create(path);
    auto fd = m_tree.createFile(*relative, storage::CreateMode::Truncate);
    if (!fd) return fd.error();
    return std::unique_ptr<OutputFile>(std::make_unique<PosixOutputFile>(std::move(fd).value(), path));
}

Result<std::unique_ptr<OutputFile>> AnchoredOutputFiles::createNew(const std::string& path)
{
    const auto relative = m_tree.relative(path);
    if (!relative) return posixOutputFiles().createNew(path);
    auto fd = m_tree.createFile(*relative, storage::CreateMode::Exclusive);
    if (!fd) return fd.error();
    if (!*fd) return std::unique_ptr<OutputFile>();
    return std::unique_ptr<OutputFile>(std::make_unique<PosixOutputFile>(std::move(fd).value(), path));
}

bool AnchoredOutputFiles::exists(const std::string& path) const
{
    const auto relative = m_tree.relative(path);
    return relative ? m_tree.exists(*relative) : posixOutputFiles().exists(path);
}

bool AnchoredOutputFiles::removeFile(const std::string& path)
{
    const auto relative = m_tree.relative(path);
    return relative ? m_tree.removeFile(*relative) : posixOutputFiles().removeFile(path);
}

Status AnchoredOutputFiles::makeFolders(const std::string& path)
{
    const auto relative = m_tree.relative(path);
    if (!relative) return OutputFiles::makeFolders(path);
    return m_tree.makeFolder(*relative);
}

}  // namespace kfr::exporting
