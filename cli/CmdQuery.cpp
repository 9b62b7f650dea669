// tervalo-cli query: one height query at X, Y over the catalogue, as the start button runs it.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "cli/Commands.h"
#include "cli/Eingabe.h"
#include "cli/IndexFortschritt.h"
#include "config/Konf.h"
#include "query/Query.h"
#include "query/AntwortJson.h"

namespace tervalo::cli {

namespace {

struct QueryOptions {
    double x = 0, y = 0;
    // As typed: numbers without --ein, any form of the input system with it.
    std::string xText, yText;
    std::string ein;
    std::string konf;
    std::optional<double> fangbreite, potenz;
    bool json = false;
};

void PrintText(const THoehenAntwort& e, bool vollstaendig, const std::vector<std::string>& kopf) {
    for (const std::string& z : kopf) std::printf("%s\n", z.c_str());
    std::printf("%-4s %-30s %15s %16s\n", "Nr.", "Datei", "gelesene Zeilen", "gefilterte Werte");
    for (const TDateiZeile& r : e.Dateien) {
        std::printf("%-4d %-30s %15d %16d", r.Nr, r.Name.c_str(), r.Gelesen, r.Gefiltert);
        if (!r.Fehler.empty()) std::printf("  %s", r.Fehler.c_str());
        if (!r.Hinweis.empty()) std::printf("  %s", r.Hinweis.c_str());
        std::printf("\n");
    }
    std::printf("Datei: %s\n", e.LB_DateiVoll.c_str());
    if (!vollstaendig) return;
    const TFensterTexte t = BuildFensterTexte(e, DecimalSeparator());
    std::printf("Abstand n\xC3\xA4" "chster Gridpunkt: %s [m]\n", t.LB_nextPointR.c_str());
    std::printf("mit H\xC3\xB6he: %s [mNN]\n", t.LB_nextPointZ.c_str());
    std::printf("Extrapolation mit n\xC3\xA4" "chsten %s Rasterpunkten\n", t.LB_ExtrapolnPoints.c_str());
    std::printf("Extrapolierte H\xC3\xB6he: %s [mNN]\n", t.LB_ExtrapolPointZ.c_str());
    std::printf("%4s  %10s  %10s  %7s  %6s\n", "Nr.", "X", "Y", "Z", "R");
    for (int r = 0; r < RanglisteGroesse; ++r) {
        const auto& z = t.Grid[static_cast<std::size_t>(r)];
        if (z[0].empty())
            std::printf("%4d\n", r + 1);
        else
            std::printf("%4d  %10s  %10s  %7s  %6s\n", r + 1, z[0].c_str(), z[1].c_str(), z[2].c_str(), z[3].c_str());
    }
}

int Run(const QueryOptions& o) {
    const TKonfCli k = LoadKonf(o.konf);
    const TSettings& settings = k.Settings;
    const TDateien& kat = k.Dateien;
    if (const int rc = CheckSearchOptions("query", settings, o.fangbreite, o.potenz)) return rc;
    std::optional<TEinWahl> ein;
    if (const int rc = ReadEinWahl("query", o.ein, k, ein)) return rc;

    TAbfrageParameter p;
    p.X = o.x;
    p.Y = o.y;
    std::vector<std::string> kopf;
    std::optional<TEingabeJson> eingabeJson;
    if (ein) {
        // Made only here: a query without --ein creates no PROJ object.
        TUmrechnung umrechnung(ein->Kacheln);
        try {
            TZweiTexte t{o.xText, o.yText};
            if (o.yText.empty()) t = SplitKoordinate(o.xText);
            const TUmrechnung::TErgebnis r = umrechnung.ConvertText(ein->Wahl, t.A, t.B);
            p.X = r.Punkt.X;
            p.Y = r.Punkt.Y;
            kopf.push_back(EingabeZeile(*ein, r.Eingabe, t.A, t.B, p.X, p.Y));
            kopf.push_back(VerfahrenZeile(r.Punkt, ein->Kacheln));
            eingabeJson = EingabeJson(r.Eingabe, r.Werte, r.Punkt);
        } catch (const EKoordFehler& ex) {
            std::cout.flush();
            std::cerr << ex.what() << '\n';
            return 2;
        }
    }
    p.Fangbreite = o.fangbreite.value_or(settings.Fangbreite);
    p.Potenz = o.potenz.value_or(settings.Potenz);

    // A folder's index may have to be built first: its progress on stderr.
    struct Beobachter : TAbfrageBeobachter {
        TIndexFortschritt index;
        TOrdnerBeobachter* OrdnerBeobachter() override { return &index; }
    } beob;
    THoehenAbfrage q;
    std::string fehler;
    try {
        q.Run(kat, p, &beob);
    } catch (const std::exception& ex) {
        fehler = ex.what();
    }
    beob.index.Fertig();
    const THoehenAntwort& e = q.Ergebnis();
    // The indexes' messages (a tile that lies about its extent, one that cannot be read)
    // before the answer, which may name such a tile.
    if (!e.Meldungen.empty()) {
        std::cout.flush();
        for (const std::string& m : e.Meldungen) std::cerr << m << '\n';
    }
    if (o.json)
        std::cout << FormatJson(AntwortToJson(e, true, nullptr, eingabeJson ? &*eingabeJson : nullptr)) << '\n';
    else
        PrintText(e, e.Beendet, kopf);
    std::cout.flush();
    std::fflush(stdout);
    if (!e.Beendet) {
        // The result's text names the file (a silent abort's detail included).
        std::cerr << (e.Fehler.empty() ? fehler : e.Fehler) << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

void RegisterQuery(CLI::App& app) {
    static QueryOptions opts;
    auto* cmd = app.add_subcommand(
        "query", "H\xC3\xB6he an einem Punkt ermitteln (n\xC3\xA4" "chster Gridpunkt und Extrapolation nach Shepard)");
    // Read as texts: with --ein they take degree forms and one argument may hold both numbers.
    cmd->add_option("X", opts.xText, "Rechtswert [m]")
        ->required()
        ->type_name("ZAHL");
    cmd->add_option("Y", opts.yText, "Hochwert [m] (Pflicht ohne --ein)")
        ->type_name("ZAHL");
    cmd->add_option("--ein", opts.ein,
                    std::string(EinOptionHilfe) +
                        ". X und Y sind dann die beiden Werte im Eingabesystem, oder X allein h\xC3\xA4lt beide "
                        "(\"51.50000, 7.50000\")")->type_name("SYSTEM");
    cmd->add_option("--konf", opts.konf, KonfOptionHilfe)->type_name("DATEI");
    AddZahl(cmd, "--fangbreite", opts.fangbreite, "halbe Seite des Suchquadrats [m] (statt der Konfiguration)");
    AddZahl(cmd, "--potenz", opts.potenz, "Potenz f\xC3\xBCr die Wichtung nach Shepard (statt der Konfiguration)");
    cmd->add_flag("--json", opts.json, "Ausgabe als JSON");
    cmd->callback([] {
        if (opts.ein.empty()) {
            // Without --ein both are plain numbers, checked as every number argument is.
            for (auto [name, text, ziel] : {std::tuple{"X", &opts.xText, &opts.x}, std::tuple{"Y", &opts.yText, &opts.y}}) {
                if (text->empty() && std::string_view(name) == "Y") throw CLI::RequiredError(name);
                const std::optional<double> v = ArgumentZahl(*text);
                if (!v) throw CLI::ValidationError(name, *text + " ist keine Zahl (Dezimaltrenner \".\" oder \",\")");
                *ziel = *v;
            }
        }
        RunCommand([] { return Run(opts); });
    });
}

}  // namespace tervalo::cli
