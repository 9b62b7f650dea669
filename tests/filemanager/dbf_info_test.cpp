// The lines of the dBase information window and the info command of tervalo-cli.
#include <array>

#include "formats/dbf_helpers.h"
#include "filemanager/DbfInfo.h"
#include "formats/DbfFile.h"
#include "tools/Errors.h"

using namespace tervalo;
using namespace dbftest;

namespace {

using Lines = std::vector<std::string>;

void WriteTable(const std::string& path, int level, const std::vector<std::array<double, 3>>& rows) {
    TSichereDatei file(path);
    TDbfFile dbf;
    dbf.Language = {1252, 0x0407};
    dbf.CreateTable(file, level, XyzFieldDefs());
    for (const auto& r : rows) dbf.AppendRecord(r[0], r[1], r[2]);
    dbf.Close();
    file.Commit();
}

Lines Head(const std::string& path) {
    return {"Datenbank-Datei: " + path, "Moment bitte ... Ermittlung von Informationen",
            "-------------------------", "Datei: " + path};
}

Lines Concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Records every line and answers the cancel question on the n-th record.
class Recorder : public TDbfInfoBeobachter {
public:
    explicit Recorder(int cancelAt = -1) : cancelAt_(cancelAt) {}
    void AddLine(const std::string& line) override { lines.push_back(line); }
    bool CancelCheck() override { return ++asked == cancelAt_; }
    Lines lines;
    int asked = 0;

private:
    int cancelAt_;
};

}  // namespace

TEST(DbfInfo, Level4TableShowsEverything) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    WriteTable(path, 4, {{3566000.5, 5936000.25, 98.0}, {3565000.0, 5937000.75, 99.0}, {3567000.126, 5935000.0, 97.0}});
    Recorder rec;
    Lines lines = DbfInfoLines(path, &rec);
    EXPECT_EQ(lines, Concat(Head(path), {
        "Dateiformat: \tdBase 4",
        "Anzahl Datens\xC3\xA4tze: \t3",
        "Anzahl der Spalten: \t3",
        "Datei exclusiv offen: \tNEIN",
        "Dateistatus: \tReadOnly",
        "Indexdatei: KEINE",
        "Xmin =\t3565000.00",
        "Xmax =\t3567000.13",
        "Ymin =\t5935000.00",
        "Ymax =\t5937000.75",
    }));
    EXPECT_EQ(rec.lines, lines);  // streamed as they were added
    EXPECT_EQ(rec.asked, 3);      // asked once per record
}

TEST(DbfInfo, EmptyAndFullyDeletedTablesShowTheStartValues) {
    TempDir dir;
    WriteTable(dir / "empty.dbf", 3, {});
    WriteBytes(dir / "deleted.dbf", MakeTable(Xyz(), {Rec3("5", "6", "7", '*')}));
    const Lines start = {"Xmin =\t999999999.00", "Xmax =\t-9999999.00", "Ymin =\t999999999.00",
                         "Ymax =\t-9999999.00"};
    Lines lines = DbfInfoLines(dir / "empty.dbf", nullptr);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[4], "Dateiformat: \tdBase 3");
    EXPECT_EQ(lines[5], "Anzahl Datens\xC3\xA4tze: \t0");
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()), start);
    lines = DbfInfoLines(dir / "deleted.dbf", nullptr);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[5], "Anzahl Datens\xC3\xA4tze: \t1");
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()), start);
}

TEST(DbfInfo, ExtentGoesByFieldPositionAndPassesOverBlankFields) {
    TempDir dir;
    std::vector<Field> yxz = {{"Y", 'N', 14, 5}, {"X", 'N', 14, 5}, {"Z", 'N', 14, 5}};
    WriteBytes(dir / "t.dbf", MakeTable(yxz, {Rec3("", "3", "0"), Rec3("5936000", "3566000", "1"),
                                              Rec3("5936010", "", "1"), Rec3("5935990", "3566020", "1")}));
    Lines lines = DbfInfoLines(dir / "t.dbf", nullptr, ',');
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()),
              (Lines{"Xmin =\t5935990,00", "Xmax =\t5936000,00", "Ymin =\t3566000,00", "Ymax =\t3566020,00"}));
}

TEST(DbfInfo, CancelReplacesTheExtentAndNoGoesOn) {
    TempDir dir;
    std::vector<std::array<double, 3>> rows;
    for (int i = 0; i < 50; ++i) rows.push_back({1000.0 + i, 2000.0 - i, 0});
    WriteTable(dir / "t.dbf", 7, rows);
    Recorder cancel(10);
    Lines lines = DbfInfoLines(dir / "t.dbf", &cancel);
    EXPECT_EQ(cancel.asked, 10);
    EXPECT_EQ(lines.back(), "Abbruch durch Anwender");
    EXPECT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[4], "Dateiformat: \tdBase 7");

    Recorder never;
    Lines full = DbfInfoLines(dir / "t.dbf", &never);
    EXPECT_EQ(full, DbfInfoLines(dir / "t.dbf", nullptr));
    EXPECT_EQ(full.back(), "Ymax =\t   2000.00");
    EXPECT_EQ(full[full.size() - 4], "Xmin =\t   1000.00");
}

TEST(DbfInfo, RefusedNameOpensNothing) {
    TempDir dir;
    std::string path = dir / "h?he.dbf";
    Lines lines = DbfInfoLines(path, nullptr);
    EXPECT_EQ(lines, (Lines{"Datenbank-Datei: " + path, "Moment bitte ... Ermittlung von Informationen", "",
                            "Ung\xC3\xBCltige Zeichen im Dateinamen: " + path}));
}

TEST(DbfInfo, IndexFileAndErrors) {
    TempDir dir;
    Bytes b = MakeTable(Xyz(), {Rec3("1", "2", "3")});
    b[28] = 1;
    WriteBytes(dir / "idx.dbf", b);
    WriteBytes(dir / "idx.mdx", {});
    Lines lines = DbfInfoLines(dir / "idx.dbf", nullptr);
    EXPECT_EQ(lines[9], "Indexdatei: " + (dir / "idx.mdx"));
    // The upper-case name counts too; a flag without its index shows none and stays in the
    // file, which the window only reads.
    WriteBytes(dir / "gross.dbf", b);
    WriteBytes(dir / "gross.MDX", {});
    EXPECT_EQ(DbfInfoLines(dir / "gross.dbf", nullptr)[9], "Indexdatei: " + (dir / "gross.MDX"));
    WriteBytes(dir / "ohne.dbf", b);
    EXPECT_EQ(DbfInfoLines(dir / "ohne.dbf", nullptr)[9], "Indexdatei: KEINE");
    EXPECT_EQ(ReadBytes(dir / "ohne.dbf"), b);

    WriteBytes(dir / "bad.dbf", {0x07, 100, 1, 1, 0, 0, 0, 0, 0x41, 0, 1, 0});
    Recorder rec;
    try {
        DbfInfoLines(dir / "bad.dbf", &rec);
        FAIL() << "no error";
    } catch (const EDbfError& e) {
        EXPECT_STREQ(e.what(), "Invalid DBF file.");
    }
    EXPECT_EQ(rec.lines.size(), 3u);
    WriteBytes(dir / "narrow.dbf", MakeTable({{"X", 'N', 14, 5}}, {" 1"+std::string(12, ' ')+"1"}));
    EXPECT_THROW(DbfInfoLines(dir / "narrow.dbf", nullptr), EDbfError);  // no second column
    EXPECT_THROW(DbfInfoLines(dir / "missing.dbf", nullptr), EInOutError);
}

TEST(DbfInfo, CommandLine) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    WriteTable(path, 3, {{10.5, 20.25, 1}});
    std::string cli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
    int rc = -1;
    std::string out = RunCommand("LC_ALL=C " + cli + " info " + path + " 2>/dev/null", &rc);
    EXPECT_EQ(rc, 0);
    std::string expected;
    for (const auto& l : DbfInfoLines(path, nullptr)) expected += l + "\n";
    // The window's lines, then the fields.
    EXPECT_EQ(out, expected + "-------------------------\nFeld\tName\tTyp\tL\xC3\xA4nge\tDezimalen\n"
                              "1\tX\tN\t14\t5\n2\tY\tN\t14\t5\n3\tZ\tN\t14\t5\n");

    WriteBytes(dir / "bad.dbf", {0x07, 100, 1, 1, 0, 0, 0, 0, 0x41, 0, 1, 0});
    out = RunCommand(cli + " info " + (dir / "bad.dbf") + " 2>&1 >/dev/null", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "Invalid DBF file.: " + (dir / "bad.dbf") + "\n");
    out = RunCommand(cli + " info " + (dir / "none.dbf") + " 2>&1 >/dev/null", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "Datei nicht gefunden: " + (dir / "none.dbf") + "\n");
}
