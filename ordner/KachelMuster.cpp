#include "ordner/KachelMuster.h"

#include <array>
#include <cstddef>
#include <vector>

namespace tervalo {

namespace {

// Hand-written matching throughout: a state's folder holds tens of thousands of names, and
// every listing looks at each of them.

inline char Klein(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
inline bool Ziffer(char c) { return c >= '0' && c <= '9'; }

bool EndetMit(std::string_view s, std::string_view ende) {
    if (s.size() < ende.size()) return false;
    const std::size_t off = s.size() - ende.size();
    for (std::size_t i = 0; i < ende.size(); ++i)
        if (Klein(s[off + i]) != ende[i]) return false;
    return true;
}

// The length of the tile ending the name carries, 0 when it carries none. The two-part endings
// come first so "x.xyz.gz" is no ".gz" question at all.
constexpr std::array<std::string_view, 8> kEndungen = {".xyz.gz", ".txt.gz", ".tiff", ".xyz",
                                                       ".txt",    ".asc",    ".dbf",  ".tif"};

std::size_t KachelEndung(std::string_view name) {
    for (std::string_view e : kEndungen)
        if (EndetMit(name, e)) return e.size();
    return 0;
}

// Digits s[pos, pos + n) as a number, or -1 when they are not all digits.
int Zahl(std::string_view s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = s[pos + i];
        if (!Ziffer(c)) return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::optional<TNamensAusdehnung> Ausdehnung(int zone, int ost, int nord, int groesse) {
    if (groesse <= 0) return std::nullopt;
    TNamensAusdehnung a;
    a.Zone = zone;
    a.Xmin = double(ost) * 1000.0;
    a.Xmax = double(ost + groesse) * 1000.0;
    a.Ymin = double(nord) * 1000.0;
    a.Ymax = double(nord + groesse) * 1000.0;
    return a;
}

// <prefix>_ZZ_EEE_NNNN_S[S][_<anything>] over the name without its ending; the first place
// where the fields fit wins.
std::optional<TNamensAusdehnung> Eingebaut(std::string_view stamm) {
    for (std::size_t u = 1; u < stamm.size(); ++u) {
        if (stamm[u] != '_') continue;
        std::size_t p = u + 1;
        const int zone = Zahl(stamm, p, 2);
        if (zone < 0 || p + 2 >= stamm.size() || stamm[p + 2] != '_') continue;
        p += 3;
        const int ost = Zahl(stamm, p, 3);
        if (ost < 0 || p + 3 >= stamm.size() || stamm[p + 3] != '_') continue;
        p += 4;
        const int nord = Zahl(stamm, p, 4);
        if (nord < 0 || p + 4 >= stamm.size() || stamm[p + 4] != '_') continue;
        p += 5;
        std::size_t n = 0;
        while (p + n < stamm.size() && Ziffer(stamm[p + n])) ++n;
        if (n < 1 || n > 2) continue;
        if (p + n != stamm.size() && stamm[p + n] != '_') continue;
        if (auto a = Ausdehnung(zone, ost, nord, Zahl(stamm, p, n))) return a;
    }
    return std::nullopt;
}

enum class TFeld { Keins, Zone, Ost, Nord, Groesse, Unbekannt };

// The field "{...}" starting at muster[pos] (which is '{'); `laenge` receives its length with
// the braces, 0 when it is not closed.
TFeld FeldBei(std::string_view muster, std::size_t pos, std::size_t& laenge) {
    const std::size_t zu = muster.find('}', pos + 1);
    if (zu == std::string_view::npos) {
        laenge = 0;
        return TFeld::Unbekannt;
    }
    laenge = zu - pos + 1;
    const std::string_view innen = muster.substr(pos + 1, zu - pos - 1);
    auto gleich = [&](std::string_view w) {
        if (innen.size() != w.size()) return false;
        for (std::size_t i = 0; i < w.size(); ++i)
            if (Klein(innen[i]) != Klein(w[i])) return false;
        return true;
    };
    if (gleich("Zone")) return TFeld::Zone;
    if (gleich("Ost")) return TFeld::Ost;
    if (gleich("Nord")) return TFeld::Nord;
    if (gleich("Groesse")) return TFeld::Groesse;
    return TFeld::Unbekannt;
}

struct TTreffer {
    int Zone = 0, Ost = -1, Nord = -1, Groesse = 1;
};

// The length of the UTF-8 character starting at s[i], so "?" stands for one letter of the name
// as the user sees it.
std::size_t ZeichenLaenge(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    std::size_t k = 1;
    while (k < n && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) ++k;
    return k;
}

// The places of pattern and name known not to match: with them the backtracking over "*" stays
// quadratic at worst, whatever stars a user's pattern holds. Success never depends on what was
// caught on the way, so a place that failed once fails always.
struct TGescheitert {
    std::size_t breite;
    std::vector<bool> bits;
    TGescheitert(std::string_view m, std::string_view s) : breite(s.size() + 1), bits((m.size() + 1) * breite) {}
    bool Bekannt(std::size_t mi, std::size_t si) const { return bits[mi * breite + si]; }
    bool Merke(std::size_t mi, std::size_t si) {
        bits[mi * breite + si] = true;
        return false;
    }
};

// Backtracking over "*" and the one- or two-digit size.
bool Passt(std::string_view m, std::size_t mi, std::string_view s, std::size_t si, TTreffer& t, TGescheitert& g) {
    const std::size_t mi0 = mi, si0 = si;
    if (g.Bekannt(mi0, si0)) return false;
    while (mi < m.size()) {
        const char c = m[mi];
        if (c == '*') {
            while (mi < m.size() && m[mi] == '*') ++mi;
            if (mi == m.size()) return true;
            for (std::size_t k = si; k <= s.size(); ++k) {
                TTreffer probe = t;
                if (Passt(m, mi, s, k, probe, g)) {
                    t = probe;
                    return true;
                }
            }
            return g.Merke(mi0, si0);
        }
        if (c == '?') {
            if (si >= s.size()) return g.Merke(mi0, si0);
            si += ZeichenLaenge(s, si);
            ++mi;
            continue;
        }
        if (c == '{') {
            std::size_t len = 0;
            const TFeld f = FeldBei(m, mi, len);
            if (f == TFeld::Unbekannt) return g.Merke(mi0, si0);
            mi += len;
            if (f == TFeld::Groesse) {
                for (std::size_t n : {std::size_t(2), std::size_t(1)}) {
                    const int v = Zahl(s, si, n);
                    if (v < 0) continue;
                    TTreffer probe = t;
                    probe.Groesse = v;
                    if (Passt(m, mi, s, si + n, probe, g)) {
                        t = probe;
                        return true;
                    }
                }
                return g.Merke(mi0, si0);
            }
            const std::size_t n = f == TFeld::Zone ? 2 : f == TFeld::Ost ? 3 : 4;
            const int v = Zahl(s, si, n);
            if (v < 0) return g.Merke(mi0, si0);
            (f == TFeld::Zone ? t.Zone : f == TFeld::Ost ? t.Ost : t.Nord) = v;
            si += n;
            continue;
        }
        if (si >= s.size() || Klein(s[si]) != Klein(c)) return g.Merke(mi0, si0);
        ++si, ++mi;
    }
    return si == s.size() || g.Merke(mi0, si0);
}

}  // namespace

bool IsKachelName(std::string_view fileName) {
    if (fileName.empty() || fileName.front() == '.') return false;
    const std::size_t e = KachelEndung(fileName);
    return e > 0 && fileName.size() > e;
}

std::optional<TNamensAusdehnung> ExtentFromName(std::string_view fileName, std::string_view muster) {
    if (!muster.empty() && CheckMuster(muster).empty()) {
        TTreffer t;
        TGescheitert g(muster, fileName);
        if (Passt(muster, 0, fileName, 0, t, g) && t.Ost >= 0 && t.Nord >= 0)
            if (auto a = Ausdehnung(t.Zone, t.Ost, t.Nord, t.Groesse)) return a;
    }
    const std::size_t e = KachelEndung(fileName);
    if (e == 0 || fileName.size() <= e) return std::nullopt;
    return Eingebaut(fileName.substr(0, fileName.size() - e));
}

std::string CheckMuster(std::string_view muster) {
    if (muster.empty()) return {};
    // Built only for a message: names are matched against the pattern without allocating.
    const auto m = [&] { return std::string(muster); };
    int zone = 0, ost = 0, nord = 0, groesse = 0;
    for (std::size_t i = 0; i < muster.size(); ++i) {
        if (muster[i] == '}') return "Das Muster " + m() + " enthält eine „}“ ohne „{“.";
        if (muster[i] != '{') continue;
        std::size_t len = 0;
        const TFeld f = FeldBei(muster, i, len);
        if (len == 0) return "Das Muster " + m() + " enthält eine „{“ ohne „}“.";
        if (f == TFeld::Unbekannt)
            return "Das Muster " + m() + " enthält das unbekannte Feld " + std::string(muster.substr(i, len)) +
                   " (bekannt sind {Zone}, {Ost}, {Nord} und {Groesse}).";
        int& z = f == TFeld::Zone ? zone : f == TFeld::Ost ? ost : f == TFeld::Nord ? nord : groesse;
        if (++z > 1) return "Das Muster " + m() + " enthält " + std::string(muster.substr(i, len)) + " mehr als einmal.";
        i += len - 1;
    }
    if (ost == 0) return "Das Muster " + m() + " enthält kein {Ost}.";
    if (nord == 0) return "Das Muster " + m() + " enthält kein {Nord}.";
    return {};
}

}  // namespace tervalo
