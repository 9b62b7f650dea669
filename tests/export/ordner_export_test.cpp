// The export over folder entries: the same output as the tiles listed one by one, the log
// naming entry and tile, the folder's tiles protected from the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "config/Konf.h"
#include "ordner/OrdnerIndex.h"
#include "raster/raster_gen.h"
#include "tests/export/run_fixture.h"
#include "tools/SafeWriter.h"

namespace tervalo::test {
namespace {

using Log = std::vector<std::string>;

const TAusgabe kXyz{TAusgabeFormat::Xyz, 3};
const TAusgabe kCsv{TAusgabeFormat::Csv, 3};
const TAusgabe kDbf{TAusgabeFormat::DBase, 4};

// The km square dgm1_32_350_5600_1_nw names, and points of a tile in it.
constexpr double kX = 350000, kY = 5600000;

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> v;
    for (const auto& e : fs::recursive_directory_iterator(folder)) v.push_back(e.path().string());
    std::sort(v.begin(), v.end());
    return v;
}

// The log with the entry numbers of "Lese Datei" taken out.
Log OhneNummern(const Log& log) {
    static const std::regex lese("^Lese Datei [0-9]+: ");
    Log out;
    for (const std::string& l : log) out.push_back(std::regex_replace(l, lese, "Lese Datei #: "));
    return out;
}

class OrdnerExportTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string ordner = dir / "DGM1";

    void SetUp() override {
        fs::create_directories(ordner + "/alt");
        fs::create_directories(dir / "quelle");
    }

    // An empty catalogue whose indexes go to the test's own folder.
    TDateien Katalog() const {
        TDateien k;
        k.Ordner.IndexOrdner = dir / "index/";
        return k;
    }

    std::vector<TOrdnerKachel> Indexed() const {
        TOrdnerIndex idx(ordner, Katalog().Ordner);
        idx.Update();
        return idx.All();
    }

    struct Lauf {
        TExportErgebnis r;
        Log log;
        std::string bytes;
    };
    Lauf Run(const TDateien& k, const TExportGrenzen& b, const std::string& out, const TAusgabe& f = kXyz,
             int cancelAt = 0, bool keeps = true) {
        ScriptedExportObserver obs;
        obs.cancelAt = cancelAt;
        TLaufOptionen o = EveryLine();
        o.CancelKeepsOutput = keeps;
        Lauf l;
        l.r = ExportRun(k, b, out, f, o, obs);
        l.log = obs.log;
        l.bytes = ReadAll(out);
        return l;
    }

    // A folder of every kind of tile: named XYZ (plain and packed), a dBase table, an ASCII
    // grid and a GeoTIFF, two unnamed tiles that overlap and repeat points, and files that
    // are no tiles.
    void FillFolder() {
        WriteXyzTile(ordner + "/dgm1_32_350_5600_1_nw.xyz", Grid(kX + 10, kY + 10, 6));
        const std::string gz = dir / "quelle/dgm1_32_351_5600_1_nw.xyz";
        WriteXyzTile(gz, Grid(kX + 1000, kY + 10, 5));
        ASSERT_EQ(Shell("gzip -1 -c " + Quote(gz) + " > " + Quote(ordner + "/dgm1_32_351_5600_1_nw.xyz.gz")).code, 0);
        WriteDbfTable(ordner + "/tabelle.dbf", Grid(kX + 12, kY + 12, 4));  // repeats the first tile
        TRasterArt asc;
        asc.Name = "gitter", asc.Spalten = 5, asc.Zeilen = 4, asc.X0 = kX + 500, asc.Y0 = kY + 504, asc.Ascii = true;
        WriteAsciiGrid(asc, ordner + "/" + asc.Datei());
        TRasterArt tif;
        tif.Name = "raster", tif.Spalten = 6, tif.Zeilen = 5, tif.X0 = kX + 502, tif.Y0 = kY + 505;
        MakeRaster(tif, dir / "quelle");
        fs::copy_file(dir / "quelle/raster.tif", ordner + "/raster.tif");
        WriteXyzTile(ordner + "/B_ueber.xyz", Grid(kX + 14, kY + 14, 4));
        WriteXyzTile(ordner + "/a_ueber.xyz", Grid(kX + 15, kY + 15, 4));  // after B in byte order
        WriteAll(ordner + "/README.md", "Kacheln des Landes\n");
        WriteAll(ordner + "/dgm1_32_350_5600_1_nw.prj", "PROJCS[]\n");
        WriteXyzTile(ordner + "/alt/dgm1_32_350_5600_1_nw.xyz", Grid(kX + 10, kY + 10, 2));  // no subfolders
    }
};

TEST_F(OrdnerExportTest, FolderEntryWritesWhatTheTilesListedOneByOneWrite) {
    FillFolder();
    // Plain entries around the folder: the first repeats points of the folder's tiles, the
    // last repeats the first, with every folder tile read between them.
    const std::vector<Pt> vorher = Grid(kX + 11, kY + 11, 3);
    WriteXyzTile(dir / "vorher.xyz", vorher);
    WriteXyzTile(dir / "nachher.xyz", vorher);
    TDateien mitOrdner = Katalog();
    AddEntry(mitOrdner, dir / "vorher.xyz", vorher);
    AddEntry(mitOrdner, ordner, kX, kX + 2000, kY, kY + 1000);
    AddEntry(mitOrdner, dir / "nachher.xyz", vorher);

    const TExportGrenzen alles{kX, kX + 2000, kY, kY + 1000};
    const TExportGrenzen teil{kX + 400, kX + 1500, kY, kY + 600};  // raster and packed tiles, the table not
    Lauf erst;
    for (const TExportGrenzen& b : {alles, teil})
        for (const TAusgabe& f : {kXyz, kCsv, kDbf}) {
            const std::string ext = f.Format == TAusgabeFormat::DBase ? ".dbf" : f.Format == TAusgabeFormat::Csv ? ".csv" : ".xyz";
            const Lauf o = Run(mitOrdner, b, dir / ("o" + ext), f);
            if (erst.log.empty()) erst = o;
            // The same tiles, in the same order, with the extents the index holds now.
            TDateien einzeln = Katalog();
            AddEntry(einzeln, dir / "vorher.xyz", vorher);
            for (const TOrdnerKachel& k : Indexed()) AddEntry(einzeln, k.Pfad, k.Xmin, k.Xmax, k.Ymin, k.Ymax);
            AddEntry(einzeln, dir / "nachher.xyz", vorher);
            ASSERT_EQ(einzeln.Eintraege(), 2 + 7);
            const std::string ziel = dir / ("o" + ext);
            fs::rename(ziel, ziel + ".ordner");
            const Lauf e = Run(einzeln, b, ziel, f);
            SCOPED_TRACE(ext + (&b == &alles ? " alles" : " teil"));
            EXPECT_FALSE(o.r.Error);
            EXPECT_GT(o.r.Total, 0);
            EXPECT_EQ(o.bytes, e.bytes);
            EXPECT_EQ(o.r.Total, e.r.Total);
            EXPECT_EQ(o.r.Duplicates, e.r.Duplicates);
            EXPECT_EQ(OhneNummern(o.log), OhneNummern(e.log));
        }

    // The log names the folder's entry number and each tile, in byte order of their names.
    Log gelesen, erwartet = {"Lese Datei 1: " + dir / "vorher.xyz"};
    for (const char* n : {"B_ueber.xyz", "a_ueber.xyz", "dgm1_32_350_5600_1_nw.xyz", "dgm1_32_351_5600_1_nw.xyz.gz",
                          "gitter.asc", "raster.tif", "tabelle.dbf"})
        erwartet.push_back("Lese Datei 2: " + ordner + "/" + n);
    erwartet.push_back("Lese Datei 3: " + dir / "nachher.xyz");
    std::copy_if(erst.log.begin(), erst.log.end(), std::back_inserter(gelesen),
                 [](const std::string& l) { return l.rfind("Lese Datei", 0) == 0; });
    EXPECT_EQ(gelesen, erwartet);
    // The last entry repeats the first across all the folder's tiles: none of it is written.
    EXPECT_EQ(std::count(erst.log.begin(), erst.log.end(), "0 Werte aus Datei: nachher.xyz exportiert"), 1);
    EXPECT_EQ(erst.r.Total + erst.r.Duplicates, 9 + 36 + 25 + 20 + 30 + 16 + 16 + 16 + 9);
}

TEST_F(OrdnerExportTest, ATileWhoseNameLiesIsLoggedAndFoundAtItsRealPlaceAfterwards) {
    // Its first point is in the named square, the rest a kilometre east.
    std::vector<Pt> pts = {{kX + 900, kY + 10, 1}};
    for (const Pt& p : Grid(kX + 1500, kY + 10, 3)) pts.push_back(p);
    const std::string luege = ordner + "/dgm1_32_350_5600_1_nw.xyz";
    WriteXyzTile(luege, pts);
    TDateien k = Katalog();
    AddEntry(k, ordner, kX, kX + 1000, kY, kY + 1000);

    const Lauf erst = Run(k, {kX, kX + 1000, kY, kY + 1000}, dir / "o.xyz");
    const Log erwartet = {"Beginn der Konvertierung", "Ausgabeformat: Text-XYZ", "Datei: " + dir / "o.xyz",
                          NamensLuegeMeldung(luege), "Lese Datei 1: " + luege,
                          "1 Werte aus Datei: dgm1_32_350_5600_1_nw.xyz exportiert", "Konvertierung abgeschlossen",
                          "1 Werte insgesamt exportiert", "0 doppelte Werte nicht exportiert"};
    EXPECT_EQ(erst.log, erwartet);

    // The next run finds it by its points, once, without the message.
    const Lauf dann = Run(k, {kX + 1400, kX + 1600, kY, kY + 100}, dir / "o.xyz");
    EXPECT_EQ(dann.r.Total, 9);
    EXPECT_EQ(std::count(dann.log.begin(), dann.log.end(), "Lese Datei 1: " + luege), 1);
    EXPECT_EQ(std::count(dann.log.begin(), dann.log.end(), NamensLuegeMeldung(luege)), 0);
}

TEST_F(OrdnerExportTest, NoOutputBecomesOrReplacesATileOfACataloguedFolder) {
    const std::string kachel = ordner + "/dgm1_32_350_5600_1_nw.xyz";
    WriteXyzTile(kachel, Grid(kX + 10, kY + 10, 3));
    const std::string inhalt = ReadAll(kachel);
    fs::create_directory_symlink(ordner, dir / "verweis");
    TDateien k = Katalog();
    k.KonfDatei = dir / "tervalo.KNF";
    AddEntry(k, ordner, kX, kX + 1000, kY, kY + 1000);
    const std::vector<std::string> vorher = Listing(ordner);

    auto refusal = [&](const TDateien& kat, const std::string& target, const TAusgabe& f = kXyz) {
        ScriptedExportObserver obs;
        try {
            ExportRun(kat, {kX, kX + 1000, kY, kY + 1000}, target, f, EveryLine(), obs);
        } catch (const EZielAbgelehnt& e) {
            EXPECT_TRUE(obs.log.empty());
            return std::string(e.what());
        }
        return std::string("angenommen");
    };
    // An existing tile, a new tile's name in any case of its ending, a link to the folder.
    EXPECT_EQ(refusal(k, kachel), TextZielIstQuelle + kachel);
    EXPECT_EQ(refusal(k, ordner + "/neu.XYZ.GZ"), TextZielIstQuelle + ordner + "/neu.XYZ.GZ");
    EXPECT_EQ(refusal(k, ordner + "/neu.dbf", kDbf), TextZielIstQuelle + ordner + "/neu.dbf");
    EXPECT_EQ(refusal(k, dir / "verweis/neu.csv.txt"), TextZielIstQuelle + dir / "verweis/neu.csv.txt");
    // Below the folder only where subfolders hold tiles.
    EXPECT_EQ(refusal(k, ordner + "/alt/neu.xyz"), "angenommen");
    TDateien tief = k;
    tief.Ordner.Unterordner = true;
    EXPECT_EQ(refusal(tief, ordner + "/alt/neu2.xyz"), TextZielIstQuelle + ordner + "/alt/neu2.xyz");
    EXPECT_EQ(ReadAll(kachel), inhalt);
    std::vector<std::string> jetzt = vorher;
    jetzt.push_back(ordner + "/alt/neu.xyz");
    std::sort(jetzt.begin(), jetzt.end());
    EXPECT_EQ(Listing(ordner), jetzt);

    // A file that is no tile may go there; conversion and the settings go through the same check.
    EXPECT_EQ(refusal(k, ordner + "/auswertung.csv", kCsv), "angenommen");
    const TSchutz s = ProtectedFiles(k);
    EXPECT_THROW(TSichereDatei::Check(ordner + "/x.tif", s), EZielAbgelehnt);
    EXPECT_NO_THROW(TSichereDatei::Check(ordner + "/tervalo.KNF", s));
    EXPECT_NO_THROW(KonfSave(k.KonfDatei, TSettings{}, k));
    ScriptedKonvertObserver kobs;
    EXPECT_THROW(Konvertieren(ordner + "/alt/neu.xyz", ordner + "/k.xyz", kXyz, EveryLine(), s, kobs), EZielAbgelehnt);
    EXPECT_EQ(ReadAll(kachel), inhalt);
}

TEST_F(OrdnerExportTest, CancelWhileTheIndexIsBuiltLeavesNoOutput) {
    // Enough unnamed tiles that the index asks before it is done.
    for (int i = 0; i < 2000; ++i)
        WriteXyzTile(ordner + "/t" + std::to_string(i) + ".xyz", {{kX + i % 50, kY + i / 50, 1.0 * i}});
    TDateien k = Katalog();
    AddEntry(k, ordner, kX, kX + 1000, kY, kY + 1000);
    const TExportGrenzen b{kX, kX + 1000, kY, kY + 1000};
    const Lauf ab = Run(k, b, dir / "o.xyz", kXyz, 1, false);
    EXPECT_TRUE(ab.r.Cancelled);
    EXPECT_FALSE(fs::exists(dir / "o.xyz"));
    EXPECT_EQ(ab.log.back(), "Konvertierung abgebrochen");
    EXPECT_EQ(std::count_if(ab.log.begin(), ab.log.end(), [](const std::string& l) { return l.rfind("Lese", 0) == 0; }), 0);
    // The next run goes on from there and reads every tile.
    const Lauf weiter = Run(k, b, dir / "o.xyz");
    EXPECT_EQ(weiter.r.Total, 2000);
    EXPECT_FALSE(weiter.r.Cancelled);
}

}  // namespace
}  // namespace tervalo::test
