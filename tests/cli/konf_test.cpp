#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "config/Konf.h"
#include "support/files.h"
#include "support/nobody.h"
#include "support/shell.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

using namespace tervalo;
using tervalo::test::NobodyResult;
using tervalo::test::NobodyRun;
namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

using tervalo::test::ReadAll;

class KonfCli : public ::testing::Test {
protected:
    void SetUp() override { knf_ = (dir_ / "t.KNF").string(); }

    Result Run(const std::string& args, const std::string& program = TERVALO_BIN_DIR "/tervalo-cli") {
        const tervalo::test::ShellResult s =
            tervalo::test::Shell("LC_ALL=C '" + program + "' " + args, tervalo::test::TStderr::Apart);
        return {s.code, s.out, s.err};
    }
    void Write(const std::string& bytes) { std::ofstream(knf_, std::ios::binary) << bytes; }

    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
    std::string knf_;
};

const char* const kExample =
    "VERSION   1.2b\r\n"
    " 5.0                ; Standard-Rasterabstand der Rohdaten [m]\r\n"
    " 50.0               ; zu betrachtende Breite um den Messpunkt [m]\r\n"
    "2.0                 ; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)\r\n"
    "3                   ; dBase Export-Version\r\n"
    "30\t70\t70\t45\t41\t0\t0\t0\t0\t0\t0\t\r\n"
    "0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n"
    "[DATEIEN]\r\n"
    "#DATEI 1\r\n"
    "D:\\Raster\\Daten\\blatt1.xyz\r\n"
    "3566000.00          ; Xmin\r\n"
    "3567000.00          ; Xmax\r\n"
    "5936000.25          ; Ymin\r\n"
    "5937000.00          ; Ymax\r\n";

}  // namespace

// A configuration named with --konf that is not there would answer like an empty catalogue:
// every command refuses it, except konf saving it under that very name, which creates it.
TEST_F(KonfCli, ANamedConfigurationMustExistUnlessSavedOverItself) {
    const std::string none = (dir_ / "none.KNF").string(), d = "'" + dir_.string() + "/";
    std::ofstream(dir_ / "p.txt") << "1 2\n";
    for (const char* lc : {"C", "de_DE.UTF-8"}) {
        const auto run = [&](const std::string& args) {
            return tervalo::test::Shell(std::string("LC_ALL=") + lc + " '" TERVALO_BIN_DIR "/tervalo-cli' " + args + " --konf " +
                                            d + "none.KNF'", tervalo::test::TStderr::Apart);
        };
        for (const std::string& args : {"konf --save " + d + "other.KNF'", std::string("query 1 2"), "batch " + d + "p.txt'",
                                        "export 0 1 0 1 " + d + "o.xyz'", "convert " + d + "p.txt' " + d + "o.dbf'"}) {
            const tervalo::test::ShellResult r = run(args);
            EXPECT_EQ(r.code, 1) << args;
            EXPECT_EQ(r.out + r.err, "Konfigurationsdatei nicht gefunden: " + none + "\n") << args;
        }
        for (const char* made : {"none.KNF", "other.KNF", "o.xyz", "o.dbf"}) EXPECT_FALSE(fs::exists(dir_ / made)) << made;
        // The same file, by another spelling of its path.
        const tervalo::test::ShellResult r = run("konf --save " + d + "./none.KNF'");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(none + " (nicht vorhanden, Anfangswerte)\n"), std::string::npos) << r.out;
        EXPECT_EQ(run("konf --json").out.find("{\"rasterabstand\":5.0,\"fangbreite\":50.0,"), 0u);
        fs::remove(none);
    }
}

TEST_F(KonfCli, PrintsTheExampleFileAndSavesItUnchanged) {
    Write(kExample);
    Result r = Run("konf --json --konf '" + knf_ + "' --save '" + (dir_ / "copy.KNF").string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"rasterabstand\":5.0,\"fangbreite\":50.0,\"potenz\":2.0,\"dbfversion\":3,"
              "\"gridbreiten\":[30,70,70,45,41,0,0,0,0,0,0],\"dateigridbreiten\":[0,0,0,0,0,0,0,0,0,0,0],"
              "\"dateien\":[{\"datei\":\"D:\\\\Raster\\\\Daten\\\\blatt1.xyz\",\"xmin\":3566000.0,"
              "\"xmax\":3567000.0,\"ymin\":5936000.25,\"ymax\":5937000.0}]}\n");
    EXPECT_EQ(ReadAll(dir_ / "copy.KNF"), kExample);

    r = Run("konf --konf '" + knf_ + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Konfigurationsdatei: " + knf_ +
                         "\n"
                         "Datenordner: " TERVALO_BIN_DIR "/Daten/ (neben dem Programm)\n"
                         "Rasterabstand:    5.0\n"
                         "Fangbreite:       50.0\n"
                         "Potenz:           2.0\n"
                         "DBFVersion:       3\n"
                         "GridBreiten:      30 70 70 45 41 0 0 0 0 0 0\n"
                         "DateiGridBreiten: 0 0 0 0 0 0 0 0 0 0 0\n"
                         "Dateien:          1\n"
                         "1: D:\\Raster\\Daten\\blatt1.xyz  Xmin 3566000.0  Xmax 3567000.0  Ymin 5936000.25"
                         "  Ymax 5937000.0\n");
}

TEST_F(KonfCli, HandEditedAndDamagedFiles) {
    std::string text =
        "whatever\n5,5\n 1234.56\n\n   7x\n30\t200\n\n  [dateien]\n"
        "#DATEI 9\nblatt1.xyz\n 100.5\n200\n#datei 2\n/a/lower.xyz\n"
        "#DATEI\n/a/x|y.xyz\n1\n2\n3\n4\n#DATEI\n/home/j\xC3\xBCrgen/H\xC3\xB6hendaten/t.xyz\n5\n6\n7\n8\n"
        "#DATEI 3\nDaten\\b2.xyz\n1\n2\n3\n4\r\x1A#DATEI 4\n/z\n";
    Write(text);
    Result r = Run("konf --json --konf '" + knf_ + "' --save '" + (dir_ / "norm.KNF").string() + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["rasterabstand"], 5.0);
    EXPECT_EQ(j["fangbreite"], 1234.0);
    EXPECT_EQ(j["potenz"], 0.0);
    EXPECT_EQ(j["dbfversion"], 7);
    EXPECT_EQ(j["gridbreiten"], nlohmann::json({30, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(j["dateien"].size(), 3u);
    // A bare name lies in Daten beside the program.
    EXPECT_EQ(j["dateien"][0]["datei"], std::string(TERVALO_BIN_DIR) + "/Daten/blatt1.xyz");
    EXPECT_EQ(j["dateien"][0]["xmin"], 100.5);
    EXPECT_EQ(j["dateien"][0]["xmax"], 200.0);
    EXPECT_EQ(j["dateien"][0]["ymin"], 2.0);  // the lower-case header is read as Ymin
    EXPECT_EQ(j["dateien"][0]["ymax"], 0.0);
    // A vertical bar drops its entry; UTF-8 letters are kept and saved byte for byte.
    EXPECT_EQ(j["dateien"][1]["datei"], "/home/j\xC3\xBCrgen/H\xC3\xB6hendaten/t.xyz");
    EXPECT_EQ(j["dateien"][1]["ymax"], 8.0);
    EXPECT_EQ(j["dateien"][2]["datei"], "Daten\\b2.xyz");
    EXPECT_EQ(j["dateien"][2]["ymax"], 4.0);
    // The saved file is the writer's normal form and reads back the same.
    const std::string norm = ReadAll(dir_ / "norm.KNF");
    EXPECT_NE(norm.find("\r\n" + std::string(TERVALO_BIN_DIR) + "/Daten/blatt1.xyz\r\n    100.50          ; Xmin\r\n"), std::string::npos);
    EXPECT_NE(norm.find(" 5.0                ; Standard"), std::string::npos);
    EXPECT_NE(norm.find("#DATEI 2\r\n/home/j\xC3\xBCrgen/H\xC3\xB6hendaten/t.xyz\r\n"), std::string::npos);
    Result again = Run("konf --json --konf '" + (dir_ / "norm.KNF").string() + "'");
    EXPECT_EQ(again.out, r.out);
}

TEST_F(KonfCli, SurplusEntriesAreIgnored) {
    std::string text = std::string(kExample);
    for (int i = 2; i <= 300; ++i)
        text += "#DATEI " + std::to_string(i) + "\r\n/d/" + std::to_string(i) + ".xyz\r\n1\r\n2\r\n3\r\n4\r\n";
    Write(text);
    Result r = Run("konf --json --konf '" + knf_ + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 250u);
    EXPECT_EQ(j["dateien"][249]["datei"], "/d/250.xyz");
    EXPECT_EQ(r.err, "Warnung: Die Konfigurationsdatei enth\xC3\xA4lt 300 Dateieintr\xC3\xA4ge, nur die ersten 250 "
                     "werden verwendet: " + knf_ + "\n");

    // Saved over itself (by name or through a link) the file would lose 50 entries: refused.
    fs::create_symlink(knf_, dir_ / "link.KNF");
    for (const std::string& target : {knf_, (dir_ / "link.KNF").string()}) {
        r = Run("konf --konf '" + knf_ + "' --save '" + target + "'");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("wird nicht \xC3\xBC" "berschrieben: " + target + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(knf_), text);
    }
    // Another file takes the first 250.
    r = Run("konf --konf '" + knf_ + "' --save '" + (dir_ / "copy.KNF").string() + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(ReadAll(dir_ / "copy.KNF").find("#DATEI 250\r\n/d/250.xyz\r\n"), std::string::npos);
    EXPECT_EQ(ReadAll(dir_ / "copy.KNF").find("#DATEI 251"), std::string::npos);
}

TEST_F(KonfCli, FileErrorsAndUsageErrors) {
    // A read error after opening.
    Result r = Run("konf --konf /proc/self/mem");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "E/A-Fehler 5: /proc/self/mem\n");
    // A target that cannot be created, and a directory in place of the target.
    Write(kExample);
    r = Run("konf --konf '" + knf_ + "' --save '" + (dir_ / "no" / "x.KNF").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Ordner nicht gefunden: " + (dir_ / "no").string() + "\n");
    fs::create_directory(dir_ / "d.KNF");
    r = Run("konf --konf '" + knf_ + "' --save '" + (dir_ / "d.KNF").string() + "'");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, std::string(TextZielKeineDatei) + (dir_ / "d.KNF").string() + "\n");
    EXPECT_TRUE(fs::is_directory(dir_ / "d.KNF"));
    EXPECT_EQ(ReadAll(knf_), kExample);
    // Usage errors, in German with the command's help named.
    const std::string hint = "\nWeitere Informationen: tervalo-cli konf --help\n";
    r = Run("konf --bogus");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Unerwartetes Argument: --bogus" + hint);
    r = Run("konf --konf");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "--konf: Wert fehlt" + hint);
    r = Run("konf extra more");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Unerwartete Argumente: extra more" + hint);
    r = Run("konf --json=vielleicht");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "Ung\xC3\xBCltiger Wert: --json = vielleicht" + hint);
}

// A configuration that exists but cannot be read is no missing one: konf and query end with
// exit 1 and the path, and nothing is written over it.
TEST_F(KonfCli, UnreadableConfigurationEndsTheCommand) {
    auto expectRefused = [](const NobodyResult& r, const std::string& path) {
        EXPECT_EQ(r.code, 1) << r.out;
        EXPECT_EQ(r.out, "Dateizugriff verweigert: " + path + "\n");
    };
    // No read permission: the file keeps its bytes and mode.
    NobodyRun nobody;
    const std::string knf = nobody.Work() + "/t.KNF";
    std::ofstream(knf, std::ios::binary) << kExample;
    NobodyRun::GiveAway(knf);
    ::chmod(knf.c_str(), 0);
    expectRefused(nobody.Run(nobody.Bin() + "/tervalo-cli konf --konf t.KNF --save t.KNF"), "t.KNF");
    expectRefused(nobody.Run(nobody.Bin() + "/tervalo-cli query 3566500 5936500 --konf t.KNF"), "t.KNF");
    struct stat st {};
    ASSERT_EQ(::stat(knf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u);
    EXPECT_EQ(ReadAll(knf), kExample);

    // A write-protected file is not replaced by --save (the rename would go round it).
    const std::string ro = nobody.Work() + "/ro.KNF";
    std::ofstream(ro, std::ios::binary) << "alt";
    ::chmod(ro.c_str(), 0444);
    ::chmod(knf.c_str(), 0644);
    const NobodyResult r = nobody.Run(nobody.Bin() + "/tervalo-cli konf --konf t.KNF --save ro.KNF");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find(std::string(TextZielSchreibgeschuetzt) + "ro.KNF"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(ro), "alt");
    ASSERT_EQ(::stat(ro.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(KonfCli, DefaultFileLiesBesideTheProgram) {
    const fs::path prog = dir_ / "tervalo-cli";
    fs::copy_file(TERVALO_BIN_DIR "/tervalo-cli", prog);
    Write(kExample);
    fs::copy_file(knf_, dir_ / "tervalo.KNF");
    std::ofstream(dir_ / "tervalo.KNF", std::ios::app) << "#DATEI 2\r\nbare.xyz\r\n";
    Result r = Run("konf --json", prog.string());
    ASSERT_EQ(r.code, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 2u);
    EXPECT_EQ(j["dateien"][1]["datei"], (dir_ / "Daten" / "bare.xyz").string());
}

// A copy in any writable folder keeps configuration and tiles beside itself, whatever the
// user's XDG folders say.
TEST_F(KonfCli, PortableCopyKeepsItsFilesBesideItself) {
    for (const char* prog : {"tervalo-cli", "tervalo-demo"})
        fs::copy_file(fs::path(TERVALO_BIN_DIR) / prog, dir_ / prog);
    const std::string env = "HOME='" + (dir_ / "home").string() + "' XDG_CONFIG_HOME='" + (dir_ / "xc").string() +
                            "' XDG_DATA_HOME='" + (dir_ / "xd").string() + "' ";
    auto run = [&](const char* prog, const std::string& args) {
        return tervalo::test::Shell(env + "LC_ALL=C '" + (dir_ / prog).string() + "' " + args,
                                    tervalo::test::TStderr::Apart);
    };
    const tervalo::test::ShellResult demo = run("tervalo-demo", "");
    ASSERT_EQ(demo.code, 0) << demo.err;
    EXPECT_TRUE(fs::is_regular_file(dir_ / "tervalo.KNF"));
    EXPECT_TRUE(fs::is_regular_file(dir_ / "Daten" / "blatt_sw.xyz"));
    for (const char* xdg : {"home", "xc", "xd"}) EXPECT_FALSE(fs::exists(dir_ / xdg)) << xdg;

    tervalo::test::ShellResult r = run("tervalo-cli", "konf");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Konfigurationsdatei: " + (dir_ / "tervalo.KNF").string() + "\nDatenordner: " +
                              (dir_ / "Daten").string() + "/ (neben dem Programm)\n", 0),
              0u)
        << r.out;
    r = run("tervalo-cli", "query 3567002.5 5936002.5 --json");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["naechster"]["z"], 209.685);
}

TEST(KonfListing, UsesTheGivenDecimalSeparator) {
    TSettings s;
    s.Potenz = 1.25;
    TDateien d;
    d.Anzahl = 1;
    d.Datei[1] = "/a/b.xyz";
    d.Xmin[1] = 3566000.5;
    d.Ymax[1] = -1e-7;
    const std::string t = KonfListing(s, d, ',');
    EXPECT_NE(t.find("Rasterabstand:    5,0\n"), std::string::npos);
    EXPECT_NE(t.find("Potenz:           1,25\n"), std::string::npos);
    EXPECT_NE(t.find("1: /a/b.xyz  Xmin 3566000,5  Xmax 0,0  Ymin 0,0  Ymax -1e-07\n"), std::string::npos);
    EXPECT_EQ(t.find('.', t.find("Dateien")), t.find(".xyz"));
}
