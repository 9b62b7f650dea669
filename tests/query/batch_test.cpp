// The batch answers every point exactly as a single query there would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "query_test_util.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "tools/Errors.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;

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
        ASSERT_EQ(a.HatNaechster, b.HatNaechster);
        if (a.HatNaechster) {
            EXPECT_EQ(a.Naechster.X, b.Naechster.X);
            EXPECT_EQ(a.Naechster.Y, b.Naechster.Y);
            EXPECT_EQ(a.Naechster.Z, b.Naechster.Z);
            EXPECT_EQ(a.Naechster.R, b.Naechster.R);
        }
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
        // x, y, z and the file position per point, next to nothing per row (rows are a
        // sixteenth of the capture range high: a tiny range gives a row to nearly every point).
        EXPECT_GT(batch.GehaltenePunkte(), 4u * 1681u);
        if (dd >= 7) {
            EXPECT_LT(batch.BelegteBytes(), 29 * batch.GehaltenePunkte());
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
    AddEntry(kat, dir.Path().string(), 0, 50, 0, 50);  // a folder is no point file
    AddEntry(kat, "/proc/self/mem", 50, 100, 50, 100);  // opens, but reading fails with EIO
    AddEntry(kat, dir.File("null.dbf"), 90, 100, 0, 10);
    TBatchAbfrage batch(kat, 5, 2);
    THoehenAntwort a;
    batch.Ask(20, 20, a);
    EXPECT_TRUE(a.Beendet);  // missing files do not end a query
    EXPECT_EQ(a.ShepardN, 9);
    EXPECT_EQ(batch.TakeMessages(), (std::vector<std::string>{"Datei nicht gefunden: " + dir.File("fehlt.xyz"),
                                                               "Dateizugriff verweigert: " + dir.Path().string()}));
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
