#include "query/BatchPlan.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tervalo {

TBatchPlan::TBatchPlan(const TAuswahl& auswahl, const std::vector<TBatchPunkt>& punkte, bool absteigend) {
    const std::size_t n = punkte.size();
    anfang_.resize(n + 1);
    for (std::size_t k = 0; k < n; ++k) {
        anfang_[k] = static_cast<uint32_t>(beruehrt_.size());
        auswahl.Touched(punkte[k].X, punkte[k].Y, beruehrt_);
    }
    anfang_[n] = static_cast<uint32_t>(beruehrt_.size());
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
            TBatchDatei& f = *auswahl.eintrag[*it];
            if (f.marke != marke) dazu += TKachelCache::Estimate(f);
        }
        if (pos > start && cache.Budget() > 0 && bytes + dazu > cache.Budget()) break;
        bytes += dazu;
        for (auto it = b; it != e; ++it) {
            TBatchDatei& f = *auswahl.eintrag[*it];
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
    std::vector<uint8_t> beruehrt;
    for (const TBatchPunkt& p : punkte) {
        beruehrt.clear();
        auswahl.Touched(p.X, p.Y, beruehrt);
        for (uint8_t i : beruehrt) {
            TBatchDatei& f = *auswahl.eintrag[i];
            if (f.Loaded() || f.marke == marke) continue;
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
