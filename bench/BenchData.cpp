#include "bench/BenchData.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

}  // namespace tervalo::bench
