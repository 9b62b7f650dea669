#include "tools/Eingabezahl.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "tools/Dezimal.h"

namespace tervalo::dezimal {

std::optional<double> ReadArgumentZahl(std::string_view t) {
    double v = 0;
    // The plain form, as the batch's input lines hold it, without a copy.
    if (ReadPlain(t.data(), t.data() + t.size(), v, ',')) return v;
    std::string s;
    std::size_t separators = 0;
    for (char c : t) {
        if (c == '.' || c == ',') {
            ++separators;
            c = '.';
        }
        s.push_back(c);
    }
    // Two separators could be grouping ("3.567.000,5"): no guess about which is meant.
    if (s.empty() || separators > 1) return std::nullopt;
    std::size_t from = 0;
    if (s[0] == '+') {
        from = 1;
        if (s.size() == 1 || s[1] == '-' || s[1] == '+') return std::nullopt;
    }
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data() + from, end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace tervalo::dezimal
