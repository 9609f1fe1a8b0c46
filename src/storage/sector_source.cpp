// File and block-device sector sources: O_RDONLY descriptors read with pread.
#include "storage/sector_source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kfr::storage {

namespace {

Error openError(const std::string& path, int err)
{
    Error e;
    e.path = path;
    e.detail = std::strerror(err);
    e.kind = (err == EACCES || err == EPERM) ? ErrorKind::PermissionDenied : ErrorKind::OpenFailed;
    return e;
}

}  // namespace

Result<std::unique_ptr<FileSectorSource>> FileSectorSource::open(const std::string& path)
{
    // Read-only and nothing else: the medium being recovered must never be written. O_NONBLOCK
    // so that a named pipe given by mistake fails its type check instead of waiting for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return openError(path, errno);

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return openError(path, errno);
    std::uint64_t size = 0;
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) == 0) size = bytes;
    } else if (S_ISREG(st.st_mode)) {
        size = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        return Error{ErrorKind::OpenFailed, 0, path, "is a folder, not a disk or image file"};
    } else {
        return Error{ErrorKind::OpenFailed, 0, path, "is not a disk, a partition or an image file"};
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    auto source = std::unique_ptr<FileSectorSource>(new FileSectorSource(std::move(fd), path, size));
    source->m_device = st.st_dev;
    source->m_inode = st.st_ino;
    source->m_rdev = st.st_rdev;
    source->m_blockDevice = S_ISBLK(st.st_mode);
    return source;
}

FileSectorSource::FileSectorSource(UniqueFd fd, std::string path, std::uint64_t byteSize)
    : m_fd(std::move(fd)), m_path(std::move(path)), m_byteSize(byteSize),
      m_sectorCount((byteSize + kSectorSize - 1) / kSectorSize)
{
}

bool FileSectorSource::read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const
{
    const std::uint64_t want = static_cast<std::uint64_t>(count) * kSectorSize;
    if (buffer.size() < want) return false;
    if (count == 0) return true;
    if (sector > (UINT64_MAX >> 9)) return false;
    std::uint64_t offset = byteOffsetOf(sector);
    std::uint64_t done = 0;
    while (done < want) {
        const ssize_t n = ::pread(m_fd.get(), buffer.data() + done, want - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;  // end of medium: the tail keeps what it held
        done += static_cast<std::uint64_t>(n);
    }
    return done > 0;
}

bool FileSectorSource::present() const
{
    // A disk unplugged: its node disappears, or the name comes back for another device.
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) return false;
    if (m_blockDevice) {
        std::uint64_t bytes = 0;
        return S_ISBLK(st.st_mode) && st.st_rdev == m_rdev && ::ioctl(m_fd.get(), BLKGETSIZE64, &bytes) == 0;
    }
    return st.st_dev == m_device && st.st_ino == m_inode;
}

std::optional<ImageFile> FileSectorSource::imageFile() const
{
    if (m_blockDevice) return std::nullopt;
    return ImageFile{m_fd.get(), m_byteSize};
}

std::optional<SectorBytes> readOneSector(const SectorSource& source, std::uint64_t sector)
{
    SectorBytes bytes{};
    if (!source.read(sector, 1, bytes)) return std::nullopt;
    return bytes;
}

bool readSectors(const std::string& path, std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer)
{
    auto src = FileSectorSource::open(path);
    if (!src) return false;
    return (*src)->read(sector, count, buffer);
}

Result<std::unique_ptr<SectorSource>> openSource(const std::string& path)
{
    auto src = FileSectorSource::open(path);
    if (!src) return src.error();
    return std::unique_ptr<SectorSource>(std::move(src).value());
}

}  // namespace kfr::storage
