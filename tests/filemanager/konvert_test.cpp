// The conversion between text files and dBase tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "formats/PunktQuelle.h"
#include "tests/export/run_fixture.h"
#include "tools/Errors.h"

namespace tervalo::test {
namespace {

class KonvertTest : public ::testing::Test {
protected:
    TempDir dir;
    ScriptedKonvertObserver obs;

    TKonvertErgebnis Run(const std::string& src, const std::string& dst, const TAusgabe& f,
                       const TLaufOptionen& o = EveryLine()) {
        return Konvertieren(src, dst, f, o, TSchutz{}, obs);
    }
};

const TAusgabe kXyz{TAusgabeFormat::Xyz, 3};
const TAusgabe kCsv{TAusgabeFormat::Csv, 3};

TEST_F(KonvertTest, DbaseToTextLeavesOutRepeatedPositions) {
    std::string src = dir / "t.dbf";
    WriteDbfTable(src, {{1, 2, 3}, {1, 2, 4}, {5.5, 6.25, -7}});
    std::string before = ReadAll(src);
    TKonvertErgebnis r = Run(src, dir / "t.xyz", kXyz);
    EXPECT_TRUE(r.SourceIsDbase);
    EXPECT_FALSE(r.Cancelled);
    EXPECT_EQ(r.Counts.Taken, 2);
    EXPECT_EQ(r.Counts.NotTaken, 1);
    EXPECT_EQ(obs.target, "t.xyz");
    EXPECT_EQ(obs.progress.back().Taken, 2);
    EXPECT_EQ(ReadAll(dir / "t.xyz"), XyzLine(1, 2, 3) + "\r\n" + XyzLine(5.5, 6.25, -7) + "\r\n");
    EXPECT_EQ(ReadAll(src), before);  // the source is only read

    Run(src, dir / "t.csv", kCsv, EveryLine(','));
    EXPECT_EQ(ReadAll(dir / "t.csv"), "X;Y;Z\r\n1,000;2,000;3,000\r\n5,500;6,250;-7,000\r\n");
}

TEST_F(KonvertTest, TextToDbaseSkipsHeadingAndEmptyLines) {
    std::string src = dir / "t.xyz";
    WriteAll(src, "X Y Z\r\n\r\n 1.0 2.0 3.0\r\n4.0 5.0 6.0\r\n7.0 8.0 9.0\r\nkaputt\r\n");
    for (int level : {3, 4, 7}) {
        std::string dst = dir / ("t" + std::to_string(level) + ".dbf");
        TKonvertErgebnis r = Run(src, dst, {TAusgabeFormat::DBase, level});
        EXPECT_FALSE(r.SourceIsDbase);
        EXPECT_EQ(r.Counts.Taken, 3);
        EXPECT_EQ(r.Counts.NotTaken, 0);
        std::vector<Pt> back = ReadDbf(dst);
        ASSERT_EQ(back.size(), 3u);
        EXPECT_EQ(back[2].z, 9.0);
        std::string o = ReadAll(dst);
        EXPECT_EQ(o[0], level == 7 ? 0x04 : 0x03);
        EXPECT_EQ(o.size(), (level == 7 ? 214u : 130u) + 3 * 43);
        EXPECT_EQ(o.back(), 0x1A);
    }
}

TEST_F(KonvertTest, DbaseFieldsAreTakenByPosition) {
    std::vector<TDbfFieldDef> f = XyzFieldDefs();
    f[0].FieldName = "Y";
    f[1].FieldName = "X";
    std::string src = dir / "yx.dbf";
    WriteDbfTable(src, {{10, 20, 30}}, 3, f);
    Run(src, dir / "o.xyz", kXyz);
    EXPECT_EQ(ReadAll(dir / "o.xyz"), XyzLine(10, 20, 30) + "\r\n");
}

TEST_F(KonvertTest, BlankDbaseRecordsArePassedOver) {
    std::string src = dir / "t.dbf";
    WriteDbfTable(src, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
    std::string s = ReadAll(src);
    s.replace(129 + 43 + 1, 14, std::string(14, ' '));  // X of record 2
    WriteAll(src, s);
    TKonvertErgebnis r = Run(src, dir / "o.xyz", kXyz);
    EXPECT_EQ(r.Counts.Taken, 2);
    EXPECT_EQ(r.Counts.NotTaken, 0);
    EXPECT_EQ(ReadXyz(dir / "o.xyz").back().x, 3);
}

TEST_F(KonvertTest, WrongDirectionIsRefused) {
    std::string txt = dir / "t.xyz";
    WriteAll(txt, "1 2 3\r\n");
    EXPECT_THROW(Run(txt, dir / "o.csv", kCsv), std::invalid_argument);  // text to XYZ is allowed
    std::string tab = dir / "t.dbf";
    WriteDbfTable(tab, {{1, 2, 3}});
    EXPECT_THROW(Run(tab, dir / "o.dbf", {TAusgabeFormat::DBase, 3}), std::invalid_argument);
    EXPECT_FALSE(fs::exists(dir / "o.csv"));
    EXPECT_FALSE(fs::exists(dir / "o.dbf"));
}

TEST_F(KonvertTest, TargetThatIsTheSourceIsRefused) {
    std::string tab = dir / "t.dbf";
    WriteDbfTable(tab, {{1, 2, 3}});
    std::string before = ReadAll(tab);
    EXPECT_THROW(Run(tab, dir.Path().string() + "//t.dbf", kXyz), std::runtime_error);
    EXPECT_EQ(ReadAll(tab), before);
}

// Whatever ends a conversion early leaves an existing target byte for byte and no
// temporary file beside it.
TEST_F(KonvertTest, RefusalsAndFailuresLeaveTheTargetAsItWas) {
    std::string tab = dir / "t.dbf";
    WriteDbfTable(tab, {{1, 2, 3}});
    const std::string keep = dir / "keep.dbf";
    WriteAll(keep, "nicht anfassen");
    auto expectUntouched = [&] {
        EXPECT_EQ(ReadAll(keep), "nicht anfassen");
        for (const auto& e : fs::directory_iterator(dir.Path()))
            EXPECT_EQ(e.path().filename().string().find(".tervalo-"), std::string::npos) << e.path();
    };
    // The source is looked at before the target: a missing one is no empty table.
    try {
        Run(dir / "fehlt.xyz", keep, {TAusgabeFormat::DBase, 4});
        ADD_FAILURE() << "missing source converted";
    } catch (const EKonvertQuelle& e) {
        EXPECT_EQ(std::string(e.what()), "Datei nicht gefunden: " + dir / "fehlt.xyz");
        EXPECT_EQ(e.Code(), 2);
    }
    EXPECT_THROW(Run(dir.Path(), keep, {TAusgabeFormat::DBase, 3}), EKonvertQuelle);
    expectUntouched();

    EXPECT_THROW(Run(tab, dir / "kein/o.xyz", kXyz), EZielAbgelehnt);
    EXPECT_FALSE(fs::exists(dir / "kein"));
    TSchutz schutz{{dir / "katalog.xyz"}, keep};
    try {
        Konvertieren(tab, keep, kXyz, EveryLine(), schutz, obs);
        ADD_FAILURE() << "configuration overwritten";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), TextZielIstKonfiguration + keep);
    }
    schutz = {{keep}, ""};
    EXPECT_THROW(Konvertieren(tab, keep, kXyz, EveryLine(), schutz, obs), EZielAbgelehnt);
    expectUntouched();

    // A read error in the middle (too few fields) discards what was written.
    std::vector<TDbfFieldDef> two = XyzFieldDefs();
    two.pop_back();
    std::string narrow = dir / "zwei.dbf";
    WriteDbfTable(narrow, {{1, 2, 0}, {3, 4, 0}}, 3, two);
    EXPECT_THROW(Run(narrow, keep, kXyz), EDbfError);
    expectUntouched();
    // ... and leaves no new file either.
    EXPECT_THROW(Run(narrow, dir / "neu.xyz", kXyz), EDbfError);
    EXPECT_FALSE(fs::exists(dir / "neu.xyz"));
    expectUntouched();

    // A table without records gives a CSV file with its heading only.
    std::string empty = dir / "leer.dbf";
    WriteDbfTable(empty, {});
    Run(empty, dir / "leer.csv", kCsv);
    EXPECT_EQ(ReadAll(dir / "leer.csv"), "X;Y;Z\r\n");
}

// A source opened by its caller is read from that opening: its name may be gone meanwhile.
TEST_F(KonvertTest, AnOpenedSourceIsConvertedFromItsOpening) {
    const std::string tab = dir / "t.dbf";
    WriteDbfTable(tab, {{1, 2, 3}, {4, 5, 6}});
    TPunktQuelle quelle(tab);
    ASSERT_TRUE(quelle.IsDbase());
    fs::remove(tab);
    TKonvertErgebnis r = Konvertieren(quelle, dir / "t.xyz", kXyz, EveryLine(), TSchutz{}, obs);
    EXPECT_TRUE(r.SourceIsDbase);
    EXPECT_EQ(r.Counts.Taken, 2);
    EXPECT_EQ(ReadAll(dir / "t.xyz"), XyzLine(1, 2, 3) + "\r\n" + XyzLine(4, 5, 6) + "\r\n");

    // One that could not be opened is refused as the path form refuses it.
    TPunktQuelle fehlt(dir / "fehlt.xyz");
    try {
        Konvertieren(fehlt, dir / "o.dbf", {TAusgabeFormat::DBase, 3}, EveryLine(), TSchutz{}, obs);
        ADD_FAILURE() << "missing source converted";
    } catch (const EKonvertQuelle& e) {
        EXPECT_EQ(std::string(e.what()), "Datei nicht gefunden: " + dir / "fehlt.xyz");
    }
    EXPECT_FALSE(fs::exists(dir / "o.dbf"));
}

TEST_F(KonvertTest, CancelYesLeavesAClosedTargetAndNoRunsToTheEnd) {
    std::string src = dir / "g.xyz";
    WriteXyzTile(src, Grid(0, 0, 20));
    obs.cancelAt = 50;
    TKonvertErgebnis r = Run(src, dir / "o.dbf", {TAusgabeFormat::DBase, 3});
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Counts.Taken, 50);
    std::string o = ReadAll(dir / "o.dbf");
    EXPECT_EQ(o.size(), 130u + 50 * 43);
    EXPECT_EQ(o.back(), 0x1A);
    EXPECT_EQ(ReadDbf(dir / "o.dbf").size(), 50u);

    obs = {};
    obs.cancelAt = 50;
    obs.answerYes = false;
    r = Run(src, dir / "o.dbf", {TAusgabeFormat::DBase, 3});
    EXPECT_FALSE(r.Cancelled);
    EXPECT_EQ(r.Counts.Taken, 400);
    EXPECT_EQ(ReadDbf(dir / "o.dbf").size(), 400u);
}

// Where a cancel throws the output away (a signal in the command line), an existing target
// stays and a new one is not made, also when the cancel comes after the last poll.
TEST_F(KonvertTest, ACancelThatDiscardsLeavesNoTrace) {
    std::string src = dir / "g.xyz";
    WriteXyzTile(src, Grid(0, 0, 20));
    TLaufOptionen o = EveryLine();
    o.CancelKeepsOutput = false;
    WriteAll(dir / "keep.dbf", "Daten des Benutzers");
    for (int at : {50, 401})
        for (const std::string& out : {dir / "keep.dbf", dir / "neu.dbf"}) {
            obs = {};
            obs.cancelAt = at;
            TKonvertErgebnis r = Run(src, out, {TAusgabeFormat::DBase, 3}, o);
            EXPECT_TRUE(r.Cancelled);
            EXPECT_FALSE(r.Kept);
        }
    EXPECT_EQ(ReadAll(dir / "keep.dbf"), "Daten des Benutzers");
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir.Path())) found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"g.xyz", "keep.dbf"}));
    // In the window a "Ja" replaces the target with the points so far.
    obs = {};
    obs.cancelAt = 50;
    TKonvertErgebnis r = Run(src, dir / "keep.dbf", {TAusgabeFormat::DBase, 3});
    EXPECT_TRUE(r.Kept);
    EXPECT_EQ(ReadDbf(dir / "keep.dbf").size(), 50u);
}

TEST_F(KonvertTest, PictureAdvancesPerThousandPointsFromText) {
    std::string src = dir / "g.xyz";
    WriteXyzTile(src, Grid(0, 0, 100));  // 10,000 points: ten steps, wrapping after 7
    TKonvertErgebnis r = Run(src, dir / "o.dbf", {TAusgabeFormat::DBase, 3});
    EXPECT_EQ(r.Counts.Taken, 10000);
    EXPECT_EQ(r.Counts.Picture, 10 % 8);
}

TEST_F(KonvertTest, PictureFollowsTheRecordPositionFromDbase) {
    std::string src = dir / "t.dbf";
    WriteDbfTable(src, Grid(0, 0, 5) /* 25 records */);
    Run(src, dir / "o.xyz", kXyz);
    // progress[0] is the start; progress[i] follows record i. The picture moves only
    // when the taken count is a multiple of 10.
    ASSERT_EQ(obs.progress.size(), 27u);
    EXPECT_EQ(obs.progress[9].Picture, 0);
    EXPECT_EQ(obs.progress[10].Picture, 3);   // 10 / 25 * 8 = 3.2
    EXPECT_EQ(obs.progress[19].Picture, 3);
    EXPECT_EQ(obs.progress[20].Picture, 6);   // 20 / 25 * 8 = 6.4
    EXPECT_EQ(obs.progress[26].Picture, 6);
}

TEST_F(KonvertTest, RepeatsAreLeftOutHoweverManyPointsCameBetween) {
    // 500,001 distinct points, then the first and the last again.
    std::string text;
    text.reserve(600001 * 24);
    char line[64];
    auto add = [&](int k) {
        std::snprintf(line, sizeof line, "%d %d 1.5\r\n", 3566000 + k % 1001, 5936000 + k / 1001);
        text += line;
    };
    for (int k = 0; k <= 500000; ++k) add(k);
    add(0);
    add(500000);
    const std::string src = dir / "t.xyz";
    WriteAll(src, text);
    TKonvertErgebnis r = Run(src, dir / "o.dbf", {TAusgabeFormat::DBase, 3}, TLaufOptionen{});
    EXPECT_EQ(r.Counts.Taken, 500001);
    EXPECT_EQ(r.Counts.NotTaken, 2);
}

// The conversion leaves NoData heights out in both directions; the value is the caller's.
TEST_F(KonvertTest, NoDataHeightsAreLeftOut) {
    const std::string src = dir / "t.xyz";
    WriteXyzTile(src, {{1, 2, 3}, {4, 5, -9999}, {6, 7, 0}});
    TKonvertErgebnis r = Run(src, dir / "t.dbf", {TAusgabeFormat::DBase, 3});
    EXPECT_EQ(r.Counts.Taken, 2);
    EXPECT_EQ(r.Counts.NotTaken, 0);
    std::vector<Pt> pts = ReadDbf(dir / "t.dbf");
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[1].z, 0);

    // A table's NoData record is left out too, and another value is taken exactly.
    WriteDbfTable(dir / "n.dbf", {{1, 2, 3}, {4, 5, -9999}, {6, 7, 0}});
    TPunktQuelle quelle(dir / "n.dbf");
    quelle.SetNoData(0.0);
    r = Konvertieren(quelle, dir / "n.xyz", kXyz, EveryLine(), TSchutz{}, obs);
    EXPECT_EQ(r.Counts.Taken, 2);
    pts = ReadXyz(dir / "n.xyz");
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[1].z, -9999);

    // Off, every height is a point, as before.
    r = Konvertieren(src, dir / "alle.xyz", kXyz, EveryLine(), TSchutz{}, obs, std::nullopt);
    EXPECT_EQ(r.Counts.Taken, 3);
    EXPECT_EQ(ReadXyz(dir / "alle.xyz").size(), 3u);
}

TEST(KonvertFilter, TargetFollowsSourceKindAndFilterEntry) {
    EXPECT_EQ(KonvertTargetFromFilter(true, 1).Format, TAusgabeFormat::Xyz);
    EXPECT_EQ(KonvertTargetFromFilter(true, 2).Format, TAusgabeFormat::Csv);
    EXPECT_EQ(KonvertTargetFromFilter(true, 3).Format, TAusgabeFormat::Xyz);
    EXPECT_EQ(KonvertTargetFromFilter(false, 1), (TAusgabe{TAusgabeFormat::DBase, 3}));
    EXPECT_EQ(KonvertTargetFromFilter(false, 2), (TAusgabe{TAusgabeFormat::DBase, 4}));
    EXPECT_EQ(KonvertTargetFromFilter(false, 3), (TAusgabe{TAusgabeFormat::DBase, 7}));
    EXPECT_EQ(KonvertTargetFromFilter(false, 4), (TAusgabe{TAusgabeFormat::DBase, 3}));
    EXPECT_EQ(KonvertTargetPath("/a/b", KonvertTargetFromFilter(true, 2)), "/a/b.csv");
    EXPECT_EQ(KonvertTargetPath("/a/b.txt", KonvertTargetFromFilter(true, 1)), "/a/b.txt");
    EXPECT_EQ(KonvertTargetPath("/a/b", KonvertTargetFromFilter(false, 4)), "/a/b.dbf");
    // The proposed name drops a packed tile's ".gz" as well as its extension.
    EXPECT_EQ(KonvertTargetName("blatt.xyz.gz"), "blatt");
    EXPECT_EQ(KonvertTargetName("/d/blatt.XYZ.GZ"), "blatt");
    EXPECT_EQ(KonvertTargetName("blatt.xyz"), "blatt");
    EXPECT_EQ(KonvertTargetName("archiv.tar.bz2"), "archiv.tar");
}

}  // namespace
}  // namespace tervalo::test
