// Raster tiles against their XYZ exports: every command of tervalo-cli gives over a raster what
// it gives over `gdal_translate -of XYZ` of it, with the catalogue's NoData set to the raster's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "raster/raster_gen.h"

namespace tervalo::test {
namespace {

namespace fs = std::filesystem;

struct Lauf {
    int rc;
    std::string out, err;
};

Lauf Cli(const std::string& args) {
    const ShellResult r = Shell("LC_ALL=C " TERVALO_BIN_DIR "/tervalo-cli " + args, TStderr::Apart);
    return {r.code, r.out, r.err};
}

// Every kind the raster source must read alike. Names have two characters so that the tile and
// its export have names of one length (the query's text table aligns on them).
std::vector<TRasterArt> Arten() {
    std::vector<TRasterArt> a(5);
    // Float32, odd size, north-up, small internal tiles so windows cross blocks.
    a[0].Name = "f4";
    a[0].Spalten = 37, a[0].Zeilen = 23, a[0].X0 = 566000, a[0].Y0 = 5934023;
    a[0].NoData = -9999, a[0].System = "EPSG:25832", a[0].Kacheln = "16";
    // Int16 in centimetres, south-up, 5 m, PixelIsPoint, a compound system.
    a[1].Name = "i2";
    a[1].Spalten = 29, a[1].Zeilen = 17, a[1].X0 = 566100, a[1].Y0 = 5933900, a[1].Dx = 5, a[1].Dy = 5;
    a[1].Typ = "Int16", a[1].NoData = -9999, a[1].Skala = 0.01, a[1].Versatz = 100;
    a[1].System = "EPSG:25832+7837", a[1].PixelIsPoint = true, a[1].Kacheln = "16";
    // Float64, 0.5 m, negative coordinates, striped, another NoData value.
    a[2].Name = "f8";
    a[2].Spalten = 41, a[2].Zeilen = 19, a[2].X0 = -120.5, a[2].Y0 = -30, a[2].Dx = 0.5, a[2].Dy = -0.5;
    a[2].Typ = "Float64", a[2].NoData = -32768, a[2].System = "EPSG:25832", a[2].PixelIsPoint = true;
    // The ASCII grid itself, without a system.
    a[3].Name = "ag";
    a[3].Spalten = 31, a[3].Zeilen = 27, a[3].X0 = 565900, a[3].Y0 = 5934127, a[3].NoData = -9999, a[3].Ascii = true;
    // Larger than one 256 x 256 block, 5 m, without NoData.
    a[4].Name = "gr";
    a[4].Spalten = 300, a[4].Zeilen = 260, a[4].X0 = 560000, a[4].Y0 = 5940000, a[4].Dx = 5, a[4].Dy = -5;
    a[4].System = "EPSG:25832", a[4].Kacheln = "256";
    return a;
}

// Two files alike; otherwise the first byte where they part, with the text from that line on.
::testing::AssertionResult GleicherInhalt(const std::string& a, const std::string& b) {
    const std::string x = ReadAll(a), y = ReadAll(b);
    if (x == y && !x.empty()) return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < x.size() && i < y.size() && x[i] == y[i]) ++i;
    const std::size_t z = i == 0 ? 0 : x.rfind('\n', i - 1) + 1;
    return ::testing::AssertionFailure() << a << " (" << x.size() << " bytes) and " << b << " (" << y.size()
                                         << " bytes) part at byte " << i << ":\n" << x.substr(z, 120) << "\n"
                                         << y.substr(z, 120);
}

std::string NoDataText(const TRasterArt& a) {
    if (!a.NoData) return "keiner";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", *a.NoData);
    return buf;
}

// Makes a catalogue of the files as the file manager adds them, with the tiles' system and,
// unless empty, the NoData height.
void MakeKatalog(const std::string& konf, const std::vector<std::string>& dateien, const std::string& nodata) {
    std::string add;
    for (const std::string& d : dateien) add += " " + Quote(d);
    const Lauf a = Cli("konf --konf " + Quote(konf) + " --save " + Quote(konf) + " --hinzufuegen" + add);
    if (a.rc != 0) throw std::runtime_error("konf --hinzufuegen: " + a.err);
    const Lauf s = Cli("konf --konf " + Quote(konf) + " --system EPSG:25832");
    if (s.rc != 0) throw std::runtime_error("konf --system: " + s.err);
    if (nodata.empty()) return;
    const Lauf n = Cli("konf --konf " + Quote(konf) + " --nodata " + nodata);
    if (n.rc != 0) throw std::runtime_error("konf --nodata: " + n.err);
}

// The rasters and their exports, made once per build folder (every test case runs as a process
// of its own; the lock keeps parallel ones from making them twice), and a folder per process
// for catalogues and outputs.
struct TDaten {
    std::string quelle = TERVALO_BIN_DIR "/../raster-testdaten";
    TempDir tmp;
    std::map<std::string, TRasterArt> arten;
    std::string P(const std::string& name) const { return quelle + "/" + name; }
    std::string T(const std::string& name) const { return tmp / name; }
    std::string KonfRaster(const TRasterArt& a) const { return T(a.Name + "_r.KNF"); }
    std::string KonfXyz(const TRasterArt& a) const { return T(a.Name + "_x.KNF"); }
};

// The mosaic tiles of the mixed catalogue: a raster and the points of a packed text tile.
std::vector<TRasterArt> MakeDaten(const std::string& dir) {
    std::vector<TRasterArt> arten = Arten();
    TRasterArt m;
    m.Name = "m1", m.Spalten = 40, m.Zeilen = 30, m.X0 = 566000, m.Y0 = 5934030;
    m.NoData = -9999, m.System = "EPSG:25832", m.Kacheln = "16";
    arten.push_back(m);
    for (const TRasterArt& a : arten) MakeRaster(a, dir);
    std::string text;
    char buf[96];
    for (int j = 0; j <= 30; ++j)
        for (int i = 0; i <= 40; ++i) {
            const double z = i == 10 && j == 10 ? -9999.0 : 150 + 0.125 * i - 0.25 * j + ((i * j) % 7) * 0.001;
            std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f\r\n", 566020.5 + i, 5934010.5 + j, z);
            text += buf;
        }
    WriteAll(dir + "/m2_gz.xyz", text);
    RunOrThrow("gzip -n -c " + Quote(dir + "/m2_gz.xyz") + " > " + Quote(dir + "/m2.xyz.gz"));
    text.clear();
    for (int j = 0; j <= 20; ++j)
        for (int i = 0; i <= 20; ++i) {
            std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f\r\n", 566010.5 + 2 * i, 5934000.5 + 2 * j, 140 + 0.5 * i + 0.375 * j);
            text += buf;
        }
    WriteAll(dir + "/m3_src.xyz", text);
    return arten;
}

TDaten& Daten() {
    static std::unique_ptr<TDaten> d;
    if (d) return *d;
    d = std::make_unique<TDaten>();
    fs::create_directories(d->quelle);
    const int fd = ::open((d->quelle + "/.sperre").c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) throw std::runtime_error("lock " + d->quelle);
    // Made anew by every build of this program.
    const std::string stand = __DATE__ " " __TIME__ "\n", fertig = d->P("fertig");
    if (ReadAll(fertig) != stand) {
        fs::remove(fertig);
        MakeDaten(d->quelle);
        WriteAll(fertig, stand);
    }
    ::close(fd);
    for (const TRasterArt& a : Arten()) d->arten[a.Name] = a;
    return *d;
}

// Output over the raster with the raster's file name replaced by its export's, so the two
// runs' outputs compare as they stand.
std::string AlsXyz(std::string text, const std::vector<std::pair<std::string, std::string>>& namen) {
    for (const auto& [von, nach] : namen)
        for (std::size_t i = 0; (i = text.find(von, i)) != std::string::npos; i += nach.size()) text.replace(i, von.size(), nach);
    return text;
}

class RasterWieXyz : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        TDaten& d = Daten();
        a_ = d.arten.at(GetParam());
        if (!fs::exists(d.KonfRaster(a_))) {
            MakeKatalog(d.KonfXyz(a_), {d.P(a_.Export())}, NoDataText(a_));
            MakeKatalog(d.KonfRaster(a_), {d.P(a_.Datei())}, NoDataText(a_));
        }
        r_ = " --konf " + Quote(d.KonfRaster(a_));
        x_ = " --konf " + Quote(d.KonfXyz(a_));
    }
    std::string Subst(const std::string& s) const { return AlsXyz(s, {{a_.Datei(), a_.Export()}}); }
    // Compares a command over the raster catalogue with it over the XYZ catalogue.
    void Gleich(const std::string& args) const {
        const Lauf r = Cli(args + r_), x = Cli(args + x_);
        EXPECT_EQ(x.rc, 0) << args << "\n" << x.err;
        EXPECT_EQ(r.rc, x.rc) << args << "\n" << r.err;
        EXPECT_EQ(Subst(r.out), x.out) << args;
        EXPECT_EQ(Subst(r.err), x.err) << args;
    }
    std::string Px(double v) const {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.4f", v);
        return buf;
    }
    double Zelle() const { return std::abs(a_.Dx); }
    // Pixel centres of a hole, or none.
    std::optional<std::pair<int, int>> EinLoch() const {
        for (int r = 0; r < a_.Zeilen; ++r)
            for (int c = 0; c < a_.Spalten; ++c)
                if (a_.Loch(c, r)) return std::pair{c, r};
        return std::nullopt;
    }

    TRasterArt a_;
    std::string r_, x_;
};

// The extent from the geotransform (pixel centres) is the scan of the export; the catalogue
// entries the file manager's rules make are the same.
TEST_P(RasterWieXyz, ScanAndCatalogueEntries) {
    const TDaten& d = Daten();
    const Lauf r = Cli("scan --json " + Quote(d.P(a_.Datei())));
    const Lauf x = Cli("scan --json " + Quote(d.P(a_.Export())));
    ASSERT_EQ(x.rc, 0) << x.err;
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Subst(r.out), x.out);
    const auto j = nlohmann::json::parse(x.out);
    EXPECT_EQ(j[0]["xmin"].get<double>(), std::min(a_.X(0), a_.X(a_.Spalten - 1)));
    EXPECT_EQ(j[0]["xmax"].get<double>(), std::max(a_.X(0), a_.X(a_.Spalten - 1)));
    EXPECT_EQ(j[0]["ymin"].get<double>(), std::min(a_.Y(0), a_.Y(a_.Zeilen - 1)));
    EXPECT_EQ(j[0]["ymax"].get<double>(), std::max(a_.Y(0), a_.Y(a_.Zeilen - 1)));
    // The text form names the kind it read.
    const std::string text = Cli("scan " + Quote(d.P(a_.Datei()))).out;
    EXPECT_NE(text.find("  Typ:  Raster (" + std::to_string(a_.Spalten * a_.Zeilen) + " Zeilen"), std::string::npos) << text;
    EXPECT_EQ(AlsXyz(Subst(text), {{"Typ:  Raster", "Typ:  Text"}}), Cli("scan " + Quote(d.P(a_.Export()))).out);
    EXPECT_EQ(Subst(ReadAll(d.KonfRaster(a_))), AlsXyz(ReadAll(d.KonfXyz(a_)), {{"_x.KNF", "_r.KNF"}}));
}

// Inside, at a hole, at the first and last pixel, just beyond the edge and far away; the
// default capture width and one of four pixels, as JSON and as text.
TEST_P(RasterWieXyz, QueryAnswersAsOverTheExport) {
    std::vector<std::pair<double, double>> punkte = {
        {a_.X(a_.Spalten / 2) + 0.3 * a_.Dx, a_.Y(a_.Zeilen / 2) + 0.2 * a_.Dy},
        {a_.X(0), a_.Y(0)},
        {a_.X(a_.Spalten - 1), a_.Y(a_.Zeilen - 1)},
        {a_.X(0) - 0.8 * a_.Dx, a_.Y(a_.Zeilen / 3)},
        {a_.X(0) - 1000, a_.Y(0) - 1000},
    };
    if (const auto l = EinLoch()) punkte.push_back({a_.X(l->first), a_.Y(l->second)});
    for (const auto& [x, y] : punkte) {
        const std::string q = "query " + Px(x) + " " + Px(y);
        Gleich(q + " --json");
        Gleich(q + " --json --fangbreite " + Px(4 * Zelle()));
        Gleich(q);
    }
}

// A NoData pixel is read but is no point, over the raster as over its export's line. A raster
// without NoData (catalogue NoData off) loses no pixel: every one answers at distance 0.
TEST_P(RasterWieXyz, TheHoleGivesNoPoint) {
    const auto l = EinLoch();
    const std::pair<int, int> p = l ? *l : std::pair{a_.Spalten / 2, a_.Zeilen / 2};
    const std::string q = "query " + Px(a_.X(p.first)) + " " + Px(a_.Y(p.second)) + " --json --fangbreite " +
                          Px(3 * Zelle());
    for (const std::string& konf : {r_, x_}) {
        const Lauf a = Cli(q + konf);
        ASSERT_EQ(a.rc, 0) << a.err;
        const auto j = nlohmann::json::parse(a.out);
        ASSERT_EQ(j["dateien"].size(), 1u) << a.out;
        EXPECT_EQ(j["dateien"][0]["gelesen"], a_.Spalten * a_.Zeilen) << konf;
        if (!l) {
            EXPECT_EQ(j["naechster"]["r"].get<double>(), 0.0) << konf;
            EXPECT_EQ(j["dateien"][0]["gefiltert"], 49) << konf;  // the 7 x 7 pixels of the square
            continue;
        }
        EXPECT_GT(j["naechster"]["r"].get<double>(), 0.0) << konf;
        for (const auto& r : j["rangliste"]) EXPECT_NE(r["z"].get<double>(), *a_.NoData) << konf;
    }
}

// A few thousand random points over the raster and beyond it, and every hole, as text and JSON;
// with the least memory bound too.
TEST_P(RasterWieXyz, BatchAnswersAsOverTheExport) {
    std::mt19937 zufall(25);
    const double x0 = std::min(a_.X(0), a_.X(a_.Spalten - 1)) - 3 * Zelle();
    const double y0 = std::min(a_.Y(0), a_.Y(a_.Zeilen - 1)) - 3 * Zelle();
    std::uniform_real_distribution<double> ux(x0, x0 + (a_.Spalten + 6) * Zelle()), uy(y0, y0 + (a_.Zeilen + 6) * Zelle());
    std::string punkte;
    for (int i = 0; i < 2000; ++i) punkte += Px(ux(zufall)) + " " + Px(uy(zufall)) + "\n";
    for (int r = 0; r < a_.Zeilen; ++r)
        for (int c = 0; c < a_.Spalten; ++c)
            if (a_.Loch(c, r)) punkte += Px(a_.X(c)) + " " + Px(a_.Y(r)) + "\n";
    const std::string ein = Daten().T(a_.Name + "_punkte.txt");
    WriteAll(ein, punkte);
    Gleich("batch " + Quote(ein));
    Gleich("batch " + Quote(ein) + " --json --fangbreite " + Px(3 * Zelle()));
    const Lauf eng = Cli("batch " + Quote(ein) + " --speicher 1" + r_);
    EXPECT_EQ(eng.out, Cli("batch " + Quote(ein) + x_).out);
}

// A window over part of the raster, holes included, into each layout: the same log and the
// same bytes.
TEST_P(RasterWieXyz, ExportWritesWhatTheExportsWindowHolds) {
    const TDaten& d = Daten();
    const double xa = std::min(a_.X(2), a_.X(a_.Spalten - 3)), ya = std::min(a_.Y(1), a_.Y(a_.Zeilen - 2));
    const std::string fenster = Px(xa) + " " + Px(xa + (a_.Spalten / 2) * Zelle()) + " " + Px(ya) + " " +
                                Px(ya + (a_.Zeilen / 2) * Zelle()) + " ";
    for (const char* format : {"xyz", "csv", "dbf"}) {
        const std::string zr = d.T(a_.Name + "_ex_r." + format), zx = d.T(a_.Name + "_ex_x." + format);
        const Lauf r = Cli("export " + fenster + Quote(zr) + r_), x = Cli("export " + fenster + Quote(zx) + x_);
        ASSERT_EQ(x.rc, 0) << x.out;
        EXPECT_EQ(r.rc, 0) << r.out << r.err;
        EXPECT_EQ(AlsXyz(Subst(r.out), {{"_ex_r.", "_ex_x."}}), x.out);
        EXPECT_TRUE(GleicherInhalt(zr, zx)) << format;
        EXPECT_EQ(x.out.find("\n0 Werte"), std::string::npos) << x.out;
    }
}

// Raster to XYZ and dBase as its export converts; raster to CSV as the export of the whole
// export tile into CSV.
TEST_P(RasterWieXyz, ConvertAsTheExport) {
    const TDaten& d = Daten();
    for (const char* format : {"xyz", "dbf"}) {
        const std::string zr = d.T(a_.Name + "_kv_r." + format), zx = d.T(a_.Name + "_kv_x." + format);
        const Lauf r = Cli("convert " + Quote(d.P(a_.Datei())) + " " + Quote(zr) + r_);
        const Lauf x = Cli("convert " + Quote(d.P(a_.Export())) + " " + Quote(zx) + x_);
        ASSERT_EQ(x.rc, 0) << x.out << x.err;
        EXPECT_EQ(r.rc, 0) << r.out << r.err;
        EXPECT_EQ(r.out, x.out);
        EXPECT_TRUE(GleicherInhalt(zr, zx)) << format;
    }
    const std::string csv = d.T(a_.Name + "_kv_r.csv"), ex = d.T(a_.Name + "_kv_x.csv");
    const Lauf r = Cli("convert " + Quote(d.P(a_.Datei())) + " " + Quote(csv) + r_);
    const Lauf x = Cli("export -1e9 1e9 -1e9 1e9 " + Quote(ex) + x_);
    ASSERT_EQ(x.rc, 0) << x.out;
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_TRUE(GleicherInhalt(csv, ex));
}

INSTANTIATE_TEST_SUITE_P(Arten, RasterWieXyz, ::testing::Values("f4", "i2", "f8", "ag", "gr"),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

// The generator's own convention for scale and offset is GDAL's: its -unscale export (in single
// precision) agrees to a float's rounding.
TEST(RasterGenerator, ScaledExportFollowsGdalsUnscale) {
    const TDaten& d = Daten();
    const std::vector<std::string> selbst = SplitLines(ReadAll(d.P("i2.xyz")));
    const std::vector<std::string> gdal = SplitLines(ReadAll(d.P("i2.unscale.xyz")));
    ASSERT_EQ(selbst.size(), 29u * 17u);
    ASSERT_EQ(gdal.size(), selbst.size());
    int loecher = 0;
    for (std::size_t i = 0; i < selbst.size(); ++i) {
        const std::size_t a = selbst[i].rfind(' '), b = gdal[i].rfind(' ');
        ASSERT_EQ(selbst[i].substr(0, a), gdal[i].substr(0, b)) << i;
        const double z = std::stod(selbst[i].substr(a + 1)), g = std::stod(gdal[i].substr(b + 1));
        EXPECT_NEAR(z, g, 1e-4) << selbst[i];
        loecher += z == -9999;
    }
    EXPECT_GT(loecher, 10);
    // South-up: the first line is the southern row.
    EXPECT_EQ(selbst[0].substr(0, selbst[0].rfind(' ')), "566102.5 5933902.5");
}

// A GeoTIFF, a packed text tile and a dBase table overlapping (points in common, a -9999 line
// in the text tile under the default NoData) answer as the same catalogue with each tile
// converted to XYZ.
class GemischterKatalog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TDaten& d = Daten();
        const std::string leer = d.T("leer.KNF");
        if (Cli("konf --konf " + Quote(leer) + " --save " + Quote(leer)).rc != 0) throw std::runtime_error("konf");
        RunOrThrow(TERVALO_BIN_DIR "/tervalo-cli convert " + Quote(d.P("m3_src.xyz")) + " " + Quote(d.T("m3.dbf")) +
            " --level 4 --konf " + Quote(leer));
        RunOrThrow(TERVALO_BIN_DIR "/tervalo-cli convert " + Quote(d.T("m3.dbf")) + " " + Quote(d.T("m3.xyz")) + " --konf " +
            Quote(leer));
        MakeKatalog(d.T("gemischt.KNF"), {d.P("m1.tif"), d.P("m2.xyz.gz"), d.T("m3.dbf")}, "");
        MakeKatalog(d.T("alsxyz__.KNF"), {d.P("m1.xyz"), d.P("m2_gz.xyz"), d.T("m3.xyz")}, "");
    }
    static std::string Subst(const std::string& s) {
        return AlsXyz(s, {{"m1.tif", "m1.xyz"}, {"m2.xyz.gz", "m2_gz.xyz"}, {"m3.dbf", "m3.xyz"}, {"gemischt", "alsxyz__"}});
    }
    static Lauf Beide(const std::string& args, Lauf& x) {
        x = Cli(args + " --konf " + Quote(Daten().T("alsxyz__.KNF")));
        return Cli(args + " --konf " + Quote(Daten().T("gemischt.KNF")));
    }
};

TEST_F(GemischterKatalog, AnswersAsEveryTileConvertedToXyz) {
    std::vector<std::string> punkte = {"566030.5 5934020.5", "566021.3 5934015.8", "566055 5934035", "566005.2 5934001.1",
                                       "566040 5934030"};
    for (const std::string& p : punkte)
        for (const std::string opt : {" --json", " --json --fangbreite 4", ""}) {
            Lauf x;
            const Lauf g = Beide("query " + p + opt, x);
            ASSERT_EQ(x.rc, 0) << x.err;
            EXPECT_EQ(g.rc, 0) << g.err;
            // The dBase row says so; the rest is the same.
            EXPECT_EQ(AlsXyz(Subst(g.out), {{"\"dbase\":true", "\"dbase\":false"}}), x.out) << p << opt;
        }
    // At the text tile's -9999 line (the default NoData) the raster, read first, has a point:
    // it answers there, and no -9999 is a height.
    Lauf x;
    const auto j = nlohmann::json::parse(Beide("query 566030.5 5934020.5 --json --fangbreite 1", x).out);
    EXPECT_EQ(j["naechster"]["r"].get<double>(), 0.0);
    EXPECT_GT(j["naechster"]["z"].get<double>(), 100.0);
    for (const auto& p : j["rangliste"]) EXPECT_NE(p["z"].get<double>(), -9999.0);
    // Without the raster the text tile's -9999 line is no point, and the nearest is another.
    const std::string ohne = Daten().T("ohne_m1.KNF");
    MakeKatalog(ohne, {Daten().P("m2.xyz.gz")}, "");
    const auto k = nlohmann::json::parse(Cli("query 566030.5 5934020.5 --json --fangbreite 1 --konf " + Quote(ohne)).out);
    EXPECT_GT(k["naechster"]["r"].get<double>(), 0.0);
    for (const auto& p : k["rangliste"]) EXPECT_NE(p["z"].get<double>(), -9999.0);

    std::mt19937 zufall(7);
    std::uniform_real_distribution<double> ux(565995, 566065), uy(5933995, 5934045);
    std::string ein;
    for (int i = 0; i < 1000; ++i) ein += std::to_string(ux(zufall)) + " " + std::to_string(uy(zufall)) + "\n";
    WriteAll(Daten().T("m_punkte.txt"), ein);
    for (const std::string opt : {"", " --json --fangbreite 3"}) {
        const Lauf g = Beide("batch " + Quote(Daten().T("m_punkte.txt")) + opt, x);
        EXPECT_EQ(x.rc, 0) << x.err;
        EXPECT_EQ(g.rc, x.rc) << g.err;
        EXPECT_EQ(AlsXyz(Subst(g.out), {{"\"dbase\":true", "\"dbase\":false"}}), x.out) << opt;
    }
    const std::string zg = Daten().T("m_ex_g.xyz"), zx = Daten().T("m_ex_x.xyz");
    const Lauf g = Cli("export 566010 566050 5934005 5934035 " + Quote(zg) + " --konf " + Quote(Daten().T("gemischt.KNF")));
    x = Cli("export 566010 566050 5934005 5934035 " + Quote(zx) + " --konf " + Quote(Daten().T("alsxyz__.KNF")));
    ASSERT_EQ(x.rc, 0) << x.out;
    EXPECT_EQ(g.rc, 0) << g.out;
    EXPECT_EQ(AlsXyz(Subst(g.out), {{"m_ex_g", "m_ex_x"}}), x.out);
    EXPECT_TRUE(GleicherInhalt(zg, zx));
    EXPECT_NE(x.out.find("doppelte Werte nicht exportiert"), std::string::npos) << x.out;
}

}  // namespace
}  // namespace tervalo::test
