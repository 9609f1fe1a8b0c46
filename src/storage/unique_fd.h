// A file descriptor that closes itself: every descriptor the program opens lives in one, so no
// path through the code has to remember to close it.
#pragma once

namespace kfr::storage {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    // Gives the descriptor up without closing it.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes the held descriptor (if any) and holds fd instead.
    void reset(int fd = -1);
    // Closes now and tells how that went: 0, or the errno of a failed close (EINTR counts as
    // closed). Writers need this, because a failed close can be the first sign of lost data.
    int close();

private:
    int m_fd = -1;
};

}  // namespace kfr::storage
