// Words of the Signature Search screen that only the desktop program says: the exact-end option
// (the command line's --exact-end), where the carving report went, and what could not be done.
#pragma once

namespace kfr::ui {

inline constexpr const char* kExactEndOption =
    "Cut each file where its own structure ends (files whose structure is broken are left out)";
inline constexpr const char* kExactEndTooltip =
    "JPEG, PNG, GIF, BMP, TIFF and RAW photos, PDF, ZIP and Office files, 7z, RAR, gzip, xz, WAV/AVI/WEBP, "
    "MP4/MOV/HEIC/AVIF, MKV/WebM, MP3, Ogg, SQLite and DOC/XLS/PPT end where their structure says; other types "
    "end at the next header found";
inline constexpr const char* kFolderNotOpenedPrefix = "The folder could not be opened: ";
inline constexpr const char* kFileNotOpenedPrefix = "The file could not be opened: ";
// %1: blocks of the range of which nothing could be read.
inline constexpr const char* kUnreadableBlocksFormat =
    "%1 blocks of 256 KiB could not be read and were searched as zeros.";
// %1: files written short, %2: files not written at all (a full or failing destination).
inline constexpr const char* kCarvedShortFormat =
    "%1 carved files were written short and %2 could not be written: the destination may be full.";

}  // namespace kfr::ui
