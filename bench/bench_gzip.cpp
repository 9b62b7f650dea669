// Packed tiles: the height query over the 2 x 2 mosaic packed with `gzip -6`, and the inflate
// libraries on one packed tile held in memory (one core, output streamed through a 1 MiB
// buffer; libdeflate only decodes whole buffers and is there for reference).
#include <benchmark/benchmark.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "config/TYPEN.h"
#include "query/Query.h"

namespace {

using namespace tervalo;
namespace fs = std::filesystem;

constexpr std::size_t kAusgabe = std::size_t{1} << 20;

// The tile packed beside it as <name>.xyz.gz, made once.
std::string Gepackt(const std::string& xyz) {
    const std::string gz = xyz + ".gz";
    if (fs::exists(gz) && fs::file_size(gz) > 0) return gz;
    const std::string tmp = gz + ".tmp";
    if (std::system(("gzip -6 -n -c '" + xyz + "' > '" + tmp + "'").c_str()) != 0)
        throw std::runtime_error("gzip failed: " + xyz);
    fs::rename(tmp, gz);
    return gz;
}

std::vector<unsigned char> Lade(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_QueryPackedMosaicCentre(benchmark::State& state) {
    TDateien kat;
    double text = 0;
    const auto kacheln = bench::XyzMosaic();
    for (std::size_t k = 0; k < kacheln.size(); ++k) {
        const std::size_t i = ++kat.Anzahl;
        const double x0 = bench::kOriginX + static_cast<double>(k % 2) * bench::kTileMetres;
        const double y0 = bench::kOriginY + static_cast<double>(k / 2) * bench::kTileMetres;
        kat.Datei[i] = Gepackt(kacheln[k]);
        kat.Xmin[i] = x0;
        kat.Xmax[i] = x0 + bench::kTileMetres;
        kat.Ymin[i] = y0;
        kat.Ymax[i] = y0 + bench::kTileMetres;
        text += static_cast<double>(fs::file_size(kacheln[k]));
    }
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = bench::kMosaicCentreX + 0.3;
    p.Y = bench::kMosaicCentreY + 0.4;
    for (auto _ : state) benchmark::DoNotOptimize(q.Run(kat, p).ShepardZ);
    state.counters["text_MB/s"] = benchmark::Counter(text / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["points"] = q.Speicher().Anzahl;
}
BENCHMARK(BM_QueryPackedMosaicCentre)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// One packed tile inflated by `lib`: 0 ISA-L igzip, 1 zlib, 2 libdeflate (whole buffer).
void BM_InflateTile(benchmark::State& state) {
    const auto gz = Lade(Gepackt(bench::XyzTile(0, 0)));
    std::vector<unsigned char> aus(kAusgabe);
    std::size_t text = 0;
    switch (state.range(0)) {
        case 0:
            state.SetLabel("isa-l igzip");
            for (auto _ : state) {
                inflate_state st;
                isal_inflate_init(&st);
                st.crc_flag = ISAL_GZIP;
                st.next_in = const_cast<uint8_t*>(gz.data());
                st.avail_in = static_cast<uint32_t>(gz.size());
                text = 0;
                do {
                    st.next_out = aus.data();
                    st.avail_out = static_cast<uint32_t>(aus.size());
                    if (isal_inflate(&st) != ISAL_DECOMP_OK) throw std::runtime_error("isal_inflate");
                    text += aus.size() - st.avail_out;
                } while (st.block_state != ISAL_BLOCK_FINISH);
            }
            break;
        case 1:
            state.SetLabel("zlib");
            for (auto _ : state) {
                z_stream z{};
                inflateInit2(&z, 16 + 15);
                z.next_in = const_cast<Bytef*>(gz.data());
                z.avail_in = static_cast<uInt>(gz.size());
                text = 0;
                int r;
                do {
                    z.next_out = aus.data();
                    z.avail_out = static_cast<uInt>(aus.size());
                    r = inflate(&z, Z_NO_FLUSH);
                    text += aus.size() - z.avail_out;
                } while (r == Z_OK);
                inflateEnd(&z);
                if (r != Z_STREAM_END) throw std::runtime_error("inflate");
            }
            break;
        default: {
            state.SetLabel("libdeflate (whole buffer)");
            std::vector<unsigned char> ganz(fs::file_size(bench::XyzTile(0, 0)));
            libdeflate_decompressor* d = libdeflate_alloc_decompressor();
            for (auto _ : state) {
                if (libdeflate_gzip_decompress(d, gz.data(), gz.size(), ganz.data(), ganz.size(), &text) !=
                    LIBDEFLATE_SUCCESS)
                    throw std::runtime_error("libdeflate");
            }
            libdeflate_free_decompressor(d);
        }
    }
    state.counters["text_MB/s"] =
        benchmark::Counter(static_cast<double>(text) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InflateTile)->ArgName("lib")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
