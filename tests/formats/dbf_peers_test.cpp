// Interoperability with independent dBase readers and writers: GDAL, python3-dbf, shapelib.
// A missing peer is a failure, never a skip.
#include <unistd.h>

#include <array>
#include <cmath>
#include <random>
#include <sstream>

#include "dbf_helpers.h"
#include "formats/DbfFile.h"

using namespace tervalo;
using namespace dbftest;

namespace {

using Rows = std::vector<std::array<double, 3>>;

const char* kPython = "/usr/bin/python3";

void RequireTool(const std::string& path) {
    ASSERT_EQ(access(path.c_str(), X_OK), 0) << "peer not installed: " << path;
}

void RequirePythonDbf() {
    RequireTool(kPython);
    int rc = -1;
    RunCommand(std::string(kPython) + " -c 'import dbf' 2>&1", &rc);
    ASSERT_EQ(rc, 0) << "python3-dbf is not installed for " << kPython;
}

// Values as they are stored: the field text read back.
double Stored(double v) { return std::strtod(NumericFieldText(v, 14, 5).c_str(), nullptr); }

Rows SampleRows(int n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> x(3500000, 3600000), y(5900000, 6000000), z(-20, 2500);
    Rows rows;
    for (int i = 0; i < n; ++i) rows.push_back({x(rng), y(rng), z(rng)});
    rows.push_back({-0.5, 0.0, 12345678.123456});
    return rows;
}

void WriteOurs(const std::string& path, int level, const Rows& rows, TSpracheinstellung lang = {1252, 0x0407}) {
    TSichereDatei file(path);
    TDbfFile dbf;
    dbf.Language = lang;
    dbf.CreateTable(file, level, XyzFieldDefs());
    for (const auto& r : rows) dbf.AppendRecord(r[0], r[1], r[2]);
    dbf.Close();
    file.Commit();
}

Rows ReadOurs(const std::string& path) {
    TDbfFile dbf;
    dbf.OpenRead(path);
    Rows rows;
    for (dbf.First(); !dbf.AtEnd(); dbf.Next())
        rows.push_back({*dbf.FieldAsNumber(0), *dbf.FieldAsNumber(1), *dbf.FieldAsNumber(2)});
    return rows;
}

// Features of `ogrinfo -al`: the values of X, Y and Z in the order of the file.
Rows ReadWithGdal(const std::string& path, int* featureCount) {
    int rc = -1;
    std::string out = RunCommand("ogrinfo -ro -al " + path + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << out;
    Rows rows;
    std::istringstream in(out);
    std::string line;
    *featureCount = -1;
    while (std::getline(in, line)) {
        if (line.rfind("Feature Count: ", 0) == 0) *featureCount = std::stoi(line.substr(15));
        if (line.rfind("OGRFeature", 0) == 0) rows.push_back({NAN, NAN, NAN});
        for (int k = 0; k < 3; ++k) {
            std::string key = std::string("  ") + "XYZ"[k] + " (Real) = ";
            if (line.rfind(key, 0) == 0 && !rows.empty()) rows.back()[static_cast<size_t>(k)] = std::stod(line.substr(key.size()));
        }
    }
    return rows;
}

// Live records as python3-dbf sees them: first line the record count (deleted included).
Rows ReadWithPython(const std::string& path, int* recordCount) {
    std::string script =
        "import dbf,sys\n"
        "t=dbf.Table(sys.argv[1]); t.open(dbf.READ_ONLY)\n"
        "print(len(t))\n"
        "for r in t:\n"
        "    if not dbf.is_deleted(r): print(repr(float(r[0])), repr(float(r[1])), repr(float(r[2])))\n"
        "t.close()\n";
    int rc = -1;
    std::string out = RunCommand(std::string(kPython) + " -c '" + script + "' " + path + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << out;
    std::istringstream in(out);
    *recordCount = -1;
    in >> *recordCount;
    Rows rows;
    double a, b, c;
    while (in >> a >> b >> c) rows.push_back({a, b, c});
    return rows;
}

void ExpectSameRows(const Rows& actual, const Rows& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        for (size_t k = 0; k < 3; ++k) EXPECT_EQ(actual[i][k], expected[i][k]) << "row " << i << " field " << k;
}

}  // namespace

TEST(DbfPeers, GdalReadsOurTables) {
    RequireTool("/usr/bin/ogrinfo");
    TempDir dir;
    Rows rows = SampleRows(300, 1);
    Rows stored;
    for (const auto& r : rows) stored.push_back({Stored(r[0]), Stored(r[1]), Stored(r[2])});
    for (int level : {3, 4}) {
        std::string path = dir / ("ours" + std::to_string(level) + ".dbf");
        WriteOurs(path, level, rows);
        int count = 0;
        Rows seen = ReadWithGdal(path, &count);
        EXPECT_EQ(count, static_cast<int>(rows.size())) << "level " << level;
        ExpectSameRows(seen, stored);
    }
}

TEST(DbfPeers, PythonDbfReadsOurTables) {
    RequirePythonDbf();
    TempDir dir;
    Rows rows = SampleRows(300, 2);
    Rows stored;
    for (const auto& r : rows) stored.push_back({Stored(r[0]), Stored(r[1]), Stored(r[2])});
    for (int level : {3, 4}) {
        std::string path = dir / ("ours" + std::to_string(level) + ".dbf");
        // python3-dbf knows no code page for the German driver 0x61; the US driver 0x37 it knows.
        WriteOurs(path, level, rows, {1252, 0x0409});
        int count = 0;
        Rows seen = ReadWithPython(path, &count);
        EXPECT_EQ(count, static_cast<int>(rows.size())) << "level " << level;
        ExpectSameRows(seen, stored);
    }
}

TEST(DbfPeers, ShapelibDumpsOurTable) {
    RequireTool("/usr/bin/dbfdump");
    TempDir dir;
    WriteOurs(dir / "t.dbf", 4, {{4512345.678, 5936000.0, -0.5}, {1, 2, 3}});
    int rc = -1;
    std::string out = RunCommand("dbfdump " + (dir / "t.dbf") + " 2>&1", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("4512345.67800"), std::string::npos) << out;
    EXPECT_NE(out.find("-0.50000"), std::string::npos) << out;
    EXPECT_NE(out.find("3.00000"), std::string::npos) << out;
}

TEST(DbfPeers, WeReadPythonDbfTablesWithDeletedRecordsAndOtherFieldOrder) {
    RequirePythonDbf();
    TempDir dir;
    std::string path = dir / "py.dbf";
    std::string script =
        "import dbf,sys\n"
        "t=dbf.Table(sys.argv[1], \"Y N(14,5); X N(14,5); Z N(14,5)\", dbf_type=\"db3\")\n"
        "t.open(dbf.READ_WRITE)\n"
        "for i in range(2000): t.append((5936000.0+i, 3566000.0+i*0.5, -1.25*i))\n"
        "for i in (0, 1, 999, 1999): dbf.delete(t[i])\n"
        "t.close()\n";
    int rc = -1;
    std::string out = RunCommand(std::string(kPython) + " -c '" + script + "' " + path + " 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
    TDbfFile dbf;
    dbf.OpenRead(path);
    EXPECT_EQ(dbf.RecordCount(), 2000u);
    EXPECT_EQ(dbf.Fields()[0].FieldName, "Y");
    Rows expected;
    for (int i = 0; i < 2000; ++i)
        if (i != 0 && i != 1 && i != 999 && i != 1999) expected.push_back({5936000.0 + i, 3566000.0 + i * 0.5, -1.25 * i});
    ExpectSameRows(ReadOurs(path), expected);  // by position: Y comes first
    dbf.First();
    EXPECT_EQ(dbf.RecordNumber(), 3u);
}

TEST(DbfPeers, WeReadGdalTablesWithLongNumericFields) {
    RequireTool("/usr/bin/ogr2ogr");
    TempDir dir;
    WriteBytes(dir / "in.csv", {});
    {
        std::ofstream csv(dir / "in.csv");
        csv << "X,Y,Z\n3566000.125,5936000.5,98.991\n-1.5,2e3,0\n12345678.123456789,1,-0.000001\n";
    }
    int rc = -1;
    std::string out = RunCommand("ogr2ogr -f 'ESRI Shapefile' " + (dir / "g.dbf") + " " + (dir / "in.csv") +
                              " -oo AUTODETECT_TYPE=YES 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
    Bytes b = ReadBytes(dir / "g.dbf");
    ASSERT_GT(b.size(), 32u);
    EXPECT_EQ(b[29], 0x57);
    TDbfFile dbf;
    dbf.OpenRead(dir / "g.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase4);
    EXPECT_EQ(dbf.Fields()[0].Size, 24);
    EXPECT_EQ(dbf.Fields()[0].Precision, 15);
    Rows rows = ReadOurs(dir / "g.dbf");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], 3566000.125);
    EXPECT_EQ(rows[0][1], 5936000.5);
    EXPECT_NEAR(rows[0][2], 98.991, 1e-12);
    EXPECT_EQ(rows[1][1], 2000.0);
    EXPECT_NEAR(rows[2][0], 12345678.123456789, 1e-7);
    EXPECT_NEAR(rows[2][2], -0.000001, 1e-15);
}

TEST(DbfPeers, WeReadShapelibTables) {
    RequireTool("/usr/bin/dbfcreate");
    RequireTool("/usr/bin/dbfadd");
    TempDir dir;
    std::string path = dir / "s.dbf";
    int rc = -1;
    std::string out = RunCommand("dbfcreate " + path + " -n X 14 5 -n Y 14 5 -n Z 14 5 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
    Rows expected = {{3566000.5, 5936000.25, 98.991}, {1, 2, 3}, {-7.125, 0, -0.00001}};
    for (const auto& r : expected) {
        std::ostringstream cmd;
        cmd.precision(17);
        cmd << "dbfadd " << path << " " << r[0] << " " << r[1] << " " << r[2] << " 2>&1";
        RunCommand(cmd.str(), &rc);
        ASSERT_EQ(rc, 0);
    }
    Rows rows = ReadOurs(path);
    ExpectSameRows(rows, expected);
}
