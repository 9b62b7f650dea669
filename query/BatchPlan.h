#pragma once
// Planning a batch call: which catalogue entries each point touches, the order that reads
// each file as seldom as possible (points grouped by the entries they touch), the batches
// whose files fit the memory bound together, and the files worth reading ahead.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "config/TYPEN.h"
#include "query/Batch.h"
#include "query/BatchCache.h"

namespace tervalo {

// The catalogue as the batch selects from it: the entries' boxes and their files.
struct TAuswahl {
    TDateien kat;
    double d = 0;                            // capture range
    int eintraege = 0;
    std::vector<TBatchDatei*> eintrag;       // per catalogue entry (1-based)

    // Calls fn(entry, file) for each entry whose box the square at (x, y) touches, in
    // catalogue order, until fn returns false.
    template <class Fn>
    void Select(double x, double y, Fn&& fn) const {
        const double xmin = x - d, xmax = x + d, ymin = y - d, ymax = y + d;
        for (int i = 1; i <= eintraege; ++i) {
            const std::size_t ix = static_cast<std::size_t>(i);
            if (!TouchesEintrag(kat, ix, xmin, xmax, ymin, ymax)) continue;
            if (!fn(i, *eintrag[ix])) return;
        }
    }
    // The entries a query at (x, y) may select (all whose box its square touches), as 8-bit
    // entry numbers.
    static_assert(MaxDateien <= UINT8_MAX);
    void Touched(double x, double y, std::vector<uint8_t>& out) const {
        Select(x, y, [&](int i, const TBatchDatei&) {
            out.push_back(static_cast<uint8_t>(i));
            return true;
        });
    }
};

// The points of one call in the order they are answered, with the entries each touches.
class TBatchPlan {
public:
    // absteigend: grouped in reverse order (every other call, so that the files read last
    // are the first needed next).
    TBatchPlan(const TAuswahl& auswahl, const std::vector<TBatchPunkt>& punkte, bool absteigend);

    std::size_t Size() const { return reihe_.size(); }
    // The point answered at that place.
    std::size_t Point(std::size_t pos) const { return reihe_[pos]; }
    // The entries point k touches.
    std::pair<const uint8_t*, const uint8_t*> Entries(std::size_t k) const {
        return {beruehrt_.data() + anfang_[k], beruehrt_.data() + anfang_[k + 1]};
    }

    // The next batch from place `start`: the points in order while their files fit the
    // budget together (at least one point). Puts its files in `noetig`; returns its end.
    std::size_t NextBatch(const TAuswahl& auswahl, TKachelCache& cache, std::size_t start,
                          std::vector<TBatchDatei*>& noetig) const;

private:
    std::vector<uint32_t> anfang_;  // where each point's entries begin, one more at the end
    std::vector<uint8_t> beruehrt_;
    std::vector<std::size_t> reihe_;
};

// The files the points will touch that are not loaded and fit beside the loaded ones without
// letting go of any, for reading ahead.
std::vector<TBatchDatei*> ChooseReadAhead(const TAuswahl& auswahl, TKachelCache& cache,
                                          const std::vector<TBatchPunkt>& punkte);

}  // namespace tervalo
