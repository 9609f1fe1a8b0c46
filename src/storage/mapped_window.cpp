// Mapped windows of image files and the SIGBUS guard over them.
#include "storage/mapped_window.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace kfr::storage {

namespace {

constexpr std::size_t kMaxFaults = 256;

// What the handler needs, per thread and without constructors: the handler reads it while the
// thread is stopped anywhere, so it must never be created lazily.
struct GuardState {
    std::uintptr_t base;
    std::size_t length;
    std::uint64_t fileOffset;
    std::uint64_t faults[kMaxFaults];
    std::size_t faultCount;
    bool overflow;
    bool active;
};

[[gnu::tls_model("initial-exec")]] thread_local GuardState t_guard;

std::size_t g_pageBytes = 4096;
struct sigaction g_previous {};

void passOn(int signal, siginfo_t* info, void* context)
{
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // Nobody else handles it: put the default back; the faulting access runs again and ends the
    // process as it would have without the guard.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
}

void onBusError(int signal, siginfo_t* info, void* context)
{
    GuardState& g = t_guard;
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (g.active && info->si_code > 0 && address >= g.base && address - g.base < g.length) {
        const std::uintptr_t page = address & ~(static_cast<std::uintptr_t>(g_pageBytes) - 1);
        // A private page of zeros in place of the one that cannot be read: the faulting read is
        // retried by the processor when the handler returns and sees zeros.
        void* zeros = ::mmap(reinterpret_cast<void*>(page), g_pageBytes, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            if (g.faultCount < kMaxFaults) g.faults[g.faultCount++] = g.fileOffset + (page - g.base);
            else g.overflow = true;
            return;
        }
    }
    passOn(signal, info, context);
}

void installHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_pageBytes = pageBytes();
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previous);
    });
}

}  // namespace

std::size_t pageBytes()
{
    static const std::size_t bytes = [] {
        const long n = ::sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<std::size_t>(n) : std::size_t{4096};
    }();
    return bytes;
}

bool MappedWindow::map(int fd, std::uint64_t byteOffset, std::size_t length)
{
    unmap();
    const std::uint64_t start = byteOffset - byteOffset % pageBytes();
    const std::size_t total = length + static_cast<std::size_t>(byteOffset - start);
    if (total == 0) return false;
    void* base = ::mmap(nullptr, total, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) return false;
    m_base = static_cast<std::uint8_t*>(base);
    m_length = total;
    m_fileOffset = start;
    return true;
}

void MappedWindow::unmap()
{
    if (m_base) ::munmap(m_base, m_length);
    m_base = nullptr;
    m_length = 0;
    m_fileOffset = 0;
}

void MappedWindow::releasePages() const
{
    if (m_base) ::madvise(m_base, m_length, MADV_DONTNEED);
}

bool MappedWindow::covers(std::uint64_t byteOffset, std::size_t length) const
{
    return m_base && byteOffset >= m_fileOffset && byteOffset - m_fileOffset <= m_length &&
           length <= m_length - (byteOffset - m_fileOffset);
}

std::span<const std::uint8_t> MappedWindow::bytes(std::uint64_t byteOffset, std::size_t length) const
{
    return {m_base + (byteOffset - m_fileOffset), length};
}

bool MappedWindow::resident(std::uint64_t byteOffset, std::size_t length) const
{
    if (!covers(byteOffset, length) || length == 0) return false;
    const std::size_t page = pageBytes();
    const std::size_t from = static_cast<std::size_t>(byteOffset - m_fileOffset) / page * page;
    const std::size_t to = static_cast<std::size_t>(byteOffset - m_fileOffset) + length;
    const std::size_t pages = (to - from + page - 1) / page;
    // A small buffer on the stack for the usual block; larger spans are asked in pieces.
    unsigned char state[256];
    for (std::size_t done = 0; done < pages;) {
        const std::size_t n = std::min(pages - done, sizeof state);
        if (::mincore(m_base + from + done * page, n * page, state) != 0) return false;
        // Bit 0: the page is in the page cache and up to date.
        for (std::size_t i = 0; i < n; ++i)
            if (!(state[i] & 1)) return false;
        done += n;
    }
    return true;
}

MappedFaultGuard::MappedFaultGuard(const MappedWindow& window)
{
    installHandler();
    GuardState& g = t_guard;
    g.faultCount = 0;
    g.overflow = false;
    g.base = reinterpret_cast<std::uintptr_t>(window.base());
    g.length = window.length();
    g.fileOffset = window.fileOffset();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g.active = true;
}

MappedFaultGuard::~MappedFaultGuard()
{
    t_guard.active = false;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

MappedFaultGuard::Faults MappedFaultGuard::takeFaults()
{
    GuardState& g = t_guard;
    Faults out;
    out.pageOffsets.assign(g.faults, g.faults + g.faultCount);
    out.overflowed = g.overflow;
    g.faultCount = 0;
    g.overflow = false;
    return out;
}

}  // namespace kfr::storage
