// Names from the medium made fit to be a file or folder name under the destination. A name on a
// damaged or hostile medium may be "." or "..", hold "/" or NUL (NTFS names are taken as they
// stand), carry control characters or be longer than the destination allows; none of these may
// ever lead a write outside the destination folder or fail a save run.
#pragma once

#include <cstddef>
#include <string>

namespace kfr::exporting {

inline constexpr std::size_t kDefaultNameMaxBytes = 255;

struct SafeName {
    std::string name;
    bool changed = false;  // the name could not be used as it stands
};

// The name itself when it is usable; otherwise "/", NUL and control characters become "_",
// "." becomes "_", ".." becomes "__", an empty name "_", and a name longer than maxBytes is
// shortened at a character boundary, keeping a short extension.
SafeName safeName(const std::string& name, std::size_t maxBytes = kDefaultNameMaxBytes);

// Shortens name to at most maxBytes, cutting the part before its extension (an extension of up
// to 16 bytes is kept) at a UTF-8 character boundary.
std::string shortenName(const std::string& name, std::size_t maxBytes);

// Largest cut <= limit that does not split a UTF-8 sequence of text.
std::size_t characterBoundary(const std::string& text, std::size_t limit);

// The text after the last "/" (the whole text when there is none).
std::string fileNamePart(const std::string& path);

// The longest file name the destination folder accepts (pathconf NAME_MAX), 255 when unknown.
std::size_t nameMaxBytes(const std::string& folder);

}  // namespace kfr::exporting
