#include "ordner/OrdnerIndex.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filemanager/Extent.h"
#include "formats/DbfFile.h"
#include "tools/SafeWriter.h"
#include "support/files.h"
#include "tools/Errors.h"

namespace tervalo {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

namespace fs = std::filesystem;

bool Hat(const std::vector<std::string>& v, const std::string& teil) {
    return std::any_of(v.begin(), v.end(), [&](const std::string& s) { return s.find(teil) != std::string::npos; });
}

std::vector<std::string> Namen(const std::vector<TOrdnerKachel>& v) {
    std::vector<std::string> n;
    for (const TOrdnerKachel& k : v) n.push_back(k.Relativ);
    return n;
}

class OrdnerIndexTest : public ::testing::Test {
protected:
    TempDir daten, index;
    TOrdnerOptionen opt;
    int64_t uhr = 1500000000;  // past times, so no listing counts as racy

    void SetUp() override { opt.IndexOrdner = index.Path().string() + "/"; }

    static void Zeit(const std::string& p, int64_t s) {
        const timespec ts[2] = {{s, 0}, {s, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), ts, 0), 0) << p;
    }
    // Every folder of the data gets a new old time: what a real change would show.
    void OrdnerGeaendert() {
        ++uhr;
        for (const auto& e : fs::recursive_directory_iterator(daten.Path()))
            if (e.is_directory()) Zeit(e.path().string(), uhr);
        Zeit(daten.Path().string(), uhr);
    }
    std::string Kachel(const std::string& rel, const std::string& inhalt) {
        const std::string p = daten / rel;
        fs::create_directories(fs::path(p).parent_path());
        WriteAll(p, inhalt);
        Zeit(p, ++uhr);
        return p;
    }
    // A pattern-named tile of km square (e, n) with points at its inner corners.
    std::string NamensKachel(int e, int n, const std::string& rel = {}) {
        char name[64];
        std::snprintf(name, sizeof name, "dgm1_32_%03d_%04d_1_nw.xyz", e, n);
        char inhalt[128];
        std::snprintf(inhalt, sizeof inhalt, "%d.5 %d.5 100\n%d.5 %d.5 101\n", e * 1000, n * 1000, e * 1000 + 999,
                      n * 1000 + 999);
        return Kachel(rel.empty() ? name : rel, inhalt);
    }
};

struct TAbbrechen : TOrdnerBeobachter {
    int fragen = 0;
    std::size_t zuletzt = 0, gesamt = 0;
    bool CancelCheck() override { return ++fragen >= 1; }
    void Fortschritt(std::size_t f, std::size_t g) override { zuletzt = f, gesamt = g; }
};

TEST_F(OrdnerIndexTest, BuildsFromNamesAndScansAndFindsLikeBruteForce) {
    for (int e = 350; e < 356; ++e)
        for (int n = 5600; n < 5606; ++n) NamensKachel(e, n);
    // Overlapping tiles without a pattern name, and files that are no tiles.
    const std::string s1 = Kachel("scan1.xyz", "352100.25 5601100.75 1\n353900 5603950.5 2\nkein punkt\n");
    const std::string s2 = Kachel("scan2.TXT", "351999.999 5602000 1\n");
    Kachel("README", "352000 5602000 1\n");
    Kachel("dgm1_32_350_5600_1_nw.prj", "x");
    Kachel("dgm1_32_350_5600_1_nw.xyz.md5", "x");
    Kachel("dgm1_32_351_5600_1_nw.tif.aux.xml", "x");
    OrdnerGeaendert();

    TOrdnerIndex ix(daten.Path().string() + "/", opt);
    EXPECT_EQ(ix.Ordner(), fs::canonical(daten.Path()).string());
    EXPECT_EQ(ix.IndexDatei(), IndexDateiFor(opt.IndexOrdner, ix.Ordner()));
    TOrdnerStand st = ix.Update();
    EXPECT_TRUE(st.Gelistet);
    EXPECT_EQ(st.Neu, 38u);
    EXPECT_EQ(st.Kacheln, 38u);
    EXPECT_TRUE(st.Meldungen.empty());
    EXPECT_EQ(ix.Count(), 38u);

    const std::vector<TOrdnerKachel> alle = ix.All();
    ASSERT_EQ(alle.size(), 38u);
    EXPECT_TRUE(std::is_sorted(alle.begin(), alle.end(),
                               [](const auto& a, const auto& b) { return a.Relativ < b.Relativ; }));
    for (const TOrdnerKachel& k : alle) {
        EXPECT_EQ(k.Pfad, ix.Ordner() + "/" + k.Relativ);
        if (k.Relativ.rfind("scan", 0) == 0) {
            // A scanned tile gets exactly the extent the file manager's scan gives the file.
            EXPECT_EQ(k.Quelle, TAusdehnungsQuelle::Scan);
            const TExtremwerte e = ReadExtremwerte(k.Pfad);
            EXPECT_EQ(k.Xmin, e.Xmin);
            EXPECT_EQ(k.Xmax, e.Xmax);
            EXPECT_EQ(k.Ymin, e.Ymin);
            EXPECT_EQ(k.Ymax, e.Ymax);
        } else {
            EXPECT_EQ(k.Quelle, TAusdehnungsQuelle::Name);
            EXPECT_EQ(k.Xmax - k.Xmin, 1000.0);
            EXPECT_EQ(std::fmod(k.Xmin, 1000.0), 0.0);
        }
    }
    const auto u = ix.Union();
    ASSERT_TRUE(u);
    EXPECT_EQ(u->Xmin, 350000);
    EXPECT_EQ(u->Xmax, 356000);
    EXPECT_EQ(u->Ymin, 5600000);
    EXPECT_EQ(u->Ymax, 5606000);

    // Random boxes, many of them on tile borders (closed intervals on both sides).
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> km(349, 357);
    std::uniform_real_distribution<double> frei(349000, 357000);
    std::vector<TOrdnerKachel> treffer;
    for (int i = 0; i < 400; ++i) {
        double x0, x1, y0, y1;
        if (i % 2) {
            x0 = km(rng) * 1000.0, y0 = (km(rng) + 5251) * 1000.0;
            x1 = x0 + (i % 3) * 1000.0, y1 = y0 + (i % 5 == 0 ? 0.0 : 500.0);
        } else {
            x0 = frei(rng), y0 = frei(rng) + 5251000.0;
            x1 = x0 + 100.0 * (i % 7), y1 = y0 + 100.0;
        }
        std::vector<std::string> soll;
        for (const TOrdnerKachel& k : alle)
            if (k.Xmin <= x1 && k.Xmax >= x0 && k.Ymin <= y1 && k.Ymax >= y0) soll.push_back(k.Relativ);
        ix.Find(x0, x1, y0, y1, treffer);
        ASSERT_EQ(Namen(treffer), soll) << x0 << " " << x1 << " " << y0 << " " << y1;
    }
    ix.Find(351999.999, 351999.999, 5602000, 5602000, treffer);
    EXPECT_EQ(Namen(treffer),
              (std::vector<std::string>{"dgm1_32_351_5601_1_nw.xyz", "dgm1_32_351_5602_1_nw.xyz", "scan2.TXT"}));
    (void)s1, (void)s2;
}

TEST_F(OrdnerIndexTest, FloatBoxesAreRoundedOutwardsAndHitsCheckedExactly) {
    // Values a float cannot hold: 32350000.5 lies between two floats 4 m apart.
    Kachel("a.xyz", "32350000.5 5600999.999 1\n32350999.5 5601999.001 1\n");
    Kachel("b.xyz", "0.1 0.2 1\n0.30000000000000004 0.7 1\n");
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    ix.Update();
    std::vector<TOrdnerKachel> t;
    struct TFall {
        double x0, x1, y0, y1;
        bool a;
    };
    const double lo = 32350000.5, hi = 32350999.5;
    const TFall faelle[] = {
        {lo, lo, 5600999.999, 5600999.999, true},                         // the corners themselves
        {hi, hi, 5601999.001, 5601999.001, true},
        {lo - 10, lo, 5601500, 5601500, true},                            // touching from outside
        {hi, hi + 10, 5601500, 5601500, true},
        {lo - 10, std::nextafter(lo, 0.0), 5601500, 5601500, false},      // inside the float box only
        {std::nextafter(hi, 1e300), hi + 1, 5601500, 5601500, false},
        {lo, hi, 5600999.998, 5600999.998, false},
        {lo, hi, std::nextafter(5601999.001, 1e300), 5601999.1, false},
    };
    for (const TFall& f : faelle) {
        ix.Find(f.x0, f.x1, f.y0, f.y1, t);
        EXPECT_EQ(t.size(), f.a ? 1u : 0u) << std::setprecision(17) << f.x0 << " " << f.x1 << " " << f.y0;
    }
    // Every stored box is a float box holding the exact extent.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(ix.IndexDatei().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT r.minx, r.maxx, r.miny, r.maxy, t.xmin, t.xmax, t.ymin, t.ymax FROM rtree r"
                                 " JOIN tiles t ON t.id = r.id",
                                 -1, &st, nullptr),
              SQLITE_OK);
    int boxen = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        double v[8];
        for (int i = 0; i < 8; ++i) v[i] = sqlite3_column_double(st, i);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], double(float(v[i])));
        EXPECT_LE(v[0], v[4]);
        EXPECT_GE(v[1], v[5]);
        EXPECT_LE(v[2], v[6]);
        EXPECT_GE(v[3], v[7]);
        ++boxen;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_EQ(boxen, 2);

    ix.Find(0.30000000000000004, 1, 0.7, 0.7, t);
    EXPECT_EQ(Namen(t), std::vector<std::string>{"b.xyz"});
    ix.Find(std::nextafter(0.30000000000000004, 1.0), 1, 0.7, 0.7, t);
    EXPECT_TRUE(t.empty());
}

TEST_F(OrdnerIndexTest, SubfoldersCountOnlyWhenAskedAndSortByBytes) {
    const std::string zeile = "5 5 1\n";
    for (const char* rel : {"a/b.xyz", "a.xyz", "A.xyz", "a/B.xyz", "b.xyz", "a/c/d.asc.txt", "Z/z.dbf.txt"})
        Kachel(rel, zeile);
    Kachel("a/notiz.md", zeile);
    // A link back up must not make the listing go round.
    ASSERT_EQ(::symlink("..", (daten / "a/zurueck").c_str()), 0);
    OrdnerGeaendert();

    std::vector<TOrdnerKachel> t;
    {
        TOrdnerIndex ix(daten.Path().string(), opt);
        ix.Update();
        ix.Find(0, 10, 0, 10, t);
        EXPECT_EQ(Namen(t), (std::vector<std::string>{"A.xyz", "a.xyz", "b.xyz"}));
    }
    opt.Unterordner = true;
    TOrdnerIndex ix(daten.Path().string(), opt);
    const TOrdnerStand st = ix.Update();
    // Other options: the index starts afresh, which is no damage to report.
    EXPECT_FALSE(Hat(st.Meldungen, "unbrauchbar"));
    ix.Find(0, 10, 0, 10, t);
    EXPECT_EQ(Namen(t), (std::vector<std::string>{"A.xyz", "Z/z.dbf.txt", "a.xyz", "a/B.xyz", "a/b.xyz",
                                                  "a/c/d.asc.txt", "b.xyz"}));
    EXPECT_EQ(ix.Count(), 7u);

    // A tile added deep down shows through its own folder's time.
    Kachel("a/c/neu.xyz", zeile);
    Zeit(daten / "a/c", ++uhr);
    const TOrdnerStand st2 = ix.Update();
    EXPECT_TRUE(st2.Gelistet);
    EXPECT_EQ(st2.Neu, 1u);
}

TEST_F(OrdnerIndexTest, NoticesAddedRemovedAndChangedTiles) {
    NamensKachel(350, 5600);
    const std::string s = Kachel("s.xyz", "1 1 1\n2 2 2\n");
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    EXPECT_EQ(ix.Update().Neu, 2u);

    TOrdnerStand st = ix.Update();
    EXPECT_FALSE(st.Gelistet) << "nothing changed";
    EXPECT_EQ(st.Neu + st.Geaendert + st.Entfernt, 0u);

    NamensKachel(351, 5600);
    OrdnerGeaendert();
    st = ix.Update();
    EXPECT_TRUE(st.Gelistet);
    EXPECT_EQ(st.Neu, 1u);
    EXPECT_EQ(st.Kacheln, 3u);

    ASSERT_EQ(::unlink((daten / "dgm1_32_350_5600_1_nw.xyz").c_str()), 0);
    OrdnerGeaendert();
    st = ix.Update();
    EXPECT_EQ(st.Entfernt, 1u);
    EXPECT_EQ(ix.Count(), 2u);

    // Rewritten in place: the folder's time stays, so only a full look or the read sees it.
    WriteAll(s, "10 10 1\n20 25 2\n");
    Zeit(s, ++uhr);
    st = ix.Update();
    EXPECT_FALSE(st.Gelistet);
    std::vector<TOrdnerKachel> t;
    ix.Find(10, 20, 10, 25, t);
    EXPECT_TRUE(t.empty());
    st = ix.Update(nullptr, true);
    EXPECT_TRUE(st.Gelistet);
    EXPECT_EQ(st.Geaendert, 1u);
    EXPECT_EQ(st.Neu, 0u);
    ix.Find(20, 20, 25, 25, t);
    ASSERT_EQ(Namen(t), std::vector<std::string>{"s.xyz"});

    WriteAll(s, "30 30 1\n40 45 2\n");
    Zeit(s, ++uhr);
    TOrdnerKachel k = t[0];
    EXPECT_EQ(ix.Pruefen(k), "");
    EXPECT_EQ(k.Xmax, 40);
    EXPECT_EQ(k.Ymax, 45);
    ix.Find(40, 40, 45, 45, t);
    EXPECT_EQ(t.size(), 1u);

    // A tile gone when a run is about to read it.
    ASSERT_EQ(::unlink(s.c_str()), 0);
    EXPECT_EQ(ix.Pruefen(k), "");
    EXPECT_EQ(k.Quelle, TAusdehnungsQuelle::Fehler);
    ix.Find(40, 40, 45, 45, t);
    EXPECT_TRUE(t.empty());
}

TEST_F(OrdnerIndexTest, ANameThatLiesIsFoundAtTheRealPlace) {
    // First point inside the name's square, a later one far outside: found when checked.
    const std::string p = Kachel("dgm1_32_350_5600_1_nw.xyz", "350000.5 5600000.5 1\n359000 5609000 2\n");
    // First point outside already: scanned at once.
    const std::string q = Kachel("dgm1_32_360_5600_1_nw.xyz", "370000 5600500 1\n370010 5600600 1\n");
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    TOrdnerStand st = ix.Update();
    EXPECT_EQ(st.Meldungen, std::vector<std::string>{NamensLuegeMeldung(ix.Ordner() + "/dgm1_32_360_5600_1_nw.xyz")});
    EXPECT_EQ(NamensLuegeMeldung("/x/k.xyz"),
              "Die Punkte der Kachel /x/k.xyz liegen außerhalb der Ausdehnung, die ihr Name angibt; ihre gelesene "
              "Ausdehnung gilt von nun an.");

    std::vector<TOrdnerKachel> t;
    ix.Find(370005, 370005, 5600550, 5600550, t);
    ASSERT_EQ(Namen(t), std::vector<std::string>{"dgm1_32_360_5600_1_nw.xyz"});
    EXPECT_EQ(t[0].Quelle, TAusdehnungsQuelle::Scan);

    ix.Find(350500, 350500, 5600500, 5600500, t);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].Quelle, TAusdehnungsQuelle::Name);
    EXPECT_FALSE(t[0].Geprueft);
    TOrdnerKachel k = t[0];
    EXPECT_EQ(ix.Pruefen(k), NamensLuegeMeldung(k.Pfad));
    EXPECT_EQ(k.Quelle, TAusdehnungsQuelle::Scan);
    EXPECT_EQ(k.Xmax, 359000);
    ix.Find(358000, 359500, 5608000, 5609500, t);
    EXPECT_EQ(Namen(t), std::vector<std::string>{"dgm1_32_350_5600_1_nw.xyz"});
    EXPECT_EQ(ix.Pruefen(k), "") << "said once";

    // An honest name is checked once and keeps its square.
    NamensKachel(352, 5600);
    OrdnerGeaendert();
    ix.Update();
    ix.Find(352500, 352500, 5600500, 5600500, t);
    ASSERT_EQ(Namen(t), (std::vector<std::string>{"dgm1_32_350_5600_1_nw.xyz", "dgm1_32_352_5600_1_nw.xyz"}));
    EXPECT_EQ(ix.Pruefen(t[1]), "");
    EXPECT_TRUE(t[1].Geprueft);
    EXPECT_EQ(t[1].Quelle, TAusdehnungsQuelle::Name);
    EXPECT_EQ(t[1].Xmin, 352000);
    (void)p, (void)q;
}

TEST_F(OrdnerIndexTest, EightDigitEastingsGetTheZonePrefix) {
    Kachel("dgm1_32_350_5600_1_nw.xyz", "32350000.5 5600000.5 1\n32350999.5 5600999.5 1\n");
    Kachel("dgm1_33_358_5648_2_sn.xyz", "358000 5648000 1\n");
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    EXPECT_TRUE(ix.Update().Meldungen.empty());
    const auto alle = ix.All();
    ASSERT_EQ(alle.size(), 2u);
    EXPECT_EQ(alle[0].Xmin, 32350000);
    EXPECT_EQ(alle[0].Xmax, 32351000);
    EXPECT_EQ(alle[0].Ymin, 5600000);
    EXPECT_EQ(alle[1].Xmin, 358000);
    EXPECT_EQ(alle[1].Xmax, 360000);
    std::vector<TOrdnerKachel> t;
    ix.Find(32350500, 32350500, 5600500, 5600500, t);
    EXPECT_EQ(t.size(), 1u);
    ix.Find(350500, 350500, 5600500, 5600500, t);
    EXPECT_TRUE(t.empty());
}

TEST_F(OrdnerIndexTest, EmptyAndUnreadableTilesAreKeptButNeverFound) {
    Kachel("leer.xyz", "keine Punkte\n\n");
    Kachel("dgm1_32_350_5600_1_nw.xyz", "");
    // gzip's signature over garbage: the reader fails.
    const std::string kaputt = Kachel("kaputt.xyz.gz", std::string("\x1f\x8b\x08\x00", 4) + std::string(40, 'x'));
    Kachel("auch_kaputt.xyz.gz", std::string("\x1f\x8b\x08\x00", 4) + std::string(40, 'y'));
    ASSERT_EQ(::symlink("fehlt.xyz", (daten / "haengt.xyz").c_str()), 0);
    ASSERT_EQ(::mkfifo((daten / "rohr.xyz").c_str(), 0600), 0);
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    TOrdnerStand st = ix.Update();
    EXPECT_EQ(st.Kacheln, 4u) << "a dangling link and a pipe are no tiles";
    // In the tiles' order, whichever thread read them.
    ASSERT_EQ(st.Meldungen.size(), 2u);
    EXPECT_EQ(st.Meldungen[0].rfind("Kachel nicht lesbar: " + ix.Ordner() + "/auch_kaputt.xyz.gz (", 0), 0u)
        << st.Meldungen[0];
    EXPECT_EQ(st.Meldungen[1].rfind("Kachel nicht lesbar: " + ix.Ordner() + "/kaputt.xyz.gz (", 0), 0u)
        << st.Meldungen[1];
    EXPECT_EQ(st.Meldungen[1].back(), ')');
    std::map<std::string, TAusdehnungsQuelle> q;
    for (const auto& k : ix.All()) q[k.Relativ] = k.Quelle;
    EXPECT_EQ(q["leer.xyz"], TAusdehnungsQuelle::Leer);
    EXPECT_EQ(q["dgm1_32_350_5600_1_nw.xyz"], TAusdehnungsQuelle::Leer);
    EXPECT_EQ(q["kaputt.xyz.gz"], TAusdehnungsQuelle::Fehler);
    std::vector<TOrdnerKachel> t;
    ix.Find(-1e12, 1e12, -1e12, 1e12, t);
    EXPECT_TRUE(t.empty());
    EXPECT_FALSE(ix.Union());

    // The unreadable tile is tried again on the next Update, without any change to the folder.
    WriteAll(kaputt, "5 6 7\n");
    st = ix.Update();
    EXPECT_FALSE(st.Gelistet);
    EXPECT_EQ(st.Geaendert, 2u);
    EXPECT_EQ(st.Meldungen.size(), 1u) << "the one still broken";
    ix.Find(5, 5, 6, 6, t);
    EXPECT_EQ(Namen(t), std::vector<std::string>{"kaputt.xyz.gz"});
}

TEST_F(OrdnerIndexTest, RastersTakeTheirHeaderAndDbaseTablesAreScanned) {
    const std::string grid = "ncols 4\nnrows 3\nxllcorner 350000\nyllcorner 5600000\ncellsize 2\n"
                             "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
    Kachel("dgm1_32_350_5600_1_nw.asc", grid);
    Kachel("ohne_muster.asc", grid);
    // A dBase table: its content decides, whatever the name says.
    {
        TSichereDatei file(daten / "tabelle.dbf");
        TDbfFile t;
        t.CreateTable(file, 3, XyzFieldDefs());
        t.AppendRecord(351000.25, 5600100.5, 1);
        t.AppendRecord(350010.75, 5601000, 2);
        t.Close();
        file.Commit();
        Zeit(daten / "tabelle.dbf", ++uhr);
    }
    OrdnerGeaendert();
    TOrdnerIndex ix(daten.Path().string(), opt);
    const TOrdnerStand st = ix.Update();
    EXPECT_TRUE(st.Meldungen.empty()) << st.Meldungen[0];
    for (const TOrdnerKachel& k : ix.All()) {
        const TExtremwerte e = ReadExtremwerte(k.Pfad);
        EXPECT_EQ(k.Quelle, e.Raster ? TAusdehnungsQuelle::Raster : TAusdehnungsQuelle::Scan) << k.Relativ;
        EXPECT_EQ(k.Xmin, e.Xmin) << k.Relativ;
        EXPECT_EQ(k.Xmax, e.Xmax) << k.Relativ;
        EXPECT_EQ(k.Ymin, e.Ymin) << k.Relativ;
        EXPECT_EQ(k.Ymax, e.Ymax) << k.Relativ;
    }
    EXPECT_EQ(ix.All()[0].Xmin, 350001.0) << "pixel centres";
}

TEST_F(OrdnerIndexTest, ADamagedOrForeignIndexIsRebuiltWithAMessage) {
    NamensKachel(350, 5600);
    NamensKachel(351, 5600);
    OrdnerGeaendert();
    std::string datei;
    {
        TOrdnerIndex ix(daten.Path().string(), opt);
        ix.Update();
        datei = ix.IndexDatei();
    }
    ASSERT_TRUE(fs::exists(datei));
    const std::string gut = ReadAll(datei);
    ASSERT_GT(gut.size(), 4096u);

    auto fremd = [&] {
        fs::remove(datei);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(datei.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE kunden(name TEXT); INSERT INTO kunden VALUES('x')", nullptr, nullptr,
                               nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> schaeden = {
        {"garbage", [&] { WriteAll(datei, std::string(9000, '\x5a')); }},
        {"truncated", [&] { WriteAll(datei, gut.substr(0, gut.size() / 2 + 100)); }},
        {"page damaged", [&] {
             std::string s = gut;
             for (std::size_t i = 4096 + 8; i < 8192; ++i) s[i] = char(i * 7);
             WriteAll(datei, s);
         }},
        {"foreign", fremd},
    };
    for (const auto& [was, schaden] : schaeden) {
        fs::remove(datei + "-wal");
        fs::remove(datei + "-shm");
        schaden();
        TOrdnerIndex ix(daten.Path().string(), opt);
        const TOrdnerStand st = ix.Update();
        EXPECT_EQ(st.Meldungen,
                  std::vector<std::string>{"Der Index des Ordners " + ix.Ordner() +
                                           " war unbrauchbar und wurde neu aufgebaut."})
            << was;
        EXPECT_EQ(st.Kacheln, 2u) << was;
        EXPECT_EQ(ix.IndexDatei(), datei) << was;
        // Sound again: the next program takes it without a word.
        TOrdnerIndex wieder(daten.Path().string(), opt);
        EXPECT_TRUE(wieder.Update().Meldungen.empty()) << was;
        EXPECT_EQ(wieder.Count(), 2u) << was;
    }
}

// Opening checks only the file's marks; damage in the tiles' pages is met by the lookup, which
// then makes the index anew and still answers with every tile.
TEST_F(OrdnerIndexTest, DamageMetByALookupRebuildsAndTheLookupStillAnswers) {
    for (int e = 300; e < 340; ++e)
        for (int n = 5600; n < 5610; ++n) NamensKachel(e, n);
    OrdnerGeaendert();
    std::string datei;
    {
        TOrdnerIndex ix(daten.Path().string(), opt);
        ix.Update();
        datei = ix.IndexDatei();
    }
    fs::remove(datei + "-wal");
    fs::remove(datei + "-shm");
    const std::string gut = ReadAll(datei);
    ASSERT_GT(gut.size(), 8u * 4096u);
    for (std::size_t seite = 2; seite * 4096 < gut.size(); ++seite) {
        std::string s = gut;
        for (std::size_t i = seite * 4096 + 8; i < std::min(s.size(), (seite + 1) * 4096); ++i) s[i] = char(i * 13);
        WriteAll(datei, s);
        TOrdnerIndex ix(daten.Path().string(), opt);
        std::vector<TOrdnerKachel> v;
        try {
            ix.Update();
            ix.Find(-1e12, 1e12, -1e12, 1e12, v);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "page " << seite << ": " << e.what();
            continue;
        }
        EXPECT_EQ(v.size(), 400u) << "page " << seite;
        fs::remove(datei + "-wal");
        fs::remove(datei + "-shm");
    }
}

TEST_F(OrdnerIndexTest, AnIndexFolderThatCannotBeWrittenKeepsTheIndexInMemory) {
    NamensKachel(350, 5600);
    OrdnerGeaendert();
    WriteAll(index / "datei", "x");
    opt.IndexOrdner = index / "datei/unter/";
    TOrdnerIndex ix(daten.Path().string(), opt);
    EXPECT_EQ(ix.IndexDatei(), "");
    const TOrdnerStand st = ix.Update();
    ASSERT_EQ(st.Meldungen.size(), 1u);
    EXPECT_EQ(st.Meldungen[0].rfind("Der Index des Ordners " + ix.Ordner() + " kann nicht gespeichert werden (", 0), 0u);
    EXPECT_NE(st.Meldungen[0].find("); er wird im Speicher gehalten."), std::string::npos);
    EXPECT_EQ(st.Kacheln, 1u);
    std::vector<TOrdnerKachel> t;
    ix.Find(350500, 350500, 5600500, 5600500, t);
    EXPECT_EQ(t.size(), 1u);
    EXPECT_TRUE(ix.Update().Meldungen.empty()) << "said once";

    // Inside the data folder it would change what it watches.
    opt.IndexOrdner = daten / "index/";
    TOrdnerIndex drin(daten.Path().string(), opt);
    EXPECT_EQ(drin.IndexDatei(), "");
    EXPECT_TRUE(Hat(drin.Update().Meldungen, "im Speicher gehalten"));
    EXPECT_FALSE(fs::exists(daten / "index"));

    if (::geteuid() != 0) {
        TempDir zu;
        ::chmod(zu.Path().c_str(), 0500);
        opt.IndexOrdner = zu.Path().string() + "/";
        TOrdnerIndex ro(daten.Path().string(), opt);
        EXPECT_EQ(ro.IndexDatei(), "");
        EXPECT_TRUE(Hat(ro.Update().Meldungen, "im Speicher gehalten"));
        ::chmod(zu.Path().c_str(), 0700);
    }
}

TEST_F(OrdnerIndexTest, TheDataFolderIsNeverWritten) {
    for (int e = 350; e < 353; ++e) NamensKachel(e, 5600, "sub/" + std::to_string(e) + "_x_32_" + std::to_string(e) + "_5600_1.xyz");
    Kachel("s.xyz", "1 2 3\n");
    OrdnerGeaendert();
    auto bild = [&] {
        std::map<std::string, std::pair<int64_t, uint64_t>> m;
        struct stat s{};
        ::stat(daten.Path().c_str(), &s);
        m["."] = {s.st_mtim.tv_sec * 1000000000 + s.st_mtim.tv_nsec, 0};
        for (const auto& e : fs::recursive_directory_iterator(daten.Path())) {
            ::lstat(e.path().c_str(), &s);
            m[e.path().string()] = {s.st_mtim.tv_sec * 1000000000 + s.st_mtim.tv_nsec, uint64_t(s.st_size)};
        }
        return m;
    };
    const auto vorher = bild();
    opt.Unterordner = true;
    {
        TOrdnerIndex ix(daten.Path().string(), opt);
        ix.Update();
        ix.Update(nullptr, true);
        for (TOrdnerKachel k : ix.All()) ix.Pruefen(k);
        EXPECT_EQ(ix.Count(), 4u);
    }
    EXPECT_EQ(bild(), vorher);
    EXPECT_FALSE(fs::is_empty(index.Path()));
}

TEST_F(OrdnerIndexTest, CancelKeepsWhatIsDoneAndTheNextUpdateFinishes) {
    for (int i = 0; i < 3000; ++i) Kachel("k" + std::to_string(10000 + i) + ".xyz", std::to_string(i) + " 5 1\n");
    OrdnerGeaendert();
    std::size_t nachAbbruch = 0;
    {
        TOrdnerIndex ix(daten.Path().string(), opt);
        TAbbrechen b;
        const TOrdnerStand st = ix.Update(&b);
        ASSERT_TRUE(st.Abgebrochen) << "all 3000 done before the first question";
        EXPECT_EQ(b.gesamt, 3000u);
        nachAbbruch = ix.Count();
        EXPECT_GT(nachAbbruch, 0u);
        EXPECT_EQ(st.Neu, nachAbbruch);
    }
    TOrdnerIndex ix(daten.Path().string(), opt);
    EXPECT_EQ(ix.Count(), nachAbbruch) << "kept in the file";
    TOrdnerStand st = ix.Update();
    EXPECT_TRUE(st.Gelistet) << "the folder did not count as listed";
    EXPECT_FALSE(st.Abgebrochen);
    EXPECT_EQ(st.Neu, 3000u - nachAbbruch);
    EXPECT_EQ(ix.Count(), 3000u);
    EXPECT_FALSE(ix.Update().Gelistet);
}

TEST_F(OrdnerIndexTest, TwoProgramsShareOneIndex) {
    for (int e = 350; e < 360; ++e) NamensKachel(e, 5600);
    OrdnerGeaendert();
    TOrdnerIndex a(daten.Path().string(), opt), b(daten.Path().string(), opt);
    EXPECT_EQ(a.Update().Neu, 10u);
    const TOrdnerStand sb = b.Update();
    EXPECT_FALSE(sb.Gelistet) << "b sees a's work";
    EXPECT_EQ(b.Count(), 10u);

    // Both bring it up to date and read at once.
    std::atomic<int> fehler{0};
    auto lauf = [&](TOrdnerIndex& ix) {
        try {
            std::vector<TOrdnerKachel> t;
            for (int i = 0; i < 15; ++i) {
                ix.Update(nullptr, i % 3 == 0);
                ix.Find(350000, 360000, 5600500, 5600500, t);
                if (t.size() < 10) ++fehler;
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            ++fehler;
        }
    };
    std::thread ta([&] { lauf(a); }), tb([&] { lauf(b); });
    for (int i = 360; i < 366; ++i) {
        NamensKachel(i, 5600);
        OrdnerGeaendert();
    }
    ta.join();
    tb.join();
    EXPECT_EQ(fehler, 0);
    a.Update();
    EXPECT_EQ(b.Count(), 16u);
    std::vector<TOrdnerKachel> t;
    b.Find(365500, 365500, 5600500, 5600500, t);
    EXPECT_EQ(t.size(), 1u);
}

TEST_F(OrdnerIndexTest, AFolderThatCannotBeReadThrows) {
    try {
        TOrdnerIndex ix(daten / "fehlt", opt);
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "Ordner nicht lesbar: " + (daten / "fehlt"));
    }
    Kachel("datei.xyz", "1 1 1\n");
    EXPECT_THROW(TOrdnerIndex(daten / "datei.xyz", opt), EInOutError);
    EXPECT_EQ(IndexDateiFor("/i/", "/daten/DGM1").size(), std::string("/i/ordner-0123456789abcdef.sqlite").size());
    EXPECT_NE(IndexDateiFor("/i", "/a/DGM1"), IndexDateiFor("/i/", "/b/DGM1"));
    EXPECT_EQ(IndexDateiFor("/i", "/a/DGM1"), IndexDateiFor("/i/", "/a/DGM1"));
}

}  // namespace
}  // namespace tervalo
