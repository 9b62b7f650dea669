// Malformed tables fail with the layer's message and never make it read outside the file.
#include <functional>
#include <random>

#include "dbf_helpers.h"
#include "formats/DbfFile.h"
#include "tools/Errors.h"

using namespace tervalo;
using namespace dbftest;

namespace {

// Opens and walks the table; returns the message of the failure, "" when it worked.
std::string TryRead(const std::string& path) {
    try {
        TDbfFile dbf;
        dbf.OpenRead(path);
        for (dbf.First(); !dbf.AtEnd(); dbf.Next())
            for (int i = 0; i < dbf.FieldCount() && i < 3; ++i) (void)dbf.FieldAsNumber(i);
        dbf.Close();
        return "";
    } catch (const ESilentAbort&) {
        return "<silent>";
    } catch (const EDbfError& e) {
        return e.what();
    }
}

Bytes Good() { return MakeTable(Xyz(), {Rec3("1", "2", "3"), Rec3("4", "5", "6")}); }

}  // namespace

TEST(DbfMalformed, HeaderValuesAreCheckedBeforeUse) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    struct Case {
        const char* what;
        std::function<void(Bytes&)> spoil;
        const char* message;
    };
    const char* invalid = "Invalid DBF file.";
    std::vector<Case> cases = {
        {"intact", [](Bytes&) {}, ""},
        {"empty file", [](Bytes& b) { b.clear(); }, invalid},
        {"truncated header", [](Bytes& b) { b.resize(20); }, invalid},
        {"main header only", [](Bytes& b) { b.resize(32); }, invalid},
        {"header cut inside the descriptors", [](Bytes& b) { b.resize(100); }, invalid},
        {"header length beyond the file", [](Bytes& b) { Put16(b, 8, 5000); }, invalid},
        {"header length 65535", [](Bytes& b) { Put16(b, 8, 0xFFFF); }, invalid},
        {"header length below one descriptor", [](Bytes& b) { Put16(b, 8, 32); }, invalid},
        {"header length 0", [](Bytes& b) { Put16(b, 8, 0); }, "<silent>"},
        {"record length 0", [](Bytes& b) { Put16(b, 10, 0); }, "<silent>"},
        {"record length shorter than the fields", [](Bytes& b) { Put16(b, 10, 42); }, invalid},
        {"field beyond the record", [](Bytes& b) { b[96 + 16] = 200; }, invalid},
        {"empty field name", [](Bytes& b) { b[64] = 0; }, invalid},
        {"unknown type letter", [](Bytes& b) { b[32 + 11] = 'Q'; }, invalid},
        {"lower-case type letter reads as upper case", [](Bytes& b) { b[32 + 11] = 'n'; }, ""},
        {"absurd record length", [](Bytes& b) { Put16(b, 10, 0xFFFF); }, ""},
        {"huge record count", [](Bytes& b) { Put32(b, 4, 0xFFFFFFFF); }, ""},
        {"level-3 layout marked as level 7", [](Bytes& b) { b[0] = 0x04; }, invalid},
        {"descriptor list without end mark", [](Bytes& b) { b[128] = 'A'; }, ""},
        {"end mark early", [](Bytes& b) { b[64] = 0x0D; }, ""},
    };
    for (const auto& c : cases) {
        Bytes b = Good();
        c.spoil(b);
        WriteBytes(path, b);
        EXPECT_EQ(TryRead(path), c.message) << c.what;
    }
}

TEST(DbfMalformed, OddButSafeTablesReadConsistently) {
    TempDir dir;
    std::string path = dir / "t.dbf";
    Bytes b = Good();
    b[64] = 0x0D;  // descriptor list ends after X
    WriteBytes(path, b);
    TDbfFile dbf;
    dbf.OpenRead(path);
    EXPECT_EQ(dbf.FieldCount(), 1);
    EXPECT_THROW(dbf.FieldAsNumber(1), EDbfError);  // too few fields for a reader of X, Y, Z

    b = Good();
    Put16(b, 10, 0xFFFF);  // one giant record length: no whole record in the file
    WriteBytes(path, b);
    dbf.OpenRead(path);
    EXPECT_EQ(dbf.RecordCount(), 0u);
    dbf.First();
    EXPECT_TRUE(dbf.AtEnd());
}

TEST(DbfMalformed, ThousandsOfDescriptors) {
    TempDir dir;
    std::vector<Field> fields;
    for (int i = 0; i < 2000; ++i) fields.push_back({"F" + std::to_string(i), 'N', 1, 0});
    std::string rec(2001, '7');
    rec[0] = ' ';
    WriteBytes(dir / "wide.dbf", MakeTable(fields, {rec, rec}));
    TDbfFile dbf;
    dbf.OpenRead(dir / "wide.dbf");
    EXPECT_EQ(dbf.FieldCount(), 2000);
    EXPECT_EQ(dbf.Fields().back().Offset, 2000);
    dbf.First();
    EXPECT_EQ(*dbf.FieldAsNumber(2), 7.0);

    // As many descriptors as the header can name, each claiming 255 bytes.
    fields.clear();
    for (int i = 0; i < 2046; ++i) fields.push_back({"F", 'C', 255, 0});
    Bytes b = MakeTable(fields, {});
    Put16(b, 10, 0xFFFF);
    WriteBytes(dir / "many.dbf", b);
    EXPECT_EQ(TryRead(dir / "many.dbf"), "Invalid DBF file.");
}

TEST(DbfMalformed, RandomDamageNeverCrashes) {
    // Every outcome is allowed except a crash or a sanitizer report.
    TempDir dir;
    std::string path = dir / "t.dbf";
    std::mt19937 rng(12345);
    Bytes good = Good();
    int opened = 0, refused = 0;
    for (int round = 0; round < 600; ++round) {
        Bytes b = good;
        int kind = round % 3;
        if (kind == 0) {
            for (int k = 0; k < 4; ++k) b[rng() % 40] = static_cast<uint8_t>(rng());
        } else if (kind == 1) {
            for (int k = 0; k < 8; ++k) b[rng() % b.size()] = static_cast<uint8_t>(rng());
            b.resize(rng() % (b.size() + 1));
        } else {
            b.resize(rng() % 400);
            for (auto& c : b) c = static_cast<uint8_t>(rng());
            if (!b.empty()) b[0] = (rng() & 1) ? 0x03 : 0x04;
        }
        WriteBytes(path, b);
        try {
            (TryRead(path).empty() ? opened : refused)++;
        } catch (const EInOutError&) {
            ++refused;
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 200);
}
