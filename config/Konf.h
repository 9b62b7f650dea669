#pragma once
// The configuration file (.KNF): settings, two column-width lists and the source catalogue.
#include <cstdint>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "config/TYPEN.h"
#include "tools/SafeWriter.h"

namespace tervalo {

class TTextGitter;

// What the stored widths need of the main window's result grid.
struct TGitterZugriff {
    int colCount = 0;
    // Pixel width of a column's heading text (row 0) in the window's font.
    std::function<int(int col)> headingWidth;
    // Sets a column's width.
    std::function<void(int col, int width)> setColWidth;
    // A column's current width.
    std::function<int(int col)> colWidth;
};

// Hooks working on a text grid: heading = cell (col, 0), measured with the grid's font.
TGitterZugriff GitterZugriffFor(TTextGitter& grid);

// programFolder + name without extension + ".KNF" for the given program file path.
std::string KonfFileFor(const std::string& programPath);

// What KonfLoad found.
struct TKonfGelesen {
    bool Vorhanden = false;          // the file existed and was read
    uint64_t Eintraege = 0;          // valid catalogue entries in the file, the surplus included
    bool ZuVieleEintraege = false;   // more than MaxDateien: only the first were taken
    bool GridBreiten = false;        // the result grid's width line held numbers
};

// Reads the file into settings, width lists and catalogue. Only a missing file (ENOENT, or
// ENOTDIR on the way) is passed over silently: every value stays. A file that exists but
// cannot be read (no permission, a folder, a pipe, a read error midway) throws EInOutError
// naming the path, and no value changes. Bare catalogue names resolve to programFolder +
// "Daten/" + name. Entries beyond 250 are counted but not taken; widths beyond 11 ignored.
TKonfGelesen KonfLoad(const std::string& path, const std::string& programFolder, TSettings& settings,
                      TDateien& dateien);

// After loading: widens the result grid's columns whose heading is narrower than the stored
// width. Nothing when the file's width line held no numbers (earlier widths included).
void ApplyGridWidths(const TKonfGelesen& gelesen, const TSettings& settings, const TGitterZugriff& grid);

// Before saving: the result grid's current widths go into GridBreiten.
void TakeGridWidths(TSettings& settings, const TGitterZugriff& grid);

// The files a run's output must never replace: the catalogued sources and the catalogue's
// configuration file.
TSchutz ProtectedFiles(const TDateien& catalogue);

// Writes the whole file anew through the safe writer (the catalogued sources are protected).
// Throws EZielAbgelehnt when the file cannot be created (refused: not a regular file,
// write-protected for this user, folder not writable, ...; nothing written) and EInOutError
// for a later failure (the previous file stays as it was). An existing file keeps its mode
// (and owner, as root). With ordnerAnlegen, missing folders on the way are created first
// (the per-user configuration folder of an installed program).
void KonfSave(const std::string& path, const TSettings& settings, const TDateien& dateien,
              bool ordnerAnlegen = false);

// The file's text exactly as KonfSave writes it (CR LF lines, Windows-1252).
std::string KonfText(const TSettings& settings, const TDateien& dateien);

// A short German listing of settings, widths and catalogue for people to read; numbers in
// their shortest exact form with the given decimal separator.
std::string KonfListing(const TSettings& settings, const TDateien& dateien, char decimalSeparator);
// The same; `ordnerKacheln(i)` gives a folder entry's tile count (empty for a file entry), and
// its line ends in "  (Ordner, <n> Kacheln)".
std::string KonfListing(const TSettings& settings, const TDateien& dateien, char decimalSeparator,
                        const std::function<std::optional<std::size_t>(int eintrag)>& ordnerKacheln);
// "<n> Kacheln", "1 Kachel": a folder entry's count as listings show it.
std::string KachelnText(std::size_t n);

}  // namespace tervalo
