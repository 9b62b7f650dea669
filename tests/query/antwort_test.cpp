// The answer's window texts, its JSON for query and batch, and the shared opening rule.
#include <gtest/gtest.h>

#include <cerrno>
#include <nlohmann/json.hpp>

#include "formats/PunktQuelle.h"
#include "query/AntwortJson.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "query/query_test_util.h"

using namespace tervalo;

TEST(Antwort, WindowTextsFollowTheValues) {
    THoehenAntwort a;
    a.Anzahl = 3;
    a.HatNaechster = true;
    a.Naechster = {1003, 1000, 100, 3};
    a.ShepardN = 2;
    a.ShepardZ = 81.5;
    a.Rangliste = {{1003, 1000, 100, 3}, {996.5, 1000, -50, 3.5}};
    // Not computed (nothing found, or an error ended the run): the start texts, whatever is set.
    TFensterTexte t = BuildFensterTexte(a, ',');
    EXPECT_EQ(t.LB_nextPointR + "|" + t.LB_nextPointZ + "|" + t.LB_ExtrapolnPoints + "|" + t.LB_ExtrapolPointZ,
              "-----|-----|--|-----");
    EXPECT_EQ(t.Grid[0][0], "");

    a.Berechnet = true;
    t = BuildFensterTexte(a, '.');
    EXPECT_EQ(t.LB_nextPointR, "3.00");
    EXPECT_EQ(t.LB_nextPointZ, "100.00");
    EXPECT_EQ(t.LB_ExtrapolnPoints, "2");
    EXPECT_EQ(t.LB_ExtrapolPointZ, "81.50");
    EXPECT_EQ((std::array<std::string, 4>{"   1003.00", "   1000.00", " 100.00", "  3.00"}), t.Grid[0]);
    EXPECT_EQ((std::array<std::string, 4>{"    996,50", "   1000,00", " -50,00", "  3,50"}), BuildFensterTexte(a, ',').Grid[1]);
    EXPECT_EQ(t.Grid[2][0], "");

    // No nearest point: its labels keep the start text, the Shepard labels do not.
    a.HatNaechster = false;
    t = BuildFensterTexte(a, ',');
    EXPECT_EQ(t.LB_nextPointR, "-----");
    EXPECT_EQ(t.LB_nextPointZ, "-----");
    EXPECT_EQ(t.LB_ExtrapolPointZ, "81,50");
}

TEST(Antwort, QueryAndBatchJsonAgree) {
    qtest::TempDir dir;
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText(qtest::Grid(990, 1010, 990, 1010, 2)));
    TDateien kat;
    qtest::AddEntry(kat, dir.File("a.xyz"));
    qtest::AddEntry(kat, dir.File("fehlt.xyz"));
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = 1000.7;
    p.Y = 1001.2;
    p.Fangbreite = 6;
    p.Potenz = 3;
    TBatchAbfrage batch(kat, p.Fangbreite, p.Potenz);
    THoehenAntwort b;
    batch.Ask(p.X, p.Y, b);

    TJson jq = AntwortToJson(q.Run(kat, p), true);
    const TJson jb = AntwortToJson(b, false);
    ASSERT_TRUE(jq.contains("rangliste"));
    EXPECT_EQ(jq["rangliste"].size(), 20u);
    EXPECT_EQ(jq["rangliste"][0], jq["naechster"]);
    EXPECT_FALSE(jb.contains("rangliste"));
    EXPECT_EQ(jb["dateien"][1]["fehler"], "I/O-Fehler: " + dir.File("fehlt.xyz"));
    jq.erase("rangliste");
    EXPECT_EQ(FormatJson(jq), FormatJson(jb));

    // The passed-through column comes first.
    const std::string id = "P7";
    const TJson ji = AntwortToJson(b, false, &id);
    EXPECT_EQ(ji.begin().key(), "id");
    EXPECT_EQ(FormatJson(ji), "{\"id\":\"P7\"," + FormatJson(jb).substr(1));
}

TEST(Antwort, OpeningRuleNamesRowAndLabel) {
    qtest::TempDir dir;
    const std::string fehlt = dir.File("ein/langer/ordner/fehlt.xyz");
    TPunktQuelle q1(fehlt);
    const TOeffnung o = OpenDatei(q1, fehlt);
    EXPECT_FALSE(o.Offen);
    EXPECT_EQ(o.Errno, ENOENT);
    EXPECT_EQ(o.Name, "---");
    EXPECT_EQ(o.Fehler, "I/O-Fehler: " + fehlt);
    EXPECT_EQ(o.LabelVoll, o.Fehler);
    struct Feste : TTextMass {
        int TextWidth(std::string_view t) const override { return 7 * static_cast<int>(t.size()); }
    } font;
    // The prefix stays whole, the path gets the rest of the width.
    EXPECT_EQ(FormatOeffnungLabel(o, fehlt, &font, 140), "I/O-Fehler: " + ShortenPath(fehlt, font, 140 - 7 * 12));
    EXPECT_EQ(FormatOeffnungLabel(o, fehlt, nullptr, 0), o.Fehler);

    const std::string leer = dir.File("leer.dbf");
    qtest::WriteDbf(leer, {});
    TPunktQuelle q2(leer);
    const TOeffnung l = OpenDatei(q2, leer);
    EXPECT_TRUE(l.Offen);
    EXPECT_TRUE(l.KeineDatensaetze);
    EXPECT_EQ(l.Name, "leer.dbf");
    EXPECT_EQ(l.Fehler, "Fehler: Keine Datens\xC3\xA4tze!");
    EXPECT_EQ(FormatOeffnungLabel(l, leer, &font, 20), l.Fehler);
}
