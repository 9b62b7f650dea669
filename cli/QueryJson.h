#pragma once
// JSON form of query and batch answers (header-only; only the command line uses it).
#include <nlohmann/json.hpp>
#include <string>

#include "query/Batch.h"
#include "query/Query.h"

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

// One query: what the run reached, also when an error ended it.
inline QJson AbfrageJson(const TAbfrageErgebnis& e, const TPunktSpeicher& s) {
    QJson j;
    j["x"] = e.X;
    j["y"] = e.Y;
    j["fangbreite"] = e.Fangbreite;
    j["potenz"] = e.Potenz;
    j["dateien"] = DateienJson(e.Dateien);
    j["anzahl"] = s.Anzahl;
    const TBerechnung& b = e.Berechnung;
    if (e.Berechnet && b.Naechster > 0) {
        const auto i = static_cast<std::size_t>(b.Naechster);
        j["naechster"] = PunktJson(s.X[i], s.Y[i], s.Z[i], s.R[i]);
    } else {
        j["naechster"] = nullptr;
    }
    if (e.Berechnet) {
        j["shepard"] = ShepardJson(b.ShepardN, b.ShepardZ);
    } else {
        j["shepard"] = nullptr;
    }
    QJson rang = QJson::array();
    if (e.Berechnet)
        for (int r = 1; r <= RanglisteGroesse; ++r) {
            const auto i = static_cast<std::size_t>(b.Rang[static_cast<std::size_t>(r)]);
            if (i == 0) break;
            rang.push_back(PunktJson(s.X[i], s.Y[i], s.Z[i], s.R[i]));
        }
    j["rangliste"] = std::move(rang);
    j["lb_datei"] = e.LB_DateiVoll;
    return j;
}

// `id`: the column passed through first (batch --id), null without one.
inline QJson BatchJson(const TBatchAntwort& a, double fangbreite, double potenz, const std::string* id = nullptr) {
    QJson j;
    if (id) j["id"] = *id;
    j["x"] = a.X;
    j["y"] = a.Y;
    j["fangbreite"] = fangbreite;
    j["potenz"] = potenz;
    j["dateien"] = DateienJson(a.Dateien);
    j["anzahl"] = a.Anzahl;
    j["naechster"] = a.Berechnet && a.HatNaechster ? PunktJson(a.NX, a.NY, a.NZ, a.NR) : QJson(nullptr);
    if (a.Berechnet) {
        j["shepard"] = ShepardJson(a.ShepardN, a.ShepardZ);
    } else {
        j["shepard"] = nullptr;
    }
    j["lb_datei"] = a.LB_DateiVoll;
    return j;
}

inline std::string JsonText(const QJson& j) {
    return j.dump(-1, ' ', false, QJson::error_handler_t::replace);
}

}  // namespace tervalo
