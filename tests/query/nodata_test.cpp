// Points at the catalogue's NoData height are read but are no points: the query, the batch and
// the extent scan over a tile with holes, as text, packed text and dBase.
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

// A 3 x 3 grid around (1000, 1000) with a hole at its centre and one at its far corner; a
// second tile holds a real height at the centre.
const std::vector<P> kMitLoch = {{999, 999, 10},  {1000, 999, 11},     {1001, 999, 12},  {999, 1000, 13},
                                 {1000, 1000, -9999}, {1001, 1000, 15}, {999, 1001, 16}, {1000, 1001, 17},
                                 {1001, 1001, 18}, {1003, 1003, -9999}};

THoehenAntwort Frage(const TDateien& kat, double x, double y) {
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = x;
    p.Y = y;
    p.Fangbreite = 5;
    return q.Run(kat, p);
}

class NoDataQuery : public ::testing::TestWithParam<const char*> {};

// The hole is a line read but no point: the nearest point there is the later tile's real one;
// the batch answers alike; off, the hole's height answers as before. The extent counts holes.
TEST_P(NoDataQuery, HoleIsReadButGivesNoPoint) {
    qtest::TempDir dir;
    const std::string art = GetParam();
    const std::string xyz = dir.File("loch.xyz");
    std::string loch = xyz;
    qtest::WriteFile(xyz, qtest::XyzText(kMitLoch));
    if (art == "dbf") qtest::WriteDbf(loch = dir.File("loch.dbf"), kMitLoch);
    if (art == "gz") {
        EXPECT_EQ(tervalo::test::Shell("gzip -k '" + xyz + "'").code, 0);
        loch += ".gz";
    }
    qtest::WriteFile(dir.File("spaeter.xyz"), qtest::XyzText({{1000, 1000, 14.5}}));
    TDateien kat;
    AddEntry(kat, loch);
    AddEntry(kat, dir.File("spaeter.xyz"));
    ASSERT_EQ(kat.NoData, -9999.0);  // a catalogue built in code has the default

    for (const bool an : {true, false}) {
        SCOPED_TRACE(an ? "on" : "off");
        if (!an) kat.NoData.reset();
        const THoehenAntwort a = Frage(kat, 1000, 1000);
        ASSERT_EQ(a.Dateien.size(), 2u);
        EXPECT_EQ(a.Dateien[0].Gelesen, 10);
        EXPECT_EQ(a.Dateien[0].Gefiltert, an ? 8 : 10);
        EXPECT_EQ(a.Dateien[1].Gefiltert, an ? 1 : 0);  // off, a repeat of the hole
        EXPECT_EQ(a.Naechster.Z, an ? 14.5 : -9999.0);
        TBatchAbfrage batch(kat, 5, 2);
        for (const auto& [x, y] : std::vector<std::pair<double, double>>{{1000, 1000}, {999.5, 1000.2}, {1003, 1003}}) {
            const THoehenAntwort e = Frage(kat, x, y);
            THoehenAntwort b;
            batch.Ask(x, y, b);
            for (std::size_t i = 0; i < e.Dateien.size(); ++i) EXPECT_EQ(b.Dateien[i].Gefiltert, e.Dateien[i].Gefiltert);
            EXPECT_EQ(b.HatNaechster, e.HatNaechster);
            EXPECT_EQ(b.Naechster.Z, e.Naechster.Z);
            EXPECT_EQ(b.ShepardZ, e.ShepardZ);
        }
    }
    EXPECT_EQ(ReadExtremwerte(loch).Xmax, 1003.0);
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
    const B erste{TBefund::KeinWert, TBefund::Punkt}, keine{TBefund::Punkt, TBefund::Punkt};
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, -9999.0), erste);
    EXPECT_EQ(befunde(TPunktZeilenRegel{}, -9999.0), erste);
    EXPECT_EQ(befunde(TAusdehnungsZeilenRegel{}, 0.0), keine);  // its z is always 0
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, std::nan("")), keine);
    EXPECT_EQ(befunde(TAbfrageZeilenRegel{}, 5.0), (B{TBefund::Punkt, TBefund::KeinWert}));
}

}  // namespace
