#include "formats/TextPoints.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

constexpr std::size_t kBlockSize = 1u << 20;

constexpr uint64_t kPow10[20] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
    100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
    10000000000000ull, 100000000000000ull, 1000000000000000ull, 10000000000000000ull,
    100000000000000000ull, 1000000000000000000ull, 10000000000000000000ull};

// --- number texts ----------------------------------------------------------------

// v > 0 and finite, written as D * 10^E with 10^17 <= D < 10^18: the first 18 significant
// digits, rounded half to even like the C library does. This is the expansion the
// fixed-point text rounds from.
void Digits18(double v, uint64_t& D, int& E) {
    if (v >= 1.0 && v < 1e14) {
        uint64_t ip = static_cast<uint64_t>(v);
        int k = 1;
        while (k < 15 && ip >= kPow10[k]) ++k;
        const int p = 18 - k;
        int e2 = 0;
        double m = std::frexp(v, &e2);
        const uint64_t M = static_cast<uint64_t>(std::ldexp(m, 53));
        const int s = 53 - e2;  // v = M * 2^-s, s >= 6 here
        const unsigned __int128 num = static_cast<unsigned __int128>(M) * kPow10[p];
        unsigned __int128 q = num >> s;
        const unsigned __int128 rem = num & ((static_cast<unsigned __int128>(1) << s) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
        if (rem > half || (rem == half && (q & 1))) ++q;
        D = static_cast<uint64_t>(q);
        E = -p;
        if (D == kPow10[18]) {
            D = kPow10[17];
            ++E;
        }
        return;
    }
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 17);
    D = 0;
    const char* p = buf;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') D = D * 10 + static_cast<uint64_t>(*p - '0');
    int e = 0;
    ++p;
    if (p < r.ptr && *p == '+') ++p;
    std::from_chars(p, r.ptr, e);
    E = e - 17;
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

inline int CountDigits(uint64_t u) {
    int k = 1;
    while (k < 20 && u >= kPow10[k]) ++k;
    return k;
}

// q / 10^drop rounded half away from zero (q >= 0).
inline uint64_t RoundDrop(uint64_t q, int drop) {
    if (drop <= 0) return q;
    if (drop > 19) return 0;
    const uint64_t div = kPow10[drop];
    const uint64_t keep = q / div;
    const uint64_t rem = q % div;
    return rem >= div - rem ? keep + 1 : keep;
}

// "-ddd.ddd" right-aligned in `width`, value scaled by 1000. Returns the end.
char* WriteScaled3(char* out, bool negative, uint64_t q, int width, char sep) {
    char tmp[32];
    char* t = tmp + sizeof tmp;
    const uint64_t frac = q % 1000;
    uint64_t ip = q / 1000;
    *--t = static_cast<char>('0' + frac % 10);
    *--t = static_cast<char>('0' + frac / 10 % 10);
    *--t = static_cast<char>('0' + frac / 100);
    *--t = sep;
    do {
        *--t = static_cast<char>('0' + ip % 10);
        ip /= 10;
    } while (ip != 0);
    if (negative && q != 0) *--t = '-';
    const int len = static_cast<int>(tmp + sizeof tmp - t);
    for (int i = len; i < width; ++i) *out++ = ' ';
    std::memcpy(out, t, static_cast<std::size_t>(len));
    return out + len;
}

// Fixed-point text with 3 decimals in `width`, the same text as FixedText(v, width, 3).
// Handles 1 <= |v| < 1e14 (every coordinate and most heights); false for the rest.
bool FastFixed3(char*& out, double v, int width) {
    const double a = std::fabs(v);
    if (!(a >= 1.0 && a < 1e14)) return false;
    uint64_t D;
    int E;
    Digits18(a, D, E);
    out = WriteScaled3(out, v < 0, RoundDrop(D, -E - 3), width, '.');
    return true;
}

// Rounded to `sig` significant digits and 3 decimals, the decimal separator `sep`;
// scientific notation when more digits stand before the point than `sig`.
char* WriteCsvNumber(char* out, double v, int sig, char sep) {
    if (std::isnan(v)) {
        std::memcpy(out, "NAN", 3);
        return out + 3;
    }
    if (std::isinf(v)) {
        if (v < 0) *out++ = '-';
        std::memcpy(out, "INF", 3);
        return out + 3;
    }
    if (v == 0.0) return WriteScaled3(out, false, 0, 0, sep);
    const bool negative = v < 0;
    uint64_t D;
    int E;
    Digits18(std::fabs(v), D, E);
    const int intDigits = E + 18;  // digits before the point (<= 0 below 1)
    if (intDigits <= sig) {
        const int decimals = intDigits <= 0 ? 3 : std::min(3, sig - intDigits);
        const uint64_t q = RoundDrop(D, -E - decimals);
        const uint64_t ip = q / kPow10[decimals];
        if (ip == 0 || CountDigits(ip) <= sig) {
            if (negative && q != 0) *out++ = '-';
            return WriteScaled3(out, false, q * kPow10[3 - decimals], 0, sep);
        }
    }
    // Scientific: the significant digits with trailing zeros dropped, then E and the exponent.
    uint64_t m = RoundDrop(D, 18 - sig);
    int exp10 = E + 17;
    if (m == kPow10[sig]) {
        m = kPow10[sig - 1];
        ++exp10;
    }
    int nd = sig;
    while (nd > 1 && m % 10 == 0) {
        m /= 10;
        --nd;
    }
    if (negative) *out++ = '-';
    char digits[24];
    char* dEnd = WriteUInt(digits, m);
    *out++ = digits[0];
    if (dEnd - digits > 1) {
        *out++ = sep;
        std::memcpy(out, digits + 1, static_cast<std::size_t>(dEnd - digits - 1));
        out += dEnd - digits - 1;
    }
    *out++ = 'E';
    if (exp10 < 0) {
        *out++ = '-';
        exp10 = -exp10;
    }
    return WriteUInt(out, static_cast<uint64_t>(exp10));
}

// Room one CSV line needs at most, CR LF included.
constexpr std::size_t kMaxCsvLine = 3 * 24 + 4;

char* WriteCsvLineTo(char* out, double x, double y, double z, char sep) {
    out = WriteCsvNumber(out, x, 12, sep);
    *out++ = ';';
    out = WriteCsvNumber(out, y, 12, sep);
    *out++ = ';';
    return WriteCsvNumber(out, z, 9, sep);
}

// The XYZ line without CR LF into `out` (room for 3 * 24 bytes); false when a value
// needs the general fixed-point text.
bool WriteXyzLineTo(char*& out, double x, double y, double z) {
    char* p = out;
    if (!FastFixed3(p, x, 12)) return false;
    *p++ = ' ';
    if (!FastFixed3(p, y, 12)) return false;
    *p++ = ' ';
    if (!FastFixed3(p, z, 9)) return false;
    out = p;
    return true;
}

std::string SlowXyzLine(double x, double y, double z) {
    std::string s;
    AppendFixedText(s, x, 12, 3);
    s.push_back(' ');
    AppendFixedText(s, y, 12, 3);
    s.push_back(' ');
    AppendFixedText(s, z, 9, 3);
    return s;
}

}  // namespace

// --- TextPointWriter ---------------------------------------------------------------

struct TextPointWriter::Impl {
    std::unique_ptr<TSafeFile> own;  // set when the writer made the file itself
    TSafeFile* file = nullptr;       // null once closed
    std::unique_ptr<char[]> buf;
    std::size_t used = 0;
    std::string failure;             // the first write error: nothing after it may count as written
    int failureErr = 0;

    [[noreturn]] void Fail() const { throw EInOutError(ErrnoToFileError(failureErr), failure, failureErr); }

    void Flush() {
        if (used == 0) return;
        const std::size_t n = used;
        used = 0;  // what is lost is lost; do not write it again
        try {
            file->Write(buf.get(), n);
        } catch (const EInOutError& e) {
            failure = e.what();
            failureErr = e.Errno();
            throw;
        }
    }
    // Room for at least `n` more bytes.
    char* Reserve(std::size_t n) {
        if (!failure.empty()) Fail();
        if (file == nullptr) throw EInOutError(103, FileErrorText(103));
        if (kBlockSize - used < n) Flush();
        return buf.get() + used;
    }
    void Append(const char* p, std::size_t n) {
        while (n > 0) {
            char* out = Reserve(1);
            std::size_t k = std::min(n, kBlockSize - used);
            std::memcpy(out, p, k);
            used += k;
            p += k;
            n -= k;
        }
    }
    void EndLine(char* out) {
        *out++ = '\r';
        *out++ = '\n';
        used = static_cast<std::size_t>(out - buf.get());
    }
};

TextPointWriter::TextPointWriter(const std::string& path, const TSchutz& schutz)
    : impl_(std::make_unique<Impl>()) {
    impl_->own = std::make_unique<TSafeFile>(path, schutz);
    impl_->file = impl_->own.get();
    impl_->buf.reset(new char[kBlockSize]);
}

TextPointWriter::TextPointWriter(TSafeFile& file) : impl_(std::make_unique<Impl>()) {
    impl_->file = &file;
    impl_->buf.reset(new char[kBlockSize]);
}

// Without Close an own temporary file goes with `own`; a caller's file is the caller's.
TextPointWriter::~TextPointWriter() = default;

void TextPointWriter::WriteXyz(double x, double y, double z) {
    char* out = impl_->Reserve(3 * 24 + 2);
    if (WriteXyzLineTo(out, x, y, z)) {
        impl_->EndLine(out);
        return;
    }
    WriteLine(SlowXyzLine(x, y, z));
}

void TextPointWriter::WriteCsv(double x, double y, double z, char decimalSeparator) {
    char* out = impl_->Reserve(kMaxCsvLine);
    impl_->EndLine(WriteCsvLineTo(out, x, y, z, decimalSeparator));
}

void TextPointWriter::WriteCsvHeading() { WriteLine("X;Y;Z"); }

void TextPointWriter::WriteLine(std::string_view text) {
    impl_->Append(text.data(), text.size());
    impl_->EndLine(impl_->Reserve(2));
}

void TextPointWriter::Close() {
    Impl& w = *impl_;
    if (!w.failure.empty()) w.Fail();
    if (w.file == nullptr) return;
    w.Flush();
    TSafeFile* f = w.file;
    w.file = nullptr;
    if (!w.own) return;
    try {
        f->Commit();
    } catch (const EInOutError& e) {
        w.failure = e.what();
        w.failureErr = e.Errno();
        throw;
    } catch (const EZielAbgelehnt& e) {
        w.failure = e.what();
        w.failureErr = e.Errno();
        throw;
    }
}

std::string XyzLine(double x, double y, double z) {
    char buf[3 * 24];
    char* out = buf;
    if (WriteXyzLineTo(out, x, y, z)) return std::string(buf, static_cast<std::size_t>(out - buf));
    return SlowXyzLine(x, y, z);
}

std::string CsvLine(double x, double y, double z, char decimalSeparator) {
    char buf[kMaxCsvLine];
    char* end = WriteCsvLineTo(buf, x, y, z, decimalSeparator);
    return std::string(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace tervalo
