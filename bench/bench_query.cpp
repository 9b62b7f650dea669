// Height query over the 2 x 2 mosaic of 1,000,000-point XYZ tiles, compared in the same run
// with `wc -l` on the same files; batch heights for 1000 random points once the tiles are read.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchData.h"
#include "config/TYPEN.h"
#include "query/Batch.h"
#include "query/Query.h"

namespace {

using namespace tervalo;

TDateien MosaikKatalog(const std::vector<std::string>& dateien) {
    TDateien kat;
    for (std::size_t k = 0; k < dateien.size(); ++k) {
        const std::size_t i = ++kat.Anzahl;
        const double x0 = bench::kOriginX + static_cast<double>(k % 2) * bench::kTileMetres;
        const double y0 = bench::kOriginY + static_cast<double>(k / 2) * bench::kTileMetres;
        kat.Datei[i] = dateien[k];
        kat.Xmin[i] = x0;
        kat.Xmax[i] = x0 + bench::kTileMetres;
        kat.Ymin[i] = y0;
        kat.Ymax[i] = y0 + bench::kTileMetres;
    }
    return kat;
}

double Bytes(const std::vector<std::string>& dateien) {
    double n = 0;
    for (const auto& f : dateien) n += static_cast<double>(std::filesystem::file_size(f));
    return n;
}

// Median seconds of `wc -l` over the files (page cache warm).
double WcSekunden(const std::vector<std::string>& dateien) {
    std::string cmd = "wc -l";
    for (const auto& f : dateien) cmd += " '" + f + "'";
    cmd += " > /dev/null";
    std::vector<double> t;
    for (int i = 0; i < 9; ++i) {
        const auto a = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) return 0;
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void BM_QueryMosaicCentre(benchmark::State& state) {
    const auto dateien = bench::XyzMosaic();
    const TDateien kat = MosaikKatalog(dateien);
    const double wc = WcSekunden(dateien);
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = bench::kMosaicCentreX + 0.3;
    p.Y = bench::kMosaicCentreY + 0.4;
    std::vector<double> zeiten;
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(q.Run(kat, p).ShepardZ);
        zeiten.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    std::sort(zeiten.begin(), zeiten.end());
    const double median = zeiten[zeiten.size() / 2];
    state.counters["MB/s"] = Bytes(dateien) / median / 1e6;
    state.counters["wc_ms"] = wc * 1e3;
    state.counters["x_wc"] = wc > 0 ? median / wc : 0;
    state.counters["points"] = q.Speicher().Anzahl;
}
BENCHMARK(BM_QueryMosaicCentre)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_QueryMosaicCentreDbf(benchmark::State& state) {
    const auto dateien = bench::DbfMosaic(4);
    const TDateien kat = MosaikKatalog(dateien);
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = bench::kMosaicCentreX + 0.3;
    p.Y = bench::kMosaicCentreY + 0.4;
    for (auto _ : state) benchmark::DoNotOptimize(q.Run(kat, p).ShepardZ);
    state.counters["MB/s"] = benchmark::Counter(Bytes(dateien) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_QueryMosaicCentreDbf)->Unit(benchmark::kMillisecond);

void BM_Batch1000RandomPoints(benchmark::State& state) {
    const auto dateien = bench::XyzMosaic();
    const TDateien kat = MosaikKatalog(dateien);
    TBatchAbfrage batch(kat, 50.0, 2.0);
    batch.SetUmfang(static_cast<TUmfang>(state.range(0)));
    THoehenAntwort a;
    const auto a0 = std::chrono::steady_clock::now();
    for (int k = 0; k < 4; ++k)  // reads the four tiles
        batch.Ask(bench::kOriginX + 500 + (k % 2) * 1000, bench::kOriginY + 500 + (k / 2) * 1000, a);
    const double laden = std::chrono::duration<double>(std::chrono::steady_clock::now() - a0).count();
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> gx(bench::kOriginX, bench::kOriginX + 2 * bench::kTileMetres);
    std::uniform_real_distribution<double> gy(bench::kOriginY, bench::kOriginY + 2 * bench::kTileMetres);
    std::vector<std::pair<double, double>> punkte(1000);
    for (auto& pt : punkte) pt = {gx(rng), gy(rng)};
    for (auto _ : state)
        for (auto [x, y] : punkte) {
            batch.Ask(x, y, a);
            benchmark::DoNotOptimize(a.ShepardZ);
        }
    state.counters["points/s"] = benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["load_s"] = laden;
}
// Arg: what the answers hold (0 everything, 1 nearest point and Shepard height, 2 nearest point).
BENCHMARK(BM_Batch1000RandomPoints)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
