#pragma once
// Runs a cleanup when a scope ends, however it ends: auto done = OnExit([&] { ... });
// Dismiss() keeps the cleanup from running (the work succeeded and keeps its result).
#include <utility>

namespace tervalo {

template <typename F>
class TScopeGuard {
public:
    explicit TScopeGuard(F f) noexcept(noexcept(F(std::move(f)))) : f_(std::move(f)) {}
    ~TScopeGuard() {
        if (active_) f_();
    }
    TScopeGuard(const TScopeGuard&) = delete;
    TScopeGuard& operator=(const TScopeGuard&) = delete;
    void Dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <typename F>
[[nodiscard]] TScopeGuard<F> OnExit(F f) {
    return TScopeGuard<F>(std::move(f));
}

}  // namespace tervalo
