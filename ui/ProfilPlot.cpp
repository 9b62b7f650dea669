#include "ProfilPlot.h"

#include "ui/Platform.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace tervalo {

namespace {

const QColor FarbeNaechster(0x1F, 0x5F, 0xBF);
const QColor FarbeShepard(0xD9, 0x6A, 0x10);
const QColor FarbeEcke(0x80, 0x80, 0x80);
const QColor FarbeGitter(0xE2, 0xE2, 0xE2);

QString Zahl(double v, int dezimalen) {
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    return loc.toString(v, 'f', dezimalen);
}

QString Ergebnis(double v) { return QString::fromStdString(FormatResult(v, UserDecimalSeparator())); }

}  // namespace

TProfilWert TProfilWert::Aus(const TProbe& p, const THoehenAntwort& a) {
    TProfilWert w;
    w.Station = p.Station;
    w.X = p.X;
    w.Y = p.Y;
    w.Ecke = p.Ecke;
    if (a.Beendet && a.Berechnet) {
        w.Art = tervalo::HatHoehe(a) ? MitHoehe : OhneHoehe;
        w.ShepardN = a.ShepardN;
        w.ShepardZ = a.ShepardZ;
    }
    if (w.Art == MitHoehe) {
        w.R = a.Naechster.R;
        w.Z = a.Naechster.Z;
    }
    return w;
}

THoehenAntwort TProfilWert::Antwort() const {
    THoehenAntwort a;
    a.X = X;
    a.Y = Y;
    a.Beendet = a.Berechnet = Art != OhneErgebnis;
    a.HatNaechster = Art == MitHoehe;
    a.Naechster = {X, Y, Z, R};
    a.ShepardN = ShepardN;
    a.ShepardZ = ShepardZ;
    return a;
}

TProfilPlot::TProfilPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ProfilPlot"));
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TProfilPlot::SetProfil(const std::vector<TProfilWert>* werte, std::vector<double> ecken, double laenge) {
    werte_ = werte;
    ecken_ = std::move(ecken);
    laenge_ = laenge;
    gesehen_ = 0;
    zmin_.reset();
    zmax_.reset();
    maus_.reset();
    Nachgereicht();
    emit AblesungGeaendert(QString());
}

void TProfilPlot::Nachgereicht() {
    if (werte_) ErweitereHoehen(werte_->size());
    update();
}

void TProfilPlot::ErweitereHoehen(std::size_t bis) {
    auto nimm = [this](double z) {
        if (!zmin_ || z < *zmin_) zmin_ = z;
        if (!zmax_ || z > *zmax_) zmax_ = z;
    };
    for (; gesehen_ < bis; ++gesehen_) {
        const TProfilWert& w = (*werte_)[gesehen_];
        if (w.HatHoehe()) nimm(w.Z);
        if (w.HatShepard()) nimm(w.ShepardZ);
    }
}

TProfilPlot::TBereich TProfilPlot::Bereich() const {
    TBereich b;
    b.X1 = laenge_ > 0 ? laenge_ : 1.0;
    if (zmin_) {
        const double rand = std::max((*zmax_ - *zmin_) * 0.06, 0.5);
        b.Y0 = *zmin_ - rand;
        b.Y1 = *zmax_ + rand;
    }
    return b;
}

QRectF TProfilPlot::Zeichenflaeche(const QRectF& ganz) const {
    const QFontMetricsF fm(font());
    const double links = fm.horizontalAdvance(QStringLiteral("00000,0")) + fm.height() + 14;
    return ganz.adjusted(links, fm.height() * 2 + 8, -16, -(fm.height() * 2 + 14));
}

std::vector<double> TProfilPlot::Striche(double von, double bis, int ziel, int* dezimalen) {
    std::vector<double> out;
    if (dezimalen) *dezimalen = 0;
    if (!(bis > von) || ziel < 1 || !std::isfinite(bis - von)) return out;
    const double roh = (bis - von) / ziel;
    const double mag = std::pow(10.0, std::floor(std::log10(roh)));
    const double f = roh / mag;
    const double m = f <= 1 ? 1 : f <= 2 ? 2 : f <= 2.5 ? 2.5 : f <= 5 ? 5 : 10;
    const double schritt = m * mag;
    if (dezimalen) {
        int d = std::max(0, -static_cast<int>(std::floor(std::log10(schritt) + 1e-9)));
        if (m == 2.5 && mag < 10) ++d;  // 2.5, 0.25: one digit more than the power shows
        *dezimalen = d;
    }
    const double erster = std::ceil(von / schritt - 1e-9) * schritt;
    for (int i = 0; i <= 1000; ++i) {
        const double v = erster + i * schritt;
        if (v > bis + schritt * 1e-9) break;
        out.push_back(std::fabs(v) < schritt * 1e-9 ? 0.0 : v);
    }
    return out;
}

QList<QPolygonF> TProfilPlot::Linien(TReihe r, const QRectF& f) const {
    QList<QPolygonF> out;
    if (!werte_ || werte_->empty()) return out;
    const TBereich b = Bereich();
    const double sx = f.width() / (b.X1 - b.X0), sy = f.height() / (b.Y1 - b.Y0);
    QPolygonF linie;
    // The pixel column being gathered: its first, lowest, highest and last sample.
    bool offen = false;
    double spalte = 0, x0 = 0, x1 = 0, z0 = 0, zmin = 0, zmax = 0, z1 = 0;
    auto py = [&](double z) { return f.bottom() - (z - b.Y0) * sy; };
    auto schliesse = [&] {
        if (!offen) return;
        offen = false;
        linie << QPointF(x0, py(z0));
        if (x1 == x0) return;  // a single sample in the column
        const double mitte = spalte + 0.5;
        linie << QPointF(mitte, py(zmin)) << QPointF(mitte, py(zmax)) << QPointF(x1, py(z1));
    };
    auto luecke = [&] {
        schliesse();
        if (!linie.isEmpty()) out << linie;
        linie.clear();
    };
    for (const TProfilWert& w : *werte_) {
        const bool hat = r == Naechster ? w.HatHoehe() : w.HatShepard();
        if (!hat) {
            luecke();
            continue;
        }
        const double z = r == Naechster ? w.Z : w.ShepardZ;
        const double x = f.left() + (w.Station - b.X0) * sx;
        const double s = std::floor(x);
        if (offen && s == spalte) {
            x1 = x;
            z1 = z;
            zmin = std::min(zmin, z);
            zmax = std::max(zmax, z);
            continue;
        }
        schliesse();
        offen = true;
        spalte = s;
        x0 = x1 = x;
        z0 = z1 = zmin = zmax = z;
    }
    luecke();
    return out;
}

void TProfilPlot::Render(QPainter& p, const QRectF& ganz, bool mitMaus) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(font());
    p.fillRect(ganz, Qt::white);
    const QFontMetricsF fm(font());
    if (!werte_ || werte_->empty()) {
        p.setPen(FarbeEcke);
        p.drawText(ganz, Qt::AlignCenter, QStringLiteral("Noch kein Profil berechnet."));
        p.restore();
        return;
    }
    const QRectF f = Zeichenflaeche(ganz);
    const TBereich b = Bereich();
    auto px = [&](double s) { return f.left() + (s - b.X0) / (b.X1 - b.X0) * f.width(); };
    auto py = [&](double z) { return f.bottom() - (z - b.Y0) / (b.Y1 - b.Y0) * f.height(); };

    // Grid, ticks and their numbers in the user's locale.
    int dx = 0, dy = 0;
    const std::vector<double> xs = Striche(b.X0, b.X1, std::max(2, static_cast<int>(f.width() / 90)), &dx);
    const std::vector<double> ys = Striche(b.Y0, b.Y1, std::max(2, static_cast<int>(f.height() / 40)), &dy);
    const QPen gitter(FarbeGitter, 0);
    const QPen text(QColor(0x20, 0x20, 0x20));
    for (double v : xs) {
        const double x = px(v);
        p.setPen(gitter);
        p.drawLine(QPointF(x, f.top()), QPointF(x, f.bottom()));
        p.setPen(text);
        p.drawLine(QPointF(x, f.bottom()), QPointF(x, f.bottom() + 4));
        const QString t = Zahl(v, dx);
        const double w = fm.horizontalAdvance(t);
        p.drawText(QPointF(std::clamp(x - w / 2, ganz.left() + 2, ganz.right() - w - 2), f.bottom() + 6 + fm.ascent()), t);
    }
    for (double v : ys) {
        const double y = py(v);
        p.setPen(gitter);
        p.drawLine(QPointF(f.left(), y), QPointF(f.right(), y));
        p.setPen(text);
        p.drawLine(QPointF(f.left() - 4, y), QPointF(f.left(), y));
        const QString t = Zahl(v, dy);
        p.drawText(QPointF(f.left() - 7 - fm.horizontalAdvance(t), y + fm.ascent() / 2 - 1), t);
    }
    p.setPen(text);
    const QString xTitel = QStringLiteral("Station [m]");
    p.drawText(QPointF(f.center().x() - fm.horizontalAdvance(xTitel) / 2, ganz.bottom() - fm.descent() - 3), xTitel);
    {
        const QString yTitel = QStringLiteral("Höhe [mNN]");
        p.save();
        p.translate(ganz.left() + fm.ascent() + 2, f.center().y() + fm.horizontalAdvance(yTitel) / 2);
        p.rotate(-90);
        p.drawText(QPointF(0, 0), yTitel);
        p.restore();
    }

    // The vertices, dashed across the whole height and numbered (while the numbers have room).
    const bool nummern = ecken_.size() <= 50;
    for (std::size_t k = 0; k < ecken_.size(); ++k) {
        const double e = ecken_[k];
        if (e < b.X0 || e > b.X1) continue;
        const double x = px(e);
        p.setPen(QPen(FarbeEcke, 1, Qt::DashLine));
        p.drawLine(QPointF(x, f.top()), QPointF(x, f.bottom()));
        if (!nummern) continue;
        const QString n = QString::number(k + 1);
        const double w = fm.horizontalAdvance(n);
        p.setPen(FarbeEcke);
        p.drawText(QPointF(x + 3 + w > f.right() ? x - 3 - w : x + 3, f.top() + fm.ascent() + 2), n);
    }

    // The two series: the nearest point's broad below, Shepard's narrow on it, so both show
    // where they nearly agree.
    p.save();
    p.setClipRect(f.adjusted(-1, -1, 1, 1));
    for (TReihe r : {Naechster, Shepard}) {
        const QColor c = r == Naechster ? FarbeNaechster : FarbeShepard;
        p.setPen(QPen(c, r == Naechster ? 2.6 : 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(c);
        for (const QPolygonF& l : Linien(r, f)) {
            if (l.size() == 1)
                p.drawEllipse(l.front(), 1.5, 1.5);  // a lone sample between gaps stays visible
            else
                p.drawPolyline(l);
        }
    }
    p.setBrush(Qt::NoBrush);
    p.restore();
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 0));
    p.drawRect(f);

    // Legend above the plot, at its right.
    {
        struct TEintrag {
            QString Text;
            QPen Stift;
        };
        const TEintrag eintraege[] = {{QStringLiteral("nächster Punkt"), QPen(FarbeNaechster, 2.6)},
                                      {QStringLiteral("Shepard"), QPen(FarbeShepard, 1.6)},
                                      {QStringLiteral("Eckpunkt"), QPen(FarbeEcke, 1, Qt::DashLine)}};
        double x = f.right();
        const double y = f.top() - fm.height() / 2 - 6;
        for (auto it = std::rbegin(eintraege); it != std::rend(eintraege); ++it) {
            const double w = fm.horizontalAdvance(it->Text);
            x -= w;
            p.setPen(text);
            p.drawText(QPointF(x, y + fm.ascent() / 2 - 1), it->Text);
            x -= 26;
            p.setPen(it->Stift);
            p.drawLine(QPointF(x, y), QPointF(x + 20, y));
            x -= 14;
        }
    }

    if (mitMaus && maus_ && *maus_ < werte_->size()) {
        const TProfilWert& w = (*werte_)[*maus_];
        const double x = px(w.Station);
        p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1, Qt::DotLine));
        p.drawLine(QPointF(x, f.top()), QPointF(x, f.bottom()));
        if (w.HatHoehe()) p.drawLine(QPointF(f.left(), py(w.Z)), QPointF(f.right(), py(w.Z)));
        p.setPen(QPen(Qt::white, 1));
        if (w.HatShepard()) {
            p.setBrush(FarbeShepard);
            p.drawEllipse(QPointF(x, py(w.ShepardZ)), 4, 4);
        }
        if (w.HatHoehe()) {
            p.setBrush(FarbeNaechster);
            p.drawEllipse(QPointF(x, py(w.Z)), 4, 4);
        }
        p.setBrush(Qt::NoBrush);
    }
    p.restore();
}

void TProfilPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Render(p, QRectF(rect()), true);
}

std::optional<std::size_t> TProfilPlot::ZeigeBei(double station) {
    if (!werte_ || werte_->empty()) return std::nullopt;
    const auto it = std::lower_bound(werte_->begin(), werte_->end(), station,
                                     [](const TProfilWert& w, double s) { return w.Station < s; });
    std::size_t i = static_cast<std::size_t>(it - werte_->begin());
    if (i == werte_->size() || (i > 0 && station - (*werte_)[i - 1].Station <= (*werte_)[i].Station - station)) --i;
    if (maus_ != i) {
        maus_ = i;
        update();
        emit AblesungGeaendert(Ablesung(i));
    }
    return i;
}

void TProfilPlot::MausWeg() {
    if (!maus_) return;
    maus_.reset();
    update();
    emit AblesungGeaendert(QString());
}

QString TProfilPlot::Ablesung(std::size_t i) const {
    if (!werte_ || i >= werte_->size()) return {};
    const TProfilWert& w = (*werte_)[i];
    QString t = QStringLiteral("Station %1 m:  ").arg(Ergebnis(w.Station));
    t += w.HatHoehe() ? QStringLiteral("nächster Punkt %1 mNN (Abstand %2 m)").arg(Ergebnis(w.Z), Ergebnis(w.R))
                      : QStringLiteral("nächster Punkt: keine Daten");
    t += w.HatShepard() ? QStringLiteral(",  Shepard %1 mNN (%2 Punkte)").arg(Ergebnis(w.ShepardZ)).arg(w.ShepardN)
                        : QStringLiteral(",  Shepard: keine Daten");
    return t;
}

void TProfilPlot::mouseMoveEvent(QMouseEvent* e) {
    if (!werte_ || werte_->empty()) return;
    const QRectF f = Zeichenflaeche(QRectF(rect()));
    const TBereich b = Bereich();
    const double s = b.X0 + (e->position().x() - f.left()) / f.width() * (b.X1 - b.X0);
    ZeigeBei(std::clamp(s, b.X0, b.X1));
}

void TProfilPlot::leaveEvent(QEvent*) { MausWeg(); }

}  // namespace tervalo
