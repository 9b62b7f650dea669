#pragma once
// What the export and convert commands share: SIGINT, SIGTERM and SIGHUP abort a run (its
// output is thrown away, an existing target stays as it was, the log ends with "Konvertierung
// abgebrochen"), and a progress line on a terminal.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/SafeWriter.h"

namespace tervalo::cli {

// The number of the first signal that asked the run to end; 0 while none came.
inline volatile std::sig_atomic_t& InterruptFlag() {
    static volatile std::sig_atomic_t flag = 0;
    return flag;
}

// Installs the handlers for the lifetime of the object. The first signal only sets the flag;
// a second one removes the temporary output files and ends the process with the default
// action of that signal (a user pressing Ctrl+C twice wants out, whatever the run is doing).
class InterruptGuard {
public:
    InterruptGuard() {
        InterruptFlag() = 0;
        struct sigaction sa {};
        sa.sa_handler = &Handler;
        sigemptyset(&sa.sa_mask);
        for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);  // one handler at a time
        sa.sa_flags = SA_RESTART;  // reads and writes of the run go on after the first signal
        for (std::size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &sa, &previous_[i]);
    }
    ~InterruptGuard() {
        for (std::size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool Interrupted() const { return InterruptFlag() != 0; }
    // The signal that ended the run (SIGINT, SIGTERM, SIGHUP), 0 when none did.
    int Signal() const { return static_cast<int>(InterruptFlag()); }

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];

    static void Handler(int sig) {
        if (InterruptFlag() == 0) {
            InterruptFlag() = sig;
            return;
        }
        RemoveSafeFileTemporaries();
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(sig, &dfl, nullptr);
        // Delivered when the handler returns and the signal is no longer blocked.
        ::raise(sig);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        sigprocmask(SIG_UNBLOCK, &set, nullptr);
    }

    struct sigaction previous_[kCount] {};
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
