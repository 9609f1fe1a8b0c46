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

// What the launcher's processes report through the pipe.
constexpr int kExecFailed = 1;  // value: errno of exec
constexpr int kExited = 2;      // value: the launcher's exit status
struct LaunchReport {
    int kind = 0;
    int value = 0;
};
// How long the launcher is watched for an early exit.
constexpr int kWatchMs = 3000;
constexpr int kPollMs = 20;

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

    // Fork twice: the middle process watches the launcher for a moment and then exits, so the
    // launcher is adopted by init and never lingers as a zombie of ours, and we need not wait for
    // the program it starts. A launcher that gives up at once (no program for this type of file)
    // is seen in that moment and its exit status reported.
    const pid_t middle = ::fork();
    if (middle < 0) return startError(launcher, errno);
    if (middle == 0) {
        const pid_t opener = ::fork();
        if (opener == 0) {
            ::setsid();  // Ctrl+C in our terminal must not reach the viewer
            ::execvp(argv[0], argv.data());
            const LaunchReport failed{kExecFailed, errno};
            [[maybe_unused]] const ssize_t n = ::write(reportWrite.get(), &failed, sizeof failed);
            ::_exit(127);
        }
        if (opener < 0) ::_exit(1);
        for (int waited = 0; waited < kWatchMs; waited += kPollMs) {
            int status = 0;
            if (::waitpid(opener, &status, WNOHANG) == opener) {
                const LaunchReport exited{kExited, WIFEXITED(status) ? WEXITSTATUS(status) : 128};
                [[maybe_unused]] const ssize_t n = ::write(reportWrite.get(), &exited, sizeof exited);
                break;
            }
            ::usleep(kPollMs * 1000);
        }
        ::_exit(0);
    }
    reportWrite.reset();
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // Reports until both writers are gone: the launcher's end closes on exec (close-on-exec).
    LaunchReport report{};
    LaunchReport got{};
    for (;;) {
        const ssize_t n = ::read(reportRead.get(), &got, sizeof got);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof got)) break;
        if (report.kind != kExecFailed) report = got;
    }
    if (report.kind == kExecFailed) return startError(launcher, report.value);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return startError(launcher, EAGAIN);
    if (report.kind == kExited && report.value != 0)
        return Error{ErrorKind::NotFound, 0, path,
                     launcher + " found no program to open this type of file (exit status " +
                         std::to_string(report.value) + ")"};
    return okStatus();
}

}  // namespace kfr::exporting
