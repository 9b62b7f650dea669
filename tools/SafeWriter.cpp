#include "tools/SafeWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/Datei.h"
#include "tools/Errors.h"
#include "tools/ScopeGuard.h"

namespace tervalo {

namespace {

namespace fs = std::filesystem;

// Absolute, but not normalised: "link/.." must mean what the system makes of it.
std::string Absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/') return p;
    std::error_code ec;
    fs::path a = fs::absolute(fs::path(p), ec);
    return ec ? p : a.string();
}

std::string DirOf(const std::string& p) {
    const std::size_t s = p.find_last_of('/');
    if (s == std::string::npos) return ".";
    return s == 0 ? "/" : p.substr(0, s);
}

// Temporary files still open, for the signal cleanup: fixed slots, no allocation there.
constexpr int kSlots = 8;
char g_tempPaths[kSlots][PATH_MAX];
std::atomic<bool> g_inUse[kSlots];  // slot taken
std::atomic<bool> g_ready[kSlots];  // path complete: the signal cleanup may use it

int Register(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (g_inUse[i].compare_exchange_strong(expected, true)) {
            std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
            g_ready[i].store(true);
            return i;
        }
    }
    return -1;
}

void Unregister(int slot) {
    if (slot < 0) return;
    g_ready[slot].store(false);
    g_inUse[slot].store(false);
}

// The usual mode of a new file: 0666 under the process's umask.
mode_t NewFileMode() {
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        const auto closeIt = OnExit([f] { std::fclose(f); });
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned mask = 0;
            if (std::sscanf(line, "Umask: %o", &mask) == 1) return static_cast<mode_t>(0666 & ~mask);
        }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when `p` names the file `finalPath` (existing: same inode; else the same absolute path).
bool IsSameFile(const std::string& finalPath, bool finalExists, const struct stat& finalSt, const std::string& p) {
    if (p.empty()) return false;
    struct stat st {};
    if (finalExists && ::stat(p.c_str(), &st) == 0) return SameInode(finalSt, st);
    return TSafeFile::Resolve(p) == finalPath;
}

}  // namespace

bool& TSafeFile::SyncEnabled() {
    static bool on = true;
    return on;
}

std::string TSafeFile::Resolve(const std::string& target) {
    std::string p = Absolute(target);
    // Follow a chain of links by hand: a dangling link names the file to be created.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n <= 0) break;
        link.resize(static_cast<std::size_t>(n));
        p = Absolute(link[0] == '/' ? link : DirOf(p) + "/" + link);
    }
    // The folders on the way may be links as well; the file itself is what counts.
    std::error_code ec;
    const fs::path dir = fs::weakly_canonical(fs::path(DirOf(p)), ec);
    if (!ec) p = (dir / fs::path(p).filename()).string();
    return p;
}

void TSafeFile::Check(const std::string& target, const TSchutz& schutz) {
    const std::string finalPath = Resolve(target);
    const std::string name = finalPath.substr(finalPath.find_last_of('/') + 1);
    struct stat lst {};
    // A name that cannot be a file, or a chain of links that never ends: renaming over it
    // would replace a folder entry the program did not make.
    if (name.empty() || name == "." || name == ".." ||
        (::lstat(finalPath.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)))
        throw EZielAbgelehnt(TextZielKeineDatei + target);
    struct stat st {};
    const bool exists = ::stat(finalPath.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        const int err = errno;
        throw EZielAbgelehnt(ErrnoText(err) + ": " + target, err);
    }
    if (exists && !S_ISREG(st.st_mode)) throw EZielAbgelehnt(TextZielKeineDatei + target);
    if (IsSameFile(finalPath, exists, st, schutz.Konfiguration)) throw EZielAbgelehnt(TextZielIstKonfiguration + target);
    for (const std::string& q : schutz.Quellen)
        if (IsSameFile(finalPath, exists, st, q)) throw EZielAbgelehnt(TextZielIstQuelle + target);
    // A rename would go round the owner's protection; only who may write in place may replace.
    if (exists && ::faccessat(AT_FDCWD, finalPath.c_str(), W_OK, AT_EACCESS) != 0)
        throw EZielAbgelehnt(TextZielSchreibgeschuetzt + target, errno);
    struct stat dst {};
    const std::string dir = DirOf(finalPath);
    if (::stat(dir.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) throw EZielAbgelehnt(TextOrdnerFehlt + dir, ENOENT);
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        throw EZielAbgelehnt(ErrnoText(EACCES) + ": " + target, EACCES);
    // In a sticky folder (/tmp) only the owner of a file or of the folder may replace it: find
    // that out now, not at the end of a long run.
    const uid_t me = ::geteuid();
    if (exists && (dst.st_mode & S_ISVTX) && me != 0 && st.st_uid != me && dst.st_uid != me)
        throw EZielAbgelehnt(ErrnoText(EACCES) + ": " + target, EACCES);
}

void TSafeFile::MakeFolders(const std::string& folder) {
    const std::string abs = Absolute(folder);
    std::string part;
    std::size_t from = 1;
    while (from <= abs.size()) {
        std::size_t next = abs.find('/', from);
        if (next == std::string::npos) next = abs.size();
        part = abs.substr(0, next);
        from = next + 1;
        if (part.empty() || part.back() == '/') continue;
        if (::mkdir(part.c_str(), 0700) == 0 || errno == EEXIST) {
            struct stat st {};
            if (::stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                throw EZielAbgelehnt(TextOrdnerFehlt + part, ENOTDIR);
            continue;
        }
        const int err = errno;
        throw EZielAbgelehnt(ErrnoText(err) + ": " + part, err);
    }
}

TSafeFile::TSafeFile(const std::string& target, const TSchutz& schutz) : target_(target) {
    Check(target, schutz);
    final_ = Resolve(target);
    const std::string dir = DirOf(final_);
    std::string name = final_.substr(final_.find_last_of('/') + 1);
    if (name.size() > 200) name.resize(200);  // room for the suffix within NAME_MAX
    std::string pattern = (dir == "/" ? std::string() : dir) + "/." + name + ".tervalo-XXXXXX";
    int fd;
    do {
        fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        throw EZielAbgelehnt(ErrnoText(err) + ": " + target, err);
    }
    fd_.Reset(fd);
    temp_ = pattern;
    slot_ = Register(temp_);
}

TSafeFile::~TSafeFile() {
    if (!committed_) Discard();
}

void TSafeFile::Write(const void* data, std::size_t n) {
    if (!WriteAll(fd_.Fd(), data, n)) ThrowFileError(errno, target_);
}

void TSafeFile::Commit() {
    if (committed_) return;
    if (!fd_) ThrowFileError(EBADF, target_);
    // Any failure below leaves the target as it was.
    auto discard = OnExit([this] { Discard(); });
    // The target may have changed since the check: never rename over anything but a file.
    struct stat st {};
    const bool exists = ::stat(final_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) throw EZielAbgelehnt(TextZielKeineDatei + target_);
    if (exists && ::faccessat(AT_FDCWD, final_.c_str(), W_OK, AT_EACCESS) != 0)
        throw EZielAbgelehnt(TextZielSchreibgeschuetzt + target_, errno);
    if (exists) {
        if (::geteuid() == 0) {
            if (::fchown(fd_.Fd(), st.st_uid, st.st_gid) != 0) ThrowFileError(errno, target_);
        } else {
            [[maybe_unused]] int ignored = ::fchown(fd_.Fd(), static_cast<uid_t>(-1), st.st_gid);  // keep the group where allowed
        }
    }
    // After fchown, which may clear set-id bits.
    if (::fchmod(fd_.Fd(), exists ? (st.st_mode & 07777) : NewFileMode()) != 0) ThrowFileError(errno, target_);
    if (SyncEnabled() && ::fsync(fd_.Fd()) != 0 && errno != EINVAL && errno != EROFS) ThrowFileError(errno, target_);
    const int err = fd_.Close();
    if (err != 0 && err != EINTR) ThrowFileError(err, target_);
    if (::rename(temp_.c_str(), final_.c_str()) != 0) ThrowFileError(errno, target_);
    discard.Dismiss();
    committed_ = true;
    Unregister(slot_);
    slot_ = -1;
    if (SyncEnabled()) {
        // The rename itself reaches the disk with the folder.
        const TDateiHandle dir(::open(DirOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) {
            [[maybe_unused]] int ignored = ::fsync(dir.Fd());
        }
    }
}

void TSafeFile::Discard() noexcept {
    fd_.Reset();
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    Unregister(slot_);
    slot_ = -1;
    temp_.clear();
}

void RemoveSafeFileTemporaries() noexcept {
    for (int i = 0; i < kSlots; ++i)
        if (g_ready[i].load()) ::unlink(g_tempPaths[i]);
}

}  // namespace tervalo
