// TODO(issue 18): take the header from the recovery log reader once it exists; until then this
// reads only the four items that decide which screen opens, every length bounded.
#include "ui/log_header.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

namespace kfr::ui {

namespace {

constexpr const char* kLogSignature = "KestravonWIN7SR2013";
// The header's first three texts are short; a length beyond this is a damaged or foreign file.
constexpr std::uint64_t kMaxHeaderText = 4096;

class HeaderReader {
public:
    explicit HeaderReader(std::istream& in) : m_in(in) {}

    std::optional<std::uint64_t> number(int bytes)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const int c = m_in.get();
            if (c == EOF) return std::nullopt;
            value |= static_cast<std::uint64_t>(c) << (8 * i);
        }
        return value;
    }

    // A String: FF FE FF, then its length in UTF-16 units (one byte; FF and a u16; FFFF and a
    // u32; all ones and a u64), then the units. Without the tag the length counts single bytes.
    std::optional<std::u16string> text()
    {
        auto first = number(1);
        if (!first) return std::nullopt;
        bool wide = false;
        std::optional<std::uint64_t> length;
        if (*first == 0xFF) {
            auto tag = number(2);
            if (!tag) return std::nullopt;
            if (*tag == 0xFFFE) {
                wide = true;
                length = lengthFrom(number(1));
            } else {
                // Untagged: FF then the u16 length (or its longer forms).
                length = longerLength(*tag);
            }
        } else {
            length = first;
        }
        if (!length || *length > kMaxHeaderText) return std::nullopt;
        std::u16string out;
        for (std::uint64_t i = 0; i < *length; ++i) {
            auto unit = number(wide ? 2 : 1);
            if (!unit) return std::nullopt;
            out.push_back(static_cast<char16_t>(*unit));
        }
        return out;
    }

private:
    std::optional<std::uint64_t> lengthFrom(std::optional<std::uint64_t> first)
    {
        if (!first) return std::nullopt;
        if (*first != 0xFF) return first;
        auto u16 = number(2);
        if (!u16) return std::nullopt;
        return longerLength(*u16);
    }

    std::optional<std::uint64_t> longerLength(std::uint64_t u16)
    {
        if (u16 != 0xFFFF) return u16;
        auto u32 = number(4);
        if (!u32) return std::nullopt;
        if (*u32 != 0xFFFFFFFFu) return u32;
        return number(8);
    }

    std::istream& m_in;
};

}  // namespace

LogHeaderVerdict readLogHeader(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return LogHeaderVerdict::CannotOpen;
    HeaderReader reader(in);
    const auto kind = reader.text();
    const auto signature = reader.text();
    const auto model = reader.text();
    const auto mode = reader.number(4);
    const std::string expected = kLogSignature;
    if (!kind || !signature || !model || !mode || *signature != std::u16string(expected.begin(), expected.end()))
        return LogHeaderVerdict::Invalid;
    if (*mode == 1) return LogHeaderVerdict::Basic;
    if (*mode == 2) return LogHeaderVerdict::Deep;
    return LogHeaderVerdict::Invalid;
}

}  // namespace kfr::ui
