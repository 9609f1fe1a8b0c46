// Turning NTFS file records into the results tree and the MftFileTable: folders go under their
// parent folder (at once when the parent is already placed, else when every record has been
// offered), files into the table. A parent reference counts only while the parent record still
// holds the folder it named (its sequence number says so): folders and files whose parent is gone,
// reused or no folder go to the orphan folder. Basic Search offers the records of one $MFT in
// order; Deep Search offers the records it found on the medium, one volume after the other.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "recovery/basic_scan.h"
#include "recovery/mft_reader.h"
#include "recovery/mft_record.h"
#include "recovery/placement_events.h"

namespace kfr::recovery {

// What the tree needs of one base file record.
struct NtfsRecordFacts {
    std::uint64_t recordNumber = 0;
    std::uint64_t sector = 0;       // where the record lies
    std::uint8_t flags = 0;         // 1 in use, 2 directory
    std::uint16_t sequence = 0;
    FileReference parent;           // of the chosen name
    std::string name;               // the chosen name (Win32, Win32 and DOS, DOS, POSIX)
    bool named = false;             // a name was found (the builder passes over records without one)
    std::uint64_t stamp = 0;        // the last modification
    bool directory() const { return flags == 2 || flags == 3; }
};

// The facts of a fixed-up base record; nothing for an extension record. With a reader, names in the extension records its attribute list names count too;
// without one (no $MFT to find them through), only the record's own.
std::optional<NtfsRecordFacts> recordFacts(const MftRecordBytes& record, std::uint64_t recordNumber,
                                           std::uint64_t sector, const MftReader* reader);

class NtfsTreeBuilder {
public:
    // Folders go under root (the NTFS root's children) or the orphan folder, which the first
    // folder creates when the results have none; volume is the index the nodes and file rows
    // carry.
    NtfsTreeBuilder(FolderResults& results, MftFileTable& files, ItemId root, std::uint32_t volume,
                    PlacementEvents& events);

    void offer(const NtfsRecordFacts& record);
    // Places the folders still waiting for their parent and judges the parents of files.
    void finish(DirNamer& namer, ProgressReporter& report);
    std::uint64_t directoriesFound() const { return m_directories; }

private:
    struct DirectoryState {
        std::uint16_t sequence = 0;
        bool inUse = false;
    };
    bool parentStillThere(const FileReference& parent) const;

    FolderResults& m_r;
    MftFileTable& m_files;
    ItemId m_root;
    std::uint32_t m_volume;
    PlacementEvents& m_events;
    std::size_t m_firstFile;
    bool m_orphanMade;
    std::uint64_t m_directories = 0;
    std::unordered_map<std::uint64_t, DirectoryState> m_dirs;
    // Parent references judged at the end: folders whose parent record was not met yet, and every
    // file (in table order from m_firstFile).
    std::unordered_map<std::uint32_t, FileReference> m_laterParents;
    std::vector<FileReference> m_fileParents;
};

}  // namespace kfr::recovery
