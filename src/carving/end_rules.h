// Where a carved file really ends, read from its own structure: the EOI marker of a JPEG after
// its last scan, a PNG's IEND chunk, the size a RIFF or SQLite header states, a ZIP's
// end-of-central-directory record, and so on. A signature record names its rule on its fifth
// line; with exact ends on, a file whose rule finds the end is cut there, a candidate whose
// structure is broken from its first bytes is not written at all, and a file whose end cannot be
// told keeps the next-header rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "storage/bytes.h"

namespace kfr::carving {

enum class EndRule : std::uint8_t {
    None,
    Jpeg,      // segments, then the entropy-coded scans, up to the EOI marker after the last scan
    Png,       // chunks up to IEND; the first chunk must be IHDR
    Gif,       // blocks and sub-blocks up to the trailer
    Bmp,       // the file size field, checked against the bitmap's own size
    Tiff,      // the farthest byte any IFD, value, strip or tile reaches (RAW photos are TIFFs)
    Pdf,       // the %%EOF that no incremental update follows
    Zip,       // the end-of-central-directory record that closes this archive, with its comment
    SevenZip,  // the start header's next-header offset and size
    Rar,       // the end-of-archive block (RAR 4 and RAR 5)
    Gzip,      // the deflate stream's last block and the 8-byte trailer
    Xz,        // blocks, index and stream footer
    Riff,      // the RIFF size (WAV, AVI with its AVIX extensions, WEBP)
    IsoMedia,  // the top-level boxes of MP4, MOV, HEIF and AVIF
    Ebml,      // the EBML header and the Segment of MKV and WebM
    MpegAudio, // MP3 frames after an optional ID3v2 tag, up to an ID3v1 tag when one follows
    Ogg,       // pages until every logical stream has ended
    Sqlite,    // page size times page count from the database header
    Compound,  // the last used sector of an OLE compound file (DOC, XLS, PPT)
};

// The rule a signature file's line 5 names ("jpeg", "zip", ...); None for any other text, so
// files written before the field existed load as they always did.
EndRule endRuleNamed(std::string_view name);
const char* endRuleName(EndRule rule);

// The bytes of a candidate file from its first byte on, as far as the file may reach.
class FileBytes {
public:
    virtual ~FileBytes() = default;
    // How many bytes the file may have: its type's maximum size, or less where the searched area
    // ends.
    virtual std::uint64_t limit() const = 0;
    // Up to n bytes from offset: fewer where the limit comes first, none past it or where the
    // medium could not be read.
    virtual Bytes readSome(std::uint64_t offset, std::size_t n) = 0;

    // Exactly n bytes from offset, or an empty span.
    Bytes read(std::uint64_t offset, std::size_t n)
    {
        const Bytes got = readSome(offset, n);
        return got.size() == n ? got : Bytes();
    }
};

// Bytes in memory, for tests and fuzzing.
class SpanFileBytes final : public FileBytes {
public:
    explicit SpanFileBytes(Bytes bytes, std::uint64_t limit = UINT64_MAX)
        : m_bytes(bytes), m_limit(limit < bytes.size() ? limit : bytes.size())
    {
    }
    std::uint64_t limit() const override { return m_limit; }
    Bytes readSome(std::uint64_t offset, std::size_t n) override
    {
        if (offset >= m_limit) return {};
        const std::uint64_t left = m_limit - offset;
        return m_bytes.subspan(static_cast<std::size_t>(offset), n < left ? n : static_cast<std::size_t>(left));
    }

private:
    Bytes m_bytes;
    std::uint64_t m_limit;
};

enum class EndVerdict {
    Found,    // the file ends after `length` bytes
    Unknown,  // the start looks right but the end cannot be told (damaged later, or past the limit)
    Invalid,  // broken from its first bytes: not a file of this type
};

struct FileEnd {
    EndVerdict verdict = EndVerdict::Unknown;
    std::uint64_t length = 0;
    // A more exact type than the record's, told by the file's insides ("DOCX" for a ZIP whose
    // first member is [Content_Types].xml, "NEF" for a TIFF a Nikon camera wrote); empty to keep
    // the record's.
    std::string refinedKey;
};

FileEnd findFileEnd(EndRule rule, FileBytes& bytes);

// --- The rules, by family (end_rules_*.cpp) ---
FileEnd jpegEnd(FileBytes& bytes);
FileEnd pngEnd(FileBytes& bytes);
FileEnd gifEnd(FileBytes& bytes);
FileEnd bmpEnd(FileBytes& bytes);
FileEnd tiffEnd(FileBytes& bytes);
FileEnd pdfEnd(FileBytes& bytes);
FileEnd zipEnd(FileBytes& bytes);
FileEnd sevenZipEnd(FileBytes& bytes);
FileEnd rarEnd(FileBytes& bytes);
FileEnd gzipEnd(FileBytes& bytes);
FileEnd xzEnd(FileBytes& bytes);
FileEnd riffEnd(FileBytes& bytes);
FileEnd isoMediaEnd(FileBytes& bytes);
FileEnd ebmlEnd(FileBytes& bytes);
FileEnd mpegAudioEnd(FileBytes& bytes);
FileEnd oggEnd(FileBytes& bytes);
FileEnd sqliteEnd(FileBytes& bytes);
FileEnd compoundEnd(FileBytes& bytes);

// --- Helpers the rules share ---
inline FileEnd endFound(std::uint64_t length, std::string refinedKey = {})
{
    return FileEnd{EndVerdict::Found, length, std::move(refinedKey)};
}
inline FileEnd endUnknown(std::string refinedKey = {}) { return FileEnd{EndVerdict::Unknown, 0, std::move(refinedKey)}; }
inline FileEnd endInvalid() { return FileEnd{EndVerdict::Invalid, 0, {}}; }

std::uint16_t readBe16(Bytes b, std::size_t off);
std::uint32_t readBe32(Bytes b, std::size_t off);
std::uint64_t readBe64(Bytes b, std::size_t off);

// The first offset in [from, to) where pattern starts, reading in chunks; UINT64_MAX when there
// is none (or the bytes cannot be read).
std::uint64_t findPattern(FileBytes& bytes, std::uint64_t from, std::uint64_t to, std::string_view pattern);

// CRC-32 as zlib, PNG, 7z and xz use it.
std::uint32_t crc32(Bytes bytes, std::uint32_t crc = 0);

}  // namespace kfr::carving
