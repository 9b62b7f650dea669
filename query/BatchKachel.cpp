#include "query/BatchKachel.h"

#include <cmath>
#include <stdexcept>

namespace tervalo {

TPunktKachel::TPunktKachel(TGrossVektor<TRohPunkt>& roh, double zelle) : zelle_(zelle) {
    // Rows, x, y, then file order: repeats of a position stand together, their first first.
    // (-0.0 and 0.0 compare equal, as the query's store has them.) A repeat can never be
    // accepted: its first occurrence lies in the same square and comes before it.
    std::sort(roh.begin(), roh.end(), [](const TRohPunkt& a, const TRohPunkt& b) {
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
    for (auto* v : {&x_, &y_, &z_}) v->reserve(n);
    idx_.reserve(n);
    zeilen_.reserve(zeilen);
    beginn_.reserve(zeilen + 1);
    for (std::size_t t = 0; t < n; ++t) {
        const TRohPunkt& p = roh[t];
        x_.push_back(p.x);
        y_.push_back(p.y);
        z_.push_back(p.z);
        idx_.push_back(p.pos);
        rahmen_.xmin = std::min(rahmen_.xmin, p.x);
        rahmen_.xmax = std::max(rahmen_.xmax, p.x);
        rahmen_.ymin = std::min(rahmen_.ymin, p.y);
        rahmen_.ymax = std::max(rahmen_.ymax, p.y);
        if (t == 0 || p.zeile != roh[t - 1].zeile) {
            zeilen_.push_back(p.zeile);
            beginn_.push_back(static_cast<uint32_t>(t));
        }
    }
    beginn_.push_back(static_cast<uint32_t>(n));
    BuildCountGrid();
}

void TPunktKachel::BuildCountGrid() {
    if (x_.empty()) return;
    // Cells of two rows, or larger for a sparse tile: half a byte per point at most, as a cell
    // per eight points (a tile spread too thinly for that counts exactly).
    const int64_t grenze = static_cast<int64_t>(x_.size() / 8) + 16;
    const double flaeche = (rahmen_.xmax - rahmen_.xmin) * (rahmen_.ymax - rahmen_.ymin);
    zaehlZelle_ = std::max(2 * zelle_, std::sqrt(flaeche / static_cast<double>(grenze)));
    int64_t zellen = 0;
    for (int versuch = 0; versuch < 8; ++versuch, zaehlZelle_ *= 2) {
        if (!std::isfinite(zaehlZelle_) || !(zaehlZelle_ > 0)) return;
        zaehlX0_ = IndexRow(rahmen_.xmin, zaehlZelle_);
        zaehlY0_ = IndexRow(rahmen_.ymin, zaehlZelle_);
        zaehlNx_ = int64_t{IndexRow(rahmen_.xmax, zaehlZelle_)} - zaehlX0_ + 1;
        zaehlNy_ = int64_t{IndexRow(rahmen_.ymax, zaehlZelle_)} - zaehlY0_ + 1;
        zellen = (zaehlNx_ + 1) * (zaehlNy_ + 1);
        if (zellen <= grenze) break;
    }
    if (zellen > grenze || zellen > (int64_t{1} << 24)) return;
    const int64_t b = zaehlNx_ + 1;
    zaehl_.assign(static_cast<std::size_t>(zellen), 0);
    for (std::size_t t = 0; t < x_.size(); ++t) {
        const int64_t s = int64_t{IndexRow(x_[t], zaehlZelle_)} - zaehlX0_;
        const int64_t z = int64_t{IndexRow(y_[t], zaehlZelle_)} - zaehlY0_;
        ++zaehl_[static_cast<std::size_t>((z + 1) * b + s + 1)];
    }
    for (int64_t z = 1; z <= zaehlNy_; ++z)
        for (int64_t s = 1; s <= zaehlNx_; ++s) {
            const auto i = static_cast<std::size_t>(z * b + s);
            zaehl_[i] += zaehl_[i - 1] + zaehl_[i - static_cast<std::size_t>(b)] - zaehl_[i - 1 - static_cast<std::size_t>(b)];
        }
}

}  // namespace tervalo

namespace tervalo {

namespace {

// The first index in [0, n] for which `ja` holds (false, then true), walked to from the guess:
// the grid puts it within a step or two of it.
template <class F>
int32_t FirstFrom(double guess, int32_t n, F ja) {
    int32_t i = !(guess > 0) ? 0 : guess >= static_cast<double>(n) ? n : static_cast<int32_t>(guess);
    while (i > 0 && ja(i - 1)) --i;
    while (i < n && !ja(i)) ++i;
    return i;
}

// The indices whose centres c(i) = o + (i + 0.5) * d lie in [min, max], as the reader finds
// them by search.
template <class C>
std::pair<int32_t, int32_t> Range(int32_t n, double o, double d, double min, double max, C c) {
    if (!(min <= max)) return {0, 0};  // NaN too
    int32_t a, b;
    if (d > 0) {
        a = FirstFrom((min - o) / d - 0.5, n, [&](int32_t i) { return c(i) >= min; });
        b = FirstFrom((max - o) / d - 0.5, n, [&](int32_t i) { return c(i) > max; });
    } else {
        a = FirstFrom((max - o) / d - 0.5, n, [&](int32_t i) { return c(i) <= max; });
        b = FirstFrom((min - o) / d - 0.5, n, [&](int32_t i) { return c(i) < min; });
    }
    return {a, std::max(a, b)};
}

}  // namespace

TRasterKachel::TRasterKachel(const TRasterKopf& kopf, TGrossVektor<float> f, TGrossVektor<double> d,
                             std::vector<TRasterSchaden> schaden)
    : kopf_(kopf), f_(std::move(f)), d_(std::move(d)), schaden_(std::move(schaden)) {
    const uint64_t n = kopf_.Pixel();
    if (f_.size() + d_.size() != n || (!f_.empty() && !d_.empty()))
        throw std::logic_error("TRasterKachel: values do not fit the header");
    std::sort(schaden_.begin(), schaden_.end(), [](const TRasterSchaden& a, const TRasterSchaden& b) {
        return a.zeile != b.zeile ? a.zeile < b.zeile : a.s0 < b.s0;
    });
    int32_t smin = INT32_MAX, smax = -1, zmin = INT32_MAX, zmax = -1;
    const int32_t spalten = kopf_.Spalten;
    auto zaehlen = [&](const auto* v) {
        for (int32_t z = 0; z < kopf_.Zeilen; ++z) {
            const auto* zeile = v + static_cast<uint64_t>(z) * static_cast<uint64_t>(spalten);
            int32_t erste = -1, letzte = -1;
            for (int32_t s = 0; s < spalten; ++s)
                if (!std::isnan(zeile[s])) {
                    if (erste < 0) erste = s;
                    letzte = s;
                    ++punkte_;
                }
            if (erste < 0) continue;
            smin = std::min(smin, erste);
            smax = std::max(smax, letzte);
            zmin = std::min(zmin, z);
            zmax = z;
        }
    };
    if (d_.empty())
        zaehlen(f_.data());
    else
        zaehlen(d_.data());
    if (punkte_ == 0) return;
    const double xa = kopf_.X(smin), xb = kopf_.X(smax), ya = kopf_.Y(zmin), yb = kopf_.Y(zmax);
    rahmen_ = {std::min(xa, xb), std::max(xa, xb), std::min(ya, yb), std::max(ya, yb)};
    if (punkte_ == n) return;
    // Holes: a bit per pixel and the count before each word, so a row's valid pixels in a
    // window are two ranks apart.
    gueltig_.assign(static_cast<std::size_t>(n / 64 + 1), 0);
    for (uint64_t t = 0; t < n; ++t)
        if (!std::isnan(Raw(t))) gueltig_[t >> 6] |= uint64_t{1} << (t & 63);
    rang_.resize(gueltig_.size());
    uint64_t vor = 0;
    for (std::size_t w = 0; w < gueltig_.size(); ++w) {
        rang_[w] = vor;
        vor += static_cast<uint64_t>(__builtin_popcountll(gueltig_[w]));
    }
}

TPixelFenster TRasterKachel::Window(const TBox& q) const {
    const TRasterKopf& k = kopf_;
    const auto [s0, s1] = Range(k.Spalten, k.X0, k.DX, q.xmin, q.xmax, [&k](int32_t i) { return k.X(i); });
    if (s1 <= s0) return {};
    const auto [z0, z1] = Range(k.Zeilen, k.Y0, k.DY, q.ymin, q.ymax, [&k](int32_t i) { return k.Y(i); });
    if (z1 <= z0) return {};
    return {s0, z0, s1 - s0, z1 - z0};
}

int32_t TRasterKachel::Exact(double v, double o, double d, int32_t n) {
    const double g = std::floor((v - o) / d);
    if (!(g >= -1.0 && g <= static_cast<double>(n))) return -1;  // NaN too
    const int32_t m = static_cast<int32_t>(g);
    for (int32_t i = std::max(0, m - 1); i <= std::min(n - 1, m + 1); ++i)
        if (o + (i + 0.5) * d == v) return i;  // the centre as TRasterKopf computes it
    return -1;
}

std::optional<int32_t> TRasterKachel::RowsBeforeDamage(const TPixelFenster& w) const {
    if (w.Leer() || schaden_.empty()) return std::nullopt;
    const int32_t ende = w.Zeile + w.Hoehe, rechts = w.Spalte + w.Breite;
    auto it = std::lower_bound(schaden_.begin(), schaden_.end(), w.Zeile,
                               [](const TRasterSchaden& s, int32_t z) { return s.zeile < z; });
    for (; it != schaden_.end() && it->zeile < ende; ++it)
        if (it->s0 < rechts && it->s1 > w.Spalte) return it->zeile - w.Zeile;
    return std::nullopt;
}

}  // namespace tervalo
