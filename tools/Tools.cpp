#include "tools/Tools.h"


#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tools/Errors.h"

namespace tervalo {

namespace {

inline unsigned char U(char c) { return static_cast<unsigned char>(c); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Both conversions start alike: leading blanks, then an optional sign.
std::size_t AfterSign(std::string_view text, bool& negative) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return i;
}
inline bool IsWhite(char c) { return U(c) <= 32; }

template <typename Keep>
std::string Filter(std::string_view s, Keep keep) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (keep(c)) out.push_back(c);
    return out;
}

// Whole number made of a digit string (leading zeros allowed); huge strings give +inf.
double DigitsValue(std::string_view digits) {
    if (digits.empty()) return 0.0;
    double v = 0.0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (r.ec == std::errc::result_out_of_range) return std::numeric_limits<double>::infinity();
    return v;
}

}  // namespace

// --- character filters -------------------------------------------------------

std::string RemoveBlanks(std::string_view s) {
    return Filter(s, [](char c) { return c != ' '; });
}

std::string CommaToPoint(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == ',') c = '.';
    return out;
}

std::string NumberChars(std::string_view s) {
    return Filter(s, [](char c) { return IsDigit(c) || c == '+' || c == ',' || c == '-' || c == '.'; });
}

std::string CleanNumber(std::string_view s, bool withExponent) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (IsDigit(c) || c == '+' || c == '-')
            out.push_back(c);
        else if (c == '.' || c == ',')
            out.push_back('.');
        else if (withExponent && (c == 'E' || c == 'e'))
            out.push_back(c);
    }
    return out;
}

std::string IntegerChars(std::string_view s) {
    return Filter(s, [](char c) { return IsDigit(c) || c == '+' || c == '-'; });
}

std::string ToUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string TrimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsWhite(s[i])) ++i;
    return std::string(s.substr(i));
}

std::string Trim(std::string_view s) {
    std::size_t i = 0, j = s.size();
    while (i < j && IsWhite(s[i])) ++i;
    while (j > i && IsWhite(s[j - 1])) --j;
    return std::string(s.substr(i, j - i));
}

// --- number conversions --------------------------------------------------------

int ValDouble(std::string_view text, double& value) {
    const std::size_t n = text.size();
    if (n == 0) {
        value = 0.0;
        return 1;
    }
    bool negative = false;
    std::size_t i = AfterSign(text, negative);
    const std::size_t intStart = i;
    while (i < n && IsDigit(text[i])) ++i;
    const std::size_t intEnd = i;
    std::size_t fracStart = i, fracEnd = i;
    bool point = false;
    if (i < n && text[i] == '.') {
        point = true;
        ++i;
        fracStart = i;
        while (i < n && IsDigit(text[i])) ++i;
        fracEnd = i;
    }
    const bool noDigits = intEnd == intStart && fracEnd == fracStart;
    // On failure the value is the mantissa digits met so far, without sign, point or exponent.
    auto fail = [&](std::size_t pos) {
        std::string digits(text.substr(intStart, intEnd - intStart));
        digits.append(text.substr(fracStart, fracEnd - fracStart));
        value = DigitsValue(digits);
        return static_cast<int>(pos + 1);
    };
    if (noDigits && !point) return fail(i);  // no mantissa at all: a lone sign or blanks
    long long exponent = 0;
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool expNegative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            expNegative = text[i] == '-';
            ++i;
        }
        if (i >= n || !IsDigit(text[i])) return fail(i);
        while (i < n && IsDigit(text[i])) {
            if (exponent < 100000000) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (expNegative) exponent = -exponent;
    }
    if (i < n) return fail(i);

    // Grammar checked; from_chars does the correctly rounded conversion of the rest.
    double v = 0.0;
    if (!noDigits) {
        auto r = std::from_chars(text.data() + intStart, text.data() + n, v);
        if (r.ec == std::errc::result_out_of_range) {
            // Decide overflow or underflow from the decimal magnitude of the value.
            std::size_t k = intStart;
            while (k < intEnd && text[k] == '0') ++k;
            long long magnitude;
            if (k < intEnd) {
                magnitude = exponent + static_cast<long long>(intEnd - k);
            } else {
                std::size_t z = fracStart;
                while (z < fracEnd && text[z] == '0') ++z;
                magnitude = exponent - static_cast<long long>(z - fracStart);
            }
            v = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        } else if (r.ec != std::errc() || r.ptr != text.data() + n) {
            v = 0.0;  // not reached: the grammar above is a subset of from_chars'
        }
    }
    value = negative ? -v : v;
    return 0;
}

int ValInt(std::string_view text, int32_t& value) {
    const std::size_t n = text.size();
    if (n == 0) {
        value = 0;
        return 1;
    }
    bool negative = false;
    std::size_t i = AfterSign(text, negative);
    const std::size_t start = i;
    int64_t acc = 0;
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    while (i < n && IsDigit(text[i])) {
        int64_t next = acc * 10 + (text[i] - '0');
        if (next > limit) {  // overflow: fails at the digit that does not fit
            value = static_cast<int32_t>(acc);
            return static_cast<int>(i + 1);
        }
        acc = next;
        ++i;
    }
    if (i == start || i < n) {
        value = static_cast<int32_t>(acc > 2147483647 ? 2147483647 : acc);
        return static_cast<int>(i + 1);
    }
    value = static_cast<int32_t>(negative ? -acc : acc);
    return 0;
}

std::string PadRight(std::string_view s, std::size_t length, char fill) {
    std::string out(s);
    if (out.size() < length) out.append(length - out.size(), fill);
    return out;
}

int ParseIntList(std::string_view text, char sep, int32_t (&target)[11]) {
    // Views instead of erasing from the front: a long list costs linear time.
    std::string_view rest = text;
    std::size_t a = 0, b = rest.size();
    while (a < b && IsWhite(rest[a])) ++a;
    while (b > a && IsWhite(rest[b - 1])) --b;
    rest = rest.substr(a, b - a);
    int count = 0;
    bool noSep = false;  // once no separator is left, none is searched for again
    while (!rest.empty()) {
        const std::size_t found = noSep ? std::string_view::npos : rest.find(sep);
        if (found == std::string_view::npos) noSep = true;
        const std::size_t p = found == std::string_view::npos ? 15 : found + 1;  // 1-based position
        // Surplus items beyond the 11 slots are ignored.
        if (count < 11) {
            char item[15];
            const std::size_t n = std::min<std::size_t>(p - 1, std::min<std::size_t>(15, rest.size()));
            for (std::size_t i = 0; i < n; ++i) item[i] = rest[i] == ',' ? '.' : rest[i];
            double v = 0.0;
            ValDouble(std::string_view(item, n), v);
            double t = std::trunc(v);
            int32_t iv;
            if (std::isnan(t)) iv = 0;
            else if (t >= 2147483647.0) iv = std::numeric_limits<int32_t>::max();
            else if (t <= -2147483648.0) iv = std::numeric_limits<int32_t>::min();
            else iv = static_cast<int32_t>(t);
            target[count++] = iv;
        }
        rest.remove_prefix(std::min(p, rest.size()));
        std::size_t w = 0;
        while (w < rest.size() && IsWhite(rest[w])) ++w;
        rest.remove_prefix(w);
    }
    return count;
}

std::string NamePath(std::string text, std::string_view path) {
    if (path.empty() || text.find(path) != std::string::npos) return text;
    if (!text.empty()) text += ": ";
    text += path;
    return text;
}

std::string ReadErrorMessage(const std::exception& e, std::string_view path) {
    if (const auto* abort = dynamic_cast<const ESilentAbort*>(&e)) {
        if (!abort->Detail().empty()) return NamePath(abort->Detail(), path);
        return NamePath("Die Datei kann nicht gelesen werden", path);
    }
    return NamePath(e.what(), path);
}

// --- files and paths -----------------------------------------------------------

bool IsFolderSeparator(char c) { return c == '\\' || c == ':' || c == '/'; }

bool IsValidFileName(std::string_view s) {
    if (RemoveBlanks(s).empty()) return false;
    for (char c : s) {
        unsigned char u = U(c);
        // Names are UTF-8 here: every byte from 128 up belongs to a letter such as "ü".
        if (u < 32 || (u > 122 && u < 128)) return false;
        if (std::strchr("\"*<>?[]", c) != nullptr) return false;
    }
    return true;
}

std::string FolderPart(std::string_view path) {
    std::size_t i = path.size();
    while (i > 0 && !IsFolderSeparator(path[i - 1])) --i;
    return std::string(path.substr(0, i));
}

std::string FileNamePart(std::string_view path) {
    std::size_t i = path.size();
    while (i > 0 && !IsFolderSeparator(path[i - 1])) --i;
    return std::string(path.substr(i));
}

std::string NameWithoutExt(std::string_view path) {
    std::string name = FileNamePart(path);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

namespace {

inline bool IsSlash(char c) { return c == '\\' || c == '/'; }

// Replaces the first folder of a folder part by "...\" (see ShortenPath).
std::string CutFirstFolder(std::string f) {
    if (f.size() == 1 && IsSlash(f[0])) return {};
    char lead = 0;
    if (!f.empty() && IsSlash(f[0])) {
        lead = f[0];
        f.erase(0, 1);
    }
    if (!f.empty() && f[0] == '.') f.erase(0, std::min<std::size_t>(4, f.size()));
    std::size_t s = 0;
    while (s < f.size() && !IsSlash(f[s])) ++s;
    if (s < f.size()) {
        char sepc = f[s];
        f = std::string("...") + sepc + f.substr(s + 1);
    } else {
        f.clear();
    }
    if (lead) f.insert(f.begin(), lead);
    return f;
}

// Where the code points of a UTF-8 text begin (and its end), so a cut never splits one.
std::vector<std::size_t> CodePointStarts(std::string_view s) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) at.push_back(i);
    at.push_back(s.size());
    return at;
}

inline bool IsNameBreak(char c) { return c == '_' || c == '-' || c == '.' || c == ' '; }

// A file name too wide for its room, with an ellipsis inside it. The end tells tiles apart
// (agency names differ in their last part, "_nw" against "_no", and in ".gz"), so it gets
// three quarters of the room and the start the rest, cut after a break where it has one.
// When not even the ellipsis and the last character fit, the name is given whole.
std::string ElideName(const std::string& name, const TTextMass& font, int maxWidth) {
    static constexpr std::string_view Ellipsis = "\xE2\x80\xA6";
    const std::vector<std::size_t> at = CodePointStarts(name);
    const std::size_t n = at.size() - 1;  // code points
    const int room = maxWidth - font.TextWidth(Ellipsis);
    const int last = font.TextWidth(std::string_view(name).substr(at[n - 1]));
    if (n < 2 || room < last) return name;

    std::size_t head = 0;  // code points kept at the start, leaving one for the end
    while (head + 2 < n && font.TextWidth(std::string_view(name).substr(0, at[head + 1])) <= room / 4) ++head;
    std::size_t cut = head;
    while (cut > 1 && !IsNameBreak(name[at[cut - 1]])) --cut;
    if (cut > 1) head = cut;
    if (room - font.TextWidth(std::string_view(name).substr(0, at[head])) < last) head = 0;
    const std::string_view start = std::string_view(name).substr(0, at[head]);
    const int rest = room - font.TextWidth(start);

    std::size_t tail = n - 1;  // first code point kept at the end
    while (tail > head + 1 && font.TextWidth(std::string_view(name).substr(at[tail - 1])) <= rest) --tail;
    return std::string(start) + std::string(Ellipsis) + name.substr(at[tail]);
}

}  // namespace

std::string ShortenPath(std::string_view path, const TTextMass& font, int maxWidth) {
    std::string result(path);
    std::string folder = FolderPart(path);
    const std::string name = FileNamePart(path);
    std::string drive;
    if (folder.size() > 1 && folder[1] == ':') {
        drive = folder.substr(0, 2);
        folder.erase(0, 2);
    }
    while (!folder.empty() || !drive.empty()) {
        if (font.TextWidth(result) <= maxWidth) break;
        if (folder == "\\...\\" || folder == "/.../") {
            drive.clear();
            folder = folder.substr(1);
        } else if (folder.empty()) {
            drive.clear();
        } else {
            folder = CutFirstFolder(folder);
        }
        result = drive + folder + name;
    }
    if (result == name && font.TextWidth(name) > maxWidth) result = ElideName(name, font, maxWidth);
    return result;
}

// --- text grids ----------------------------------------------------------------

void InsertGridRow(TTextGitter& grid, int row) {
    const int rows = grid.RowCount();
    if (row < 0 || row > rows) return;
    grid.SetRowCount(rows + 1);
    const int cols = grid.ColCount();
    for (int r = rows; r > row; --r)
        for (int c = 0; c < cols; ++c) grid.SetCell(c, r, grid.Cell(c, r - 1));
    for (int c = 0; c < cols; ++c) grid.SetCell(c, row, std::string());
}

void DeleteGridRow(TTextGitter& grid, int row) {
    const int rows = grid.RowCount();
    if (row < 0 || row >= rows) return;
    const int cols = grid.ColCount();
    for (int r = row; r <= rows - 2; ++r)
        for (int c = 0; c < cols; ++c) grid.SetCell(c, r, grid.Cell(c, r + 1));
    grid.SetRowCount(rows - 1);
}

void CenterCell(TTextGitter& grid, int col, int row) {
    std::string text = grid.Cell(col, row);
    int free = grid.ColWidth(col) - 2 - grid.TextWidth(text);
    int half = free / 2;
    if (half <= 0) return;
    int blank = grid.TextWidth(" ");
    if (blank <= 0) return;
    int n = half / blank;
    if (n <= 0) return;
    grid.SetCell(col, row, std::string(static_cast<std::size_t>(n), ' ') + text);
}

// --- geometry and arithmetic ---------------------------------------------------

bool InRect(double x, double y, double xmin, double xmax, double ymin, double ymax) {
    return xmin <= x && x <= xmax && ymin <= y && y <= ymax;
}

double SafePower(double base, double exponent, int& error) {
    if (base > 0) {
        error = 0;
        return std::exp(exponent * std::log(base));
    }
    error = 1;
    return 0.0;
}

}  // namespace tervalo
