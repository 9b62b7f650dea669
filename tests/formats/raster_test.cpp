// Raster tiles through the GDAL module: detection by content, the header, pixel centres and
// values against GDAL's own XYZ export bit for bit, windows, refusals, damage, and that no
// program links GDAL or loads it for text tiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "formats/PunktQuelle.h"
#include "formats/Raster.h"
#include "query/Query.h"
#include "query/query_test_util.h"
#include "support/files.h"
#include "support/shell.h"

using namespace tervalo;
using tervalo::test::Quote;
using tervalo::test::Shell;
using tervalo::test::TempDir;

namespace {

struct Pkt {
    double x, y, z;
};

bool Gleich(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Runs a GDAL tool; a missing tool fails the test like a failing one.
void Gdal(const std::string& cmd) {
    const auto r = Shell(cmd);
    ASSERT_EQ(r.code, 0) << cmd << "\n" << r.out;
}

// An ESRI ASCII grid; `werte` row by row from the top.
void Asc(const std::string& pfad, int spalten, int zeilen, double xll, double yll, double zelle,
         const std::vector<double>& werte, const char* nodata = "-9999") {
    std::ostringstream s;
    s.precision(17);
    s << "ncols " << spalten << "\nnrows " << zeilen << "\nxllcorner " << xll << "\nyllcorner " << yll
      << "\ncellsize " << zelle << "\n";
    if (nodata) s << "NODATA_value " << nodata << "\n";
    for (int z = 0; z < zeilen; ++z) {
        for (int sp = 0; sp < spalten; ++sp) s << werte[z * spalten + sp] << (sp + 1 < spalten ? " " : "\n");
    }
    tervalo::test::WriteAll(pfad, s.str());
}

std::vector<double> Werte(int n, double schritt = 0.25, double anfang = -3.0) {
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = anfang + schritt * ((i * 7) % 23);
    return v;
}

// GDAL's XYZ export of a raster, as numbers.
std::vector<Pkt> GdalXyz(const std::string& raster, const std::string& optionen = "") {
    const std::string ziel = raster + ".xyz";
    Gdal("gdal_translate -q " + optionen + " -of XYZ " + Quote(raster) + " " + Quote(ziel));
    std::vector<Pkt> v;
    std::ifstream in(ziel);
    std::string zeile;
    while (std::getline(in, zeile)) {
        const char* p = zeile.c_str();
        char* e;
        Pkt k;
        k.x = std::strtod(p, &e);
        k.y = std::strtod(e, &e);
        k.z = std::strtod(e, &e);
        v.push_back(k);
    }
    return v;
}

// Every pixel of a window through the reader, raw values.
std::vector<Pkt> Lies(TRaster& r, const TPixelFenster& f) {
    std::vector<Pkt> v;
    r.ForEachPixel(f, [&](int32_t s, int32_t z, double roh) { v.push_back({r.Kopf().X(s), r.Kopf().Y(z), roh}); });
    return v;
}

void ErwarteGleich(const std::vector<Pkt>& ist, const std::vector<Pkt>& soll, const std::string& was) {
    ASSERT_EQ(ist.size(), soll.size()) << was;
    for (std::size_t i = 0; i < ist.size(); ++i) {
        ASSERT_TRUE(Gleich(ist[i].x, soll[i].x) && Gleich(ist[i].y, soll[i].y) && Gleich(ist[i].z, soll[i].z))
            << was << " point " << i << ": " << ist[i].x << " " << ist[i].y << " " << ist[i].z << " vs " << soll[i].x
            << " " << soll[i].y << " " << soll[i].z;
    }
}

std::string Meldung(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

}  // namespace

TEST(RasterArt, FromTheFirstBytes) {
    auto art = [](const std::string& s) {
        return RasterArtVon(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    };
    using std::string;
    EXPECT_EQ(art(string("II*\0\x08\0\0\0", 8)), TRasterArt::GeoTiff);
    EXPECT_EQ(art(string("MM\0*\0\0\0\x08", 8)), TRasterArt::GeoTiff);
    EXPECT_EQ(art(string("II+\0\x08\0\0\0", 8)), TRasterArt::GeoTiff);  // BigTIFF
    EXPECT_EQ(art(string("MM\0+\0\x08\0\0", 8)), TRasterArt::GeoTiff);
    EXPECT_EQ(art(string("II*", 3)), TRasterArt::Keine);
    EXPECT_EQ(art(string("MM*\0", 4)), TRasterArt::Keine);  // mixed byte order
    EXPECT_EQ(art("ncols 3\nnrows 2\n"), TRasterArt::AsciiGrid);
    EXPECT_EQ(art(" \tNCOLS\t3"), TRasterArt::AsciiGrid);
    EXPECT_EQ(art("nCoLs 1"), TRasterArt::AsciiGrid);
    EXPECT_EQ(art("ncols"), TRasterArt::Keine);  // nothing after it
    EXPECT_EQ(art("ncolsx 3"), TRasterArt::Keine);
    EXPECT_EQ(art("nrows 2\nncols 3\n"), TRasterArt::Keine);
    EXPECT_EQ(art("\nncols 3"), TRasterArt::Keine);  // blanks only, no line break
    EXPECT_EQ(art("3500000.0 5800000.0 100.0\n"), TRasterArt::Keine);
    EXPECT_EQ(art(""), TRasterArt::Keine);
}

// Which reader takes a file follows from its content, whatever its name: dBase, gzip,
// GeoTIFF, ASCII grid, text.
TEST(RasterArt, PointSourceOrder) {
    TempDir d;
    Asc(d / "g.txt", 2, 2, 0, 0, 1, {1, 2, 3, 4});
    Gdal("gdal_translate -q -of GTiff " + Quote(d / "g.txt") + " " + Quote(d / "t.xyz"));
    tervalo::test::WriteAll(d / "x.asc", "ncolsx 1 2 3\n1 2 3\n");
    tervalo::test::WriteAll(d / "z.tif", std::string("\x1F\x8B", 2) + "II*");
    {
        TPunktQuelle q(d / "t.xyz");
        EXPECT_TRUE(q.IsRaster());
        EXPECT_EQ(q.RasterArt(), TRasterArt::GeoTiff);
        ASSERT_EQ(q.Open(), 0);
        ASSERT_NE(q.Raster(), nullptr);
        EXPECT_EQ(q.Raster()->Kopf().Pixel(), 4u);
    }
    {
        TPunktQuelle q(d / "g.txt");
        EXPECT_EQ(q.RasterArt(), TRasterArt::AsciiGrid);
        ASSERT_EQ(q.Open(), 0);
        EXPECT_EQ(q.Raster()->Kopf().Spalten, 2);
    }
    TPunktQuelle text(d / "x.asc");
    EXPECT_EQ(text.Art(), TQuellArt::Text);
    EXPECT_EQ(text.Raster(), nullptr);
    EXPECT_EQ(TPunktQuelle(d / "z.tif").Art(), TQuellArt::Gepackt);
}

// Header, pixel centres and raw values over the whole raster agree bit for bit with
// gdal_translate -of XYZ, for types, cell sizes, negative coordinates, north-up and south-up.
TEST(Raster, AgreesWithGdalXyzBitForBit) {
    TempDir d;
    struct Fall {
        std::string name, optionen;
        int spalten, zeilen;
        double xll, yll, zelle;
        TRasterTyp typ;
        double dy;
    };
    const std::vector<Fall> faelle = {
        {"i16.tif", "-ot Int16", 7, 5, -1234.5, -998.0, 1.0, TRasterTyp::Int16, -1.0},
        {"f32.tif", "-ot Float32 -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE", 37, 41,
         3500000.25, 5800000.5, 0.5, TRasterTyp::Float32, -0.5},
        {"f64.tif", "-ot Float64", 3, 9, 300000.0, 5600000.0, 5.0, TRasterTyp::Float64, -5.0},
        {"u16.tif", "-ot UInt16 -a_nodata 0", 4, 3, 0.1, 0.3, 0.1, TRasterTyp::UInt16, -0.1},
    };
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.name);
        std::vector<double> w = Werte(f.spalten * f.zeilen, f.typ == TRasterTyp::Float32 || f.typ == TRasterTyp::Float64 ? 0.25 : 1.0,
                                      f.typ == TRasterTyp::UInt16 ? 0.0 : -3.0);
        w[3] = -9999;
        if (f.typ == TRasterTyp::UInt16) w[3] = 7;
        Asc(d / "q.asc", f.spalten, f.zeilen, f.xll, f.yll, f.zelle, w);
        const std::string ziel = d / f.name;
        Gdal("gdal_translate -q " + f.optionen + " " + Quote(d / "q.asc") + " " + Quote(ziel));
        TRaster r(ziel, TRasterArt::GeoTiff);
        const TRasterKopf& k = r.Kopf();
        EXPECT_EQ(k.Spalten, f.spalten);
        EXPECT_EQ(k.Zeilen, f.zeilen);
        EXPECT_EQ(k.Typ, f.typ);
        EXPECT_EQ(k.DX, f.zelle);
        EXPECT_EQ(k.DY, f.dy);
        EXPECT_EQ(k.FloatGenau(), f.typ != TRasterTyp::Float64);
        EXPECT_TRUE(k.HatNoData);
        EXPECT_EQ(k.NoData, f.typ == TRasterTyp::UInt16 ? 0.0 : -9999.0);
        EXPECT_FALSE(k.HatSkala);
        const auto pkt = Lies(r, k.Ganz());
        ErwarteGleich(pkt, GdalXyz(ziel), f.name);
        if (f.typ != TRasterTyp::UInt16) {
            EXPECT_TRUE(k.IstKeinWert(pkt[3].z));
        }
        EXPECT_FALSE(k.IstKeinWert(pkt[4].z));
        // The extent of the pixel centres from the header alone.
        const auto a = k.Ausdehnung();
        EXPECT_TRUE(Gleich(a.Xmin, pkt.front().x) && Gleich(a.Xmax, pkt.back().x));
        EXPECT_TRUE(Gleich(a.Ymax, pkt.front().y) && Gleich(a.Ymin, pkt.back().y));
    }

    // South-up: a positive ΔY, rows from the south.
    Asc(d / "s.asc", 3, 4, 10, 20, 2, Werte(12));
    Gdal("gdal_translate -q -ot Float32 -a_ullr 10 20 16 28 " + Quote(d / "s.asc") + " " + Quote(d / "s.tif"));
    TRaster s(d / "s.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(s.Kopf().DY, 2.0);
    const auto sp = Lies(s, s.Kopf().Ganz());
    ErwarteGleich(sp, GdalXyz(d / "s.tif"), "south-up");
    EXPECT_EQ(sp.front().y, 21.0);
    EXPECT_EQ(s.Kopf().Ausdehnung().Ymin, 21.0);
    EXPECT_EQ(s.Kopf().Ausdehnung().Ymax, 27.0);
}

// PixelIsPoint files: GDAL already moves them onto the pixel-area grid, so the header and the
// points equal those of the same raster written as PixelIsArea.
TEST(Raster, PixelIsPointReadsAsTheAreaGrid) {
    TempDir d;
    Asc(d / "q.asc", 5, 4, 500.0, 700.0, 1.0, Werte(20));
    Gdal("gdal_translate -q -ot Float32 " + Quote(d / "q.asc") + " " + Quote(d / "a.tif"));
    Gdal("gdal_translate -q -mo AREA_OR_POINT=Point " + Quote(d / "a.tif") + " " + Quote(d / "p.tif"));
    ASSERT_NE(Shell("gdalinfo " + Quote(d / "p.tif")).out.find("AREA_OR_POINT=Point"), std::string::npos);
    TRaster a(d / "a.tif", TRasterArt::GeoTiff), p(d / "p.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(p.Kopf().X0, a.Kopf().X0);
    EXPECT_EQ(p.Kopf().Y0, a.Kopf().Y0);
    ErwarteGleich(Lies(p, p.Kopf().Ganz()), Lies(a, a.Kopf().Ganz()), "point vs area");
    ErwarteGleich(Lies(p, p.Kopf().Ganz()), GdalXyz(d / "p.tif"), "point vs its export");
}

// Scale and offset are reported, never applied to the raw values; Hoehe applies them in
// double. gdal_translate -unscale computes in float (200.07 becomes 200.0700073), so its
// export agrees to float's precision only.
TEST(Raster, ScaleAndOffset) {
    TempDir d;
    Asc(d / "q.asc", 4, 3, 0, 0, 1, Werte(12, 1.0, 10000.0));
    Gdal("gdal_translate -q -ot Int16 -a_scale 0.01 -a_offset 100 " + Quote(d / "q.asc") + " " + Quote(d / "c.tif"));
    TRaster r(d / "c.tif", TRasterArt::GeoTiff);
    const TRasterKopf& k = r.Kopf();
    EXPECT_TRUE(k.HatSkala);
    EXPECT_EQ(k.Skala, 0.01);
    EXPECT_EQ(k.Versatz, 100.0);
    auto roh = Lies(r, k.Ganz());
    ErwarteGleich(roh, GdalXyz(d / "c.tif"), "raw");
    EXPECT_EQ(roh[1].z, 10007.0);
    EXPECT_EQ(k.Hoehe(roh[1].z), 10007.0 * 0.01 + 100.0);
    const auto unskaliert = GdalXyz(d / "c.tif", "-unscale -ot Float64");
    ASSERT_EQ(roh.size(), unskaliert.size());
    for (std::size_t i = 0; i < roh.size(); ++i) EXPECT_NEAR(k.Hoehe(roh[i].z), unskaliert[i].z, 1e-4) << i;
    Gdal("gdal_translate -q -ot Int16 -a_offset -5 " + Quote(d / "q.asc") + " " + Quote(d / "v.tif"));
    const TRaster v(d / "v.tif", TRasterArt::GeoTiff);
    EXPECT_TRUE(v.Kopf().HatSkala);
    EXPECT_EQ(v.Kopf().Skala, 1.0);
    EXPECT_EQ(v.Kopf().Hoehe(3.0), -2.0);
}

// An ASCII grid is read through GDAL too, its decimal values as double: exactly the numbers
// written (GDAL's own choice, float, would give 1.10000002 for 1.1, and its XYZ export does).
// Its system comes from the sidecar .prj although the folder is never listed.
TEST(Raster, AsciiGrid) {
    TempDir d;
    Asc(d / "g.asc", 3, 2, -10.25, 20.5, 0.5, {1.1, 2.25, -9999, 4, 5, 1000.01});
    TRaster r(d / "g.asc", TRasterArt::AsciiGrid);
    EXPECT_EQ(r.Kopf().Typ, TRasterTyp::Float64);
    EXPECT_EQ(r.System().Epsg, 0);
    const auto pkt = Lies(r, r.Kopf().Ganz());
    ASSERT_EQ(pkt.size(), 6u);
    EXPECT_TRUE(r.Kopf().IstKeinWert(pkt[2].z));
    auto soll = GdalXyz(d / "g.asc");
    const double werte[] = {1.1, 2.25, -9999, 4, 5, 1000.01};
    ASSERT_EQ(soll.size(), 6u);
    for (std::size_t i = 0; i < soll.size(); ++i) {
        EXPECT_NEAR(soll[i].z, werte[i], 1e-4);
        soll[i].z = werte[i];
    }
    ErwarteGleich(pkt, soll, "ascii grid");

    Gdal("gdalsrsinfo --single-line -o wkt1 EPSG:25832 > " + Quote(d / "g.prj"));
    TRaster mit(d / "g.asc", TRasterArt::AsciiGrid);
    EXPECT_EQ(mit.System().Epsg, 25832);
    EXPECT_NE(mit.System().Name.find("UTM zone 32N"), std::string::npos) << mit.System().Name;
}

// The horizontal system, also out of a compound one.
TEST(Raster, HorizontalReferenceSystem) {
    TempDir d;
    Asc(d / "q.asc", 2, 2, 0, 0, 1, {1, 2, 3, 4});
    Gdal("gdal_translate -q -a_srs EPSG:25832 " + Quote(d / "q.asc") + " " + Quote(d / "h.tif"));
    Gdal("gdal_translate -q -a_srs EPSG:25832+7837 " + Quote(d / "q.asc") + " " + Quote(d / "c.tif"));
    Gdal("gdal_translate -q " + Quote(d / "q.asc") + " " + Quote(d / "n.tif"));
    EXPECT_EQ(TRaster(d / "h.tif", TRasterArt::GeoTiff).System().Epsg, 25832);
    TRaster c(d / "c.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(c.System().Epsg, 25832) << c.System().Name;
    EXPECT_EQ(c.System().Name.find("DHHN"), std::string::npos) << c.System().Name;
    // Looked up once, kept across a move.
    TRaster c2(std::move(c));
    EXPECT_EQ(c2.System().Epsg, 25832);
    TRaster n(d / "n.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(n.System().Epsg, 0);
    EXPECT_EQ(n.System().Name, "");
}

// The window covering a square takes the pixels whose centres lie inside, bounds included,
// clamped to the raster; its read equals that part of the whole raster.
TEST(Raster, WindowsOverSquares) {
    TempDir d;
    Asc(d / "q.asc", 40, 30, 1000, 2000, 1, Werte(1200));
    Gdal("gdal_translate -q -ot Float32 -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 " + Quote(d / "q.asc") +
         " " + Quote(d / "n.tif"));
    Gdal("gdal_translate -q -a_ullr 1000 2000 1040 2030 " + Quote(d / "n.tif") + " " + Quote(d / "s.tif"));
    for (const char* name : {"n.tif", "s.tif"}) {
        SCOPED_TRACE(name);
        TRaster r(d / name, TRasterArt::GeoTiff);
        const TRasterKopf& k = r.Kopf();
        const auto ganz = Lies(r, k.Ganz());
        // Centres at 1000.5 .. 1039.5; bounds exactly on centres count.
        const TPixelFenster f = k.FensterUeber(1003.5, 1010.5, 2004.5, 2020.0);
        EXPECT_EQ(f.Breite, 8);
        EXPECT_EQ(f.Hoehe, 16);
        std::vector<Pkt> soll;
        for (const Pkt& p : ganz)
            if (p.x >= 1003.5 && p.x <= 1010.5 && p.y >= 2004.5 && p.y <= 2020.0) soll.push_back(p);
        ErwarteGleich(Lies(r, f), soll, "window");
        std::vector<float> puffer(f.Pixel());
        r.ReadWindow(f, puffer.data(), puffer.size());
        for (std::size_t i = 0; i < soll.size(); ++i) ASSERT_EQ(puffer[i], soll[i].z) << i;

        EXPECT_EQ(k.FensterUeber(900, 1000.6, 1900, 3000), (TPixelFenster{0, 0, 1, 30}));  // clamped
        EXPECT_TRUE(k.FensterUeber(1039.6, 1100, 1900, 3000).Leer());                       // past the edge
        EXPECT_TRUE(k.FensterUeber(1003.6, 1004.4, 1900, 3000).Leer());                      // between centres
        EXPECT_TRUE(k.FensterUeber(1010, 1000, 1900, 3000).Leer());
        EXPECT_TRUE(k.FensterUeber(NAN, 1100, 1900, 3000).Leer());
        // Misuse is refused, an empty window reads nothing.
        EXPECT_THROW(r.ReadWindow({30, 0, 11, 1}, puffer.data(), puffer.size()), std::out_of_range);
        EXPECT_THROW(r.ReadWindow({0, 0, 10, 10}, puffer.data(), 99), std::out_of_range);
        EXPECT_NO_THROW(r.ReadWindow({}, puffer.data(), 0));
    }
}

// Stopping the walk stops it; float and double reads agree for an exact type.
TEST(Raster, WalkStopsAndTypesAgree) {
    TempDir d;
    Asc(d / "q.asc", 9, 7, 0, 0, 1, Werte(63));
    Gdal("gdal_translate -q -ot Int16 " + Quote(d / "q.asc") + " " + Quote(d / "i.tif"));
    TRaster r(d / "i.tif", TRasterArt::GeoTiff);
    int n = 0;
    r.ForEachPixel(r.Kopf().Ganz(), [&](int32_t, int32_t, double) { return ++n < 10; });
    EXPECT_EQ(n, 10);
    std::vector<float> f(63);
    std::vector<double> g(63);
    r.ReadWindow(r.Kopf().Ganz(), f.data(), f.size());
    r.ReadWindow(r.Kopf().Ganz(), g.data(), g.size());
    for (int i = 0; i < 63; ++i) ASSERT_EQ(double(f[i]), g[i]);
    // Moved, the raster keeps its header; the old object holds nothing.
    TRaster m(std::move(r));
    EXPECT_EQ(m.Kopf().Spalten, 9);
    EXPECT_THROW(r.ReadWindow({0, 0, 1, 1}, f.data(), f.size()), std::logic_error);
}

// Int8 is kept by GDAL 3.6 as Byte with a signed-byte note: its values are negative again.
TEST(Raster, SignedBytes) {
    TempDir d;
    Asc(d / "q.asc", 2, 2, 0, 0, 1, {1, 2, 3, 4});
    Gdal("gdal_translate -q -ot Byte -co PIXELTYPE=SIGNEDBYTE " + Quote(d / "q.asc") + " " + Quote(d / "b.tif"));
    // Raw bytes 0x80, 0xFB, 0x00, 0x7F through GDAL's Python binding.
    Gdal("/usr/bin/python3 -c \"from osgeo import gdal; ds = gdal.Open('" + d / "b.tif" +
         "', 1); ds.GetRasterBand(1).WriteRaster(0, 0, 2, 2, bytes([0x80, 0xFB, 0, 0x7F])); ds = None\"");
    TRaster r(d / "b.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(r.Kopf().Typ, TRasterTyp::Int8);
    std::vector<double> z;
    r.ForEachPixel(r.Kopf().Ganz(), [&](int32_t, int32_t, double v) { z.push_back(v); });
    EXPECT_EQ(z, (std::vector<double>{-128, -5, 0, 127}));
}

// Refusals and failures name the file in German; GDAL's own texts never show.
TEST(Raster, RefusalsNameTheFile) {
    TempDir d;
    Asc(d / "q.asc", 3, 2, 0, 10, 1, {1, 2, 3, 4, 5, 6});
    Gdal("gdal_translate -q " + Quote(d / "q.asc") + " " + Quote(d / "r.tif"));
    Gdal("gdal_edit.py -a_ulurll 0 10 3 11 1 8 " + Quote(d / "r.tif"));
    Gdal("gdal_create -q -outsize 3 2 -ot Float32 " + Quote(d / "o.tif"));
    Gdal("gdal_create -q -outsize 3 2 -ot CFloat32 -a_ullr 0 2 3 0 " + Quote(d / "k.tif"));
    tervalo::test::WriteAll(d / "m.tif", std::string("II*\0\x08\0\0\0", 8) + std::string(40, '\xFF'));
    tervalo::test::WriteAll(d / "e.asc", "ncols 3\nnrows 2\n");
    // Cells too small to tell their centres apart at these coordinates.
    tervalo::test::WriteAll(d / "f.asc", "ncols 2\nnrows 2\nxllcorner 3500000\nyllcorner 0\ncellsize 1e-12\n1 2\n3 4\n");
    EXPECT_EQ(Meldung([&] { TRaster(d / "f.asc", TRasterArt::AsciiGrid); }),
              "Rasterdatei mit ung\xC3\xBCltiger Georeferenz: " + d / "f.asc");
    auto tif = [&](const std::string& n) { return Meldung([&] { TRaster(d / n, TRasterArt::GeoTiff); }); };
    EXPECT_EQ(tif("r.tif"), "Gedrehte oder gescherte Rasterdateien werden nicht unterst\xC3\xBCtzt: " + d / "r.tif");
    EXPECT_EQ(tif("o.tif"), "Rasterdatei ohne Georeferenz: " + d / "o.tif");
    EXPECT_EQ(tif("k.tif"), "Rasterdatei ohne Band mit H\xC3\xB6henwerten: " + d / "k.tif");
    EXPECT_EQ(tif("m.tif"), "Datei besch\xC3\xA4" "digt: " + d / "m.tif");
    EXPECT_EQ(tif("fehlt.tif"), "Datei nicht gefunden: " + d / "fehlt.tif");
    EXPECT_EQ(Meldung([&] { TRaster(d / "e.asc", TRasterArt::AsciiGrid); }), "Datei besch\xC3\xA4" "digt: " + d / "e.asc");
    // A pipe is refused by the system's open before GDAL could hang on it.
    ASSERT_EQ(::mkfifo((d / "p.tif").c_str(), 0644), 0);
    EXPECT_EQ(tif("p.tif"), "Dateizugriff verweigert: " + d / "p.tif");
    // A name GDAL would read as one of its own prefixes is an ordinary file.
    std::filesystem::create_directories(d / "GTIFF_DIR:1:x");
    Gdal("gdal_translate -q " + Quote(d / "q.asc") + " " + Quote(d / "GTIFF_DIR:1:x/y.tif"));
    const auto alt = std::filesystem::current_path();
    std::filesystem::current_path(d.Path());
    EXPECT_EQ(Meldung([&] { TRaster("GTIFF_DIR:1:x/y.tif", TRasterArt::GeoTiff); }), "(nothing thrown)");
    std::filesystem::current_path(alt);
    // Reading never leaves a file beside the source.
    TRaster(d / "q.asc", TRasterArt::AsciiGrid);
    EXPECT_FALSE(std::filesystem::exists(d / "q.asc.aux.xml"));
    EXPECT_FALSE(std::filesystem::exists(d / "r.tif.aux.xml"));
}

// An ASCII grid header promising more cells than the file has bytes is damage, refused before
// anything is allocated by it.
TEST(Raster, AbsurdGridHeader) {
    TempDir d;
    tervalo::test::WriteAll(d / "h.asc",
                            "ncols 1000000\nnrows 1000000\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3\n");
    EXPECT_THROW(TRaster(d / "h.asc", TRasterArt::AsciiGrid), ERasterDefekt);
    // A TIFF whose width was set to 10^9: its one-row block would take 4 GB.
    const std::string corpus = std::string(TERVALO_SOURCE_DIR) + "/fuzz/corpus/raster/";
    EXPECT_THROW(TRaster(corpus + "tif_width_huge", TRasterArt::GeoTiff), ERasterDefekt);
    EXPECT_THROW(TRaster(corpus + "tif_tiled_huge", TRasterArt::GeoTiff), ERasterDefekt);
    // A sound sparse file of 10^10 pixels, no block written: taken, a window reads NoData.
    Gdal("gdal_create -q -outsize 100000 100000 -ot Float32 -a_nodata -9999 -a_ullr 0 100000 100000 0 "
         "-co TILED=YES -co SPARSE_OK=YES " + Quote(d / "leer.tif"));
    ASSERT_LT(std::filesystem::file_size(d / "leer.tif"), 4u << 20);
    TRaster gross(d / "leer.tif", TRasterArt::GeoTiff);
    EXPECT_EQ(gross.Kopf().Pixel(), uint64_t{10000000000});
    float v[4] = {};
    gross.ReadWindow({99998, 99998, 2, 2}, v, 4);
    EXPECT_EQ(v[3], -9999.0f);
}

// Damage: every row read whole before it is delivered in file order, then "Datei beschädigt".
TEST(Raster, DamageDeliversTheRowsBeforeIt) {
    TempDir d;
    const int spalten = 50, zeilen = 64;
    Asc(d / "q.asc", spalten, zeilen, 0, 0, 1, Werte(spalten * zeilen));
    struct Fall {
        std::string name, optionen;
        int blockHoehe;
    };
    for (const Fall& f : {Fall{"strip.tif", "-co BLOCKYSIZE=4", 4},
                          Fall{"tile.tif", "-co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE", 16}}) {
        SCOPED_TRACE(f.name);
        const std::string heil = d / f.name;
        Gdal("gdal_translate -q -ot Float32 " + f.optionen + " " + Quote(d / "q.asc") + " " + Quote(heil));
        std::vector<Pkt> alle;
        {
            TRaster r(heil, TRasterArt::GeoTiff);
            EXPECT_EQ(r.Kopf().BlockHoehe, f.blockHoehe);
            alle = Lies(r, r.Kopf().Ganz());
        }
        // The block of rows 32.. broken: its bytes overwritten.
        const std::string kaputt = d / ("b" + f.name);
        std::filesystem::copy_file(heil, kaputt);
        const std::string block = f.blockHoehe == 4 ? "BLOCK_OFFSET_0_8" : "BLOCK_OFFSET_1_2";
        const auto off = Shell("/usr/bin/python3 -c \"from osgeo import gdal; ds = gdal.Open('" + heil +
                               "'); print(ds.GetRasterBand(1).GetMetadataItem('" + block + "', 'TIFF'))\"");
        ASSERT_EQ(off.code, 0) << off.out;
        {
            std::fstream io(kaputt, std::ios::in | std::ios::out | std::ios::binary);
            io.seekp(std::stoll(off.out));
            const std::string mist(f.blockHoehe == 4 ? 0 : 64, '\xFF');
            io.write(mist.data(), static_cast<std::streamsize>(mist.size()));
        }
        if (f.blockHoehe == 4) std::filesystem::resize_file(kaputt, std::stoull(off.out) + 10);  // cut short
        TRaster r(kaputt, TRasterArt::GeoTiff);
        std::vector<Pkt> teil;
        const std::string m = Meldung([&] {
            r.ForEachPixel(r.Kopf().Ganz(), [&](int32_t sp, int32_t z, double v) {
                teil.push_back({r.Kopf().X(sp), r.Kopf().Y(z), v});
            });
        });
        EXPECT_EQ(m, "Datei besch\xC3\xA4" "digt: " + kaputt);
        ASSERT_EQ(teil.size(), 32u * spalten);
        ErwarteGleich(teil, std::vector<Pkt>(alle.begin(), alle.begin() + 32 * spalten), "before the damage");
        // A window read reports the rows read whole.
        std::vector<float> puffer(40 * spalten);
        try {
            r.ReadWindow({0, 10, spalten, 40}, puffer.data(), puffer.size());
            ADD_FAILURE() << "no damage reported";
        } catch (const ERasterFensterDefekt& e) {
            EXPECT_EQ(e.GanzeZeilen(), 22);
            EXPECT_EQ(puffer[21 * spalten + 3], alle[31 * spalten + 3].z);
        }
        // A window before the damage is whole.
        EXPECT_NO_THROW(r.ReadWindow({0, 0, spalten, 32}, puffer.data(), puffer.size()));
    }
}

// No program links GDAL: it comes with the module, loaded on the first raster.
TEST(RasterModul, NoProgramLinksGdal) {
    const std::string bin = TERVALO_BIN_DIR;
    std::vector<std::string> programme = {bin + "/tervalo-cli"};
    if (std::filesystem::exists(bin + "/tervalo")) programme.push_back(bin + "/tervalo");
    for (const auto& p : programme) {
        const auto r = Shell("readelf -d " + Quote(p));
        ASSERT_EQ(r.code, 0) << r.out;
        EXPECT_NE(r.out.find("NEEDED"), std::string::npos) << p;
        EXPECT_EQ(r.out.find("libgdal"), std::string::npos) << p;
    }
    const auto m = Shell("readelf -d " + Quote(bin + "/../lib/tervalo/libtervalo-gdal.so"));
    ASSERT_EQ(m.code, 0) << m.out;
    EXPECT_NE(m.out.find("libgdal"), std::string::npos);
}

namespace {
bool ModulInMaps() {
    return tervalo::test::ReadAll("/proc/self/maps").find("libtervalo-gdal.so") != std::string::npos;
}

// The bodies of the tests below, each run in a process of its own: the module is loaded
// once per process.
void TextAbfrage() {
    qtest::TempDir d;
    qtest::WriteFile(d.File("a.xyz"), qtest::XyzText(qtest::Grid(0, 20, 0, 20, 1)));
    TDateien kat;
    qtest::AddEntry(kat, d.File("a.xyz"));
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = 10;
    p.Y = 10;
    q.Run(kat, p);
    std::fprintf(stderr, "points %d loaded %d mapped %d\n", int(q.Speicher().Anzahl), int(raster::ModulGeladen()),
                 int(ModulInMaps()));
    std::exit(0);
}

void RasterAbfrage() {
    TempDir d;
    Asc(d / "g.asc", 2, 2, 0, 0, 1, {1, 2, 3, 4});
    TRaster r(d / "g.asc", TRasterArt::AsciiGrid);
    std::fprintf(stderr, "loaded %d mapped %d\n", int(raster::ModulGeladen()), int(ModulInMaps()));
    std::exit(0);
}

void OhneModul() {
    TempDir d;
    Asc(d / "g.asc", 2, 2, 0, 0, 1, {1, 2, 3, 4});
    ::setenv("TERVALO_RASTERMODUL", "/nirgends/libtervalo-gdal.so", 1);
    for (int i = 0; i < 2; ++i)  // the second raster meets the same reason
        std::fprintf(stderr, "%s\n", Meldung([&] { TRaster(d / "g.asc", TRasterArt::AsciiGrid); }).c_str());
    std::exit(raster::ModulGeladen() ? 1 : 0);
}

void FalschesModul() {
    ::setenv("TERVALO_RASTERMODUL", "/etc/passwd", 1);
    std::fprintf(stderr, "%s\n", Meldung([] { raster::ModulLaden("x.tif"); }).c_str());
    std::exit(0);
}

}  // namespace

TEST(RasterModulDeathTest, TextQueryNeverLoadsIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(TextAbfrage(), ::testing::ExitedWithCode(0), "points [1-9][0-9]* loaded 0 mapped 0");
    EXPECT_EXIT(RasterAbfrage(), ::testing::ExitedWithCode(0), "loaded 1 mapped 1");
}

TEST(RasterModulDeathTest, MissingModuleIsAGermanMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OhneModul(), ::testing::ExitedWithCode(0),
                "Rasterdateien k\xC3\xB6nnen nicht gelesen werden, das Rastermodul /nirgends/libtervalo-gdal.so fehlt: "
                "/tmp/[^\n]*/g.asc\nRasterdateien k\xC3\xB6nnen nicht gelesen werden, das Rastermodul");
    EXPECT_EXIT(FalschesModul(), ::testing::ExitedWithCode(0),
                "das Rastermodul /etc/passwd l\xC3\xA4sst sich nicht laden \\(.*\\): x.tif");
}

// The block cache bound is the caller's to set.
TEST(RasterModul, BlockCacheBound) {
    const int64_t vorher = raster::CacheGroesse();
    raster::SetCacheGroesse(8 << 20);
    EXPECT_EQ(raster::CacheGroesse(), 8 << 20);
    EXPECT_GE(raster::CacheBelegt(), 0);
    raster::SetCacheGroesse(vorher);
}

// A window wider than the reader's piece is walked row by row in pieces, still in file order.
TEST(Raster, WideRowsInPieces) {
    TempDir d;
    const int32_t breite = (1 << 20) / 16 + 300, hoehe = 20;
    Gdal("gdal_create -q -outsize " + std::to_string(breite) + " " + std::to_string(hoehe) +
         " -ot Int16 -burn 7 -a_ullr 0 20 " + std::to_string(breite) + " 0 -co TILED=YES -co COMPRESS=DEFLATE " +
         Quote(d / "w.tif"));
    TRaster r(d / "w.tif", TRasterArt::GeoTiff);
    ASSERT_EQ(r.Kopf().BlockHoehe, 256 > hoehe ? hoehe : 256);
    const TPixelFenster f{5, 1, breite - 10, hoehe - 3};
    int64_t n = 0;
    int32_t s0 = f.Spalte, z0 = f.Zeile;
    bool ordnung = true, werte = true;
    r.ForEachPixel(f, [&](int32_t s, int32_t z, double v) {
        ordnung = ordnung && s == s0 && z == z0;
        werte = werte && v == 7.0;
        if (++s0 == f.Spalte + f.Breite) s0 = f.Spalte, ++z0;
        ++n;
    });
    EXPECT_TRUE(ordnung);
    EXPECT_TRUE(werte);
    EXPECT_EQ(uint64_t(n), f.Pixel());
}

// Rasters open and read on several threads at once, each its own object, agree with one read
// alone; damage on one thread does not show on another.
TEST(Raster, SeveralThreadsAtOnce) {
    TempDir d;
    Asc(d / "q.asc", 300, 200, 0, 0, 1, Werte(60000));
    Gdal("gdal_translate -q -ot Float32 -co TILED=YES -co COMPRESS=DEFLATE " + Quote(d / "q.asc") + " " +
         Quote(d / "t.tif"));
    std::vector<Pkt> soll;
    {
        TRaster r(d / "t.tif", TRasterArt::GeoTiff);
        soll = Lies(r, r.Kopf().Ganz());
    }
    const std::string kaputt = d / "k.tif";
    std::filesystem::copy_file(d / "t.tif", kaputt);
    std::filesystem::resize_file(kaputt, std::filesystem::file_size(kaputt) * 2 / 3);
    std::vector<int> gleich(4, 0), defekt(4, 0);
    std::vector<std::thread> th;
    for (int t = 0; t < 4; ++t)
        th.emplace_back([&, t] {
            for (int i = 0; i < 3; ++i) {
                TRaster r(d / "t.tif", TRasterArt::GeoTiff);
                const auto ist = Lies(r, r.Kopf().Ganz());
                gleich[t] += ist.size() == soll.size() &&
                             std::equal(ist.begin(), ist.end(), soll.begin(), [](const Pkt& a, const Pkt& b) {
                                 return Gleich(a.x, b.x) && Gleich(a.y, b.y) && Gleich(a.z, b.z);
                             });
                try {
                    TRaster k(kaputt, TRasterArt::GeoTiff);
                    Lies(k, k.Kopf().Ganz());
                } catch (const ERasterDefekt&) {
                    ++defekt[t];
                }
            }
        });
    for (auto& t : th) t.join();
    EXPECT_EQ(gleich, std::vector<int>(4, 3));
    EXPECT_EQ(defekt, std::vector<int>(4, 3));
}

// An ASCII grid cut short: the rows before the cut come in file order, then the damage; a
// read from below it reports at once (GDAL alone would search the missing lines over and
// over, without end for a few dozen of them).
TEST(Raster, AsciiGridCutShort) {
    TempDir d;
    Asc(d / "g.asc", 3, 60, 0, 0, 1, Werte(180));
    const std::string ganz = tervalo::test::ReadAll(d / "g.asc");
    std::size_t pos = 0;
    for (int i = 0; i < 6 + 12; ++i) pos = ganz.find('\n', pos) + 1;  // header and 12 rows
    tervalo::test::WriteAll(d / "k.asc", ganz.substr(0, pos + 3));
    TRaster r(d / "k.asc", TRasterArt::AsciiGrid);
    double v[3];
    EXPECT_THROW(r.ReadWindow({0, 59, 3, 1}, v, 3), ERasterDefekt);
    std::vector<double> z;
    EXPECT_THROW(r.ForEachPixel(r.Kopf().Ganz(), [&](int32_t, int32_t, double w) { z.push_back(w); }), ERasterDefekt);
    const std::vector<double> w = Werte(36);
    EXPECT_EQ(z, w);
    r.ReadWindow({0, 11, 3, 1}, v, 3);
    EXPECT_EQ(v[2], w[35]);
    try {
        r.ReadWindow({0, 10, 3, 5}, v, 15);
        ADD_FAILURE() << "no damage reported";
    } catch (const ERasterFensterDefekt& e) {
        EXPECT_EQ(e.GanzeZeilen(), 2);
    }
}
