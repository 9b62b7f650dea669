#pragma once
// Raster tiles (GeoTIFF, ESRI ASCII grid): band 1's pixels as points at their centres. GDAL
// lives in a module loaded on the first raster (formats/RasterModul.h), so a program that
// meets none never loads it. No GDAL header here.
//
// Rows run from the first row of the file, each from its first column: the order in which
// `gdal_translate -of XYZ` writes the raster, the "file order" of every run.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "tools/Errors.h"

namespace tervalo {

// What a file's first bytes make of it as a raster.
enum class TRasterArt { Keine, GeoTiff, AsciiGrid };
// GeoTIFF by TIFF's or BigTIFF's byte-order mark (II*\0, MM\0*, II+\0, MM\0+); an ASCII grid
// by "ncols" in any case, after optional blanks and followed by a blank.
TRasterArt RasterArtVon(const unsigned char* kopf, std::size_t n);
// Bytes RasterArtVon needs at most to decide (fewer at the end of a file).
inline constexpr std::size_t RasterKopfBytes = 64;

// A damaged raster: unreadable header, cut short, a broken compression block.
// "Datei beschädigt: <Pfad>".
class ERasterDefekt : public EInOutError {
public:
    explicit ERasterDefekt(const std::string& pfad);
};

enum class TRasterTyp { Byte, Int8, UInt16, Int16, UInt32, Int32, UInt64, Int64, Float32, Float64 };

// Pixels [Spalte, Spalte + Breite) × [Zeile, Zeile + Hoehe); empty when Breite or Hoehe is 0.
struct TPixelFenster {
    int32_t Spalte = 0, Zeile = 0, Breite = 0, Hoehe = 0;
    bool Leer() const { return Breite <= 0 || Hoehe <= 0; }
    uint64_t Pixel() const { return Leer() ? 0 : uint64_t(Breite) * uint64_t(Hoehe); }
    bool operator==(const TPixelFenster&) const = default;
};

struct TRasterAusdehnung {
    double Xmin, Xmax, Ymin, Ymax;
};

// The horizontal part of a raster's reference system.
struct TRasterSystem {
    int Epsg = 0;       // 0 = none or unknown
    std::string Name;   // for messages, "" when none
};

struct TRasterKopf {
    int32_t Spalten = 0, Zeilen = 0;
    int32_t BlockBreite = 1, BlockHoehe = 1;  // the file's natural block of band 1
    double X0 = 0, DX = 1, Y0 = 0, DY = -1;   // geotransform, never rotated; DY < 0 north-up
    bool HatNoData = false;
    double NoData = 0;
    bool HatSkala = false;  // scale or offset given; Hoehe applies them
    double Skala = 1, Versatz = 0;
    TRasterTyp Typ = TRasterTyp::Float32;

    // Rows × columns: the raster's "gelesene Zeilen", the lines of its XYZ export. It may be far
    // more than the file's bytes (a sparse or absurd header): never allocate by it unchecked.
    uint64_t Pixel() const { return uint64_t(Spalten) * uint64_t(Zeilen); }
    // Pixel centres, computed exactly as gdal_translate -of XYZ computes them.
    double X(int32_t spalte) const { return X0 + (spalte + 0.5) * DX; }
    double Y(int32_t zeile) const { return Y0 + (zeile + 0.5) * DY; }
    // The extent of the pixel centres, from the geotransform alone.
    TRasterAusdehnung Ausdehnung() const;
    // The pixels whose centres lie in the square, bounds included; empty when none does.
    TPixelFenster FensterUeber(double xmin, double xmax, double ymin, double ymax) const;
    TPixelFenster Ganz() const { return {0, 0, Spalten, Zeilen}; }
    // Whether float holds every raw value exactly (else read into double).
    bool FloatGenau() const {
        return Typ == TRasterTyp::Byte || Typ == TRasterTyp::Int8 || Typ == TRasterTyp::UInt16 ||
               Typ == TRasterTyp::Int16 || Typ == TRasterTyp::Float32;
    }
    // A raw value that is no point: the band's NoData, and any NaN (a height that is no number).
    bool IstKeinWert(double roh) const { return std::isnan(roh) || (HatNoData && roh == NoData); }
    // The height of a raw value: scale and offset applied when the band has them.
    double Hoehe(double roh) const { return HatSkala ? roh * Skala + Versatz : roh; }
};

// Whether a pixel gives no point: its raw value is the band's NoData or NaN, or its height is
// the catalogue's NoData (`katalogNoData`, NaN when off), so a -9999 is never a height in a
// raster any more than in a text tile. The one test of every run that reads pixels.
inline bool PixelOhneWert(const TRasterKopf& k, double roh, double katalogNoData) {
    return k.IstKeinWert(roh) || k.Hoehe(roh) == katalogNoData;
}

// Module and block cache, shared by every raster of the process.
namespace raster {
// Loads the module now (once per process; thread-safe). Throws the message a raster would get
// when it cannot be loaded, naming `fuerPfad`.
void ModulLaden(const std::string& fuerPfad);
// Whether the module has been loaded in this process (without loading it).
bool ModulGeladen();
// GDAL's block cache: its bound in bytes (counted inside a run's memory bound) and its use.
// Both load the module.
void SetCacheGroesse(int64_t bytes);
int64_t CacheGroesse();
int64_t CacheBelegt();
}  // namespace raster

// One open raster (RAII). Open on several threads at once is fine, one object per thread.
class TRaster {
public:
    // Opens `pfad` as the given kind. Refusals (no or rotated geotransform, complex values),
    // a missing module and a damaged header throw the EInOutError family with German texts
    // naming the path; GDAL's own messages never reach them.
    TRaster(const std::string& pfad, TRasterArt art);
    ~TRaster();
    TRaster(TRaster&& o) noexcept;
    TRaster& operator=(TRaster&& o) noexcept;
    TRaster(const TRaster&) = delete;
    TRaster& operator=(const TRaster&) = delete;

    const TRasterKopf& Kopf() const { return kopf_; }
    // The raster's own system, looked up on the first call (PROJ look-ups, about half a
    // millisecond: ask only when there is a system to compare it with).
    const TRasterSystem& System();
    const std::string& Pfad() const { return pfad_; }

    // Band 1's raw values of the window, row by row, into `puffer` (at least
    // fenster.Pixel() values). Damage throws ERasterDefekt after the rows before it were
    // written; GanzeZeilen() of the exception says how many. A window reaching outside the
    // raster is the caller's fault: std::out_of_range.
    void ReadWindow(const TPixelFenster& fenster, float* puffer, std::size_t n);
    void ReadWindow(const TPixelFenster& fenster, double* puffer, std::size_t n);

    // Calls fn(spalte, zeile, roh) for every pixel of the window in file order, the raw
    // value as double (NoData included: the caller counts it as read). fn may return false to
    // stop. Reads block row by block row, float where that is exact; damage throws
    // ERasterFensterDefekt after every pixel before it was delivered: the rows read whole
    // (GanzeZeilen), and of a row wider than a million pixels its pieces before the damage.
    template <class Fn>
    void ForEachPixel(const TPixelFenster& fenster, Fn&& fn);

private:
    template <class T>
    void Lies(const TPixelFenster& f, T* puffer, std::size_t n);
    void Schliessen() noexcept;

    std::string pfad_;
    void* handle_ = nullptr;  // the module's tervalo_raster
    TRasterKopf kopf_;
    std::optional<TRasterSystem> system_;
};

// The exception of a damaged window read, with the rows read whole before the damage.
class ERasterFensterDefekt : public ERasterDefekt {
public:
    ERasterFensterDefekt(const std::string& pfad, int32_t ganzeZeilen)
        : ERasterDefekt(pfad), ganze_(ganzeZeilen) {}
    int32_t GanzeZeilen() const { return ganze_; }

private:
    int32_t ganze_;
};

template <class Fn>
void TRaster::ForEachPixel(const TPixelFenster& fenster, Fn&& fn) {
    if (fenster.Leer()) return;
    auto weiter = [&](int32_t s, int32_t z, double v) {
        if constexpr (std::is_void_v<decltype(fn(s, z, v))>) {
            fn(s, z, v);
            return true;
        } else {
            return static_cast<bool>(fn(s, z, v));
        }
    };
    auto lauf = [&](auto* typ) {
        using T = std::remove_pointer_t<decltype(typ)>;
        // Pieces of whole block rows, about a million values at most; rows wider than that
        // go in pieces of a row, so no header makes the buffer large.
        constexpr int64_t maxWerte = int64_t{1} << 20;
        const int32_t bh = kopf_.BlockHoehe;
        const int32_t ende = fenster.Zeile + fenster.Hoehe;
        std::vector<T> puffer;
        if (int64_t(fenster.Breite) * bh > maxWerte) {
            puffer.resize(static_cast<std::size_t>(std::min<int64_t>(fenster.Breite, maxWerte)));
            for (int32_t z = fenster.Zeile; z < ende; ++z)
                for (int32_t s0 = fenster.Spalte; s0 < fenster.Spalte + fenster.Breite;) {
                    const int32_t b = static_cast<int32_t>(
                        std::min<int64_t>(maxWerte, int64_t(fenster.Spalte) + fenster.Breite - s0));
                    try {
                        Lies(TPixelFenster{s0, z, b, 1}, puffer.data(), puffer.size());
                    } catch (const ERasterFensterDefekt&) {
                        throw ERasterFensterDefekt(pfad_, z - fenster.Zeile);
                    }
                    for (int32_t i = 0; i < b; ++i)
                        if (!weiter(s0 + i, z, static_cast<double>(puffer[i]))) return;
                    s0 += b;
                }
            return;
        }
        const int64_t proStueck = std::max<int64_t>(1, maxWerte / fenster.Breite / bh) * bh;
        for (int32_t z0 = fenster.Zeile; z0 < ende;) {
            const int32_t bis = static_cast<int32_t>(std::min<int64_t>(int64_t(z0 / bh) * bh + proStueck, ende));
            const TPixelFenster stueck{fenster.Spalte, z0, fenster.Breite, bis - z0};
            puffer.resize(stueck.Pixel());
            int32_t zeilen = stueck.Hoehe;
            bool defekt = false;
            try {
                Lies(stueck, puffer.data(), puffer.size());
            } catch (const ERasterFensterDefekt& e) {
                zeilen = e.GanzeZeilen();
                defekt = true;
            }
            const T* p = puffer.data();
            for (int32_t z = 0; z < zeilen; ++z)
                for (int32_t s = 0; s < stueck.Breite; ++s)
                    if (!weiter(stueck.Spalte + s, z0 + z, static_cast<double>(*p++))) return;
            if (defekt) throw ERasterFensterDefekt(pfad_, z0 - fenster.Zeile + zeilen);
            z0 = bis;
        }
    };
    if (kopf_.FloatGenau())
        lauf(static_cast<float*>(nullptr));
    else
        lauf(static_cast<double*>(nullptr));
}

}  // namespace tervalo
