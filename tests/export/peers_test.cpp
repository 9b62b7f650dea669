// Outputs read back by independent programs, and sources written by them. A missing peer
// fails the test.
#include <gtest/gtest.h>

#include "tests/export/run_fixture.h"

namespace tervalo::test {
namespace {

bool Have(const std::string& tool) { return Shell("command -v " + tool).code == 0; }

class PeerTest : public ::testing::Test {
protected:
    TempDir dir;
    TDateien cat;

    TExportErgebnis Export(const std::string& out, const TAusgabe& f, TExportGrenzen b = {0, 1e7, 0, 1e7}) {
        ScriptedExportObserver o;
        return ExportRun(cat, b, out, f, EveryLine(), o);
    }
};

const std::vector<Pt> kPts = {{3566000.0, 5936000.0, 98.991}, {3566001.5, 5936000.25, -3.25},
                              {3566000.0, 5936000.0, 7.0}, {4512345.678, 5999999.999, 1234.5}};

TEST_F(PeerTest, GdalReadsOurTablesAndCsv) {
    ASSERT_TRUE(Have("ogrinfo")) << "GDAL ogrinfo (gdal-bin) is needed";
    std::string src = dir / "src.xyz";
    WriteXyzTile(src, kPts);
    AddEntry(cat, src, kPts);
    for (int level : {3, 4}) {
        std::string out = dir / ("o" + std::to_string(level) + ".dbf");
        ASSERT_EQ(Export(out, {TAusgabeFormat::DBase, level}).Total, 3);
        ShellResult r = Shell("ogrinfo -ro -al -q " + Quote(out));
        ASSERT_EQ(r.code, 0) << r.out;
        EXPECT_NE(r.out.find("X (Real) = 3566001.50000"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Y (Real) = 5936000.25000"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Z (Real) = -3.25000"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("X (Real) = 4512345.67800"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("OGRFeature(o" + std::to_string(level) + "):3"), std::string::npos);
        EXPECT_NE(Shell("ogrinfo -ro -so -al " + Quote(out)).out.find("Feature Count: 3"),
                  std::string::npos);
    }
    std::string csv = dir / "o.csv";
    Export(csv, {TAusgabeFormat::Csv, 3});
    ShellResult r = Shell("ogrinfo -ro -al -q " + Quote(csv));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("Z (String) = -3.250"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("X (String) = 4512345.678"), std::string::npos) << r.out;
}

TEST_F(PeerTest, PythonDbfAndShapelibReadOurLevelThreeTable) {
    ASSERT_TRUE(Have("/usr/bin/python3") && Shell("/usr/bin/python3 -c 'import dbf'").code == 0)
        << "python3-dbf is needed";
    ASSERT_TRUE(Have("dbfdump")) << "shapelib (dbfdump) is needed";
    std::string src = dir / "src.xyz";
    WriteXyzTile(src, kPts);
    AddEntry(cat, src, kPts);
    std::string out = dir / "o.dbf";
    Export(out, {TAusgabeFormat::DBase, 3});
    ShellResult r = Shell("/usr/bin/python3 -c \"import dbf; t = dbf.Table('" + out +
                          "'); t.open(); print(t.field_names, len(t)); "
                          "[print(repr(tuple(x))) for x in t]\"");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out,
              "['x', 'y', 'z'] 3\n(3566000.0, 5936000.0, 98.991)\n(3566001.5, 5936000.25, -3.25)\n"
              "(4512345.678, 5999999.999, 1234.5)\n");
    r = Shell("dbfdump " + Quote(out));
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find(" 4512345.67800  5999999.99900     1234.50000"), std::string::npos) << r.out;
}

TEST_F(PeerTest, TablesWrittenByPeersAreSources) {
    ASSERT_TRUE(Have("ogr2ogr")) << "GDAL ogr2ogr (gdal-bin) is needed";
    ASSERT_TRUE(Have("dbfcreate") && Have("dbfadd")) << "shapelib is needed";
    ASSERT_TRUE(Shell("/usr/bin/python3 -c 'import dbf'").code == 0) << "python3-dbf is needed";
    // GDAL: numeric fields N 24.15, language driver byte 0x57.
    WriteAll(dir / "p.csv", "X,Y,Z\n1.5,2.5,3.5\n1.5,2.5,9\n4,5,6\n");
    ShellResult r = Shell("cd " + Quote(dir.Path()) +
                          " && ogr2ogr -f 'ESRI Shapefile' gdal.dbf p.csv -oo AUTODETECT_TYPE=YES");
    ASSERT_EQ(r.code, 0) << r.out;
    // shapelib: a table of its own making.
    r = Shell("cd " + Quote(dir.Path()) +
              " && dbfcreate shp -n X 14 5 -n Y 14 5 -n Z 14 5 && dbfadd shp.dbf 4 5 60"
              " && dbfadd shp.dbf 7 8 9");
    ASSERT_EQ(r.code, 0) << r.out;
    // python3-dbf: a deleted record marked with '*'.
    r = Shell("cd " + Quote(dir.Path()) +
              " && /usr/bin/python3 -c \"import dbf; t = dbf.Table('py.dbf', 'X N(14,5); Y N(14,5); "
              "Z N(14,5)', dbf_type='db3'); t.open(dbf.READ_WRITE); t.append((10, 11, 12)); "
              "t.append((13, 14, 15)); dbf.delete(t[0]); t.close()\"");
    ASSERT_EQ(r.code, 0) << r.out;
    for (const char* name : {"gdal.dbf", "shp.dbf", "py.dbf"}) AddEntry(cat, dir / name, 0, 20, 0, 20);
    std::string before = ReadAll(dir / "gdal.dbf");
    std::string out = dir / "o.xyz";
    ScriptedExportObserver o;
    TExportErgebnis res = ExportRun(cat, {0, 20, 0, 20}, out, {TAusgabeFormat::Xyz, 3}, EveryLine(), o);
    EXPECT_FALSE(res.Error);
    EXPECT_EQ(res.Total, 4);
    EXPECT_EQ(res.Duplicates, 2);  // 1.5/2.5 inside GDAL's table, 4/5 across tables
    EXPECT_EQ(ReadAll(out), XyzLine(1.5, 2.5, 3.5) + "\r\n" + XyzLine(4, 5, 6) + "\r\n" +
                                XyzLine(7, 8, 9) + "\r\n" + XyzLine(13, 14, 15) + "\r\n");
    EXPECT_EQ(ReadAll(dir / "gdal.dbf"), before);
}

}  // namespace
}  // namespace tervalo::test
