#pragma once
// The height service without sockets: a request as plain values in, its answer out. The HTTP
// layer (Http.cpp), the tests and the fuzz target all call Beantworte directly.
//
// Threads: Beantworte and Neuladen may be called from any number of threads at once. A request
// keeps the catalogues it started on (shared_ptr) even when a reload swaps them meanwhile.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/DienstEinstellungen.h"

namespace tervalo::server {

struct TAnfrage {
    std::string Methode;      // "GET", "POST", "OPTIONS", ...
    std::string Pfad;         // path only, raw: segments are percent-decoded by the service
    std::string Abfrage;      // raw query string after '?', may be empty
    std::string Koerper;      // body
    std::string Inhaltstyp;   // Content-Type header value
    std::string Herkunft;     // Origin header value, empty when none
    std::string Anfordern;    // Access-Control-Request-Method (pre-flight), empty when none
};

struct TAntwort {
    int Status = 200;
    std::string Koerper;       // JSON, UTF-8
    std::string Inhaltstyp = "application/json; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> Kopf;  // extra headers (CORS, Allow, ...)
};

// An error answer in the service's one shape: {"status": ..., "error": text}; 500 gives
// SERVER_ERROR, every other status INVALID_REQUEST.
TAntwort FehlerAntwort(int status, const std::string& text);

class TDienst {
public:
    // Reads every configured catalogue (configuration and settings file). A catalogue that
    // cannot be read throws EStartFehler naming it; nothing is served then. Tiles are read
    // only when a request first needs them.
    explicit TDienst(const TDienstEinstellungen& e);
    ~TDienst();
    TDienst(const TDienst&) = delete;
    TDienst& operator=(const TDienst&) = delete;

    // Answers one request; never throws (an unexpected error becomes a 500 without internals).
    // Every request is counted for GET /metrics.
    TAntwort Beantworte(const TAnfrage& a);

    // Counts a request the HTTP layer answered itself with that error status (a request line
    // too long, a body too large, ...); `ziel` its raw target as far as read, may be empty.
    void ZaehleAbgewiesen(std::string_view ziel, int status);

    // Reads the catalogues again and switches over once all of them are read; requests in
    // flight finish on the old ones. When one cannot be read, the old ones stay and the German
    // message is returned; empty on success. `kataloge`, when given, are the catalogues from
    // now on (a settings file read again); the other settings stay as started.
    std::string Neuladen(const std::vector<TKatalogAngabe>* kataloge = nullptr);

    const TDienstEinstellungen& Einstellungen() const { return einstellungen_; }

    // The health check's clock, for tests: checks closer together than this reuse the last one.
    void SetGesundheitsIntervall(std::chrono::steady_clock::duration d);

private:
    struct TZustand;
    struct TErfasst;
    TAntwort Antworte(const TAnfrage& a, TErfasst& erfasst);

    TDienstEinstellungen einstellungen_;
    std::unique_ptr<TZustand> zustand_;
};

}  // namespace tervalo::server
