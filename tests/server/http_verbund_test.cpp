// Two instances behind HAProxy with the checked-in configuration: every answer through it is a
// single instance's, and stopping one instance while clients send requests makes none fail.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/http_kataloge.h"
#include "server/http_prozess.h"

using namespace tervalo::test;

namespace {

constexpr const char* kHaproxy = "/usr/sbin/haproxy";

// A program as a child process, its output into a file. It dies with the test program (a
// crashed test leaves nothing listening); with `gruppe` it leads a process group, all of which
// goes with it.
class TProzess : public TKindProzess {
public:
    TProzess(std::vector<std::string> args, std::string log, bool gruppe = false)
        : log_(std::move(log)), gruppe_(gruppe) {
        const pid_t eltern = ::getpid();
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != eltern) ::_exit(126);
            if (gruppe) ::setpgid(0, 0);
            const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) ::dup2(null, 0);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (gruppe) ::setpgid(pid_, pid_);
    }
    ~TProzess() {
        if (!Beendet()) {
            ::kill(gruppe_ ? -pid_ : pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        } else if (gruppe_) {
            ::kill(-pid_, SIGKILL);
        }
    }
    TProzess(const TProzess&) = delete;
    TProzess& operator=(const TProzess&) = delete;

    std::string Log() const { return ReadAll(log_); }

private:
    std::string log_;
    bool gruppe_;
};

httplib::Client Klient(int port) {
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(true);
    c.set_connection_timeout(5);
    c.set_read_timeout(30);
    return c;
}

// True once GET `pfad` on the port gets any answer, false when `p` ended or the time ran out.
bool Antwortet(TProzess& p, int port, const std::string& pfad, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    const auto ende = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < ende) {
        if (p.Beendet()) return false;
        httplib::Client c("127.0.0.1", port);
        c.set_connection_timeout(1);
        if (c.Get(pfad.c_str())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// N distinct ports nobody listens on now: each stays bound until all are found.
std::vector<int> FreiePorts(int n) {
    std::vector<int> socks, ports;
    for (int i = 0; i < n; ++i) {
        const auto [s, port] = FreierSocket();
        socks.push_back(s);
        ports.push_back(port);
    }
    for (int s : socks) ::close(s);
    return ports;
}

bool Verbindbar(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) ::close(s);
    return ok;
}

// The configuration as checked in, with the ports filled in.
std::string Konfiguration(int port, int a, int b, int statistik) {
    std::string s = ReadAll(TERVALO_SOURCE_DIR "/scripts/haproxy-verbund.cfg");
    for (const auto& [platz, wert] : {std::pair<std::string, int>{"@PORT@", port}, {"@PORT_A@", a}, {"@PORT_B@", b},
                                      {"@STATISTIK_PORT@", statistik}})
        for (std::size_t i; (i = s.find(platz)) != std::string::npos;) s.replace(i, platz.size(), std::to_string(wert));
    return s;
}

struct TFall {
    std::string Ziel, Koerper;  // a POST when there is a body
};

httplib::Result Sende(httplib::Client& c, const TFall& f) {
    return f.Koerper.empty() ? c.Get(f.Ziel.c_str()) : c.Post(f.Ziel.c_str(), f.Koerper, "application/json");
}

// Each request form a client uses.
const std::vector<TFall>& Faelle() {
    static const std::vector<TFall> f = {
        {"/v1/demo?locations=53.556,10.0%7C53.55,10.01", ""},
        {"/v1/demo?locations=53.54,10.0%7C53.556,10.02&samples=5&interpolation=shepard", ""},
        {"/v1/demo", R"({"locations":[{"lat":53.556,"lng":10.0},{"lat":53.557,"lng":10.001}]})"},
        {"/v1/demo/punkte?punkte=3566502.5,5935502.5%7C3567002.5,5936002.5", ""},
        {"/v1/demo/punkte", R"({"punkte":"3566502.5,5935502.5|3566752.5,5935752.5"})"},
        {"/v1/datasets", ""},
    };
    return f;
}

// Two instances of the demo catalogue on fixed ports, HAProxy in front.
class TVerbund {
public:
    TVerbund() {
        const std::vector<int> p = FreiePorts(4);
        port_ = p[0], statistik_ = p[1], ports_[0] = p[2], ports_[1] = p[3];
        for (int i = 0; i < 2; ++i) Starte(i);
        WriteAll(tmp_ / "haproxy.cfg", Konfiguration(port_, ports_[0], ports_[1], statistik_));
        haproxy_ = std::make_unique<TProzess>(std::vector<std::string>{kHaproxy, "-db", "-f", tmp_ / "haproxy.cfg"},
                                              tmp_ / "haproxy.txt");
    }

    void Starte(int i) {
        const std::string log = tmp_ / ("instanz" + std::to_string(i) + "_" + std::to_string(++starts_) + ".txt");
        instanz_[i] = std::make_unique<TProzess>(
            std::vector<std::string>{TERVALO_BIN_DIR "/tervalo-server", "--katalog", "demo=" + Kataloge().Demo,
                                     "--port", std::to_string(ports_[i])},
            log);
    }
    bool Bereit(int i) { return Antwortet(*instanz_[i], ports_[i], "/health"); }

    // HAProxy's view of server a (0) or b (1) from its statistics page: "UP", "DOWN", ...
    std::string Status(int i) {
        httplib::Client c("127.0.0.1", statistik_);
        c.set_connection_timeout(1);
        c.set_url_encode(false);  // the ";" as it stands
        auto r = c.Get("/;csv");
        if (!r || r->status != 200) return "";
        std::istringstream s(r->body);
        std::string zeile, kopf;
        std::getline(s, kopf);
        std::vector<std::string> spalten;
        std::istringstream k(kopf.substr(kopf.rfind('#') == 0 ? 2 : 0));
        for (std::string f; std::getline(k, f, ',');) spalten.push_back(f);
        const auto wo = std::find(spalten.begin(), spalten.end(), "status") - spalten.begin();
        while (std::getline(s, zeile)) {
            std::vector<std::string> f;
            std::istringstream z(zeile);
            for (std::string w; std::getline(z, w, ',');) f.push_back(w);
            if (f.size() > static_cast<std::size_t>(wo) && f[0] == "tervalo" && f[1] == (i == 0 ? "a" : "b"))
                return f[static_cast<std::size_t>(wo)];
        }
        return "";
    }
    bool Oben(int i, std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto ende = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < ende) {
            if (haproxy_->Beendet()) return false;
            if (Status(i) == "UP") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    int Port() const { return port_; }
    int InstanzPort(int i) const { return ports_[i]; }
    TProzess& Instanz(int i) { return *instanz_[i]; }
    TProzess& Haproxy() { return *haproxy_; }

private:
    TempDir tmp_;
    int port_ = 0, statistik_ = 0;
    int ports_[2] = {0, 0};
    int starts_ = 0;
    std::unique_ptr<TProzess> instanz_[2];
    std::unique_ptr<TProzess> haproxy_;
};

// Requests answering a height (not the health checks) in an instance's log.
int Anfragen(const std::string& log) {
    int n = 0;
    for (std::size_t i = 0; (i = log.find("\"GET /v1/", i)) != std::string::npos; ++i) ++n;
    for (std::size_t i = 0; (i = log.find("\"POST /v1/", i)) != std::string::npos; ++i) ++n;
    return n;
}

}  // namespace

TEST(HttpVerbund, OneInstanceStopsAndNoRequestFails) {
    if (::access(kHaproxy, X_OK) != 0) GTEST_SKIP() << "haproxy missing (scripts/deps.sh test installs it)";
    TVerbund v;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(v.Bereit(i)) << v.Instanz(i).Log();
    ASSERT_TRUE(v.Oben(0) && v.Oben(1)) << v.Haproxy().Log();

    // What one instance answers alone; the other and HAProxy, on either instance, must agree.
    std::vector<std::string> soll;
    {
        httplib::Client a = Klient(v.InstanzPort(0)), b = Klient(v.InstanzPort(1)), h = Klient(v.Port());
        for (const TFall& f : Faelle()) {
            SCOPED_TRACE(f.Ziel);
            auto r = Sende(a, f);
            ASSERT_TRUE(r);
            ASSERT_EQ(r->status, 200) << r->body;
            ASSERT_NE(r->body.find("\"status\":\"OK\""), std::string::npos) << r->body;
            soll.push_back(r->body);
            auto rb = Sende(b, f);
            ASSERT_TRUE(rb);
            EXPECT_EQ(rb->body, soll.back());
            for (int n = 0; n < 4; ++n) {
                auto rh = Sende(h, f);
                ASSERT_TRUE(rh) << v.Haproxy().Log();
                EXPECT_EQ(rh->status, 200);
                EXPECT_EQ(rh->body, soll.back());
            }
        }
    }

    constexpr int kAnfragen = 2000, kKlienten = 4;
    for (int runde = 0; runde < 5; ++runde) {
        SCOPED_TRACE("Runde " + std::to_string(runde + 1));
        const int weg = runde % 2;  // a, b, a, ...
        std::atomic<int> fertig{0};
        std::mutex m;
        std::vector<std::string> fehler;
        int fehlgeschlagen = 0;
        std::vector<std::thread> klienten;
        for (int k = 0; k < kKlienten; ++k)
            klienten.emplace_back([&, k] {
                httplib::Client c = Klient(v.Port());
                for (int i = k; i < kAnfragen; i += kKlienten) {
                    const std::size_t f = static_cast<std::size_t>(i) % Faelle().size();
                    auto r = Sende(c, Faelle()[f]);
                    if (!r || r->status != 200 || r->body != soll[f]) {
                        std::lock_guard<std::mutex> l(m);
                        ++fehlgeschlagen;
                        if (fehler.size() < 5)
                            fehler.push_back(Faelle()[f].Ziel + ": " +
                                             (r ? std::to_string(r->status) + " " + r->body.substr(0, 200)
                                                : httplib::to_string(r.error())));
                    }
                    ++fertig;
                }
            });
        // The signal in the middle of the run.
        const auto frist = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (fertig < kAnfragen / 2 && std::chrono::steady_clock::now() < frist)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int vorher = Anfragen(v.Instanz(weg).Log());
        v.Instanz(weg).Signal(SIGTERM);
        const int beimSignal = fertig;
        for (std::thread& t : klienten) t.join();

        EXPECT_EQ(fehlgeschlagen, 0) << ::testing::PrintToString(fehler) << v.Haproxy().Log();
        EXPECT_LT(beimSignal, kAnfragen * 9 / 10) << "the run ended before the stop";
        // Both had their share before the stop, so the stop met requests on their way to it.
        EXPECT_GT(vorher, 0);
        EXPECT_GT(Anfragen(v.Instanz(1 - weg).Log()), 0);
        EXPECT_EQ(v.Instanz(weg).Warte(), 0) << v.Instanz(weg).Log();

        v.Starte(weg);
        ASSERT_TRUE(v.Bereit(weg)) << v.Instanz(weg).Log();
        ASSERT_TRUE(v.Oben(weg)) << v.Haproxy().Log();
    }
    EXPECT_FALSE(v.Haproxy().Beendet()) << v.Haproxy().Log();
}

// scripts/dienst-verbund.sh: HAProxy's answers are the instances'; SIGTERM stops all three,
// gracefully, and leaves no process and no port behind.
TEST(HttpVerbund, ScriptRunsAndStopsTheThree) {
    if (::access(kHaproxy, X_OK) != 0) GTEST_SKIP() << "haproxy missing (scripts/deps.sh test installs it)";
    const std::string skript = TERVALO_SOURCE_DIR "/scripts/dienst-verbund.sh";
    {
        const ShellResult r = Shell(Quote(skript) + " --port 5000", TStderr::Apart);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("Kein Katalog angegeben"), std::string::npos) << r.err;
    }
    TempDir t;
    const std::vector<int> p = FreiePorts(4);
    const int port = p[0], a = p[1], b = p[2], statistik = p[3];
    TProzess s({"/usr/bin/env", "TERVALO_SERVER=" TERVALO_BIN_DIR "/tervalo-server", skript, "--katalog",
                "demo=" + Kataloge().Demo, "--port", std::to_string(port), "--instanzen",
                std::to_string(a) + "," + std::to_string(b), "--statistik", std::to_string(statistik)},
               t / "log.txt", true);
    const auto ende = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (s.Log().find("Verbund bereit") == std::string::npos && !s.Beendet() && std::chrono::steady_clock::now() < ende)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(s.Log().find("Verbund bereit: http://127.0.0.1:" + std::to_string(port)), std::string::npos) << s.Log();

    for (const TFall& f : Faelle()) {
        SCOPED_TRACE(f.Ziel);
        httplib::Client direkt = Klient(a), ueber = Klient(port);
        auto d = Sende(direkt, f), u = Sende(ueber, f);
        ASSERT_TRUE(d && u) << s.Log();
        EXPECT_EQ(u->status, 200);
        EXPECT_EQ(u->body, d->body);
    }

    s.Signal(SIGTERM);
    EXPECT_EQ(s.Warte(), 0) << s.Log();
    const std::string log = s.Log();
    EXPECT_NE(log.find("a: Dienst wird beendet"), std::string::npos) << log;
    EXPECT_NE(log.find("b: Dienst wird beendet"), std::string::npos) << log;
    errno = 0;
    EXPECT_TRUE(::kill(-s.Pid(), 0) == -1 && errno == ESRCH) << "a process of the script outlived it";
    for (int n : p) EXPECT_FALSE(Verbindbar(n)) << n;
}
