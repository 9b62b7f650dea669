// Text point files: reading a tile line by line with the point line reader, the extent
// scan, and writing one million XYZ and CSV lines.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/BenchData.h"
#include "filemanager/Extent.h"
#include "formats/TextPoints.h"

using namespace tervalo;

namespace {

constexpr int kWriteLines = 1'000'000;

std::string_view SkipWhite(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    return s.substr(i);
}

// Line splitting alone.
void BM_TextLines(benchmark::State& state) {
    const std::string path = bench::XyzTile();
    const auto bytes = std::filesystem::file_size(path);
    int64_t lines = 0;
    for (auto _ : state) {
        TZeilenLeser r(path);
        std::string_view line;
        while (r.ReadLine(line)) ++lines;
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.SetItemsProcessed(lines);
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TextLines)->Unit(benchmark::kMillisecond);

// What the conversion and the export do per line: trim, skip empty, read the point.
void BM_TextReadPoints(benchmark::State& state) {
    const std::string path = bench::XyzTile();
    const auto bytes = std::filesystem::file_size(path);
    int64_t lines = 0;
    double sum = 0;
    for (auto _ : state) {
        TZeilenLeser r(path);
        std::string_view line;
        double x, y, z;
        while (r.ReadLine(line)) {
            std::string_view t = SkipWhite(line);
            if (t.empty()) continue;
            if (ReadPointLine(t, x, y, z)) sum += z;
            ++lines;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.SetItemsProcessed(lines);
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TextReadPoints)->Unit(benchmark::kMillisecond);

void BM_TextExtentScan(benchmark::State& state) {
    const std::string path = bench::XyzTile();
    const auto bytes = std::filesystem::file_size(path);
    for (auto _ : state) {
        TExtremwerte e = ReadExtremwerte(path);
        if (e.Accepted != static_cast<uint64_t>(bench::kTilePoints)) state.SkipWithError("wrong point count");
        benchmark::DoNotOptimize(e.Xmax);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.SetItemsProcessed(bench::kTilePoints * state.iterations());
}
BENCHMARK(BM_TextExtentScan)->Unit(benchmark::kMillisecond);

template <bool Csv>
void WriteLines(benchmark::State& state) {
    const std::string path = bench::CacheDir() + (Csv ? "/write_bench.csv" : "/write_bench.xyz");
    for (auto _ : state) {
        TSichereDatei file(path);
        TPunktSchreiber w(file);
        if (Csv) w.WriteCsvHeading();
        for (int i = 0; i < kWriteLines; ++i) {
            const double x = bench::kOriginX + i % 1001, y = bench::kOriginY + i / 1001;
            const double z = 100.0 + (i % 7919) * 0.013;
            if (Csv)
                w.WriteCsv(x, y, z, ',');
            else
                w.WriteXyz(x, y, z);
        }
        w.Close();
        file.Commit();
    }
    state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(path)) * state.iterations());
    state.SetItemsProcessed(int64_t{kWriteLines} * state.iterations());
    std::filesystem::remove(path);
}
void BM_TextWriteXyz(benchmark::State& state) { WriteLines<false>(state); }
void BM_TextWriteCsv(benchmark::State& state) { WriteLines<true>(state); }
BENCHMARK(BM_TextWriteXyz)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextWriteCsv)->Unit(benchmark::kMillisecond);

}  // namespace

