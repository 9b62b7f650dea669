// tervalo-cli batch: heights for many points, one "X Y" per input line. Each answer equals that
// of `query` at the same point. The points are answered in windows, grouped by the tiles they
// need, so that a tile let go of for the memory bound is read again as seldom as possible; the
// answers still come out in input order, window by window.
#include <poll.h>
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
    long speicherMiB = 512;  // loaded tile points kept at most
};

// Input points answered together; their answers are held until the window is written.
constexpr std::size_t kFenster = 100000;

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

// Whether reading standard input would not wait: lines in the stream's buffer, or bytes (or
// the end) at the descriptor.
bool EingabeBereit(std::istream& in) {
    if (in.rdbuf()->in_avail() > 0) return true;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// One answer as written: a tab-separated line, or a JSON line.
std::string AntwortText(const TBatchAntwort& a, bool json, double d, double potenz, char sep) {
    if (json) return JsonText(BatchJson(a, d, potenz)) + '\n';
    std::string z = Zahl(a.X, sep) + '\t' + Zahl(a.Y, sep) + '\t';
    if (!a.Beendet) return z + a.Fehler + '\n';
    if (a.Berechnet && a.HatNaechster)
        z += Zahl(a.NR, sep) + '\t' + Zahl(a.NZ, sep) + '\t';
    else
        z += std::string(TextKeinWert) + '\t' + TextKeinWert + '\t';
    if (a.Berechnet)
        z += std::to_string(a.ShepardN) + '\t' + Zahl(a.ShepardZ, sep) + '\n';
    else
        z += std::string(TextKeineAnzahl) + '\t' + TextKeinWert + '\n';
    return z;
}

// Lines of a regular file, for the progress line's total; 0 when it cannot be told.
long ZeilenInDatei(const std::string& pfad) {
    std::ifstream f(pfad, std::ios::binary);
    if (!f) return 0;
    long n = 0;
    char c = '\n';
    std::vector<char> puffer(1 << 16);
    while (f.read(puffer.data(), static_cast<std::streamsize>(puffer.size())) || f.gcount() > 0) {
        const auto k = static_cast<std::size_t>(f.gcount());
        n += std::count(puffer.data(), puffer.data() + k, '\n');
        c = puffer[k - 1];
    }
    return c == '\n' ? n : n + 1;
}

// A line on standard error, rewritten in place about twice a second, while a person watches
// (standard error is a terminal); silent otherwise.
class TFortschritt {
public:
    // The first line after half a second, when the rate says something about the time left.
    TFortschritt(bool an, long gesamt)
        : an_(an), gesamt_(gesamt), start_(std::chrono::steady_clock::now()), letzte_(start_) {}
    void Zeige(long beantwortet, int kacheln, bool zuletzt = false) {
        if (!an_) return;
        const auto jetzt = std::chrono::steady_clock::now();
        if (!zuletzt && jetzt - letzte_ < std::chrono::milliseconds(500)) return;
        letzte_ = jetzt;
        const double s = std::chrono::duration<double>(jetzt - start_).count();
        std::string text = "\r" + std::to_string(beantwortet);
        if (gesamt_ > 0) text += " von " + std::to_string(gesamt_);
        text += " Punkten beantwortet, " + std::to_string(kacheln) + " Kacheln gelesen";
        if (gesamt_ > 0 && beantwortet > 0 && beantwortet < gesamt_) {
            const long rest = std::lround(s / static_cast<double>(beantwortet) *
                                          static_cast<double>(gesamt_ - beantwortet));
            text += ", noch etwa " + std::to_string(rest / 60) + " min " + std::to_string(rest % 60) + " s";
        }
        text += "\x1b[K";  // clears what a longer line before left
        if (zuletzt) text += '\n';
        std::cerr << text << std::flush;
    }

private:
    bool an_;
    long gesamt_;
    std::chrono::steady_clock::time_point start_, letzte_;
};

int Run(const BatchOptions& o) {
    const TKonfCli k = LoadKonf(o.konf);
    const TSettings& settings = k.Settings;
    const TDateien& kat = k.Dateien;
    if (const int rc = CheckSearchOptions("batch", settings, o.fangbreite, o.potenz)) return rc;
    const double d = o.fangbreite.value_or(settings.Fangbreite);
    const double potenz = o.potenz.value_or(settings.Potenz);
    const char sep = DecimalSeparator();

    std::ifstream datei;
    // Its own buffer for standard input, so a window can tell whether more lines wait there.
    std::ios::sync_with_stdio(false);
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
    batch.SetzeSpeicher(static_cast<std::size_t>(o.speicherMiB) << 20);
    int rc = 0;
    if (!o.json) std::cout << "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n";

    struct TPosten {
        bool ok = false;
        std::string text;  // the answer, as written
    };
    struct TFenster {
        std::vector<TPosten> posten;
        std::vector<TBatchPunkt> punkte;
        std::vector<std::size_t> zuPosten;  // slot of each point
    };
    TFenster fenster, naechstes;
    std::string line;
    long nr = 0;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    TFortschritt fortschritt(terminal, terminal && o.input != "-" ? ZeilenInDatei(o.input) : 0);
    // Answers are held until their window is written: JSON lines are longer.
    const std::size_t fensterGroesse = o.json ? kFenster / 4 : kFenster;
    bool ende = false;
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
            TPosten& p = f.posten.emplace_back();
            TBatchPunkt q;
            p.ok = ZweiZahlen(line, q.X, q.Y);
            if (p.ok) {
                f.punkte.push_back(q);
                f.zuPosten.push_back(f.posten.size() - 1);
            }
        }
    };
    lies(fenster, false);
    // Stops when standard output fails (its reader went away): nobody reads the answers.
    while (std::cout && !fenster.posten.empty()) {
        // The next window is read first, so its tiles are read while this one is answered.
        lies(naechstes, true);
        std::atomic<bool> fehler{false};  // set on the answering threads
        batch.Beantworte(
            fenster.punkte,
            [&](std::size_t k, const TBatchAntwort& a) {
                if (!a.Beendet) fehler = true;
                fenster.posten[fenster.zuPosten[k]].text = AntwortText(a, o.json, d, potenz, sep);
            },
            [&](std::size_t n) { fortschritt.Zeige(nr + static_cast<long>(n), batch.Lesungen()); },
            naechstes.punkte);
        if (fehler) rc = 1;
        // Every tile that could not be opened or read, once, before the answers of the window
        // it first shaped; the run still answers every point and ends with exit code 1.
        std::vector<std::string> meldungen = batch.NeueMeldungen();
        if (!meldungen.empty()) {
            std::cout.flush();
            if (terminal) std::cerr << "\r\x1b[K";  // not behind the progress line
            for (const std::string& m : meldungen) std::cerr << m << '\n';
            rc = 1;
        }
        for (std::size_t k = 0; k < fenster.posten.size() && std::cout; ++k) {
            ++nr;
            const TPosten& p = fenster.posten[k];
            if (p.ok) {
                std::cout << p.text;
                continue;
            }
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
    cmd->add_option("DATEI", opts.input, "Eingabedatei, \"-\" f\xC3\xBCr die Standardeingabe (Standard)");
    cmd->add_option("--konf", opts.konf, KonfOptionHilfe);
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
    cmd->callback([] { RunCommand([] { return Run(opts); }); });
}

}  // namespace tervalo::cli
