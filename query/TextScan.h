#pragma once
// Fast line scanning of text point files for the height query and the batch.
// Lines end at LF (a CR before it stays in the line: the query's parsing ignores it), byte 0x1A
// ends the file, the last line counts when it holds at least one byte.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tervalo {

// A text file read in large blocks. Read errors throw EInOutError.
class TBlockDatei {
public:
    TBlockDatei() = default;
    ~TBlockDatei();
    TBlockDatei(const TBlockDatei&) = delete;
    TBlockDatei& operator=(const TBlockDatei&) = delete;

    // False when the file cannot be opened as a text file (missing, a folder, no access).
    bool Open(const std::string& path);
    void Close();
    // Reads up to `max` bytes to `dst`; 0 at the end of the file.
    std::size_t Read(char* dst, std::size_t max);

private:
    int fd_ = -1;
};

namespace scan_detail {

inline uint64_t LineEndMask64(const char* p) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i sub = _mm_set1_epi8(0x1A);
    uint64_t m = 0;
    for (int k = 0; k < 4; ++k) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, sub));
        m |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(hit))) << (16 * k);
    }
    return m;
#else
    uint64_t m = 0;
    for (int k = 0; k < 64; ++k)
        if (p[k] == '\n' || p[k] == 0x1A) m |= uint64_t{1} << k;
    return m;
#endif
}

}  // namespace scan_detail

// Calls fn(begin, end) for every line of the open file, in file order.
template <class LineFn>
void ForEachLine(TBlockDatei& f, LineFn&& fn) {
    constexpr std::size_t kBlock = std::size_t{1} << 19;  // stays in L2 while it is scanned
    std::vector<char> buf(kBlock + 64);
    std::size_t have = 0;  // bytes of an unfinished line at the buffer's start
    for (;;) {
        if (have == buf.size() - 64) buf.resize(buf.size() * 2 + 64);  // a line longer than a block
        const std::size_t got = f.Read(buf.data() + have, buf.size() - 64 - have);
        if (got == 0) {
            if (have > 0) fn(buf.data(), buf.data() + have);
            return;
        }
        const std::size_t total = have + got;
        char* const b = buf.data();
        std::size_t lineStart = 0;
        std::size_t pos = have;
        // Whole 64-byte groups through the bit mask, the rest byte by byte.
        for (; pos + 64 <= total; pos += 64) {
            uint64_t m = scan_detail::LineEndMask64(b + pos);
            while (m) {
                const std::size_t at = pos + static_cast<std::size_t>(__builtin_ctzll(m));
                m &= m - 1;
                if (b[at] == 0x1A) {
                    if (at > lineStart) fn(b + lineStart, b + at);
                    return;
                }
                fn(b + lineStart, b + at);
                lineStart = at + 1;
            }
        }
        for (; pos < total; ++pos) {
            const char c = b[pos];
            if (c == '\n') {
                fn(b + lineStart, b + pos);
                lineStart = pos + 1;
            } else if (c == 0x1A) {
                if (pos > lineStart) fn(b + lineStart, b + pos);
                return;
            }
        }
        have = total - lineStart;
        if (have > 0 && lineStart > 0) std::memmove(b, b + lineStart, have);
    }
}

// Quick test on the first characters of a number column. For a column of the plain form
// digits[(.|,)digits] followed by a blank, whose value therefore lies in [I, I+1] for its
// integer part I, tells whether it certainly lies outside [lo, hi]. Anything else (signs,
// exponents, other characters, no blank after it) is "maybe" and goes the exact way.
// On "maybe inside" `p` is left after the column and the blank.
enum class Vorpruefung { Ausserhalb, Vielleicht, Unklar };

inline Vorpruefung PruefeSpalte(const char*& p, const char* e, double lo, double hi) {
    const char* q = p;
    uint64_t ganz = 0;
    while (q < e && static_cast<unsigned char>(*q - '0') < 10) {
        ganz = ganz * 10 + static_cast<unsigned>(*q - '0');
        ++q;
    }
    const std::ptrdiff_t nd = q - p;
    if (nd == 0 || nd > 15 || q == e) return Vorpruefung::Unklar;
    if (*q == '.' || *q == ',') {
        ++q;
        while (q < e && static_cast<unsigned char>(*q - '0') < 10) ++q;
        if (q == e) return Vorpruefung::Unklar;
    }
    if (*q != ' ') return Vorpruefung::Unklar;
    // Both bounds are exact doubles (fewer than 16 digits), and conversion is monotonic.
    if (static_cast<double>(ganz + 1) < lo || static_cast<double>(ganz) > hi)
        return Vorpruefung::Ausserhalb;
    p = q + 1;
    return Vorpruefung::Vielleicht;
}

// Whether a line may yield a point inside the square; false only when it certainly cannot.
inline bool KannImQuadratLiegen(const char* p, const char* e, double xmin, double xmax,
                                double ymin, double ymax) {
    while (p < e && static_cast<unsigned char>(*p) <= 32) ++p;
    Vorpruefung v = PruefeSpalte(p, e, xmin, xmax);
    if (v != Vorpruefung::Vielleicht) return v == Vorpruefung::Unklar;
    // X is a plain number, so it converts and the query reads Y from the next column.
    while (p < e && static_cast<unsigned char>(*p) <= 32) ++p;
    return PruefeSpalte(p, e, ymin, ymax) != Vorpruefung::Ausserhalb;
}

}  // namespace tervalo
