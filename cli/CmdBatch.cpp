// tervalo-cli batch: heights for many points, one "X Y" per input line. Every catalogued file
// is read at most once; each answer equals that of `query` at the same point.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "config/Konf.h"
#include "query/Batch.h"
#include "cli/QueryJson.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

struct BatchOptions {
    std::string input = "-";
    std::string konf;
    std::optional<double> fangbreite, potenz;
    bool json = false;
};

// One input line without its LF: at most its first LinePrefixBytes bytes, the rest passed
// over, so a line without end costs no memory. False at the end of the input.
bool LiesZeile(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* sb = in.rdbuf();
    bool etwas = false;
    for (;;) {
        const int c = sb->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return etwas;
        }
        etwas = true;
        if (c == '\n') return true;
        if (line.size() < LinePrefixBytes) line.push_back(static_cast<char>(c));
    }
}

// Two numbers separated by blanks, tabs or ";"; a decimal comma reads like a point.
bool ZweiZahlen(const std::string& line, double& x, double& y) {
    std::vector<std::string> teile;
    std::string teil;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == ';' || c == '\r') {
            if (!teil.empty()) teile.push_back(teil);
            teil.clear();
            if (teile.size() > 2) return false;
        } else {
            teil += c == ',' ? '.' : c;
        }
    }
    if (!teil.empty()) teile.push_back(teil);
    if (teile.size() != 2) return false;
    double* ziel[2] = {&x, &y};
    for (int k = 0; k < 2; ++k) {
        const std::string& t = teile[static_cast<std::size_t>(k)];
        const char* b = t.data() + (t[0] == '+' ? 1 : 0);
        auto r = std::from_chars(b, t.data() + t.size(), *ziel[k]);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(*ziel[k])) return false;
    }
    return true;
}

std::string Zahl(double v, char sep) { return FormatErgebnis(v, sep); }

int Run(const BatchOptions& o) {
    const TKonfCli k = LoadKonf(o.konf);
    const TSettings& settings = k.Settings;
    const TDateien& kat = k.Dateien;
    const double d = o.fangbreite.value_or(settings.Fangbreite);
    const double potenz = o.potenz.value_or(settings.Potenz);
    const char sep = DecimalSeparator();

    std::ifstream datei;
    std::istream* in = &std::cin;
    if (o.input != "-") {
        errno = 0;
        datei.open(o.input, std::ios::binary);
        if (!datei) {
            std::cerr << NamePath(errno != 0 ? ErrnoText(errno) : std::string("I/O-Fehler"), o.input) << '\n';
            return 1;
        }
        in = &datei;
    }

    TBatchAbfrage batch(kat, d, potenz);
    TBatchAntwort a;
    int rc = 0;
    if (!o.json) std::cout << "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n";
    std::string line;
    // Stops when standard output fails (its reader went away): nobody reads the answers.
    for (long nr = 1; std::cout && LiesZeile(*in, line); ++nr) {
        double x = 0, y = 0;
        if (!ZweiZahlen(line, x, y)) {
            rc = 1;
            const std::string text = "Fehler in Zeile: " + std::to_string(nr);
            if (o.json) {
                QJson j;
                j["zeile"] = nr;
                j["fehler"] = text;
                std::cout << JsonText(j) << '\n';
            } else {
                std::cout << text << '\n';
            }
            continue;
        }
        batch.Frage(x, y, a);
        // Every tile that could not be opened or read, once, before the first answer it
        // shaped; the run still answers every point and ends with exit code 1.
        for (const std::string& m : batch.NeueMeldungen()) {
            std::cout.flush();
            std::cerr << m << '\n';
            rc = 1;
        }
        if (!a.Beendet) rc = 1;
        if (o.json) {
            std::cout << JsonText(BatchJson(a, d, potenz)) << '\n';
            continue;
        }
        std::cout << Zahl(x, sep) << '\t' << Zahl(y, sep) << '\t';
        if (!a.Beendet) {
            std::cout << a.Fehler << '\n';
            continue;
        }
        if (a.Berechnet && a.HatNaechster)
            std::cout << Zahl(a.NR, sep) << '\t' << Zahl(a.NZ, sep) << '\t';
        else
            std::cout << TextKeinWert << '\t' << TextKeinWert << '\t';
        if (a.Berechnet)
            std::cout << a.ShepardN << '\t' << Zahl(a.ShepardZ, sep) << '\n';
        else
            std::cout << TextKeineAnzahl << '\t' << TextKeinWert << '\n';
    }
    return rc;
}

}  // namespace

void RegisterBatch(CLI::App& app) {
    static BatchOptions opts;
    auto* cmd = app.add_subcommand(
        "batch", "H\xC3\xB6hen f\xC3\xBCr viele Punkte: je Zeile \"X Y\" (Trenner: Leerzeichen, Tabulator oder \";\")");
    cmd->add_option("DATEI", opts.input, "Eingabedatei, \"-\" f\xC3\xBCr die Standardeingabe (Standard)");
    cmd->add_option("--konf", opts.konf, "Konfigurationsdatei (Standard: tervalo.KNF neben dem Programm)");
    AddZahl(cmd, "--fangbreite", opts.fangbreite, "halbe Seite des Suchquadrats [m] (statt der Konfiguration)");
    AddZahl(cmd, "--potenz", opts.potenz, "Potenz f\xC3\xBCr die Wichtung nach Shepard (statt der Konfiguration)");
    cmd->add_flag("--json", opts.json, "je Punkt eine Zeile JSON");
    cmd->callback([] { RunCommand([] { return Run(opts); }); });
}

}  // namespace tervalo::cli
