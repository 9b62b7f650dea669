// The height service over real sockets: every answer equals the command line's at the same
// place, in each request form a client may use, and its limits and error answers hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "server/http_kataloge.h"
#include "server/http_prozess.h"

using nlohmann::json;
using namespace tervalo::test;

namespace {

struct TLatLng {
    double Lat, Lng;
};

// Points of the catalogue's system as WGS 84 positions, converted by PROJ's cs2cs. Systems of
// northing-first axis order (Gauss-Krueger) get their numbers swapped.
std::vector<TLatLng> NachWgs84(const std::vector<std::pair<double, double>>& xy, const std::string& system,
                               bool nordZuerst) {
    TempDir t;
    std::string ein;
    char buf[96];
    for (auto [x, y] : xy) {
        std::snprintf(buf, sizeof buf, "%.3f %.3f\n", nordZuerst ? y : x, nordZuerst ? x : y);
        ein += buf;
    }
    WriteAll(t / "ein.txt", ein);
    const ShellResult r = Shell("cs2cs -f %.7f " + system + " EPSG:4326 < " + Quote(t / "ein.txt"), TStderr::Apart);
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<TLatLng> aus;
    std::istringstream s(r.out);
    for (double lat, lng, h; s >> lat >> lng >> h;) aus.push_back({lat, lng});
    EXPECT_EQ(aus.size(), xy.size());
    return aus;
}

// A grid over the box, a few points beyond it (no data there) included.
std::vector<std::pair<double, double>> Raster(double x0, double x1, double y0, double y1, int n) {
    std::vector<std::pair<double, double>> p;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) p.push_back({x0 + (x1 - x0) * (i + 0.37) / n, y0 + (y1 - y0) * (j + 0.21) / n});
    return p;
}

std::string Text(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.7f", v);
    return buf;
}
std::string Locations(const std::vector<TLatLng>& p, const std::string& komma = ",", const std::string& strich = "|") {
    std::string s;
    for (const TLatLng& q : p) s += (s.empty() ? "" : strich) + Text(q.Lat) + komma + Text(q.Lng);
    return s;
}

// tervalo-cli batch --json: one parsed line per input line.
std::vector<json> Batch(const std::string& knf, const std::string& zeilen, const std::string& optionen = "") {
    TempDir t;
    WriteAll(t / "ein.txt", zeilen);
    const ShellResult r = Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' batch --json " + optionen + " --konf " +
                                    Quote(knf) + " " + Quote(t / "ein.txt"),
                                TStderr::Apart);
    std::vector<json> aus;
    std::istringstream s(r.out);
    for (std::string z; std::getline(s, z);) aus.push_back(json::parse(z));
    return aus;
}
std::vector<json> BatchWgs84(const std::string& knf, const std::vector<TLatLng>& p) {
    std::string z;
    for (const TLatLng& q : p) z += Text(q.Lat) + " " + Text(q.Lng) + "\n";
    return Batch(knf, z, "--ein wgs84");
}

class HttpApi : public TServerFixture<HttpApi> {
protected:
    static void SetUpTestSuite() {
        Starte(Kataloge().Alle());
    }
    static json Get(const std::string& ziel, int status = 200) {
        httplib::Client c = server_->Client();
        auto r = c.Get(ziel.c_str());
        if (!r) {
            ADD_FAILURE() << "no answer to GET " << ziel.substr(0, 200);
            return {};
        }
        EXPECT_EQ(r->status, status) << ziel.substr(0, 200) << "\n" << r->body.substr(0, 400);
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json; charset=utf-8");
        return json::parse(r->body, nullptr, false);
    }
    static json Post(const std::string& ziel, const std::string& koerper, const std::string& typ, int status = 200) {
        httplib::Client c = server_->Client();
        auto r = c.Post(ziel.c_str(), koerper, typ.c_str());
        if (!r) {
            ADD_FAILURE() << "no answer to POST " << ziel;
            return {};
        }
        EXPECT_EQ(r->status, status) << ziel << "\n" << r->body.substr(0, 400);
        return json::parse(r->body, nullptr, false);
    }
    static void ExpectFehler(const json& j, const std::string& teil) {
        EXPECT_EQ(j.value("status", ""), "INVALID_REQUEST") << j;
        ASSERT_TRUE(j.contains("error") && j["error"].is_string()) << j;
        EXPECT_NE(j["error"].get<std::string>().find(teil), std::string::npos) << j;
    }

    // The service's answer for these positions against batch --json --ein wgs84: nearest
    // point's Z and distance, or Shepard's Z; null where the batch found nothing.
    static void ExpectWieBatch(const std::string& name, const std::string& knf, const std::vector<TLatLng>& p,
                               const json& antwort, bool shepard = false) {
        const std::vector<json> b = BatchWgs84(knf, p);
        ASSERT_EQ(b.size(), p.size());
        ASSERT_EQ(antwort.value("status", ""), "OK") << antwort;
        ASSERT_EQ(antwort["results"].size(), p.size());
        int mitDaten = 0;
        for (std::size_t i = 0; i < p.size(); ++i) {
            const json& e = antwort["results"][i];
            SCOPED_TRACE(name + " " + b[i].dump());
            EXPECT_EQ(e["dataset"], name);
            EXPECT_EQ(e["location"]["lat"].get<double>(), std::stod(Text(p[i].Lat)));
            EXPECT_EQ(e["location"]["lng"].get<double>(), std::stod(Text(p[i].Lng)));
            const json& n = b[i]["naechster"];
            if (n.is_null()) {
                EXPECT_TRUE(e["elevation"].is_null()) << e;
                EXPECT_TRUE(e["resolution"].is_null()) << e;
                continue;
            }
            ++mitDaten;
            EXPECT_EQ(e["resolution"], n["r"]) << e;
            const json erwartet = !shepard ? n["z"] : b[i]["shepard"]["n"].get<int>() > 0 ? b[i]["shepard"]["z"] : json();
            EXPECT_EQ(e["elevation"], erwartet) << e;
        }
        EXPECT_GT(mitDaten, static_cast<int>(p.size() / 2)) << name << ": most points lie on the tiles";
    }
};

std::vector<TLatLng> DemoPunkte() {
    return NachWgs84(Raster(3565950, 3568000, 5935000, 5937050, 6), "EPSG:31467", true);
}

}  // namespace

// GET and every POST form (JSON text, lat/lng objects, open-elevation's objects, form body)
// give one answer, and it is the command line's, on each kind of catalogue entry.
TEST_F(HttpApi, EveryRequestFormAnswersAsTheCommandLine) {
    const std::vector<TLatLng> demo = DemoPunkte();
    const json get = Get("/v1/demo?locations=" + Locations(demo));
    ExpectWieBatch("demo", Kataloge().Demo, demo, get);

    json ll = json::array(), oe = json::array();
    for (const TLatLng& q : demo) {
        ll.push_back({{"lat", std::stod(Text(q.Lat))}, {"lng", std::stod(Text(q.Lng))}});
        oe.push_back({{"latitude", std::stod(Text(q.Lat))}, {"longitude", std::stod(Text(q.Lng))}});
    }
    EXPECT_EQ(Post("/v1/demo", json{{"locations", Locations(demo)}}.dump(), "application/json"), get);
    EXPECT_EQ(Post("/v1/demo", json{{"locations", ll}}.dump(), "application/json"), get);
    EXPECT_EQ(Post("/v1/demo", json{{"locations", oe}}.dump(), "application/json; charset=utf-8"), get);
    EXPECT_EQ(Post("/v1/demo", "locations=" + Locations(demo, "%2C", "%7C"), "application/x-www-form-urlencoded"), get);
    // Percent-encoded commas and bars in the query string read as the plain ones.
    EXPECT_EQ(Get("/v1/demo?locations=" + Locations(demo, "%2c", "%7C")), get);
    EXPECT_EQ(Get("/v1/demo?locations=" + Locations(demo) + "&interpolation=nearest&key=egal"), get);

    ExpectWieBatch("demo", Kataloge().Demo, demo, Get("/v1/demo?interpolation=shepard&locations=" + Locations(demo)),
                   true);
    const std::vector<TLatLng> gemischt = NachWgs84(Raster(3566000, 3568000, 5935000, 5937000, 5), "EPSG:31467", true);
    ExpectWieBatch("gemischt", Kataloge().Gemischt, gemischt, Get("/v1/gemischt?locations=" + Locations(gemischt)));
    const std::vector<TLatLng> ordner = NachWgs84(Raster(350000, 352100, 5600000, 5601000, 6), "EPSG:25832", false);
    ExpectWieBatch("ordner", Kataloge().Ordner, ordner, Get("/v1/ordner?locations=" + Locations(ordner)));
}

// The native form answers each point with the batch's own line, in the catalogue's system or
// the one given; the ranking is the single query's.
TEST_F(HttpApi, NativePointsAreBatchLines) {
    const std::string punkte = "3566502.5,5935502.5|3567002.5,5936002.5|3569000,5935500|3566000,5936999.99";
    const std::vector<json> b = Batch(Kataloge().Demo, "3566502.5 5935502.5\n3567002.5 5936002.5\n3569000 5935500\n"
                                                       "3566000 5936999.99\n");
    ASSERT_EQ(b.size(), 4u);
    json j = Get("/v1/demo/punkte?punkte=" + punkte);
    EXPECT_EQ(j.value("status", ""), "OK");
    EXPECT_EQ(j.value("dataset", ""), "demo");
    ASSERT_EQ(j["results"].size(), 4u) << j;
    for (std::size_t i = 0; i < b.size(); ++i) EXPECT_EQ(j["results"][i], b[i]) << i;
    EXPECT_EQ(Post("/v1/demo/punkte", "punkte=" + punkte, "application/x-www-form-urlencoded"), j);

    const std::vector<json> w = Batch(Kataloge().Demo, "53.556 10.0\n", "--ein EPSG:4326");
    ASSERT_EQ(w.size(), 1u);
    j = Get("/v1/demo/punkte?system=EPSG%3A4326&punkte=53.556,10.0");
    ASSERT_EQ(j["results"].size(), 1u) << j;
    EXPECT_EQ(j["results"][0], w[0]);

    const ShellResult q = Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' query --json --konf " +
                                    Quote(Kataloge().Demo) + " 3567002.5 5936002.5",
                                TStderr::Apart);
    ASSERT_EQ(q.code, 0) << q.err;
    const json qj = json::parse(q.out);
    j = Get("/v1/demo/punkte?rangliste=1&punkte=3567002.5,5936002.5");
    ASSERT_EQ(j["results"].size(), 1u) << j;
    ASSERT_EQ(qj["rangliste"].size(), 20u);
    EXPECT_EQ(j["results"][0]["rangliste"], qj["rangliste"]);
    EXPECT_EQ(j["results"][0]["naechster"], qj["naechster"]);
}

// At most --max-punkte points, samples counted; the answer to the most keeps input order.
TEST_F(HttpApi, TenThousandPointsAndNoMore) {
    std::vector<TLatLng> p;
    for (int i = 0; i < 10000; ++i) p.push_back({53.540 + 0.000002 * i, 10.0 + 0.0000013 * i});
    json j = Post("/v1/demo", json{{"locations", Locations(p)}}.dump(), "application/json");
    ASSERT_EQ(j["results"].size(), 10000u);
    EXPECT_EQ(j["results"][9999]["location"]["lat"].get<double>(), std::stod(Text(p[9999].Lat)));
    EXPECT_FALSE(j["results"][9999]["elevation"].is_null());
    // A form body that large is read too.
    EXPECT_EQ(Post("/v1/demo", "locations=" + Locations(p), "application/x-www-form-urlencoded"), j);
    p.push_back({53.55, 10.0});
    ExpectFehler(Post("/v1/demo", json{{"locations", Locations(p)}}.dump(), "application/json", 413), "");
    ExpectFehler(Post("/v1/demo", "locations=" + Locations(p), "application/x-www-form-urlencoded", 413), "");

    const std::string pfad = "locations=53.54,10.0|53.55,10.01&samples=";
    EXPECT_EQ(Get("/v1/demo?" + pfad + "10000")["results"].size(), 10000u);
    ExpectFehler(Get("/v1/demo?" + pfad + "10001", 413), "");
}

// samples=N: N points at i*L/(N-1) along the path in the catalogue's system, each answered as
// the command line answers that point, its location the sample converted back.
TEST_F(HttpApi, SamplesAlongAPath) {
    const std::vector<TLatLng> ecken = NachWgs84({{3566100, 5935100}, {3567900, 5936900}}, "EPSG:31467", true);
    const json j = Get("/v1/demo?samples=7&locations=" + Locations(ecken));
    ASSERT_EQ(j["results"].size(), 7u) << j;
    const std::vector<json> b = BatchWgs84(Kataloge().Demo, ecken);
    ASSERT_EQ(b.size(), 2u);
    const double x0 = b[0]["x"], y0 = b[0]["y"], x1 = b[1]["x"], y1 = b[1]["y"];
    std::string zeilen;
    for (int i = 0; i < 7; ++i) zeilen += std::to_string(x0 + (x1 - x0) * i / 6) + " " + std::to_string(y0 + (y1 - y0) * i / 6) + "\n";
    const std::vector<json> s = Batch(Kataloge().Demo, zeilen);
    ASSERT_EQ(s.size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(j["results"][i]["elevation"], s[i]["naechster"]["z"]) << i;
    EXPECT_NEAR(j["results"][0]["location"]["lat"].get<double>(), ecken[0].Lat, 1e-7);
    EXPECT_NEAR(j["results"][6]["location"]["lng"].get<double>(), ecken[1].Lng, 1e-7);
    EXPECT_NEAR(j["results"][3]["location"]["lat"].get<double>(), (ecken[0].Lat + ecken[1].Lat) / 2, 1e-4);
    ExpectFehler(Get("/v1/demo?samples=1&locations=" + Locations(ecken), 400), "");
    ExpectFehler(Get("/v1/demo?samples=zwei&locations=" + Locations(ecken), 400), "");
}

// No data is null unless nodata_value names a number; the resolution stays null.
TEST_F(HttpApi, NodataValue) {
    const std::string ziel = "/v1/demo?locations=53.556,10.0|53.60,10.0";
    json j = Get(ziel);
    ASSERT_EQ(j["results"].size(), 2u) << j;
    EXPECT_TRUE(j["results"][0]["elevation"].is_number());
    EXPECT_TRUE(j["results"][1]["elevation"].is_null());
    EXPECT_TRUE(j["results"][1]["resolution"].is_null());
    j = Get(ziel + "&nodata_value=-9999");
    EXPECT_EQ(j["results"][1]["elevation"], -9999);
    EXPECT_TRUE(j["results"][1]["resolution"].is_null());
    EXPECT_TRUE(j["results"][0]["elevation"].is_number());
    EXPECT_EQ(Get(ziel + "&nodata_value=null"), Get(ziel));
    j = Post("/v1/demo", R"({"locations":"53.60,10.0","nodata_value":-1.5})", "application/json");
    EXPECT_EQ(j["results"][0]["elevation"], -1.5);
    ExpectFehler(Get(ziel + "&nodata_value=nix", 400), "");
}

// Each error answer has its status, the one JSON shape and a German text.
TEST_F(HttpApi, ErrorAnswers) {
    ExpectFehler(Get("/v1/demo?locations=53.5;10.0", 400), "");
    ExpectFehler(Get("/v1/demo?locations=91,10", 400), "");
    ExpectFehler(Get("/v1/demo", 400), "");
    ExpectFehler(Get("/v1/demo?locations=53.5,10&interpolation=bilinear", 400), "");
    ExpectFehler(Get("/v1/demo?locations=53.5,10&locations=53.5,10", 400), "");
    ExpectFehler(Post("/v1/demo", "{\"locations\": [", "application/json", 400), "");
    ExpectFehler(Get("/v1/demo?locations=53.5%zz,10", 400), "");
    ExpectFehler(Get("/v1/ohne?locations=53.556,10.0", 400), "Bezugssystem");
    // Native points need no system of the catalogue.
    EXPECT_EQ(Get("/v1/ohne/punkte?punkte=3566502.5,5935502.5")["results"].size(), 1u);
    ExpectFehler(Get("/v1/gibtsnicht?locations=53.5,10", 404), "gibtsnicht");
    ExpectFehler(Get("/v1/..%2Fdemo?locations=53.5,10", 404), "");
    ExpectFehler(Get("/v1/demo/weiter?locations=53.5,10", 404), "");
    ExpectFehler(Get("/irgendwo", 404), "");

    // A request line of 8 KiB with its CR LF is read (the limit compiled into Debian's
    // cpp-httplib); a far longer one gets 414 and the hint to POST.
    const std::size_t zeile = 8192 - 2, rahmen = std::string("GET  HTTP/1.1").size();
    std::string ziel = "/v1/demo?locations=53.556,10.0";
    while (ziel.size() + 40 < zeile - rahmen) ziel += "|53.556,10.0";
    ziel += "&x=" + std::string(zeile - rahmen - ziel.size() - 3, 'x');
    ASSERT_EQ(("GET " + ziel + " HTTP/1.1").size(), zeile);
    const std::string lang = RoheAnfrage(server_->Port(), "GET " + ziel + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(lang.substr(0, 12), "HTTP/1.1 200") << lang.substr(0, 300);
    EXPECT_NE(lang.find("\"results\""), std::string::npos);
    std::vector<TLatLng> p(3000, TLatLng{53.556, 10.0});
    ExpectFehler(Get("/v1/demo?locations=" + Locations(p), 414), "POST");
    EXPECT_EQ(Get("/health").value("status", ""), "OK");
}

// Malformed HTTP and hostile headers end in an error or a closed connection, never in a crash
// or a hang; the service answers the next client.
TEST_F(HttpApi, MalformedHttpLeavesTheServiceRunning) {
    const int port = server_->Port();
    // Answers come at once; a connection the server keeps open afterwards need not be waited for.
    const auto kurz = std::chrono::milliseconds(1000);
    EXPECT_NE(RoheAnfrage(port, "GARBAGE\r\n\r\n", kurz).substr(0, 12), "HTTP/1.1 200");
    EXPECT_NE(RoheAnfrage(port, "GET /health HTTP/9.9\r\n\r\n", kurz).substr(0, 12), "HTTP/1.1 200");
    // The header count is bounded: 2000 headers of 56 bytes are not a request to answer.
    std::string viele = "GET /health HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 2000; ++i) viele += "X-" + std::to_string(i) + ": " + std::string(50, 'a') + "\r\n";
    EXPECT_NE(RoheAnfrage(port, viele + "\r\n", kurz).substr(0, 12), "HTTP/1.1 200");
    EXPECT_NE(RoheAnfrage(port, "GET /health HTTP/1.1\r\nHost: x\r\nX: " + std::string(100000, 'b') + "\r\n\r\n", kurz)
                  .substr(0, 12),
              "HTTP/1.1 200");
    // A body longer than announced, one never sent, a chunk size that lies.
    RoheAnfrage(port, "POST /v1/demo HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999\r\n\r\n{", std::chrono::milliseconds(300));
    RoheAnfrage(port, "POST /v1/demo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffff\r\nx\r\n",
                std::chrono::milliseconds(300));
    const std::string ok = RoheAnfrage(port, "GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(ok.substr(0, 12), "HTTP/1.1 200") << ok;
    EXPECT_FALSE(server_->Beendet());
}

// A tile that cannot be read: its points get null and the tile's name, the others their
// heights, the status stays OK, and the service goes on answering.
TEST_F(HttpApi, UnreadableTile) {
    const std::vector<TLatLng> p = NachWgs84({{3566500, 5935500}, {3567500, 5935500}}, "EPSG:31467", true);
    for (int runde = 0; runde < 2; ++runde) {
        const json j = Get("/v1/kaputt?locations=" + Locations(p));
        EXPECT_EQ(j.value("status", ""), "OK") << j;
        ASSERT_EQ(j["results"].size(), 2u) << j;
        EXPECT_TRUE(j["results"][0]["elevation"].is_number()) << j;
        EXPECT_FALSE(j["results"][0].contains("error")) << j;
        EXPECT_TRUE(j["results"][1]["elevation"].is_null()) << j;
        ASSERT_TRUE(j["results"][1].contains("error")) << j;
        EXPECT_NE(j["results"][1]["error"].get<std::string>().find("kaputt.xyz.gz"), std::string::npos) << j;
        EXPECT_EQ(Get("/v1/kaputt?nodata_value=0&locations=" + Locations(p))["results"][1]["elevation"], 0);
    }
    const json n = Get("/v1/kaputt/punkte?punkte=3567500,5935500");
    EXPECT_EQ(n.value("status", ""), "OK") << n;
    EXPECT_NE(n.dump().find("kaputt.xyz.gz"), std::string::npos) << n;
    EXPECT_EQ(Get("/health").value("status", ""), "OK");
    EXPECT_FALSE(server_->Beendet());
}

// The catalogues served, and one common-log line per request on standard error.
TEST_F(HttpApi, DatasetsHealthAndLog) {
    const json d = Get("/v1/datasets");
    const std::string text = d.dump();
    for (const char* name : {"demo", "ohne", "gemischt", "ordner", "kaputt"})
        EXPECT_NE(text.find(std::string("\"") + name + "\""), std::string::npos) << name << " " << text;
    EXPECT_NE(text.find("EPSG:31467"), std::string::npos) << text;
    EXPECT_NE(text.find("EPSG:25832"), std::string::npos) << text;
    EXPECT_EQ(Get("/health").value("status", ""), "OK");

    Get("/v1/demo?locations=53.556,10.0&logzeile=1");
    const std::regex zeile(R"(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET /v1/demo\?locations=53\.556(,|%2C)10\.0&logzeile=1 HTTP/1\.1" 200 \d+)");
    // The line is written once the answer is sent, so it may come a moment after it.
    std::string log = server_->Log();
    for (int i = 0; i < 40 && !std::regex_search(log, zeile); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        log = server_->Log();
    }
    EXPECT_TRUE(std::regex_search(log, zeile)) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

// curl, as users call it: GET with a percent-encoded comma, POST of JSON, the native form.
TEST_F(HttpApi, Curl) {
    const std::string basis = "http://127.0.0.1:" + std::to_string(server_->Port());
    TCurl c = Curl(Quote(basis + "/v1/demo?locations=53.556%2C10.0"));
    ASSERT_EQ(c.Code, 0) << "curl is needed for this test";
    EXPECT_EQ(c.Status, 200);
    const json get = json::parse(c.Koerper);
    EXPECT_EQ(get, Get("/v1/demo?locations=53.556,10.0"));
    c = Curl("-H 'Content-Type: application/json' -d '{\"locations\":[{\"lat\":53.556,\"lng\":10.0}]}' " +
             Quote(basis + "/v1/demo"));
    EXPECT_EQ(c.Status, 200);
    EXPECT_EQ(json::parse(c.Koerper), get);
    c = Curl("--data-urlencode 'locations=53.556,10.0' " + Quote(basis + "/v1/demo"));
    EXPECT_EQ(json::parse(c.Koerper), get);
    c = Curl(Quote(basis + "/v1/demo/punkte?punkte=3566502.5,5935502.5"));
    EXPECT_EQ(c.Status, 200);
    EXPECT_EQ(json::parse(c.Koerper)["results"][0]["naechster"]["z"], 257.505);
    c = Curl(Quote(basis + "/v1/nix?locations=1,2"));
    EXPECT_EQ(c.Status, 404);
}

// CORS is off unless asked for; with an origin list only those origins get the headers, and the
// pre-flight answers 204.
TEST(HttpCors, OffByDefaultOnForTheOriginsGiven) {
    const std::string ziel = "/v1/demo?locations=53.556,10.0";
    TServerProzess aus({"--katalog", "demo=" + Kataloge().Demo});
    ASSERT_TRUE(aus.Bereit()) << aus.Log();
    httplib::Client c = aus.Client();
    auto r = c.Get(ziel.c_str(), {{"Origin", "https://karte.example"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
    r = c.Options("/v1/demo", {{"Origin", "https://karte.example"}, {"Access-Control-Request-Method", "POST"}});
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
    EXPECT_EQ(aus.Stoppe(), 0);

    TServerProzess an({"--katalog", "demo=" + Kataloge().Demo, "--cors", "https://karte.example,https://plan.example"});
    ASSERT_TRUE(an.Bereit()) << an.Log();
    httplib::Client ca = an.Client();
    for (const char* herkunft : {"https://karte.example", "https://plan.example"}) {
        r = ca.Get(ziel.c_str(), {{"Origin", herkunft}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->get_header_value("Access-Control-Allow-Origin"), herkunft);
        r = ca.Options("/v1/demo", {{"Origin", herkunft}, {"Access-Control-Request-Method", "POST"},
                                   {"Access-Control-Request-Headers", "content-type"}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 204);
        EXPECT_EQ(r->get_header_value("Access-Control-Allow-Origin"), herkunft);
        EXPECT_NE(r->get_header_value("Access-Control-Allow-Methods").find("POST"), std::string::npos);
        EXPECT_NE(r->get_header_value("Access-Control-Allow-Headers").find("Content-Type"), std::string::npos)
            << r->get_header_value("Access-Control-Allow-Headers");
    }
    r = ca.Get(ziel.c_str(), {{"Origin", "https://fremd.example"}});
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
    r = ca.Options("/v1/demo", {{"Origin", "https://fremd.example"}, {"Access-Control-Request-Method", "POST"}});
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
    // A pre-flight through curl, as a browser sends it.
    const TCurl k = Curl("-X OPTIONS -H 'Origin: https://plan.example' -H 'Access-Control-Request-Method: GET' " +
                         Quote("http://127.0.0.1:" + std::to_string(an.Port()) + "/v1/demo"));
    ASSERT_EQ(k.Code, 0);
    EXPECT_EQ(k.Status, 204);
    EXPECT_EQ(an.Stoppe(), 0);

    TServerProzess alle({"--katalog", "demo=" + Kataloge().Demo, "--cors", "*"});
    ASSERT_TRUE(alle.Bereit()) << alle.Log();
    r = alle.Client().Get(ziel.c_str(), {{"Origin", "https://irgendwer.example"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->get_header_value("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(alle.Stoppe(), 0);
}
