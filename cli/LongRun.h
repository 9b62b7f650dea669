#pragma once
// What the export and convert commands share: Ctrl+C ends a run like "Wirklich abbrechen?"
// answered with Yes (so the output is closed properly), and a progress line on a terminal.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace tervalo::cli {

inline volatile std::sig_atomic_t& InterruptFlag() {
    static volatile std::sig_atomic_t flag = 0;
    return flag;
}

// Installs the Ctrl+C handler for the lifetime of the object; the second Ctrl+C kills.
class InterruptGuard {
public:
    InterruptGuard() {
        InterruptFlag() = 0;
        previous_ = std::signal(SIGINT, [](int) {
            InterruptFlag() = 1;
            std::signal(SIGINT, SIG_DFL);
        });
    }
    ~InterruptGuard() { std::signal(SIGINT, previous_); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    bool Interrupted() const { return InterruptFlag() != 0; }

private:
    void (*previous_)(int) = SIG_DFL;
};

// One line on standard error, rewritten in place; only when it is a terminal.
class ProgressLine {
public:
    ProgressLine() : active_(isatty(STDERR_FILENO) != 0) {}
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    void Show(const std::string& text) {
        if (!active_) return;
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear() {
        if (!shown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool active_;
    bool shown_ = false;
};

}  // namespace tervalo::cli
