#pragma once
// JSON form of a profile: one object per sample (the keys of a batch answer plus "station")
// and the summary (header-only, as the answers' JSON).
#include "query/AntwortJson.h"
#include "query/Profil.h"

namespace tervalo {

inline TJson ProbeToJson(const TProbe& p, const THoehenAntwort& a) {
    TJson j;
    j["station"] = p.Station;
    TJson antwort = AntwortToJson(a, false);
    for (auto& [k, v] : antwort.items()) j[k] = std::move(v);
    return j;
}

inline TJson ZusammenfassungToJson(const TProfilZusammenfassung& z) {
    auto punkt = [](const std::optional<double>& station, const std::optional<double>& h) {
        return station && h ? TJson{{"station", *station}, {"z", *h}} : TJson(nullptr);
    };
    TJson j;
    j["laenge"] = z.Laenge;
    j["proben"] = z.Proben;
    j["ohne_daten"] = z.OhneDaten;
    j["tiefster"] = punkt(z.TiefsterStation, z.TiefsterZ);
    j["hoechster"] = punkt(z.HoechsterStation, z.HoechsterZ);
    j["anstieg"] = z.Anstieg;
    j["abstieg"] = z.Abstieg;
    return j;
}

}  // namespace tervalo
