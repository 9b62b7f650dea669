#pragma once
// Reading one catalogued file for the batch, the way a single height query meets it: what
// the query's row and labels will show, and the file's points as a tile.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "query/BatchKachel.h"
#include "query/Query.h"

namespace tervalo {

// What reading a file found, as a single query would meet it.
struct TDateiBefund {
    bool dbase = false;
    bool oeffnenFehler = false;
    bool keineDatensaetze = false;
    bool abbruch = false;        // an error ended the reading: a query selecting it ends there
    bool defekt = false;         // a damaged packed tile: no points, the query goes on
    std::string fehler;
    std::string meldung;         // why the file could not be opened or read, naming it; or empty
    std::string name = TextKeinName;
    std::string lbVoll;          // what the file sets LB_Datei to; empty: leaves it
    std::string schaden;         // a damaged raster: the error of a query whose window meets the damage
    std::string hinweis;         // a raster in another reference system: its row's note
    int32_t gelesen = 0;
};

// One reading of a file: what it found and the tile of its points (never null).
struct TLesung {
    TDateiBefund befund;
    std::shared_ptr<const TKachel> kachel;
};

// How files are read for the batch.
struct TLeseArt {
    double zelle = 1.0;              // row height of a point tile's index
    std::optional<double> noData;    // a point whose height is this is no point
    std::optional<int> system;       // the tiles' system, which a raster's own is compared with
    // Called before the first pixel of a raster is read (GDAL loaded by then): where the
    // block cache gets its bound. May be called on several threads at once.
    std::function<void()> vorRaster;
};

// Bytes a raster's grid may take at most: beyond that (half the machine's memory) it is
// refused as too large to hold, so no header, however absurd, makes the batch allocate by it.
std::size_t RasterGridLimit();

// Reads the file at `pfad`: a raster into a grid of its values, anything else into an index
// of its points. What goes wrong with the file is part of the finding. Touches nothing shared
// but what `art.vorRaster` does: safe on several threads.
TLesung ReadTile(const std::string& pfad, const TLeseArt& art);

}  // namespace tervalo
