// tervalo-cli export: every catalogued point inside a window into one file, with the log
// the export window shows.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Eingabe.h"
#include "cli/LongRun.h"
#include "export/Export.h"
#include "tools/Errors.h"

namespace tervalo::cli {

namespace {

struct ExportArgs {
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    std::string output;
    std::string format;  // empty: from the target's name
    int level = 0;  // 0: the configured level
    std::string konf;
    std::string ein;  // input system of the bounds (--ein); empty: the tiles' system
};

class CliExportObserver : public TExportBeobachter {
public:
    explicit CliExportObserver(const InterruptGuard& g) : guard_(g) {}
    void Log(const std::string& line) override {
        progress_.Clear();
        std::cout << line << std::endl;
        logged_ = true;
    }
    void Counters(int32_t fileCount, int32_t total, int32_t duplicates) override {
        progress_.Show("exportierte Werte: " + OutWerteText(fileCount, total) +
                       "   doppelte Werte: " + std::to_string(duplicates));
    }
    // As the query shows it: on a terminal with counts, elsewhere the folder once.
    void Fortschritt(const std::string& text, std::size_t fertig, std::size_t gesamt) override {
        if (gesamt == 0) return;
        if (isatty(STDERR_FILENO) == 0) {
            if (text == gemeldet_) return;
            gemeldet_ = text;
            std::cout.flush();
            std::cerr << text << '\n';
            return;
        }
        progress_.Show(text + " (" + std::to_string(fertig) + " von " + std::to_string(gesamt) + " Kacheln)");
    }
    bool CancelCheck() override { return guard_.Interrupted(); }
    // Ends the progress line; after a failure of a run that had begun its log, the log says so.
    void Finish(bool failed = false) {
        progress_.Clear();
        if (failed && logged_) std::cout << "Fehler bei Konvertierung aufgetreten" << std::endl;
    }

private:
    const InterruptGuard& guard_;
    ProgressLine progress_;
    bool logged_ = false;
    std::string gemeldet_;  // the index text last written where no terminal is
};

// The target as the log shows it: absolute, without "." and "..". The folder is resolved as
// the system resolves it (a ".." after a link leads out of the link's target), so the file
// named is the file written.
std::string ZielPfad(const std::string& typed) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::absolute(typed, ec);
    if (ec) return typed;
    const fs::path name = p.filename();
    if (name.empty() || name == "." || name == "..") return p.lexically_normal().string();
    const fs::path folder = fs::weakly_canonical(p.parent_path(), ec);
    return ec ? p.lexically_normal().string() : (folder / name).string();
}

int RunExport(const ExportArgs& a) {
    const TKonfCli k = LoadKonf(a.konf);
    if (!k.Gelesen.Vorhanden) {
        std::cerr << "Konfigurationsdatei nicht gefunden: " << k.Dateien.KonfDatei << "\n";
        return 1;
    }
    const TSettings& settings = k.Settings;
    const TDateien& dateien = k.Dateien;
    std::optional<TEinWahl> ein;
    if (const int rc = ReadEinWahl("export", a.ein, k, ein)) return rc;
    TExportGrenzen fenster{a.xmin, a.xmax, a.ymin, a.ymax};
    std::vector<std::string> fensterLog;
    if (ein) {
        // The same window in the tiles' system, before anything is checked or written.
        if (ein->Wahl.Auto)
            return UsageError("export", "--ein auto: ein Fenster braucht ein genanntes System, etwa utm32 oder wgs84");
        if (a.xmin > a.xmax || a.ymin > a.ymax)
            return UsageError("export", "--ein: XMIN ist gr\xC3\xB6\xC3\x9F" "er als XMAX oder YMIN gr\xC3\xB6\xC3\x9F" "er als "
                                        "YMAX: ein solches Fenster l\xC3\xA4sst sich nicht umrechnen");
        TUmrechnung umrechnung(ein->Kacheln);
        try {
            const TBezugssystem s = umrechnung.CheckSystem(ein->Wahl.System);
            const TKachelFenster f = umrechnung.ConvertWindow(s, {a.xmin, a.xmax, a.ymin, a.ymax});
            fenster = {f.XMin, f.XMax, f.YMin, f.YMax};
            const char* na = s.Geographisch ? "Breite" : "X";
            const char* nb = s.Geographisch ? "L\xC3\xA4nge" : "Y";
            fensterLog.push_back("Fenster (" + ein->Text + "): " + na + " " + ZahlTextOrt(a.xmin) + " bis " +
                                 ZahlTextOrt(a.xmax) + ", " + nb + " " + ZahlTextOrt(a.ymin) + " bis " +
                                 ZahlTextOrt(a.ymax));
            fensterLog.push_back("Fenster der Kacheln (" + ein->Kacheln.Kanonisch + "): X " + ZahlTextOrt(f.XMin, 3) +
                                 " bis " + ZahlTextOrt(f.XMax, 3) + ", Y " + ZahlTextOrt(f.YMin, 3) + " bis " +
                                 ZahlTextOrt(f.YMax, 3));
            for (const TVerfahren* v : f.Verfahren) fensterLog.push_back(VerfahrenText(*v));
            if (f.Verfahren.empty())
                fensterLog.push_back(VerfahrenZeile(TUmgerechnet{}, ein->Kacheln));
        } catch (const EKoordFehler& e) {
            std::cerr << e.what() << '\n';
            return 2;
        }
    }

    int level = a.level != 0 ? a.level : settings.DBFVersion;
    if (level != 4 && level != 7) level = 3;
    std::string out = ZielPfad(a.output);
    const TZielFormat ziel = ZielFormat(a.format, out, TAusgabeFormat::Xyz);
    TAusgabe format{ziel.Format, level};
    std::vector<std::string> warnings;
    if (!ziel.Warning.empty()) warnings.push_back(ziel.Warning);
    // The run goes as described (no point written), but that is hardly what was meant.
    std::string vertauscht;
    if (a.xmin > a.xmax) vertauscht = "XMIN ist gr\xC3\xB6\xC3\x9F" "er als XMAX";
    if (a.ymin > a.ymax)
        vertauscht += (vertauscht.empty() ? "YMIN ist" : " und YMIN") + std::string(" gr\xC3\xB6\xC3\x9F" "er als YMAX");
    if (!vertauscht.empty()) warnings.push_back("Warnung: " + vertauscht + ": kein Punkt kann im Fenster liegen");
    const TSchutz schutz = ProtectedFiles(dateien);
    if (!WarnAfterTargetCheck(out, schutz, warnings)) return 1;
    for (const std::string& z : fensterLog) std::cout << z << '\n';
    TLaufOptionen options;
    options.DecimalSeparator = DecimalSeparator();
    options.CancelKeepsOutput = false;  // a signal aborts: the target stays as it was

    // A file size limit fails the write like a full disk, so the run can clean up after itself.
    std::signal(SIGXFSZ, SIG_IGN);
    InterruptGuard guard;
    CliExportObserver observer(guard);
    TExportErgebnis r;
    try {
        r = ExportRun(dateien, fenster, out, format, options, observer);
    } catch (const ESilentAbort& e) {
        if (!e.Detail().empty()) std::cerr << e.Detail() << "\n";
        observer.Finish(true);
        return 1;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        observer.Finish(true);
        return 1;
    }
    observer.Finish();
    // A signal aborted the run: its log ends with "Konvertierung abgebrochen".
    if (r.Cancelled) return 128 + guard.Signal();
    return r.Error ? 1 : 0;
}

}  // namespace

void RegisterExport(CLI::App& app) {
    auto a = std::make_shared<ExportArgs>();
    CLI::App* sub = app.add_subcommand(
        "export", "Alle Punkte der Katalogdateien in XMIN..XMAX, YMIN..YMAX in eine Datei exportieren, doppelte ausgelassen");
    AddZahl(sub, "XMIN", a->xmin, "untere X-Grenze [m]")->required();
    AddZahl(sub, "XMAX", a->xmax, "obere X-Grenze [m]")->required();
    AddZahl(sub, "YMIN", a->ymin, "untere Y-Grenze [m]")->required();
    AddZahl(sub, "YMAX", a->ymax, "obere Y-Grenze [m]")->required();
    sub->add_option("ZIEL", a->output, "Ausgabedatei")->type_name("DATEI")->required();
    sub->add_option("--format", a->format, "Ausgabeformat")
        ->check(Auswahl({"xyz", "csv", "dbf"}))
        ->type_name("FORMAT");
    sub->add_option("--level", a->level, "dBase-Version (Standard: die der Konfiguration)")
        ->check(Auswahl({"3", "4", "7"}))
        ->type_name("VERSION");
    sub->add_option("--konf", a->konf, KonfOptionHilfe)->type_name("DATEI");
    sub->add_option("--ein", a->ein,
                    std::string(EinOptionHilfe) +
                        ". Die Grenzen sind dann Zahlen im Eingabesystem, bei wgs84/etrs89 XMIN XMAX die Breiten "
                        "(S\xC3\xBC" "d, Nord) und YMIN YMAX die L\xC3\xA4ngen (West, Ost) in Grad; exportiert wird das "
                        "kleinste Fenster der Kacheln, das dieses Fenster enth\xC3\xA4lt")
        ->type_name("SYSTEM");
    sub->callback([a] { RunCommand([a] { return RunExport(*a); }); });
}

}  // namespace tervalo::cli
