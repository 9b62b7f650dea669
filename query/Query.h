#pragma once
// The height query: capture square, catalogue walk, point filter, nearest point, Shepard height,
// giving one THoehenAntwort. No window here: the caller passes, for the file label, the label's
// font and width.
#include <algorithm>
#include <array>
#include <cmath>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/TYPEN.h"
#include "ordner/OrdnerIndex.h"
#include "query/Antwort.h"
#include "tools/Rueckmeldung.h"
#include "tools/Tools.h"

namespace tervalo {

inline constexpr int MaxPunkte = 15000;          // capacity of the point store
inline constexpr int BusyIntervall = 10000;      // lines or records per busy step
inline constexpr double StartAbstand = 9999999.0;
inline constexpr double TrefferGewicht = 10000.0;  // weight of a point at R <= 0

// Upper bound of the capture range: a square of side 2 d on a grid of the given spacing then
// holds at most MaxPunkte points, the capacity of the point store.
inline double FangbreiteMax(double rasterabstand) {
    return (std::sqrt(static_cast<double>(MaxPunkte)) - 1.0) * rasterabstand / 2.0;
}
// Upper bound of the Shepard exponent.
inline constexpr double PotenzMax = 500.0;

// Point store: positions 1..Anzahl are used, index 0 is unused (as in the catalogue).
// About 480 KB: keep it on the heap (THoehenAbfrage does).
struct TPunktSpeicher {
    std::array<double, MaxPunkte + 1> X{};
    std::array<double, MaxPunkte + 1> Y{};
    std::array<double, MaxPunkte + 1> Z{};
    std::array<double, MaxPunkte + 1> R{};
    uint16_t Anzahl = 0;
};

// Outcome of the computation over the store.
struct TBerechnung {
    int Naechster = 0;                  // store position of the nearest point, 0 = none
    int ShepardN = 0;                   // points within sqrt(50) m
    double ShepardZ = 0.0;              // 0 when ShepardN == 0
    std::array<int, RanglisteGroesse + 1> Rang{};  // slots 1..20: store positions, 0 = empty
};

// Parameters of one run.
struct TAbfrageParameter {
    double X = 0, Y = 0;
    double Fangbreite = 50.0;
    double Potenz = 2.0;
    // Font and width of LB_Datei. Without a font the label texts hold the full path
    // (the CLI); the window passes its label's font and current width.
    const TTextMass* LabelFont = nullptr;
    int LabelBreite = 0;
};

// Progress of a run. All calls happen inside Run(), on the caller's thread. The query is not
// cancelled: BusyStep comes once per catalogue entry before its overlap test and once per 10000
// lines or records read; CancelCheck is never asked.
class TAbfrageBeobachter : public TRueckmeldung {
public:
    // A selected file was opened, or its opening as text failed. `lbDatei` is LB_Datei's new text
    // (shortened as the parameters say); row.Name is the row's name label ("---" after a failed
    // opening). Not called when a dBase table fails to open: FileDone follows, then the error.
    virtual void FileSelected(const TDateiZeile& row, const std::string& lbDatei) { (void)row; (void)lbDatei; }
    // The file is finished, normally or by an error (counts reached); repaint now.
    virtual void FileDone(const TDateiZeile& row) { (void)row; }
    // Progress of building or updating a folder entry's index before the files are read
    // (a first query over a new folder may take a while); nullptr: none shown.
    virtual TOrdnerBeobachter* OrdnerBeobachter() { return nullptr; }
};

// The query engine. Owns the point store for its lifetime; one Run at a time.
// Threads: the engine is one caller's working memory (store, filter, result) and there is no
// global state, so engines on several threads run at once. They may share the catalogue and
// the parameters with their separator, which a Run only reads, and a label font whose
// TextWidth may be called from several threads. Each Run owns its observer, which it calls on
// the caller's thread only. The building blocks below touch nothing but their arguments.
// Folder entries stand for their tiles at their place (see TKachelKatalog): each tile read
// gets its own row, with the entry's number; a tile whose name lies about its extent gets the
// message in its row's Hinweis. The catalogue as runs read it is kept between runs while the
// catalogue stays the same (entries, paths, boxes, Ordner options).
class THoehenAbfrage {
public:
    THoehenAbfrage();
    ~THoehenAbfrage();
    THoehenAbfrage(const THoehenAbfrage&) = delete;
    THoehenAbfrage& operator=(const THoehenAbfrage&) = delete;

    // One height query over the catalogue. Returns the answer (also kept in Ergebnis()). A
    // damaged packed tile is passed over like one that cannot be opened: its row keeps the
    // lines read and the message, the store none of its points.
    // An error that ends the run (read error in a text file, a dBase table that will not open)
    // is thrown after the file's row is complete and FileDone was called; Ergebnis() then holds
    // what was reached, with a message naming the file in Fehler and on the file's row. The
    // error thrown is the original one, so the window stays silent on a silent abort.
    const THoehenAntwort& Run(const TDateien& kat, const TAbfrageParameter& p,
                              TAbfrageBeobachter* beobachter = nullptr);

    const THoehenAntwort& Ergebnis() const { return ergebnis_; }
    // LB_Datei's text after the run, shortened as the parameters said (the window's label).
    const std::string& DateiLabel() const { return dateiLabel_; }
    // The engine's working store, for tests and benchmarks only: no output reads it.
    const TPunktSpeicher& Speicher() const { return *speicher_; }

private:
    struct Impl;
    std::unique_ptr<TPunktSpeicher> speicher_;
    std::unique_ptr<Impl> impl_;
    THoehenAntwort ergebnis_;
    std::string dateiLabel_ = TextUnbekannt;
};

// --- building blocks, shared with the batch ------------------------------------------------

// Adds one line or record to a row's counter; stops at the largest 32-bit value instead of
// overflowing on a file of more than two thousand million lines.
inline int32_t CountUp(int32_t& n) {
    if (n < INT32_MAX) ++n;
    return n;
}

// Whether catalogue entry i's box meets the square: the one selection rule of query and batch.
inline bool TouchesEintrag(const TDateien& kat, std::size_t i, double xmin, double xmax, double ymin,
                            double ymax) {
    return !(xmin > kat.Xmax[i] || xmax < kat.Xmin[i] || ymin > kat.Ymax[i] || ymax < kat.Ymin[i]);
}

// Opening a catalogued file and what its row and labels show for it, as query and batch both
// meet it.
struct TOeffnung {
    bool Offen = false;          // false: a text file that cannot be opened (the run goes on)
    int Errno = 0;               // why not, when not
    bool KeineDatensaetze = false;  // an opened dBase table without records
    std::string Pfad;            // the path opened, when opened
    std::string Name = TextKeinName;  // the row's name label
    std::string Fehler;          // the row's message: "I/O-Fehler: " + path or "Fehler: Keine Datensätze!"
    std::string LabelVoll;       // LB_Datei's text, path not shortened
};
class TPunktQuelle;
// Opens the source of catalogue path `datei`. "Cannot open" is the returned value; a table
// that will not open for another reason throws as the table layer raises it.
TOeffnung OpenDatei(TPunktQuelle& quelle, const std::string& datei);
// LB_Datei's text for that opening, shortened to the label's width when a font is given.
std::string FormatOeffnungLabel(const TOeffnung& o, const std::string& datei, const TTextMass* font, int breite);

// The Shepard radius sqrt(50) m, rounded to double.
inline constexpr double ShepardRadius = 7.0710678118654752440;

// The distance the query stores in R.
inline double Abstand(double x, double y, double px, double py) {
    const double dx = x - px;
    const double dy = y - py;
    return std::sqrt(dx * dx + dy * dy);
}
// Whether a point at distance r takes part in the Shepard height. Compared in double: R of a
// point exactly sqrt(50) m away is the rounded root of 50, equal to the radius, so it counts.
inline bool InShepardRadius(double r) { return r <= ShepardRadius; }

// The natural logarithm of a point's Shepard weight: r^-p, or 10000 for an exact hit (r <= 0).
inline double ShepardLogWeight(double r, double potenz) {
    constexpr double lnTreffer = 9.2103403719761827360719658187375;  // ln 10000
    return r <= 0 ? lnTreffer : -potenz * std::log(r);
}

struct TShepard {
    int N = 0;          // points within the radius
    double Z = 0.0;     // their weighted mean height, 0 when N is 0
};

// The Shepard height of the points that `punkte(f)` hands to f(r, z), in store order (it is
// called twice). The weights are taken relative to the largest one, in the log domain, so no
// exponent (the options allow 0 to 500) overflows or underflows into a wrong height: at 0.14 m
// and exponent 500, r^-p alone is far beyond the double range. The query and the batch both
// compute it here, so their answers agree bit for bit.
template <class Punkte>
TShepard ComputeShepard(Punkte&& punkte, double potenz) {
    TShepard out;
    // The log-weight is monotonic in r, so the largest one belongs to the nearest or the
    // farthest point (by the sign of the exponent) or to an exact hit: no logarithm per point.
    double rMin = HUGE_VAL, rMax = 0.0;
    bool treffer = false;
    punkte([&](double r, double) {
        if (!InShepardRadius(r)) return;
        ++out.N;
        if (r <= 0) {
            treffer = true;
        } else {
            rMin = std::min(rMin, r);
            rMax = std::max(rMax, r);
        }
    });
    if (out.N == 0) return out;
    double groesste = treffer ? ShepardLogWeight(0.0, potenz) : -HUGE_VAL;
    if (rMax > 0) {
        const double a = ShepardLogWeight(rMin, potenz), b = ShepardLogWeight(rMax, potenz);
        groesste = std::max({groesste, a, b});
        if (std::isnan(a)) groesste = a;  // a NaN exponent gives NaN, as r^NaN did
    }
    double sumZW = 0.0, sumW = 0.0;
    punkte([&](double r, double z) {
        if (!InShepardRadius(r)) return;
        const double lw = ShepardLogWeight(r, potenz);
        // Equal log-weights give exactly 1, also when both are infinite.
        const double w = lw == groesste ? 1.0 : std::exp(lw - groesste);
        sumZW += z * w;
        sumW += w;
    });
    out.Z = sumW > 0 ? sumZW / sumW : 0.0;
    return out;
}

// Fills R[1..Anzahl] and computes nearest point, Shepard height and ranking. Anzahl may be 0.
void Compute(TPunktSpeicher& s, double x, double y, double potenz, TBerechnung& out);

// LB_Datei's text for the ">>" button: the last selected entry's path shortened to the width,
// "???" when the last query selected no file. Without a font the path is returned whole.
std::string FileLabelText(const TDateien& kat, int letzterEintrag, const TTextMass* font,
                           int breite);
// The same naming the last tile read (THoehenAntwort::LetzteDatei), which for a folder entry
// is one of its tiles; an empty `letzteDatei` gives the entry's path as above.
std::string FileLabelText(const TDateien& kat, int letzterEintrag, const std::string& letzteDatei,
                          const TTextMass* font, int breite);

}  // namespace tervalo
