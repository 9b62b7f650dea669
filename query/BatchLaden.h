#pragma once
// Reading one catalogued file for the batch, the way a single height query meets it: what
// the query's row and labels will show, and the file's points as a tile.
#include <cstdint>
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
    int32_t gelesen = 0;
};

// One reading of a file: what it found and the tile of its points (never null).
struct TLesung {
    TDateiBefund befund;
    std::shared_ptr<const TKachel> kachel;
};

// Reads the file at `pfad` and indexes its points in rows of height `zelle`. What goes wrong
// with the file is part of the finding. A point whose height is noData is no point. Touches nothing shared: safe on several threads.
TLesung ReadTile(const std::string& pfad, double zelle, std::optional<double> noData);

}  // namespace tervalo
