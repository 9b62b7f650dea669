// Folder entries in the single query: a folder answers exactly like a plain catalogue that lists
// its tiles one by one at its place, with the extents its index holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ordner/Kacheln.h"
#include "ordner/OrdnerIndex.h"
#include "query/Query.h"
#include "query_test_util.h"
#include "raster/raster_gen.h"
#include "support/shell.h"

using namespace tervalo;
using namespace qtest;

namespace {

// Points of a tile on a 25 m grid, heights telling the tiles apart.
std::vector<P> Kachel(double x0, double y0, double breite, double hoehe, double basis) {
    std::vector<P> pts = Grid(x0, x0 + breite, y0, y0 + hoehe, 25.0);
    for (P& p : pts) p.z += basis;
    return pts;
}

void Gzip(const std::string& text, const std::string& ziel) {
    const std::string roh = ziel + ".roh";
    WriteFile(roh, text);
    tervalo::test::RunOrThrow("gzip -c " + tervalo::test::Quote(roh) + " > " + tervalo::test::Quote(ziel));
    fs::remove(roh);
}

TAbfrageParameter Param(double x, double y, double fang) {
    TAbfrageParameter p;
    p.X = x;
    p.Y = y;
    p.Fangbreite = fang;
    p.Potenz = 2.0;
    return p;
}

class OrdnerQuery : public ::testing::Test {
protected:
    void SetUp() override {
        ordner_ = tmp_.File("DGM1");
        fs::create_directories(ordner_);
        // Agency names: text, packed text, dBase. A name without a pattern, overlapping the
        // others with repeated points, once before and once after them in byte order.
        WriteFile(ordner_ + "/dgm1_32_350_5600_1_nw.xyz", XyzText(Kachel(350000, 5600000, 975, 975, 0)));
        Gzip(XyzText(Kachel(351000, 5600000, 975, 975, 100)), ordner_ + "/dgm1_32_351_5600_1_nw.xyz.gz");
        WriteDbf(ordner_ + "/dgm1_32_350_5601_1_nw.dbf", Kachel(350000, 5601000, 975, 975, 200));
        WriteFile(ordner_ + "/A_vorne.xyz", XyzText(Kachel(350900, 5600900, 200, 200, 300)));
        WriteFile(ordner_ + "/ueberlapp.xyz", XyzText(Kachel(350950, 5600950, 100, 100, 400)));
        // Rasters made by GDAL's tools, elsewhere: their making leaves other tiles beside them.
        const std::string werk = tmp_.File("werk");
        fs::create_directories(werk);
        tervalo::test::TRasterArt tif;
        tif.Name = "ra";
        tif.Spalten = 40;
        tif.Zeilen = 30;
        tif.X0 = 351200;
        tif.Y0 = 5601230;
        tif.Dx = 2;
        tif.Dy = -2;
        tervalo::test::MakeRaster(tif, werk);
        fs::copy_file(werk + "/ra.tif", ordner_ + "/ra.tif");
        tervalo::test::TRasterArt asc = tif;
        asc.Name = "rb";
        asc.Ascii = true;
        asc.X0 = 351250;
        asc.Y0 = 5601250;
        tervalo::test::MakeRaster(asc, werk);
        fs::copy_file(werk + "/rb.asc", ordner_ + "/rb.asc");
        // No tiles.
        WriteFile(ordner_ + "/README", "DGM1 NRW\n");
        WriteFile(ordner_ + "/dgm1_32_350_5600_1_nw.xyz.sha256", "0\n");

        // Plain files before and after the folder, repeating points of its tiles.
        vorher_ = tmp_.File("vorher.xyz");
        nachher_ = tmp_.File("nachher.xyz");
        WriteFile(vorher_, XyzText(Kachel(350800, 5600800, 150, 150, 500)));
        WriteFile(nachher_, XyzText(Kachel(351000, 5600900, 150, 200, 600)));
        index_ = tmp_.File("index") + "/";
    }

    // The catalogue with the folder between the two files.
    TDateien MitOrdner() const {
        TDateien kat;
        kat.Ordner.IndexOrdner = index_;
        AddEntry(kat, vorher_, 350800, 350950, 5600800, 5600950);
        // Its stored box is not asked: a narrow one must not hide its tiles.
        AddEntry(kat, ordner_, 0, 1, 0, 1);
        AddEntry(kat, nachher_, 351000, 351150, 5600900, 5601100);
        return kat;
    }

    // The same tiles listed one by one with the extents the index holds.
    TDateien Aufgezaehlt() const {
        TOrdnerIndex index(ordner_, MitOrdner().Ordner);
        index.Update();
        TDateien kat;
        AddEntry(kat, vorher_, 350800, 350950, 5600800, 5600950);
        for (const TOrdnerKachel& k : index.All()) {
            if (k.Quelle == TAusdehnungsQuelle::Leer || k.Quelle == TAusdehnungsQuelle::Fehler) continue;
            AddEntry(kat, k.Pfad, k.Xmin, k.Xmax, k.Ymin, k.Ymax);
        }
        AddEntry(kat, nachher_, 351000, 351150, 5600900, 5601100);
        return kat;
    }

    TempDir tmp_;
    std::string ordner_, vorher_, nachher_, index_;
};

void ExpectGleich(const THoehenAntwort& a, const THoehenAntwort& b, int ordnerEintrag, int nachOrdner,
                  const std::string& wo) {
    // Rows of tiles without an accepted point may differ.
    std::vector<const TDateiZeile*> ra, rb;
    for (const TDateiZeile& r : a.Dateien)
        if (r.Gefiltert > 0 || !r.Fehler.empty()) ra.push_back(&r);
    for (const TDateiZeile& r : b.Dateien)
        if (r.Gefiltert > 0 || !r.Fehler.empty()) rb.push_back(&r);
    ASSERT_EQ(ra.size(), rb.size()) << wo;
    for (std::size_t i = 0; i < ra.size(); ++i) {
        EXPECT_EQ(ra[i]->Datei, rb[i]->Datei) << wo;
        EXPECT_EQ(ra[i]->Name, rb[i]->Name) << wo;
        EXPECT_EQ(ra[i]->Gelesen, rb[i]->Gelesen) << wo << " " << ra[i]->Datei;
        EXPECT_EQ(ra[i]->Gefiltert, rb[i]->Gefiltert) << wo << " " << ra[i]->Datei;
        EXPECT_EQ(ra[i]->Fehler, rb[i]->Fehler) << wo;
        EXPECT_EQ(ra[i]->DBase, rb[i]->DBase) << wo;
        // Entry numbers: the folder's for each of its tiles, the later file's as catalogued.
        const int erwartet = rb[i]->Eintrag == 1 ? 1 : rb[i]->Eintrag == nachOrdner ? 3 : ordnerEintrag;
        EXPECT_EQ(ra[i]->Eintrag, erwartet) << wo << " " << ra[i]->Datei;
    }
    EXPECT_EQ(a.Anzahl, b.Anzahl) << wo;
    EXPECT_EQ(a.Berechnet, b.Berechnet) << wo;
    EXPECT_EQ(a.HatNaechster, b.HatNaechster) << wo;
    EXPECT_EQ(a.Naechster.X, b.Naechster.X) << wo;
    EXPECT_EQ(a.Naechster.Y, b.Naechster.Y) << wo;
    EXPECT_EQ(a.Naechster.Z, b.Naechster.Z) << wo;
    EXPECT_EQ(a.ShepardN, b.ShepardN) << wo;
    EXPECT_EQ(a.ShepardZ, b.ShepardZ) << wo;
    ASSERT_EQ(a.Rangliste.size(), b.Rangliste.size()) << wo;
    for (std::size_t i = 0; i < a.Rangliste.size(); ++i) {
        EXPECT_EQ(a.Rangliste[i].Z, b.Rangliste[i].Z) << wo << " rank " << i;
        EXPECT_EQ(a.Rangliste[i].X, b.Rangliste[i].X) << wo << " rank " << i;
    }
}

}  // namespace

TEST_F(OrdnerQuery, AnswersLikeItsTilesListedAtItsPlace) {
    THoehenAbfrage q;
    q.Run(MitOrdner(), Param(350500, 5600500, 50));  // builds the index
    const TDateien flach = Aufgezaehlt();
    ASSERT_EQ(flach.Eintraege(), 2 + 7) << "five text tiles and two rasters";
    const int nachOrdner = flach.Eintraege();
    const TDateien kat = MitOrdner();

    THoehenAbfrage p;
    std::vector<double> xs = {350000, 350012.5, 350500, 350900, 350950, 350975, 351000, 351012.5, 351100,
                              351150, 351200, 351201, 351279, 351300, 351975, 351990};
    std::vector<double> ys = {5600000, 5600500, 5600900, 5600975, 5601000, 5601012.5, 5601100, 5601171, 5601229,
                              5601300, 5601975};
    int mitPunkten = 0, ordnerZeilen = 0;
    for (double fang : {0.0, 12.5, 50.0, 130.0})
        for (double x : xs)
            for (double y : ys) {
                const std::string wo = std::to_string(x) + " " + std::to_string(y) + " d " + std::to_string(fang);
                const THoehenAntwort& a = q.Run(kat, Param(x, y, fang));
                const THoehenAntwort& b = p.Run(flach, Param(x, y, fang));
                ExpectGleich(a, b, 2, nachOrdner, wo);
                mitPunkten += a.Anzahl > 0;
                for (const TDateiZeile& r : a.Dateien) ordnerZeilen += r.Eintrag == 2;
                if (HasFailure()) return;
            }
    // The grid of places is no empty check: most of them answer, from the folder's tiles.
    EXPECT_GT(mitPunkten, 400);
    EXPECT_GT(ordnerZeilen, 500);
}

TEST_F(OrdnerQuery, CatalogueOrderDecidesRepeatedPoints) {
    THoehenAbfrage q;
    // 350900/5600900 lies in the first file, in A_vorne, in the agency tile and in no other:
    // the first file keeps it.
    const THoehenAntwort& a = q.Run(MitOrdner(), Param(350900, 5600900, 0));
    ASSERT_TRUE(a.HatNaechster);
    EXPECT_NEAR(a.Naechster.Z, 600.0, 99.0);  // the first file's heights are 500 + 100..
    ASSERT_GE(a.Dateien.size(), 3u);
    EXPECT_EQ(a.Dateien[0].Datei, vorher_);
    EXPECT_EQ(a.Dateien[0].Gefiltert, 1);
    // Within the folder byte order: "A_vorne.xyz" before "dgm1_...".
    EXPECT_EQ(a.Dateien[1].Datei, ordner_ + "/A_vorne.xyz");
    EXPECT_EQ(a.Dateien[1].Eintrag, 2);
    EXPECT_EQ(a.Dateien[1].Name, "A_vorne.xyz");
    EXPECT_EQ(a.Dateien[1].Gefiltert, 0);
    // Without the first file, A_vorne keeps it, not the agency tile that follows it.
    TDateien ohne = MitOrdner();
    ohne.Datei[1] = tmp_.File("fehlt.xyz");
    ohne.Xmin[1] = ohne.Xmax[1] = 0;
    const THoehenAntwort& b = q.Run(ohne, Param(350900, 5600900, 0));
    ASSERT_TRUE(b.HatNaechster);
    EXPECT_GE(b.Naechster.Z, 400.0);
    EXPECT_LT(b.Naechster.Z, 500.0);
    // The ">>" label names the last tile read, not the folder.
    EXPECT_EQ(b.LetzterEintrag, 2);
    EXPECT_EQ(FileLabelText(ohne, b.LetzterEintrag, b.LetzteDatei, nullptr, 0), b.Dateien.back().Datei);
    EXPECT_NE(b.LetzteDatei, ordner_);
}

TEST_F(OrdnerQuery, LyingNameIsReportedAndTheTileFoundWhereItLies) {
    // Named for 352/5600, its first point keeps to the name, the others lie in 354/5603.
    const std::string luegner = ordner_ + "/dgm1_32_352_5600_1_nw.xyz";
    std::vector<P> pts = {{352990, 5600990, 700}};
    for (const P& p : Kachel(354000, 5603000, 500, 500, 700)) pts.push_back(p);
    WriteFile(luegner, XyzText(pts));
    THoehenAbfrage q;
    const TDateien kat = MitOrdner();
    const THoehenAntwort& a = q.Run(kat, Param(352500, 5600500, 50));
    const TDateiZeile* zeile = nullptr;
    for (const TDateiZeile& r : a.Dateien)
        if (r.Datei == luegner) zeile = &r;
    ASSERT_NE(zeile, nullptr) << "the run reads the tile its name chose";
    EXPECT_EQ(zeile->Hinweis, NamensLuegeMeldung(luegner));
    EXPECT_EQ(zeile->Gefiltert, 0);
    EXPECT_EQ(std::count(a.Meldungen.begin(), a.Meldungen.end(), NamensLuegeMeldung(luegner)), 1);

    const THoehenAntwort& b = q.Run(kat, Param(354250, 5603250, 20));
    ASSERT_TRUE(b.HatNaechster);
    EXPECT_GE(b.Naechster.Z, 700.0);
    ASSERT_FALSE(b.Dateien.empty());
    EXPECT_EQ(b.Dateien.back().Datei, luegner);
    EXPECT_TRUE(b.Dateien.back().Hinweis.empty()) << "reported once";
    // A fresh engine (a new program) finds it there through the stored index too.
    THoehenAbfrage neu;
    const THoehenAntwort& c = neu.Run(kat, Param(354250, 5603250, 20));
    EXPECT_TRUE(c.HatNaechster);
    const THoehenAntwort& d = neu.Run(kat, Param(352100, 5600100, 50));
    for (const TDateiZeile& r : d.Dateien) EXPECT_NE(r.Datei, luegner);
}

TEST_F(OrdnerQuery, ChangesBetweenQueriesAreNoticed) {
    THoehenAbfrage q;
    const TDateien kat = MitOrdner();
    const auto dateien = [&](double x, double y) {
        std::vector<std::string> d;
        for (const TDateiZeile& r : q.Run(kat, Param(x, y, 10)).Dateien) d.push_back(FileNamePart(r.Datei));
        return d;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(dateien(353500, 5600500), V{});

    // Added.
    const std::string neu = ordner_ + "/dgm1_32_353_5600_1_nw.xyz";
    WriteFile(neu, XyzText(Kachel(353000, 5600000, 975, 975, 800)));
    EXPECT_EQ(dateien(353500, 5600500), V{"dgm1_32_353_5600_1_nw.xyz"});
    EXPECT_GE(q.Ergebnis().Naechster.Z, 800.0);

    // Changed in place (another size and time): its new heights.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteFile(neu, XyzText(Kachel(353000, 5600000, 975, 975, 900)) + "\n");
    EXPECT_EQ(dateien(353500, 5600500), V{"dgm1_32_353_5600_1_nw.xyz"});
    EXPECT_GE(q.Ergebnis().Naechster.Z, 900.0);

    // Removed.
    fs::remove(neu);
    EXPECT_EQ(dateien(353500, 5600500), V{});
    EXPECT_EQ(dateien(350500, 5600500), V{"dgm1_32_350_5600_1_nw.xyz"});
}

TEST_F(OrdnerQuery, FolderGoneAnswersLikeAFileThatCannotBeOpened) {
    TDateien kat = MitOrdner();
    // Its stored box now decides, as for any entry that cannot be read.
    kat.Xmin[2] = 350000;
    kat.Xmax[2] = 352000;
    kat.Ymin[2] = 5600000;
    kat.Ymax[2] = 5602000;
    THoehenAbfrage q;
    EXPECT_GT(q.Run(kat, Param(350500, 5600500, 10)).Anzahl, 0);
    fs::remove_all(ordner_);
    const THoehenAntwort& a = q.Run(kat, Param(350500, 5600500, 10));
    ASSERT_EQ(a.Dateien.size(), 1u);
    EXPECT_EQ(a.Dateien[0].Eintrag, 2);
    EXPECT_EQ(a.Dateien[0].Datei, ordner_);
    EXPECT_EQ(a.Dateien[0].Fehler, std::string(TextIOFehler) + ordner_);
    EXPECT_TRUE(a.Beendet);
    EXPECT_EQ(a.Meldungen, std::vector<std::string>{"Ordner nicht lesbar: " + ordner_});
    // Outside its stored box it gives no row; the message is not repeated.
    const THoehenAntwort& b = q.Run(kat, Param(360000, 5600500, 10));
    EXPECT_TRUE(b.Dateien.empty());
    EXPECT_TRUE(b.Meldungen.empty());
    // A new engine decides anew: the path is no folder now, so a plain entry, read as before.
    THoehenAbfrage neu;
    const THoehenAntwort& c = neu.Run(kat, Param(350500, 5600500, 10));
    ASSERT_EQ(c.Dateien.size(), 1u);
    EXPECT_EQ(c.Dateien[0].Fehler, std::string(TextIOFehler) + ordner_);
}
