// Starting the desktop's opener for a file: fork and exec, no shell, so no character of a
// recovered file's name is ever interpreted.
#include "export/shell_open.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "storage/unique_fd.h"

namespace kfr::exporting {

namespace {

Error startError(const std::string& launcher, int err)
{
    return Error{ErrorKind::OpenFailed, 0, launcher, std::strerror(err)};
}

}  // namespace

Status openWithShell(int mode, const std::string& path, const std::string& launcher)
{
    if (path.empty()) return Error{ErrorKind::NotFound, 0, path, "Does not exist."};
    if (mode == 0) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return Error{ErrorKind::NotFound, 0, path, "Does not exist."};
    }
    // A name starting with '-' would be read by the launcher as an option.
    const std::string argument = path.front() == '-' ? "./" + path : path;

    // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
    std::vector<char*> argv{const_cast<char*>(launcher.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return startError(launcher, errno);
    storage::UniqueFd reportRead(ends[0]);
    storage::UniqueFd reportWrite(ends[1]);

    // Fork twice: the middle process exits at once, so the launcher is adopted by init and
    // never lingers as a zombie of ours, and we need not wait for the program it starts.
    const pid_t middle = ::fork();
    if (middle < 0) return startError(launcher, errno);
    if (middle == 0) {
        const pid_t opener = ::fork();
        if (opener == 0) {
            ::setsid();  // Ctrl+C in our terminal must not reach the viewer
            ::execvp(argv[0], argv.data());
            const int err = errno;
            [[maybe_unused]] const ssize_t n = ::write(reportWrite.get(), &err, sizeof err);
            ::_exit(127);
        }
        ::_exit(opener < 0 ? 1 : 0);
    }
    reportWrite.reset();
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without data when exec succeeded (close-on-exec); otherwise it carries errno.
    int err = 0;
    ssize_t got;
    do {
        got = ::read(reportRead.get(), &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof err)) return startError(launcher, err);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return startError(launcher, EAGAIN);
    return okStatus();
}

}  // namespace kfr::exporting
