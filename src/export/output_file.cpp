// Output files on the real file system: O_NOFOLLOW so that a link planted under the name of a
// recovered file can never redirect the bytes elsewhere, and holes for runs of zeros.
#include "export/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kfr::exporting {

namespace {

Error ioError(const std::string& path, int err, ErrorKind otherwise)
{
    return Error{isNoSpaceError(err) ? ErrorKind::DiskFull : otherwise, 0, path, std::strerror(err)};
}

class PosixOutputFile final : public OutputFile {
public:
    PosixOutputFile(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    ~PosixOutputFile() override { close(); }

    Status write(std::span<const std::uint8_t> bytes) override
    {
        if (m_fd < 0) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(m_length + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                const int err = errno;
                m_length += done;
                return ioError(m_path, err, ErrorKind::WriteFailed);
            }
            if (n == 0) {
                m_length += done;
                return Error{ErrorKind::DiskFull, 0, m_path, std::strerror(ENOSPC)};
            }
            done += static_cast<std::size_t>(n);
        }
        m_length += done;
        return okStatus();
    }

    Status writeZeros(std::uint64_t byteCount) override
    {
        if (m_fd < 0) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        // Leave a hole; close() gives the file its length. File systems without holes fill the gap
        // with zeros when the next write or the final truncate reaches past it.
        if (byteCount > static_cast<std::uint64_t>(INT64_MAX) - m_length)
            return Error{ErrorKind::WriteFailed, 0, m_path, std::strerror(EFBIG)};
        m_length += byteCount;
        return okStatus();
    }

    Status close() override
    {
        if (m_fd < 0) return okStatus();
        Status result = okStatus();
        struct stat st {};
        if (::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < m_length) {
            if (::ftruncate(m_fd, static_cast<off_t>(m_length)) != 0) result = ioError(m_path, errno, ErrorKind::WriteFailed);
        }
        if (::close(m_fd) != 0 && result.ok() && errno != EINTR) result = ioError(m_path, errno, ErrorKind::WriteFailed);
        m_fd = -1;
        return result;
    }

private:
    int m_fd = -1;
    std::string m_path;
    std::uint64_t m_length = 0;
};

}  // namespace

bool isNoSpaceError(int err)
{
    return err == ENOSPC || err == EDQUOT;
}

Result<std::unique_ptr<OutputFile>> PosixOutputFiles::create(const std::string& path)
{
    // O_NONBLOCK: a named pipe under the target's name must not hang the run; only a regular
    // file is written.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return ioError(path, errno, ErrorKind::OpenFailed);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error{ErrorKind::OpenFailed, 0, path, "not a regular file"};
    }
    if (::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        return ioError(path, err, ErrorKind::OpenFailed);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<OutputFile>(std::make_unique<PosixOutputFile>(fd, path));
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

OutputFiles& posixOutputFiles()
{
    static PosixOutputFiles files;  // stateless
    return files;
}

}  // namespace kfr::exporting
