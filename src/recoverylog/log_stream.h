// The items a recovery log is made of, written and read one after another: 16-, 32- and 64-bit
// little-endian numbers, Strings (a length in one of four forms, then UTF-16LE code units or
// single-byte characters) and Lines (UTF-16LE code units ended by CR LF). Writing goes through a
// 4096-byte buffer; reading is bounded, so a truncated or hostile file ends in a fault instead of
// a crash, a hang or an allocation of whatever length it claims.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/bytes.h"
#include "storage/result.h"
#include "storage/unique_fd.h"

namespace kfr::recoverylog {

// The longest String or Line a reader accepts, in code units. Names of FAT and NTFS items hold
// at most 255 and paths a few thousand; a longer length is a corrupt file, not a name.
inline constexpr std::uint64_t kMaxTextUnits = 1u << 20;

// --- Writing ---

// Where written bytes go. A file on disk in the program; memory in tests.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual Status write(Bytes bytes) = 0;
    virtual Status close() { return okStatus(); }
};

class FileSink final : public ByteSink {
public:
    // Creates path for writing, replacing a file already there. OpenFailed, or DiskFull when the
    // destination has no room for even the name.
    static Result<std::unique_ptr<FileSink>> create(const std::string& path);
    Status write(Bytes bytes) override;
    // Closes the file; a failed close is reported, as it may be the first sign of lost data.
    Status close() override;

private:
    FileSink(storage::UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}
    storage::UniqueFd m_fd;
    std::string m_path;
};

class MemorySink final : public ByteSink {
public:
    // failAfter: the number of bytes taken before every further write fails as a full disk does.
    explicit MemorySink(std::uint64_t failAfter = UINT64_MAX) : m_failAfter(failAfter) {}
    Status write(Bytes bytes) override;
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint64_t m_failAfter;
};

// Writes items through a buffer of 4096 bytes. The first failed write is kept; everything after
// it is dropped, and ok() turns false so long loops can end early.
class LogWriter {
public:
    explicit LogWriter(ByteSink& sink) : m_sink(sink) {}
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    void u8(std::uint8_t value);
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    // A String: the tag bytes FF FE FF, the length of the UTF-16 form of text, its code units.
    void string(std::string_view utf8);
    // A Line: the UTF-16 form of text, then CR LF.
    void line(std::string_view utf8);
    // Bytes as they are, after a u32 count (paths of this system are bytes, not text).
    void byteString(std::string_view bytes);
    // Bytes with no count.
    void raw(Bytes bytes);

    bool ok() const { return m_status.ok(); }
    std::uint64_t written() const { return m_written; }
    // Writes what the buffer holds and closes the sink; the first failure of the whole write.
    Status finish();

private:
    void put(const std::uint8_t* data, std::size_t size);
    void flush();
    void units(const std::u16string& text);

    ByteSink& m_sink;
    std::uint8_t m_buffer[4096];
    std::size_t m_used = 0;
    std::uint64_t m_written = 0;
    Status m_status = okStatus();
};

// The length of a String as written: one byte up to 254, else FF and a u16 up to 65,533, else
// FF FFFF and a u32 below 2^32 - 1, else FF FFFF FFFFFFFF and a u64.
std::vector<std::uint8_t> encodeLength(std::uint64_t length);

std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view units);

// --- Reading ---

// Where read bytes come from.
class ByteInput {
public:
    virtual ~ByteInput() = default;
    // Copies up to out.size() bytes; fewer only at the end of the input or when reading fails
    // (failed() then says so).
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
    virtual bool failed() const { return false; }
    virtual std::string failure() const { return {}; }
};

class MemoryInput final : public ByteInput {
public:
    explicit MemoryInput(Bytes bytes) : m_bytes(bytes) {}
    std::size_t read(std::span<std::uint8_t> out) override;

private:
    Bytes m_bytes;
    std::size_t m_pos = 0;
};

class FileInput final : public ByteInput {
public:
    // Opens path read-only. OpenFailed or PermissionDenied when it cannot be opened, NotFound
    // when it does not exist, InvalidArgument when it is no regular file.
    static Result<std::unique_ptr<FileInput>> open(const std::string& path);
    std::size_t read(std::span<std::uint8_t> out) override;
    bool failed() const override { return m_errno != 0; }
    std::string failure() const override;

private:
    explicit FileInput(storage::UniqueFd fd) : m_fd(std::move(fd)) {}
    storage::UniqueFd m_fd;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(1 << 16);
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    int m_errno = 0;
};

// Why reading a log stopped before its end.
enum class FaultKind {
    Truncated,       // the file ends inside an item
    ReadFailed,      // the file could not be read
    LengthTooLong,   // a String or Line longer than kMaxTextUnits
    NotANumber,      // a table cell or count that should hold a number does not
    Inconsistent,    // two parts of the file contradict each other
};

struct ReadFault {
    FaultKind kind = FaultKind::Truncated;
    std::uint64_t offset = 0;  // the byte at which the failed item began
    std::string detail;        // the system's text for a read error
};

// Reads items. The first failure is kept; every read after it returns zero or an empty text, so
// callers check ok() at their loop boundaries only.
class LogReader {
public:
    explicit LogReader(ByteInput& input) : m_input(input) {}
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    // A String as UTF-8: tagged (UTF-16 code units) or written without the tag (single-byte
    // characters, read as Latin-1).
    std::string string();
    // A Line as UTF-8, without its CR LF.
    std::string line();
    // A byteString; at most maxBytes long.
    std::string byteString(std::size_t maxBytes = kMaxTextUnits);
    // Skips count bytes.
    void skip(std::uint64_t count);

    bool ok() const { return !m_fault; }
    const ReadFault& fault() const { return *m_fault; }
    void fail(FaultKind kind, std::string detail = {});
    std::uint64_t offset() const { return m_offset; }
    // True when nothing is left to read (and the input did not fail).
    bool atEnd();

private:
    bool take(std::uint8_t* out, std::size_t size);
    bool peekByte(std::uint8_t& out);
    std::uint64_t length(bool& unicodeTag);

    ByteInput& m_input;
    std::uint64_t m_offset = 0;
    std::uint64_t m_itemStart = 0;
    bool m_hasPeek = false;
    std::uint8_t m_peek = 0;
    std::optional<ReadFault> m_fault;
};

}  // namespace kfr::recoverylog
