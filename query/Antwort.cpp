#include "query/Antwort.h"

#include "tools/Tools.h"

#include <algorithm>

namespace tervalo {

std::string FormatErgebnis(double v, char dezimaltrenner) { return FixedText(v, 0, 2, dezimaltrenner); }

std::string FormatZelle(double v, int breite, char dezimaltrenner) {
    return FixedText(v, breite, 2, dezimaltrenner);
}

TFensterTexte FensterTexte(const THoehenAntwort& a, char sep) {
    TFensterTexte t;
    if (!a.Berechnet) return t;
    if (a.HatNaechster) {
        t.LB_nextPointR = FormatErgebnis(a.Naechster.R, sep);
        t.LB_nextPointZ = FormatErgebnis(a.Naechster.Z, sep);
    }
    t.LB_ExtrapolnPoints = std::to_string(a.ShepardN);
    t.LB_ExtrapolPointZ = FormatErgebnis(a.ShepardZ, sep);
    const std::size_t n = std::min<std::size_t>(a.Rangliste.size(), RanglisteGroesse);
    for (std::size_t r = 0; r < n; ++r) {
        const TAntwortPunkt& p = a.Rangliste[r];
        auto& zeile = t.Grid[r];
        zeile[0] = FormatZelle(p.X, 10, sep);
        zeile[1] = FormatZelle(p.Y, 10, sep);
        zeile[2] = FormatZelle(p.Z, 7, sep);
        zeile[3] = FormatZelle(p.R, 6, sep);
    }
    return t;
}

}  // namespace tervalo
