#pragma once
// The batch's threads: a team for one piece of work, and the reader that reads ahead while
// the last points of a call are answered.
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tervalo {

// Runs fn(thread number) on n threads, the calling one being number 0, and passes on the first
// exception any of them threw.
template <class Fn>
void RunOnThreads(int n, Fn&& fn) {
    std::exception_ptr fehler;
    std::mutex mx;
    auto lauf = [&](int t) {
        try {
            fn(t);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mx);
            if (!fehler) fehler = std::current_exception();
        }
    };
    std::vector<std::thread> helfer;
    for (int t = 1; t < n; ++t) helfer.emplace_back(lauf, t);
    lauf(0);
    for (std::thread& h : helfer) h.join();
    if (fehler) std::rethrow_exception(fehler);
}

// Runs one piece of work on a thread of its own; Join() waits for it and passes on what it
// threw. Leaving the scope waits too (an error on the calling thread is passed on instead).
class THintergrund {
public:
    THintergrund() = default;
    THintergrund(const THintergrund&) = delete;
    THintergrund& operator=(const THintergrund&) = delete;
    ~THintergrund() {
        if (thread_.joinable()) thread_.join();
    }

    template <class Fn>
    void Start(Fn&& fn) {
        thread_ = std::thread([this, fn = std::forward<Fn>(fn)]() mutable {
            try {
                fn();
            } catch (...) {
                fehler_ = std::current_exception();
            }
        });
    }
    // Whether work was started and not joined yet.
    bool Running() const { return thread_.joinable(); }
    void Join() {
        thread_.join();
        if (fehler_) std::rethrow_exception(fehler_);
    }

private:
    std::thread thread_;
    std::exception_ptr fehler_;
};

}  // namespace tervalo
