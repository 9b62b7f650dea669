#pragma once
// Conversion of points and windows from an input system into the tiles' system through PROJ.
//
// Thread contract: a TUmrechnung owns one PROJ context and everything made in it; it is used by
// one thread at a time. Threads answering at once (the batch) each make their own converter;
// converters never share PROJ objects.
//
// Nothing is created before the first call that needs PROJ (CheckSystem of an EPSG code, a
// conversion between two different systems): a run without an input system creates no PROJ
// object at all, and input in the tiles' own system is handed back bit for bit without PROJ.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "koord/Bezugssystem.h"

namespace tervalo {

// The operation PROJ used, as the answer names it.
struct TVerfahren {
    std::string Name;                   // PROJ's own name, verbatim
    double GenauigkeitM = 0;            // PROJ's stated accuracy in metres
    std::optional<std::string> Gitter;  // grid file(s) used ("BETA2007.gsb"), none: empty
};

// "Umrechnung: <name> (Gitter BETA2007), Genauigkeit 0,9 m"; "(ohne Gitter)" when no grid was
// used; the grid named without its extension, the accuracy with a decimal comma.
std::string VerfahrenText(const TVerfahren& v);

struct TUmgerechnet {
    double X = 0;  // in the tiles' system (easting, northing; longitude, latitude if geographic)
    double Y = 0;
    // The operation used; null when input and tiles share the system (no conversion). Points
    // into the converter: valid while it lives.
    const TVerfahren* Verfahren = nullptr;
};

// A window in the input system as typed (A = easting or latitude, B = northing or longitude).
struct TEingabeFenster {
    double AMin = 0, AMax = 0, BMin = 0, BMax = 0;
};
struct TKachelFenster {
    double XMin = 0, XMax = 0, YMin = 0, YMax = 0;
    std::vector<const TVerfahren*> Verfahren;  // every operation used, in order of first use; empty: none
};

class TUmrechnung {
public:
    // `kacheln`: the tiles' system (from the settings' "EPSG:n").
    explicit TUmrechnung(TBezugssystem kacheln);
    ~TUmrechnung();
    TUmrechnung(const TUmrechnung&) = delete;
    TUmrechnung& operator=(const TUmrechnung&) = delete;

    const TBezugssystem& Kacheln() const { return kacheln_; }

    // `s` with Geographisch and Geprueft set. An EPSG code PROJ does not know, or that is
    // neither a projected nor a geographic 2D system, throws EKoordFehler. Short names and
    // their codes need no PROJ.
    TBezugssystem CheckSystem(const TBezugssystem& s);

    // One point as ReadEingabePunkt reads it for `ein` (checked) into the tiles' system, with
    // the most accurate operation PROJ has for it. Throws EKoordFehler when the point lies
    // outside the area of use of `ein`, when only an operation of unknown accuracy exists, when
    // PROJ cannot convert it, or when the result lies outside the tiles' system's area of use.
    TUmgerechnet Convert(const TBezugssystem& ein, const TEingabePunkt& p);

    // The whole way from two typed texts: the system decided per point for `auto` (with the
    // tiles' zone), checked, the numbers read for it and converted. Throws EKoordFehler as the
    // steps do.
    struct TErgebnis {
        TBezugssystem Eingabe;  // the system the texts were read in
        TEingabePunkt Werte;    // the numbers as read (latitude first for geographic systems)
        TUmgerechnet Punkt;
    };
    TErgebnis ConvertText(const TSystemWahl& wahl, std::string_view a, std::string_view b);

    // The smallest window in the tiles' system that holds the window `f` of `ein` converted
    // (corners and edges densified); the same errors as Convert for any of its points.
    TKachelFenster ConvertWindow(const TBezugssystem& ein, const TEingabeFenster& f);

private:
    struct TQuelle;
    void Open();
    TQuelle& Source(const TBezugssystem& ein);

    TBezugssystem kacheln_;
    struct TKontext;
    std::unique_ptr<TKontext> ctx_;
};

}  // namespace tervalo
