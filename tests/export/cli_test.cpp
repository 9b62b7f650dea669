// tervalo-cli export and convert, run as a separate program.
#include <gtest/gtest.h>

#include "config/Konf.h"
#include "tests/export/RunFixture.h"

namespace tervalo::test {
namespace {

ShellResult Cli(const std::string& args) {
    return Shell(std::string(TERVALO_BIN_DIR) + "/tervalo-cli " + args);
}

std::string Q(const std::string& s) { return Quote(s); }

class CliTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string konf;

    void SaveKonf(const TDateien& cat, int level = 3) {
        TSettings s;
        s.DBFVersion = level;
        konf = dir / "t.KNF";
        KonfSave(konf, s, cat, nullptr);
    }
};

TEST_F(CliTest, ExportPrintsTheLogAndSucceeds) {
    TDateien cat;
    std::string a = dir / "a.xyz", b = dir / "b.xyz";
    WriteXyzTile(a, Grid(-10, -10, 5));
    WriteXyzTile(b, Grid(-8, -10, 5));
    AddEntry(cat, a, Grid(-10, -10, 5));
    AddEntry(cat, b, Grid(-8, -10, 5));
    SaveKonf(cat, 7);
    std::string out = dir / "o.dbf";
    // Negative bounds are taken as numbers, not as options.
    ShellResult r = Cli("export -10 -7 -10 -9 " + Q(out) + " --format dbf --konf " + Q(konf));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "Beginn der Konvertierung\nAusgabeformat: dBase\nDatei: " + out +
                         "\nLese Datei 1: " + a + "\n8 Werte aus Datei: a.xyz exportiert\nLese Datei 2: " +
                         b + "\n0 Werte aus Datei: b.xyz exportiert\nKonvertierung abgeschlossen\n"
                         "8 Werte insgesamt exportiert\n4 doppelte Werte nicht exportiert\n");
    std::string o = ReadAll(out);
    ASSERT_FALSE(o.empty());
    EXPECT_EQ(o[0], 0x04);  // the configured level 7
    EXPECT_EQ(ReadDbf(out).size(), 8u);

    r = Cli("export -10 -7 -10 -9 " + Q(dir / "o.csv") + " --format csv --konf " + Q(konf));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(Lines(ReadAll(dir / "o.csv")).at(0), "X;Y;Z");
    EXPECT_EQ(Lines(ReadAll(dir / "o.csv")).at(1), "-10.000;-10.000;100.000");
}

TEST_F(CliTest, ExportFailureGivesExitCodeOne) {
    TDateien cat;
    AddEntry(cat, dir / "fehlt.xyz", 0, 10, 0, 10);
    SaveKonf(cat);
    ShellResult r = Cli("export 0 10 0 10 " + Q(dir / "o.xyz") + " --konf " + Q(konf));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Datei I/O-Fehler: " + dir / "fehlt.xyz\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nFehler bei Konvertierung aufgetreten\n"), std::string::npos);

    r = Cli("export 0 10 0 10 " + Q(dir / "o.xyz") + " --konf " + Q(dir / "nichtda.KNF"));
    EXPECT_EQ(r.code, 1);
    r = Cli("export 0 10 0 10 " + Q(dir / "o.xyz") + " --format shp --konf " + Q(konf));
    EXPECT_NE(r.code, 0);
}

TEST_F(CliTest, ConvertBothWays) {
    std::string src = dir / "t.xyz";
    WriteAll(src, "X Y Z\r\n1 2 3\r\n1 2 4\r\n5 6 7\r\n");
    ShellResult r = Cli("convert " + Q(src) + " " + Q(dir / "t.dbf") + " --level 4");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "Werte \xC3\xBC" "bernommen: 2\nWerte nicht \xC3\xBC" "bernommen: 1\n");
    std::string t = ReadAll(dir / "t.dbf");
    ASSERT_EQ(t.size(), 130u + 2 * 43);
    EXPECT_NE(t[29], 0);  // level 4 carries a language driver

    r = Cli("convert " + Q(dir / "t.dbf") + " " + Q(dir / "back.csv") + " --format csv");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(Lines(ReadAll(dir / "back.csv")).size(), 3u);
    r = Cli("convert " + Q(dir / "t.dbf") + " " + Q(dir / "back.xyz"));
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(ReadXyz(dir / "back.xyz").size(), 2u);

    // The direction follows the source: no dBase to dBase, no text to text.
    EXPECT_EQ(Cli("convert " + Q(dir / "t.dbf") + " " + Q(dir / "x.dbf") + " --format dbf").code, 2);
    EXPECT_EQ(Cli("convert " + Q(src) + " " + Q(dir / "x.xyz") + " --format xyz").code, 2);
    EXPECT_EQ(Cli("convert " + Q(dir / "fehlt.xyz") + " " + Q(dir / "x.dbf")).code, 1);
}

}  // namespace
}  // namespace tervalo::test
