#pragma once
// Unit Tools: character filters, number conversions, path and grid helpers.
// Texts are byte strings; positions reported to callers count from 1.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "tools/Dezimal.h"

namespace tervalo {

// --- character filters -------------------------------------------------------
std::string RemoveBlanks(std::string_view s);             // drops code 32 only
std::string CommaToPoint(std::string_view s);             // "," -> "."
std::string NumberChars(std::string_view s);              // keeps + , - . 0-9
std::string CleanNumber(std::string_view s, bool withExponent);  // + - 0-9 [Ee], "," and "." -> "."
std::string IntegerChars(std::string_view s);             // keeps + - 0-9
std::string ToUpper(std::string_view s);                  // a-z only
std::string TrimLeft(std::string_view s);                 // drops codes <= 32 at the start
std::string Trim(std::string_view s);                     // drops codes <= 32 at both ends

// --- text lines ----------------------------------------------------------------
// Text lines are read up to this many bytes (far more than any point line needs); the rest of
// a longer line is passed over and the line still counts once, so memory never depends on the
// length of a line.
inline constexpr std::size_t LinePrefixBytes = std::size_t{64} * 1024;

// --- number conversions --------------------------------------------------------
// Decimal conversion: returns the error position (0 = success). On failure `value`
// holds the mantissa digits met before the failing character as a whole number.
int ValDouble(std::string_view text, double& value);
// Integer conversion (signed 32-bit), same failure rule.
int ValInt(std::string_view text, int32_t& value);
// FixedText and AppendFixedText: tools/Dezimal.h.
// Appends `fill` until the text has `length` characters.
std::string PadRight(std::string_view s, std::size_t length, char fill = ' ');
// Parses up to 11 integers separated by `sep` into target[0..10]; returns how many were stored.
// Linear in the length of the text; items beyond the eleventh are passed over.
int ParseIntList(std::string_view text, char sep, int32_t (&target)[11]);
// A message naming a file: the text followed by ": " and the path, unless it names it already.
std::string NamePath(std::string text, std::string_view path);
// The message for an error met while reading the file at `path`, for callers that must not
// stay silent: a silent abort gives its detail, every other error its text; both name the path.
std::string ReadErrorMessage(const std::exception& e, std::string_view path);

// --- files and paths -----------------------------------------------------------
bool IsFolderSeparator(char c);                           // "\", ":" and "/"
// Not all blanks; codes 32..122 and bytes from 128 up (UTF-8 names), none of " * < > ? [ ]
// ("/" passes: it is the separator here).
bool IsValidFileName(std::string_view s);
std::string FolderPart(std::string_view path);            // up to and including the last separator
std::string FileNamePart(std::string_view path);
std::string NameWithoutExt(std::string_view path);
// Width in pixels of a text in the font concerned; supplied by the window.
struct TTextMass {
    virtual ~TTextMass() = default;
    virtual int TextWidth(std::string_view text) const = 0;
};
// Drops leading folders until the path fits; a bare name still too wide gets an ellipsis
// inside it that keeps its end ("dgm1_…_nw.xyz.gz"). Texts are UTF-8; a cut never splits a
// character. Without room even for the ellipsis and the last character: the bare name.
std::string ShortenPath(std::string_view path, const TTextMass& font, int maxWidth);

// --- text grids ----------------------------------------------------------------
// The small grid interface the result grid and the file grid implement.
class TTextGitter : public TTextMass {
public:
    virtual int ColCount() const = 0;
    virtual int RowCount() const = 0;
    virtual void SetRowCount(int rows) = 0;
    virtual std::string Cell(int col, int row) const = 0;
    virtual void SetCell(int col, int row, const std::string& text) = 0;
    virtual int ColWidth(int col) const = 0;
    virtual void SetColWidth(int col, int width) = 0;
};
// Row numbers outside the grid (insert: 0..RowCount, delete: 0..RowCount-1) change nothing.
void InsertGridRow(TTextGitter& grid, int row);
void DeleteGridRow(TTextGitter& grid, int row);
void CenterCell(TTextGitter& grid, int col, int row);

// --- geometry and arithmetic ---------------------------------------------------
bool InRect(double x, double y, double xmin, double xmax, double ymin, double ymax);
double SafePower(double base, double exponent, int& error);

}  // namespace tervalo
