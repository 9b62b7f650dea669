// tervalo-cli konf: the configuration as the program reads it at start-up, and edits of its
// catalogue as the file manager makes them.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/IndexFortschritt.h"
#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "filemanager/Extent.h"
#include "filemanager/Katalog.h"
#include "koord/Umrechnung.h"
#include "ordner/KachelMuster.h"
#include "ordner/Kacheln.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

// Stand-in for the main window's result grid: start widths and centred headings, every
// character estimated at 8 pixels (there is no window to measure with).
class EstimatedResultGrid : public TTextGitter {
public:
    EstimatedResultGrid() {
        const char* headings[] = {"Nr.", "X", "Y", "Z", "R"};
        for (int c = 0; c < 5; ++c) {
            cells_[c] = headings[c];
            CenterCell(*this, c, 0);
        }
    }
    int ColCount() const override { return 5; }
    int RowCount() const override { return 1; }
    void SetRowCount(int) override {}
    std::string Cell(int col, int) const override { return cells_[col]; }
    void SetCell(int col, int, const std::string& text) override { cells_[col] = text; }
    int ColWidth(int col) const override { return widths_[col]; }
    void SetColWidth(int col, int width) override { widths_[col] = width; }
    int TextWidth(std::string_view text) const override { return 8 * static_cast<int>(text.size()); }

private:
    std::string cells_[5];
    int widths_[5] = {30, 70, 70, 45, 41};
};

nlohmann::ordered_json Widths(const int32_t (&list)[11]) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (int32_t w : list) a.push_back(w);
    return a;
}

struct KonfOptions {
    std::string file;
    std::string save;
    bool json = false;
    std::vector<std::string> hinzufuegen;
    std::vector<int> entfernen;
    std::optional<std::string> system;  // as typed, checked by the option's validator
    std::string systemText;
    std::optional<std::optional<double>> noData;  // given: the value, or empty for "keiner"
    std::string noDataText;
    std::optional<bool> unterordner;
    std::string unterordnerText;
    std::optional<std::string> muster;  // given: the pattern, or empty for "keins"
    std::string musterText;
};

// The catalogue's values kept in the settings file.
struct KachelWerte {
    std::optional<int> system;
    std::optional<double> noData = StandardNoData;
    bool unterordner = false;
    std::string muster;
};

// The NoData height as the listing shows it: the user's decimal separator, or "keiner".
std::string NoDataAnzeige(std::optional<double> wert) {
    std::string s = NoDataText(wert);
    if (wert)
        for (char& c : s)
            if (c == '.') c = DecimalSeparator();
    return s;
}

// True when both paths name one file (same device and inode, or the same path resolved).
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return TSichereDatei::Resolve(a) == TSichereDatei::Resolve(b);
}

// The tiles' system and NoData height written into the settings file beside `ziel`: what
// --system and --nodata say, or, saved under another name, the values of the catalogue read
// (the copy holds the same tiles). Every other line of that file stays as it is; it is written
// only when this changes it.
class KachelZiel {
public:
    KachelZiel(const KonfOptions& o, const std::string& gelesen, TEinstellungen& quelle, const KachelWerte& werte)
        : ziel_(o.save.empty() ? gelesen : o.save), gelesen_(gelesen), neu_(werte) {
        const bool anderes = !o.save.empty() && !SameFile(o.save, gelesen);
        systemAendern_ = anderes || o.system;
        if (o.system) neu_.system = IsNoSystem(*o.system) ? std::nullopt : ParseSystem(*o.system);
        noDataAendern_ = anderes || o.noData;
        if (o.noData) neu_.noData = *o.noData;
        unterordnerAendern_ = anderes || o.unterordner;
        if (o.unterordner) neu_.unterordner = *o.unterordner;
        musterAendern_ = anderes || o.muster;
        if (o.muster) neu_.muster = *o.muster;
        // Read before anything is written: an unreadable file there stops the run unchanged.
        if (anderes) {
            eigene_.Load(EinstellungenFileFor(o.save));
            ein_ = &eigene_;
        } else {
            ein_ = &quelle;
        }
    }
    // The values the written catalogue has.
    KachelWerte Werte(const KachelWerte& gelesen) const {
        return {systemAendern_ ? neu_.system : gelesen.system, noDataAendern_ ? neu_.noData : gelesen.noData,
                unterordnerAendern_ ? neu_.unterordner : gelesen.unterordner,
                musterAendern_ ? neu_.muster : gelesen.muster};
    }
    void Write(const TDateien& dateien, bool ordnerAnlegen) {
        if ((!systemAendern_ && !noDataAendern_ && !unterordnerAendern_ && !musterAendern_) || geschrieben_) return;
        geschrieben_ = true;
        bool geaendert = systemAendern_ && SetKachelSystem(*ein_, neu_.system);
        geaendert = (noDataAendern_ && SetNoData(*ein_, neu_.noData)) || geaendert;
        geaendert = (unterordnerAendern_ && SetUnterordner(*ein_, neu_.unterordner)) || geaendert;
        geaendert = (musterAendern_ && SetMuster(*ein_, neu_.muster)) || geaendert;
        if (!geaendert) return;
        TSchutz schutz = ProtectedFiles(dateien);
        schutz.Quellen.push_back(gelesen_);
        schutz.Konfiguration = ziel_;
        ein_->Save(EinstellungenFileFor(ziel_), schutz, ordnerAnlegen);
    }

private:
    std::string ziel_, gelesen_;
    TEinstellungen eigene_;
    TEinstellungen* ein_ = nullptr;
    KachelWerte neu_;
    bool systemAendern_ = false;
    bool noDataAendern_ = false;
    bool unterordnerAendern_ = false;
    bool musterAendern_ = false;
    bool geschrieben_ = false;
};

// The path an added file keeps in the catalogue: absolute, for a bare name would mean the
// data folder. With "." or ".." in it the folder is resolved as the system resolves it (a ".."
// after a link leads out of the link's target); otherwise the path stays as typed.
std::string KatalogPfad(const std::string& typed) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p = fs::absolute(typed, ec);
    if (ec) return typed;
    bool punkte = false;
    for (const fs::path& teil : p) punkte = punkte || teil == "." || teil == "..";
    if (!punkte) return p.string();
    const fs::path name = p.filename();
    if (name.empty() || name == "." || name == "..") return p.lexically_normal().string();
    const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
    return ec ? p.lexically_normal().string() : (folder / name).string();
}

// The folder entries' indexes as this run finds them, each brought up to date once (with
// progress on stderr): their tile counts for the listing and their extents for the catalogue.
class OrdnerStaende {
public:
    struct Stand {
        bool Gelesen = false;  // the index could be opened and brought up to date
        bool Abgebrochen = false;
        std::string Fehler;     // why not, when not
        bool FehlerGezeigt = false;
        std::size_t Kacheln = 0;
        std::optional<TOrdnerIndex::TBox> Box;
    };
    explicit OrdnerStaende(bool abbrechbar) : fortschritt_(abbrechbar) {}

    Stand& Hole(const std::string& pfad, const TOrdnerOptionen& optionen) {
        auto it = staende_.find(pfad);
        if (it != staende_.end()) return it->second;
        Stand st;
        try {
            TOrdnerIndex index(pfad, optionen);
            fortschritt_.OrdnerBeginnt(pfad);
            const TOrdnerStand u = index.Update(&fortschritt_);
            fortschritt_.Fertig();
            std::cout.flush();
            for (const std::string& m : u.Meldungen) std::cerr << m << '\n';
            st.Gelesen = !u.Abgebrochen;
            st.Abgebrochen = u.Abgebrochen;
            st.Kacheln = index.Count();
            st.Box = index.Union();
        } catch (const std::exception&) {
            fortschritt_.Fertig();
            st.Fehler = "Ordner nicht lesbar: " + pfad;
        }
        if (st.Abgebrochen) st.Fehler = "Abgebrochen, der Index ist unvollst\xC3\xA4ndig: " + pfad;
        return staende_.emplace(pfad, st).first->second;
    }
    // Folder entries get the union of their tiles' extents (rounded outwards on saving), as
    // their index holds it now.
    void BoxenSetzen(TDateien& dateien) {
        for (int i = 1; i <= dateien.Eintraege(); ++i) {
            const auto k = static_cast<std::size_t>(i);
            if (!IsOrdnerEintrag(dateien.Datei[k])) continue;
            const Stand& st = Hole(dateien.Datei[k], dateien.Ordner);
            if (!st.Gelesen || !st.Box) continue;
            dateien.Xmin[k] = RoundKatalogWertAb(st.Box->Xmin);
            dateien.Xmax[k] = RoundKatalogWertAuf(st.Box->Xmax);
            dateien.Ymin[k] = RoundKatalogWertAb(st.Box->Ymin);
            dateien.Ymax[k] = RoundKatalogWertAuf(st.Box->Ymax);
        }
    }
    // The tile count of entry i when it is a folder whose index could be read.
    std::optional<std::size_t> Kacheln(const TDateien& dateien, int i) {
        const auto k = static_cast<std::size_t>(i);
        if (!IsOrdnerEintrag(dateien.Datei[k])) return std::nullopt;
        Stand& st = Hole(dateien.Datei[k], dateien.Ordner);
        if (!st.Fehler.empty() && !st.FehlerGezeigt) {
            st.FehlerGezeigt = true;
            std::cout.flush();
            std::cerr << st.Fehler << '\n';
        }
        if (!st.Gelesen && !st.Abgebrochen) return std::nullopt;
        return st.Kacheln;
    }

private:
    TIndexFortschritt fortschritt_;
    std::map<std::string, Stand> staende_;
};

// A folder to add: the whole path decides whether it is in the catalogue already. Its extent
// is the union of its tiles' in its index, built now.
bool OrdnerHinzufuegen(const std::string& pfad, TKatalog& katalog, OrdnerStaende& staende,
                       const TOrdnerOptionen& optionen, const std::function<void(const std::string&)>& nicht) {
    if (katalog.ContainsOrdner(pfad)) {
        nicht("Ordner: " + pfad + " schon vorhanden!");
        return false;
    }
    const OrdnerStaende::Stand& st = staende.Hole(pfad, optionen);
    if (!st.Gelesen) {
        nicht(st.Fehler);
        nicht("Nicht aufgenommen: " + pfad);
        return false;
    }
    TKatalogZeile z{pfad};
    z.IstOrdner = true;
    z.Kacheln = st.Kacheln;
    if (st.Box) {
        z.Xmin = st.Box->Xmin;
        z.Xmax = st.Box->Xmax;
        z.Ymin = st.Box->Ymin;
        z.Ymax = st.Box->Ymax;
    } else {
        const TExtremwerte leer;
        z.Xmin = leer.Xmin;
        z.Xmax = leer.Xmax;
        z.Ymin = leer.Ymin;
        z.Ymax = leer.Ymax;
        std::cerr << "Warnung: keine Kacheln, aufgenommen mit den Anfangswerten als Ausdehnung: " << pfad << '\n';
    }
    katalog.InsertAt(katalog.Rows() + 1, std::move(z));
    return true;
}

// Removes the entries by their numbers in the listing, then appends the files as the file
// manager adds them: a name not OK, a name already in the list, a full list and a file that
// cannot be scanned are reported on stderr and passed over; a file without points keeps the
// start values. A number outside the listing throws before anything changes. Returns whether
// the catalogue changed; `alle` tells whether every file was added.
bool Bearbeite(const KonfOptions& o, const std::string& konfDatei, TDateien& dateien, OrdnerStaende& staende,
               bool& alle) {
    const int n = dateien.Eintraege();
    std::vector<int> weg = o.entfernen;
    for (int nr : weg)
        if (nr < 1 || nr > n)
            throw std::runtime_error("Kein Katalogeintrag mit der Nummer " + std::to_string(nr) +
                                     (n == 0 ? std::string(" (der Katalog ist leer)")
                                             : " (Nummern 1 bis " + std::to_string(n) + ")") +
                                     ": " + konfDatei);
    TKatalog katalog = TKatalog::FromDateien(dateien);
    // From the back, so the numbers still name the rows of the listing.
    std::sort(weg.begin(), weg.end());
    weg.erase(std::unique(weg.begin(), weg.end()), weg.end());
    for (auto it = weg.rbegin(); it != weg.rend(); ++it) katalog.Remove(*it);
    bool geaendert = !weg.empty();

    alle = true;
    bool voll = false;
    auto nicht = [&](const std::string& meldung) {
        std::cerr << meldung << '\n';
        alle = false;
    };
    for (const std::string& typed : o.hinzufuegen) {
        std::string pfad = KatalogPfad(typed);
        const bool ordner = IsOrdnerEintrag(pfad);
        // A folder is stored without a "/" at its end, like a file.
        while (ordner && pfad.size() > 1 && pfad.back() == '/') pfad.pop_back();
        const std::string name = FileNamePart(pfad);
        if (voll) {
            nicht("Nicht aufgenommen: " + pfad);
            continue;
        }
        if (!IsValidFileName(pfad)) {
            nicht("Dateiname nicht OK: " + name);
            continue;
        }
        if (ordner && !katalog.Full()) {
            geaendert = OrdnerHinzufuegen(pfad, katalog, staende, dateien.Ordner, nicht) || geaendert;
            continue;
        }
        if (!ordner && katalog.ContainsName(name)) {
            nicht("Datei: " + name + " schon vorhanden!");
            continue;
        }
        // The catalogue holds 250 entries; this file and the ones after it stay out.
        if (katalog.Full()) {
            nicht("Die Liste ist voll: h\xC3\xB6" "chstens " + std::to_string(MaxDateien) + " Dateien!");
            nicht("Nicht aufgenommen: " + pfad);
            voll = true;
            continue;
        }
        TExtremwerte e;
        try {
            e = ReadExtremwerte(pfad, dateien.System);
        } catch (const std::exception& ex) {
            nicht(ReadErrorMessage(ex, pfad));
            continue;
        }
        // The file list cannot choose a missing file; here it is a mistyped name.
        if (!e.Opened) {
            nicht(NamePath(e.OpenError, pfad));
            continue;
        }
        if (!e.Found)
            std::cerr << "Warnung: keine Punkte, aufgenommen mit den Anfangswerten als Ausdehnung: " << pfad << '\n';
        // A raster in another system is taken all the same: its points answer as they are.
        if (!e.Hinweis.empty()) std::cerr << "Hinweis: " << e.Hinweis << ": " << pfad << '\n';
        katalog.InsertAt(katalog.Rows() + 1, {pfad, e.Xmin, e.Xmax, e.Ymin, e.Ymax});
        geaendert = true;
    }
    katalog.ToDateien(dateien);
    staende.BoxenSetzen(dateien);
    return geaendert;
}

int Run(const KonfOptions& o) {
    EstimatedResultGrid grid;
    TGitterZugriff hooks = GitterZugriffFor(grid);
    // Saved over the file it names, a missing configuration is made from the initial values.
    TKonfCli k = LoadKonf(o.file, &hooks, !o.file.empty() && !o.save.empty() && SameFile(o.save, o.file));
    const std::string& path = k.Dateien.KonfDatei;
    TSettings& settings = k.Settings;
    const TDateien& dateien = k.Dateien;

    for (const std::string& m : k.Einstellungen.Meldungen()) std::cerr << m << '\n';
    std::string meldung;
    // LoadKonf has already warned about an unreadable NoData value.
    const KachelWerte gelesenAlle{ReadKachelSystem(k.Einstellungen, &meldung), k.Dateien.NoData,
                                  k.Dateien.Ordner.Unterordner, k.Dateien.Ordner.Muster};
    if (!meldung.empty()) std::cerr << meldung << '\n';
    KachelZiel system(o, path, k.Einstellungen, gelesenAlle);
    const bool ordnerAnlegen = o.file.empty() && o.save.empty() && k.Orte.Installiert;
    // Folders added and listed are indexed with the options this run leaves behind.
    {
        const KachelWerte w = system.Werte(gelesenAlle);
        k.Dateien.Ordner.Unterordner = w.unterordner;
        k.Dateien.Ordner.Muster = w.muster;
    }
    InterruptGuard unterbrechung;
    OrdnerStaende staende(true);

    // An edited catalogue is written before it is shown: the listing is the file's.
    const bool bearbeiten = !o.hinzufuegen.empty() || !o.entfernen.empty();
    int rc = 0;
    if (bearbeiten) {
        const std::string ziel = o.save.empty() ? path : o.save;
        if (k.NichtUeberschreiben() && SameFile(ziel, path))
            throw EZielAbgelehnt("Die Konfigurationsdatei enth\xC3\xA4lt mehr als " + std::to_string(MaxDateien) +
                                 " Dateieintr\xC3\xA4ge und wird nicht \xC3\xBC" "berschrieben: " + ziel);
        bool alle = true;
        TDateien neu = k.Dateien;
        const bool geaendert = Bearbeite(o, path, neu, staende, alle);
        if (geaendert || !o.save.empty()) {
            // The program's own file of an installed copy may still lack its folder.
            KonfSave(ziel, settings, neu, ordnerAnlegen);
            k.Dateien = neu;
            if (o.save.empty()) k.Gelesen.Vorhanden = true;
        }
        system.Write(neu, ordnerAnlegen);
        rc = alle ? 0 : 1;
    } else if (o.save.empty()) {
        // --system or --nodata alone: only the settings file is written.
        system.Write(dateien, ordnerAnlegen);
    }
    const KachelWerte werte = system.Werte(gelesenAlle);
    const std::optional<int>& gezeigt = werte.system;
    // The default height is not shown: listings of catalogues that never set it stay as they were.
    const bool noDataZeigen = werte.noData != std::optional<double>(StandardNoData);
    // Counted before anything is printed: an index built now shows its progress first.
    std::vector<std::optional<std::size_t>> kacheln(static_cast<std::size_t>(dateien.Eintraege()) + 1);
    for (int i = 1; i <= dateien.Eintraege(); ++i) kacheln[static_cast<std::size_t>(i)] = staende.Kacheln(dateien, i);

    if (o.json) {
        nlohmann::ordered_json j;  // keys in the documented order
        j["rasterabstand"] = settings.Rasterabstand;
        j["fangbreite"] = settings.Fangbreite;
        j["potenz"] = settings.Potenz;
        j["dbfversion"] = settings.DBFVersion;
        j["gridbreiten"] = Widths(settings.GridBreiten);
        j["dateigridbreiten"] = Widths(settings.DateiGridBreiten);
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (int i = 1; i <= dateien.Eintraege(); ++i) {
            const auto k = static_cast<std::size_t>(i);
            nlohmann::ordered_json e = {{"datei", dateien.Datei[k]},
                                        {"xmin", dateien.Xmin[k]},
                                        {"xmax", dateien.Xmax[k]},
                                        {"ymin", dateien.Ymin[k]},
                                        {"ymax", dateien.Ymax[k]}};
            if (const std::optional<std::size_t> n = kacheln[k]) {
                e["ordner"] = true;
                e["kacheln"] = *n;
            }
            list.push_back(std::move(e));
        }
        j["dateien"] = list;
        if (gezeigt) j["system"] = SystemText(*gezeigt);
        if (noDataZeigen) j["nodata"] = werte.noData ? nlohmann::ordered_json(*werte.noData) : nlohmann::ordered_json();
        if (werte.unterordner) j["unterordner"] = true;
        if (!werte.muster.empty()) j["muster"] = werte.muster;
        std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        std::cout << "Konfigurationsdatei: " << path << (k.Gelesen.Vorhanden ? "" : " (nicht vorhanden, Anfangswerte)")
                  << '\n'
                  << "Datenordner: " << k.Orte.DatenOrdner
                  << (k.Orte.Installiert ? " (installiertes Programm)" : " (neben dem Programm)") << '\n'
                  << (gezeigt ? "Bezugssystem der Kacheln: " + SystemText(*gezeigt) + "\n" : std::string())
                  << (noDataZeigen ? "NoData-H\xC3\xB6he der Kacheln: " + NoDataAnzeige(werte.noData) + "\n" : std::string())
                  << (werte.unterordner ? "Ordner mit Unterordnern: ja\n" : std::string())
                  << (werte.muster.empty() ? std::string() : "Namensmuster der Kacheln: " + werte.muster + "\n")
                  << KonfListing(settings, dateien, DecimalSeparator(),
                                 [&](int i) { return kacheln[static_cast<std::size_t>(i)]; });
    }

    if (!bearbeiten && !o.save.empty()) {
        // Written over itself, a file with surplus entries would lose them.
        if (k.NichtUeberschreiben() && SameFile(o.save, path))
            throw EZielAbgelehnt("Die Konfigurationsdatei enth\xC3\xA4lt mehr als " + std::to_string(MaxDateien) +
                                 " Dateieintr\xC3\xA4ge und wird nicht \xC3\xBC" "berschrieben: " + o.save);
        // The stored widths are written as read: the estimated grid is no real window.
        TDateien kopie = dateien;
        staende.BoxenSetzen(kopie);
        KonfSave(o.save, settings, kopie);
        system.Write(dateien, false);
    }
    return rc;
}

}  // namespace

void RegisterKonf(CLI::App& app) {
    static KonfOptions opts;
    auto* cmd = app.add_subcommand(
        "konf",
        "Konfiguration lesen wie beim Programmstart und ausgeben. Die Spaltenbreiten des "
        "Ergebnisgitters werden ohne Fenster mit 8 Pixeln je Zeichen der Spaltentitel geschätzt; "
        "sie wirken sich auf die Ausgabe nicht aus.");
    cmd->add_option("--konf", opts.file, KonfOptionHilfe)->type_name("DATEI");
    cmd->add_flag("--json", opts.json, "Ausgabe als JSON");
    cmd->add_option("--save", opts.save, "gelesene Konfiguration in diese Datei schreiben")->type_name("DATEI");
    cmd->add_option("--hinzufuegen", opts.hinzufuegen,
                    "Dateien mit ihrer Ausdehnung an den Katalog anh\xC3\xA4ngen wie der Dateimanager und die "
                    "Konfiguration schreiben (mit --save in jene Datei). Ein Ordner wird ein Eintrag f\xC3\xBCr "
                    "alle seine Kacheln (.xyz, .xyz.gz, .txt, .txt.gz, .asc, .dbf, .tif, .tiff); sein Index wird "
                    "dabei aufgebaut")
        ->type_name("DATEI|ORDNER");
    cmd->add_option("--entfernen", opts.entfernen,
                    "Eintr\xC3\xA4ge mit diesen Nummern der Auflistung vor dem Befehl aus dem Katalog entfernen und "
                    "die Konfiguration schreiben")
        ->type_name("NR");
    CLI::Option* system = cmd->add_option("--system", opts.systemText,
                    std::string("Bezugssystem der Kacheln des Katalogs in die Einstellungsdatei neben der "
                                "Konfiguration (K.ini neben K.KNF) schreiben, sonst bleibt alles, wie es ist; "
                                "keins entfernt es. Verstanden: ") +
                        TextSystemFormen + ". Mit --save geht es in die Einstellungsdatei jener Datei, die "
                                           "sonst das Bezugssystem der gelesenen erh\xC3\xA4lt")
        ->type_name("SYSTEM")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (!text.empty() && IsNoSystem(text)) return std::string();
                if (!text.empty() && ParseSystem(text)) {
                    // An EPSG code is asked of PROJ: only a 2D projected or geographic system it
                    // knows can be the tiles' system.
                    const TBezugssystem s = ParseBezugssystem(text);
                    if (s.Geprueft) return std::string();
                    try {
                        TUmrechnung(s).CheckSystem(s);
                        return std::string();
                    } catch (const EKoordFehler& e) {
                        return "\"" + text + "\": " + e.what();
                    }
                }
                return "\"" + text + "\" ist kein Bezugssystem (verstanden: " + TextSystemFormen + ", keins)";
            },
            ""));
    CLI::Option* noData =
        cmd->add_option("--nodata", opts.noDataText,
                        "NoData-H\xC3\xB6he der Kacheln des Katalogs in die Einstellungsdatei neben der Konfiguration "
                        "schreiben: ein Punkt mit genau dieser H\xC3\xB6he ist kein Punkt (Standard -9999); keiner "
                        "schaltet das aus. Die Zahl mit \".\" oder \",\" als Dezimaltrenner. Mit --save wie --system")
            ->type_name("WERT|keiner")
            ->check(CLI::Validator(
                [](std::string& text) -> std::string {
                    if (ParseNoData(text)) return std::string();
                    return "\"" + text + "\" ist keine NoData-H\xC3\xB6he (eine Zahl mit \".\" oder \",\" als "
                           "Dezimaltrenner, oder keiner)";
                },
                ""));
    CLI::Option* unterordner =
        cmd->add_option("--unterordner", opts.unterordnerText,
                        "ob Dateien in Unterordnern eines Ordner-Eintrags auch Kacheln sind (Standard nein), in die "
                        "Einstellungsdatei neben der Konfiguration schreiben. Mit --save wie --system")
            ->type_name("WAHL")
            ->check(Auswahl({"ja", "nein"}));
    CLI::Option* muster =
        cmd->add_option("--muster", opts.musterText,
                        "eigenes Namensmuster der Kacheln in Ordner-Eintr\xC3\xA4gen in die Einstellungsdatei neben "
                        "der Konfiguration schreiben; keins entfernt es. * steht f\xC3\xBCr beliebigen Text, ? f\xC3\xBCr "
                        "ein Zeichen, {Zone} zwei Ziffern, {Ost} drei Ziffern (Ost-km), {Nord} vier Ziffern (Nord-km), "
                        "{Groesse} die Kachelgr\xC3\xB6\xC3\x9F" "e in km (ohne: 1). Beispiel: dgm_{Ost}_{Nord}.xyz. Mit "
                        "--save wie --system")
            ->type_name("MUSTER|keins")
            ->check(CLI::Validator(
                [](std::string& text) -> std::string {
                    if (text == "keins") return std::string();
                    const std::string fehler = CheckMuster(text);
                    return fehler.empty() ? std::string() : "\"" + text + "\": " + fehler;
                },
                ""));
    cmd->callback([system, noData, unterordner, muster] {
        opts.system = system->count() ? std::optional<std::string>(opts.systemText) : std::nullopt;
        opts.noData = noData->count() ? ParseNoData(opts.noDataText) : std::nullopt;
        opts.unterordner = unterordner->count() ? std::optional<bool>(opts.unterordnerText == "ja") : std::nullopt;
        opts.muster = muster->count() ? std::optional<std::string>(opts.musterText == "keins" ? "" : opts.musterText)
                                      : std::nullopt;
        RunCommand([] { return Run(opts); });
    });
}

}  // namespace tervalo::cli
