#pragma once
// Errors that end an action and reach the general error report.
#include <stdexcept>
#include <string>

namespace tervalo {

// A failed file operation; the text follows the error number (FileErrorText).
class EInOutError : public std::runtime_error {
public:
    EInOutError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int Code() const { return code_; }
private:
    int code_;
};

// The dBase layer's own failures, carrying its English messages.
class EDbfError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ends the current action without any message.
class ESilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return ""; }
};

// German text for a file error number ("Datei nicht gefunden", "E/A-Fehler %d", ...).
std::string FileErrorText(int code);
// Maps an errno value onto the file error numbers (ENOENT 2, EACCES 5, ENOSPC 101, ...); 0 when unmapped.
int ErrnoToFileError(int err);
// Throws EInOutError for the current errno.
[[noreturn]] void ThrowFileError(int err);

}  // namespace tervalo
