#include "server/Http.h"

#include <httplib.h>
#include <pthread.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace tervalo::server {

namespace {

// Limits of the connection; the library's defaults (five requests per connection, no bound on
// the body) cost two orders of magnitude on small requests and leave the memory open.
constexpr std::size_t kKeepAliveAnfragen = 1000;
constexpr time_t kKeepAliveSekunden = 5;
constexpr time_t kLeseSekunden = 10;
constexpr time_t kSchreibSekunden = 10;
constexpr std::size_t kMaxKoerper = 16u << 20;

void Schreibe(const std::string& zeile) {
    const ssize_t n = ::write(STDERR_FILENO, zeile.data(), zeile.size());
    (void)n;
}

// "[10/Oct/2000:13:55:36 +0200]" of now; the text is made once a second per thread.
const std::string& Zeitstempel() {
    thread_local std::time_t sekunde = -1;
    thread_local std::string text;
    const std::time_t jetzt = std::time(nullptr);
    if (jetzt != sekunde) {
        sekunde = jetzt;
        std::tm tm{};
        ::localtime_r(&jetzt, &tm);
        char buf[64];
        // %b in the C locale: the format's English month names.
        static const char* const monate[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        char zone[8];
        std::strftime(zone, sizeof zone, "%z", &tm);
        std::snprintf(buf, sizeof buf, "[%02d/%s/%04d:%02d:%02d:%02d %s]", tm.tm_mday, monate[tm.tm_mon % 12],
                      tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, zone);
        text = buf;
    }
    return text;
}

// The request line as the log quotes it: control bytes, '"' and '\' escaped, at most 2 KiB.
std::string LogText(std::string_view s) {
    std::string out;
    const std::size_t n = std::min<std::size_t>(s.size(), 2048);
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (s.size() > n) out += "...";
    return out;
}

// Common log format: host ident user [time] "request line" status bytes.
void LogZeile(const httplib::Request& req, const httplib::Response& res) {
    std::string z = req.remote_addr.empty() ? "-" : req.remote_addr;
    z += " - - ";
    z += Zeitstempel();
    if (req.method.empty()) {
        z += " \"-\" ";  // the library refused the request line before reading it
    } else {
        z += " \"";
        z += LogText(req.method);
        z += ' ';
        z += LogText(req.target);
        z += ' ';
        z += LogText(req.version);
        z += "\" ";
    }
    z += std::to_string(res.status);
    z += ' ';
    z += res.body.empty() ? "-" : std::to_string(res.body.size());
    z += '\n';
    Schreibe(z);
}

TAnfrage AlsAnfrage(const httplib::Request& req) {
    TAnfrage a;
    a.Methode = req.method;
    // The raw target: the service decodes segment by segment, the library would decode the
    // whole path first and turn "%2F" into a separator.
    const std::size_t frage = req.target.find('?');
    a.Pfad = req.target.substr(0, frage);
    if (frage != std::string::npos) a.Abfrage = req.target.substr(frage + 1);
    a.Koerper = req.body;  // empty where the handler reads it
    a.Inhaltstyp = req.get_header_value("Content-Type");
    a.Herkunft = req.get_header_value("Origin");
    a.Anfordern = req.get_header_value("Access-Control-Request-Method");
    return a;
}

void Uebertrage(const TAntwort& a, httplib::Response& res) {
    res.status = a.Status;
    for (const auto& [name, wert] : a.Kopf) res.set_header(name, wert);
    if (!a.Inhaltstyp.empty()) res.set_content(a.Koerper, a.Inhaltstyp.c_str());
}

// The texts of the errors the library answers itself, before any handler runs.
std::string BibliotheksFehler(int status) {
    switch (status) {
        case 413: return "Anfrage zu gro\xC3\x9F: h\xC3\xB6" "chstens 16 MiB";
        case 414:
            return "Anfragezeile zu lang: h\xC3\xB6" "chstens 8 KiB; viele Positionen als POST mit JSON-K\xC3\xB6rper senden";
        case 431:
            return "Kopfzeilen zu gro\xC3\x9F: h\xC3\xB6" "chstens 100 Zeilen, 64 KiB, in 10 Sekunden gesendet";
        case 404: return "Unbekannter Pfad";
        case 405: return "Methode nicht erlaubt";
        case 408: return "Zeit\xC3\xBC" "berschreitung beim Lesen der Anfrage";
        default: return status >= 500 ? "Interner Fehler" : "Anfrage nicht lesbar";
    }
}

// Limits of a request's header section, which the library reads without bound on the number
// of lines; and the time a client may take to send it, so that one sending a byte now and then
// cannot hold a worker.
constexpr std::size_t kMaxKopfZeilen = 100;
constexpr std::size_t kMaxKopfBytes = 64u << 10;
// The library reads a request line whole before it answers 414 to one over 8 KiB; this long a
// line it may read, a longer one ends the connection.
constexpr std::size_t kMaxZeilenBytes = 1u << 20;
constexpr auto kKopfFrist = std::chrono::seconds(10);

// Set on the worker's thread when a header section went over the limits: the error answer is
// then 431 instead of the library's 400.
thread_local bool kopfZuGross = false;

// The connection as the library reads and writes it, watching each request's header section:
// from the request's first byte to the blank line that ends it, lines, bytes and time are
// counted; past a limit the stream fails and the library answers with an error. A response
// (not an interim 1xx) starts the next request.
class TWaechterStrom : public httplib::Stream {
public:
    TWaechterStrom(int sock, time_t lesen, time_t schreiben)
        : sock_(sock), lesenMs_(static_cast<int>(lesen * 1000)), schreibenMs_(static_cast<int>(schreiben * 1000)) {}

    bool is_readable() const override { return Warte(POLLIN, lesenMs_); }
    bool is_writable() const override { return Warte(POLLOUT, schreibenMs_); }

    ssize_t read(char* ptr, size_t size) override {
        if (anfang_ == ende_) {
            if (!is_readable()) return -1;
            const ssize_t n = ::recv(sock_, puffer_, sizeof puffer_, 0);
            if (n <= 0) return n;
            anfang_ = 0;
            ende_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, ende_ - anfang_);
        std::memcpy(ptr, puffer_ + anfang_, n);
        anfang_ += n;
        if (!Zaehle(ptr, n)) {
            kopfZuGross = true;
            return -1;
        }
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        // The status line of a final response: the next bytes read are a new request.
        if (size >= 10 && std::memcmp(ptr, "HTTP/1.", 7) == 0 && ptr[9] != '1') NeueAnfrage();
        return ::send(sock_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Adresse(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Adresse(::getsockname, ip, port); }
    int socket() const override { return sock_; }

    void NeueAnfrage() {
        imKopf_ = true;
        begonnen_ = false;
        zeilen_ = bytes_ = zeileBytes_ = 0;
        zeileLeer_ = true;
    }

private:
    bool Warte(short was, int ms) const {
        pollfd p{sock_, was, 0};
        int r;
        do {
            r = ::poll(&p, 1, ms);
        } while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (was | POLLHUP)) != 0;
    }

    // False when the header section went over a limit.
    bool Zaehle(const char* p, std::size_t n) {
        if (!imKopf_) return true;
        if (!begonnen_) {
            begonnen_ = true;
            beginn_ = std::chrono::steady_clock::now();
        }
        for (std::size_t i = 0; i < n && imKopf_; ++i) {
            ++(zeilen_ == 0 ? zeileBytes_ : bytes_);
            if (p[i] == '\r') continue;
            if (p[i] != '\n') {
                zeileLeer_ = false;
                continue;
            }
            // An empty line after the request line ends the section.
            if (zeileLeer_ && zeilen_ > 0) imKopf_ = false;
            ++zeilen_;
            zeileLeer_ = true;
        }
        return zeilen_ <= kMaxKopfZeilen + 1 && bytes_ <= kMaxKopfBytes && zeileBytes_ <= kMaxZeilenBytes &&
               (!imKopf_ || std::chrono::steady_clock::now() - beginn_ <= kKopfFrist);
    }

    template <class Fn>
    void Adresse(Fn fn, std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        ip.clear();
        port = -1;
        if (fn(sock_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return;
        char text[INET6_ADDRSTRLEN] = {};
        if (a.ss_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
            ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        } else if (a.ss_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    int sock_;
    int lesenMs_, schreibenMs_;
    char puffer_[4096];
    std::size_t anfang_ = 0, ende_ = 0;
    bool imKopf_ = true, begonnen_ = false, zeileLeer_ = true;
    std::size_t zeilen_ = 0, bytes_ = 0, zeileBytes_ = 0;  // header lines and bytes; request line bytes
    std::chrono::steady_clock::time_point beginn_;
};

// Set on the worker's thread for the request it serves: whether the answer already says
// "Connection: close", and whether the connection must end after it.
thread_local bool schlussAngesagt = false;
thread_local bool schliessen = false;

// The library's server with its connections read through TWaechterStrom; the keep-alive
// loop is the library's own (a bounded count, an idle timeout, ended by stop()).
class TServer : public httplib::Server {
public:
    bool Gestoppt() const { return svr_sock_ == INVALID_SOCKET; }

    // An answer given after stop() ends its connection and says so: a client (a load balancer
    // above all) must not send the next request on it.
    void Abschluss(const httplib::Request& req, httplib::Response& res) const {
        if (!Gestoppt() || schlussAngesagt || schliessen || req.get_header_value("Connection") == "close") return;
        res.set_header("Connection", "close");
        schliessen = true;
    }

private:
    bool process_and_close_socket(int sock) override {
        bool ok = false;
        TWaechterStrom strom(sock, read_timeout_sec_, write_timeout_sec_);
        for (std::size_t rest = keep_alive_max_count_; rest > 0 && Bereit(sock); --rest) {
            kopfZuGross = false;
            schliessen = false;
            schlussAngesagt = rest == 1 || Gestoppt();
            strom.NeueAnfrage();
            bool geschlossen = false;
            ok = process_request(strom, schlussAngesagt, geschlossen, nullptr);
            if (!ok || geschlossen || schliessen) break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    // Waits for the next request's first bytes: false after the idle timeout or on a closed
    // connection. A stop does not cut the wait short: the client may be sending its next request
    // that very moment, and one sent on a connection it believes open gets its answer (with
    // "Connection: close") instead of a reset; a load balancer has taken the instance out by the
    // time the idle timeout ends the connections it left idle.
    bool Bereit(int sock) const {
        const auto bis = std::chrono::steady_clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
        for (;;) {
            const auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(bis - std::chrono::steady_clock::now()).count();
            if (rest <= 0) return false;
            pollfd p{sock, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(rest));
            if (r > 0) return true;
            if (r == 0 || errno != EINTR) return false;
        }
    }
};

sigset_t Signale() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGHUP);
    return s;
}

}  // namespace

void BlockSignals() {
    // A shell starts background jobs with SIGINT ignored, nohup with SIGHUP ignored: an ignored
    // signal is dropped before sigwait could take it.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
    const sigset_t s = Signale();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

int Dienen(TDienst& dienst, const TDienstEinstellungen& e, const std::function<std::vector<TKatalogAngabe>()>& kataloge) {
    TServer srv;
    const std::size_t threads = static_cast<std::size_t>(e.Threads > 0 ? e.Threads : StandardThreads());
    srv.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    srv.set_tcp_nodelay(true);
    // Not the library's SO_REUSEPORT: with it a second instance would bind the same port and
    // quietly take half of the requests instead of failing to start.
    srv.set_socket_options([](int sock) {
        const int ja = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &ja, sizeof ja);
    });
    srv.set_keep_alive_max_count(kKeepAliveAnfragen);
    srv.set_keep_alive_timeout(kKeepAliveSekunden);
    srv.set_read_timeout(kLeseSekunden, 0);
    srv.set_write_timeout(kSchreibSekunden, 0);
    srv.set_payload_max_length(kMaxKoerper);
    srv.set_logger(LogZeile);
    // Requests without a body are answered before the library matches routes (its patterns are
    // regular expressions); those with one read their body here: the library itself would
    // refuse form bodies over 8 KiB, a bound compiled into it.
    auto antworte = [&dienst, &srv](const httplib::Request& req, httplib::Response& res) {
        Uebertrage(dienst.Beantworte(AlsAnfrage(req)), res);
        srv.Abschluss(req, res);
    };
    srv.set_pre_routing_handler([antworte](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "POST" || req.method == "PUT" || req.method == "PATCH")
            return httplib::Server::HandlerResponse::Unhandled;
        antworte(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    auto mitKoerper = [&dienst, &srv](const httplib::Request& req, httplib::Response& res,
                                const httplib::ContentReader& leser) {
        TAnfrage a = AlsAnfrage(req);
        bool zuGross = false;
        const bool gelesen = leser([&](const char* daten, std::size_t n) {
            if (a.Koerper.size() + n > kMaxKoerper) {
                zuGross = true;
                return false;
            }
            a.Koerper.append(daten, n);
            return true;
        });
        if (zuGross || res.status == 413) {
            Uebertrage(FehlerAntwort(413, BibliotheksFehler(413)), res);
            dienst.ZaehleAbgewiesen(req.target, 413);
        } else if (!gelesen) {
            Uebertrage(FehlerAntwort(400, BibliotheksFehler(400)), res);
            dienst.ZaehleAbgewiesen(req.target, 400);
        } else {
            Uebertrage(dienst.Beantworte(a), res);
        }
        srv.Abschluss(req, res);
    };
    srv.Post(".*", mitKoerper);
    srv.Put(".*", mitKoerper);
    srv.Patch(".*", mitKoerper);
    // Errors the library finds itself (a request line too long, a body too large, a request it
    // cannot parse) get the service's JSON too.
    srv.set_error_handler([&dienst, &srv](const httplib::Request& req, httplib::Response& res) {
        if (kopfZuGross) res.status = 431;
        // A body already there is the service's own answer, counted there.
        if (res.body.empty()) {
            Uebertrage(FehlerAntwort(res.status, BibliotheksFehler(res.status)), res);
            dienst.ZaehleAbgewiesen(req.target, res.status);
        }
        srv.Abschluss(req, res);
    });
    srv.set_exception_handler([&dienst, &srv](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
        Schreibe("Interner Fehler in der HTTP-Verarbeitung\n");
        Uebertrage(FehlerAntwort(500, "Interner Fehler"), res);
        dienst.ZaehleAbgewiesen(req.target, 500);
        srv.Abschluss(req, res);
    });

    if (!srv.bind_to_port(e.Adresse, e.Port)) {
        Schreibe("Der Dienst kann nicht an " + e.Adresse + " Port " + std::to_string(e.Port) +
                 " lauschen (Port belegt, Adresse unbekannt oder keine Berechtigung)\n");
        return 1;
    }

    std::atomic<bool> ende{false};
    std::thread waechter([&] {
        const sigset_t s = Signale();
        for (;;) {
            int sig = 0;
            if (sigwait(&s, &sig) != 0) continue;
            if (ende) return;
            if (sig == SIGHUP) {
                Schreibe("SIGHUP: Kataloge werden neu gelesen\n");
                std::string fehler;
                try {
                    if (kataloge) {
                        const std::vector<TKatalogAngabe> liste = kataloge();
                        fehler = dienst.Neuladen(&liste);
                    } else {
                        fehler = dienst.Neuladen();
                    }
                } catch (const std::exception& x) {
                    fehler = x.what();
                }
                Schreibe(fehler.empty() ? std::string("Kataloge neu gelesen\n")
                                        : "Kataloge nicht neu gelesen, die bisherigen bleiben: " + fehler + "\n");
                continue;
            }
            Schreibe("Dienst wird beendet, laufende Anfragen werden fertig beantwortet\n");
            ende = true;
            srv.stop();
            return;
        }
    });

    std::string namen;
    for (const TKatalogAngabe& k : e.Kataloge) namen += (namen.empty() ? "" : ", ") + k.Name;
    Schreibe("tervalo-server lauscht auf http://" + e.Adresse + ":" + std::to_string(e.Port) +
             " (Kataloge: " + namen + ")\n");
    const bool ok = srv.listen_after_bind();
    const bool gestoppt = ende.exchange(true);
    if (!gestoppt) pthread_kill(waechter.native_handle(), SIGTERM);
    waechter.join();
    return ok || gestoppt ? 0 : 1;
}

}  // namespace tervalo::server
