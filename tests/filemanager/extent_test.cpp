// Extent scan of text files and dBase tables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "filemanager/Extent.h"
#include "formats/DbfFile.h"
#include "formats/TextPoints.h"
#include "support/files.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

class ExtentTest : public ::testing::Test {
protected:
    std::string P(const std::string& name) { return (dir_ / name).string(); }
    std::string Text(const std::string& name, const std::string& bytes) {
        std::ofstream(P(name), std::ios::binary) << bytes;
        return P(name);
    }
    std::string Table(const std::string& name, std::initializer_list<std::array<double, 3>> pts,
                      int level = 3) {
        TSichereDatei file(P(name));
        TDbfFile t;
        t.CreateTable(file, level, XyzFieldDefs());
        for (auto& p : pts) t.AppendRecord(p[0], p[1], p[2]);
        t.Close();
        file.Commit();
        return P(name);
    }
    static void ExpectStart(const TExtremwerte& e) {
        EXPECT_FALSE(e.Found);
        EXPECT_EQ(e.Xmin, 999999999.0);
        EXPECT_EQ(e.Xmax, -9999999.0);
        EXPECT_EQ(e.Ymin, 999999999.0);
        EXPECT_EQ(e.Ymax, -9999999.0);
    }
    static void ExpectBox(const TExtremwerte& e, double x0, double x1, double y0, double y1) {
        EXPECT_TRUE(e.Found);
        EXPECT_EQ(e.Xmin, x0);
        EXPECT_EQ(e.Xmax, x1);
        EXPECT_EQ(e.Ymin, y0);
        EXPECT_EQ(e.Ymax, y1);
    }
    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
};

TEST_F(ExtentTest, TextFileWithHeadingAndUnacceptedLines) {
    TExtremwerte e = ReadExtremwerte(Text("a.xyz",
        "X Y Z\r\n"
        "3566010.5 5936000.0 98.991\r\n"
        "\r\n"
        "   3566000.0   5936020.25 99.5\r\n"
        "1,5 2,5 3,5\r\n"                 // decimal commas: passed over
        "9 9\r\n"                         // two columns, no trailing blank: passed over
        "3566005.0 5935990.0 \r\n"        // Z is not looked at
        "3566001.0\t5935000.0\t1.0\r\n")); // tabs do not separate
    EXPECT_FALSE(e.Dbase);
    EXPECT_TRUE(e.Opened);
    ExpectBox(e, 3566000.0, 3566010.5, 5935990.0, 5936020.25);
    EXPECT_EQ(e.Read, 8u);
    EXPECT_EQ(e.Accepted, 3u);

    double x0, x1, y0, y1;
    ReadExtremwerte(P("a.xyz"), x0, x1, y0, y1);
    EXPECT_EQ(x0, 3566000.0);
    EXPECT_EQ(x1, 3566010.5);
    EXPECT_EQ(y0, 5935990.0);
    EXPECT_EQ(y1, 5936020.25);
}

TEST_F(ExtentTest, FilesWithoutAcceptedLinesKeepTheStartValues) {
    ExpectStart(ReadExtremwerte(Text("two.xyz", "1.0 2.0\r\n3.0 4.0\r\n")));
    ExpectStart(ReadExtremwerte(Text("empty.xyz", "")));
    ExpectStart(ReadExtremwerte(Text("comma.xyz", "1,5 2,5 3,5\n")));
    {
        TSichereDatei file(P("out.csv"));
        TPunktSchreiber w(file);
        w.WriteCsvHeading();
        w.WriteCsv(3566000, 5936000, 98, '.');
        w.Close();
        file.Commit();
    }
    TExtremwerte csv = ReadExtremwerte(P("out.csv"));
    ExpectStart(csv);
    EXPECT_EQ(csv.Read, 2u);

    TExtremwerte missing = ReadExtremwerte(P("missing.xyz"));
    ExpectStart(missing);
    EXPECT_FALSE(missing.Opened);
    EXPECT_EQ(missing.OpenError, "Datei nicht gefunden");
    TExtremwerte folder = ReadExtremwerte(dir_.string());  // a folder does not open as a file either
    ExpectStart(folder);
    EXPECT_EQ(folder.OpenError, "Dateizugriff verweigert");
}

TEST_F(ExtentTest, LineEndRulesApply) {
    // A lone CR joins, Ctrl-Z ends the file, the last line needs no line end.
    ExpectBox(ReadExtremwerte(Text("cz.xyz", "1 2 3\n5 6\r7 8\r\n\x1A" "100 100 1\n")), 1, 5, 2, 67);
    ExpectBox(ReadExtremwerte(Text("nl.xyz", "1 2 3\n-4 -5 6")), -4, 1, -5, 2);
    ExpectBox(ReadExtremwerte(Text("one.xyz", "7.5 8.5 9\n")), 7.5, 7.5, 8.5, 8.5);
}

TEST_F(ExtentTest, PointsBeyondTheStartValuesStayInsideTheExtent) {
    // A single point above 999999999 or below -9999999 must not leave a start value behind.
    ExpectBox(ReadExtremwerte(Text("far.xyz", "head line\n2000000000 -20000000 1\n")),
              2000000000, 2000000000, -20000000, -20000000);
    ExpectBox(ReadExtremwerte(Table("far.dbf", {{-30000000, 1500000000, 0}})),
              -30000000, -30000000, 1500000000, 1500000000);
}

TEST_F(ExtentTest, DbaseTables) {
    TExtremwerte e = ReadExtremwerte(
        Table("t.dbf", {{3566000, 5936000, 1}, {3566999.5, 5935000.25, 2}, {3565000, 5937000, 3}}));
    EXPECT_TRUE(e.Dbase);
    ExpectBox(e, 3565000, 3566999.5, 5935000.25, 5937000);
    EXPECT_EQ(e.Read, 3u);

    // Levels 4 and 7 as well; the name does not matter, the first bytes do.
    ExpectBox(ReadExtremwerte(Table("t4.xyz", {{1, 2, 3}}, 4)), 1, 1, 2, 2);
    ExpectBox(ReadExtremwerte(Table("t7", {{1, 2, 3}, {-1, 5, 0}}, 7)), -1, 1, 2, 5);

    TExtremwerte none = ReadExtremwerte(Table("none.dbf", {}));
    EXPECT_TRUE(none.Dbase);
    ExpectStart(none);
}

TEST_F(ExtentTest, DbaseDeletedAndBlankRecordsArePassedOver) {
    const std::string path = Table("d.dbf", {{10, 20, 1}, {5, 5, 1}, {30, 40, 1}, {0, 0, 1}});
    // Mark record 2 deleted and blank the X field of record 4.
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char h[12];
    f.read(reinterpret_cast<char*>(h), 12);
    const int headerLen = h[8] | (h[9] << 8);
    const int recordLen = h[10] | (h[11] << 8);
    f.seekp(headerLen + recordLen * 1);
    f.put('*');
    f.seekp(headerLen + recordLen * 3 + 1);
    f << std::string(14, ' ');
    f.close();
    TExtremwerte e = ReadExtremwerte(path);
    ExpectBox(e, 10, 30, 20, 40);
    EXPECT_EQ(e.Read, 3u);
    EXPECT_EQ(e.Accepted, 2u);
}

TEST_F(ExtentTest, BrokenDbaseTableIsAnError) {
    // Signature of a level 3 table but no valid header: the scan ends with an error.
    const std::string path = Text("broken.dbf", std::string("\x03\x68\x01\x01\xFF\xFF\xFF\x7F", 8));
    EXPECT_ANY_THROW(ReadExtremwerte(path));
}

TEST_F(ExtentTest, TableWrittenByShapelib) {
    const std::string path = P("peer.dbf");
    const std::string cmd = "dbfcreate " + path + " -n X 14 5 -n Y 14 5 -n Z 14 5 >/dev/null && "
                            "dbfadd " + path + " 3566000.5 5936000 12 >/dev/null && "
                            "dbfadd " + path + " 3567000 5935000.75 13 >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "shapelib's dbfcreate/dbfadd are needed";
    TExtremwerte e = ReadExtremwerte(path);
    EXPECT_TRUE(e.Dbase);
    ExpectBox(e, 3566000.5, 3567000, 5935000.75, 5936000);
}

}  // namespace
