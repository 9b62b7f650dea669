#include "MainUnit.h"

#include "config/Konf.h"
#include "config/Orte.h"
#include "koord/Umrechnung.h"
#include "koord/Winkel.h"
#include "ordner/Kacheln.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"
#include "ui/About.h"
#include "ui/BusyIcons.h"
#include "ui/EingabeSysteme.h"
#include "ui/ErrorReport.h"
#include "ui/IndexFenster.h"
#include "ui/Globals.h"
#include "ui/OptionFrm.h"
#include "ui/Platform.h"
#include "ui/ProfilFrm.h"
#include "tools/ScopeGuard.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

namespace tervalo {

namespace {

constexpr int GridLeft = 324;
constexpr int GridTop = 48;
constexpr int GridWidth = 265;
constexpr int GridHeight = 389;
constexpr int DefaultWidths[4] = {30, 70, 70, 45};
// Room for a DMS text with a long fraction ("51 30 12,12345678 N").
constexpr int WinkelMaxLength = 24;

QString U(const std::string& s) { return QString::fromStdString(s); }

// Width of a text in a label's font, for the path shortener.
class TLabelMeasure : public TTextMass {
public:
    explicit TLabelMeasure(const QFont& f) : fm_(f) {}
    int TextWidth(std::string_view text) const override {
        return fm_.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

private:
    QFontMetrics fm_;
};

// "…" and the longest end of the name that fits the width; the name when it fits whole.
std::string NameEnde(const std::string& name, const TTextMass& font, int breite) {
    if (font.TextWidth(name) <= breite) return name;
    static const std::string ellipse = "\xE2\x80\xA6";
    std::size_t ab = 0;
    while (ab < name.size()) {
        ++ab;
        while (ab < name.size() && (static_cast<unsigned char>(name[ab]) & 0xC0) == 0x80) ++ab;  // whole code points
        const std::string t = ellipse + name.substr(ab);
        if (font.TextWidth(t) <= breite) return t;
    }
    return name;
}

QLabel* Caption(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLabel* ValueLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w,
                   Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(x, y, w, 18);
    l->setAlignment(align);
    l->setTextFormat(Qt::PlainText);
    return l;
}

void SetColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

// Small pictures of the top bar's buttons.
QIcon ButtonIcon(int kind) {
    QPixmap pm(18, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == 0) {  // options: three sliders
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.6));
        for (int i = 0; i < 3; ++i) p.drawLine(QPointF(2, 4.5 + i * 4.5), QPointF(16, 4.5 + i * 4.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x00, 0x00, 0x80));
        const double knobs[3] = {11, 5, 13};
        for (int i = 0; i < 3; ++i) p.drawRoundedRect(QRectF(knobs[i] - 2, 2.5 + i * 4.5, 4, 4), 1, 1);
    } else if (kind == 1) {  // exit: door with an arrow leaving it
        p.setPen(QPen(QColor(0x60, 0x40, 0x20), 1.4));
        p.setBrush(QColor(0xD8, 0xB0, 0x70));
        p.drawRect(QRectF(2.5, 2.5, 8, 13));
        p.setPen(QPen(QColor(0xB0, 0x00, 0x00), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 9), QPointF(16, 9));
        p.drawLine(QPointF(13, 6), QPointF(16, 9));
        p.drawLine(QPointF(13, 12), QPointF(16, 9));
    } else {  // info: blue disc with an "i"
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x20, 0x50, 0xB0));
        p.drawEllipse(QRectF(1, 1, 16, 16));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7.8, 3.5, 2.4, 2.4));
        p.drawRoundedRect(QRectF(7.9, 7.2, 2.2, 7.5), 0.8, 0.8);
    }
    return QIcon(pm);
}

}  // namespace

QString FangText(double v, const QLocale& loc) {
    if (!std::isfinite(v)) return loc.toString(v);
    if (v == 0.0) return loc.toString(0.0, 'f', 1);
    // Round to 4 significant digits first.
    const int mag = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    const double scale = std::pow(10.0, 3 - mag);
    double r = std::round(v * scale) / scale;
    if (std::fabs(r) >= 10000.0) {
        // Mantissa with its trailing zeros dropped, then "E" and the exponent.
        int e = static_cast<int>(std::floor(std::log10(std::fabs(r))));
        double m = r / std::pow(10.0, e);
        QString ms = QString::number(m, 'f', 3);
        while (ms.endsWith(QLatin1Char('0'))) ms.chop(1);
        if (ms.endsWith(QLatin1Char('.'))) ms.chop(1);
        ms.replace(QLatin1Char('.'), loc.decimalPoint());
        return ms + QLatin1Char('E') + QString::number(e);
    }
    QLocale grouped = loc;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(r, 'f', 1);
}

QString GridBlockText(const TTextGitter& grid, int left, int top, int right, int bottom) {
    QString text;
    for (int r = top; r <= bottom; ++r) {
        for (int c = left; c <= right; ++c) {
            text += QString::fromStdString(grid.Cell(c, r));
            if (c != right) text += QLatin1Char('\t');
        }
        text += GridRowEnd;
    }
    return text;
}

// A query brings its folder entries' indexes up to date first. Mostly that is a few checks;
// when it takes a while (a folder changed much, a new index folder) the progress window
// comes up. The query is not cancelled: a half-built index would leave tiles out.
class TForm1::IndexObserver : public TIndexBeobachter {
public:
    explicit IndexObserver(TForm1& f) : f_(f) {}
    void OrdnerBeginnt(const std::string& ordner) override {
        fenster_.reset();
        ordner_ = ordner;
        uhr_.start();
    }
    void Fortschritt(std::size_t fertig, std::size_t gesamt) override {
        if (!fenster_) {
            if (!uhr_.isValid()) uhr_.start();
            if (uhr_.elapsed() < ZeigenNachMs || fertig >= gesamt) return;
            fenster_ = std::make_unique<TIndexFenster>(&f_, U(ordner_));
            fenster_->Btn_Abbrechen->hide();
            fenster_->ShowCentred();
        }
        fenster_->SetFortschritt(fertig, gesamt);
        throttle_.ProcessEvents();
    }

private:
    static constexpr qint64 ZeigenNachMs = 300;
    TForm1& f_;
    std::string ordner_;
    std::unique_ptr<TIndexFenster> fenster_;
    QElapsedTimer uhr_;
    TEventThrottle throttle_{40};
};

// Shows the run's progress: file rows, file label, busy icon, immediate repaint.
class TForm1::Observer : public TAbfrageBeobachter {
public:
    explicit Observer(TForm1& f) : f_(f), index_(f) {}
    TOrdnerBeobachter* OrdnerBeobachter() override { return &index_; }
    void FileSelected(const TDateiZeile& row, const std::string& lbDatei) override {
        f_.ShowDateiLabel(lbDatei, f_.abfrage_->Ergebnis().LB_DateiVoll);
        if (row.Nr >= 1 && row.Nr <= 4) {
            const bool kachel = row.Eintrag >= 1 && row.Eintrag <= f_.Dateien.Eintraege() &&
                                row.Datei != f_.Dateien.Datei[static_cast<std::size_t>(row.Eintrag)];
            f_.ShowFileRow(row.Nr - 1, row.Name, row.Datei, row.Hinweis, kachel);
        }
        f_.repaint();
    }
    void FileDone(const TDateiZeile& row) override {
        if (row.Nr >= 1 && row.Nr <= 4) {
            f_.LB_gelesen[row.Nr - 1]->setText(QString::number(row.Gelesen));
            f_.LB_gefiltert[row.Nr - 1]->setText(QString::number(row.Gefiltert));
        }
        f_.repaint();
    }
    void BusyStep(int step) override { f_.ShowBusyIcon(step); }

private:
    TForm1& f_;
    IndexObserver index_;
};

TForm1::TForm1(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" Berechnung Tervalo"));
    setSizeGripEnabled(false);
    setModal(false);
    const QColor navy(0x00, 0x00, 0x80);
    const QColor maroon(0x80, 0x00, 0x00);

    // Top bar.
    TopBar = new QWidget(this);
    TopBar->setObjectName(QStringLiteral("TopBar"));
    TopBar->setAutoFillBackground(true);
    StaticText11 = Caption(TopBar, QStringLiteral("Datei:"), 8, 9);
    LB_Datei = ValueLabel(TopBar, "LB_Datei", QStringLiteral("???"), 48, 9, 300, Qt::AlignLeft | Qt::AlignVCenter);
    SetColour(LB_Datei, navy);
    auto makeButton = [this](const char* name, const QString& hint, int kind) {
        auto* b = new QToolButton(TopBar);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setIcon(ButtonIcon(kind));
        b->setIconSize(QSize(18, 18));
        b->setAutoRaise(kind == 2);
        // Reached by Tab; a click leaves the focus where it was.
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    SB_Profil = new QToolButton(TopBar);
    SB_Profil->setObjectName(QStringLiteral("SB_Profil"));
    SB_Profil->setText(QStringLiteral("Profil…"));
    SB_Profil->setToolTip(QStringLiteral("Höhenprofil (Alt+P)"));
    SB_Profil->setFocusPolicy(Qt::TabFocus);
    SB_Optionen = makeButton("SB_Optionen", QStringLiteral("Optionen (Alt+O)"), 0);
    SpeedButton3 = makeButton("SpeedButton3", QStringLiteral("Ende (Alt+E)"), 1);
    SpeedButton1 = makeButton("SpeedButton1", QStringLiteral("Info (F1)"), 2);

    // Coordinates.
    GroupBox1 = new QGroupBox(QStringLiteral(" Koordinaten zum Anfragepunkt "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 42, 282, 90);
    GroupBox1->setStyleSheet(QStringLiteral("QGroupBox::title { color: maroon; }"));
    // Both kinds of coordinate field stand in the same place and look alike.
    auto StyleCoordField = [&](QWidget* e, const QString& hint, int y) {
        e->setGeometry(92, y, 130, 26);
        QFont f = e->font();
        f.setBold(true);
        e->setFont(f);
        SetColour(e, navy);
        e->setToolTip(hint);
    };
    auto makeCoord = [&](const char* name, const QString& caption, const QString& hint, int y) {
        meterTexte_[y == 24 ? 0 : 2] = Caption(GroupBox1, caption, 14, y + 4);
        auto* e = new TPBNumEdit(GroupBox1);
        e->setObjectName(QString::fromLatin1(name));
        e->SetDecimals(2);
        e->SetMaxLength(12);
        StyleCoordField(e, hint, y);
        meterTexte_[y == 24 ? 1 : 3] = Caption(GroupBox1, QStringLiteral("[m]"), 230, y + 4);
        return e;
    };
    PBN_X = makeCoord("PBN_X", QStringLiteral("X-Wert:"),
                      QStringLiteral("X-Koordinate (Rechtswert)\nin Meter des Gauß-Krüger-Systems"), 24);
    PBN_Y = makeCoord("PBN_Y", QStringLiteral("Y-Wert:"),
                      QStringLiteral("Y-Koordinate (Hochwert)\nin Meter des Gauß-Krüger-Systems"), 56);
    // Degree fields in the same places, hidden until a geographic system is chosen.
    auto makeWinkel = [&](const char* name, const QString& caption, const QString& hint, int y, int k) {
        QLabel* c = Caption(GroupBox1, caption, 14, y + 4);
        auto* e = new QLineEdit(GroupBox1);
        e->setObjectName(QString::fromLatin1(name));
        e->setMaxLength(WinkelMaxLength);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        StyleCoordField(e, hint, y);
        QLabel* u = Caption(GroupBox1, QStringLiteral("[°]"), 230, y + 4);
        gradTexte_[static_cast<size_t>(k)] = c;
        gradTexte_[static_cast<size_t>(k + 1)] = u;
        c->hide();
        u->hide();
        e->hide();
        return e;
    };
    ED_Breite = makeWinkel("ED_Breite", QStringLiteral("Breite"),
                           QStringLiteral("Geographische Breite in Grad\n(51,5 oder 51°30'12,5\"N)"), 24, 0);
    ED_Laenge = makeWinkel("ED_Laenge", QStringLiteral("Länge"),
                           QStringLiteral("Geographische Länge in Grad\n(7,25 oder 7°15'0\"E)"), 56, 2);

    // Capture range.
    const QString fangHint = QStringLiteral(
        "Fangbereich um das Koordinatenpaar,\nfür den Gitterpunkte bei der Analyse \nberücksichtigt werden.");
    QLabel* fangCaption = Caption(this, QStringLiteral("aktueller Fangbereich:"), 12, 142);
    fangCaption->setToolTip(fangHint);
    LB_Fang = ValueLabel(this, "LB_Fang", QString(), 150, 142, 80);
    SetColour(LB_Fang, navy);
    LB_Fang->setToolTip(fangHint);
    Caption(this, QStringLiteral("[m]"), 238, 142);

    // File rows.
    auto colCaption = [this](const QString& text, int x) {
        auto* l = new QLabel(text, this);
        l->setGeometry(x, 166, 66, 34);
        l->setAlignment(Qt::AlignRight | Qt::AlignBottom);
        return l;
    };
    colCaption(QStringLiteral("gelesene\nZeilen"), 152);
    colCaption(QStringLiteral("gefilterte\nWerte"), 222);
    for (int k = 0; k < 4; ++k) {
        const int y = 204 + k * 19;
        const std::string n = std::to_string(k + 1);
        LB_DateiN[k] = ValueLabel(this, ("LB_Datei" + n).c_str(), QStringLiteral("---"), 12, y, 136,
                                  Qt::AlignLeft | Qt::AlignVCenter);
        LB_gelesen[k] = ValueLabel(this, ("LB_gelesen" + n).c_str(), QStringLiteral("0"), 152, y, 66);
        LB_gefiltert[k] = ValueLabel(this, ("LB_gefiltert" + n).c_str(), QStringLiteral("0"), 222, y, 66);
    }

    // Results.
    auto resultRow = [&](const char* name, const QString& caption, const QString& start,
                         const QString& unit, int y) {
        Caption(this, caption, 12, y);
        QLabel* v = ValueLabel(this, name, start, 176, y, 62);
        SetColour(v, navy);
        QFont f = v->font();
        f.setBold(true);
        v->setFont(f);
        Caption(this, unit, 244, y);
        return v;
    };
    LB_nextPointR = resultRow("LB_nextPointR", QStringLiteral("Abstand nächster Gridpunkt:"),
                              QStringLiteral("-----"), QStringLiteral("[m]"), 294);
    LB_nextPointZ = resultRow("LB_nextPointZ", QStringLiteral("mit Höhe:"), QStringLiteral("-----"),
                              QStringLiteral("[mNN]"), 314);
    LB_nextPointZ->setToolTip(QStringLiteral(
        "Bessere Ergebnisse bei starken\nGeländesprüngen (z.B. Terassen, Mauern)."));
    Caption(this, QStringLiteral("Extrapolation mit nächsten"), 12, 342);
    LB_ExtrapolnPoints = ValueLabel(this, "LB_ExtrapolnPoints", QStringLiteral("--"), 176, 342, 26);
    SetColour(LB_ExtrapolnPoints, navy);
    Caption(this, QStringLiteral("Rasterpunkten"), 206, 342);
    LB_ExtrapolPointZ = resultRow("LB_ExtrapolPointZ", QStringLiteral("Extrapolierte Höhe:"),
                                  QStringLiteral("-----"), QStringLiteral("[mNN]"), 362);
    LB_ExtrapolPointZ->setToolTip(QStringLiteral(
        "Extrapolation bringt bessere Werte bei\nrelativ gleichmäßigem Gefälle."));

    StartBtn = new QPushButton(QStringLiteral("&Suche && Berechnung starten"), this);
    StartBtn->setObjectName(QStringLiteral("StartBtn"));
    StartBtn->setToolTip(QStringLiteral("Höhe wird ermittelt"));
    StartBtn->setGeometry(8, 396, 282, 34);
    StartBtn->setDefault(true);
    StartBtn->setAutoDefault(false);

    // The input system, below everything of the design; hidden without a tiles' system.
    const int zusatzY = DesignHeight - 12;
    LB_Eingabe = Caption(this, QStringLiteral("&Eingabesystem:"), 12, zusatzY + 4);
    CB_Eingabe = new QComboBox(this);
    CB_Eingabe->setObjectName(QStringLiteral("CB_Eingabe"));
    // Wide enough for "Kachelsystem (EPSG:nnnnn)" whole; the window is 333 wide.
    CB_Eingabe->setGeometry(110, zusatzY, 213, 24);
    CB_Eingabe->setToolTip(QStringLiteral("System, in dem die Koordinaten eingegeben werden"));
    LB_Eingabe->setBuddy(CB_Eingabe);
    // Below the grid's button, so the whole narrow window's width.
    LB_Umrechnung = ValueLabel(this, "LB_Umrechnung", QString(), 12, zusatzY + 27, 313,
                               Qt::AlignLeft | Qt::AlignTop);
    LB_Umrechnung->resize(313, DesignHeight + EingabeZusatz - 1 - LB_Umrechnung->y());
    LB_Umrechnung->setWordWrap(true);
    SetColour(LB_Umrechnung, navy);
    for (QWidget* w : {static_cast<QWidget*>(LB_Eingabe), static_cast<QWidget*>(CB_Eingabe),
                       static_cast<QWidget*>(LB_Umrechnung)})
        w->hide();

    // Result grid and its button.
    Btn_GridShow = new QPushButton(QStringLiteral(">>"), this);
    Btn_GridShow->setObjectName(QStringLiteral("Btn_GridShow"));
    // Enter on the focused button presses it, as a click would; elsewhere it starts the query.
    Btn_GridShow->setAutoDefault(true);
    StringGrid1 = new TResultGrid(this);
    inZwischenablagekopieren1 = new QAction(QStringLiteral("in Zwischenablage kopieren"), StringGrid1);
    inZwischenablagekopieren1->setObjectName(QStringLiteral("inZwischenablagekopieren1"));
    StringGrid1->addAction(inZwischenablagekopieren1);
    connect(StringGrid1, &TResultGrid::CopyKey, inZwischenablagekopieren1, &QAction::trigger);
    StringGrid1->setContextMenuPolicy(Qt::ActionsContextMenu);

    // Handlers never let an error cross Qt's own frames: it is reported right here.
    auto guard = [this](void (TForm1::*h)()) {
        return [this, h] { Guarded([&] { (this->*h)(); }); };
    };
    connect(SB_Profil, &QToolButton::clicked, this, guard(&TForm1::SB_ProfilClick));
    connect(SB_Optionen, &QToolButton::clicked, this, guard(&TForm1::SB_OptionenClick));
    connect(SpeedButton3, &QToolButton::clicked, this, guard(&TForm1::ExitBtnClick));
    connect(SpeedButton1, &QToolButton::clicked, this, guard(&TForm1::AboutClick));
    connect(StartBtn, &QPushButton::clicked, this, guard(&TForm1::StartBtnClick));
    connect(Btn_GridShow, &QPushButton::clicked, this, guard(&TForm1::Btn_GridShowClick));
    connect(StringGrid1, &TResultGrid::DblClick, this, guard(&TForm1::StringGrid1DblClick));
    connect(CB_Eingabe, &QComboBox::currentIndexChanged, this, [this] {
        Guarded([this] {
            ShowEingabeFelder();
            // The user's choice (a restored one sets no signal) goes into the settings at once.
            if (kachelSystem_ && !einstellungenGesperrt_) SetFensterEingabe(Einstellungen, EingabeName());
        });
    });
    connect(inZwischenablagekopieren1, &QAction::triggered, this,
            guard(&TForm1::inZwischenablagekopieren1Click));
    ProfilKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_P), this);
    connect(ProfilKey, &QShortcut::activated, this, guard(&TForm1::SB_ProfilClick));
    OptionenKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_O), this);
    InfoKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    EndeKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_E), this);
    connect(OptionenKey, &QShortcut::activated, this, guard(&TForm1::SB_OptionenClick));
    connect(InfoKey, &QShortcut::activated, this, guard(&TForm1::AboutClick));
    connect(EndeKey, &QShortcut::activated, this, guard(&TForm1::ExitBtnClick));

    // The input first, then the top bar's buttons, then the grid's button and the grid.
    // Hidden fields are passed over, so the metre and the degree fields share one order.
    setTabOrder(PBN_X, PBN_Y);
    setTabOrder(PBN_Y, ED_Breite);
    setTabOrder(ED_Breite, ED_Laenge);
    setTabOrder(ED_Laenge, StartBtn);
    setTabOrder(StartBtn, CB_Eingabe);
    setTabOrder(CB_Eingabe, SB_Profil);
    setTabOrder(SB_Profil, SB_Optionen);
    setTabOrder(SB_Optionen, SpeedButton1);
    setTabOrder(SpeedButton1, SpeedButton3);
    setTabOrder(SpeedButton3, Btn_GridShow);
    setTabOrder(Btn_GridShow, StringGrid1);
    SetWindowWidth(DesignWidth);
    ShowBusyIcon(0);
    SetMainWindow(this);
    FormCreate();
}

TForm1::~TForm1() {
    if (MainWindow() == this) SetMainWindow(nullptr);
}

void TForm1::FormCreate() {
    // A portable copy names its file after itself, as it always did.
    const std::string exe = QCoreApplication::applicationFilePath().toStdString();
    const TOrte orte = FindProgrammOrte(NameWithoutExt(exe) + ".KNF");
    Dateien.KonfDatei = orte.KonfDatei;
    ProgramFolder = orte.Ordner;
    IndexOrdner = orte.IndexOrdner;
    KonfOrdnerAnlegen = orte.Installiert;
    letzterEintrag_ = 0;
}

void TForm1::SetWindowWidth(int w) {
    setFixedSize(w, DesignHeight + (kachelSystem_ ? EingabeZusatz : 0));
    PlaceControls();
}

void TForm1::PlaceControls() {
    const int w = width();
    TopBar->setGeometry(0, 0, w, 34);
    SpeedButton1->setGeometry(w - 30, 5, 24, 24);
    SpeedButton3->setGeometry(w - 58, 5, 26, 24);
    SB_Optionen->setGeometry(w - 86, 5, 26, 24);
    SB_Profil->setGeometry(w - 86 - ProfilBreite, 5, ProfilBreite - 4, 24);
    // The grid's button stays at the right edge of the input area however wide the window is.
    const int left = GridLeft + zusatz_;
    Btn_GridShow->setGeometry(left - 27 - 2, GridTop + (GridHeight - 318) / 2, 27, 318);
    StringGrid1->setGeometry(left, GridTop, GridWidth, GridHeight);
}

void TForm1::FitDateiLabel() {
    const QFontMetrics fm(LB_Datei->font());
    int name = 0;
    for (int i = 1; i <= Dateien.Eintraege(); ++i)
        name = std::max(name, fm.horizontalAdvance(U(FileNamePart(Dateien.Datei[static_cast<size_t>(i)]))));
    const int ohne = width() - zusatz_;
    const int neu = std::clamp(name - (ohne - 155 - ProfilBreite), 0, MaxZusatz);
    if (neu != zusatz_) {
        zusatz_ = neu;
        SetWindowWidth(ohne + zusatz_);
    }
    LB_Datei->resize(width() - 155 - ProfilBreite, LB_Datei->height());
}

void TForm1::ShowDateiLabel(const std::string& text, const std::string& voll, const std::string& notes) {
    LB_Datei->setText(U(text));
    const std::string pfad = text == voll ? std::string() : voll;
    LB_Datei->setToolTip(U(notes.empty() ? pfad : pfad.empty() ? notes : pfad + "\n" + notes));
    SetColour(LB_Datei, notes.empty() ? QColor(0x00, 0x00, 0x80) : QColor(0x80, 0x00, 0x00));
}

void TForm1::ShowFileRow(int k, const std::string& name, const std::string& pfad, const std::string& hinweis,
                         bool kachel) {
    QLabel* l = LB_DateiN[static_cast<size_t>(k)];
    const TLabelMeasure measure(l->font());
    const int breite = l->contentsRect().width();
    // The tiles of one folder share the start of their names and differ in the km numbers
    // before the end: a name too wide keeps as much of its end as fits.
    l->setText(U(kachel ? NameEnde(name, measure, breite) : ShortenPath(name, measure, breite)));
    l->setToolTip(U(hinweis.empty() ? pfad : pfad + "\n" + hinweis));
    // A file that answers with a note stands out; an empty palette inherits the window's again.
    if (hinweis.empty())
        l->setPalette(QPalette());
    else
        SetColour(l, QColor(0x80, 0x00, 0x00));
}

void TForm1::ShowBusyIcon(int step) {
    busyStep_ = step;
    setWindowIcon(QIcon(BusyFrame(step)));
}

void TForm1::ResetLabels() {
    indexNotes_.clear();
    ShowDateiLabel(TextUnbekannt, TextUnbekannt);
    for (int k = 0; k < 4; ++k) {
        LB_DateiN[k]->setText(QString::fromLatin1(TextKeinName));
        LB_DateiN[k]->setToolTip(QString());
        LB_DateiN[k]->setPalette(QPalette());
        LB_gelesen[k]->setText(QStringLiteral("0"));
        LB_gefiltert[k]->setText(QStringLiteral("0"));
    }
    LB_nextPointR->setText(QString::fromLatin1(TextKeinWert));
    LB_nextPointZ->setText(QString::fromLatin1(TextKeinWert));
    LB_ExtrapolnPoints->setText(QString::fromLatin1(TextKeineAnzahl));
    LB_ExtrapolPointZ->setText(QString::fromLatin1(TextKeinWert));
}

void TForm1::ClearGridData() {
    for (int r = 1; r < StringGrid1->RowCount(); ++r)
        for (int c = 1; c < StringGrid1->ColCount(); ++c) StringGrid1->SetCell(c, r, std::string());
}

void TForm1::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!Activated) {
        Activated = true;
        Guarded([this] { FormActivate(); });
        FocusFirstField();
    }
}

void TForm1::FormActivate() {
    GridShown = false;
    abfrage_ = std::make_unique<THoehenAbfrage>();

    StringGrid1->SetUp();
    StringGrid1DblClick();  // the default widths, before the texts are centred in them
    static const char* heads[5] = {"Nr.", "X", "Y", "Z", "R"};
    for (int c = 0; c < 5; ++c) {
        StringGrid1->SetCell(c, 0, heads[c]);
        CenterCell(*StringGrid1, c, 0);
    }
    for (int r = 1; r <= 20; ++r) {
        StringGrid1->SetCell(0, r, std::to_string(r));
        CenterCell(*StringGrid1, 0, r);
    }

    // A file that cannot be read leaves the initial values; the window still comes up whole
    // and the report follows once it is set up.
    std::exception_ptr ladeFehler;
    TKonfGelesen gelesen;
    try {
        gelesen = KonfLoad(Dateien.KonfDatei, ProgramFolder, Settings, Dateien);
        ApplyGridWidths(gelesen, Settings, GitterZugriffFor(*StringGrid1));
    } catch (const std::exception&) {
        ladeFehler = std::current_exception();
    }
    konfGesperrt_ = ladeFehler || gelesen.ZuVieleEintraege;
    // The settings file by the same rule: unreadable is reported and never written.
    std::exception_ptr einstellungenFehler;
    try {
        Einstellungen.Load(EinstellungenFileFor(Dateien.KonfDatei));
    } catch (const std::exception&) {
        einstellungenFehler = std::current_exception();
    }
    einstellungenGesperrt_ = static_cast<bool>(einstellungenFehler);
    QStringList hinweise;
    if (!einstellungenFehler) {
        for (const std::string& m : Einstellungen.Meldungen()) hinweise << U(m);
        std::string meldung;
        ReadKachelSystem(Einstellungen, &meldung);
        if (!meldung.empty()) hinweise << U(meldung);
        meldung.clear();
        std::vector<std::string> ordnerMeldungen;
        ReadKachelWerte(Einstellungen, Dateien, &meldung, &ordnerMeldungen);
        if (!meldung.empty()) hinweise << U(meldung);
        for (const std::string& m : ordnerMeldungen) hinweise << U(m);
    }
    Dateien.Ordner.IndexOrdner = IndexOrdner;

    PBN_X->SetValue(0.0);
    PBN_Y->SetValue(0.0);
    if (!einstellungenFehler) {
        UpdateEingabe();
        SetEingabe(ReadFensterEingabe(Einstellungen));
    }
    LB_Fang->setText(FangText(Settings.Fangbreite, QLocale()));

    StringGrid1->setVisible(false);
    Btn_GridShow->setText(QStringLiteral(">>"));
    SetWindowWidth(width() - (StringGrid1->width() + 2));
    FitDateiLabel();

    // Reported once the window is on the screen, so the box stands over it.
    if (ladeFehler) {
        QTimer::singleShot(0, this, [ladeFehler] { Guarded([&] { std::rethrow_exception(ladeFehler); }); });
    } else if (gelesen.ZuVieleEintraege) {
        const QString text =
            QStringLiteral("Die Konfigurationsdatei enthält %1 Dateieinträge; nur die ersten %2 werden "
                           "verwendet. Änderungen werden nicht in diese Datei gespeichert:\n%3")
                .arg(gelesen.Eintraege)
                .arg(MaxDateien)
                .arg(U(Dateien.KonfDatei));
        QTimer::singleShot(0, this, [text] {
            Platform().MessageBox(MainWindow(), QString::fromUtf8(ApplicationTitle), text, TMsgIcon::Info,
                                  TMsgButtons::Ok);
        });
    }
    if (einstellungenFehler)
        QTimer::singleShot(0, this, [einstellungenFehler] { Guarded([&] { std::rethrow_exception(einstellungenFehler); }); });
    if (!hinweise.isEmpty()) {
        const QString text = hinweise.join(QLatin1Char('\n'));
        QTimer::singleShot(0, this, [text] {
            Platform().MessageBox(MainWindow(), QString::fromUtf8(ApplicationTitle), text, TMsgIcon::Info,
                                  TMsgButtons::Ok);
        });
    }
}

void TForm1::FormClose() {
    bool berichtet = false;  // one report at most, however many files fail
    // A configuration that was not read whole is the user's, not ours to replace.
    if (!konfGesperrt_) {
        try {
            TakeGridWidths(Settings, GitterZugriffFor(*StringGrid1));
            // First start from the menu: the folders are made so the settings are kept.
            if (KonfOrdnerAnlegen) TSichereDatei::MakeFolders(ProgramFolder + "Daten");
            KonfSave(Dateien.KonfDatei, Settings, Dateien, KonfOrdnerAnlegen);
        } catch (const EZielAbgelehnt&) {
            // The file cannot be created (refused, write-protected, no folder): nothing saved.
        } catch (const std::exception& e) {
            ShowErrorReport(e);
            berichtet = true;
        }
    }
    // A user who never set anything gets no settings file.
    if (!einstellungenGesperrt_ && (Einstellungen.Vorhanden() || !Einstellungen.Leer())) {
        try {
            Einstellungen.Save(EinstellungenFileFor(Dateien.KonfDatei), ProtectedFiles(Dateien), KonfOrdnerAnlegen);
        } catch (const EZielAbgelehnt&) {
            // As for the configuration: a file that cannot be created is passed over.
        } catch (const std::exception& e) {
            if (!berichtet) ShowErrorReport(e);
        }
    }
    abfrage_.reset();
}

void TForm1::closeEvent(QCloseEvent* e) {
    // Closing is never refused: the program can always be ended, a profile's run with it.
    if (profil_) profil_->Beenden();
    if (Activated && abfrage_) FormClose();
    e->accept();
}

void TForm1::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    // Enter on a focused top-bar button presses it, as on the grid's button.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        for (QToolButton* b : {SB_Profil, SB_Optionen, SpeedButton1, SpeedButton3})
            if (focusWidget() == b) {
                e->accept();
                b->click();
                return;
            }
    }
    QDialog::keyPressEvent(e);
}

void TForm1::ExitBtnClick() { close(); }

void TForm1::AboutClick() {
    TAboutBox box(this);
    box.exec();
}

void TForm1::SB_OptionenClick() {
    TOptionForm dlg(this);
    dlg.PBN_Fangbreite->SetValue(Settings.Fangbreite);
    dlg.PBN_Potenz1->SetValue(Settings.Potenz);
    dlg.ShowSystem(ReadKachelSystem(Einstellungen));
    dlg.ShowNoData(Dateien.NoData);
    // The catalogue comes back in any case; the settings only with OK.
    if (dlg.MyShowModal(Dateien) == QDialog::Accepted) {
        Settings.Fangbreite = dlg.PBN_Fangbreite->Value();
        Settings.Potenz = dlg.PBN_Potenz1->Value();
        SetKachelSystem(Einstellungen, dlg.System());
        SetNoData(Einstellungen, dlg.NoData());
        // Every later run reads the catalogue's own copy of them.
        Dateien.System = dlg.System();
        Dateien.NoData = dlg.NoData();
        LB_Fang->setText(FangText(Settings.Fangbreite, QLocale()));
        const std::string gewaehlt = EingabeName();
        UpdateEingabe();
        SetEingabe(gewaehlt);
    }
    FitDateiLabel();
}

void TForm1::SB_ProfilClick() {
    if (!abfrage_) return;  // not activated yet
    if (!profil_) {
        profil_ = new TProfilForm(this);
        // Each run takes the catalogue and the settings as they are then.
        profil_->Quelle = [this] {
            TProfilQuelle q;
            q.Dateien = Dateien;
            q.Fangbreite = Settings.Fangbreite;
            q.Potenz = Settings.Potenz;
            q.Rasterabstand = Settings.Rasterabstand;
            q.KachelSystem = kachelSystem_;
            q.Eingabe = EingabeName();
            return q;
        };
    }
    profil_->Oeffnen();
}

void TForm1::StartBtnClick() {
    if (!abfrage_) return;  // not activated yet
    // The query runs on the coordinate as shown: a text that does not convert stops it.
    for (TPBNumEdit* f : {PBN_X, PBN_Y}) {
        if (!f->Commit()) {
            f->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    const std::optional<std::pair<double, double>> punkt = ConvertedPoint();
    if (!punkt) return;
    ClearGridData();
    FitDateiLabel();
    TAbfrageParameter p;
    p.X = punkt->first;
    p.Y = punkt->second;
    p.Fangbreite = Settings.Fangbreite;
    p.Potenz = Settings.Potenz;
    const TLabelMeasure measure(LB_Datei->font());
    p.LabelFont = &measure;
    p.LabelBreite = LB_Datei->width();

    ResetLabels();
    repaint();
    letzterEintrag_ = 0;
    busyStep_ = 0;

    // Cursor and icon come back also when a file error ends the run.
    auto restore = OnExit([this] {
        ShowBusyIcon(0);
        Platform().SetBusyCursor(false);
    });
    Platform().SetBusyCursor(true);
    // Index messages stand with the file label, except those a file row shows already; a
    // note per query, never a box to close.
    auto takeNotes = [this](const THoehenAntwort& r) {
        indexNotes_.clear();
        for (const std::string& m : r.Meldungen) {
            const bool inZeile = std::any_of(r.Dateien.begin(), r.Dateien.end(), [&](const TDateiZeile& z) {
                return z.Nr >= 1 && z.Nr <= 4 && z.Hinweis == m;
            });
            if (!inZeile) indexNotes_ += (indexNotes_.empty() ? "" : "\n") + m;
        }
    };
    Observer obs(*this);
    try {
        abfrage_->Run(Dateien, p, &obs);
    } catch (...) {
        letzterEintrag_ = abfrage_->Ergebnis().LetzterEintrag;
        takeNotes(abfrage_->Ergebnis());
        if (!indexNotes_.empty()) ShowDateiLabel(LB_Datei->text().toStdString(), abfrage_->Ergebnis().LB_DateiVoll, indexNotes_);
        throw;
    }
    const THoehenAntwort& r = abfrage_->Ergebnis();
    letzterEintrag_ = r.LetzterEintrag;
    takeNotes(r);
    ShowDateiLabel(abfrage_->DateiLabel(), r.LB_DateiVoll, indexNotes_);
    if (r.Berechnet) {
        const TFensterTexte t = BuildFensterTexte(r, UserDecimalSeparator());
        LB_nextPointR->setText(U(t.LB_nextPointR));
        LB_nextPointZ->setText(U(t.LB_nextPointZ));
        LB_ExtrapolnPoints->setText(U(t.LB_ExtrapolnPoints));
        LB_ExtrapolPointZ->setText(U(t.LB_ExtrapolPointZ));
        for (int row = 1; row <= RanglisteGroesse; ++row)
            for (int c = 1; c <= 4; ++c)
                StringGrid1->SetCell(c, row, t.Grid[static_cast<size_t>(row - 1)][static_cast<size_t>(c - 1)]);
    }
    FocusFirstField();
}

void TForm1::Btn_GridShowClick() {
    GridShown = !StringGrid1->isVisible();
    StringGrid1->setVisible(GridShown);
    if (GridShown) {
        Btn_GridShow->setText(QStringLiteral("<<"));
        SetWindowWidth(width() + StringGrid1->width());
    } else {
        Btn_GridShow->setText(QStringLiteral(">>"));
        SetWindowWidth(width() - StringGrid1->width());
    }
    FitDateiLabel();
    const TLabelMeasure measure(LB_Datei->font());
    const bool gewaehlt = letzterEintrag_ >= 1 && letzterEintrag_ <= Dateien.Eintraege();
    // A folder entry's label names the tile read last, not the folder.
    const std::string letzte = abfrage_ ? abfrage_->Ergebnis().LetzteDatei : std::string();
    const std::string voll = !gewaehlt          ? std::string(TextUnbekannt)
                             : !letzte.empty() ? letzte
                                               : Dateien.Datei[static_cast<size_t>(letzterEintrag_)];
    ShowDateiLabel(FileLabelText(Dateien, letzterEintrag_, letzte, &measure, LB_Datei->width()), voll, indexNotes_);
    FocusFirstField();
}

void TForm1::StringGrid1DblClick() {
    int sum = 0;
    for (int c = 0; c < 4; ++c) {
        StringGrid1->SetColWidth(c, DefaultWidths[c]);
        sum += DefaultWidths[c];
    }
    StringGrid1->SetColWidth(4, StringGrid1->width() - sum - 9);
}

void TForm1::inZwischenablagekopieren1Click() {
    const TResultGrid::TBlock b = StringGrid1->Selection();
    Platform().SetClipboardText(GridBlockText(*StringGrid1, b.Left, b.Top, b.Right, b.Bottom));
}

std::string TForm1::EingabeName() const {
    if (!kachelSystem_) return {};
    return CB_Eingabe->currentData().toString().toStdString();
}

bool TForm1::SetEingabe(const std::string& name) {
    const int i = name.empty() ? -1 : CB_Eingabe->findData(U(name));
    if (CB_Eingabe->count() > 0) {
        const QSignalBlocker still(CB_Eingabe);
        CB_Eingabe->setCurrentIndex(std::max(i, 0));
    }
    ShowEingabeFelder();
    return i >= 0;
}

void TForm1::UpdateEingabe() {
    const std::optional<int> system = ReadKachelSystem(Einstellungen);
    if (system != kachelSystem_) {
        kachelSystem_ = system;
        // A converter made for other tiles must not answer for these.
        umrechnung_.reset();
        FillEingabeSysteme(CB_Eingabe, system);
    }
    for (QWidget* w : {static_cast<QWidget*>(LB_Eingabe), static_cast<QWidget*>(CB_Eingabe),
                       static_cast<QWidget*>(LB_Umrechnung)})
        w->setVisible(kachelSystem_.has_value());
    ShowEingabeFelder();
    SetWindowWidth(width());
}

void TForm1::ShowEingabeFelder() {
    const std::string name = EingabeName();
    const bool grad = !name.empty() && ParseBezugssystem(name).Geographisch;
    const bool fokusDrin = focusWidget() && (GroupBox1->isAncestorOf(focusWidget()));
    for (QWidget* w : meterTexte_) w->setVisible(!grad);
    for (QWidget* w : gradTexte_) w->setVisible(grad);
    PBN_X->setVisible(!grad);
    PBN_Y->setVisible(!grad);
    ED_Breite->setVisible(grad);
    ED_Laenge->setVisible(grad);
    LB_Umrechnung->clear();
    LB_Umrechnung->setToolTip(QString());
    if (fokusDrin) FocusFirstField();
}

void TForm1::FocusFirstField() {
    QWidget* f = ED_Breite->isVisibleTo(this) ? static_cast<QWidget*>(ED_Breite) : PBN_X;
    if (f->isEnabled() && f->isVisibleTo(this)) f->setFocus();
}

std::optional<std::pair<double, double>> TForm1::ConvertedPoint() {
    const std::string name = EingabeName();
    if (name.empty()) return std::make_pair(PBN_X->Value(), PBN_Y->Value());
    const TBezugssystem ein = ParseBezugssystem(name);
    QLineEdit* falsch = nullptr;
    try {
        std::string a, b;
        if (ein.Geographisch) {
            // Read here first, so a bad field is named and gets the focus.
            falsch = ED_Breite;
            ReadWinkel(ED_Breite->text().trimmed().toStdString(), TAchse::Breite);
            falsch = ED_Laenge;
            ReadWinkel(ED_Laenge->text().trimmed().toStdString(), TAchse::Laenge);
            falsch = nullptr;
            a = ED_Breite->text().trimmed().toStdString();
            b = ED_Laenge->text().trimmed().toStdString();
        } else {
            // The values as shown, with "." whatever the locale (a zone prefix stays in front).
            a = QString::number(PBN_X->Value(), 'f', 2).toStdString();
            b = QString::number(PBN_Y->Value(), 'f', 2).toStdString();
        }
        if (!umrechnung_) umrechnung_ = std::make_unique<TUmrechnung>(ParseBezugssystem(SystemText(*kachelSystem_)));
        TSystemWahl wahl;
        wahl.System = ein;
        const TUmrechnung::TErgebnis r = umrechnung_->ConvertText(wahl, a, b);
        const bool geo = umrechnung_->CheckSystem(umrechnung_->Kacheln()).Geographisch;
        // Without digit grouping, as the number fields show coordinates.
        QLocale loc;
        loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
        const QString punkt = QStringLiteral("Abgefragt: %1 / %2 %3")
                                  .arg(loc.toString(r.Punkt.X, 'f', geo ? 8 : 2),
                                       loc.toString(r.Punkt.Y, 'f', geo ? 8 : 2),
                                       geo ? QStringLiteral("[°]") : QStringLiteral("[m]"));
        const QString verfahren = r.Punkt.Verfahren ? U(VerfahrenText(*r.Punkt.Verfahren))
                                                    : QStringLiteral("ohne Umrechnung");
        // PROJ's names are long: the text wraps, and the name is cut where it would need more
        // lines than the label has, so grid and accuracy stay readable; the hint holds it whole.
        const QFontMetrics fm(LB_Umrechnung->font());
        const QRect rahmen(0, 0, LB_Umrechnung->width(), 10000);
        auto passt = [&](const QString& t) {
            return fm.boundingRect(rahmen, Qt::TextWordWrap, t).height() <= LB_Umrechnung->height();
        };
        QString text = punkt + QLatin1Char('\n') + verfahren;
        if (r.Punkt.Verfahren && !passt(text)) {
            const QString name = U(r.Punkt.Verfahren->Name);
            const qsizetype at = verfahren.indexOf(name);
            if (at >= 0) {
                const QString vorn = verfahren.left(at), hinten = verfahren.mid(at + name.size());
                for (qsizetype n = name.size() - 1; n > 0 && !passt(text); --n)
                    text = punkt + QLatin1Char('\n') + vorn + name.left(n).trimmed() + QStringLiteral("…") + hinten;
            }
        }
        LB_Umrechnung->setText(text);
        LB_Umrechnung->setToolTip(verfahren);
        return std::make_pair(r.Punkt.X, r.Punkt.Y);
    } catch (const EKoordFehler& e) {
        LB_Umrechnung->clear();
        LB_Umrechnung->setToolTip(QString());
        Platform().MessageBox(this, QStringLiteral("Fehler"), QString::fromUtf8(e.what()), TMsgIcon::Error,
                              TMsgButtons::Ok);
        QWidget* f = falsch ? static_cast<QWidget*>(falsch) : nullptr;
        if (!f) f = ein.Geographisch ? static_cast<QWidget*>(ED_Breite) : PBN_X;
        f->setFocus(Qt::OtherFocusReason);
        return std::nullopt;
    }
}

}  // namespace tervalo
