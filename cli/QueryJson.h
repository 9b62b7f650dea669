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
        j["shepard"] = {{"n", b.ShepardN}, {"z", b.ShepardZ}};
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

inline QJson BatchJson(const TBatchAntwort& a, double fangbreite, double potenz) {
    QJson j;
    j["x"] = a.X;
    j["y"] = a.Y;
    j["fangbreite"] = fangbreite;
    j["potenz"] = potenz;
    j["dateien"] = DateienJson(a.Dateien);
    j["anzahl"] = a.Anzahl;
    j["naechster"] = a.Berechnet && a.HatNaechster ? PunktJson(a.NX, a.NY, a.NZ, a.NR) : QJson(nullptr);
    if (a.Berechnet) {
        j["shepard"] = {{"n", a.ShepardN}, {"z", a.ShepardZ}};
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
