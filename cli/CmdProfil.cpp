// tervalo-cli profil: heights along a line, sampled by step or count; each sample answered as
// a height query there would answer it, then a summary (length, extremes, ascent, descent).
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "cli/Commands.h"
#include "cli/Eingabe.h"
#include "cli/PunktZeilen.h"
#include "ordner/OrdnerIndex.h"
#include "query/Batch.h"
#include "query/Profil.h"
#include "query/ProfilJson.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

struct ProfilOptions {
    std::vector<std::string> ecken;  // X1 Y1 X2 Y2 ... as typed
    std::optional<double> schritt;
    std::optional<std::size_t> anzahl;
    std::string ein;
    std::string konf;
    std::string datei;  // vertices from this file ("-": standard input)
    std::size_t spalteX = 1, spalteY = 2;
    std::optional<double> fangbreite, potenz;
    bool csv = false, json = false;
};

// One vertex as typed: two texts, and the line it came from (0: the command line).
struct TEckeText {
    std::string A, B;
    long Zeile = 0;
};

// The vertices of --datei, read as batch reads points: columns chosen by --spalten, a first line
// of names passed over (said on stderr), blank lines skipped. A line that gives no vertex ends
// the run: a profile with a vertex missing would be another line. Empty with the message said.
std::optional<std::vector<TEckeText>> LiesEcken(const ProfilOptions& o, bool mitEin) {
    std::ifstream datei;
    std::istream* in = OeffneEingabe(o.datei, datei);
    if (!in) return std::nullopt;
    std::vector<TEckeText> out;
    std::string line;
    std::vector<std::string_view> spalten;
    long zeile = 0;
    bool kopfMoeglich = true;
    while (LiesZeile(*in, line)) {
        ++zeile;
        const std::string_view text = ZeilenText(line, zeile);
        if (NurLeer(text)) continue;
        Spalten(text, spalten);
        std::string warum, warumY;
        if (mitEin) {
            warum = SpaltenFehlerText(spalten, o.spalteX);
            warumY = SpaltenFehlerText(spalten, o.spalteY);
        } else {
            double v = 0;
            warum = SpaltenFehler(spalten, o.spalteX, v);
            warumY = SpaltenFehler(spalten, o.spalteY, v);
        }
        if (kopfMoeglich) {
            kopfMoeglich = false;
            const bool kopf = mitEin ? KeinWert(spalten, o.spalteX, TAchse::Breite) &&
                                           KeinWert(spalten, o.spalteY, TAchse::Laenge)
                                     : !warum.empty() && !warumY.empty();
            if (kopf) {
                std::cerr << "Zeile " << zeile << ": Kopfzeile \xC3\xBC" "bergangen: " << Zitat(text) << '\n';
                continue;
            }
        }
        if (warum.empty()) warum = warumY;
        if (!warum.empty()) {
            std::cerr << "Zeile " << zeile << ": " << warum << ": " << Zitat(text) << '\n';
            return std::nullopt;
        }
        if (out.size() == ProfilMaxEcken) {
            std::cerr << "Ein Profil hat h\xC3\xB6" "chstens " << ProfilMaxEcken << " Eckpunkte; Zeile " << zeile
                      << " w\xC3\xA4re einer mehr.\n";
            return std::nullopt;
        }
        out.push_back({std::string(spalten[o.spalteX - 1]), std::string(spalten[o.spalteY - 1]), zeile});
    }
    if (in->bad()) {
        std::cerr << NamePath("I/O-Fehler", o.datei == "-" ? std::string("Standardeingabe") : o.datei) << '\n';
        return std::nullopt;
    }
    return out;
}

int Run(const ProfilOptions& o) {
    if (o.schritt && o.anzahl) return UsageError("profil", "--schritt und --anzahl schlie\xC3\x9F" "en einander aus");
    if (o.csv && o.json) return UsageError("profil", "--csv und --json schlie\xC3\x9F" "en einander aus");
    if (!o.ecken.empty() && !o.datei.empty())
        return UsageError("profil", "Eckpunkte entweder als Argumente oder mit --datei angeben, nicht beides");
    if (o.ecken.size() % 2 != 0)
        return UsageError("profil", "Zu jedem Rechtswert geh\xC3\xB6rt ein Hochwert: " + std::to_string(o.ecken.size()) +
                                        " Werte angegeben");
    if (o.datei.empty() && o.ecken.size() < 4)
        return UsageError("profil", "Mindestens zwei Eckpunkte angeben: X1 Y1 X2 Y2 (oder --datei PUNKTE)");
    const TKonfCli k = LoadKonf(o.konf);
    const TSettings& settings = k.Settings;
    if (const int rc = CheckSearchOptions("profil", settings, o.fangbreite, o.potenz)) return rc;
    std::optional<TEinWahl> ein;
    if (const int rc = ReadEinWahl("profil", o.ein, k, ein)) return rc;

    std::vector<TEckeText> texte;
    if (!o.datei.empty()) {
        std::optional<std::vector<TEckeText>> gelesen = LiesEcken(o, ein.has_value());
        if (!gelesen) return 1;
        texte = std::move(*gelesen);
    } else {
        for (std::size_t i = 0; i + 1 < o.ecken.size(); i += 2) texte.push_back({o.ecken[i], o.ecken[i + 1], 0});
    }
    // The vertex a message names: its line in the file, or its place on the command line.
    auto welche = [](const TEckeText& t, std::size_t i) {
        return t.Zeile > 0 ? "Zeile " + std::to_string(t.Zeile) : "Eckpunkt " + std::to_string(i + 1);
    };
    std::vector<TXY> ecken;
    std::string verfahren;  // the operation's line, said once
    if (ein) {
        // Made only here: a profile without --ein creates no PROJ object.
        TUmrechnung umrechnung(ein->Kacheln);
        for (std::size_t i = 0; i < texte.size(); ++i) {
            try {
                const TUmrechnung::TErgebnis r = umrechnung.ConvertText(ein->Wahl, texte[i].A, texte[i].B);
                ecken.push_back({r.Punkt.X, r.Punkt.Y});
                if (i == 0) verfahren = VerfahrenZeile(r.Punkt, ein->Kacheln);
            } catch (const EKoordFehler& e) {
                std::cerr << welche(texte[i], i) << ": " << e.what() << ": " << Zitat(texte[i].A + " " + texte[i].B)
                          << '\n';
                return 2;
            }
        }
    } else {
        for (std::size_t i = 0; i < texte.size(); ++i) {
            const std::optional<double> x = ArgumentZahl(texte[i].A), y = ArgumentZahl(texte[i].B);
            if (!x || !y)
                return UsageError("profil", welche(texte[i], i) + ": " + (!x ? texte[i].A : texte[i].B) +
                                                " ist keine Zahl (Dezimaltrenner \".\" oder \",\")");
            ecken.push_back({*x, *y});
        }
    }

    const TAbtastung abtastung =
        o.anzahl ? TAbtastung::MitAnzahl(*o.anzahl) : TAbtastung::MitSchritt(o.schritt.value_or(settings.Rasterabstand));
    TProfilLinie linie;
    try {
        linie = SampleProfile(ecken, abtastung, KachelnGeographisch(k.Einstellungen));
    } catch (const EProfil& e) {
        std::cerr << e.what() << '\n';
        return 2;
    }

    TBatchAbfrage batch(k.Dateien, o.fangbreite.value_or(settings.Fangbreite), o.potenz.value_or(settings.Potenz));
    batch.SetMemoryBound(std::size_t{512} << 20);
    // The counts of the square only where they are written.
    batch.SetUmfang(o.json ? TUmfang::Voll : TUmfang::NaechsterUndShepard);
    const char sep = DecimalSeparator();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TFortschritt fortschritt(terminal, static_cast<long>(linie.Proben.size()), "Proben");
    int rc = 0;
    // A message on standard error after what stands on standard output, not behind the progress line.
    auto melde = [&](const std::string& m) {
        std::cout.flush();
        if (terminal) std::cerr << "\r\x1b[K";
        std::cerr << m << '\n';
    };
    if (!verfahren.empty() && !o.json && !o.csv) std::cout << verfahren << '\n';
    if (o.json)
        std::cout << "{\"proben\":[";
    else
        std::cout << (o.csv ? ProfilCsvKopf() : ProfilKopfText());
    TProfilSumme summe(linie.Laenge);
    std::string puffer;
    const bool fertig = AnswerProfile(
        batch, linie.Proben,
        [&](std::size_t i, const THoehenAntwort& a) {
            const TProbe& p = linie.Proben[i];
            summe.Add(p.Station, a);
            if (!a.Beendet) {
                rc = 1;
                melde("Station " + FormatResult(p.Station, sep) + ": " + a.Fehler);
            }
            if (o.json)
                puffer += (i > 0 ? "," : "") + FormatJson(ProbeToJson(p, a));
            else
                puffer += o.csv ? ProbeCsv(p, a, sep) : ProbeText(p, a, sep);
            if (puffer.size() >= (1 << 16)) {
                // Every tile that could not be read, before the samples it shaped.
                for (const std::string& m : batch.TakeMessages()) {
                    melde(m);
                    if (!IsIndexHinweis(m)) rc = 1;
                }
                std::cout << puffer;
                puffer.clear();
            }
        },
        [&](std::size_t n) { fortschritt.Zeige(static_cast<long>(n), batch.Lesungen()); },
        // Nobody reads on: standard output failed.
        [&] { return !std::cout; },
        // Windows as large as the batch's: the tiles of a window are read in parallel.
        o.json ? 12500 : 50000);
    for (const std::string& m : batch.TakeMessages()) {
        melde(m);
        if (!IsIndexHinweis(m)) rc = 1;
    }
    std::cout << puffer;
    fortschritt.Zeige(static_cast<long>(summe.Ergebnis().Proben), batch.Lesungen(), true);
    if (!fertig) return 1;
    if (o.json)
        std::cout << "],\"zusammenfassung\":" << FormatJson(ZusammenfassungToJson(summe.Ergebnis())) << "}\n";
    else if (!o.csv)
        std::cout << '\n' << ZusammenfassungText(summe.Ergebnis(), sep);
    std::cout.flush();
    return std::cout ? rc : 1;
}

}  // namespace

void RegisterProfil(CLI::App& app) {
    static ProfilOptions opts;
    auto* cmd = app.add_subcommand(
        "profil", "H\xC3\xB6henprofil entlang einer Linie: Proben je Schritt oder in fester Anzahl, mit Zusammenfassung");
    cmd->add_option("ECKEN", opts.ecken,
                    "Eckpunkte der Linie: X1 Y1 X2 Y2 [X3 Y3 ...] (mit --ein die Werte im Eingabesystem)")
        ->type_name("X Y");
    AddZahl(cmd, "--schritt", opts.schritt,
                            "Abstand der Proben entlang der Linie [m] (Standard: Rasterabstand der Konfiguration); "
                            "dazu jeder Eckpunkt und das Ende");
    cmd->add_option("--anzahl", opts.anzahl,
                                   "genau N Proben in gleichen Abst\xC3\xA4nden, vom Anfang bis zum Ende (N ab 2)")
                       ->check(CLI::Validator(
                           [](std::string& text) -> std::string {
                               std::size_t v = 0;
                               const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
                               if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v < 2 ||
                                   v > ProfilMaxProben)
                                   return "ganze Zahl von 2 bis " + std::to_string(ProfilMaxProben) + " erwartet: " + text;
                               return {};
                           },
                           ""))
                       ->type_name("N");
    cmd->add_option("--ein", opts.ein, std::string(EinOptionHilfe) + "; die Linie wird in den Kacheln abgetastet")
        ->type_name("SYSTEM");
    cmd->add_option("--datei", opts.datei,
                    "Eckpunkte aus einer Datei, je Zeile \"X Y\" wie bei batch (\"-\" f\xC3\xBCr die Standardeingabe)")
        ->type_name("PUNKTE");
    AddSpaltenOption(cmd, opts.spalteX, opts.spalteY);
    cmd->add_option("--konf", opts.konf, KonfOptionHilfe)->type_name("DATEI");
    AddZahl(cmd, "--fangbreite", opts.fangbreite, "halbe Seite des Suchquadrats [m] (statt der Konfiguration)");
    AddZahl(cmd, "--potenz", opts.potenz, "Potenz f\xC3\xBCr die Wichtung nach Shepard (statt der Konfiguration)");
    cmd->add_flag("--csv", opts.csv, "Ausgabe als CSV (\";\", Dezimaltrenner des Systems, CR LF)");
    cmd->add_flag("--json", opts.json, "Ausgabe als ein JSON-Objekt mit \"proben\" und \"zusammenfassung\"");
    cmd->callback([] { RunCommand([] { return Run(opts); }); });
}

}  // namespace tervalo::cli
