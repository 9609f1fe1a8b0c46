// Closing descriptors.
#include "storage/unique_fd.h"

#include <cerrno>
#include <unistd.h>

namespace kfr::storage {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
    m_fd = fd;
}

int UniqueFd::close()
{
    const int fd = release();
    if (fd < 0 || ::close(fd) == 0 || errno == EINTR) return 0;
    return errno;
}

}  // namespace kfr::storage
