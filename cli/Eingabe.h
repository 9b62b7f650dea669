#pragma once
// --ein: coordinates typed in another reference system, shared by query, batch and export.
#include <memory>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "koord/Bezugssystem.h"
#include "koord/Umrechnung.h"
#include "query/AntwortJson.h"

namespace tervalo::cli {

// Help text of the --ein option.
inline constexpr const char* EinOptionHilfe =
    "Eingabesystem der Koordinaten: EPSG:n, gk2..gk5, utm32, utm33 (Zonennummer vor dem Rechtswert erlaubt), "
    "wgs84, etrs89 (Breite vor L\xC3\xA4nge, auch in Grad/Minuten/Sekunden) oder auto; umgerechnet in das "
    "Bezugssystem der Kacheln (tervalo-cli konf --system)";

// What --ein chose, with the tiles' system it converts into.
struct TEinWahl {
    TSystemWahl Wahl;
    std::string Text;     // as typed
    TBezugssystem Kacheln;
};

// The choice of `ein` for `command`: empty with 0 when --ein was not given; otherwise 0 when the
// system name and the tiles' system are known, else 2 after the German usage error on stderr.
int ReadEinWahl(const std::string& command, const std::string& ein, const TKonfCli& k, std::optional<TEinWahl>& out);

// The usage error of a command: the text and the hint to its help, on stderr; returns 2.
int UsageError(const std::string& command, const std::string& text);

// "51,5" in the user's decimal separator, `decimals` fixed (-1: shortest form).
std::string ZahlTextOrt(double v, int decimals = -1);

// The queried coordinate's line: "Eingabe (utm32): 350500 5706000 -> X 3567002,500 Y 5936002,500".
std::string EingabeZeile(const TEinWahl& w, const TBezugssystem& eingabe, const std::string& a, const std::string& b,
                         double x, double y);
// The operation's line, or the one that says none was needed.
std::string VerfahrenZeile(const TUmgerechnet& p, const TBezugssystem& kacheln);

// The JSON keys of a converted point.
TEingabeJson EingabeJson(const TBezugssystem& eingabe, const TEingabePunkt& werte, const TUmgerechnet& p);

}  // namespace tervalo::cli
