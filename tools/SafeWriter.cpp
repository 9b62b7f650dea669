#include "tools/SafeWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>

#include "ordner/KachelMuster.h"
#include "tools/Datei.h"
#include "tools/Errors.h"
#include "tools/ScopeGuard.h"
#include "tools/Tools.h"

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

// An existing file may be replaced only by who may write it in place; one without any write
// bit is protected from root as well, who would pass the access test.
bool MayReplace(const std::string& path, const struct stat& st, int& err) {
    if ((st.st_mode & 0222) == 0) {
        err = EACCES;
        return false;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        err = errno;
        return false;
    }
    return true;
}

// The random part of a temporary name: six letters or digits, as mkostemp makes them.
constexpr int kRandomChars = 6;
constexpr char kRandomSet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsRandomChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string RandomChars() {
    unsigned char b[kRandomChars] = {};
    if (::getrandom(b, sizeof b, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof b)) {
        timespec ts {};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t v = static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(::getpid());
        for (unsigned char& c : b) c = static_cast<unsigned char>(v >>= 7);
    }
    std::string r(kRandomChars, 'A');
    for (int i = 0; i < kRandomChars; ++i) r[static_cast<std::size_t>(i)] = kRandomSet[b[i] % (sizeof kRandomSet - 1)];
    return r;
}

void LockExclusive(int fd) {
    // Where the file system has no locks the file stays unlocked; the cleaner then cannot
    // lock it either and leaves it.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Creates `prefix` + six random characters, locked before anyone can take it for a
// leftover: an unnamed file linked in already locked where the system allows, otherwise a
// named one locked just after creation (and made again should a cleaner have taken it in
// that moment). Returns the descriptor, or -1 with `err` set.
int CreateLocked(const std::string& dir, const std::string& prefix, std::string& path, int& err) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        LockExclusive(fd);
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            path = prefix + RandomChars();
            if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return fd;
            if (errno != EEXIST) break;
        }
        ::close(fd);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string pattern = prefix + "XXXXXX";
        do {
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            err = errno;
            return -1;
        }
        LockExclusive(fd);
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) == 0 && ::lstat(pattern.c_str(), &named) == 0 && SameInode(mine, named)) {
            path = pattern;
            return fd;
        }
        ::close(fd);
    }
    err = EEXIST;
    return -1;
}

// An empty file this young may belong to a run that has not locked it yet.
constexpr time_t kYoungSeconds = 10;

bool YoungAndEmpty(const struct stat& st) {
    if (st.st_size != 0) return false;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return st.st_mtim.tv_sec > now.tv_sec - kYoungSeconds;  // a time ahead of the clock too
}

// True when `p` names the file `finalPath` (existing: same inode; else the same absolute path).
bool IsSameFile(const std::string& finalPath, bool finalExists, const struct stat& finalSt, const std::string& p) {
    if (p.empty()) return false;
    struct stat st {};
    if (finalExists && ::stat(p.c_str(), &st) == 0) return SameInode(finalSt, st);
    return TSichereDatei::Resolve(p) == finalPath;
}

// Whether the target would be a tile of one of the protected folders: its name is a tile's
// and its folder is one of them (with `unten`, or lies below one). Folders are compared by
// device and inode, so links and bind mounts do not hide them; nothing is listed.
bool InGeschuetztemOrdner(const std::string& finalPath, const std::vector<std::string>& ordner, bool unten) {
    if (ordner.empty() || !IsKachelName(finalPath.substr(finalPath.find_last_of('/') + 1))) return false;
    std::vector<struct stat> geschuetzt;
    for (const std::string& o : ordner) {
        struct stat st {};
        if (::stat(o.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) geschuetzt.push_back(st);
    }
    if (geschuetzt.empty()) return false;
    std::string dir = DirOf(finalPath);
    for (;;) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0)
            for (const struct stat& g : geschuetzt)
                if (SameInode(st, g)) return true;
        if (!unten || dir == "/" || dir.empty()) return false;
        dir = DirOf(dir);
    }
}

}  // namespace

bool& TSichereDatei::SyncEnabled() {
    static bool on = true;
    return on;
}

std::string TSichereDatei::Resolve(const std::string& target) {
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

void TSichereDatei::Check(const std::string& target, const TSchutz& schutz) {
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
    // It would become a tile of a catalogued folder, or replace one.
    if (InGeschuetztemOrdner(finalPath, schutz.Ordner, schutz.Unterordner)) throw EZielAbgelehnt(TextZielIstQuelle + target);
    // A rename would go round the owner's protection; only who may write in place may replace.
    int denied = 0;
    if (exists && !MayReplace(finalPath, st, denied)) throw EZielAbgelehnt(TextZielSchreibgeschuetzt + target, denied);
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

void TSichereDatei::MakeFolders(const std::string& folder) {
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

std::string TemporaryPrefix(const std::string& targetName) {
    std::string name = targetName;
    if (name.size() > 200) name.resize(200);  // room for the suffix within NAME_MAX
    return "." + name + ".tervalo-";
}

TSichereDatei::TSichereDatei(const std::string& target, const TSchutz& schutz) : target_(target) {
    Check(target, schutz);
    final_ = Resolve(target);
    struct stat st {};
    existed_ = ::stat(final_.c_str(), &st) == 0;
    const std::string dir = DirOf(final_);
    const std::string prefix =
        (dir == "/" ? std::string() : dir) + "/" + TemporaryPrefix(final_.substr(final_.find_last_of('/') + 1));
    int err = 0;
    const int fd = CreateLocked(dir, prefix, temp_, err);
    if (fd < 0) {
        temp_.clear();
        throw EZielAbgelehnt(ErrnoText(err) + ": " + target, err);
    }
    fd_.Reset(fd);
    lock_.Reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    slot_ = Register(temp_);
    RemoveStaleTemporaries(final_, temp_);
}

TSichereDatei::~TSichereDatei() {
    if (!committed_) Discard();
}

void TSichereDatei::Write(const void* data, std::size_t n) {
    if (!WriteAll(fd_.Fd(), data, n)) ThrowFileError(errno, target_);
}

void TSichereDatei::Commit() { Finish(true); }

bool TSichereDatei::CommitIfNew() { return Finish(false); }

bool TSichereDatei::Finish(bool replace) {
    if (committed_) return true;
    if (!fd_) ThrowFileError(EBADF, target_);
    // Any failure below leaves the target as it was.
    auto discard = OnExit([this] { Discard(); });
    // The target may have changed since the check: never rename over anything but a file.
    struct stat st {};
    const bool exists = ::stat(final_.c_str(), &st) == 0 || ::lstat(final_.c_str(), &st) == 0;
    if (exists && !replace) return false;
    if (exists && !S_ISREG(st.st_mode)) throw EZielAbgelehnt(TextZielKeineDatei + target_);
    int denied = 0;
    if (exists && !MayReplace(final_, st, denied)) throw EZielAbgelehnt(TextZielSchreibgeschuetzt + target_, denied);
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
    // The lock stays with its second descriptor until the name is gone.
    const int err = fd_.Close();
    if (err != 0 && err != EINTR) ThrowFileError(err, target_);
    if (replace) {
        if (::rename(temp_.c_str(), final_.c_str()) != 0) ThrowFileError(errno, target_);
    } else if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) return false;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) ThrowFileError(errno, target_);
        // A file system without the flag: a hard link never replaces either.
        if (::link(temp_.c_str(), final_.c_str()) != 0) {
            if (errno == EEXIST) return false;
            ThrowFileError(errno, target_);
        }
        ::unlink(temp_.c_str());
    }
    discard.Dismiss();
    committed_ = true;
    lock_.Reset();
    Unregister(slot_);
    slot_ = -1;
    if (SyncEnabled()) {
        // The rename itself reaches the disk with the folder.
        const TDateiHandle dir(::open(DirOf(final_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) {
            [[maybe_unused]] int ignored = ::fsync(dir.Fd());
        }
    }
    return true;
}

void TSichereDatei::Discard() noexcept {
    // The name goes while the lock is held, so no cleaner can take it meanwhile.
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    fd_.Reset();
    lock_.Reset();
    Unregister(slot_);
    slot_ = -1;
    temp_.clear();
}

int RemoveStaleTemporaries(const std::string& finalPath, const std::string& keep) noexcept {
    int removed = 0;
    try {
        const std::size_t slash = finalPath.find_last_of('/');
        const std::string dir = slash == std::string::npos ? "." : DirOf(finalPath);
        const std::string prefix = TemporaryPrefix(finalPath.substr(slash == std::string::npos ? 0 : slash + 1));
        const std::string keepName = keep.substr(keep.find_last_of('/') + 1);
        DIR* d = ::opendir(dir.c_str());
        if (!d) return 0;
        const auto closeIt = OnExit([d] { ::closedir(d); });
        const int dfd = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            const std::string_view n(e->d_name);
            if (n.size() != prefix.size() + kRandomChars || n.compare(0, prefix.size(), prefix) != 0) continue;
            bool random = true;
            for (char c : n.substr(prefix.size())) random = random && IsRandomChar(c);
            if (!random || (!keep.empty() && n == keepName)) continue;
            struct stat first {};
            // Only regular files are opened: opening a device or a pipe may act on it.
            if (::fstatat(dfd, e->d_name, &first, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(first.st_mode)) continue;
            const TDateiHandle h(::openat(dfd, e->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
            struct stat locked {}, named {};
            if (!h || ::fstat(h.Fd(), &locked) != 0 || !S_ISREG(locked.st_mode)) continue;
            // A live run holds its lock; a file system without locks refuses it: both stay.
            if (::flock(h.Fd(), LOCK_EX | LOCK_NB) != 0) continue;
            // Still the file that was locked, under that name.
            if (::fstatat(dfd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(locked, named)) continue;
            if (YoungAndEmpty(named)) continue;
            if (::unlinkat(dfd, e->d_name, 0) == 0) ++removed;
        }
    } catch (...) {
    }
    return removed;
}

void RemoveSafeFileTemporaries() noexcept {
    for (int i = 0; i < kSlots; ++i)
        if (g_ready[i].load()) ::unlink(g_tempPaths[i]);
}

void WriteWholeFile(const std::string& path, std::string_view bytes, const TSchutz& schutz, bool ordnerAnlegen) {
    if (ordnerAnlegen) TSichereDatei::MakeFolders(FolderPart(path).empty() ? "." : FolderPart(path));
    TSichereDatei out(path, schutz);
    out.Write(bytes.data(), bytes.size());
    out.Commit();
}

}  // namespace tervalo
