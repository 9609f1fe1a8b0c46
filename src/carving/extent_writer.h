// Writing carved files on a thread of its own, so that the scan reads and probes the next
// blocks while the destination takes the last ones. A carved file is one run of the medium's
// bytes; the writer reads it again (from the page cache, as a rule: the scan read it moments
// before). From an image file the kernel copies the run (copy_file_range), so the bytes never
// pass through this process; otherwise, and for whatever the kernel could not copy (a read
// error), they are read and written in 1 MiB pieces at 1 MiB-aligned file offsets, unreadable
// sectors as zeros.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "carving/carved_output.h"
#include "storage/result.h"
#include "storage/sector_source.h"

namespace kfr::carving {

struct ExtentJob {
    std::shared_ptr<const storage::SectorSource> source;
    std::unique_ptr<CarvedFile> file;
    std::uint64_t firstByte = 0;
    std::uint64_t length = 0;
    std::size_t index = 0;  // the file's place in CarvedResults::allFiles
};

class ExtentWriter {
public:
    ExtentWriter();
    ~ExtentWriter();
    ExtentWriter(const ExtentWriter&) = delete;
    ExtentWriter& operator=(const ExtentWriter&) = delete;

    // Queues a file; waits while much is queued, so that the writer's reads stay in the page
    // cache and a full destination is noticed before many more files are made.
    void submit(ExtentJob job);
    // The first write failure; every file queued after it is removed and not written.
    std::optional<Error> failure() const;
    // Waits until every queued file is written or dropped, and ends the thread.
    void finish();
    // Files that were not written whole, by index, once finish has returned.
    const std::vector<std::pair<std::size_t, CarvedOutcome>>& shortfalls() const { return m_shortfalls; }

private:
    void run();
    void write(ExtentJob& job);
    // A descriptor of the image file behind source for kernel copies; -1 for anything else.
    int kernelCopySource(const storage::SectorSource* source);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ExtentJob> m_queue;
    std::uint64_t m_queuedBytes = 0;
    bool m_closing = false;
    std::optional<Error> m_failure;
    std::vector<std::pair<std::size_t, CarvedOutcome>> m_shortfalls;
    std::vector<std::uint8_t> m_buffer;
    const storage::SectorSource* m_copySource = nullptr;
    storage::UniqueFd m_copyFd;
    std::thread m_thread;
};

}  // namespace kfr::carving
