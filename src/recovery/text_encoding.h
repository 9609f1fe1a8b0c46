// Text conversions for names read from the medium. Names are held as UTF-8 in the core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/bytes.h"

namespace kfr::recovery {

// Short (8.3) names are stored in the OEM code page of the system that wrote them (not the one
// its windows use): bytes from 0x80 on are read as code page 850, the OEM code page of Western
// European systems, so "É", "Ü" and "ñ" come out as they were written. Bytes below 0x80 are ASCII.
std::u32string decodeOemName(const std::string& bytes);

// The lower-case form of an ASCII or Latin-1 capital letter (what an 8.3 name's lower-case flags
// ask for); other characters unchanged.
char32_t lowerLatin(char32_t c);

std::string toUtf8(const std::u32string& text);
// UTF-16 code units (as in long names and NTFS names) to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const std::vector<std::uint16_t>& units);
std::string utf16LeToUtf8(Bytes bytes, std::size_t offset, std::size_t unitCount);

}  // namespace kfr::recovery
