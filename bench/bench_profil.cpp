// `tervalo-cli profil` along a fixed 10 km zig-zag (bench/profil_zickzack.txt) across the 4 x 4
// mosaic at 1 m steps (10,074 samples): over the XYZ tiles and over the same grid as GeoTIFF
// tiles. Peers in the same run: `batch` with the same sample points over the same catalogue,
// and GDAL's gdallocationinfo over a VRT of the GeoTIFFs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchData.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

const std::string kEcken = TERVALO_BENCH_SOURCE_DIR "/profil_zickzack.txt";

// The program in quotes (built by appending: gcc 12 warns falsely on "'" + std::string).
std::string Programm() {
    std::string p = "'";
    p += (fs::read_symlink("/proc/self/exe").parent_path() / "tervalo-cli").string();
    p += "'";
    return p;
}

double Sekunden(const std::string& cmd) {
    const auto a = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

std::string Profil(const std::string& konf) {
    return Programm() + " profil --schritt 1 --datei '" + kEcken + "' --konf '" + konf + "'";
}

// The samples' coordinates as "x y" lines, from the profile's CSV.
std::string Proben(const std::string& konf) {
    const std::string csv = bench::CacheDir() + "/profil.csv", pfad = bench::CacheDir() + "/profil_punkte.txt";
    if (std::system((Profil(konf) + " --csv > '" + csv + "'").c_str()) != 0) return {};
    std::ifstream in(csv);
    std::ofstream out(pfad);
    std::string zeile;
    std::getline(in, zeile);  // head line
    while (std::getline(in, zeile)) {
        std::istringstream z(zeile);
        std::string station, x, y;
        std::getline(z, station, ';');
        std::getline(z, x, ';');
        std::getline(z, y, ';');
        out << x << ' ' << y << '\n';
    }
    return pfad;
}

long Zeilen(const std::string& pfad) {
    std::ifstream in(pfad);
    long n = 0;
    for (std::string z; std::getline(in, z);) ++n;
    return n;
}

void Lauf(benchmark::State& state, const std::string& konf, const std::string& peer, const char* peerName) {
    const std::string punkte = Proben(konf);
    if (punkte.empty()) return state.SkipWithError("profil failed");
    const long n = Zeilen(punkte);
    std::vector<double> t, p;
    for (auto _ : state) {
        t.push_back(Sekunden(Profil(konf) + " > /dev/null"));
        p.push_back(Sekunden(peer + " < '" + punkte + "' > /dev/null"));
        if (t.back() < 0 || p.back() < 0) return state.SkipWithError("a run failed");
        state.SetIterationTime(t.back());
    }
    std::sort(t.begin(), t.end());
    std::sort(p.begin(), p.end());
    const double mt = t[t.size() / 2], mp = p[p.size() / 2];
    state.counters["samples"] = static_cast<double>(n);
    state.counters["median_s"] = mt;
    state.counters[std::string(peerName) + "_s"] = mp;
    state.counters["ratio"] = mt / mp;
    state.counters["samples/s"] = static_cast<double>(n) / mt;
}

void BM_ProfilXyz4x4(benchmark::State& state) {
    const std::string konf = bench::Mosaik4x4Katalog();
    Lauf(state, konf, Programm() + " batch - --konf '" + konf + "'", "batch");
}
BENCHMARK(BM_ProfilXyz4x4)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ProfilTif4x4(benchmark::State& state) {
    const std::string konf = bench::RasterKatalog(4, false);
    if (konf.empty()) return state.SkipWithError("gdal_translate failed (scripts/deps.sh bench)");
    const std::string vrt = bench::CacheDir() + "/raster4.vrt";
    if (!fs::exists(vrt) &&
        std::system(("gdalbuildvrt -q '" + vrt + "' '" + bench::CacheDir() + "'/raster_[0-3]_[0-3].tif").c_str()) != 0)
        return state.SkipWithError("gdalbuildvrt failed");
    Lauf(state, konf, "gdallocationinfo -valonly -geoloc '" + vrt + "'", "gdallocationinfo");
}
BENCHMARK(BM_ProfilTif4x4)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
