#include "query/Query.h"

#include <algorithm>
#include <cmath>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "tools/Errors.h"
#include "tools/PunktSet.h"

namespace tervalo {

// --- computation --------------------------------------------------------------------------------

void Berechne(TPunktSpeicher& s, double x, double y, double potenz, TBerechnung& out) {
    out = TBerechnung{};
    const int n = s.Anzahl;
    double best = StartAbstand;
    for (int i = 1; i <= n; ++i) {
        s.R[i] = Abstand(x, y, s.X[i], s.Y[i]);
        if (s.R[i] < best) {
            best = s.R[i];
            out.Naechster = i;
        }
    }
    const TShepard sh = ShepardHoehe(
        [&](auto&& f) {
            for (int i = 1; i <= n; ++i) f(s.R[i], s.Z[i]);
        },
        potenz);
    out.ShepardN = sh.N;
    out.ShepardZ = sh.Z;

    // Insertion into 20 slots; equal distances keep store order. A point not below the last
    // filled slot goes nowhere, so it is tested against that slot first.
    auto& rang = out.Rang;
    int gefuellt = 0;
    for (int i = 1; i <= n; ++i) {
        const double r = s.R[i];
        if (gefuellt == RanglisteGroesse && !(r < s.R[rang[RanglisteGroesse]])) continue;
        int slot = 1;
        while (slot <= gefuellt && !(r < s.R[rang[slot]])) ++slot;
        if (slot > RanglisteGroesse) continue;
        const int bis = gefuellt < RanglisteGroesse ? gefuellt : RanglisteGroesse - 1;
        for (int t = bis; t >= slot; --t) rang[t + 1] = rang[t];
        rang[slot] = i;
        if (gefuellt < RanglisteGroesse) ++gefuellt;
    }
}

// --- texts ---------------------------------------------------------------------------------------

std::string FormatErgebnis(double v, char dezimaltrenner) { return FixedText(v, 0, 2, dezimaltrenner); }

std::string FormatZelle(double v, int breite, char dezimaltrenner) {
    return FixedText(v, breite, 2, dezimaltrenner);
}

namespace {
std::string Kuerzen(const std::string& path, const TextMeasure* font, int breite) {
    if (!font) return path;
    return ShortenPath(path, *font, breite);
}
}  // namespace

std::string DateiLabelText(const TDateien& kat, int letzterEintrag, const TextMeasure* font,
                           int breite) {
    if (letzterEintrag < 1 || letzterEintrag > kat.Eintraege()) return TextUnbekannt;
    return Kuerzen(kat.Datei[static_cast<std::size_t>(letzterEintrag)], font, breite);
}

// --- the run -------------------------------------------------------------------------------------

struct THoehenAbfrage::Impl {
    TPunktSet gesehen{MaxPunkte};
    int busy = 0;
};

THoehenAbfrage::THoehenAbfrage()
    : speicher_(std::make_unique<TPunktSpeicher>()), impl_(std::make_unique<Impl>()) {}

THoehenAbfrage::~THoehenAbfrage() = default;

namespace {

// One run's working state.
struct TLauf {
    TPunktSpeicher& s;
    TPunktSet& gesehen;
    TAbfrageErgebnis& erg;
    TAbfrageBeobachter* beob;
    int& busy;

    void BusyStep() {
        busy = (busy + 1) % 8;
        if (beob) beob->BusyStep(busy);
    }

    // The point filter: inside the square, room left, no point with the same X and Y yet.
    void Filter(double x, double y, double z, TDateiZeile& row) {
        // InRect, inlined: this runs for every line near the square.
        if (!(erg.SqXmin <= x && x <= erg.SqXmax && erg.SqYmin <= y && y <= erg.SqYmax)) return;
        if (s.Anzahl >= MaxPunkte) return;
        if (!gesehen.Insert(x, y)) return;
        const int i = ++s.Anzahl;
        s.X[i] = x;
        s.Y[i] = y;
        s.Z[i] = z;
        ++row.Gefiltert;
    }

    // Takes back every point stored after the first `anzahl`, as if their file had not been read.
    void Zuruecknehmen(int anzahl) {
        for (int i = anzahl + 1; i <= s.Anzahl; ++i) s.X[i] = s.Y[i] = s.Z[i] = 0.0;
        s.Anzahl = static_cast<uint16_t>(anzahl);
        gesehen.Clear();
        for (int i = 1; i <= anzahl; ++i) gesehen.Insert(s.X[i], s.Y[i]);
    }
};

}  // namespace

const TAbfrageErgebnis& THoehenAbfrage::Run(const TDateien& kat, const TAbfrageParameter& p,
                                            TAbfrageBeobachter* beob) {
    TPunktSpeicher& s = *speicher_;
    ergebnis_ = TAbfrageErgebnis{};
    TAbfrageErgebnis& erg = ergebnis_;
    erg.X = p.X;
    erg.Y = p.Y;
    erg.Fangbreite = p.Fangbreite;
    erg.Potenz = p.Potenz;
    erg.SqXmin = p.X - p.Fangbreite;
    erg.SqXmax = p.X + p.Fangbreite;
    erg.SqYmin = p.Y - p.Fangbreite;
    erg.SqYmax = p.Y + p.Fangbreite;

    s.X.fill(0.0);
    s.Y.fill(0.0);
    s.Z.fill(0.0);
    s.Anzahl = 0;
    impl_->gesehen.Clear();
    impl_->busy = 0;

    TLauf lauf{s, impl_->gesehen, erg, beob, impl_->busy};
    const int anzahl = kat.Eintraege();
    int k = 0;
    for (int i = 1; i <= anzahl; ++i) {
        lauf.BusyStep();
        const std::size_t ix = static_cast<std::size_t>(i);
        if (erg.SqXmin > kat.Xmax[ix] || erg.SqXmax < kat.Xmin[ix] || erg.SqYmin > kat.Ymax[ix] ||
            erg.SqYmax < kat.Ymin[ix])
            continue;
        erg.LetzterEintrag = i;
        TDateiZeile neu;
        neu.Nr = ++k;
        neu.Eintrag = i;
        neu.Datei = kat.Datei[ix];
        neu.Name = TextKeinName;
        TPunktQuelle quelle(neu.Datei);
        neu.DBase = quelle.IstDbase();
        erg.Dateien.push_back(std::move(neu));
        TDateiZeile& row = erg.Dateien.back();

        auto gewaehlt = [&](std::string kurz, std::string voll) {
            erg.LB_Datei = std::move(kurz);
            erg.LB_DateiVoll = std::move(voll);
            if (beob) beob->FileSelected(row, erg.LB_Datei);
        };

        try {
            // A file that cannot be opened gets its row, the run goes on.
            if (quelle.Oeffne() != 0) {
                row.OeffnenFehler = true;
                row.Fehler = TextIOFehler + row.Datei;
                int rest = p.LabelBreite;
                if (p.LabelFont) rest -= p.LabelFont->TextWidth(TextIOFehler);
                gewaehlt(TextIOFehler + Kuerzen(row.Datei, p.LabelFont, rest), row.Fehler);
            } else {
                const std::string pfad = quelle.Pfad();
                row.Name = FileNamePart(pfad);
                if (row.DBase && quelle.Datensaetze() < 1) {
                    row.Fehler = TextKeineDatensaetze;
                    gewaehlt(TextKeineDatensaetze, TextKeineDatensaetze);
                } else {
                    gewaehlt(Kuerzen(pfad, p.LabelFont, p.LabelBreite), pfad);
                }
                // Most lines of a tile lie outside the square: the source decides that from
                // the first characters of a line, or field by field, before converting more.
                quelle.SetzeQuadrat({erg.SqXmin, erg.SqXmax, erg.SqYmin, erg.SqYmax});
                const int vorher = s.Anzahl;
                try {
                    quelle.Lies<TAbfrageZeilenRegel>([&](const auto& zeile) {
                        if (Zaehle(row.Gelesen) % BusyIntervall == 0) lauf.BusyStep();
                        double x, y, z;
                        if (zeile.Punkt(x, y, z) == TBefund::Punkt) lauf.Filter(x, y, z, row);
                    });
                } catch (const EGzipDefekt& e) {
                    // A damaged tile answers like one that cannot be opened: its checksum vouches
                    // for its points only at its end, so none of them counts; the run goes on.
                    lauf.Zuruecknehmen(vorher);
                    row.Gefiltert = 0;
                    row.Fehler = e.what();
                    const std::string vor = std::string(TextGzipDefekt) + ": ";
                    int rest = p.LabelBreite;
                    if (p.LabelFont) rest -= p.LabelFont->TextWidth(vor);
                    erg.LB_Datei = vor + Kuerzen(row.Datei, p.LabelFont, rest);
                    erg.LB_DateiVoll = row.Fehler;
                }
            }
        } catch (const std::exception& ex) {
            // The window shows the error itself (or nothing for a silent abort); the row and the
            // result keep a text naming the file for the command line.
            row.Fehler = ReadErrorMessage(ex, row.Datei);
            erg.Fehler = row.Fehler;
            if (beob) {
                beob->FileDone(row);
                beob->BusyStep(0);
            }
            throw;
        }
        if (beob) beob->FileDone(row);
    }
    if (beob) beob->BusyStep(0);

    if (s.Anzahl > 0) {
        Berechne(s, p.X, p.Y, p.Potenz, erg.Berechnung);
        erg.Berechnet = true;
        const TBerechnung& b = erg.Berechnung;
        const char sep = p.Dezimaltrenner;
        if (b.Naechster > 0) {
            erg.LB_nextPointR = FormatErgebnis(s.R[static_cast<std::size_t>(b.Naechster)], sep);
            erg.LB_nextPointZ = FormatErgebnis(s.Z[static_cast<std::size_t>(b.Naechster)], sep);
        }
        erg.LB_ExtrapolnPoints = std::to_string(b.ShepardN);
        erg.LB_ExtrapolPointZ = FormatErgebnis(b.ShepardZ, sep);
        for (int r = 1; r <= RanglisteGroesse; ++r) {
            const int i = b.Rang[static_cast<std::size_t>(r)];
            if (r > s.Anzahl || i == 0) continue;
            const std::size_t ix = static_cast<std::size_t>(i);
            auto& zeile = erg.Grid[static_cast<std::size_t>(r - 1)];
            zeile[0] = FormatZelle(s.X[ix], 10, sep);
            zeile[1] = FormatZelle(s.Y[ix], 10, sep);
            zeile[2] = FormatZelle(s.Z[ix], 7, sep);
            zeile[3] = FormatZelle(s.R[ix], 6, sep);
        }
    }
    erg.Beendet = true;
    return erg;
}

}  // namespace tervalo
