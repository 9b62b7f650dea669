#include "query/BatchLaden.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "formats/Raster.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

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
        quelle.Read<TAbfrageZeilenRegel>([&](const auto& zeile) __attribute__((always_inline)) {
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

// The rows [von, bis) of the grid, which failed when read whole: block by block, and of a
// block that fails its rows one by one, so every piece that can be read is, and the others
// are known (a query fails exactly when its window touches one of them).
template <class T>
void ReadAroundDamage(TRaster& r, int32_t von, int32_t bis, T* werte, std::vector<TRasterSchaden>& schaden) {
    const TRasterKopf& k = r.Kopf();
    const std::size_t spalten = static_cast<std::size_t>(k.Spalten);
    const int32_t bb = k.BlockBreite, bh = k.BlockHoehe;
    std::vector<T> block;
    for (int32_t z0 = von; z0 < bis;) {
        const int32_t z1 = std::min(bis, (z0 / bh + 1) * bh);
        for (int32_t s0 = 0; s0 < k.Spalten; s0 += bb) {
            const int32_t breite = std::min(bb, k.Spalten - s0);
            const TPixelFenster f{s0, z0, breite, z1 - z0};
            block.resize(f.Pixel());
            int32_t ganz = f.Hoehe;
            try {
                r.ReadWindow(f, block.data(), block.size());
            } catch (const ERasterFensterDefekt& e) {
                ganz = e.GanzeZeilen();
            }
            auto kopieren = [&](int32_t z, const T* von) {
                std::copy(von, von + breite, werte + static_cast<std::size_t>(z) * spalten + static_cast<std::size_t>(s0));
            };
            for (int32_t z = 0; z < ganz; ++z) kopieren(z0 + z, block.data() + static_cast<std::size_t>(z) * static_cast<std::size_t>(breite));
            for (int32_t z = z0 + ganz; z < z1; ++z) {
                try {
                    r.ReadWindow(TPixelFenster{s0, z, breite, 1}, block.data(), block.size());
                    kopieren(z, block.data());
                } catch (const ERasterFensterDefekt&) {
                    if (!schaden.empty() && schaden.back().zeile == z && schaden.back().s1 == s0)
                        schaden.back().s1 = s0 + breite;
                    else
                        schaden.push_back({z, s0, s0 + breite});
                }
            }
        }
        z0 = z1;
    }
}

// Band 1 in pieces of whole block rows of the file; NaN where no point is.
template <class T>
void ReadGrid(TRaster& r, double noData, TGrossVektor<T>& werte, std::vector<TRasterSchaden>& schaden) {
    const TRasterKopf& k = r.Kopf();
    werte.resize(k.Pixel());
    const int64_t spalten = k.Spalten, bh = k.BlockHoehe;
    const int32_t proStueck = static_cast<int32_t>(std::min<int64_t>(
        k.Zeilen, std::max<int64_t>(1, (int64_t{1} << 18) / std::max<int64_t>(1, spalten * bh)) * bh));
    for (int32_t z0 = 0; z0 < k.Zeilen;) {
        const int32_t z1 = static_cast<int32_t>(std::min<int64_t>(k.Zeilen, int64_t(z0) + proStueck));
        const TPixelFenster f{0, z0, k.Spalten, z1 - z0};
        T* ziel = werte.data() + static_cast<std::size_t>(z0) * static_cast<std::size_t>(spalten);
        try {
            r.ReadWindow(f, ziel, f.Pixel());
        } catch (const ERasterFensterDefekt& e) {
            ReadAroundDamage(r, z0 + e.GanzeZeilen(), z1, werte.data(), schaden);
        }
        z0 = z1;
    }
    const T nan = std::numeric_limits<T>::quiet_NaN();
    for (T& v : werte)
        if (PixelOhneWert(k, static_cast<double>(v), noData)) v = nan;
    for (const TRasterSchaden& s : schaden)
        std::fill_n(werte.data() + static_cast<std::size_t>(s.zeile) * static_cast<std::size_t>(spalten) +
                        static_cast<std::size_t>(s.s0),
                    s.s1 - s.s0, nan);
}

// The opened raster as a grid. Its lines read are its pixels, as in the query.
std::shared_ptr<const TKachel> ReadRaster(TRaster& r, const TLeseArt& art, TDateiBefund& f) {
    const TRasterKopf& k = r.Kopf();
    f.gelesen = static_cast<int32_t>(std::min<uint64_t>(k.Pixel(), INT32_MAX));
    const uint64_t proPixel = k.FloatGenau() ? sizeof(float) : sizeof(double);
    if (k.Pixel() > RasterGridLimit() / proPixel)
        throw EInOutError(0, "Rasterdatei zu gro\xC3\x9F f\xC3\xBCr den Arbeitsspeicher: " + r.Pfad());
    if (art.vorRaster) art.vorRaster();
    const double noData = art.noData && !std::isnan(*art.noData) ? *art.noData : std::numeric_limits<double>::quiet_NaN();
    TGrossVektor<float> fw;
    TGrossVektor<double> dw;
    std::vector<TRasterSchaden> schaden;
    if (k.FloatGenau())
        ReadGrid(r, noData, fw, schaden);
    else
        ReadGrid(r, noData, dw, schaden);
    if (!schaden.empty()) f.schaden = ReadErrorMessage(ERasterDefekt(r.Pfad()), r.Pfad());
    return std::make_shared<const TKachel>(std::in_place_type<TRasterKachel>, k, std::move(fw), std::move(dw),
                                           std::move(schaden));
}

}  // namespace

std::size_t RasterGridLimit() {
    const long seiten = ::sysconf(_SC_PHYS_PAGES), groesse = ::sysconf(_SC_PAGESIZE);
    if (seiten <= 0 || groesse <= 0) return std::size_t{1} << 32;
    return static_cast<std::size_t>(seiten) / 2 * static_cast<std::size_t>(groesse);
}

TLesung ReadTile(const std::string& pfad, const TLeseArt& art) {
    TLesung out;
    TDateiBefund& f = out.befund;
    TGrossVektor<TRohPunkt> roh;
    TPunktQuelle quelle(pfad);
    f.dbase = quelle.IsDbase();
    quelle.SetNoData(art.noData);
    try {
        std::size_t erwartet = 0;
        if (Open(quelle, pfad, f, erwartet)) {
            f.hinweis = SystemHinweis(quelle, art.system);
            if (TRaster* r = quelle.Raster()) {
                out.kachel = ReadRaster(*r, art, f);
            } else {
                roh.reserve(erwartet);
                ReadPoints(quelle, art.zelle, f, roh);
            }
        }
    } catch (const std::exception& ex) {
        f.abbruch = true;
        f.fehler = ReadErrorMessage(ex, pfad);
        f.meldung = f.fehler;
        out.kachel.reset();
    }
    if (!out.kachel) out.kachel = std::make_shared<const TKachel>(std::in_place_type<TPunktKachel>, roh, art.zelle);
    return out;
}

}  // namespace tervalo
