// The folder index over a state's worth of tiles: 35,000 small pattern-named XYZ tiles (points
// with the zone prefix, as the agencies write them). Building an index, bringing it up to date
// after one tile changed, the plain check of a run with nothing changed, opening it, and
// finding the tiles of a capture square.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ordner/KachelMuster.h"
#include "ordner/OrdnerIndex.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

constexpr int kSpalten = 175, kZeilen = 200;  // 35,000 km squares
constexpr int kOst0 = 280, kNord0 = 5600;

std::string KachelName(int s, int z) {
    char n[64];
    std::snprintf(n, sizeof n, "dgm1_32_%03d_%04d_1_nw.xyz", kOst0 + s, kNord0 + z);
    return n;
}

std::string KachelInhalt(int s, int z, int fassung) {
    const long x = 32000000L + (kOst0 + s) * 1000L, y = (kNord0 + z) * 1000L;
    std::string t;
    char zeile[96];
    for (int i = 0; i < 4; ++i) {
        std::snprintf(zeile, sizeof zeile, "%ld.50 %ld.50 %d.%03d\n", x + 250 * i, y + 250 * i, 100 + fassung, i);
        t += zeile;
    }
    return t;
}

void SetzeZeit(const std::string& p, long sekunden) {
    const timespec ts[2] = {{sekunden, 0}, {sekunden, 0}};
    ::utimensat(AT_FDCWD, p.c_str(), ts, 0);
}

void Schreibe(const std::string& p, const std::string& inhalt) {
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f || std::fwrite(inhalt.data(), 1, inhalt.size(), f) != inhalt.size() || std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + p);
}

// Made once into a side folder and renamed into place, so a broken run leaves no half folder.
const std::string& Ordner() {
    static const std::string pfad = [] {
        const std::string ziel = bench::CacheDir() + "/ordner35000";
        if (fs::exists(ziel + "/" + KachelName(kSpalten - 1, kZeilen - 1))) return ziel;
        const std::string tmp = ziel + ".part" + std::to_string(::getpid());
        fs::remove_all(tmp);
        fs::create_directories(tmp);
        for (int s = 0; s < kSpalten; ++s)
            for (int z = 0; z < kZeilen; ++z) Schreibe(tmp + "/" + KachelName(s, z), KachelInhalt(s, z, 0));
        fs::remove_all(ziel);
        fs::rename(tmp, ziel);
        return ziel;
    }();
    // An old folder time, as a folder copied in long ago has: the index may trust it at once.
    SetzeZeit(pfad, 1500000000);
    return pfad;
}

std::string IndexOrdner(const char* name) {
    const std::string p = bench::CacheDir() + "/index-" + name + "/";
    fs::create_directories(p);
    return p;
}

void Leeren(const std::string& indexOrdner) {
    for (const auto& e : fs::directory_iterator(indexOrdner)) fs::remove(e.path());
}

TOrdnerOptionen Optionen(const char* name) {
    TOrdnerOptionen o;
    o.IndexOrdner = IndexOrdner(name);
    return o;
}

// Telling tiles and their squares from the names of a state's folder.
void BM_KachelNamen35000(benchmark::State& state) {
    std::vector<std::string> namen;
    for (int s = 0; s < kSpalten; ++s)
        for (int z = 0; z < kZeilen; ++z) namen.push_back(KachelName(s, z));
    for (auto _ : state) {
        double summe = 0;
        for (const std::string& n : namen)
            if (IsKachelName(n))
                if (const auto a = ExtentFromName(n)) summe += a->Xmin;
        benchmark::DoNotOptimize(summe);
    }
}
BENCHMARK(BM_KachelNamen35000)->Unit(benchmark::kMillisecond);

void BM_OrdnerAufbau35000(benchmark::State& state) {
    const std::string ordner = Ordner();
    const TOrdnerOptionen o = Optionen("aufbau");
    std::size_t kacheln = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Leeren(o.IndexOrdner);
        state.ResumeTiming();
        TOrdnerIndex ix(ordner, o);
        const TOrdnerStand st = ix.Update();
        kacheln = st.Kacheln;
        if (st.Neu != std::size_t(kSpalten) * kZeilen) {
            state.SkipWithError("not every tile indexed");
            break;
        }
    }
    state.counters["tiles"] = double(kacheln);
}
BENCHMARK(BM_OrdnerAufbau35000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// An index made once per process for the following benchmarks.
TOrdnerIndex& Fertig() {
    static TOrdnerIndex ix = [] {
        const TOrdnerOptionen o = Optionen("fertig");
        Leeren(o.IndexOrdner);
        return TOrdnerIndex(Ordner(), o);
    }();
    static const bool aufgebaut = (ix.Update(), true);
    (void)aufgebaut;
    return ix;
}

void BM_OrdnerNachAenderung(benchmark::State& state) {
    TOrdnerIndex& ix = Fertig();
    const std::string kachel = Ordner() + "/" + KachelName(17, 42);
    static int fassung = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++fassung;
        Schreibe(kachel, KachelInhalt(17, 42, fassung % 2));
        // A day back (no racy time) to the nanosecond: a time never given before.
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        ts.tv_sec -= 86400;
        const timespec zeiten[2] = {ts, ts};
        ::utimensat(AT_FDCWD, kachel.c_str(), zeiten, 0);
        SetzeZeit(Ordner(), 1500000000);
        state.ResumeTiming();
        const TOrdnerStand st = ix.Update(nullptr, true);
        if (st.Geaendert != 1) {
            state.SkipWithError("the changed tile was not noticed");
            break;
        }
    }
}
BENCHMARK(BM_OrdnerNachAenderung)->Unit(benchmark::kMillisecond)->UseRealTime();

// What every run pays when nothing changed: the folder's time against the stored one.
void BM_OrdnerUpdateUnveraendert(benchmark::State& state) {
    TOrdnerIndex& ix = Fertig();
    ix.Update(nullptr, true);
    for (auto _ : state) {
        const TOrdnerStand st = ix.Update();
        if (st.Gelistet) {
            state.SkipWithError("listed although nothing changed");
            break;
        }
    }
}
BENCHMARK(BM_OrdnerUpdateUnveraendert)->Unit(benchmark::kMicrosecond);

// A program's start: opening the index (with its integrity check) and the plain Update.
void BM_OrdnerOeffnen(benchmark::State& state) {
    Fertig().Update(nullptr, true);
    TOrdnerOptionen o;
    o.IndexOrdner = IndexOrdner("fertig");
    for (auto _ : state) {
        TOrdnerIndex ix(Ordner(), o);
        benchmark::DoNotOptimize(ix.Update());
    }
}
BENCHMARK(BM_OrdnerOeffnen)->Unit(benchmark::kMillisecond);

void BM_OrdnerFind(benchmark::State& state) {
    const TOrdnerIndex& ix = Fertig();
    std::mt19937 rng(26);
    std::uniform_real_distribution<double> x(32000000.0 + kOst0 * 1000.0, 32000000.0 + (kOst0 + kSpalten) * 1000.0);
    std::uniform_real_distribution<double> y(kNord0 * 1000.0, (kNord0 + kZeilen) * 1000.0);
    std::vector<std::pair<double, double>> mitten(4096);
    for (auto& m : mitten) m = {x(rng), y(rng)};
    std::vector<TOrdnerKachel> t;
    std::size_t i = 0, treffer = 0;
    for (auto _ : state) {
        const auto [mx, my] = mitten[i++ & 4095];
        ix.Find(mx - 50, mx + 50, my - 50, my + 50, t);
        treffer += t.size();
    }
    state.counters["tiles_per_find"] = double(treffer) / double(state.iterations());
}
BENCHMARK(BM_OrdnerFind)->Unit(benchmark::kMicrosecond);

}  // namespace
