#include "filemanager/Katalog.h"

#include <algorithm>

#include "ordner/Kacheln.h"
#include "tools/Tools.h"

namespace tervalo {

std::string TKatalogZeile::Name() const { return Trim(FileNamePart(Datei)); }

std::string TKatalogZeile::Ordner() const { return Trim(FolderPart(Datei)); }

TKatalog::TKatalog() : rows_(1) {}

TKatalog TKatalog::FromDateien(const TDateien& dateien) {
    TKatalog k;
    const int n = dateien.Eintraege();
    if (n > 0) k.rows_.clear();
    for (int i = 1; i <= n; ++i) {
        const auto j = static_cast<std::size_t>(i);
        TKatalogZeile z{dateien.Datei[j], dateien.Xmin[j], dateien.Xmax[j], dateien.Ymin[j], dateien.Ymax[j]};
        z.IstOrdner = IsOrdnerEintrag(z.Datei);
        k.rows_.push_back(std::move(z));
    }
    return k;
}

void TKatalog::InsertAt(int row, TKatalogZeile z) {
    if (row < 1 || row > Rows() + 1) return;
    rows_.insert(rows_.begin() + (row - 1), std::move(z));
}

void TKatalog::SetRow(int row, TKatalogZeile z) {
    if (row >= 1 && row <= Rows()) rows_[static_cast<std::size_t>(row - 1)] = std::move(z);
}

void TKatalog::Remove(int row) {
    if (row < 1 || row > Rows()) return;
    if (Rows() == 1)
        rows_[0] = {};
    else
        rows_.erase(rows_.begin() + (row - 1));
}

void TKatalog::Move(int from, int to) {
    if (from < 1 || to < 1 || from > Rows() || to > Rows() || from == to) return;
    const auto f = rows_.begin() + (from - 1), t = rows_.begin() + (to - 1);
    if (from < to)
        std::rotate(f, f + 1, t + 1);
    else
        std::rotate(t, f, f + 1);
}

bool TKatalog::ContainsName(const std::string& name) const {
    // A folder's last part is no file name: two folders named alike are two entries.
    return std::any_of(rows_.begin(), rows_.end(),
                       [&](const TKatalogZeile& z) { return !z.IstOrdner && z.Name() == name; });
}

bool TKatalog::ContainsOrdner(const std::string& pfad) const {
    std::string p = Trim(pfad);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return std::any_of(rows_.begin(), rows_.end(), [&](const TKatalogZeile& z) { return z.IstOrdner && z.Pfad() == p; });
}

int TKatalog::NamedRows() const {
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const TKatalogZeile& z) { return !z.Name().empty(); }));
}

void TKatalog::ToDateien(TDateien& dateien) const {
    int n = 0;
    for (const TKatalogZeile& z : rows_) {
        if (n >= MaxDateien) break;
        if (z.Name().empty()) continue;
        const auto j = static_cast<std::size_t>(++n);
        dateien.Datei[j] = z.Pfad();
        // A folder's box is the union of its tiles: rounded outwards, it still holds them all.
        auto runter = z.IstOrdner ? RoundKatalogWertAb : RoundKatalogWert;
        auto hoch = z.IstOrdner ? RoundKatalogWertAuf : RoundKatalogWert;
        dateien.Xmin[j] = runter(z.Xmin);
        dateien.Xmax[j] = hoch(z.Xmax);
        dateien.Ymin[j] = runter(z.Ymin);
        dateien.Ymax[j] = hoch(z.Ymax);
    }
    dateien.Anzahl = static_cast<uint8_t>(n);
}

double RoundKatalogWert(double v) {
    // Through the two-decimal text the file stores: the value kept is the value shown.
    double r = 0.0;
    ValDouble(NumberChars(FixedText(v, 10, 2)), r);
    return r;
}

double RoundKatalogWertAb(double v) {
    const double r = RoundKatalogWert(v);
    return r > v ? RoundKatalogWert(r - 0.01) : r;
}

double RoundKatalogWertAuf(double v) {
    const double r = RoundKatalogWert(v);
    return r < v ? RoundKatalogWert(r + 0.01) : r;
}

}  // namespace tervalo
