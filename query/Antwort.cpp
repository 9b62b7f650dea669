#include "query/Antwort.h"

#include "tools/Tools.h"

#include <algorithm>

namespace tervalo {

std::string FormatResult(double v, char dezimaltrenner) { return FixedText(v, 0, 2, dezimaltrenner); }

std::string FormatCell(double v, int breite, char dezimaltrenner) {
    return FixedText(v, breite, 2, dezimaltrenner);
}

TFensterTexte BuildFensterTexte(const THoehenAntwort& a, char sep) {
    TFensterTexte t;
    if (!a.Berechnet) return t;
    if (a.HatNaechster) {
        t.LB_nextPointR = FormatResult(a.Naechster.R, sep);
        t.LB_nextPointZ = FormatResult(a.Naechster.Z, sep);
    }
    t.LB_ExtrapolnPoints = std::to_string(a.ShepardN);
    t.LB_ExtrapolPointZ = FormatResult(a.ShepardZ, sep);
    const std::size_t n = std::min<std::size_t>(a.Rangliste.size(), RanglisteGroesse);
    for (std::size_t r = 0; r < n; ++r) {
        const TAntwortPunkt& p = a.Rangliste[r];
        auto& zeile = t.Grid[r];
        zeile[0] = FormatCell(p.X, 10, sep);
        zeile[1] = FormatCell(p.Y, 10, sep);
        zeile[2] = FormatCell(p.Z, 7, sep);
        zeile[3] = FormatCell(p.R, 6, sep);
    }
    return t;
}

}  // namespace tervalo
