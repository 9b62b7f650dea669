// tervalo-cli profil over the demo terrain, run as a program: each sample against `query` at
// its coordinate, the written forms under both locales, vertices from files, refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "query/query_test_util.h"
#include "support/shell.h"

namespace {

using tervalo::test::Shell;
using tervalo::test::TStderr;
using Json = nlohmann::json;

const std::string kCli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
const std::string kDemo = std::string(TERVALO_BIN_DIR) + "/tervalo-demo";

struct Lauf {
    int rc;
    std::string out, err;
};

std::vector<std::string> Zeilen(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string z; std::getline(in, z);) v.push_back(z);
    return v;
}

class ProfilCli : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qtest::TempDir;
        ASSERT_EQ(Shell(kDemo + " " + dir_->Path().string() + " >/dev/null 2>&1", TStderr::Passed).code, 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Konf() { return dir_->File("tervalo.KNF"); }
    static Lauf Run(const std::string& args, const std::string& locale = "C", const std::string& eingabe = "") {
        const std::string err = dir_->File("err");
        const std::string vor = eingabe.empty() ? "" : "printf '%s' " + tervalo::test::Quote(eingabe) + " | ";
        const tervalo::test::ShellResult r =
            Shell(vor + "LC_ALL=" + locale + " " + kCli + " " + args + " 2>" + err, TStderr::Passed);
        return {r.code, r.out, tervalo::test::ReadAll(err)};
    }
    static Lauf Profil(const std::string& args, const std::string& locale = "C", const std::string& eingabe = "") {
        return Run("profil --konf " + Konf() + " " + args, locale, eingabe);
    }
    static qtest::TempDir* dir_;
};
qtest::TempDir* ProfilCli::dir_ = nullptr;

}  // namespace

// Each sample of the JSON form is `query --json` at its coordinate; the text form shows the
// same heights, and its stations include every vertex.
TEST_F(ProfilCli, EverySampleIsTheQueryAtItsCoordinate) {
    const std::string ecken = "3566100 5935500 3567300 5936900 3567950 5935020";
    const Lauf j = Profil(ecken + " --schritt 173.3 --json");
    ASSERT_EQ(j.rc, 0) << j.err;
    const Json profil = Json::parse(j.out);
    const Json& proben = profil["proben"];
    ASSERT_GT(proben.size(), 20u);
    double laenge = 0;
    for (const Json& p : proben) {
        char xy[80];
        std::snprintf(xy, sizeof xy, "%.17g %.17g", p["x"].get<double>(), p["y"].get<double>());
        SCOPED_TRACE(xy);
        const Lauf q = Run("query --json --konf " + Konf() + " " + xy);
        ASSERT_EQ(q.rc, 0) << q.err;
        Json e = Json::parse(q.out);
        e.erase("rangliste");
        Json ohne = p;
        ohne.erase("station");
        EXPECT_EQ(ohne, e);
        laenge = p["station"].get<double>();
    }
    EXPECT_EQ(profil["zusammenfassung"]["laenge"].get<double>(), laenge);
    EXPECT_EQ(profil["zusammenfassung"]["proben"], proben.size());

    const Lauf t = Profil(ecken + " --schritt 173.3");
    ASSERT_EQ(t.rc, 0) << t.err;
    const std::vector<std::string> z = Zeilen(t.out);
    ASSERT_GT(z.size(), proben.size() + 2);
    EXPECT_EQ(z[0], "Station\tRechtswert\tHochwert\tAbstand\tH\xC3\xB6he\tn\tShepard");
    bool ecke2 = false;
    for (std::size_t i = 0; i < proben.size(); ++i) {
        char erwartet[64];
        std::snprintf(erwartet, sizeof erwartet, "\t%.2f\t%d\t", proben[i]["naechster"]["z"].get<double>(),
                      proben[i]["shepard"]["n"].get<int>());
        EXPECT_NE(z[i + 1].find(erwartet), std::string::npos) << z[i + 1];
        ecke2 |= z[i + 1].find("\t3567300.00\t5936900.00\t") != std::string::npos;
    }
    EXPECT_TRUE(ecke2) << "the middle vertex is a sample";
    EXPECT_EQ(z[proben.size() + 1], "");
    EXPECT_TRUE(z[proben.size() + 2].starts_with("L\xC3\xA4nge: ")) << t.out;
}

// CSV: the head line, ";", the locale's decimal separator and CR LF, no summary; the same
// numbers under C and German.
TEST_F(ProfilCli, CsvBytesUnderCAndGerman) {
    TERVALO_FOR_EACH_LOCALE(lc) {
        const Lauf c = Profil("3566102,5 5935500 3567900 5936500 --anzahl 3 --csv", lc);
        ASSERT_EQ(c.rc, 0) << c.err;
        const char sep = lc == "C" ? '.' : ',';
        std::string erwartet =
            "Station;Rechtswert;Hochwert;Abstand;H\xC3\xB6he;n;Shepard\r\n"
            "0.00;3566102.50;5935500.00;2.50;245.50;6;245.57\r\n"
            "1028.47;3567001.25;5936000.00;1.25;209.69;7;209.87\r\n"
            "2056.94;3567900.00;5936500.00;0.00;319.50;9;319.50\r\n";
        for (char& ch : erwartet)
            if (ch == '.') ch = sep;
        EXPECT_EQ(c.out, erwartet) << lc;
    }
}

// Samples beyond the tiles have no data: "-----" in their place, counted in the summary, and
// the ascent not summed across them.
TEST_F(ProfilCli, GapsAreShownAndCounted) {
    const Lauf t = Profil("3567800 5936900 3568400 5936900 --schritt 50");
    ASSERT_EQ(t.rc, 0) << t.err;
    const std::vector<std::string> z = Zeilen(t.out);
    std::size_t luecken = 0, proben = 0;
    for (const std::string& l : z) {
        if (l.empty()) break;
        if (l.starts_with("Station")) continue;
        ++proben;
        // Outside every tile nothing is counted either, as the batch writes it.
        if (l.ends_with("\t-----\t-----\t--\t-----")) ++luecken;
    }
    EXPECT_EQ(proben, 13u);
    EXPECT_GE(luecken, 6u);
    EXPECT_LE(luecken, 8u);
    EXPECT_NE(t.out.find("\nL\xC3\xA4nge: 600.00 m\n"), std::string::npos) << t.out;
    EXPECT_NE(t.out.find("\nProben ohne Daten: " + std::to_string(luecken) + " von 13\n"), std::string::npos) << t.out;
    const Json j = Json::parse(Profil("3567800 5936900 3568400 5936900 --schritt 50 --json").out);
    EXPECT_EQ(j["zusammenfassung"]["ohne_daten"], luecken);
    EXPECT_TRUE(j["proben"].back()["naechster"].is_null());
}

// Vertices from a file or standard input, read as batch reads points: the same profile as
// typed on the command line; a line that gives no vertex ends the run with nothing written.
TEST_F(ProfilCli, VerticesFromAFileOrStandardInput) {
    const Lauf typed = Profil("3566100 5935500 3567300 5936900 3567950 5935020 --anzahl 9");
    ASSERT_EQ(typed.rc, 0) << typed.err;
    const std::string datei = dir_->File("ecken.csv");
    qtest::WriteFile(datei, "\xEF\xBB\xBFNr;Rechtswert;Hochwert\r\n1;3566100;5935500\r\n\r\n2;3567300,0;5936900\r\n"
                            "3;3567950;5935020\r\n");
    const Lauf f = Profil("--datei " + datei + " --spalten 2,3 --anzahl 9");
    EXPECT_EQ(f.rc, 0) << f.err;
    EXPECT_EQ(f.out, typed.out);
    EXPECT_NE(f.err.find("Zeile 1: Kopfzeile \xC3\xBC" "bergangen"), std::string::npos) << f.err;
    const Lauf s = Profil("--datei - --anzahl 9", "C", "3566100 5935500\n3567300\t5936900\n3567950 5935020");
    EXPECT_EQ(s.rc, 0) << s.err;
    EXPECT_EQ(s.out, typed.out);

    const Lauf schlecht = Profil("--datei - --anzahl 9", "C", "3566100 5935500\n3567300 59x36900\n3567950 5935020\n");
    EXPECT_EQ(schlecht.rc, 1);
    EXPECT_EQ(schlecht.out, "");
    EXPECT_NE(schlecht.err.find("Zeile 2: Spalte 2 ist keine Zahl"), std::string::npos) << schlecht.err;
    const Lauf fehlt = Profil("--datei " + dir_->File("nicht_da.txt"));
    EXPECT_EQ(fehlt.rc, 1);
    EXPECT_NE(fehlt.err.find("nicht_da.txt"), std::string::npos) << fehlt.err;
}

// What cannot be a profile is a usage error with a German reason, and nothing on stdout.
TEST_F(ProfilCli, RefusesWhatIsNoProfile) {
    const std::vector<std::pair<std::string, std::string>> faelle = {
        {"3566100 5935500 3567300", "Hochwert"},
        {"3566100 5935500", "zwei Eckpunkte"},
        {"3566100 5935500 3567300 5936900 --schritt 0", "Schritt"},
        {"3566100 5935500 3567300 5936900 --schritt 0.001", "1000000"},
        {"3566100 5935500 3567300 5936900 --anzahl 1", "--anzahl"},
        {"3566100 5935500 3567300 5936900 --anzahl 5 --schritt 2", "schlie\xC3\x9F" "en einander aus"},
        {"3566100 5935500 3567300 5936900 --csv --json", "schlie\xC3\x9F" "en einander aus"},
        {"3566100 5935500 3567300 x5936900", "keine Zahl"},
        {"3566100 5935500 3567300 5936900 --datei -", "nicht beides"},
        {"3566100 5935500 3567300 5936900 --ein wgs84", "konf --system"},
    };
    for (const auto& [args, text] : faelle) {
        const Lauf r = Profil(args);
        EXPECT_EQ(r.rc, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find(text), std::string::npos) << args << "\n" << r.err;
    }
}

// With an input system the vertices are converted first and the line is sampled in the tiles'
// system: the same samples as the converted vertices typed directly.
TEST_F(ProfilCli, InputSystemConvertsTheVerticesFirst) {
    qtest::TempDir d;
    ASSERT_EQ(Shell(kDemo + " " + d.Path().string() + " >/dev/null 2>&1", TStderr::Passed).code, 0);
    const std::string konf = d.File("tervalo.KNF");
    ASSERT_EQ(Run("konf --system gk3 --konf " + konf).rc, 0);
    std::vector<std::string> xy;
    for (const char* p : {"51.5 7.5", "51.51 7.52"}) {
        const Lauf q = Run("query --json --ein wgs84 --konf " + konf + " '" + p + "'");
        ASSERT_EQ(q.rc, 0) << q.err;
        const Json j = Json::parse(q.out);
        char t[80];
        std::snprintf(t, sizeof t, "%.17g %.17g", j["x"].get<double>(), j["y"].get<double>());
        xy.push_back(t);
    }
    const Lauf ein = Run("profil --konf " + konf + " --ein wgs84 --schritt 100 51.5 7.5 51.51 7.52");
    ASSERT_EQ(ein.rc, 0) << ein.err;
    const Lauf direkt = Run("profil --konf " + konf + " --schritt 100 " + xy[0] + " " + xy[1]);
    ASSERT_EQ(direkt.rc, 0) << direkt.err;
    // The converted run names its operation first.
    ASSERT_TRUE(ein.out.starts_with("Umrechnung")) << ein.out;
    EXPECT_EQ(ein.out.substr(ein.out.find('\n') + 1), direkt.out);
    const Lauf aussen = Run("profil --konf " + konf + " --ein wgs84 51.5 7.5 51.5 30.0");
    EXPECT_EQ(aussen.rc, 2);
    EXPECT_NE(aussen.err.find("Eckpunkt 2"), std::string::npos) << aussen.err;
}
