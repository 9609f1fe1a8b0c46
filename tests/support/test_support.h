// Shared test helpers: fixture paths, a sector source that fails where told, a recording
// observer, and a file digest for proving a medium was not changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "storage/progress.h"
#include "storage/sector_source.h"

namespace kfr::test {

// Path of an unpacked fixture image ("fat16_basic.img"); fails the test when it is missing.
std::string fixturePath(const std::string& name);

// 64-bit FNV-1a digest of a whole file plus its size; enough to notice any write.
std::string fileDigest(const std::string& path);

// Reads all bytes of a file.
std::vector<std::uint8_t> readFileBytes(const std::string& path);

// A disk whose partition table and boot sectors are gone: 2048 zero sectors, then the FAT16, NTFS
// and FAT32 fixture volumes side by side with their boot sectors (NTFS's copy at its end, FAT32's
// backup six sectors in) zeroed. Written to path; gives each volume's first sector and the size.
struct WipedDisk {
    std::uint64_t fat16At = 0;
    std::uint64_t ntfsAt = 0;
    std::uint64_t fat32At = 0;
    std::uint64_t sectors = 0;
};
WipedDisk writeWipedMixedDisk(const std::string& path);

// Quotes text for a shell command line.
std::string shellQuote(const std::string& text);

// Runs a shell command line and captures its standard output (and standard error when
// mergeStderr); exitCode is -1 when it did not exit normally.
struct CommandOutput {
    int exitCode = -1;
    std::string out;
};
CommandOutput runCommand(const std::string& commandLine, bool mergeStderr);

// Runs kestravon-cli with the given arguments.
CommandOutput runCli(const std::string& args, bool mergeStderr = true);

// A fresh empty folder under the test temp area, removed by the caller's TempDir.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Wraps a source and fails reads that touch chosen sectors; can also end the medium early, or
// hide its size as a device that cannot tell it does.
class FaultySectorSource final : public storage::SectorSource {
public:
    explicit FaultySectorSource(const storage::SectorSource& inner) : m_inner(inner) {}
    void failSector(std::uint64_t sector) { m_bad.insert(sector); }
    void failSectors(std::uint64_t first, std::uint64_t count)
    {
        for (std::uint64_t s = first; s < first + count; ++s) m_bad.insert(s);
    }
    void heal() { m_bad.clear(); }
    void truncateAt(std::uint64_t sector) { m_end = sector; }
    void hideSize() { m_sizeHidden = true; }
    // After this many reads the medium is gone, as an unplugged disk: every read fails and
    // present() says so.
    void disappearAfter(std::uint64_t reads) { m_readsLeft = reads; }

    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override;
    std::uint64_t sectorCount() const override;
    const std::string& path() const override { return m_inner.path(); }
    bool present() const override { return m_readsLeft > 0; }

private:
    const storage::SectorSource& m_inner;
    std::set<std::uint64_t> m_bad;
    std::uint64_t m_end = UINT64_MAX;
    bool m_sizeHidden = false;
    mutable std::atomic<std::uint64_t> m_readsLeft{UINT64_MAX};
};

class RecordingObserver : public ScanObserver {
public:
    void onStage(WorkStage stage) override { stages.push_back(stage); }
    void onStatus(StatusLine, std::uint64_t value) override { statusValues.push_back(value); }
    void onProgress(std::uint64_t position, std::uint64_t, std::uint64_t high) override
    {
        ++progressCalls;
        lastPosition = position;
        lastHigh = high;
    }
    void onProblem(const Error& e) override { problems.push_back(e); }

    std::vector<WorkStage> stages;
    std::vector<std::uint64_t> statusValues;
    std::vector<Error> problems;
    std::uint64_t progressCalls = 0;
    std::uint64_t lastPosition = 0;
    std::uint64_t lastHigh = 0;
};

}  // namespace kfr::test
