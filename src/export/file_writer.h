// The part of writing a recovered file that the FAT and NTFS writers share: the context of a
// run, the steps before the first byte (skip flag, collision step, count, progress), the target
// with its disk-full handling, and the copy of sector extents from the medium into the target.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "export/collision.h"
#include "export/output_file.h"
#include "export/safe_names.h"
#include "export/save_state.h"
#include "storage/mapped_window.h"
#include "storage/sector_source.h"
#include "volumes/cluster_chain.h"
#include "volumes/volume_parameters.h"

namespace kfr::exporting {

// An image file mapped whole for a save run. Its bytes are only handed to the kernel, never
// touched here, so a page that cannot be read fails that write instead of raising SIGBUS.
struct MappedImage {
    storage::MappedWindow window;
    std::uint64_t heldBytes = 0;  // mapped in by copies since the window's pages were last let go of
    // Lets go of the window's pages every 64 MiB mapped in: a run that saves gigabytes would
    // otherwise count all of them as its own memory. A copy maps in at least 64 KiB, as the
    // kernel maps the cached pages around the one a copy first touches.
    void noteCopied(std::uint64_t bytes)
    {
        heldBytes += std::max<std::uint64_t>(bytes, 64 << 10);
        if (heldBytes < (std::uint64_t{64} << 20)) return;
        window.releasePages();
        heldBytes = 0;
    }
};

// Everything a writer needs besides the file's own request. The medium is read through a source
// held for the whole run (read-only); the writers never write to it.
struct WriterContext {
    const storage::SectorSource* source = nullptr;
    const volumes::VolumeParameters* params = nullptr;
    // First sector past the volume; clusters from here on hold no data of it. 0: the source's end.
    std::uint64_t volumeEndSector = 0;
    SaveRunState* state = nullptr;          // required
    CollisionState* collisions = nullptr;   // needed when a request checks for an existing file
    CollisionPrompt* prompt = nullptr;
    SaveObserver* observer = nullptr;       // ignored in openingMode
    OutputFiles* files = nullptr;           // nullptr: the real file system
    // A reader of the volume's first FAT copy kept across the run's files (its sectors are read
    // once); null: each file reads the FAT sectors it needs.
    volumes::FatReader* fat = nullptr;
    // The source's image file mapped whole: where the kernel declines to copy between the files
    // (another file system), bytes go from the page cache to the output in one write instead of
    // being read into a buffer first. Null: they are read.
    MappedImage* image = nullptr;
    std::size_t maxNameBytes = kDefaultNameMaxBytes;
    // A temporary copy for opening is being written: no progress, no disk-full report.
    bool openingMode = false;
};

// Bytes the writers move per chunk, the unit in which an unreadable part of the medium is
// replaced by zeros: 4096 when a cluster holds 8 sectors or more, else 512.
std::uint32_t chunkBytesFor(std::uint32_t sectorsPerCluster);

// A stretch of the medium, in sectors, or a stretch of zeros (NTFS sparse runs).
struct SectorExtent {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
    bool zeros = false;
};

// One file from its first step to its end. Created by begin(); every later call is a no-op once
// the file has ended.
class FileSession {
public:
    // Notes the Skip presses so far (only later ones skip this file), with checkExisting creates
    // the target where its name is free and runs the collision step where it is not, counts the file (filesWritten) and shows
    // it. ended() is true when the collision step abandoned it.
    FileSession(const WriterContext& context, const std::string& targetPath, const std::string& displayName,
                std::uint64_t size, bool checkExisting);
    ~FileSession();
    FileSession(const FileSession&) = delete;
    FileSession& operator=(const FileSession&) = delete;

    bool ended() const { return m_ended; }
    FileOutcome outcome() const { return m_result.outcome; }
    const SaveFileInfo& info() const { return m_result.info; }
    const FileResult& result() const { return m_result; }

    // Why the file will come out short, when the writer knows it before copying (a chain that
    // names no data cluster); copy() finds the other reasons itself.
    void setShortReason(ShortReason reason) { m_result.reason = reason; }
    // The modification time the file gets when it is closed (seconds and nanoseconds since 1970).
    void setModifiedTime(const struct timespec& time) { m_modified = time; m_hasModified = true; }

    // Creates (truncates) the target. A full destination ends the file as DiskFull, which ends
    // the run; any other failure skips the file. False when ended.
    bool create();
    // Copies the extents into the target until size bytes are written or the extents end.
    // Bytes from initializedSize on are written as zeros (NTFS valid data length). A chunk that
    // cannot be read is written as zeros, so later bytes keep their offsets, and is noted in the
    // result's unreadable ranges.
    void copy(const std::vector<SectorExtent>& extents, std::uint64_t initializedSize = UINT64_MAX);
    // Writes bytes held in memory (NTFS resident data, decompressed units).
    void writeBytes(std::span<const std::uint8_t> bytes);
    // Writes zero bytes (NTFS sparse units of a compressed file); the target may get a hole.
    void writeZeros(std::uint64_t length);
    // Notes that bytes [offset, offset + length) of the file stand for data the medium could not
    // give (written as zeros).
    void noteUnreadable(std::uint64_t offset, std::uint64_t length);
    // The data is encrypted on the medium and is written as stored.
    void setEncrypted() { m_result.encrypted = true; }
    // Ends the file: NoData when nothing was created, Written otherwise (unless it already ended).
    // A file ended as Written with fewer bytes than its size is Incomplete.
    void finish(FileOutcome outcome = FileOutcome::Written);

private:
    bool stopRequested();
    // Appends length bytes from data, or zeros when data is null.
    bool writeOut(const std::uint8_t* data, std::uint64_t length);
    // Ends the file on a failed write: DiskFull, or WriteFailed with the problem shown.
    void failWrite(const Error& error);
    void reportBytes(bool force);
    void end(FileOutcome outcome);
    void reportDiskFull();
    SaveObserver* observer() const;

    const WriterContext& m_ctx;
    OutputFiles& m_files;
    FileResult m_result;
    SaveFileInfo& m_info = m_result.info;
    std::unique_ptr<OutputFile> m_out;
    std::unique_ptr<OutputFile> m_pending;  // made when the name was taken; create() takes it up
    struct timespec m_modified {};
    bool m_hasModified = false;
    std::uint64_t m_skipBaseline = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_lastPercent = UINT64_MAX;
    std::uint64_t m_lastReportedBytes = UINT64_MAX;
    std::int64_t m_lastReportMs = 0;
    bool m_ended = false;
};

// The first sector past the volume for this context.
std::uint64_t volumeEndOf(const WriterContext& context);

// Why data at or beyond volumeEndOf() cannot be read: the medium ends there (a cut-off image), or
// the volume does.
ShortReason pastEndReason(const WriterContext& context);

}  // namespace kfr::exporting
