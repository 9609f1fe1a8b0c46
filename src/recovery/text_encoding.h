// Text conversions for names read from the medium. Names are held as UTF-8 in the core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/bytes.h"

namespace kfr::recovery {

// Short (8.3) names are stored in an 8-bit code page. We read them as Windows-1252, the code page
// Western systems use for them; bytes it leaves undefined map to the same-numbered C1 control.
std::u32string decodeWindows1252(const std::string& bytes);

std::string toUtf8(const std::u32string& text);
// UTF-16 code units (as in long names and NTFS names) to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::vector<std::uint16_t>& units);
std::string utf16LeToUtf8(Bytes bytes, std::size_t offset, std::size_t unitCount);

}  // namespace kfr::recovery
