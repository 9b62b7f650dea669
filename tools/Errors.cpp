#include "tools/Errors.h"

#include <cerrno>
#include <cstdio>

namespace tervalo {

std::string FileErrorText(int code) {
    switch (code) {
        case 2: return "Datei nicht gefunden";
        case 3: return "Ung\xC3\xBCltiger Dateiname";
        case 4: return "Zu viele ge\xC3\xB6" "ffnete Dateien";
        case 5: return "Dateizugriff verweigert";
        case 100: return "Versuch hinter dem Dateiende zu lesen";
        case 101: return "Zu wenig Speicherplatz";
        case 106: return "Ung\xC3\xBCltige numerische Eingabe";
        default: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "E/A-Fehler %d", code);
            return buf;
        }
    }
}

int ErrnoToFileError(int err) {
    switch (err) {
        case ENOENT: return 2;
        case ENOTDIR: case ENAMETOOLONG: case EINVAL: return 3;
        case EMFILE: case ENFILE: return 4;
        case EACCES: case EPERM: case EROFS: case EISDIR: return 5;
        case ENOSPC: case EDQUOT: case EFBIG: return 101;
        default: return 0;
    }
}

std::string ErrnoText(int err) {
    const int code = ErrnoToFileError(err);
    if (code != 0) return FileErrorText(code);
    // Unmapped errno values keep their own number, so EIO (5) is no "access denied".
    char buf[32];
    std::snprintf(buf, sizeof buf, "E/A-Fehler %d", err);
    return buf;
}

void ThrowFileError(int err) { throw EInOutError(ErrnoToFileError(err), ErrnoText(err), err); }

void ThrowFileError(int err, const std::string& path) {
    throw EInOutError(ErrnoToFileError(err), ErrnoText(err) + ": " + path, err);
}

bool IsMissingFile(int err) { return err == ENOENT || err == ENOTDIR; }

void ThrowWithPath(const EInOutError& e, const std::string& path) {
    if (e.Errno() != 0) ThrowFileError(e.Errno(), path);
    std::string text = e.what();
    if (text.find(path) == std::string::npos) text += ": " + path;
    throw EInOutError(e.Code(), text);
}

}  // namespace tervalo
