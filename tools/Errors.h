#pragma once
// Errors that end an action and reach the general error report. Every exception carries the
// text the user sees.
#include <stdexcept>
#include <string>

namespace tervalo {

// A failed file operation. Code() is the number of the error table (2 "Datei nicht gefunden",
// 5 "Dateizugriff verweigert", 101 "Zu wenig Speicherplatz", ...) or 0 when the table has no
// entry for it (then the text is "E/A-Fehler %d" with the system's error number); Errno() is
// the system's error number behind it, 0 when there is none.
class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& text, int err = 0)
        : std::runtime_error(text), code_(code), errno_(err) {}
    int Code() const { return code_; }
    int Errno() const { return errno_; }
private:
    int code_;
    int errno_;
};

// The dBase layer's own failures, carrying its English messages.
class EDbfError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ends the current action. The window shows nothing (what() is empty); Detail() says what
// happened for callers that must not stay silent (the command line).
class ESilentAbort : public std::exception {
public:
    ESilentAbort() = default;
    explicit ESilentAbort(std::string detail) : detail_(std::move(detail)) {}
    const char* what() const noexcept override { return ""; }
    const std::string& Detail() const { return detail_; }
private:
    std::string detail_;
};

// German text for a number of the error table ("Datei nicht gefunden", "E/A-Fehler %d", ...).
std::string FileErrorText(int code);
// Maps an errno value onto the error table (ENOENT 2, EACCES 5, ENOSPC 101, ...); 0 when unmapped.
int ErrnoToFileError(int err);
// The text for an errno value: the table's text, or "E/A-Fehler %d" with the errno itself.
std::string ErrnoText(int err);
// Throws EInOutError for the errno value; with a path the text ends in ": " and the path.
[[noreturn]] void ThrowFileError(int err);
[[noreturn]] void ThrowFileError(int err, const std::string& path);

// The rule every settings reader follows: only a file that is not there (ENOENT, or ENOTDIR on
// the way) may be passed over as missing. Anything else that cannot be read must not be taken
// for an empty file, which the next save would write over the user's one.
bool IsMissingFile(int err);
// The error again, with the path in its text (as ThrowFileError gives it when there is an errno).
[[noreturn]] void ThrowWithPath(const EInOutError& e, const std::string& path);

}  // namespace tervalo
