// Output folders, numbered names, the per-type summary and the list of carved files, and the
// writer that puts carved bytes on disk.
#include "carving/carved_output.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/output_files.h"
#include "storage/output_names.h"
#include "storage/sector_source.h"

namespace kfr::carving {

namespace {

bool sameKey(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

std::string withSlash(const std::string& folder)
{
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

Error writeError(const std::string& path, int err)
{
    return storage::outputError(path, err, ErrorKind::WriteFailed);
}

class DescriptorFile final : public CarvedFile {
public:
    DescriptorFile(storage::UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}

    Status write(Bytes bytes) override
    {
        if (!m_fd) return Error{ErrorKind::WriteFailed, 0, m_path, "file is closed"};
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd.get(), bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return writeError(m_path, errno);
            }
            if (n == 0) return writeError(m_path, ENOSPC);
            done += static_cast<std::size_t>(n);
        }
        return okStatus();
    }

    Status close() override
    {
        if (const int err = m_fd.close(); err != 0) return writeError(m_path, err);
        return okStatus();
    }

    void discard() override
    {
        m_fd.close();
        ::unlink(m_path.c_str());
    }

    Result<std::uint64_t> copyFrom(int sourceFd, std::uint64_t byteOffset, std::uint64_t length) override
    {
        // Large requests: the kernel moves the pages itself, and each call costs a system call.
        constexpr std::uint64_t kRequestBytes = 16u << 20;
        std::uint64_t done = 0;
        while (m_fd && done < length) {
            auto from = static_cast<off_t>(byteOffset + done);
            const ssize_t n = ::copy_file_range(sourceFd, &from, m_fd.get(), nullptr,
                                                static_cast<std::size_t>(std::min(kRequestBytes, length - done)), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) return writeError(m_path, errno);
            if (n <= 0) break;  // the end of the source, a read error, or no kernel copy here
            done += static_cast<std::uint64_t>(n);
        }
        return done;
    }

private:
    storage::UniqueFd m_fd;
    std::string m_path;
};

class DiscardedFile final : public CarvedFile {
public:
    Status write(Bytes) override { return okStatus(); }
    Status close() override { return okStatus(); }
    bool discardsBytes() const override { return true; }
};

}  // namespace

const char* passFolderWord(CarvePass pass)
{
    return pass == CarvePass::General ? "General" : "Omitted";
}

std::string passFolder(const std::string& destination, CarvePass pass)
{
    return withSlash(destination) + kOutputRootFolder + "/" + kSignatureSearchFolder + "/" + passFolderWord(pass) +
           "/";
}

std::string searchFolder(const std::string& destination)
{
    return withSlash(destination) + kOutputRootFolder + "/" + kSignatureSearchFolder + "/";
}

FileTypeRow* FileTypesTable::find(std::string_view key)
{
    for (auto& row : rows)
        if (sameKey(row.fileTypes, key)) return &row;
    return nullptr;
}

const FileTypeRow* FileTypesTable::find(std::string_view key) const
{
    for (const auto& row : rows)
        if (sameKey(row.fileTypes, key)) return &row;
    return nullptr;
}

std::size_t addTickedTypes(FileTypesTable& table, const ExtensionList& list)
{
    std::size_t added = 0;
    for (const auto& ext : list.rows) {
        if (!ext.ticked) continue;
        FileTypeRow row;
        row.fileTypes = ext.key;
        row.folderName = ext.key;
        table.rows.push_back(std::move(row));
        ++added;
    }
    return added;
}

std::string nameCarvedFile(FileTypesTable& table, std::string_view key)
{
    FileTypeRow* row = table.find(key);
    if (!row) {
        FileTypeRow fresh;
        fresh.fileTypes = std::string(key);
        fresh.folderName = fresh.fileTypes;
        table.rows.push_back(std::move(fresh));
        row = &table.rows.back();
    }
    row->lastFileNo += 1;
    return storage::numberedName(key, row->lastFileNo, "", key);
}

void CarvedResults::clear()
{
    fileTypes.rows.clear();
    resultList.clear();
    generalFound = thoroughFound = 0;
    generalTotal = thoroughTotal = 0;
    allFiles.clear();
}

void addCarvedResult(CarvedResults& results, std::string_view key, const std::string& name,
                     const std::string& savedPath, CarvePass pass, CarveObserver* observer,
                     std::uint64_t firstSector)
{
    CarvedResult result;
    result.name = name;
    result.savedPath = savedPath;
    result.pass = pass;
    result.firstSector = firstSector;
    result.byteOffset = firstSector * storage::kSectorSize;
    result.type = std::string(key);
    addCarvedResult(results, std::move(result), observer);
}

void addCarvedResult(CarvedResults& results, CarvedResult result, CarveObserver* observer)
{
    const CarvePass pass = result.pass;
    if (results.resultList.size() >= kResultListLimit) {
        // The list keeps only what came after the clearing, so the counters that map list
        // positions to passes are moved down with it. In the Thorough pass the cleared list
        // held generalFound General items and the rest Thorough ones; taking away only those
        // Thorough ones keeps thoroughFound from going below the one new item.
        const std::uint64_t dropped = results.resultList.size();
        if (pass == CarvePass::General) {
            results.generalFound = results.generalFound > dropped ? results.generalFound - dropped : 0;
        } else {
            const std::uint64_t thoroughDropped = dropped > results.generalFound ? dropped - results.generalFound : 0;
            results.thoroughFound =
                results.thoroughFound > thoroughDropped ? results.thoroughFound - thoroughDropped : 0;
            results.generalFound = 0;
        }
        results.resultList.clear();
        if (observer) observer->onResultsCleared();
    }
    if (FileTypeRow* row = results.fileTypes.find(result.type)) {
        row->filesFound += 1;
        row->nameOfFile = result.name;
        row->pathOfFileSaved = result.savedPath;
    }
    results.allFiles.push_back(result);
    results.resultList.push_back(std::move(result));
    if (observer) observer->onCarved(results.resultList.back());
}

std::string typeFolderOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string folder = name.substr(dot + 1);
    for (char& c : folder)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    const std::string base = name.substr(0, dot);
    const auto underscore = base.find('_');
    if (underscore != std::string::npos && underscore > 0) folder += base.substr(underscore);
    return folder;
}

Result<std::string> carvedResultPath(const std::string& destination, std::size_t position,
                                     std::uint64_t generalFound, const std::string& name)
{
    if (name.empty() || name.find('.') == std::string::npos || name.find('/') != std::string::npos)
        return Error{ErrorKind::NotFound, 0, name, "no carved file at this position"};
    const CarvePass pass =
        static_cast<std::uint64_t>(position) + 1 <= generalFound ? CarvePass::General : CarvePass::Thorough;
    return passFolder(destination, pass) + typeFolderOf(name) + "/" + name;
}

Status FolderSink::ensureFolder(const std::string& path)
{
    if (m_madeFolders.count(path)) return okStatus();
    if (auto made = storage::makeRealFolder(path); !made) return made.error();
    m_madeFolders.insert(path);
    return okStatus();
}

Result<CreatedFile> FolderSink::create(CarvePass pass, const std::string& key, const std::string& name)
{
    if (key.empty() || key.find('/') != std::string::npos || key == "." || key == ".." ||
        name.find('/') != std::string::npos)
        return Error{ErrorKind::InvalidArgument, 0, name, "unsafe carved file name"};
    std::string folder = withSlash(m_destination) + kOutputRootFolder;
    if (!m_madeFolders.count(folder)) {
        // Only inside a destination that exists: the output root is never made along with it.
        struct stat st {};
        if (::stat(m_destination.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Error{ErrorKind::WriteFailed, 0, m_destination, "the destination folder does not exist"};
    }
    for (const std::string& part : {std::string(kSignatureSearchFolder), std::string(passFolderWord(pass)), key}) {
        if (auto made = ensureFolder(folder); !made) return made.error();
        folder += "/" + part;
    }
    if (auto made = ensureFolder(folder); !made) return made.error();
    const std::string path = folder + "/" + name;
    auto created = storage::createOutputFile(path, storage::CreateMode::Exclusive);
    if (!created) {
        // Carved output reports every failure that is not a full disk as a failed write.
        Error e = created.error();
        if (e.kind != ErrorKind::DiskFull) e.kind = ErrorKind::WriteFailed;
        return e;
    }
    if (!*created) return CreatedFile{nullptr, path};  // taken by an earlier search
    return CreatedFile{std::make_unique<DescriptorFile>(std::move(created).value(), path), path};
}

Result<CreatedFile> DiscardSink::create(CarvePass, const std::string&, const std::string&)
{
    return CreatedFile{std::make_unique<DiscardedFile>(), std::string()};
}

}  // namespace kfr::carving
