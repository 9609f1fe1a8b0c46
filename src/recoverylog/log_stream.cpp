// Writing and reading the items of a recovery log.
#include "recoverylog/log_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recovery/text_encoding.h"

namespace kfr::recoverylog {

namespace {

// The u16 after a length byte of 0xFF that says "UTF-16 text follows; its length comes next".
constexpr std::uint16_t kUnicodeTag = 0xFFFE;

Error writeError(const std::string& path, int err)
{
    const bool full = err == ENOSPC || err == EDQUOT;
    return Error{full ? ErrorKind::DiskFull : ErrorKind::WriteFailed, 0, path, std::strerror(err)};
}

}  // namespace

// --- Text ---

std::u16string utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c = 0xFFFD;
        std::size_t n = 1;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b < 0xF5) {
            const std::size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            char32_t v = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
            std::size_t k = 1;
            for (; k < need && i + k < s.size(); ++k) {
                const auto cb = static_cast<unsigned char>(s[i + k]);
                if ((cb & 0xC0) != 0x80) break;
                v = (v << 6) | (cb & 0x3F);
            }
            const bool shortest = (need == 2) || (need == 3 && v >= 0x800) || (need == 4 && v >= 0x10000);
            if (k == need && shortest && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                c = v;
                n = need;
            } else {
                n = std::max<std::size_t>(k, 1);
            }
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += n;
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view units)
{
    return recovery::utf16ToUtf8(std::vector<std::uint16_t>(units.begin(), units.end()));
}

std::vector<std::uint8_t> encodeLength(std::uint64_t length)
{
    std::vector<std::uint8_t> out;
    auto le = [&out](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    if (length <= 254) {
        le(length, 1);
    } else if (length <= 65533) {
        le(0xFF, 1);
        le(length, 2);
    } else if (length < 0xFFFFFFFFull) {
        le(0xFF, 1);
        le(0xFFFF, 2);
        le(length, 4);
    } else {
        le(0xFF, 1);
        le(0xFFFF, 2);
        le(0xFFFFFFFF, 4);
        le(length, 8);
    }
    return out;
}

// --- Sinks ---

Result<std::unique_ptr<FileSink>> FileSink::create(const std::string& path)
{
    storage::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (!fd) {
        Error e = writeError(path, errno);
        if (e.kind != ErrorKind::DiskFull) e.kind = ErrorKind::OpenFailed;
        return e;
    }
    return std::unique_ptr<FileSink>(new FileSink(std::move(fd), path));
}

Status FileSink::write(Bytes bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return writeError(m_path, n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return okStatus();
}

Status FileSink::close()
{
    if (const int err = m_fd.close()) return writeError(m_path, err);
    return okStatus();
}

Status MemorySink::write(Bytes bytes)
{
    const std::uint64_t room = m_failAfter > m_bytes.size() ? m_failAfter - m_bytes.size() : 0;
    const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()));
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    if (taken < bytes.size()) return writeError("memory", ENOSPC);
    return okStatus();
}

// --- LogWriter ---

void LogWriter::put(const std::uint8_t* data, std::size_t size)
{
    while (size > 0 && m_status.ok()) {
        const std::size_t n = std::min(size, sizeof m_buffer - m_used);
        std::memcpy(m_buffer + m_used, data, n);
        m_used += n;
        data += n;
        size -= n;
        m_written += n;
        if (m_used == sizeof m_buffer) flush();
    }
}

void LogWriter::flush()
{
    if (m_used == 0 || !m_status.ok()) return;
    m_status = m_sink.write(Bytes(m_buffer, m_used));
    m_used = 0;
}

void LogWriter::u8(std::uint8_t value)
{
    put(&value, 1);
}

void LogWriter::u16(std::uint16_t value)
{
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    put(b, 2);
}

void LogWriter::u32(std::uint32_t value)
{
    u16(static_cast<std::uint16_t>(value));
    u16(static_cast<std::uint16_t>(value >> 16));
}

void LogWriter::u64(std::uint64_t value)
{
    u32(static_cast<std::uint32_t>(value));
    u32(static_cast<std::uint32_t>(value >> 32));
}

void LogWriter::units(const std::u16string& text)
{
    for (char16_t unit : text) u16(unit);
}

void LogWriter::string(std::string_view utf8)
{
    const std::u16string text = utf8ToUtf16(utf8);
    u8(0xFF);
    u16(kUnicodeTag);
    const auto len = encodeLength(text.size());
    put(len.data(), len.size());
    units(text);
}

void LogWriter::line(std::string_view utf8)
{
    units(utf8ToUtf16(utf8));
    u16(0x000D);
    u16(0x000A);
}

void LogWriter::byteString(std::string_view bytes)
{
    u32(static_cast<std::uint32_t>(bytes.size()));
    put(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void LogWriter::raw(Bytes bytes)
{
    put(bytes.data(), bytes.size());
}

Status LogWriter::finish()
{
    flush();
    Status closed = m_sink.close();
    if (!m_status.ok()) return m_status;
    return closed;
}

// --- Inputs ---

std::size_t MemoryInput::read(std::span<std::uint8_t> out)
{
    const std::size_t n = std::min(out.size(), m_bytes.size() - m_pos);
    // An empty input has no bytes to point at: memcpy must not see its null pointer.
    if (n > 0) std::memcpy(out.data(), m_bytes.data() + m_pos, n);
    m_pos += n;
    return n;
}

Result<std::unique_ptr<FileInput>> FileInput::open(const std::string& path)
{
    storage::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        const int err = errno;
        const ErrorKind kind = err == ENOENT    ? ErrorKind::NotFound
                               : err == EACCES || err == EPERM ? ErrorKind::PermissionDenied
                                                                 : ErrorKind::OpenFailed;
        return Error{kind, 0, path, std::strerror(err)};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error{ErrorKind::InvalidArgument, 0, path, "is not a regular file"};
    // Opened without blocking so that a named pipe cannot hang the open; reads block as usual.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return std::unique_ptr<FileInput>(new FileInput(std::move(fd)));
}

std::size_t FileInput::read(std::span<std::uint8_t> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        if (m_begin == m_end) {
            if (m_errno) break;
            ssize_t n;
            do {
                n = ::read(m_fd.get(), m_buffer.data(), m_buffer.size());
            } while (n < 0 && errno == EINTR);
            if (n < 0) m_errno = errno;
            if (n <= 0) break;
            m_begin = 0;
            m_end = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(out.size() - done, m_end - m_begin);
        std::memcpy(out.data() + done, m_buffer.data() + m_begin, n);
        m_begin += n;
        done += n;
    }
    return done;
}

std::string FileInput::failure() const
{
    return m_errno ? std::strerror(m_errno) : std::string();
}

// --- LogReader ---

void LogReader::fail(FaultKind kind, std::string detail)
{
    if (m_fault) return;
    if (m_input.failed()) {
        kind = FaultKind::ReadFailed;
        detail = m_input.failure();
    }
    m_fault = ReadFault{kind, m_itemStart, std::move(detail)};
}

bool LogReader::take(std::uint8_t* out, std::size_t size)
{
    if (m_fault) {
        std::memset(out, 0, size);
        return false;
    }
    std::size_t done = 0;
    if (m_hasPeek && size > 0) {
        out[0] = m_peek;
        m_hasPeek = false;
        done = 1;
    }
    done += m_input.read(std::span<std::uint8_t>(out + done, size - done));
    m_offset += done;
    if (done < size) {
        std::memset(out + done, 0, size - done);
        fail(FaultKind::Truncated);
        return false;
    }
    return true;
}

bool LogReader::peekByte(std::uint8_t& out)
{
    if (m_fault) return false;
    if (!m_hasPeek) {
        if (m_input.read(std::span<std::uint8_t>(&m_peek, 1)) != 1) return false;
        m_hasPeek = true;
    }
    out = m_peek;
    return true;
}

bool LogReader::atEnd()
{
    std::uint8_t b = 0;
    return !peekByte(b) && !m_input.failed();
}

std::uint8_t LogReader::u8()
{
    m_itemStart = m_offset;
    std::uint8_t b = 0;
    take(&b, 1);
    return b;
}

std::uint16_t LogReader::u16()
{
    m_itemStart = m_offset;
    std::uint8_t b[2];
    take(b, 2);
    return readLe16(Bytes(b, 2), 0);
}

std::uint32_t LogReader::u32()
{
    m_itemStart = m_offset;
    std::uint8_t b[4];
    take(b, 4);
    return readLe32(Bytes(b, 4), 0);
}

std::uint64_t LogReader::u64()
{
    m_itemStart = m_offset;
    std::uint8_t b[8];
    take(b, 8);
    return readLe64(Bytes(b, 8), 0);
}

std::uint64_t LogReader::length(bool& unicodeTag)
{
    unicodeTag = false;
    std::uint8_t b = 0;
    take(&b, 1);
    if (b < 0xFF) return b;
    std::uint8_t w[2];
    take(w, 2);
    const std::uint16_t word = readLe16(Bytes(w, 2), 0);
    if (word == kUnicodeTag) {
        unicodeTag = true;
        return 0;
    }
    if (word < 0xFFFF) return word;
    std::uint8_t d[4];
    take(d, 4);
    const std::uint32_t dword = readLe32(Bytes(d, 4), 0);
    if (dword < 0xFFFFFFFFu) return dword;
    std::uint8_t q[8];
    take(q, 8);
    return readLe64(Bytes(q, 8), 0);
}

std::string LogReader::string()
{
    const std::uint64_t start = m_offset;
    bool unicode = false;
    std::uint64_t units = length(unicode);
    if (unicode) {
        bool again = false;
        units = length(again);
        if (again && ok()) {
            m_itemStart = start;
            fail(FaultKind::Inconsistent, "a String carries its tag twice");
            return {};
        }
    }
    m_itemStart = start;
    if (!ok()) return {};
    if (units > kMaxTextUnits) {
        fail(FaultKind::LengthTooLong);
        return {};
    }
    // Read in pieces: the length is only a claim until the bytes are there.
    std::u32string latin1;
    std::u16string text;
    std::uint8_t chunk[4096];
    const std::size_t width = unicode ? 2 : 1;
    while (units > 0 && ok()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(units, sizeof chunk / width));
        if (!take(chunk, n * width)) break;
        for (std::size_t i = 0; i < n; ++i) {
            if (unicode)
                text += static_cast<char16_t>(readLe16(Bytes(chunk, n * 2), 2 * i));
            else
                latin1 += static_cast<char32_t>(chunk[i]);  // single-byte characters are read as Latin-1
        }
        units -= n;
    }
    if (!ok()) return {};
    return unicode ? utf16ToUtf8(text) : recovery::toUtf8(latin1);
}

std::string LogReader::line()
{
    m_itemStart = m_offset;
    std::u16string text;
    std::uint8_t b[2];
    while (take(b, 2)) {
        const char16_t unit = static_cast<char16_t>(readLe16(Bytes(b, 2), 0));
        if (unit == 0x000A && !text.empty() && text.back() == 0x000D) {
            text.pop_back();
            return utf16ToUtf8(text);
        }
        if (text.size() >= kMaxTextUnits) {
            fail(FaultKind::LengthTooLong);
            break;
        }
        text += unit;
    }
    return {};
}

std::string LogReader::byteString(std::size_t maxBytes)
{
    const std::uint32_t size = u32();
    if (!ok()) return {};
    if (size > maxBytes) {
        fail(FaultKind::LengthTooLong);
        return {};
    }
    std::string out;
    std::uint8_t chunk[4096];
    std::size_t left = size;
    while (left > 0) {
        const std::size_t n = std::min(left, sizeof chunk);
        if (!take(chunk, n)) return {};
        out.append(reinterpret_cast<const char*>(chunk), n);
        left -= n;
    }
    return out;
}

void LogReader::skip(std::uint64_t count)
{
    m_itemStart = m_offset;
    std::uint8_t chunk[4096];
    while (count > 0 && ok()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof chunk));
        if (!take(chunk, n)) return;
        count -= n;
    }
}

}  // namespace kfr::recoverylog
