#pragma once
// The capture square's quick test on the first characters of a text line: most lines of a
// tile lie outside the square, and this decides it before anything is converted.
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tervalo {

// Quick test on the first characters of a number column. For a column of the plain form
// digits[(.|,)digits] followed by a blank, whose value therefore lies in [I, I+1] for its
// integer part I, tells whether it certainly lies outside [lo, hi]. Anything else (signs,
// exponents, other characters, no blank after it) is "unclear" and goes the exact way.
// On "maybe inside" `p` is left after the column and the blank.
enum class TVorpruefung { Ausserhalb, Vielleicht, Unklar };

// The bounds of one axis, prepared for comparing up to 8 integer digits as text.
class TSchranke {
public:
    TSchranke(double lo, double hi) : lo_(lo), hi_(hi) {
        // Integer parts I that are not outside: I + 1 >= lo and I <= hi (exact below 2^53).
        schnell_ = std::isfinite(lo) && std::isfinite(hi) && lo > -1e15 && hi < 1e15 && lo <= hi;
        if (!schnell_) return;
        int64_t a = static_cast<int64_t>(std::floor(lo)) - 1;
        while (static_cast<double>(a + 1) < lo) ++a;
        int64_t b = static_cast<int64_t>(std::floor(hi)) + 1;
        while (static_cast<double>(b) > hi) --b;
        int64_t zehner = 1;
        for (int nd = 1; nd <= 8; ++nd) {
            zehner *= 10;
            untere_[nd] = a >= zehner ? UINT64_MAX : (a <= 0 ? 0 : Schluessel(a, nd));
            obere_[nd] = b < 0 ? 0 : (b >= zehner ? UINT64_MAX : Schluessel(b, nd));
        }
    }

    [[gnu::always_inline]] TVorpruefung Pruefe(const char*& p, const char* e) const {
        // Most columns of a tile: 1 to 7 integer digits, then up to 7 fraction digits, with
        // room in the line to look at 8 bytes at a time.
        if (schnell_ && e - p >= 18) {
            const uint64_t v = Lade(p);
            const uint64_t nicht = NichtZiffern(v);
            if (nicht != 0) {
                const int nd = __builtin_ctzll(nicht) >> 3;
                if (nd == 0) return TVorpruefung::Unklar;
                const char* q = p + nd;
                if (*q == '.' || *q == ',') {
                    const uint64_t bruch = NichtZiffern(Lade(q + 1));
                    if (bruch == 0) return PruefeLangsam(p, e);
                    q += 1 + (__builtin_ctzll(bruch) >> 3);
                }
                if (q >= e || *q != ' ') return TVorpruefung::Unklar;
                const uint64_t k = __builtin_bswap64(v) >> (64 - 8 * nd);
                if (k < untere_[nd] || k > obere_[nd]) return TVorpruefung::Ausserhalb;
                p = q + 1;
                return TVorpruefung::Vielleicht;
            }
        }
        return PruefeLangsam(p, e);
    }

private:
    static uint64_t Lade(const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;  // little-endian: the first byte is the lowest
    }
    // Bit 7 of every byte that is not a digit; no carries cross the bytes.
    static uint64_t NichtZiffern(uint64_t v) {
        constexpr uint64_t k01 = 0x0101010101010101ull;
        const uint64_t x = v ^ (0x30 * k01);
        const uint64_t m = (x & (0xF0 * k01)) | (((x & (0x0F * k01)) + 0x06 * k01) & (0x10 * k01));
        return (((m & (0x7F * k01)) + 0x7F * k01) | m) & (0x80 * k01);
    }
    // The digits of n, zero-padded to nd, as big-endian bytes: text order is number order.
    static uint64_t Schluessel(int64_t n, int nd) {
        uint64_t k = 0;
        for (int i = nd - 1; i >= 0; --i) {
            k |= static_cast<uint64_t>('0' + n % 10) << (8 * (nd - 1 - i));
            n /= 10;
        }
        return k;
    }

    TVorpruefung PruefeLangsam(const char*& p, const char* e) const {
        const char* q = p;
        uint64_t ganz = 0;
        while (q < e && static_cast<unsigned char>(*q - '0') < 10) {
            ganz = ganz * 10 + static_cast<unsigned>(*q - '0');
            ++q;
        }
        const std::ptrdiff_t nd = q - p;
        if (nd == 0 || nd > 15 || q == e) return TVorpruefung::Unklar;
        if (*q == '.' || *q == ',') {
            ++q;
            while (q < e && static_cast<unsigned char>(*q - '0') < 10) ++q;
            if (q == e) return TVorpruefung::Unklar;
        }
        if (*q != ' ') return TVorpruefung::Unklar;
        // Both bounds are exact doubles (fewer than 16 digits), and conversion is monotonic.
        if (static_cast<double>(ganz + 1) < lo_ || static_cast<double>(ganz) > hi_)
            return TVorpruefung::Ausserhalb;
        p = q + 1;
        return TVorpruefung::Vielleicht;
    }

    double lo_, hi_;
    bool schnell_ = false;
    uint64_t untere_[9] = {};
    uint64_t obere_[9] = {};
};

// The capture square for the quick test.
struct TQuadratTest {
    TSchranke x, y;
    TQuadratTest(double xmin, double xmax, double ymin, double ymax) : x(xmin, xmax), y(ymin, ymax) {}

    // Whether a line may yield a point inside the square; false only when it certainly cannot.
    [[gnu::always_inline]] bool MayContain(const char* p, const char* e) const {
        while (p < e && static_cast<unsigned char>(*p) <= 32) ++p;
        const TVorpruefung v = x.Pruefe(p, e);
        if (v != TVorpruefung::Vielleicht) return v == TVorpruefung::Unklar;
        // X is a plain number, so it converts and the query reads Y from the next column.
        while (p < e && static_cast<unsigned char>(*p) <= 32) ++p;
        return y.Pruefe(p, e) != TVorpruefung::Ausserhalb;
    }
};

inline bool MayLieInQuadrat(const char* p, const char* e, double xmin, double xmax, double ymin,
                                double ymax) {
    return TQuadratTest(xmin, xmax, ymin, ymax).MayContain(p, e);
}

}  // namespace tervalo
