#include "koord/Bezugssystem.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <stdexcept>

#include "koord/Winkel.h"
#include "tools/Eingabezahl.h"

namespace tervalo {

namespace {

constexpr const char* kNamen = "EPSG:n, gk2 bis gk5, utm32, utm33, wgs84, etrs89";

std::string_view Trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

std::string Lower(std::string_view t) {
    std::string s(t);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

TBezugssystem Make(int epsg, bool geographisch, bool geprueft, int zone, std::string_view name) {
    TBezugssystem s;
    s.Epsg = epsg;
    s.Geographisch = geographisch;
    s.Geprueft = geprueft;
    s.UtmZone = zone;
    s.Name = std::string(name);
    s.Kanonisch = "EPSG:" + std::to_string(epsg);
    return s;
}

std::optional<TBezugssystem> Short(const std::string& n, std::string_view given) {
    if (n.size() == 3 && n.compare(0, 2, "gk") == 0 && n[2] >= '2' && n[2] <= '5')
        return Make(31464 + (n[2] - '0'), false, true, 0, given);
    if (n == "utm32" || n == "utm33") {
        const int zone = n[4] == '2' ? 32 : 33;
        return Make(25800 + zone, false, true, zone, given);
    }
    if (n == "wgs84") return Make(4326, true, true, 0, given);
    if (n == "etrs89") return Make(4258, true, true, 0, given);
    return std::nullopt;
}

[[noreturn]] void Unknown(std::string_view name) {
    throw EKoordFehler("Unbekanntes Bezugssystem \"" + std::string(name) + "\" (bekannt: " + kNamen + ", auto)");
}

// The text of the first number with a UTM zone's prefix taken off, when it carries one: an
// integer part of eight digits starting with the zone. Texts that are not plain decimals keep
// their form; ReadEingabePunkt takes the prefix off their value.
std::string WithoutZone(std::string_view t, int zone, bool& entfernt) {
    entfernt = false;
    std::size_t i = 0;
    if (i < t.size() && t[i] == '+') ++i;
    while (i < t.size() && t[i] == '0') ++i;
    std::size_t j = i;
    while (j < t.size() && static_cast<unsigned char>(t[j] - '0') < 10) ++j;
    const bool plain = j == t.size() || t[j] == '.' || t[j] == ',';
    const std::string z = std::to_string(zone);
    if (plain && j - i == 8 && t.substr(i, 2) == z) {
        entfernt = true;
        return std::string(t.substr(0, i)) + std::string(t.substr(i + 2));
    }
    return std::string(t);
}

}  // namespace

TBezugssystem ParseBezugssystem(std::string_view name) {
    const std::string_view given = Trimmed(name);
    const std::string n = Lower(given);
    if (auto s = Short(n, given)) return *s;
    if (n.compare(0, 5, "epsg:") == 0 && n.size() > 5 && n.size() <= 11) {
        int code = 0;
        const char* b = n.data() + 5;
        const char* e = n.data() + n.size();
        const auto r = std::from_chars(b, e, code);
        if (r.ec == std::errc() && r.ptr == e && code > 0 && *b != '+') {
            TBezugssystem s = Make(code, false, false, code >= 25828 && code <= 25838 ? code - 25800 : 0, given);
            // The codes the short names stand for need no look-up.
            for (const char* k : {"gk2", "gk3", "gk4", "gk5", "utm32", "utm33", "wgs84", "etrs89"}) {
                const TBezugssystem kurz = *Short(k, given);
                if (kurz.Epsg == code) {
                    s.Geographisch = kurz.Geographisch;
                    s.Geprueft = true;
                }
            }
            return s;
        }
    }
    Unknown(given);
}

TSystemWahl ParseSystemWahl(std::string_view name) {
    TSystemWahl w;
    if (Lower(Trimmed(name)) == "auto") {
        w.Auto = true;
        return w;
    }
    w.System = ParseBezugssystem(name);
    return w;
}

TBezugssystem DetectBezugssystem(std::string_view a, std::string_view b, const TBezugssystem* kacheln) {
    const std::optional<double> va = dezimal::ReadArgumentZahl(Trimmed(a));
    const std::optional<double> vb = dezimal::ReadArgumentZahl(Trimmed(b));
    if (va && vb && *va >= 0) {
        const double x = *va;
        const int mio = static_cast<int>(x / 1e6);
        if (x >= 1e6 && x < 1e7 && mio >= 2 && mio <= 5) return *Short("gk" + std::to_string(mio), "gk" + std::to_string(mio));
        if (x >= 1e7 && x < 1e8 && (mio == 32 || mio == 33)) {
            const std::string n = "utm" + std::to_string(mio);
            return *Short(n, n);
        }
        if (x >= 1e5 && x < 1e6) {
            const bool eigene = kacheln && (kacheln->Epsg == 25832 || kacheln->Epsg == 25833);
            const std::string n = eigene && kacheln->Epsg == 25833 ? "utm33" : "utm32";
            return *Short(n, n);
        }
    }
    if (TryReadWinkel(a, TAchse::Breite) && TryReadWinkel(b, TAchse::Laenge)) return *Short("wgs84", "wgs84");
    throw EKoordFehler("\"" + std::string(Trimmed(a)) + " " + std::string(Trimmed(b)) +
                       "\" passt zu keiner Form, die --ein auto erkennt: Gau\xC3\x9F-Kr\xC3\xBCger-Rechtswert mit 7 "
                       "Stellen vor dem Komma, beginnend mit 2 bis 5 (gk2 bis gk5); UTM-Ostwert mit 8 Stellen, "
                       "beginnend mit der Zone 32 oder 33; UTM-Ostwert mit 6 Stellen (Zone der Kacheln, sonst 32); "
                       "Breite und L\xC3\xA4nge in Grad (bis \xC2\xB1" "90 und \xC2\xB1" "180, WGS 84)");
}

TEingabePunkt ReadEingabePunkt(const TBezugssystem& s, std::string_view a, std::string_view b) {
    if (!s.Geprueft) throw std::logic_error("ReadEingabePunkt: system not checked");
    TEingabePunkt p;
    a = Trimmed(a);
    b = Trimmed(b);
    if (s.Geographisch) {
        p.A = ReadWinkel(a, TAchse::Breite);
        p.B = ReadWinkel(b, TAchse::Laenge);
        return p;
    }
    std::string ta(a);
    if (s.UtmZone) ta = WithoutZone(a, s.UtmZone, p.ZoneEntfernt);
    const std::optional<double> va = dezimal::ReadArgumentZahl(ta);
    const std::optional<double> vb = dezimal::ReadArgumentZahl(b);
    const char* hinweis = " ist keine Zahl (Dezimaltrenner \".\" oder \",\")";
    if (!va) throw EKoordFehler("Rechtswert \"" + std::string(a) + "\"" + hinweis);
    if (!vb) throw EKoordFehler("Hochwert \"" + std::string(b) + "\"" + hinweis);
    p.A = *va;
    p.B = *vb;
    // An exponent form ("3.235e7") carries the prefix in its value.
    const double zone = s.UtmZone * 1e6;
    if (s.UtmZone && !p.ZoneEntfernt && p.A >= zone && p.A < zone + 1e6) {
        p.A -= zone;
        p.ZoneEntfernt = true;
    }
    return p;
}

TZweiTexte SplitKoordinate(std::string_view text) {
    const std::string_view t = Trimmed(text);
    auto parts = [&](std::size_t at, std::size_t len) -> std::optional<TZweiTexte> {
        TZweiTexte z{std::string(Trimmed(t.substr(0, at))), std::string(Trimmed(t.substr(at + len)))};
        if (z.A.empty() || z.B.empty()) return std::nullopt;
        return z;
    };
    auto once = [&](std::string_view what) -> std::size_t {
        const std::size_t p = t.find(what);
        return p != std::string_view::npos && t.find(what, p + 1) == std::string_view::npos ? p : std::string_view::npos;
    };
    std::optional<TZweiTexte> z;
    if (std::size_t p = once(", "); p != std::string_view::npos) z = parts(p, 1);
    if (!z) {
        if (std::size_t p = once(";"); p != std::string_view::npos) z = parts(p, 1);
    }
    if (!z) {
        if (std::size_t p = once("\t"); p != std::string_view::npos) z = parts(p, 1);
    }
    if (!z && t.find(' ') == std::string_view::npos) {
        if (std::size_t p = once(","); p != std::string_view::npos) {
            const std::string_view l = t.substr(0, p), r = t.substr(p + 1);
            if (l.find('.') != std::string_view::npos && r.find('.') != std::string_view::npos) z = parts(p, 1);
        }
    }
    if (!z && !t.empty() && (t.front() == 'N' || t.front() == 'S')) {
        const std::size_t p = t.find_first_of("EOW");
        if (p != std::string_view::npos) z = parts(p, 0);
    } else if (!z) {
        const std::size_t p = t.find_first_of("NS");
        if (p != std::string_view::npos && p + 1 < t.size()) z = parts(p + 1, 0);
    }
    if (!z) {
        const std::size_t p = t.find_first_of(" ");
        if (p != std::string_view::npos) {
            const std::string_view rest = Trimmed(t.substr(p));
            if (rest.find_first_of(" \t") == std::string_view::npos) z = parts(p, 1);
        }
    }
    if (!z)
        throw EKoordFehler("\"" + std::string(t) +
                           "\" l\xC3\xA4sst sich nicht in zwei Werte teilen (Formen: \"51.50000, 7.50000\", "
                           "\"51,5;7,5\", \"3567000 5936000\")");
    return *z;
}

}  // namespace tervalo
