// End rules of audio and video files: RIFF (WAV, AVI, WEBP), ISO media (MP4, MOV, HEIF, AVIF),
// EBML (MKV, WebM), MPEG audio (MP3) and Ogg.
#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>

#include "carving/end_rules.h"

namespace kfr::carving {

namespace {

constexpr int kMaxSteps = 1 << 22;

bool printable(Bytes fourCc)
{
    return std::all_of(fourCc.begin(), fourCc.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

FileEnd riffEnd(FileBytes& bytes)
{
    const Bytes h = bytes.read(0, 16);
    if (h.empty() || !bytesEqual(h, 0, "RIFF") || readLe32(h, 4) < 4 || !printable(h.subspan(8, 4)) ||
        !printable(h.subspan(12, 4)))
        return endInvalid();
    std::string refined;
    if (bytesEqual(h, 8, "WAVE")) refined = "WAV";
    else if (bytesEqual(h, 8, "AVI ")) refined = "AVI";
    else if (bytesEqual(h, 8, "WEBP")) refined = "WEBP";
    std::uint64_t end = 8 + static_cast<std::uint64_t>(readLe32(h, 4));
    end += end & 1;  // chunks are padded to an even length
    // An AVI over 1 GB goes on in RIFF 'AVIX' chunks.
    for (int step = 0; step < kMaxSteps; ++step) {
        const Bytes next = bytes.read(end, 12);
        if (next.empty() || !bytesEqual(next, 0, "RIFF") || !bytesEqual(next, 8, "AVIX")) break;
        end += 8 + static_cast<std::uint64_t>(readLe32(next, 4));
        end += end & 1;
    }
    if (end > bytes.limit()) return endUnknown(refined);
    return endFound(end, refined);
}

// --- ISO base media file format ---

namespace {

bool topLevelBox(Bytes type)
{
    static constexpr const char* kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot", "uuid", "meta",
                                             "moof", "mfra", "styp", "sidx", "ssix", "prft", "emsg", "pdin", "udta"};
    for (const char* t : kTypes)
        if (std::memcmp(type.data(), t, 4) == 0) return true;
    return false;
}

bool brandIn(Bytes brands, const char* brand)
{
    for (std::size_t i = 0; i + 4 <= brands.size(); i += 4)
        if (std::memcmp(brands.data() + i, brand, 4) == 0) return true;
    return false;
}

// The type the ftyp box's brands give: the major brand first, then the compatible ones.
std::string isoKind(Bytes ftyp)
{
    const Bytes major = ftyp.subspan(8, 4);
    const Bytes compatible = ftyp.size() > 16 ? ftyp.subspan(16) : Bytes();
    if (brandIn(major, "qt  ")) return "MOV";
    if (brandIn(major, "M4A ")) return "M4A";
    if (brandIn(major, "crx ")) return "CR3";
    if (major[0] == '3' && major[1] == 'g') return "3GP";
    for (const char* b : {"avif", "avis"})
        if (brandIn(major, b)) return "AVIF";
    for (const char* b : {"heic", "heix", "heim", "heis", "hevc", "hevx"})
        if (brandIn(major, b)) return "HEIC";
    if (brandIn(major, "mif1") || brandIn(major, "msf1")) {
        if (brandIn(compatible, "avif")) return "AVIF";
        if (brandIn(compatible, "heic") || brandIn(compatible, "heix")) return "HEIC";
    }
    return {};
}

}  // namespace

FileEnd isoMediaEnd(FileBytes& bytes)
{
    std::uint64_t pos = 0;
    bool movie = false, media = false;
    std::string refined;
    for (int step = 0; step < kMaxSteps; ++step) {
        const Bytes h = bytes.read(pos, 16);
        const bool boxHere = !h.empty() && topLevelBox(h.subspan(4, 4));
        std::uint64_t size = boxHere ? readBe32(h, 0) : 0;
        if (boxHere && size == 1) size = readBe64(h, 8);
        // The file ends where no top-level box follows (or a second file's ftyp starts).
        if (!boxHere || (step > 0 && bytesEqual(h, 4, "ftyp")) || (size < 8 && size != 0)) {
            if (step == 0) return endInvalid();
            if (h.empty() && pos < bytes.limit()) return endUnknown(refined);
            return movie && media ? endFound(pos, refined) : endUnknown(refined);
        }
        if (size == 0) return endUnknown(refined);  // runs to the end of the file, which is not known
        if (bytesEqual(h, 4, "ftyp")) {
            const Bytes ftyp = bytes.read(pos, static_cast<std::size_t>(std::min<std::uint64_t>(size, 256)));
            if (ftyp.size() >= 16) refined = isoKind(ftyp);
        }
        // A movie (moov) or a HEIF image (meta) describes media data it holds (mdat, moof).
        if (bytesEqual(h, 4, "moov") || bytesEqual(h, 4, "meta")) movie = true;
        if (bytesEqual(h, 4, "mdat") || bytesEqual(h, 4, "moof") || bytesEqual(h, 4, "meta")) media = true;
        pos += size;
        if (pos > bytes.limit()) return endUnknown(refined);
    }
    return endUnknown(refined);
}

// --- EBML (Matroska, WebM) ---

namespace {

// An element ID keeps its length marker; a size loses it. Both are 1 to 8 bytes long, told by
// the first byte's leading zeros.
bool readEbmlNumber(FileBytes& bytes, std::uint64_t& pos, std::uint64_t& value, bool keepMarker, bool& unknownSize)
{
    const Bytes first = bytes.read(pos, 1);
    if (first.empty() || first[0] == 0) return false;
    int length = 1;
    while (!(first[0] & (0x80 >> (length - 1)))) ++length;
    const Bytes all = bytes.read(pos, length);
    if (all.empty()) return false;
    value = keepMarker ? all[0] : (all[0] & (0xFF >> length));
    bool allOnes = value == (0xFFu >> length);
    for (int i = 1; i < length; ++i) {
        value = (value << 8) | all[i];
        allOnes = allOnes && all[i] == 0xFF;
    }
    unknownSize = !keepMarker && allOnes;
    pos += length;
    return true;
}

}  // namespace

FileEnd ebmlEnd(FileBytes& bytes)
{
    std::uint64_t pos = 0, id = 0, size = 0;
    bool unknown = false;
    if (!readEbmlNumber(bytes, pos, id, true, unknown) || id != 0x1A45DFA3 ||
        !readEbmlNumber(bytes, pos, size, false, unknown) || unknown || size > 4096)
        return endInvalid();
    // The header's DocType says Matroska or WebM.
    std::string refined;
    for (std::uint64_t at = pos, end = pos + size; at < end;) {
        std::uint64_t childId = 0, childSize = 0;
        bool childUnknown = false;
        if (!readEbmlNumber(bytes, at, childId, true, childUnknown) ||
            !readEbmlNumber(bytes, at, childSize, false, childUnknown) || childUnknown || at + childSize > end)
            return endInvalid();
        if (childId == 0x4282) {
            const Bytes docType = bytes.read(at, static_cast<std::size_t>(std::min<std::uint64_t>(childSize, 32)));
            if (bytesEqual(docType, 0, "webm")) refined = "WEBM";
            else if (bytesEqual(docType, 0, "matroska")) refined = "MKV";
        }
        at += childSize;
    }
    pos += size;
    if (!readEbmlNumber(bytes, pos, id, true, unknown) || id != 0x18538067) return endInvalid();
    if (!readEbmlNumber(bytes, pos, size, false, unknown)) return endUnknown(refined);
    if (unknown || pos + size > bytes.limit()) return endUnknown(refined);  // a live recording: no size
    return endFound(pos + size, refined);
}

// --- MPEG audio ---

namespace {

struct FrameHeader {
    int version = 0;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;    // 3 layer I, 2 layer II, 1 layer III (as coded)
    int rateIndex = 0;
    std::uint32_t length = 0;
};

bool decodeFrameHeader(Bytes h, FrameHeader& f)
{
    static constexpr std::uint16_t kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2 layers II, III
    };
    static constexpr std::uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    f.version = (h[1] >> 3) & 3;
    f.layer = (h[1] >> 1) & 3;
    const int bitrateIndex = h[2] >> 4;
    f.rateIndex = (h[2] >> 2) & 3;
    const int padding = (h[2] >> 1) & 1;
    if (f.version == 1 || f.layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || f.rateIndex == 3 || (h[3] & 3) == 2)
        return false;
    const bool mpeg1 = f.version == 3;
    const int table = mpeg1 ? 3 - f.layer : (f.layer == 3 ? 3 : 4);
    const std::uint32_t bitrate = kBitrates[table][bitrateIndex] * 1000u;
    const std::uint32_t rate = kRates[f.version][f.rateIndex];
    if (f.layer == 3) f.length = (12 * bitrate / rate + padding) * 4;
    else if (f.layer == 1 && !mpeg1) f.length = 72 * bitrate / rate + padding;
    else f.length = 144 * bitrate / rate + padding;
    return f.length >= 4;
}

// Frames that must follow one another before a match is taken for audio and not chance.
constexpr int kFramesToTrust = 3;

}  // namespace

FileEnd mpegAudioEnd(FileBytes& bytes)
{
    std::uint64_t pos = 0;
    const Bytes id3 = bytes.read(0, 10);
    if (!id3.empty() && bytesEqual(id3, 0, "ID3")) {
        // ID3v2: a 28-bit size in four 7-bit bytes, plus a 10-byte footer when flagged.
        if (id3[3] < 2 || id3[3] > 4 || ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80)) return endInvalid();
        const std::uint64_t size = (id3[6] << 21) | (id3[7] << 14) | (id3[8] << 7) | id3[9];
        pos = 10 + size + ((id3[5] & 0x10) ? 10 : 0);
    }
    FrameHeader first;
    int frames = 0;
    for (int step = 0; step < kMaxSteps; ++step) {
        const Bytes h = bytes.read(pos, 4);
        FrameHeader f;
        const bool frame = !h.empty() && decodeFrameHeader(h, f) &&
                           (frames == 0 || (f.version == first.version && f.layer == first.layer && f.rateIndex == first.rateIndex));
        if (!frame) {
            if (frames < kFramesToTrust) return endInvalid();
            if (h.empty() && pos < bytes.limit()) return endUnknown();
            // An ID3v1 tag of 128 bytes may close the file.
            const Bytes tag = bytes.read(pos, 3);
            if (bytesEqual(tag, 0, "TAG") && pos + 128 <= bytes.limit()) pos += 128;
            return endFound(pos);
        }
        if (frames == 0) first = f;
        ++frames;
        pos += f.length;
        if (pos > bytes.limit()) return endUnknown();
    }
    return endUnknown();
}

namespace {

// The page checksum of Ogg (RFC 3533 section 6): CRC-32 with the polynomial 0x04C11DB7, not
// reflected, starting from 0, over the page with its checksum field taken as zeros.
std::uint32_t oggCrc(Bytes page)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n << 24;
            for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const std::uint8_t b = i >= 22 && i < 26 ? 0 : page[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
    }
    return crc;
}

}  // namespace

FileEnd oggEnd(FileBytes& bytes)
{
    std::set<std::uint32_t> open;
    std::uint64_t pos = 0;
    for (int step = 0; step < kMaxSteps; ++step) {
        const Bytes h = bytes.read(pos, 27);
        if (h.empty() || !bytesEqual(h, 0, "OggS") || h[4] != 0) return step ? endUnknown() : endInvalid();
        const std::uint8_t type = h[5];
        const std::uint32_t serial = readLe32(h, 14);
        if (step == 0 && !(type & 0x02)) return endInvalid();  // the first page begins a stream
        const Bytes segments = bytes.read(pos + 27, h[26]);
        if (segments.empty() && h[26]) return endUnknown();
        std::uint64_t body = 0;
        for (const std::uint8_t s : segments) body += s;
        // Every page carries a checksum: a first page that fails it is no Ogg stream, a later one
        // is damage.
        const Bytes page = bytes.read(pos, static_cast<std::size_t>(27 + h[26] + body));
        if (page.empty()) return endUnknown();
        if (oggCrc(page) != readLe32(page, 22)) return step ? endUnknown() : endInvalid();
        if (type & 0x02) open.insert(serial);
        pos += 27 + h[26] + body;
        if (type & 0x04) {
            open.erase(serial);
            if (open.empty()) return pos <= bytes.limit() ? endFound(pos) : endUnknown();
        }
    }
    return endUnknown();
}

}  // namespace kfr::carving
