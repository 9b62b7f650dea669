#pragma once
// The catalogue as the file manager edits it: its rows in the order shown, each a file with
// its extent. The window only shows the rows; OK writes the named ones back into TDateien.
#include <cstddef>
#include <string>
#include <vector>

#include "config/TYPEN.h"

namespace tervalo {

struct TKatalogZeile {
    std::string Datei;  // the path as added or catalogued; empty in a blank row
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
    // A folder entry: Datei names the folder (no "/" at the end); Kacheln is its tile count as
    // its index holds it (shown, never stored).
    bool IstOrdner = false;
    std::size_t Kacheln = 0;

    // File name and folder, blanks at both ends removed; a row without a name is blank.
    std::string Name() const;
    std::string Ordner() const;
    // Folder and name joined: the path the catalogue keeps.
    std::string Pfad() const { return Ordner() + Name(); }
};

// Rows are numbered from 1, like the grid rows showing them. There is always at least one
// row: an empty catalogue is one blank row, the place to insert before.
class TKatalog {
public:
    TKatalog();
    // The entries 1..Anzahl (at most 250) as rows; a path that is a folder now is a folder row
    // (its Kacheln left 0: the caller that holds its index fills it in).
    static TKatalog FromDateien(const TDateien& dateien);

    int Rows() const { return static_cast<int>(rows_.size()); }
    const TKatalogZeile& Row(int row) const { return rows_.at(static_cast<std::size_t>(row - 1)); }

    // Inserts before `row` (Rows() + 1 appends); outside that range nothing happens.
    void InsertAt(int row, TKatalogZeile z);
    // Puts a file into an existing row.
    void SetRow(int row, TKatalogZeile z);
    // Removes a row; the last one left is blanked instead.
    void Remove(int row);
    // Moves a row to another place, the others closing up, as dragging it does.
    void Move(int from, int to);

    // A file row carries this file name (compared with the row's name as shown, blanks
    // removed). Folder rows never match: their whole path decides (ContainsOrdner).
    bool ContainsName(const std::string& name) const;
    // A folder row names this folder (the whole path; a "/" at its end does not count).
    bool ContainsOrdner(const std::string& pfad) const;
    int NamedRows() const;
    // The catalogue takes no further file.
    bool Full() const { return NamedRows() >= MaxDateien; }

    // The named rows in order become entries 1..n (at most 250), with the extents as the
    // configuration file stores them (two decimals; a folder row's rounded outwards); entries
    // beyond n and KonfDatei stay.
    void ToDateien(TDateien& dateien) const;

private:
    std::vector<TKatalogZeile> rows_;
};

// An extent rounded the way the configuration file stores it.
double RoundKatalogWert(double v);
// The same, rounded down / up to two decimals: a folder's box still holds every tile.
double RoundKatalogWertAb(double v);
double RoundKatalogWertAuf(double v);

}  // namespace tervalo
