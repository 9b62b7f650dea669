// Reading dBase tables: versions, record walk, field values, read-only sources, index files.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "dbf_helpers.h"
#include "filemanager/DbfInfo.h"
#include "formats/DbfFile.h"
#include "tools/Errors.h"

using namespace tervalo;
using namespace dbftest;

namespace {

std::vector<std::optional<double>> Column(TDbfFile& dbf, int field) {
    std::vector<std::optional<double>> v;
    for (dbf.First(); !dbf.AtEnd(); dbf.Next()) v.push_back(dbf.FieldAsNumber(field));
    return v;
}

}  // namespace

TEST(DbfRead, VersionFromTheFirstByte) {
    TempDir dir;
    struct Case {
        uint8_t byte0, byte29;
        TDbfVersion expected;
    } cases[] = {
        {0x03, 0, TDbfVersion::DBase3}, {0x03, 0x57, TDbfVersion::DBase4},
        {0x83, 0, TDbfVersion::DBase3}, {0x8B, 1, TDbfVersion::DBase4},
        {0xFB, 0, TDbfVersion::DBase3},  // the low bits decide before the FoxPro list
        {0x02, 0, TDbfVersion::FoxPro}, {0xF5, 0, TDbfVersion::FoxPro},
        {0x30, 0, TDbfVersion::FoxPro}, {0x31, 3, TDbfVersion::FoxPro},
    };
    for (const auto& c : cases) {
        Bytes b = MakeTable(Xyz(), {Rec3("1", "2", "3")}, c.byte0, c.byte29);
        WriteBytes(dir / "t.dbf", b);
        TDbfFile dbf;
        dbf.OpenRead(dir / "t.dbf");
        EXPECT_EQ(dbf.TableVersion(), c.expected) << int(c.byte0);
        EXPECT_FALSE(dbf.FieldAsNumber(0).has_value()) << "no current record before First";
        dbf.First();
        EXPECT_EQ(dbf.FieldAsNumber(2), 3.0);
    }
    for (uint8_t bad : {0x00, 0x01, 0x06, 0x07, 0x20, 0xFF}) {
        WriteBytes(dir / "t.dbf", MakeTable(Xyz(), {}, bad));
        TDbfFile dbf;
        try {
            dbf.OpenRead(dir / "t.dbf");
            ADD_FAILURE() << "opened version byte " << int(bad);
        } catch (const EDbfError& e) {
            EXPECT_STREQ(e.what(), "Invalid DBF file.");
        }
    }
}

TEST(DbfRead, WalkSkipsDeletedRecordsAndCountsThem) {
    TempDir dir;
    WriteBytes(dir / "t.dbf", MakeTable(Xyz(), {Rec3("1", "1", "1", '*'), Rec3("2", "2", "2"),
                                                Rec3("3", "3", "3", '*'), Rec3("4", "4", "4", '?')}));
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    EXPECT_EQ(dbf.RecordCount(), 4u);
    dbf.First();
    ASSERT_FALSE(dbf.AtEnd());
    EXPECT_EQ(dbf.RecordNumber(), 2u);
    EXPECT_EQ(*dbf.FieldAsNumber(0), 2.0);
    dbf.Next();
    ASSERT_FALSE(dbf.AtEnd());  // any flag other than '*' is live
    EXPECT_EQ(dbf.RecordNumber(), 4u);
    dbf.Next();
    EXPECT_TRUE(dbf.AtEnd());
    EXPECT_EQ(dbf.RecordNumber(), 0u);
    EXPECT_FALSE(dbf.FieldAsNumber(2).has_value());
    dbf.Next();  // harmless at the end
    EXPECT_TRUE(dbf.AtEnd());

    WriteBytes(dir / "d.dbf", MakeTable(Xyz(), {Rec3("1", "1", "1", '*'), Rec3("2", "2", "2", '*')}));
    dbf.OpenRead(dir / "d.dbf");
    EXPECT_EQ(dbf.RecordCount(), 2u);
    dbf.First();
    EXPECT_TRUE(dbf.AtEnd());
}

TEST(DbfRead, WalkAcrossReadBatches) {
    // Odd record length and deleted records around the batch edges.
    TempDir dir;
    std::vector<Field> fields = {{"X", 'N', 17, 3}, {"Y", 'N', 17, 3}, {"Z", 'N', 9, 2}};
    std::vector<std::string> recs;
    std::vector<int> live;
    for (int i = 1; i <= 9000; ++i) {
        bool deleted = i % 1000 < 3 || i % 7 == 0;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%c%17.3f%17.3f%9.2f", deleted ? '*' : ' ', i * 1.5, -i * 0.25, i % 100 * 1.0);
        recs.emplace_back(buf);
        if (!deleted) live.push_back(i);
    }
    WriteBytes(dir / "t.dbf", MakeTable(fields, recs));
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    size_t k = 0;
    for (dbf.First(); !dbf.AtEnd(); dbf.Next(), ++k) {
        ASSERT_LT(k, live.size());
        int i = live[k];
        ASSERT_EQ(dbf.RecordNumber(), static_cast<uint32_t>(i));
        ASSERT_EQ(*dbf.FieldAsNumber(0), i * 1.5);
        ASSERT_EQ(*dbf.FieldAsNumber(1), -i * 0.25);
        ASSERT_EQ(*dbf.FieldAsNumber(2), i % 100);
    }
    EXPECT_EQ(k, live.size());
    // A second walk starts again at the first live record.
    dbf.First();
    EXPECT_EQ(dbf.RecordNumber(), 3u);
}

TEST(DbfRead, FieldValues) {
    TempDir dir;
    std::vector<Field> fields = {{"A", 'N', 10, 3}, {"I", 'N', 4, 0}, {"F", 'F', 10, 2}, {"C", 'C', 8, 0}};
    auto rec = [](const char* a, const char* i, const char* f, const char* c) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " %10s%4s%10s%-8s", a, i, f, c);
        return std::string(buf);
    };
    WriteBytes(dir / "t.dbf", MakeTable(fields, {
        rec("", "", "", ""),                       // blanks only: no value
        rec("  -3.25e2", "12.5", "abc", "42.5"),   // integer field refuses a fraction
        rec("+7.", "-12", " 1.5E+1", "x"),
        rec(".5", "+3", "1e", "-"),
        rec("1 2", "- 1", "1.2.3", "  9 "),
        rec("1e999", "99x", "-", "-0.25"),
    }));
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    using V = std::vector<std::optional<double>>;
    EXPECT_EQ(Column(dbf, 0), (V{std::nullopt, -325.0, 7.0, 0.5, 0.0, 0.0}));
    EXPECT_EQ(Column(dbf, 1), (V{std::nullopt, 0.0, -12.0, 3.0, 0.0, 0.0}));
    EXPECT_EQ(Column(dbf, 2), (V{std::nullopt, 0.0, 15.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(Column(dbf, 3), (V{std::nullopt, 42.5, 0.0, 0.0, 9.0, -0.25}));
    for (int bad : {-1, 4, 1000}) {
        try {
            dbf.FieldAsNumber(bad);
            ADD_FAILURE() << bad;
        } catch (const EDbfError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
}

TEST(DbfRead, StoredFieldLengthsAreUsedAsTheyAre) {
    // GDAL writes N 24.15; a cut to 20 characters would misplace every later field.
    TempDir dir;
    std::vector<Field> fields = {{"X", 'N', 24, 15}, {"Y", 'N', 24, 15}, {"Z", 'N', 24, 15}};
    char buf[128];
    std::snprintf(buf, sizeof buf, " %24.15f%24.15f%24.15f", 3566000.125, 5936000.5, 98.991);
    WriteBytes(dir / "t.dbf", MakeTable(fields, {buf}));
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    EXPECT_EQ(dbf.Fields()[1].Size, 24);
    EXPECT_EQ(dbf.Fields()[1].Precision, 15);
    EXPECT_EQ(dbf.Fields()[2].Offset, 49);
    dbf.First();
    EXPECT_EQ(*dbf.FieldAsNumber(0), 3566000.125);
    EXPECT_EQ(*dbf.FieldAsNumber(1), 5936000.5);
    EXPECT_EQ(*dbf.FieldAsNumber(2), 98.991);
}

TEST(DbfRead, LowerCaseTypeLettersReadAsUpperCase) {
    TempDir dir;
    WriteBytes(dir / "t.dbf", MakeTable({{"x", 'n', 14, 5}, {"y", 'f', 14, 5}, {"z", 'n', 14, 5}},
                                        {Rec3("3566000.125", "5936000.5", "98.25")}));
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    ASSERT_EQ(dbf.Fields().size(), 3u);
    EXPECT_EQ(dbf.Fields()[0].NativeFieldType, 'N');
    EXPECT_EQ(dbf.Fields()[1].NativeFieldType, 'F');
    dbf.First();
    EXPECT_EQ(*dbf.FieldAsNumber(0), 3566000.125);
    EXPECT_EQ(*dbf.FieldAsNumber(2), 98.25);
    // A letter that is no type in either case is still refused.
    WriteBytes(dir / "q.dbf", MakeTable({{"X", 'q', 14, 5}}, {}));
    TDbfFile bad;
    EXPECT_THROW(bad.OpenRead(dir / "q.dbf"), EDbfError);
}

TEST(DbfRead, RecordCountComesFromTheFileSize) {
    TempDir dir;
    Bytes b = MakeTable(Xyz(), {Rec3("1", "1", "1"), Rec3("2", "2", "2"), Rec3("3", "3", "3")});
    Put32(b, 4, 99);
    b.pop_back();                     // no 0x1A
    b.insert(b.end(), 20, ' ');       // and a partial record
    WriteBytes(dir / "t.dbf", b);
    TDbfFile dbf;
    dbf.OpenRead(dir / "t.dbf");
    EXPECT_EQ(dbf.RecordCount(), 3u);
    EXPECT_EQ(Column(dbf, 2).size(), 3u);
    dbf.Close();
    EXPECT_EQ(ReadBytes(dir / "t.dbf"), b);  // nothing corrected in a source

    // A table the program appends to gets the count and the end byte at once.
    dbf.OpenShared(dir / "t.dbf");
    EXPECT_EQ(Get32(ReadBytes(dir / "t.dbf"), 4), 3u);
    dbf.Close();
    Bytes after = ReadBytes(dir / "t.dbf");
    EXPECT_EQ(after[129 + 3 * 43], 0x1A);
}

TEST(DbfRead, SourcesAreNeverWritten) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    Bytes b = MakeTable(Xyz(), {Rec3("1", "2", "3"), Rec3("4", "5", "6")});
    Put32(b, 4, 7);  // a wrong count and a production-index flag without an index file
    b[28] = 1;
    WriteBytes(path, b);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    usleep(20000);
    {
        TDbfFile dbf;
        dbf.OpenRead(path);
        EXPECT_EQ(dbf.OpenMode(), TDbfOpenMode::OpenReadOnly);
        EXPECT_FALSE(dbf.IsExclusive());
        EXPECT_EQ(Column(dbf, 0).size(), 2u);
        dbf.Close();
        dbf.OpenRead(path);  // left open: the destructor closes it
    }
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(path), b);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST(DbfRead, ReadOnlyFileForAnOrdinaryUser) {
    // As another user (root may write anything): reading works, opening for writing does not.
    TempDir dir;
    std::string path = dir / "t.dbf";
    WriteBytes(path, MakeTable(Xyz(), {Rec3("1", "2", "3")}));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        int rc = 0;
        try {
            TDbfFile dbf;
            dbf.OpenRead(path);
            dbf.First();
            if (dbf.AtEnd() || *dbf.FieldAsNumber(2) != 3.0) rc = 11;
            dbf.Close();
        } catch (...) {
            rc = 12;
        }
        try {
            TDbfFile dbf;
            dbf.OpenShared(path);
            rc = rc ? rc : 13;
        } catch (const EInOutError& e) {
            if (e.Code() != 5 && rc == 0) rc = 14;
        }
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DbfRead, ProductionIndexFile) {
    TempDir dir;
    Bytes b = MakeTable(Xyz(), {});
    b[28] = 1;
    WriteBytes(dir / "flag.dbf", b);
    WriteBytes(dir / "flag.mdx", {});
    WriteBytes(dir / "upper.dbf", b);
    WriteBytes(dir / "upper.MDX", {});
    WriteBytes(dir / "noindex.dbf", b);
    WriteBytes(dir / "noflag.dbf", MakeTable(Xyz(), {}));
    WriteBytes(dir / "noflag.mdx", {});
    b[0] = 0xF5;
    WriteBytes(dir / "fox.dbf", b);
    WriteBytes(dir / "fox.mdx", {});

    TDbfFile dbf;
    dbf.OpenRead(dir / "flag.dbf");
    EXPECT_EQ(FindDbfIndexFile(dbf, dir / "flag.dbf"), dir / "flag.mdx");
    EXPECT_EQ(dbf.Path(), dir / "flag.dbf");
    dbf.OpenRead(dir / "upper.dbf");
    EXPECT_EQ(FindDbfIndexFile(dbf, dir / "upper.dbf"), dir / "upper.MDX");
    for (const char* name : {"noindex.dbf", "noflag.dbf", "fox.dbf"}) {
        dbf.OpenRead(dir / name);
        EXPECT_EQ(FindDbfIndexFile(dbf, dir / name), "") << name;
    }
    // Reading looks for no index: the flag stays as stored.
    dbf.OpenRead(dir / "noindex.dbf");
    EXPECT_TRUE(dbf.ProductionIndexFlag());
    // A table written by the program: the flag without an index file is cleared at closing.
    dbf.OpenShared(dir / "noindex.dbf");
    dbf.Close();
    EXPECT_EQ(ReadBytes(dir / "noindex.dbf")[28], 0);
    // With its index beside it, also in upper case, the flag is written back as it was.
    for (const char* name : {"flag.dbf", "upper.dbf"}) {
        dbf.OpenShared(dir / name);
        EXPECT_TRUE(dbf.ProductionIndexFlag()) << name;
        dbf.Close();
        EXPECT_EQ(ReadBytes(dir / name)[28], 1) << name;
    }
    dbf.Close();
    EXPECT_EQ(dbf.OpenMode(), TDbfOpenMode::NotOpen);
    EXPECT_EQ(dbf.Path(), "");
}

TEST(DbfRead, RelativePathIsReportedInFull) {
    TempDir dir;
    WriteBytes(dir / "t.dbf", MakeTable(Xyz(), {}));
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    TDbfFile dbf;
    dbf.OpenRead("./t.dbf");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(dbf.Path(), dir / "t.dbf");
}

TEST(DbfRead, OnlyRegularFilesAreTables) {
    TempDir dir;
    std::string fifo = dir / "pipe.dbf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    TDbfFile dbf;
    try {
        dbf.OpenRead(fifo);  // must neither hang nor read
        FAIL() << "opened a FIFO";
    } catch (const EDbfError& e) {
        EXPECT_STREQ(e.what(), "Invalid DBF file.");
    }
    EXPECT_THROW(dbf.OpenRead("/dev/null"), EDbfError);
}
