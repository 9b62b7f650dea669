// GET /metrics without sockets: the whole text parses, and each counter moves by what the
// requests did, under the labels they belong to, also across a reload and many threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/Konf.h"
#include "query/Batch.h"
#include "query/query_test_util.h"
#include "server/Dienst.h"
#include "server/dienst_katalog.h"
#include "server/Metriken.h"
#include "server/metrik_text.h"

namespace tervalo::server {
namespace {

using test::LiesMetriken;
using test::TMetrikText;

using tervalo::test::kX0;
using tervalo::test::kY0;
using tervalo::test::TKatalogDateien;

TDienstEinstellungen Einstellungen(const std::string& knf) {
    TDienstEinstellungen e;
    e.Kataloge = {{"dgm", knf}};
    e.MaxPunkte = 5;
    return e;
}

TAntwort Frage(TDienst& d, const std::string& methode, const std::string& pfad, const std::string& abfrage = "") {
    TAnfrage a;
    a.Methode = methode;
    a.Pfad = pfad;
    a.Abfrage = abfrage;
    return d.Beantworte(a);
}

TMetrikText Metriken(TDienst& d) {
    const TAntwort a = Frage(d, "GET", "/metrics");
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.Inhaltstyp, "text/plain; version=0.0.4; charset=utf-8");
    return LiesMetriken(a.Koerper);
}

double Anfragen(const TMetrikText& m, const std::string& pfad, int status, const std::string& katalog = "") {
    std::map<std::string, std::string> l = {{"pfad", pfad}, {"status", std::to_string(status)}};
    if (!katalog.empty()) l["katalog"] = katalog;
    return m.Wert("tervalo_anfragen_total", l);
}

// Two positions on the tile as WGS 84 (lat,lng), converted by PROJ's cs2cs.
const char* kZweiPositionen = "locations=53.5516482,10.0105967|53.5517368,10.0107497";

TEST(DienstMetriken, CountersMoveUnderTheirLabels) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    const TMetrikText leer = Metriken(d);
    for (const char* familie : {"tervalo_anfragen_total", "tervalo_punkte_total", "tervalo_antwortzeit_sekunden",
                                "tervalo_kacheln_gehalten", "tervalo_bytes_gehalten", "tervalo_kachel_lesungen_total",
                                "tervalo_umrechnung_fehler_total", "tervalo_kataloge", "tervalo_start_zeit_sekunden"}) {
        EXPECT_TRUE(leer.Typ.count(familie)) << familie;
        EXPECT_TRUE(leer.Hilfe.count(familie)) << familie;
    }
    EXPECT_EQ(leer.Typ.at("tervalo_antwortzeit_sekunden"), "histogram");
    EXPECT_EQ(leer.Wert("tervalo_kacheln_gehalten", {{"katalog", "dgm"}}), 0);
    EXPECT_EQ(leer.Wert("tervalo_kataloge"), 1);
    EXPECT_GT(leer.Wert("tervalo_start_zeit_sekunden"), 1.6e9);

    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", kZweiPositionen).Status, 200);
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm/punkte", "punkte=3567041,5936057|3567042,5936058|3567043,5936059").Status, 200);
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", "locations=1,1|1,1|1,1|1,1|1,1|1,1").Status, 413);
    EXPECT_EQ(Frage(d, "GET", "/v1/nix").Status, 404);
    EXPECT_EQ(Frage(d, "GET", "/v1/%zz").Status, 400);
    EXPECT_EQ(Frage(d, "GET", "/gibt/es/nicht").Status, 404);
    EXPECT_EQ(Frage(d, "GET", "/health").Status, 200);
    EXPECT_EQ(Frage(d, "DELETE", "/metrics").Status, 405);
    EXPECT_EQ(Frage(d, "POST", "/v1/dgm/punkte").Status, 400);

    const TMetrikText m = Metriken(d);
    EXPECT_EQ(Anfragen(m, "/v1/{name}", 200, "dgm"), 1);
    EXPECT_EQ(Anfragen(m, "/v1/{name}/punkte", 200, "dgm"), 1);
    EXPECT_EQ(Anfragen(m, "/v1/{name}", 413, "dgm"), 1);
    EXPECT_EQ(Anfragen(m, "/v1/{name}", 404, "unbekannt"), 1);  // the name asked for is no label
    EXPECT_EQ(Anfragen(m, "andere", 400), 1);
    EXPECT_EQ(Anfragen(m, "andere", 404), 1);
    EXPECT_EQ(Anfragen(m, "/health", 200), 1);
    EXPECT_EQ(Anfragen(m, "/metrics", 405), 1);
    EXPECT_EQ(Anfragen(m, "/metrics", 200), 1);  // the scrape before, not this one
    EXPECT_EQ(Anfragen(m, "/v1/{name}/punkte", 400, "dgm"), 1);
    EXPECT_EQ(m.Summe("tervalo_anfragen_total"), 10);

    EXPECT_EQ(m.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), 5);
    EXPECT_FALSE(m.Hat("tervalo_punkte_total", {{"katalog", "unbekannt"}}));
    test::PruefeHistogramm(m, "tervalo_antwortzeit_sekunden");
    EXPECT_EQ(m.Wert("tervalo_antwortzeit_sekunden_count"), 10);
    EXPECT_GT(m.Wert("tervalo_antwortzeit_sekunden_sum"), 0);

    EXPECT_EQ(m.Wert("tervalo_kacheln_gehalten", {{"katalog", "dgm"}}), 1);
    EXPECT_GT(m.Wert("tervalo_bytes_gehalten", {{"katalog", "dgm"}}), 21 * 21 * 16);
    EXPECT_EQ(m.Wert("tervalo_kachel_lesungen_total", {{"katalog", "dgm"}}), 1);  // loaded once, kept
    EXPECT_EQ(m.Wert("tervalo_umrechnung_fehler_total", {{"katalog", "dgm"}}), 0);
}

TEST(DienstMetriken, MethodsHeadOptionsAndCors) {
    TKatalogDateien k;
    TDienstEinstellungen e = Einstellungen(k.knf);
    e.Cors = {"https://a.example"};
    TDienst d(e);
    EXPECT_EQ(Frage(d, "HEAD", "/metrics").Status, 200);
    const TAntwort o = Frage(d, "OPTIONS", "/metrics");
    EXPECT_EQ(o.Status, 204);
    ASSERT_FALSE(o.Kopf.empty());
    EXPECT_EQ(o.Kopf[0], (std::pair<std::string, std::string>{"Allow", "GET, OPTIONS"}));
    EXPECT_EQ(Frage(d, "POST", "/metrics").Status, 405);
    TAnfrage a;
    a.Methode = "GET";
    a.Pfad = "/metrics";
    a.Herkunft = "https://a.example";
    const TAntwort r = d.Beantworte(a);
    EXPECT_EQ(r.Kopf.at(0), (std::pair<std::string, std::string>{"Access-Control-Allow-Origin", "https://a.example"}));
    const TMetrikText m = LiesMetriken(r.Koerper);
    EXPECT_EQ(Anfragen(m, "/metrics", 200), 1);
    EXPECT_EQ(Anfragen(m, "/metrics", 204), 1);
    EXPECT_EQ(Anfragen(m, "/metrics", 405), 1);
}

TEST(DienstMetriken, ConversionFailuresCounted) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    // A latitude beyond the pole is no WGS 84 position: that point fails, the other is answered.
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm/punkte", "system=wgs84&punkte=95,10|53.5516482,10.0105967").Status, 200);
    // Not a number without a system is no conversion.
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm/punkte", "punkte=abc,1").Status, 200);
    // Beyond the zone's area: an error in that result; along a path the request is refused.
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", "locations=0,-171|53.5516482,10.0105967").Status, 200);
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", "locations=0,-171|53.5516482,10.0105967&samples=3").Status, 400);
    const TMetrikText m = Metriken(d);
    EXPECT_EQ(m.Wert("tervalo_umrechnung_fehler_total", {{"katalog", "dgm"}}), 3);
    EXPECT_EQ(m.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), 2);
}

TEST(DienstMetriken, CountersSurviveReload) {
    TKatalogDateien k, zwei;
    TDienst d(Einstellungen(k.knf));
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", kZweiPositionen).Status, 200);
    ASSERT_EQ(d.Neuladen(), "");
    const TMetrikText nach = Metriken(d);
    EXPECT_EQ(Anfragen(nach, "/v1/{name}", 200, "dgm"), 1);
    EXPECT_EQ(nach.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), 2);
    EXPECT_EQ(nach.Wert("tervalo_kachel_lesungen_total", {{"katalog", "dgm"}}), 1);
    EXPECT_EQ(nach.Wert("tervalo_kacheln_gehalten", {{"katalog", "dgm"}}), 0);  // a new engine holds nothing yet

    // The new engine reads the tile again: the count goes on from the old one's.
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", kZweiPositionen).Status, 200);
    const TMetrikText weiter = Metriken(d);
    EXPECT_EQ(Anfragen(weiter, "/v1/{name}", 200, "dgm"), 2);
    EXPECT_EQ(weiter.Wert("tervalo_kachel_lesungen_total", {{"katalog", "dgm"}}), 2);
    EXPECT_EQ(weiter.Wert("tervalo_kacheln_gehalten", {{"katalog", "dgm"}}), 1);

    // A catalogue taken out keeps its counters; only the served ones hold tiles.
    const std::vector<TKatalogAngabe> neu = {{"zwei", zwei.knf}};
    ASSERT_EQ(d.Neuladen(&neu), "");
    EXPECT_EQ(Frage(d, "GET", "/v1/dgm", kZweiPositionen).Status, 404);
    const TMetrikText ohne = Metriken(d);
    EXPECT_EQ(Anfragen(ohne, "/v1/{name}", 200, "dgm"), 2);
    EXPECT_EQ(Anfragen(ohne, "/v1/{name}", 404, "unbekannt"), 1);
    EXPECT_EQ(ohne.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), 4);
    EXPECT_FALSE(ohne.Hat("tervalo_kacheln_gehalten", {{"katalog", "dgm"}}));
    EXPECT_TRUE(ohne.Hat("tervalo_kacheln_gehalten", {{"katalog", "zwei"}}));
    EXPECT_EQ(ohne.Wert("tervalo_kataloge"), 1);
    EXPECT_EQ(ohne.Wert("tervalo_antwortzeit_sekunden_count"), ohne.Summe("tervalo_anfragen_total"));
}

TEST(DienstMetriken, NoCountLostUnderConcurrentRequests) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    constexpr int kThreads = 8, kJe = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kJe; ++i) {
                if (i % 2 == 0)
                    Frage(d, "GET", "/v1/dgm/punkte", "punkte=3567041,5936057|3567042,5936058");
                else
                    Frage(d, "GET", t % 2 ? "/health" : "/metrics");
            }
        });
    for (std::thread& th : threads) th.join();
    const TMetrikText m = Metriken(d);
    EXPECT_EQ(Anfragen(m, "/v1/{name}/punkte", 200, "dgm"), kThreads * kJe / 2);
    EXPECT_EQ(m.Wert("tervalo_punkte_total", {{"katalog", "dgm"}}), kThreads * kJe);
    EXPECT_EQ(m.Summe("tervalo_anfragen_total"), kThreads * kJe);
    EXPECT_EQ(m.Wert("tervalo_antwortzeit_sekunden_count"), kThreads * kJe);
}

TEST(DienstMetriken, RefusedRequestsCountedByRoute) {
    TKatalogDateien k;
    TDienst d(Einstellungen(k.knf));
    d.ZaehleAbgewiesen("/v1/dgm/punkte?punkte=1,2", 413);
    d.ZaehleAbgewiesen("/v1/anders?x", 414);
    d.ZaehleAbgewiesen("", 400);  // a request line that could not be read
    d.ZaehleAbgewiesen("/v1/%zz", 431);
    const TMetrikText m = Metriken(d);
    EXPECT_EQ(Anfragen(m, "/v1/{name}/punkte", 413, "dgm"), 1);
    EXPECT_EQ(Anfragen(m, "/v1/{name}", 414, "unbekannt"), 1);
    EXPECT_EQ(Anfragen(m, "andere", 400), 1);
    EXPECT_EQ(Anfragen(m, "andere", 431), 1);
    // Not timed: the service did not answer them.
    EXPECT_EQ(m.Wert("tervalo_antwortzeit_sekunden_count"), 0);
}

TEST(DienstMetriken, LabelValuesEscaped) {
    const std::string roh = "a\\b\"c\nd";
    const std::string text = "# TYPE x gauge\nx{l=\"" + LabelWert(roh) + "\"} 1\n";
    EXPECT_EQ(LabelWert(roh), "a\\\\b\\\"c\\nd");
    const TMetrikText m = LiesMetriken(text);
    EXPECT_EQ(m.Wert("x", {{"l", roh}}), 1);
}

// The tiles-held count the gauge reads: let go of under a memory bound, counted again when read.
TEST(DienstMetriken, EngineCountsTilesHeld) {
    qtest::TempDir dir;
    TDateien kat;
    for (int i = 0; i < 2; ++i) {
        const std::string t = dir.File("k" + std::to_string(i) + ".xyz");
        qtest::WriteFile(t, qtest::XyzText(qtest::Grid(kX0 + 200 * i, kX0 + 200 * i + 100, kY0, kY0 + 100, 5)));
        qtest::AddEntry(kat, t, kX0 + 200 * i, kX0 + 200 * i + 100, kY0, kY0 + 100);
    }
    TBatchAbfrage b(kat, 5, 2);
    auto frage = [&](double x) { b.AnswerAll({{x, kY0 + 50}}, [](std::size_t, const THoehenAntwort&) {}); };
    frage(kX0 + 50);
    frage(kX0 + 250);
    EXPECT_EQ(b.GehalteneKacheln(), 2u);
    b.SetMemoryBound(b.BelegteBytes() * 3 / 4);  // room for one
    EXPECT_EQ(b.GehalteneKacheln(), 1u);
    frage(kX0 + 50);
    frage(kX0 + 250);
    EXPECT_EQ(b.GehalteneKacheln(), 1u);
    EXPECT_EQ(b.Lesungen(), 4);
}

}  // namespace
}  // namespace tervalo::server
