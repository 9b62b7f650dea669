#pragma once
// The configuration file (.KNF): settings, two column-width lists and the source catalogue.
#include <functional>
#include <string>

#include "config/TYPEN.h"

namespace tervalo {

class TextGrid;

// What the reader and writer need of the main window's result grid.
struct GridWidthHooks {
    int colCount = 0;
    // Pixel width of a column's heading text (row 0) in the window's font (load).
    std::function<int(int col)> headingWidth;
    // Sets a column's width (load).
    std::function<void(int col, int width)> setColWidth;
    // A column's current width (save).
    std::function<int(int col)> colWidth;
};

// Hooks working on a text grid: heading = cell (col, 0), measured with the grid's font.
GridWidthHooks GridHooksFor(TextGrid& grid);

// programFolder + name without extension + ".KNF" for the given program file path.
std::string KonfFileFor(const std::string& programPath);

// Reads the file into settings, width lists and catalogue and widens the result grid's
// columns whose heading is narrower than the stored width. A file that cannot be opened is
// passed over silently (every value stays). A read error after opening throws EInOutError
// (values unchanged). Bare catalogue names resolve to programFolder + "Daten/" + name.
// Entries beyond 250 and widths beyond 11 are ignored.
void KonfLoad(const std::string& path, const std::string& programFolder, TSettings& settings,
              TDateien& dateien, const GridWidthHooks* grid);

// Writes the whole file anew; the result grid's current widths go into GridBreiten first.
// Written beside the target under a temporary name and renamed over it: when the temporary
// file cannot be created nothing is written and the errno of that failure is returned (the
// program passes over it silently); a later write or rename error throws EInOutError and
// leaves the previous file intact. 0 when the file was written.
int KonfSave(const std::string& path, TSettings& settings, const TDateien& dateien,
              const GridWidthHooks* grid);

// The file's text exactly as KonfSave writes it (CR LF lines, Windows-1252).
std::string KonfText(const TSettings& settings, const TDateien& dateien);

// A short German listing of settings, widths and catalogue for people to read; numbers in
// their shortest exact form with the given decimal separator.
std::string KonfListing(const TSettings& settings, const TDateien& dateien, char decimalSeparator);

}  // namespace tervalo
