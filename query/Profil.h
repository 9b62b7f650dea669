#pragma once
// Height profiles: samples along a polyline, each answered through the batch engine, so every
// sample's heights equal those of a single query at its coordinate. One sampling for every
// caller (command line, window, service).
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/Einstellungen.h"
#include "query/Antwort.h"

namespace tervalo {

class TBatchAbfrage;

// A point in the tiles' system (easting, northing; longitude, latitude when geographic).
struct TXY {
    double X = 0;
    double Y = 0;
};

inline constexpr std::size_t ProfilMinEcken = 2;
inline constexpr std::size_t ProfilMaxEcken = 10000;
inline constexpr std::size_t ProfilMaxProben = 1000000;

// A line that cannot be sampled; what() is the user's German text.
class EProfil : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a line is sampled: every `Schritt` metres from its start plus every vertex and the end,
// or exactly `Anzahl` samples at i*L/(Anzahl-1).
struct TAbtastung {
    enum class TArt { Schritt, Anzahl };
    TArt Art = TArt::Schritt;
    double Schritt = 0;
    std::size_t Anzahl = 0;
    static TAbtastung MitSchritt(double m) { return {TArt::Schritt, m, 0}; }
    static TAbtastung MitAnzahl(std::size_t n) { return {TArt::Anzahl, 0, n}; }
};

struct TProbe {
    double Station = 0;  // metres along the line from its start
    double X = 0, Y = 0; // in the tiles' system; a vertex's sample has its coordinates exactly
    bool Ecke = false;   // the station of a vertex (the start and the end included)
};

struct TProfilLinie {
    std::vector<TProbe> Proben;    // in station order
    std::vector<double> Ecken;     // station of each vertex, in input order
    double Laenge = 0;             // metres
};

// The samples of the line through `ecken`. `geographisch`: X is the longitude and Y the
// latitude in degrees; lengths are then metres along the geodesics between the vertices (on
// the ellipsoid of WGS 84), and the samples lie on them. Stations equal as doubles give one
// sample; a zero-length segment adds none. Throws EProfil: fewer than 2 or more than 10,000
// vertices, a coordinate that is not a finite number, a step that is not a finite number > 0,
// a count below 2, more than 1,000,000 samples (checked before any is made).
TProfilLinie SampleProfile(const std::vector<TXY>& ecken, const TAbtastung& abtastung, bool geographisch = false);

// Whether the tiles' system the settings name is geographic (the line's lengths are then
// geodesic); false when none is named or its kind cannot be told.
bool KachelnGeographisch(const TEinstellungen& e);

// Whether an answer gives a sample a height (the nearest point's).
inline bool HatHoehe(const THoehenAntwort& a) { return a.Beendet && a.Berechnet && a.HatNaechster; }

struct TProfilZusammenfassung {
    double Laenge = 0;
    std::size_t Proben = 0;
    std::size_t OhneDaten = 0;
    // Lowest and highest nearest height, each at the first station that has it; unset when no
    // sample has data.
    std::optional<double> TiefsterZ, TiefsterStation, HoechsterZ, HoechsterStation;
    // Sums of the rises and falls of the nearest heights between neighbouring samples that
    // both have data (a gap breaks the chain).
    double Anstieg = 0, Abstieg = 0;
};

// The summary, fed sample by sample in station order.
class TProfilSumme {
public:
    explicit TProfilSumme(double laenge) { z_.Laenge = laenge; }
    void Add(double station, const THoehenAntwort& a) {
        Add(station, HatHoehe(a) ? std::optional<double>(a.Naechster.Z) : std::nullopt);
    }
    // The same from the nearest height alone (none: the sample has no data).
    void Add(double station, std::optional<double> hoehe);
    const TProfilZusammenfassung& Ergebnis() const { return z_; }

private:
    TProfilZusammenfassung z_;
    std::optional<double> vorher_;  // the previous sample's height, none after a gap
};

// Answers `proben` through `batch` (its TUmfang as the caller set it) in windows of `fenster`
// samples, so a million samples never hold a million answers: fertig(i, antwort) is called on
// the calling thread for i = 0, 1, ... in order. fortschritt(n), when given, now and then with
// the samples answered so far; abbrechen(), when given, is asked before each window: true ends
// the run there and false is returned (the samples handed to fertig stay handed). True when
// every sample was answered.
bool AnswerProfile(TBatchAbfrage& batch, const std::vector<TProbe>& proben,
                   const std::function<void(std::size_t, const THoehenAntwort&)>& fertig,
                   const std::function<void(std::size_t)>& fortschritt = {},
                   const std::function<bool()>& abbrechen = {}, std::size_t fenster = 8192);

// ---- the written forms, shared by the command line, the window and the service ----

// Column heads of the table: "Station\tRechtswert\tHochwert\tAbstand\tHöhe\tn\tShepard".
std::string ProfilKopfText();
// One sample as a table line (TAB between, LF at the end), two decimals in `sep`; "-----"
// where the sample has no height (and no Shepard height), as the batch writes it.
std::string ProbeText(const TProbe& p, const THoehenAntwort& a, char sep);
// The summary's lines (LF each), after the table.
std::string ZusammenfassungText(const TProfilZusammenfassung& z, char sep);
// The CSV form: ";" between, `sep` as decimal separator, CR LF; the head line first.
std::string ProfilCsvKopf();
std::string ProbeCsv(const TProbe& p, const THoehenAntwort& a, char sep);

}  // namespace tervalo
