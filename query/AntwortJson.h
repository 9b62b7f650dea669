#pragma once
// JSON form of a height answer, for query and batch alike (header-only: only the programs that
// write JSON depend on nlohmann json).
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "query/Antwort.h"

namespace tervalo {

using TJson = nlohmann::ordered_json;  // keys in the documented order

inline TJson DateienToJson(const std::vector<TDateiZeile>& rows) {
    TJson list = TJson::array();
    for (const TDateiZeile& r : rows) {
        TJson j;
        j["nr"] = r.Nr;
        j["eintrag"] = r.Eintrag;
        j["datei"] = r.Datei;
        j["dbase"] = r.DBase;
        j["gelesen"] = r.Gelesen;
        j["gefiltert"] = r.Gefiltert;
        j["fehler"] = r.Fehler.empty() ? TJson(nullptr) : TJson(r.Fehler);
        if (!r.Hinweis.empty()) j["hinweis"] = r.Hinweis;
        list.push_back(std::move(j));
    }
    return list;
}

inline TJson PunktToJson(double x, double y, double z, double r) {
    TJson j;
    j["x"] = x;
    j["y"] = y;
    j["z"] = z;
    j["r"] = r;
    return j;
}

// No point within the Shepard radius gives no height: null, not the 0 the window shows.
inline TJson ShepardToJson(int n, double z) {
    return {{"n", n}, {"z", n > 0 ? TJson(z) : TJson(nullptr)}};
}

// With an input system (--ein): the numbers as read in it and the operation that took them into
// the tiles' system (none: the input was in the tiles' system already).
struct TEingabeJson {
    std::string System;
    double A = 0, B = 0;
    bool Umgerechnet = false;
    std::string Verfahren;
    double GenauigkeitM = 0;
    std::optional<std::string> Gitter;
};

// One answer, query or batch: what the run reached, also when an error ended it. The query
// writes its ranking; the batch has none and writes no "rangliste" key. `id`: the column passed
// through first (batch --id), no key without one.
inline TJson AntwortToJson(const THoehenAntwort& a, bool mitRangliste, const std::string* id = nullptr,
                           const TEingabeJson* eingabe = nullptr) {
    TJson j;
    if (id) j["id"] = *id;
    j["x"] = a.X;
    j["y"] = a.Y;
    if (eingabe) {
        j["eingabe"] = {{"system", eingabe->System}, {"werte", {eingabe->A, eingabe->B}}};
        if (eingabe->Umgerechnet) {
            TJson u;
            u["verfahren"] = eingabe->Verfahren;
            u["genauigkeit_m"] = eingabe->GenauigkeitM;
            u["gitter"] = eingabe->Gitter ? TJson(*eingabe->Gitter) : TJson(nullptr);
            j["umrechnung"] = std::move(u);
        } else {
            j["umrechnung"] = nullptr;
        }
    }
    j["fangbreite"] = a.Fangbreite;
    j["potenz"] = a.Potenz;
    j["dateien"] = DateienToJson(a.Dateien);
    j["anzahl"] = a.Anzahl;
    const TAntwortPunkt& n = a.Naechster;
    j["naechster"] = a.Berechnet && a.HatNaechster ? PunktToJson(n.X, n.Y, n.Z, n.R) : TJson(nullptr);
    if (a.Berechnet) {
        j["shepard"] = ShepardToJson(a.ShepardN, a.ShepardZ);
    } else {
        j["shepard"] = nullptr;
    }
    if (mitRangliste) {
        TJson rang = TJson::array();
        if (a.Berechnet)
            for (const TAntwortPunkt& p : a.Rangliste) rang.push_back(PunktToJson(p.X, p.Y, p.Z, p.R));
        j["rangliste"] = std::move(rang);
    }
    j["lb_datei"] = a.LB_DateiVoll;
    return j;
}

inline std::string FormatJson(const TJson& j) {
    return j.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

}  // namespace tervalo
