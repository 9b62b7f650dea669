// GET /metrics over a real socket, read with curl as Prometheus would: its content type, a text
// that parses, and requests the HTTP layer refuses itself counted too.
#include <gtest/gtest.h>

#include <string>

#include "server/http_kataloge.h"
#include "server/http_prozess.h"
#include "server/metrik_text.h"

using namespace tervalo::test;

namespace {

TEST(HttpMetriken, CurlReadsCountsOfRealRequests) {
    TServerProzess s({"--katalog", "demo=" + Kataloge().Demo});
    ASSERT_TRUE(s.Bereit()) << s.Log();
    const std::string url = "http://127.0.0.1:" + std::to_string(s.Port());

    const TCurl punkte = Curl("'" + url + "/v1/demo/punkte?punkte=3566502.5,5935502.5|3566600,5935600'");
    ASSERT_EQ(punkte.Status, 200) << punkte.Koerper;
    // A request line over 8 KiB: refused by the HTTP layer before the service sees it.
    const std::string lang = RoheAnfrage(s.Port(), "GET /v1/demo?locations=" + std::string(9000, '1') +
                                                       " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    ASSERT_NE(lang.find(" 414 "), std::string::npos) << lang;

    const ShellResult kopf = Shell("curl -sS -I '" + url + "/metrics'", TStderr::Apart);
    ASSERT_EQ(kopf.code, 0) << kopf.err;
    EXPECT_NE(kopf.out.find("HTTP/1.1 200"), std::string::npos) << kopf.out;
    EXPECT_NE(kopf.out.find("Content-Type: text/plain; version=0.0.4; charset=utf-8"), std::string::npos) << kopf.out;

    const TCurl c = Curl("'" + url + "/metrics'");
    ASSERT_EQ(c.Code, 0);
    ASSERT_EQ(c.Status, 200);
    const TMetrikText m = LiesMetriken(c.Koerper);
    const auto anfragen = [&](std::map<std::string, std::string> l) { return m.Wert("tervalo_anfragen_total", l); };
    EXPECT_EQ(anfragen({{"pfad", "/v1/{name}/punkte"}, {"katalog", "demo"}, {"status", "200"}}), 1);
    EXPECT_EQ(m.Wert("tervalo_punkte_total", {{"katalog", "demo"}}), 2);
    EXPECT_EQ(anfragen({{"pfad", "andere"}, {"status", "414"}}), 1);
    EXPECT_GE(anfragen({{"pfad", "/health"}, {"status", "200"}}), 1);  // the start's readiness checks
    EXPECT_EQ(anfragen({{"pfad", "/metrics"}, {"status", "200"}}), 1);  // HEAD is a GET
    EXPECT_GE(m.Wert("tervalo_kacheln_gehalten", {{"katalog", "demo"}}), 1);
    EXPECT_GE(m.Wert("tervalo_kachel_lesungen_total", {{"katalog", "demo"}}), 1);
    PruefeHistogramm(m, "tervalo_antwortzeit_sekunden");
    // Everything but the refused one was timed.
    EXPECT_EQ(m.Wert("tervalo_antwortzeit_sekunden_count"), m.Summe("tervalo_anfragen_total") - 1);
    EXPECT_EQ(s.Stoppe(), 0) << s.Log();
}

}  // namespace
