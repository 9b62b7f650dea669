// Profiles in the service without sockets: the samples of a line by step or count, each the
// single query's answer there, the limits and refusals, and samples= sampling the same way.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "query/Query.h"
#include "query/query_test_util.h"
#include "server/Dienst.h"
#include "server/dienst_katalog.h"
#include "server/metrik_text.h"

namespace tervalo::server {
namespace {

using nlohmann::json;
using tervalo::test::kX0;
using tervalo::test::kY0;
using tervalo::test::TKatalogDateien;

TDienstEinstellungen Einstellungen(const std::string& knf, std::size_t maxPunkte = 10000) {
    TDienstEinstellungen e;
    e.Kataloge = {{"dgm", knf}};
    e.MaxPunkte = maxPunkte;
    return e;
}

TAntwort Frage(TDienst& d, const std::string& pfad, const std::string& abfrage) {
    TAnfrage a;
    a.Methode = "GET";
    a.Pfad = pfad;
    a.Abfrage = abfrage;
    return d.Beantworte(a);
}

json Profil(TDienst& d, const std::string& abfrage, int status = 200) {
    const TAntwort a = Frage(d, "/v1/dgm/profil", abfrage);
    EXPECT_EQ(a.Status, status) << abfrage << "\n" << a.Koerper.substr(0, 400);
    return json::parse(a.Koerper);
}

std::string Fehler(TDienst& d, const std::string& abfrage, int status) {
    return Profil(d, abfrage, status).value("error", "");
}

// Over the 100 m tile: 90 m east, then 40 m north (130 m), all on the data.
const std::string kLinie = "punkte=3567002.5,5936010|3567092.5,5936010|3567092.5,5936050";

// The stations and the summary are the core's and the command line's (compared in the socket
// tests); here each sample is answered in full as the single query answers its point.
TEST(DienstProfil, EachSampleIsTheQueryThere) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    const json j = Profil(d, kLinie + "&schritt=7");
    ASSERT_EQ(j["status"], "OK") << j;
    EXPECT_EQ(j["dataset"], "dgm");
    // 0, 7, ..., 126, the vertex at 90 (its own coordinates) and the end.
    ASSERT_EQ(j["proben"].size(), 21u);
    EXPECT_EQ(j["proben"][13]["station"], 90);
    EXPECT_EQ(j["proben"][13]["x"], 3567092.5);
    EXPECT_EQ(j["zusammenfassung"]["proben"], 21);
    THoehenAbfrage q;
    for (const json& p : j["proben"]) {
        TAbfrageParameter a;
        a.X = p["x"];
        a.Y = p["y"];
        const THoehenAntwort& h = q.Run(k.kat, a);
        EXPECT_EQ(p["naechster"]["z"].get<double>(), h.Naechster.Z) << p;
        EXPECT_EQ(p["anzahl"], h.Anzahl) << "answered in full";
    }
    // Neither step nor count: the catalogue's grid spacing (5 m).
    EXPECT_EQ(Profil(d, kLinie)["proben"].size(), 27u);
}

TEST(DienstProfil, LinesRefusedWithTheirReason) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf, 10));
    EXPECT_NE(Fehler(d, kLinie + "&schritt=5&anzahl=3", 400).find("schlie\xC3\x9F" "en einander aus"), std::string::npos);
    EXPECT_NE(Fehler(d, "punkte=3567002.5,5936010&anzahl=3", 400).find("mindestens 2 Eckpunkte"), std::string::npos);
    EXPECT_NE(Fehler(d, "punkte=3567002.5,5936010|abc,5936050", 400).find("Eckpunkt 2: abc"), std::string::npos);
    EXPECT_NE(Fehler(d, "system=wgs84&punkte=53.55,10.01|95,10&anzahl=2", 400).find("Eckpunkt 2"), std::string::npos);
    // At most 10 samples: known from the count, the length, or the samples made; 10 pass.
    EXPECT_NE(Fehler(d, kLinie + "&anzahl=11", 413).find("h\xC3\xB6" "chstens 10"), std::string::npos);
    EXPECT_NE(Fehler(d, kLinie + "&schritt=0.001", 413).find("zu viele Proben"), std::string::npos);
    EXPECT_NE(Fehler(d, kLinie + "&schritt=13", 413).find("12 Proben"), std::string::npos);
    EXPECT_EQ(Profil(d, kLinie + "&schritt=15")["proben"].size(), 10u);
    EXPECT_EQ(Profil(d, kLinie + "&anzahl=10")["proben"].size(), 10u);

    TKatalogDateien ohne(false);
    TDienst o(Einstellungen(ohne.knf));
    EXPECT_EQ(Profil(o, kLinie + "&anzahl=2")["proben"].size(), 2u);
    EXPECT_NE(Fehler(o, kLinie + "&system=gk3", 400).find("hat kein Bezugssystem"), std::string::npos);

    // The samples answered are counted, the refused lines are not.
    const test::TMetrikText m = test::LiesMetriken(Frage(d, "/metrics", "").Koerper);
    EXPECT_EQ(m.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), 20);
    EXPECT_EQ(m.Wert("tervalo_anfragen_total", {{"pfad", "/v1/{name}/profil"}, {"katalog", "dgm"}, {"status", "413"}}), 3);
    EXPECT_EQ(m.Wert("tervalo_umrechnung_fehler_total", {{"katalog", "dgm"}}), 1);
}

// samples=N of the elevation API is the profile by count of the same line: the same samples,
// so the same heights.
TEST(DienstProfil, ElevationSamplesAreTheProfileByCount) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    const std::string ecken = "53.5516482,10.0105967|53.5517368,10.0107497|53.5514,10.0109";
    const json s = json::parse(Frage(d, "/v1/dgm", "samples=9&locations=" + ecken).Koerper);
    const json p = Profil(d, "system=wgs84&anzahl=9&punkte=" + ecken);
    ASSERT_EQ(s["results"].size(), 9u) << s;
    ASSERT_EQ(p["proben"].size(), 9u) << p;
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(s["results"][i]["elevation"], p["proben"][i]["naechster"]["z"]) << i;
        EXPECT_EQ(s["results"][i]["resolution"], p["proben"][i]["naechster"]["r"]) << i;
    }
}

}  // namespace
}  // namespace tervalo::server
