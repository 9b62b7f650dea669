#include "query/TextScan.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/Errors.h"

namespace tervalo {

TBlockDatei::~TBlockDatei() { Close(); }

bool TBlockDatei::Open(const std::string& path) {
    Close();
    openErrno_ = 0;
    // Non-blocking so a catalogued FIFO cannot hang the query; only regular files are read.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        openErrno_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        openErrno_ = errno;
    } else if (!S_ISREG(st.st_mode)) {
        // The same numbers the other text reader gives for a folder, a pipe or a device.
        openErrno_ = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    }
    if (openErrno_ != 0) {
        ::close(fd);
        return false;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    fd_ = fd;
    path_ = path;
    groesse_ = static_cast<uint64_t>(st.st_size);
    return true;
}

void TBlockDatei::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::size_t TBlockDatei::Read(char* dst, std::size_t max) {
    if (fd_ < 0) return 0;
    for (;;) {
        ssize_t n = ::read(fd_, dst, max);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        ThrowFileError(errno, path_);
    }
}

}  // namespace tervalo
