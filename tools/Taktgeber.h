#pragma once
// How often a long run hands control to its observer.
#include <chrono>
#include <cstdint>

namespace tervalo {

// The clock is read every `EveryLines` lines and the observer is called when `Interval` has
// passed since the last call. EveryLines 1 and Interval 0 call it after every line.
struct TTaktOptionen {
    uint32_t EveryLines = 256;
    std::chrono::milliseconds Interval{15};
};

class TTaktgeber {
public:
    explicit TTaktgeber(const TTaktOptionen& o) : opt_(o), last_(std::chrono::steady_clock::now()) {}
    bool Due() {
        if (++n_ < opt_.EveryLines) return false;
        n_ = 0;
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < opt_.Interval) return false;
        last_ = now;
        return true;
    }

private:
    TTaktOptionen opt_;
    uint32_t n_ = 0;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace tervalo
