#pragma once
// Memory for large arrays. On Linux an array of 2 MiB or more is mapped on its own and backed
// by large pages where the kernel allows: filling it costs a page fault per 2 MiB instead of
// per 4 KiB, reading it at random spares most TLB misses, and letting go of it returns it to
// the system at once instead of leaving holes in the heap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace tervalo {

namespace gross {
inline constexpr std::size_t kSeite = std::size_t{2} << 20;
inline std::size_t RoundToPages(std::size_t bytes) {
    if (bytes > SIZE_MAX - 2 * kSeite) throw std::bad_alloc();
    return (bytes + kSeite - 1) / kSeite * kSeite;
}
}  // namespace gross

// Released with FreeLarge and the same size.
inline void* AllocateLarge(std::size_t bytes) {
    using namespace gross;
    if (bytes < kSeite) {
        void* p = std::malloc(bytes == 0 ? 1 : bytes);
        if (!p) throw std::bad_alloc();
        return p;
    }
    const std::size_t rund = RoundToPages(bytes);
#ifdef __linux__
    // Mapped with room to start on a large-page boundary; the rest is given back.
    void* roh = ::mmap(nullptr, rund + kSeite, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (roh == MAP_FAILED) throw std::bad_alloc();
    const auto a = reinterpret_cast<std::uintptr_t>(roh);
    const std::uintptr_t b = (a + kSeite - 1) & ~(std::uintptr_t{kSeite} - 1);
    if (b > a) ::munmap(roh, b - a);
    if (a + kSeite > b) ::munmap(reinterpret_cast<void*>(b + rund), a + kSeite - b);
    ::madvise(reinterpret_cast<void*>(b), rund, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(b);
#else
    void* p = std::aligned_alloc(kSeite, rund);
    if (!p) throw std::bad_alloc();
    return p;
#endif
}

inline void FreeLarge(void* p, std::size_t bytes) {
    if (!p) return;
#ifdef __linux__
    if (bytes >= gross::kSeite) {
        ::munmap(p, gross::RoundToPages(bytes));
        return;
    }
#endif
    (void)bytes;
    std::free(p);
}

template <class T>
struct TGrossZuteiler {
    using value_type = T;
    TGrossZuteiler() = default;
    template <class U>
    TGrossZuteiler(const TGrossZuteiler<U>&) {}
    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) { FreeLarge(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const TGrossZuteiler<U>&) const {
        return true;
    }
};

template <class T>
using TGrossVektor = std::vector<T, TGrossZuteiler<T>>;

}  // namespace tervalo
