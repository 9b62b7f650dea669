#pragma once
// Set of X/Y positions with exact double equality (Z plays no part), as an open-addressing
// hash table. -0.0 and 0.0 are the same position, as the == comparison says.
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tervalo {

class TPunktSet {
public:
    explicit TPunktSet(std::size_t erwartet = 16) { Neu(erwartet); }

    // Empties the set; costs the number of entries, not the table size.
    void Clear() {
        for (uint32_t slot : benutzt_) belegt_[slot] = 0;
        benutzt_.clear();
    }

    std::size_t Size() const { return benutzt_.size(); }

    // Makes room for n positions; only while the set is empty.
    void Reserve(std::size_t n) {
        if (benutzt_.empty() && n * 2 > belegt_.size()) Neu(n);
    }

    bool Contains(double x, double y) const {
        std::size_t i = Hash(x, y) & maske_;
        while (belegt_[i]) {
            if (xs_[i] == x && ys_[i] == y) return true;
            i = (i + 1) & maske_;
        }
        return false;
    }

    // Adds the position; false when it was already there.
    bool Insert(double x, double y) {
        if ((benutzt_.size() + 1) * 2 > belegt_.size()) Wachsen();
        std::size_t i = Hash(x, y) & maske_;
        while (belegt_[i]) {
            if (xs_[i] == x && ys_[i] == y) return false;
            i = (i + 1) & maske_;
        }
        belegt_[i] = 1;
        xs_[i] = x;
        ys_[i] = y;
        benutzt_.push_back(static_cast<uint32_t>(i));
        return true;
    }

private:
    static uint64_t Bits(double v) {
        if (v == 0.0) v = 0.0;  // -0.0 equals 0.0
        return std::bit_cast<uint64_t>(v);
    }
    static std::size_t Hash(double x, double y) {
        uint64_t h = Bits(x) * 0x9E3779B97F4A7C15ull;
        h ^= Bits(y) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        return static_cast<std::size_t>(h);
    }
    void Neu(std::size_t n) {
        std::size_t size = 16;
        while (size < n * 2) size *= 2;
        belegt_.assign(size, 0);
        xs_.assign(size, 0.0);
        ys_.assign(size, 0.0);
        maske_ = size - 1;
        benutzt_.clear();
        benutzt_.reserve(n);
    }
    void Wachsen() {
        std::vector<double> ax, ay;
        ax.reserve(benutzt_.size());
        ay.reserve(benutzt_.size());
        for (uint32_t slot : benutzt_) {
            ax.push_back(xs_[slot]);
            ay.push_back(ys_[slot]);
        }
        Neu(belegt_.size());  // doubles the table
        for (std::size_t k = 0; k < ax.size(); ++k) Insert(ax[k], ay[k]);
    }

    std::vector<uint8_t> belegt_;
    std::vector<double> xs_, ys_;
    std::vector<uint32_t> benutzt_;
    std::size_t maske_ = 0;
};

}  // namespace tervalo
