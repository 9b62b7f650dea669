#pragma once
// Runs a cleanup when a scope ends, however it ends: auto done = OnExit([&] { ... });
// Dismiss() keeps the cleanup from running (the work succeeded and keeps its result).
#include <utility>

namespace tervalo {

template <typename F>
class TAufraeumer {
public:
    explicit TAufraeumer(F f) noexcept(noexcept(F(std::move(f)))) : f_(std::move(f)) {}
    ~TAufraeumer() {
        if (active_) f_();
    }
    TAufraeumer(const TAufraeumer&) = delete;
    TAufraeumer& operator=(const TAufraeumer&) = delete;
    void Dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <typename F>
[[nodiscard]] TAufraeumer<F> OnExit(F f) {
    return TAufraeumer<F>(std::move(f));
}

}  // namespace tervalo
