// `tervalo-cli batch` at catalogue scale: 1,000,000 random points over a 4 x 4 mosaic of
// 1,000,000-point XYZ tiles (16 million points, about 590 MB of text). The program runs as a
// child process so its own peak memory is measured; the argument is --speicher in MiB
// (0: the default). The answers of every run are kept beside the data (batch_<MiB>.txt) so
// runs with different budgets can be compared byte for byte.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "BenchData.h"
#include "config/Konf.h"
#include "config/TYPEN.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

constexpr int kSeite = 4;           // tiles per side
constexpr long kPunkte = 1000000;   // input points
constexpr std::uintmax_t kZeile = 22;  // "XXXXXXX.XX YYYYYYY.YY\n"

std::string Programm() {
    return (fs::read_symlink("/proc/self/exe").parent_path() / "tervalo-cli").string();
}

// The batch command line (built by appending: gcc 12 warns falsely on "'" + std::string).
std::string Befehl(const std::string& ein, const std::string& konf) {
    std::string cmd = "'";
    cmd += Programm();
    cmd += "' batch '";
    cmd += ein;
    cmd += "' --konf '";
    cmd += konf;
    cmd += "'";
    return cmd;
}

// The random points, with two decimals so every line has the same length.
std::string Punkte() {
    const std::string pfad = bench::CacheDir() + "/punkte_1m.txt";
    std::error_code ec;
    if (fs::file_size(pfad, ec) == kPunkte * kZeile) return pfad;
    const std::string tmp = pfad + ".part" + std::to_string(::getpid());
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    std::mt19937_64 rng(14);
    const double breite = kSeite * bench::kTileMetres;
    std::uniform_real_distribution<double> u(0.0, breite - 0.01);
    for (long i = 0; i < kPunkte; ++i)
        std::fprintf(f, "%.2f %.2f\n", bench::kOriginX + u(rng), bench::kOriginY + u(rng));
    std::fclose(f);
    fs::rename(tmp, pfad);
    return pfad;
}

void BM_BatchMosaik4x4(benchmark::State& state) {
    const std::string konf = bench::Mosaik4x4Katalog();
    const std::string ein = Punkte();
    const long mib = state.range(0);
    const std::string aus = bench::CacheDir() + "/batch_" + std::to_string(mib) + ".txt";
    std::string cmd = Befehl(ein, konf);
    if (mib > 0) cmd += " --speicher " + std::to_string(mib);
    cmd += " > '" + aus + "'";
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        const int rc = std::system(cmd.c_str());
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
        if (rc != 0) state.SkipWithError("batch failed");
        state.SetIterationTime(s);
    }
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    state.counters["peak_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;  // largest child so far
    state.counters["points/s"] = benchmark::Counter(kPunkte, benchmark::Counter::kIsIterationInvariantRate);
}
// Loading alone: one point in each tile, so all 16 million points are read and indexed.
void BM_BatchMosaik4x4Laden(benchmark::State& state) {
    const std::string konf = bench::Mosaik4x4Katalog();
    const std::string ein = bench::CacheDir() + "/punkte_16.txt";
    if (std::FILE* f = std::fopen(ein.c_str(), "wb")) {
        for (int r = 0; r < kSeite; ++r)
            for (int c = 0; c < kSeite; ++c)
                std::fprintf(f, "%d.5 %d.5\n", static_cast<int>(bench::kOriginX) + c * bench::kTileMetres + 500,
                             static_cast<int>(bench::kOriginY) + r * bench::kTileMetres + 500);
        std::fclose(f);
    }
    const std::string cmd = Befehl(ein, konf) + " > /dev/null";
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("batch failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(kSeite * kSeite * bench::kTilePoints),
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BatchMosaik4x4Laden)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

// The same points over a catalogue of 250 entries: the mosaic and 234 small tiles of 40 m
// scattered over it, so every point looks at many entries' boxes and meets a few more tiles.
void BM_BatchMosaik250(benchmark::State& state) {
    TDateien kat;
    for (int r = 0; r < kSeite; ++r)
        for (int c = 0; c < kSeite; ++c) {
            const std::size_t i = static_cast<std::size_t>(++kat.Anzahl);
            kat.Datei[i] = bench::XyzTile(c, r);
            kat.Xmin[i] = bench::kOriginX + c * bench::kTileMetres;
            kat.Xmax[i] = kat.Xmin[i] + bench::kTileMetres;
            kat.Ymin[i] = bench::kOriginY + r * bench::kTileMetres;
            kat.Ymax[i] = kat.Ymin[i] + bench::kTileMetres;
        }
    std::mt19937_64 rng(250);
    std::uniform_real_distribution<double> u(0.0, kSeite * bench::kTileMetres - 40.0);
    while (kat.Anzahl < MaxDateien) {
        const std::size_t i = static_cast<std::size_t>(++kat.Anzahl);
        const double x0 = std::floor(bench::kOriginX + u(rng)), y0 = std::floor(bench::kOriginY + u(rng));
        const std::string pfad = bench::CacheDir() + "/klein_" + std::to_string(i) + ".xyz";
        if (std::FILE* f = std::fopen(pfad.c_str(), "wb")) {
            for (int y = 0; y <= 40; y += 5)
                for (int x = 0; x <= 40; x += 5) std::fprintf(f, "%.2f %.2f 50.00\n", x0 + x + 0.5, y0 + y + 0.5);
            std::fclose(f);
        }
        kat.Datei[i] = pfad;
        kat.Xmin[i] = x0 + 0.5, kat.Xmax[i] = x0 + 40.5, kat.Ymin[i] = y0 + 0.5, kat.Ymax[i] = y0 + 40.5;
    }
    const std::string konf = bench::CacheDir() + "/mosaik250.KNF";
    KonfSave(konf, TSettings{}, kat);
    const std::string cmd = Befehl(Punkte(), konf) + " > /dev/null";
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("batch failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    state.counters["points/s"] = benchmark::Counter(kPunkte, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BatchMosaik250)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Default budget first: the peak of the child processes only grows, so the smaller budget
// runs in a separate invocation (--benchmark_filter=BatchMosaik4x4/256) for its own figure.
BENCHMARK(BM_BatchMosaik4x4)->Arg(0)->Arg(256)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
