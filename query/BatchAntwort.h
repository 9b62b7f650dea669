#pragma once
// Answering one point from loaded tiles, exactly as a single height query there would: the
// files it selects with their rows, the count, the store when it fills, the nearest point
// and the Shepard height.
#include <cstdint>
#include <memory>
#include <vector>

#include "query/Batch.h"
#include "query/BatchPlan.h"
#include "tools/PunktSet.h"

namespace tervalo {

// Where a point comes in the store order: the selected file, then its place in the file.
struct TOrdnung {
    uint32_t datei = 0;
    uint64_t pos = 0;
    bool operator<(const TOrdnung& o) const { return datei != o.datei ? datei < o.datei : pos < o.pos; }
};

struct TShepardTeil {
    TOrdnung ordnung;
    double r, z;
};

struct TKandidat {
    uint64_t pos;  // in file order
    double x, y, z;
};

// Working memory of one answering thread; each thread has its own.
struct TArbeitsspeicher {
    std::vector<const TBatchDatei*> gewaehlt;
    std::vector<const TKachel*> kacheln;            // their tiles
    std::vector<TBox> fang;                         // the part of the square each reads: all of it,
                                                    // or of a damaged raster the rows before the damage
    std::vector<TBox> boxen;                        // their points' boxes inside that part
    std::vector<std::vector<std::size_t>> frueher;  // per file: earlier files whose box meets its
    std::vector<TShepardTeil> shepard;
    std::vector<TKandidat> kand;
    std::unique_ptr<TPunktSpeicher> speicher;
    std::unique_ptr<TPunktSet> set;
};

// The answer at (x, y). Reads the selected files and their tiles (which must be loaded) and
// writes only `out` and `w`: any number of threads may answer at once, each with its own `w`.
void AnswerPoint(const TAuswahl& auswahl, double potenz, double x, double y, THoehenAntwort& out,
                 TArbeitsspeicher& w, TUmfang umfang = TUmfang::Voll);

}  // namespace tervalo
