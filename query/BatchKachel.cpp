#include "query/BatchKachel.h"

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
}

}  // namespace tervalo
