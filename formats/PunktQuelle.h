#pragma once
// One point source: a catalogued or chosen file, read as a dBase table, a raster or a text
// point file (decided by its content, never by its name), walked in file order. The caller picks
// the line rule and keeps its own policy (counting, filtering, logging, progress) in the
// callback, which meets every line or record with its number and asks it for the point.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "formats/DbfFile.h"
#include "formats/QuadratTest.h"
#include "formats/Raster.h"
#include "formats/TextPoints.h"
#include "tools/Datei.h"
#include "tools/Errors.h"

namespace tervalo {

// What the first bytes of a file make of it, decided in this order: a dBase table (first byte
// 3 or 4, second in 65..127), a packed text (gzip's signature), a raster (GeoTIFF or ASCII
// grid, see RasterArtVon) or a plain text.
enum class TQuellArt { Text, Gepackt, Dbase, Raster };

// dBase signature test: a readable regular file whose first bytes make a table. Needs read
// access only.
bool IsDbaseFile(const std::string& path);

// What a line or record gives.
enum class TBefund {
    Punkt,       // the point, as the rule read it
    Leer,        // a text line of nothing but codes up to 32, which the point line rule passes over
    Abgelehnt,   // the rule does not accept the line; a record with a blank X, Y or Z field
    Ausserhalb,  // the capture square rules the line or record out before it is read whole
    KeinWert,    // a point whose height is the NoData value: a line read, but no point
};

// Line rules: how a text line becomes a point, and how many fields of a record count
// (the extent needs X and Y only).
struct TPunktZeilenRegel {  // the point line reader of the conversion and the export
    static constexpr int Felder = 3;
    static TBefund Read(std::string_view line, double& x, double& y, double& z) {
        line = TrimLeading(line);
        if (line.empty()) return TBefund::Leer;
        return ReadPointLine(line, x, y, z) ? TBefund::Punkt : TBefund::Abgelehnt;
    }
};
struct TAusdehnungsZeilenRegel {  // the extent line reader
    static constexpr int Felder = 2;
    static TBefund Read(std::string_view line, double& x, double& y, double& z) {
        z = 0.0;
        return ReadExtentLine(line, x, y) ? TBefund::Punkt : TBefund::Abgelehnt;
    }
};
struct TAbfrageZeilenRegel {  // the height query's lenient line reader
    static constexpr int Felder = 3;
    static TBefund Read(std::string_view line, double& x, double& y, double& z) {
        return ParseQueryLine(line, x, y, z) ? TBefund::Punkt : TBefund::Abgelehnt;
    }
};

// The capture square of the height query, bounds included.
struct TQuadrat {
    double Xmin, Xmax, Ymin, Ymax;
};

class TPunktQuelle {
public:
    // Opens the file for reading only (a named pipe cannot hang it), reads its first bytes
    // and decides dBase or text from them. A file that cannot be opened is a text that
    // Open reports; nothing throws here.
    explicit TPunktQuelle(std::string path);
    TPunktQuelle(const TPunktQuelle&) = delete;
    TPunktQuelle& operator=(const TPunktQuelle&) = delete;

    bool IsDbase() const { return art_ == TQuellArt::Dbase; }
    bool IsRaster() const { return art_ == TQuellArt::Raster; }
    TQuellArt Art() const { return art_; }
    // The raster kind the content asked for; Keine unless IsRaster().
    TRasterArt RasterArt() const { return rasterArt_; }
    // 0 while the file is open; otherwise the system's error number of opening it (ENOENT,
    // EISDIR for a folder, EACCES for a pipe, a device or no access).
    int Fehler() const { return fehler_; }
    // The path as given.
    const std::string& Angegeben() const { return path_; }
    // Option: lines and records that certainly lie outside the square are reported as
    // Ausserhalb without being converted (a text line from its first characters, a record
    // field by field).
    void SetQuadrat(const TQuadrat& q);
    // Option: a point whose height equals this value exactly is KeinWert (rules reading three
    // fields only: the extent takes no heights). Empty, the default: every height counts.
    void SetNoData(std::optional<double> wert);

    // Sets the reader up on the open file. Returns Fehler(): a file that could not be opened
    // is the runs' own case, not an exception. A table's failures throw as the table layer
    // raises them (EInOutError, EDbfError, ESilentAbort), a raster's as TRaster does (its
    // refusals, ERasterDefekt, the missing module).
    [[nodiscard]] int Open();
    // The table's path as opened, or the text file's path as given.
    std::string Pfad() const;
    uint32_t RecordCount() const { return dbf_.RecordCount(); }  // physical, deleted included
    uint64_t Size() const { return groesse_; }                 // file bytes on opening
    // The open raster; null unless IsRaster() and Open() succeeded.
    TRaster* Raster() { return raster_ ? &*raster_ : nullptr; }
    // The pixels Read walks: those covering the square (bounds included), else all of them.
    // Empty unless the raster is open.
    TPixelFenster RasterFenster() const;

    // Calls fn(zeile) for every line or live record in file order; fn may return false to
    // stop. zeile.Nr is the line number from 1 or the record's physical number;
    // zeile.Punkt(x, y, z) applies the square and the rule. Read errors throw. A raster hands
    // its pixels of RasterFenster() as lines in file order, zeile.Nr their place in the whole
    // raster from 1 (row · columns + column + 1); a damaged one throws ERasterDefekt after
    // every pixel before the damage.
    // The runs mark their callbacks always_inline: called from the walk of each kind of
    // source, GCC otherwise keeps them out of line, a call per text line (measured: the query
    // over four text tiles took half as long again).
    template <class Regel, class Fn>
    void Read(Fn&& fn);

private:
    // A text line as the walk meets it.
    template <class Regel>
    struct TZeile {
        uint64_t Nr;
        std::string_view Text;
        const TQuadratTest* Test;
        double NoData;  // NaN when off: no height compares equal to it
        [[gnu::always_inline]] TBefund Punkt(double& x, double& y, double& z) const {
            if (Test && !Test->MayContain(Text.data(), Text.data() + Text.size())) return TBefund::Ausserhalb;
            const TBefund b = Regel::Read(Text, x, y, z);
            if constexpr (Regel::Felder > 2)
                if (b == TBefund::Punkt && z == NoData) return TBefund::KeinWert;
            return b;
        }
    };
    // A record as the walk meets it; its fields are converted when asked for.
    template <class Regel>
    struct TSatz {
        uint64_t Nr;
        const TDbfFile& Dbf;
        const TQuadrat* Q;
        double NoData;
        TBefund Punkt(double& x, double& y, double& z) const {
            const TBefund b = Lies(x, y, z);
            if constexpr (Regel::Felder > 2)
                if (b == TBefund::Punkt && z == NoData) return TBefund::KeinWert;
            return b;
        }
        TBefund Lies(double& x, double& y, double& z) const {
            if (!Q) {
                const auto fx = Dbf.FieldAsNumber(0);
                const auto fy = Dbf.FieldAsNumber(1);
                const auto fz = Regel::Felder > 2 ? Dbf.FieldAsNumber(2) : std::optional<double>(0.0);
                if (!fx || !fy || !fz) return TBefund::Abgelehnt;
                x = *fx, y = *fy, z = *fz;
                return TBefund::Punkt;
            }
            // Too few fields fail the way reading all of them does.
            if (Dbf.FieldCount() < Regel::Felder)
                for (int i = 0; i < Regel::Felder; ++i) Dbf.FieldAsNumber(i);
            const auto fx = Dbf.FieldAsNumber(0);
            if (!fx) return TBefund::Abgelehnt;
            if (!(Q->Xmin <= *fx && *fx <= Q->Xmax)) return TBefund::Ausserhalb;
            const auto fy = Dbf.FieldAsNumber(1);
            if (!fy) return TBefund::Abgelehnt;
            if (!(Q->Ymin <= *fy && *fy <= Q->Ymax)) return TBefund::Ausserhalb;
            const auto fz = Regel::Felder > 2 ? Dbf.FieldAsNumber(2) : std::optional<double>(0.0);
            if (!fz) return TBefund::Abgelehnt;
            x = *fx, y = *fy, z = *fz;
            return TBefund::Punkt;
        }
    };
    // A pixel as the walk meets it: its centre and height are known already.
    template <class Regel>
    struct TPixel {
        uint64_t Nr;
        double X, Y, Z;
        bool OhneWert;
        [[gnu::always_inline]] TBefund Punkt(double& x, double& y, double& z) const {
            // The extent takes every pixel: heights play no part there.
            if constexpr (Regel::Felder > 2)
                if (OhneWert) return TBefund::KeinWert;
            x = X, y = Y, z = Z;
            return TBefund::Punkt;
        }
    };
    template <class Regel, class Fn>
    void LiesRaster(Fn& fn);
    template <class Fn, class Z>
    [[gnu::always_inline]] static bool Weiter(Fn& fn, const Z& z) {
        if constexpr (std::is_void_v<decltype(fn(z))>) {
            fn(z);
            return true;
        } else {
            return fn(z);
        }
    }

    std::string path_;
    TDateiHandle datei_;  // open until Open hands it to its reader
    int fehler_ = 0;
    TQuellArt art_ = TQuellArt::Text;
    TRasterArt rasterArt_ = TRasterArt::Keine;
    TDbfFile dbf_;
    std::optional<TRaster> raster_;
    std::optional<TZeilenLeser> text_;
    uint64_t groesse_ = 0;
    std::optional<TQuadrat> quadrat_;
    std::optional<TQuadratTest> test_;
    double noData_ = std::numeric_limits<double>::quiet_NaN();
};

template <class Regel, class Fn>
void TPunktQuelle::Read(Fn&& fn) {
    const TQuadrat* q = quadrat_ ? &*quadrat_ : nullptr;
    if (IsDbase()) {
        for (dbf_.First(); !dbf_.AtEnd(); dbf_.Next())
            if (!Weiter(fn, TSatz<Regel>{dbf_.RecordNumber(), dbf_, q, noData_})) return;
        return;
    }
    if (raster_) {
        LiesRaster<Regel>(fn);
        return;
    }
    if (!text_) return;
    const TQuadratTest* test = test_ ? &*test_ : nullptr;
    TZeilenLeser& r = *text_;
    std::string_view line;
    uint64_t nr = 0;
    while (r.ReadLine(line))
        if (!Weiter(fn, TZeile<Regel>{++nr, line, test, noData_})) return;
    if (art_ == TQuellArt::Gepackt) r.RestPruefen();
}

template <class Regel, class Fn>
void TPunktQuelle::LiesRaster(Fn& fn) {
    TRaster& r = *raster_;
    const TRasterKopf& k = r.Kopf();
    const uint64_t spalten = static_cast<uint64_t>(k.Spalten);
    const double noData = noData_;
    r.ForEachPixel(RasterFenster(), [&](int32_t s, int32_t z, double roh) {
        const TPixel<Regel> p{static_cast<uint64_t>(z) * spalten + static_cast<uint64_t>(s) + 1, k.X(s), k.Y(z),
                              k.Hoehe(roh), PixelOhneWert(k, roh, noData)};
        return Weiter(fn, p);
    });
}

// The note for a raster whose own horizontal system is not the tiles' `system`; "" when they
// agree, when either has none, or for a source that is no open raster. The raster still answers.
std::string SystemHinweis(TPunktQuelle& quelle, std::optional<int> system);

}  // namespace tervalo
