// Raster tiles: the input, written to a file, is detected by the point source and read through
// TRaster: header, small windows, the window over a square and the whole raster when it is
// small. Whatever the bytes, it must never crash, hang or leak; a failure must be one of the
// reader's own exceptions naming the file, and damage must come after exactly the whole rows
// before it, in file order.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "formats/PunktQuelle.h"
#include "formats/Raster.h"

namespace {

using namespace tervalo;

void Pruefe(bool ok) {
    if (!ok) std::abort();
}

// Walks the window and checks the order; returns the pixels delivered.
uint64_t Walk(TRaster& r, const TPixelFenster& f) {
    uint64_t n = 0;
    int32_t s0 = f.Spalte, z0 = f.Zeile;
    try {
        r.ForEachPixel(f, [&](int32_t s, int32_t z, double) {
            Pruefe(s == s0 && z == z0);
            if (++s0 == f.Spalte + f.Breite) s0 = f.Spalte, ++z0;
            ++n;
        });
        Pruefe(n == f.Pixel());
    } catch (const ERasterFensterDefekt& e) {
        Pruefe(e.GanzeZeilen() >= 0 && e.GanzeZeilen() < f.Hoehe);
        const uint64_t ganz = uint64_t(e.GanzeZeilen()) * uint64_t(f.Breite);
        Pruefe(n >= ganz && n < ganz + uint64_t(f.Breite));
        throw;
    }
    return n;
}

void Lies(const std::string& path, TRasterArt art) {
    TRaster r(path, art);
    const TRasterKopf& k = r.Kopf();
    Pruefe(k.Spalten > 0 && k.Zeilen > 0);
    Pruefe(k.BlockBreite >= 1 && k.BlockBreite <= k.Spalten && k.BlockHoehe >= 1 && k.BlockHoehe <= k.Zeilen);
    Pruefe(std::isfinite(k.DX) && std::isfinite(k.DY) && k.DX != 0 && k.DY != 0);
    (void)k.Ausdehnung();
    (void)r.System();

    // Corners, single pixels, in both buffer types.
    float f1;
    double d1;
    r.ReadWindow({0, 0, 1, 1}, &f1, 1);
    r.ReadWindow({k.Spalten - 1, k.Zeilen - 1, 1, 1}, &d1, 1);

    // The window over a square around the middle holds exactly the centres inside it.
    const double xm = k.X(k.Spalten / 2), ym = k.Y(k.Zeilen / 2);
    const double rx = 3.5 * std::fabs(k.DX), ry = 2.5 * std::fabs(k.DY);
    const TPixelFenster w = k.FensterUeber(xm - rx, xm + rx, ym - ry, ym + ry);
    if (std::isfinite(xm) && std::isfinite(ym) && std::isfinite(rx) && std::isfinite(ry)) {
        // Centres apart by a cell: the square's 7 × 5 cells meet no more than 8 × 6 of them,
        // give or take rounding.
        Pruefe(!w.Leer() && w.Breite <= 10 && w.Hoehe <= 8);
        Pruefe(w.Spalte >= 0 && w.Zeile >= 0 && w.Spalte + w.Breite <= k.Spalten && w.Zeile + w.Hoehe <= k.Zeilen);
        auto drin = [](double v, double lo, double hi) { return lo <= v && v <= hi; };
        for (int32_t s : {w.Spalte, w.Spalte + w.Breite - 1}) Pruefe(drin(k.X(s), xm - rx, xm + rx));
        for (int32_t z : {w.Zeile, w.Zeile + w.Hoehe - 1}) Pruefe(drin(k.Y(z), ym - ry, ym + ry));
        if (w.Spalte > 0) Pruefe(!drin(k.X(w.Spalte - 1), xm - rx, xm + rx));
        if (w.Spalte + w.Breite < k.Spalten) Pruefe(!drin(k.X(w.Spalte + w.Breite), xm - rx, xm + rx));
        if (w.Zeile > 0) Pruefe(!drin(k.Y(w.Zeile - 1), ym - ry, ym + ry));
        if (w.Zeile + w.Hoehe < k.Zeilen) Pruefe(!drin(k.Y(w.Zeile + w.Hoehe), ym - ry, ym + ry));
        Walk(r, w);
    }

    // The whole raster only when it is small: a header may promise far more than the file holds.
    constexpr int64_t klein = int64_t{1} << 18;
    if (k.Pixel() <= uint64_t(klein)) {
        Walk(r, k.Ganz());
    } else {
        const int32_t b = static_cast<int32_t>(std::min<int64_t>(k.Spalten, klein));
        Walk(r, {0, 0, b, static_cast<int32_t>(std::min<int64_t>(k.Zeilen, klein / b))});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TRasterArt art = RasterArtVon(data, std::min(size, RasterKopfBytes));
    if (art == TRasterArt::Keine) return 0;
    const std::string path = WriteFuzzInput("raster", art == TRasterArt::GeoTiff ? ".tif" : ".asc", data, size);
    {
        // The point source takes it for the same raster, unless dBase or gzip come first.
        TPunktQuelle q(path);
        Pruefe(q.IsRaster() && q.RasterArt() == art);
    }
    try {
        Lies(path, art);
    } catch (const EInOutError& e) {
        // Refusals, damage: the reader's own texts, naming the file.
        Pruefe(std::string(e.what()).find(path) != std::string::npos);
    } catch (const std::bad_alloc&) {
    }
    ::unlink(path.c_str());
    return 0;
}
