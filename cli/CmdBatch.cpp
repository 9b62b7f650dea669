// tervalo-cli batch: heights for many points, one point per input line (its coordinate columns
// chosen by --spalten). Each answer equals that of `query` at the same point. The points are
// answered in windows, grouped by the tiles they need, so that a tile let go of for the memory
// bound is read again as seldom as possible; the answers still come out in input order,
// window by window.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "cli/Eingabe.h"
#include "cli/PunktZeilen.h"
#include "koord/Winkel.h"
#include "config/Konf.h"
#include "ordner/OrdnerIndex.h"
#include "query/Batch.h"
#include "query/AntwortJson.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

struct BatchOptions {
    std::string input = "-";
    std::string konf;
    std::optional<double> fangbreite, potenz;
    bool json = false;
    long speicherMiB = 512;  // loaded tile points kept at most
    std::size_t spalteX = 1, spalteY = 2;  // coordinate columns, counted from 1
    std::size_t spalteId = 0;              // passed through as the first output column (0: none)
    std::string ein;                       // input system (--ein); empty: the tiles' numbers
};

// Input points answered together; their answers are held until the window is written.
constexpr std::size_t kFenster = 50000;

std::string Zahl(double v, char sep) { return FormatResult(v, sep); }

// Whether reading standard input would not wait: lines in the stream's buffer, or bytes (or
// the end) at the descriptor.
bool EingabeBereit(std::istream& in) {
    if (in.rdbuf()->in_avail() > 0) return true;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// One answer as written: a tab-separated line, or a JSON line; `id` the passed-through column
// (null without --id).
std::string AntwortText(const THoehenAntwort& a, bool json, char sep, const std::string* id) {
    if (json) return FormatJson(AntwortToJson(a, false, id)) + '\n';
    std::string z = id ? *id + '\t' : std::string();
    z += Zahl(a.X, sep) + '\t' + Zahl(a.Y, sep) + '\t';
    if (!a.Beendet) return z + a.Fehler + '\n';
    if (a.Berechnet && a.HatNaechster)
        z += Zahl(a.Naechster.R, sep) + '\t' + Zahl(a.Naechster.Z, sep) + '\t';
    else
        z += std::string(TextKeinWert) + '\t' + TextKeinWert + '\t';
    // No point within the Shepard radius: no height, rather than a 0.00 that reads like one.
    if (a.Berechnet)
        z += std::to_string(a.ShepardN) + '\t' + (a.ShepardN > 0 ? Zahl(a.ShepardZ, sep) : TextKeinWert) + '\n';
    else
        z += std::string(TextKeineAnzahl) + '\t' + TextKeinWert + '\n';
    return z;
}

int Run(const BatchOptions& o) {
    const TKonfCli k = LoadKonf(o.konf);
    const TSettings& settings = k.Settings;
    const TDateien& kat = k.Dateien;
    if (const int rc = CheckSearchOptions("batch", settings, o.fangbreite, o.potenz)) return rc;
    const double d = o.fangbreite.value_or(settings.Fangbreite);
    const double potenz = o.potenz.value_or(settings.Potenz);
    const char sep = DecimalSeparator();
    std::optional<TEinWahl> ein;
    if (const int rc = ReadEinWahl("batch", o.ein, k, ein)) return rc;
    // One converter per thread, made on the first window that needs them (none without --ein).
    std::vector<std::unique_ptr<TUmrechnung>> umrechner;

    std::ifstream datei;
    // Its own buffer for standard input, so a window can tell whether more lines wait there.
    std::ios::sync_with_stdio(false);
    std::istream* in = OeffneEingabe(o.input, datei);
    if (!in) return 1;

    TBatchAbfrage batch(kat, d, potenz);
    batch.SetMemoryBound(static_cast<std::size_t>(o.speicherMiB) << 20);
    int rc = 0;
    const bool mitId = o.spalteId > 0;
    if (!o.json)
        std::cout << (mitId ? "Id\t" : "") << (ein ? "Eingabe 1\tEingabe 2\t" : "")
                  << "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n";

    struct TPosten {
        long zeile = 0;     // in the input, counted from 1
        std::string warum;  // why the line gives no point; empty when it gives one
        std::string id;     // the --id column
        std::string text;   // the answer, as written
        // --ein: the two columns as typed and what they converted to.
        std::string a, b;
        std::optional<TUmrechnung::TErgebnis> umgerechnet;
    };
    struct TFenster {
        std::vector<TPosten> posten;
        std::vector<TBatchPunkt> punkte;
        std::vector<std::size_t> zuPosten;  // slot of each point
    };
    TFenster fenster, naechstes;
    std::string line;
    std::vector<std::string_view> spalten;
    long zeilen = 0;          // input lines read
    bool kopfMoeglich = true;  // until the first line that is not blank
    long nr = 0;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    // A message on standard error, after the answers before it and not behind the progress line.
    auto melde = [&](const std::string& m) {
        std::cout.flush();
        if (terminal) std::cerr << "\r\x1b[K";
        std::cerr << m << '\n';
    };
    TFortschritt fortschritt(terminal, terminal && o.input != "-" ? ZeilenInDatei(o.input) : 0);
    // Answers are held until their window is written: JSON lines are longer.
    const std::size_t fensterGroesse = o.json ? kFenster / 4 : kFenster;
    bool ende = false;
    // --ein: the window's points converted in contiguous chunks, one thread and converter each;
    // a line that does not convert keeps its place with the reason.
    auto umrechnen = [&](TFenster& f) {
        const std::size_t n = f.posten.size();
        const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
        while (umrechner.size() < threads) umrechner.push_back(std::make_unique<TUmrechnung>(ein->Kacheln));
        const std::size_t stueck = (n + threads - 1) / threads;
        auto teil = [&](std::size_t t) {
            for (std::size_t i = t * stueck; i < std::min(n, (t + 1) * stueck); ++i) {
                TPosten& p = f.posten[i];
                if (!p.warum.empty()) continue;
                try {
                    p.umgerechnet = umrechner[t]->ConvertText(ein->Wahl, p.a, p.b);
                } catch (const EKoordFehler& e) {
                    p.warum = "Zeile " + std::to_string(p.zeile) + ": " + e.what() + ": " + Zitat(p.a + " " + p.b);
                }
            }
        };
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < threads && t * stueck < n; ++t) pool.emplace_back(teil, t);
        teil(0);
        for (std::thread& th : pool) th.join();
        for (std::size_t i = 0; i < n; ++i) {
            const TPosten& p = f.posten[i];
            if (!p.warum.empty()) continue;
            f.punkte.push_back(TBatchPunkt{p.umgerechnet->Punkt.X, p.umgerechnet->Punkt.Y});
            f.zuPosten.push_back(i);
        }
    };
    // The next window's lines. A window ends early rather than wait for more lines: whoever
    // types or pipes the points one by one gets each answer before sending the next. Read
    // ahead (voraus), not even its first line is waited for.
    auto lies = [&](TFenster& f, bool voraus) {
        f.posten.clear();
        f.punkte.clear();
        f.zuPosten.clear();
        while (!ende && f.posten.size() < fensterGroesse) {
            if ((voraus || !f.posten.empty()) && in == &std::cin && !EingabeBereit(*in)) break;
            if (!LiesZeile(*in, line)) {
                ende = true;
                break;
            }
            ++zeilen;
            const std::string_view text = ZeilenText(line, zeilen);
            if (NurLeer(text)) continue;
            Spalten(text, spalten);
            TBatchPunkt q;
            if (ein) {
                if (kopfMoeglich) {
                    kopfMoeglich = false;
                    if (KeinWert(spalten, o.spalteX, TAchse::Breite) && KeinWert(spalten, o.spalteY, TAchse::Laenge)) {
                        melde("Zeile " + std::to_string(zeilen) + ": Kopfzeile \xC3\xBC" "bergangen: " + Zitat(text));
                        continue;
                    }
                }
                std::string warum = SpaltenFehlerText(spalten, o.spalteX);
                if (warum.empty()) warum = SpaltenFehlerText(spalten, o.spalteY);
                TPosten& p = f.posten.emplace_back();
                p.zeile = zeilen;
                if (mitId && o.spalteId <= spalten.size()) p.id = spalten[o.spalteId - 1];
                if (warum.empty()) {
                    p.a = spalten[o.spalteX - 1];
                    p.b = spalten[o.spalteY - 1];
                } else {
                    p.warum = "Zeile " + std::to_string(zeilen) + ": " + warum + ": " + Zitat(text);
                }
                continue;
            }
            std::string warum = SpaltenFehler(spalten, o.spalteX, q.X);
            const std::string warumY = SpaltenFehler(spalten, o.spalteY, q.Y);
            if (kopfMoeglich) {
                kopfMoeglich = false;
                // Column names where the coordinates would be: a header, not a point.
                if (!warum.empty() && !warumY.empty()) {
                    melde("Zeile " + std::to_string(zeilen) + ": Kopfzeile \xC3\xBC" "bergangen: " + Zitat(text));
                    continue;
                }
            }
            if (warum.empty()) warum = warumY;
            TPosten& p = f.posten.emplace_back();
            p.zeile = zeilen;
            if (mitId && o.spalteId <= spalten.size()) p.id = spalten[o.spalteId - 1];
            if (warum.empty()) {
                f.punkte.push_back(q);
                f.zuPosten.push_back(f.posten.size() - 1);
            } else {
                p.warum = "Zeile " + std::to_string(zeilen) + ": " + warum + ": " + Zitat(text);
            }
        }
        if (ein) umrechnen(f);
    };
    lies(fenster, false);
    // Stops when standard output fails (its reader went away): nobody reads the answers.
    while (std::cout && !fenster.posten.empty()) {
        // The next window is read first, so its tiles are read while this one is answered.
        lies(naechstes, true);
        std::atomic<bool> fehler{false};  // set on the answering threads
        batch.AnswerAll(
            fenster.punkte,
            [&](std::size_t k, const THoehenAntwort& a) {
                if (!a.Beendet) fehler = true;
                TPosten& p = fenster.posten[fenster.zuPosten[k]];
                if (p.umgerechnet) {
                    const TUmrechnung::TErgebnis& r = *p.umgerechnet;
                    if (o.json) {
                        const TEingabeJson e = EingabeJson(r.Eingabe, r.Werte, r.Punkt);
                        p.text = FormatJson(AntwortToJson(a, false, mitId ? &p.id : nullptr, &e)) + '\n';
                    } else {
                        p.text = (mitId ? p.id + '\t' : std::string()) + p.a + '\t' + p.b + '\t' +
                                 AntwortText(a, false, sep, nullptr);
                    }
                    return;
                }
                p.text = AntwortText(a, o.json, sep, mitId ? &p.id : nullptr);
            },
            [&](std::size_t n) { fortschritt.Zeige(nr + static_cast<long>(n), batch.Lesungen()); },
            naechstes.punkte);
        if (fehler) rc = 1;
        // Every tile that could not be opened or read, once, before the answers of the window
        // it first shaped; the run still answers every point and ends with exit code 1.
        std::vector<std::string> meldungen = batch.TakeMessages();
        for (const std::string& m : meldungen) {
            melde(m);
            // A note of the folder index leaves every answer complete.
            if (!IsIndexHinweis(m)) rc = 1;
        }
        for (std::size_t k = 0; k < fenster.posten.size() && std::cout; ++k) {
            ++nr;
            const TPosten& p = fenster.posten[k];
            if (p.warum.empty()) {
                std::cout << p.text;
                continue;
            }
            // The line keeps its place in the output, so the answers still line up with the input.
            rc = 1;
            const std::string text = "Fehler in Zeile: " + std::to_string(p.zeile);
            if (o.json) {
                TJson j;
                if (mitId) j["id"] = p.id;
                j["zeile"] = p.zeile;
                j["fehler"] = text;
                std::cout << FormatJson(j) << '\n';
            } else {
                std::cout << (mitId ? p.id + '\t' : std::string()) << text << '\n';
            }
            melde(p.warum);
        }
        std::cout.flush();
        if (naechstes.posten.empty()) lies(naechstes, false);
        std::swap(fenster, naechstes);
    }
    fortschritt.Zeige(nr, batch.Lesungen(), true);
    return rc;
}

}  // namespace

void RegisterBatch(CLI::App& app) {
    static BatchOptions opts;
    auto* cmd = app.add_subcommand(
        "batch", "H\xC3\xB6hen f\xC3\xBCr viele Punkte: je Zeile \"X Y\" (Trenner: Leerzeichen, Tabulator oder \";\")");
    cmd->add_option("DATEI", opts.input, "Eingabedatei, \"-\" f\xC3\xBCr die Standardeingabe (Standard)")
        ->type_name("DATEI");
    cmd->add_option("--konf", opts.konf, KonfOptionHilfe)->type_name("DATEI");
    AddZahl(cmd, "--fangbreite", opts.fangbreite, "halbe Seite des Suchquadrats [m] (statt der Konfiguration)");
    AddZahl(cmd, "--potenz", opts.potenz, "Potenz f\xC3\xBCr die Wichtung nach Shepard (statt der Konfiguration)");
    cmd->add_flag("--json", opts.json, "je Punkt eine Zeile JSON");
    cmd->add_option("--speicher", opts.speicherMiB,
                    "h\xC3\xB6" "chstens so viele MiB geladener Kachelpunkte im Speicher (Standard: 512)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                long v = 0;
                const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
                if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v < 1 || v > (long{1} << 30))
                    return "ganze Zahl von 1 bis 1073741824 erwartet: " + text;
                return {};
            },
            ""))
        ->type_name("MIB");
    AddSpaltenOption(cmd, opts.spalteX, opts.spalteY);
    cmd->add_option_function<std::string>(
           "--id", [](const std::string& text) { opts.spalteId = *Spaltennummer(text); },
           "Spalte N (etwa die Punktnummer) als erste Spalte jeder Antwort mitgeben")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return Spaltennummer(text) ? std::string() : "Spaltennummer ab 1 erwartet: " + text;
            },
            ""))
        ->type_name("N");
    cmd->add_option("--ein", opts.ein,
                    std::string(EinOptionHilfe) +
                        ". Formen mit Leerzeichen (\"51 30 12 N\") brauchen \";\" oder Tabulator als Spaltentrenner; "
                        "die Ausgabe beginnt dann mit den beiden Eingabespalten")
        ->type_name("SYSTEM");
    cmd->callback([] { RunCommand([] { return Run(opts); }); });
}

}  // namespace tervalo::cli
