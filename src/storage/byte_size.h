// Size texts for disks, volumes, partitions and files: "512 Byte", " 62.75 MB", "465.76 GB".
#pragma once

#include <cstdint>
#include <string>

namespace kfr::storage {

// Below 1024 bytes "%u Byte". Otherwise the value is divided by 1024, rounding to nearest
// (ties up), until it drops below 1,048,576; what is left is printed divided by 1024 as
// "%6.2f %cB" with the letter from "KMGTPEZY" picked by the number of divisions. The text keeps
// the padding of %6.2f; callers trim it (see sizeText).
std::string formatByteSize(std::uint64_t bytes);

// formatByteSize without the leading padding, the form every listing shows.
std::string sizeText(std::uint64_t bytes);

// Leading and trailing blanks (spaces, tabs, line breaks) removed.
std::string trimText(const std::string& text);

}  // namespace kfr::storage
