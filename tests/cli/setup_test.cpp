// A scripted set-up (konf --hinzufuegen / --entfernen, --version, tervalo-demo's arguments) and
// what scan and info tell, each under LANG=C and de_DE.UTF-8.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/TYPEN.h"
#include "support/shell.h"
#include "tests/export/run_fixture.h"

namespace tervalo::test {
namespace {

const std::string kKopf =
    "VERSION   1.2b\r\n 5.0                ; Standard-Rasterabstand der Rohdaten [m]\r\n"
    " 25.0               ; zu betrachtende Breite um den Messpunkt [m]\r\n"
    "3.0                 ; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)\r\n"
    "7                   ; dBase Export-Version\r\n30\t70\t70\t45\t41\t0\t0\t0\t0\t0\t0\t\r\n"
    "0\t120\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n[DATEIEN]\r\n";

// One catalogue entry as the file stores it: values right-aligned in 10, comments at 21.
std::string Eintrag(int nr, const std::string& pfad, std::vector<std::string> werte) {
    std::string e = "#DATEI " + std::to_string(nr) + "\r\n" + pfad + "\r\n";
    const char* namen[] = {"Xmin", "Xmax", "Ymin", "Ymax"};
    for (int i = 0; i < 4; ++i) {
        std::string w = std::string(werte[i].size() < 10 ? 10 - werte[i].size() : 0, ' ') + werte[i];
        e += w + std::string(w.size() < 20 ? 20 - w.size() : 0, ' ') + "; " + namen[i] + "\r\n";
    }
    return e;
}

class SetupCli : public ::testing::Test {
protected:
    TempDir dir;
    const std::string d = dir.Path().string() + "/";
    const std::string a = Eintrag(1, d + "a.xyz", {"3566000.50", "3566010.00", "5935999.25", "5936000.00"});
    const std::string t = Eintrag(1, d + "t.dbf", {"-5.50", "10.00", "20.00", "30.00"});

    void SetUp() override {
        WriteAll(dir / "a.xyz", "X Y Z\r\n3566000.5 5936000 1\r\n3566010 5935999.25 2\r\n");
        WriteDbfTable(dir / "t.dbf", {{10, 20, 1}, {-5.5, 30, 2}}, 4);
        WriteAll(dir / "leer.xyz", "Rechtswert;Hochwert;Hoehe\r\n");
    }
    ShellResult Cli(const std::string& lc, const std::string& args) const {
        // Folder entries' indexes go into the test's own folder.
        return Shell("cd " + Quote(d) + " && LC_ALL=" + lc + " TERVALO_INDEX_ORDNER=" + Quote(d + ".index") + " " TERVALO_BIN_DIR
                     "/tervalo-cli " + args,
                     TStderr::Apart);
    }
    static std::string Nr(std::string e, int nr) { return e.replace(7, 1, std::to_string(nr)); }
};

TEST_F(SetupCli, KonfAddsByTheFileManagersRulesAndRemovesByNumber) {
    fs::create_directories(dir / "sub/ordner");
    fs::copy_file(dir / "a.xyz", dir / "sub/a.xyz");
    ASSERT_EQ(Shell("cd " + Quote(d) + " && gzip -c a.xyz | head -c 30 > kaputt.xyz.gz").code, 0);
    const std::string alt = Eintrag(1, "D:\\Raster\\blatt1.xyz", {"3566000.00", "3567000.00", "5936000.25", "5937000.00"});
    TERVALO_FOR_EACH_LOCALE(lc) {
        WriteAll(dir / "t.KNF", kKopf + alt);
        ShellResult r = Cli(lc, "konf --konf t.KNF --hinzufuegen a.xyz ./t.dbf leer.xyz sub/a.xyz sub/ordner fehlt.xyz "
                                "'x[1].xyz' " + d + "kaputt.xyz.gz sub/../t.dbf");
        EXPECT_EQ(r.code, 1) << lc;
        // A folder is an entry of its own; this one holds no tiles.
        EXPECT_EQ(r.err, "Warnung: keine Punkte, aufgenommen mit den Anfangswerten als Ausdehnung: " + d + "leer.xyz\n"
                         "Datei: a.xyz schon vorhanden!\n"
                         "Warnung: keine Kacheln, aufgenommen mit den Anfangswerten als Ausdehnung: " + d + "sub/ordner\n"
                         "Datei nicht gefunden: " + d + "fehlt.xyz\nDateiname nicht OK: x[1].xyz\n"
                         "Datei besch\xC3\xA4" "digt (gzip): " + d + "kaputt.xyz.gz\nDatei: t.dbf schon vorhanden!\n");
        const std::string leer = Eintrag(4, d + "leer.xyz", {"999999999.00", "-9999999.00", "999999999.00", "-9999999.00"});
        const std::string ordner =
            Eintrag(5, d + "sub/ordner", {"999999999.00", "-9999999.00", "999999999.00", "-9999999.00"});
        EXPECT_EQ(ReadAll(dir / "t.KNF"), kKopf + alt + Nr(a, 2) + Nr(t, 3) + leer + ordner) << lc;
        EXPECT_NE(r.out.find("\n3: " + d + "t.dbf  Xmin -5" + (lc == "C" ? "." : ",") + "5  Xmax 10"), std::string::npos)
            << r.out;
        // Numbers of the listing before the command; the rest closes up.
        r = Cli(lc, "konf --konf t.KNF --entfernen 4 1 4 5 --json");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadAll(dir / "t.KNF"), kKopf + a + Nr(t, 2));
        EXPECT_EQ(nlohmann::json::parse(r.out)["dateien"][1]["datei"], d + "t.dbf");
        // A number outside the listing changes nothing, not even the files named with it.
        r = Cli(lc, "konf --konf t.KNF --entfernen 3 --hinzufuegen leer.xyz");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out + r.err, "Kein Katalogeintrag mit der Nummer 3 (Nummern 1 bis 2): t.KNF\n");
        EXPECT_EQ(ReadAll(dir / "t.KNF"), kKopf + a + Nr(t, 2));
    }
}

TEST_F(SetupCli, KonfKeepsTheListAt250) {
    std::string voll = kKopf;
    for (int i = 1; i <= 249; ++i) voll += Eintrag(i, "/d/" + std::to_string(i), {"1.00", "2.00", "3.00", "4.00"});
    TERVALO_FOR_EACH_LOCALE(lc) {
        WriteAll(dir / "t.KNF", voll);
        ShellResult r = Cli(lc, "konf --konf t.KNF --hinzufuegen a.xyz t.dbf leer.xyz");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "Die Liste ist voll: h\xC3\xB6" "chstens 250 Dateien!\nNicht aufgenommen: " + d +
                             "t.dbf\nNicht aufgenommen: " + d + "leer.xyz\n");
        EXPECT_EQ(ReadAll(dir / "t.KNF"), voll + Nr(a, 250)) << lc;
        // Removing comes first and makes room.
        EXPECT_EQ(Cli(lc, "konf --konf t.KNF --entfernen 1 --hinzufuegen t.dbf").code, 0);
        EXPECT_TRUE(ReadAll(dir / "t.KNF").ends_with(Nr(a, 249) + Nr(t, 250)));
    }
    // More than 250 entries in the file: written over itself it would lose them.
    WriteAll(dir / "t.KNF", voll + Nr(a, 250) + Nr(a, 251));
    EXPECT_EQ(Cli("C", "konf --konf t.KNF --entfernen 1").code, 1);
    EXPECT_EQ(ReadAll(dir / "t.KNF"), voll + Nr(a, 250) + Nr(a, 251));
}

// From nothing: the program's own file beside a portable copy, which the query then reads.
TEST_F(SetupCli, KonfMakesANewCatalogue) {
    fs::copy_file(TERVALO_BIN_DIR "/tervalo-cli", dir / "tervalo-cli");
    fs::create_directory(dir / "sub");
    TERVALO_FOR_EACH_LOCALE(lc) {
        fs::remove(dir / "tervalo.KNF");
        const std::string run = "cd " + Quote(d + "sub") + " && LC_ALL=" + lc + " ../tervalo-cli ";
        EXPECT_EQ(Shell(run + "konf --hinzufuegen ../a.xyz ../t.dbf").code, 0);
        EXPECT_TRUE(ReadAll(dir / "tervalo.KNF").ends_with("[DATEIEN]\r\n" + a + Nr(t, 2)));
        const ShellResult r = Shell(run + "query 3566010 5935999 --json");
        EXPECT_EQ(nlohmann::json::parse(r.out)["naechster"]["z"], 2.0) << r.out;
    }
}

// The package's version as its changelog names it, and the configuration's.
TEST(Version, EveryProgramNamesBoth) {
    const std::string log = ReadAll(TERVALO_SOURCE_DIR "/packaging/changelog");
    const std::string paket = log.substr(9, log.find(')') - 9);
    std::vector<std::string> programs = {"tervalo-cli", "tervalo-demo"};
#ifdef TERVALO_TEST_UI
    programs.push_back("tervalo");
#endif
    TERVALO_FOR_EACH_LOCALE(lc)
        for (const std::string& p : programs) {
            TempDir leer;  // no display and nothing written
            const ShellResult r = Shell("cd " + Quote(leer.Path().string()) + " && LC_ALL=" + lc +
                                        " timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY " TERVALO_BIN_DIR "/" + p + " --version");
            EXPECT_EQ(r.code, 0) << p;
            EXPECT_EQ(r.out, p + " " + paket + " (Konfiguration " + Version + ")\n");
            EXPECT_TRUE(fs::is_empty(leer.Path())) << p;
        }
}

// An option tervalo-demo does not know is no folder to write the demo into.
TEST(Demo, HelpAndUsageErrorsWriteNothing) {
    TERVALO_FOR_EACH_LOCALE(lc) {
        TempDir d;
        const std::string run = "cd " + Quote(d.Path().string()) + " && LC_ALL=" + lc + " " TERVALO_BIN_DIR "/tervalo-demo ";
        for (const char* hilfe : {"--help", "-h", "ordner --help"}) {
            const ShellResult r = Shell(run + hilfe, TStderr::Apart);
            EXPECT_EQ(r.code, 0) << hilfe;
            EXPECT_TRUE(r.out.starts_with("Aufruf: tervalo-demo [OPTIONEN] [ORDNER]\n")) << r.out;
        }
        const std::pair<const char*, const char*> fehler[] = {
            {"--hilfe", "Unbekannte Option: --hilfe"}, {"ordner -", "Unbekannte Option: -"}, {"a b", "Unerwartetes Argument: b"}};
        for (const auto& [args, text] : fehler) {
            const ShellResult r = Shell(run + args);
            EXPECT_EQ(r.code, 2) << args;
            EXPECT_EQ(r.out, text + std::string("\nWeitere Informationen: tervalo-demo --help\n"));
        }
        EXPECT_TRUE(fs::is_empty(d.Path())) << lc;
        EXPECT_EQ(Shell(run + "-- -demo").code, 0);  // after "--" the folder may start with "-"
        EXPECT_TRUE(fs::is_regular_file(d.Path() / "-demo/tervalo.KNF"));
    }
}

// scan: no start values for a file without points, the point count in JSON; info: the fields;
// a folder or device named in German by scan, info and convert.
TEST_F(SetupCli, ScanAndInfoSayWhatTheFileHolds) {
    TERVALO_FOR_EACH_LOCALE(lc) {
        const std::string sep = lc == "C" ? "." : ",";
        ShellResult r = Cli(lc, "scan leer.xyz");
        EXPECT_EQ(r.out, "Datei: leer.xyz\n  Typ:  Text (1 Zeilen, 0 Punkte)\n  Xmin: keine Punkte   Xmax: keine Punkte\n"
                         "  Ymin: keine Punkte   Ymax: keine Punkte\n  Keine g\xC3\xBCltigen Punkte gefunden\n");
        r = Cli(lc, "scan --json a.xyz leer.xyz");
        EXPECT_NE(r.out.find("\"ymax\":5936000.0,\"gefunden\":true,\"punkte\":2}"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"gefunden\":false,\"punkte\":0}]"), std::string::npos) << r.out;
        r = Cli(lc, "info t.dbf");
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.out.ends_with("Ymax =\t     30" + sep + "00\n-------------------------\nFeld\tName\tTyp\tL\xC3\xA4nge\t"
                                    "Dezimalen\n1\tX\tN\t14\t5\n2\tY\tN\t14\t5\n3\tZ\tN\t14\t5\n")) << r.out;
        for (const std::string& arg : {std::string("/dev/null"), std::string("/dev/zero"), d}) {
            for (const std::string cmd : {"scan ", "info ", "convert "}) {
                r = Cli(lc, cmd + arg + (cmd == "convert " ? " ziel.dbf" : ""));
                EXPECT_EQ(r.code, 1) << cmd << arg;
                EXPECT_EQ(r.err, "Dateizugriff verweigert: " + arg + "\n") << cmd << lc;
            }
        }
        r = Cli(lc, "batch " + d);  // a folder as the point list
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "Dateizugriff verweigert: " + d + "\n") << lc;
    }
}

}  // namespace
}  // namespace tervalo::test
