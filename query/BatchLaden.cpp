#include "query/BatchLaden.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "tools/Errors.h"

namespace tervalo {

namespace {

// Room made ahead for a file's points, at most: a large file of anything but points (one line
// of 2 GB) must not cost memory by its size. Larger tiles grow their room as they are read.
constexpr std::size_t kHoechstensVorab = std::size_t{1} << 20;

// Sets up the source as the query does and sets the labels that gives. Returns false when
// the file cannot be opened (the query's own case, its row shows it); otherwise how many
// points to make room for.
bool Open(TPunktQuelle& quelle, const std::string& pfad, TDateiBefund& f, std::size_t& erwartet) {
    const TOeffnung o = OpenDatei(quelle, pfad);
    f.name = o.Name;
    f.lbVoll = o.LabelVoll;
    if (!o.Offen) {
        f.oeffnenFehler = true;
        f.meldung = NamePath(ErrnoText(o.Errno), pfad);
        return false;
    }
    f.keineDatensaetze = o.KeineDatensaetze;
    if (f.dbase) {
        erwartet = std::min<std::size_t>(quelle.RecordCount(), kHoechstensVorab);
    } else {
        // About 36 bytes a line; only a hint.
        erwartet = static_cast<std::size_t>(std::min<uint64_t>(quelle.Size() / 32, kHoechstensVorab));
    }
    return true;
}

// Reads the points of the opened source, counting its lines or records as the query does.
void ReadPoints(TPunktQuelle& quelle, double zelle, TDateiBefund& f, TGrossVektor<TRohPunkt>& roh) {
    uint32_t nr = 0;
    try {
        quelle.Read<TAbfrageZeilenRegel>([&](const auto& zeile) {
            CountUp(f.gelesen);
            double x, y, z;
            if (zeile.Punkt(x, y, z) != TBefund::Punkt) return;
            const uint32_t pos = nr;
            if (nr < UINT32_MAX) ++nr;
            // A point without a finite position lies in no square; no query ever takes it.
            if (!std::isfinite(x) || !std::isfinite(y)) return;
            roh.push_back({x, y, z, pos, IndexRow(y, zelle)});
        });
    } catch (const EGzipDefekt& e) {
        // As the query has it: the lines read count, none of the points, the run goes on.
        TGrossVektor<TRohPunkt>().swap(roh);
        f.defekt = true;
        f.fehler = e.what();
        f.meldung = f.fehler;
        f.lbVoll = f.fehler;
    }
}

}  // namespace

TLesung ReadTile(const std::string& pfad, double zelle, std::optional<double> noData) {
    TLesung out;
    TDateiBefund& f = out.befund;
    TGrossVektor<TRohPunkt> roh;
    TPunktQuelle quelle(pfad);
    f.dbase = quelle.IsDbase();
    quelle.SetNoData(noData);
    try {
        std::size_t erwartet = 0;
        if (Open(quelle, pfad, f, erwartet)) {
            roh.reserve(erwartet);
            ReadPoints(quelle, zelle, f, roh);
        }
    } catch (const std::exception& ex) {
        f.abbruch = true;
        f.fehler = ReadErrorMessage(ex, pfad);
        f.meldung = f.fehler;
    }
    out.kachel = std::make_shared<const TKachel>(std::in_place_type<TPunktKachel>, roh, zelle);
    return out;
}

}  // namespace tervalo
