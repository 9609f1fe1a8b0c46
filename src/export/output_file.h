// Where recovered bytes go: an interface over the destination file system, so that a full disk
// or a refused name can be shown to the writers without a real full disk, and the POSIX one.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>

#include "storage/output_files.h"
#include "storage/result.h"

namespace kfr::exporting {

// One output file, written front to back.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Appends bytes. A full destination gives ErrorKind::DiskFull, any other failure WriteFailed.
    virtual Status write(std::span<const std::uint8_t> bytes) = 0;
    // Appends byteCount zero bytes. Implementations may leave a hole instead of writing them.
    virtual Status writeZeros(std::uint64_t byteCount) = 0;
    // Appends up to length bytes of the file fd holds, from offset, copied inside the kernel.
    // Returns how many were appended: fewer than length (0 too) when the kernel declines (another
    // file system type, an old kernel), the source ends or fails to read; the caller writes the
    // rest itself. An error only for the destination: DiskFull or WriteFailed as write() gives.
    virtual Result<std::uint64_t> appendFrom(int /*fd*/, std::uint64_t /*offset*/, std::uint64_t /*length*/)
    {
        return std::uint64_t{0};
    }
    // Appends bytes of a file mapped into memory: as write(), except that a page of the mapped
    // file that cannot be read (cut off, an I/O error) ends the append early instead of failing
    // it. Returns how many bytes were appended; the caller reads the rest itself. Only an output
    // that hands the bytes to the kernel without touching them may take mapped bytes: touching a
    // page that cannot be read ends the process. The others append nothing.
    virtual Result<std::uint64_t> appendMapped(std::span<const std::uint8_t> /*bytes*/) { return std::uint64_t{0}; }
    // The modification time the file keeps once closed. Best effort: a file system that cannot
    // store it keeps the time of writing.
    virtual void setModifiedTime(const struct timespec& /*time*/) {}
    // Makes the file as long as what was appended and closes it; later calls do nothing.
    virtual Status close() = 0;
};

class OutputFiles {
public:
    virtual ~OutputFiles() = default;
    // Creates path for writing, truncating a file already there. Never follows a symbolic link
    // at path. A full destination gives ErrorKind::DiskFull; anything else OpenFailed.
    virtual Result<std::unique_ptr<OutputFile>> create(const std::string& path) = 0;
    // Creates path only when the name is free: no file when anything already has it (the caller
    // then takes the collision path). The name is taken in the same step as it is tested, so no
    // other writer can come between. Errors as create gives them.
    virtual Result<std::unique_ptr<OutputFile>> createNew(const std::string& path);
    // Whether anything (file, folder, link) has this name.
    virtual bool exists(const std::string& path) const = 0;
    // Removes a file (not a folder); false when there was none or it could not be removed.
    virtual bool removeFile(const std::string& path) = 0;
    // Makes the folder and every missing folder above it; fails when it cannot stand there as a
    // folder.
    virtual Status makeFolders(const std::string& path);
    // The destination itself was removed while files were being written into it.
    virtual bool destinationGone() const { return false; }
};

// The destination file systems of the machine. Stateless; one instance serves every thread.
class PosixOutputFiles final : public OutputFiles {
public:
    Result<std::unique_ptr<OutputFile>> create(const std::string& path) override;
    Result<std::unique_ptr<OutputFile>> createNew(const std::string& path) override;
    bool exists(const std::string& path) const override;
    bool removeFile(const std::string& path) override;
};

// The instance used when a writer is given none.
OutputFiles& posixOutputFiles();

// The files of one save run under its destination: every folder and file below the destination
// is made one name at a time from the destination's own descriptor, never through a symbolic
// link (see storage::OutputTree). Paths elsewhere are handled as PosixOutputFiles does. One
// instance per run and thread.
class AnchoredOutputFiles final : public OutputFiles {
public:
    static Result<std::unique_ptr<AnchoredOutputFiles>> open(const std::string& destination);
    // Another instance anchored at the same destination folder, for another thread.
    Result<std::unique_ptr<AnchoredOutputFiles>> twin() const;

    Result<std::unique_ptr<OutputFile>> create(const std::string& path) override;
    Result<std::unique_ptr<OutputFile>> createNew(const std::string& path) override;
    bool exists(const std::string& path) const override;
    bool removeFile(const std::string& path) override;
    Status makeFolders(const std::string& path) override;
    bool destinationGone() const override { return m_tree.rootRemoved(); }

private:
    explicit AnchoredOutputFiles(storage::OutputTree tree) : m_tree(std::move(tree)) {}
    mutable storage::OutputTree m_tree;
};

}  // namespace kfr::exporting
