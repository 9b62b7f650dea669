#include "tools/Dezimal.h"

#include <charconv>

namespace tervalo {

namespace dezimal {

Expansion ExpandGeneral(double a) {
    if (a == 0.0) return {};
    // "d.ddddddddddddddddde±x": 18 significant digits, correctly rounded.
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(a), std::chars_format::scientific, 17);
    Expansion x;
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

}  // namespace dezimal

void AppendFixedText(std::string& out, double v, int w, int d) {
    if (d < 0) d = 0;
    const std::size_t width = w > 0 ? static_cast<std::size_t>(w) : 0;
    if (!std::isfinite(v)) {
        const char* t = std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF");
        const std::size_t len = std::strlen(t);
        if (width > len) out.append(width - len, ' ');
        out.append(t, len);
        return;
    }
    const dezimal::Scaled s = dezimal::RoundToDecimals(dezimal::Expand(v), d);
    const bool minus = v < 0 && s.N != 0;
    const std::size_t len = (minus ? 1u : 0u) + dezimal::ScaledLength(s, d);
    if (width > len) out.append(width - len, ' ');
    const std::size_t at = out.size();
    out.resize(at + len);
    char* q = out.data() + at;
    if (minus) *q++ = '-';
    dezimal::WriteScaled(q, s, d, '.');
}

std::string FixedText(double v, int w, int d) {
    std::string out;
    AppendFixedText(out, v, w, d);
    return out;
}

}  // namespace tervalo
