// Expected failures travel as values: a Result<T> holds either the value or an Error that says
// what went wrong, where (sector or path) and why, so callers can report it without exceptions.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace kfr {

enum class ErrorKind {
    OpenFailed,        // the source could not be opened (missing, no permission)
    PermissionDenied,  // opened would need privileges the user lacks
    ReadFailed,        // a sector or block could not be read
    Implausible,       // bytes were read but do not describe what was expected
    NotFound,          // a lookup found nothing
    InvalidArgument,   // the caller asked for something impossible
    WriteFailed,       // an output file could not be written
    DiskFull,          // the destination has no room left
    Stopped,           // a stop request ended the work
    MediumRemoved,     // the medium went away while it was being read (a disk unplugged)
};

struct Error {
    ErrorKind kind = ErrorKind::ReadFailed;
    std::uint64_t sector = 0;  // where it happened, when a sector is involved
    std::string path;          // the source or output involved, when any
    std::string detail;        // a short human-readable reason
};

std::string errorKindName(ErrorKind kind);

template <typename T>
class Result {
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(Error error) : m_data(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_data); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(m_data); }
    const T& value() const& { return std::get<T>(m_data); }
    T&& value() && { return std::get<T>(std::move(m_data)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const { return std::get<Error>(m_data); }

private:
    std::variant<T, Error> m_data;
};

struct Unit {};
using Status = Result<Unit>;
inline Status okStatus() { return Unit{}; }

}  // namespace kfr
