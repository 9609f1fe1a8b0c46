// Implementation of the shared test helpers.
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace kfr::test {

std::string fixturePath(const std::string& name)
{
    const std::string path = std::string(KFR_FIXTURE_DIR) + "/" + name;
    if (!std::filesystem::exists(path)) ADD_FAILURE() << "fixture missing: " << path;
    return path;
}

std::vector<std::uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string fileDigest(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::uint64_t hash = 1469598103934665603ULL;
    std::uint64_t size = 0;
    char buf[1 << 16];
    while (in) {
        in.read(buf, sizeof buf);
        const std::streamsize n = in.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            hash ^= static_cast<std::uint8_t>(buf[i]);
            hash *= 1099511628211ULL;
        }
        size += static_cast<std::uint64_t>(n);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%016llx:%llu", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(size));
    return text;
}

WipedDisk writeWipedMixedDisk(const std::string& path)
{
    constexpr std::uint64_t kSector = 512;
    WipedDisk out;
    std::vector<std::uint8_t> disk(2048 * kSector, 0);
    std::uint64_t* starts[] = {&out.fat16At, &out.ntfsAt, &out.fat32At};
    int i = 0;
    for (const char* name : {"fat16_basic.img", "ntfs_basic.img", "fat32_basic.img"}) {
        auto bytes = readFileBytes(fixturePath(name));
        const std::uint64_t sectors = bytes.size() / kSector;
        std::vector<std::uint64_t> lost{0};
        if (std::string(name) == "ntfs_basic.img") lost.push_back(sectors - 1);
        if (std::string(name) == "fat32_basic.img") lost.push_back(6);
        for (std::uint64_t s : lost) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(s * kSector), kSector, 0);
        *starts[i++] = disk.size() / kSector;
        disk.insert(disk.end(), bytes.begin(), bytes.end());
    }
    out.sectors = disk.size() / kSector;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(disk.data()), static_cast<std::streamsize>(disk.size()));
    return out;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

CommandOutput runCommand(const std::string& commandLine, bool mergeStderr)
{
    CommandOutput r;
    const std::string command = commandLine + (mergeStderr ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

CommandOutput runCli(const std::string& args, bool mergeStderr)
{
    return runCommand(shellQuote(KFR_CLI_PATH) + " " + args, mergeStderr);
}

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    const auto base = std::filesystem::temp_directory_path() / "kfr-tests";
    std::filesystem::create_directories(base);
    m_path = (base / (std::to_string(::getpid()) + "-" + std::to_string(counter++))).string();
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

bool FaultySectorSource::read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const
{
    std::uint64_t left = m_readsLeft.load();
    while (left > 0 && left != UINT64_MAX && !m_readsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) return false;
    if (sector >= m_end) return false;
    for (std::uint64_t s = sector; s < sector + count; ++s)
        if (m_bad.count(s)) return false;
    if (sector + count > m_end) {
        // Short read at the early end: only the sectors before it arrive.
        const auto n = static_cast<std::uint32_t>(m_end - sector);
        return m_inner.read(sector, n, buffer.first(static_cast<std::size_t>(n) * storage::kSectorSize));
    }
    return m_inner.read(sector, count, buffer);
}

std::uint64_t FaultySectorSource::sectorCount() const
{
    return m_sizeHidden ? 0 : std::min(m_end, m_inner.sectorCount());
}

}  // namespace kfr::test
