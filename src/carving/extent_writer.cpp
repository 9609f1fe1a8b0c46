// The carving writer thread.
#include "carving/extent_writer.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace kfr::carving {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;
constexpr std::uint64_t kMaxQueuedBytes = 64ull << 20;

}  // namespace

ExtentWriter::ExtentWriter() : m_buffer(kPieceBytes + 2 * storage::kSectorSize), m_thread([this] { run(); }) {}

ExtentWriter::~ExtentWriter() { finish(); }

void ExtentWriter::submit(ExtentJob job)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_queue.empty() || m_queuedBytes < kMaxQueuedBytes; });
    m_queuedBytes += job.length;
    m_queue.push_back(std::move(job));
    m_changed.notify_all();
}

std::optional<Error> ExtentWriter::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void ExtentWriter::finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
}

void ExtentWriter::run()
{
    while (true) {
        ExtentJob job;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty()) return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        write(job);
        std::lock_guard lock(m_mutex);
        m_queuedBytes -= job.length;
        m_changed.notify_all();
    }
}

void ExtentWriter::write(ExtentJob& job)
{
    using storage::kSectorSize;
    if (failure()) {
        job.file->discard();
        std::lock_guard lock(m_mutex);
        m_shortfalls.emplace_back(job.index, CarvedOutcome::NotWritten);
        return;
    }
    std::optional<Error> failed;
    // Without a device (it went away and the search went on) every byte is a zero.
    const storage::SectorSource* source = job.source.get();
    const std::uint64_t known = source ? source->sectorCount() : 0;
    std::uint64_t done = 0;
    if (const int fd = kernelCopySource(source); fd >= 0 && !job.file->discardsBytes()) {
        auto copied = job.file->copyFrom(fd, job.firstByte, job.length);
        if (copied) done = *copied;
        else failed = copied.error();
    }
    while (done < job.length && !failed && !job.file->discardsBytes()) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes - done % kPieceBytes, job.length - done));
        const std::uint64_t at = job.firstByte + done;
        const std::uint64_t sector = at / kSectorSize;
        const std::size_t skip = static_cast<std::size_t>(at % kSectorSize);
        const auto count = static_cast<std::uint32_t>((skip + piece + kSectorSize - 1) / kSectorSize);
        const std::span<std::uint8_t> into(m_buffer.data(), static_cast<std::size_t>(count) * kSectorSize);
        // Past a medium's end (or where its size is unknown) a read leaves the buffer as it was.
        if (known == 0 || sector + count >= known) std::fill(into.begin(), into.end(), 0);
        if (source && !source->read(sector, count, into)) {
            // Sector by sector: only the ones that fail become zeros, as the scan saw them.
            for (std::uint32_t i = 0; i < count; ++i) {
                const auto one = into.subspan(static_cast<std::size_t>(i) * kSectorSize, kSectorSize);
                if (!source->read(sector + i, 1, one)) std::fill(one.begin(), one.end(), 0);
            }
        }
        if (auto written = job.file->write(Bytes(into.data() + skip, piece)); !written) failed = written.error();
        done += piece;
    }
    if (auto closed = job.file->close(); !closed && !failed) failed = closed.error();
    if (failed) {
        std::lock_guard lock(m_mutex);
        if (!m_failure) m_failure = failed;
        m_shortfalls.emplace_back(job.index, CarvedOutcome::Incomplete);
    }
}

int ExtentWriter::kernelCopySource(const storage::SectorSource* source)
{
    // Only a plain image file: a device, or a source that stands in for one (a test's faults),
    // is read through its own read() so the files hold what the scan saw.
    const auto* file = dynamic_cast<const storage::FileSectorSource*>(source);
    if (!file) return -1;
    if (file != m_copySource) {
        m_copySource = file;
        m_copyFd = storage::UniqueFd(::open(file->path().c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (m_copyFd && (::fstat(m_copyFd.get(), &st) != 0 || !S_ISREG(st.st_mode))) m_copyFd = storage::UniqueFd();
    }
    return m_copyFd ? m_copyFd.get() : -1;
}

}  // namespace kfr::carving
