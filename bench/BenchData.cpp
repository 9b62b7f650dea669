#include "bench/BenchData.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "config/Konf.h"
#include "config/TYPEN.h"
#include "formats/DbfFile.h"
#include "formats/TextPoints.h"

namespace fs = std::filesystem;

namespace tervalo::bench {

namespace {

// Size of the XYZ tile: every value fits its field, so each line has 12+1+12+1+9+2 bytes.
constexpr std::uintmax_t kXyzTileBytes = std::uintmax_t(kTilePoints) * 37;

// tile_<col>_<row>, with _l<level> for dBase tables.
std::string TileName(int col, int row, int level) {
    std::string s = "tile_" + std::to_string(col) + "_" + std::to_string(row);
    if (level) s += "_l" + std::to_string(level);
    return s;
}

// Calls make(tmp) and renames the result into place, so an interrupted run leaves no
// half-written file that a later run would take for complete.
template <class Make>
std::string Ensure(const std::string& path, bool ok, Make make) {
    if (ok) return path;
    const std::string tmp = path + ".part" + std::to_string(::getpid());
    make(tmp);
    fs::rename(tmp, path);
    return path;
}

template <class Fn>
void ForEachPoint(int col, int row, Fn fn) {
    const double x0 = kOriginX + col * kTileMetres;
    const double y0 = kOriginY + row * kTileMetres;
    for (int j = 0; j < kTileSide; ++j)
        for (int i = 0; i < kTileSide; ++i) {
            const double x = x0 + i, y = y0 + j;
            fn(x, y, Height(x, y));
        }
}

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

}  // namespace

double Height(double x, double y) {
    const double u = x - kOriginX, v = y - kOriginY;  // 0 .. 2000 over the mosaic
    double z = 120.0 + 0.01 * u - 0.005 * v;
    z += 35.0 * std::exp(-((u - 600) * (u - 600) + (v - 1400) * (v - 1400)) / (2 * 250.0 * 250.0));
    z += 20.0 * std::exp(-((u - 1500) * (u - 1500) + (v - 500) * (v - 500)) / (2 * 180.0 * 180.0));
    z -= 25.0 * std::exp(-((u - v) * (u - v)) / (2 * 120.0 * 120.0));  // a valley along the diagonal
    z += u > 1300 ? 6.0 : 0.0;                                          // a terrace edge
    z += 0.8 * std::sin(u / 37.0) * std::cos(v / 53.0);
    // Three decimals, as the files store them, so every reader sees the same value.
    return std::round(z * 1000.0) / 1000.0;
}

std::string CacheDir() {
    const char* env = std::getenv("TERVALO_BENCH_DIR");
    fs::path dir = env && *env ? fs::path(env) : fs::path("/tmp/tervalo-bench-cache");
    fs::create_directories(dir);
    return dir.string();
}

std::string XyzTile(int col, int row) {
    const std::string path = CacheDir() + "/" + TileName(col, row, 0) + ".xyz";
    std::error_code ec;
    const bool ok = fs::file_size(path, ec) == kXyzTileBytes;
    return Ensure(path, ok, [&](const std::string& tmp) {
        TSichereDatei file(tmp);
        TPunktSchreiber w(file);
        ForEachPoint(col, row, [&](double x, double y, double z) { w.WriteXyz(x, y, z); });
        w.Close();
        file.Commit();
    });
}

std::string DbfTile(int col, int row, int level) {
    const std::string path = CacheDir() + "/" + TileName(col, row, level) + ".dbf";
    bool ok = false;
    if (fs::exists(path)) {
        try {
            TDbfFile t;
            t.OpenRead(path);
            ok = t.RecordCount() == static_cast<uint32_t>(kTilePoints);
            t.Close();
        } catch (const std::exception&) {
            ok = false;
        }
    }
    return Ensure(path, ok, [&](const std::string& tmp) {
        TSichereDatei file(tmp);
        TDbfFile t;
        t.CreateTable(file, level, XyzFieldDefs());
        ForEachPoint(col, row, [&](double x, double y, double z) { t.AppendRecord(x, y, z); });
        t.Close();
        file.Commit();
    });
}

std::vector<std::string> XyzMosaic() {
    return {XyzTile(0, 0), XyzTile(1, 0), XyzTile(0, 1), XyzTile(1, 1)};
}

std::vector<std::string> DbfMosaic(int level) {
    return {DbfTile(0, 0, level), DbfTile(1, 0, level), DbfTile(0, 1, level), DbfTile(1, 1, level)};
}

// The catalogue of the 16 tiles, written once per run.
std::string Mosaik4x4Katalog() {
    TDateien kat;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            const std::size_t i = static_cast<std::size_t>(++kat.Anzahl);
            const double x0 = kOriginX + c * kTileMetres;
            const double y0 = kOriginY + r * kTileMetres;
            kat.Datei[i] = XyzTile(c, r);
            kat.Xmin[i] = x0;
            kat.Xmax[i] = x0 + kTileMetres;
            kat.Ymin[i] = y0;
            kat.Ymax[i] = y0 + kTileMetres;
        }
    const std::string pfad = CacheDir() + "/mosaik4x4.KNF";
    KonfSave(pfad, TSettings{}, kat);
    return pfad;
}


// Raster (col, row) and its XYZ export; made once, through temporary names so an interrupted
// run leaves nothing that looks complete.
std::string RasterTile(int col, int row) {
    const std::string base = CacheDir() + "/raster_" + std::to_string(col) + "_" + std::to_string(row);
    const std::string tif = base + ".tif", xyz = base + ".xyz";
    if (fs::exists(tif) && fs::exists(xyz)) return tif;
    const double x0 = kOriginX + col * kRasterPixel, ytop = kOriginY + (row + 1) * kRasterPixel;
    const std::string asc = base + ".part.asc";
    {
        std::FILE* f = std::fopen(asc.c_str(), "wb");
        if (!f) return {};
        std::fprintf(f, "ncols %d\nnrows %d\nxllcorner %.1f\nyllcorner %.1f\ncellsize 1\n", kRasterPixel, kRasterPixel, x0,
                     ytop - kRasterPixel);
        for (int j = 0; j < kRasterPixel; ++j) {
            for (int i = 0; i < kRasterPixel; ++i)
                std::fprintf(f, i ? " %.3f" : "%.3f", Height(x0 + i + 0.5, ytop - j - 0.5));
            std::fputc('\n', f);
        }
        std::fclose(f);
    }
    const bool ok = Sh("gdal_translate -q -ot Float32 -co TILED=YES -co COMPRESS=DEFLATE '" + asc + "' '" + base +
                       ".part.tif'") &&
                    Sh("gdal_translate -q -of XYZ '" + base + ".part.tif' '" + base + ".part.xyz'");
    fs::remove(asc);
    if (!ok) return {};
    fs::rename(base + ".part.xyz", xyz);
    fs::rename(base + ".part.tif", tif);
    return tif;
}

static std::string Export(const std::string& tif) { return tif.substr(0, tif.size() - 4) + ".xyz"; }

// Catalogue of the side x side mosaic, extents as pixel centres; `xyz` takes the exports.
// Written beside the data, its path returned; empty when a tile could not be made.
std::string RasterKatalog(int seite, bool xyz, TDateien* aus) {
    TDateien kat;
    for (int r = 0; r < seite; ++r)
        for (int c = 0; c < seite; ++c) {
            const std::string tif = RasterTile(c, r);
            if (tif.empty()) return {};
            const std::size_t i = static_cast<std::size_t>(++kat.Anzahl);
            kat.Datei[i] = xyz ? Export(tif) : tif;
            kat.Xmin[i] = kOriginX + c * kRasterPixel + 0.5;
            kat.Xmax[i] = kat.Xmin[i] + kRasterPixel - 1;
            kat.Ymin[i] = kOriginY + r * kRasterPixel + 0.5;
            kat.Ymax[i] = kat.Ymin[i] + kRasterPixel - 1;
        }
    const std::string pfad = CacheDir() + "/raster" + std::to_string(seite) + (xyz ? "_xyz" : "_tif") + ".KNF";
    KonfSave(pfad, TSettings{}, kat);
    if (aus) *aus = kat;
    return pfad;
}

}  // namespace tervalo::bench
