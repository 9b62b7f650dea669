#pragma once
// Planning a batch call: which tiles each point touches, the order that reads each file as
// seldom as possible (points grouped by the tiles they touch), the batches whose files fit
// the memory bound together, and the files worth reading ahead.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "ordner/Kacheln.h"
#include "query/Batch.h"
#include "query/BatchCache.h"

namespace tervalo {

// Buckets of tile numbers on a uniform grid, so that a point's tiles are found without
// looking at every tile. Empty (Aktiv() false) when there are too few tiles to gain by it or
// their boxes do not spread.
class TKachelRaster {
public:
    void Build(const std::vector<TBox>& boxen, double d);
    bool Aktiv() const { return nx_ > 0; }
    // The tiles whose box may touch the rectangle, ascending; false when the rectangle is not
    // finite (then every tile must be looked at). `puffer` holds the result when several
    // buckets are met; otherwise [b, e) points into the grid.
    bool Candidates(double xmin, double xmax, double ymin, double ymax, std::vector<uint32_t>& puffer,
                    const uint32_t*& b, const uint32_t*& e) const;

private:
    int64_t Column(double x) const;
    int64_t Row(double y) const;

    double x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0, zelle_ = 1;
    int64_t nx_ = 0, ny_ = 0;
    std::vector<uint32_t> anfang_;  // per bucket where its tiles begin, one more at the end
    std::vector<uint32_t> nummern_;
    std::vector<uint32_t> breit_;   // tiles in no bucket (not finite, or spanning too many)
};

// The tiles of one call as the batch selects from them: the catalogue's choice for the
// call's region (plain entries and folder tiles in catalogue order), their boxes and files.
struct TAuswahl {
    double d = 0;                       // capture range
    std::vector<TKachelWahl> wahl;      // the tiles, in catalogue order
    std::vector<TBox> boxen;            // the box each is selected by
    std::vector<TBatchDatei*> datei;    // the file each reads
    TKachelRaster raster;

    // Takes the tiles and makes their files known to the cache.
    void Assign(std::vector<TKachelWahl> tiles, TKachelCache& cache);

    // Whether tile i's box meets the square, exactly as the query decides for an entry.
    bool Touches(uint32_t i, double xmin, double xmax, double ymin, double ymax) const {
        const TBox& b = boxen[i];
        return !(xmin > b.xmax || xmax < b.xmin || ymin > b.ymax || ymax < b.ymin);
    }

    // Calls fn(tile number, file) for each tile whose box the square at (x, y) touches, in
    // catalogue order, until fn returns false.
    template <class Fn>
    void Select(double x, double y, Fn&& fn) const {
        const double xmin = x - d, xmax = x + d, ymin = y - d, ymax = y + d;
        const uint32_t n = static_cast<uint32_t>(boxen.size());
        const uint32_t *b = nullptr, *e = nullptr;
        thread_local std::vector<uint32_t> puffer;
        if (!raster.Aktiv() || !raster.Candidates(xmin, xmax, ymin, ymax, puffer, b, e)) {
            for (uint32_t i = 0; i < n; ++i)
                if (Touches(i, xmin, xmax, ymin, ymax) && !fn(i, *datei[i])) return;
            return;
        }
        for (; b != e; ++b)
            if (Touches(*b, xmin, xmax, ymin, ymax) && !fn(*b, *datei[*b])) return;
    }
    // The tiles a query at (x, y) may select (all whose box its square touches).
    void Touched(double x, double y, std::vector<uint32_t>& out) const {
        Select(x, y, [&](uint32_t i, const TBatchDatei&) {
            out.push_back(i);
            return true;
        });
    }
};

// The points of one call in the order they are answered, with the tiles each touches.
class TBatchPlan {
public:
    // absteigend: grouped in reverse order (every other call, so that the files read last
    // are the first needed next).
    TBatchPlan(const TAuswahl& auswahl, const std::vector<TBatchPunkt>& punkte, bool absteigend);

    std::size_t Size() const { return reihe_.size(); }
    // The point answered at that place.
    std::size_t Point(std::size_t pos) const { return reihe_[pos]; }
    // The tiles point k touches.
    std::pair<const uint32_t*, const uint32_t*> Entries(std::size_t k) const {
        return {beruehrt_.data() + anfang_[k], beruehrt_.data() + anfang_[k + 1]};
    }
    // Every tile some point touches, ascending.
    std::vector<uint32_t> AllTouched() const;

    // The next batch from place `start`: the points in order while their files fit the
    // budget together (at least one point). Puts its files in `noetig`; returns its end.
    std::size_t NextBatch(const TAuswahl& auswahl, TKachelCache& cache, std::size_t start,
                          std::vector<TBatchDatei*>& noetig) const;

private:
    std::vector<std::size_t> anfang_;  // where each point's tiles begin, one more at the end
    std::vector<uint32_t> beruehrt_;
    std::vector<std::size_t> reihe_;
};

// The files the points will touch that are not loaded and fit beside the loaded ones without
// letting go of any, for reading ahead. Folder tiles not yet checked are left to the call
// that needs them, which checks them first.
std::vector<TBatchDatei*> ChooseReadAhead(const TAuswahl& auswahl, TKachelCache& cache,
                                          const std::vector<TBatchPunkt>& punkte);

}  // namespace tervalo
