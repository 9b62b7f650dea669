// Creating and appending dBase tables: exact bytes, sizes, language drivers, field texts.
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <ctime>
#include <random>

#include "dbf_helpers.h"
#include "formats/DbfFile.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"

using namespace tervalo;
using namespace dbftest;

namespace {

const TSpracheinstellung kGerman{1252, 0x0407};
const TSpracheinstellung kUs{1252, 0x0409};

// A table without records, made the way a run makes one: in a safe file, committed once closed.
void CreateEmpty(TDbfFile& dbf, const std::string& path, int level,
                 std::vector<TDbfFieldDef> fields = XyzFieldDefs()) {
    TSichereDatei file(path);
    dbf.CreateTable(file, level, std::move(fields));
    dbf.Close();
    file.Commit();
}

Bytes Create(const std::string& path, int level, TSpracheinstellung lang = kGerman) {
    TDbfFile dbf;
    dbf.Language = lang;
    CreateEmpty(dbf, path, level);
    return ReadBytes(path);
}

// The three-field table of the documented example, date bytes left 0.
Bytes ExpectedLevel34(uint8_t byte29) {
    Bytes b(130, 0);
    const uint8_t head[] = {0x03, 0, 0, 0, 0, 0, 0, 0, 0x81, 0x00, 0x2B, 0x00};
    std::memcpy(b.data(), head, sizeof head);
    b[29] = byte29;
    for (int i = 0; i < 3; ++i) {
        size_t at = 32 + 32 * static_cast<size_t>(i);
        b[at] = static_cast<uint8_t>("XYZ"[i]);
        b[at + 11] = 'N';
        b[at + 16] = 0x0E;
        b[at + 17] = 0x05;
    }
    b[128] = 0x0D;
    b[129] = 0x1A;
    return b;
}

Bytes ExpectedLevel7(const std::string& driverName) {
    Bytes b(214, 0);
    b[0] = 0x04;
    b[8] = 0xD5;
    b[10] = 0x2B;
    std::memcpy(&b[32], driverName.data(), driverName.size());
    for (int i = 0; i < 3; ++i) {
        size_t at = 68 + 48 * static_cast<size_t>(i);
        b[at] = static_cast<uint8_t>("XYZ"[i]);
        b[at + 32] = 'N';
        b[at + 33] = 0x0E;
        b[at + 34] = 0x05;
    }
    b[212] = 0x0D;
    b[213] = 0x1A;
    return b;
}

// Compares all bytes except the date (1..3), which must be today's.
void ExpectTableBytes(Bytes actual, const Bytes& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    std::time_t now = std::time(nullptr);
    std::tm lt{};
    localtime_r(&now, &lt);
    EXPECT_EQ(actual[1], lt.tm_year & 0xFF);
    EXPECT_EQ(actual[2], lt.tm_mon + 1);
    EXPECT_EQ(actual[3], lt.tm_mday);
    actual[1] = actual[2] = actual[3] = 0;
    for (size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
}

}  // namespace

TEST(DbfCreate, EmptyTablesAtEachLevelHaveTheDocumentedBytes) {
    TempDir dir;
    ExpectTableBytes(Create(dir / "l3.dbf", 3), ExpectedLevel34(0x00));
    ExpectTableBytes(Create(dir / "l4.dbf", 4), ExpectedLevel34(0x61));
    ExpectTableBytes(Create(dir / "l7.dbf", 7), ExpectedLevel7("DBWINDE"));
    // US English: the locale-only search gives 0x37.
    ExpectTableBytes(Create(dir / "u4.dbf", 4, kUs), ExpectedLevel34(0x37));
    ExpectTableBytes(Create(dir / "u7.dbf", 7, kUs), ExpectedLevel7("DB850US0"));
}

TEST(DbfCreate, LevelDecidesVersionOnReopening) {
    TempDir dir;
    Create(dir / "l3.dbf", 3);
    Create(dir / "l4.dbf", 4);
    Create(dir / "l7.dbf", 7);
    // A locale without any driver gives byte 29 = 0, so level 4 reads as dBase III.
    Bytes none = Create(dir / "n4.dbf", 4, {1252, 0x0C0A});
    EXPECT_EQ(none[29], 0);
    TDbfFile dbf;
    dbf.OpenRead(dir / "l3.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase3);
    dbf.OpenRead(dir / "l4.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase4);
    dbf.OpenRead(dir / "l7.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase7);
    ASSERT_EQ(dbf.FieldCount(), 3);
    EXPECT_EQ(dbf.Fields()[2].FieldName, "Z");
    EXPECT_EQ(dbf.Fields()[2].Offset, 29);
    dbf.OpenRead(dir / "n4.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase3);
}

TEST(DbfCreate, OtherLevelsKeepThePreviousOne) {
    TempDir dir;
    TDbfFile dbf;
    dbf.Language = kGerman;
    CreateEmpty(dbf, dir / "a.dbf", 7);
    CreateEmpty(dbf, dir / "b.dbf", 25);
    CreateEmpty(dbf, dir / "c.dbf", 5);
    EXPECT_EQ(ReadBytes(dir / "b.dbf").size(), 214u);
    EXPECT_EQ(ReadBytes(dir / "c.dbf")[0], 0x04);
    TDbfFile fresh;
    CreateEmpty(fresh, dir / "d.dbf", 0);
    EXPECT_EQ(ReadBytes(dir / "d.dbf").size(), 130u);
}

TEST(DbfCreate, FieldDefinitionsAreNormalisedAndNamesCut) {
    TDbfFieldDef f;
    f.Set('n', 30, 25);
    EXPECT_EQ(f.NativeFieldType, 'N');
    EXPECT_EQ(f.Size, 20);
    EXPECT_EQ(f.Precision, 18);
    f.Set('F', 0, -3);
    EXPECT_EQ(f.Size, 1);
    EXPECT_EQ(f.Precision, 0);

    TempDir dir;
    std::vector<TDbfFieldDef> defs(2);
    defs[0].FieldName = "rechtswert_lang";
    defs[0].Set('N', 14, 5);
    defs[1].FieldName = std::string(40, 'h');
    defs[1].Set('N', 12, 3);
    TDbfFile dbf;
    CreateEmpty(dbf, dir / "a.dbf", 3, defs);
    CreateEmpty(dbf, dir / "b.dbf", 7, defs);
    dbf.OpenRead(dir / "a.dbf");
    EXPECT_EQ(dbf.Fields()[0].FieldName, "RECHTSWERT");
    EXPECT_EQ(dbf.Fields()[1].FieldName, std::string(10, 'H'));
    dbf.OpenRead(dir / "b.dbf");
    EXPECT_EQ(dbf.Fields()[0].FieldName, "RECHTSWERT_LANG");
    EXPECT_EQ(dbf.Fields()[1].FieldName, std::string(31, 'H'));
    EXPECT_EQ(dbf.Fields()[1].Size, 12);
    EXPECT_EQ(dbf.Fields()[1].Precision, 3);
    EXPECT_THROW(CreateEmpty(dbf, dir / "none.dbf", 3, {}), EDbfError);
}

TEST(DbfCreate, LanguageDriverSearch) {
    EXPECT_EQ(CreationLanguageDriver(1252, 0x0407), 0x61);
    EXPECT_EQ(CreationLanguageDriver(1252, 0x0409), 0x37);
    EXPECT_EQ(CreationLanguageDriver(1252, 0x0809), 0x58);  // dBase ids win over FoxPro ids
    EXPECT_EQ(CreationLanguageDriver(437, 0x0407), 0x0F);
    EXPECT_EQ(CreationLanguageDriver(1250, 0x0405), 0xC8);  // the last match wins
    EXPECT_EQ(CreationLanguageDriver(1252, 0x10407), 0x61);  // only the lower 16 bits count
    EXPECT_EQ(CreationLanguageDriver(1252, 0x0C0A), 0);
    EXPECT_EQ(LanguageDriverName(0x61), "DBWINDE");
    EXPECT_EQ(LanguageDriverName(0x37), "DB850US0");
    EXPECT_EQ(LanguageDriverName(0x58), "DBWINWE0");
    EXPECT_EQ(LanguageDriverName(0x8E), "BGDB868");
    EXPECT_EQ(LanguageDriverName(0x9C), "DB850");
    EXPECT_EQ(LanguageDriverName(0), "");

    EXPECT_EQ(LocaleIdFromName("de_DE.UTF-8"), 0x0407);
    EXPECT_EQ(LocaleIdFromName("de_AT.UTF-8@euro"), 0x0C07);
    EXPECT_EQ(LocaleIdFromName("de_CH"), 0x0807);
    EXPECT_EQ(LocaleIdFromName("en_US.UTF-8"), 0x0409);
    EXPECT_EQ(LocaleIdFromName("en-GB"), 0x0809);
    EXPECT_EQ(LocaleIdFromName("fr_FR"), 0x040C);
    EXPECT_EQ(LocaleIdFromName("it_IT"), 0x0410);
    EXPECT_EQ(LocaleIdFromName("nl_NL"), 0x0413);
    EXPECT_EQ(LocaleIdFromName("fr_XX"), 0x040C);
    EXPECT_EQ(LocaleIdFromName("C"), 0x0407);
    EXPECT_EQ(LocaleIdFromName("C.UTF-8"), 0x0407);
    EXPECT_EQ(LocaleIdFromName(""), 0x0407);
    EXPECT_EQ(LanguageFromLocaleName("en_US.UTF-8").CodePage, 1252);
}

TEST(DbfCreate, NumericFieldText) {
    EXPECT_EQ(NumericFieldText(4512345.678, 14, 5), " 4512345.67800");
    EXPECT_EQ(NumericFieldText(-0.5, 14, 5), "      -0.50000");
    EXPECT_EQ(NumericFieldText(-12345678.123456, 14, 5), "-12345678.1234");
    EXPECT_EQ(NumericFieldText(0.0, 14, 5), "       0.00000");
    EXPECT_EQ(NumericFieldText(-0.0000001, 14, 5), "       0.00000");
    EXPECT_EQ(NumericFieldText(0.000005, 14, 5), "       0.00001");  // a half rounds away from 0
    EXPECT_EQ(NumericFieldText(-0.000005, 14, 5), "      -0.00001");
    EXPECT_EQ(NumericFieldText(2.5, 4, 0), "   3");
    EXPECT_EQ(NumericFieldText(-2.5, 4, 0), "  -3");
    EXPECT_EQ(NumericFieldText(999999.999996, 14, 5), " 1000000.00000");
    EXPECT_EQ(NumericFieldText(98.991, 14, 5), "      98.99100");
    EXPECT_EQ(NumericFieldText(1.005, 14, 2), "          1.00");  // binary 1.00499999...
    // Rounded first, then cut to the field length.
    EXPECT_EQ(NumericFieldText(0.1234567890123456, 8, 7), "0.123456");
    EXPECT_EQ(NumericFieldText(1234.56789, 6, 3), "1234.5");
    EXPECT_EQ(NumericFieldText(12345678.9, 20, 0), "            12345679");
    EXPECT_EQ(NumericFieldText(std::nan(""), 14, 5), std::string(14, ' '));
    EXPECT_EQ(NumericFieldText(INFINITY, 14, 5), std::string(14, ' '));
}

TEST(DbfCreate, NumericFieldTextNeverLosesLeadingDigits) {
    // More digits before the point than the field length: scientific notation that fits.
    EXPECT_EQ(NumericFieldText(1e15, 14, 5), "1.00000000E+15");
    EXPECT_EQ(NumericFieldText(123456789012345678.0, 14, 5), "1.23456789E+17");
    // A sign that would push the integer part out of the field.
    EXPECT_EQ(NumericFieldText(-12345678901234.0, 14, 5), "-1.2345679E+13");
    EXPECT_EQ(NumericFieldText(-1e300, 14, 5), "-1.000000E+300");
    EXPECT_EQ(NumericFieldText(12345, 4, 0), "****");
    for (double v : {1e15, -12345678901234.0, 98765432109876543.0, -3.5e200}) {
        std::string t = NumericFieldText(v, 14, 5);
        EXPECT_NEAR(std::strtod(t.c_str(), nullptr) / v, 1.0, 1e-6) << t;
    }
}

TEST(DbfCreate, AppendedRecordsReadBackAndSizesMatch) {
    TempDir dir;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> xs(3500000.0, 3600000.0), zs(-50.0, 3000.0);
    for (int level : {3, 4, 7}) {
        std::string path = dir / ("t" + std::to_string(level) + ".dbf");
        uint32_t head = level == 7 ? 214 : 130;
        TDbfFile dbf;
        CreateEmpty(dbf, path, level);
        for (uint32_t n : {0u, 1u, 2000u}) {  // 2000 crosses the append batch
            TSichereDatei file(path);
            dbf.CreateTable(file, level, XyzFieldDefs());
            EXPECT_EQ(dbf.OpenMode(), TDbfOpenMode::OpenShared);
            EXPECT_FALSE(dbf.IsExclusive());
            std::vector<double> v;
            for (uint32_t i = 0; i < n; ++i) {
                v.insert(v.end(), {xs(rng), xs(rng) + 2000000.0, zs(rng)});
                dbf.AppendRecord(v[3 * i], v[3 * i + 1], v[3 * i + 2]);
            }
            EXPECT_EQ(dbf.RecordCount(), n);
            dbf.Close();
            file.Commit();
            Bytes b = ReadBytes(path);
            ASSERT_EQ(b.size(), head + 43 * n);
            EXPECT_EQ(Get32(b, 4), n);
            EXPECT_EQ(b.back(), 0x1A);

            dbf.OpenRead(path);
            uint32_t i = 0;
            for (dbf.First(); !dbf.AtEnd(); dbf.Next(), ++i) {
                ASSERT_LT(i, n);
                EXPECT_EQ(dbf.RecordNumber(), i + 1);
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(*dbf.FieldAsNumber(k), v[3 * i + static_cast<uint32_t>(k)], 0.5e-5);
            }
            EXPECT_EQ(i, n);
            dbf.Close();
        }
    }
}

TEST(DbfCreate, AppendingAfterReopenContinuesTheTable) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    TDbfFile dbf;
    {
        TSichereDatei file(path);
        dbf.CreateTable(file, 4, XyzFieldDefs());
        dbf.AppendRecord(1, 2, 3);
        dbf.Close();
        file.Commit();
    }
    dbf.OpenShared(path);
    dbf.AppendRecord(4512345.678, 5936000, -0.5);
    // Reading while appending sees the pending record.
    dbf.First();
    dbf.Next();
    ASSERT_FALSE(dbf.AtEnd());
    EXPECT_EQ(*dbf.FieldAsNumber(2), -0.5);
    dbf.Close();
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 130u + 86u);
    EXPECT_EQ(std::string(b.begin() + 129 + 43, b.begin() + 129 + 86),
              "  4512345.67800 5936000.00000      -0.50000");
    EXPECT_EQ(Get32(b, 4), 2u);
}

TEST(DbfCreate, WalkingWhileAppendingSeesEveryRecord) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    TSichereDatei file(path);
    TDbfFile dbf;
    dbf.CreateTable(file, 3, XyzFieldDefs());
    dbf.AppendRecord(1, 1, 1);
    dbf.First();
    for (int i = 2; i <= 3000; ++i) dbf.AppendRecord(i, i, i);
    int seen = 1;
    for (dbf.Next(); !dbf.AtEnd(); dbf.Next()) EXPECT_EQ(*dbf.FieldAsNumber(0), ++seen);
    EXPECT_EQ(seen, 3000);
    EXPECT_EQ(dbf.RecordCount(), 3000u);
    dbf.Close();
    file.Commit();
    EXPECT_EQ(ReadBytes(path).size(), 130u + 43u * 3000u);
}

TEST(DbfCreate, AppendNeedsATableOpenForWriting) {
    TempDir dir;
    TDbfFile dbf;
    EXPECT_THROW(dbf.AppendRecord(1, 2, 3), EDbfError);
    CreateEmpty(dbf, dir / "t.dbf", 3);
    dbf.OpenRead(dir / "t.dbf");
    EXPECT_THROW(dbf.AppendRecord(1, 2, 3), EDbfError);
    dbf.Close();
    EXPECT_EQ(ReadBytes(dir / "t.dbf").size(), 130u);
}

TEST(DbfCreate, FileErrorsCarryTheFileErrorText) {
    TempDir dir;
    TDbfFile dbf;
    try {
        CreateEmpty(dbf, dir / "missing/t.dbf", 3);
        FAIL() << "no error";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(e.Errno(), ENOENT);
        EXPECT_EQ(std::string(e.what()), "Ordner nicht gefunden: " + dir / "missing");
    }
    try {
        dbf.OpenShared(dir / "none.dbf");
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 2);
    }
    EXPECT_THROW(dbf.OpenRead(dir.Path()), EInOutError);  // a folder
    EXPECT_FALSE(dbf.IsOpen());
}

namespace {

// Limits the size of files this process writes, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit r = old_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    sighandler_t old_handler_;
};

}  // namespace

TEST(DbfCreate, FailedCreateLeavesNoFile) {
    TempDir dir;
    TDbfFile dbf;
    WriteBytes(dir / "old.dbf", {'o', 'l', 'd'});
    {
        FileSizeLimit limit(100);
        for (const char* name : {"t.dbf", "old.dbf"}) {
            try {
                CreateEmpty(dbf, dir / name, 3);
                FAIL() << "no error";
            } catch (const EDbfError& e) {
                EXPECT_STREQ(e.what(), "Error while writing occurred. (Disk full?)");
            }
        }
    }
    // Neither a new file nor a half table replaced the old one; no temporary file is left.
    EXPECT_EQ(ReadBytes(dir / "old.dbf"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    // Only regular files are replaced: a FIFO stays and nothing blocks.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_THROW(CreateEmpty(dbf, dir / "fifo", 3), EZielAbgelehnt);
    struct stat st {};
    EXPECT_TRUE(::stat((dir / "fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST(DbfCreate, TableInASafeFileReplacesTheTargetOnlyWhenCommitted) {
    TempDir dir;
    const std::string path = dir / "t.dbf";
    WriteBytes(path, {'a', 'l', 't'});
    TDbfFile dbf;
    for (bool commit : {false, true}) {
        TSichereDatei file(path);
        dbf.CreateTable(file, 7, XyzFieldDefs());
        EXPECT_EQ(dbf.Path(), path);
        for (int i = 0; i < 2000; ++i) dbf.AppendRecord(i, i, i);
        dbf.Close();
        EXPECT_EQ(ReadBytes(path), (Bytes{'a', 'l', 't'}));
        if (commit) file.Commit();
    }
    Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 214u + 43u * 2000u);
    EXPECT_EQ(Get32(b, 4), 2000u);
    EXPECT_EQ(b.back(), 0x1A);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(DbfCreate, ACreatedTableIsWhatReadingItBackFinds) {
    // The table keeps the header it made instead of reading it back: its state must be the
    // one opening the file gives, at every level and with and without a language driver.
    TempDir dir;
    std::vector<TDbfFieldDef> defs = XyzFieldDefs();
    defs[1].FieldName = "hochwert_lang";
    defs[2].Set('n', 9, 2);
    int k = 0;
    for (int level : {3, 4, 7})
        for (TSpracheinstellung lang : {kGerman, TSpracheinstellung{1252, 0x0C0A}}) {
            const std::string path = dir / ("t" + std::to_string(++k) + ".dbf");
            TSichereDatei file(path);
            TDbfFile made;
            made.Language = lang;
            made.CreateTable(file, level, defs);
            made.AppendRecord(1.5, 2.25, -3.125);
            made.Close();
            file.Commit();
            TDbfFile read;
            read.OpenRead(path);
            TSichereDatei again(dir / "again.dbf");
            made.CreateTable(again, level, defs);
            EXPECT_EQ(made.TableVersion(), read.TableVersion()) << level;
            EXPECT_EQ(made.Path(), dir / "again.dbf");
            EXPECT_EQ(made.RecordCount(), 0u);
            ASSERT_EQ(made.FieldCount(), read.FieldCount());
            for (int i = 0; i < read.FieldCount(); ++i) {
                const TDbfFieldDef& m = made.Fields()[static_cast<size_t>(i)];
                const TDbfFieldDef& r = read.Fields()[static_cast<size_t>(i)];
                EXPECT_EQ(m.FieldName, r.FieldName);
                EXPECT_EQ(m.NativeFieldType, r.NativeFieldType);
                EXPECT_EQ(m.Size, r.Size);
                EXPECT_EQ(m.Precision, r.Precision);
                EXPECT_EQ(m.Offset, r.Offset);
            }
            read.First();
            ASSERT_FALSE(read.AtEnd());
            EXPECT_EQ(*read.FieldAsNumber(2), -3.13);
            made.Close();
        }
}

TEST(DbfCreate, FailedAppendTakesTheCountBackAndLeavesAConsistentTable) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    TSichereDatei file(path);
    TDbfFile dbf;
    dbf.CreateTable(file, 3, XyzFieldDefs());
    bool failed = false;
    {
        FileSizeLimit limit(130 + 43 * 100);
        try {
            for (int i = 0; i < 5000; ++i) dbf.AppendRecord(i, i, i);
        } catch (const EDbfError& e) {
            failed = true;
            EXPECT_STREQ(e.what(), "Error while writing occurred. (Disk full?)");
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(dbf.RecordCount(), 0u);  // the failed batch is not counted
    dbf.Close();
    file.Commit();
    Bytes b = ReadBytes(path);
    EXPECT_EQ(b.size(), 130u);
    EXPECT_EQ(Get32(b, 4), 0u);
    EXPECT_EQ(b.back(), 0x1A);
    dbf.OpenRead(path);
    EXPECT_EQ(dbf.RecordCount(), 0u);
}
