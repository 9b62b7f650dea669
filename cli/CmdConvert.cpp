// tervalo-cli convert: a text point file into a dBase table or a plain XYZ file, a dBase table
// into an XYZ or CSV file, a raster into any of them; the direction follows the source's content.
#include <csignal>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "cli/LongRun.h"
#include "config/TYPEN.h"
#include "filemanager/Konvert.h"
#include "formats/PunktQuelle.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

struct ConvertArgs {
    std::string source, output, format;
    int level = 3;
    std::string konf;
};

class CliKonvertObserver : public TKonvertBeobachter {
public:
    explicit CliKonvertObserver(const InterruptGuard& g) : guard_(g) {}
    void Start(const std::string& name) override {
        target_ = name;
        started_ = true;
    }
    void Progress(const TKonvertFortschritt& p) override {
        progress_.Show("Ziel: " + target_ + "   Werte \xC3\xBC" "bernommen: " + std::to_string(p.Taken) +
                       "   Werte nicht \xC3\xBC" "bernommen: " + std::to_string(p.NotTaken));
    }
    bool CancelCheck() override { return guard_.Interrupted(); }
    // Ends the progress line; after a failure once the target was taken on, the log says so.
    void Finish(bool failed = false) {
        progress_.Clear();
        if (failed && started_) std::cout << "Fehler bei Konvertierung aufgetreten" << std::endl;
    }

private:
    const InterruptGuard& guard_;
    std::string target_;
    ProgressLine progress_;
    bool started_ = false;
};


int RunConvert(const ConvertArgs& a) {
    // The source first: its kind decides the direction, and a missing one is no text file.
    // It stays open for the conversion.
    TPunktQuelle quelle(a.source);
    try {
        CheckKonvertSource(quelle);
    } catch (const EKonvertQuelle& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    const bool fromDbase = quelle.IsDbase();
    // A name without a known extension takes what the source converts to by default.
    const TZielFormat ziel = ZielFormat(a.format, a.output, fromDbase ? TAusgabeFormat::Xyz : TAusgabeFormat::DBase);
    TAusgabe target;
    if (fromDbase) {
        if (ziel.Format == TAusgabeFormat::DBase) {
            std::cerr << "Eine dBase-Tabelle wird nur in eine Textdatei (xyz, csv) konvertiert.\n";
            return 2;
        }
        target = {ziel.Format, 3};
    } else if (quelle.IsRaster()) {
        target = {ziel.Format, ziel.Format == TAusgabeFormat::DBase ? a.level : 3};
    } else {
        if (ziel.Format == TAusgabeFormat::Csv) {
            std::cerr << "Eine Textdatei wird nur in eine dBase-Tabelle (dbf) oder eine XYZ-Datei (xyz) konvertiert.\n";
            return 2;
        }
        // Text to plain XYZ unpacks or normalises a tile.
        target = ziel.Format == TAusgabeFormat::Xyz ? TAusgabe{TAusgabeFormat::Xyz, 3} : TAusgabe{TAusgabeFormat::DBase, a.level};
    }
    // Neither a catalogued file nor the configuration may become the target.
    const TKonfCli k = LoadKonf(a.konf);
    const TSchutz schutz = ProtectedFiles(k.Dateien);
    TSchutz mitQuelle = schutz;
    mitQuelle.Quellen.push_back(a.source);
    if (!WarnAfterTargetCheck(a.output, mitQuelle, ziel.Warning.empty() ? std::vector<std::string>{}
                                                                         : std::vector<std::string>{ziel.Warning}))
        return 1;

    TLaufOptionen options;
    options.DecimalSeparator = DecimalSeparator();
    options.CancelKeepsOutput = false;  // a signal aborts: the target stays as it was
    // A file size limit fails the write like a full disk, so the run can clean up after itself.
    std::signal(SIGXFSZ, SIG_IGN);
    InterruptGuard guard;
    CliKonvertObserver observer(guard);
    TKonvertErgebnis r;
    try {
        // The heights that mean "no value" are the configuration's, as for every other run.
        quelle.SetNoData(k.Dateien.NoData);
        r = Konvertieren(quelle, a.output, target, options, schutz, observer);
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
    // A signal aborted the run: nothing was kept, so no counts either.
    if (r.Cancelled) {
        std::cout << "Konvertierung abgebrochen" << std::endl;
        return 128 + guard.Signal();
    }
    std::cout << "Werte \xC3\xBC" "bernommen: " << r.Counts.Taken << "\n"
              << "Werte nicht \xC3\xBC" "bernommen: " << r.Counts.NotTaken << "\n";
    return 0;
}

}  // namespace

void RegisterConvert(CLI::App& app) {
    auto a = std::make_shared<ConvertArgs>();
    CLI::App* sub = app.add_subcommand(
        "convert",
        "Textpunktdatei in eine dBase-Tabelle oder XYZ-Datei, dBase-Tabelle in eine Textdatei, Rasterdatei in "
        "eine XYZ-, CSV-Datei oder dBase-Tabelle umwandeln");
    sub->add_option("QUELLE", a->source, "Quelldatei (Text, dBase oder Raster, nach Inhalt)")->type_name("DATEI")->required();
    sub->add_option("ZIEL", a->output, "Zieldatei")->type_name("DATEI")->required();
    sub->add_option("--format", a->format, "Zielformat: xyz oder csv bei dBase-Quelle, dbf oder xyz bei Textquelle, alle drei bei Rasterquelle")
        ->check(Auswahl({"xyz", "csv", "dbf"}))
        ->type_name("FORMAT");
    sub->add_option("--level", a->level, "dBase-Version einer Zieltabelle")
        ->check(Auswahl({"3", "4", "7"}))
        ->type_name("VERSION");
    sub->add_option("--konf", a->konf,
                    "Konfigurationsdatei; sie und ihre Katalogdateien werden nie \xC3\xBC" "berschrieben "
                    "(Standard: tervalo.KNF neben dem Programm, installiert ~/.config/tervalo/tervalo.KNF)")
        ->type_name("DATEI");
    sub->callback([a] { RunCommand([a] { return RunConvert(*a); }); });
}

}  // namespace tervalo::cli
