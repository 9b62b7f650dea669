// tervalo-cli export and convert, run as a separate program.
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "config/Konf.h"
#include "support/nobody.h"
#include "support/shell.h"
#include "tests/export/run_fixture.h"
#include "tools/SafeWriter.h"

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
        KonfSave(konf, s, cat);
    }
};

// The locales a case runs under (without de_DE.UTF-8 installed, the second run is one in C).
const std::vector<std::string> kLocales{"C", "de_DE.UTF-8"};

// Standard output and standard error apart, under the locale.
ShellResult CliIn(const std::string& lc, const std::string& args) {
    return Shell("LC_ALL=" + lc + " " + TERVALO_BIN_DIR "/tervalo-cli " + args, TStderr::Apart);
}

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

// One catalogue tile missing: the user's file is left as it was, a new target keeps the
// points read before the error.
TEST_F(CliTest, ExportWithAMissingTileLeavesTheUsersFile) {
    TDateien cat;
    const std::string a = dir / "a.xyz";
    WriteXyzTile(a, Grid(0, 0, 3));
    AddEntry(cat, a, Grid(0, 0, 3));
    AddEntry(cat, dir / "fehlt.xyz", 0, 10, 0, 10);
    SaveKonf(cat);
    WriteAll(dir / "keep.xyz", "Daten des Benutzers\r\n");
    for (const std::string& out : {dir / "keep.xyz", dir / "neu.xyz"}) {
        ShellResult r = Cli("export 0 10 0 10 " + Q(out) + " --konf " + Q(konf));
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.out.find("\n!!! ABBRUCH !!!\nDatei I/O-Fehler: " + dir / "fehlt.xyz\n"), std::string::npos) << r.out;
        EXPECT_TRUE(r.out.ends_with("\nFehler bei Konvertierung aufgetreten\n")) << r.out;
    }
    EXPECT_EQ(ReadAll(dir / "keep.xyz"), "Daten des Benutzers\r\n");
    EXPECT_EQ(ReadXyz(dir / "neu.xyz").size(), 9u);
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

TEST_F(CliTest, ADamagedPackedTileEndsTheExportWithExitCodeOne) {
    TDateien cat;
    const std::string a = dir / "a.xyz", b = dir / "b.xyz";
    WriteXyzTile(a, Grid(0, 0, 5));
    WriteXyzTile(b, Grid(0, 0, 50));
    ASSERT_EQ(Shell("gzip -c " + Q(b) + " | head -c 2000 > " + Q(b + ".gz")).code, 0);
    AddEntry(cat, a, Grid(0, 0, 5));
    AddEntry(cat, b + ".gz", Grid(0, 0, 50));
    SaveKonf(cat);
    const std::string out = dir / "o.xyz";
    const ShellResult r = Cli("export 0 100 0 100 " + Q(out) + " --konf " + Q(konf));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\n25 Werte aus Datei: a.xyz exportiert\nLese Datei 2: " + b + ".gz\n!!! ABBRUCH !!!\n"
                         "Datei besch\xC3\xA4" "digt (gzip): " + b + ".gz\nFehler bei Konvertierung aufgetreten\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(ReadXyz(out).size(), 25u);  // none of the damaged tile's points
}

// Bounds take "." or "," in every locale; the log names the target absolute and without
// "..", resolved as the system resolves it.
TEST_F(CliTest, ExportBoundsInEveryLocaleAndTheTargetInFull) {
    locale_t de = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (de == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)";
    ::freelocale(de);
    TDateien cat;
    const std::string a = dir / "a.xyz";
    WriteXyzTile(a, Grid(-10, -10, 5));
    AddEntry(cat, a, Grid(-10, -10, 5));
    SaveKonf(cat);
    fs::create_directories(dir / "sub/tief");
    fs::create_directory_symlink(dir / "sub/tief", dir / "link");
    for (const std::string lc : {"C", "de_DE.UTF-8"}) {
        const std::string run = "cd " + Q(dir.Path()) + " && LC_ALL=" + lc + " " + TERVALO_BIN_DIR "/tervalo-cli export ";
        fs::remove(dir / "o.xyz");
        ShellResult r = Shell(run + "-10,0 -7.5 -10 -9,5 ./sub/../o.xyz --konf t.KNF");
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_NE(r.out.find("\nDatei: " + dir / "o.xyz" + "\nLese Datei 1: " + a + "\n3 Werte aus Datei: a.xyz"),
                  std::string::npos) << r.out;
        EXPECT_EQ(ReadXyz(dir / "o.xyz").size(), 3u);
        // ".." after a link leads out of the link's target, and the log says where.
        r = Shell(run + "-10 -7 -10 -9 link/../l.xyz --konf t.KNF");
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_NE(r.out.find("\nDatei: " + dir / "sub/l.xyz" + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(ReadXyz(dir / "sub/l.xyz").size(), 8u);
        EXPECT_FALSE(fs::exists(dir / "l.xyz"));
        fs::remove(dir / "sub/l.xyz");
    }
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

    // The direction follows the source: no dBase to dBase, no text to CSV.
    EXPECT_EQ(Cli("convert " + Q(dir / "t.dbf") + " " + Q(dir / "x.dbf") + " --format dbf").code, 2);
    r = Cli("convert " + Q(src) + " " + Q(dir / "x.csv") + " --format csv");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Eine Textdatei wird nur in eine dBase-Tabelle (dbf) oder eine XYZ-Datei (xyz) konvertiert.\n");
    EXPECT_FALSE(fs::exists(dir / "x.csv"));
    EXPECT_EQ(Cli("convert " + Q(dir / "fehlt.xyz") + " " + Q(dir / "x.dbf")).code, 1);
}

// Without --format the target's extension names the layout, in any case; another or none
// gives XYZ. An option that the extension contradicts is obeyed, with a warning, but only once
// the target has passed the checks that refuse it.
TEST_F(CliTest, ExportTakesTheFormatFromTheTargetsNameAndWarnsOfWhatCannotWork) {
    TDateien cat;
    const std::string a = dir / "a.xyz";
    WriteXyzTile(a, Grid(0, 0, 3));
    AddEntry(cat, a, Grid(0, 0, 3));
    SaveKonf(cat);
    for (const std::string& lc : kLocales) {
        const auto run = [&](const std::string& target, const std::string& option = "") {
            if (target != a) fs::remove(target);  // each locale writes its own
            return CliIn(lc, "export 0 10 0 10 " + Q(target) + option + " --konf " + Q(konf));
        };
        for (const char* name : {"o.DBF", "o.Csv", "o.txt", "o"}) EXPECT_EQ(run(dir / name).err, "") << name;
        EXPECT_EQ(ReadDbf(dir / "o.DBF").size(), 9u) << lc;
        EXPECT_EQ(Lines(ReadAll(dir / "o.Csv")).at(0), "X;Y;Z") << lc;
        EXPECT_EQ(ReadXyz(dir / "o.txt").size(), 9u) << lc;
        EXPECT_EQ(ReadXyz(dir / "o").size(), 9u) << lc;

        ShellResult r = run(dir / "x.dbf", " --format xyz");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "Warnung: --format xyz widerspricht der Endung .dbf, geschrieben wird Text-XYZ: " + dir / "x.dbf" + "\n");
        EXPECT_EQ(ReadXyz(dir / "x.dbf").size(), 9u) << lc;
        r = run(a, " --format dbf");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out + r.err, TextZielIstQuelle + a + "\n");

        // A swapped window runs as described, with nothing in it, and says why.
        r = CliIn(lc, "export 2,5 0 0 2 " + Q(dir / "o.xyz") + " --konf " + Q(konf));
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "Warnung: XMIN ist gr\xC3\xB6\xC3\x9F" "er als XMAX: kein Punkt kann im Fenster liegen\n");
        EXPECT_TRUE(r.out.ends_with("\n0 Werte insgesamt exportiert\n0 doppelte Werte nicht exportiert\n")) << r.out;
        EXPECT_EQ(CliIn(lc, "export 2 2 0 2 " + Q(dir / "o.xyz") + " --konf " + Q(konf)).err, "");  // one column
        EXPECT_EQ(ReadXyz(dir / "o.xyz").size(), 3u);
    }
}

// The conversion takes the layout from the name too; a name of no layout writes what the
// source converts to by default, and one of the source's own kind is a usage error.
TEST_F(CliTest, ConvertTakesTheFormatFromTheTargetsName) {
    const std::string text = dir / "t.xyz", table = dir / "t.dbf";
    WriteAll(text, "1 2 3\r\n5 6 7\r\n");
    WriteDbfTable(table, {{1, 2, 3}, {5, 6, 7}});
    SaveKonf({});
    for (const std::string& lc : kLocales) {
        const auto run = [&](const std::string& source, const std::string& name, const std::string& option = "") {
            fs::remove(dir / name);
            return CliIn(lc, "convert " + Q(source) + " " + Q(dir / name) + option + " --konf " + Q(konf));
        };
        EXPECT_EQ(run(table, "b.CSV").code, 0);
        EXPECT_EQ(Lines(ReadAll(dir / "b.CSV")).at(0), "X;Y;Z") << lc;
        EXPECT_EQ(run(text, "b").code, 0);
        EXPECT_EQ(ReadDbf(dir / "b").size(), 2u) << lc;
        const ShellResult same = run(table, "x.dbf");
        EXPECT_EQ(same.code, 2);
        EXPECT_EQ(same.err, "Eine dBase-Tabelle wird nur in eine Textdatei (xyz, csv) konvertiert.\n");
        EXPECT_FALSE(fs::exists(dir / "x.dbf"));
        const ShellResult r = run(table, "y.dbf", " --format csv");
        EXPECT_EQ(r.err, "Warnung: --format csv widerspricht der Endung .dbf, geschrieben wird Text-CSV: " + dir / "y.dbf" + "\n");
        EXPECT_EQ(Lines(ReadAll(dir / "y.dbf")).at(0), "X;Y;Z") << lc;
    }
}

// Text to plain XYZ unpacks or normalises a tile: the export's layout, repeats and refused
// lines left out; chosen by --format xyz or a .xyz target in any case.
TEST_F(CliTest, ConvertTextToXyzUnpacksATile) {
    const std::string plain = dir / "kachel.txt";
    WriteAll(plain, "Rechtswert Hochwert Hoehe\n3566000.5 5936000 101.25\n\nunlesbar\n3566000.5 5936000 99\n"
                    "  3566001 5936000.125 -2\n");
    ASSERT_EQ(Shell("gzip -c " + Q(plain) + " > " + Q(plain + ".gz")).code, 0);
    const std::string xyz = XyzLine(3566000.5, 5936000, 101.25) + "\r\n" + XyzLine(3566001, 5936000.125, -2) + "\r\n";
    TERVALO_FOR_EACH_LOCALE(lc) {
        const std::string run = "LC_ALL=" + lc + " " TERVALO_BIN_DIR "/tervalo-cli convert ";
        for (const std::string ziel : {"a.xyz", "b.XYZ", "c.txt"}) {
            const std::string quelle = ziel == "b.XYZ" ? plain : plain + ".gz";
            const ShellResult r = Shell(run + Q(quelle) + " " + Q(dir / ziel) + (ziel == "c.txt" ? " --format xyz" : ""));
            EXPECT_EQ(r.code, 0) << ziel;
            EXPECT_EQ(r.out, "Werte \xC3\xBC" "bernommen: 2\nWerte nicht \xC3\xBC" "bernommen: 1\n") << lc;
            EXPECT_EQ(ReadAll(dir / ziel), xyz) << ziel << " " << lc;
            fs::remove(dir / ziel);
        }
        // Without the option another name still gives a table.
        ASSERT_EQ(Shell(run + Q(plain) + " " + Q(dir / "d.dbf")).code, 0);
        EXPECT_EQ(ReadDbf(dir / "d.dbf").size(), 2u);
    }
}

// A conversion that fails on the way (a table with two fields) leaves an existing target,
// makes no new one and ends its log with the failure; the reason goes to standard error.
TEST_F(CliTest, AFailedConversionLeavesTheTargetAndSaysSo) {
    std::vector<TDbfFieldDef> two = XyzFieldDefs();
    two.pop_back();
    const std::string narrow = dir / "zwei.dbf";
    WriteDbfTable(narrow, {{1, 2, 0}, {3, 4, 0}}, 3, two);
    WriteAll(dir / "keep.xyz", "Daten des Benutzers");
    SaveKonf({});
    for (const std::string& out : {dir / "keep.xyz", dir / "neu.xyz"}) {
        ShellResult r = Shell(std::string(TERVALO_BIN_DIR) + "/tervalo-cli convert " + Q(narrow) + " " + Q(out) +
                                  " --konf " + Q(konf),
                              TStderr::Apart);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "Fehler bei Konvertierung aufgetreten\n");
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(ReadAll(dir / "keep.xyz"), "Daten des Benutzers");
    EXPECT_FALSE(fs::exists(dir / "neu.xyz"));
}

// --- the output is written safely --------------------------------------------------------

// A catalogue of one large tile, so that a run lasts long enough to be interrupted.
class CliSafeTest : public CliTest {
protected:
    std::string tile;
    void SetUp() override {
        tile = dir / "gross.xyz";
        const std::vector<Pt> pts = Grid(0, 0, 400);
        WriteXyzTile(tile, pts);
        TDateien cat;
        AddEntry(cat, tile, pts);
        SaveKonf(cat);
    }
    std::string Export(const std::string& out, const std::string& format = "dbf") const {
        return "export 0 1000 0 1000 " + Q(out) + " --format " + format + " --konf " + Q(konf);
    }
    // Nothing but the given names in the folder: no temporary file was left.
    void ExpectOnly(std::vector<std::string> names) const {
        names.insert(names.end(), {"gross.xyz", "t.KNF"});
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.Path())) found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(found, names);
    }
    // A complete table: header count = records in the file, last byte 0x1A.
    static uint32_t ValidTable(const std::string& path) {
        const std::string t = ReadAll(path);
        if (t.size() < 130 || t.back() != 0x1A) {
            ADD_FAILURE() << path << " is no closed table";
            return 0;
        }
        const uint32_t n = static_cast<uint8_t>(t[4]) | static_cast<uint8_t>(t[5]) << 8 |
                           static_cast<uint8_t>(t[6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(t[7])) << 24;
        EXPECT_EQ(t.size(), 130u + 43u * n) << path;
        return n;
    }
};

TEST_F(CliSafeTest, ProtectedFilesSourcesAndOddTargetsAreRefusedAtOnce) {
    const std::string konfBefore = ReadAll(konf);
    ShellResult r = Cli(Export(konf, "xyz"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, TextZielIstKonfiguration + konf + "\n");
    r = Cli("convert " + Q(tile) + " " + Q(konf) + " --konf " + Q(konf));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, TextZielIstKonfiguration + konf + "\n");
    // A catalogued file is no target of a conversion either.
    WriteDbfTable(dir / "t.dbf", {{1, 2, 3}});
    r = Cli("convert " + Q(dir / "t.dbf") + " " + Q(tile) + " --konf " + Q(konf));
    EXPECT_EQ(r.out, TextZielIstQuelle + tile + "\n");
    EXPECT_EQ(ReadAll(konf), konfBefore);

    // A missing source is named before anything happens to the target.
    WriteAll(dir / "p.dbf", "voriges Ergebnis");
    for (const char* format : {"", " --format xyz"}) {
        r = Cli("convert " + Q(dir / "nosuch.xyz") + " " + Q(dir / "p.dbf") + format + " --konf " + Q(konf));
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "Datei nicht gefunden: " + dir / "nosuch.xyz" + "\n");
    }
    EXPECT_EQ(ReadAll(dir / "p.dbf"), "voriges Ergebnis");

    // A FIFO is refused without being opened (no reader: an open would block), a folder too.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    r = Shell("timeout 60 " + std::string(TERVALO_BIN_DIR) + "/tervalo-cli " + Export(dir / "fifo", "xyz"));
    EXPECT_EQ(r.out, TextZielKeineDatei + dir / "fifo" + "\n");
    fs::create_directory(dir / "ordner");
    r = Cli("convert " + Q(dir / "t.dbf") + " " + Q(dir / "ordner") + " --konf " + Q(konf));
    EXPECT_EQ(r.out, TextZielKeineDatei + dir / "ordner" + "\n");
    EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
    ExpectOnly({"t.dbf", "p.dbf", "fifo", "ordner"});
}

TEST_F(CliSafeTest, AFullDiskLeavesTheTargetAndNoTemporaryFile) {
    WriteAll(dir / "o.dbf", "voriger Export");
    WriteAll(dir / "o.xyz", "voriger Export");
    WriteAll(dir / "k.dbf", "voriges Ergebnis");
    const std::string limit = "prlimit --fsize=100000 -- " + std::string(TERVALO_BIN_DIR) + "/tervalo-cli ";
    const std::string failed = "\nFehler bei Konvertierung aufgetreten\n";
    for (const char* name : {"o.dbf", "n.dbf"}) {
        ShellResult r = Shell(limit + Export(dir / name), TStderr::Apart);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("Error while writing occurred. (Disk full?)"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.ends_with(failed)) << r.out;
    }
    for (const char* name : {"o.xyz", "n.xyz"}) {
        ShellResult r = Shell(limit + Export(dir / name, "xyz"), TStderr::Apart);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(": " + dir / name), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.ends_with(failed)) << r.out;
    }
    for (const char* name : {"k.dbf", "n.dbf"}) {
        ShellResult r = Shell(limit + "convert " + Q(tile) + " " + Q(dir / name) + " --konf " + Q(konf), TStderr::Apart);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, failed.substr(1));
        EXPECT_NE(r.err.find("Error while writing occurred. (Disk full?)"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadAll(dir / "o.dbf"), "voriger Export");
    EXPECT_EQ(ReadAll(dir / "o.xyz"), "voriger Export");
    EXPECT_EQ(ReadAll(dir / "k.dbf"), "voriges Ergebnis");
    ExpectOnly({"o.dbf", "o.xyz", "k.dbf"});
}

TEST_F(CliSafeTest, ConcurrentRunsAndAClosedLogLeaveWholeOutputs) {
    const std::string cli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli ";
    ASSERT_EQ(Cli(Export(dir / "ref.dbf")).code, 0);
    const std::string ref = ReadAll(dir / "ref.dbf");
    ShellResult r = Shell("(" + cli + Export(dir / "o.dbf") + " >/dev/null; echo a$?) & (" + cli +
                          Export(dir / "o.dbf") + " >/dev/null; echo b$?) & wait");
    EXPECT_NE(r.out.find("a0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("b0"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(dir / "o.dbf"), ref);
    // The reader of the log goes away after one line: the run still completes its file.
    Shell(cli + Export(dir / "head.dbf") + " | head -1");
    EXPECT_EQ(ReadAll(dir / "head.dbf"), ref);
    ExpectOnly({"ref.dbf", "o.dbf", "head.dbf"});
}

// Runs the command line in the background, its standard output into `log`.
pid_t Start(const std::vector<std::string>& args, const std::string& log) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen(log.c_str(), "w", stdout)) ::_exit(126);
        std::freopen("/dev/null", "w", stderr);
        const std::string cli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
        std::vector<char*> argv{const_cast<char*>(cli.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(cli.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

// Temporary files in the folder.
std::vector<std::string> Temporaries(const fs::path& dir) {
    std::vector<std::string> t;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".tervalo-") != std::string::npos) t.push_back(e.path().string());
    return t;
}

// Waits until a run has made its temporary file (it writes from then on).
bool WaitForTemporary(const fs::path& dir) {
    for (int i = 0; i < 30000; ++i) {
        if (!Temporaries(dir).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string LastLine(const std::string& text) {
    const std::size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

// Ctrl+C, SIGTERM and SIGHUP abort: the user's file stays as it was, a new one is not made,
// the log's last line says so and the exit code carries the signal.
TEST_F(CliSafeTest, ASignalAbortsTheRunAndLeavesNoTrace) {
    // The tile over and over: a run far longer than the wait for its first record.
    TDateien cat;
    for (int i = 0; i < MaxDateien; ++i) AddEntry(cat, tile, 0, 399, 0, 399);
    SaveKonf(cat);
    TempDir logs;
    WriteAll(dir / "keep.dbf", "Daten des Benutzers");
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        for (const std::string& out : {dir / "keep.dbf", dir / "neu.dbf"}) {
            const pid_t pid = Start({"export", "0", "1000", "0", "1000", out, "--format", "dbf", "--konf", konf}, logs / "log");
            EXPECT_TRUE(WaitForTemporary(dir.Path()));
            ::kill(pid, sig);
            EXPECT_EQ(Wait(pid), 128 + sig) << "signal " << sig;
            const std::string log = ReadAll(logs / "log");
            EXPECT_EQ(log.rfind("Beginn der Konvertierung\n", 0), 0u) << log;
            EXPECT_EQ(LastLine(log), "Konvertierung abgebrochen") << log;
            EXPECT_EQ(log.find("Konvertierung abgeschlossen"), std::string::npos);
            EXPECT_EQ(ReadAll(dir / "keep.dbf"), "Daten des Benutzers");
            ExpectOnly({"keep.dbf"});
        }
    // The conversion alike.
    for (int sig : {SIGINT, SIGTERM})
        for (const std::string& out : {dir / "keep.dbf", dir / "neu.dbf"}) {
            const pid_t pid = Start({"convert", tile, out, "--konf", konf}, logs / "log");
            EXPECT_TRUE(WaitForTemporary(dir.Path()));
            ::kill(pid, sig);
            EXPECT_EQ(Wait(pid), 128 + sig) << "signal " << sig;
            EXPECT_EQ(ReadAll(logs / "log"), "Konvertierung abgebrochen\n");
            EXPECT_EQ(ReadAll(dir / "keep.dbf"), "Daten des Benutzers");
            ExpectOnly({"keep.dbf"});
        }
}

// A run killed outright leaves its temporary file; the next run onto the same target removes it.
TEST_F(CliSafeTest, LeftoversOfAKilledRunGoWithTheNextRun) {
    const std::string shortKonf = dir / "kurz.KNF";
    fs::rename(konf, shortKonf);
    TDateien cat;
    for (int i = 0; i < MaxDateien; ++i) AddEntry(cat, tile, 0, 399, 0, 399);
    SaveKonf(cat);
    TempDir logs;
    const std::string out = dir / "o.dbf";
    const pid_t pid = Start({"export", "0", "1000", "0", "1000", out, "--format", "dbf", "--konf", konf}, logs / "log");
    ASSERT_TRUE(WaitForTemporary(dir.Path()));
    const std::string left = Temporaries(dir.Path()).at(0);
    for (int i = 0; i < 30000 && fs::file_size(left) < 100000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), 128 + SIGKILL);
    ASSERT_TRUE(fs::exists(left));
    EXPECT_EQ(Cli("export 0 1000 0 1000 " + Q(out) + " --format dbf --konf " + Q(shortKonf)).code, 0);
    EXPECT_EQ(ValidTable(out), 160000u);
    ExpectOnly({"o.dbf", "kurz.KNF"});
}

TEST_F(CliSafeTest, TheTargetKeepsModeAndLinkAndTheOwnersProtection) {
    const std::string cli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli ";
    ASSERT_EQ(Shell("umask 027; " + cli + Export(dir / "neu.xyz", "xyz")).code, 0);
    struct stat st {};
    ::stat((dir / "neu.xyz").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    WriteAll(dir / "alt.xyz", "alt");
    ::chmod((dir / "alt.xyz").c_str(), 0604);
    fs::create_symlink("alt.xyz", dir / "link.xyz");
    ASSERT_EQ(Cli(Export(dir / "link.xyz", "xyz")).code, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.xyz"));
    EXPECT_EQ(ReadAll(dir / "alt.xyz"), ReadAll(dir / "neu.xyz"));
    ::stat((dir / "alt.xyz").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0604u);

    // A file without any write bit is never overwritten, not even by root.
    WriteAll(dir / "fest.xyz", "geschuetzt");
    ::chmod((dir / "fest.xyz").c_str(), 0444);
    ShellResult sr = Cli(Export(dir / "fest.xyz", "xyz"));
    EXPECT_EQ(sr.code, 1);
    EXPECT_NE(sr.out.find(TextZielSchreibgeschuetzt + dir / "fest.xyz\nFehler bei Konvertierung aufgetreten\n"),
              std::string::npos) << sr.out;
    EXPECT_EQ(ReadAll(dir / "fest.xyz"), "geschuetzt");
    ::stat((dir / "fest.xyz").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);

    // As an ordinary user: a write-protected file and a folder of someone else stay closed.
    NobodyRun nobody;
    const std::string work = nobody.Work();
    fs::copy_file(tile, work + "/gross.xyz");
    TDateien cat;
    AddEntry(cat, work + "/gross.xyz", 0, 399, 0, 399);
    TSettings settings;
    KonfSave(work + "/t.KNF", settings, cat);
    WriteAll(work + "/fest.dbf", "geschuetzt");
    ::chmod((work + "/fest.dbf").c_str(), 0444);
    fs::create_directory(work + "/fremd");
    for (const char* name : {"gross.xyz", "t.KNF", "fest.dbf"}) NobodyRun::GiveAway(work + "/" + name);
    const std::string run = nobody.Bin() + "/tervalo-cli export 0 1000 0 1000 ";
    NobodyResult r = nobody.Run(run + Q(work + "/fest.dbf") + " --format dbf --konf " + Q(work + "/t.KNF"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.substr(r.out.find("\nDie ") + 1),
              TextZielSchreibgeschuetzt + work + "/fest.dbf\nFehler bei Konvertierung aufgetreten\n") << r.out;
    EXPECT_EQ(ReadAll(work + "/fest.dbf"), "geschuetzt");
    ::stat((work + "/fest.dbf").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(st.st_uid, NobodyRun::Root() ? NobodyRun::kUid : ::geteuid());
    if (NobodyRun::Root()) {
        r = nobody.Run(run + Q(work + "/fremd/o.dbf") + " --format dbf --konf " + Q(work + "/t.KNF"));
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.out.find("Dateizugriff verweigert: " + work + "/fremd/o.dbf\n"), std::string::npos) << r.out;
        EXPECT_TRUE(fs::is_empty(work + "/fremd"));
    }
}

}  // namespace
}  // namespace tervalo::test
