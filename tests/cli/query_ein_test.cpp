// tervalo-cli query --ein: input in another reference system, checked against PROJ's cs2cs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <iterator>
#include <random>
#include <sstream>

#include "query/query_test_util.h"
#include "support/files.h"
#include "support/shell.h"

namespace {

using tervalo::test::Shell;
using tervalo::test::ShellResult;
using tervalo::test::TStderr;

const std::string kCli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
const std::string kDemo = std::string(TERVALO_BIN_DIR) + "/tervalo-demo";

struct Lauf {
    int rc;
    std::string out, err;
};

// The demo terrain (GK zone 3) with the tiles' system set, and one without it.
class QueryEin : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qtest::TempDir;
        for (const char* d : {"gk3", "ohne"})
            ASSERT_EQ(Shell(kDemo + " " + dir_->File(d) + " >/dev/null 2>&1", TStderr::Passed).code, 0);
        ASSERT_EQ(Run("konf --system gk3 --konf " + Konf()).rc, 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Konf() { return dir_->File("gk3") + "/tervalo.KNF"; }
    static Lauf Run(const std::string& args, const std::string& locale = "C") {
        const std::string err = dir_->File("err");
        const ShellResult r = Shell("LC_ALL=" + locale + " " + kCli + " " + args + " 2>" + err, TStderr::Passed);
        return {r.code, r.out, tervalo::test::ReadAll(err)};
    }
    static Lauf Query(const std::string& args) { return Run("query --konf " + Konf() + " " + args); }

    // cs2cs in PROJ's axis order of the two systems; the two first numbers of its answer.
    static std::pair<double, double> Cs2cs(const std::string& von, const std::string& nach, double a, double b) {
        char zeile[128];
        std::snprintf(zeile, sizeof zeile, "%.9f %.9f", a, b);
        const ShellResult r =
            Shell("echo '" + std::string(zeile) + "' | cs2cs -d 9 " + von + " " + nach, TStderr::Passed);
        std::istringstream in(r.out);
        std::pair<double, double> p{NAN, NAN};
        in >> p.first >> p.second;
        return p;
    }

    static qtest::TempDir* dir_;
};
qtest::TempDir* QueryEin::dir_ = nullptr;

nlohmann::json Json(const Lauf& l) {
    EXPECT_EQ(l.rc, 0) << l.err;
    return nlohmann::json::parse(l.out);
}

// The answer without the keys --ein adds equals the plain query's at the reported coordinate.
void ExpectSameAnswer(nlohmann::json mitEin, const nlohmann::json& ohne) {
    mitEin.erase("eingabe");
    mitEin.erase("umrechnung");
    EXPECT_EQ(mitEin, ohne);
}

std::string Zahl(double v, const char* form = "%.9f") {
    char buf[64];
    std::snprintf(buf, sizeof buf, form, v);
    return buf;
}

// Degrees as "53 33 4.418 N".
std::string Dms(double grad, char plus) {
    const int g = static_cast<int>(grad);
    const int m = static_cast<int>((grad - g) * 60);
    const double s = ((grad - g) * 60 - m) * 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %d %.7f %c", g, m, s, plus);
    return buf;
}

TEST_F(QueryEin, EverySystemAgreesWithCs2csAndWithThePlainQuery) {
    std::mt19937 zufall(24);
    std::uniform_real_distribution<double> rechts(3566000.0, 3568000.0), hoch(5935000.0, 5937000.0);
    for (int i = 0; i < 3; ++i) {
        const double r = rechts(zufall), h = hoch(zufall);
        // The same place in each system, by PROJ's own tool (GK: northing first in PROJ's order).
        const auto utm = Cs2cs("EPSG:31467", "EPSG:25832", h, r);
        const auto wgs = Cs2cs("EPSG:31467", "EPSG:4326", h, r);
        const auto etrs = Cs2cs("EPSG:31467", "EPSG:4258", h, r);
        struct Fall {
            std::string ein, a, b, von;
            double pa, pb;  // the input in cs2cs's axis order of `von`
        };
        const std::vector<Fall> faelle = {
            {"utm32", Zahl(utm.first), Zahl(utm.second), "EPSG:25832", utm.first, utm.second},
            {"utm32", "32" + Zahl(utm.first), Zahl(utm.second), "EPSG:25832", utm.first, utm.second},
            {"EPSG:25832", Zahl(utm.first), Zahl(utm.second), "EPSG:25832", utm.first, utm.second},
            {"auto", "32" + Zahl(utm.first), Zahl(utm.second), "EPSG:25832", utm.first, utm.second},
            {"wgs84", Zahl(wgs.first), Zahl(wgs.second), "EPSG:4326", wgs.first, wgs.second},
            {"etrs89", Zahl(etrs.first), Zahl(etrs.second), "EPSG:4258", etrs.first, etrs.second},
        };
        for (const Fall& f : faelle) {
            SCOPED_TRACE(f.ein + " " + f.a + " " + f.b);
            const nlohmann::json j = Json(Query("--ein " + f.ein + " --json " + f.a + " " + f.b));
            const auto soll = Cs2cs(f.von, "EPSG:31467", f.pa, f.pb);
            EXPECT_NEAR(j["x"].get<double>(), soll.second, 1e-6);
            EXPECT_NEAR(j["y"].get<double>(), soll.first, 1e-6);
            EXPECT_EQ(j["eingabe"]["system"], f.von);
            ASSERT_TRUE(j["umrechnung"].is_object()) << j.dump();
            EXPECT_FALSE(j["umrechnung"]["verfahren"].get<std::string>().empty());
            ExpectSameAnswer(j, Json(Query("--json " + Zahl(j["x"].get<double>(), "%.17g") + " " +
                                             Zahl(j["y"].get<double>(), "%.17g"))));
        }
        // Degree-minute-second forms and the one-argument form read the same place.
        const nlohmann::json dezimal = Json(Query("--ein wgs84 --json " + Zahl(wgs.first) + " " + Zahl(wgs.second)));
        for (const std::string& args : {"'" + Dms(wgs.first, 'N') + "' '" + Dms(wgs.second, 'E') + "'",
                                        "'" + Zahl(wgs.first) + ", " + Zahl(wgs.second) + "'"}) {
            SCOPED_TRACE(args);
            const nlohmann::json j = Json(Query("--ein wgs84 --json " + args));
            EXPECT_NEAR(j["x"].get<double>(), dezimal["x"].get<double>(), 1e-6);
            EXPECT_NEAR(j["y"].get<double>(), dezimal["y"].get<double>(), 1e-6);
        }
    }
}

TEST_F(QueryEin, TilesOwnSystemNeedsNoConversionAndAnswersAsWithout) {
    const nlohmann::json ohne = Json(Query("--json 3567002.5 5936002.5"));
    const nlohmann::json j = Json(Query("--ein gk3 --json 3567002.5 5936002.5"));
    EXPECT_TRUE(j["umrechnung"].is_null());
    EXPECT_EQ(j["eingabe"], (nlohmann::json{{"system", "EPSG:31467"}, {"werte", {3567002.5, 5936002.5}}}));
    ExpectSameAnswer(j, ohne);
    // Key order: the input's keys right after the coordinate.
    EXPECT_EQ(Query("--ein gk3 --json 3567002.5 5936002.5").out.rfind(
                  "{\"x\":3567002.5,\"y\":5936002.5,\"eingabe\":{\"system\":\"EPSG:31467\",\"werte\":[3567002.5,"
                  "5936002.5]},\"umrechnung\":null,\"fangbreite\"",
                  0),
              0u);

    // Text: the input line and the operation line lead, the rest is the plain query's.
    const Lauf text = Query("--ein gk3 3567002,5 5936002.5");
    ASSERT_EQ(text.rc, 0) << text.err;
    const std::string kopf =
        "Eingabe (gk3): 3567002,5 5936002.5 -> X 3567002.500 Y 5936002.500\n"
        "Keine Umrechnung n\xC3\xB6tig: Eingabe im Bezugssystem der Kacheln (EPSG:31467)\n";
    EXPECT_EQ(text.out, kopf + Query("3567002.5 5936002.5").out);
    const Lauf deutsch = Run("query --konf " + Konf() + " --ein utm32 566905.418 5934067.207", "de_DE.UTF-8");
    EXPECT_NE(deutsch.out.find(" -> X 3567002,"), std::string::npos) << deutsch.out;
    EXPECT_NE(deutsch.out.find("\nUmrechnung: "), std::string::npos) << deutsch.out;
}

TEST_F(QueryEin, BadInputIsAUsageErrorWithNothingWritten) {
    struct Fall {
        std::string args, meldung;
        std::string konf = "";
    };
    const std::string ohne = dir_->File("ohne") + "/tervalo.KNF";
    const std::vector<Fall> faelle = {
        {"--ein utm32 566905 5934067", "konf --system", ohne},
        {"--ein gk9 3567002.5 5936002.5", "--ein"},
        {"--ein wgs84 91 10", "Breite"},
        {"--ein wgs84 53.5 -7.5", ""},           // a negative number is a value, outside the area
        {"--ein wgs84 '51 30 12.5 N'", ""},      // one text that holds no second number
        {"--ein utm32 100 200", ""},             // outside the area of use
        {"--ein wgs84 10 100", ""},
    };
    for (const Fall& f : faelle) {
        SCOPED_TRACE(f.args);
        const Lauf l = Run("query --konf " + (f.konf.empty() ? Konf() : f.konf) + " " + f.args);
        EXPECT_EQ(l.rc, 2);
        EXPECT_EQ(l.out, "");
        EXPECT_NE(l.err.find(f.meldung), std::string::npos) << l.err;
        EXPECT_EQ(l.err.find("Unerwartet"), std::string::npos) << l.err;
    }
    // Without --ein the numbers are checked as before.
    EXPECT_EQ(Query("abc 5936002.5").err, "X: abc ist keine Zahl (Dezimaltrenner \".\" oder \",\")\n"
                                          "Weitere Informationen: tervalo-cli query --help\n");
    EXPECT_EQ(Query("3567002.5").err, "Angabe fehlt: Y\nWeitere Informationen: tervalo-cli query --help\n");
    EXPECT_EQ(Query("3567002.5 -5936002.5").rc, 0);
}

TEST_F(QueryEin, BatchAnswersAsTheSingleQueriesAndKeepsFailedLines) {
    const std::vector<std::pair<std::string, std::string>> punkte = {
        {"566905.418", "5934067.207"}, {"32566100", "5935000,5"}, {"53 33 4.42 N", "10 0 35.5 E"},
        {"53.551227538", "10.009869949"}};
    std::string eingabe = "Nr;A;B\n";
    for (std::size_t i = 0; i < punkte.size(); ++i)
        eingabe += "p" + std::to_string(i) + ";" + punkte[i].first + ";" + punkte[i].second + "\n";
    eingabe += "kaputt;91;10\n";
    const std::string datei = dir_->File("punkte.txt");
    tervalo::test::WriteAll(datei, eingabe);

    const Lauf json = Run("batch --konf " + Konf() + " --ein auto --id 1 --spalten 2,3 --json " + datei);
    EXPECT_EQ(json.rc, 1);
    std::istringstream zeilen(json.out);
    std::string zeile;
    for (const auto& [a, b] : punkte) {
        SCOPED_TRACE(a + " " + b);
        ASSERT_TRUE(std::getline(zeilen, zeile));
        nlohmann::json soll = Json(Query("--ein auto --json '" + a + "' '" + b + "'"));
        soll.erase("rangliste");
        nlohmann::json ist = nlohmann::json::parse(zeile);
        ist.erase("id");
        EXPECT_EQ(ist, soll);
    }
    ASSERT_TRUE(std::getline(zeilen, zeile));
    EXPECT_EQ(nlohmann::json::parse(zeile), (nlohmann::json{{"id", "kaputt"}, {"zeile", 6}, {"fehler", "Fehler in Zeile: 6"}}));
    EXPECT_NE(json.err.find("Zeile 1: Kopfzeile"), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("Zeile 6: \"91 10\" passt zu keiner Form"), std::string::npos) << json.err;

    // Text: the input columns after the id, then the plain batch's columns.
    const Lauf text = Run("batch --konf " + Konf() + " --ein utm32 --id 1 --spalten 2,3 " + datei);
    std::istringstream t(text.out);
    ASSERT_TRUE(std::getline(t, zeile));
    EXPECT_EQ(zeile, "Id\tEingabe 1\tEingabe 2\tX\tY\tAbstand\tH\xC3\xB6he\tn\tShepard");
    ASSERT_TRUE(std::getline(t, zeile));
    EXPECT_EQ(zeile.rfind("p0\t566905.418\t5934067.207\t3567002.50\t5936002.50\t", 0), 0u) << zeile;
    // In UTM a text in degrees is no point, and the batch goes on.
    std::string rest((std::istreambuf_iterator<char>(t)), std::istreambuf_iterator<char>());
    EXPECT_NE(rest.find("p2\tFehler in Zeile: 4\n"), std::string::npos) << rest;
    EXPECT_NE(rest.find("kaputt\tFehler in Zeile: 6\n"), std::string::npos) << rest;

    // --ein without the tiles' system: a usage error before any answer.
    const Lauf ohne = Run("batch --konf " + dir_->File("ohne") + "/tervalo.KNF --ein utm32 " + datei);
    EXPECT_EQ(ohne.rc, 2);
    EXPECT_EQ(ohne.out, "");
    EXPECT_NE(ohne.err.find("konf --system"), std::string::npos);
}

TEST_F(QueryEin, ExportConvertsTheWindowAndWritesNothingOnBadInput) {
    const std::string ziel = dir_->File("fenster.xyz");
    const Lauf l = Run("export --konf " + Konf() + " --ein utm32 566000 566100 5934000 5934100 " + ziel);
    ASSERT_EQ(l.rc, 0) << l.err;
    EXPECT_EQ(l.out.rfind("Fenster (utm32): X 566000 bis 566100, Y 5934000 bis 5934100\n"
                          "Fenster der Kacheln (EPSG:31467): X ",
                          0),
              0u)
        << l.out;
    EXPECT_NE(l.out.find("\nUmrechnung: "), std::string::npos);
    double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
    ASSERT_EQ(std::sscanf(l.out.c_str() + l.out.find("X ", l.out.find("Kacheln")), "X %lf bis %lf, Y %lf bis %lf", &xmin,
                          &xmax, &ymin, &ymax),
              4);
    // The window holds every converted corner, and is not much larger.
    for (double e : {566000.0, 566100.0})
        for (double n : {5934000.0, 5934100.0}) {
            const auto gk = Cs2cs("EPSG:25832", "EPSG:31467", e, n);
            EXPECT_GE(gk.second, xmin - 1e-3);
            EXPECT_LE(gk.second, xmax + 1e-3);
            EXPECT_GE(gk.first, ymin - 1e-3);
            EXPECT_LE(gk.first, ymax + 1e-3);
        }
    EXPECT_LT(xmax - xmin, 110);
    // The points are those of the plain export of that window.
    const std::string ohne = dir_->File("ohne.xyz");
    ASSERT_EQ(Run("export --konf " + Konf() + " " + Zahl(xmin, "%.3f") + " " + Zahl(xmax, "%.3f") + " " +
                  Zahl(ymin, "%.3f") + " " + Zahl(ymax, "%.3f") + " " + ohne)
                  .rc,
              0);
    EXPECT_EQ(tervalo::test::ReadAll(ziel), tervalo::test::ReadAll(ohne));
    EXPECT_FALSE(tervalo::test::ReadAll(ziel).empty());

    for (const char* args : {"--ein utm32 100 200 5934000 5934100", "--ein wgs84 95 96 10 11",
                                    "--ein auto 566000 566100 5934000 5934100", "--ein gk7 1 2 3 4"}) {
        SCOPED_TRACE(args);
        const std::string falsch = dir_->File("falsch.xyz");
        const Lauf f = Run("export --konf " + Konf() + " " + args + " " + falsch);
        EXPECT_EQ(f.rc, 2);
        EXPECT_EQ(f.out, "");
        EXPECT_FALSE(std::filesystem::exists(falsch));
    }
}

// A small tile in ETRS89 / UTM 32: GK, WGS 84 and prefixed UTM input against cs2cs.
TEST_F(QueryEin, UtmCatalogueTakesGaussKruegerAndGps) {
    std::string kachel;
    for (int j = 0; j <= 40; ++j)
        for (int i = 0; i <= 40; ++i) {
            char z[96];
            std::snprintf(z, sizeof z, "%d %d %.3f\n", 566000 + 5 * i, 5934000 + 5 * j, 100 + 0.05 * i + 0.1 * j);
            kachel += z;
        }
    const std::string ordner = dir_->File("utm");
    std::filesystem::create_directories(ordner);
    tervalo::test::WriteAll(ordner + "/kachel.xyz", kachel);
    const std::string konf = ordner + "/t.KNF";
    ASSERT_EQ(Run("konf --konf " + konf + " --save " + konf + " --hinzufuegen " + ordner + "/kachel.xyz").rc, 0);
    ASSERT_EQ(Run("konf --konf " + konf + " --system utm32").rc, 0);

    const auto gk = Cs2cs("EPSG:25832", "EPSG:31467", 566100.25, 5934100.75);  // northing, easting
    const auto wgs = Cs2cs("EPSG:25832", "EPSG:4326", 566100.25, 5934100.75);
    struct Fall {
        std::string ein, a, b, von;
        double pa, pb;
    };
    for (const Fall& f : std::vector<Fall>{{"gk3", Zahl(gk.second), Zahl(gk.first), "EPSG:31467", gk.first, gk.second},
                                           {"auto", Zahl(gk.second), Zahl(gk.first), "EPSG:31467", gk.first, gk.second},
                                           {"wgs84", Zahl(wgs.first), Zahl(wgs.second), "EPSG:4326", wgs.first, wgs.second}}) {
        SCOPED_TRACE(f.ein);
        const nlohmann::json j = Json(Run("query --konf " + konf + " --json --ein " + f.ein + " " + f.a + " " + f.b));
        const auto soll = Cs2cs(f.von, "EPSG:25832", f.pa, f.pb);
        EXPECT_NEAR(j["x"].get<double>(), soll.first, 1e-6);
        EXPECT_NEAR(j["y"].get<double>(), soll.second, 1e-6);
        ExpectSameAnswer(j, Json(Run("query --konf " + konf + " --json " + Zahl(j["x"].get<double>(), "%.17g") + " " +
                                     Zahl(j["y"].get<double>(), "%.17g"))));
    }
    // The zone prefix reads exactly as the plain easting; no conversion is needed for either.
    const nlohmann::json mit = Json(Run("query --konf " + konf + " --json --ein utm32 32566100.25 5934100.75"));
    EXPECT_EQ(mit["x"], 566100.25);
    EXPECT_TRUE(mit["umrechnung"].is_null());
    // A position far east of zone 32 lies outside the tiles' system's area: refused.
    EXPECT_EQ(Run("query --konf " + konf + " --ein wgs84 53.5 30").rc, 2);
}

}  // namespace
