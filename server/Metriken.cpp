#include "server/Metriken.h"

#include <charconv>

#include "config/Version.h"

namespace tervalo::server {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Upper bounds of the latency buckets in seconds, as the "le" labels write them: from a cached
// single point (well under a millisecond) to the largest requests of several seconds.
constexpr std::array<std::string_view, 14> kGrenzText = {"0.0005", "0.001", "0.0025", "0.005", "0.01",
                                                         "0.025",  "0.05",  "0.1",    "0.25",  "0.5",
                                                         "1",      "2.5",   "5",      "10"};
constexpr std::array<int64_t, 14> kGrenzNs = {500'000,     1'000'000,   2'500'000,     5'000'000,     10'000'000,
                                              25'000'000,  50'000'000,  100'000'000,   250'000'000,   500'000'000,
                                              1'000'000'000, 2'500'000'000, 5'000'000'000, 10'000'000'000};

const char* RoutenPfad(TRoute r) {
    switch (r) {
        case TRoute::Hoehen: return "/v1/{name}";
        case TRoute::Nativ: return "/v1/{name}/punkte";
        case TRoute::Profil: return "/v1/{name}/profil";
        case TRoute::Datensaetze: return "/v1/datasets";
        case TRoute::Gesundheit: return "/health";
        case TRoute::Metriken: return "/metrics";
        case TRoute::Andere: break;
    }
    return "andere";
}

std::atomic<uint64_t>* StatusZelle(TStatusZaehler& z, int status) {
    if (status < kErsterStatus || status >= kErsterStatus + static_cast<int>(kStatusse)) return nullptr;
    return &z[static_cast<std::size_t>(status - kErsterStatus)];
}

std::atomic<uint64_t>* Zelle(std::array<TStatusZaehler, kRouten>& routen, TRoute route, TKatalogZaehler* katalog,
                             int status) {
    if (route == TRoute::Hoehen || route == TRoute::Nativ || route == TRoute::Profil) {
        if (!katalog) return nullptr;
        TStatusZaehler& z = route == TRoute::Hoehen ? katalog->Hoehen
                            : route == TRoute::Nativ ? katalog->Nativ
                                                     : katalog->Profil;
        return StatusZelle(z, status);
    }
    return StatusZelle(routen[static_cast<std::size_t>(route)], status);
}

std::string Zahl(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void Kopf(std::string& out, const char* name, const char* typ, const char* hilfe) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += hilfe;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += typ;
    out += '\n';
}

void Zeile(std::string& out, std::string_view name, const std::string& labels, const std::string& wert) {
    out += name;
    if (!labels.empty()) {
        out += '{';
        out += labels;
        out += '}';
    }
    out += ' ';
    out += wert;
    out += '\n';
}

std::string Label(std::string_view name, std::string_view wert) {
    return std::string(name) + "=\"" + LabelWert(wert) + "\"";
}

void StatusZeilen(std::string& out, const TStatusZaehler& z, const std::string& labels) {
    for (std::size_t i = 0; i < kStatusse; ++i)
        if (const uint64_t n = z[i].load(relaxed); n > 0)
            Zeile(out, "tervalo_anfragen_total",
                  labels + "," + Label("status", std::to_string(kErsterStatus + static_cast<int>(i))), std::to_string(n));
}

}  // namespace

std::string LabelWert(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

TMetriken::TMetriken()
    : unbekannt_(*kataloge_.emplace("unbekannt", std::make_unique<TKatalogZaehler>()).first->second),
      start_(std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count()) {}

TKatalogZaehler& TMetriken::Katalog(const std::string& name) {
    std::lock_guard<std::mutex> l(m_);
    std::unique_ptr<TKatalogZaehler>& z = kataloge_[name];
    if (!z) z = std::make_unique<TKatalogZaehler>();
    z->Konfiguriert.store(true, relaxed);
    return *z;
}

void TMetriken::Zaehle(TRoute route, TKatalogZaehler* katalog, int status, std::chrono::steady_clock::duration dauer) {
    ZaehleAbgewiesen(route, katalog, status);
    const int64_t ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(dauer).count());
    std::size_t i = 0;
    while (i < kGrenzen && ns > kGrenzNs[i]) ++i;
    eimer_[i].fetch_add(1, relaxed);
    summeNs_.fetch_add(static_cast<uint64_t>(ns), relaxed);
}

void TMetriken::ZaehleAbgewiesen(TRoute route, TKatalogZaehler* katalog, int status) {
    if (std::atomic<uint64_t>* z = Zelle(routen_, route, katalog, status)) z->fetch_add(1, relaxed);
}

std::string TMetriken::Text(const std::vector<TKatalogBelegung>& belegung) const {
    std::vector<std::pair<std::string, const TKatalogZaehler*>> kataloge;
    {
        std::lock_guard<std::mutex> l(m_);
        for (const auto& [name, z] : kataloge_) kataloge.emplace_back(name, z.get());
    }
    std::string out;
    out.reserve(4096);

    Kopf(out, "tervalo_anfragen_total", "counter",
         "Anfragen nach Pfad (Route) und HTTP-Status, auch abgewiesene und fehlerhafte.");
    for (std::size_t r = 0; r < kRouten; ++r) {
        const auto route = static_cast<TRoute>(r);
        if (route == TRoute::Hoehen || route == TRoute::Nativ || route == TRoute::Profil) continue;
        StatusZeilen(out, routen_[r], Label("pfad", RoutenPfad(route)));
    }
    for (const auto& [name, z] : kataloge) {
        StatusZeilen(out, z->Hoehen, Label("pfad", RoutenPfad(TRoute::Hoehen)) + "," + Label("katalog", name));
        StatusZeilen(out, z->Nativ, Label("pfad", RoutenPfad(TRoute::Nativ)) + "," + Label("katalog", name));
        StatusZeilen(out, z->Profil, Label("pfad", RoutenPfad(TRoute::Profil)) + "," + Label("katalog", name));
    }

    auto jeKatalog = [&](const char* metrik, const char* hilfe, const std::atomic<uint64_t> TKatalogZaehler::*feld) {
        Kopf(out, metrik, "counter", hilfe);
        for (const auto& [name, z] : kataloge)
            if (z->Konfiguriert.load(relaxed)) Zeile(out, metrik, Label("katalog", name), std::to_string((z->*feld).load(relaxed)));
    };
    jeKatalog("tervalo_punkte_total",
              "Beantwortete Punkte (Positionen, Proben entlang eines Pfads oder Profils, native Punkte).",
              &TKatalogZaehler::Punkte);
    jeKatalog("tervalo_kachel_lesungen_total",
              "Gelesene Kacheln; eine verdr\xC3\xA4ngte und wieder gebrauchte z\xC3\xA4hlt erneut.",
              &TKatalogZaehler::Lesungen);
    jeKatalog("tervalo_umrechnung_fehler_total",
              "Positionen, die nicht in das Bezugssystem des Katalogs umgerechnet werden konnten.",
              &TKatalogZaehler::UmrechnungFehler);

    Kopf(out, "tervalo_antwortzeit_sekunden", "histogram",
         "Zeit der Beantwortung einer Anfrage im Dienst (ohne die von der HTTP-Schicht abgewiesenen).");
    // _count from the same loads as the buckets, so that +Inf and _count agree in every scrape.
    uint64_t kumuliert = 0;
    for (std::size_t i = 0; i <= kGrenzen; ++i) {
        kumuliert += eimer_[i].load(relaxed);
        Zeile(out, "tervalo_antwortzeit_sekunden_bucket", Label("le", i < kGrenzen ? kGrenzText[i] : "+Inf"),
              std::to_string(kumuliert));
    }
    Zeile(out, "tervalo_antwortzeit_sekunden_sum", "", Zahl(static_cast<double>(summeNs_.load(relaxed)) * 1e-9));
    Zeile(out, "tervalo_antwortzeit_sekunden_count", "", std::to_string(kumuliert));

    Kopf(out, "tervalo_kacheln_gehalten", "gauge", "Kacheln, die der Katalog jetzt im Speicher h\xC3\xA4lt.");
    for (const TKatalogBelegung& b : belegung)
        Zeile(out, "tervalo_kacheln_gehalten", Label("katalog", b.Name), std::to_string(b.Kacheln));
    Kopf(out, "tervalo_bytes_gehalten", "gauge", "Bytes der Punkte, die der Katalog jetzt im Speicher h\xC3\xA4lt.");
    for (const TKatalogBelegung& b : belegung)
        Zeile(out, "tervalo_bytes_gehalten", Label("katalog", b.Name), std::to_string(b.Bytes));

    Kopf(out, "tervalo_kataloge", "gauge", "Kataloge, die der Dienst jetzt anbietet.");
    Zeile(out, "tervalo_kataloge", "", std::to_string(belegung.size()));
    Kopf(out, "tervalo_start_zeit_sekunden", "gauge", "Start des Dienstes in Sekunden seit 1970 (Unix-Zeit).");
    Zeile(out, "tervalo_start_zeit_sekunden", "", Zahl(start_));
    Kopf(out, "tervalo_build_info", "gauge", "Version des Dienstes; der Wert ist immer 1.");
    Zeile(out, "tervalo_build_info", Label("version", PaketVersion()), "1");
    return out;
}

}  // namespace tervalo::server
