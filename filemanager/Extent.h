#pragma once
// Extent scan of one source file: the smallest and largest X and Y of its points.
#include <cstdint>
#include <optional>
#include <string>

namespace tervalo {

// Values a file without any accepted point keeps (shown as 999999999.00 and -9999999.00).
inline constexpr double kExtentStartMin = 999999999.0;
inline constexpr double kExtentStartMax = -9999999.0;

struct TExtremwerte {
    double Xmin = kExtentStartMin;
    double Xmax = kExtentStartMax;
    double Ymin = kExtentStartMin;
    double Ymax = kExtentStartMax;
    bool Found = false;     // at least one point was taken
    bool Dbase = false;     // read as dBase table (signature test)
    bool Raster = false;    // read as a raster (GeoTIFF, ASCII grid): its header alone
    bool Opened = false;    // the file could be opened
    std::string OpenError;  // German file-error text when a text file could not be opened
    uint64_t Read = 0;      // lines or live records looked at
    uint64_t Accepted = 0;  // of them, points taken into the extent
    // A raster in another system than the tiles' one (SystemHinweis); "" otherwise.
    std::string Hinweis;
};

// Text files go through the extent line reader; a text file that cannot be opened keeps the
// start values. A dBase table is opened read-only; its failures (EDbfError, EInOutError,
// ESilentAbort) propagate, as does a read error in the middle of a text file. A raster gives
// the extent of its pixel centres from its header, no pixel read; every pixel (NoData too)
// counts as read and accepted, as the lines of its XYZ export would. With the tiles' system
// given, a raster in another one gets the note in Hinweis.
TExtremwerte ReadExtremwerte(const std::string& path, std::optional<int> kachelSystem = std::nullopt);

// The same, for callers that only want the four values.
void ReadExtremwerte(const std::string& path, double& Xmin, double& Xmax, double& Ymin, double& Ymax);

}  // namespace tervalo
