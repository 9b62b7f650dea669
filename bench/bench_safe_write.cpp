// What the safe writer's sync costs at the end of a run: the export of the 2 x 2 mosaic with
// the sync of file and folder on and off, and Commit alone for a file of an output's size.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "config/TYPEN.h"
#include "export/Export.h"
#include "tools/SafeWriter.h"

using namespace tervalo;

namespace {

class SilentObserver : public TExportBeobachter {
public:
    void Log(const std::string&) override {}
};

// Restores the switch whichever way a benchmark ends.
class SyncSwitch {
public:
    explicit SyncSwitch(bool on) : old_(TSichereDatei::SyncEnabled()) { TSichereDatei::SyncEnabled() = on; }
    ~SyncSwitch() { TSichereDatei::SyncEnabled() = old_; }
    SyncSwitch(const SyncSwitch&) = delete;
    SyncSwitch& operator=(const SyncSwitch&) = delete;

private:
    bool old_;
};

void BM_ExportMosaicSync(benchmark::State& state) {
    const bool dbase = state.range(0) != 0;
    const SyncSwitch sync(state.range(1) != 0);
    TDateien cat;
    const std::vector<std::string> tiles = bench::XyzMosaic();
    for (int i = 0; i < 4; ++i) {
        const int k = ++cat.Anzahl;
        cat.Datei[k] = tiles[static_cast<std::size_t>(i)];
        cat.Xmin[k] = bench::kOriginX + (i % 2) * bench::kTileMetres;
        cat.Xmax[k] = cat.Xmin[k] + bench::kTileMetres;
        cat.Ymin[k] = bench::kOriginY + (i / 2) * bench::kTileMetres;
        cat.Ymax[k] = cat.Ymin[k] + bench::kTileMetres;
    }
    const std::string out = bench::CacheDir() + (dbase ? "/sync_export.dbf" : "/sync_export.xyz");
    const TAusgabe format{dbase ? TAusgabeFormat::DBase : TAusgabeFormat::Xyz, 3};
    const TExportGrenzen b{bench::kOriginX, bench::kOriginX + 2 * bench::kTileMetres, bench::kOriginY,
                          bench::kOriginY + 2 * bench::kTileMetres};
    int64_t points = 0;
    for (auto _ : state) {
        SilentObserver obs;
        const TExportErgebnis r = ExportRun(cat, b, out, format, TLaufOptionen{}, obs);
        if (r.Error) state.SkipWithError("export failed");
        points += r.Total + r.Duplicates;
    }
    std::filesystem::remove(out);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExportMosaicSync)
    ->ArgNames({"dbase", "sync"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Commit of a freshly written file of `MB` megabytes: rename alone, or with the syncs.
void BM_CommitOutput(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
    const SyncSwitch sync(state.range(1) != 0);
    const std::string out = bench::CacheDir() + "/commit_bench.bin";
    const std::string block(1 << 20, 'x');
    for (auto _ : state) {
        state.PauseTiming();
        TSichereDatei f(out);
        for (std::size_t done = 0; done < bytes; done += block.size()) f.Write(block.data(), block.size());
        state.ResumeTiming();
        f.Commit();
    }
    std::filesystem::remove(out);
}
// 148 MB: the XYZ export of the mosaic; 172 MB: its dBase table.
BENCHMARK(BM_CommitOutput)
    ->ArgNames({"MB", "sync"})
    ->Args({148, 0})
    ->Args({148, 1})
    ->Args({172, 0})
    ->Args({172, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
