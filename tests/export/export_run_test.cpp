// The export run: its log, counters, duplicates, cancelling and the files it leaves.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "tests/export/run_fixture.h"
#include "tools/Errors.h"

namespace tervalo::test {
namespace {

using Log = std::vector<std::string>;

const TAusgabe kXyz{TAusgabeFormat::Xyz, 3};
const TAusgabe kCsv{TAusgabeFormat::Csv, 3};
const TAusgabe kDbf3{TAusgabeFormat::DBase, 3};

class ExportRunTest : public ::testing::Test {
protected:
    TempDir dir;
    TDateien cat;
    ScriptedExportObserver obs;

    TExportErgebnis Run(const TExportGrenzen& b, const std::string& out, const TAusgabe& f = kXyz,
                      const TLaufOptionen& o = EveryLine()) {
        return ExportRun(cat, b, out, f, o, obs);
    }
    std::string Tile(const std::string& name, const std::vector<Pt>& pts) {
        std::string p = dir / name;
        WriteXyzTile(p, pts);
        AddEntry(cat, p, pts);
        return p;
    }
};

TEST_F(ExportRunTest, NormalRunLogsEveryStepAndWritesThePointsInside) {
    std::string a = Tile("a.xyz", Grid(1000, 2000, 3));
    std::string b = Tile("b.xyz", Grid(5000, 6000, 2));  // outside the window: no line at all
    std::string c = Tile("c.xyz", Grid(1002, 2000, 3));  // shares the column x = 1002 with a
    std::string out = dir / "out.xyz";
    TExportErgebnis r = Run({1000, 1003, 2000, 2001}, out);

    Log expected = {"Beginn der Konvertierung", "Ausgabeformat: Text-XYZ", "Datei: " + out,
                    "Lese Datei 1: " + a, "6 Werte aus Datei: a.xyz exportiert",
                    "Lese Datei 3: " + c, "2 Werte aus Datei: c.xyz exportiert",
                    "Konvertierung abgeschlossen", "8 Werte insgesamt exportiert",
                    "2 doppelte Werte nicht exportiert"};
    EXPECT_EQ(obs.log, expected);
    EXPECT_EQ(r.Total, 8);
    EXPECT_EQ(r.Duplicates, 2);
    EXPECT_FALSE(r.Error);
    EXPECT_FALSE(r.Cancelled);
    EXPECT_EQ(obs.fileCount, 2);
    EXPECT_EQ(obs.total, 8);
    EXPECT_EQ(obs.duplicates, 2);
    EXPECT_EQ(OutWerteText(obs.fileCount, obs.total), "2/ 8");

    // Shared points come from the first tile, in reading order.
    std::vector<Pt> pts = ReadXyz(out);
    ASSERT_EQ(pts.size(), 8u);
    EXPECT_EQ(pts[0].x, 1000);
    EXPECT_EQ(pts[2].x, 1002);
    EXPECT_EQ(pts[2].z, 101.0);    // z of tile a at i = 2
    EXPECT_EQ(pts[6].x, 1003);
    EXPECT_EQ(pts[6].z, 100.5);    // z of tile c at i = 1
    EXPECT_EQ(Lines(ReadAll(out))[0], XyzLine(1000, 2000, 100));
}

TEST_F(ExportRunTest, BoundsAreInclusiveAndTouchingExtentsAreRead) {
    std::vector<Pt> pts = {{10, 20, 1}, {15, 20, 2}, {10, 25, 3}, {15, 25, 4}, {16, 25, 5}, {12, 19.999, 6}};
    std::string a = dir / "a.xyz";
    WriteXyzTile(a, pts);
    AddEntry(cat, a, 15, 30, 25, 40);  // only the corner (15, 25) touches the window
    TExportErgebnis r = Run({10, 15, 20, 25}, dir / "o.xyz");
    EXPECT_EQ(r.Total, 4);
    EXPECT_EQ(obs.log.at(3), "Lese Datei 1: " + a);
}

TEST_F(ExportRunTest, EmptyAndInvertedWindows) {
    Tile("a.xyz", Grid(1000, 2000, 3));
    // A freshly opened window (all bounds 0) far from the data reads no file.
    Run({0, 0, 0, 0}, dir / "o.xyz");
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: Text-XYZ",
                            "Datei: " + dir / "o.xyz", "Konvertierung abgeschlossen",
                            "0 Werte insgesamt exportiert", "0 doppelte Werte nicht exportiert"}));
    // Xmin > Xmax: the file overlaps by the extent test but no point lies inside.
    obs.log.clear();
    TExportErgebnis r = Run({1002, 1001, 1999, 2005}, dir / "o.xyz");
    EXPECT_EQ(r.Total, 0);
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(obs.log.at(4), "0 Werte aus Datei: a.xyz exportiert");
    EXPECT_EQ(obs.log.back(), "0 doppelte Werte nicht exportiert");
    EXPECT_EQ(ReadAll(dir / "o.xyz"), "");
}

TEST_F(ExportRunTest, RefusedLinesAreLoggedAndStopAllFurtherWriting) {
    std::string a = dir / "a.xyz";
    WriteAll(a, "X Y Z\r\n1000.0 2000.0 5.0\r\n\r\n   \r\nbad line\r\n1001.0 2000.0 6.0\r\n");
    AddEntry(cat, a, 1000, 1001, 2000, 2000);
    std::string b = Tile("b.xyz", Grid(1000, 2000, 2));
    TExportErgebnis r = Run({0, 5000, 0, 5000}, dir / "o.xyz");
    // Empty lines still count for the line numbers.
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: Text-XYZ",
                            "Datei: " + dir / "o.xyz", "Lese Datei 1: " + a, "Fehler in Zeile: 1",
                            "Fehler in Zeile: 5", "0 Werte aus Datei: a.xyz exportiert",
                            "!!! ABBRUCH !!!", "Fehler bei Konvertierung aufgetreten"}));
    EXPECT_TRUE(r.Error);
    EXPECT_EQ(r.Total, 0);
    EXPECT_EQ(ReadAll(dir / "o.xyz"), "");
}

TEST_F(ExportRunTest, EmptyLinesAreSkippedWithoutCounting) {
    std::string a = dir / "a.xyz";
    WriteAll(a, "\r\n1000.0 2000.0 5.0\r\n\t\r\n\r\n1001.0 2000.0 6.0\r\n1000.0 2000.0 7.0\r\n");
    AddEntry(cat, a, 1000, 1001, 2000, 2000);
    TExportErgebnis r = Run({0, 5000, 0, 5000}, dir / "o.xyz");
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(r.Total, 2);
    EXPECT_EQ(r.Duplicates, 1);  // same X/Y, other Z
    EXPECT_EQ(ReadXyz(dir / "o.xyz")[0].z, 5.0);
}

TEST_F(ExportRunTest, MissingSourceAndEmptyTableAreLoggedAndLaterFilesAbandoned) {
    std::string missing = dir / "fehlt.xyz";
    AddEntry(cat, missing, 0, 10, 0, 10);
    std::string a = Tile("a.xyz", Grid(1, 1, 2));
    TExportErgebnis r = Run({0, 10, 0, 10}, dir / "o.xyz");
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: Text-XYZ",
                            "Datei: " + dir / "o.xyz", "!!! ABBRUCH !!!",
                            "Datei I/O-Fehler: " + missing, "!!! ABBRUCH !!!",
                            "Fehler bei Konvertierung aufgetreten"}));
    EXPECT_TRUE(r.Error);

    TDateien cat2;
    std::string empty = dir / "leer.dbf";
    WriteDbfTable(empty, {});
    AddEntry(cat2, empty, 0, 10, 0, 10);
    AddEntry(cat2, missing, 0, 10, 0, 10);
    obs.log.clear();
    r = ExportRun(cat2, {0, 10, 0, 10}, dir / "o.dbf", kDbf3, EveryLine(), obs);
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: dBase",
                            "Datei: " + dir / "o.dbf",
                            "Datei-Fehler: Keine Datens\xC3\xA4tze in: " + empty, "!!! ABBRUCH !!!",
                            "!!! ABBRUCH !!!", "Datei I/O-Fehler: " + missing,
                            "Fehler bei Konvertierung aufgetreten"}));
    EXPECT_EQ(ReadAll(dir / "o.dbf").size(), 130u);
}

TEST_F(ExportRunTest, OutputThatCannotBeCreatedEndsTheRunAtOnce) {
    Tile("a.xyz", Grid(1, 1, 2));
    std::string out = dir / "kein/ordner/o.csv";
    TExportErgebnis r = Run({0, 10, 0, 10}, out, kCsv);
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: Text-CSV", "Datei: " + out,
                            "Ordner nicht gefunden: " + dir / "kein/ordner",
                            "Fehler bei Konvertierung aufgetreten"}));
    EXPECT_TRUE(r.Error);
    // A table that cannot be created goes to the error report, its path named.
    obs = {};
    try {
        Run({0, 10, 0, 10}, dir / "kein/o.dbf", kDbf3);
        ADD_FAILURE() << "no error";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), "Ordner nicht gefunden: " + dir / "kein");
    }
    EXPECT_EQ(obs.log.size(), 3u);
}

TEST_F(ExportRunTest, DbaseSourcesAndOutputs) {
    std::vector<Pt> pts = {{1, 1, 10}, {2, 1, 20}, {1, 1, 30}, {3, 1, 40}};
    std::string t = dir / "t.dbf";
    WriteDbfTable(t, pts, 4);
    AddEntry(cat, t, pts);
    std::string before = ReadAll(t);
    std::string out = dir / "o.dbf";
    TExportErgebnis r = Run({0, 2.5, 0, 5}, out, {TAusgabeFormat::DBase, 7});
    EXPECT_EQ(r.Total, 2);
    EXPECT_EQ(r.Duplicates, 1);
    EXPECT_EQ(obs.log.at(4), "2 Werte aus Datei: t.dbf exportiert");
    // The source is only read: not even its date changes.
    EXPECT_EQ(ReadAll(t), before);
    std::string o = ReadAll(out);
    ASSERT_EQ(o.size(), 214u + 2 * 43);
    EXPECT_EQ(o[0], 0x04);
    EXPECT_EQ(o.back(), 0x1A);
    std::vector<Pt> back = ReadDbf(out);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].x, 2);
    EXPECT_EQ(back[1].z, 20);
}

// Clears the field bytes (or sets the deletion flag) of one record of a table we wrote.
void PatchRecord(const std::string& path, int record, int offset, const std::string& bytes) {
    std::string s = ReadAll(path);
    s.replace(129 + (record - 1) * 43 + offset, bytes.size(), bytes);
    WriteAll(path, s);
}

TEST_F(ExportRunTest, BlankDbaseFieldIsLoggedLikeARefusedLine) {
    std::vector<Pt> pts = {{1, 1, 10}, {2, 1, 20}, {3, 1, 30}, {4, 1, 40}};
    std::string t = dir / "t.dbf";
    WriteDbfTable(t, pts);
    PatchRecord(t, 1, 0, "*");                         // deleted: not read, still numbered
    PatchRecord(t, 3, 29, std::string(14, ' '));      // Z of record 3 blank
    AddEntry(cat, t, pts);
    TExportErgebnis r = Run({0, 10, 0, 10}, dir / "o.xyz");
    EXPECT_TRUE(r.Error);
    EXPECT_EQ(r.Total, 1);  // record 2 only
    EXPECT_EQ(obs.log.at(4), "Fehler in Zeile: 3");
    EXPECT_EQ(obs.log.at(5), "1 Werte aus Datei: t.dbf exportiert");
    EXPECT_EQ(obs.log.back(), "Fehler bei Konvertierung aufgetreten");
}

TEST_F(ExportRunTest, TableWithOnlyDeletedRecordsExportsNothing) {
    std::string t = dir / "t.dbf";
    WriteDbfTable(t, {{1, 1, 1}, {2, 2, 2}});
    PatchRecord(t, 1, 0, "*");
    PatchRecord(t, 2, 0, "*");
    AddEntry(cat, t, 0, 5, 0, 5);
    TExportErgebnis r = Run({0, 5, 0, 5}, dir / "o.xyz");
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(obs.log.at(4), "0 Werte aus Datei: t.dbf exportiert");
}

TEST_F(ExportRunTest, CsvOutputUsesTheDecimalSeparator) {
    Tile("a.xyz", {{4567890.123, 5678901.234, 123.456}, {1, 2, -3.25}});
    std::string out = dir / "o.csv";
    Run({0, 1e7, 0, 1e7}, out, kCsv, EveryLine(','));
    EXPECT_EQ(ReadAll(out), "X;Y;Z\r\n4567890,123;5678901,234;123,456\r\n1,000;2,000;-3,250\r\n");
}

TEST_F(ExportRunTest, CancelWithYesKeepsTheCountLineAndClosesAValidTable) {
    std::string a = Tile("a.xyz", Grid(0, 0, 10));
    Tile("b.xyz", Grid(0, 0, 10));
    obs.cancelAt = 25;
    std::string out = dir / "o.dbf";
    TExportErgebnis r = Run({0, 100, 0, 100}, out, kDbf3);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(obs.questions, 1);
    EXPECT_EQ(r.Total, 25);
    EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: dBase", "Datei: " + out,
                            "Lese Datei 1: " + a, "25 Werte aus Datei: a.xyz exportiert",
                            "Konvertierung abgeschlossen", "25 Werte insgesamt exportiert",
                            "0 doppelte Werte nicht exportiert"}));
    std::string o = ReadAll(out);
    ASSERT_EQ(o.size(), 130u + 25 * 43);
    EXPECT_EQ(static_cast<unsigned char>(o[4]), 25);
    EXPECT_EQ(o.back(), 0x1A);
    EXPECT_EQ(ReadDbf(out).size(), 25u);
}

TEST_F(ExportRunTest, CancelAnsweredNoChangesNothing) {
    Tile("a.xyz", Grid(0, 0, 10));
    Tile("b.xyz", Grid(5, 5, 10));
    Run({0, 100, 0, 100}, dir / "ref.xyz");
    Log reference = obs.log;
    obs.log.clear();
    obs.polls = 0;
    obs.cancelAt = 25;
    obs.answerYes = false;
    TExportErgebnis r = Run({0, 100, 0, 100}, dir / "ref.xyz");
    EXPECT_EQ(obs.questions, 1);
    EXPECT_FALSE(r.Cancelled);
    EXPECT_EQ(r.Total, 175);
    EXPECT_EQ(r.Duplicates, 25);
    EXPECT_EQ(obs.log, reference);
}

// A 1 km tile at 1 m catalogued twice, as text and packed: every point is written once, also
// the repeats that come a million points later.
TEST_F(ExportRunTest, ATileCataloguedTwiceIsWrittenOnce) {
    const std::vector<Pt> pts = Grid(3566000, 5936000, 1001);
    const std::string a = Tile("a.xyz", pts);
    ASSERT_EQ(Shell("gzip -1 -c " + Quote(a) + " > " + Quote(a + ".gz")).code, 0);
    AddEntry(cat, a + ".gz", pts);
    const TExportErgebnis r = Run({3566000, 3567000, 5936000, 5937000}, dir / "o.xyz", kXyz, TLaufOptionen{});
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(r.Total, 1002001);
    EXPECT_EQ(r.Duplicates, 1002001);
    EXPECT_EQ(obs.log.at(4), "1002001 Werte aus Datei: a.xyz exportiert");
    EXPECT_EQ(obs.log.at(6), "0 Werte aus Datei: a.xyz.gz exportiert");
    const std::string o = ReadAll(dir / "o.xyz");
    EXPECT_EQ(std::count(o.begin(), o.end(), '\n'), 1002001);
}

// Repeats across tiles that are not read one after the other: a's top row comes again in c,
// after b, which shares a's right column.
TEST_F(ExportRunTest, RepeatsOfAnEarlierTileAreFoundInEveryLaterOne) {
    Tile("a.xyz", Grid(0, 0, 11));
    Tile("b.xyz", Grid(10, 0, 11));
    Tile("c.xyz", Grid(0, 10, 11));
    Tile("d.xyz", Grid(10, 10, 11));  // shares a corner with a, a row with b, a column with c
    const TExportErgebnis r = Run({0, 20, 0, 20}, dir / "o.xyz");
    EXPECT_EQ(r.Total, 21 * 21);
    EXPECT_EQ(r.Duplicates, 4 * 121 - 21 * 21);
    std::vector<Pt> pts = ReadXyz(dir / "o.xyz");
    std::sort(pts.begin(), pts.end(), [](const Pt& l, const Pt& m) { return l.y != m.y ? l.y < m.y : l.x < m.x; });
    for (std::size_t k = 0; k < pts.size(); ++k)
        ASSERT_TRUE(pts[k].x == static_cast<double>(k % 21) && pts[k].y == static_cast<double>(k / 21)) << k;
}

// A packed tile found damaged, early or only by its checksum at the end, is taken back whole:
// none of its points stays in the output or the counters, and the run ends as after a tile
// that cannot be opened.
TEST_F(ExportRunTest, ADamagedPackedTileIsTakenBackAndLaterTilesAreAbandoned) {
    const std::vector<Pt> gut = Grid(0, 0, 10);
    const std::string a = Tile("a.xyz", gut);
    // More than the text writer's buffer and many table batches before the cut.
    const std::string kurz = Tile("kurz.xyz", Grid(5, 5, 300));
    const std::string g = Quote(kurz + ".gz");
    ASSERT_EQ(Shell("gzip -1 -c " + Quote(kurz) + " > " + g + " && truncate -s $(($(stat -c %s " + g + ") / 2)) " + g).code, 0);
    // A small tile whose trailer holds a wrong checksum: every line comes before the damage.
    const std::string falsch = Tile("falsch.xyz", Grid(5, 5, 20));
    ASSERT_EQ(Shell("gzip -9 -c " + Quote(falsch) + " > " + Quote(falsch + ".gz")).code, 0);
    std::string f = ReadAll(falsch + ".gz");
    f[f.size() - 8] = static_cast<char>(f[f.size() - 8] ^ 0x55);
    WriteAll(falsch + ".gz", f);
    const std::string c = Tile("c.xyz", Grid(0, 0, 5));

    for (const std::string& defekt : {kurz + ".gz", falsch + ".gz"})
        for (const TAusgabe& format : {kXyz, kDbf3}) {
            SCOPED_TRACE(defekt + (format == kXyz ? " xyz" : " dbf"));
            TDateien k;
            AddEntry(k, a, gut);
            AddEntry(k, defekt, 0, 400, 0, 400);
            AddEntry(k, c, 0, 4, 0, 4);
            obs = {};
            const std::string out = dir / (format == kXyz ? "o.xyz" : "o.dbf");
            const TExportErgebnis r = ExportRun(k, {0, 1000, 0, 1000}, out, format, TLaufOptionen{}, obs);
            EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", format == kXyz ? "Ausgabeformat: Text-XYZ" : "Ausgabeformat: dBase",
                                    "Datei: " + out, "Lese Datei 1: " + a, "100 Werte aus Datei: a.xyz exportiert",
                                    "Lese Datei 2: " + defekt, "!!! ABBRUCH !!!",
                                    "Datei besch\xC3\xA4" "digt (gzip): " + defekt, "!!! ABBRUCH !!!",
                                    "Fehler bei Konvertierung aufgetreten"}));
            EXPECT_TRUE(r.Error);
            EXPECT_EQ(r.Total, 100);
            EXPECT_EQ(r.Duplicates, 0);
            EXPECT_EQ(obs.total, 100);
            EXPECT_EQ(obs.duplicates, 0);
            std::vector<Pt> back = format == kXyz ? ReadXyz(out) : ReadDbf(out);
            ASSERT_EQ(back.size(), gut.size());
            for (std::size_t i = 0; i < gut.size(); ++i)
                EXPECT_TRUE(back[i].x == gut[i].x && back[i].y == gut[i].y && back[i].z == gut[i].z) << i;
            if (format == kDbf3) {
                const std::string t = ReadAll(out);
                EXPECT_EQ(t.size(), 130u + 100 * 43);
                EXPECT_EQ(t.back(), 0x1A);
            }
        }

    // Damaged first: nothing at all is written.
    TDateien k;
    AddEntry(k, falsch + ".gz", 0, 400, 0, 400);
    AddEntry(k, a, gut);
    obs = {};
    const TExportErgebnis r = ExportRun(k, {0, 1000, 0, 1000}, dir / "leer.csv", kCsv, TLaufOptionen{}, obs);
    EXPECT_TRUE(r.Error);
    EXPECT_EQ(r.Total, 0);
    EXPECT_EQ(ReadAll(dir / "leer.csv"), "X;Y;Z\r\n");
    EXPECT_EQ(std::vector<std::string>(obs.log.begin() + 3, obs.log.end()),
              (Log{"Lese Datei 1: " + falsch + ".gz", "!!! ABBRUCH !!!",
                   "Datei besch\xC3\xA4" "digt (gzip): " + falsch + ".gz", "!!! ABBRUCH !!!",
                   "Fehler bei Konvertierung aufgetreten"}));
}

TEST_F(ExportRunTest, BrokenSourceTableEndsTheRunAndKeepsThePreviousOutput) {
    std::string a = Tile("a.xyz", Grid(0, 0, 3));
    // Passes the signature test, but its header has a record length of 0.
    std::string bad = dir / "bad.dbf";
    std::string h(200, '\0');
    h[0] = 3, h[1] = 100, h[2] = 1, h[3] = 1, h[8] = 65;
    WriteAll(bad, h);
    AddEntry(cat, bad, 0, 5, 0, 5);
    std::string out = dir / "o.dbf";
    WriteAll(out, "voriger Export");
    EXPECT_ANY_THROW(Run({0, 5, 0, 5}, out, kDbf3));
    // The run failed: the previous output stays as it was, no temporary file is left.
    EXPECT_EQ(ReadAll(out), "voriger Export");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 3);
    EXPECT_ANY_THROW(Run({0, 5, 0, 5}, dir / "neu.xyz", kXyz));
    EXPECT_FALSE(fs::exists(dir / "neu.xyz"));
}

TEST_F(ExportRunTest, OutputThatIsASourceIsRefusedBeforeWriting) {
    Tile("a.xyz", Grid(0, 0, 3));
    std::string b = Tile("b.xyz", Grid(10, 10, 3));  // not even in the window
    std::string before = ReadAll(b);
    fs::create_symlink(b, dir / "link.xyz");
    EXPECT_THROW(Run({0, 5, 0, 5}, dir / "link.xyz"), std::runtime_error);
    EXPECT_THROW(Run({0, 5, 0, 5}, dir.Path().string() + "/./b.xyz"), std::runtime_error);
    try {
        Run({0, 5, 0, 5}, b, kDbf3);
        ADD_FAILURE() << "source overwritten";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), "Die Ausgabedatei ist zugleich Quelldatei: " + b);
    }
    // Nor the configuration, nor anything but a regular file (a FIFO would block).
    cat.KonfDatei = dir / "tervalo.KNF";
    WriteAll(cat.KonfDatei, "Konfiguration");
    fs::create_hard_link(cat.KonfDatei, dir / "hart.KNF");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const std::string& out : {cat.KonfDatei, dir / "hart.KNF", dir / "fifo", dir.Path().string()})
        for (const TAusgabe& f : {kXyz, kDbf3}) EXPECT_THROW(Run({0, 5, 0, 5}, out, f), EZielAbgelehnt) << out;
    EXPECT_TRUE(obs.log.empty());
    EXPECT_EQ(ReadAll(b), before);
    EXPECT_EQ(ReadAll(cat.KonfDatei), "Konfiguration");
    EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
}

// Nothing but the given names in the folder: no temporary file was left.
void ExpectOnly(const TempDir& dir, std::vector<std::string> names) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir.Path())) found.push_back(e.path().filename().string());
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(found, names);
}

// With the error flag set, an existing target (the user's file) is never replaced; a new one
// keeps the points written before the error.
TEST_F(ExportRunTest, TheErrorFlagLeavesAnExistingTargetAndANewOneWithThePointsBefore) {
    Tile("a.xyz", Grid(0, 0, 3));
    AddEntry(cat, dir / "fehlt.xyz", 0, 10, 0, 10);
    for (const TAusgabe& f : {kXyz, kDbf3}) {
        const std::string keep = dir / (f == kXyz ? "keep.xyz" : "keep.dbf");
        const std::string neu = dir / (f == kXyz ? "neu.xyz" : "neu.dbf");
        WriteAll(keep, "Daten des Benutzers");
        obs = {};
        TExportErgebnis r = Run({0, 10, 0, 10}, keep, f);
        EXPECT_TRUE(r.Error);
        EXPECT_FALSE(r.Kept);
        EXPECT_EQ(obs.log.back(), "Fehler bei Konvertierung aufgetreten");
        EXPECT_EQ(ReadAll(keep), "Daten des Benutzers");
        r = Run({0, 10, 0, 10}, neu, f);
        EXPECT_TRUE(r.Kept);
        EXPECT_EQ(f == kXyz ? ReadXyz(neu).size() : ReadDbf(neu).size(), 9u);
    }
    // Cancelled in the window as well: the user's file stays.
    obs = {};
    obs.cancelAt = 5;
    WriteAll(dir / "a.xyz", "1 1 1\r\nkaputt\r\n2 2 2\r\n3 3 3\r\n4 4 4\r\n5 5 5\r\n");
    TExportErgebnis r = Run({0, 10, 0, 10}, dir / "keep.xyz");
    EXPECT_TRUE(r.Cancelled && r.Error);
    EXPECT_EQ(ReadAll(dir / "keep.xyz"), "Daten des Benutzers");
    ExpectOnly(dir, {"a.xyz", "keep.xyz", "neu.xyz", "keep.dbf", "neu.dbf"});
}

// Where a cancel throws the output away (a signal in the command line), neither an existing
// target nor a new file is touched, and the log says the run was aborted.
TEST_F(ExportRunTest, ACancelThatDiscardsLeavesNoTrace) {
    const std::string a = Tile("a.xyz", Grid(0, 0, 10));
    TLaufOptionen o = EveryLine();
    o.CancelKeepsOutput = false;
    WriteAll(dir / "keep.dbf", "Daten des Benutzers");
    for (const std::string& out : {dir / "keep.dbf", dir / "neu.dbf"}) {
        obs = {};
        obs.cancelAt = 25;
        TExportErgebnis r = Run({0, 100, 0, 100}, out, kDbf3, o);
        EXPECT_TRUE(r.Cancelled);
        EXPECT_FALSE(r.Kept);
        EXPECT_EQ(obs.log, (Log{"Beginn der Konvertierung", "Ausgabeformat: dBase", "Datei: " + out,
                                "Lese Datei 1: " + a, "25 Werte aus Datei: a.xyz exportiert",
                                "Konvertierung abgebrochen"}));
    }
    EXPECT_EQ(ReadAll(dir / "keep.dbf"), "Daten des Benutzers");
    ExpectOnly(dir, {"a.xyz", "keep.dbf"});
    // A cancel after the last poll still wins over the commit; the error flag is then
    // reported before it.
    obs = {};
    obs.cancelAt = 101;  // one poll per line: only the look after the walk
    TExportErgebnis r = Run({0, 100, 0, 100}, dir / "keep.dbf", kDbf3, o);
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Total, 100);
    EXPECT_EQ(obs.log.back(), "Konvertierung abgebrochen");
    EXPECT_EQ(ReadAll(dir / "keep.dbf"), "Daten des Benutzers");
    AddEntry(cat, dir / "fehlt.xyz", 0, 10, 0, 10);
    obs = {};
    obs.cancelAt = 101;
    r = Run({0, 100, 0, 100}, dir / "neu.dbf", kDbf3, o);
    EXPECT_EQ(obs.log.at(obs.log.size() - 2), "Fehler bei Konvertierung aufgetreten");
    EXPECT_EQ(obs.log.back(), "Konvertierung abgebrochen");
    ExpectOnly(dir, {"a.xyz", "keep.dbf"});
    // Where a cancel keeps the output, the run does not ask once more at its end.
    obs = {};
    Run({0, 100, 0, 100}, dir / "ganz.xyz");
    EXPECT_EQ(obs.polls, 100);
}

// A NoData height is read but not written: no "Fehler in Zeile", no duplicate, and a later
// tile's valid point at that place is exported. Off, the hole is written and the later point
// is the repeat; text and dBase tiles alike.
TEST_F(ExportRunTest, NoDataHeightsAreLeftOutAndNotRemembered) {
    std::vector<Pt> loch = Grid(1000, 2000, 2);
    loch[1].z = -9999;
    const std::string a = dir / "a.xyz";
    WriteXyzTile(a, loch);
    AddEntry(cat, a, loch);
    const std::string t = dir / "t.dbf";
    WriteDbfTable(t, {{1001, 2000, -9999}, {1005, 2000, -9999}});
    AddEntry(cat, t, 1001, 1005, 2000, 2000);
    Tile("b.xyz", {{1001, 2000, 42.5}});
    const std::string out = dir / "out.xyz";
    TExportErgebnis r = Run({0, 5000, 0, 5000}, out);
    EXPECT_FALSE(r.Error);
    EXPECT_EQ(r.Total, 4);
    EXPECT_EQ(r.Duplicates, 0);
    for (const std::string& l : obs.log) EXPECT_EQ(l.find("Fehler"), std::string::npos) << l;
    EXPECT_NE(std::find(obs.log.begin(), obs.log.end(), "3 Werte aus Datei: a.xyz exportiert"), obs.log.end());
    EXPECT_NE(std::find(obs.log.begin(), obs.log.end(), "0 Werte aus Datei: t.dbf exportiert"), obs.log.end());
    std::vector<Pt> pts = ReadXyz(out);
    ASSERT_EQ(pts.size(), 4u);
    EXPECT_EQ(pts[3].x, 1001);
    EXPECT_EQ(pts[3].z, 42.5);
    for (const Pt& p : pts) EXPECT_NE(p.z, -9999);

    cat.NoData.reset();
    obs = {};
    r = Run({0, 5000, 0, 5000}, out);
    EXPECT_EQ(r.Total, 5);
    EXPECT_EQ(r.Duplicates, 2);  // the table's first record and the later valid point
    pts = ReadXyz(out);
    ASSERT_EQ(pts.size(), 5u);
    EXPECT_EQ(pts[1].z, -9999);
    EXPECT_EQ(pts[4].x, 1005);
}

TEST(ExportFilter, FormatAndExtensionFollowTheFilterEntry) {
    EXPECT_EQ(ExportFormatFromFilter(1, 7).Format, TAusgabeFormat::Xyz);
    EXPECT_EQ(ExportFormatFromFilter(2, 7).Format, TAusgabeFormat::Csv);
    EXPECT_EQ(ExportFormatFromFilter(3, 7), (TAusgabe{TAusgabeFormat::DBase, 7}));
    EXPECT_EQ(ExportFormatFromFilter(4, 7).Format, TAusgabeFormat::Xyz);
    EXPECT_EQ(ExportTargetPath("/d/punkte", 2), "/d/punkte.csv");
    EXPECT_EQ(ExportTargetPath("/d/punkte", 1), "/d/punkte.xyz");
    EXPECT_EQ(ExportTargetPath("/d/punkte", 3), "/d/punkte.dbf");
    EXPECT_EQ(ExportTargetPath("/d/punkte", 4), "/d/punkte");
    EXPECT_EQ(ExportTargetPath("/d/punkte.csv", 1), "/d/punkte.csv");
    EXPECT_EQ(ExportTargetPath("/d.x/punkte", 1), "/d.x/punkte.xyz");
}

}  // namespace
}  // namespace tervalo::test
