#include "query/Batch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <utility>

#include "query/AbfrageZeile.h"
#include "tools/Errors.h"
#include "tools/PunktSet.h"

namespace tervalo {

namespace {

constexpr int64_t kZellGrenze = int64_t{1} << 30;
// Room made ahead for a file's points, at most: the set of positions is filled at once, so a
// large file of anything but points (one line of 2 GB) must not cost memory by its size.
// Larger tiles grow their room as they are read.
constexpr std::size_t kHoechstensVorab = std::size_t{1} << 20;

// One source file as a single query would meet it, kept in memory.
struct TGeladen {
    bool dbase = false;
    bool oeffnenFehler = false;
    bool keineDatensaetze = false;
    bool abbruch = false;        // an error ended the reading: a query selecting it ends there
    std::string fehler;
    std::string meldung;         // why the file could not be opened or read, naming it; or empty
    std::string name = TextKeinName;
    std::string lbVoll;          // what the file sets LB_Datei to; empty: leaves it
    int32_t gelesen = 0;
    // Points without repeats inside the file (a repeat can never be accepted: its first
    // occurrence lies in the same square and comes before it), sorted by cell.
    std::vector<double> x, y, z;
    std::vector<uint32_t> idx;   // position in file order
    // The occupied cells, ascending, and where each one's points begin (one more at the end):
    // a tile has far fewer cells than points, so this costs next to nothing per point.
    std::vector<int64_t> zellen;
    std::vector<uint32_t> beginn;
    bool geladen = false;        // the points are in memory
    uint64_t zuletzt = 0;        // when a query last selected it
    double bxmin = std::numeric_limits<double>::infinity();
    double bxmax = -std::numeric_limits<double>::infinity();
    double bymin = std::numeric_limits<double>::infinity();
    double bymax = -std::numeric_limits<double>::infinity();

    std::size_t Bytes() const {
        return (x.size() + y.size() + z.size() + zellen.size()) * sizeof(double) +
               (idx.size() + beginn.size()) * sizeof(uint32_t);
    }
};

struct TBox {
    double xmin, xmax, ymin, ymax;
    bool Enthaelt(double px, double py) const {
        return xmin <= px && px <= xmax && ymin <= py && py <= ymax;
    }
};

bool InEiner(const std::vector<TBox>& boxen, double px, double py) {
    for (const TBox& b : boxen)
        if (b.Enthaelt(px, py)) return true;
    return false;
}

struct TShepardTeil {
    uint64_t ordnung;  // selected file << 32 | position in the file: the store order
    double r, z;
};

}  // namespace

struct TBatchAbfrage::Impl {
    TDateien kat;
    double d, potenz;
    double zelle;  // cell side of the index
    std::map<std::string, std::unique_ptr<TGeladen>> dateien;
    TPunktSet gesehen{4096};
    std::unique_ptr<TPunktSpeicher> speicher;
    std::vector<std::string> meldungen;  // not yet fetched by NeueMeldungen
    std::size_t budget = 0;              // bytes of points kept at most; 0: no bound
    std::size_t belegt = 0;              // bytes of points held now
    int lesungen = 0;                    // files read, a file read again counted again
    uint64_t uhr = 0;                    // counts the queries, for least-recently-used

    int64_t Zelle(double v) const {
        const double q = std::floor(v / zelle);
        if (!(q >= static_cast<double>(-kZellGrenze))) return -kZellGrenze;
        if (q > static_cast<double>(kZellGrenze - 1)) return kZellGrenze - 1;
        return static_cast<int64_t>(q);
    }
    static int64_t Schluessel(int64_t cy, int64_t cx) {
        return ((cy + kZellGrenze) << 31) | (cx + kZellGrenze);
    }

    // The file with its points in memory. A file let go of is read again; its message was
    // given on the first reading already.
    TGeladen& Datei(const std::string& pfad) {
        auto it = dateien.find(pfad);
        TGeladen* f = nullptr;
        if (it == dateien.end()) {
            auto neu = std::make_unique<TGeladen>();
            Laden(pfad, *neu);
            if (!neu->meldung.empty()) meldungen.push_back(neu->meldung);
            f = dateien.emplace(pfad, std::move(neu)).first->second.get();
        } else {
            f = it->second.get();
            if (f->geladen) {
                f->zuletzt = uhr;
                return *f;
            }
            TGeladen neu;
            Laden(pfad, neu);
            // A file that went bad since its first reading is named again.
            if (!neu.meldung.empty() && neu.meldung != f->meldung) meldungen.push_back(neu.meldung);
            *f = std::move(neu);
        }
        ++lesungen;
        f->geladen = true;
        f->zuletzt = uhr;
        belegt += f->Bytes();
        Raeume();
        return *f;
    }

    // Lets go of the least recently used files until the points fit the budget. Files the
    // current query has selected carry the current time and stay, even above the budget.
    void Raeume() {
        while (budget > 0 && belegt > budget) {
            TGeladen* alt = nullptr;
            for (auto& [pfad, f] : dateien)
                if (f->geladen && f->zuletzt < uhr && f->Bytes() > 0 && (!alt || f->zuletzt < alt->zuletzt))
                    alt = f.get();
            if (!alt) return;
            belegt -= alt->Bytes();
            alt->geladen = false;
            for (auto* v : {&alt->x, &alt->y, &alt->z}) std::vector<double>().swap(*v);
            std::vector<uint32_t>().swap(alt->idx);
            std::vector<int64_t>().swap(alt->zellen);
            std::vector<uint32_t>().swap(alt->beginn);
        }
    }

    void Laden(const std::string& pfad, TGeladen& f) {
        std::vector<double> px, py, pz;
        std::vector<uint32_t> pos;
        auto imDateiBesitz = std::make_unique<TPunktSet>(1024);
        TPunktSet& imDatei = *imDateiBesitz;
        std::size_t erwartet = 0;
        uint32_t nr = 0;
        auto neu = [&](double x, double y, double z) {
            if (!imDatei.Insert(x, y)) return;
            px.push_back(x);
            py.push_back(y);
            pz.push_back(z);
            pos.push_back(nr++);
        };
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
                    px.reserve(erwartet);
                    py.reserve(erwartet);
                    pz.reserve(erwartet);
                    pos.reserve(erwartet);
                }
                imDatei.Reserve(erwartet);
                quelle.Lies<TAbfrageZeilenRegel>([&](const auto& zeile) {
                    Zaehle(f.gelesen);
                    double x, y, z;
                    if (zeile.Punkt(x, y, z) == TBefund::Punkt) neu(x, y, z);
                });
            }
        } catch (const std::exception& ex) {
            f.abbruch = true;
            f.fehler = ReadErrorMessage(ex, pfad);
            f.meldung = f.fehler;
        }

        imDateiBesitz.reset();  // the positions are not needed any more; make room for the index

        // Index: points sorted by (cell row, cell column, file order).
        const std::size_t n = px.size();
        std::vector<std::pair<int64_t, uint32_t>> ordnung(n);
        for (std::size_t i = 0; i < n; ++i) {
            ordnung[i] = {Schluessel(Zelle(py[i]), Zelle(px[i])), static_cast<uint32_t>(i)};
            f.bxmin = std::min(f.bxmin, px[i]);
            f.bxmax = std::max(f.bxmax, px[i]);
            f.bymin = std::min(f.bymin, py[i]);
            f.bymax = std::max(f.bymax, py[i]);
        }
        std::sort(ordnung.begin(), ordnung.end());
        f.x.resize(n);
        f.y.resize(n);
        f.z.resize(n);
        f.idx.resize(n);
        std::size_t zellen = 0;
        for (std::size_t t = 0; t < n; ++t)
            if (t == 0 || ordnung[t].first != ordnung[t - 1].first) ++zellen;
        f.zellen.reserve(zellen);
        f.beginn.reserve(zellen + 1);
        for (std::size_t t = 0; t < n; ++t) {
            const uint32_t i = ordnung[t].second;
            f.x[t] = px[i];
            f.y[t] = py[i];
            f.z[t] = pz[i];
            f.idx[t] = pos[i];
            if (t == 0 || ordnung[t].first != ordnung[t - 1].first) {
                f.zellen.push_back(ordnung[t].first);
                f.beginn.push_back(static_cast<uint32_t>(t));
            }
        }
        f.beginn.push_back(static_cast<uint32_t>(n));
    }

    bool IndexNutzbar(double xmin, double xmax, double ymin, double ymax) const {
        const int64_t cy0 = Zelle(ymin), cy1 = Zelle(ymax);
        const int64_t cx0 = Zelle(xmin), cx1 = Zelle(xmax);
        return cy1 >= cy0 && cx1 >= cx0 && cy1 - cy0 <= 4096;
    }

    struct TZellBereich {
        uint32_t b, e;  // its points
        int64_t cx, cy;
    };
    std::vector<TZellBereich> bereiche;  // reused from query to query

    // Every occupied cell the square touches, into bereiche. Only when IndexNutzbar.
    void ImZellen(const TGeladen& f, double xmin, double xmax, double ymin, double ymax) {
        bereiche.clear();
        const int64_t cx0 = Zelle(xmin), cx1 = Zelle(xmax);
        const std::size_t nz = f.zellen.size();
        for (int64_t cy = Zelle(ymin), cy1 = Zelle(ymax); cy <= cy1; ++cy) {
            const int64_t ende = Schluessel(cy, cx1);
            // A row of the square holds few cells: walk them rather than search for the last.
            for (auto k = static_cast<std::size_t>(
                     std::lower_bound(f.zellen.begin(), f.zellen.end(), Schluessel(cy, cx0)) - f.zellen.begin());
                 k < nz && f.zellen[k] <= ende; ++k) {
                const int64_t cx = (f.zellen[k] & ((int64_t{1} << 31) - 1)) - kZellGrenze;
                bereiche.push_back({f.beginn[k], f.beginn[k + 1], cx, cy});
            }
        }
    }

    // A box every point of the cell lies in, a little wider than the cell for the rounding of
    // the division that put them there. Not for the clamped outermost cells, which hold any
    // point beyond them.
    TBox ZellBox(int64_t cx, int64_t cy) const {
        const double x0 = static_cast<double>(cx) * zelle, x1 = static_cast<double>(cx + 1) * zelle;
        const double y0 = static_cast<double>(cy) * zelle, y1 = static_cast<double>(cy + 1) * zelle;
        const double rx = 1e-9 * (std::fabs(x0) + std::fabs(x1) + zelle);
        const double ry = 1e-9 * (std::fabs(y0) + std::fabs(y1) + zelle);
        return {x0 - rx, x1 + rx, y0 - ry, y1 + ry};
    }
    static bool Randzelle(int64_t cx, int64_t cy) {
        return cx <= -kZellGrenze || cx >= kZellGrenze - 1 || cy <= -kZellGrenze || cy >= kZellGrenze - 1;
    }

    // Calls fn(t) for every indexed point of f inside the square.
    template <class Fn>
    void ImQuadrat(const TGeladen& f, double xmin, double xmax, double ymin, double ymax, Fn&& fn) const {
        const int64_t cy0 = Zelle(ymin), cy1 = Zelle(ymax);
        const int64_t cx0 = Zelle(xmin), cx1 = Zelle(xmax);
        const std::size_t n = f.x.size();
        auto pruefe = [&](std::size_t t) {
            const double px = f.x[t], py = f.y[t];
            if (xmin <= px && px <= xmax && ymin <= py && py <= ymax) fn(t);  // InRect
        };
        if (!(cy1 >= cy0) || !(cx1 >= cx0) || cy1 - cy0 > 4096) {
            for (std::size_t t = 0; t < n; ++t) pruefe(t);  // no use for the index
            return;
        }
        for (int64_t cy = cy0; cy <= cy1; ++cy) {
            auto lo = std::lower_bound(f.zellen.begin(), f.zellen.end(), Schluessel(cy, cx0));
            auto hi = std::upper_bound(lo, f.zellen.end(), Schluessel(cy, cx1));
            for (std::size_t t = f.beginn[static_cast<std::size_t>(lo - f.zellen.begin())],
                             e = f.beginn[static_cast<std::size_t>(hi - f.zellen.begin())];
                 t < e; ++t)
                pruefe(t);
        }
    }
};

TBatchAbfrage::TBatchAbfrage(const TDateien& kat, double fangbreite, double potenz)
    : impl_(std::make_unique<Impl>()) {
    impl_->kat = kat;
    impl_->d = fangbreite;
    impl_->potenz = potenz;
    // About thirty cell rows per square whatever the capture range: most cells then lie wholly
    // inside it and far from the point, and are only counted.
    impl_->zelle = (std::isfinite(fangbreite) && fangbreite > 0) ? fangbreite / 16 : 1.0;
}

TBatchAbfrage::~TBatchAbfrage() = default;

int TBatchAbfrage::GeleseneDateien() const { return static_cast<int>(impl_->dateien.size()); }

int TBatchAbfrage::Lesungen() const { return impl_->lesungen; }

void TBatchAbfrage::SetzeSpeicher(std::size_t bytes) {
    impl_->budget = bytes;
    impl_->Raeume();
}

std::vector<std::string> TBatchAbfrage::NeueMeldungen() {
    std::vector<std::string> out;
    out.swap(impl_->meldungen);
    return out;
}

void TBatchAbfrage::Frage(double x, double y, TBatchAntwort& out) {
    Impl& m = *impl_;
    out = TBatchAntwort{};
    out.X = x;
    out.Y = y;
    ++m.uhr;
    const double xmin = x - m.d, xmax = x + m.d, ymin = y - m.d, ymax = y + m.d;

    // The files the query selects, in catalogue order, up to one whose reading ends the run.
    std::vector<const TGeladen*> gewaehlt;
    const int anzahl = std::min<int>(m.kat.Anzahl, MaxDateien);
    for (int i = 1; i <= anzahl; ++i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        if (xmin > m.kat.Xmax[ix] || xmax < m.kat.Xmin[ix] || ymin > m.kat.Ymax[ix] || ymax < m.kat.Ymin[ix])
            continue;
        const TGeladen& f = m.Datei(m.kat.Datei[ix]);
        TDateiZeile row;
        row.Nr = static_cast<int>(gewaehlt.size()) + 1;
        row.Eintrag = i;
        row.Datei = m.kat.Datei[ix];
        row.Name = f.name;
        row.DBase = f.dbase;
        row.OeffnenFehler = f.oeffnenFehler;
        row.Gelesen = f.gelesen;
        if (f.oeffnenFehler || f.keineDatensaetze) row.Fehler = f.lbVoll;
        if (!f.lbVoll.empty()) out.LB_DateiVoll = f.lbVoll;
        out.LetzterEintrag = i;
        out.Dateien.push_back(std::move(row));
        gewaehlt.push_back(&f);
        if (f.abbruch) {
            out.Dateien.back().Fehler = f.fehler;
            out.Fehler = f.fehler;
            break;
        }
    }
    const bool abbruch = !gewaehlt.empty() && gewaehlt.back()->abbruch;

    // Point boxes of the selected files inside the square: only points inside another file's
    // box can repeat a position of that file.
    const std::size_t nf = gewaehlt.size();
    std::vector<TBox> boxen(nf);
    for (std::size_t j = 0; j < nf; ++j) {
        const TGeladen& f = *gewaehlt[j];
        boxen[j] = {std::max(f.bxmin, xmin), std::min(f.bxmax, xmax), std::max(f.bymin, ymin),
                    std::min(f.bymax, ymax)};
    }
    auto ueberschneiden = [](const TBox& a, const TBox& b) {
        return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
    };

    // First way: take every point, as if the store had no limit; it has none in the usual case.
    m.gesehen.Clear();
    int anzahlPunkte = 0;
    bool hatBest = false;
    double bestR = StartAbstand;
    uint64_t bestOrd = 0;
    double bx = 0, by = 0, bz = 0;
    std::vector<TShepardTeil> shepard;
    std::vector<TBox> frueher, spaeter;
    for (std::size_t j = 0; j < nf; ++j) {
        const TGeladen& f = *gewaehlt[j];
        frueher.clear();
        spaeter.clear();
        for (std::size_t o = 0; o < nf; ++o)
            if (o != j && ueberschneiden(boxen[o], boxen[j])) (o < j ? frueher : spaeter).push_back(boxen[o]);
        TDateiZeile& row = out.Dateien[j];
        auto punkt = [&](std::size_t t) {
            const double px = f.x[t], py = f.y[t];
            if (!(xmin <= px && px <= xmax && ymin <= py && py <= ymax)) return;  // InRect
            if (!frueher.empty() && InEiner(frueher, px, py) && m.gesehen.Contains(px, py)) return;
            if (!spaeter.empty() && InEiner(spaeter, px, py)) m.gesehen.Insert(px, py);
            ++anzahlPunkte;
            ++row.Gefiltert;
            const double r = Abstand(x, y, px, py);
            const uint64_t ord = (static_cast<uint64_t>(j) << 32) | f.idx[t];
            if (r < bestR || (hatBest && r == bestR && ord < bestOrd)) {
                hatBest = true;
                bestR = r;
                bestOrd = ord;
                bx = px;
                by = py;
                bz = f.z[t];
            }
            if (ImShepardRadius(r)) shepard.push_back({ord, r, f.z[t]});
        };
        if (!m.IndexNutzbar(xmin, xmax, ymin, ymax)) {
            m.ImQuadrat(f, xmin, xmax, ymin, ymax, punkt);
            continue;
        }
        // The cells near the point first, so the nearest point is known when a far cell wholly
        // inside the square, out of the Shepard radius and of every other file's box (no
        // repeats to weed out) is met: its points are only counted.
        auto naehe = [&](const TBox& z) {
            const double dx = std::max({z.xmin - x, 0.0, x - z.xmax});
            const double dy = std::max({z.ymin - y, 0.0, y - z.ymax});
            return std::sqrt(dx * dx + dy * dy);
        };
        constexpr double kNah = ShepardRadius * (1 + 1e-9) + 1e-9;
        m.ImZellen(f, xmin, xmax, ymin, ymax);
        for (const auto& c : m.bereiche)
            if (Impl::Randzelle(c.cx, c.cy) || naehe(m.ZellBox(c.cx, c.cy)) <= kNah)
                for (std::size_t t = c.b; t < c.e; ++t) punkt(t);
        for (const auto& c : m.bereiche) {
            const int64_t cx = c.cx, cy = c.cy;
            const std::size_t b = c.b, e = c.e;
            if (Impl::Randzelle(cx, cy)) continue;
            const TBox z = m.ZellBox(cx, cy);
            const double dz = naehe(z);
            if (dz <= kNah) continue;  // seen above
            bool zaehlen = xmin <= z.xmin && z.xmax <= xmax && ymin <= z.ymin && z.ymax <= ymax &&
                           dz > bestR * (1 + 1e-9) + 1e-9;
            for (std::size_t o = 0; zaehlen && o < nf; ++o)
                if (o != j && ueberschneiden(boxen[o], z)) zaehlen = false;
            if (zaehlen) {
                anzahlPunkte += static_cast<int>(e - b);
                row.Gefiltert += static_cast<int>(e - b);
            } else {
                for (std::size_t t = b; t < e; ++t) punkt(t);
            }
        }
    }

    if (anzahlPunkte > MaxPunkte) {
        // The store fills up: meet the points in file order as the query does and stop
        // accepting at its capacity.
        if (!m.speicher) m.speicher = std::make_unique<TPunktSpeicher>();
        TPunktSpeicher& s = *m.speicher;
        s.Anzahl = 0;
        TPunktSet set(MaxPunkte);
        std::vector<std::size_t> kand;
        for (std::size_t j = 0; j < nf; ++j) {
            const TGeladen& f = *gewaehlt[j];
            TDateiZeile& row = out.Dateien[j];
            row.Gefiltert = 0;
            kand.clear();
            m.ImQuadrat(f, xmin, xmax, ymin, ymax, [&](std::size_t t) { kand.push_back(t); });
            std::sort(kand.begin(), kand.end(),
                      [&](std::size_t a, std::size_t b) { return f.idx[a] < f.idx[b]; });
            for (std::size_t t : kand) {
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
        Berechne(s, x, y, m.potenz, b);
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

    out.Anzahl = anzahlPunkte;
    if (abbruch) return;
    out.Beendet = true;
    if (anzahlPunkte == 0) return;
    out.Berechnet = true;
    if (hatBest) {
        out.HatNaechster = true;
        out.NX = bx;
        out.NY = by;
        out.NZ = bz;
        out.NR = bestR;
    }
    // The sums in store order, as the query adds them.
    std::sort(shepard.begin(), shepard.end(),
              [](const TShepardTeil& a, const TShepardTeil& b) { return a.ordnung < b.ordnung; });
    const TShepard sh = ShepardHoehe(
        [&](auto&& f) {
            for (const TShepardTeil& t : shepard) f(t.r, t.z);
        },
        m.potenz);
    out.ShepardN = sh.N;
    out.ShepardZ = sh.Z;
}

}  // namespace tervalo
