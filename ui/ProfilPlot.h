#pragma once
// The height profile as a picture: station on x, height in mNN on y, the nearest point's and
// the Shepard height as two lines with gaps where a sample has none, the vertices marked, and
// the sample under the mouse read out.
#include "query/Antwort.h"
#include "query/Profil.h"

#include <QList>
#include <QPolygonF>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

class QPainter;

namespace tervalo {

// One answered sample as the window keeps it: a million of them fit in some 50 MB, where the
// full answers would hold every file row.
struct TProfilWert {
    enum TArt : uint8_t { OhneErgebnis, OhneHoehe, MitHoehe };
    double Station = 0, X = 0, Y = 0;
    double R = 0, Z = 0;  // the nearest point's distance and height (MitHoehe)
    double ShepardZ = 0;
    int32_t ShepardN = 0;
    TArt Art = OhneErgebnis;  // OhneErgebnis: the query did not compute (no point in the square)
    bool Ecke = false;

    static TProfilWert Aus(const TProbe& p, const THoehenAntwort& a);
    bool HatHoehe() const { return Art == MitHoehe; }
    bool HatShepard() const { return Art != OhneErgebnis && ShepardN > 0; }
    // Back to the written forms' arguments: the same texts as the full answer gives.
    TProbe Probe() const { return {Station, X, Y, Ecke}; }
    THoehenAntwort Antwort() const;
};

class TProfilPlot : public QWidget {
    Q_OBJECT
public:
    enum TReihe { Naechster = 0, Shepard = 1 };

    explicit TProfilPlot(QWidget* parent = nullptr);

    // A new profile: the samples are read from `werte` (kept by the caller, growing in station
    // order), the vertices' stations and the line's length. Null: nothing to show.
    void SetProfil(const std::vector<TProfilWert>* werte, std::vector<double> ecken, double laenge);
    // More samples arrived at the end of the vector.
    void Nachgereicht();

    // The drawn lines of a series in the given area, in pixels: one polygon per run of samples
    // with a height (a gap starts a new one); each pixel column keeps its first, lowest,
    // highest and last value, so a million samples cost a few thousand points.
    QList<QPolygonF> Linien(TReihe r, const QRectF& flaeche) const;
    QRectF Zeichenflaeche(const QRectF& ganz) const;
    // Draws the whole plot into `ganz` (the window, or a picture being saved).
    void Render(QPainter& p, const QRectF& ganz, bool mitMaus) const;

    // The read-out at the sample nearest to a station (as the mouse gives it); nothing with no
    // samples. Returns the sample's index.
    std::optional<std::size_t> ZeigeBei(double station);
    void MausWeg();
    std::optional<std::size_t> Gezeigt() const { return maus_; }
    // The read-out's text for sample i.
    QString Ablesung(std::size_t i) const;

    // "Nice" tick values: steps of 1, 2, 2.5 or 5 times a power of ten covering [von, bis]
    // with about `ziel` intervals; the decimals their labels need.
    static std::vector<double> Striche(double von, double bis, int ziel, int* dezimalen = nullptr);

signals:
    void AblesungGeaendert(const QString& text);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    struct TBereich {
        double X0 = 0, X1 = 1, Y0 = 0, Y1 = 1;
    };
    TBereich Bereich() const;
    void ErweitereHoehen(std::size_t bis);

    const std::vector<TProfilWert>* werte_ = nullptr;
    std::vector<double> ecken_;
    double laenge_ = 0;
    // Height range of the samples taken so far.
    std::size_t gesehen_ = 0;
    std::optional<double> zmin_, zmax_;
    std::optional<std::size_t> maus_;
};

}  // namespace tervalo
