#include "query/Batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "tools/Errors.h"
#include "tools/GrosseSeiten.h"
#include "tools/PunktSet.h"
#include "tools/ScopeGuard.h"

namespace tervalo {

namespace {

constexpr int64_t kZellGrenze = int64_t{1} << 30;
// Room made ahead for a file's points, at most: a large file of anything but points (one line
// of 2 GB) must not cost memory by its size. Larger tiles grow their room as they are read.
constexpr std::size_t kHoechstensVorab = std::size_t{1} << 20;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A point as read, before the index is built.
struct TRoh {
    double x, y, z;
    uint32_t pos;   // in file order
    int32_t zeile;  // index row
};

// One source file as a single query would meet it, kept in memory.
struct TGeladen {
    std::string pfad;
    bool dbase = false;
    bool oeffnenFehler = false;
    bool keineDatensaetze = false;
    bool abbruch = false;        // an error ended the reading: a query selecting it ends there
    bool defekt = false;         // a damaged packed tile: no points, the query goes on
    std::string fehler;
    std::string meldung;         // why the file could not be opened or read, naming it; or empty
    std::string gemeldet;        // the message last given for it
    std::string name = TextKeinName;
    std::string lbVoll;          // what the file sets LB_Datei to; empty: leaves it
    int32_t gelesen = 0;
    // Points without repeats inside the file (a repeat can never be accepted: its first
    // occurrence lies in the same square and comes before it), in index rows of the cell
    // height, each row sorted by x: a row's points inside a square are one run of it.
    TGrossVektor<double> x, y, z;
    TGrossVektor<uint32_t> idx;  // position in file order
    std::vector<int32_t> zeilen; // the occupied rows, ascending
    std::vector<uint32_t> beginn;  // where each row's points begin, one more at the end
    double bxmin = kInf, bxmax = -kInf, bymin = kInf, bymax = -kInf;

    // Kept while the points are let go of.
    bool geladen = false;
    bool jeGelesen = false;
    uint64_t zuletzt = 0;        // the batch that last needed it
    std::size_t schaetzung = 0;  // bytes its points take, as last loaded or guessed; 0: unknown
    uint64_t marke = 0;          // planning mark

    std::size_t Bytes() const {
        return (x.size() + y.size() + z.size()) * sizeof(double) + idx.size() * sizeof(uint32_t) +
               zeilen.size() * sizeof(int32_t) + beginn.size() * sizeof(uint32_t);
    }
    void LassLos() {
        for (auto* v : {&x, &y, &z}) TGrossVektor<double>().swap(*v);
        TGrossVektor<uint32_t>().swap(idx);
        std::vector<int32_t>().swap(zeilen);
        std::vector<uint32_t>().swap(beginn);
        geladen = false;
    }
};

struct TBox {
    double xmin, xmax, ymin, ymax;
    bool Enthaelt(double px, double py) const {
        return xmin <= px && px <= xmax && ymin <= py && py <= ymax;
    }
};

bool Ueberschneiden(const TBox& a, const TBox& b) {
    return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

struct TShepardTeil {
    uint64_t ordnung;  // selected file << 32 | position in the file: the store order
    double r, z;
};

// Working memory of one answering thread.
struct TArbeit {
    std::vector<const TGeladen*> gewaehlt;
    std::vector<TBox> boxen;
    std::vector<std::vector<std::size_t>> frueher;  // per file: earlier files whose box meets its
    std::vector<TShepardTeil> shepard;
    std::vector<std::size_t> kand;
    std::unique_ptr<TPunktSpeicher> speicher;
    std::unique_ptr<TPunktSet> set;
};

// Index row of a coordinate: floor(v / zelle), clamped so it fits 32 bits.
int32_t Zeile(double v, double zelle) {
    const double q = std::floor(v / zelle);
    if (!(q >= static_cast<double>(-kZellGrenze))) return static_cast<int32_t>(-kZellGrenze);
    if (q > static_cast<double>(kZellGrenze - 1)) return static_cast<int32_t>(kZellGrenze - 1);
    return static_cast<int32_t>(q);
}

// Reads one file the way the query meets it and builds its index.
void Laden(const std::string& pfad, double zelle, TGeladen& f) {
    TGrossVektor<TRoh> roh;
    uint32_t nr = 0;
    TPunktQuelle quelle(pfad);
    f.dbase = quelle.IstDbase();
    try {
        int fehler = 0;  // a text file that cannot be opened is the query's own case
        try {
            quelle.Oeffne();
        } catch (const ETextNichtOffen& e) {
            fehler = e.Errno();
        }
        if (fehler != 0) {
            f.oeffnenFehler = true;
            f.lbVoll = TextIOFehler + pfad;
            f.meldung = NamePath(ErrnoText(fehler), pfad);
        } else {
            const std::string offen = quelle.Pfad();
            f.name = FileNamePart(offen);
            std::size_t erwartet = 0;
            if (f.dbase) {
                erwartet = std::min<std::size_t>(quelle.Datensaetze(), kHoechstensVorab);
                if (quelle.Datensaetze() < 1) {
                    f.keineDatensaetze = true;
                    f.lbVoll = TextKeineDatensaetze;
                } else {
                    f.lbVoll = offen;
                }
            } else {
                f.lbVoll = offen;
                // About 36 bytes a line; only a hint.
                erwartet = static_cast<std::size_t>(std::min<uint64_t>(quelle.Groesse() / 32, kHoechstensVorab));
            }
            roh.reserve(erwartet);
            try {
                quelle.Lies<TAbfrageZeilenRegel>([&](const auto& zeile) {
                    Zaehle(f.gelesen);
                    double x, y, z;
                    if (zeile.Punkt(x, y, z) != TBefund::Punkt) return;
                    const uint32_t pos = nr;
                    if (nr < UINT32_MAX) ++nr;
                    // A point without a finite position lies in no square; no query ever takes it.
                    if (!std::isfinite(x) || !std::isfinite(y)) return;
                    roh.push_back({x, y, z, pos, Zeile(y, zelle)});
                });
            } catch (const EGzipDefekt& e) {
                // As the query has it: the lines read count, none of the points, the run goes on.
                TGrossVektor<TRoh>().swap(roh);
                f.defekt = true;
                f.fehler = e.what();
                f.meldung = f.fehler;
                f.lbVoll = f.fehler;
            }
        }
    } catch (const std::exception& ex) {
        f.abbruch = true;
        f.fehler = ReadErrorMessage(ex, pfad);
        f.meldung = f.fehler;
    }

    // Rows, x, y, then file order: repeats of a position stand together, their first first.
    // (-0.0 and 0.0 compare equal, as the query's store has them.)
    std::sort(roh.begin(), roh.end(), [](const TRoh& a, const TRoh& b) {
        if (a.zeile != b.zeile) return a.zeile < b.zeile;
        if (a.x != b.x) return a.x < b.x;
        if (a.y != b.y) return a.y < b.y;
        return a.pos < b.pos;
    });
    std::size_t n = 0, zeilen = 0;
    for (std::size_t t = 0; t < roh.size(); ++t) {
        if (t > 0 && roh[t].x == roh[t - 1].x && roh[t].y == roh[t - 1].y) continue;
        if (n == 0 || roh[t].zeile != roh[n - 1].zeile) ++zeilen;
        roh[n++] = roh[t];
    }
    for (auto* v : {&f.x, &f.y, &f.z}) v->reserve(n);
    f.idx.reserve(n);
    f.zeilen.reserve(zeilen);
    f.beginn.reserve(zeilen + 1);
    for (std::size_t t = 0; t < n; ++t) {
        const TRoh& p = roh[t];
        f.x.push_back(p.x);
        f.y.push_back(p.y);
        f.z.push_back(p.z);
        f.idx.push_back(p.pos);
        f.bxmin = std::min(f.bxmin, p.x);
        f.bxmax = std::max(f.bxmax, p.x);
        f.bymin = std::min(f.bymin, p.y);
        f.bymax = std::max(f.bymax, p.y);
        if (t == 0 || p.zeile != roh[t - 1].zeile) {
            f.zeilen.push_back(p.zeile);
            f.beginn.push_back(static_cast<uint32_t>(t));
        }
    }
    f.beginn.push_back(static_cast<uint32_t>(n));
}

// The first index in [b, e) whose x is not below v (with nach: is above v), x ascending there.
// The guess from the run's spread is near for grid rows; doubling steps from it bracket the
// answer, so a row costs a few probes close together rather than a search over all of it.
template <bool Nach>
std::size_t Suche(const double* x, std::size_t b, std::size_t e, double v) {
    auto vor = [&](std::size_t i) { return Nach ? !(v < x[i]) : x[i] < v; };
    if (b == e) return b;
    std::size_t g = b;
    const double x0 = x[b], x1 = x[e - 1];
    if (x1 > x0) {
        const double f = (v - x0) / (x1 - x0) * static_cast<double>(e - 1 - b);
        if (f > 0) g = f >= static_cast<double>(e - 1 - b) ? e - 1 : b + static_cast<std::size_t>(f);
    }
    std::size_t lo = b, hi = e;
    if (vor(g)) {
        lo = g + 1;
        for (std::size_t schritt = 1;; schritt *= 2) {
            const std::size_t probe = lo + schritt - 1;
            if (probe >= e) break;
            if (!vor(probe)) {
                hi = probe;
                break;
            }
            lo = probe + 1;
        }
    } else {
        hi = g;
        for (std::size_t schritt = 1;; schritt *= 2) {
            if (hi - b < schritt) break;
            const std::size_t probe = hi - schritt;
            if (vor(probe)) {
                lo = probe + 1;
                break;
            }
            hi = probe;
        }
    }
    while (lo < hi) {
        const std::size_t mitte = lo + (hi - lo) / 2;
        if (vor(mitte))
            lo = mitte + 1;
        else
            hi = mitte;
    }
    return lo;
}

// Runs fn(thread number) on n threads, the calling one being number 0, and passes on the first
// exception any of them threw.
template <class Fn>
void AufThreads(int n, Fn&& fn) {
    std::exception_ptr fehler;
    std::mutex mx;
    auto lauf = [&](int t) {
        try {
            fn(t);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mx);
            if (!fehler) fehler = std::current_exception();
        }
    };
    std::vector<std::thread> helfer;
    for (int t = 1; t < n; ++t) helfer.emplace_back(lauf, t);
    lauf(0);
    for (std::thread& h : helfer) h.join();
    if (fehler) std::rethrow_exception(fehler);
}

}  // namespace

struct TBatchAbfrage::Impl {
    TDateien kat;
    double d, potenz;
    double zelle;  // row height of the index
    int eintraege = 0;
    std::map<std::string, std::unique_ptr<TGeladen>> dateien;
    std::vector<TGeladen*> eintrag;  // per catalogue entry (1-based)
    std::vector<std::string> meldungen;  // not yet fetched by NeueMeldungen
    std::size_t budget = 0;              // bytes of points kept at most; 0: no bound
    std::size_t belegt = 0;              // bytes of points held now
    std::atomic<int> lesungen{0};        // files read, a file read again counted again
    uint64_t uhr = 0;                    // counts the batches, for least-recently-used
    uint64_t planung = 0;
    int threads = 1;
    bool absteigend = false;             // every other call groups in reverse
    std::vector<TArbeit> arbeit;

    // --- the index ------------------------------------------------------------------------

    // Whether every point of row r surely lies within [ymin, ymax]: the row's band, a little
    // wider for the rounding of the division that put the points there. Not for the clamped
    // outermost rows, which hold any point beyond them.
    bool ZeileInnen(int32_t r, double ymin, double ymax) const {
        if (r <= -kZellGrenze || r >= kZellGrenze - 1) return false;
        const double y0 = static_cast<double>(r) * zelle, y1 = static_cast<double>(r + 1) * zelle;
        const double ry = 1e-9 * (std::fabs(y0) + std::fabs(y1) + zelle);
        return ymin <= y0 - ry && y1 + ry <= ymax;
    }

    // Calls fn(b, e, innen) for every row of f that can hold points of the box: [b, e) are its
    // points with xmin <= x <= xmax; innen says their y lies in [ymin, ymax] for sure.
    template <class Fn>
    void Zeilen(const TGeladen& f, const TBox& q, Fn&& fn) const {
        if (!(q.xmin <= q.xmax) || !(q.ymin <= q.ymax)) return;
        const int32_t r1 = Zeile(q.ymax, zelle);
        const double* x = f.x.data();
        for (auto k = static_cast<std::size_t>(
                 std::lower_bound(f.zeilen.begin(), f.zeilen.end(), Zeile(q.ymin, zelle)) - f.zeilen.begin());
             k < f.zeilen.size() && f.zeilen[k] <= r1; ++k) {
            const std::size_t b = Suche<false>(x, f.beginn[k], f.beginn[k + 1], q.xmin);
            const std::size_t e = Suche<true>(x, b, f.beginn[k + 1], q.xmax);
            if (b < e) fn(b, e, ZeileInnen(f.zeilen[k], q.ymin, q.ymax));
        }
    }

    // Calls fn(t) for every point of f inside the box.
    template <class Fn>
    void ImKasten(const TGeladen& f, const TBox& q, Fn&& fn) const {
        Zeilen(f, q, [&](std::size_t b, std::size_t e, bool innen) {
            for (std::size_t t = b; t < e; ++t)
                if (innen || (q.ymin <= f.y[t] && f.y[t] <= q.ymax)) fn(t);
        });
    }

    // Whether f holds a point at exactly (px, py).
    bool Hat(const TGeladen& f, double px, double py) const {
        const int32_t r = Zeile(py, zelle);
        const auto it = std::lower_bound(f.zeilen.begin(), f.zeilen.end(), r);
        if (it == f.zeilen.end() || *it != r) return false;
        const std::size_t k = static_cast<std::size_t>(it - f.zeilen.begin());
        std::size_t lo = f.beginn[k], hi = f.beginn[k + 1];
        while (lo < hi) {  // first point not before (px, py)
            const std::size_t mitte = lo + (hi - lo) / 2;
            if (f.x[mitte] < px || (f.x[mitte] == px && f.y[mitte] < py))
                lo = mitte + 1;
            else
                hi = mitte;
        }
        return lo < f.beginn[k + 1] && f.x[lo] == px && f.y[lo] == py;
    }

    // --- reading and letting go -----------------------------------------------------------

    // What a file's points will take, for planning: as when last loaded, or guessed from the
    // file's size (about 28 bytes of points for a line of 37 bytes).
    static std::size_t Schaetzung(TGeladen& f) {
        if (f.schaetzung == 0) {
            struct stat st {};
            f.schaetzung = ::stat(f.pfad.c_str(), &st) == 0 && st.st_size > 0
                               ? static_cast<std::size_t>(st.st_size) / 4 * 3
                               : 1;
        }
        return f.schaetzung;
    }

    // Lets go of the least recently used files not needed now until `frei` more bytes fit the
    // budget.
    void Raeume(std::size_t frei = 0) {
        while (budget > 0 && belegt + frei > budget) {
            TGeladen* alt = nullptr;
            for (auto& [pfad, f] : dateien)
                if (f->geladen && f->zuletzt < uhr && f->Bytes() > 0 && (!alt || f->zuletzt < alt->zuletzt))
                    alt = f.get();
            if (!alt) return;
            belegt -= alt->Bytes();
            alt->LassLos();
        }
    }

    // Makes the files loaded, reading the missing ones in parallel, after letting go of others
    // as the budget asks.
    // zwischendurch(), when given, is called on the calling thread after each file it read.
    void Bereite(const std::vector<TGeladen*>& noetig, const std::function<void()>& zwischendurch = {}) {
        ++uhr;
        std::vector<TGeladen*> fehlend;
        std::size_t dazu = 0;
        for (TGeladen* f : noetig) {
            f->zuletzt = uhr;
            if (!f->geladen) {
                fehlend.push_back(f);
                dazu += Schaetzung(*f);
            }
        }
        if (fehlend.empty()) return;
        Raeume(dazu);
        // A file being read holds about its points' size again: with a memory bound, read at
        // most so many at once that this stays within half the bound.
        int zugleich = std::min<int>(threads, static_cast<int>(fehlend.size()));
        if (budget > 0) {
            std::size_t groesste = 1;
            for (TGeladen* f : fehlend) groesste = std::max(groesste, Schaetzung(*f));
            zugleich = static_cast<int>(std::clamp<std::size_t>(budget / 2 / groesste, 1, static_cast<std::size_t>(zugleich)));
        }
        std::vector<TGeladen> neu(fehlend.size());
        LiesAlle(fehlend, neu, zugleich, zwischendurch);
        Uebernimm(fehlend, neu);
        Raeume();
    }

    // Reads the files into neu on n threads; touches nothing else.
    void LiesAlle(const std::vector<TGeladen*>& dateienZuLesen, std::vector<TGeladen>& neu, int n,
                  const std::function<void()>& zwischendurch = {}) {
        std::atomic<std::size_t> naechste{0};
        AufThreads(n, [&](int nr) {
            for (std::size_t i; (i = naechste++) < dateienZuLesen.size();) {
                neu[i].pfad = dateienZuLesen[i]->pfad;
                Laden(dateienZuLesen[i]->pfad, zelle, neu[i]);
                ++lesungen;
                if (nr == 0 && zwischendurch) zwischendurch();
            }
        });
    }

    // Keeps what LiesAlle read, as needed by the current batch.
    void Uebernimm(const std::vector<TGeladen*>& ziele, std::vector<TGeladen>& neu) {
        for (std::size_t i = 0; i < ziele.size(); ++i) {
            TGeladen& f = *ziele[i];
            neu[i].gemeldet = std::move(f.gemeldet);
            neu[i].zuletzt = uhr;
            neu[i].jeGelesen = true;
            neu[i].geladen = true;
            neu[i].schaetzung = std::max<std::size_t>(neu[i].Bytes(), 1);
            f = std::move(neu[i]);
            belegt += f.Bytes();
        }
    }

    // The files the points will touch that are not loaded and fit beside the loaded ones
    // without letting go of any, for reading ahead.
    std::vector<TGeladen*> Voraus(const std::vector<TBatchPunkt>& punkte) {
        std::vector<TGeladen*> out;
        const uint64_t marke = ++planung;
        std::size_t platz = budget > belegt ? budget - belegt : 0;
        std::vector<uint8_t> beruehrt;
        for (const TBatchPunkt& p : punkte) {
            beruehrt.clear();
            Beruehrt(p.X, p.Y, beruehrt);
            for (uint8_t i : beruehrt) {
                TGeladen& f = *eintrag[i];
                if (f.geladen || f.marke == marke) continue;
                f.marke = marke;
                if (budget > 0) {
                    if (Schaetzung(f) > platz) return out;
                    platz -= Schaetzung(f);
                }
                out.push_back(&f);
            }
        }
        return out;
    }

    // Calls fn(entry, file) for each entry whose box the square at (x, y) touches, in catalogue
    // order, until fn returns false.
    template <class Fn>
    void Waehle(double x, double y, Fn&& fn) const {
        const double xmin = x - d, xmax = x + d, ymin = y - d, ymax = y + d;
        for (int i = 1; i <= eintraege; ++i) {
            const std::size_t ix = static_cast<std::size_t>(i);
            if (xmin > kat.Xmax[ix] || xmax < kat.Xmin[ix] || ymin > kat.Ymax[ix] || ymax < kat.Ymin[ix])
                continue;
            if (!fn(i, *eintrag[ix])) return;
        }
    }

    // The entries a query at (x, y) may select (all whose box its square touches).
    void Beruehrt(double x, double y, std::vector<uint8_t>& out) const {
        Waehle(x, y, [&](int i, const TGeladen&) {
            out.push_back(static_cast<uint8_t>(i));
            return true;
        });
    }

    // Messages of the files a query at (x, y) meets, each once.
    void Melde(double x, double y) {
        Waehle(x, y, [&](int, TGeladen& f) {
            if (!f.meldung.empty() && f.meldung != f.gemeldet) {
                meldungen.push_back(f.meldung);
                f.gemeldet = f.meldung;
            }
            return !f.abbruch;
        });
    }

    void Antworte(double x, double y, TBatchAntwort& out, TArbeit& w) const;
};

void TBatchAbfrage::Impl::Antworte(double x, double y, TBatchAntwort& out, TArbeit& w) const {
    out = TBatchAntwort{};
    out.X = x;
    out.Y = y;
    const double xmin = x - d, xmax = x + d, ymin = y - d, ymax = y + d;
    const TBox quadrat{xmin, xmax, ymin, ymax};

    // The files the query selects, in catalogue order, up to one whose reading ends the run.
    auto& gewaehlt = w.gewaehlt;
    gewaehlt.clear();
    Waehle(x, y, [&](int i, const TGeladen& f) {
        TDateiZeile row;
        row.Nr = static_cast<int>(gewaehlt.size()) + 1;
        row.Eintrag = i;
        row.Datei = f.pfad;
        row.Name = f.name;
        row.DBase = f.dbase;
        row.OeffnenFehler = f.oeffnenFehler;
        row.Gelesen = f.gelesen;
        if (f.oeffnenFehler || f.keineDatensaetze) row.Fehler = f.lbVoll;
        if (f.defekt) row.Fehler = f.fehler;
        if (!f.lbVoll.empty()) out.LB_DateiVoll = f.lbVoll;
        out.LetzterEintrag = i;
        out.Dateien.push_back(std::move(row));
        gewaehlt.push_back(&f);
        if (f.abbruch) {
            out.Dateien.back().Fehler = f.fehler;
            out.Fehler = f.fehler;
            return false;
        }
        return true;
    });
    const bool abbruch = !gewaehlt.empty() && gewaehlt.back()->abbruch;
    const std::size_t nf = gewaehlt.size();

    // Point boxes of the selected files inside the square: only a point inside an earlier
    // file's box can repeat a position the store already holds.
    w.boxen.resize(nf);
    if (w.frueher.size() < nf) w.frueher.resize(nf);
    for (std::size_t j = 0; j < nf; ++j) {
        const TGeladen& f = *gewaehlt[j];
        w.boxen[j] = {std::max(f.bxmin, xmin), std::min(f.bxmax, xmax), std::max(f.bymin, ymin),
                      std::min(f.bymax, ymax)};
        w.frueher[j].clear();
        for (std::size_t o = 0; o < j; ++o)
            if (Ueberschneiden(w.boxen[o], w.boxen[j])) w.frueher[j].push_back(o);
    }
    // Whether the store already holds the position when file j offers it.
    auto doppelt = [&](std::size_t j, double px, double py) {
        for (std::size_t o : w.frueher[j])
            if (w.boxen[o].Enthaelt(px, py) && Hat(*gewaehlt[o], px, py)) return true;
        return false;
    };

    // Counting, as if the store had no limit (it has none in the usual case): whole runs of
    // rows inside the square, less the repeats of earlier files' points.
    int64_t anzahlPunkte = 0;
    for (std::size_t j = 0; j < nf; ++j) {
        const TGeladen& f = *gewaehlt[j];
        int64_t n = 0;
        Zeilen(f, quadrat, [&](std::size_t b, std::size_t e, bool innen) {
            if (innen) {
                n += static_cast<int64_t>(e - b);
                return;
            }
            for (std::size_t t = b; t < e; ++t) n += ymin <= f.y[t] && f.y[t] <= ymax;
        });
        if (!w.frueher[j].empty()) {
            TBox u{kInf, -kInf, kInf, -kInf};  // where the earlier boxes meet this one
            for (std::size_t o : w.frueher[j]) {
                u.xmin = std::min(u.xmin, std::max(w.boxen[o].xmin, w.boxen[j].xmin));
                u.xmax = std::max(u.xmax, std::min(w.boxen[o].xmax, w.boxen[j].xmax));
                u.ymin = std::min(u.ymin, std::max(w.boxen[o].ymin, w.boxen[j].ymin));
                u.ymax = std::max(u.ymax, std::min(w.boxen[o].ymax, w.boxen[j].ymax));
            }
            ImKasten(f, u, [&](std::size_t t) { n -= doppelt(j, f.x[t], f.y[t]); });
        }
        anzahlPunkte += n;
        out.Dateien[j].Gefiltert = static_cast<int>(std::min<int64_t>(n, INT32_MAX));
    }

    if (anzahlPunkte > MaxPunkte) {
        // The store fills up: meet the points in file order as the query does and stop
        // accepting at its capacity.
        if (!w.speicher) w.speicher = std::make_unique<TPunktSpeicher>();
        if (!w.set) w.set = std::make_unique<TPunktSet>(MaxPunkte);
        TPunktSpeicher& s = *w.speicher;
        TPunktSet& set = *w.set;
        set.Clear();
        s.Anzahl = 0;
        for (std::size_t j = 0; j < nf; ++j) {
            const TGeladen& f = *gewaehlt[j];
            TDateiZeile& row = out.Dateien[j];
            row.Gefiltert = 0;
            w.kand.clear();
            ImKasten(f, quadrat, [&](std::size_t t) { w.kand.push_back(t); });
            std::sort(w.kand.begin(), w.kand.end(), [&](std::size_t a, std::size_t b) { return f.idx[a] < f.idx[b]; });
            for (std::size_t t : w.kand) {
                if (s.Anzahl >= MaxPunkte) break;
                if (!set.Insert(f.x[t], f.y[t])) continue;
                const int i = ++s.Anzahl;
                s.X[static_cast<std::size_t>(i)] = f.x[t];
                s.Y[static_cast<std::size_t>(i)] = f.y[t];
                s.Z[static_cast<std::size_t>(i)] = f.z[t];
                ++row.Gefiltert;
            }
        }
        out.Anzahl = s.Anzahl;
        if (abbruch) return;
        out.Beendet = true;
        TBerechnung b;
        Berechne(s, x, y, potenz, b);
        out.Berechnet = true;
        if (b.Naechster > 0) {
            const std::size_t i = static_cast<std::size_t>(b.Naechster);
            out.HatNaechster = true;
            out.NX = s.X[i];
            out.NY = s.Y[i];
            out.NZ = s.Z[i];
            out.NR = s.R[i];
        }
        out.ShepardN = b.ShepardN;
        out.ShepardZ = b.ShepardZ;
        return;
    }

    out.Anzahl = static_cast<int>(anzahlPunkte);
    if (abbruch) return;
    out.Beendet = true;
    if (anzahlPunkte == 0) return;
    out.Berechnet = true;

    // The points near (x, y): those within the Shepard radius, and the nearest one. A box of
    // half side R around the point holds every point closer than R; it grows until it holds
    // a point that near or covers the square.
    bool hatBest = false;
    double bestR = StartAbstand;
    uint64_t bestOrd = 0;
    double bx = 0, by = 0, bz = 0;
    w.shepard.clear();
    for (double r = ShepardRadius;; r *= 4) {
        const double rand = r * (1 + 1e-9) + 1e-9;
        const TBox nah{std::max(xmin, x - rand), std::min(xmax, x + rand), std::max(ymin, y - rand),
                       std::min(ymax, y + rand)};
        const bool erste = r == ShepardRadius;
        for (std::size_t j = 0; j < nf; ++j) {
            const TGeladen& f = *gewaehlt[j];
            if (!Ueberschneiden(w.boxen[j], nah)) continue;
            ImKasten(f, nah, [&](std::size_t t) {
                const double px = f.x[t], py = f.y[t];
                if (!w.frueher[j].empty() && doppelt(j, px, py)) return;
                const double pr = Abstand(x, y, px, py);
                const uint64_t ord = (static_cast<uint64_t>(j) << 32) | f.idx[t];
                if (pr < bestR || (hatBest && pr == bestR && ord < bestOrd)) {
                    hatBest = true;
                    bestR = pr;
                    bestOrd = ord;
                    bx = px;
                    by = py;
                    bz = f.z[t];
                }
                if (erste && ImShepardRadius(pr)) w.shepard.push_back({ord, pr, f.z[t]});
            });
        }
        // Done when the box holds every selected file's points inside the square.
        bool alles = true;
        for (std::size_t j = 0; j < nf && alles; ++j) {
            const TBox& b = w.boxen[j];
            if (b.xmin <= b.xmax && b.ymin <= b.ymax)
                alles = nah.xmin <= b.xmin && b.xmax <= nah.xmax && nah.ymin <= b.ymin && b.ymax <= nah.ymax;
        }
        if ((hatBest && bestR <= r) || alles || !std::isfinite(r)) break;
    }
    if (hatBest) {
        out.HatNaechster = true;
        out.NX = bx;
        out.NY = by;
        out.NZ = bz;
        out.NR = bestR;
    }
    // The sums in store order, as the query adds them.
    std::sort(w.shepard.begin(), w.shepard.end(),
              [](const TShepardTeil& a, const TShepardTeil& b) { return a.ordnung < b.ordnung; });
    const TShepard sh = ShepardHoehe(
        [&](auto&& fn) {
            for (const TShepardTeil& t : w.shepard) fn(t.r, t.z);
        },
        potenz);
    out.ShepardN = sh.N;
    out.ShepardZ = sh.Z;
}

TBatchAbfrage::TBatchAbfrage(const TDateien& kat, double fangbreite, double potenz)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.kat = kat;
    m.d = fangbreite;
    m.potenz = potenz;
    // About thirty rows per square whatever the capture range: a row's points inside it are
    // one run, found by two searches.
    m.zelle = (std::isfinite(fangbreite) && fangbreite > 0) ? fangbreite / 16 : 1.0;
    m.eintraege = std::min<int>(kat.Anzahl, MaxDateien);
    m.eintrag.assign(static_cast<std::size_t>(m.eintraege) + 1, nullptr);
    for (int i = 1; i <= m.eintraege; ++i) {
        const std::string& pfad = kat.Datei[static_cast<std::size_t>(i)];
        auto& f = m.dateien[pfad];
        if (!f) {
            f = std::make_unique<TGeladen>();
            f->pfad = pfad;
        }
        m.eintrag[static_cast<std::size_t>(i)] = f.get();
    }
    SetzeThreads(0);
}

TBatchAbfrage::~TBatchAbfrage() = default;

int TBatchAbfrage::GeleseneDateien() const {
    int n = 0;
    for (const auto& [pfad, f] : impl_->dateien) n += f->jeGelesen;
    return n;
}

int TBatchAbfrage::Lesungen() const { return impl_->lesungen.load(); }

std::size_t TBatchAbfrage::BelegteBytes() const { return impl_->belegt; }

std::size_t TBatchAbfrage::GehaltenePunkte() const {
    std::size_t n = 0;
    for (const auto& [pfad, f] : impl_->dateien) n += f->x.size();
    return n;
}

void TBatchAbfrage::SetzeSpeicher(std::size_t bytes) {
    impl_->budget = bytes;
    ++impl_->uhr;  // nothing is needed now
    impl_->Raeume();
}

void TBatchAbfrage::SetzeThreads(int n) {
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    impl_->threads = std::clamp(n, 1, 64);
    impl_->arbeit.resize(static_cast<std::size_t>(impl_->threads));
}

std::vector<std::string> TBatchAbfrage::NeueMeldungen() {
    std::vector<std::string> out;
    out.swap(impl_->meldungen);
    return out;
}

void TBatchAbfrage::Frage(double x, double y, TBatchAntwort& out) {
    Beantworte({{x, y}}, [&](std::size_t, const TBatchAntwort& a) { out = a; });
}

void TBatchAbfrage::Beantworte(const std::vector<TBatchPunkt>& punkte, const TFertig& fertig,
                               const std::function<void(std::size_t)>& fortschritt,
                               const std::vector<TBatchPunkt>& danach) {
    Impl& m = *impl_;
    const std::size_t n = punkte.size();
    if (n == 0) return;

    // The entries each point touches, and the points grouped by them; every other call in
    // reverse, so that the files read last are the first needed next.
    std::vector<uint32_t> anfang(n + 1);
    std::vector<uint8_t> beruehrt;
    for (std::size_t k = 0; k < n; ++k) {
        anfang[k] = static_cast<uint32_t>(beruehrt.size());
        m.Beruehrt(punkte[k].X, punkte[k].Y, beruehrt);
    }
    anfang[n] = static_cast<uint32_t>(beruehrt.size());
    auto liste = [&](std::size_t k) {
        return std::pair{beruehrt.begin() + anfang[k], beruehrt.begin() + anfang[k + 1]};
    };
    std::vector<std::size_t> reihe(n);
    std::iota(reihe.begin(), reihe.end(), std::size_t{0});
    std::stable_sort(reihe.begin(), reihe.end(), [&](std::size_t l, std::size_t r) {
        if (m.absteigend) std::swap(l, r);
        const auto [lb, le] = liste(l);
        const auto [rb, re] = liste(r);
        return std::lexicographical_compare(lb, le, rb, re);
    });
    m.absteigend = !m.absteigend;

    std::atomic<std::size_t> fertigGesamt{0};
    std::vector<TGeladen*> noetig;
    for (std::size_t pos = 0; pos < n;) {
        // A batch: the next points in that order while their files fit the budget together.
        const std::size_t start = pos;
        const uint64_t marke = ++m.planung;
        std::size_t bytes = 0;
        noetig.clear();
        for (; pos < n; ++pos) {
            const auto [b, e] = liste(reihe[pos]);
            std::size_t dazu = 0;
            for (auto it = b; it != e; ++it) {
                TGeladen& f = *m.eintrag[*it];
                if (f.marke != marke) dazu += Impl::Schaetzung(f);
            }
            if (pos > start && m.budget > 0 && bytes + dazu > m.budget) break;
            bytes += dazu;
            for (auto it = b; it != e; ++it) {
                TGeladen& f = *m.eintrag[*it];
                if (f.marke != marke) {
                    f.marke = marke;
                    noetig.push_back(&f);
                }
            }
        }
        m.Bereite(noetig, [&] {
            if (fortschritt) fortschritt(fertigGesamt.load());
        });

        // While the last batch is answered, one more thread reads ahead for the next points.
        std::vector<TGeladen*> voraus;
        std::vector<TGeladen> vorausNeu;
        std::thread vorleser;
        if (pos == n && !danach.empty()) {
            voraus = m.Voraus(danach);
            vorausNeu.resize(voraus.size());
        }
        std::exception_ptr vorFehler;
        if (!voraus.empty())
            vorleser = std::thread([&] {
                try {
                    m.LiesAlle(voraus, vorausNeu, 1);
                } catch (...) {
                    vorFehler = std::current_exception();
                }
            });
        auto warte = OnExit([&] {
            if (vorleser.joinable()) vorleser.join();
        });

        // Its points, in chunks, on every thread.
        const std::size_t anzahl = pos - start;
        constexpr std::size_t kStueck = 64;
        std::atomic<std::size_t> naechste{0};
        const int t = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(m.threads),
                                                             (anzahl + kStueck - 1) / kStueck));
        AufThreads(std::max(t, 1), [&](int nr) {
            TArbeit& w = m.arbeit[static_cast<std::size_t>(nr)];
            TBatchAntwort a;
            for (std::size_t b; (b = naechste.fetch_add(kStueck)) < anzahl;) {
                const std::size_t e = std::min(anzahl, b + kStueck);
                for (std::size_t i = b; i < e; ++i) {
                    const std::size_t k = reihe[start + i];
                    m.Antworte(punkte[k].X, punkte[k].Y, a, w);
                    fertig(k, a);
                }
                const std::size_t g = fertigGesamt += e - b;
                if (nr == 0 && fortschritt) fortschritt(g);
            }
        });
        for (std::size_t i = start; i < pos; ++i) m.Melde(punkte[reihe[i]].X, punkte[reihe[i]].Y);
        if (vorleser.joinable()) {
            vorleser.join();
            if (vorFehler) std::rethrow_exception(vorFehler);
            ++m.uhr;  // read for the next call: not needed by this batch any more
            m.Uebernimm(voraus, vorausNeu);
        }
    }
}

}  // namespace tervalo
