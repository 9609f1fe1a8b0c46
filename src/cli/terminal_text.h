// Text for a terminal: names from the medium made harmless to print, display widths for aligned
// columns, sizes for people and times in ISO 8601.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recovery/folder_listing.h"

namespace kfr::cli {

// Names come from the medium, so a crafted one could hold terminal control sequences (retitle or
// clear the terminal, move the cursor, forge rows with CR or LF). Control characters (C0, DEL,
// C1), bidirectional overrides and line separators are shown as \xNN or \uNNNN, bytes that are no
// UTF-8 as \xNN, and a backslash as \\, so what is printed is always one line of plain text that
// tells the bytes apart.
std::string escapeForTerminal(std::string_view text);

// Columns the text takes on a terminal: wide East Asian characters count two, combining marks
// none. Invalid UTF-8 bytes count one each.
std::size_t displayWidth(std::string_view text);

// Appends text to out with spaces up to width columns (never cut): after it, or before it when
// alignRight.
void appendPadded(std::string& out, std::string_view text, std::size_t width, bool alignRight = false);
// text followed by spaces up to width columns (never cut).
std::string padToWidth(const std::string& text, std::size_t width);
// Spaces, then text, up to width columns.
std::string padLeftToWidth(const std::string& text, std::size_t width);

// "333 B", "4.9 KiB", "1.3 MiB", "2.0 GiB".
std::string humanSize(std::uint64_t bytes);

// A row's time in ISO 8601: FAT times are the local time the writing system kept, without a
// zone ("2023-06-01T08:15:30"); NTFS times are UTC ("2023-06-01T08:15:30Z"). Nothing when the
// words name no valid time, or for the orphan folder, whose time is the scan's own.
std::optional<std::string> isoTime(const recovery::ItemRow& row);

}  // namespace kfr::cli
