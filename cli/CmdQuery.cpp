// tervalo-cli query: one height query at X, Y over the catalogue, as the start button runs it.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "config/Konf.h"
#include "query/Query.h"
#include "query/AntwortJson.h"

namespace tervalo::cli {

namespace {

struct QueryOptions {
    double x = 0, y = 0;
    std::string konf;
    std::optional<double> fangbreite, potenz;
    bool json = false;
};

void PrintText(const THoehenAntwort& e, bool vollstaendig) {
    std::printf("%-4s %-30s %15s %16s\n", "Nr.", "Datei", "gelesene Zeilen", "gefilterte Werte");
    for (const TDateiZeile& r : e.Dateien) {
        std::printf("%-4d %-30s %15d %16d", r.Nr, r.Name.c_str(), r.Gelesen, r.Gefiltert);
        if (!r.Fehler.empty()) std::printf("  %s", r.Fehler.c_str());
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

    TAbfrageParameter p;
    p.X = o.x;
    p.Y = o.y;
    p.Fangbreite = o.fangbreite.value_or(settings.Fangbreite);
    p.Potenz = o.potenz.value_or(settings.Potenz);

    THoehenAbfrage q;
    std::string fehler;
    try {
        q.Run(kat, p);
    } catch (const std::exception& ex) {
        fehler = ex.what();
    }
    const THoehenAntwort& e = q.Ergebnis();
    if (o.json)
        std::cout << FormatJson(AntwortToJson(e, true)) << '\n';
    else
        PrintText(e, e.Beendet);
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
    AddZahl(cmd, "X", opts.x, "Rechtswert [m]")->required();
    AddZahl(cmd, "Y", opts.y, "Hochwert [m]")->required();
    cmd->add_option("--konf", opts.konf, KonfOptionHilfe)->type_name("DATEI");
    AddZahl(cmd, "--fangbreite", opts.fangbreite, "halbe Seite des Suchquadrats [m] (statt der Konfiguration)");
    AddZahl(cmd, "--potenz", opts.potenz, "Potenz f\xC3\xBCr die Wichtung nach Shepard (statt der Konfiguration)");
    cmd->add_flag("--json", opts.json, "Ausgabe als JSON");
    cmd->callback([] { RunCommand([] { return Run(opts); }); });
}

}  // namespace tervalo::cli
