#pragma once
// Deterministic benchmark data shared by all benchmarks: 1 km tiles at 1 m spacing
// (1001 x 1001 = 1,002,001 points) of a synthetic terrain, as XYZ text and as dBase tables,
// and a 2 x 2 mosaic of such tiles whose edges are shared (the edge points appear in both
// neighbours). Files are made once and kept in a cache folder ($TERVALO_BENCH_DIR, else
// /tmp/tervalo-bench-cache); a file of the wrong size is made anew.
#include <string>
#include <vector>

namespace tervalo {
struct TDateien;
}

namespace tervalo::bench {

inline constexpr double kOriginX = 3566000.0;  // lower left corner of tile (0, 0)
inline constexpr double kOriginY = 5936000.0;
inline constexpr int kTileMetres = 1000;
inline constexpr int kTileSide = kTileMetres + 1;                  // points per row
inline constexpr long kTilePoints = long(kTileSide) * kTileSide;   // 1,002,001

// Terrain height in metres at a coordinate: hills, a valley and a terrace edge.
double Height(double x, double y);

// Folder of the generated files, created when missing.
std::string CacheDir();

// XYZ tile (col, row) of the mosaic: lines "%12.3f %12.3f %9.3f" CR LF, row by row from
// the south-west corner. About 37 MB.
std::string XyzTile(int col = 0, int row = 0);
// The same points as a dBase table of the given level (3, 4 or 7), fields X, Y, Z N 14.5.
std::string DbfTile(int col = 0, int row = 0, int level = 3);

// The four tiles (0,0), (1,0), (0,1), (1,1).
std::vector<std::string> XyzMosaic();
std::vector<std::string> DbfMosaic(int level = 3);

// The mosaic's centre (3567000, 5937000): the corner all four tiles share.
inline constexpr double kMosaicCentreX = kOriginX + kTileMetres;
inline constexpr double kMosaicCentreY = kOriginY + kTileMetres;

// The catalogue of the 4 x 4 mosaic of XYZ tiles (16 million points), written beside the data.
std::string Mosaik4x4Katalog();

// Raster tiles: 1000 x 1000 Float32 GeoTIFFs (1 m pixels over the tiles' squares, made with
// gdal_translate) and their XYZ exports. RasterTile gives the GeoTIFF's path (empty when GDAL's
// tools failed); RasterKatalog writes the catalogue of the side x side mosaic (`xyz`: the
// exports) and gives its path, empty when a tile could not be made.
inline constexpr int kRasterPixel = 1000;
std::string RasterTile(int col, int row);
std::string RasterKatalog(int seite, bool xyz, TDateien* aus = nullptr);

}  // namespace tervalo::bench
