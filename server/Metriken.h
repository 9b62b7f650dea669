#pragma once
// The service's counters as Prometheus scrapes them (text format 0.0.4). Counting costs a few
// relaxed atomic additions per request and takes no lock; only a catalogue's counters are made
// under a lock, when it is loaded. Counters are kept by catalogue name for the service's
// lifetime, so a reload neither resets nor doubles them.
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tervalo::server {

// The route a request took: the path label, bounded whatever clients send.
enum class TRoute { Hoehen, Nativ, Profil, Datensaetze, Gesundheit, Metriken, Andere };
constexpr std::size_t kRouten = 7;

// HTTP statuses 100..599, one counter each.
constexpr int kErsterStatus = 100;
constexpr std::size_t kStatusse = 500;
using TStatusZaehler = std::array<std::atomic<uint64_t>, kStatusse>;

// Counters of one catalogue name.
struct TKatalogZaehler {
    TStatusZaehler Hoehen{};  // requests on /v1/NAME by status
    TStatusZaehler Nativ{};   // on /v1/NAME/punkte
    TStatusZaehler Profil{};  // on /v1/NAME/profil
    std::atomic<uint64_t> Punkte{0};
    std::atomic<uint64_t> Lesungen{0};
    std::atomic<uint64_t> UmrechnungFehler{0};
    std::atomic<bool> Konfiguriert{false};  // not only the counters of names nobody serves
};

// A served catalogue's engine as it is now.
struct TKatalogBelegung {
    std::string Name;
    uint64_t Kacheln = 0;
    uint64_t Bytes = 0;
};

class TMetriken {
public:
    TMetriken();
    TMetriken(const TMetriken&) = delete;
    TMetriken& operator=(const TMetriken&) = delete;

    // The counters of a configured catalogue, made on first use. They live as long as this.
    TKatalogZaehler& Katalog(const std::string& name);
    // Where requests for names that are not served are counted (label "unbekannt"; a catalogue
    // of that name shares them).
    TKatalogZaehler& Unbekannt() { return unbekannt_; }

    // One request answered by the service: its route (and catalogue for /v1/NAME...), status and
    // time taken.
    void Zaehle(TRoute route, TKatalogZaehler* katalog, int status, std::chrono::steady_clock::duration dauer);
    // One the HTTP layer refused before the service saw it: counted, but not timed.
    void ZaehleAbgewiesen(TRoute route, TKatalogZaehler* katalog, int status);

    // The whole text; `belegung` the catalogues served now.
    std::string Text(const std::vector<TKatalogBelegung>& belegung) const;

private:
    static constexpr std::size_t kGrenzen = 14;  // histogram buckets besides +Inf

    mutable std::mutex m_;  // the map only, never while counting
    std::map<std::string, std::unique_ptr<TKatalogZaehler>> kataloge_;
    TKatalogZaehler& unbekannt_;
    std::array<TStatusZaehler, kRouten> routen_{};  // the routes without a catalogue
    std::array<std::atomic<uint64_t>, kGrenzen + 1> eimer_{};  // not cumulative; last: above all
    std::atomic<uint64_t> summeNs_{0};
    double start_;  // Unix time in seconds
};

// A label value as the text format wants it: backslash, double quote and line feed escaped.
std::string LabelWert(std::string_view s);

}  // namespace tervalo::server
