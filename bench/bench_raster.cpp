// Raster tiles: 1000 x 1000 Float32 GeoTIFFs (DEFLATE, 256 x 256 internal tiles, as
// `gdal_translate -co TILED=YES -co COMPRESS=DEFLATE` writes them) of the benchmark terrain at
// pixel centres, made by gdal_translate from an ASCII grid, with their `gdal_translate -of XYZ`
// exports beside them.
//  - BM_RasterQueryInProcess: one query at the centre of the 2 x 2 mosaic, the module already
//    loaded; the figure is the minimum of the runs.
//  - BM_RasterQueryCli: `tervalo-cli query` over the rasters and over their XYZ exports, run
//    alternately; from the raster run the cost of meeting GDAL is taken off, measured as
//    `tervalo-cli scan` of one raster (dlopen, driver registration, one header) less `scan` of a
//    one-line text file (the start-up both pay anyway).
//  - BM_RasterBatch4x4: 1,000,000 random points over the 4 x 4 mosaic; time and peak memory of
//    the child, taken by /usr/bin/time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchData.h"
#include "config/Konf.h"
#include "config/TYPEN.h"
#include "query/Query.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;


std::string Programm() { return (fs::read_symlink("/proc/self/exe").parent_path() / "tervalo-cli").string(); }

bool Sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

double Sekunden(const std::string& cmd) {
    const auto a = std::chrono::steady_clock::now();
    if (!Sh(cmd)) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_RasterQueryInProcess(benchmark::State& state) {
    TDateien kat;
    if (bench::RasterKatalog(2, false, &kat).empty()) return state.SkipWithError("gdal_translate failed (scripts/deps.sh bench)");
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = bench::kMosaicCentreX + 0.3;
    p.Y = bench::kMosaicCentreY + 0.4;
    q.Run(kat, p);  // loads the module and GDAL
    if (q.Speicher().Anzahl == 0) return state.SkipWithError("no points: the rasters were not read");
    double best = 1e9;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(q.Run(kat, p).ShepardZ);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    state.counters["min_ms"] = best * 1e3;
    state.counters["points"] = q.Speicher().Anzahl;
}
BENCHMARK(BM_RasterQueryInProcess)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RasterQueryCli(benchmark::State& state) {
    const std::string tif = bench::RasterKatalog(2, false), xyz = bench::RasterKatalog(2, true);
    if (tif.empty() || xyz.empty()) return state.SkipWithError("gdal_translate failed (scripts/deps.sh bench)");
    const std::string einZeile = bench::CacheDir() + "/eine_zeile.xyz";
    std::ofstream(einZeile) << "3566000.5 5936000.5 100\n";
    std::string cli = "'";  // appended: gcc 12 warns falsely on "'" + std::string
    cli += Programm();
    cli += "' ";
    const std::string query = cli + "query 3567000.3 5937000.4 --konf ";
    std::vector<double> tr, tx, ts, tt;
    for (auto _ : state) {
        for (int i = 0; i < 15; ++i) {  // alternately, so both meet the same machine state
            tr.push_back(Sekunden(query + "'" + tif + "' > /dev/null"));
            tx.push_back(Sekunden(query + "'" + xyz + "' > /dev/null"));
            ts.push_back(Sekunden(cli + "scan '" + bench::RasterTile(0, 0) + "' > /dev/null"));
            tt.push_back(Sekunden(cli + "scan '" + einZeile + "' > /dev/null"));
        }
        state.SetIterationTime(Median(tr));
    }
    if (std::min({*std::min_element(tr.begin(), tr.end()), *std::min_element(tx.begin(), tx.end())}) < 0)
        return state.SkipWithError("tervalo-cli failed");
    const double r = Median(tr), x = Median(tx), gdal = std::max(0.0, Median(ts) - Median(tt));
    state.counters["raster_ms"] = r * 1e3;
    state.counters["xyz_ms"] = x * 1e3;
    state.counters["gdal_ms"] = gdal * 1e3;
    state.counters["ratio"] = r / x;
    state.counters["ratio_less_gdal"] = (r - gdal) / x;
}
BENCHMARK(BM_RasterQueryCli)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The random points of the XYZ batch benchmark, made the same way when it has not run.
std::string Punkte() {
    const std::string pfad = bench::CacheDir() + "/punkte_1m.txt";
    std::error_code ec;
    if (fs::file_size(pfad, ec) == 1000000u * 22u) return pfad;
    const std::string tmp = pfad + ".part" + std::to_string(::getpid());
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    std::mt19937_64 rng(14);
    std::uniform_real_distribution<double> u(0.0, 4 * bench::kTileMetres - 0.01);
    for (long i = 0; i < 1000000; ++i) std::fprintf(f, "%.2f %.2f\n", bench::kOriginX + u(rng), bench::kOriginY + u(rng));
    std::fclose(f);
    fs::rename(tmp, pfad);
    return pfad;
}

void BM_RasterBatch4x4(benchmark::State& state) {
    const std::string konf = bench::RasterKatalog(4, false);
    if (konf.empty()) return state.SkipWithError("gdal_translate failed (scripts/deps.sh bench)");
    const std::string ein = Punkte(), mass = bench::CacheDir() + "/raster_batch.time";
    const std::string cmd = "/usr/bin/time -f '%M %e' -o '" + mass + "' '" + Programm() + "' batch '" + ein +
                            "' --konf '" + konf + "' > '" + bench::CacheDir() + "/raster_batch.txt'";
    double kb = 0, s = 0;
    for (auto _ : state) {
        if (!Sh(cmd)) return state.SkipWithError("batch failed (or /usr/bin/time missing)");
        std::ifstream(mass) >> kb >> s;
        state.SetIterationTime(s);
    }
    state.counters["peak_MB"] = kb / 1024.0;
    state.counters["points/s"] = benchmark::Counter(1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RasterBatch4x4)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
