#include "server/Api.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>

#include "query/ProfilJson.h"
#include "tools/Eingabezahl.h"

namespace tervalo {

namespace {

constexpr const char* kAe = "\xC3\xA4";  // ä
constexpr const char* kUe = "\xC3\xBC";  // ü
constexpr const char* kOe = "\xC3\xB6";  // ö

[[noreturn]] void Ungueltig(const std::string& text) { throw EAnfrage(400, text); }

// A piece of the request in a message: at most 40 characters, control codes shown as "?", so
// that no client can put a whole body or terminal codes into the answer or the log.
std::string Zitat(std::string_view text) {
    constexpr int kZeichen = 40;
    std::string z = "\"";
    int zeichen = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80 && ++zeichen > kZeichen) {
            z += "\xE2\x80\xA6";  // …
            break;
        }
        z += c < 0x20 || c == 0x7F ? '?' : ch;
    }
    return z + "\"";
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t b = 0;
    for (;;) {
        const std::size_t e = s.find(sep, b);
        out.push_back(s.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
        if (e == std::string_view::npos) return out;
        b = e + 1;
    }
}

int HexWert(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void ZuViele(std::size_t maxPunkte) {
    throw EAnfrage(413, "Zu viele Punkte in der Anfrage: h" + std::string(kOe) + "chstens " + std::to_string(maxPunkte) +
                            " sind erlaubt.");
}

void PruefePosition(const TPosition& p, const std::string& wo) {
    // NaN fails both comparisons and is refused with the rest.
    if (!(p.Lat >= -90 && p.Lat <= 90))
        Ungueltig(wo + ": die Breite liegt nicht zwischen -90 und 90.");
    if (!(p.Lng >= -180 && p.Lng <= 180))
        Ungueltig(wo + ": die L" + kAe + "nge liegt nicht zwischen -180 und 180.");
}

std::string PositionWo(std::size_t nr, std::string_view text) {
    return "Position " + std::to_string(nr) + " (" + Zitat(text) + ")";
}

// ---- parameters, whichever way they came ----

using TJsonWert = nlohmann::json;

// A parameter's value: text from a query string or form body, or a value of a JSON body.
struct TWert {
    std::string Text;
    const TJsonWert* Json = nullptr;
};

// Appended rather than "..." + std::string: GCC 12 warns falsely (-Wrestrict) on that at -O2.
std::string ParameterName(std::string_view name) { return std::string("\"").append(name).append("\""); }

// A first pass over a JSON body that builds nothing: depth and the count of values are bounded
// before any value is held, and a name given twice at the top is refused as in a query string
// (the parser would keep the last). The parser's own callback cannot do this: with it, every
// object closed in an array costs a walk over that array.
class TJsonPruefung : public nlohmann::json_sax<TJsonWert> {
public:
    explicit TJsonPruefung(std::size_t maxPunkte)
        : maxPunkte_(maxPunkte), maxWerte_(16 * std::max<std::size_t>(maxPunkte, 1) + 1024) {}

    bool null() override { return Wert(); }
    bool boolean(bool) override { return Wert(); }
    bool number_integer(number_integer_t) override { return Wert(); }
    bool number_unsigned(number_unsigned_t) override { return Wert(); }
    bool number_float(number_float_t, const string_t&) override { return Wert(); }
    bool string(string_t&) override { return Wert(); }
    bool binary(binary_t&) override { return Wert(); }
    bool start_object(std::size_t) override { return Hinein(); }
    bool end_object() override { return Heraus(); }
    bool start_array(std::size_t) override { return Hinein(); }
    bool end_array() override { return Heraus(); }
    bool key(string_t& name) override {
        if (tiefe_ == 1 && !namen_.insert(name).second)
            Ungueltig("Der Parameter " + ParameterName(name) + " ist mehrfach angegeben.");
        return Wert();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    static constexpr int kTiefe = 16;

    bool Wert() {
        if (++werte_ > maxWerte_) ZuViele(maxPunkte_);
        return true;
    }
    bool Hinein() {
        if (++tiefe_ > kTiefe) Ungueltig("Der JSON-K" + std::string(kOe) + "rper ist zu tief verschachtelt.");
        return Wert();
    }
    bool Heraus() {
        --tiefe_;
        return true;
    }

    std::size_t maxPunkte_, maxWerte_;
    std::size_t werte_ = 0;
    int tiefe_ = 0;
    std::set<std::string> namen_;
};

TJsonWert ParseJsonKoerper(std::string_view koerper, std::size_t maxPunkte) {
    const std::string kaputt = "Der JSON-K" + std::string(kOe) + "rper ist kein g" + kUe + "ltiges JSON.";
    // The parser ends its input at a NUL byte and would not see what follows.
    if (koerper.find('\0') != std::string_view::npos) Ungueltig(kaputt);
    TJsonPruefung pruefung(maxPunkte);
    if (!TJsonWert::sax_parse(koerper.begin(), koerper.end(), &pruefung)) Ungueltig(kaputt);
    TJsonWert j = TJsonWert::parse(koerper.begin(), koerper.end(), nullptr, false);
    if (j.is_discarded()) Ungueltig(kaputt);
    if (!j.is_object()) Ungueltig("Der JSON-K" + std::string(kOe) + "rper muss ein Objekt sein.");
    return j;
}

enum class TKoerperArt { Json, Form };

TKoerperArt KoerperArt(std::string_view inhaltstyp, std::string_view koerper) {
    std::string typ(Trim(inhaltstyp.substr(0, inhaltstyp.find(';'))));
    std::transform(typ.begin(), typ.end(), typ.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (typ == "application/json" || (typ.size() > 5 && typ.ends_with("+json"))) return TKoerperArt::Json;
    if (typ == "application/x-www-form-urlencoded") return TKoerperArt::Form;
    const std::size_t erstes = koerper.find_first_not_of(" \t\r\n");
    return erstes != std::string_view::npos && koerper[erstes] == '{' ? TKoerperArt::Json : TKoerperArt::Form;
}

// The known parameters of a request, each at most once over query string and body.
class TSammlung {
public:
    TSammlung(std::vector<std::string_view> namen, std::string_view abfrage, std::string_view koerper,
              std::string_view inhaltstyp, std::size_t maxPunkte)
        : namen_(std::move(namen)) {
        for (auto& [n, v] : ParseParameterListe(abfrage)) Setze(n, TWert{std::move(v), nullptr});
        if (koerper.empty()) return;
        if (KoerperArt(inhaltstyp, koerper) == TKoerperArt::Form) {
            for (auto& [n, v] : ParseParameterListe(koerper)) Setze(n, TWert{std::move(v), nullptr});
            return;
        }
        json_ = ParseJsonKoerper(koerper, maxPunkte);
        for (const auto& [n, v] : json_.items()) Setze(n, TWert{{}, &v});
    }

    const TWert* Find(std::string_view name) const {
        const auto it = werte_.find(std::string(name));
        return it == werte_.end() ? nullptr : &it->second;
    }

private:
    void Setze(const std::string& name, TWert w) {
        if (std::find(namen_.begin(), namen_.end(), name) == namen_.end()) return;
        if (!werte_.emplace(name, std::move(w)).second)
            Ungueltig("Der Parameter " + ParameterName(name) + " ist mehrfach angegeben.");
    }

    std::vector<std::string_view> namen_;
    TJsonWert json_;
    std::map<std::string, TWert> werte_;
};

// A JSON value given where text is read (the query-string form of the parameter), else empty.
bool AlsText(const TWert& w, std::string& text) {
    if (!w.Json) {
        text = w.Text;
        return true;
    }
    if (!w.Json->is_string()) return false;
    text = w.Json->get<std::string>();
    return true;
}

// A JSON number as a finite double (the parser turns 1e400 into infinity).
std::optional<double> JsonZahl(const TJsonWert& j) {
    if (!j.is_number()) return std::nullopt;
    const double v = j.get<double>();
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> TextZahl(std::string_view text) {
    const std::string_view t = Trim(text);
    if (t.find(',') != std::string_view::npos) return std::nullopt;  // "." only: "," separates
    return dezimal::ReadArgumentZahl(t);
}

TInterpolation ReadInterpolation(const TWert* w) {
    if (!w) return TInterpolation::Naechster;
    std::string t;
    if (AlsText(*w, t)) {
        if (t == "nearest") return TInterpolation::Naechster;
        if (t == "shepard") return TInterpolation::Shepard;
    }
    Ungueltig("Der Parameter \"interpolation\" kennt nur \"nearest\" und \"shepard\".");
}

std::optional<double> ReadNodata(const TWert* w) {
    if (!w) return std::nullopt;
    const std::string fehler = "Der Parameter \"nodata_value\" muss \"null\" oder eine endliche Zahl sein.";
    if (w->Json && w->Json->is_null()) return std::nullopt;
    if (w->Json && w->Json->is_number()) {
        if (auto v = JsonZahl(*w->Json)) return v;
        Ungueltig(fehler);
    }
    std::string t;
    if (!AlsText(*w, t)) Ungueltig(fehler);
    if (Trim(t) == "null") return std::nullopt;
    if (auto v = TextZahl(t)) return v;
    Ungueltig(fehler);
}

// A count as written: digits (text) or a JSON integer, none negative; one too large for 64 bits
// is UINT64_MAX.
std::uint64_t ReadGanzzahl(const TWert& w, const std::string& fehler) {
    std::uint64_t n = 0;
    if (w.Json && w.Json->is_number_integer()) {
        if (w.Json->is_number_unsigned()) return w.Json->get<std::uint64_t>();
        if (w.Json->get<std::int64_t>() < 0) Ungueltig(fehler);
        return static_cast<std::uint64_t>(w.Json->get<std::int64_t>());
    }
    std::string t;
    if (!AlsText(w, t)) Ungueltig(fehler);
    const std::string_view s = Trim(t);
    if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos) Ungueltig(fehler);
    for (const char c : s) {
        if (n > (UINT64_MAX - 9) / 10) return UINT64_MAX;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

std::size_t ReadSamples(const TWert* w, std::size_t maxPunkte) {
    if (!w) return 0;
    const std::uint64_t n = ReadGanzzahl(*w, "Der Parameter \"samples\" muss eine ganze Zahl ab 2 sein.");
    if (n < 2) Ungueltig("Der Parameter \"samples\" muss eine ganze Zahl ab 2 sein.");
    if (n > maxPunkte) ZuViele(maxPunkte);
    return static_cast<std::size_t>(n);
}

std::vector<TPosition> ReadLocationsJson(const TJsonWert& liste, std::size_t maxPunkte) {
    if (liste.size() > maxPunkte) ZuViele(maxPunkte);
    std::vector<TPosition> out;
    out.reserve(liste.size());
    std::size_t nr = 0;
    for (const TJsonWert& e : liste) {
        ++nr;
        const std::string wo = "Position " + std::to_string(nr);
        if (!e.is_object()) Ungueltig(wo + " ist kein Objekt mit \"lat\" und \"lng\".");
        const bool google = e.contains("lat") || e.contains("lng");
        const char* kb = google ? "lat" : "latitude";
        const char* kl = google ? "lng" : "longitude";
        const auto b = e.find(kb);
        const auto l = e.find(kl);
        if (b == e.end() || l == e.end())
            Ungueltig(wo + ": \"lat\" und \"lng\" (oder \"latitude\" und \"longitude\") fehlen.");
        const std::optional<double> lat = JsonZahl(*b);
        const std::optional<double> lng = JsonZahl(*l);
        if (!lat || !lng) Ungueltig(wo + ": \"" + kb + "\" und \"" + kl + "\" m" + kUe + "ssen endliche Zahlen sein.");
        TPosition p{*lat, *lng};
        PruefePosition(p, wo);
        out.push_back(p);
    }
    return out;
}

std::vector<TPosition> ReadLocations(const TWert* w, std::size_t maxPunkte) {
    if (!w) Ungueltig("Der Parameter \"locations\" fehlt.");
    std::vector<TPosition> out;
    std::string t;
    if (w->Json && w->Json->is_array())
        out = ReadLocationsJson(*w->Json, maxPunkte);
    else if (AlsText(*w, t))
        out = ParseLocations(t, maxPunkte);
    else
        Ungueltig("Der Parameter \"locations\" muss ein Text \"Breite,L" + std::string(kAe) +
                  "nge|...\" oder eine Liste von Positionen sein.");
    if (out.empty()) Ungueltig("Der Parameter \"locations\" enth" + std::string(kAe) + "lt keine Position.");
    return out;
}

std::vector<TZweiTexte> ParsePunkteText(std::string_view text, std::size_t maxPunkte) {
    if (Trim(text).empty()) Ungueltig("Der Parameter \"punkte\" enth" + std::string(kAe) + "lt keinen Punkt.");
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '|')) >= maxPunkte) ZuViele(maxPunkte);
    std::vector<TZweiTexte> out;
    std::size_t nr = 0;
    for (const std::string_view item : Split(text, '|')) {
        ++nr;
        const std::string wo = "Punkt " + std::to_string(nr);
        if (Trim(item).empty()) Ungueltig(wo + " ist leer.");
        const std::vector<std::string_view> teile = Split(item, ',');
        if (teile.size() != 2 || Trim(teile[0]).empty() || Trim(teile[1]).empty())
            Ungueltig(wo + " (" + Zitat(item) + ") ist keine Angabe \"Rechtswert,Hochwert\".");
        out.push_back(TZweiTexte{std::string(Trim(teile[0])), std::string(Trim(teile[1]))});
    }
    return out;
}

// A JSON number as the command line would have read it typed: the shortest text that reads back.
std::optional<std::string> PunktTeil(const TJsonWert& j) {
    if (j.is_string()) {
        std::string t(Trim(j.get<std::string>()));
        if (t.empty()) return std::nullopt;
        return t;
    }
    if (JsonZahl(j)) return j.dump();
    return std::nullopt;
}

std::vector<TZweiTexte> ReadPunkte(const TWert* w, std::size_t maxPunkte) {
    if (!w) Ungueltig("Der Parameter \"punkte\" fehlt.");
    std::string t;
    if (AlsText(*w, t)) return ParsePunkteText(t, maxPunkte);
    if (!w->Json->is_array())
        Ungueltig("Der Parameter \"punkte\" muss ein Text \"R,H|R,H\" oder eine Liste von Zahlenpaaren sein.");
    if (w->Json->size() > maxPunkte) ZuViele(maxPunkte);
    if (w->Json->empty()) Ungueltig("Der Parameter \"punkte\" enth" + std::string(kAe) + "lt keinen Punkt.");
    std::vector<TZweiTexte> out;
    std::size_t nr = 0;
    for (const TJsonWert& e : *w->Json) {
        ++nr;
        std::optional<std::string> a, b;
        if (e.is_array() && e.size() == 2) {
            a = PunktTeil(e[0]);
            b = PunktTeil(e[1]);
        }
        if (!a || !b) Ungueltig("Punkt " + std::to_string(nr) + " ist kein Paar [Rechtswert, Hochwert].");
        out.push_back(TZweiTexte{std::move(*a), std::move(*b)});
    }
    return out;
}

void ReadSystem(const TWert* w, std::optional<TSystemWahl>& system, std::string& text) {
    if (!w) return;
    std::string t;
    if (!AlsText(*w, t)) Ungueltig("Der Parameter \"system\" muss ein Text sein.");
    text = std::string(Trim(t));
    try {
        system = ParseSystemWahl(text);
    } catch (const EKoordFehler& e) {
        Ungueltig(e.what());
    }
}

bool ReadRangliste(const TWert* w) {
    if (!w) return false;
    if (w->Json && w->Json->is_boolean()) return w->Json->get<bool>();
    if (w->Json && w->Json->is_number_integer()) {
        const auto v = w->Json->get<std::int64_t>();
        if (v == 0 || v == 1) return v == 1;
    }
    std::string t;
    if (AlsText(*w, t)) {
        if (Trim(t) == "0") return false;
        if (Trim(t) == "1") return true;
    }
    Ungueltig("Der Parameter \"rangliste\" muss 0 oder 1 sein.");
}

}  // namespace

// ---- texts of the request ----

std::string PercentDecode(std::string_view text, bool plusAlsLeer) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            const int h = i + 1 < text.size() ? HexWert(text[i + 1]) : -1;
            const int l = i + 2 < text.size() ? HexWert(text[i + 2]) : -1;
            if (h < 0 || l < 0)
                Ungueltig("Ung" + std::string(kUe) + "ltige Prozent-Kodierung in der Anfrage: " +
                          Zitat(text.substr(i, 3)) + ".");
            out += static_cast<char>(h * 16 + l);
            i += 2;
        } else if (c == '+' && plusAlsLeer) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

TParameterListe ParseParameterListe(std::string_view raw) {
    TParameterListe out;
    for (const std::string_view item : Split(raw, '&')) {
        if (item.empty()) continue;
        const std::size_t gleich = item.find('=');
        if (gleich == std::string_view::npos)
            out.emplace_back(PercentDecode(item, true), std::string());
        else
            out.emplace_back(PercentDecode(item.substr(0, gleich), true), PercentDecode(item.substr(gleich + 1), true));
    }
    return out;
}

// ---- positions ----

std::vector<TPosition> ParseLocations(std::string_view text, std::size_t maxPunkte) {
    const std::string_view t = Trim(text);
    if (t.starts_with("enc:")) return DecodePolyline(t.substr(4), maxPunkte);
    if (t.empty()) Ungueltig("Der Parameter \"locations\" enth" + std::string(kAe) + "lt keine Position.");
    // Counted before anything is held, so a huge list costs nothing.
    if (static_cast<std::size_t>(std::count(t.begin(), t.end(), '|')) >= maxPunkte) ZuViele(maxPunkte);
    std::vector<TPosition> out;
    std::size_t nr = 0;
    for (const std::string_view item : Split(t, '|')) {
        ++nr;
        if (Trim(item).empty()) Ungueltig("Position " + std::to_string(nr) + " ist leer.");
        const std::vector<std::string_view> teile = Split(item, ',');
        std::optional<double> lat, lng;
        if (teile.size() == 2) {
            lat = TextZahl(teile[0]);
            lng = TextZahl(teile[1]);
        }
        if (!lat || !lng)
            Ungueltig(PositionWo(nr, item) + " ist keine Angabe \"Breite,L" + kAe + "nge\" mit Zahlen (Dezimalpunkt \".\").");
        TPosition p{*lat, *lng};
        PruefePosition(p, PositionWo(nr, item));
        out.push_back(p);
    }
    return out;
}

std::vector<TPosition> DecodePolyline(std::string_view code, std::size_t maxPunkte) {
    const std::string kaputt = "Die kodierte Linie (\"enc:\") ist besch" + std::string(kAe) + "digt";
    std::vector<TPosition> out;
    std::int64_t lat = 0, lng = 0;
    std::size_t i = 0;
    // One signed value: 5-bit chunks, low first, 0x20 set on all but the last; at most 7 chunks
    // (the 32 bits Google's encoder writes).
    const auto wert = [&]() -> std::int64_t {
        std::uint64_t v = 0;
        for (int chunk = 0;; ++chunk) {
            if (i >= code.size()) Ungueltig(kaputt + ": sie endet mitten in einer Zahl.");
            const int c = static_cast<unsigned char>(code[i]) - 63;
            if (c < 0 || c > 63) Ungueltig(kaputt + ": Zeichen " + Zitat(code.substr(i, 1)) + " an Stelle " +
                                           std::to_string(i + 1) + ".");
            if (chunk >= 7) Ungueltig(kaputt + ": eine Zahl ist zu lang.");
            ++i;
            v |= static_cast<std::uint64_t>(c & 0x1F) << (5 * chunk);
            if (!(c & 0x20)) break;
        }
        const auto s = static_cast<std::int64_t>(v >> 1);
        return (v & 1) ? ~s : s;
    };
    if (code.empty()) Ungueltig("Die kodierte Linie (\"enc:\") enth" + std::string(kAe) + "lt keine Position.");
    while (i < code.size()) {
        if (out.size() >= maxPunkte) ZuViele(maxPunkte);
        lat += wert();
        if (i >= code.size()) Ungueltig(kaputt + ": der letzten Breite fehlt ihre L" + kAe + "nge.");
        lng += wert();
        // Both sums stay within the ranges checked here, so they never overflow.
        const TPosition p{static_cast<double>(lat) / 1e5, static_cast<double>(lng) / 1e5};
        PruefePosition(p, "Position " + std::to_string(out.size() + 1) + " der kodierten Linie");
        out.push_back(p);
    }
    return out;
}

std::string EncodePolyline(const std::vector<TPosition>& positionen) {
    std::string out;
    std::int64_t lat0 = 0, lng0 = 0;
    const auto schreibe = [&](std::int64_t d) {
        auto v = static_cast<std::uint64_t>(d < 0 ? ~(d << 1) : d << 1);
        while (v >= 0x20) {
            out += static_cast<char>((0x20 | (v & 0x1F)) + 63);
            v >>= 5;
        }
        out += static_cast<char>(v + 63);
    };
    for (const TPosition& p : positionen) {
        const auto lat = static_cast<std::int64_t>(std::llround(p.Lat * 1e5));
        const auto lng = static_cast<std::int64_t>(std::llround(p.Lng * 1e5));
        schreibe(lat - lat0);
        schreibe(lng - lng0);
        lat0 = lat;
        lng0 = lng;
    }
    return out;
}

// ---- the two requests ----

THoehenParameter ReadHoehenAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                   std::size_t maxPunkte) {
    const TSammlung s({"locations", "interpolation", "nodata_value", "samples"}, abfrage, koerper, inhaltstyp, maxPunkte);
    THoehenParameter p;
    p.Interpolation = ReadInterpolation(s.Find("interpolation"));
    p.NodataWert = ReadNodata(s.Find("nodata_value"));
    p.Samples = ReadSamples(s.Find("samples"), maxPunkte);
    p.Positionen = ReadLocations(s.Find("locations"), maxPunkte);
    return p;
}

TNativParameter ReadNativAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                 std::size_t maxPunkte) {
    const TSammlung s({"system", "punkte", "rangliste"}, abfrage, koerper, inhaltstyp, maxPunkte);
    TNativParameter p;
    ReadSystem(s.Find("system"), p.System, p.SystemText);
    p.Rangliste = ReadRangliste(s.Find("rangliste"));
    p.Punkte = ReadPunkte(s.Find("punkte"), maxPunkte);
    return p;
}

TProfilParameter ReadProfilAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                   std::size_t maxPunkte) {
    const TSammlung s({"system", "punkte", "schritt", "anzahl"}, abfrage, koerper, inhaltstyp, maxPunkte);
    TProfilParameter p;
    ReadSystem(s.Find("system"), p.System, p.SystemText);
    const TWert* schritt = s.Find("schritt");
    const TWert* anzahl = s.Find("anzahl");
    if (schritt && anzahl)
        Ungueltig("Die Parameter \"schritt\" und \"anzahl\" schlie\xC3\x9F" "en einander aus: bitte nur einen angeben.");
    if (schritt) {
        const std::string fehler = "Der Parameter \"schritt\" muss eine Zahl gr" + std::string(kOe) +
                                   "\xC3\x9F" "er als 0 sein (Meter, Dezimalpunkt \".\").";
        std::optional<double> v;
        std::string t;
        if (schritt->Json && schritt->Json->is_number())
            v = JsonZahl(*schritt->Json);
        else if (AlsText(*schritt, t))
            v = TextZahl(t);
        if (!v || !(*v > 0)) Ungueltig(fehler);
        p.Schritt = v;
    }
    if (anzahl) {
        const std::string fehler = "Der Parameter \"anzahl\" muss eine ganze Zahl ab 2 sein.";
        const std::uint64_t n = ReadGanzzahl(*anzahl, fehler);
        if (n < 2) Ungueltig(fehler);
        if (n > maxPunkte) ProbenUeberGrenze(maxPunkte);
        p.Anzahl = static_cast<std::size_t>(n);
    }
    p.Punkte = ReadPunkte(s.Find("punkte"), maxPunkte);
    return p;
}

void ProbenUeberGrenze(std::size_t maxPunkte, std::size_t proben) {
    throw EAnfrage(413, "Das Profil erg" + std::string(kAe) + "be " +
                            (proben > 0 ? std::to_string(proben) : std::string("zu viele")) + " Proben; h" + kOe +
                            "chstens " + std::to_string(maxPunkte) +
                            " sind je Anfrage erlaubt. Bitte einen gr" + kOe + "\xC3\x9F" "eren Schritt oder eine kleinere "
                            "Anzahl w" + kAe + "hlen.");
}

// ---- sampling ----

std::vector<TXY> SamplePath(const std::vector<TXY>& ecken, std::size_t n, bool geographisch) {
    if (ecken.empty() || n < 2) Ungueltig("Zum Abtasten eines Weges braucht es eine Position und mindestens 2 Punkte.");
    // A line has two vertices at least; one position doubled gives the same samples.
    const std::vector<TXY> zwei(ecken.size() == 1 ? 2 : 0, ecken.front());
    try {
        const TProfilLinie linie = SampleProfile(ecken.size() == 1 ? zwei : ecken, TAbtastung::MitAnzahl(n), geographisch);
        std::vector<TXY> out;
        out.reserve(linie.Proben.size());
        for (const TProbe& p : linie.Proben) out.push_back(TXY{p.X, p.Y});
        return out;
    } catch (const EProfil& e) {
        Ungueltig(e.what());
    }
}

// ---- answers ----

void FillErgebnis(THoehenErgebnis& e, const THoehenAntwort& a, TInterpolation interpolation) {
    e.Elevation.reset();
    e.Resolution.reset();
    e.Fehler.clear();
    if (!a.Fehler.empty()) {
        e.Fehler = a.Fehler;
        return;
    }
    // A tile that could not be read may have held the nearest point: no height rather than a
    // wrong one. An empty table lacks nothing.
    for (const TDateiZeile& d : a.Dateien) {
        if (!d.Fehler.empty() && d.Fehler != TextKeineDatensaetze) {
            e.Fehler = d.Fehler;
            return;
        }
    }
    if (!a.Berechnet || !a.HatNaechster) return;
    e.Resolution = a.Naechster.R;
    if (interpolation == TInterpolation::Naechster)
        e.Elevation = a.Naechster.Z;
    else if (a.ShepardN > 0)
        e.Elevation = a.ShepardZ;
}

std::string ErgebnisseJson(std::string_view dataset, const std::vector<THoehenErgebnis>& ergebnisse,
                           const std::optional<double>& nodataWert) {
    TJson liste = TJson::array();
    const TJson ohne = nodataWert ? TJson(*nodataWert) : TJson(nullptr);
    for (const THoehenErgebnis& e : ergebnisse) {
        TJson j;
        j["dataset"] = dataset;
        j["elevation"] = e.Elevation ? TJson(*e.Elevation) : ohne;
        j["location"] = {{"lat", e.Location.Lat}, {"lng", e.Location.Lng}};
        j["resolution"] = e.Resolution ? TJson(*e.Resolution) : TJson(nullptr);
        if (!e.Fehler.empty()) j["error"] = e.Fehler;
        liste.push_back(std::move(j));
    }
    TJson j;
    j["results"] = std::move(liste);
    j["status"] = "OK";
    return FormatJson(j);
}

std::string FehlerJson(std::string_view status, std::string_view text) {
    TJson j;
    j["status"] = status;
    j["error"] = text;
    return FormatJson(j);
}

const char* FehlerStatus(int httpStatus) { return httpStatus >= 500 ? "SERVER_ERROR" : "INVALID_REQUEST"; }

TJson NativPunktJson(const THoehenAntwort& a, bool rangliste, const TEingabeJson* eingabe) {
    return AntwortToJson(a, rangliste, nullptr, eingabe);
}

TJson NativFehlerJson(std::size_t nr, std::string_view text) {
    TJson j;
    j["punkt"] = nr;
    j["fehler"] = text;
    return j;
}

std::string ProfilJson(std::string_view dataset, TJson proben, const TProfilZusammenfassung& z) {
    TJson j;
    j["dataset"] = dataset;
    j["proben"] = std::move(proben);
    j["zusammenfassung"] = ZusammenfassungToJson(z);
    j["status"] = "OK";
    return FormatJson(j);
}

std::string NativJson(std::string_view dataset, TJson results) {
    TJson j;
    j["dataset"] = dataset;
    j["results"] = std::move(results);
    j["status"] = "OK";
    return FormatJson(j);
}

}  // namespace tervalo
