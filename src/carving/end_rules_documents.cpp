// End rules of documents and databases: PDF, SQLite and OLE compound files (DOC, XLS, PPT).
#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "carving/end_rules.h"

namespace kfr::carving {

namespace {

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool isPdfSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == 0; }

// What follows a %%EOF when the document goes on: an incremental update (or the rest of a
// linearized file) starts with an object ("12 0 obj"), a cross-reference section or a comment.
bool continuesAfterEof(Bytes after)
{
    std::size_t i = 0;
    while (i < after.size() && isPdfSpace(after[i]) && after[i] != 0) ++i;
    const Bytes rest = after.subspan(i);
    if (bytesEqual(rest, 0, "xref") || bytesEqual(rest, 0, "trailer") || bytesEqual(rest, 0, "startxref")) return true;
    // digits, space, digits, space, "obj"
    std::size_t j = 0;
    const auto digits = [&] {
        const std::size_t from = j;
        while (j < rest.size() && isDigit(rest[j])) ++j;
        return j > from;
    };
    if (!digits() || j >= rest.size() || rest[j] != ' ') return false;
    ++j;
    if (!digits()) return false;
    while (j < rest.size() && rest[j] == ' ') ++j;
    return bytesEqual(rest, j, "obj");
}

}  // namespace

FileEnd pdfEnd(FileBytes& bytes)
{
    const Bytes head = bytes.read(0, 8);
    if (head.empty() || !bytesEqual(head, 0, "%PDF-") || !isDigit(head[5]) || head[6] != '.' || !isDigit(head[7]))
        return endInvalid();
    std::uint64_t from = 8;
    while (true) {
        const std::uint64_t at = findPattern(bytes, from, bytes.limit(), "%%EOF");
        if (at == UINT64_MAX) return endUnknown();
        std::uint64_t end = at + 5;
        // The end-of-line after the marker belongs to the file.
        const Bytes eol = bytes.readSome(end, 2);
        std::size_t k = 0;
        if (k < eol.size() && eol[k] == '\r') ++k;
        if (k < eol.size() && eol[k] == '\n') ++k;
        end += k;
        if (!continuesAfterEof(bytes.readSome(end, 64))) return endFound(end);
        from = end;
    }
}

FileEnd sqliteEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 100);
    if (h.empty() || std::memcmp(h.data(), "SQLite format 3", 16) != 0) return endInvalid();
    const std::uint32_t rawPage = readBe16(h, 16);
    const std::uint32_t pageSize = rawPage == 1 ? 65536 : rawPage;
    // Page size a power of two from 512; the payload fractions are fixed at 64, 32 and 32.
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0 || h[21] != 64 || h[22] != 32 ||
        h[23] != 32)
        return endInvalid();
    const std::uint32_t changeCounter = readBe32(h, 24);
    const std::uint32_t pages = readBe32(h, 28);
    const std::uint32_t validFor = readBe32(h, 92);
    // The page count is trusted only when it was written with the last change (SQLite 3.7.0 on).
    if (pages == 0 || validFor != changeCounter) return endUnknown();
    const std::uint64_t length = static_cast<std::uint64_t>(pageSize) * pages;
    return length <= bytes.limit() ? endFound(length) : endUnknown();
}

// --- OLE compound files ---

namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::size_t kMaxFatSectors = 1 << 16;

std::string directoryName(Bytes entry)
{
    const std::uint16_t bytesUsed = readLe16(entry, 0x40);
    std::string name;
    for (std::size_t i = 0; i + 1 < std::min<std::size_t>(bytesUsed, 64); i += 2) {
        const std::uint16_t c = readLe16(entry, i);
        if (c == 0) break;
        name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return name;
}

}  // namespace

FileEnd compoundEnd(FileBytes& bytes)
{
    static constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    const Bytes head = bytes.read(0, 512);
    if (head.empty() || std::memcmp(head.data(), kSignature, 8) != 0) return endInvalid();
    const std::uint16_t major = readLe16(head, 0x1A);
    const std::uint16_t shift = readLe16(head, 0x1E);
    if (readLe16(head, 0x1C) != 0xFFFE || !((major == 3 && shift == 9) || (major == 4 && shift == 12)) ||
        readLe16(head, 0x20) != 6)
        return endInvalid();
    const std::uint64_t sectorSize = 1ull << shift;
    const std::uint32_t fatCount = readLe32(head, 0x2C);
    const std::uint32_t firstDirectory = readLe32(head, 0x30);
    if (fatCount == 0 || fatCount > kMaxFatSectors) return endInvalid();
    // Its FAT alone would reach past what may be read: nothing to hold in memory for it.
    if (static_cast<std::uint64_t>(fatCount) * sectorSize > bytes.limit()) return endUnknown();
    const auto sectorAt = [&](std::uint32_t n) { return (static_cast<std::uint64_t>(n) + 1) * sectorSize; };

    // Where the FAT lies: the first 109 sectors from the header, the rest from the DIFAT chain.
    std::vector<std::uint32_t> fatSectors;
    for (std::uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(readLe32(head, 0x4C + 4 * i));
    std::uint32_t difat = readLe32(head, 0x44);
    std::set<std::uint32_t> seen;
    std::uint64_t reached = sectorSize;  // the header
    const auto reach = [&](std::uint32_t n) { reached = std::max(reached, sectorAt(n) + sectorSize); };
    while (fatSectors.size() < fatCount && difat < kEndOfChain && seen.insert(difat).second) {
        const Bytes s = bytes.read(sectorAt(difat), static_cast<std::size_t>(sectorSize));
        if (s.empty()) return endUnknown();
        reach(difat);
        const std::size_t perSector = sectorSize / 4 - 1;
        for (std::size_t i = 0; i < perSector && fatSectors.size() < fatCount; ++i) fatSectors.push_back(readLe32(s, 4 * i));
        difat = readLe32(s, 4 * perSector);
    }
    if (fatSectors.size() < fatCount) return endUnknown();

    // The file ends with its last sector that the FAT does not mark free.
    std::vector<std::uint32_t> fat;
    fat.reserve(fatCount * (sectorSize / 4));
    for (std::uint32_t n : fatSectors) {
        if (n >= kEndOfChain) return endUnknown();
        const Bytes s = bytes.read(sectorAt(n), static_cast<std::size_t>(sectorSize));
        if (s.empty()) return endUnknown();
        for (std::size_t i = 0; i < sectorSize / 4; ++i) fat.push_back(readLe32(s, 4 * i));
    }
    for (std::size_t i = fat.size(); i-- > 0;)
        if (fat[i] != kFreeSector) {
            reach(static_cast<std::uint32_t>(i));
            break;
        }

    // The streams of the root storage tell the program that wrote the file.
    std::string refined;
    std::set<std::uint32_t> visited;
    for (std::uint32_t d = firstDirectory; d < fat.size() && visited.size() < 64 && visited.insert(d).second; d = fat[d]) {
        const Bytes s = bytes.read(sectorAt(d), static_cast<std::size_t>(sectorSize));
        if (s.empty()) break;
        for (std::size_t e = 0; e + 128 <= s.size() && refined.empty(); e += 128) {
            const std::string name = directoryName(s.subspan(e, 128));
            if (name == "WordDocument") refined = "DOC";
            else if (name == "Workbook" || name == "Book") refined = "XLS";
            else if (name == "PowerPoint Document") refined = "PPT";
        }
        if (!refined.empty()) break;
    }
    if (reached > bytes.limit()) return endUnknown(refined);
    return endFound(reached, refined);
}

}  // namespace kfr::carving
