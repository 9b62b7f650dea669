#include "ProfilFrm.h"

#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "formats/PunktAusgabe.h"
#include "koord/Bezugssystem.h"
#include "koord/Umrechnung.h"
#include "query/Batch.h"
#include "tools/Eingabezahl.h"
#include "tools/ScopeGuard.h"
#include "ui/EingabeSysteme.h"
#include "ui/ErrorReport.h"
#include "ui/Platform.h"
#include "ui/ResultGrid.h"

#include <QAbstractTableModel>
#include <QBuffer>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QSplitter>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>

namespace tervalo {

namespace {

QString U(const std::string& s) { return QString::fromStdString(s); }

// The columns of the written forms, also the table's.
QStringList Spalten() { return U(ProfilKopfText()).trimmed().split(u'\t'); }

}  // namespace

// The samples' table over the window's records: a million rows without a million items.
class TProbenModell : public QAbstractTableModel {
public:
    TProbenModell(const std::vector<TProfilWert>& werte, QObject* parent)
        : QAbstractTableModel(parent), werte_(werte), koepfe_(Spalten()) {}

    int rowCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : static_cast<int>(n_); }
    int columnCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : static_cast<int>(koepfe_.size()); }
    QVariant data(const QModelIndex& i, int role) const override {
        if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole || !i.isValid()) return {};
        return Zeile(static_cast<std::size_t>(i.row())).value(i.column());
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole) return {};
        if (o == Qt::Horizontal) return koepfe_.value(s);
        return s + 1;
    }
    // The cells of a row: the command line's text line, cut at its TABs.
    QStringList Zeile(std::size_t r) const {
        if (r >= n_) return {};
        const TProfilWert& w = werte_[r];
        return U(ProbeText(w.Probe(), w.Antwort(), UserDecimalSeparator())).chopped(1).split(u'\t');
    }
    void Wachsen() {
        if (werte_.size() <= n_) return;
        beginInsertRows({}, static_cast<int>(n_), static_cast<int>(werte_.size()) - 1);
        n_ = werte_.size();
        endInsertRows();
    }
    void Leeren() {
        beginResetModel();
        n_ = 0;
        endResetModel();
    }

private:
    const std::vector<TProfilWert>& werte_;
    std::size_t n_ = 0;
    QStringList koepfe_;
};

struct TProfilForm::TLauf {
    std::atomic<bool> Abbrechen{false};
};

TProfilForm::TProfilForm(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      summe_(std::make_unique<TProfilSumme>(0.0)) {
    setObjectName(QStringLiteral("ProfilForm"));
    setWindowTitle(QStringLiteral("Höhenprofil"));
    setModal(false);
    setSizeGripEnabled(true);
    resize(1040, 720);

    // Left: what the line is and how it is sampled.
    auto* eckenBox = new QGroupBox(QStringLiteral(" Eckpunkte der Linie "), this);
    TB_Ecken = new QTableWidget(1, 2, eckenBox);
    TB_Ecken->setObjectName(QStringLiteral("TB_Ecken"));
    TB_Ecken->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    TB_Ecken->verticalHeader()->setDefaultSectionSize(22);
    TB_Ecken->setToolTip(QStringLiteral("Eckpunkte eintippen oder Zeilen \"X Y\" aus der Zwischenablage einfügen (Strg+V)"));
    Btn_Einfuegen = new QPushButton(QStringLiteral("Ein&fügen"), eckenBox);
    Btn_Einfuegen->setToolTip(QStringLiteral("Zeilen \"X Y\" aus der Zwischenablage als Eckpunkte einfügen"));
    Btn_Leeren = new QPushButton(QStringLiteral("&Leeren"), eckenBox);
    Btn_Leeren->setToolTip(QStringLiteral("Alle Eckpunkte entfernen"));
    auto* eckenLayout = new QVBoxLayout(eckenBox);
    eckenLayout->addWidget(TB_Ecken);
    auto* eckenKnoepfe = new QHBoxLayout;
    eckenKnoepfe->addWidget(Btn_Einfuegen);
    eckenKnoepfe->addWidget(Btn_Leeren);
    eckenLayout->addLayout(eckenKnoepfe);

    auto* abtBox = new QGroupBox(QStringLiteral(" Abtastung "), this);
    RB_Schritt = new QRadioButton(QStringLiteral("&Schritt:"), abtBox);
    RB_Schritt->setChecked(true);
    PBN_Schritt = new TPBNumEdit(abtBox);
    PBN_Schritt->setObjectName(QStringLiteral("PBN_Schritt"));
    PBN_Schritt->SetDecimals(2);
    PBN_Schritt->SetMaxLength(12);
    PBN_Schritt->setToolTip(QStringLiteral("Abstand der Proben entlang der Linie; dazu jeder Eckpunkt und das Ende"));
    RB_Anzahl = new QRadioButton(QStringLiteral("An&zahl:"), abtBox);
    SE_Anzahl = new QSpinBox(abtBox);
    SE_Anzahl->setObjectName(QStringLiteral("SE_Anzahl"));
    SE_Anzahl->setRange(2, static_cast<int>(ProfilMaxProben));
    SE_Anzahl->setValue(101);
    SE_Anzahl->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SE_Anzahl->setToolTip(QStringLiteral("Genau so viele Proben in gleichen Abständen, Anfang und Ende eingeschlossen"));
    LB_Eingabe = new QLabel(QStringLiteral("&Eingabesystem:"), abtBox);
    CB_Eingabe = new QComboBox(abtBox);
    CB_Eingabe->setObjectName(QStringLiteral("CB_Eingabe"));
    CB_Eingabe->setToolTip(QStringLiteral("System, in dem die Eckpunkte eingegeben werden"));
    LB_Eingabe->setBuddy(CB_Eingabe);
    auto* abtLayout = new QGridLayout(abtBox);
    abtLayout->addWidget(RB_Schritt, 0, 0);
    abtLayout->addWidget(PBN_Schritt, 0, 1);
    abtLayout->addWidget(new QLabel(QStringLiteral("[m]"), abtBox), 0, 2);
    abtLayout->addWidget(RB_Anzahl, 1, 0);
    abtLayout->addWidget(SE_Anzahl, 1, 1);
    abtLayout->addWidget(new QLabel(QStringLiteral("Proben"), abtBox), 1, 2);
    abtLayout->addWidget(LB_Eingabe, 2, 0);
    abtLayout->addWidget(CB_Eingabe, 3, 0, 1, 3);

    Btn_Berechnen = new QPushButton(QStringLiteral("&Berechnen"), this);
    Btn_Berechnen->setObjectName(QStringLiteral("Btn_Berechnen"));
    Btn_Berechnen->setToolTip(QStringLiteral("Höhen entlang der Linie ermitteln"));
    Btn_Berechnen->setMinimumHeight(32);
    Btn_Berechnen->setDefault(true);
    PB_Fortschritt = new QProgressBar(this);
    PB_Fortschritt->setRange(0, 1);
    PB_Fortschritt->setValue(0);
    Btn_Abbrechen = new QPushButton(QStringLiteral("&Abbrechen"), this);
    Btn_Abbrechen->setEnabled(false);
    Btn_Abbrechen->setAutoDefault(false);
    LB_Status = new QLabel(this);
    LB_Status->setObjectName(QStringLiteral("LB_Status"));
    LB_Status->setWordWrap(true);
    LB_Zusammenfassung = new QLabel(this);
    LB_Zusammenfassung->setObjectName(QStringLiteral("LB_Zusammenfassung"));
    LB_Zusammenfassung->setTextFormat(Qt::PlainText);
    LB_Zusammenfassung->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LB_Zusammenfassung->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* links = new QVBoxLayout;
    links->addWidget(eckenBox, 1);
    links->addWidget(abtBox);
    links->addWidget(Btn_Berechnen);
    auto* lauf = new QHBoxLayout;
    lauf->addWidget(PB_Fortschritt, 1);
    lauf->addWidget(Btn_Abbrechen);
    links->addLayout(lauf);
    links->addWidget(LB_Status);
    links->addWidget(LB_Zusammenfassung);

    // Right: the plot over the table of the samples.
    Plot = new TProfilPlot(this);
    LB_Ablesung = new QLabel(this);
    LB_Ablesung->setObjectName(QStringLiteral("LB_Ablesung"));
    LB_Ablesung->setTextFormat(Qt::PlainText);
    LB_Ablesung->setMinimumHeight(LB_Ablesung->fontMetrics().height() + 4);
    TV_Proben = new QTableView(this);
    TV_Proben->setObjectName(QStringLiteral("TV_Proben"));
    modell_ = new TProbenModell(werte_, this);
    TV_Proben->setModel(modell_);
    TV_Proben->setSelectionMode(QAbstractItemView::ContiguousSelection);
    TV_Proben->setWordWrap(false);
    TV_Proben->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TV_Proben->verticalHeader()->setDefaultSectionSize(TV_Proben->fontMetrics().height() + 4);
    TV_Proben->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    TV_Proben->installEventFilter(this);
    AC_Kopieren = new QAction(QStringLiteral("in Zwischenablage kopieren"), TV_Proben);
    TV_Proben->addAction(AC_Kopieren);
    TV_Proben->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* oben = new QWidget(this);
    auto* obenLayout = new QVBoxLayout(oben);
    obenLayout->setContentsMargins(0, 0, 0, 0);
    obenLayout->addWidget(Plot, 1);
    obenLayout->addWidget(LB_Ablesung);
    auto* teiler = new QSplitter(Qt::Vertical, this);
    teiler->addWidget(oben);
    teiler->addWidget(TV_Proben);
    teiler->setStretchFactor(0, 3);
    teiler->setStretchFactor(1, 2);
    teiler->setChildrenCollapsible(false);

    Btn_Speichern = new QPushButton(QStringLiteral("S&peichern…"), this);
    Btn_Speichern->setObjectName(QStringLiteral("Btn_Speichern"));
    Btn_Speichern->setToolTip(QStringLiteral("Proben als CSV-Datei, Profil als PNG- oder SVG-Bild speichern"));
    Btn_Speichern->setEnabled(false);
    Btn_Speichern->setAutoDefault(false);
    Btn_Schliessen = new QPushButton(QStringLiteral("Schließen"), this);
    Btn_Schliessen->setAutoDefault(false);
    auto* knoepfe = new QHBoxLayout;
    knoepfe->addStretch(1);
    knoepfe->addWidget(Btn_Speichern);
    knoepfe->addWidget(Btn_Schliessen);

    auto* rechts = new QVBoxLayout;
    rechts->addWidget(teiler, 1);
    rechts->addLayout(knoepfe);
    auto* ganz = new QHBoxLayout(this);
    auto* linksW = new QWidget(this);
    linksW->setLayout(links);
    linksW->setFixedWidth(300);
    links->setContentsMargins(0, 0, 0, 0);
    ganz->addWidget(linksW);
    ganz->addLayout(rechts, 1);

    auto guard = [this](void (TProfilForm::*h)()) {
        return [this, h] { Guarded([&] { (this->*h)(); }); };
    };
    connect(Btn_Berechnen, &QPushButton::clicked, this, guard(&TProfilForm::BerechnenClick));
    connect(Btn_Abbrechen, &QPushButton::clicked, this, guard(&TProfilForm::Abbrechen));
    connect(Btn_Speichern, &QPushButton::clicked, this, guard(&TProfilForm::SpeichernClick));
    connect(Btn_Schliessen, &QPushButton::clicked, this, &TProfilForm::reject);
    connect(AC_Kopieren, &QAction::triggered, this, guard(&TProfilForm::KopierenClick));
    connect(Btn_Einfuegen, &QPushButton::clicked, this,
            [this] { Guarded([&] { EinfuegenText(Platform().ClipboardText()); }); });
    connect(Btn_Leeren, &QPushButton::clicked, this, [this] {
        TB_Ecken->setRowCount(0);
        NeueLeerzeile();
    });
    connect(TB_Ecken, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* it) {
        if (it->row() == TB_Ecken->rowCount() - 1 && !it->text().trimmed().isEmpty()) NeueLeerzeile();
    });
    connect(CB_Eingabe, &QComboBox::currentIndexChanged, this, [this] { ZeigeSpaltenKoepfe(); });
    connect(RB_Schritt, &QRadioButton::toggled, this, [this](bool an) {
        PBN_Schritt->setEnabled(an);
        SE_Anzahl->setEnabled(!an);
    });
    SE_Anzahl->setEnabled(false);
    connect(Plot, &TProfilPlot::AblesungGeaendert, this, [this](const QString& t) {
        LB_Ablesung->setText(t.isEmpty() && !werte_.empty()
                                 ? QStringLiteral("Maus über das Profil bewegen: Station und Höhen")
                                 : t);
    });
    TB_Ecken->installEventFilter(this);
    ZeigeSpaltenKoepfe();
    LB_Eingabe->hide();
    CB_Eingabe->hide();
}

TProfilForm::~TProfilForm() {
    // The worker posts to this window: it ends before the window goes.
    if (lauf_) lauf_->Abbrechen = true;
    if (worker_.joinable()) worker_.join();
    // The view and the plot read the samples, which go before the child widgets do.
    TV_Proben->setModel(nullptr);
    Plot->SetProfil(nullptr, {}, 0);
}

void TProfilForm::Oeffnen() {
    if (!Running()) {
        const TProfilQuelle q = Quelle ? Quelle() : TProfilQuelle{};
        if (!geoeffnet_) PBN_Schritt->SetValue(q.Rasterabstand);
        if (!geoeffnet_ || q.KachelSystem != kachelSystem_) {
            UebernimmSysteme(q);
            const int i = CB_Eingabe->findData(U(q.Eingabe));
            CB_Eingabe->setCurrentIndex(std::max(i, 0));
        }
        geoeffnet_ = true;
    }
    show();
    raise();
    activateWindow();
}

void TProfilForm::UebernimmSysteme(const TProfilQuelle& q) {
    if (q.KachelSystem != kachelSystem_) umrechnung_.reset();  // made for other tiles
    kachelSystem_ = q.KachelSystem;
    const std::string vorher = EingabeName();
    FillEingabeSysteme(CB_Eingabe, kachelSystem_);
    const int i = CB_Eingabe->findData(U(vorher));
    CB_Eingabe->setCurrentIndex(std::max(i, 0));
    LB_Eingabe->setVisible(kachelSystem_.has_value());
    CB_Eingabe->setVisible(kachelSystem_.has_value());
    ZeigeSpaltenKoepfe();
}

std::string TProfilForm::EingabeName() const {
    if (!kachelSystem_ || CB_Eingabe->count() == 0) return {};
    return CB_Eingabe->currentData().toString().toStdString();
}

void TProfilForm::ZeigeSpaltenKoepfe() {
    const std::string name = EingabeName();
    const bool grad = !name.empty() && ParseBezugssystem(name).Geographisch;
    TB_Ecken->setHorizontalHeaderLabels(grad ? QStringList{QStringLiteral("Breite"), QStringLiteral("Länge")}
                                             : QStringList{QStringLiteral("Rechtswert"), QStringLiteral("Hochwert")});
}

void TProfilForm::NeueLeerzeile() {
    const int r = TB_Ecken->rowCount();
    if (r > 0 && !TB_Ecken->item(r - 1, 0) && !TB_Ecken->item(r - 1, 1)) return;
    TB_Ecken->insertRow(r);
}

bool TProfilForm::EinfuegenText(const QString& text) {
    std::vector<std::pair<QString, QString>> punkte;
    const QStringList zeilen = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    static const QRegularExpression ziffer(QStringLiteral("[0-9]"));
    static const QRegularExpression leer(QStringLiteral("\\s+"));
    for (qsizetype n = 0; n < zeilen.size(); ++n) {
        const QString z = zeilen[n].trimmed();
        if (z.isEmpty()) continue;
        if (punkte.empty() && !z.contains(ziffer)) continue;  // a heading
        QStringList teile = z.contains(u'\t') ? z.split(u'\t') : z.contains(u';') ? z.split(u';') : z.split(leer);
        for (QString& t : teile) t = t.trimmed();
        teile.removeAll(QString());
        if (teile.size() < 2) {
            // "51.5,7.5" and the other forms map services copy.
            try {
                const TZweiTexte zwei = SplitKoordinate(z.toStdString());
                teile = {U(zwei.A), U(zwei.B)};
            } catch (const EKoordFehler&) {
            }
        }
        if (teile.size() < 2) {
            Platform().MessageBox(this, QStringLiteral("Höhenprofil"),
                                  QStringLiteral("Zeile %1 der Zwischenablage enthält keinen Punkt \"X Y\":\n%2")
                                      .arg(n + 1)
                                      .arg(z.left(200)),
                                  TMsgIcon::Error, TMsgButtons::Ok);
            return false;
        }
        punkte.emplace_back(teile[0], teile[1]);
    }
    if (punkte.empty()) return true;
    // Before the current row, or in place of the empty row at the end.
    int r = TB_Ecken->currentRow();
    if (r < 0 || r >= TB_Ecken->rowCount()) r = std::max(0, TB_Ecken->rowCount() - 1);
    const QSignalBlocker still(TB_Ecken);
    for (const auto& [a, b] : punkte) {
        TB_Ecken->insertRow(r);
        TB_Ecken->setItem(r, 0, new QTableWidgetItem(a));
        TB_Ecken->setItem(r, 1, new QTableWidgetItem(b));
        ++r;
    }
    // Exactly one empty row stays at the end for typing.
    while (TB_Ecken->rowCount() > 1) {
        const int l = TB_Ecken->rowCount() - 1, v = l - 1;
        auto leerZeile = [this](int z) {
            for (int c = 0; c < 2; ++c)
                if (TB_Ecken->item(z, c) && !TB_Ecken->item(z, c)->text().trimmed().isEmpty()) return false;
            return true;
        };
        if (leerZeile(l) && leerZeile(v))
            TB_Ecken->removeRow(l);
        else
            break;
    }
    NeueLeerzeile();
    return true;
}

std::optional<std::vector<TXY>> TProfilForm::Ecken(const TProfilQuelle& q, bool& geographisch) {
    if (q.KachelSystem != kachelSystem_) UebernimmSysteme(q);
    const std::string name = EingabeName();
    std::vector<TXY> ecken;
    auto text = [this](int r, int c) {
        const QTableWidgetItem* it = TB_Ecken->item(r, c);
        return it ? it->text().trimmed() : QString();
    };
    auto fehler = [this](int r, int c, const QString& t) {
        Platform().MessageBox(this, QStringLiteral("Höhenprofil"), QStringLiteral("Eckpunkt in Zeile %1: %2").arg(r + 1).arg(t),
                              TMsgIcon::Error, TMsgButtons::Ok);
        TB_Ecken->setCurrentCell(r, c);
        TB_Ecken->setFocus(Qt::OtherFocusReason);
        return std::nullopt;
    };
    try {
        if (kachelSystem_ && !umrechnung_)
            umrechnung_ = std::make_unique<TUmrechnung>(ParseBezugssystem(SystemText(*kachelSystem_)));
        geographisch = umrechnung_ && umrechnung_->CheckSystem(umrechnung_->Kacheln()).Geographisch;
    } catch (const EKoordFehler& e) {
        Platform().MessageBox(this, QStringLiteral("Höhenprofil"), U(e.what()), TMsgIcon::Error, TMsgButtons::Ok);
        return std::nullopt;
    }
    TSystemWahl wahl;
    if (!name.empty()) wahl.System = ParseBezugssystem(name);
    for (int r = 0; r < TB_Ecken->rowCount(); ++r) {
        const QString a = text(r, 0), b = text(r, 1);
        if (a.isEmpty() && b.isEmpty()) continue;
        if (a.isEmpty() || b.isEmpty()) return fehler(r, a.isEmpty() ? 0 : 1, QStringLiteral("beide Koordinaten angeben."));
        if (name.empty()) {
            const std::optional<double> x = dezimal::ReadArgumentZahl(a.toStdString());
            if (!x) return fehler(r, 0, QStringLiteral("\"%1\" ist keine Zahl.").arg(a));
            const std::optional<double> y = dezimal::ReadArgumentZahl(b.toStdString());
            if (!y) return fehler(r, 1, QStringLiteral("\"%1\" ist keine Zahl.").arg(b));
            ecken.push_back({*x, *y});
            continue;
        }
        try {
            const TUmrechnung::TErgebnis e = umrechnung_->ConvertText(wahl, a.toStdString(), b.toStdString());
            ecken.push_back({e.Punkt.X, e.Punkt.Y});
        } catch (const EKoordFehler& e) {
            return fehler(r, 0, U(e.what()));
        }
    }
    return ecken;
}

void TProfilForm::SetRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{Btn_Berechnen, TB_Ecken, Btn_Einfuegen, Btn_Leeren, RB_Schritt,
                                                      RB_Anzahl, CB_Eingabe})
        w->setEnabled(!running);
    PBN_Schritt->setEnabled(!running && RB_Schritt->isChecked());
    SE_Anzahl->setEnabled(!running && RB_Anzahl->isChecked());
    Btn_Abbrechen->setEnabled(running);
    Btn_Speichern->setEnabled(!running && vollstaendig_ && !werte_.empty());
}

void TProfilForm::BerechnenClick() {
    if (Running()) return;
    if (RB_Schritt->isChecked() && !PBN_Schritt->Commit()) {
        PBN_Schritt->setFocus(Qt::OtherFocusReason);
        return;
    }
    const TProfilQuelle q = Quelle ? Quelle() : TProfilQuelle{};
    bool geo = false;
    std::optional<std::vector<TXY>> ecken = Ecken(q, geo);
    if (!ecken) return;
    const TAbtastung abt = RB_Schritt->isChecked() ? TAbtastung::MitSchritt(PBN_Schritt->Value())
                                                   : TAbtastung::MitAnzahl(static_cast<std::size_t>(SE_Anzahl->value()));

    // The previous profile goes; the run's catalogue is what its saved files must not replace.
    vollstaendig_ = false;
    werte_.clear();
    werte_.shrink_to_fit();
    modell_->Leeren();
    Plot->SetProfil(nullptr, {}, 0);
    summe_ = std::make_unique<TProfilSumme>(0.0);
    LB_Zusammenfassung->clear();
    LB_Ablesung->clear();
    LB_Status->setText(QStringLiteral("Proben werden berechnet …"));
    LB_Status->setToolTip(QString());
    PB_Fortschritt->setRange(0, 0);
    schutz_ = ProtectedFiles(q.Dateien);

    lauf_ = std::make_shared<TLauf>();
    SetRunning(true);
    worker_ = std::thread([this, lauf = lauf_, kat = q.Dateien, fang = q.Fangbreite, potenz = q.Potenz,
                           ecken = std::move(*ecken), abt, geo, halt = VorDemAntworten] {
        // Everything reaches the window through its event queue, in order.
        auto post = [this](auto fn) { QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection); };
        bool ok = false;
        std::vector<std::string> meldungen;
        QString fehler;
        try {
            const TProfilLinie linie = SampleProfile(ecken, abt, geo);
            post([this, e = linie.Ecken, l = linie.Laenge, n = linie.Proben.size()]() mutable { Begonnen(std::move(e), l, n); });
            if (halt) halt();
            TBatchAbfrage batch(kat, fang, potenz);
            batch.SetUmfang(TUmfang::NaechsterUndShepard);
            std::vector<TProfilWert> stueck;
            auto uhr = std::chrono::steady_clock::now();
            ok = AnswerProfile(
                batch, linie.Proben,
                [&](std::size_t i, const THoehenAntwort& a) {
                    stueck.push_back(TProfilWert::Aus(linie.Proben[i], a));
                    if (stueck.size() >= Stueck || i + 1 == linie.Proben.size()) {
                        post([this, s = std::move(stueck)]() mutable { Angekommen(std::move(s)); });
                        stueck = {};
                        stueck.reserve(Stueck);
                    }
                },
                [&](std::size_t n) {
                    const auto jetzt = std::chrono::steady_clock::now();
                    if (jetzt - uhr < std::chrono::milliseconds(100)) return;
                    uhr = jetzt;
                    post([this, n] { Fortschritt(n); });
                },
                [&] { return lauf->Abbrechen.load(); });
            if (!stueck.empty()) post([this, s = std::move(stueck)]() mutable { Angekommen(std::move(s)); });
            meldungen = batch.TakeMessages();
        } catch (const std::exception& e) {
            fehler = U(e.what());
        } catch (...) {
            fehler = QStringLiteral("Unbekannter Fehler bei der Berechnung des Profils.");
        }
        post([this, ok, m = std::move(meldungen), fehler]() mutable { Beendet(ok, std::move(m), fehler); });
    });
}

void TProfilForm::Begonnen(std::vector<double> ecken, double laenge, std::size_t proben) {
    erwartet_ = proben;
    werte_.reserve(proben);
    summe_ = std::make_unique<TProfilSumme>(laenge);
    Plot->SetProfil(&werte_, std::move(ecken), laenge);
    PB_Fortschritt->setRange(0, static_cast<int>(proben));
    PB_Fortschritt->setValue(0);
}

void TProfilForm::Angekommen(std::vector<TProfilWert> stueck) {
    for (const TProfilWert& w : stueck) {
        werte_.push_back(w);
        summe_->Add(w.Station, w.Antwort());
    }
    modell_->Wachsen();
    Plot->Nachgereicht();
    PB_Fortschritt->setValue(static_cast<int>(werte_.size()));
}

void TProfilForm::Fortschritt(std::size_t n) {
    if (n > static_cast<std::size_t>(PB_Fortschritt->value())) PB_Fortschritt->setValue(static_cast<int>(n));
}

void TProfilForm::Beendet(bool ok, std::vector<std::string> meldungen, QString fehler) {
    if (worker_.joinable()) worker_.join();
    vollstaendig_ = ok && fehler.isEmpty() && werte_.size() == erwartet_;
    SetRunning(false);
    PB_Fortschritt->setRange(0, std::max<int>(1, static_cast<int>(erwartet_)));
    PB_Fortschritt->setValue(static_cast<int>(werte_.size()));
    const QLocale loc;
    if (!fehler.isEmpty()) {
        LB_Status->setText(QStringLiteral("Kein Profil berechnet."));
        Fehler(fehler);
        return;
    }
    if (vollstaendig_) {
        LB_Status->setText(QStringLiteral("%1 Proben berechnet.").arg(loc.toString(static_cast<qulonglong>(werte_.size()))));
        LB_Zusammenfassung->setText(U(ZusammenfassungText(summe_->Ergebnis(), UserDecimalSeparator())).trimmed());
        LB_Ablesung->setText(QStringLiteral("Maus über das Profil bewegen: Station und Höhen"));
    } else {
        LB_Status->setText(QStringLiteral("Abgebrochen nach %1 von %2 Proben; nicht gespeichert.")
                               .arg(loc.toString(static_cast<qulonglong>(werte_.size())),
                                    loc.toString(static_cast<qulonglong>(erwartet_))));
    }
    if (!meldungen.empty()) {
        QStringList t;
        for (const std::string& m : meldungen) t << U(m);
        LB_Status->setToolTip(t.join(u'\n'));
        Platform().MessageBox(this, QStringLiteral("Höhenprofil"), t.join(u'\n'), TMsgIcon::Info, TMsgButtons::Ok);
    }
}

void TProfilForm::Fehler(const QString& text) {
    Platform().MessageBox(this, QStringLiteral("Höhenprofil"), text, TMsgIcon::Error, TMsgButtons::Ok);
}

void TProfilForm::Abbrechen() {
    if (!Running() || !lauf_) return;
    lauf_->Abbrechen = true;
    LB_Status->setText(QStringLiteral("Wird abgebrochen …"));
    Btn_Abbrechen->setEnabled(false);
}

void TProfilForm::Beenden() {
    Abbrechen();
    hide();
}

void TProfilForm::reject() {
    if (!Running()) {
        QDialog::reject();
        return;
    }
    if (lauf_ && !lauf_->Abbrechen && AskCancel(this)) Abbrechen();
}

void TProfilForm::closeEvent(QCloseEvent* e) {
    if (Running() && lauf_ && !lauf_->Abbrechen) {
        if (!AskCancel(this)) {
            e->ignore();
            return;
        }
        Abbrechen();
    }
    QDialog::closeEvent(e);
}

bool TProfilForm::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (o == TV_Proben && k->matches(QKeySequence::Copy)) {
            Guarded([this] { KopierenClick(); });
            return true;
        }
        if (o == TB_Ecken && k->matches(QKeySequence::Paste)) {
            Guarded([this] { EinfuegenText(Platform().ClipboardText()); });
            return true;
        }
        if (o == TB_Ecken && k->key() == Qt::Key_Delete) {  // an open editor gets its keys itself
            // Whole rows selected go; otherwise the selected cells are emptied.
            QList<int> zeilen;
            for (const QTableWidgetSelectionRange& r : TB_Ecken->selectedRanges())
                if (r.leftColumn() == 0 && r.rightColumn() == 1)
                    for (int z = r.topRow(); z <= r.bottomRow(); ++z) zeilen << z;
            std::sort(zeilen.begin(), zeilen.end(), std::greater<int>());
            for (int z : zeilen) TB_Ecken->removeRow(z);
            for (QTableWidgetItem* it : TB_Ecken->selectedItems()) it->setText(QString());
            NeueLeerzeile();
            return true;
        }
    }
    return QDialog::eventFilter(o, e);
}

QString TProfilForm::BlockText(int links, int oben, int rechts, int unten) const {
    QString text;
    for (int r = oben; r <= unten; ++r) {
        const QStringList z = modell_->Zeile(static_cast<std::size_t>(r));
        for (int c = links; c <= rechts; ++c) {
            text += z.value(c);
            if (c != rechts) text += QLatin1Char('\t');
        }
        text += GridRowEnd;
    }
    return text;
}

void TProfilForm::KopierenClick() {
    if (werte_.empty()) return;
    int links = INT_MAX, oben = INT_MAX, rechts = -1, unten = -1;
    for (const QItemSelectionRange& r : TV_Proben->selectionModel()->selection()) {
        links = std::min(links, r.left());
        oben = std::min(oben, r.top());
        rechts = std::max(rechts, r.right());
        unten = std::max(unten, r.bottom());
    }
    if (rechts < 0) {
        const QModelIndex i = TV_Proben->currentIndex();
        if (!i.isValid()) return;
        links = rechts = i.column();
        oben = unten = i.row();
    }
    Platform().SetBusyCursor(true);
    auto zurueck = OnExit([] { Platform().SetBusyCursor(false); });
    Platform().SetClipboardText(BlockText(links, oben, rechts, unten));
}

void TProfilForm::SpeichernClick() {
    if (Running() || !vollstaendig_) return;
    static const char* const endungen[] = {"", ".csv", ".png", ".svg"};
    TSaveDialog dlg;
    dlg.Title = QStringLiteral("Höhenprofil speichern");
    dlg.Filters = {QStringLiteral("CSV-Datei (*.csv)"), QStringLiteral("PNG-Bild (*.png)"),
                   QStringLiteral("SVG-Grafik (*.svg)")};
    dlg.FilterIndex = 1;
    dlg.FileName = QStringLiteral("profil.csv");
    dlg.OverwritePrompt = true;
    for (;;) {
        const TSaveResult chosen = Platform().SaveFile(this, dlg);
        if (!chosen.Accepted || chosen.Path.isEmpty()) return;
        const std::string typed = chosen.Path.toStdString();
        // The name's own extension decides; without one, the chosen filter's is added.
        const QString suffix = QFileInfo(chosen.Path).suffix().toLower();
        TDateiArt art = suffix == QLatin1String("csv")   ? Csv
                        : suffix == QLatin1String("png") ? Png
                        : suffix == QLatin1String("svg") ? Svg
                                                         : static_cast<TDateiArt>(std::clamp(chosen.FilterIndex, 1, 3));
        const std::string path = HasExtension(typed) ? typed : WithDefaultExtension(typed, endungen[art]);
        if (!ConfirmAppendedTarget(this, dlg, chosen, typed, path)) continue;
        Speichern(path, art);
        return;
    }
}

bool TProfilForm::Speichern(const std::string& pfad, TDateiArt art) {
    // A million samples take a moment to write.
    Platform().SetBusyCursor(true);
    auto zurueck = OnExit([] { Platform().SetBusyCursor(false); });
    QByteArray bytes;
    if (art == Csv) {
        const char sep = UserDecimalSeparator();
        std::string s = ProfilCsvKopf();
        s.reserve(werte_.size() * 64 + s.size());
        for (const TProfilWert& w : werte_) s += ProbeCsv(w.Probe(), w.Antwort(), sep);
        bytes = QByteArray::fromStdString(s);
    } else {
        const QRectF ganz(0, 0, BildBreite, BildHoehe);
        QBuffer puffer(&bytes);
        puffer.open(QIODevice::WriteOnly);
        if (art == Png) {
            QImage bild(BildBreite, BildHoehe, QImage::Format_RGB32);
            bild.fill(Qt::white);
            {
                QPainter p(&bild);
                Plot->Render(p, ganz, false);
            }
            bild.save(&puffer, "PNG");
        } else {
            QSvgGenerator svg;
            svg.setOutputDevice(&puffer);
            svg.setSize(QSize(BildBreite, BildHoehe));
            svg.setResolution(96);  // CSS pixels: a browser shows it at its pixel size
            svg.setViewBox(ganz);
            svg.setTitle(QStringLiteral("Höhenprofil"));
            QPainter p(&svg);
            Plot->Render(p, ganz, false);
        }
        if (bytes.isEmpty()) throw std::runtime_error("Das Bild des Profils konnte nicht erzeugt werden.");
    }
    try {
        TSichereDatei f(pfad, schutz_);
        f.Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        f.Commit();
    } catch (const EZielAbgelehnt& e) {
        Platform().MessageBox(this, QStringLiteral("Höhenprofil"), U(e.what()), TMsgIcon::Error, TMsgButtons::Ok);
        return false;
    }
    LB_Status->setText(QStringLiteral("Gespeichert: %1").arg(QFileInfo(U(pfad)).fileName()));
    LB_Status->setToolTip(U(pfad));
    return true;
}

}  // namespace tervalo
