#include "filemanager/Katalog.h"

#include <algorithm>

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
        k.rows_.push_back({dateien.Datei[j], dateien.Xmin[j], dateien.Xmax[j], dateien.Ymin[j], dateien.Ymax[j]});
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
    return std::any_of(rows_.begin(), rows_.end(), [&](const TKatalogZeile& z) { return z.Name() == name; });
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
        dateien.Xmin[j] = RoundKatalogWert(z.Xmin);
        dateien.Xmax[j] = RoundKatalogWert(z.Xmax);
        dateien.Ymin[j] = RoundKatalogWert(z.Ymin);
        dateien.Ymax[j] = RoundKatalogWert(z.Ymax);
    }
    dateien.Anzahl = static_cast<uint8_t>(n);
}

double RoundKatalogWert(double v) {
    // Through the two-decimal text the file stores: the value kept is the value shown.
    double r = 0.0;
    ValDouble(NumberChars(FixedText(v, 10, 2)), r);
    return r;
}

}  // namespace tervalo
