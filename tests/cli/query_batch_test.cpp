// tervalo-cli query / batch and tervalo-demo, run as programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <locale.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "query/query_test_util.h"
#include "config/Konf.h"
#include "support/nobody.h"
#include "support/shell.h"

namespace {

struct Ausgabe {
    int rc;
    std::string out, err;
};

Ausgabe Starte(const std::string& args, const std::string& errDatei) {
    const tervalo::test::ShellResult r =
        tervalo::test::Shell("LC_ALL=C " + args + " 2>" + errDatei, tervalo::test::TStderr::Passed);
    return {r.code, r.out, tervalo::test::ReadAll(errDatei)};
}

const auto& Read = tervalo::test::ReadAll;

const std::string kCli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
const std::string kDemo = std::string(TERVALO_BIN_DIR) + "/tervalo-demo";

// One demo terrain for all tests of this file.
class QueryCli : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qtest::TempDir;
        Ausgabe a = Starte(kDemo + " " + dir_->Path().string(), dir_->File("err"));
        ASSERT_EQ(a.rc, 0) << a.err;
        demoAusgabe_ = a.out;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Konf() { return dir_->File("tervalo.KNF"); }
    static Ausgabe Cli(const std::string& args) { return Starte(kCli + " " + args, dir_->File("err")); }

    static qtest::TempDir* dir_;
    static std::string demoAusgabe_;
};
qtest::TempDir* QueryCli::dir_ = nullptr;
std::string QueryCli::demoAusgabe_;

}  // namespace

TEST_F(QueryCli, DemoWritesTilesAndCatalogueOnce) {
    for (const char* n : {"blatt_sw.xyz", "blatt_so.dbf", "blatt_nw.dbf", "blatt_no.xyz"})
        EXPECT_TRUE(std::filesystem::is_regular_file(dir_->Path() / "Daten" / n)) << n;
    EXPECT_NE(demoAusgabe_.find("3567002.5"), std::string::npos);
    const std::string vorher = Read(Konf());
    EXPECT_NE(vorher.find("[DATEIEN]"), std::string::npos);
    Ausgabe a = Starte(kDemo + " " + dir_->Path().string(), dir_->File("err"));
    EXPECT_EQ(a.rc, 0);
    EXPECT_NE(a.out.find("unver"), std::string::npos);
    EXPECT_EQ(Read(Konf()), vorher);
}

TEST_F(QueryCli, QueryJsonOverTheFourTiles) {
    Ausgabe a = Cli("query 3567002.5 5936002.5 --json --konf " + Konf());
    ASSERT_EQ(a.rc, 0) << a.err;
    const std::string anfang =
        "{\"x\":3567002.5,\"y\":5936002.5,\"fangbreite\":50.0,\"potenz\":2.0,\"dateien\":[{\"nr\":1,";
    EXPECT_EQ(a.out.rfind(anfang, 0), 0u) << a.out;
    const auto j = nlohmann::json::parse(a.out);
    ASSERT_EQ(j["dateien"].size(), 4u);
    int summe = 0;
    for (const auto& d : j["dateien"]) {
        EXPECT_EQ(d["gelesen"], 40401);
        EXPECT_TRUE(d["fehler"].is_null());
        summe += d["gefiltert"].get<int>();
    }
    EXPECT_EQ(summe, 400);
    EXPECT_EQ(j["anzahl"], 400);
    EXPECT_TRUE(j["dateien"][1]["dbase"].get<bool>());
    EXPECT_EQ(j["naechster"]["x"], 3567000.0);
    EXPECT_EQ(j["naechster"]["r"], std::sqrt(12.5));
    EXPECT_EQ(j["shepard"]["n"], 4);
    ASSERT_EQ(j["rangliste"].size(), 20u);
    for (std::size_t i = 1; i < 20; ++i)
        EXPECT_LE(j["rangliste"][i - 1]["r"].get<double>(), j["rangliste"][i]["r"].get<double>());
    EXPECT_EQ(j["lb_datei"], (dir_->Path() / "Daten" / "blatt_no.xyz").string());

    // The capture range from the command line replaces the configured one.
    const auto k = nlohmann::json::parse(Cli("query 3567002.5 5936002.5 --json --fangbreite 3 --potenz 1 --konf " + Konf()).out);
    EXPECT_EQ(k["anzahl"], 4);
    EXPECT_EQ(k["potenz"], 1.0);
    // Nowhere near a tile: no file, null results.
    const auto n = nlohmann::json::parse(Cli("query 100 100 --json --konf " + Konf()).out);
    EXPECT_TRUE(n["dateien"].empty());
    EXPECT_TRUE(n["naechster"].is_null());
    EXPECT_TRUE(n["shepard"].is_null());
    EXPECT_EQ(n["lb_datei"], "???");
}

TEST_F(QueryCli, QueryText) {
    Ausgabe a = Cli("query 3567002.5 5936002.5 --konf " + Konf());
    ASSERT_EQ(a.rc, 0) << a.err;
    for (const char* zeile : {"Abstand n\xC3\xA4" "chster Gridpunkt: 3.54 [m]\n", "Extrapolation mit n\xC3\xA4" "chsten 4 Rasterpunkten\n",
                              "   1  3567000.00  5936000.00   209.69    3.54\n", "  20  ", "blatt_nw.dbf"})
        EXPECT_NE(a.out.find(zeile), std::string::npos) << zeile << "\n" << a.out;
    EXPECT_NE(a.out.find("Datei: " + (dir_->Path() / "Daten" / "blatt_no.xyz").string() + "\n"), std::string::npos);
}

TEST_F(QueryCli, ErrorsAndMissingFiles) {
    tervalo::TDateien kat;
    qtest::AddEntry(kat, dir_->File("fehlt.xyz"), 0, 10, 0, 10);
    qtest::AddEntry(kat, "/proc/self/mem", 0, 10, 0, 10);
    qtest::AddEntry(kat, (dir_->Path() / "Daten" / "blatt_sw.xyz").string(), 0, 10, 0, 10);
    tervalo::TSettings s;
    const std::string konf = dir_->File("fehler.KNF");
    ASSERT_NO_THROW(tervalo::KonfSave(konf, s, kat));
    Ausgabe a = Cli("query 5 5 --json --konf " + konf);
    EXPECT_EQ(a.rc, 1);
    EXPECT_FALSE(a.err.empty());
    const auto j = nlohmann::json::parse(a.out);
    ASSERT_EQ(j["dateien"].size(), 2u);  // the run ended at the second file
    EXPECT_EQ(j["dateien"][0]["fehler"], "I/O-Fehler: " + dir_->File("fehlt.xyz"));
    EXPECT_EQ(j["dateien"][1]["fehler"].get<std::string>() + "\n", a.err);
    EXPECT_TRUE(j["naechster"].is_null());

    // A missing file alone does not end the run.
    tervalo::TDateien nurFehlt;
    qtest::AddEntry(nurFehlt, dir_->File("fehlt.xyz"), 0, 10, 0, 10);
    ASSERT_NO_THROW(tervalo::KonfSave(konf, s, nurFehlt));
    a = Cli("query 5 5 --konf " + konf);
    EXPECT_EQ(a.rc, 0);
    EXPECT_NE(a.out.find("Datei: I/O-Fehler: " + dir_->File("fehlt.xyz")), std::string::npos);
    EXPECT_NE(a.out.find("Abstand n\xC3\xA4" "chster Gridpunkt: ----- [m]"), std::string::npos);
}

TEST_F(QueryCli, BatchMatchesQueryPerLine) {
    const std::string ein = dir_->File("punkte.txt");
    qtest::WriteFile(ein, "3567002.5 5936002.5\n3566600;5936400\nkeine Zahlen\n3567500.25\t5935600,75\n100 100\n");
    Ausgabe a = Cli("batch " + ein + " --json --konf " + Konf());
    EXPECT_EQ(a.rc, 1);  // the bad line
    std::istringstream zeilen(a.out);
    std::string zeile;
    std::vector<nlohmann::json> js;
    while (std::getline(zeilen, zeile)) js.push_back(nlohmann::json::parse(zeile));
    ASSERT_EQ(js.size(), 5u);
    EXPECT_EQ(js[2]["fehler"], "Fehler in Zeile: 3");
    const char* punkte[] = {"3567002.5 5936002.5", "3566600 5936400", "", "3567500.25 5935600.75", "100 100"};
    for (int i : {0, 1, 3, 4}) {
        auto q = nlohmann::json::parse(Cli(std::string("query ") + punkte[i] + " --json --konf " + Konf()).out);
        q.erase("rangliste");
        EXPECT_EQ(js[static_cast<std::size_t>(i)], q) << punkte[i];
    }

    // Tiles let go of and read again for the memory bound: the same answers, in input order.
    EXPECT_EQ(Cli("batch " + ein + " --json --speicher 1 --konf " + Konf()).out, a.out);
    EXPECT_EQ(Cli("batch " + ein + " --speicher 0 --konf " + Konf()).rc, 2);

    Ausgabe t = Starte("printf '3567002.5 5936002.5\\nx\\n' | " + kCli + " batch --konf " + Konf(), dir_->File("err"));
    EXPECT_EQ(t.out, "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n3567002.50\t5936002.50\t3.54\t209.69\t4\t211.82\nFehler in Zeile: 2\n");
}

// Points sent one by one through a pipe: each answer comes before the next point is sent
// (the reading ahead of the next window never waits for input).
TEST_F(QueryCli, BatchAnswersEachPointBeforeTheNextArrives) {
    const std::string aus = dir_->File("einzeln.txt"), ok = dir_->File("einzeln.ok");
    const std::string skript = dir_->File("einzeln.sh");
    qtest::WriteFile(skript, "(echo '3567002.5 5936002.5'\n"
                             " for i in $(seq 200); do grep -q 211.82 '" + aus + "' && break; sleep 0.05; done\n"
                             " grep -q 211.82 '" + aus + "' && touch '" + ok + "'\n"
                             " echo '3566600 5936400') | '" + kCli + "' batch --konf '" + Konf() + "' > '" + aus + "'\n");
    Ausgabe a = Starte("sh '" + skript + "'", dir_->File("err"));
    EXPECT_EQ(a.rc, 0) << a.err;
    EXPECT_TRUE(std::filesystem::exists(ok)) << "the first answer waited for the second point";
    const std::string antworten = Read(aus);
    EXPECT_EQ(std::count(antworten.begin(), antworten.end(), '\n'), 3);
}

namespace {

// The locales every answer is checked in: the program's own and the German one, when installed.
std::vector<std::string> Gebietsschemata() {
    std::vector<std::string> lc{"C"};
    if (locale_t de = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr)) {
        ::freelocale(de);
        lc.push_back("de_DE.UTF-8");
    }
    return lc;
}

// Numbers as the text output writes them in that locale.
std::string ImSchema(std::string text, const std::string& lc) {
    if (lc != "C") std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

}  // namespace

// A point list as spreadsheets and surveyors keep it: BOM, header, number column, extra
// columns, CRLF, blank lines, and lines that give no point, which keep their place.
TEST_F(QueryCli, BatchReadsPointListsWithNumbersHeadersAndExtraColumns) {
    const std::string ein = dir_->File("liste.csv"), kopf = "Id\tX\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n";
    std::string ae;
    for (int i = 0; i < 30; ++i) ae += "\xC3\xA4";
    qtest::WriteFile(ein, "\xEF\xBB\xBFNr;Rechtswert;Hochwert;Art\r\n"
                          "P1;3567002,5;5936002,5;45,3;Kanaldeckel\r\n\r\n \t \r\n"
                          "P2;+-3567002.5;5936002.5\r\nP3;3566600;\r\nP4\r\nP5 ; 3566600 ;5936400;;\r\n"
                          "P6;" + ae + std::string(40, 'x') + ";1\r\nNr;Rechtswert;Hochwert\r\n");
    for (const std::string& lc : Gebietsschemata()) {
        const std::string aufruf =
            "LC_ALL=" + lc + " " + kCli + " batch " + ein + " --spalten 2,3 --id 1 --konf " + Konf();
        Ausgabe a = Starte(aufruf, dir_->File("err"));
        EXPECT_EQ(a.rc, 1) << lc;
        EXPECT_EQ(a.out, ImSchema(kopf + "P1\t3567002.50\t5936002.50\t3.54\t209.69\t4\t211.82\nP2\tFehler in Zeile: 5\n"
                                  "P3\tFehler in Zeile: 6\nP4\tFehler in Zeile: 7\n"
                                  "P5\t3566600.00\t5936400.00\t0.00\t386.76\t9\t386.76\n"
                                  "P6\tFehler in Zeile: 9\nNr\tFehler in Zeile: 10\n", lc)) << lc;
        EXPECT_EQ(a.err, "Zeile 1: Kopfzeile \xC3\xBC" "bergangen: \"Nr;Rechtswert;Hochwert;Art\"\n"
                         "Zeile 5: Spalte 2 ist keine Zahl: \"P2;+-3567002.5;5936002.5\"\n"
                         "Zeile 6: Spalte 3 ist leer: \"P3;3566600;\"\nZeile 7: Spalte 2 fehlt (nur 1 Spalte): \"P4\"\n"
                         "Zeile 9: Spalte 2 ist keine Zahl: \"P6;" + ae + std::string(27, 'x') + "\xE2\x80\xA6\"\n"
                         "Zeile 10: Spalte 2 ist keine Zahl: \"Nr;Rechtswert;Hochwert\"\n") << lc;

        // JSON: the id as the first key.
        std::istringstream zeilen(Starte(aufruf + " --json", dir_->File("err")).out);
        std::vector<std::string> js;
        for (std::string z; std::getline(zeilen, z);) js.push_back(z);
        ASSERT_EQ(js.size(), 7u);
        EXPECT_EQ(js[3], "{\"id\":\"P4\",\"zeile\":7,\"fehler\":\"Fehler in Zeile: 7\"}");
        EXPECT_EQ(js[4].rfind("{\"id\":\"P5\",\"x\":3566600.0,\"y\":5936400.0,", 0), 0u) << js[4];
    }

    // Without ";" or TAB runs of blanks separate; columns 1,2 and no id by default. A BOM
    // before a point; trailing blank lines do not count as lines without a point.
    qtest::WriteFile(ein, "\xEF\xBB\xBF  3567002.5   5936002.5  45.3 Kanaldeckel\n\n \n");
    const Ausgabe a = Cli("batch " + ein + " --konf " + Konf());
    EXPECT_EQ(a.rc, 0) << a.err;
    EXPECT_EQ(a.out, kopf.substr(3) + "3567002.50\t5936002.50\t3.54\t209.69\t4\t211.82\n");
    EXPECT_EQ(a.err, "");
    for (const char* falsch : {"--spalten 2", "--spalten 2,2", "--spalten 0,1", "--spalten 1,2,3", "--id 0", "--id x"})
        EXPECT_EQ(Cli("batch " + ein + " " + falsch + " --konf " + Konf()).rc, 2) << falsch;
}

// With points in the square but none within the Shepard radius there is no Shepard height:
// batch shows "-----" and JSON null, while the text of query keeps the window's 0.00.
TEST_F(QueryCli, NoShepardHeightWithoutPointsWithinItsRadius) {
    qtest::TempDir d;
    qtest::WriteFile(d.File("weit.xyz"), qtest::XyzText(qtest::Grid(0, 100, 0, 100, 20)));
    tervalo::TDateien kat;
    qtest::AddEntry(kat, d.File("weit.xyz"), 0, 100, 0, 100);
    ASSERT_NO_THROW(tervalo::KonfSave(d.File("weit.KNF"), tervalo::TSettings{}, kat));
    qtest::WriteFile(d.File("p.txt"), "10 10\n20 20\n");
    const std::string konf = " --konf " + d.File("weit.KNF");
    for (const std::string& lc : Gebietsschemata()) {
        const std::string cli = "LC_ALL=" + lc + " " + kCli;
        const Ausgabe b = Starte(cli + " batch " + d.File("p.txt") + konf, d.File("err"));
        EXPECT_EQ(b.rc, 0) << b.err;
        EXPECT_EQ(b.out, ImSchema("X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n10.00\t10.00\t14.14\t100.00\t0\t-----\n"
                                  "20.00\t20.00\t0.00\t100.60\t1\t100.60\n", lc));
        const std::string j = Starte(cli + " batch --json " + d.File("p.txt") + konf, d.File("err")).out;
        EXPECT_EQ(nlohmann::json::parse(j.substr(0, j.find('\n')))["shepard"].dump(), "{\"n\":0,\"z\":null}");
        EXPECT_EQ(nlohmann::json::parse(j.substr(j.find('\n')))["shepard"]["z"], 100.6);
        const auto q = nlohmann::json::parse(Starte(cli + " query 10 10 --json" + konf, d.File("err")).out);
        EXPECT_EQ(q["shepard"].dump(), "{\"n\":0,\"z\":null}");
        EXPECT_NE(Starte(cli + " query 10 10" + konf, d.File("err")).out.find(
                      "Extrapolation mit n\xC3\xA4" "chsten 0 Rasterpunkten\nExtrapolierte H\xC3\xB6he: " +
                      ImSchema("0.00", lc) + " [mNN]\n"), std::string::npos);
    }
}

// Coordinates may be typed with "." or "," whatever the locale; answers use the locale's.
TEST_F(QueryCli, NumbersTakePointOrCommaInEveryLocale) {
    locale_t de = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (de == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)";
    ::freelocale(de);
    for (const std::string lc : {"C", "de_DE.UTF-8"}) {
        const std::string env = "LC_ALL=" + lc + " ";
        for (const char* xy : {"3567002.5 5936002,5", "3567002,5 +5936002.5"}) {
            Ausgabe a = Starte(env + kCli + " query " + xy + " --fangbreite 3,0 --potenz 1.0 --konf " + Konf(),
                       dir_->File("err"));
            ASSERT_EQ(a.rc, 0) << lc << " " << xy << ": " << a.err;
            const std::string r = lc == "C" ? "3.54" : "3,54";
            EXPECT_NE(a.out.find("Abstand n\xC3\xA4" "chster Gridpunkt: " + r + " [m]\n"), std::string::npos) << a.out;
            EXPECT_NE(a.out.find("Extrapolation mit n\xC3\xA4" "chsten 4 Rasterpunkten\n"), std::string::npos);
        }
        Ausgabe b = Starte("printf '3567002.5 5936002.5\\n' | " + env + kCli + " batch --fangbreite 3,0 --potenz 1.5 --json --konf " +
                               Konf(),
                           dir_->File("err"));
        ASSERT_EQ(b.rc, 0) << b.err;
        const auto j = nlohmann::json::parse(b.out);
        EXPECT_EQ(j["fangbreite"], 3.0);
        EXPECT_EQ(j["potenz"], 1.5);
        // Grouping, two separators, words and non-finite values are no numbers.
        for (const char* bad : {"3.567.002 5936002", "3567002,5.0 5936002", "1e3x 5936002", "inf 5936002", "+-1 2", ". 2"}) {
            Ausgabe f = Starte(env + kCli + " query " + bad + " --konf " + Konf(), dir_->File("err"));
            EXPECT_EQ(f.rc, 2) << bad;
            const std::string x = std::string(bad).substr(0, std::string(bad).find(' '));
            EXPECT_EQ(f.err, "X: " + x + " ist keine Zahl (Dezimaltrenner \".\" oder \",\")\n"
                             "Weitere Informationen: tervalo-cli query --help\n") << bad;
        }
    }
}

// --fangbreite and --potenz take the ranges of the options dialog; the capture range's bound
// follows from the configuration's grid spacing, and none is set without one.
TEST_F(QueryCli, SearchOptionsTakeTheRangesOfTheOptionsDialog) {
    locale_t de = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (de == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)";
    ::freelocale(de);
    qtest::TempDir d;
    tervalo::TSettings s;
    s.Rasterabstand = 0;
    ASSERT_NO_THROW(tervalo::KonfSave(d.File("null.KNF"), s, {}));
    qtest::WriteFile(d.File("p.txt"), "3567002.5 5936002.5\n");
    const std::string negativ = ": eine negative halbe Seite ergibt kein Suchquadrat";
    for (const std::string lc : {"C", "de_DE.UTF-8"}) {
        const auto n = [&](std::string t) { return lc == "C" ? t : t.replace(t.find('.'), 1, ","); };
        const std::pair<std::string, std::string> faelle[] = {
            {"--fangbreite -5", "--fangbreite: -5 liegt nicht im Bereich 0 bis " + n("303.686") + negativ},
            {"--fangbreite 303,7", "--fangbreite: " + n("303.7") + " liegt nicht im Bereich 0 bis " + n("303.686") +
                                       ": bei einem Rasterabstand von 5 m fasst ein gr\xC3\xB6\xC3\x9F" "eres "
                                       "Suchquadrat mehr als die 15000 Punkte, die eine Abfrage aufnimmt"},
            {"--potenz 500,5", "--potenz: " + n("500.5") + " liegt nicht im Bereich 0 bis 500: der Optionsdialog "
                                                           "l\xC3\xA4sst keinen gr\xC3\xB6\xC3\x9F" "eren Exponenten zu"},
            {"--potenz -1", "--potenz: -1 liegt nicht im Bereich 0 bis 500: ein negativer Exponent gewichtet ferne "
                            "Punkte st\xC3\xA4rker als nahe"},
            {"--fangbreite 303.6 --potenz 500", ""},
            {"--fangbreite 100000 --konf " + d.File("null.KNF"), ""},
            {"--fangbreite -0.5 --konf " + d.File("null.KNF"), "--fangbreite: " + n("-0.5") + " ist kleiner als 0" + negativ},
        };
        for (const auto& [options, fehler] : faelle)
            for (const std::string befehl : {"query", "batch"}) {
                const Ausgabe a = Starte("LC_ALL=" + lc + " " + kCli + " " + befehl + " " +
                                             (befehl == "query" ? "3567002.5 5936002.5" : d.File("p.txt")) + " " + options +
                                             (options.find("--konf") == std::string::npos ? " --konf " + Konf() : ""),
                                         dir_->File("err"));
                EXPECT_EQ(a.rc, fehler.empty() ? 0 : 2) << befehl << " " << options << ": " << a.err;
                EXPECT_EQ(a.err, fehler.empty() ? "" : fehler + "\nWeitere Informationen: tervalo-cli " + befehl + " --help\n");
            }
    }
}

// Help texts and usage errors are German; the framework's English never shows.
TEST_F(QueryCli, HelpAndUsageErrorsSpeakGerman) {
    Ausgabe h = Cli("--help");
    EXPECT_EQ(h.rc, 0);
    EXPECT_NE(h.out.find("Aufruf: tervalo-cli [OPTIONEN] BEFEHL\n"), std::string::npos) << h.out;
    EXPECT_NE(h.out.find("\nOptionen:\n  -h,--help                   Diese Hilfe anzeigen und beenden\n"), std::string::npos);
    EXPECT_NE(h.out.find("\nBefehle:\n  konf  "), std::string::npos);
    std::string alle = h.out;
    for (const char* befehl : {"konf", "scan", "info", "query", "batch", "export", "convert"}) {
        Ausgabe b = Cli(std::string(befehl) + " --help");
        EXPECT_EQ(b.rc, 0) << befehl;
        EXPECT_NE(b.out.find(std::string("Aufruf: tervalo-cli ") + befehl + " [OPTIONEN]"), std::string::npos) << b.out;
        alle += b.out;
    }
    EXPECT_NE(alle.find("  X ZAHL (Pflicht)            Rechtswert [m]\n"), std::string::npos) << alle;
    EXPECT_NE(alle.find("  --format FORMAT:{xyz, csv, dbf}\n"), std::string::npos);
    for (const char* englisch : {"Usage", "Options", "OPTIONS", "Positionals", "REQUIRED", "SUBCOMMAND", "Subcommands",
                                 "Print this", "TABLE", "FILE", "SOURCE", "OUTPUT", "FLOAT", "INT"})
        EXPECT_EQ(alle.find(englisch), std::string::npos) << englisch << "\n" << alle;

    const std::string mehr = "\nWeitere Informationen: tervalo-cli --help\n";
    Ausgabe a = Cli("");
    EXPECT_EQ(a.rc, 2);
    EXPECT_EQ(a.err, "Kein Befehl angegeben (konf, scan, info, query, batch, profil, export, convert)" + mehr);
    a = Cli("hoehe 1 2");
    EXPECT_EQ(a.rc, 2);
    EXPECT_EQ(a.err, "Unbekannter Befehl: hoehe (bekannt: konf, scan, info, query, batch, profil, export, convert)" + mehr);
    a = Cli("query 3567002.5");
    EXPECT_EQ(a.rc, 2);
    EXPECT_EQ(a.err, "Angabe fehlt: Y\nWeitere Informationen: tervalo-cli query --help\n");
    a = Cli("export 1 2 3 4 " + dir_->File("x.xyz") + " --level 5");
    EXPECT_EQ(a.rc, 2);
    EXPECT_EQ(a.err, "--level: 5 ist nicht erlaubt (erlaubt: 3, 4, 7)\nWeitere Informationen: tervalo-cli export --help\n");
    EXPECT_FALSE(std::filesystem::exists(dir_->File("x.xyz")));
}

TEST_F(QueryCli, BatchNamesEveryTileItCannotReadAndAnswersAllPoints) {
    tervalo::test::NobodyRun nr;
    const std::string w = nr.Work();
    qtest::WriteFile(w + "/gut.xyz", qtest::XyzText(qtest::Grid(0, 100, 0, 100, 5)));
    qtest::WriteFile(w + "/gesperrt.xyz", qtest::XyzText(qtest::Grid(400, 500, 400, 500, 5)));
    ASSERT_EQ(::chmod((w + "/gesperrt.xyz").c_str(), 0), 0);  // the unprivileged user may not read it
    tervalo::TDateien kat;
    qtest::AddEntry(kat, w + "/gut.xyz", 0, 100, 0, 100);
    qtest::AddEntry(kat, w + "/fehlt.xyz", 200, 300, 200, 300);
    qtest::AddEntry(kat, w + "/gesperrt.xyz", 400, 500, 400, 500);
    tervalo::TSettings s;
    ASSERT_NO_THROW(tervalo::KonfSave(w + "/k.KNF", s, kat));
    qtest::WriteFile(w + "/punkte.txt", "20 20\n250 250\n450 450\n260 260\n470 470\n");
    const auto r = nr.Run("LC_ALL=C " + nr.Bin() + "/tervalo-cli batch punkte.txt --konf k.KNF 2>err.txt");
    EXPECT_EQ(r.code, 1);
    const std::string leer = "\t-----\t-----\t--\t-----\n";
    EXPECT_EQ(r.out, "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n20.00\t20.00\t0.00\t100.60\t9\t100.60\n"
                     "250.00\t250.00" + leer + "450.00\t450.00" + leer + "260.00\t260.00" + leer +
                     "470.00\t470.00" + leer);
    EXPECT_EQ(Read(w + "/err.txt"), "Datei nicht gefunden: " + w + "/fehlt.xyz\nDateizugriff verweigert: " + w +
                                        "/gesperrt.xyz\n");
}

// A damaged packed tile is reported in its row and on standard error; the other tiles answer
// as if it were not catalogued, with the exit codes of a tile that cannot be opened.
TEST_F(QueryCli, ADamagedPackedTileIsPassedOverByQueryAndBatch) {
    qtest::TempDir d;
    const std::string gut = d.File("gut.xyz"), kaputt = d.File("kaputt.xyz.gz");
    qtest::WriteFile(gut, qtest::XyzText(qtest::Grid(0, 100, 0, 100, 5)));
    ASSERT_EQ(tervalo::test::Shell("gzip -c " + gut + " | head -c 300 > " + kaputt).code, 0);
    tervalo::TDateien mit, ohne;
    qtest::AddEntry(mit, kaputt, 0, 100, 0, 100);
    qtest::AddEntry(mit, gut, 0, 100, 0, 100);
    qtest::AddEntry(ohne, gut, 0, 100, 0, 100);
    tervalo::TSettings s;
    ASSERT_NO_THROW(tervalo::KonfSave(d.File("mit.KNF"), s, mit));
    ASSERT_NO_THROW(tervalo::KonfSave(d.File("ohne.KNF"), s, ohne));
    const std::string meldung = "Datei besch\xC3\xA4" "digt (gzip): " + kaputt;

    const Ausgabe qm = Cli("query 20.5 20.5 --konf " + d.File("mit.KNF"));
    const Ausgabe qo = Cli("query 20.5 20.5 --konf " + d.File("ohne.KNF"));
    EXPECT_EQ(qm.rc, 0) << qm.err;
    EXPECT_EQ(qm.err, "");
    EXPECT_NE(qm.out.find("kaputt.xyz.gz"), std::string::npos) << qm.out;
    EXPECT_NE(qm.out.find(" 0  " + meldung + "\n"), std::string::npos) << qm.out;
    EXPECT_NE(qo.out.find("Extrapolation mit n\xC3\xA4" "chsten 6 Rasterpunkten"), std::string::npos) << qo.out;
    EXPECT_EQ(qm.out.substr(qm.out.find("\nDatei: ")), qo.out.substr(qo.out.find("\nDatei: ")));

    qtest::WriteFile(d.File("punkte.txt"), "20.5 20.5\n1000 1000\n52 48\n");
    const Ausgabe bm = Cli("batch " + d.File("punkte.txt") + " --konf " + d.File("mit.KNF"));
    const Ausgabe bo = Cli("batch " + d.File("punkte.txt") + " --konf " + d.File("ohne.KNF"));
    EXPECT_EQ(bm.rc, 1);
    EXPECT_EQ(bo.rc, 0) << bo.err;
    EXPECT_EQ(bm.out, bo.out);
    EXPECT_EQ(bm.err, meldung + "\n");
}

TEST_F(QueryCli, TableWithHeaderLengthZeroIsNamedByEveryCommand) {
    const std::string t = dir_->File("kopf0.dbf");
    qtest::WriteFile(t, std::string("\x03\x7E\x01\x01\x01\0\0\0\0\0\x2B\0", 12) + std::string(120, '\0'));
    const std::string meldung = "Ung\xC3\xBCltige dBase-Tabelle (Kopf- oder Satzl\xC3\xA4nge 0): " + t + "\n";
    tervalo::TDateien kat;
    qtest::AddEntry(kat, t, 0, 10, 0, 10);
    tervalo::TSettings s;
    const std::string konf = dir_->File("kopf0.KNF");
    ASSERT_NO_THROW(tervalo::KonfSave(konf, s, kat));
    qtest::WriteFile(dir_->File("p.txt"), "5 5\n");
    for (const std::string& args : {"scan " + t, "info " + t, "query 5 5 --konf " + konf,
                                   "batch " + dir_->File("p.txt") + " --konf " + konf}) {
        const Ausgabe a = Cli(args);
        EXPECT_EQ(a.rc, 1) << args;
        EXPECT_EQ(a.err, meldung) << args;
    }
}

TEST_F(QueryCli, ClosedStandardOutputEndsQueryAndBatchQuietly) {
    const std::string err = dir_->File("err_pipe"), rc = dir_->File("rc_pipe");
    // "true;" first: Starte puts a variable assignment before the command line.
    Ausgabe a = Starte("true; { " + kCli + " query 3567002.5 5936002.5 --konf " + Konf() + " 2>" + err + "; echo $? >" + rc +
                           "; } | head -1",
                       dir_->File("err"));
    EXPECT_EQ(a.out, "Nr.  Datei                          gelesene Zeilen gefilterte Werte\n");
    EXPECT_EQ(Read(err), "");
    const std::string code = Read(rc);
    EXPECT_TRUE(code == "0\n" || code == "1\n") << code;  // 1 when the output was cut, never a signal

    // Endless input: the batch stops once nobody reads its answers.
    a = Starte("true; yes '3567002.5 5936002.5' | { timeout 300 " + kCli + " batch --konf " + Konf() + " 2>" + err +
                   "; echo $? >" + rc + "; } | head -1",
               dir_->File("err"));
    EXPECT_EQ(a.out, "X\tY\tAbstand\tH\xC3\xB6he\tn\tShepard\n");
    EXPECT_EQ(Read(err), "");
    EXPECT_EQ(Read(rc), "1\n");
}
