#include "query/Query.h"

#include <algorithm>
#include <cmath>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "ordner/Kacheln.h"
#include "tools/Errors.h"
#include "tools/PunktSet.h"

namespace tervalo {

// --- computation --------------------------------------------------------------------------------

void Compute(TPunktSpeicher& s, double x, double y, double potenz, TBerechnung& out) {
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
    const TShepard sh = ComputeShepard(
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

namespace {
std::string Kuerzen(const std::string& path, const TTextMass* font, int breite) {
    if (!font) return path;
    return ShortenPath(path, *font, breite);
}
}  // namespace

std::string FileLabelText(const TDateien& kat, int letzterEintrag, const TTextMass* font,
                           int breite) {
    if (letzterEintrag < 1 || letzterEintrag > kat.Eintraege()) return TextUnbekannt;
    return Kuerzen(kat.Datei[static_cast<std::size_t>(letzterEintrag)], font, breite);
}

std::string FileLabelText(const TDateien& kat, int letzterEintrag, const std::string& letzteDatei,
                          const TTextMass* font, int breite) {
    if (letzteDatei.empty() || letzterEintrag < 1 || letzterEintrag > kat.Eintraege())
        return FileLabelText(kat, letzterEintrag, font, breite);
    return Kuerzen(letzteDatei, font, breite);
}

TOeffnung OpenDatei(TPunktQuelle& quelle, const std::string& datei) {
    TOeffnung o;
    o.Errno = quelle.Open();
    if (o.Errno != 0) {
        o.Fehler = TextIOFehler + datei;
        o.LabelVoll = o.Fehler;
        return o;
    }
    o.Offen = true;
    o.Pfad = quelle.Pfad();
    o.Name = FileNamePart(o.Pfad);
    if (quelle.IsDbase() && quelle.RecordCount() < 1) {
        o.KeineDatensaetze = true;
        o.Fehler = TextKeineDatensaetze;
        o.LabelVoll = TextKeineDatensaetze;
    } else {
        o.LabelVoll = o.Pfad;
    }
    return o;
}

std::string FormatOeffnungLabel(const TOeffnung& o, const std::string& datei, const TTextMass* font, int breite) {
    if (!o.Offen) {
        // The prefix stays whole; the path gets the rest of the width.
        if (font) breite -= font->TextWidth(TextIOFehler);
        return TextIOFehler + Kuerzen(datei, font, breite);
    }
    if (o.KeineDatensaetze) return TextKeineDatensaetze;
    return Kuerzen(o.Pfad, font, breite);
}

// --- the run -------------------------------------------------------------------------------------

namespace {

bool GleicheOptionen(const TOrdnerOptionen& a, const TOrdnerOptionen& b) {
    return a.Unterordner == b.Unterordner && a.Muster == b.Muster && a.IndexOrdner == b.IndexOrdner;
}

// Whether the kept catalogue still stands for `kat`: what selection depends on is the same.
bool GleicherKatalog(const TDateien& a, const TDateien& b) {
    auto gleich = [](double x, double y) { return x == y || (x != x && y != y); };
    const int n = a.Eintraege();
    if (n != b.Eintraege() || !GleicheOptionen(a.Ordner, b.Ordner)) return false;
    for (int i = 1; i <= n; ++i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        if (!gleich(a.Xmin[ix], b.Xmin[ix]) || !gleich(a.Xmax[ix], b.Xmax[ix]) || !gleich(a.Ymin[ix], b.Ymin[ix]) ||
            !gleich(a.Ymax[ix], b.Ymax[ix]) || a.Datei[ix] != b.Datei[ix])
            return false;
    }
    return true;
}

}  // namespace

struct THoehenAbfrage::Impl {
    TPunktSet gesehen{MaxPunkte};
    int busy = 0;
    // The catalogue as runs read it, with its open indexes: made anew only when the catalogue
    // changes, so a plain one costs no stat per run and a folder's index stays open.
    std::unique_ptr<TKachelKatalog> katalog;
    std::vector<TKachelWahl> wahl;

    TKachelKatalog& Katalog(const TDateien& kat) {
        if (!katalog || !GleicherKatalog(katalog->Dateien(), kat)) {
            katalog.reset();
            katalog = std::make_unique<TKachelKatalog>(kat);
        }
        return *katalog;
    }
};

THoehenAbfrage::THoehenAbfrage()
    : speicher_(std::make_unique<TPunktSpeicher>()), impl_(std::make_unique<Impl>()) {}

THoehenAbfrage::~THoehenAbfrage() = default;

namespace {

// One run's working state.
struct TLauf {
    TPunktSpeicher& s;
    TPunktSet& gesehen;
    const TQuadrat& q;
    TAbfrageBeobachter* beob;
    int& busy;

    void BusyStep() {
        busy = (busy + 1) % 8;
        if (beob) beob->BusyStep(busy);
    }

    // The point filter: inside the square, room left, no point with the same X and Y yet.
    void Filter(double x, double y, double z, TDateiZeile& row) {
        // InRect, inlined: this runs for every line near the square.
        if (!(q.Xmin <= x && x <= q.Xmax && q.Ymin <= y && y <= q.Ymax)) return;
        if (s.Anzahl >= MaxPunkte) return;
        if (!gesehen.Insert(x, y)) return;
        const int i = ++s.Anzahl;
        s.X[i] = x;
        s.Y[i] = y;
        s.Z[i] = z;
        ++row.Gefiltert;
    }

    // A raster's pixels under the square. Its "lines read" are its pixels, whatever window was
    // read; damage ends the run as a read error does, with the rows before it counted.
    void Raster(TPunktQuelle& quelle, TDateiZeile& row) {
        const TRasterKopf& k = quelle.Raster()->Kopf();
        const TPixelFenster f = quelle.RasterFenster();
        auto zeilen = [&](uint64_t n) { return static_cast<int32_t>(std::min<uint64_t>(n, INT32_MAX)); };
        int schritt = 0;
        try {
            quelle.Read<TAbfrageZeilenRegel>([&](const auto& pixel) {
                if (++schritt == BusyIntervall) {
                    schritt = 0;
                    BusyStep();
                }
                double x, y, z;
                if (pixel.Punkt(x, y, z) == TBefund::Punkt) Filter(x, y, z, row);
            });
        } catch (const ERasterFensterDefekt& e) {
            row.Gelesen = zeilen(uint64_t(f.Zeile + e.GanzeZeilen()) * uint64_t(k.Spalten));
            throw;
        }
        row.Gelesen = zeilen(k.Pixel());
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

const THoehenAntwort& THoehenAbfrage::Run(const TDateien& kat, const TAbfrageParameter& p,
                                          TAbfrageBeobachter* beob) {
    TPunktSpeicher& s = *speicher_;
    ergebnis_ = THoehenAntwort{};
    dateiLabel_ = TextUnbekannt;
    THoehenAntwort& erg = ergebnis_;
    erg.X = p.X;
    erg.Y = p.Y;
    erg.Fangbreite = p.Fangbreite;
    erg.Potenz = p.Potenz;
    const TQuadrat quadrat{p.X - p.Fangbreite, p.X + p.Fangbreite, p.Y - p.Fangbreite, p.Y + p.Fangbreite};

    s.X.fill(0.0);
    s.Y.fill(0.0);
    s.Z.fill(0.0);
    s.Anzahl = 0;
    impl_->gesehen.Clear();
    impl_->busy = 0;

    TLauf lauf{s, impl_->gesehen, quadrat, beob, impl_->busy};
    TKachelKatalog& katalog = impl_->Katalog(kat);
    std::vector<TKachelWahl>& wahl = impl_->wahl;
    try {
        katalog.Select(quadrat.Xmin, quadrat.Xmax, quadrat.Ymin, quadrat.Ymax, wahl,
                       beob ? beob->OrdnerBeobachter() : nullptr);
    } catch (...) {
        erg.Meldungen = katalog.TakeMeldungen();
        throw;
    }
    auto meldungenHolen = [&] {
        for (std::string& m : katalog.TakeMeldungen()) erg.Meldungen.push_back(std::move(m));
    };
    meldungenHolen();
    const int anzahl = kat.Eintraege();
    // One busy step per catalogue entry, before its files are read, as the plain walk had.
    int schritt = 1;
    int k = 0;
    for (TKachelWahl& w : wahl) {
        for (; schritt <= w.Eintrag; ++schritt) lauf.BusyStep();
        erg.LetzterEintrag = w.Eintrag;
        erg.LetzteDatei = w.Datei;
        TDateiZeile neu;
        neu.Nr = ++k;
        neu.Eintrag = w.Eintrag;
        neu.Datei = w.Datei;
        neu.Name = TextKeinName;
        // A folder tile's extent is checked before it is read; the run reads it all the same.
        std::string pruefung;
        if (w.AusOrdner) {
            try {
                pruefung = katalog.Pruefen(w);
            } catch (...) {
                meldungenHolen();
                throw;
            }
        }
        TPunktQuelle quelle(neu.Datei);
        neu.DBase = quelle.IsDbase();
        erg.Dateien.push_back(std::move(neu));
        TDateiZeile& row = erg.Dateien.back();

        try {
            // A text file that cannot be opened gets its row, the run goes on.
            const TOeffnung o = OpenDatei(quelle, row.Datei);
            row.OeffnenFehler = !o.Offen;
            row.Name = o.Name;
            row.Fehler = o.Fehler;
            dateiLabel_ = FormatOeffnungLabel(o, row.Datei, p.LabelFont, p.LabelBreite);
            erg.LB_DateiVoll = o.LabelVoll;
            if (o.Offen) row.Hinweis = SystemHinweis(quelle, kat.System);
            if (!pruefung.empty()) row.Hinweis = row.Hinweis.empty() ? pruefung : pruefung + "; " + row.Hinweis;
            if (beob) beob->FileSelected(row, dateiLabel_);
            if (o.Offen && quelle.IsRaster()) {
                quelle.SetQuadrat(quadrat);
                quelle.SetNoData(kat.NoData);
                lauf.Raster(quelle, row);
            } else if (o.Offen) {
                // Most lines of a tile lie outside the square: the source decides that from
                // the first characters of a line, or field by field, before converting more.
                quelle.SetQuadrat(quadrat);
                quelle.SetNoData(kat.NoData);
                const int vorher = s.Anzahl;
                try {
                    quelle.Read<TAbfrageZeilenRegel>([&](const auto& zeile) __attribute__((always_inline)) {
                        if (CountUp(row.Gelesen) % BusyIntervall == 0) lauf.BusyStep();
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
                    dateiLabel_ = vor + Kuerzen(row.Datei, p.LabelFont, rest);
                    erg.LB_DateiVoll = row.Fehler;
                }
            }
        } catch (const std::exception& ex) {
            // The window shows the error itself (or nothing for a silent abort); the row and the
            // result keep a text naming the file for the command line.
            row.Fehler = ReadErrorMessage(ex, row.Datei);
            erg.Fehler = row.Fehler;
            erg.Anzahl = s.Anzahl;
            meldungenHolen();
            if (beob) {
                beob->FileDone(row);
                beob->BusyStep(0);
            }
            throw;
        }
        if (beob) beob->FileDone(row);
    }
    for (; schritt <= anzahl; ++schritt) lauf.BusyStep();
    meldungenHolen();
    if (beob) beob->BusyStep(0);

    erg.Anzahl = s.Anzahl;
    if (s.Anzahl > 0) {
        TBerechnung b;
        Compute(s, p.X, p.Y, p.Potenz, b);
        erg.Berechnet = true;
        auto punkt = [&](int i) {
            const std::size_t ix = static_cast<std::size_t>(i);
            return TAntwortPunkt{s.X[ix], s.Y[ix], s.Z[ix], s.R[ix]};
        };
        if (b.Naechster > 0) {
            erg.HatNaechster = true;
            erg.Naechster = punkt(b.Naechster);
        }
        erg.ShepardN = b.ShepardN;
        erg.ShepardZ = b.ShepardZ;
        erg.Rangliste.reserve(RanglisteGroesse);
        for (int r = 1; r <= RanglisteGroesse; ++r) {
            const int i = b.Rang[static_cast<std::size_t>(r)];
            if (i == 0) break;
            erg.Rangliste.push_back(punkt(i));
        }
    }
    erg.Beendet = true;
    return erg;
}

}  // namespace tervalo
