#include "server/Http.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
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
        case 431: return "Kopfzeilen zu gro\xC3\x9F";
        case 404: return "Unbekannter Pfad";
        case 405: return "Methode nicht erlaubt";
        case 408: return "Zeit\xC3\xBC" "berschreitung beim Lesen der Anfrage";
        default: return status >= 500 ? "Interner Fehler" : "Anfrage nicht lesbar";
    }
}

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
    const sigset_t s = Signale();
    pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

int Dienen(TDienst& dienst, const TDienstEinstellungen& e) {
    httplib::Server srv;
    const std::size_t threads = static_cast<std::size_t>(e.Threads > 0 ? e.Threads : StandardThreads());
    srv.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    srv.set_tcp_nodelay(true);
    srv.set_keep_alive_max_count(kKeepAliveAnfragen);
    srv.set_keep_alive_timeout(kKeepAliveSekunden);
    srv.set_read_timeout(kLeseSekunden, 0);
    srv.set_write_timeout(kSchreibSekunden, 0);
    srv.set_payload_max_length(kMaxKoerper);
    srv.set_logger(LogZeile);
    // Requests without a body are answered before the library matches routes (its patterns are
    // regular expressions); those with one read their body here: the library itself would
    // refuse form bodies over 8 KiB, a bound compiled into it.
    auto antworte = [&dienst](const httplib::Request& req, httplib::Response& res) {
        Uebertrage(dienst.Beantworte(AlsAnfrage(req)), res);
    };
    srv.set_pre_routing_handler([antworte](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "POST" || req.method == "PUT" || req.method == "PATCH")
            return httplib::Server::HandlerResponse::Unhandled;
        antworte(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    auto mitKoerper = [&dienst](const httplib::Request& req, httplib::Response& res,
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
        if (zuGross || res.status == 413)
            Uebertrage(FehlerAntwort(413, BibliotheksFehler(413)), res);
        else if (!gelesen)
            Uebertrage(FehlerAntwort(400, BibliotheksFehler(400)), res);
        else
            Uebertrage(dienst.Beantworte(a), res);
    };
    srv.Post(".*", mitKoerper);
    srv.Put(".*", mitKoerper);
    srv.Patch(".*", mitKoerper);
    // Errors the library finds itself (a request line too long, a body too large, a request it
    // cannot parse) get the service's JSON too.
    srv.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        Uebertrage(FehlerAntwort(res.status, BibliotheksFehler(res.status)), res);
    });
    srv.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        Schreibe("Interner Fehler in der HTTP-Verarbeitung\n");
        Uebertrage(FehlerAntwort(500, "Interner Fehler"), res);
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
                const std::string fehler = dienst.Neuladen();
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
