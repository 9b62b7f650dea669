// `tervalo-cli batch --ein wgs84` against the same batch given in the tiles' system: 1,000,000
// points over the 4 x 4 mosaic of bench_batch_scale.cpp (its tiles and points), the mosaic's
// catalogue given its own system (GK zone 3) and the points as latitude / longitude converted
// from the mosaic's points through TUmrechnung. Both runs in one invocation; the figure asked
// for is the ratio of their rates (at most 1.2).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchData.h"
#include "config/Einstellungen.h"
#include "koord/Umrechnung.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

constexpr long kPunkte = 1000000;

std::string Programm() { return (fs::read_symlink("/proc/self/exe").parent_path() / "tervalo-cli").string(); }

// A copy of the catalogue bench_batch_scale writes, with the tiles' system beside it (the
// original stays as the other benchmarks know it).
std::string KatalogMitSystem() {
    const std::string quelle = bench::CacheDir() + "/mosaik4x4.KNF";
    const std::string konf = bench::CacheDir() + "/mosaik4x4_gk3.KNF";
    if (!fs::exists(quelle)) return {};
    fs::copy_file(quelle, konf, fs::copy_options::overwrite_existing);
    TEinstellungen e;
    e.Load(EinstellungenFileFor(konf));
    SetKachelSystem(e, 31467);
    e.Save(EinstellungenFileFor(konf));
    return konf;
}

// The mosaic's points as "lat lon" in WGS 84, converted once.
std::string PunkteGrad(const std::string& punkte) {
    const std::string pfad = bench::CacheDir() + "/punkte_1m_wgs84.txt";
    if (fs::exists(pfad)) return pfad;
    TUmrechnung u(ParseBezugssystem("wgs84"));
    const TBezugssystem gk3 = ParseBezugssystem("gk3");
    std::ifstream in(punkte);
    std::FILE* f = std::fopen((pfad + ".part").c_str(), "wb");
    double x = 0, y = 0;
    while (in >> x >> y) {
        const TUmgerechnet p = u.Convert(gk3, {x, y, false});
        std::fprintf(f, "%.9f %.9f\n", p.Y, p.X);
    }
    std::fclose(f);
    fs::rename(pfad + ".part", pfad);
    return pfad;
}

void Lauf(benchmark::State& state, const std::string& args) {
    const std::string cmd = "'" + Programm() + "' batch " + args + " > /dev/null";
    for (auto _ : state) {
        const auto a = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("batch failed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count());
    }
    state.counters["points/s"] = benchmark::Counter(kPunkte, benchmark::Counter::kIsIterationInvariantRate);
}

// Run after BM_BatchMosaik4x4 has made the tiles and points (same invocation or an earlier one).
void BM_BatchEinKacheln(benchmark::State& state) {
    const std::string konf = KatalogMitSystem();
    if (konf.empty()) return state.SkipWithError("run BM_BatchMosaik4x4 first");
    Lauf(state, "'" + bench::CacheDir() + "/punkte_1m.txt' --konf '" + konf + "'");
}
void BM_BatchEinWgs84(benchmark::State& state) {
    const std::string konf = KatalogMitSystem();
    if (konf.empty()) return state.SkipWithError("run BM_BatchMosaik4x4 first");
    const std::string punkte = PunkteGrad(bench::CacheDir() + "/punkte_1m.txt");
    Lauf(state, "'" + punkte + "' --ein wgs84 --konf '" + konf + "'");
}
BENCHMARK(BM_BatchEinKacheln)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_BatchEinWgs84)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
