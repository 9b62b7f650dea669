// dBase tables: walking a one-million-record tile with three fields read per record, and
// appending one million records to a new table.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/BenchData.h"
#include "formats/DbfFile.h"

using namespace tervalo;

namespace {

void BM_DbfRead(benchmark::State& state) {
    const std::string path = bench::DbfTile(0, 0, static_cast<int>(state.range(0)));
    int64_t records = 0;
    double sum = 0;
    for (auto _ : state) {
        TDbfFile dbf;
        dbf.OpenRead(path);
        for (dbf.First(); !dbf.AtEnd(); dbf.Next()) {
            sum += *dbf.FieldAsNumber(0) + *dbf.FieldAsNumber(1) + *dbf.FieldAsNumber(2);
            ++records;
        }
        dbf.Close();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(path)) * state.iterations());
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DbfRead)->Arg(3)->Arg(7)->Unit(benchmark::kMillisecond);

void BM_DbfWrite(benchmark::State& state) {
    const std::string path = bench::CacheDir() + "/bench_write.dbf";
    int64_t records = 0;
    // The table layer's cost, not the disk's: BM_CommitOutput measures the sync.
    const bool sync = TSichereDatei::SyncEnabled();
    TSichereDatei::SyncEnabled() = false;
    for (auto _ : state) {
        TSichereDatei file(path);
        TDbfFile dbf;
        dbf.CreateTable(file, 4, XyzFieldDefs());
        for (int row = 0; row < bench::kTileSide; ++row)
            for (int col = 0; col < bench::kTileSide; ++col) {
                double x = bench::kOriginX + col, y = bench::kOriginY + row;
                dbf.AppendRecord(x, y, 100.0 + 0.001 * ((col * 7 + row * 13) % 100000));
                ++records;
            }
        dbf.Close();
        file.Commit();
    }
    TSichereDatei::SyncEnabled() = sync;
    std::filesystem::remove(path);
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DbfWrite)->Unit(benchmark::kMillisecond);

}  // namespace
