// The height query over raster tiles: it answers as over the raster's XYZ export, reads only
// the window under the square, counts every pixel as a line read, gives no point for NoData,
// ends with "Datei beschädigt" after the points before the damage, and notes a raster in
// another reference system.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/PunktQuelle.h"
#include "query/Query.h"
#include "query_test_util.h"
#include "support/shell.h"

using namespace tervalo;
using qtest::AddEntry;
using tervalo::test::Quote;

namespace {

constexpr int kSpalten = 40, kZeilen = 30;
constexpr double kX0 = 5000, kY0 = 8030;  // upper left corner, 1 m pixels, north-up

// Raw values: the band's NoData (-32768) in a few holes, one pixel at the catalogue's NoData.
double Wert(int s, int z) {
    if ((s * 7 + z * 3) % 23 == 0) return -32768;
    if (s == 20 && z == 15) return -9999;
    return 100 + 0.25 * s - 0.5 * z + ((s * z) % 5) * 0.125;
}

void Gdal(const std::string& cmd) {
    const auto r = tervalo::test::Shell(cmd);
    ASSERT_EQ(r.code, 0) << cmd << "\n" << r.out;
}

// The grid as an ESRI ASCII grid, made a GeoTIFF with the given creation options.
std::string MakeTif(const qtest::TempDir& d, const std::string& name, const std::string& optionen,
                    double (*wert)(int, int) = Wert, const std::string& srs = "EPSG:25832") {
    std::ostringstream s;
    s.precision(17);
    s << "ncols " << kSpalten << "\nnrows " << kZeilen << "\nxllcorner " << kX0 << "\nyllcorner " << kY0 - kZeilen
      << "\ncellsize 1\nNODATA_value -32768\n";
    for (int z = 0; z < kZeilen; ++z)
        for (int sp = 0; sp < kSpalten; ++sp) s << wert(sp, z) << (sp + 1 < kSpalten ? " " : "\n");
    const std::string asc = d.File(name + ".asc"), tif = d.File(name + ".tif");
    qtest::WriteFile(asc, s.str());
    Gdal("gdal_translate -q -ot Float32 " + optionen + (srs.empty() ? "" : " -a_srs " + srs) + " " + Quote(asc) +
         " " + Quote(tif));
    return tif;
}

// GDAL's XYZ export of the raster without the lines of the band's NoData: the text tile the
// raster must answer like (the catalogue's NoData, -9999, is left to the text reader).
std::string MakeXyz(const std::string& tif) {
    const std::string roh = tif + ".roh";
    Gdal("gdal_translate -q -of XYZ " + Quote(tif) + " " + Quote(roh));
    std::ifstream in(roh);
    std::string zeile, aus;
    while (std::getline(in, zeile))
        if (zeile.substr(zeile.rfind(' ') + 1) != "-32768") aus += zeile + "\n";
    const std::string xyz = tif + ".xyz";
    qtest::WriteFile(xyz, aus);
    return xyz;
}

THoehenAntwort Frage(const TDateien& kat, double x, double y, double fang) {
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = x, p.Y = y, p.Fangbreite = fang;
    return q.Run(kat, p);
}

bool Gleich(const TAntwortPunkt& a, const TAntwortPunkt& b) {
    return a.X == b.X && a.Y == b.Y && a.Z == b.Z && a.R == b.R;
}

class RasterQuery : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qtest::TempDir;
        tif_ = MakeTif(*dir_, "r", "-co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE");
        xyz_ = MakeXyz(tif_);
    }
    static void TearDownTestSuite() { delete dir_; }
    static qtest::TempDir* dir_;
    static std::string tif_, xyz_;
};
qtest::TempDir* RasterQuery::dir_ = nullptr;
std::string RasterQuery::tif_, RasterQuery::xyz_;

// The same answer as over the export: inside, at the edge, at a hole, at the -9999 pixel,
// beyond the raster; squares smaller than a block and larger than the raster.
TEST_F(RasterQuery, AnswersAsItsXyzExport) {
    TDateien r, x;
    AddEntry(r, tif_);
    AddEntry(x, xyz_);
    const std::vector<std::pair<double, double>> punkte = {
        {5020.3, 8014.8}, {5000.5, 8029.5}, {5039.5, 8000.5}, {5007.5, 8029.5}, {5020.5, 8014.5},
        {4998.2, 8010}, {5055, 8040}};
    for (const auto& [px, py] : punkte)
        for (const double fang : {0.5, 3.0, 50.0}) {
            SCOPED_TRACE(std::to_string(px) + " " + std::to_string(py) + " fang " + std::to_string(fang));
            const THoehenAntwort a = Frage(r, px, py, fang), b = Frage(x, px, py, fang);
            ASSERT_EQ(a.Dateien.size(), 1u);
            EXPECT_EQ(a.Anzahl, b.Anzahl);
            EXPECT_EQ(a.Dateien[0].Gefiltert, b.Dateien[0].Gefiltert);
            EXPECT_EQ(a.HatNaechster, b.HatNaechster);
            EXPECT_TRUE(Gleich(a.Naechster, b.Naechster));
            EXPECT_EQ(a.ShepardN, b.ShepardN);
            EXPECT_EQ(a.ShepardZ, b.ShepardZ);
            ASSERT_EQ(a.Rangliste.size(), b.Rangliste.size());
            for (std::size_t i = 0; i < a.Rangliste.size(); ++i) EXPECT_TRUE(Gleich(a.Rangliste[i], b.Rangliste[i])) << i;
            // Every pixel is a line read, whatever window was read; no hole is a height.
            EXPECT_EQ(a.Dateien[0].Gelesen, kSpalten * kZeilen);
            for (const TAntwortPunkt& p : a.Rangliste) EXPECT_TRUE(p.Z != -9999 && p.Z != -32768) << p.Z;
            EXPECT_TRUE(a.Dateien[0].Fehler.empty() && a.Dateien[0].Hinweis.empty());
        }
    // At the -9999 pixel the nearest point is a neighbour; at a hole as well.
    EXPECT_EQ(Frage(r, 5020.5, 8014.5, 1).Naechster.R, 1.0);
    EXPECT_EQ(Frage(r, 5000.5, 8029.5, 1).Naechster.R, 1.0);  // pixel (0, 0) is a hole
    // A catalogue without NoData takes the -9999 pixel; the band's NoData never is a height.
    r.NoData.reset();
    const THoehenAntwort ohne = Frage(r, 5020.5, 8014.5, 1);
    EXPECT_EQ(ohne.Naechster.R, 0.0);
    EXPECT_EQ(ohne.Naechster.Z, -9999.0);
    EXPECT_GT(Frage(r, 5000.5, 8029.5, 1).Naechster.R, 0.0);
}

// The window the square covers gives exactly the pixels of the whole walk inside the square,
// with their places in the whole raster as numbers; bounds on pixel centres are included.
TEST_F(RasterQuery, WindowReadIsTheWholeReadCutToTheSquare) {
    struct Px {
        uint64_t nr;
        double x, y, z;
        TBefund b;
        bool operator==(const Px&) const = default;
    };
    auto walk = [&](const TQuadrat* q) {
        TPunktQuelle quelle(tif_);
        if (q) quelle.SetQuadrat(*q);
        quelle.SetNoData(-9999.0);
        EXPECT_EQ(quelle.Open(), 0);
        std::vector<Px> v;
        quelle.Read<TAbfrageZeilenRegel>([&](const auto& p) {
            Px k{p.Nr, 0, 0, 0, TBefund::Leer};
            k.b = p.Punkt(k.x, k.y, k.z);
            v.push_back(k);
        });
        return v;
    };
    const std::vector<Px> ganz = walk(nullptr);
    ASSERT_EQ(ganz.size(), std::size_t(kSpalten * kZeilen));
    auto mitte = [](uint64_t nr) {
        return std::pair{kX0 + double((nr - 1) % kSpalten) + 0.5, kY0 - double((nr - 1) / kSpalten) - 0.5};
    };
    for (std::size_t i = 0; i < ganz.size(); ++i) {
        ASSERT_EQ(ganz[i].nr, i + 1);
        if (ganz[i].b == TBefund::Punkt) {
            ASSERT_EQ(std::pair(ganz[i].x, ganz[i].y), mitte(ganz[i].nr)) << i;
        }
    }
    EXPECT_EQ(ganz[0].b, TBefund::KeinWert);  // a hole of the band
    EXPECT_EQ(ganz[15 * kSpalten + 20].b, TBefund::KeinWert);  // the catalogue's NoData
    EXPECT_EQ(ganz[1].b, TBefund::Punkt);
    EXPECT_EQ(ganz[1].x, 5001.5);
    EXPECT_EQ(ganz[1].y, 8029.5);
    for (const TQuadrat q : {TQuadrat{5003.5, 5021.5, 8002.5, 8020.5}, TQuadrat{5015.2, 5017.9, 8013, 8019},
                             TQuadrat{4000, 6000, 7000, 9000}, TQuadrat{5100, 5200, 8000, 8030}}) {
        std::vector<Px> soll;
        for (const Px& p : ganz) {
            const auto [x, y] = mitte(p.nr);
            if (q.Xmin <= x && x <= q.Xmax && q.Ymin <= y && y <= q.Ymax) soll.push_back(p);
        }
        const std::vector<Px> ist = walk(&q);
        ASSERT_EQ(ist.size(), soll.size()) << q.Xmin << " " << q.Ymin;
        for (std::size_t i = 0; i < ist.size(); ++i) ASSERT_TRUE(ist[i] == soll[i]) << q.Xmin << " " << i;
    }
    // The extent rule takes every pixel, holes too.
    TPunktQuelle quelle(tif_);
    ASSERT_EQ(quelle.Open(), 0);
    int punkte = 0;
    quelle.Read<TAusdehnungsZeilenRegel>([&](const auto& p) {
        double x, y, z;
        punkte += p.Punkt(x, y, z) == TBefund::Punkt;
    });
    EXPECT_EQ(punkte, kSpalten * kZeilen);
}

double OhneLoch(int s, int z) { return z == 18 && s == 0 ? 12345.5 : 50 + s + 0.5 * z; }

// A raster cut short in its row 18: the pixels before it are taken in file order, then the run
// ends with "Datei beschädigt" on the file's row, the rows before the damage counted; a later
// tile is not read.
TEST(RasterQueryDamage, PointsBeforeThenDamaged) {
    qtest::TempDir d;
    const std::string heil = MakeTif(d, "h", "-co BLOCKYSIZE=2", OhneLoch);
    // Strips lie in order: cut at the first pixel of row 18.
    std::string bytes = tervalo::test::ReadAll(heil);
    float marke = 12345.5f;
    const std::size_t an = bytes.find(std::string(reinterpret_cast<const char*>(&marke), sizeof marke));
    ASSERT_NE(an, std::string::npos);
    const std::string kaputt = d.File("k.tif");
    qtest::WriteFile(kaputt, bytes.substr(0, an));
    qtest::WriteFile(d.File("danach.xyz"), "5020 8020 7\n");

    TDateien kat;
    AddEntry(kat, kaputt);
    AddEntry(kat, d.File("danach.xyz"));
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = 5010, p.Y = 8015, p.Fangbreite = 50;  // the whole raster
    std::string meldung;
    try {
        q.Run(kat, p);
    } catch (const ERasterDefekt& e) {
        meldung = e.what();
    }
    EXPECT_EQ(meldung, "Datei besch\xC3\xA4" "digt: " + kaputt);
    const THoehenAntwort& a = q.Ergebnis();
    ASSERT_EQ(a.Dateien.size(), 1u);
    EXPECT_EQ(a.Dateien[0].Fehler, meldung);
    EXPECT_EQ(a.Dateien[0].Gelesen, 18 * kSpalten);
    EXPECT_EQ(a.Dateien[0].Gefiltert, 18 * kSpalten);
    EXPECT_EQ(a.Anzahl, 18 * kSpalten);
    EXPECT_FALSE(a.Beendet);
    // In file order: the store's last point is the last pixel of row 17.
    EXPECT_EQ(q.Speicher().X[a.Anzahl], kX0 + kSpalten - 0.5);
    EXPECT_EQ(q.Speicher().Y[a.Anzahl], kY0 - 17.5);
    // A square over the rows before the damage answers whole.
    p.Y = 8025, p.Fangbreite = 3;
    EXPECT_TRUE(q.Run(kat, p).Beendet);
}

// A raster in another system than the tiles' answers all the same, with a note on its row; in
// the tiles' system (also as a compound one), without a tiles' system, or a text tile: none.
TEST(RasterQuerySystem, NoteForAnotherReferenceSystem) {
    qtest::TempDir d;
    const std::string utm = MakeTif(d, "u", "");
    const std::string gk = MakeTif(d, "g", "", Wert, "EPSG:31467");
    const std::string zus = MakeTif(d, "z", "", Wert, "EPSG:25832+7837");
    const std::string ohne = MakeTif(d, "o", "", Wert, "");
    for (const std::string& datei : {utm, gk, zus, ohne}) {
        SCOPED_TRACE(datei);
        TDateien kat;
        AddEntry(kat, datei);
        for (const std::optional<int> system : {std::optional<int>(25832), std::optional<int>(), std::optional<int>(31467)}) {
            kat.System = system;
            const THoehenAntwort a = Frage(kat, 5010.5, 8010.5, 2);
            ASSERT_EQ(a.Dateien.size(), 1u);
            EXPECT_GT(a.Anzahl, 0);
            const int eigenes = datei == gk ? 31467 : datei == ohne ? 0 : 25832;
            std::string soll;
            if (system && eigenes != 0 && eigenes != *system)
                soll = "Bezugssystem der Datei (EPSG:" + std::to_string(eigenes) + ") weicht von dem der Kacheln (EPSG:" +
                       std::to_string(*system) + ") ab";
            EXPECT_EQ(a.Dateien[0].Hinweis, soll);
            EXPECT_TRUE(a.Dateien[0].Fehler.empty());
        }
    }
    qtest::WriteFile(d.File("t.xyz"), "5010 8010 3\n");
    TDateien kat;
    AddEntry(kat, d.File("t.xyz"));
    kat.System = 31467;
    EXPECT_EQ(Frage(kat, 5010, 8010, 2).Dateien[0].Hinweis, "");
}

}  // namespace
