// The service without sockets: routing, error answers, CORS, health, reload, and answers that
// equal the query engine's, also when many threads ask at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "config/Konf.h"
#include "koord/Umrechnung.h"
#include "query/Query.h"
#include "query/query_test_util.h"
#include "server/Dienst.h"
#include "server/dienst_katalog.h"

namespace tervalo::server {
namespace {

using nlohmann::json;

using tervalo::test::kX0;
using tervalo::test::kY0;
using tervalo::test::TKatalogDateien;

TDienstEinstellungen Einstellungen(const std::string& knf, std::vector<std::string> cors = {}) {
    TDienstEinstellungen e;
    e.Kataloge = {{"dgm", knf}};
    e.Cors = std::move(cors);
    return e;
}

TAntwort Get(TDienst& d, const std::string& pfad, const std::string& abfrage = "", const std::string& herkunft = "") {
    TAnfrage a;
    a.Methode = "GET";
    a.Pfad = pfad;
    a.Abfrage = abfrage;
    a.Herkunft = herkunft;
    return d.Beantworte(a);
}

std::string Kopf(const TAntwort& a, const std::string& name) {
    for (const auto& [n, w] : a.Kopf)
        if (n == name) return w;
    return {};
}

// The height the single query gives at (x, y) over the same catalogue.
double QueryZ(const TDateien& kat, double x, double y) {
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = x;
    p.Y = y;
    const THoehenAntwort& a = q.Run(kat, p);
    EXPECT_TRUE(a.HatNaechster);
    return a.Naechster.Z;
}

TEST(Dienst, RoutesAndErrorAnswers) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    struct Fall {
        std::string methode, pfad;
        int status;
    };
    const std::vector<Fall> faelle = {
        {"GET", "/", 404},
        {"GET", "/v2/dgm", 404},
        {"GET", "/v1/unbekannt", 404},
        {"GET", "/v1/dgm/punkte/mehr", 404},
        // A decoded separator stays inside its segment: no way to another path or a file.
        {"GET", "/v1/dgm%2Fpunkte", 404},
        {"GET", "/v1/..%2F..%2Fetc%2Fpasswd", 404},
        {"GET", "/v1/%zz", 400},
        {"GET", "kein-pfad", 400},
        {"DELETE", "/v1/dgm", 405},
        {"POST", "/health", 405},
        {"POST", "/v1/datasets", 405},
        {"GET", "/v1/dgm", 400},  // no locations
    };
    for (const Fall& f : faelle) {
        TAnfrage a;
        a.Methode = f.methode;
        a.Pfad = f.pfad;
        const TAntwort r = d.Beantworte(a);
        EXPECT_EQ(r.Status, f.status) << f.methode << " " << f.pfad;
        const json j = json::parse(r.Koerper);
        EXPECT_EQ(j["status"], "INVALID_REQUEST") << f.pfad;
        EXPECT_FALSE(j["error"].get<std::string>().empty()) << f.pfad;
        if (f.status == 405) {
            EXPECT_NE(Kopf(r, "Allow"), "") << f.pfad;
        }
    }
    // Percent-encoded names are the same name.
    EXPECT_EQ(Get(d, "/v1/%64gm/punkte", "punkte=3567000,5936000").Status, 200);
}

TEST(Dienst, DatasetsAndHealth) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    const json ds = json::parse(Get(d, "/v1/datasets").Koerper);
    ASSERT_EQ(ds["datasets"].size(), 1u);
    EXPECT_EQ(ds["datasets"][0]["name"], "dgm");
    EXPECT_EQ(ds["datasets"][0]["system"], "EPSG:31467");
    EXPECT_EQ(ds["datasets"][0]["tiles"], 1);
    EXPECT_EQ(ds["datasets"][0]["extent"]["xmax"], kX0 + 100);

    EXPECT_EQ(Get(d, "/health").Status, 200);
    std::filesystem::remove(k.tile);
    // Checked at most every 10 s: the answer of a moment ago holds.
    EXPECT_EQ(Get(d, "/health").Status, 200);
    d.SetGesundheitsIntervall(std::chrono::seconds(0));
    const TAntwort krank = Get(d, "/health");
    EXPECT_EQ(krank.Status, 503);
    EXPECT_NE(json::parse(krank.Koerper)["error"].get<std::string>().find(k.tile), std::string::npos);
    // A configuration that cannot be read (a folder in its place, also for root).
    qtest::WriteFile(k.tile, "1 2 3\n");
    std::filesystem::remove(k.knf);
    std::filesystem::create_directory(k.knf);
    const TAntwort unlesbar = Get(d, "/health");
    EXPECT_EQ(unlesbar.Status, 503);
    EXPECT_NE(unlesbar.Koerper.find(k.knf), std::string::npos);
}

TEST(Dienst, WgsAndNativeAnswersEqualTheQuery) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    const TBezugssystem gk3 = ParseBezugssystem("gk3");
    TUmrechnung zuWgs(ParseBezugssystem("wgs84"));
    const TUmgerechnet w = zuWgs.Convert(gk3, {kX0 + 41.2, kY0 + 57.9, false});
    char loc[96];
    std::snprintf(loc, sizeof loc, "locations=%.10f,%.10f|10,10", w.Y, w.X);
    const json r = json::parse(Get(d, "/v1/dgm", loc).Koerper);
    ASSERT_EQ(r["status"], "OK") << r.dump();
    // Converted as the service does it, the height is the query's there.
    TUmrechnung zuGk(gk3);
    const json& e = r["results"][0];
    const TUmgerechnet hin = zuGk.Convert(ParseBezugssystem("wgs84"), {e["location"]["lat"], e["location"]["lng"], false});
    EXPECT_EQ(e["elevation"].get<double>(), QueryZ(k.kat, hin.X, hin.Y));
    EXPECT_EQ(e["dataset"], "dgm");
    // Far outside: no data, nothing invented.
    EXPECT_TRUE(r["results"][1]["elevation"].is_null());

    const json n = json::parse(Get(d, "/v1/dgm/punkte", "punkte=3567041.2,5936057.9|abc,1").Koerper);
    EXPECT_EQ(n["results"][0]["naechster"]["z"].get<double>(), QueryZ(k.kat, kX0 + 41.2, kY0 + 57.9));
    EXPECT_FALSE(n["results"][0].contains("rangliste"));
    EXPECT_EQ(n["results"][1]["punkt"], 2);
    const json rang = json::parse(Get(d, "/v1/dgm/punkte", "punkte=3567041.2,5936057.9&rangliste=1").Koerper);
    EXPECT_EQ(rang["results"][0]["rangliste"].size(), 20u);
}

TEST(Dienst, CatalogueWithoutSystemRefusesWgsPositions) {
    TKatalogDateien k(false);
    TDienst d(Einstellungen(k.knf));
    const TAntwort r = Get(d, "/v1/dgm", "locations=53.5,10");
    EXPECT_EQ(r.Status, 400);
    EXPECT_NE(r.Koerper.find("hat kein Bezugssystem"), std::string::npos);
    EXPECT_EQ(Get(d, "/v1/dgm/punkte", "punkte=3567000,5936000").Status, 200);
    EXPECT_EQ(Get(d, "/v1/dgm/punkte", "punkte=53.5,10&system=wgs84").Status, 400);
}

TEST(Dienst, CorsOnlyForAllowedOrigins) {
    TKatalogDateien k;
    TDienst aus(Einstellungen(k.knf));
    EXPECT_EQ(Kopf(Get(aus, "/health", "", "https://a.example"), "Access-Control-Allow-Origin"), "");

    TDienst liste(Einstellungen(k.knf, {"https://a.example"}));
    const TAntwort ja = Get(liste, "/health", "", "https://a.example");
    EXPECT_EQ(Kopf(ja, "Access-Control-Allow-Origin"), "https://a.example");
    EXPECT_EQ(Kopf(ja, "Vary"), "Origin");
    EXPECT_EQ(Kopf(Get(liste, "/health", "", "https://b.example"), "Access-Control-Allow-Origin"), "");
    // Error answers carry it too, or the browser hides their text.
    EXPECT_EQ(Kopf(Get(liste, "/v1/nix", "", "https://a.example"), "Access-Control-Allow-Origin"), "https://a.example");

    TDienst alle(Einstellungen(k.knf, {"*"}));
    TAnfrage vorab;
    vorab.Methode = "OPTIONS";
    vorab.Pfad = "/v1/dgm";
    vorab.Herkunft = "https://c.example";
    vorab.Anfordern = "POST";
    const TAntwort v = alle.Beantworte(vorab);
    EXPECT_EQ(v.Status, 204);
    EXPECT_EQ(Kopf(v, "Access-Control-Allow-Origin"), "*");
    EXPECT_NE(Kopf(v, "Access-Control-Allow-Methods").find("POST"), std::string::npos);
    EXPECT_EQ(Kopf(v, "Access-Control-Allow-Headers"), "Content-Type");
    EXPECT_EQ(Kopf(aus.Beantworte(vorab), "Access-Control-Allow-Methods"), "");
}

TEST(Dienst, ReloadSwitchesOverOrKeepsTheOldCatalogues) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    auto z = [&] {
        const json n = json::parse(Get(d, "/v1/dgm/punkte", "punkte=3567050,5936050").Koerper);
        return n["results"][0]["naechster"]["z"].get<double>();
    };
    const double vorher = z();
    std::vector<qtest::P> hoeher = qtest::Grid(kX0, kX0 + 100, kY0, kY0 + 100, 5);
    for (qtest::P& p : hoeher) p.z += 1000;
    qtest::WriteFile(k.tile, qtest::XyzText(hoeher));
    EXPECT_EQ(z(), vorher);  // tiles loaded stay until the reload
    EXPECT_EQ(d.Neuladen(), "");
    EXPECT_EQ(z(), vorher + 1000);

    std::filesystem::remove(k.knf);
    const std::string fehler = d.Neuladen();
    EXPECT_NE(fehler.find("dgm"), std::string::npos);
    EXPECT_EQ(z(), vorher + 1000);
}

TEST(Dienst, StartRefusesACatalogueItCannotRead) {
    qtest::TempDir dir;
    try {
        TDienst d(Einstellungen(dir.File("fehlt.KNF")));
        FAIL() << "started without its catalogue";
    } catch (const EStartFehler& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_NE(std::string(e.what()).find("Katalog dgm"), std::string::npos);
    }
}

TEST(Dienst, ConcurrentRequestsEachGetTheirOwnAnswers) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    std::atomic<int> falsch{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                // Grid points: each answer's nearest point is the point asked for.
                const double x = kX0 + 5 * ((t * 7 + i) % 21), y = kY0 + 5 * ((t + i * 3) % 21);
                std::string punkte = std::to_string(x) + "," + std::to_string(y);
                if (i % 5 == 0) punkte += "|" + std::to_string(y) + "," + std::to_string(x);
                const json n = json::parse(Get(d, "/v1/dgm/punkte", "punkte=" + punkte).Koerper);
                const json& a = n["results"][0]["naechster"];
                const double soll = 100.0 + 0.01 * (x - kX0) + 0.02 * (y - kY0);
                if (a["x"] != x || a["y"] != y || std::abs(a["z"].get<double>() - soll) > 1e-9) ++falsch;
                if (i % 5 == 0 && !n["results"][1]["naechster"].is_null()) ++falsch;
            }
        });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(falsch, 0);
}

}  // namespace
}  // namespace tervalo::server
