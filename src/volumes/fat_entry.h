// Where the fields of a 32-byte FAT directory entry lie, and the two things read from raw entries
// before any decoding: whether a sector starts a directory and which cluster an entry names.
// Geometry inference, the directory-cluster scan and the entry decoder all read entries this way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "storage/bytes.h"

namespace kfr::volumes {

inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::size_t kEntryAttrOffset = 11;
inline constexpr std::size_t kEntryNtFlagsOffset = 12;  // lower-case base name / extension flags
inline constexpr std::size_t kEntryClusterHighOffset = 20;  // FAT32 only; FAT16 keeps other data here
inline constexpr std::size_t kEntryTimeOffset = 22;
inline constexpr std::size_t kEntryDateOffset = 24;
inline constexpr std::size_t kEntryClusterLowOffset = 26;
inline constexpr std::size_t kEntryFileSizeOffset = 28;

// Long-name entries (attribute 0x0F): the checksum of the short name they belong to, and where
// their 13 UTF-16 characters lie.
inline constexpr std::size_t kLongNameChecksumOffset = 13;
inline constexpr std::array<std::size_t, 13> kLongNameCharOffsets = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

inline constexpr std::uint8_t kAttrLongName = 0x0F;
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
// Flags in the byte at kEntryNtFlagsOffset: the system that wrote the entry shows the base name
// or the extension of an 8.3 name in lower case.
inline constexpr std::uint8_t kLowerCaseBase = 0x08;
inline constexpr std::uint8_t kLowerCaseExtension = 0x10;
inline constexpr std::uint8_t kDeletedMark = 0xE5;

// True when the bytes begin with a directory's first two entries: "." then "..", each padded
// with spaces. Every directory but the root starts this way, so this finds directories on a
// medium without its FAT or its directory tree.
bool isDirectoryStart(Bytes sector);

// The first cluster an entry names: the low word, and on FAT32 the high word above it.
std::uint32_t entryFirstCluster(Bytes entry, bool fat32);

}  // namespace kfr::volumes
