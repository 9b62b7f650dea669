// A query through a folder of 35,000 tiles against the same query over a plain catalogue of the
// four tiles it needs (the 1 M-point tiles of the mosaic; the rest small pattern-named files far
// away). Command-line wall time, the minimum of 5 runs each, taken alternately; the index is
// current (a first run builds it and checks the tiles), so the change check is all it adds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchData.h"
#include "config/Konf.h"
#include "config/TYPEN.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

constexpr int kKacheln = 35000;

std::string Programm() { return (fs::read_symlink("/proc/self/exe").parent_path() / "tervalo-cli").string(); }

// The folder, made once: the mosaic's four tiles hard-linked in (one file system, no copy)
// and small agency-named tiles of four points each filling it up to 35,000.
std::string Ordner() {
    const std::string ordner = bench::CacheDir() + "/ordner35000_mosaik";
    const std::string fertig = ordner + ".fertig";
    if (fs::exists(fertig)) return ordner;
    fs::remove_all(ordner);
    fs::create_directories(ordner);
    const std::vector<std::string> mosaik = bench::XyzMosaic();
    for (std::size_t i = 0; i < mosaik.size(); ++i) {
        std::error_code ec;
        const std::string ziel = ordner + "/mosaik_" + std::to_string(i) + ".xyz";
        fs::create_hard_link(mosaik[i], ziel, ec);
        if (ec) fs::copy_file(mosaik[i], ziel);
    }
    int n = static_cast<int>(mosaik.size());
    for (int e = 280; n < kKacheln; ++e)
        for (int nn = 5600; nn < 5800 && n < kKacheln; ++nn, ++n) {
            char name[64];
            std::snprintf(name, sizeof name, "/dgm1_32_%03d_%04d_1_nw.xyz", e, nn);
            std::FILE* f = std::fopen((ordner + name).c_str(), "wb");
            for (int k = 0; k < 4; ++k)
                std::fprintf(f, "%d.50 %d.50 %d.25\n", e * 1000 + 250 * k, nn * 1000 + 250 * k, 100 + k);
            std::fclose(f);
        }
    std::fclose(std::fopen(fertig.c_str(), "wb"));
    return ordner;
}

std::string Katalog(bool ordner) {
    TDateien kat;
    if (ordner) {
        kat.Anzahl = 1;
        kat.Datei[1] = Ordner();
        // A folder entry is chosen by its index, not by this box.
        kat.Xmin[1] = 280000, kat.Xmax[1] = 3568000, kat.Ymin[1] = 5600000, kat.Ymax[1] = 5938000;
    } else {
        const std::vector<std::string> mosaik = bench::XyzMosaic();
        for (std::size_t i = 0; i < mosaik.size(); ++i) {
            const std::size_t e = static_cast<std::size_t>(++kat.Anzahl);
            kat.Datei[e] = mosaik[i];
            kat.Xmin[e] = bench::kOriginX + double(i % 2) * bench::kTileMetres;
            kat.Xmax[e] = kat.Xmin[e] + bench::kTileMetres;
            kat.Ymin[e] = bench::kOriginY + double(i / 2) * bench::kTileMetres;
            kat.Ymax[e] = kat.Ymin[e] + bench::kTileMetres;
        }
    }
    const std::string pfad = bench::CacheDir() + (ordner ? "/ordner35000_mosaik.KNF" : "/mosaik_plain.KNF");
    KonfSave(pfad, TSettings{}, kat);
    return pfad;
}

double Sekunden(const std::string& cmd) {
    const auto a = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

void BM_OrdnerQueryCli(benchmark::State& state) {
    const std::string index = bench::CacheDir() + "/index";
    fs::create_directories(index);
    ::setenv("TERVALO_INDEX_ORDNER", (index + "/").c_str(), 1);
    const std::string ko = Katalog(true), kp = Katalog(false);
    const std::string query = "'" + Programm() + "' query 3567000.3 5937000.4 --konf ";
    const std::string qo = query + "'" + ko + "' > /dev/null", qp = query + "'" + kp + "' > /dev/null";
    // Builds the index and checks the four tiles once.
    const auto a = std::chrono::steady_clock::now();
    if (Sekunden(qo) < 0) return state.SkipWithError("tervalo-cli failed over the folder");
    state.counters["erster_s"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
    double bo = 1e9, bp = 1e9;
    for (auto _ : state) {
        for (int i = 0; i < 5; ++i) {
            const double p = Sekunden(qp), o = Sekunden(qo);
            if (p < 0 || o < 0) return state.SkipWithError("tervalo-cli failed");
            bp = std::min(bp, p);
            bo = std::min(bo, o);
        }
        state.SetIterationTime(bo);
    }
    state.counters["ordner_ms"] = bo * 1e3;
    state.counters["plain_ms"] = bp * 1e3;
    state.counters["ratio"] = bo / bp;
}
BENCHMARK(BM_OrdnerQueryCli)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
