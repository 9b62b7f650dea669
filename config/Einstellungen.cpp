#include "config/Einstellungen.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "koord/Bezugssystem.h"
#include "ordner/KachelMuster.h"
#include "tools/Datei.h"
#include "tools/Eingabezahl.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool EndsWithNoCase(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && EqualNoCase(s.substr(s.size() - end.size()), end);
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // range of the first continuation byte
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i <= n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return false;
        }
        i += n + 1;
    }
    return true;
}

// A value shown in a message: at most 60 bytes, cut at a character's start.
std::string Shown(std::string_view v) {
    if (v.size() <= 60) return std::string(v);
    std::size_t n = 60;
    while (n > 0 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80) --n;
    return std::string(v.substr(0, n)) + "\xE2\x80\xA6";
}

// Section and key names the program itself uses: plain, so that a written line reads back as it.
void CheckName(std::string_view name) {
    if (name.empty() || name.find_first_of("=[]#;\r\n\t ") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        throw std::invalid_argument("unusable settings name: " + std::string(name));
}

const char* const kUebergangen = ", die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei";

}  // namespace

std::string EinstellungenFileFor(const std::string& konfPath) {
    const std::string name = FileNamePart(konfPath);
    const std::string folder = konfPath.substr(0, konfPath.size() - name.size());
    if (EndsWithNoCase(name, ".KNF")) return folder + name.substr(0, name.size() - 4) + ".ini";
    const std::size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0 || EndsWithNoCase(name, ".ini")) return konfPath + ".ini";
    return folder + name.substr(0, dot) + ".ini";
}

std::string TEinstellungen::ZeilenMeldung(std::size_t zeile, const std::string& text) const {
    return datei_ + ", Zeile " + std::to_string(zeile) + ": " + text;
}

void TEinstellungen::Load(const std::string& path) {
    int err = 0;
    uint64_t groesse = 0;
    TDateiHandle fd = OpenForReading(path.c_str(), err, &groesse);
    if (!fd) {
        if (IsMissingFile(err)) {
            Parse({}, path);
            vorhanden_ = false;
            return;
        }
        ThrowFileError(err, path);
    }
    const std::string zuGross = "Die Einstellungsdatei ist gr\xC3\xB6\xC3\x9F" "er als " +
                                std::to_string(MaxEinstellungenBytes / 1024) + " KiB und wird nicht gelesen: " + path;
    if (groesse > MaxEinstellungenBytes) throw EInOutError(0, zuGross);
    // Read up to one byte past the limit: the file may have grown since it was measured.
    std::string bytes(MaxEinstellungenBytes + 1, '\0');
    std::size_t n = 0;
    try {
        while (n < bytes.size()) {
            const std::size_t got = ReadAt(fd.Fd(), bytes.data() + n, bytes.size() - n, n);
            if (got == 0) break;
            n += got;
        }
    } catch (const EInOutError& e) {
        ThrowWithPath(e, path);
    }
    if (n > MaxEinstellungenBytes) throw EInOutError(0, zuGross);
    bytes.resize(n);
    Parse(bytes, path);
    vorhanden_ = true;
}

void TEinstellungen::Parse(std::string_view bytes, const std::string& path) {
    std::vector<TZeile> zeilen;
    std::vector<std::string> meldungen;
    datei_ = path;
    std::size_t uebergangen = 0;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        // CRs at the end are the line's end, however many: kept, they would turn the line into
        // another one when the file is read again.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        std::string fehler;
        zeilen.push_back(Classify(std::string(line), &fehler));
        if (fehler.empty()) continue;
        ++uebergangen;
        if (meldungen.size() < MaxEinstellungenMeldungen) meldungen.push_back(ZeilenMeldung(zeilen.size(), fehler));
    }
    if (uebergangen > meldungen.size())
        meldungen.push_back(path + ": " + std::to_string(uebergangen - meldungen.size()) +
                            " weitere Zeilen \xC3\xBC" "bergangen");
    zeilen_ = std::move(zeilen);
    meldungen_ = std::move(meldungen);
    vorhanden_ = true;
    geaendert_ = false;
    Link();
}

TEinstellungen::TZeile TEinstellungen::Classify(std::string text, std::string* fehler) {
    TZeile z;
    z.Text = std::move(text);
    const std::string_view t = z.Text;
    // A byte order mark is passed over on any line, so that a line means the same wherever
    // removing others moves it.
    std::size_t p = t.starts_with(kBom) ? kBom.size() : 0;
    auto fremd = [&](const char* warum) {
        z.Art = TArt::Fremd;
        if (fehler) *fehler = std::string(warum) + kUebergangen;
        return z;
    };
    if (t.find('\0') != std::string_view::npos) return fremd("enth\xC3\xA4lt ein NUL-Byte");
    if (!IsUtf8(t)) return fremd("kein UTF-8-Text");
    while (p < t.size() && IsBlank(t[p])) ++p;
    if (p == t.size()) return z;  // blank
    if (t[p] == '#' || t[p] == ';') {
        z.Art = TArt::Kommentar;
        return z;
    }
    std::size_t q = t.size();
    while (q > p && IsBlank(t[q - 1])) --q;
    if (t[p] == '[') {
        if (t[q - 1] != ']' || q - p < 2) return fremd("\"[\" ohne schlie\xC3\x9F" "endes \"]\"");
        std::size_t a = p + 1, b = q - 1;
        while (a < b && IsBlank(t[a])) ++a;
        while (b > a && IsBlank(t[b - 1])) --b;
        z.Art = TArt::Abschnitt;
        z.NameAnfang = a;
        z.NameLaenge = b - a;
        return z;
    }
    const std::size_t eq = t.find('=', p);
    if (eq == std::string_view::npos) return fremd("weder [Abschnitt] noch Schluessel=Wert");
    std::size_t b = eq;
    while (b > p && IsBlank(t[b - 1])) --b;
    if (b == p) return fremd("kein Schl\xC3\xBCssel vor dem \"=\"");
    std::size_t w = eq + 1;
    while (w < q && IsBlank(t[w])) ++w;
    z.Art = TArt::Eintrag;
    z.NameAnfang = p;
    z.NameLaenge = b - p;
    z.WertAnfang = w;
    z.WertLaenge = q > w ? q - w : 0;
    return z;
}

void TEinstellungen::Link() {
    std::size_t kopf = npos;
    for (std::size_t i = 0; i < zeilen_.size(); ++i) {
        if (zeilen_[i].Art == TArt::Abschnitt) {
            zeilen_[i].Kopf = npos;
            kopf = i;
        } else {
            zeilen_[i].Kopf = kopf;
        }
    }
}

bool TEinstellungen::InSection(const TZeile& z, std::string_view abschnitt) const {
    if (z.Kopf == npos) return abschnitt.empty();
    const TZeile& h = zeilen_[z.Kopf];
    return EqualNoCase(std::string_view(h.Text).substr(h.NameAnfang, h.NameLaenge), abschnitt);
}

bool TEinstellungen::IsKey(const TZeile& z, std::string_view abschnitt, std::string_view schluessel) const {
    return z.Art == TArt::Eintrag && EqualNoCase(std::string_view(z.Text).substr(z.NameAnfang, z.NameLaenge), schluessel) &&
           InSection(z, abschnitt);
}

std::optional<TEinstellungen::TWert> TEinstellungen::Get(std::string_view abschnitt, std::string_view schluessel) const {
    for (std::size_t i = 0; i < zeilen_.size(); ++i) {
        const TZeile& z = zeilen_[i];
        if (IsKey(z, abschnitt, schluessel)) return TWert{z.Text.substr(z.WertAnfang, z.WertLaenge), i + 1};
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, TEinstellungen::TWert>> TEinstellungen::Entries(std::string_view abschnitt) const {
    std::vector<std::pair<std::string, TWert>> out;
    for (std::size_t i = 0; i < zeilen_.size(); ++i) {
        const TZeile& z = zeilen_[i];
        if (z.Art != TArt::Eintrag || !InSection(z, abschnitt)) continue;
        out.emplace_back(z.Text.substr(z.NameAnfang, z.NameLaenge), TWert{z.Text.substr(z.WertAnfang, z.WertLaenge), i + 1});
    }
    return out;
}

bool TEinstellungen::Set(std::string_view abschnitt, std::string_view schluessel, std::string_view wert) {
    CheckName(abschnitt);
    CheckName(schluessel);
    if (wert.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        throw std::invalid_argument("settings value with a line break or NUL");
    bool changed = false;
    std::vector<char> weg(zeilen_.size(), 0);
    std::size_t first = npos;
    for (std::size_t i = 0; i < zeilen_.size(); ++i) {
        if (!IsKey(zeilen_[i], abschnitt, schluessel)) continue;
        if (first == npos) {
            first = i;
        } else {
            weg[i] = 1;  // a later entry of the key would only mislead a reader of the file
            changed = true;
        }
    }
    if (first != npos) {
        TZeile& z = zeilen_[first];
        std::string text = z.Text.substr(0, z.WertAnfang) + std::string(wert);
        if (text != z.Text) {
            z = Classify(std::move(text), nullptr);
            changed = true;
        }
        if (changed) Compact(weg);
    } else {
        const std::string line = std::string(schluessel) + "=" + std::string(wert);
        std::size_t kopf = npos;
        for (std::size_t i = 0; i < zeilen_.size() && kopf == npos; ++i) {
            const TZeile& z = zeilen_[i];
            if (z.Art == TArt::Abschnitt &&
                EqualNoCase(std::string_view(z.Text).substr(z.NameAnfang, z.NameLaenge), abschnitt))
                kopf = i;
        }
        if (kopf != npos) {
            // After the section's last line that is neither blank nor a comment: comments
            // before the next header belong to that one.
            std::size_t at = kopf + 1;
            for (std::size_t i = kopf + 1; i < zeilen_.size() && zeilen_[i].Kopf == kopf; ++i)
                if (zeilen_[i].Art == TArt::Eintrag || zeilen_[i].Art == TArt::Fremd) at = i + 1;
            zeilen_.insert(zeilen_.begin() + static_cast<std::ptrdiff_t>(at), Classify(line, nullptr));
        } else {
            if (!zeilen_.empty() && zeilen_.back().Art != TArt::Leer) zeilen_.push_back(Classify("", nullptr));
            zeilen_.push_back(Classify(std::string("[").append(abschnitt).append("]"), nullptr));
            zeilen_.push_back(Classify(line, nullptr));
        }
        changed = true;
    }
    Link();
    geaendert_ = geaendert_ || changed;
    return changed;
}

bool TEinstellungen::Remove(std::string_view abschnitt, std::string_view schluessel) {
    std::vector<char> weg(zeilen_.size(), 0);
    std::vector<std::size_t> koepfe;
    bool changed = false;
    for (std::size_t i = 0; i < zeilen_.size(); ++i) {
        if (!IsKey(zeilen_[i], abschnitt, schluessel)) continue;
        weg[i] = 1;
        changed = true;
        if (zeilen_[i].Kopf != npos && (koepfe.empty() || koepfe.back() != zeilen_[i].Kopf))
            koepfe.push_back(zeilen_[i].Kopf);
    }
    if (!changed) return false;
    // A header left over nothing but blank lines goes with them; at the end of the file the
    // blank lines that set it off from the section before go too.
    bool amEnde = false;
    for (const std::size_t h : koepfe) {
        std::size_t end = h + 1;
        bool leer = true;
        for (; end < zeilen_.size() && zeilen_[end].Kopf == h; ++end)
            leer = leer && (weg[end] || zeilen_[end].Art == TArt::Leer);
        if (!leer) continue;
        std::fill(weg.begin() + static_cast<std::ptrdiff_t>(h), weg.begin() + static_cast<std::ptrdiff_t>(end), 1);
        amEnde = amEnde || end == zeilen_.size();
    }
    Compact(weg);
    if (amEnde)
        while (!zeilen_.empty() && zeilen_.back().Art == TArt::Leer) zeilen_.pop_back();
    Link();
    geaendert_ = true;
    return true;
}

void TEinstellungen::Compact(const std::vector<char>& weg) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < zeilen_.size(); ++i)
        if (!weg[i]) {
            if (n != i) zeilen_[n] = std::move(zeilen_[i]);
            ++n;
        }
    zeilen_.resize(n);
}

std::string TEinstellungen::Text() const {
    std::string out;
    std::size_t n = 0;
    for (const TZeile& z : zeilen_) n += z.Text.size() + 1;
    out.reserve(n);
    for (const TZeile& z : zeilen_) {
        out += z.Text;
        out += '\n';
    }
    return out;
}

void TEinstellungen::Save(const std::string& path, const TSchutz& schutz, bool ordnerAnlegen) const {
    WriteWholeFile(path, Text(), schutz, ordnerAnlegen);
}

// --- Keys -----------------------------------------------------------------------------------

std::optional<int> ParseSystem(std::string_view text) {
    // The short names are koord's, so the window, the settings and --ein read them alike.
    try {
        return ParseBezugssystem(text).Epsg;
    } catch (const EKoordFehler&) {
        return std::nullopt;
    }
}

bool IsNoSystem(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text.empty() || EqualNoCase(text, "keins");
}

std::string SystemText(int epsg) { return "EPSG:" + std::to_string(epsg); }

std::optional<int> ReadKachelSystem(const TEinstellungen& e, std::string* meldung) {
    const std::optional<TEinstellungen::TWert> w = e.Get(AbschnittKacheln, SchluesselSystem);
    if (!w || IsNoSystem(w->Text)) return std::nullopt;
    const std::optional<int> epsg = ParseSystem(w->Text);
    if (!epsg && meldung)
        *meldung = e.ZeilenMeldung(w->Zeile, std::string("Schl\xC3\xBCssel [") + AbschnittKacheln + "] " +
                                                 SchluesselSystem + ": \"" + Shown(w->Text) +
                                                 "\" ist kein Bezugssystem und gilt als nicht gesetzt (verstanden: " +
                                                 TextSystemFormen + ")");
    return epsg;
}

bool SetKachelSystem(TEinstellungen& e, std::optional<int> epsg) {
    if (!epsg) return e.Remove(AbschnittKacheln, SchluesselSystem);
    if (*epsg <= 0) throw std::invalid_argument("EPSG code not positive");
    return e.Set(AbschnittKacheln, SchluesselSystem, SystemText(*epsg));
}

std::optional<std::optional<double>> ParseNoData(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (EqualNoCase(text, TextKeinNoData)) return std::optional<double>();
    const std::optional<double> v = dezimal::ReadArgumentZahl(text);
    if (!v) return std::nullopt;
    return v;
}

std::string NoDataText(std::optional<double> wert) {
    if (!wert) return TextKeinNoData;
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, *wert);
    return std::string(buf, r.ptr);
}

std::optional<double> ReadNoData(const TEinstellungen& e, std::string* meldung) {
    const std::optional<TEinstellungen::TWert> w = e.Get(AbschnittKacheln, SchluesselNoData);
    if (!w) return StandardNoData;
    const std::optional<std::optional<double>> v = ParseNoData(w->Text);
    if (v) return *v;
    if (meldung)
        *meldung = e.ZeilenMeldung(w->Zeile, std::string("Schl\xC3\xBCssel [") + AbschnittKacheln + "] " +
                                                 SchluesselNoData + ": \"" + Shown(w->Text) +
                                                 "\" ist keine Zahl, es gilt " + NoDataText(StandardNoData) +
                                                 " (verstanden: eine Zahl mit \".\" oder \",\" als Dezimaltrenner, " +
                                                 TextKeinNoData + ")");
    return StandardNoData;
}

bool SetNoData(TEinstellungen& e, std::optional<double> wert) {
    if (wert && !std::isfinite(*wert)) throw std::invalid_argument("NoData value not finite");
    if (wert && *wert == StandardNoData) return e.Remove(AbschnittKacheln, SchluesselNoData);
    return e.Set(AbschnittKacheln, SchluesselNoData, NoDataText(wert));
}

void ReadKachelWerte(const TEinstellungen& e, TDateien& dateien, std::string* noDataMeldung,
                     std::vector<std::string>* ordnerMeldungen) {
    dateien.NoData = ReadNoData(e, noDataMeldung);
    dateien.System = ReadKachelSystem(e);
    ReadOrdnerOptionen(e, dateien.Ordner, ordnerMeldungen);
}

bool ReadUnterordner(const TEinstellungen& e, std::string* meldung) {
    const std::optional<TEinstellungen::TWert> w = e.Get(AbschnittOrdner, SchluesselUnterordner);
    if (!w || EqualNoCase(w->Text, "nein")) return false;
    if (EqualNoCase(w->Text, "ja")) return true;
    if (meldung)
        *meldung = e.ZeilenMeldung(w->Zeile, std::string("Schl\xC3\xBCssel [") + AbschnittOrdner + "] " +
                                                 SchluesselUnterordner + ": \"" + Shown(w->Text) +
                                                 "\" ist weder ja noch nein, es gilt nein");
    return false;
}

bool SetUnterordner(TEinstellungen& e, bool ja) {
    if (!ja) return e.Remove(AbschnittOrdner, SchluesselUnterordner);
    return e.Set(AbschnittOrdner, SchluesselUnterordner, "ja");
}

std::string ReadMuster(const TEinstellungen& e, std::string* meldung) {
    const std::optional<TEinstellungen::TWert> w = e.Get(AbschnittOrdner, SchluesselMuster);
    if (!w || w->Text.empty()) return {};
    const std::string fehler = CheckMuster(w->Text);
    if (fehler.empty()) return w->Text;
    if (meldung)
        *meldung = e.ZeilenMeldung(w->Zeile, std::string("Schl\xC3\xBCssel [") + AbschnittOrdner + "] " +
                                                 SchluesselMuster + ": \"" + Shown(w->Text) + "\" " +
                                                 "ist nicht verwendbar und gilt als nicht gesetzt (" + fehler + ")");
    return {};
}

bool SetMuster(TEinstellungen& e, const std::string& muster) {
    if (muster.empty()) return e.Remove(AbschnittOrdner, SchluesselMuster);
    const std::string fehler = CheckMuster(muster);
    if (!fehler.empty()) throw std::invalid_argument(fehler);
    return e.Set(AbschnittOrdner, SchluesselMuster, muster);
}

void ReadOrdnerOptionen(const TEinstellungen& e, TOrdnerOptionen& o, std::vector<std::string>* meldungen) {
    std::string m;
    o.Unterordner = ReadUnterordner(e, &m);
    if (!m.empty() && meldungen) meldungen->push_back(m);
    m.clear();
    o.Muster = ReadMuster(e, &m);
    if (!m.empty() && meldungen) meldungen->push_back(m);
}

std::string ReadFensterEingabe(const TEinstellungen& e) {
    const std::optional<TEinstellungen::TWert> w = e.Get(AbschnittFenster, SchluesselEingabe);
    return w ? w->Text : std::string();
}

bool SetFensterEingabe(TEinstellungen& e, const std::string& eingabe) {
    if (eingabe.empty()) return e.Remove(AbschnittFenster, SchluesselEingabe);
    return e.Set(AbschnittFenster, SchluesselEingabe, eingabe);
}

}  // namespace tervalo
