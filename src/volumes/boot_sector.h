// Recognising boot sectors: the FAT32, FAT16 and NTFS signatures and the 0x55AA marker. Used
// when partitions are listed, when a volume's parameters are read and when media are swept.
#pragma once

#include <string>

#include "storage/bytes.h"

namespace kfr::volumes {

enum class BootSignature { None, Fat32, Fat16, Ntfs };

// Tested in the order FAT32 ("FAT32" at 82), FAT16 ("FAT16" at 54), NTFS ("NTFS" at 3).
// The 0x55AA marker is not part of this test; see hasBootMarker.
BootSignature detectBootSignature(Bytes sector);

// Bytes 510 and 511 are 0x55, 0xAA.
bool hasBootMarker(Bytes sector);

// "FAT32", "FAT16", "NTFS" or "Unknown".
std::string partTypeName(BootSignature sig);

}  // namespace kfr::volumes
