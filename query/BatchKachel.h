#pragma once
// The batch's tiles. A point tile keeps a file's points without repeats in index rows of a
// fixed height, each row sorted by x, so that a row's points inside a square are one run of
// it. The answering code meets a tile only through what it asks of it (its box, how many
// points lie in a square, whether it holds a position, its points in a square), so a tile of
// another kind, a grid of heights, can stand beside it as another alternative of TKachel.
// A tile is never changed once built: any number of threads may read it at once.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

#include "formats/Raster.h"
#include "tools/GrosseSeiten.h"

namespace tervalo {

inline constexpr int64_t kZellGrenze = int64_t{1} << 30;
inline constexpr double kUnendlich = std::numeric_limits<double>::infinity();

struct TBox {
    double xmin, xmax, ymin, ymax;
    bool Contains(double px, double py) const {
        return xmin <= px && px <= xmax && ymin <= py && py <= ymax;
    }
};

inline bool Overlap(const TBox& a, const TBox& b) {
    return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

// Index row of a coordinate: floor(v / zelle), clamped so it fits 32 bits.
inline int32_t IndexRow(double v, double zelle) {
    const double q = std::floor(v / zelle);
    if (!(q >= static_cast<double>(-kZellGrenze))) return static_cast<int32_t>(-kZellGrenze);
    if (q > static_cast<double>(kZellGrenze - 1)) return static_cast<int32_t>(kZellGrenze - 1);
    return static_cast<int32_t>(q);
}

// The first index in [b, e) whose x is not below v (with Nach: is above v), x ascending there.
// The guess from the run's spread is near for grid rows; doubling steps from it bracket the
// answer, so a row costs a few probes close together rather than a search over all of it.
template <bool Nach>
std::size_t SearchRun(const double* x, std::size_t b, std::size_t e, double v) {
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

// A point as read, before the index is built.
struct TRohPunkt {
    double x, y, z;
    uint32_t pos;   // in file order
    int32_t zeile;  // index row
};

class TPunktKachel {
public:
    // The index of the points read, whose rows were set for the row height `zelle` (none for
    // a file that gave no points). Sorts `roh` and keeps the first of each position.
    TPunktKachel(TGrossVektor<TRohPunkt>& roh, double zelle);

    // The box of the points; empty (infinite bounds the wrong way round) without any.
    const TBox& Bounds() const { return rahmen_; }
    std::size_t PointCount() const { return x_.size(); }
    std::size_t Bytes() const {
        return (x_.size() + y_.size() + z_.size()) * sizeof(double) + idx_.size() * sizeof(uint32_t) +
               zeilen_.size() * sizeof(int32_t) + beginn_.size() * sizeof(uint32_t) + zaehl_.size() * sizeof(uint32_t);
    }

    // Points inside the box: whole runs of rows that lie inside it for sure, the others point
    // by point.
    int64_t Count(const TBox& q) const {
        int64_t n = 0;
        ForEachRun(q, [&](std::size_t b, std::size_t e, bool innen) {
            if (innen) {
                n += static_cast<int64_t>(e - b);
                return;
            }
            for (std::size_t t = b; t < e; ++t) n += q.ymin <= y_[t] && y_[t] <= q.ymax;
        });
        return n;
    }

    // At least the number of points inside the box, found from a coarse grid of counts in four
    // looks (Count where the tile has no such grid). Enough to know that a square cannot fill
    // the query's store, without counting it.
    int64_t CountBound(const TBox& q) const {
        if (zaehl_.empty()) return Count(q);
        if (!(q.xmin <= q.xmax) || !(q.ymin <= q.ymax) || !Overlap(q, rahmen_)) return 0;
        // The cells of the box's corners: a point inside it lies in a cell between them, as
        // the cell of a coordinate never decreases with it.
        auto zelle = [&](double v, int32_t ursprung, int64_t n) {
            return std::clamp<int64_t>(int64_t{IndexRow(v, zaehlZelle_)} - ursprung, 0, n - 1);
        };
        const int64_t s0 = zelle(q.xmin, zaehlX0_, zaehlNx_), s1 = zelle(q.xmax, zaehlX0_, zaehlNx_);
        const int64_t z0 = zelle(q.ymin, zaehlY0_, zaehlNy_), z1 = zelle(q.ymax, zaehlY0_, zaehlNy_);
        const int64_t b = zaehlNx_ + 1;
        auto summe = [&](int64_t z, int64_t s) { return static_cast<int64_t>(zaehl_[static_cast<std::size_t>(z * b + s)]); };
        return summe(z1 + 1, s1 + 1) - summe(z0, s1 + 1) - summe(z1 + 1, s0) + summe(z0, s0);
    }

    // A point met in a square: its position, and on asking its height and its place in the
    // file (most points met are passed over by their position alone).
    struct TTreffer {
        double x, y;
        const TPunktKachel* k;
        std::size_t t;
        double Z() const { return k->z_[t]; }
        uint32_t Position() const { return k->idx_[t]; }
    };

    // Calls fn(TTreffer) for every point inside the box, row by row.
    template <class Fn>
    void ForEachIn(const TBox& q, Fn&& fn) const {
        ForEachRun(q, [&](std::size_t b, std::size_t e, bool innen) {
            for (std::size_t t = b; t < e; ++t)
                if (innen || (q.ymin <= y_[t] && y_[t] <= q.ymax)) fn(TTreffer{x_[t], y_[t], this, t});
        });
    }

    // Whether the tile holds a point at exactly (px, py).
    bool Contains(double px, double py) const {
        const int32_t r = IndexRow(py, zelle_);
        const auto it = std::lower_bound(zeilen_.begin(), zeilen_.end(), r);
        if (it == zeilen_.end() || *it != r) return false;
        const std::size_t k = static_cast<std::size_t>(it - zeilen_.begin());
        std::size_t lo = beginn_[k], hi = beginn_[k + 1];
        while (lo < hi) {  // first point not before (px, py)
            const std::size_t mitte = lo + (hi - lo) / 2;
            if (x_[mitte] < px || (x_[mitte] == px && y_[mitte] < py))
                lo = mitte + 1;
            else
                hi = mitte;
        }
        return lo < beginn_[k + 1] && x_[lo] == px && y_[lo] == py;
    }

private:
    // Whether every point of row r surely lies within [ymin, ymax]: the row's band, a little
    // wider for the rounding of the division that put the points there. Not for the clamped
    // outermost rows, which hold any point beyond them.
    bool RowInside(int32_t r, double ymin, double ymax) const {
        if (r <= -kZellGrenze || r >= kZellGrenze - 1) return false;
        const double y0 = static_cast<double>(r) * zelle_, y1 = static_cast<double>(r + 1) * zelle_;
        const double ry = 1e-9 * (std::fabs(y0) + std::fabs(y1) + zelle_);
        return ymin <= y0 - ry && y1 + ry <= ymax;
    }

    // Calls fn(b, e, innen) for every row that can hold points of the box: [b, e) are its
    // points with xmin <= x <= xmax; innen says their y lies in [ymin, ymax] for sure.
    template <class Fn>
    void ForEachRun(const TBox& q, Fn&& fn) const {
        if (!(q.xmin <= q.xmax) || !(q.ymin <= q.ymax)) return;
        const int32_t r1 = IndexRow(q.ymax, zelle_);
        const double* x = x_.data();
        for (auto k = static_cast<std::size_t>(
                 std::lower_bound(zeilen_.begin(), zeilen_.end(), IndexRow(q.ymin, zelle_)) - zeilen_.begin());
             k < zeilen_.size() && zeilen_[k] <= r1; ++k) {
            const std::size_t b = SearchRun<false>(x, beginn_[k], beginn_[k + 1], q.xmin);
            const std::size_t e = SearchRun<true>(x, b, beginn_[k + 1], q.xmax);
            if (b < e) fn(b, e, RowInside(zeilen_[k], q.ymin, q.ymax));
        }
    }

    // The grid of counts: cells of side zaehlZelle_ (two rows high or more), numbered as IndexRow
    // numbers them from the box's corner cell; zaehl_ holds the points below and left of
    // each cell corner (a summed-area table). Empty when the tile is too sparse for it.
    void BuildCountGrid();

    double zelle_ = 1.0;            // row height
    double zaehlZelle_ = 2.0;
    int32_t zaehlX0_ = 0, zaehlY0_ = 0;
    int64_t zaehlNx_ = 0, zaehlNy_ = 0;
    std::vector<uint32_t> zaehl_;
    TGrossVektor<double> x_, y_, z_;
    TGrossVektor<uint32_t> idx_;    // position in file order
    std::vector<int32_t> zeilen_;   // the occupied rows, ascending
    std::vector<uint32_t> beginn_;  // where each row's points begin, one more at the end
    TBox rahmen_{kUnendlich, -kUnendlich, kUnendlich, -kUnendlich};
};

// Pixels [s0, s1) of row `zeile` of a raster that could not be read.
struct TRasterSchaden {
    int32_t zeile, s0, s1;
};

// A raster tile as a grid of its raw values (float where that is exact, else double), row by
// row as in the file; a pixel that gives no point holds NaN. Its points are the pixel centres
// as the reader computes them, its heights the raw values with scale and offset applied when
// asked, so every answer meets the values the query meets. A square's pixels are found from
// the grid, not by search; a point's position in the file is its pixel's place in the grid.
class TRasterKachel {
public:
    // `werte`: Kopf().Pixel() values in the type FloatGenau() asks for (the other vector
    // empty), NaN where no point is. `schaden`: the pieces that could not be read.
    TRasterKachel(const TRasterKopf& kopf, TGrossVektor<float> f, TGrossVektor<double> d,
                  std::vector<TRasterSchaden> schaden);

    const TRasterKopf& Kopf() const { return kopf_; }
    // The box of the valid pixels' centres; empty (infinite bounds the wrong way round) without any.
    const TBox& Bounds() const { return rahmen_; }
    std::size_t PointCount() const { return punkte_; }
    std::size_t Bytes() const {
        return f_.size() * sizeof(float) + d_.size() * sizeof(double) +
               (gueltig_.size() + rang_.size()) * sizeof(uint64_t) + schaden_.size() * sizeof(TRasterSchaden);
    }

    // The pixels whose centres lie in the box, bounds included: exactly the reader's
    // FensterUeber, found from the grid's spacing with a step or two of correction.
    TPixelFenster Window(const TBox& q) const;

    // Valid pixels inside the box: the window's size when the raster has no hole, else per
    // row the difference of two ranks in the bitmap of valid pixels.
    int64_t Count(const TBox& q) const {
        const TPixelFenster w = Window(q);
        if (w.Leer()) return 0;
        if (gueltig_.empty()) return static_cast<int64_t>(w.Pixel());
        int64_t n = 0;
        const uint64_t spalten = static_cast<uint64_t>(kopf_.Spalten);
        for (int32_t z = w.Zeile; z < w.Zeile + w.Hoehe; ++z) {
            const uint64_t b = static_cast<uint64_t>(z) * spalten + static_cast<uint64_t>(w.Spalte);
            n += static_cast<int64_t>(Rank(b + static_cast<uint64_t>(w.Breite)) - Rank(b));
        }
        return n;
    }

    struct TTreffer {
        double x, y;
        const TRasterKachel* k;
        uint64_t t;
        double Z() const { return k->Height(t); }
        uint64_t Position() const { return t; }
    };

    // Calls fn(TTreffer) for every valid pixel inside the box, in file order.
    template <class Fn>
    void ForEachIn(const TBox& q, Fn&& fn) const {
        const TPixelFenster w = Window(q);
        if (w.Leer()) return;
        if (d_.empty())
            Walk(w, f_.data(), fn);
        else
            Walk(w, d_.data(), fn);
    }

    // Whether a valid pixel has its centre at exactly (px, py).
    bool Contains(double px, double py) const {
        const int32_t s = Exact(px, kopf_.X0, kopf_.DX, kopf_.Spalten);
        if (s < 0) return false;
        const int32_t z = Exact(py, kopf_.Y0, kopf_.DY, kopf_.Zeilen);
        if (z < 0) return false;
        return !std::isnan(Raw(static_cast<uint64_t>(z) * static_cast<uint64_t>(kopf_.Spalten) + static_cast<uint64_t>(s)));
    }

    double Height(uint64_t t) const { return kopf_.Hoehe(Raw(t)); }

    // When the box's window touches a piece that could not be read: the window's rows read
    // whole before it, from the window's first (a query there reads those, then fails).
    std::optional<int32_t> RowsBeforeDamage(const TPixelFenster& w) const;
    bool Damaged() const { return !schaden_.empty(); }

private:
    double Raw(uint64_t t) const { return d_.empty() ? static_cast<double>(f_[t]) : d_[t]; }
    uint64_t Rank(uint64_t i) const {
        const uint64_t wort = i >> 6, bit = i & 63;
        const uint64_t maske = bit ? (gueltig_[wort] & ((uint64_t{1} << bit) - 1)) : 0;
        return rang_[wort] + static_cast<uint64_t>(__builtin_popcountll(maske));
    }
    // The index whose centre o + (i + 0.5) * d is exactly v; -1 when none is.
    static int32_t Exact(double v, double o, double d, int32_t n);

    // The window's rows lie a whole row apart, which the processor does not fetch ahead:
    // asking for all of them at once lets their loads from memory overlap. Small windows only.
    template <class T>
    void PrefetchRows(const TPixelFenster& w, const T* v) const {
        if (w.Leer() || w.Hoehe > 64) return;
        const uint64_t spalten = static_cast<uint64_t>(kopf_.Spalten);
        for (int32_t z = w.Zeile; z < w.Zeile + w.Hoehe; ++z) {
            const T* zeile = v + static_cast<uint64_t>(z) * spalten;
            __builtin_prefetch(zeile + w.Spalte);
            __builtin_prefetch(zeile + w.Spalte + w.Breite - 1);
        }
    }

    template <class T, class Fn>
    void Walk(const TPixelFenster& w, const T* v, Fn& fn) const {
        const uint64_t spalten = static_cast<uint64_t>(kopf_.Spalten);
        PrefetchRows(w, v);
        for (int32_t z = w.Zeile; z < w.Zeile + w.Hoehe; ++z) {
            const double y = kopf_.Y(z);
            const uint64_t b = static_cast<uint64_t>(z) * spalten;
            for (int32_t s = w.Spalte; s < w.Spalte + w.Breite; ++s) {
                const uint64_t t = b + static_cast<uint64_t>(s);
                if (std::isnan(v[t])) continue;
                fn(TTreffer{kopf_.X(s), y, this, t});
            }
        }
    }

    TRasterKopf kopf_;
    TGrossVektor<float> f_;
    TGrossVektor<double> d_;
    std::vector<uint64_t> gueltig_;  // bit per pixel, set when valid; empty when all are
    std::vector<uint64_t> rang_;     // valid pixels before each word of gueltig_
    std::vector<TRasterSchaden> schaden_;  // by row, then column
    std::size_t punkte_ = 0;
    TBox rahmen_{kUnendlich, -kUnendlich, kUnendlich, -kUnendlich};
};

// Every kind of tile the cache holds; the answering code visits it.
using TKachel = std::variant<TPunktKachel, TRasterKachel>;

// Where a query with that square reading the tile meets damage: the part of the square it
// reads before (as a box holding just those rows' pixels) and the lines it has read by then.
struct TSchadenSchnitt {
    TBox box;
    uint64_t gelesen;
};
inline std::optional<TSchadenSchnitt> DamageCut(const TKachel& k, const TBox& q) {
    const auto* r = std::get_if<TRasterKachel>(&k);
    if (!r || !r->Damaged()) return std::nullopt;
    const TPixelFenster w = r->Window(q);
    const std::optional<int32_t> vor = r->RowsBeforeDamage(w);
    if (!vor) return std::nullopt;
    const TRasterKopf& kopf = r->Kopf();
    TSchadenSchnitt s{q, static_cast<uint64_t>(w.Zeile + *vor) * static_cast<uint64_t>(kopf.Spalten)};
    if (*vor == 0) {
        s.box = {kUnendlich, -kUnendlich, kUnendlich, -kUnendlich};
    } else if (kopf.DY < 0) {  // north-up: the rows read are the northern ones
        s.box.ymin = kopf.Y(w.Zeile + *vor - 1);
    } else {
        s.box.ymax = kopf.Y(w.Zeile + *vor - 1);
    }
    return s;
}

inline std::size_t TileBytes(const TKachel& k) {
    return std::visit([](const auto& t) { return t.Bytes(); }, k);
}
inline std::size_t TilePoints(const TKachel& k) {
    return std::visit([](const auto& t) { return t.PointCount(); }, k);
}

}  // namespace tervalo
