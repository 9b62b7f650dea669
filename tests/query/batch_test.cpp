// The batch answers every point exactly as a single query there would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include "ordner/OrdnerIndex.h"
#include "query_test_util.h"
#include "raster/raster_gen.h"
#include "query/Batch.h"
#include "query/BatchKachel.h"
#include "query/Query.h"
#include "tools/Errors.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;
namespace fs = std::filesystem;

namespace {

void Vergleiche(const TDateien& kat, double d, double potenz, const std::vector<std::pair<double, double>>& punkte,
                TBatchAbfrage& batch) {
    // Every point alone, and all at once on two threads (grouped, in batches).
    std::vector<TBatchPunkt> alle;
    for (auto [x, y] : punkte) alle.push_back({x, y});
    std::vector<THoehenAntwort> zusammen(alle.size());
    std::vector<int> mal(alle.size());
    batch.SetThreads(2);
    batch.AnswerAll(alle, [&](std::size_t k, const THoehenAntwort& a) {
        zusammen[k] = a;
        ++mal[k];
    });
    EXPECT_EQ(std::count(mal.begin(), mal.end(), 1), static_cast<long>(alle.size()));
    // Answers that leave out the counts (and the Shepard height) hold the same nearest point,
    // Shepard height, rows and messages.
    for (TUmfang u : {TUmfang::NaechsterUndShepard, TUmfang::Naechster}) {
        TBatchAbfrage schlank(kat, d, potenz);
        schlank.SetUmfang(u);
        schlank.SetThreads(2);
        schlank.AnswerAll(alle, [&](std::size_t k, const THoehenAntwort& a) {
            const THoehenAntwort& v = zusammen[k];
            SCOPED_TRACE(testing::Message() << "lean " << static_cast<int>(u) << " at " << v.X << " " << v.Y);
            EXPECT_EQ(a.Beendet, v.Beendet);
            EXPECT_EQ(a.Fehler, v.Fehler);
            ASSERT_EQ(a.Dateien.size(), v.Dateien.size());
            for (std::size_t j = 0; j < v.Dateien.size(); ++j) EXPECT_EQ(a.Dateien[j].Fehler, v.Dateien[j].Fehler);
            ASSERT_EQ(a.Berechnet, v.Berechnet);
            qtest::ExpectSameNearest(a, v);
            if (u == TUmfang::NaechsterUndShepard) {
                EXPECT_EQ(a.ShepardN, v.ShepardN);
                EXPECT_EQ(std::memcmp(&a.ShepardZ, &v.ShepardZ, sizeof(double)), 0);
            }
        });
    }
    // With the ranking: the whole answer, and the 20 nearest as the query ranks them.
    std::vector<THoehenAntwort> gerankt(alle.size());
    TBatchAbfrage rang(kat, d, potenz);
    rang.SetUmfang(TUmfang::MitRangliste);
    rang.AnswerAll(alle, [&](std::size_t k, const THoehenAntwort& a) { gerankt[k] = a; });
    THoehenAbfrage q;
    for (std::size_t n = 0; n < 2 * punkte.size(); ++n) {
        const auto [x, y] = punkte[n % punkte.size()];
        SCOPED_TRACE(testing::Message() << "at " << x << " " << y << (n < punkte.size() ? " alone" : " together"));
        TAbfrageParameter p;
        p.X = x;
        p.Y = y;
        p.Fangbreite = d;
        p.Potenz = potenz;
        bool fehler = false;
        try {
            q.Run(kat, p);
        } catch (const std::exception&) {
            fehler = true;
        }
        const THoehenAntwort& e = q.Ergebnis();
        if (n < punkte.size()) {
            const THoehenAntwort& g = gerankt[n];
            EXPECT_EQ(g.Beendet, e.Beendet);
            EXPECT_EQ(g.Anzahl, e.Anzahl);
            EXPECT_EQ(g.Berechnet, e.Berechnet);
            ASSERT_EQ(g.Rangliste.size(), e.Rangliste.size());
            for (std::size_t r = 0; r < e.Rangliste.size(); ++r) {
                EXPECT_EQ(g.Rangliste[r].X, e.Rangliste[r].X) << "rank " << r + 1;
                EXPECT_EQ(g.Rangliste[r].Y, e.Rangliste[r].Y) << "rank " << r + 1;
                EXPECT_EQ(g.Rangliste[r].Z, e.Rangliste[r].Z) << "rank " << r + 1;
                EXPECT_EQ(g.Rangliste[r].R, e.Rangliste[r].R) << "rank " << r + 1;
            }
            EXPECT_EQ(std::memcmp(&g.ShepardZ, &e.ShepardZ, sizeof(double)), 0);
        }
        THoehenAntwort a;
        if (n < punkte.size())
            batch.Ask(x, y, a);
        else
            a = zusammen[n % punkte.size()];
        ASSERT_EQ(a.Beendet, !fehler);
        EXPECT_EQ(a.Fehler, e.Fehler);
        ASSERT_EQ(a.Dateien.size(), e.Dateien.size());
        for (std::size_t k = 0; k < e.Dateien.size(); ++k) {
            const TDateiZeile &r = e.Dateien[k], &b = a.Dateien[k];
            EXPECT_EQ(b.Nr, r.Nr);
            EXPECT_EQ(b.Eintrag, r.Eintrag);
            EXPECT_EQ(b.Name, r.Name);
            EXPECT_EQ(b.DBase, r.DBase);
            EXPECT_EQ(b.Gelesen, r.Gelesen);
            EXPECT_EQ(b.Gefiltert, r.Gefiltert) << "file " << k + 1;
            EXPECT_EQ(b.Fehler, r.Fehler);
        }
        EXPECT_EQ(a.LB_DateiVoll, e.LB_DateiVoll);
        EXPECT_EQ(a.Anzahl, q.Speicher().Anzahl);
        ASSERT_EQ(a.Berechnet, e.Berechnet);
        if (!e.Berechnet) continue;
        const THoehenAntwort& b = e;
        qtest::ExpectSameNearest(a, b);
        EXPECT_EQ(a.ShepardN, b.ShepardN);
        // Bit for bit: the same sums in the same order.
        EXPECT_EQ(std::memcmp(&a.ShepardZ, &b.ShepardZ, sizeof(double)), 0) << a.ShepardZ << " " << b.ShepardZ;
    }
}

}  // namespace

TEST(QueryBatch, EqualsSingleQueriesOverOverlappingTiles) {
    qtest::TempDir dir;
    std::mt19937 rng(11);
    // Four 200 m tiles at 5 m spacing sharing their edges, as text and dBase, plus a tile
    // written in shuffled order with irregular heights.
    auto kachel = [&](double x0, double y0) {
        auto pts = qtest::Grid(x0, x0 + 200, y0, y0 + 200, 5);
        for (P& p : pts) p.z += (rng() % 1000) / 100.0;
        return pts;
    };
    TDateien kat;
    auto a = kachel(1000, 1000), b = kachel(1200, 1000), c = kachel(1000, 1200), d = kachel(1200, 1200);
    qtest::WriteFile(dir.File("a.xyz"), "X Y Z\r\n" + qtest::XyzText(a));
    qtest::WriteDbf(dir.File("b.dbf"), b, 4);
    qtest::WriteDbf(dir.File("c.dbf"), c, 7);
    std::shuffle(d.begin(), d.end(), rng);
    qtest::WriteFile(dir.File("d.xyz"), qtest::XyzText(d));
    // An irregular cloud over everything, read last, repeating some grid points.
    std::vector<P> wolke;
    for (int i = 0; i < 3000; ++i) {
        P p{1000 + (rng() % 40000) / 100.0, 1000 + (rng() % 40000) / 100.0, (rng() % 5000) / 10.0};
        if (i % 10 == 0) p = a[rng() % a.size()];
        wolke.push_back(p);
    }
    qtest::WriteFile(dir.File("wolke.xyz"), qtest::XyzText(wolke));
    qtest::WriteDbf(dir.File("leer.dbf"), {});
    AddEntry(kat, dir.File("a.xyz"), 1000, 1200, 1000, 1200);
    AddEntry(kat, dir.File("b.dbf"), 1200, 1400, 1000, 1200);
    AddEntry(kat, dir.File("fehlt.xyz"), 1300, 1400, 1300, 1400);
    AddEntry(kat, dir.File("c.dbf"), 1000, 1200, 1200, 1400);
    AddEntry(kat, dir.File("d.xyz"), 1200, 1400, 1200, 1400);
    AddEntry(kat, dir.File("leer.dbf"), 1000, 1100, 1000, 1100);
    AddEntry(kat, dir.File("wolke.xyz"), 1000, 1400, 1000, 1400);
    AddEntry(kat, dir.File("a.xyz"), 1150, 1250, 1150, 1250);  // the same file twice
    AddEntry(kat, dir.File("nie.xyz"), 9000, 9100, 9000, 9100);

    std::vector<std::pair<double, double>> punkte = {
        {1200, 1200}, {1000, 1000}, {1400, 1400}, {1202.5, 1197.5}, {1100, 1200}, {900, 900}, {1350, 1350}};
    for (int i = 0; i < 150; ++i)
        punkte.push_back({950 + (rng() % 50000) / 100.0, 950 + (rng() % 50000) / 100.0});
    for (double dd : {50.0, 7.0, 0.0, 600.0, -5.0, 0.001}) {
        TBatchAbfrage batch(kat, dd, 2.0);
        Vergleiche(kat, dd, 2.0, punkte, batch);
        EXPECT_LE(batch.GeleseneDateien(), 7);  // each path once, the far one never
        // x, y, z and the file position per point, half a byte for the grid of counts, next
        // to nothing per row (rows are a sixteenth of the capture range high: a tiny range
        // gives a row to nearly every point).
        EXPECT_GT(batch.GehaltenePunkte(), 4u * 1681u);
        if (dd >= 7) {
            EXPECT_LT(2 * batch.BelegteBytes(), 59 * batch.GehaltenePunkte());
        }
    }
    // With next to no memory, each tile a point does not need is let go of and read again
    // when a later point needs it; the answers stay the same and each file is named once.
    TBatchAbfrage knapp(kat, 50, 2.0);
    knapp.SetMemoryBound(1);
    Vergleiche(kat, 50, 2.0, punkte, knapp);
    EXPECT_GT(knapp.Lesungen(), knapp.GeleseneDateien() + 20);
    // Grouped, each point's files read for it alone still come back more than once.
    const int vorher = knapp.Lesungen();
    std::vector<TBatchPunkt> alle;
    for (auto [x, y] : punkte) alle.push_back({x, y});
    knapp.AnswerAll(alle, [](std::size_t, const THoehenAntwort&) {});
    EXPECT_GT(knapp.Lesungen() - vorher, knapp.GeleseneDateien());
    EXPECT_EQ(knapp.TakeMessages(), std::vector<std::string>{"Datei nicht gefunden: " + dir.File("fehlt.xyz")});
    // Read ahead: the files only the next points need are read during this call, not again.
    TBatchAbfrage vor(kat, 50, 2.0), frisch(kat, 50, 2.0);
    vor.AnswerAll({{1050, 1050}}, [](std::size_t, const THoehenAntwort&) {}, {}, {{1350, 1350}});
    EXPECT_EQ(vor.Lesungen(), 5);  // a, leer, wolke; then fehlt and d
    THoehenAntwort v, f;
    vor.Ask(1350, 1350, v);
    frisch.Ask(1350, 1350, f);
    EXPECT_EQ(vor.Lesungen(), 5);
    EXPECT_EQ(v.Anzahl, f.Anzahl);
    EXPECT_EQ(v.ShepardZ, f.ShepardZ);
    EXPECT_EQ(vor.TakeMessages(), frisch.TakeMessages());
    TBatchAbfrage batch(kat, 30, 3.5);
    Vergleiche(kat, 30, 3.5, punkte, batch);
    // The steepest exponent the options allow: still the same weights in both.
    TBatchAbfrage steil(kat, 30, 500);
    Vergleiche(kat, 30, 500, punkte, steil);
}

TEST(QueryBatch, EqualsSingleQueriesWhenTheStoreFills) {
    qtest::TempDir dir;
    std::mt19937 rng(5);
    // 0.5 m spacing: a 50 m capture range meets about 40000 points.
    auto dicht = qtest::Grid(0, 120, 0, 120, 0.5);
    std::shuffle(dicht.begin(), dicht.end(), rng);
    std::vector<P> erste(dicht.begin(), dicht.begin() + 9000);
    std::vector<P> rest(dicht.begin() + 6000, dicht.end());  // 3000 repeats of the first file
    qtest::WriteFile(dir.File("erste.xyz"), qtest::XyzText(erste));
    qtest::WriteDbf(dir.File("rest.dbf"), rest, 4);
    TDateien kat;
    AddEntry(kat, dir.File("erste.xyz"), 0, 120, 0, 120);
    AddEntry(kat, dir.File("rest.dbf"), 0, 120, 0, 120);
    std::vector<std::pair<double, double>> punkte = {{60, 60}, {0, 0}, {120, 60}, {60.25, 59.75}};
    for (int i = 0; i < 20; ++i) punkte.push_back({(rng() % 12000) / 100.0, (rng() % 12000) / 100.0});
    TBatchAbfrage batch(kat, 50, 2);
    Vergleiche(kat, 50, 2, punkte, batch);
    THoehenAntwort a;
    batch.Ask(60, 60, a);
    EXPECT_EQ(a.Anzahl, MaxPunkte);
    EXPECT_EQ(a.Dateien[0].Gefiltert + a.Dateien[1].Gefiltert, MaxPunkte);
}

TEST(QueryBatch, ReadErrorEndsOnlyTheQueriesThatMeetIt) {
    qtest::TempDir dir;
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText(qtest::Grid(0, 100, 0, 100, 5)));
    TDateien kat;
    AddEntry(kat, dir.File("a.xyz"), 0, 100, 0, 100);
    AddEntry(kat, "/proc/self/mem", 80, 100, 80, 100);
    // A table of two fields fails at its first record, wherever that record lies.
    const std::string zwei = dir.File("zwei.dbf");
    {
        std::vector<TDbfFieldDef> felder = XyzFieldDefs();
        felder.pop_back();
        TSichereDatei file(zwei);
        TDbfFile dbf;
        dbf.CreateTable(file, 4, felder);
        dbf.AppendRecord(500, 500, 0);
        dbf.AppendRecord(5, 5, 0);
        dbf.Close();
        file.Commit();
    }
    AddEntry(kat, zwei, 0, 10, 0, 10);
    TBatchAbfrage batch(kat, 10, 2);
    Vergleiche(kat, 10, 2, {{50, 50}, {95, 95}, {20, 20}, {5, 5}}, batch);
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = 5;
    p.Y = 5;
    p.Fangbreite = 10;
    EXPECT_THROW(q.Run(kat, p), EDbfError);
    EXPECT_EQ(q.Ergebnis().Dateien.back().Gelesen, 1);
    THoehenAntwort a;
    batch.Ask(95, 95, a);
    EXPECT_FALSE(a.Beendet);
    EXPECT_FALSE(a.Fehler.empty());
    EXPECT_EQ(a.Dateien.back().Fehler, a.Fehler);
}

TEST(QueryBatch, ReportsEachFileItCannotOpenOrReadOnce) {
    qtest::TempDir dir;
    qtest::WriteFile(dir.File("gut.xyz"), qtest::XyzText(qtest::Grid(0, 100, 0, 100, 5)));
    // A table whose header length is 0: the window stays silent, the batch must not.
    qtest::WriteFile(dir.File("null.dbf"), std::string("\x03\x7E\x01\x01\x01\0\0\0\0\0\x2B\0", 12) +
                                               std::string(120, '\0'));
    TDateien kat;
    AddEntry(kat, dir.File("gut.xyz"), 0, 100, 0, 100);
    AddEntry(kat, dir.File("fehlt.xyz"), 0, 50, 0, 50);
    // A folder entry's tile that cannot be indexed, reported by the index.
    fs::create_directories(dir.File("ordner"));
    qtest::WriteFile(dir.File("ordner/null.dbf"), test::ReadAll(dir.File("null.dbf")));
    kat.Ordner.IndexOrdner = dir.File("index") + "/";
    AddEntry(kat, dir.File("ordner"), 0, 50, 0, 50);
    AddEntry(kat, "/proc/self/mem", 50, 100, 50, 100);  // opens, but reading fails with EIO
    AddEntry(kat, dir.File("null.dbf"), 90, 100, 0, 10);
    TBatchAbfrage batch(kat, 5, 2);
    THoehenAntwort a;
    batch.Ask(20, 20, a);
    EXPECT_TRUE(a.Beendet);  // missing files do not end a query
    EXPECT_EQ(a.ShepardN, 9);
    const std::string kaputt = dir.File("ordner/null.dbf");
    EXPECT_EQ(batch.TakeMessages(),
              (std::vector<std::string>{"Kachel nicht lesbar: " + kaputt + " (Ung\xC3\xBCltige dBase-Tabelle (Kopf- oder Satzl\xC3\xA4nge 0): " + kaputt + ")",
                                        "Datei nicht gefunden: " + dir.File("fehlt.xyz")}));
    batch.Ask(25, 25, a);
    EXPECT_TRUE(batch.TakeMessages().empty());  // once per file
    batch.Ask(80, 80, a);
    EXPECT_FALSE(a.Beendet);
    EXPECT_EQ(a.Fehler, "E/A-Fehler 5: /proc/self/mem");
    EXPECT_EQ(batch.TakeMessages(), std::vector<std::string>{a.Fehler});
    batch.Ask(95, 5, a);
    EXPECT_FALSE(a.Beendet);
    EXPECT_EQ(a.Fehler, "Ung\xC3\xBCltige dBase-Tabelle (Kopf- oder Satzl\xC3\xA4nge 0): " + dir.File("null.dbf"));
    EXPECT_EQ(batch.TakeMessages(), std::vector<std::string>{a.Fehler});
}

TEST(QueryBatch, ManyEntriesSelectAsTheQueryWalksThem) {
    // Enough entries for the grid of buckets, of every kind of box: small tiles, a few far
    // wider ones, one around the whole plane, one the wrong way round, one with a NaN side.
    qtest::TempDir dir;
    std::mt19937 rng(26);
    TDateien kat;
    for (int i = 0; i < 120; ++i) {
        const double x0 = (rng() % 900), y0 = (rng() % 900);
        const double s = i % 17 == 0 ? 400 : 20 + rng() % 60;
        auto pts = qtest::Grid(x0, x0 + s, y0, y0 + s, i % 17 == 0 ? 20 : 5);
        for (P& p : pts) p.z += (rng() % 100) / 10.0;
        const std::string f = dir.File("k" + std::to_string(i) + ".xyz");
        qtest::WriteFile(f, qtest::XyzText(pts));
        AddEntry(kat, f, x0, x0 + s, y0, y0 + s);
    }
    const std::string a = dir.File("k0.xyz"), b = dir.File("k1.xyz");
    AddEntry(kat, a);
    AddEntry(kat, b, 600, 300, 0, 1000);
    AddEntry(kat, a, 0, std::nan(""), 500, 520);
    std::vector<std::pair<double, double>> punkte = {{0, 0}, {1000, 1000}, {450, 510}, {-100, 5000}, {310, 500}};
    for (int i = 0; i < 120; ++i) punkte.push_back({(rng() % 100000) / 100.0, (rng() % 100000) / 100.0});
    for (double d : {25.0, 0.0, -30.0, 300.0}) {
        SCOPED_TRACE(testing::Message() << "capture range " << d);
        TBatchAbfrage batch(kat, d, 2.0);
        Vergleiche(kat, d, 2.0, punkte, batch);
    }
}

namespace {

// A folder entry's tiles listed one by one at its place, with the extents its index holds.
TDateien Ausgeschrieben(const TDateien& kat, int eintrag) {
    TDateien aus;
    aus.Ordner = kat.Ordner;
    for (int i = 1; i <= kat.Eintraege(); ++i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        if (i != eintrag) {
            AddEntry(aus, kat.Datei[ix], kat.Xmin[ix], kat.Xmax[ix], kat.Ymin[ix], kat.Ymax[ix]);
            continue;
        }
        TOrdnerIndex index(kat.Datei[ix], kat.Ordner);
        index.Update();
        for (const TOrdnerKachel& k : index.All())
            if (k.Quelle != TAusdehnungsQuelle::Leer && k.Quelle != TAusdehnungsQuelle::Fehler)
                AddEntry(aus, k.Pfad, k.Xmin, k.Xmax, k.Ymin, k.Ymax);
    }
    return aus;
}

// The same answers but for the entry numbers of the rows.
void VergleicheOhneEintrag(const std::vector<TBatchPunkt>& punkte, TBatchAbfrage& a, TBatchAbfrage& b) {
    std::vector<THoehenAntwort> x(punkte.size()), y(punkte.size());
    a.AnswerAll(punkte, [&](std::size_t k, const THoehenAntwort& r) { x[k] = r; });
    b.AnswerAll(punkte, [&](std::size_t k, const THoehenAntwort& r) { y[k] = r; });
    for (std::size_t k = 0; k < punkte.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "at " << punkte[k].X << " " << punkte[k].Y);
        ASSERT_EQ(x[k].Dateien.size(), y[k].Dateien.size());
        for (std::size_t j = 0; j < x[k].Dateien.size(); ++j) {
            EXPECT_EQ(x[k].Dateien[j].Datei, y[k].Dateien[j].Datei);
            EXPECT_EQ(x[k].Dateien[j].Gefiltert, y[k].Dateien[j].Gefiltert);
        }
        EXPECT_EQ(x[k].Anzahl, y[k].Anzahl);
        EXPECT_EQ(x[k].Naechster.Z, y[k].Naechster.Z);
        EXPECT_EQ(std::memcmp(&x[k].ShepardZ, &y[k].ShepardZ, sizeof(double)), 0);
    }
}

}  // namespace

TEST(QueryBatch, FolderEntryAnswersAsItsTilesListedInPlace) {
    qtest::TempDir dir;
    std::mt19937 rng(27);
    const std::string ordner = dir.File("dgm");
    fs::create_directories(ordner + "/unter");
    auto kachel = [&](double x0, double y0, double s) {
        auto pts = qtest::Grid(x0, x0 + s, y0, y0 + s, 5);
        for (P& p : pts) p.z += (rng() % 1000) / 100.0;
        return pts;
    };
    // Overlapping tiles of every kind, so repeats are kept by tile order; a raster among them;
    // files that are no tiles beside them.
    qtest::WriteFile(ordner + "/b.xyz", qtest::XyzText(kachel(0, 0, 200)));
    const std::string c = qtest::XyzText(kachel(150, 100, 200));
    qtest::WriteFile(dir.File("c.xyz"), c);
    test::RunOrThrow("gzip -c " + test::Quote(dir.File("c.xyz")) + " > " + test::Quote(ordner + "/c.xyz.gz"));
    qtest::WriteDbf(ordner + "/a.dbf", kachel(100, 100, 150), 4);
    qtest::WriteFile(ordner + "/unter/z.xyz", qtest::XyzText(kachel(0, 0, 400)));  // no tile: no subfolders
    test::TRasterArt r;
    r.Name = "ra", r.Spalten = 40, r.Zeilen = 30, r.X0 = 180, r.Y0 = 260, r.Dx = 5, r.Dy = -5;
    fs::create_directories(dir.File("raster"));
    test::MakeRaster(r, dir.File("raster"));
    fs::copy_file(dir.File("raster/ra.tif"), ordner + "/d.tif");
    qtest::WriteFile(ordner + "/README", "1 1 1\n");
    qtest::WriteFile(ordner + "/d.tif.aux.xml", "<x/>");
    qtest::WriteFile(dir.File("vor.xyz"), qtest::XyzText(kachel(50, 50, 100)));
    qtest::WriteFile(dir.File("nach.xyz"), qtest::XyzText(kachel(120, 120, 200)));

    TDateien kat;
    kat.Ordner.IndexOrdner = dir.File("index") + "/";
    AddEntry(kat, dir.File("vor.xyz"), 50, 150, 50, 150);
    AddEntry(kat, ordner, 0, 1, 0, 1);  // a stale box: the index decides
    AddEntry(kat, dir.File("nach.xyz"), 120, 320, 120, 320);
    const TDateien liste = Ausgeschrieben(kat, 2);
    ASSERT_EQ(liste.Eintraege(), 6);

    std::vector<std::pair<double, double>> punkte = {{0, 0}, {150, 100}, {200, 200}, {350, 300}, {180, 260},
                                                     {250, 111}, {100, 250}, {400, 400}, {-60, -60}};
    for (int i = 0; i < 120; ++i) punkte.push_back({-50 + (rng() % 45000) / 100.0, -50 + (rng() % 45000) / 100.0});
    std::vector<TBatchPunkt> alle;
    for (auto [x, y] : punkte) alle.push_back({x, y});
    for (double d : {30.0, 5.0, 120.0}) {
        SCOPED_TRACE(testing::Message() << "capture range " << d);
        TBatchAbfrage batch(kat, d, 2.0);
        Vergleiche(kat, d, 2.0, punkte, batch);
        TBatchAbfrage ordnerweise(kat, d, 2.0), einzeln(liste, d, 2.0);
        VergleicheOhneEintrag(alle, ordnerweise, einzeln);
        EXPECT_TRUE(batch.TakeMessages().empty());
    }
    // Tiles let go of and read again answer the same (a small range: a point needing every
    // tile would keep them all).
    TBatchAbfrage knapp(kat, 5, 2.0);
    knapp.SetMemoryBound(1);
    Vergleiche(kat, 5, 2.0, punkte, knapp);
    EXPECT_GT(knapp.Lesungen(), knapp.GeleseneDateien());
}

TEST(QueryBatch, FolderOfManyTinyTilesOverlappingOneSquare) {
    // 600 tiles in one square: a point selects hundreds of them, in tile order.
    qtest::TempDir dir;
    const std::string ordner = dir.File("klein");
    fs::create_directories(ordner);
    for (int i = 0; i < 600; ++i) {
        const double x0 = (i % 30) * 10, y0 = (i / 30) * 10;
        std::vector<P> pts;
        for (int k = 0; k < 4; ++k) pts.push_back({x0 + k * 4, y0 + (k % 2) * 4 + i % 3, 10.0 + i + k / 4.0});
        char name[32];
        std::snprintf(name, sizeof name, "/t%03d.xyz", 599 - i);  // tile order is not position order
        qtest::WriteFile(ordner + name, qtest::XyzText(pts));
    }
    TDateien kat;
    kat.Ordner.IndexOrdner = dir.File("index") + "/";
    AddEntry(kat, ordner);
    for (double d : {400.0, 15.0}) {
        TBatchAbfrage batch(kat, d, 2.0);
        Vergleiche(kat, d, 2.0, {{150, 100}, {0, 0}, {295, 195}, {40, 44}, {41, 43}}, batch);
        THoehenAntwort a;
        batch.Ask(150, 100, a);
        if (d == 400) {
            EXPECT_EQ(a.Dateien.size(), 600u);
        }
    }
}

TEST(QueryBatch, TileWhoseNameLiesIsMetWhereItsPointsLie) {
    qtest::TempDir dir;
    const std::string ordner = dir.File("nw");
    fs::create_directories(ordner);
    // The name says 350..351 km east; all points but the first lie 10 km further.
    std::vector<P> pts = {{350500, 5600500, 1}};
    for (const P& p : qtest::Grid(360000, 360100, 5600000, 5600100, 10)) pts.push_back(p);
    const std::string luege = ordner + "/dgm1_32_350_5600_1_nw.xyz";
    qtest::WriteFile(luege, qtest::XyzText(pts));
    qtest::WriteFile(ordner + "/dgm1_32_360_5600_1_nw.xyz",
                     qtest::XyzText(qtest::Grid(360000, 361000, 5600000, 5601000, 100)));
    TDateien kat;
    kat.Ordner.IndexOrdner = dir.File("index") + "/";
    AddEntry(kat, ordner);
    TBatchAbfrage batch(kat, 50, 2.0);
    std::vector<THoehenAntwort> a(2);
    // One call meets it at its name's square and finds it at its real place at once.
    batch.AnswerAll({{350500, 5600500}, {360050, 5600050}}, [&](std::size_t k, const THoehenAntwort& r) { a[k] = r; });
    EXPECT_EQ(batch.TakeMessages(), std::vector<std::string>{NamensLuegeMeldung(luege)});
    ASSERT_EQ(a[1].Dateien.size(), 2u);
    EXPECT_EQ(a[1].Dateien[0].Datei, luege);
    EXPECT_EQ(a[1].Dateien[0].Gefiltert, 121);
    Vergleiche(kat, 50, 2.0, {{350500, 5600500}, {360050, 5600050}, {360100, 5600100}}, batch);
    EXPECT_TRUE(batch.TakeMessages().empty());  // once
}

// The grid of counts never counts fewer points than a box holds, whatever the box and the
// spread of the points, and on a 1 m grid it shows a 50 m capture square far from the store's
// capacity.
TEST(QueryBatch, CountBoundNeverBelowTheCount) {
    std::mt19937 rng(3);
    auto kachel = [](const std::vector<P>& pts, double zelle) {
        TGrossVektor<TRohPunkt> roh;
        for (std::size_t i = 0; i < pts.size(); ++i)
            roh.push_back({pts[i].x, pts[i].y, pts[i].z, static_cast<uint32_t>(i), IndexRow(pts[i].y, zelle)});
        return TPunktKachel(roh, zelle);
    };
    std::vector<std::vector<P>> wolken;
    wolken.push_back(qtest::Grid(-20, 20, -20, 20, 0.5));  // points on the cells' edges
    std::vector<P> zufall, linie, duenn;
    for (int i = 0; i < 5000; ++i) zufall.push_back({(rng() % 100000) / 100.0 - 300, (rng() % 30000) / 100.0, 1});
    for (int i = 0; i < 3000; ++i) linie.push_back({i * 0.25, 7.0, 1});
    for (int i = 0; i < 40; ++i) duenn.push_back({(rng() % 1000) * 1000.0, (rng() % 1000) * 1000.0, 1});
    wolken.push_back(zufall);
    wolken.push_back(linie);
    wolken.push_back(duenn);
    for (const auto& pts : wolken)
        for (double zelle : {0.0625, 3.125, 40.0}) {
            const TPunktKachel k = kachel(pts, zelle);
            const TBox r = k.Bounds();
            std::uniform_real_distribution<double> gx(r.xmin - 5, r.xmax + 5), gy(r.ymin - 5, r.ymax + 5);
            for (int i = 0; i < 400; ++i) {
                double x0 = gx(rng), x1 = gx(rng), y0 = gy(rng), y1 = gy(rng);
                if (i % 4 == 0) x0 = std::round(x0), x1 = x0 + 2, y0 = std::round(y0), y1 = y0 + 2;
                const TBox q{std::min(x0, x1), std::max(x0, x1), std::min(y0, y1), std::max(y0, y1)};
                EXPECT_GE(k.CountBound(q), k.Count(q)) << q.xmin << " " << q.xmax << " " << q.ymin << " " << q.ymax;
            }
            EXPECT_EQ(k.CountBound({r.xmax + 1, r.xmax + 2, r.ymin, r.ymax}), 0);
        }
    const TPunktKachel gitter = kachel(qtest::Grid(0, 400, 0, 400, 1), 50.0 / 16);
    EXPECT_LE(gitter.CountBound({150.3, 250.3, 149.6, 249.6}), MaxPunkte);
}
