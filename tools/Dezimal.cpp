#include "tools/Dezimal.h"

#include <charconv>
#include <system_error>

namespace tervalo {

namespace dezimal {

TEntwicklung ExpandGeneral(double a) {
    if (a == 0.0) return {};
    // "d.ddddddddddddddddde±x": 18 significant digits, correctly rounded.
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(a), std::chars_format::scientific, 17);
    TEntwicklung x;
    const char* p = buf;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') x.Digits = x.Digits * 10 + static_cast<uint64_t>(*p - '0');
    int e = 0;
    ++p;
    if (p < r.ptr && *p == '+') ++p;
    std::from_chars(p, r.ptr, e);
    x.Exp10 = e - 17;
    return x;
}

bool ReadPlainLong(const char* p, const char* e, bool minus, char komma, double& v) {
    // from_chars knows "." only; a line is at most 64 KiB, so is the copy.
    char kurz[128];
    std::string lang;
    const std::size_t n = static_cast<std::size_t>(e - p);
    char* b = kurz;
    if (n > sizeof kurz) {
        lang.resize(n);
        b = lang.data();
    }
    for (std::size_t i = 0; i < n; ++i) b[i] = p[i] == komma ? '.' : p[i];
    double a = 0.0;
    const auto r = std::from_chars(b, b + n, a, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != b + n) return false;
    v = minus ? -a : a;
    return true;
}

}  // namespace dezimal

namespace {

// printf's text: to_chars gives it for every double, exactly rounded.
void AppendPrintf(std::string& out, double v, std::size_t width, int d, char punkt) {
    // Room for the longest fixed text of a double: sign, 309 digits, point, d decimals.
    std::string buf(320 + static_cast<std::size_t>(d), '\0');
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, d);
    const std::size_t len = static_cast<std::size_t>(r.ptr - buf.data());
    if (width > len) out.append(width - len, ' ');
    const std::size_t at = out.size();
    out.append(buf.data(), len);
    if (punkt != '.')
        for (std::size_t i = at; i < out.size(); ++i)
            if (out[i] == '.') out[i] = punkt;
}

}  // namespace

void AppendFixedText(std::string& out, double v, int w, int d, char punkt, TRundung rundung) {
    if (d < 0) d = 0;
    const std::size_t width = w > 0 ? static_cast<std::size_t>(w) : 0;
    if (rundung == TRundung::Printf) {
        AppendPrintf(out, v, width, d, punkt);
        return;
    }
    if (!std::isfinite(v)) {
        const char* t = std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF");
        const std::size_t len = std::strlen(t);
        if (width > len) out.append(width - len, ' ');
        out.append(t, len);
        return;
    }
    const dezimal::TSkaliert s = dezimal::RoundToDecimals(dezimal::Expand(v), d);
    const bool minus = v < 0 && s.N != 0;
    const std::size_t len = (minus ? 1u : 0u) + dezimal::ScaledLength(s, d);
    if (width > len) out.append(width - len, ' ');
    const std::size_t at = out.size();
    out.resize(at + len);
    char* q = out.data() + at;
    if (minus) *q++ = '-';
    dezimal::WriteScaled(q, s, d, punkt);
}

std::string FixedText(double v, int w, int d, char punkt, TRundung rundung) {
    std::string out;
    AppendFixedText(out, v, w, d, punkt, rundung);
    return out;
}

}  // namespace tervalo
