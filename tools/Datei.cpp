#include "tools/Datei.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tools/Errors.h"

namespace tervalo {

TDateiHandle OpenForReading(const char* path, int& err, uint64_t* groesse) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    err = fd < 0 ? errno : 0;
    TDateiHandle h(fd);
    if (!h) return h;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    if (err != 0) return TDateiHandle();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (groesse) *groesse = static_cast<uint64_t>(st.st_size);
    return h;
}

int TDateiHandle::Close() noexcept {
    if (fd_ < 0) return 0;
    const int fd = std::exchange(fd_, -1);
    // Not repeated after EINTR: the descriptor is released already on Linux.
    return ::close(fd) == 0 ? 0 : errno;
}

std::size_t ReadAt(int fd, void* buf, std::size_t n, uint64_t offset) {
    std::size_t done = 0;
    auto* p = static_cast<unsigned char*>(buf);
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ThrowFileError(errno);
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

namespace {

// Calls `step(done)`, a write of the bytes from `done` on, until all n are written.
template <typename Step>
bool WriteLoop(std::size_t n, Step step) noexcept {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = step(done);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) {  // no progress and no error: give up instead of spinning
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

bool WriteAt(int fd, const void* buf, std::size_t n, uint64_t offset) noexcept {
    const auto* p = static_cast<const unsigned char*>(buf);
    return WriteLoop(n, [&](std::size_t done) {
        return ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
    });
}

bool WriteAll(int fd, const void* buf, std::size_t n) noexcept {
    const auto* p = static_cast<const unsigned char*>(buf);
    return WriteLoop(n, [&](std::size_t done) { return ::write(fd, p + done, n - done); });
}

}  // namespace tervalo
