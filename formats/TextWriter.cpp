#include "formats/TextPoints.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tools/Dezimal.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

constexpr std::size_t kBlockSize = 1u << 20;

// --- number texts ----------------------------------------------------------------

// Rounded to `sig` significant digits and 3 decimals, the decimal separator `sep`;
// scientific notation when more digits stand before the point than `sig`.
char* WriteCsvNumber(char* out, double v, int sig, char sep) {
    using namespace dezimal;
    if (std::isnan(v)) {
        std::memcpy(out, "NAN", 3);
        return out + 3;
    }
    if (std::isinf(v)) {
        if (v < 0) *out++ = '-';
        std::memcpy(out, "INF", 3);
        return out + 3;
    }
    if (v == 0.0) return WriteScaled(out, TSkaliert{}, 3, sep);
    const bool negative = v < 0;
    const TEntwicklung x = Expand(v);
    const int intDigits = x.IntDigits();
    if (intDigits <= sig) {
        const int decimals = intDigits <= 0 ? 3 : std::min(3, sig - intDigits);
        const uint64_t q = RoundDrop(x.Digits, -x.Exp10 - decimals);
        const uint64_t ip = q / kPow10[decimals];
        if (ip == 0 || CountDigits(ip) <= sig) {
            if (negative && q != 0) *out++ = '-';
            return WriteScaled(out, TSkaliert{q, 3 - decimals}, 3, sep);
        }
    }
    // Scientific: the significant digits with trailing zeros dropped, then E and the exponent.
    uint64_t m = RoundDrop(x.Digits, 18 - sig);
    int exp10 = x.Exp10 + 17;
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

// The XYZ line without CR LF into `out` (room for 3 * 24 bytes); false when a value needs
// the general fixed-point text (not finite, or 1e15 and more).
bool WriteXyzLineTo(char*& out, double x, double y, double z) {
    if (!(std::fabs(x) < 1e15 && std::fabs(y) < 1e15 && std::fabs(z) < 1e15)) return false;
    char* p = dezimal::WriteFixed(out, x, 12, 3);
    *p++ = ' ';
    p = dezimal::WriteFixed(p, y, 12, 3);
    *p++ = ' ';
    out = dezimal::WriteFixed(p, z, 9, 3);
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

// --- TPunktSchreiber ---------------------------------------------------------------

struct TPunktSchreiber::Impl {
    TSichereDatei* file = nullptr;       // null once closed
    std::unique_ptr<char[]> buf;
    std::size_t used = 0;
    uint64_t flushed = 0;            // bytes handed to the file
    std::string failure;             // the first write error: nothing after it may count as written
    int failureErr = 0;

    [[noreturn]] void Fail() const { throw EInOutError(ErrnoToFileError(failureErr), failure, failureErr); }

    void Flush() {
        if (used == 0) return;
        const std::size_t n = used;
        used = 0;  // what is lost is lost; do not write it again
        try {
            file->Write(buf.get(), n);
            flushed += n;
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

TPunktSchreiber::TPunktSchreiber(TSichereDatei& file) : impl_(std::make_unique<Impl>()) {
    impl_->file = &file;
    impl_->buf.reset(new char[kBlockSize]);
}

TPunktSchreiber::~TPunktSchreiber() = default;

void TPunktSchreiber::WriteXyz(double x, double y, double z) {
    char* out = impl_->Reserve(3 * 24 + 2);
    if (WriteXyzLineTo(out, x, y, z)) {
        impl_->EndLine(out);
        return;
    }
    WriteLine(SlowXyzLine(x, y, z));
}

void TPunktSchreiber::WriteCsv(double x, double y, double z, char decimalSeparator) {
    char* out = impl_->Reserve(kMaxCsvLine);
    impl_->EndLine(WriteCsvLineTo(out, x, y, z, decimalSeparator));
}

void TPunktSchreiber::WriteCsvHeading() { WriteLine("X;Y;Z"); }

void TPunktSchreiber::WriteLine(std::string_view text) {
    impl_->Append(text.data(), text.size());
    impl_->EndLine(impl_->Reserve(2));
}

uint64_t TPunktSchreiber::Position() const { return impl_->flushed + impl_->used; }

void TPunktSchreiber::Truncate(uint64_t position) {
    Impl& w = *impl_;
    if (!w.failure.empty()) w.Fail();
    if (w.file == nullptr) throw EInOutError(103, FileErrorText(103));
    if (position >= w.flushed) {
        // Still in the buffer: nothing of it reached the file.
        w.used = static_cast<std::size_t>(std::min<uint64_t>(position - w.flushed, w.used));
        return;
    }
    // The file is our own temporary file: cutting it loses nothing of anybody's.
    const int fd = w.file->Fd();
    if (::ftruncate(fd, static_cast<off_t>(position)) != 0 ||
        ::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0)
        ThrowFileError(errno, w.file->Target());
    w.flushed = position;
    w.used = 0;
}

void TPunktSchreiber::Close() {
    Impl& w = *impl_;
    if (!w.failure.empty()) w.Fail();
    if (w.file == nullptr) return;
    w.Flush();
    w.file = nullptr;
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
