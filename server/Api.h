#pragma once
// The height service's requests and answers as plain values: reading what a client sent (query
// strings, form and JSON bodies, positions, encoded polylines), sampling along a path, and the
// JSON it gets back. No sockets here, so tests and the fuzz target call it directly.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "koord/Bezugssystem.h"
#include "query/Antwort.h"
#include "query/AntwortJson.h"
#include "query/Profil.h"

namespace tervalo {

// A request the service cannot answer as asked: the HTTP status (400, 413) and the German text
// the client reads in "error".
class EAnfrage : public std::runtime_error {
public:
    EAnfrage(int status, const std::string& text) : std::runtime_error(text), Status(status) {}
    int Status;
};

// "%XX" decoded (either case of hex digits); a '%' without two hex digits after it throws
// EAnfrage 400. `plusAlsLeer`: '+' stands for a blank, as browsers send query strings and form
// bodies; elsewhere (path segments) it is a plus.
std::string PercentDecode(std::string_view text, bool plusAlsLeer);

// "a=1&b=2" (query string or form body): items at '&', each split at its first '=', name and
// value percent-decoded with '+' a blank. Empty items are skipped; an item without '=' has an
// empty value. Order kept, repeats kept (the readers below refuse a repeated known name).
using TParameterListe = std::vector<std::pair<std::string, std::string>>;
TParameterListe ParseParameterListe(std::string_view raw);

// A WGS 84 position, latitude and longitude in degrees.
struct TPosition {
    double Lat = 0;
    double Lng = 0;
};

// `locations` as text: "lat,lng|lat,lng|..." (numbers with "." as decimal point, blanks around
// them allowed; latitude within [-90, 90], longitude within [-180, 180]) or "enc:" and a Google
// encoded polyline. Anything else throws EAnfrage 400 naming the item; more than `maxPunkte`
// positions throw EAnfrage 413.
std::vector<TPosition> ParseLocations(std::string_view text, std::size_t maxPunkte);
// The polyline alone (without "enc:"): precision 1e-5 degrees. Malformed (a chunk cut off, a
// character outside '?'..'~', an odd count of values, a position out of range) throws
// EAnfrage 400; more than `maxPunkte` positions EAnfrage 413.
std::vector<TPosition> DecodePolyline(std::string_view code, std::size_t maxPunkte);
// The reverse, for clients' tests and the fuzz target's round trip.
std::string EncodePolyline(const std::vector<TPosition>& positionen);

enum class TInterpolation { Naechster, Shepard };

// GET|POST /v1/NAME.
struct THoehenParameter {
    std::vector<TPosition> Positionen;
    TInterpolation Interpolation = TInterpolation::Naechster;
    std::optional<double> NodataWert;  // the number for points without data; none: null
    std::size_t Samples = 0;           // 0: the positions as given; else that many along the path
};

// GET|POST /v1/NAME/punkte.
struct TNativParameter {
    std::optional<TSystemWahl> System;  // as --ein; none: the catalogue's own system
    std::string SystemText;             // as given, for the answers' "eingabe"
    std::vector<TZweiTexte> Punkte;     // the two numbers of each point as typed, blanks taken off
    bool Rangliste = false;
};

// GET|POST /v1/NAME/profil: a line through the vertices, sampled by a step or a count.
struct TProfilParameter {
    std::optional<TSystemWahl> System;  // as --ein; none: the catalogue's own system
    std::string SystemText;
    std::vector<TZweiTexte> Punkte;     // the vertices' two numbers as typed
    std::optional<double> Schritt;      // metres, > 0; neither: the catalogue's grid spacing
    std::optional<std::size_t> Anzahl;  // >= 2 and at most maxPunkte
};

// A request's parameters from its query string and its body (read when not empty): JSON when
// the content type is application/json (or +json), a form body when it is
// application/x-www-form-urlencoded, otherwise JSON when the body starts with '{' and a form
// body else. A parameter given twice (also once in each) throws EAnfrage 400; unknown names are
// ignored (clients send API keys). Positions (or samples) over `maxPunkte` throw EAnfrage 413.
THoehenParameter ReadHoehenAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                   std::size_t maxPunkte);
TNativParameter ReadNativAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                 std::size_t maxPunkte);
// Also refuses "schritt" and "anzahl" given together (400) and an "anzahl" over `maxPunkte` (413).
TProfilParameter ReadProfilAnfrage(std::string_view abfrage, std::string_view koerper, std::string_view inhaltstyp,
                                   std::size_t maxPunkte);
// Throws EAnfrage 413: the line gives more samples than `maxPunkte` (`proben` of them, when known).
[[noreturn]] void ProbenUeberGrenze(std::size_t maxPunkte, std::size_t proben = 0);

// `n` samples along the path through `ecken` at i*L/(n-1), i = 0..n-1, L the path's length, as
// SampleProfile takes them: sample 0 is the first corner, sample n-1 exactly the last. One corner
// or a path of length 0: every sample is the first corner. `n` >= 2 and 1 to 10,000 corners
// (else EAnfrage 400). `geographisch`: X is the longitude and Y the latitude in degrees; lengths
// are then metres along the geodesics between the corners, and the samples lie on them.
std::vector<TXY> SamplePath(const std::vector<TXY>& ecken, std::size_t n, bool geographisch = false);

// One result of /v1/NAME.
struct THoehenErgebnis {
    TPosition Location;                // as parsed, or the sample converted back
    std::optional<double> Elevation;   // none: no data (null or the nodata_value)
    std::optional<double> Resolution;  // distance of the nearest grid point used
    std::string Fehler;                // "error" when not empty
};
// Elevation and resolution of an answer of the engine as `interpolation` asks: nearest, the
// nearest point's Z; shepard, ShepardZ when ShepardN > 0. An answer an error ended, or one of a
// tile that could not be read, gives no elevation and that message.
void FillErgebnis(THoehenErgebnis& e, const THoehenAntwort& a, TInterpolation interpolation);

// {"results": [{"dataset", "elevation", "location", "resolution"[, "error"]}, ...], "status": "OK"}.
std::string ErgebnisseJson(std::string_view dataset, const std::vector<THoehenErgebnis>& ergebnisse,
                           const std::optional<double>& nodataWert);
// {"status": status, "error": text}: "INVALID_REQUEST" (400, 404, 413, 414), "SERVER_ERROR" (500).
std::string FehlerJson(std::string_view status, std::string_view text);
// The status word of an error answer with that HTTP status.
const char* FehlerStatus(int httpStatus);

// One result of /v1/NAME/punkte: the answer as one batch --json line (with "eingabe" when a
// system was given; "rangliste" when asked for), or, for a point that could not be read or
// converted, {"punkt": nr (from 1), "fehler": text}.
TJson NativPunktJson(const THoehenAntwort& a, bool rangliste, const TEingabeJson* eingabe);
TJson NativFehlerJson(std::size_t nr, std::string_view text);
// {"dataset": NAME, "results": [...], "status": "OK"}.
std::string NativJson(std::string_view dataset, TJson results);
// {"dataset": NAME, "proben": [...], "zusammenfassung": {...}, "status": "OK"}: the object of
// the command line's profile in JSON with the native answers' two keys.
std::string ProfilJson(std::string_view dataset, TJson proben, const TProfilZusammenfassung& z);

}  // namespace tervalo
