// End rules of image files: JPEG, PNG, GIF, BMP and TIFF (with the RAW photo formats that are
// TIFFs inside).
#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "carving/end_rules.h"

namespace kfr::carving {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool isStandaloneJpegMarker(std::uint8_t m)
{
    return m == 0x01 || (m >= 0xD0 && m <= 0xD7);  // TEM and RSTn carry no length
}

bool isFrameMarker(std::uint8_t m)
{
    // SOF0..SOF15, less DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// After an SOS segment: the entropy-coded data runs to the first 0xFF that is followed by
// neither a stuffed 0x00 nor a restart marker. Returns that 0xFF's offset.
std::uint64_t endOfScan(FileBytes& bytes, std::uint64_t pos)
{
    const std::uint64_t limit = bytes.limit();
    while (pos < limit) {
        const Bytes chunk = bytes.readSome(pos, kChunk);
        if (chunk.empty()) return UINT64_MAX;
        std::size_t i = 0;
        while (i < chunk.size()) {
            const void* ff = std::memchr(chunk.data() + i, 0xFF, chunk.size() - i);
            if (!ff) {
                i = chunk.size();
                break;
            }
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - chunk.data());
            std::uint8_t next;
            if (i + 1 < chunk.size()) {
                next = chunk[i + 1];
            } else {
                const Bytes one = bytes.read(pos + i + 1, 1);
                if (one.empty()) return UINT64_MAX;
                next = one[0];
            }
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)) return pos + i;
            i += 1;
        }
        pos += chunk.size();
    }
    return UINT64_MAX;
}

}  // namespace

FileEnd jpegEnd(FileBytes& bytes)
{
    const Bytes soi = bytes.read(0, 2);
    if (soi.empty() || soi[0] != 0xFF || soi[1] != 0xD8) return endInvalid();
    std::uint64_t pos = 2;
    bool frame = false;
    bool scanned = false;
    // Broken before the first scan: not a JPEG. Broken after it: a damaged one, end unknown.
    const auto broken = [&] { return scanned ? endUnknown() : endInvalid(); };
    while (true) {
        const Bytes m = bytes.read(pos, 2);
        if (m.empty()) return endUnknown();
        if (m[0] != 0xFF) return broken();
        const std::uint8_t marker = m[1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == 0xD9) return scanned ? endFound(pos + 2) : endInvalid();
        if (isStandaloneJpegMarker(marker)) {
            pos += 2;
            continue;
        }
        if (marker < 0xC0 || marker == 0xD8) return broken();
        const Bytes lenBytes = bytes.read(pos + 2, 2);
        if (lenBytes.empty()) return endUnknown();
        const std::uint16_t length = readBe16(lenBytes, 0);
        if (length < 2) return broken();
        if (isFrameMarker(marker)) {
            // Precision, height, width, components, and three bytes per component.
            const Bytes sof = bytes.read(pos + 4, 6);
            if (sof.empty()) return endUnknown();
            const std::uint8_t precision = sof[0];
            const std::uint16_t width = readBe16(sof, 3);
            const std::uint8_t components = sof[5];
            if ((precision != 8 && precision != 12 && precision != 16) || width == 0 || components == 0 ||
                components > 4 || length != 8 + 3 * components)
                return broken();
            frame = true;
        }
        pos += 2 + length;
        if (marker == 0xDA) {
            if (!frame) return endInvalid();  // a scan before any frame header
            const std::uint64_t next = endOfScan(bytes, pos);
            if (next == UINT64_MAX) return endUnknown();
            scanned = true;
            pos = next;
        }
    }
}

FileEnd pngEnd(FileBytes& bytes)
{
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const Bytes sig = bytes.read(0, 8);
    if (sig.empty() || std::memcmp(sig.data(), kSignature, 8) != 0) return endInvalid();
    std::uint64_t pos = 8;
    for (bool first = true;; first = false) {
        const Bytes head = bytes.read(pos, 8);
        if (head.empty()) return endUnknown();
        const std::uint32_t length = readBe32(head, 0);
        bool letters = true;
        for (std::size_t i = 4; i < 8; ++i) {
            const std::uint8_t c = head[i];
            letters = letters && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
        }
        if (first && (length != 13 || std::memcmp(head.data() + 4, "IHDR", 4) != 0)) return endInvalid();
        if (!letters || length > 0x7FFFFFFFu) return endUnknown();
        pos += 12 + static_cast<std::uint64_t>(length);  // length, type, data, CRC
        if (std::memcmp(head.data() + 4, "IEND", 4) == 0) return pos <= bytes.limit() ? endFound(pos) : endUnknown();
    }
}

FileEnd gifEnd(FileBytes& bytes)
{
    const Bytes head = bytes.read(0, 13);
    if (head.empty() || (!bytesEqual(head, 0, "GIF87a") && !bytesEqual(head, 0, "GIF89a"))) return endInvalid();
    const std::uint8_t flags = head[10];
    std::uint64_t pos = 13;
    if (flags & 0x80) pos += 3ull << ((flags & 7) + 1);  // global colour table
    bool image = false;
    const auto broken = [&] { return image ? endUnknown() : endInvalid(); };
    // Data sub-blocks: a length byte each, ended by a zero length.
    const auto skipSubBlocks = [&]() -> bool {
        while (true) {
            const Bytes n = bytes.read(pos, 1);
            if (n.empty()) return false;
            pos += 1 + n[0];
            if (n[0] == 0) return true;
        }
    };
    while (true) {
        const Bytes b = bytes.read(pos, 1);
        if (b.empty()) return endUnknown();
        if (b[0] == 0x3B) return image ? endFound(pos + 1) : endInvalid();
        if (b[0] == 0x21) {  // extension: label, then sub-blocks
            pos += 2;
            if (!skipSubBlocks()) return endUnknown();
        } else if (b[0] == 0x2C) {  // image descriptor, local colour table, LZW code size, data
            const Bytes desc = bytes.read(pos, 11);
            if (desc.empty()) return endUnknown();
            const std::uint8_t local = desc[9];
            pos += 10;
            if (local & 0x80) pos += 3ull << ((local & 7) + 1);
            const Bytes lzw = bytes.read(pos, 1);
            if (lzw.empty()) return endUnknown();
            if (lzw[0] < 2 || lzw[0] > 12) return broken();
            pos += 1;
            if (!skipSubBlocks()) return endUnknown();
            image = true;
        } else {
            return broken();
        }
    }
}

FileEnd bmpEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 54);
    if (h.empty() || h[0] != 'B' || h[1] != 'M') return endInvalid();
    const std::uint32_t fileSize = readLe32(h, 2);
    const std::uint32_t dataOffset = readLe32(h, 10);
    const std::uint32_t infoSize = readLe32(h, 14);
    if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 64 && infoSize != 108 &&
        infoSize != 124)
        return endInvalid();
    std::int64_t width, height;
    std::uint16_t planes, bpp;
    std::uint32_t compression = 0;
    if (infoSize == 12) {
        width = readLe16(h, 18);
        height = readLe16(h, 20);
        planes = readLe16(h, 22);
        bpp = readLe16(h, 24);
    } else {
        width = static_cast<std::int32_t>(readLe32(h, 18));
        height = static_cast<std::int32_t>(readLe32(h, 22));
        planes = readLe16(h, 26);
        bpp = readLe16(h, 28);
        compression = readLe32(h, 30);
    }
    if (planes != 1 || width <= 0 || height == 0 || dataOffset < 14 + infoSize ||
        (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
        return endInvalid();
    // Uncompressed rows are padded to four bytes; the pixels end the file unless a colour
    // profile follows them, which the file size field covers.
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t pixels = (static_cast<std::uint64_t>(width) * bpp + 31) / 32 * 4 * rows;
    const bool plain = compression == 0 || compression == 3 || compression == 6;
    const std::uint64_t computed = dataOffset + pixels;
    std::uint64_t length = 0;
    if (fileSize >= dataOffset + (plain ? pixels : 1)) length = fileSize;
    else if (plain) length = computed;
    if (length == 0 || length > bytes.limit()) return endUnknown();
    return endFound(length);
}

// --- TIFF ---

namespace {

constexpr std::uint16_t kStripOffsets = 273, kStripByteCounts = 279, kTileOffsets = 324, kTileByteCounts = 325;
constexpr std::uint16_t kJpegOffset = 513, kJpegLength = 514, kSubIfds = 330, kExifIfd = 34665, kGpsIfd = 34853,
                        kInteropIfd = 40965, kMake = 271, kDngVersion = 50706;
constexpr int kMaxIfds = 64;
constexpr std::uint32_t kMaxEntries = 4096;
constexpr std::uint32_t kMaxArray = 1u << 20;

std::uint32_t tiffTypeSize(std::uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                  // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4;  // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;        // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;
    }
}

class TiffWalk {
public:
    TiffWalk(FileBytes& bytes, bool little) : m_bytes(bytes), m_little(little) {}

    std::uint16_t u16(Bytes b, std::size_t off) const { return m_little ? readLe16(b, off) : readBe16(b, off); }
    std::uint32_t u32(Bytes b, std::size_t off) const { return m_little ? readLe32(b, off) : readBe32(b, off); }

    enum class Read { Ok, Short, Malformed };

    // Reads one IFD: Short when it lies beyond what may be read, Malformed when it does not
    // look like one.
    Read ifd(std::uint64_t offset)
    {
        const Bytes countBytes = m_bytes.read(offset, 2);
        if (countBytes.empty()) return Read::Short;
        const std::uint32_t count = u16(countBytes, 0);
        if (count == 0 || count > kMaxEntries) return Read::Malformed;
        const std::size_t size = 2 + 12 * static_cast<std::size_t>(count) + 4;
        const Bytes all = m_bytes.read(offset, size);
        if (all.empty()) return Read::Short;
        const std::vector<std::uint8_t> table(all.begin(), all.end());  // later reads may move the window
        reach(offset + size);
        std::vector<std::uint32_t> stripOffsets, stripCounts, tileOffsets, tileCounts;
        std::uint32_t jpegOffset = 0, jpegLength = 0;
        int knownTypes = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const Bytes e(table.data() + 2 + 12 * i, 12);
            const std::uint16_t tag = u16(e, 0), type = u16(e, 2);
            const std::uint32_t n = u32(e, 4);
            const std::uint32_t unit = tiffTypeSize(type);
            if (unit == 0) continue;
            ++knownTypes;
            const std::uint64_t valueSize = static_cast<std::uint64_t>(unit) * n;
            const std::uint64_t valueAt = valueSize > 4 ? u32(e, 8) : 0;
            if (valueSize > 4) reach(valueAt + valueSize);
            if (tag == kMake) m_make = text(e, valueAt, valueSize);
            if (tag == kDngVersion) m_dng = true;
            if (tag == kStripOffsets) stripOffsets = values(e, type, n, valueAt);
            if (tag == kStripByteCounts) stripCounts = values(e, type, n, valueAt);
            if (tag == kTileOffsets) tileOffsets = values(e, type, n, valueAt);
            if (tag == kTileByteCounts) tileCounts = values(e, type, n, valueAt);
            if (tag == kJpegOffset) jpegOffset = u32(e, 8);
            if (tag == kJpegLength) jpegLength = u32(e, 8);
            if (tag == kSubIfds || tag == kExifIfd || tag == kGpsIfd || tag == kInteropIfd)
                for (std::uint32_t at : values(e, type, n, valueAt)) m_pending.push_back(at);
        }
        if (knownTypes * 2 < static_cast<int>(count)) return Read::Malformed;
        for (std::size_t i = 0; i < std::min(stripOffsets.size(), stripCounts.size()); ++i)
            reach(static_cast<std::uint64_t>(stripOffsets[i]) + stripCounts[i]);
        for (std::size_t i = 0; i < std::min(tileOffsets.size(), tileCounts.size()); ++i)
            reach(static_cast<std::uint64_t>(tileOffsets[i]) + tileCounts[i]);
        if (jpegOffset && jpegLength) reach(static_cast<std::uint64_t>(jpegOffset) + jpegLength);
        const std::uint32_t next = u32(Bytes(table), size - 4);
        if (next) m_pending.push_back(next);
        return Read::Ok;
    }

    // Every IFD reachable from the first; what became of the first one.
    Read walk(std::uint32_t first)
    {
        m_pending.push_back(first);
        std::set<std::uint32_t> seen;
        bool any = false;
        while (!m_pending.empty() && static_cast<int>(seen.size()) < kMaxIfds) {
            const std::uint32_t at = m_pending.back();
            m_pending.pop_back();
            if (at < 8 || !seen.insert(at).second) {
                if (!any) return Read::Malformed;
                continue;
            }
            if (const Read r = ifd(at); r != Read::Ok) {
                if (!any) return r;
                m_damaged = true;
            }
            any = true;
        }
        return Read::Ok;
    }

    std::uint64_t end() const { return m_end; }
    bool damaged() const { return m_damaged; }
    const std::string& make() const { return m_make; }
    bool dng() const { return m_dng; }

private:
    void reach(std::uint64_t end) { m_end = std::max(m_end, end); }

    std::vector<std::uint32_t> values(Bytes entry, std::uint16_t type, std::uint32_t n, std::uint64_t valueAt)
    {
        std::vector<std::uint32_t> out;
        const std::uint32_t unit = tiffTypeSize(type);
        if ((unit != 2 && unit != 4) || n == 0 || n > kMaxArray) return out;
        const std::uint64_t size = static_cast<std::uint64_t>(unit) * n;
        std::vector<std::uint8_t> data;
        if (size <= 4) {
            data.assign(entry.begin() + 8, entry.begin() + 12);
        } else {
            for (std::uint64_t done = 0; done < size;) {
                const Bytes part = m_bytes.read(valueAt + done, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done)));
                if (part.empty()) {
                    m_damaged = true;
                    return {};
                }
                data.insert(data.end(), part.begin(), part.end());
                done += part.size();
            }
        }
        out.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i)
            out.push_back(unit == 2 ? u16(Bytes(data), 2 * i) : u32(Bytes(data), 4 * i));
        return out;
    }

    std::string text(Bytes entry, std::uint64_t valueAt, std::uint64_t size)
    {
        const Bytes raw = size <= 4 ? entry.subspan(8, static_cast<std::size_t>(size))
                                    : m_bytes.read(valueAt, static_cast<std::size_t>(std::min<std::uint64_t>(size, 64)));
        std::string s(raw.begin(), raw.end());
        s.resize(std::strlen(s.c_str()));
        return s;
    }

    FileBytes& m_bytes;
    bool m_little;
    std::vector<std::uint32_t> m_pending;
    std::uint64_t m_end = 8;
    bool m_damaged = false;
    bool m_dng = false;
    std::string m_make;
};

bool startsWithNoCase(const std::string& text, const char* prefix)
{
    return ::strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

}  // namespace

FileEnd tiffEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 16);
    if (h.empty()) return endInvalid();
    const bool little = h[0] == 'I' && h[1] == 'I' && h[2] == 42 && h[3] == 0;
    const bool big = h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42;
    if (!little && !big) return endUnknown();  // BigTIFF and others: no rule
    TiffWalk walk(bytes, little);
    // Writers often put the first IFD after the pixel data, so one beyond what may be read says
    // nothing about the file.
    switch (walk.walk(walk.u32(h, 4))) {
    case TiffWalk::Read::Ok: break;
    case TiffWalk::Read::Short: return endUnknown();
    case TiffWalk::Read::Malformed: return endInvalid();
    }
    // Canon's CR2 marks itself right after the header; the other RAW formats are plain TIFFs
    // told apart by the camera maker, DNG by its version tag.
    std::string refined;
    if (little && h[8] == 'C' && h[9] == 'R' && h[10] == 2) refined = "CR2";
    else if (walk.dng()) refined = "DNG";
    else if (startsWithNoCase(walk.make(), "NIKON")) refined = "NEF";
    else if (startsWithNoCase(walk.make(), "SONY")) refined = "ARW";
    if (walk.damaged() || walk.end() > bytes.limit()) return endUnknown(refined);
    return endFound(walk.end(), refined);
}

}  // namespace kfr::carving
