#include "query/Profil.h"

#include <geodesic.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "koord/Umrechnung.h"
#include "query/Batch.h"

namespace tervalo {

namespace {

// The shortest form, free of the locale.
std::string Zahl(double v) {
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    return std::string(b, r.ptr);
}

// Lengths and positions along the line: planar, or on the ellipsoid of WGS 84 (that of
// ETRS89, GRS 80, differs from it by a tenth of a millimetre in its minor axis).
class TLinie {
public:
    TLinie(const std::vector<TXY>& ecken, bool geographisch) : ecken_(ecken), geo_(geographisch) {
        if (geo_) geod_init(&g_, 6378137.0, 1 / 298.257223563);
        bis_.assign(ecken_.size(), 0.0);
        for (std::size_t k = 1; k < ecken_.size(); ++k) bis_[k] = bis_[k - 1] + Abstand(ecken_[k - 1], ecken_[k]);
    }
    const std::vector<double>& Bis() const { return bis_; }
    double Laenge() const { return bis_.back(); }

    // The point at station t on segment k (bis[k] < t < bis[k+1]).
    TXY Punkt(std::size_t k, double t) const {
        const TXY& a = ecken_[k];
        const TXY& b = ecken_[k + 1];
        const double stueck = bis_[k + 1] - bis_[k];
        const double f = std::clamp((t - bis_[k]) / stueck, 0.0, 1.0);
        if (geo_) {
            geod_geodesicline linie{};
            geod_inverseline(&linie, &g_, a.Y, a.X, b.Y, b.X, 0);
            double lat = 0, lon = 0;
            geod_position(&linie, f * stueck, &lat, &lon, nullptr);
            // The longitude as the vertices count it, not folded into [-180, 180).
            return {a.X + std::remainder(lon - a.X, 360.0), lat};
        }
        return {a.X + f * (b.X - a.X), a.Y + f * (b.Y - a.Y)};
    }

private:
    double Abstand(const TXY& a, const TXY& b) const {
        if (!geo_) return std::hypot(b.X - a.X, b.Y - a.Y);
        double s = 0;
        geod_inverse(&g_, a.Y, a.X, b.Y, b.X, &s, nullptr, nullptr);
        return std::isfinite(s) ? s : 0.0;
    }

    const std::vector<TXY>& ecken_;
    bool geo_;
    geod_geodesic g_{};
    std::vector<double> bis_;  // length up to each vertex
};

void ZuVieleProben(double n) {
    throw EProfil("Das Profil erg\xC3\xA4" "be " + (n < 1e15 ? std::to_string(static_cast<long long>(n)) :
                                                        std::string("mehr als 10^15")) +
                  " Proben; h\xC3\xB6" "chstens " + std::to_string(ProfilMaxProben) +
                  " sind m\xC3\xB6glich. Bitte einen gr\xC3\xB6\xC3\x9F" "eren Schritt oder eine kleinere Anzahl w\xC3\xA4hlen.");
}

}  // namespace

TProfilLinie SampleProfile(const std::vector<TXY>& ecken, const TAbtastung& abtastung, bool geographisch) {
    if (ecken.size() < ProfilMinEcken)
        throw EProfil("Ein Profil braucht mindestens 2 Eckpunkte (gegeben: " + std::to_string(ecken.size()) + ").");
    if (ecken.size() > ProfilMaxEcken)
        throw EProfil("Ein Profil hat h\xC3\xB6" "chstens " + std::to_string(ProfilMaxEcken) + " Eckpunkte (gegeben: " +
                      std::to_string(ecken.size()) + ").");
    for (std::size_t k = 0; k < ecken.size(); ++k)
        if (!std::isfinite(ecken[k].X) || !std::isfinite(ecken[k].Y))
            throw EProfil("Eckpunkt " + std::to_string(k + 1) + " hat keine g\xC3\xBCltige Koordinate.");
    const bool schritt = abtastung.Art == TAbtastung::TArt::Schritt;
    if (schritt && !(std::isfinite(abtastung.Schritt) && abtastung.Schritt > 0))
        throw EProfil("Der Schritt muss eine Zahl gr\xC3\xB6\xC3\x9F" "er als 0 sein (gegeben: " + Zahl(abtastung.Schritt) +
                      " m).");
    if (!schritt && abtastung.Anzahl < 2)
        throw EProfil("Die Anzahl der Proben muss mindestens 2 sein (gegeben: " + std::to_string(abtastung.Anzahl) + ").");
    if (!schritt && abtastung.Anzahl > ProfilMaxProben) ZuVieleProben(static_cast<double>(abtastung.Anzahl));

    const TLinie linie(ecken, geographisch);
    const std::vector<double>& bis = linie.Bis();
    TProfilLinie out;
    out.Ecken = bis;
    out.Laenge = linie.Laenge();
    const double L = out.Laenge;
    if (!std::isfinite(L)) throw EProfil("Das Profil ist zu lang, um es abzutasten.");

    // Station t: the vertex whose station it is, exactly, or the point on its segment.
    std::size_t k = 0;  // segment k runs from vertex k to k + 1; stations come in rising order
    auto probe = [&](double t) {
        while (k + 1 < bis.size() && bis[k + 1] < t) ++k;
        for (std::size_t j = k; j < bis.size() && bis[j] <= t; ++j)
            if (bis[j] == t) return TProbe{t, ecken[j].X, ecken[j].Y, true};
        const TXY q = linie.Punkt(k, t);
        return TProbe{t, q.X, q.Y, false};
    };

    if (!schritt) {
        const std::size_t n = abtastung.Anzahl;
        out.Proben.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            // The last sample is the end itself, the stations do not round their way past it.
            const double t = i + 1 == n ? L : L * static_cast<double>(i) / static_cast<double>(n - 1);
            out.Proben.push_back(L > 0 ? probe(t) : TProbe{0, ecken.front().X, ecken.front().Y, true});
        }
        if (L > 0) out.Proben.back() = TProbe{L, ecken.back().X, ecken.back().Y, true};
        return out;
    }

    const double s = abtastung.Schritt;
    // The step stations below the end, then the vertices merged in: counted before any is made.
    const double schritte = std::ceil(L / s);
    if (!(schritte < static_cast<double>(ProfilMaxProben))) ZuVieleProben(schritte + 1);
    std::vector<double> stationen;
    stationen.reserve(static_cast<std::size_t>(schritte) + bis.size());
    for (std::size_t i = 0;; ++i) {
        const double t = static_cast<double>(i) * s;
        if (!(t < L) && i > 0) break;
        stationen.push_back(t);
    }
    std::vector<double> alle;
    alle.reserve(stationen.size() + bis.size());
    std::merge(stationen.begin(), stationen.end(), bis.begin(), bis.end(), std::back_inserter(alle));
    alle.erase(std::unique(alle.begin(), alle.end()), alle.end());
    if (alle.size() > ProfilMaxProben) ZuVieleProben(static_cast<double>(alle.size()));
    out.Proben.reserve(alle.size());
    for (double t : alle) out.Proben.push_back(probe(t));
    return out;
}

bool KachelnGeographisch(const TEinstellungen& e) {
    const std::optional<int> epsg = ReadKachelSystem(e);
    if (!epsg) return false;
    try {
        const TBezugssystem s = ParseBezugssystem(SystemText(*epsg));
        if (s.Geprueft) return s.Geographisch;
        return TUmrechnung(s).CheckSystem(s).Geographisch;
    } catch (const EKoordFehler&) {
        return false;
    }
}

void TProfilSumme::Add(double station, std::optional<double> hoehe) {
    ++z_.Proben;
    if (!hoehe) {
        ++z_.OhneDaten;
        vorher_.reset();
        return;
    }
    const double h = *hoehe;
    if (!z_.TiefsterZ || h < *z_.TiefsterZ) {
        z_.TiefsterZ = h;
        z_.TiefsterStation = station;
    }
    if (!z_.HoechsterZ || h > *z_.HoechsterZ) {
        z_.HoechsterZ = h;
        z_.HoechsterStation = station;
    }
    if (vorher_) {
        if (h > *vorher_) z_.Anstieg += h - *vorher_;
        if (h < *vorher_) z_.Abstieg += *vorher_ - h;
    }
    vorher_ = h;
}

bool AnswerProfile(TBatchAbfrage& batch, const std::vector<TProbe>& proben,
                   const std::function<void(std::size_t, const THoehenAntwort&)>& fertig,
                   const std::function<void(std::size_t)>& fortschritt, const std::function<bool()>& abbrechen,
                   std::size_t fenster) {
    fenster = std::max<std::size_t>(fenster, 1);
    std::vector<TBatchPunkt> jetzt, danach;
    auto punkte = [&](std::size_t von, std::vector<TBatchPunkt>& out) {
        out.clear();
        for (std::size_t i = von; i < std::min(proben.size(), von + fenster); ++i)
            out.push_back({proben[i].X, proben[i].Y});
    };
    std::vector<THoehenAntwort> antworten;
    punkte(0, jetzt);
    for (std::size_t von = 0; von < proben.size(); von += fenster) {
        if (abbrechen && abbrechen()) return false;
        punkte(von + fenster, danach);
        antworten.assign(jetzt.size(), THoehenAntwort{});
        batch.AnswerAll(
            jetzt, [&](std::size_t k, const THoehenAntwort& a) { antworten[k] = a; },
            [&](std::size_t n) {
                if (fortschritt) fortschritt(von + n);
            },
            danach);
        for (std::size_t k = 0; k < antworten.size(); ++k) fertig(von + k, antworten[k]);
        if (fortschritt) fortschritt(von + antworten.size());
        std::swap(jetzt, danach);
    }
    return true;
}

// ---- written forms ----

std::string ProfilKopfText() { return "Station\tRechtswert\tHochwert\tAbstand\tH\xC3\xB6he\tn\tShepard\n"; }
std::string ProfilCsvKopf() { return "Station;Rechtswert;Hochwert;Abstand;H\xC3\xB6he;n;Shepard\r\n"; }

namespace {

std::string Zeile(const TProbe& p, const THoehenAntwort& a, char sep, char trenner, const char* ende) {
    const std::string t(1, trenner);
    std::string z = FormatResult(p.Station, sep) + t + FormatResult(p.X, sep) + t + FormatResult(p.Y, sep) + t;
    if (HatHoehe(a))
        z += FormatResult(a.Naechster.R, sep) + t + FormatResult(a.Naechster.Z, sep) + t;
    else
        z += std::string(TextKeinWert) + t + TextKeinWert + t;
    // No point within the Shepard radius: no height, rather than a 0.00 that reads like one.
    if (a.Beendet && a.Berechnet)
        z += std::to_string(a.ShepardN) + t + (a.ShepardN > 0 ? FormatResult(a.ShepardZ, sep) : TextKeinWert);
    else
        z += std::string(TextKeineAnzahl) + t + TextKeinWert;
    return z + ende;
}

std::string Hoehe(const std::optional<double>& z, const std::optional<double>& station, char sep) {
    if (!z || !station) return TextKeinWert;
    return FormatResult(*z, sep) + " mNN bei Station " + FormatResult(*station, sep) + " m";
}

}  // namespace

std::string ProbeText(const TProbe& p, const THoehenAntwort& a, char sep) { return Zeile(p, a, sep, '\t', "\n"); }
std::string ProbeCsv(const TProbe& p, const THoehenAntwort& a, char sep) { return Zeile(p, a, sep, ';', "\r\n"); }

std::string ZusammenfassungText(const TProfilZusammenfassung& z, char sep) {
    std::string t;
    t += "L\xC3\xA4nge: " + FormatResult(z.Laenge, sep) + " m\n";
    t += "Tiefster Punkt: " + Hoehe(z.TiefsterZ, z.TiefsterStation, sep) + "\n";
    t += "H\xC3\xB6" "chster Punkt: " + Hoehe(z.HoechsterZ, z.HoechsterStation, sep) + "\n";
    t += "Anstieg gesamt: " + FormatResult(z.Anstieg, sep) + " m\n";
    t += "Abstieg gesamt: " + FormatResult(z.Abstieg, sep) + " m\n";
    t += "Proben ohne Daten: " + std::to_string(z.OhneDaten) + " von " + std::to_string(z.Proben) + "\n";
    return t;
}

}  // namespace tervalo
