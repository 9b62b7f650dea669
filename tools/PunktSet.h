#pragma once
// Set of X/Y positions with exact double equality (Z plays no part): open addressing over
// slots {x, y}, a NaN pattern in x marking a free slot. -0.0 and 0.0 are the same position,
// as == says; a NaN position equals nothing, so it is never stored.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "tools/GrosseSeiten.h"

namespace tervalo {

class TPunktSet {
public:
    // Room for `erwartet` positions before the table grows.
    explicit TPunktSet(std::size_t erwartet = 16) { Neu(erwartet); }

    // Empties the set; costs the number of entries, not the table size, while few were used.
    void Clear() {
        if (anzahl_ > benutzt_.size()) {
            Leeren(slots_.get(), maske_ + 1);
        } else {
            for (uint32_t i : benutzt_) slots_[i].x = Frei();
        }
        benutzt_.clear();
        anzahl_ = 0;
    }

    std::size_t Size() const { return anzahl_; }

    // Makes room for n positions; only while the set is empty.
    void Reserve(std::size_t n) {
        if (anzahl_ == 0 && n * 2 > maske_ + 1) Neu(n);
    }

    // Starts loading the slot where a look-up of (x, y) begins, so that a caller that knows
    // its next positions early overlaps their cache misses.
    void Prefetch(double x, double y) const { __builtin_prefetch(&slots_[Hash(x, y) & maske_]); }

    bool Contains(double x, double y) const {
        if (std::isnan(x) || std::isnan(y)) return false;
        bool gefunden;
        Suche(x, y, gefunden);
        return gefunden;
    }

    // Calls fn(x, y) for every position held, in no particular order.
    template <class Fn>
    void ForEach(Fn&& fn) const {
        if (anzahl_ == 0) return;
        if (benutzt_.size() == anzahl_) {  // every used slot is listed
            for (uint32_t i : benutzt_) fn(slots_[i].x, slots_[i].y);
            return;
        }
        for (std::size_t i = 0; i <= maske_; ++i)
            if (!IstFrei(slots_[i])) fn(slots_[i].x, slots_[i].y);
    }

    // Adds the position; false when it was already there (a NaN one is never there).
    bool Insert(double x, double y) {
        if (std::isnan(x) || std::isnan(y)) return true;
        bool gefunden;
        std::size_t i = Suche(x, y, gefunden);
        if (gefunden) return false;
        // At most half full, so probes stay short.
        if ((anzahl_ + 1) * 2 > maske_ + 1) {
            Wachsen();
            i = Suche(x, y, gefunden);
        }
        slots_[i] = {x, y};
        ++anzahl_;
        // Only the slots of a sparsely used table are listed; a fuller one is cleared whole.
        if (benutzt_.size() < groesse_) benutzt_.push_back(static_cast<uint32_t>(i));
        return true;
    }

private:
    struct Slot {
        double x, y;
    };
    struct Freigabe {
        Freigabe() noexcept : anzahl(0) {}
        explicit Freigabe(std::size_t n) noexcept : anzahl(n) {}
        std::size_t anzahl;
        void operator()(Slot* p) const { FreeLarge(p, anzahl * sizeof(Slot)); }
    };
    static constexpr uint64_t kFreiBits = 0x7FF8'0000'DEAD'F00DULL;
    static double Frei() { return std::bit_cast<double>(kFreiBits); }
    static bool IstFrei(const Slot& s) { return std::bit_cast<uint64_t>(s.x) == kFreiBits; }

    static uint64_t Mix(uint64_t h) {
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDULL;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ULL;
        h ^= h >> 33;
        return h;
    }
    static uint64_t Hash(double x, double y) {
        // -0.0 equals 0.0, so both must hash alike.
        if (x == 0.0) x = 0.0;
        if (y == 0.0) y = 0.0;
        return Mix(std::bit_cast<uint64_t>(x) ^ Mix(std::bit_cast<uint64_t>(y) + 0x9E3779B97F4A7C15ULL));
    }

    std::size_t Suche(double x, double y, bool& gefunden) const {
        std::size_t i = Hash(x, y) & maske_;
        for (;;) {
            const Slot& s = slots_[i];
            if (IstFrei(s)) {
                gefunden = false;
                return i;
            }
            if (s.x == x && s.y == y) {
                gefunden = true;
                return i;
            }
            i = (i + 1) & maske_;
        }
    }

    static void Leeren(Slot* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) s[i] = {Frei(), 0.0};
    }

    // Look-ups hit the table at random: large pages spare most of the TLB misses.
    static std::unique_ptr<Slot[], Freigabe> Anlegen(std::size_t n) {
        Slot* s = static_cast<Slot*>(AllocateLarge(n * sizeof(Slot)));
        Leeren(s, n);
        return std::unique_ptr<Slot[], Freigabe>(s, Freigabe(n));
    }

    void Neu(std::size_t n) {
        std::size_t size = 16;
        while (size < n * 2) size *= 2;
        slots_ = Anlegen(size);
        maske_ = size - 1;
        anzahl_ = 0;
        groesse_ = size / 8;
        benutzt_.clear();
    }

    void Wachsen() {
        const std::size_t alt = maske_ + 1;
        auto alte = std::move(slots_);
        const std::size_t anzahl = anzahl_;
        Neu(alt);  // doubles the table
        for (std::size_t k = 0; k < alt; ++k) {
            if (IstFrei(alte[k])) continue;
            bool gefunden;
            const std::size_t i = Suche(alte[k].x, alte[k].y, gefunden);
            slots_[i] = alte[k];
            if (benutzt_.size() < groesse_) benutzt_.push_back(static_cast<uint32_t>(i));
        }
        anzahl_ = anzahl;
    }

    std::unique_ptr<Slot[], Freigabe> slots_;
    std::size_t maske_ = 0;
    std::size_t anzahl_ = 0;
    std::size_t groesse_ = 0;        // longest list of used slots worth keeping
    std::vector<uint32_t> benutzt_;  // used slots while there are few; more: clear it all
};

}  // namespace tervalo
