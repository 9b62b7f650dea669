#include "formats/PunktQuelle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>

namespace tervalo {

bool IsDbaseFile(const std::string& path) {
    // Read access only; non-blocking so a FIFO cannot hang the caller.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    unsigned char head[8] = {};
    ssize_t got = ok ? ::read(fd, head, sizeof head) : -1;
    ::close(fd);
    return got >= 2 && (head[0] == 3 || head[0] == 4) && head[1] > 64 && head[1] < 128;
}

TPunktQuelle::TPunktQuelle(std::string path) : path_(std::move(path)), dbase_(IsDbaseFile(path_)) {}

void TPunktQuelle::SetzeQuadrat(const TQuadrat& q) {
    quadrat_ = q;
    test_.emplace(q.Xmin, q.Xmax, q.Ymin, q.Ymax);
}

int TPunktQuelle::Oeffne() {
    if (dbase_) {
        dbf_.OpenRead(path_);  // sources are only ever read
        return 0;
    }
    auto datei = std::make_unique<TDateiBytes>();
    if (const int err = datei->Open(path_)) return err;
    groesse_ = datei->Groesse();
    text_.emplace(std::move(datei));
    return 0;
}

std::string TPunktQuelle::Pfad() const { return dbase_ ? dbf_.Path() : path_; }

}  // namespace tervalo
