#pragma once
// The memory of the X/Y positions a run has written, to leave out repeated points.
#include <algorithm>
#include <cstddef>
#include <limits>
#include <vector>

#include "tools/PunktSet.h"

namespace tervalo {

// A rectangle of positions, bounds included.
struct TBereich {
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
    bool Enthaelt(double x, double y) const { return Xmin <= x && x <= Xmax && Ymin <= y && y <= Ymax; }
};

// Remembers the X/Y positions written and answers whether a point repeats one of them (exact
// double equality; Z plays no part). A run reads its files one after another; memory is
// bounded by what can still repeat: every point of the file being read (a file may repeat
// itself), and of the earlier files only the points that a later file can hold, that is the
// points inside a later file's extent. EndFile hands those on; the conversion reads one file
// and never ends it.
class TDuplikatSpeicher {
public:
    TDuplikatSpeicher() = default;
    TDuplikatSpeicher(const TDuplikatSpeicher&) = delete;
    TDuplikatSpeicher& operator=(const TDuplikatSpeicher&) = delete;

    // False when (x, y) repeats a remembered point; otherwise true, and the point is
    // remembered as one of the current file. A NaN position repeats nothing.
    bool Insert(double x, double y) {
        if (InBox(x, y) && carried_.Contains(x, y)) return false;
        return file_.Insert(x, y);
    }
    bool Contains(double x, double y) const {
        return file_.Contains(x, y) || (InBox(x, y) && carried_.Contains(x, y));
    }
    // Announces a point that Insert will soon be asked about.
    void Prefetch(double x, double y) const { file_.Prefetch(x, y); }
    // The current file ended: of its points and of those carried so far, only the ones inside
    // one of `later` (the extents of the files still to be read) are kept.
    void EndFile(const std::vector<TBereich>& later);
    // The same for a run over many files, which answers itself whether a later file's
    // extent holds (x, y): `laterHolds(x, y)` is asked for each point remembered.
    template <class F>
    void EndFileKeeping(F&& laterHolds) {
        // Sized for all of them: most stay while the run is among neighbours.
        TPunktSet weiter(carried_.Size() + file_.Size());
        TBereich box{kInf, -kInf, kInf, -kInf};
        auto behalte = [&](double x, double y) {
            if (!laterHolds(x, y)) return;
            weiter.Insert(x, y);
            box.Xmin = std::min(box.Xmin, x), box.Xmax = std::max(box.Xmax, x);
            box.Ymin = std::min(box.Ymin, y), box.Ymax = std::max(box.Ymax, y);
        };
        carried_.ForEach(behalte);
        file_.ForEach(behalte);
        carried_ = std::move(weiter);
        box_ = box;
        file_.Clear();
    }
    // Forgets the current file's points, as if it had not been read.
    void DropFile() { file_.Clear(); }

    std::size_t FilePoints() const { return file_.Size(); }
    std::size_t CarriedPoints() const { return carried_.Size(); }

private:
    static constexpr double kInf = std::numeric_limits<double>::infinity();
    TPunktSet file_;
    TPunktSet carried_;
    // Bounding box of the carried points: a point outside it spares the second look-up.
    TBereich box_;
    bool InBox(double x, double y) const { return carried_.Size() > 0 && box_.Enthaelt(x, y); }
};

}  // namespace tervalo
