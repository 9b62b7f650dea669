#pragma once
// An owned file descriptor and the read/write loops every raw file user needs: short reads and
// writes continue, a call interrupted by a signal is repeated.
#include <cstddef>
#include <cstdint>
#include <utility>

namespace tervalo {

// Owns one descriptor and closes it on destruction (a close error there is lost; call Close
// where it matters).
class TDateiHandle {
public:
    TDateiHandle() = default;
    explicit TDateiHandle(int fd) noexcept : fd_(fd) {}
    ~TDateiHandle() { Close(); }
    TDateiHandle(TDateiHandle&& o) noexcept : fd_(o.Release()) {}
    TDateiHandle& operator=(TDateiHandle&& o) noexcept {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    TDateiHandle(const TDateiHandle&) = delete;
    TDateiHandle& operator=(const TDateiHandle&) = delete;

    int Fd() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) noexcept {
        Close();
        fd_ = fd;
    }
    // Closes now: 0, or the system's error number of close (the descriptor is gone either way).
    int Close() noexcept;

private:
    int fd_ = -1;
};

// Opens a regular file for reading only, without blocking on a named pipe (the descriptor is
// blocking again once the file is known to be regular). On failure the handle is empty and
// `err` holds the system's error number: EISDIR for a folder, EACCES for a pipe or device,
// which hold no points. `groesse` receives the file's size when given.
TDateiHandle OpenForReading(const char* path, int& err, uint64_t* groesse = nullptr);

// Reads up to n bytes at `offset`; fewer only at the end of the file. A read error throws
// EInOutError.
std::size_t ReadAt(int fd, void* buf, std::size_t n, uint64_t offset);
// Writes all n bytes at `offset`; false (errno set) when that fails. No exception: callers
// report with their own text.
bool WriteAt(int fd, const void* buf, std::size_t n, uint64_t offset) noexcept;
// Writes all n bytes at the current position; false (errno set) when that fails.
bool WriteAll(int fd, const void* buf, std::size_t n) noexcept;

}  // namespace tervalo
