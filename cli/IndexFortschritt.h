#pragma once
// Progress of a folder index build on the command line: on a terminal one line rewritten in
// place ("Index wird aufgebaut: <folder> (n von m Kacheln)"); silent elsewhere, so scripts
// read only the messages. Ctrl+C cancels when an InterruptGuard is installed.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/LongRun.h"
#include "ordner/Kacheln.h"

namespace tervalo::cli {

inline constexpr const char* TextIndexAufbau = "Index wird aufgebaut: ";

class TIndexFortschritt : public TIndexBeobachter {
public:
    explicit TIndexFortschritt(bool abbrechbar = false)
        : terminal_(isatty(STDERR_FILENO) != 0), abbrechbar_(abbrechbar) {}
    ~TIndexFortschritt() override { zeile_.Clear(); }

    void OrdnerBeginnt(const std::string& ordner) override {
        zeile_.Clear();
        ordner_ = ordner;
        gemeldet_ = false;
    }
    void Fortschritt(std::size_t fertig, std::size_t gesamt) override {
        if (gesamt == 0 || !terminal_) return;
        const auto jetzt = std::chrono::steady_clock::now();
        if (fertig < gesamt && gemeldet_ && jetzt - letzte_ < std::chrono::milliseconds(200)) return;
        gemeldet_ = true;
        letzte_ = jetzt;
        zeile_.Show(TextIndexAufbau + ordner_ + " (" + std::to_string(fertig) + " von " + std::to_string(gesamt) +
                    " Kacheln)");
    }
    bool CancelCheck() override { return abbrechbar_ && InterruptFlag() != 0; }
    // Ends the progress line before other output.
    void Fertig() { zeile_.Clear(); }

private:
    bool terminal_;
    bool abbrechbar_;
    bool gemeldet_ = false;
    std::string ordner_;
    ProgressLine zeile_;
    std::chrono::steady_clock::time_point letzte_{};
};

}  // namespace tervalo::cli
