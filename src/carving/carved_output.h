// Where carved files go and how they are listed: the folders under the destination, the
// numbered names, the per-type summary (FileTypesTable), the list of carved files with its
// clearing every 2,000 entries, and the writer that streams carved bytes into files.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "carving/signature_file.h"
#include "storage/bytes.h"
#include "storage/progress.h"
#include "storage/result.h"

namespace kfr::carving {

// The General pass uses the General file; the Thorough pass, whose files are stored under
// "Omitted", the Thorough file.
enum class CarvePass { General, Thorough };

// "General" or "Omitted": the folder of the pass.
const char* passFolderWord(CarvePass pass);

inline constexpr const char* kOutputRootFolder = "Kestravon FAT Recovery";
inline constexpr const char* kSignatureSearchFolder = "Signature Search";
inline constexpr std::size_t kResultListLimit = 2000;

// destination + "/Kestravon FAT Recovery/Signature Search/General/" (or ".../Omitted/").
std::string passFolder(const std::string& destination, CarvePass pass);
// destination + "/Kestravon FAT Recovery/Signature Search/": where the reports go.
std::string searchFolder(const std::string& destination);

// One row of the per-type summary. Counters are numbers here; the screen shows them as text.
struct FileTypeRow {
    std::string fileTypes;         // "File Types": the extension key, upper case
    std::uint64_t filesFound = 0;  // "No. of files found"
    std::string nameOfFile;        // "Name of file": the last file listed
    std::string pathOfFileSaved;   // "Path of file saved"
    std::uint64_t lastFileNo = 0;  // "LastfileNo": number of the last file named
    std::uint64_t count = 0;       // "Count"
    std::string folderName;        // "FolderName"
    std::string iconIndex;         // "ICON_INDX": filled by the screen
};

struct FileTypesTable {
    std::vector<FileTypeRow> rows;
    FileTypeRow* find(std::string_view key);
    const FileTypeRow* find(std::string_view key) const;
};

// One row per ticked type, in list order. Returns the number of rows added.
std::size_t addTickedTypes(FileTypesTable& table, const ExtensionList& list);

// Names the next file of a type: "JPG00001.JPG", numbering per type across both passes.
// A type without a row (its records were loaded although it is not listed) gets a row, so
// its files are still numbered apart.
std::string nameCarvedFile(FileTypesTable& table, std::string_view key);

// How much of a carved file reached the destination.
enum class CarvedOutcome {
    Written,     // all of it
    Incomplete,  // cut short by a failed write (a full destination)
    NotWritten,  // queued after a failed write: removed, nothing written
};

struct CarvedResult {
    std::string name;       // "JPG00001.JPG"
    std::string savedPath;  // full path of the written file ("" when nothing was written)
    CarvePass pass = CarvePass::General;
    std::uint64_t firstSector = 0;  // the sector of the medium where its header was found
    std::string type;               // its type folder ("JPG"; "DOCX" for a ZIP its members name)
    std::uint64_t byteOffset = 0;   // where it starts on the medium
    std::uint64_t length = 0;       // its bytes
    bool endFound = false;          // cut where its own structure ends (exact ends)
    CarvedOutcome outcome = CarvedOutcome::Written;
};

// What the Signature Search screen lists. generalFound and thoroughFound count the files the
// passes finished; after a clearing they count what the current list holds, so that a list
// position still tells which pass (and folder) an item belongs to.
struct CarvedResults {
    FileTypesTable fileTypes;
    std::vector<CarvedResult> resultList;
    std::uint64_t generalFound = 0;
    std::uint64_t thoroughFound = 0;
    // Files of each pass since the search began, never reduced by a clearing.
    std::uint64_t generalTotal = 0;
    std::uint64_t thoroughTotal = 0;
    // Every file of the search in the order they were finished, never cleared: the report.
    std::vector<CarvedResult> allFiles;

    void clear();
};

// Told about carved files as they are finished, and about the result list being cleared.
class CarveObserver : public ScanObserver {
public:
    virtual void onCarved(const CarvedResult& /*result*/) {}
    // The result list was just emptied (every 2,000 files); the file that caused it follows as
    // the first item of the new list.
    virtual void onResultsCleared() {}
};

// Lists a finished file: clears the list first when it already holds 2,000 items, then
// updates the row of the result's type and appends the item.
void addCarvedResult(CarvedResults& results, CarvedResult result, CarveObserver* observer);
void addCarvedResult(CarvedResults& results, std::string_view key, const std::string& name,
                     const std::string& savedPath, CarvePass pass, CarveObserver* observer,
                     std::uint64_t firstSector = 0);

// The type folder of a carved name: its extension, upper case, plus the part of its base name
// from the first underscore on when there is one after the first character ("JPG").
std::string typeFolderOf(const std::string& name);

// Path of the item at position (0-based) of the result list, as a double-click opens it.
// NotFound for an item without a name or without a dot in it.
Result<std::string> carvedResultPath(const std::string& destination, std::size_t position,
                                     std::uint64_t generalFound, const std::string& name);

// --- Writing carved bytes ---

class CarvedFile {
public:
    virtual ~CarvedFile() = default;
    virtual Status write(Bytes bytes) = 0;
    virtual Status close() = 0;
    // Removes the file: it was made but none of it will be written.
    virtual void discard() {}
    // True for a file that throws its bytes away, so nobody need read them.
    virtual bool discardsBytes() const { return false; }
    // Appends length bytes of the open file sourceFd from byteOffset on without passing them
    // through memory (copy_file_range). Returns how many were copied: fewer (0 included) when
    // the kernel cannot copy between these files or the source fails to read, so the caller
    // copies the rest itself; an error only when writing failed.
    virtual Result<std::uint64_t> copyFrom(int /*sourceFd*/, std::uint64_t /*byteOffset*/, std::uint64_t /*length*/)
    {
        return std::uint64_t{0};
    }
};

struct CreatedFile {
    std::unique_ptr<CarvedFile> file;  // null when the name is taken
    std::string savedPath;
};

// Creates carved files. A sink never replaces an existing file: it answers "taken" (a null
// file) and the caller names the next number.
class CarvedFileSink {
public:
    virtual ~CarvedFileSink() = default;
    virtual Result<CreatedFile> create(CarvePass pass, const std::string& key, const std::string& name) = 0;
};

// Writes under destination/Kestravon FAT Recovery/Signature Search/<pass>/<type>/<name>,
// creating the folders. Files are created exclusively and never through a symbolic link, and
// the folders it makes must be real folders, so nothing lands outside the destination. A full
// disk is reported as DiskFull, any other failure as WriteFailed.
class FolderSink final : public CarvedFileSink {
public:
    explicit FolderSink(std::string destination) : m_destination(std::move(destination)) {}
    Result<CreatedFile> create(CarvePass pass, const std::string& key, const std::string& name) override;

private:
    Status ensureFolder(const std::string& path);
    std::string m_destination;
    std::set<std::string> m_madeFolders;
};

// Accepts and forgets everything (to measure the scan alone).
class DiscardSink final : public CarvedFileSink {
public:
    Result<CreatedFile> create(CarvePass pass, const std::string& key, const std::string& name) override;
};

}  // namespace kfr::carving
