#include "query/BatchPlan.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace tervalo {

namespace {
// Fewer tiles than this are looked at one by one: as fast as any grid.
constexpr std::size_t kOhneRaster = 32;
// A tile spanning more buckets than this is looked at for every point instead.
constexpr int64_t kBreitZellen = 256;

bool Finite(const TBox& b) {
    return std::isfinite(b.xmin) && std::isfinite(b.xmax) && std::isfinite(b.ymin) && std::isfinite(b.ymax) &&
           b.xmin <= b.xmax && b.ymin <= b.ymax;
}
}  // namespace

int64_t TKachelRaster::Column(double x) const {
    const double c = std::floor((x - x0_) / zelle_);
    return c < 0 ? 0 : c >= static_cast<double>(nx_ - 1) ? nx_ - 1 : static_cast<int64_t>(c);
}

int64_t TKachelRaster::Row(double y) const {
    const double r = std::floor((y - y0_) / zelle_);
    return r < 0 ? 0 : r >= static_cast<double>(ny_ - 1) ? ny_ - 1 : static_cast<int64_t>(r);
}

void TKachelRaster::Build(const std::vector<TBox>& boxen, double d) {
    *this = TKachelRaster{};
    const std::size_t n = boxen.size();
    if (n < kOhneRaster) return;
    // Buckets about a tile wide, and no narrower than the capture square, so that a square
    // meets at most a few of them.
    std::vector<double> seiten;
    for (const TBox& b : boxen)
        if (Finite(b)) seiten.push_back(std::max(b.xmax - b.xmin, b.ymax - b.ymin));
    if (seiten.size() < n / 2) return;
    std::nth_element(seiten.begin(), seiten.begin() + static_cast<std::ptrdiff_t>(seiten.size() / 2), seiten.end());
    double zelle = seiten[seiten.size() / 2];
    if (std::isfinite(d)) zelle = std::max(zelle, 2 * std::abs(d));
    // The region of the tiles not much larger than that (a box around the whole plane would
    // make one bucket of everything).
    const auto schmal = [&](const TBox& b, double z) {
        return Finite(b) && b.xmax - b.xmin <= 64 * z && b.ymax - b.ymin <= 64 * z;
    };
    double x0 = kUnendlich, x1 = -kUnendlich, y0 = kUnendlich, y1 = -kUnendlich;
    std::size_t schmale = 0;
    for (const TBox& b : boxen)
        if (schmal(b, zelle)) {
            x0 = std::min(x0, b.xmin), x1 = std::max(x1, b.xmax);
            y0 = std::min(y0, b.ymin), y1 = std::max(y1, b.ymax);
            ++schmale;
        }
    if (schmale < n / 2) return;
    const double grenze = 4.0 * static_cast<double>(n) + 1024;  // buckets at most
    const double flaeche = std::max(x1 - x0, 0.0) * std::max(y1 - y0, 0.0);
    if (!(zelle > 0) || (x1 - x0) / zelle + 1 > grenze || (y1 - y0) / zelle + 1 > grenze ||
        flaeche / (zelle * zelle) > grenze)
        zelle = std::max({zelle, std::sqrt(flaeche / grenze), (x1 - x0) / grenze, (y1 - y0) / grenze});
    if (!(zelle > 0) || !std::isfinite(zelle)) return;  // every tile at one place
    x0_ = x0, x1_ = x1, y0_ = y0, y1_ = y1, zelle_ = zelle;
    nx_ = static_cast<int64_t>(std::floor((x1 - x0) / zelle)) + 1;
    ny_ = static_cast<int64_t>(std::floor((y1 - y0) / zelle)) + 1;
    if (nx_ * ny_ > static_cast<int64_t>(2 * grenze)) {  // rounding cannot get here; be safe
        *this = TKachelRaster{};
        return;
    }
    // Two passes over the tiles in order: the buckets' lists come out ascending.
    const std::size_t zellen = static_cast<std::size_t>(nx_ * ny_);
    anfang_.assign(zellen + 1, 0);
    std::vector<char> breit(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const TBox& b = boxen[i];
        if (!schmal(b, zelle)) {
            breit[i] = 1;
            continue;
        }
        const int64_t c0 = Column(b.xmin), c1 = Column(b.xmax), r0 = Row(b.ymin), r1 = Row(b.ymax);
        if ((c1 - c0 + 1) * (r1 - r0 + 1) > kBreitZellen) {
            breit[i] = 1;
            continue;
        }
        for (int64_t r = r0; r <= r1; ++r)
            for (int64_t c = c0; c <= c1; ++c) ++anfang_[static_cast<std::size_t>(r * nx_ + c) + 1];
    }
    for (std::size_t z = 0; z < zellen; ++z) anfang_[z + 1] += anfang_[z];
    nummern_.resize(anfang_[zellen]);
    std::vector<uint32_t> frei(anfang_.begin(), anfang_.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (breit[i]) {
            breit_.push_back(static_cast<uint32_t>(i));
            continue;
        }
        const TBox& b = boxen[i];
        const int64_t c0 = Column(b.xmin), c1 = Column(b.xmax), r0 = Row(b.ymin), r1 = Row(b.ymax);
        for (int64_t r = r0; r <= r1; ++r)
            for (int64_t c = c0; c <= c1; ++c) nummern_[frei[static_cast<std::size_t>(r * nx_ + c)]++] = static_cast<uint32_t>(i);
    }
}

bool TKachelRaster::Candidates(double xmin, double xmax, double ymin, double ymax, std::vector<uint32_t>& puffer,
                               const uint32_t*& b, const uint32_t*& e) const {
    // A square given the wrong way round (a negative capture range) touches the boxes that
    // hold it: those meet its span too.
    const double xa = std::min(xmin, xmax), xb = std::max(xmin, xmax);
    const double ya = std::min(ymin, ymax), yb = std::max(ymin, ymax);
    if (!(std::isfinite(xa) && std::isfinite(xb) && std::isfinite(ya) && std::isfinite(yb))) return false;
    const bool drin = !(xa > x1_ || xb < x0_ || ya > y1_ || yb < y0_);
    if (drin && breit_.empty()) {
        const int64_t c0 = Column(xa), c1 = Column(xb), r0 = Row(ya), r1 = Row(yb);
        if (c0 == c1 && r0 == r1) {
            const std::size_t z = static_cast<std::size_t>(r0 * nx_ + c0);
            b = nummern_.data() + anfang_[z];
            e = nummern_.data() + anfang_[z + 1];
            return true;
        }
    }
    puffer.assign(breit_.begin(), breit_.end());
    if (drin) {
        const int64_t c0 = Column(xa), c1 = Column(xb), r0 = Row(ya), r1 = Row(yb);
        for (int64_t r = r0; r <= r1; ++r)
            for (int64_t c = c0; c <= c1; ++c) {
                const std::size_t z = static_cast<std::size_t>(r * nx_ + c);
                puffer.insert(puffer.end(), nummern_.begin() + anfang_[z], nummern_.begin() + anfang_[z + 1]);
            }
        std::sort(puffer.begin(), puffer.end());
        puffer.erase(std::unique(puffer.begin(), puffer.end()), puffer.end());
    }
    b = puffer.data();
    e = puffer.data() + puffer.size();
    return true;
}

void TAuswahl::Assign(std::vector<TKachelWahl> tiles, TKachelCache& cache) {
    // The numbers are 32 bits: a list that long could not be held anyway.
    if (tiles.size() > UINT32_MAX) throw std::length_error("too many tiles");
    wahl = std::move(tiles);
    boxen.resize(wahl.size());
    datei.resize(wahl.size());
    for (std::size_t i = 0; i < wahl.size(); ++i) {
        const TKachelWahl& w = wahl[i];
        boxen[i] = {w.Xmin, w.Xmax, w.Ymin, w.Ymax};
        datei[i] = &cache.File(w.Datei);
    }
    raster.Build(boxen, d);
}


TBatchPlan::TBatchPlan(const TAuswahl& auswahl, const std::vector<TBatchPunkt>& punkte, bool absteigend) {
    const std::size_t n = punkte.size();
    anfang_.resize(n + 1);
    for (std::size_t k = 0; k < n; ++k) {
        anfang_[k] = beruehrt_.size();
        auswahl.Touched(punkte[k].X, punkte[k].Y, beruehrt_);
    }
    anfang_[n] = beruehrt_.size();
    // Within the points of the same files, bands of the capture range's height walked along x:
    // neighbours are answered one after another, so the tiles' rows they read are still in
    // the cache (random points over grids of heights otherwise wait on memory for most of
    // their time). Answers do not depend on the order; the output keeps the input's.
    const double band = auswahl.d > 0 ? auswahl.d : 1.0;
    std::vector<double> streifen(n);
    for (std::size_t k = 0; k < n; ++k) streifen[k] = std::floor(punkte[k].Y / band);
    reihe_.resize(n);
    std::iota(reihe_.begin(), reihe_.end(), std::size_t{0});
    std::stable_sort(reihe_.begin(), reihe_.end(), [&](std::size_t l, std::size_t r) {
        if (absteigend) std::swap(l, r);
        const auto [lb, le] = Entries(l);
        const auto [rb, re] = Entries(r);
        if (!std::equal(lb, le, rb, re)) return std::lexicographical_compare(lb, le, rb, re);
        // NaN bands and positions compare as equal to everything: the order stays strict weak
        // only among finite ones, so they are mapped to the front.
        const double sl = std::isfinite(streifen[l]) ? streifen[l] : -HUGE_VAL;
        const double sr = std::isfinite(streifen[r]) ? streifen[r] : -HUGE_VAL;
        if (sl != sr) return sl < sr;
        const double xl = std::isfinite(punkte[l].X) ? punkte[l].X : -HUGE_VAL;
        const double xr = std::isfinite(punkte[r].X) ? punkte[r].X : -HUGE_VAL;
        return xl < xr;
    });
}

std::vector<uint32_t> TBatchPlan::AllTouched() const {
    std::vector<uint32_t> alle(beruehrt_);
    std::sort(alle.begin(), alle.end());
    alle.erase(std::unique(alle.begin(), alle.end()), alle.end());
    return alle;
}

std::size_t TBatchPlan::NextBatch(const TAuswahl& auswahl, TKachelCache& cache, std::size_t start,
                                  std::vector<TBatchDatei*>& noetig) const {
    const uint64_t marke = cache.NewMark();
    const std::size_t n = Size();
    std::size_t bytes = 0;
    noetig.clear();
    std::size_t pos = start;
    for (; pos < n; ++pos) {
        const auto [b, e] = Entries(reihe_[pos]);
        std::size_t dazu = 0;
        for (auto it = b; it != e; ++it) {
            TBatchDatei& f = *auswahl.datei[*it];
            if (f.marke != marke) dazu += TKachelCache::Estimate(f);
        }
        if (pos > start && cache.Budget() > 0 && bytes + dazu > cache.Budget()) break;
        bytes += dazu;
        for (auto it = b; it != e; ++it) {
            TBatchDatei& f = *auswahl.datei[*it];
            if (f.marke != marke) {
                f.marke = marke;
                noetig.push_back(&f);
            }
        }
    }
    return pos;
}

std::vector<TBatchDatei*> ChooseReadAhead(const TAuswahl& auswahl, TKachelCache& cache,
                                          const std::vector<TBatchPunkt>& punkte) {
    std::vector<TBatchDatei*> out;
    const uint64_t marke = cache.NewMark();
    const std::size_t budget = cache.Budget();
    std::size_t platz = budget > cache.UsedBytes() ? budget - cache.UsedBytes() : 0;
    std::vector<uint32_t> beruehrt;
    for (const TBatchPunkt& p : punkte) {
        beruehrt.clear();
        auswahl.Touched(p.X, p.Y, beruehrt);
        for (uint32_t i : beruehrt) {
            TBatchDatei& f = *auswahl.datei[i];
            if (f.Loaded() || f.marke == marke || (auswahl.wahl[i].AusOrdner && !f.geprueft)) continue;
            f.marke = marke;
            if (budget > 0) {
                if (TKachelCache::Estimate(f) > platz) return out;
                platz -= TKachelCache::Estimate(f);
            }
            out.push_back(&f);
        }
    }
    return out;
}

}  // namespace tervalo
