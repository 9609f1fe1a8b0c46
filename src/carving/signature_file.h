// The signature files that drive carving: "MFTSig.dll" (General pass) and "MFTSigAdv.dll"
// (Thorough pass). Despite the extension they are plain text, six lines per record:
//   Extension:.jpg            extension with its dot
//   Maximum size:20000000     largest carved file of the type, bytes
//   Header:FFD8FFE0           header bytes as hex, at most 50 bytes
//   Header offset:1           1-based position of the header inside a 512-byte sector
//   Exact end:jpeg            the rule that finds where a file of the type ends (end_rules.h)
//   Description:JPEG image    shown in the extension list
// Each line's value is what follows its last colon, trimmed; the label before it is free text.
// Line 5 was once read and ignored: a value that names no end rule still means "none", so older
// files load as they did. "jpeg only" marks a record used only with exact ends on (a header too
// short to trust without checking what follows it). Nothing is ever loaded or executed from
// these files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carving/end_rules.h"
#include "storage/result.h"

namespace kfr::carving {

inline constexpr const char* kGeneralSignatureFile = "MFTSig.dll";
inline constexpr const char* kThoroughSignatureFile = "MFTSigAdv.dll";
inline constexpr int kMaxHeaderBytes = 50;

// One signature record.
struct FileType1 {
    std::int32_t offset = 0;     // 1-based header position in the sector (line 4)
    std::int32_t firstByte = 0;  // header[0], the byte the scan looks up first
    std::array<std::uint8_t, kMaxHeaderBytes> header{};
    std::int32_t headerLen = 0;  // 0: the record never matches
    std::string ext;             // ".JPG": with its dot, upper case
    std::string maxSizeText;     // line 2 as written
    std::string headerHex;       // line 3, upper case
    EndRule endRule = EndRule::None;  // line 5: how the end is found with exact ends on
    bool exactOnly = false;           // line 5 ends in "only": left out unless exact ends are on

    std::string key() const { return ext.empty() ? ext : ext.substr(1); }
    std::int64_t maxSize() const;  // maxSizeText as a number, never below 0
};

// Records match alike when they probe the same place for the same first byte.
inline bool operator==(const FileType1& a, const FileType1& b)
{
    return a.offset == b.offset && a.firstByte == b.firstByte;
}

using SignatureTable = std::vector<FileType1>;   // file order, duplicates kept
using HeaderOffsetList = std::vector<std::int32_t>;  // distinct offsets, first appearance first

// The records of the pass being run and their distinct offsets; emptied between passes.
struct SignatureTables {
    SignatureTable table;
    HeaderOffsetList offsets;
    void clear()
    {
        table.clear();
        offsets.clear();
    }
};

// The types a user chooses from: one row per distinct extension key of both files, ticked
// when added, sorted by key once filled.
struct ExtensionRow {
    std::string key;          // "JPG"
    std::string description;  // from the first file that names the type
    bool ticked = true;
};

struct ExtensionList {
    std::vector<ExtensionRow> rows;

    // Case-insensitive look-up of a key; nullptr when there is no such row.
    ExtensionRow* find(std::string_view key);
    const ExtensionRow* find(std::string_view key) const;
    void checkAll(bool ticked);
    std::vector<std::string> tickedKeys() const;
};

// --- Line-level rules, shared by both readers (exposed for tests and the fuzz target) ---

// Text after the last colon (the whole line when it has none), trimmed of white space.
std::string lineValue(std::string_view line);
// The extension key of a line-1 value: without its leading dot, upper case. Empty when the key
// could not name a folder and a file safely (path separators, dots, spaces and the like), so a
// signature file can never steer output outside the destination.
std::string extensionKey(std::string_view value);
// Leading white space, optional sign, digits up to the first non-digit; no digits gives 0.
// Saturates instead of overflowing.
std::int64_t parseLeadingInteger(std::string_view text);
// Line 5's value: an end rule's name, optionally followed by "only".
void parseEndRuleField(std::string_view value, FileType1& record);
// Hex pairs from the left; any non-hex digit counts as 0; an odd last digit is a byte of its own.
// At most kMaxHeaderBytes bytes are kept (longer headers are cut to their first 50 bytes).
void convertHeaderHex(std::string_view hexUpper, FileType1& record);

// --- Files ---

// Folder of the running program (dirname of /proc/self/exe); "/" when it cannot be told.
std::string programFolder();
// folder + "/" + name.
std::string signatureFilePath(const std::string& folder, const char* name);

// The start-up check: both files open for reading. The error's detail is
// "Couldn't open source file: " followed by the system's text for the failure.
Status checkSignatureFiles(const std::string& folder);

// Adds a row for every extension key not yet listed, from the General file and then the
// Thorough file, and sorts the rows by key; a type in both files shows once, with the General
// file's description. Fails like checkSignatureFiles when a file cannot be opened.
Status fillExtensionList(ExtensionList& list, const std::string& generalFile, const std::string& thoroughFile);

// Appends the records of one file to tables, except those whose type is listed and unticked,
// and every new offset to the offset list.
Status loadSignatureFile(const std::string& path, const ExtensionList& list, SignatureTables& tables);

// The error a signature file that cannot be opened yields.
Error signatureOpenError(const std::string& path, int err);

}  // namespace kfr::carving
