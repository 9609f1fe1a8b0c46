// Names under which recovered data lands on disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kfr::storage {

// prefix + n + suffix + "." + extension, with n zero-padded to five digits so that carved files
// sort in the order they were found ("JPG00007.jpg"; n from 100,000 on simply gets more digits).
// A leading dot of the extension is dropped; an empty extension leaves the trailing dot.
std::string numberedName(std::string_view prefix, std::uint64_t n, std::string_view suffix, std::string_view extension);

}  // namespace kfr::storage
