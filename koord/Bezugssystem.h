#pragma once
// Reference systems as the user names them, and the two numbers of a point read for one.
// Nothing here touches PROJ: whether an EPSG code names a projected or a geographic system is
// asked by TUmrechnung::CheckSystem (koord/Umrechnung.h), which fills in Geographisch.
#include <stdexcept>
#include <string>
#include <string_view>

namespace tervalo {

// Bad coordinate input or a conversion that must not answer; what() is the German text.
class EKoordFehler : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TBezugssystem {
    int Epsg = 0;
    // Latitude first on input, in degrees (the forms of koord/Winkel.h). Known for the short
    // names; for EPSG:n only after CheckSystem.
    bool Geographisch = false;
    // Set when the system's kind is known (short names, or after CheckSystem).
    bool Geprueft = false;
    // ETRS89 / UTM zone whose number may stand in front of the easting ("32350500"); 0: none.
    int UtmZone = 0;
    // The name as given ("gk3", "EPSG:31467") and the canonical one ("EPSG:31467").
    std::string Name;
    std::string Kanonisch;

    // The same system (the numbers given are the numbers of the other).
    bool SameAs(const TBezugssystem& o) const { return Epsg == o.Epsg; }
};

// What --ein names: one system, or `auto` (decided per point by DetectBezugssystem).
struct TSystemWahl {
    bool Auto = false;
    TBezugssystem System;  // when !Auto
};

// "EPSG:n" (any case, "epsg:25832"), gk2..gk5 (DHDN 3-degree Gauss-Krueger zones 2-5,
// EPSG:31466..31469), utm32/utm33 (ETRS89 / UTM, EPSG:25832/25833, zone prefix accepted),
// wgs84 (EPSG:4326) and etrs89 (EPSG:4258), both latitude first. Throws EKoordFehler for any
// other name. An EPSG code of an ETRS89 / UTM zone accepts that zone's prefix as well.
TBezugssystem ParseBezugssystem(std::string_view name);
// The same, and "auto".
TSystemWahl ParseSystemWahl(std::string_view name);

// The system `auto` reads two numbers as, from their texts (the first is the Rechtswert /
// easting or the latitude): a 7-digit Rechtswert starting with 2-5 is that GK zone; an 8-digit
// easting starting with 32 or 33 is UTM of that zone with the prefix; a 6-digit easting is UTM
// in the tiles' zone (when `kacheln` is ETRS89 / UTM 32 or 33, else 32); two numbers within
// +-90 / +-180 (also in degree-minute-second forms) are latitude and longitude in WGS 84.
// Digits are those of the integer part without sign and leading zeros; a negative first number
// is never a Rechtswert. Anything else throws EKoordFehler listing the forms understood.
TBezugssystem DetectBezugssystem(std::string_view a, std::string_view b, const TBezugssystem* kacheln);

// The two numbers of a point as they were typed, read for system `s` (Geprueft): for a
// geographic system latitude and longitude in degrees (koord/Winkel.h), otherwise easting and
// northing in metres (the plain numbers of tools/Dezimal.h's ReadArgumentZahl), the zone prefix
// taken off the easting text (so "32350500.1" reads exactly as "350500.1").
struct TEingabePunkt {
    double A = 0;  // latitude or easting
    double B = 0;  // longitude or northing
    bool ZoneEntfernt = false;  // a UTM zone prefix was taken off
};
TEingabePunkt ReadEingabePunkt(const TBezugssystem& s, std::string_view a, std::string_view b);

// One argument holding both numbers, as map services copy them ("51.50000, 7.50000"): split at
// ", " or ";" or a tab; a single "," between two numbers that both have a "." ("51.5,7.5"); after
// the latitude's letter N or S ("51 30 12 N 7 30 E"), or before the longitude's letter when the
// latitude's stands in front ("N 51.5 E 7.5"); or at the blank between two words. Throws
// EKoordFehler when none of these gives two parts.
struct TZweiTexte {
    std::string A;
    std::string B;
};
TZweiTexte SplitKoordinate(std::string_view text);

}  // namespace tervalo
