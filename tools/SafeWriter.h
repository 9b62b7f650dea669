#pragma once
// The one way the program writes a file (exports, conversions, the configuration).
//
// The target is checked before anything is written: it must be a regular file or not exist
// yet (a symbolic link counts as the file it points to, which is what gets replaced); it must
// not be one of the protected files (the sources of the run, the configuration file; same
// device and inode, or the same path for files that do not exist) nor a tile's name in a
// protected folder (same device and inode of the folder); an existing target the
// user may not write in place is refused (the owner's protection holds, and a file without any
// write bit is refused to root too), and so is one in a folder the user may not write or, in a
// sticky folder, may not replace. The data then goes into a temporary file in the target's
// folder, ".<name>.tervalo-XXXXXX", locked (flock) for as long as the run lives; leftovers of
// that name that nobody holds locked (their run died) are removed when the next one is made.
// Commit() syncs it, gives it the existing target's mode (and owner, as root) or the usual
// mode under the umask, and renames it over the target. Without Commit() the temporary file is
// removed and an existing target stays exactly as it was. Nothing the program did not create
// is truncated or deleted.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/Datei.h"

namespace tervalo {

// The output was refused or could not be created; nothing was written. what() is the user's
// German text naming the path. Errno() is 0 when the target itself may never be written (a
// protected file, not a regular file) and the system's error number when it cannot be created
// (write-protected, folder missing or not writable, no room for the temporary file, ...).
class EZielAbgelehnt : public std::runtime_error {
public:
    explicit EZielAbgelehnt(const std::string& text, int err = 0) : std::runtime_error(text), errno_(err) {}
    int Errno() const { return errno_; }
private:
    int errno_;
};

// Files an output must never replace.
struct TSchutz {
    std::vector<std::string> Quellen;  // sources of the run ("zugleich Quelldatei")
    std::string Konfiguration;         // the configuration file, empty when none
    // Folders whose tiles are sources: an output in one (with Unterordner, also below it)
    // whose name makes it a tile would become or replace a source ("zugleich Quelldatei").
    std::vector<std::string> Ordner{};
    bool Unterordner = false;
};

// Refusal texts (each followed by the path).
inline constexpr const char* TextZielIstQuelle = "Die Ausgabedatei ist zugleich Quelldatei: ";
inline constexpr const char* TextZielIstKonfiguration = "Die Ausgabedatei ist die Konfigurationsdatei: ";
inline constexpr const char* TextZielKeineDatei = "Die Ausgabedatei ist keine gew\xC3\xB6hnliche Datei: ";
inline constexpr const char* TextZielSchreibgeschuetzt = "Die Ausgabedatei ist schreibgesch\xC3\xBCtzt: ";
inline constexpr const char* TextOrdnerFehlt = "Ordner nicht gefunden: ";

class TSichereDatei {
public:
    // Checks the target (Check) and creates the temporary file beside it. Throws
    // EZielAbgelehnt when the target is refused or the temporary file cannot be created.
    explicit TSichereDatei(const std::string& target, const TSchutz& schutz = {});
    ~TSichereDatei();  // removes the temporary file unless committed
    TSichereDatei(const TSichereDatei&) = delete;
    TSichereDatei& operator=(const TSichereDatei&) = delete;

    // The checks alone, for callers that refuse a target before a run starts.
    static void Check(const std::string& target, const TSchutz& schutz = {});
    // The path that will be replaced: the target with symbolic links followed, absolute.
    static std::string Resolve(const std::string& target);
    // Creates the folder and any missing folder above it, each new one private to the user
    // (0700, as the XDG base directory rules ask). Throws EZielAbgelehnt naming the folder
    // when one cannot be created or a part of the path is no folder.
    static void MakeFolders(const std::string& folder);

    int Fd() const { return fd_.Fd(); }
    const std::string& TempPath() const { return temp_; }
    const std::string& Target() const { return target_; }  // as given
    const std::string& FinalPath() const { return final_; }
    bool Committed() const { return committed_; }
    // Whether the target existed when this file was made.
    bool TargetExisted() const { return existed_; }

    // Writes all bytes at the current position; errors throw EInOutError naming the target.
    void Write(const void* data, std::size_t n);
    // Syncs, sets mode and owner, renames over the target and syncs the folder. Throws
    // EInOutError, or EZielAbgelehnt when the target became a folder, device or protected file
    // meanwhile; the temporary file is then removed and the target left as it was.
    void Commit();
    // Like Commit, but only where no file of the target's name exists: false (and the
    // temporary file removed) when one does, which is then left as it is.
    bool CommitIfNew();
    // Removes the temporary file; the target stays as it was.
    void Discard() noexcept;

    // Whether Commit syncs file and folder (benchmarks switch it off to measure its cost).
    static bool& SyncEnabled();

private:
    std::string target_;
    std::string final_;
    std::string temp_;
    TDateiHandle fd_;
    TDateiHandle lock_;  // holds the lock from creation until after the rename
    int slot_ = -1;
    bool existed_ = false;
    bool committed_ = false;

    bool Finish(bool replace);
};

// A settings file written whole: with ordnerAnlegen the missing folders on the way are made
// first (MakeFolders), then the bytes go through a TSichereDatei and are committed. Throws as
// TSichereDatei does; the previous file stays as it was on any failure.
void WriteWholeFile(const std::string& path, std::string_view bytes, const TSchutz& schutz = {},
                    bool ordnerAnlegen = false);

// Removes the temporary files of `target`'s name in its folder that no live run holds locked,
// leaving `keep` (a path, may be empty). Empty ones younger than a few seconds stay too: a run
// without O_TMPFILE locks its file just after creating it. Never throws; returns the count.
int RemoveStaleTemporaries(const std::string& finalPath, const std::string& keep = {}) noexcept;
// Prefix of the temporary files of a target name: "." + name (at most 200 bytes) + ".tervalo-".
std::string TemporaryPrefix(const std::string& targetName);

// Removes every temporary file still open. Async-signal-safe: for a signal that ends the process.
void RemoveSafeFileTemporaries() noexcept;

}  // namespace tervalo
