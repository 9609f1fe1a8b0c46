// The end rules by name, and the byte helpers they share.
#include "carving/end_rules.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kfr::carving {

namespace {

struct RuleName {
    EndRule rule;
    const char* name;
};

constexpr RuleName kRuleNames[] = {
    {EndRule::Jpeg, "jpeg"},      {EndRule::Png, "png"},         {EndRule::Gif, "gif"},
    {EndRule::Bmp, "bmp"},        {EndRule::Tiff, "tiff"},       {EndRule::Pdf, "pdf"},
    {EndRule::Zip, "zip"},        {EndRule::SevenZip, "7z"},     {EndRule::Rar, "rar"},
    {EndRule::Gzip, "gzip"},      {EndRule::Xz, "xz"},           {EndRule::Riff, "riff"},
    {EndRule::IsoMedia, "isobmff"}, {EndRule::Ebml, "ebml"},     {EndRule::MpegAudio, "mpeg-audio"},
    {EndRule::Ogg, "ogg"},        {EndRule::Sqlite, "sqlite"},   {EndRule::Compound, "compound"},
};

// Large enough that scanning rules make few calls, small enough to stay in the cache.
constexpr std::size_t kScanChunk = 64 * 1024;

std::array<std::uint32_t, 256> makeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

}  // namespace

EndRule endRuleNamed(std::string_view name)
{
    for (const auto& r : kRuleNames) {
        const std::string_view known(r.name);
        if (known.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) {
            const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
            same = c == known[i];
        }
        if (same) return r.rule;
    }
    return EndRule::None;
}

const char* endRuleName(EndRule rule)
{
    for (const auto& r : kRuleNames)
        if (r.rule == rule) return r.name;
    return "";
}

FileEnd findFileEnd(EndRule rule, FileBytes& bytes)
{
    switch (rule) {
    case EndRule::None: return endUnknown();
    case EndRule::Jpeg: return jpegEnd(bytes);
    case EndRule::Png: return pngEnd(bytes);
    case EndRule::Gif: return gifEnd(bytes);
    case EndRule::Bmp: return bmpEnd(bytes);
    case EndRule::Tiff: return tiffEnd(bytes);
    case EndRule::Pdf: return pdfEnd(bytes);
    case EndRule::Zip: return zipEnd(bytes);
    case EndRule::SevenZip: return sevenZipEnd(bytes);
    case EndRule::Rar: return rarEnd(bytes);
    case EndRule::Gzip: return gzipEnd(bytes);
    case EndRule::Xz: return xzEnd(bytes);
    case EndRule::Riff: return riffEnd(bytes);
    case EndRule::IsoMedia: return isoMediaEnd(bytes);
    case EndRule::Ebml: return ebmlEnd(bytes);
    case EndRule::MpegAudio: return mpegAudioEnd(bytes);
    case EndRule::Ogg: return oggEnd(bytes);
    case EndRule::Sqlite: return sqliteEnd(bytes);
    case EndRule::Compound: return compoundEnd(bytes);
    }
    return endUnknown();
}

std::uint16_t readBe16(Bytes b, std::size_t off)
{
    if (off + 2 > b.size()) return 0;
    return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}

std::uint32_t readBe32(Bytes b, std::size_t off)
{
    if (off + 4 > b.size()) return 0;
    return (static_cast<std::uint32_t>(b[off]) << 24) | (static_cast<std::uint32_t>(b[off + 1]) << 16) |
           (static_cast<std::uint32_t>(b[off + 2]) << 8) | b[off + 3];
}

std::uint64_t readBe64(Bytes b, std::size_t off)
{
    if (off + 8 > b.size()) return 0;
    return (static_cast<std::uint64_t>(readBe32(b, off)) << 32) | readBe32(b, off + 4);
}

std::uint64_t findPattern(FileBytes& bytes, std::uint64_t from, std::uint64_t to, std::string_view pattern)
{
    if (pattern.empty()) return UINT64_MAX;
    to = std::min(to, bytes.limit());
    const std::size_t overlap = pattern.size() - 1;
    for (std::uint64_t at = from; at < to;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk + overlap, to - at));
        const Bytes chunk = bytes.readSome(at, want);
        if (chunk.size() < pattern.size()) return UINT64_MAX;
        const void* hit = ::memmem(chunk.data(), chunk.size(), pattern.data(), pattern.size());
        if (hit) return at + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - chunk.data());
        at += chunk.size() - overlap;
    }
    return UINT64_MAX;
}

std::uint32_t crc32(Bytes bytes, std::uint32_t crc)
{
    static const std::array<std::uint32_t, 256> table = makeCrcTable();
    crc = ~crc;
    for (const std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace kfr::carving
