#include "query/BatchAntwort.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <variant>

namespace tervalo {

namespace {

// What the answering code asks of a tile, whatever its kind.
bool Holds(const TKachel& k, double px, double py) {
    return std::visit([&](const auto& t) { return t.Contains(px, py); }, k);
}
int64_t CountIn(const TKachel& k, const TBox& q) {
    return std::visit([&](const auto& t) { return t.Count(q); }, k);
}
int64_t CountBoundIn(const TKachel& k, const TBox& q) {
    if (const auto* p = std::get_if<TPunktKachel>(&k)) return p->CountBound(q);
    return CountIn(k, q);
}
// fn(point) for every point of the tile inside the box: point.x, point.y, point.Z() and
// point.Position(), its place in the file.
template <class Fn>
void ForEachIn(const TKachel& k, const TBox& q, Fn&& fn) {
    std::visit([&](const auto& t) { t.ForEachIn(q, fn); }, k);
}

// The files the query selects, in catalogue order, up to one whose reading ends the run, with
// their rows. Returns whether such a file ends it.
bool SelectFiles(const TAuswahl& auswahl, double x, double y, const TBox& quadrat, THoehenAntwort& out,
                 TArbeitsspeicher& w) {
    w.gewaehlt.clear();
    w.kacheln.clear();
    w.fang.clear();
    bool abbruch = false;
    auswahl.Select(x, y, [&](uint32_t nr, const TBatchDatei& f) {
        const TDateiBefund& b = f.befund;
        const int i = auswahl.wahl[nr].Eintrag;
        TDateiZeile row;
        row.Nr = static_cast<int>(std::min<std::size_t>(w.gewaehlt.size() + 1, INT_MAX));
        row.Eintrag = i;
        row.Datei = f.pfad;
        row.Name = b.name;
        row.DBase = b.dbase;
        row.OeffnenFehler = b.oeffnenFehler;
        row.Gelesen = b.gelesen;
        if (b.oeffnenFehler || b.keineDatensaetze) row.Fehler = b.lbVoll;
        row.Hinweis = b.hinweis;
        if (b.defekt) row.Fehler = b.fehler;
        if (!b.lbVoll.empty()) out.LB_DateiVoll = b.lbVoll;
        out.LetzterEintrag = i;
        out.LetzteDatei = f.pfad;
        out.Dateien.push_back(std::move(row));
        w.gewaehlt.push_back(&f);
        w.kacheln.push_back(f.kachel.get());
        w.fang.push_back(quadrat);
        if (b.abbruch) {
            out.Dateien.back().Fehler = b.fehler;
            out.Fehler = b.fehler;
            abbruch = true;
            return false;
        }
        // A damaged raster ends the query only where its window meets the damage, after the
        // rows before it.
        if (const std::optional<TSchadenSchnitt> s = DamageCut(*f.kachel, quadrat)) {
            TDateiZeile& r = out.Dateien.back();
            r.Gelesen = static_cast<int32_t>(std::min<uint64_t>(s->gelesen, INT32_MAX));
            r.Fehler = b.schaden;
            out.Fehler = b.schaden;
            w.fang.back() = s->box;
            abbruch = true;
            return false;
        }
        return true;
    });
    return abbruch;
}

// Point boxes of the selected files inside the square: only a point inside an earlier file's
// box can repeat a position the store already holds.
void PrepareBoxes(TArbeitsspeicher& w) {
    const std::size_t nf = w.gewaehlt.size();
    w.boxen.resize(nf);
    if (w.frueher.size() < nf) w.frueher.resize(nf);
    for (std::size_t j = 0; j < nf; ++j) {
        const TBox& quadrat = w.fang[j];
        const TBox& r = std::visit([](const auto& t) -> const TBox& { return t.Bounds(); }, *w.kacheln[j]);
        w.boxen[j] = {std::max(r.xmin, quadrat.xmin), std::min(r.xmax, quadrat.xmax),
                      std::max(r.ymin, quadrat.ymin), std::min(r.ymax, quadrat.ymax)};
        w.frueher[j].clear();
        for (std::size_t o = 0; o < j; ++o)
            if (Overlap(w.boxen[o], w.boxen[j])) w.frueher[j].push_back(o);
    }
}

// Whether the store already holds the position when file j offers it. Inlined: it runs for
// the points where files overlap.
[[gnu::always_inline]] inline bool Repeated(const TArbeitsspeicher& w, std::size_t j, double px, double py) {
    for (std::size_t o : w.frueher[j])
        if (w.boxen[o].Contains(px, py) && Holds(*w.kacheln[o], px, py)) return true;
    return false;
}

// Where the earlier files' boxes meet file j's.
TBox EarlierOverlap(const TArbeitsspeicher& w, std::size_t j) {
    TBox u{kUnendlich, -kUnendlich, kUnendlich, -kUnendlich};
    for (std::size_t o : w.frueher[j]) {
        u.xmin = std::min(u.xmin, std::max(w.boxen[o].xmin, w.boxen[j].xmin));
        u.xmax = std::max(u.xmax, std::min(w.boxen[o].xmax, w.boxen[j].xmax));
        u.ymin = std::min(u.ymin, std::max(w.boxen[o].ymin, w.boxen[j].ymin));
        u.ymax = std::max(u.ymax, std::min(w.boxen[o].ymax, w.boxen[j].ymax));
    }
    return u;
}

// Counting, as if the store had no limit (it has none in the usual case): the points inside
// the square less the repeats of earlier files' points. Sets each row's count.
int64_t CountPoints(const TArbeitsspeicher& w, THoehenAntwort& out) {
    int64_t anzahl = 0;
    for (std::size_t j = 0; j < w.gewaehlt.size(); ++j) {
        const TKachel& k = *w.kacheln[j];
        int64_t n = CountIn(k, w.fang[j]);
        if (!w.frueher[j].empty())
            ForEachIn(k, EarlierOverlap(w, j), [&](const auto& p) { n -= Repeated(w, j, p.x, p.y); });
        anzahl += n;
        out.Dateien[j].Gefiltert = static_cast<int>(std::min<int64_t>(n, INT32_MAX));
    }
    return anzahl;
}

// The store fills up: meet the points in file order as the query does and stop accepting at
// its capacity.
void FillStore(TArbeitsspeicher& w, THoehenAntwort& out) {
    if (!w.speicher) w.speicher = std::make_unique<TPunktSpeicher>();
    if (!w.set) w.set = std::make_unique<TPunktSet>(MaxPunkte);
    TPunktSpeicher& s = *w.speicher;
    TPunktSet& set = *w.set;
    set.Clear();
    s.Anzahl = 0;
    for (std::size_t j = 0; j < w.gewaehlt.size(); ++j) {
        TDateiZeile& row = out.Dateien[j];
        row.Gefiltert = 0;
        w.kand.clear();
        ForEachIn(*w.kacheln[j], w.fang[j], [&](const auto& p) { w.kand.push_back({p.Position(), p.x, p.y, p.Z()}); });
        std::sort(w.kand.begin(), w.kand.end(), [](const TKandidat& a, const TKandidat& b) { return a.pos < b.pos; });
        for (const TKandidat& p : w.kand) {
            if (s.Anzahl >= MaxPunkte) break;
            if (!set.Insert(p.x, p.y)) continue;
            const int i = ++s.Anzahl;
            s.X[static_cast<std::size_t>(i)] = p.x;
            s.Y[static_cast<std::size_t>(i)] = p.y;
            s.Z[static_cast<std::size_t>(i)] = p.z;
            ++row.Gefiltert;
        }
    }
    out.Anzahl = s.Anzahl;
}

// Nearest point and Shepard height over the filled store, as the query computes them.
void AnswerFromStore(TArbeitsspeicher& w, double x, double y, double potenz, THoehenAntwort& out) {
    TPunktSpeicher& s = *w.speicher;
    TBerechnung b;
    Compute(s, x, y, potenz, b);
    out.Berechnet = true;
    if (b.Naechster > 0) {
        const std::size_t i = static_cast<std::size_t>(b.Naechster);
        out.HatNaechster = true;
        out.Naechster = {s.X[i], s.Y[i], s.Z[i], s.R[i]};
    }
    out.ShepardN = b.ShepardN;
    out.ShepardZ = b.ShepardZ;
    out.Rangliste.clear();
    for (int r = 1; r <= RanglisteGroesse; ++r) {
        const std::size_t i = static_cast<std::size_t>(b.Rang[static_cast<std::size_t>(r)]);
        if (i == 0) break;
        out.Rangliste.push_back({s.X[i], s.Y[i], s.Z[i], s.R[i]});
    }
}

struct TNaechster {
    bool hat = false;
    double r = StartAbstand;
    TOrdnung ordnung;
    double x = 0, y = 0, z = 0;
};

// One look at the points in the box `nah` around (x, y): the nearest so far, and with
// `shepard` the points within the Shepard radius.
void LookNear(TArbeitsspeicher& w, const TBox& nah, double x, double y, bool shepard, TNaechster& naechster) {
    TNaechster best = naechster;  // a local of its own stays in registers
    for (std::size_t j = 0; j < w.gewaehlt.size(); ++j) {
        if (!Overlap(w.boxen[j], nah)) continue;
        const bool frueher = !w.frueher[j].empty();
        ForEachIn(*w.kacheln[j], nah, [&](const auto& p) __attribute__((always_inline)) {
            // A point surely farther than the nearest so far and outside the Shepard radius
            // changes nothing: passed over by its squared distance, without the root. The
            // margin covers the rounding of the root and of the squares.
            const double dx = x - p.x, dy = y - p.y, d2 = dx * dx + dy * dy;
            const double grenze = shepard ? std::max(best.r * best.r, ShepardRadius * ShepardRadius) : best.r * best.r;
            if (d2 > grenze * (1 + 1e-12)) return;
            if (frueher && Repeated(w, j, p.x, p.y)) return;
            const double pr = Abstand(x, y, p.x, p.y);
            const TOrdnung ord{static_cast<uint32_t>(j), p.Position()};
            if (pr < best.r || (best.hat && pr == best.r && ord < best.ordnung))
                best = {true, pr, ord, p.x, p.y, p.Z()};
            if (shepard && InShepardRadius(pr)) w.shepard.push_back({ord, pr, p.Z()});
        });
    }
    naechster = best;
}

// Whether the box holds every selected file's points inside the square.
bool CoversAll(const TArbeitsspeicher& w, const TBox& nah) {
    for (const TBox& b : w.boxen)
        if (b.xmin <= b.xmax && b.ymin <= b.ymax &&
            !(nah.xmin <= b.xmin && b.xmax <= nah.xmax && nah.ymin <= b.ymin && b.ymax <= nah.ymax))
            return false;
    return true;
}

// The Shepard height of the parts in their order. Kept out of line: inlined into the search,
// its loop saves and restores more registers around each log and exp (measured: the answers
// took a few per cent more instructions).
[[gnu::noinline]] TShepard ShepardSum(const std::vector<TShepardTeil>& teile, double potenz) {
    return ComputeShepard(
        [&](auto&& fn) {
            for (const TShepardTeil& t : teile) fn(t.r, t.z);
        },
        potenz);
}

// The points near (x, y): those within the Shepard radius, and the nearest one. A box of half
// side R around the point holds every point closer than R; it grows until it holds a point
// that near or covers the square.
// Without the Shepard height the first box may be smaller: most grids have a point within it.
void AnswerNear(TArbeitsspeicher& w, const TBox& quadrat, double x, double y, double potenz, bool shepard,
                THoehenAntwort& out) {
    TNaechster best;
    w.shepard.clear();
    const double erster = shepard ? ShepardRadius : ShepardRadius / 4;
    for (double r = erster;; r *= 4) {
        const double rand = r * (1 + 1e-9) + 1e-9;
        const TBox nah{std::max(quadrat.xmin, x - rand), std::min(quadrat.xmax, x + rand),
                       std::max(quadrat.ymin, y - rand), std::min(quadrat.ymax, y + rand)};
        LookNear(w, nah, x, y, shepard && r == erster, best);
        if ((best.hat && best.r <= r) || CoversAll(w, nah) || !std::isfinite(r)) break;
    }
    if (best.hat) {
        out.HatNaechster = true;
        out.Naechster = {best.x, best.y, best.z, best.r};
    }
    if (!shepard) return;
    // The sums in store order, as the query adds them. A raster alone meets its pixels in
    // that order already.
    const auto vor = [](const TShepardTeil& a, const TShepardTeil& b) { return a.ordnung < b.ordnung; };
    if (!std::is_sorted(w.shepard.begin(), w.shepard.end(), vor)) std::sort(w.shepard.begin(), w.shepard.end(), vor);
    const TShepard sh = ShepardSum(w.shepard, potenz);
    out.ShepardN = sh.N;
    out.ShepardZ = sh.Z;
}

}  // namespace

void AnswerPoint(const TAuswahl& auswahl, double potenz, double x, double y, THoehenAntwort& out,
                 TArbeitsspeicher& w, TUmfang umfang) {
    out = THoehenAntwort{};
    out.X = x;
    out.Y = y;
    out.Fangbreite = auswahl.d;
    out.Potenz = potenz;
    const double d = auswahl.d;
    const TBox quadrat{x - d, x + d, y - d, y + d};
    const bool abbruch = SelectFiles(auswahl, x, y, quadrat, out, w);
    PrepareBoxes(w);
    const bool shepard = umfang != TUmfang::Naechster;
    if ((umfang == TUmfang::Naechster || umfang == TUmfang::NaechsterUndShepard) && !abbruch) {
        // Fewer points than the store holds, by the bound: the answer comes from the points
        // near (x, y), as below, without counting the square. No point at all is found then
        // exactly when the square holds none.
        int64_t schranke = 0;
        for (std::size_t j = 0; j < w.gewaehlt.size() && schranke <= MaxPunkte; ++j)
            schranke += CountBoundIn(*w.kacheln[j], w.fang[j]);
        if (schranke <= MaxPunkte) {
            out.Beendet = true;
            if (schranke == 0) return;
            AnswerNear(w, quadrat, x, y, potenz, shepard, out);
            out.Berechnet = out.HatNaechster;
            return;
        }
    }
    const int64_t anzahl = CountPoints(w, out);
    if (umfang == TUmfang::MitRangliste) {
        // The ranking needs the store as the query fills it.
        FillStore(w, out);
        if (abbruch) return;
        out.Beendet = true;
        if (out.Anzahl > 0) AnswerFromStore(w, x, y, potenz, out);
        return;
    }
    if (anzahl > MaxPunkte) {
        FillStore(w, out);
        if (abbruch) return;
        out.Beendet = true;
        AnswerFromStore(w, x, y, potenz, out);
        return;
    }
    out.Anzahl = static_cast<int>(anzahl);
    if (abbruch) return;
    out.Beendet = true;
    if (anzahl == 0) return;
    out.Berechnet = true;
    AnswerNear(w, quadrat, x, y, potenz, shepard, out);
}

}  // namespace tervalo
