#pragma once
// JSON form of a height answer, for query and batch alike (header-only: only the programs that
// write JSON depend on nlohmann json).
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "query/Antwort.h"

namespace tervalo {

using QJson = nlohmann::ordered_json;  // keys in the documented order

inline QJson DateienJson(const std::vector<TDateiZeile>& rows) {
    QJson list = QJson::array();
    for (const TDateiZeile& r : rows) {
        QJson j;
        j["nr"] = r.Nr;
        j["eintrag"] = r.Eintrag;
        j["datei"] = r.Datei;
        j["dbase"] = r.DBase;
        j["gelesen"] = r.Gelesen;
        j["gefiltert"] = r.Gefiltert;
        j["fehler"] = r.Fehler.empty() ? QJson(nullptr) : QJson(r.Fehler);
        list.push_back(std::move(j));
    }
    return list;
}

inline QJson PunktJson(double x, double y, double z, double r) {
    QJson j;
    j["x"] = x;
    j["y"] = y;
    j["z"] = z;
    j["r"] = r;
    return j;
}

// No point within the Shepard radius gives no height: null, not the 0 the window shows.
inline QJson ShepardJson(int n, double z) {
    return {{"n", n}, {"z", n > 0 ? QJson(z) : QJson(nullptr)}};
}

// One answer, query or batch: what the run reached, also when an error ended it. The query
// writes its ranking; the batch has none and writes no "rangliste" key. `id`: the column passed
// through first (batch --id), no key without one.
inline QJson AntwortJson(const THoehenAntwort& a, bool mitRangliste, const std::string* id = nullptr) {
    QJson j;
    if (id) j["id"] = *id;
    j["x"] = a.X;
    j["y"] = a.Y;
    j["fangbreite"] = a.Fangbreite;
    j["potenz"] = a.Potenz;
    j["dateien"] = DateienJson(a.Dateien);
    j["anzahl"] = a.Anzahl;
    const TAntwortPunkt& n = a.Naechster;
    j["naechster"] = a.Berechnet && a.HatNaechster ? PunktJson(n.X, n.Y, n.Z, n.R) : QJson(nullptr);
    if (a.Berechnet) {
        j["shepard"] = ShepardJson(a.ShepardN, a.ShepardZ);
    } else {
        j["shepard"] = nullptr;
    }
    if (mitRangliste) {
        QJson rang = QJson::array();
        if (a.Berechnet)
            for (const TAntwortPunkt& p : a.Rangliste) rang.push_back(PunktJson(p.X, p.Y, p.Z, p.R));
        j["rangliste"] = std::move(rang);
    }
    j["lb_datei"] = a.LB_DateiVoll;
    return j;
}

inline std::string JsonText(const QJson& j) {
    return j.dump(-1, ' ', false, QJson::error_handler_t::replace);
}

}  // namespace tervalo
