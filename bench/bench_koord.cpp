// Conversion throughput: 1,000,000 GPS positions (latitude/longitude, WGS 84) over NRW into
// ETRS89 / UTM 32 with one converter, and the same number of GK zone 2 points through the
// BETA2007 grid.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "koord/Bezugssystem.h"
#include "koord/Umrechnung.h"

namespace {

using namespace tervalo;

constexpr int kPunkte = 1000000;

std::vector<TEingabePunkt> Punkte(double a0, double da, double b0, double db) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(0, 1);
    std::vector<TEingabePunkt> p(kPunkte);
    for (auto& q : p) q = TEingabePunkt{a0 + da * d(rng), b0 + db * d(rng), false};
    return p;
}

void Run(benchmark::State& state, const char* ein, const std::vector<TEingabePunkt>& punkte) {
    const TBezugssystem s = ParseBezugssystem(ein);
    TUmrechnung u(ParseBezugssystem("EPSG:25832"));
    u.Convert(s, punkte.front());  // the operation is made once, outside the timing
    for (auto _ : state) {
        double sum = 0;
        for (const TEingabePunkt& p : punkte) sum += u.Convert(s, p).X;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPunkte);
}

void BM_KoordWgs84ToUtm32(benchmark::State& state) { Run(state, "wgs84", Punkte(51.2, 0.4, 6.6, 0.6)); }
BENCHMARK(BM_KoordWgs84ToUtm32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_KoordGk2ToUtm32(benchmark::State& state) {
    Run(state, "gk2", Punkte(2550000, 20000, 5690000, 20000));
}
BENCHMARK(BM_KoordGk2ToUtm32)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
