// The export of a 2 x 2 mosaic window (about 4 million points, shared tile edges) to XYZ and
// to dBase, and the conversion of one tile in both directions.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/BenchData.h"
#include "config/TYPEN.h"
#include "export/Export.h"
#include "filemanager/Konvert.h"

using namespace tervalo;

namespace {

TDateien MosaicCatalogue() {
    TDateien cat;
    const std::vector<std::string> tiles = bench::XyzMosaic();
    const int cols[4] = {0, 1, 0, 1}, rows[4] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        int k = ++cat.Anzahl;
        cat.Datei[k] = tiles[i];
        cat.Xmin[k] = bench::kOriginX + cols[i] * bench::kTileMetres;
        cat.Xmax[k] = cat.Xmin[k] + bench::kTileMetres;
        cat.Ymin[k] = bench::kOriginY + rows[i] * bench::kTileMetres;
        cat.Ymax[k] = cat.Ymin[k] + bench::kTileMetres;
    }
    return cat;
}

class QuietObserver : public TExportBeobachter {
public:
    void Log(const std::string&) override {}
};

void BM_ExportMosaic(benchmark::State& state) {
    const bool dbase = state.range(0) != 0;
    const TDateien cat = MosaicCatalogue();
    const std::string out = bench::CacheDir() + (dbase ? "/bench_export.dbf" : "/bench_export.xyz");
    const TAusgabe format{dbase ? TAusgabeFormat::DBase : TAusgabeFormat::Xyz, 3};
    // The whole mosaic: every point lies in the window.
    const TExportGrenzen b{bench::kOriginX, bench::kOriginX + 2 * bench::kTileMetres, bench::kOriginY,
                          bench::kOriginY + 2 * bench::kTileMetres};
    int64_t points = 0, written = 0;
    for (auto _ : state) {
        QuietObserver obs;
        TExportErgebnis r = ExportRun(cat, b, out, format, TLaufOptionen{}, obs);
        if (r.Error) state.SkipWithError("export failed");
        points += r.Total + r.Duplicates;
        written += r.Total;
    }
    std::filesystem::remove(out);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
    state.counters["written"] = benchmark::Counter(static_cast<double>(written) / state.iterations());
}
BENCHMARK(BM_ExportMosaic)->ArgName("dbase")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertTile(benchmark::State& state) {
    const bool fromDbase = state.range(0) != 0;
    const std::string src = fromDbase ? bench::DbfTile(0, 0, 3) : bench::XyzTile(0, 0);
    const std::string out = bench::CacheDir() + (fromDbase ? "/bench_convert.xyz" : "/bench_convert.dbf");
    const TAusgabe format{fromDbase ? TAusgabeFormat::Xyz : TAusgabeFormat::DBase, 3};
    int64_t points = 0;
    for (auto _ : state) {
        TKonvertBeobachter obs;
        TKonvertErgebnis r = Konvertieren(src, out, format, TLaufOptionen{}, TSchutz{}, obs);
        points += r.Counts.Taken + r.Counts.NotTaken;
    }
    std::filesystem::remove(out);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertTile)->ArgName("fromDbase")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
