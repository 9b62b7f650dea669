// The service's life: SIGTERM and SIGINT let requests in flight finish and end with 0, SIGHUP
// switches to catalogues read anew, and a catalogue gone bad shows in /health.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "server/http_kataloge.h"
#include "server/http_prozess.h"

using nlohmann::json;
using namespace tervalo::test;
namespace fs = std::filesystem;

namespace {

// A POST whose body is sent in two parts: the request is in flight between them. With
// `schliessen` false the connection asks to be kept open.
class THalbeAnfrage {
public:
    THalbeAnfrage(int port, const std::string& ziel, const std::string& koerper, bool schliessen = true)
        : koerper_(koerper) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        verbunden_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        Sende("POST " + ziel + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
              (schliessen ? "Connection: close\r\n" : "") + "Content-Length: " + std::to_string(koerper.size()) +
              "\r\n\r\n" + koerper.substr(0, koerper.size() / 2));
    }
    ~THalbeAnfrage() { ::close(fd_); }
    bool Verbunden() const { return verbunden_; }
    // The rest of the body, then the whole answer.
    std::string Vollende() {
        Rest();
        return Lies();
    }
    void Rest() { Sende(koerper_.substr(koerper_.size() / 2)); }
    // Sends the same request whole once more and reads its answer.
    std::string Noch(const std::string& ziel) {
        Sende("POST " + ziel + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
              std::to_string(koerper_.size()) + "\r\n\r\n" + koerper_);
        return Antwort();
    }
    // One answer, by its Content-Length, leaving the connection as the server leaves it.
    std::string Antwort() {
        std::string antwort;
        char buf[4096];
        pollfd p{fd_, POLLIN, 0};
        for (;;) {
            const std::size_t kopf = antwort.find("\r\n\r\n");
            if (kopf != std::string::npos) {
                const std::size_t cl = antwort.find("Content-Length: ");
                if (cl != std::string::npos && cl < kopf &&
                    antwort.size() >= kopf + 4 + std::stoul(antwort.substr(cl + 16)))
                    return antwort;
            }
            if (::poll(&p, 1, 10000) <= 0) return antwort;
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return antwort;
            antwort.append(buf, static_cast<std::size_t>(n));
        }
    }
    // What the server sends until it closes.
    std::string Lies() {
        std::string antwort;
        char buf[4096];
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, 10000) > 0) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            antwort.append(buf, static_cast<std::size_t>(n));
        }
        return antwort;
    }

private:
    void Sende(const std::string& s) {
        for (std::size_t i = 0; i < s.size();) {
            const ssize_t n = ::send(fd_, s.data() + i, s.size() - i, MSG_NOSIGNAL);
            if (n <= 0) return;
            i += static_cast<std::size_t>(n);
        }
    }
    int fd_ = -1;
    bool verbunden_ = false;
    std::string koerper_;
};

json Koerper(const std::string& antwort) {
    const std::size_t b = antwort.find("\r\n\r\n");
    return json::parse(b == std::string::npos ? std::string() : antwort.substr(b + 4), nullptr, false);
}

}  // namespace

// SIGTERM and SIGINT: no new connections, the request in flight gets its whole answer, exit 0.
TEST(HttpSignale, StopFinishesRequestsInFlight) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        TServerProzess s({"--katalog", "demo=" + Kataloge().Demo});
        ASSERT_TRUE(s.Bereit()) << s.Log();
        THalbeAnfrage a(s.Port(), "/v1/demo", R"({"locations": "53.556,10.0|53.557,10.001|53.558,10.002"})");
        ASSERT_TRUE(a.Verbunden());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s.Signal(sig);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_FALSE(s.Beendet()) << "ended with a request in flight";
        httplib::Client c = s.Client();
        c.set_connection_timeout(1);
        EXPECT_FALSE(c.Get("/health")) << "still accepting after the signal";
        const std::string antwort = a.Vollende();
        EXPECT_EQ(antwort.substr(0, 12), "HTTP/1.1 200") << antwort;
        const json j = Koerper(antwort);
        ASSERT_TRUE(j.is_object()) << antwort;
        EXPECT_EQ(j["results"].size(), 3u);
        EXPECT_EQ(s.Warte(), 0) << s.Log();
    }
}

// A stop while both workers are busy, one with a request in flight, one with an idle keep-alive
// connection: the request in flight, one sent on the idle connection after the signal and one
// accepted behind them all get their whole answer, each saying the connection ends, so that a
// load balancer sends nothing more on it and loses no request to a reset.
TEST(HttpSignale, StopAnswersWhatReachedItWithConnectionClose) {
    TServerProzess s({"--katalog", "demo=" + Kataloge().Demo, "--threads", "2"});
    ASSERT_TRUE(s.Bereit()) << s.Log();
    const std::string koerper = R"({"locations": "53.556,10.0"})";
    THalbeAnfrage ruhend(s.Port(), "/v1/demo", koerper, false);
    ASSERT_TRUE(ruhend.Verbunden());
    ruhend.Rest();
    const std::string erste = ruhend.Antwort();
    EXPECT_EQ(erste.substr(0, 12), "HTTP/1.1 200") << erste;
    EXPECT_EQ(erste.find("Connection: close"), std::string::npos) << erste;
    THalbeAnfrage laufend(s.Port(), "/v1/demo", koerper, false);
    ASSERT_TRUE(laufend.Verbunden());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    THalbeAnfrage wartend(s.Port(), "/v1/demo", koerper, false);
    ASSERT_TRUE(wartend.Verbunden());
    wartend.Rest();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    s.Signal(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const std::string& antwort : {ruhend.Noch("/v1/demo"), laufend.Vollende(), wartend.Lies()}) {
        EXPECT_EQ(antwort.substr(0, 12), "HTTP/1.1 200") << antwort;
        EXPECT_NE(antwort.find("\r\nConnection: close\r\n"), std::string::npos) << antwort;
        EXPECT_TRUE(Koerper(antwort).is_object()) << antwort;
    }
    EXPECT_EQ(s.Warte(), 0) << s.Log();
}

// SIGHUP reads the catalogue again: later requests get the new tiles' heights, one in flight its
// answer from one catalogue only. A catalogue that cannot be read keeps the old ones serving.
TEST(HttpSignale, ReloadSwitchesCatalogues) {
    TempDir t;
    const std::string knf = t / "wechsel.KNF", kachel = t / "neu.xyz";
    const std::string box = "3566000.00\r\n3567000.00\r\n5935000.00\r\n5936000.00\r\n";
    const std::string daten = Kataloge().Dir / "demo/Daten/";
    SchreibeKnf(knf, {{daten + "blatt_sw.xyz", box}});
    WriteAll(t / "wechsel.ini", "[Kacheln]\nSystem=EPSG:31467\n");
    // The new tile: the demo's grid, every height 1234.5.
    std::string neu;
    for (int j = 0; j <= 200; ++j)
        for (int i = 0; i <= 200; ++i)
            neu += std::to_string(3566000 + 5 * i) + ".00 " + std::to_string(5935000 + 5 * j) + ".00 1234.500\n";
    WriteAll(kachel, neu);

    TServerProzess s({"--katalog", "w=" + knf});
    ASSERT_TRUE(s.Bereit()) << s.Log();
    httplib::Client c = s.Client();
    const std::string ziel = "/v1/w/punkte?punkte=3566502.5,5935502.5";
    auto hoehe = [&] {
        auto r = c.Get(ziel.c_str());
        return r && r->status == 200 ? json::parse(r->body)["results"][0]["naechster"]["z"] : json();
    };
    EXPECT_EQ(hoehe(), 257.505);

    // Many points so the request is busy when the signal comes.
    std::string punkte;
    for (int i = 0; i < 10000; ++i) punkte += (i ? "|" : "") + std::to_string(3566000 + i % 1000) + "," + std::to_string(5935000 + i / 10);
    const auto start = std::chrono::steady_clock::now();
    auto lauf = std::async(std::launch::async, [&] {
        httplib::Client c2 = s.Client();
        return c2.Post("/v1/w/punkte", json{{"punkte", punkte}}.dump(), "application/json");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SchreibeKnf(knf, {{kachel, box}});
    s.Signal(SIGHUP);
    const auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (hoehe() != 1234.5 && std::chrono::steady_clock::now() < ende)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(hoehe(), 1234.5) << s.Log();

    auto r = lauf.get();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    const json j = json::parse(r->body);
    ASSERT_EQ(j["results"].size(), 10000u);
    int neue = 0;
    for (const json& e : j["results"]) neue += e["naechster"]["z"] == 1234.5;
    // Only a request still busy after the signal tells; one catalogue answers it whole.
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(600))
        EXPECT_EQ(neue, 0) << "a request in flight switched catalogues";
    else
        EXPECT_TRUE(neue == 0 || neue == 10000) << neue;

    // A reload that fails: the catalogue is gone; the old one still answers and says so on stderr.
    fs::remove(knf);
    s.Signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(hoehe(), 1234.5);
    EXPECT_NE(s.Log().find("wechsel.KNF"), std::string::npos) << s.Log();
    EXPECT_EQ(s.Stoppe(), 0) << s.Log();
}

// Started from a settings file, SIGHUP reads its list of catalogues again: one added there is
// served, one taken out is gone; a file that no longer reads keeps the catalogues served.
TEST(HttpSignale, ReloadReadsTheSettingsFileAgain) {
    TempDir t;
    const std::string box = "3566000.00\r\n3567000.00\r\n5935000.00\r\n5936000.00\r\n";
    const std::string daten = Kataloge().Dir / "demo/Daten/";
    SchreibeKnf(t / "a.KNF", {{daten + "blatt_sw.xyz", box}});
    SchreibeKnf(t / "b.KNF", {{daten + "blatt_sw.xyz", box}});
    const std::string ini = t / "dienst.ini";
    WriteAll(ini, "[Dienst]\nKatalog.a=a.KNF\n");
    TServerProzess s({"--einstellungen", ini});
    ASSERT_TRUE(s.Bereit()) << s.Log();
    httplib::Client c = s.Client();
    auto status = [&](const char* name) {
        auto r = c.Get((std::string("/v1/") + name + "/punkte?punkte=3566502.5,5935502.5").c_str());
        return r ? r->status : 0;
    };
    EXPECT_EQ(status("a"), 200);
    EXPECT_EQ(status("b"), 404);
    auto nachSignal = [&](const std::string& text, const char* name, int soll) {
        WriteAll(ini, text);
        s.Signal(SIGHUP);
        const auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (status(name) != soll && std::chrono::steady_clock::now() < ende)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(status(name), soll) << s.Log();
    };
    nachSignal("[Dienst]\nKatalog.a=a.KNF\nKatalog.b=b.KNF\n", "b", 200);
    nachSignal("[Dienst]\nKatalog.b=b.KNF\n", "a", 404);
    EXPECT_EQ(status("b"), 200);
    // A name the service refuses: the reload fails, b stays.
    WriteAll(ini, "[Dienst]\nKatalog.health=b.KNF\n");
    s.Signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(status("b"), 200);
    EXPECT_NE(s.Log().find("nicht neu gelesen"), std::string::npos) << s.Log();
    EXPECT_EQ(s.Stoppe(), 0) << s.Log();
}

// /health: 200 while every catalogue and entry is there; 503 naming the missing entry once the
// last check is older than its interval.
TEST(HttpSignale, HealthNamesAMissingEntry) {
    TempDir t;
    const std::string knf = t / "h.KNF", kachel = t / "sw.xyz";
    fs::copy_file(Kataloge().Dir / "demo/Daten/blatt_sw.xyz", kachel);
    SchreibeKnf(knf, {{kachel, "3566000.00\r\n3567000.00\r\n5935000.00\r\n5936000.00\r\n"}});
    TServerProzess s({"--katalog", "h=" + knf});
    ASSERT_TRUE(s.Bereit()) << s.Log();
    httplib::Client c = s.Client();
    auto r = c.Get("/health");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    fs::remove(kachel);
    const auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while ((r = c.Get("/health")) && r->status == 200 && std::chrono::steady_clock::now() < ende)
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 503);
    EXPECT_NE(r->body.find("sw.xyz"), std::string::npos) << r->body;
    EXPECT_EQ(s.Stoppe(), 0);
}

// Started from a neutral folder with the demo catalogue only: heights for another user's curl.
TEST(HttpSignale, NeutralFolderAndForeignClient) {
    TempDir leer;
    TServerProzess s({"--katalog", "demo=" + Kataloge().Demo}, leer.Path().string());
    ASSERT_TRUE(s.Bereit()) << s.Log();
    const std::string url = "http://127.0.0.1:" + std::to_string(s.Port()) + "/v1/demo?locations=53.556,10.0";
    const std::string wer = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const ShellResult r = Shell(wer + "curl -sS " + Quote(url), TStderr::Apart);
    ASSERT_EQ(r.code, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["status"], "OK");
    EXPECT_TRUE(j["results"][0]["elevation"].is_number()) << j;
    EXPECT_TRUE(fs::is_empty(leer.Path()));
    EXPECT_EQ(s.Stoppe(), 0);
}
