// Points at the catalogue's NoData height are read but are no points: the query, the batch and
// the extent scan over a tile with a hole, as text, packed text and dBase.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "query_test_util.h"
#include "filemanager/Extent.h"
#include "formats/PunktQuelle.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "support/shell.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;

namespace {

// A 3 x 3 grid around (1000, 1000) whose centre is a hole; a second tile holds a real height
// at the hole's position.
const std::vector<P> kMitLoch = {{999, 999, 10},  {1000, 999, 11},    {1001, 999, 12},
                                 {999, 1000, 13}, {1000, 1000, -9999}, {1001, 1000, 15},
                                 {999, 1001, 16}, {1000, 1001, 17},    {1001, 1001, 18}};

struct Katalog {
    qtest::TempDir dir;
    TDateien kat;
    std::string loch, spaeter;

    // art: "xyz", "gz" or "dbf" for the tile with the hole.
    explicit Katalog(const std::string& art) {
        const std::string xyz = dir.File("loch.xyz");
        qtest::WriteFile(xyz, qtest::XyzText(kMitLoch));
        if (art == "dbf") {
            loch = dir.File("loch.dbf");
            qtest::WriteDbf(loch, kMitLoch);
        } else if (art == "gz") {
            loch = xyz + ".gz";
            const auto r = tervalo::test::Shell("gzip -c '" + xyz + "' > '" + loch + "'");
            EXPECT_EQ(r.code, 0) << r.out;
        } else {
            loch = xyz;
        }
        spaeter = dir.File("spaeter.xyz");
        qtest::WriteFile(spaeter, qtest::XyzText({{1000, 1000, 14.5}}));
        AddEntry(kat, loch);
        AddEntry(kat, spaeter);
    }
};

THoehenAntwort Frage(const TDateien& kat, double x, double y) {
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = x;
    p.Y = y;
    p.Fangbreite = 5;
    return q.Run(kat, p);
}

class NoDataQuery : public ::testing::TestWithParam<const char*> {};

// The hole is a line read but no value: the nearest point at the hole is the later tile's real
// one, and the hole's -9999 takes no part in the Shepard height.
TEST_P(NoDataQuery, HoleIsReadButGivesNoPoint) {
    Katalog k(GetParam());
    ASSERT_EQ(k.kat.NoData, -9999.0);  // a catalogue built in code has the default
    const THoehenAntwort a = Frage(k.kat, 1000, 1000);
    ASSERT_EQ(a.Dateien.size(), 2u);
    EXPECT_EQ(a.Dateien[0].Gelesen, 9);
    EXPECT_EQ(a.Dateien[0].Gefiltert, 8);
    EXPECT_EQ(a.Dateien[1].Gefiltert, 1);  // not taken for a repeat of the hole
    ASSERT_TRUE(a.HatNaechster);
    EXPECT_EQ(a.Naechster.Z, 14.5);
    EXPECT_EQ(a.Naechster.R, 0.0);
    for (const TAntwortPunkt& r : a.Rangliste) EXPECT_NE(r.Z, -9999.0);
    EXPECT_GT(a.ShepardZ, 10.0);
}

// With NoData off every height counts again, as before: the hole is the first tile's point at
// that place and the later one is a repeat.
TEST_P(NoDataQuery, OffBringsTheHeightBack) {
    Katalog k(GetParam());
    k.kat.NoData.reset();
    const THoehenAntwort a = Frage(k.kat, 1000, 1000);
    EXPECT_EQ(a.Dateien[0].Gefiltert, 9);
    EXPECT_EQ(a.Dateien[1].Gefiltert, 0);
    EXPECT_EQ(a.Naechster.Z, -9999.0);
}

// Another value is exact: 13 is a hole, 13.000001 and -9999 are heights.
TEST_P(NoDataQuery, OtherValueComparedExactly) {
    Katalog k(GetParam());
    k.kat.NoData = 13.0;
    const THoehenAntwort a = Frage(k.kat, 999, 1000);
    EXPECT_EQ(a.Dateien[0].Gelesen, 9);
    EXPECT_EQ(a.Dateien[0].Gefiltert, 8);
    EXPECT_EQ(a.Naechster.R, 1.0);
    EXPECT_NE(a.Naechster.Z, 13.0);
    bool loch = false;
    for (const TAntwortPunkt& r : a.Rangliste) {
        EXPECT_NE(r.Z, 13.0);
        loch = loch || r.Z == -9999.0;
    }
    EXPECT_TRUE(loch);
}

// The batch gives the query's answers, hole or not.
TEST_P(NoDataQuery, BatchAnswersAsTheQuery) {
    Katalog k(GetParam());
    for (const std::optional<double> nd : {std::optional<double>(-9999.0), std::optional<double>()}) {
        k.kat.NoData = nd;
        TBatchAbfrage batch(k.kat, 5, 2);
        for (const auto& [x, y] : std::vector<std::pair<double, double>>{{1000, 1000}, {999.5, 1000.2}, {1003, 1003}}) {
            SCOPED_TRACE(testing::Message() << x << " " << y << (nd ? " on" : " off"));
            const THoehenAntwort e = Frage(k.kat, x, y);
            THoehenAntwort a;
            batch.Ask(x, y, a);
            ASSERT_EQ(a.Dateien.size(), e.Dateien.size());
            for (std::size_t i = 0; i < e.Dateien.size(); ++i) {
                EXPECT_EQ(a.Dateien[i].Gelesen, e.Dateien[i].Gelesen);
                EXPECT_EQ(a.Dateien[i].Gefiltert, e.Dateien[i].Gefiltert);
            }
            ASSERT_EQ(a.HatNaechster, e.HatNaechster);
            EXPECT_EQ(a.Naechster.Z, e.Naechster.Z);
            EXPECT_EQ(a.ShepardN, e.ShepardN);
            EXPECT_EQ(a.ShepardZ, e.ShepardZ);
        }
    }
}

// Heights play no part in the extent: the hole at a corner still widens it.
TEST_P(NoDataQuery, ExtentScanCountsTheHole) {
    Katalog k(GetParam());
    qtest::TempDir d;
    std::vector<P> pts = kMitLoch;
    pts.push_back({1005, 1007, -9999});
    const std::string f = d.File("ecke.xyz");
    qtest::WriteFile(f, qtest::XyzText(pts));
    const TExtremwerte e = ReadExtremwerte(f);
    EXPECT_EQ(e.Xmax, 1005.0);
    EXPECT_EQ(e.Ymax, 1007.0);
    const TExtremwerte l = ReadExtremwerte(k.loch);
    EXPECT_EQ(l.Xmin, 999.0);
    EXPECT_EQ(l.Ymax, 1001.0);
}

INSTANTIATE_TEST_SUITE_P(Arten, NoDataQuery, ::testing::Values("xyz", "gz", "dbf"));

// The source itself: KeinWert for the point rules only, never for the extent rule; a NaN
// value turns it off rather than matching nothing by accident.
TEST(NoDataQuelle, OnlyRulesWithHeightsGiveKeinWert) {
    qtest::TempDir d;
    const std::string f = d.File("t.xyz");
    qtest::WriteFile(f, "1 2 -9999\n3 4 5\n");
    auto befunde = [&](auto regel, std::optional<double> nd) {
        TPunktQuelle q(f);
        q.SetNoData(nd);
        EXPECT_EQ(q.Open(), 0);
        std::vector<TBefund> out;
        q.Read<decltype(regel)>([&](const auto& z) {
            double x, y, h;
            out.push_back(z.Punkt(x, y, h));
        });
        return out;
    };
    using B = std::vector<TBefund>;
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, -9999.0), (B{TBefund::KeinWert, TBefund::Punkt}));
    EXPECT_EQ(befunde(TPunktZeilenRegel{}, -9999.0), (B{TBefund::KeinWert, TBefund::Punkt}));
    EXPECT_EQ(befunde(TAusdehnungsZeilenRegel{}, -9999.0), (B{TBefund::Punkt, TBefund::Punkt}));
    EXPECT_EQ(befunde(TAusdehnungsZeilenRegel{}, 0.0), (B{TBefund::Punkt, TBefund::Punkt}));  // z is 0 there
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, std::nullopt), (B{TBefund::Punkt, TBefund::Punkt}));
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, std::nan("")), (B{TBefund::Punkt, TBefund::Punkt}));
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, 5.0), (B{TBefund::Punkt, TBefund::KeinWert}));
}

}  // namespace
