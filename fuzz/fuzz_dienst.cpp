// The height service's request handling on arbitrary requests: method, path, query string,
// body and headers carved from the input, answered by a service over a tiny catalogue. Every
// answer must be one the service documents (a known status, JSON in its shape, never a 500),
// and an answer with results or a profile's samples must not hold more points than allowed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "server/Dienst.h"

namespace {

constexpr std::size_t kMaxPunkte = 300;

// A 21 x 21 point tile at 5 m in Gauss-Krueger zone 3 with its catalogue and settings, written
// once per process.
std::string SchreibeKatalog() {
    const std::string dir = "/tmp/tervalo_fuzz_dienst_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    {
        std::ofstream t(dir + "/kachel.xyz", std::ios::binary);
        char buf[96];
        for (int j = 0; j <= 20; ++j)
            for (int i = 0; i <= 20; ++i) {
                std::snprintf(buf, sizeof buf, "%.2f %.2f %.3f\r\n", 3566000.0 + 5 * i, 5935000.0 + 5 * j,
                              200.0 + 0.5 * i - 0.25 * j);
                t << buf;
            }
    }
    {
        std::ofstream k(dir + "/demo.KNF", std::ios::binary);
        k << "VERSION   1.2b\r\n 5.0\r\n 50.0\r\n2.0\r\n3\r\n"
             "30\t70\t70\t45\t41\t0\t0\t0\t0\t0\t0\t\r\n0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n[DATEIEN]\r\n"
             "#DATEI 1\r\n"
          << dir << "/kachel.xyz\r\n3566000.00\r\n3566100.00\r\n5935000.00\r\n5935100.00\r\n";
    }
    std::ofstream(dir + "/demo.ini", std::ios::binary) << "[Kacheln]\nSystem=EPSG:31467\n";
    return dir + "/demo.KNF";
}

tervalo::server::TDienst& Dienst() {
    static std::unique_ptr<tervalo::server::TDienst> d = [] {
        tervalo::server::TDienstEinstellungen e;
        e.Kataloge.push_back({"demo", SchreibeKatalog()});
        e.MaxPunkte = kMaxPunkte;
        e.Cors = {"https://karte.example"};
        return std::make_unique<tervalo::server::TDienst>(e);
    }();
    return *d;
}

// The next field: bytes up to a NUL (or the end).
std::string Feld(std::string_view& rest) {
    const std::size_t n = rest.find('\0');
    std::string f(rest.substr(0, n));
    rest.remove_prefix(n == std::string_view::npos ? rest.size() : n + 1);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    tervalo::server::TAnfrage a;
    // The method from a byte, so the fuzzer need not spell it; 7 takes it from the input.
    static const char* const kMethoden[] = {"GET", "POST", "OPTIONS", "HEAD", "PUT", "DELETE", "get"};
    const unsigned m = rest.empty() ? 0u : static_cast<unsigned char>(rest[0]);
    if (!rest.empty()) rest.remove_prefix(1);
    a.Methode = m % 8 < 7 ? kMethoden[m % 8] : Feld(rest);
    a.Pfad = Feld(rest);
    a.Abfrage = Feld(rest);
    a.Koerper = Feld(rest);
    a.Inhaltstyp = Feld(rest);
    a.Herkunft = Feld(rest);
    a.Anfordern = Feld(rest);

    const tervalo::server::TAntwort r = Dienst().Beantworte(a);
    switch (r.Status) {
        case 200: case 204: case 400: case 404: case 405: case 413: case 414: case 503: break;
        default: std::abort();  // 500 included: no request may reach an internal fault
    }
    if (r.Status == 204) return 0;
    // The metrics are text, whole lines.
    if (r.Inhaltstyp.rfind("text/plain", 0) == 0) {
        if (r.Status != 200 || r.Koerper.empty() || r.Koerper.back() != '\n') std::abort();
        return 0;
    }
    const nlohmann::json j = nlohmann::json::parse(r.Koerper, nullptr, false);
    if (j.is_discarded() || !j.is_object()) std::abort();
    if (r.Status >= 400 && r.Status != 503) {
        if (j.value("status", "") != "INVALID_REQUEST" || !j.contains("error") || !j["error"].is_string()) std::abort();
        // The texts are German and whole: valid UTF-8 (dump throws on anything else).
        (void)j.dump();
    }
    if (r.Status == 200 && j.contains("results") && (!j["results"].is_array() || j["results"].size() > kMaxPunkte))
        std::abort();
    if (r.Status == 200 && j.contains("proben") &&
        (!j["proben"].is_array() || j["proben"].size() > kMaxPunkte || !j["zusammenfassung"].is_object() ||
         j["zusammenfassung"]["proben"] != j["proben"].size()))
        std::abort();
    return 0;
}
