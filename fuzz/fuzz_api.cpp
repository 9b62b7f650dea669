// The height service's request readers on arbitrary bytes: a first byte choosing the content
// type, the query string up to the first line feed, the body after it. Every input is read or
// refused with 400/413, never a crash; what is read keeps the limits, and answers built from it
// (also error texts quoting the input) are valid JSON.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/Api.h"

namespace {

using namespace tervalo;

void Pruefe(bool ok) {
    if (!ok) std::abort();
}

void PruefeFehler(const EAnfrage& e) {
    Pruefe(e.Status == 400 || e.Status == 413);
    Pruefe(!nlohmann::json::parse(FehlerJson(FehlerStatus(e.Status), e.what()), nullptr, false).is_discarded());
}

void PruefePositionen(const std::vector<TPosition>& p, std::size_t max) {
    Pruefe(!p.empty() && p.size() <= max);
    for (const TPosition& q : p) Pruefe(q.Lat >= -90 && q.Lat <= 90 && q.Lng >= -180 && q.Lng <= 180);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static constexpr const char* kTypen[] = {"", "application/json", "application/x-www-form-urlencoded",
                                             "text/plain", "application/geo+json; charset=utf-8"};
    const std::string_view typ = kTypen[data[0] % 5];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t nl = rest.find('\n');
    const std::string_view abfrage = rest.substr(0, nl);
    const std::string_view koerper = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);

    for (const std::size_t max : {std::size_t{3}, std::size_t{10000}}) {
        try {
            const THoehenParameter p = ReadHoehenAnfrage(abfrage, koerper, typ, max);
            PruefePositionen(p.Positionen, max);
            Pruefe(p.Samples == 0 || (p.Samples >= 2 && p.Samples <= max));
            Pruefe(!p.NodataWert || std::isfinite(*p.NodataWert));
            // The path in degrees stands in for metres: ends exact, every sample finite.
            std::vector<TXY> weg;
            for (const TPosition& q : p.Positionen) weg.push_back(TXY{q.Lng, q.Lat});
            const std::vector<TXY> s = SamplePath(weg, p.Samples ? std::min<std::size_t>(p.Samples, 64) : 2);
            Pruefe(s.front().X == weg.front().X && s.front().Y == weg.front().Y);
            for (const TXY& q : s) Pruefe(std::isfinite(q.X) && std::isfinite(q.Y));
            // A code read back as it was written gives the same positions (to its 1e-5 degrees).
            const std::vector<TPosition> zurueck = DecodePolyline(EncodePolyline(p.Positionen), max);
            Pruefe(zurueck.size() == p.Positionen.size());
            for (std::size_t i = 0; i < zurueck.size(); ++i)
                Pruefe(std::fabs(zurueck[i].Lat - p.Positionen[i].Lat) <= 0.5e-5 + 1e-12 &&
                       std::fabs(zurueck[i].Lng - p.Positionen[i].Lng) <= 0.5e-5 + 1e-12);
            std::vector<THoehenErgebnis> e(p.Positionen.size());
            for (std::size_t i = 0; i < e.size(); ++i) e[i].Location = p.Positionen[i];
            Pruefe(!nlohmann::json::parse(ErgebnisseJson(abfrage, e, p.NodataWert), nullptr, false).is_discarded());
        } catch (const EAnfrage& e) {
            PruefeFehler(e);
        }
        try {
            const TProfilParameter p = ReadProfilAnfrage(abfrage, koerper, typ, max);
            Pruefe(!p.Punkte.empty() && p.Punkte.size() <= max && !(p.Schritt && p.Anzahl));
            Pruefe(!p.Schritt || (std::isfinite(*p.Schritt) && *p.Schritt > 0));
            Pruefe(!p.Anzahl || (*p.Anzahl >= 2 && *p.Anzahl <= max));
        } catch (const EAnfrage& e) {
            PruefeFehler(e);
        }
        try {
            const TNativParameter p = ReadNativAnfrage(abfrage, koerper, typ, max);
            Pruefe(!p.Punkte.empty() && p.Punkte.size() <= max);
            for (const TZweiTexte& t : p.Punkte) Pruefe(!t.A.empty() && !t.B.empty());
        } catch (const EAnfrage& e) {
            PruefeFehler(e);
        }
    }
    return 0;
}
