#include "tools/DuplikatSpeicher.h"

#include <algorithm>
#include <limits>

namespace tervalo {

void TDuplikatSpeicher::EndFile(const std::vector<TBereich>& later) {
    if (later.empty()) {  // nothing is read any more
        carried_ = TPunktSet();
        file_.Clear();
        return;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    // Only the extents that meet the remembered points at all, in a mosaic the few neighbours.
    TBereich um{inf, -inf, inf, -inf};
    auto umfasse = [](TBereich& b, double x, double y) {
        b.Xmin = std::min(b.Xmin, x), b.Xmax = std::max(b.Xmax, x);
        b.Ymin = std::min(b.Ymin, y), b.Ymax = std::max(b.Ymax, y);
    };
    file_.ForEach([&](double x, double y) { umfasse(um, x, y); });
    carried_.ForEach([&](double x, double y) { umfasse(um, x, y); });
    std::vector<TBereich> nah;
    for (const TBereich& b : later)
        if (b.Xmin <= um.Xmax && um.Xmin <= b.Xmax && b.Ymin <= um.Ymax && um.Ymin <= b.Ymax) nah.push_back(b);

    TPunktSet weiter;
    TBereich box{inf, -inf, inf, -inf};
    auto behalte = [&](double x, double y) {
        for (const TBereich& b : nah)
            if (b.Enthaelt(x, y)) {
                weiter.Insert(x, y);
                umfasse(box, x, y);
                return;
            }
    };
    carried_.ForEach(behalte);
    file_.ForEach(behalte);
    carried_ = std::move(weiter);
    box_ = box;
    file_.Clear();
}

}  // namespace tervalo
