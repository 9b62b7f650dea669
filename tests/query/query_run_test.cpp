// One height query over text files and dBase tables: selection, filter, rows, labels, errors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "query_test_util.h"
#include "query/Query.h"
#include "tools/Errors.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;

namespace {

TAbfrageParameter Param(double x, double y, double d = 50, double p = 2) {
    TAbfrageParameter a;
    a.X = x;
    a.Y = y;
    a.Fangbreite = d;
    a.Potenz = p;
    return a;
}

struct Protokoll : TAbfrageBeobachter {
    std::vector<std::string> ereignisse;
    std::vector<int> schritte;
    void FileSelected(const TDateiZeile& row, const std::string& lb) override {
        ereignisse.push_back("selected " + std::to_string(row.Nr) + " " + row.Name + " " + lb);
    }
    void FileDone(const TDateiZeile& row) override {
        ereignisse.push_back("done " + std::to_string(row.Nr) + " " + std::to_string(row.Gelesen) + " " +
                             std::to_string(row.Gefiltert));
    }
    void BusyStep(int step) override { schritte.push_back(step); }
};

// Every character 7 pixels wide.
struct FesteBreite : TTextMass {
    int TextWidth(std::string_view t) const override { return 7 * static_cast<int>(t.size()); }
};

}  // namespace

TEST(QueryRun, NoFileOrEmptyCatalogueKeepsStartTexts) {
    qtest::TempDir dir;
    THoehenAbfrage q;
    TDateien kat;
    const THoehenAntwort& e = q.Run(kat, Param(1000, 1000));
    const TFensterTexte t = BuildFensterTexte(e, ',');
    EXPECT_TRUE(e.Beendet);
    EXPECT_TRUE(e.Dateien.empty());
    EXPECT_EQ(q.DateiLabel(), "???");
    EXPECT_EQ(t.LB_nextPointR, "-----");
    EXPECT_EQ(t.LB_nextPointZ, "-----");
    EXPECT_EQ(t.LB_ExtrapolnPoints, "--");
    EXPECT_EQ(t.LB_ExtrapolPointZ, "-----");
    EXPECT_EQ(t.Grid[0][0], "");

    // A file whose extent lies just beyond the square is not selected; one that touches it is.
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText({{1000, 1000, 5}}));
    AddEntry(kat, dir.File("a.xyz"), 1050.01, 2000, 0, 2000);
    EXPECT_TRUE(q.Run(kat, Param(1000, 1000)).Dateien.empty());
    EXPECT_EQ(q.Ergebnis().LetzterEintrag, 0);
    kat.Xmin[1] = 1050;
    EXPECT_EQ(q.Run(kat, Param(1000, 1000)).Dateien.size(), 1u);
    kat.Xmin[1] = 0;
    kat.Ymax[1] = 950;  // corner of the square (950, 950)
    kat.Xmax[1] = 950;
    EXPECT_EQ(q.Run(kat, Param(1000, 1000)).LetzterEintrag, 1);
}

TEST(QueryRun, FilterBordersDuplicatesAndResults) {
    qtest::TempDir dir;
    // File 1: border points, one just outside, a duplicate inside the same file.
    qtest::WriteFile(dir.File("eins.xyz"),
                     "X Y Z\r\n" + qtest::XyzText({{1050, 950, 10},     // corner of the square
                                                   {1050.001, 1000, 11}, // just outside
                                                   {1003, 1000, 100},    // 3 m away
                                                   {1003, 1000, 200}}) + "1,0\t2,0\t3,0\r\n");
    // File 2 repeats a point of file 1 and adds one.
    qtest::WriteFile(dir.File("zwei.xyz"), qtest::XyzText({{1003, 1000, 300}, {1000, 1004, 50}}));
    TDateien kat;
    AddEntry(kat, dir.File("eins.xyz"));
    AddEntry(kat, dir.File("zwei.xyz"));
    THoehenAbfrage q;
    const THoehenAntwort& e = q.Run(kat, Param(1000, 1000));
    const TFensterTexte t = BuildFensterTexte(e, ',');
    ASSERT_EQ(e.Dateien.size(), 2u);
    EXPECT_EQ(e.Dateien[0].Name, "eins.xyz");
    EXPECT_EQ(e.Dateien[0].Gelesen, 6);
    EXPECT_EQ(e.Dateien[0].Gefiltert, 2);
    EXPECT_EQ(e.Dateien[1].Gelesen, 2);
    EXPECT_EQ(e.Dateien[1].Gefiltert, 1);
    EXPECT_EQ(q.DateiLabel(), dir.File("zwei.xyz"));
    EXPECT_EQ(e.LetzterEintrag, 2);

    const TPunktSpeicher& s = q.Speicher();
    ASSERT_EQ(s.Anzahl, 3);
    EXPECT_EQ(s.Z[2], 100.0);  // the first of the repeats is kept
    EXPECT_EQ(t.LB_nextPointR, "3,00");
    EXPECT_EQ(t.LB_nextPointZ, "100,00");
    // Within sqrt(50): the points 3 m and 4 m away, weights 1/9 and 1/16.
    EXPECT_EQ(t.LB_ExtrapolnPoints, "2");
    const double erwartet = (100.0 / 9 + 50.0 / 16) / (1.0 / 9 + 1.0 / 16);
    EXPECT_NEAR(e.ShepardZ, erwartet, 1e-9);
    EXPECT_EQ(t.LB_ExtrapolPointZ, FormatResult(erwartet, ','));
    // Grid: nearest first, then 4 m, then the corner; rows after the count stay empty.
    EXPECT_EQ(t.Grid[0][0], "   1003,00");
    EXPECT_EQ(t.Grid[0][1], "   1000,00");
    EXPECT_EQ(t.Grid[0][2], " 100,00");
    EXPECT_EQ(t.Grid[0][3], "  3,00");
    EXPECT_EQ(t.Grid[1][2], "  50,00");
    EXPECT_EQ(t.Grid[2][3], " 70,71");
    EXPECT_EQ(t.Grid[3][0], "");

    // The header line's point (0, 0, 0) passes the filter near the origin.
    EXPECT_EQ(q.Run(kat, Param(0, 0, 1)).Dateien[0].Gefiltert, 1);
    EXPECT_EQ(BuildFensterTexte(q.Ergebnis(), ',').LB_nextPointZ, "0,00");
}

TEST(QueryRun, StoreCapacityAcrossFiles) {
    qtest::TempDir dir;
    // 100 x 100 and 100 x 100 distinct points, all in one square.
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText(qtest::Grid(0, 99, 0, 99, 1)));
    qtest::WriteFile(dir.File("b.xyz"), qtest::XyzText(qtest::Grid(0.5, 99.5, 0.5, 99.5, 1)));
    TDateien kat;
    AddEntry(kat, dir.File("a.xyz"));
    AddEntry(kat, dir.File("b.xyz"));
    THoehenAbfrage q;
    const THoehenAntwort& e = q.Run(kat, Param(50, 50, 60));
    EXPECT_EQ(q.Speicher().Anzahl, MaxPunkte);
    EXPECT_EQ(e.Dateien[0].Gefiltert, 10000);
    EXPECT_EQ(e.Dateien[1].Gefiltert, 5000);
    EXPECT_EQ(e.Dateien[1].Gelesen, 10000);
    // The last accepted point is the 5000th of file b.
    EXPECT_EQ(q.Speicher().X[MaxPunkte], 99.5);
    EXPECT_EQ(q.Speicher().Y[MaxPunkte], 49.5);
}

TEST(QueryRun, MissingFilesEmptyTablesAndManyFiles) {
    qtest::TempDir dir;
    qtest::WriteDbf(dir.File("leer.dbf"), {});
    qtest::WriteDbf(dir.File("t4.dbf"), {{1001, 1001, 7}, {1002, 1002, 8}}, 4);
    qtest::WriteDbf(dir.File("t7.dbf"), {{1001, 1001, 9}, {999, 999, 6}}, 7);
    qtest::WriteFile(dir.File("p.xyz"), qtest::XyzText({{1000, 1000, 1}}));
    TDateien kat;
    AddEntry(kat, dir.File("fehlt.xyz"));
    AddEntry(kat, dir.File("leer.dbf"));
    AddEntry(kat, dir.File("t4.dbf"));
    AddEntry(kat, dir.File("t7.dbf"));
    AddEntry(kat, dir.File("p.xyz"));
    THoehenAbfrage q;
    Protokoll prot;
    const THoehenAntwort& e = q.Run(kat, Param(1000, 1000), &prot);
    ASSERT_EQ(e.Dateien.size(), 5u);
    const TDateiZeile& fehlt = e.Dateien[0];
    EXPECT_TRUE(fehlt.OeffnenFehler);
    EXPECT_EQ(fehlt.Name, "---");
    EXPECT_EQ(fehlt.Gelesen, 0);
    EXPECT_EQ(fehlt.Fehler, "I/O-Fehler: " + dir.File("fehlt.xyz"));
    const TDateiZeile& leer = e.Dateien[1];
    EXPECT_TRUE(leer.DBase);
    EXPECT_EQ(leer.Name, "leer.dbf");
    EXPECT_EQ(leer.Fehler, TextKeineDatensaetze);
    EXPECT_EQ(leer.Gelesen, 0);
    EXPECT_EQ(e.Dateien[2].Gelesen, 2);
    EXPECT_EQ(e.Dateien[2].Gefiltert, 2);
    EXPECT_EQ(e.Dateien[3].Gefiltert, 1);  // (1001, 1001) came from level 4 already
    EXPECT_EQ(e.Dateien[4].Gefiltert, 1);  // the fifth file is read like the others
    EXPECT_EQ(q.DateiLabel(), dir.File("p.xyz"));
    EXPECT_EQ(q.Speicher().Anzahl, 4);
    EXPECT_EQ(q.Speicher().Z[1], 7.0);
    EXPECT_EQ(prot.ereignisse.front(), "selected 1 --- I/O-Fehler: " + dir.File("fehlt.xyz"));
    EXPECT_EQ(prot.ereignisse[1], "done 1 0 0");
    EXPECT_EQ(prot.ereignisse[2], std::string("selected 2 leer.dbf ") + TextKeineDatensaetze);
    EXPECT_EQ(prot.ereignisse.size(), 10u);

    // The file label shortened to the label's width; the error text leaves room for its prefix.
    FesteBreite font;
    TAbfrageParameter p = Param(1000, 1000);
    p.LabelFont = &font;
    p.LabelBreite = 7 * 20;
    TDateien nurFehlt;
    AddEntry(nurFehlt, "/ein/langer/ordner/fehlt.xyz");
    q.Run(nurFehlt, p);
    EXPECT_EQ(q.DateiLabel(),
              "I/O-Fehler: " + ShortenPath("/ein/langer/ordner/fehlt.xyz", font, 7 * 8));
    EXPECT_EQ(q.Ergebnis().LB_DateiVoll, "I/O-Fehler: /ein/langer/ordner/fehlt.xyz");
    EXPECT_EQ(FileLabelText(nurFehlt, 1, &font, 7 * 20), ShortenPath("/ein/langer/ordner/fehlt.xyz", font, 140));
    EXPECT_EQ(FileLabelText(nurFehlt, 0, &font, 7 * 20), "???");
}

TEST(QueryRun, BlankDbaseFieldCountsAsReadWithoutPoint) {
    qtest::TempDir dir;
    const std::string f = dir.File("blank.dbf");
    qtest::WriteDbf(f, {{1001, 1001, 7}, {1002, 1002, 8}, {1003, 1003, 9}}, 3);
    // Blank the Z field of the second record.
    int fd = ::open(f.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    unsigned char h[12];
    ASSERT_EQ(::pread(fd, h, 12, 0), 12);
    const int kopf = h[8] | (h[9] << 8), satz = h[10] | (h[11] << 8);
    const std::string leer(14, ' ');
    ASSERT_EQ(::pwrite(fd, leer.data(), 14, kopf + satz + 1 + 28), 14);
    ::close(fd);

    TDateien kat;
    AddEntry(kat, f);
    THoehenAbfrage q;
    const THoehenAntwort& e = q.Run(kat, Param(1000, 1000));
    const TFensterTexte t = BuildFensterTexte(e, ',');
    EXPECT_TRUE(e.Beendet);
    EXPECT_EQ(e.Dateien[0].Gelesen, 3);
    EXPECT_EQ(e.Dateien[0].Gefiltert, 2);
    EXPECT_EQ(t.LB_ExtrapolnPoints, "2");
}

TEST(QueryRun, ReadErrorEndsTheRunAfterTheRow) {
    qtest::TempDir dir;
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText({{1000, 1000, 1}}));
    qtest::WriteFile(dir.File("c.xyz"), qtest::XyzText({{1001, 1000, 1}}));
    TDateien kat;
    AddEntry(kat, dir.File("a.xyz"));
    AddEntry(kat, "/proc/self/mem");  // opens, but reading its start fails
    AddEntry(kat, dir.File("c.xyz"));
    THoehenAbfrage q;
    Protokoll prot;
    EXPECT_THROW(q.Run(kat, Param(1000, 1000), &prot), EInOutError);
    const THoehenAntwort& e = q.Ergebnis();
    const TFensterTexte t = BuildFensterTexte(e, ',');
    EXPECT_FALSE(e.Beendet);
    ASSERT_EQ(e.Dateien.size(), 2u);
    EXPECT_FALSE(e.Dateien[1].Fehler.empty());
    EXPECT_EQ(e.Fehler, e.Dateien[1].Fehler);
    EXPECT_EQ(prot.ereignisse.back(), "done 2 0 0");
    EXPECT_EQ(prot.schritte.back(), 0);  // icon reset
    EXPECT_EQ(t.LB_nextPointR, "-----");
    EXPECT_EQ(t.Grid[0][0], "");
    EXPECT_EQ(q.Speicher().Anzahl, 1);

    // A table that fails to open ends the run too; its row keeps "---".
    qtest::WriteFile(dir.File("kaputt.dbf"), std::string("\x03\x7A\x01\x01\x05\x00\x00\x00", 8));
    TDateien kat2;
    AddEntry(kat2, dir.File("kaputt.dbf"));
    AddEntry(kat2, dir.File("a.xyz"));
    EXPECT_ANY_THROW(q.Run(kat2, Param(1000, 1000)));
    ASSERT_EQ(q.Ergebnis().Dateien.size(), 1u);
    EXPECT_EQ(q.Ergebnis().Dateien[0].Name, "---");
    EXPECT_TRUE(q.Ergebnis().Dateien[0].DBase);
}

TEST(QueryRun, BusyStepsPerEntryAndPer10000Lines) {
    qtest::TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "1 2 3\n";
    qtest::WriteFile(dir.File("gross.xyz"), text);
    TDateien kat;
    AddEntry(kat, dir.File("gross.xyz"));
    AddEntry(kat, dir.File("gross.xyz"), 5000, 6000, 5000, 6000);  // not selected
    for (int i = 0; i < 7; ++i) AddEntry(kat, dir.File("x"), 5000, 6000, 5000, 6000);
    THoehenAbfrage q;
    Protokoll prot;
    q.Run(kat, Param(1000, 1000), &prot);
    // Entry 1, lines 10000 and 20000, then the 8 other entries wrapping after 7, then image 0.
    EXPECT_EQ(prot.schritte, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 0}));
}
