// Byte comparison helper shared by the signature tests.
#include "storage/bytes.h"

#include <cstring>

namespace kfr {

bool bytesEqual(Bytes b, std::size_t off, const char* text)
{
    const std::size_t n = std::strlen(text);
    if (off + n > b.size()) return false;
    return std::memcmp(b.data() + off, text, n) == 0;
}

}  // namespace kfr
