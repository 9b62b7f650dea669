#pragma once
// Decimal texts of doubles, both ways. Every number text the program writes (fixed-point texts,
// XYZ and CSV lines, dBase numeric fields) rounds from one expansion: the first 18 significant
// digits of the binary value, correctly rounded (halves to even, as the C library prints them),
// then rounded once more, halves away from zero, to what the text shows. The layouts themselves
// stay with their formats; this header gives them the digits and the pieces to place them.
// Reading: the plain form every number column mostly holds, converted in place; each reader's
// own rule (Tools' ValDouble behind it) takes what this does not.
// The small functions are inline: the point readers and writers call them for every value.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tervalo {

namespace dezimal {

inline constexpr uint64_t kPow10[20] = {1ull,
                                        10ull,
                                        100ull,
                                        1000ull,
                                        10000ull,
                                        100000ull,
                                        1000000ull,
                                        10000000ull,
                                        100000000ull,
                                        1000000000ull,
                                        10000000000ull,
                                        100000000000ull,
                                        1000000000000ull,
                                        10000000000000ull,
                                        100000000000000ull,
                                        1000000000000000ull,
                                        10000000000000000ull,
                                        100000000000000000ull,
                                        1000000000000000000ull,
                                        10000000000000000000ull};

inline constexpr double kPow10d[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// --- reading -------------------------------------------------------------------------------

// ReadPlain's way for many digits: the library's correctly rounded conversion of the
// unsigned text [p, e) (`komma` read as the point). False beyond the double's range.
bool ReadPlainLong(const char* p, const char* e, bool minus, char komma, double& v);

// The plain form [+|-]digits[P digits] with at least one digit, P being "." or `komma`: true
// and the correctly rounded value. False, `v` untouched, for any other text and for a plain
// text whose value lies beyond the double's range: every reader's own rule accepts the plain
// form with this very value and decides the rest itself.
[[gnu::always_inline]] inline bool ReadPlain(const char* p, const char* e, double& v, char komma = '.') {
    bool minus = false;
    if (p < e && (*p == '+' || *p == '-')) {
        minus = *p == '-';
        ++p;
    }
    const char* q = p;
    uint64_t m = 0;  // wraps only beyond 19 digits, which go the long way
    while (q < e && static_cast<unsigned char>(*q - '0') < 10) m = m * 10 + static_cast<unsigned>(*q++ - '0');
    std::ptrdiff_t ziffern = q - p;
    std::ptrdiff_t bruch = 0;
    if (q < e && (*q == '.' || *q == komma)) {
        const char* b = ++q;
        while (q < e && static_cast<unsigned char>(*q - '0') < 10) m = m * 10 + static_cast<unsigned>(*q++ - '0');
        bruch = q - b;
        ziffern += bruch;
    }
    if (q != e || ziffern == 0) return false;
    if (ziffern > 19 || m > (uint64_t{1} << 53) || bruch > 22) return ReadPlainLong(p, e, minus, komma, v);
    // Both operands are exact doubles, so the one division rounds correctly.
    const double a = static_cast<double>(m) / kPow10d[bruch];
    v = minus ? -a : a;
    return true;
}

// --- writing -------------------------------------------------------------------------------

// |v| = Digits · 10^Exp10 with 10^17 <= Digits < 10^18; zero is {0, -18} (no digit before
// the point).
struct TEntwicklung {
    uint64_t Digits = 0;
    int Exp10 = -18;
    // Digits before the point (<= 0 below 1).
    int IntDigits() const { return Exp10 + 18; }
};

// Any finite value (the general way through the C library's shortest-exact printing).
TEntwicklung ExpandGeneral(double a);

// The expansion of |v| for a finite v. Exact 128-bit arithmetic for 1e-4 <= |v| < 1e15, the
// range of coordinates and heights; the general way outside it.
inline TEntwicklung Expand(double v) {
    const double a = std::fabs(v);
    if (!(a >= 1e-4 && a < 1e15)) return ExpandGeneral(a);
    __extension__ typedef unsigned __int128 U128;
    // a = m·2^-s with the 53-bit significand m (a is normal here).
    const uint64_t bits = std::bit_cast<uint64_t>(a);
    const int e2 = static_cast<int>(bits >> 52) - 1022;  // a = f·2^e2, f in [0.5, 1)
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int s = 53 - e2;                                                      // 3 <= s <= 66
    int k = ((e2 - 1) * 78913) >> 18;  // floor((e2 - 1)·log10(2)): log10(a), maybe 1 low
    if (k >= -1 && a >= static_cast<double>(kPow10[k + 1])) ++k;                // exact from 1 up
    for (;;) {
        const int q = 17 - k;  // 3 <= q <= 22: m·10^q stays below 2^127
        const U128 p10 = q < 20 ? U128{kPow10[q]} : U128{kPow10[q - 19]} * kPow10[19];
        const U128 prod = U128{m} * p10;
        const U128 whole = prod >> s;
        if (whole >= U128{kPow10[18]}) {  // 19 digits: the estimate was one low (below 1 only)
            ++k;
            continue;
        }
        const U128 rest = prod & ((U128{1} << s) - 1);
        const U128 half = U128{1} << (s - 1);
        uint64_t n = static_cast<uint64_t>(whole);
        if (rest > half || (rest == half && (n & 1))) ++n;  // to 18 digits, ties to even
        if (n == kPow10[18]) return {kPow10[17], 1 - q};
        return {n, -q};
    }
}

// n / 10^drop rounded halves away from zero (drop <= 0: n itself).
inline uint64_t RoundDrop(uint64_t n, int drop) {
    if (drop <= 0) return n;
    if (drop > 19) return 0;
    const uint64_t div = kPow10[drop];
    const uint64_t keep = n / div;
    const uint64_t rem = n % div;
    return rem >= div - rem ? keep + 1 : keep;
}

inline int CountDigits(uint64_t u) {
    int k = 1;
    while (k < 20 && u >= kPow10[k]) ++k;
    return k;
}

// Writes the decimal digits of u; returns the end.
inline char* WriteUInt(char* out, uint64_t u) {
    char tmp[20];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (n > 0) *out++ = tmp[--n];
    return out;
}

// A rounded value n · 10^(zeros - decimals), zeros >= 0: the digits of n and `zeros` zeros
// carry `decimals` places after the point. A zero n is written as one "0", whatever `zeros`.
struct TSkaliert {
    uint64_t N = 0;
    int Zeros = 0;
};

// |v| rounded halves away from zero to d decimals (finite v, d >= 0).
inline TSkaliert RoundToDecimals(const TEntwicklung& x, int d) {
    const int drop = -x.Exp10 - d;
    if (drop <= 0) return {x.Digits, -drop};
    return {RoundDrop(x.Digits, drop), 0};
}

// Digits WriteScaled puts before the point for s with d decimals (at least one).
inline int ScaledIntDigits(const TSkaliert& s, int d) {
    const int total = s.N == 0 ? 0 : CountDigits(s.N) + s.Zeros;
    return total > d ? total - d : 1;
}

// Length of the text WriteScaled gives for s with d decimals.
inline std::size_t ScaledLength(const TSkaliert& s, int d) {
    return static_cast<std::size_t>(ScaledIntDigits(s, d)) + (d > 0 ? 1u + static_cast<std::size_t>(d) : 0u);
}

// The text of s with d decimals and `point` between (at least one digit before the point),
// written backwards so that it ends just before `end`. Returns its start.
inline char* WriteScaledBackwards(char* end, const TSkaliert& s, int d, char point) {
    uint64_t n = s.N;
    int zeros = s.N == 0 ? 0 : s.Zeros;
    auto next = [&]() -> char {
        if (zeros > 0) {
            --zeros;
            return '0';
        }
        const char c = static_cast<char>('0' + n % 10);
        n /= 10;
        return c;
    };
    char* t = end;
    for (int i = 0; i < d; ++i) *--t = next();
    if (d > 0) *--t = point;
    do *--t = next();
    while (n != 0 || zeros > 0);
    return t;
}

// "ddd.ddd": the value of s with d decimals and `point` between; at least one digit before
// the point. Returns the end.
inline char* WriteScaled(char* out, const TSkaliert& s, int d, char point) {
    char* end = out + ScaledLength(s, d);
    WriteScaledBackwards(end, s, d, point);
    return end;
}

// Room WriteFixed needs at most for |v| < 1e15 and d <= 20 in width w <= 40.
inline constexpr std::size_t kFixedRoom = 40;

// The fixed-point text (see FixedText) into `out` for a finite v with |v| < 1e15, 0 <= d <= 20
// and w <= 40. Returns the end.
inline char* WriteFixed(char* out, double v, int w, int d) {
    const TSkaliert s = RoundToDecimals(Expand(v), d);
    char tmp[kFixedRoom];
    char* t = WriteScaledBackwards(tmp + kFixedRoom, s, d, '.');
    if (v < 0 && s.N != 0) *--t = '-';
    const int len = static_cast<int>(tmp + kFixedRoom - t);
    for (int i = len; i < w; ++i) *out++ = ' ';
    std::memcpy(out, t, static_cast<std::size_t>(len));
    return out + len;
}

}  // namespace dezimal

// How a fixed-point text rounds; each column keeps the rule it has always shown.
enum class TRundung {
    // Halves away from zero on the 18-significant-digit decimal expansion (0.125 -> 0.13):
    // the configuration, the text files, the file list, the result labels and grid, `scan`.
    WegVonNull,
    // C's printf "%.*f": the exact binary value, halves to even (0.125 -> 0.12); "-0.00",
    // "nan" and "inf" as it writes them: the dBase information window, the command line's
    // range messages.
    Printf,
};

// Fixed-point text: rounded to d decimals, `punkt` as point, no grouping, right-aligned in w
// characters, never cut. With WegVonNull, non-finite values give "NAN", "INF" or "-INF" and a
// value that rounds to zero carries no "-".
std::string FixedText(double v, int w, int d, char punkt = '.', TRundung rundung = TRundung::WegVonNull);
// The same text appended to `out` (no temporary string; for writers of many values).
void AppendFixedText(std::string& out, double v, int w, int d, char punkt = '.',
                     TRundung rundung = TRundung::WegVonNull);

}  // namespace tervalo
