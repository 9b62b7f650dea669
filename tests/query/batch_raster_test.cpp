// The batch over raster tiles answers as the single query over the same points as text: every
// valid pixel a line "x y z" at its centre, every other one a line the query rejects, so the
// counts of lines read agree too.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "query_test_util.h"
#include "query/Batch.h"
#include "formats/PunktQuelle.h"
#include "query/BatchKachel.h"
#include "query/Query.h"
#include "raster/raster_gen.h"

using namespace tervalo;
namespace fs = std::filesystem;

namespace {

// The raster's points as a text tile, written from what the reader delivers.
void WriteAsText(const std::string& raster, TRasterArt art, const std::string& ziel, double katNoData) {
    TRaster r(raster, art);
    const TRasterKopf k = r.Kopf();
    std::string s;
    char buf[96];
    r.ForEachPixel(k.Ganz(), [&](int32_t sp, int32_t z, double roh) {
        if (PixelOhneWert(k, roh, katNoData)) {
            s += "-\n";
            return;
        }
        std::snprintf(buf, sizeof buf, "%.17g %.17g %.17g\n", k.X(sp), k.Y(z), k.Hoehe(roh));
        s += buf;
    });
    test::WriteAll(ziel, s);
}

// A catalogue entry for the file, its box that of `box` (a raster's own for its text, so both
// catalogues select alike).
void Add(TDateien& kat, const std::string& pfad, std::string box = {}) {
    if (box.empty()) box = pfad;
    TPunktQuelle q(box);
    const std::size_t i = static_cast<std::size_t>(++kat.Anzahl);
    kat.Datei[i] = pfad;
    if (q.IsRaster()) {
        const TRasterAusdehnung a = TRaster(box, q.RasterArt()).Kopf().Ausdehnung();
        kat.Xmin[i] = a.Xmin, kat.Xmax[i] = a.Xmax, kat.Ymin[i] = a.Ymin, kat.Ymax[i] = a.Ymax;
        return;
    }
    // A text tile: the box of its points.
    std::ifstream in(box);
    double x, y, z;
    std::string zeile;
    kat.Xmin[i] = kat.Ymin[i] = 1e300;
    kat.Xmax[i] = kat.Ymax[i] = -1e300;
    while (std::getline(in, zeile))
        if (std::sscanf(zeile.c_str(), "%lf %lf %lf", &x, &y, &z) == 3) {
            kat.Xmin[i] = std::min(kat.Xmin[i], x), kat.Xmax[i] = std::max(kat.Xmax[i], x);
            kat.Ymin[i] = std::min(kat.Ymin[i], y), kat.Ymax[i] = std::max(kat.Ymax[i], y);
        }
}

// Batch answers over `kat` against the query over `referenz` (the same catalogue, or its
// rasters as text): all but the file names, bit for bit.
void Vergleiche(const TDateien& kat, const TDateien& referenz, double d, const std::vector<TBatchPunkt>& punkte,
                std::size_t speicher = 0, int* lesungen = nullptr) {
    TBatchAbfrage batch(kat, d, 2.0);
    batch.SetThreads(2);
    batch.SetMemoryBound(speicher);
    std::vector<THoehenAntwort> antworten(punkte.size());
    // With a bound, twice: the second call takes the points the other way round and reads
    // again what the first let go of.
    for (int mal = speicher ? 2 : 1; mal > 0; --mal)
        batch.AnswerAll(punkte, [&](std::size_t k, const THoehenAntwort& a) { antworten[k] = a; });
    if (lesungen) *lesungen = batch.Lesungen();
    // Answers without counts and Shepard height: the same nearest points.
    TBatchAbfrage schlank(kat, d, 2.0);
    schlank.SetUmfang(TUmfang::Naechster);
    schlank.SetMemoryBound(speicher);
    schlank.AnswerAll(punkte, [&](std::size_t k, const THoehenAntwort& a) {
        const THoehenAntwort& v = antworten[k];
        EXPECT_EQ(a.Fehler, v.Fehler);
        EXPECT_EQ(a.Berechnet, v.Berechnet);
        EXPECT_EQ(a.HatNaechster, v.HatNaechster);
        EXPECT_EQ(a.Naechster.Z, v.Naechster.Z) << "at " << v.X << " " << v.Y;
        EXPECT_EQ(a.Naechster.R, v.Naechster.R);
    });
    THoehenAbfrage q;
    for (std::size_t n = 0; n < punkte.size(); ++n) {
        SCOPED_TRACE(testing::Message() << "at " << punkte[n].X << " " << punkte[n].Y);
        TAbfrageParameter p;
        p.X = punkte[n].X, p.Y = punkte[n].Y, p.Fangbreite = d;
        bool fehler = false;
        try {
            q.Run(referenz, p);
        } catch (const std::exception&) {
            fehler = true;
        }
        const THoehenAntwort& e = q.Ergebnis();
        const THoehenAntwort& a = antworten[n];
        ASSERT_EQ(a.Beendet, !fehler) << a.Fehler;
        EXPECT_EQ(a.Fehler, e.Fehler);
        ASSERT_EQ(a.Dateien.size(), e.Dateien.size());
        for (std::size_t j = 0; j < e.Dateien.size(); ++j) {
            EXPECT_EQ(a.Dateien[j].Eintrag, e.Dateien[j].Eintrag);
            EXPECT_EQ(a.Dateien[j].Gelesen, e.Dateien[j].Gelesen);
            EXPECT_EQ(a.Dateien[j].Gefiltert, e.Dateien[j].Gefiltert) << "file " << j + 1;
            EXPECT_EQ(a.Dateien[j].Fehler, e.Dateien[j].Fehler);
            if (&kat == &referenz) {
                EXPECT_EQ(a.Dateien[j].Hinweis, e.Dateien[j].Hinweis);
            }
        }
        EXPECT_EQ(a.Anzahl, e.Anzahl);
        ASSERT_EQ(a.Berechnet, e.Berechnet);
        qtest::ExpectSameNearest(a, e);
        EXPECT_EQ(a.ShepardN, e.ShepardN);
        EXPECT_EQ(a.ShepardZ, e.ShepardZ);
    }
}

// Random points over the raster and around it, every hole's centre, the corner pixels'
// centres and points just outside the edges.
std::vector<TBatchPunkt> Punkte(const test::TRasterArt& a, int n) {
    std::mt19937 zufall(7);
    const double x0 = std::min(a.X(0), a.X(a.Spalten - 1)), x1 = std::max(a.X(0), a.X(a.Spalten - 1));
    const double y0 = std::min(a.Y(0), a.Y(a.Zeilen - 1)), y1 = std::max(a.Y(0), a.Y(a.Zeilen - 1));
    const double rand = 4 * std::abs(a.Dx);
    std::uniform_real_distribution<double> ux(x0 - rand, x1 + rand), uy(y0 - rand, y1 + rand);
    std::vector<TBatchPunkt> p;
    for (int i = 0; i < n; ++i) p.push_back({ux(zufall), uy(zufall)});
    for (int z = 0; z < a.Zeilen; ++z)
        for (int s = 0; s < a.Spalten; ++s)
            if (a.Loch(s, z)) p.push_back({a.X(s), a.Y(z)});
    for (double x : {x0, x1, x0 - 1e-9, x1 + 2 * rand})
        for (double y : {y0, y1, y1 + 1e-9, y0 - 2 * rand}) p.push_back({x, y});
    return p;
}

struct RasterBatch : ::testing::Test {
    test::TempDir dir;
    std::string P(const std::string& n) const { return dir / n; }
    // Makes the raster and its text; returns {raster, text}.
    std::pair<std::string, std::string> Make(const test::TRasterArt& a, double katNoData = -9999) {
        test::MakeRaster(a, dir.Path().string());
        const std::string r = P(a.Datei()), t = P(a.Name + ".txt");
        WriteAsText(r, a.Ascii ? TRasterArt::AsciiGrid : TRasterArt::GeoTiff, t, katNoData);
        return {r, t};
    }
};

test::TRasterArt Art(const std::string& name, int spalten, int zeilen, double x0, double y0, double dx, double dy) {
    test::TRasterArt a;
    a.Name = name, a.Spalten = spalten, a.Zeilen = zeilen, a.X0 = x0, a.Y0 = y0, a.Dx = dx, a.Dy = dy;
    return a;
}

TEST_F(RasterBatch, AnswersAsTheQueryOverItsPoints) {
    std::vector<test::TRasterArt> arten;
    // Float32 with holes, 16 x 16 blocks so squares cross them.
    arten.push_back(Art("f4", 37, 23, 566000, 5934023, 1, -1));
    arten.back().NoData = -9999, arten.back().Kacheln = "16", arten.back().System = "EPSG:25833";
    // Int16 in centimetres with an offset, south-up, 5 m.
    arten.push_back(Art("i2", 29, 17, 566100, 5933900, 5, 5));
    arten.back().Typ = "Int16", arten.back().NoData = -9999, arten.back().Skala = 0.01, arten.back().Versatz = 100;
    // Float64, 0.5 m, negative coordinates, another NoData than the catalogue's.
    arten.push_back(Art("f8", 41, 19, -120.5, -30, 0.5, -0.5));
    arten.back().Typ = "Float64", arten.back().NoData = -32768;
    // An ASCII grid without holes.
    arten.push_back(Art("ag", 31, 27, 565900, 5934127, 1, -1));
    arten.back().Ascii = true;
    for (const test::TRasterArt& a : arten) {
        SCOPED_TRACE(a.Name);
        const auto [r, t] = Make(a);
        TDateien kat, ref;
        kat.System = ref.System = 25832;
        Add(kat, r);
        Add(ref, t, r);
        for (double d : {3 * std::abs(a.Dx), 50.0}) Vergleiche(kat, ref, d, Punkte(a, 400));
        Vergleiche(kat, kat, 5.0, Punkte(a, 200));  // and the query over the raster itself
    }
}

// The raster's pixels as a grid: the window found from the spacing is the reader's, the
// counts and the exact-centre test agree with the pixels walked.
TEST_F(RasterBatch, GridWindowsAreTheReadersWindows) {
    test::TRasterArt a = Art("g1", 23, 19, 1000.25, 2000.75, 0.5, -0.5);
    a.NoData = -9999;
    test::TRasterArt b = Art("g2", 17, 13, -50, -70, 5, 5);  // south-up
    b.NoData = -9999;
    for (const test::TRasterArt& art : {a, b}) {
        SCOPED_TRACE(art.Name);
        test::MakeRaster(art, dir.Path().string());
        TRaster r(P(art.Datei()), TRasterArt::GeoTiff);
        const TRasterKopf k = r.Kopf();
        TGrossVektor<float> v(k.Pixel());
        r.ReadWindow(k.Ganz(), v.data(), v.size());
        for (float& f : v)
            if (PixelOhneWert(k, f, -9999)) f = std::numeric_limits<float>::quiet_NaN();
        const TRasterKachel kachel(k, v, {}, {});
        std::mt19937 zufall(3);
        const TRasterAusdehnung e = k.Ausdehnung();
        std::uniform_real_distribution<double> ux(e.Xmin - 3, e.Xmax + 3), uy(e.Ymin - 3, e.Ymax + 3);
        std::uniform_int_distribution<int> us(0, k.Spalten - 1), uz(0, k.Zeilen - 1);
        for (int i = 0; i < 3000; ++i) {
            // Bounds on pixel centres half the time: the edges included.
            TBox q{ux(zufall), 0, uy(zufall), 0};
            if (i % 2) q.xmin = k.X(us(zufall)), q.ymin = k.Y(uz(zufall));
            q.xmax = q.xmin + (i % 3 ? 4.0 : 0.0);
            q.ymax = i % 4 ? q.ymin + 2.5 : (i % 2 ? k.Y(uz(zufall)) : q.ymin);
            const TPixelFenster w = kachel.Window(q);
            ASSERT_EQ(w, k.FensterUeber(q.xmin, q.xmax, q.ymin, q.ymax)) << q.xmin << " " << q.xmax << " " << q.ymin;
            int64_t n = 0;
            uint64_t vorher = 0;
            bool ordnung = true;
            kachel.ForEachIn(q, [&](const TRasterKachel::TTreffer& p) {
                ++n;
                EXPECT_TRUE(q.Contains(p.x, p.y));
                EXPECT_TRUE(kachel.Contains(p.x, p.y));
                ordnung = ordnung && (n == 1 || p.Position() > vorher);
                vorher = p.Position();
            });
            EXPECT_TRUE(ordnung);
            EXPECT_EQ(kachel.Count(q), n);
        }
        // Holes, off-centre positions and places beyond the edges are no points.
        int loecher = 0;
        for (int z = 0; z < k.Zeilen; ++z)
            for (int s = 0; s < k.Spalten; ++s) {
                EXPECT_EQ(kachel.Contains(k.X(s), k.Y(z)), !art.Loch(s, z));
                EXPECT_FALSE(kachel.Contains(k.X(s) + 1e-7, k.Y(z)));
                loecher += art.Loch(s, z);
            }
        EXPECT_FALSE(kachel.Contains(k.X(-1), k.Y(0)));
        EXPECT_FALSE(kachel.Contains(k.X(0), k.Y(k.Zeilen)));
        EXPECT_EQ(kachel.PointCount(), k.Pixel() - static_cast<uint64_t>(loecher));
        EXPECT_GT(loecher, 0);
    }
}

// A raster overlapping text tiles: the first file holding a position gives it, whichever kind
// it is; with a bound of one byte every batch lets go of its tiles and reads them again.
TEST_F(RasterBatch, MixedCatalogueKeepsTheFirstOfEachPosition) {
    test::TRasterArt a = Art("m1", 40, 30, 566000, 5934030, 1, -1);
    a.NoData = -9999, a.Kacheln = "16";
    const auto [r, t] = Make(a);
    // Text points on part of the raster's centres (other heights), between them, and a NoData one.
    std::string s;
    char buf[96];
    for (int j = 0; j <= 20; ++j)
        for (int i = 0; i <= 25; ++i) {
            const double z = i == 10 && j == 10 ? -9999.0 : 150 + 0.125 * i - 0.25 * j;
            std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f\n", 566020.5 + i, 5934010.5 + j, z);
            s += buf;
            std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f\n", 566020.25 + i, 5934010.75 + j, z + 1);
            s += buf;
        }
    const std::string text = P("m_text.xyz"), fern = P("m_fern.xyz");
    test::WriteAll(text, s);
    test::WriteAll(fern, "567000.5 5935000.5 10\n567001.5 5935000.5 11\n567000.5 5935001.5 12\n");
    std::vector<TBatchPunkt> punkte = Punkte(a, 500);
    for (double x = 566015; x < 566050; x += 1.7) punkte.push_back({x, 5934012.2});
    for (double x = 566999; x < 567003; x += 0.7) punkte.push_back({x, 5935001.1});
    for (const bool rasterZuerst : {true, false}) {
        SCOPED_TRACE(rasterZuerst ? "raster first" : "text first");
        TDateien kat, ref;
        Add(kat, rasterZuerst ? r : text);
        Add(kat, rasterZuerst ? text : r);
        Add(ref, rasterZuerst ? t : text, rasterZuerst ? r : text);
        Add(ref, rasterZuerst ? text : t, rasterZuerst ? text : r);
        Add(kat, fern);
        Add(ref, fern);
        Vergleiche(kat, ref, 5.0, punkte);
        int lesungen = 0;
        Vergleiche(kat, ref, 5.0, punkte, 1, &lesungen);
        EXPECT_GT(lesungen, 3);  // let go of and read again
    }
}

// A broken block: squares whose window meets it give the query's read error after the rows
// before it; the others answer as over the whole raster.
TEST_F(RasterBatch, DamagedBlockFailsOnlyTheSquaresMeetingIt) {
    test::TRasterArt a = Art("d1", 64, 64, 1000, 2064, 1, -1);
    a.NoData = -9999, a.Kacheln = "16";
    const auto [heil, text] = Make(a);
    const std::string kaputt = P("kaputt.tif");
    fs::copy_file(heil, kaputt);
    const test::ShellResult off = test::Shell("/usr/bin/python3 -c \"from osgeo import gdal; ds = gdal.Open('" + heil +
                                              "'); print(ds.GetRasterBand(1).GetMetadataItem('BLOCK_OFFSET_1_2', 'TIFF'))\"");
    ASSERT_EQ(off.code, 0) << off.out;
    {
        std::fstream io(kaputt, std::ios::in | std::ios::out | std::ios::binary);
        io.seekp(std::stoll(off.out));
        const std::string mist(64, '\xFF');
        io.write(mist.data(), static_cast<std::streamsize>(mist.size()));
    }
    // Block (1, 2): columns 16..31, rows 32..47, y from 2032 down to 2016.
    TDateien kat, ref;
    Add(kat, kaputt);
    Add(ref, text, heil);
    const double d = 3;
    std::vector<TBatchPunkt> fern, nah;
    std::mt19937 zufall(11);
    std::uniform_real_distribution<double> u(995, 1069);
    for (int i = 0; i < 1500; ++i) {
        const TBatchPunkt p{u(zufall), u(zufall) + 995};
        const bool trifft = p.X + d >= 1016.5 && p.X - d <= 1031.5 && p.Y + d >= 2016.5 && p.Y - d <= 2031.5;
        (trifft ? nah : fern).push_back(p);
    }
    ASSERT_GT(nah.size(), 50u);
    Vergleiche(kat, ref, d, fern);

    Vergleiche(kat, kat, d, nah);
    TBatchAbfrage batch(kat, d, 2.0);
    batch.SetThreads(2);
    const std::string meldung = "Datei besch\xC3\xA4" "digt: " + kaputt;
    batch.AnswerAll(nah, [&](std::size_t, const THoehenAntwort& x) {
        EXPECT_EQ(x.Fehler, meldung);
        EXPECT_FALSE(x.Beendet);
    });
    EXPECT_EQ(batch.TakeMessages(), std::vector<std::string>{meldung});
}

// GDAL's block cache is a part of the memory bound, tiles and cache together within it.
TEST_F(RasterBatch, BlockCacheCountsInsideTheMemoryBound) {
    test::TRasterArt a = Art("c1", 300, 260, 0, 2600, 10, -10);
    a.Kacheln = "256";
    const auto [r, t] = Make(a);
    TDateien kat;
    Add(kat, t);
    Add(kat, r);
    TBatchAbfrage batch(kat, 5, 2.0);
    batch.SetMemoryBound(std::size_t{16} << 20);
    THoehenAntwort x;
    batch.Ask(1005, 5, x);
    EXPECT_EQ(raster::CacheGroesse(), int64_t{1} << 20);
    EXPECT_LE(static_cast<int64_t>(batch.BelegteBytes()) + raster::CacheBelegt(), int64_t{16} << 20);
    EXPECT_TRUE(x.Beendet);
    EXPECT_GT(x.Anzahl, 0);
}

// A header promising more pixels than memory could hold is refused, not allocated by.
TEST_F(RasterBatch, GridTooLargeToHoldIsARefusal) {
    const std::string gross = P("gross.tif");
    const test::ShellResult g = test::Shell("gdal_create -q -of GTiff -outsize 400000 400000 -ot Float32 -co SPARSE_OK=YES "
                                            "-co TILED=YES -a_ullr 0 400000 400000 0 " + test::Quote(gross));
    ASSERT_EQ(g.code, 0) << g.out;
    TDateien kat;
    Add(kat, gross);
    TBatchAbfrage batch(kat, 5, 2.0);
    THoehenAntwort x;
    batch.Ask(100, 100, x);
    EXPECT_FALSE(x.Beendet);
    EXPECT_EQ(x.Fehler, "Rasterdatei zu gro\xC3\x9F f\xC3\xBCr den Arbeitsspeicher: " + gross);
}

}  // namespace
