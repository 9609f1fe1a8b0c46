// End rules of archives: ZIP (and the Office Open XML, OpenDocument and JAR files that are ZIPs),
// 7z, RAR, XZ. gzip, which needs its deflate stream walked, lives in end_rules_deflate.cpp.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "carving/end_rules.h"

namespace kfr::carving {

namespace {

constexpr std::size_t kMaxNameLength = 1024;
constexpr int kMaxWalkSteps = 1 << 20;
constexpr std::uint64_t kMaxCentralDirectoryRead = 16 << 20;

bool knownZipMethod(std::uint16_t m)
{
    return m <= 20 || m == 93 || m == 95 || m == 96 || m == 97 || m == 98 || m == 99;
}

// The type a ZIP's own members give it, from its first member and the central directory.
std::string zipKind(FileBytes& bytes, std::string_view firstName, std::uint64_t firstData, std::uint32_t firstSize,
                    std::uint64_t cdOffset, std::uint64_t cdSize)
{
    if (firstName == "mimetype") {
        // OpenDocument stores its media type uncompressed as the first member.
        const Bytes type = bytes.readSome(firstData, std::min<std::uint32_t>(firstSize, 128));
        const std::string_view t(reinterpret_cast<const char*>(type.data()), type.size());
        if (t == "application/vnd.oasis.opendocument.text") return "ODT";
        if (t == "application/vnd.oasis.opendocument.spreadsheet") return "ODS";
        if (t == "application/vnd.oasis.opendocument.presentation") return "ODP";
        if (t == "application/vnd.oasis.opendocument.graphics") return "ODG";
        if (t == "application/epub+zip") return "EPUB";
        return {};
    }
    if (firstName == "META-INF/MANIFEST.MF" || firstName == "META-INF/") return "JAR";
    // Office Open XML: [Content_Types].xml, with the part folder naming the application.
    bool contentTypes = firstName == "[Content_Types].xml";
    std::string kind;
    for (std::uint64_t at = cdOffset, end = cdOffset + std::min(cdSize, kMaxCentralDirectoryRead); at + 46 <= end;) {
        const Bytes e = bytes.read(at, 46);
        if (e.empty() || !bytesEqual(e, 0, "PK\x01\x02")) break;
        const std::uint16_t n = readLe16(e, 28), x = readLe16(e, 30), c = readLe16(e, 32);
        const Bytes nameBytes = bytes.read(at + 46, n);
        const std::string_view name(reinterpret_cast<const char*>(nameBytes.data()), nameBytes.size());
        if (name == "[Content_Types].xml") contentTypes = true;
        if (kind.empty() && name.starts_with("word/")) kind = "DOCX";
        if (kind.empty() && name.starts_with("xl/")) kind = "XLSX";
        if (kind.empty() && name.starts_with("ppt/")) kind = "PPTX";
        at += 46 + n + x + c;
    }
    return contentTypes ? kind : std::string();
}

}  // namespace

FileEnd zipEnd(FileBytes& bytes)
{
    const Bytes first = bytes.read(0, 30);
    if (first.empty() || !bytesEqual(first, 0, "PK\x03\x04")) return endInvalid();
    const std::uint16_t nameLength = readLe16(first, 26);
    if (first[4] > 63 || !knownZipMethod(readLe16(first, 8)) || nameLength == 0 || nameLength > kMaxNameLength)
        return endInvalid();
    const Bytes nameBytes = bytes.read(30, nameLength);
    const std::string firstName(nameBytes.begin(), nameBytes.end());
    const std::uint64_t firstData = 30 + nameLength + readLe16(first, 28);
    const std::uint32_t firstSize = readLe32(first, 18);

    // Hop over members whose sizes are in their local headers; where one has its sizes after its
    // data (or in a ZIP64 field), search on from there for the end record.
    std::uint64_t pos = 0;
    for (int step = 0; step < kMaxWalkSteps; ++step) {
        const Bytes h = bytes.read(pos, 30);
        if (h.empty() || !bytesEqual(h, 0, "PK\x03\x04")) break;
        const std::uint32_t size = readLe32(h, 18);
        if ((readLe16(h, 6) & 0x08) || size == 0xFFFFFFFF) break;
        pos += 30 + readLe16(h, 26) + readLe16(h, 28) + static_cast<std::uint64_t>(size);
    }
    // The end-of-central-directory record of this archive is the one whose directory ends where
    // it begins; one of a ZIP stored inside it does not.
    for (std::uint64_t from = pos;;) {
        const std::uint64_t at = findPattern(bytes, from, bytes.limit(), "PK\x05\x06");
        if (at == UINT64_MAX) return endUnknown();
        from = at + 1;
        const Bytes r = bytes.read(at, 22);
        if (r.empty()) return endUnknown();
        std::uint64_t cdSize = readLe32(r, 12), cdOffset = readLe32(r, 16), recordAt = at;
        if (cdOffset == 0xFFFFFFFF || cdSize == 0xFFFFFFFF || readLe16(r, 10) == 0xFFFF) {
            // ZIP64: the locator before the record points at the ZIP64 end record.
            if (at < 20) continue;
            const Bytes loc = bytes.read(at - 20, 20);
            if (loc.empty() || !bytesEqual(loc, 0, "PK\x06\x07")) continue;
            recordAt = readLe64(loc, 8);
            const Bytes z = bytes.read(recordAt, 56);
            if (z.empty() || !bytesEqual(z, 0, "PK\x06\x06")) continue;
            cdSize = readLe64(z, 40);
            cdOffset = readLe64(z, 48);
        }
        if (cdOffset > recordAt || cdOffset + cdSize != recordAt) continue;
        const std::uint64_t end = at + 22 + readLe16(r, 20);
        if (end > bytes.limit()) return endUnknown();
        return endFound(end, zipKind(bytes, firstName, firstData, firstSize, cdOffset, cdSize));
    }
}

FileEnd sevenZipEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 32);
    if (h.empty() || std::memcmp(h.data(), "7z\xBC\xAF\x27\x1C", 6) != 0 || h[6] != 0) return endInvalid();
    if (crc32(h.subspan(12, 20)) != readLe32(h, 8)) return endInvalid();
    const std::uint64_t offset = readLe64(h, 12), size = readLe64(h, 20);
    if (offset > bytes.limit() || size > bytes.limit() || 32 + offset + size > bytes.limit()) return endUnknown();
    return endFound(32 + offset + size);
}

namespace {

// RAR 5 variable-length integer: seven bits a byte, low first.
bool readVint(FileBytes& bytes, std::uint64_t& pos, std::uint64_t& value)
{
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        const Bytes b = bytes.read(pos++, 1);
        if (b.empty()) return false;
        value |= static_cast<std::uint64_t>(b[0] & 0x7F) << shift;
        if (!(b[0] & 0x80)) return true;
    }
    return false;
}

FileEnd rar4End(FileBytes& bytes)
{
    std::uint64_t pos = 7;
    for (int step = 0; step < kMaxWalkSteps; ++step) {
        const Bytes b = bytes.read(pos, 7);
        if (b.empty()) return endUnknown();
        const std::uint8_t type = b[2];
        const std::uint16_t flags = readLe16(b, 3), size = readLe16(b, 5);
        if (type < 0x72 || type > 0x7B || size < 7 || (step == 0 && type != 0x73)) return step == 0 ? endInvalid() : endUnknown();
        std::uint64_t data = 0;
        if (flags & 0x8000) {  // a data area follows the header (file and service headers always have one)
            const Bytes add = bytes.read(pos + 7, 4);
            if (add.empty()) return endUnknown();
            data = readLe32(add, 0);
            if (type == 0x74 && (flags & 0x100)) {  // large file: high 32 bits of the packed size
                const Bytes high = bytes.read(pos + 32, 4);
                if (high.empty()) return endUnknown();
                data |= static_cast<std::uint64_t>(readLe32(high, 0)) << 32;
            }
        }
        pos += size + data;
        if (type == 0x7B) return pos <= bytes.limit() ? endFound(pos) : endUnknown();
    }
    return endUnknown();
}

FileEnd rar5End(FileBytes& bytes)
{
    std::uint64_t pos = 8;
    for (int step = 0; step < kMaxWalkSteps; ++step) {
        std::uint64_t at = pos + 4, headerSize = 0, type = 0, flags = 0, extra = 0, data = 0;
        if (!readVint(bytes, at, headerSize) || headerSize == 0 || headerSize > (2 << 20)) return step ? endUnknown() : endInvalid();
        const std::uint64_t headerEnd = at + headerSize;
        if (!readVint(bytes, at, type) || !readVint(bytes, at, flags)) return endUnknown();
        if (type < 1 || type > 5 || (step == 0 && type != 1 && type != 4)) return step ? endUnknown() : endInvalid();
        if ((flags & 1) && !readVint(bytes, at, extra)) return endUnknown();
        if ((flags & 2) && !readVint(bytes, at, data)) return endUnknown();
        pos = headerEnd + data;
        if (type == 5) return pos <= bytes.limit() ? endFound(pos) : endUnknown();
    }
    return endUnknown();
}

}  // namespace

FileEnd rarEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 8);
    if (h.empty() || std::memcmp(h.data(), "Rar!\x1A\x07", 6) != 0) return endInvalid();
    if (h[6] == 0x00) return rar4End(bytes);
    if (h[6] == 0x01 && h[7] == 0x00) return rar5End(bytes);
    return endInvalid();
}

// --- xz ---

namespace {

bool readXzVli(FileBytes& bytes, std::uint64_t& pos, std::uint64_t& value)
{
    value = 0;
    for (int i = 0; i < 9; ++i) {
        const Bytes b = bytes.read(pos++, 1);
        if (b.empty()) return false;
        value |= static_cast<std::uint64_t>(b[0] & 0x7F) << (7 * i);
        if (!(b[0] & 0x80)) return true;
    }
    return false;
}

// LZMA2 data ends with a zero control byte; every chunk states its packed size, so the chunks
// can be hopped over without decompressing them.
std::uint64_t lzma2End(FileBytes& bytes, std::uint64_t pos)
{
    for (int step = 0; step < kMaxWalkSteps; ++step) {
        const Bytes c = bytes.read(pos, 1);
        if (c.empty()) return UINT64_MAX;
        const std::uint8_t control = c[0];
        if (control == 0x00) return pos + 1;
        if (control == 0x01 || control == 0x02) {
            const Bytes s = bytes.read(pos + 1, 2);
            if (s.empty()) return UINT64_MAX;
            pos += 3 + readBe16(s, 0) + 1ull;
        } else if (control >= 0x80) {
            const Bytes s = bytes.read(pos + 3, 2);
            if (s.empty()) return UINT64_MAX;
            const bool properties = ((control >> 5) & 3) >= 2;
            pos += 5 + (properties ? 1 : 0) + readBe16(s, 0) + 1ull;
        } else {
            return UINT64_MAX;
        }
    }
    return UINT64_MAX;
}

std::uint64_t xzCheckSize(std::uint8_t type)
{
    if (type == 0) return 0;
    return 4ull << ((type - 1) / 3);  // 1..3: 4, 4..6: 8, 7..9: 16, 10..12: 32, 13..15: 64
}

}  // namespace

FileEnd xzEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 12);
    if (h.empty() || std::memcmp(h.data(), "\xFD" "7zXZ\0", 6) != 0 || h[6] != 0 || (h[7] & 0xF0) ||
        crc32(h.subspan(6, 2)) != readLe32(h, 8))
        return endInvalid();
    const std::uint64_t checkSize = xzCheckSize(h[7] & 0x0F);
    std::uint64_t pos = 12;
    for (int block = 0; block < kMaxWalkSteps; ++block) {
        const Bytes b = bytes.read(pos, 1);
        if (b.empty()) return endUnknown();
        if (b[0] == 0x00) break;  // the index follows the last block
        const std::size_t headerSize = (static_cast<std::size_t>(b[0]) + 1) * 4;
        const Bytes header = bytes.read(pos, headerSize);
        if (header.empty()) return endUnknown();
        if (crc32(header.first(headerSize - 4)) != readLe32(header, headerSize - 4) || (header[1] & 0x3C))
            return block ? endUnknown() : endInvalid();
        std::uint64_t at = pos + 2, packed = 0, unpacked = 0;
        const bool hasPacked = header[1] & 0x40;
        if (hasPacked && !readXzVli(bytes, at, packed)) return endUnknown();
        if ((header[1] & 0x80) && !readXzVli(bytes, at, unpacked)) return endUnknown();
        std::uint64_t dataEnd;
        if (hasPacked) {
            dataEnd = pos + headerSize + packed;
        } else {
            // The last filter of the chain (the only one without a packed size) is LZMA2.
            // Its header's CRC held, so data that cannot be followed is damage, not another type.
            dataEnd = lzma2End(bytes, pos + headerSize);
            if (dataEnd == UINT64_MAX) return endUnknown();
        }
        const std::uint64_t padded = (dataEnd - pos + 3) / 4 * 4;
        pos += padded + checkSize;
    }
    // Index: indicator, record count, the records, padding to four bytes, CRC32.
    const std::uint64_t indexStart = pos;
    std::uint64_t at = pos + 1, records = 0, value = 0;
    if (!readXzVli(bytes, at, records) || records > kMaxWalkSteps) return endUnknown();
    for (std::uint64_t i = 0; i < 2 * records; ++i)
        if (!readXzVli(bytes, at, value)) return endUnknown();
    at = indexStart + (at - indexStart + 3) / 4 * 4 + 4;
    const Bytes footer = bytes.read(at, 12);
    if (footer.empty() || footer[10] != 'Y' || footer[11] != 'Z' || footer[8] != h[6] || footer[9] != h[7])
        return endUnknown();
    return endFound(at + 12);
}

}  // namespace kfr::carving
