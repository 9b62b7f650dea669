#include "OptionFrm.h"

#include "config/Einstellungen.h"
#include "ui/DateiFrm.h"
#include "ui/ErrorReport.h"
#include "ui/ExportFrm.h"
#include "ui/Globals.h"
#include "ui/Platform.h"
#include "tools/ScopeGuard.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace tervalo {

namespace {

void SetTextColour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Text, c);
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

bool OutOfRange(const TPBNumEdit* f, double v) {
    const bool ranged = f->MinValue() != 0.0 || f->MaxValue() != 0.0;
    return ranged && (v < f->MinValue() || v > f->MaxValue());
}

}  // namespace

QString RangeMessage(double lower, double upper, QChar decimalPoint) {
    QString range = QString::asprintf("Bereich %8.3f bis %8.3f", lower, upper);
    range.replace(u'.', decimalPoint);
    // A bare CR breaks no line in Qt's message box; LF is the line break here.
    return QStringLiteral("Eingabe nicht zul\u00E4ssig.\n") + range;
}

QString SystemMessage() {
    return QStringLiteral("Eingabe nicht zul\u00E4ssig.\nBezugssystem der Kacheln: ") + QString::fromUtf8(TextSystemFormen) +
           QStringLiteral(" oder keins");
}

TOptionForm::TOptionForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    // A fixed dialog: title and close button only; the layout fixes its size, so the window
    // manager offers no maximising either.
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("  Optionen"));
    const QColor navy(0x00, 0x00, 0x80);

    const QString fangHint = QStringLiteral(
        "Definiert den Bereich um das Koordinatenpaar,\nf\u00FCr den Gitterpunkte bei der Analyse \n"
        "ber\u00FCcksichtigt werden.");
    const QString potenzHint = QStringLiteral(
        "Exponent f\u00FCr die Wichtung des Punktabstandes\nbeim Extrapolationsverfahren nach SHEPARD.");

    auto* fields = new QGridLayout;
    fields->setHorizontalSpacing(8);
    fields->setVerticalSpacing(10);
    auto addRow = [&](int row, QLabel*& label, const QString& caption, TPBNumEdit*& field, const char* name,
                      int decimals, int maxLength, int width, const QString& unit, const QString& hint) {
        label = new QLabel(caption, this);
        auto* eq = new QLabel(QStringLiteral("="), this);
        field = new TPBNumEdit(this);
        field->setObjectName(QString::fromLatin1(name));
        field->SetDecimals(decimals);
        field->SetMaxLength(maxLength);
        field->setFixedWidth(width);
        SetTextColour(field, navy);
        auto* u = new QLabel(unit, this);
        for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(eq), static_cast<QWidget*>(field),
                           static_cast<QWidget*>(u)})
            w->setToolTip(hint);
        fields->addWidget(label, row, 0);
        fields->addWidget(eq, row, 1);
        fields->addWidget(field, row, 2);
        fields->addWidget(u, row, 3);
    };
    addRow(0, Label1, QStringLiteral("Fangbereich um Koordinaten "), PBN_Fangbreite, "PBN_Fangbreite", 1, 5, 70,
           QStringLiteral("[m]"), fangHint);
    addRow(1, Label2, QStringLiteral("Exponent f\u00FCr Extrapolation"), PBN_Potenz1, "PBN_Potenz1", 1, 3, 70,
           QStringLiteral("[-]"), potenzHint);
    fields->setColumnStretch(4, 1);
    PBN_Potenz1->SetMinValue(0.0);
    PBN_Potenz1->SetMaxValue(PotenzMax);
    PBN_Fangbreite->SetMinValue(0.0);
    PBN_Fangbreite->OnInvalidEntry = [this](TPBNumEdit* f) { Guarded([&] { PBNumEditInvalidEntry(f); }); };

    GroupBox1 = new QGroupBox(QStringLiteral(" Zugriff mit Administratorrechten "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setStyleSheet(QStringLiteral("QGroupBox::title { color: maroon; }"));
    GroupBox1->setToolTip(QStringLiteral(
        "Zugriff nur mit Administratorrechten.\n \nDATEIMANAGEMENT zur Verwaltung der Quelldaten.\n"
        "DATENEXPORT zum Export von XYZ-Quelldaten nach ASCII oder dBase."));
    DateiButton = new QPushButton(QStringLiteral("Dateimanagement"), GroupBox1);
    DateiButton->setObjectName(QStringLiteral("DateiButton"));
    DateiButton->setToolTip(QStringLiteral("Definition der Quelldaten.\nZugriff nur mit Administratorrechten."));
    ExportButton = new QPushButton(QStringLiteral("Datenexport"), GroupBox1);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));
    ExportButton->setToolTip(
        QStringLiteral("Export von XYZ-Quelldaten nach ASCII oder dBase.\nZugriff nur mit Administratorrechten."));
    for (QPushButton* b : {DateiButton, ExportButton}) b->setMinimumWidth(140);
    auto* tools = new QHBoxLayout(GroupBox1);
    tools->setContentsMargins(12, 18, 12, 12);
    tools->setSpacing(12);
    tools->addWidget(DateiButton);
    tools->addWidget(ExportButton);

    CancelButton = new QPushButton(QStringLiteral("Abbruch"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    // Enter on a focused button presses that button; anywhere else it is OK.
    for (QPushButton* b : {DateiButton, ExportButton, CancelButton, OKButton}) b->setAutoDefault(true);
    for (QPushButton* b : {CancelButton, OKButton}) b->setMinimumWidth(90);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(CancelButton);
    buttons->addWidget(OKButton);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 12);
    outer->setSpacing(14);
    outer->addLayout(fields);
    outer->addWidget(GroupBox1);
    outer->addLayout(buttons);

    GroupBox2 = new QGroupBox(QStringLiteral(" Kacheln "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    const QString systemHint = QStringLiteral(
        "Bezugssystem aller Kacheln des Katalogs: EPSG:n oder gk2 bis gk5, utm32, utm33.\n"
        "keins: die Koordinaten werden ohne Umrechnung genommen.\nZugriff nur mit Administratorrechten.");
    Label3 = new QLabel(QStringLiteral("Bezugssystem der Kacheln"), GroupBox2);
    CB_System = new QComboBox(GroupBox2);
    CB_System->setObjectName(QStringLiteral("CB_System"));
    CB_System->setEditable(true);
    CB_System->setInsertPolicy(QComboBox::NoInsert);
    CB_System->addItems({QStringLiteral("keins"), QStringLiteral("gk2"), QStringLiteral("gk3"), QStringLiteral("gk4"),
                         QStringLiteral("gk5"), QStringLiteral("utm32"), QStringLiteral("utm33")});
    CB_System->setFixedWidth(140);
    SetTextColour(CB_System, navy);
    for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(CB_System)}) w->setToolTip(systemHint);
    const QString noDataHint = QStringLiteral(
        "Ein Punkt einer Kachel mit genau dieser H\u00F6he ist kein Punkt (eine L\u00FCcke der Kachel).\n"
        "keine: jede H\u00F6he z\u00E4hlt.\nZugriff nur mit Administratorrechten.");
    Label4 = new QLabel(QStringLiteral("NoData-H\u00F6he:"), GroupBox2);
    PBN_NoData = new TPBNumEdit(GroupBox2);
    PBN_NoData->setObjectName(QStringLiteral("PBN_NoData"));
    PBN_NoData->SetDecimals(3);
    PBN_NoData->SetMaxLength(14);
    PBN_NoData->setFixedWidth(140);
    SetTextColour(PBN_NoData, navy);
    CB_KeinNoData = new QCheckBox(QStringLiteral("keine"), GroupBox2);
    CB_KeinNoData->setObjectName(QStringLiteral("CB_KeinNoData"));
    for (QWidget* w : {static_cast<QWidget*>(Label4), static_cast<QWidget*>(PBN_NoData),
                       static_cast<QWidget*>(CB_KeinNoData)})
        w->setToolTip(noDataHint);
    connect(CB_KeinNoData, &QCheckBox::toggled, this, [this](bool kein) {
        PBN_NoData->setEnabled(!kein && CB_KeinNoData->isEnabled());
    });
    auto* kacheln = new QGridLayout(GroupBox2);
    kacheln->setContentsMargins(12, 18, 12, 12);
    kacheln->setHorizontalSpacing(8);
    kacheln->setVerticalSpacing(10);
    kacheln->addWidget(Label3, 0, 0);
    kacheln->addWidget(CB_System, 0, 1);
    kacheln->addWidget(Label4, 1, 0);
    kacheln->addWidget(PBN_NoData, 1, 1);
    kacheln->addWidget(CB_KeinNoData, 1, 2);
    kacheln->setColumnStretch(3, 1);
    outer->addWidget(GroupBox2);
    ShowSystem(std::nullopt);
    ShowNoData(StandardNoData);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    auto guard = [this](void (TOptionForm::*h)()) {
        return [this, h] { Guarded([&] { (this->*h)(); }); };
    };
    connect(DateiButton, &QPushButton::clicked, this, guard(&TOptionForm::DateiButtonClick));
    connect(ExportButton, &QPushButton::clicked, this, guard(&TOptionForm::ExportButtonClick));
    connect(OKButton, &QPushButton::clicked, this, guard(&TOptionForm::OKButtonClick));
    connect(CancelButton, &QPushButton::clicked, this, guard(&TOptionForm::CancelButtonClick));
    // Not the capture range field: leaving it checks its value, and a stored value beyond the
    // bound must not be refused when the user never entered the field.
    OKButton->setFocus(Qt::OtherFocusReason);
}

int TOptionForm::MyShowModal(TDateien& dateien) {
    Dateien = dateien;
    activated_ = false;
    auto back = OnExit([&] { dateien = Dateien; });
    return exec();
}

void TOptionForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (activated_) return;
    activated_ = true;
    FormActivate();
}

void TOptionForm::FormActivate() {
    PBN_Fangbreite->SetMinValue(0.0);
    PBN_Fangbreite->SetMaxValue(FangbreiteMax(Settings.Rasterabstand));
    DateiButton->setEnabled(Admin);
    ExportButton->setEnabled(Admin);
    CB_System->setEnabled(Admin);
    CB_KeinNoData->setEnabled(Admin);
    PBN_NoData->setEnabled(Admin && !CB_KeinNoData->isChecked());
    openedFang_ = PBN_Fangbreite->Value();
    openedPotenz_ = PBN_Potenz1->Value();
}

void TOptionForm::PBNumEditInvalidEntry(TPBNumEdit* field) {
    const QString sep = QLocale().decimalPoint();
    Platform().MessageBox(this, QStringLiteral("Fehler"),
                          RangeMessage(field->MinValue(), field->MaxValue(), sep.isEmpty() ? u'.' : sep[0]),
                          TMsgIcon::Error, TMsgButtons::Ok);
    // Inside the leave of the field the focus change is still under way: take it back after.
    QPointer<TPBNumEdit> f(field);
    QTimer::singleShot(0, this, [f] {
        if (f && f->isEnabled() && f->isVisible()) f->setFocus(Qt::OtherFocusReason);
    });
}

void TOptionForm::DateiButtonClick() {
    TDateiForm frm(this);
    frm.MyShowModal(Dateien);
}

void TOptionForm::ExportButtonClick() {
    TExportForm frm(this);
    frm.SetDBFVersion(Settings.DBFVersion);
    // The level is taken back however the window closed.
    auto store = OnExit([&] { Settings.DBFVersion = frm.DBFVersion(); });
    frm.MyShowModal(Dateien);
}

void TOptionForm::OKButtonClick() {
    // The values are taken as shown: a text that does not convert keeps the dialog open.
    for (TPBNumEdit* f : {PBN_Fangbreite, PBN_Potenz1}) {
        if (!f->Commit()) {
            f->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    // A value typed out of range and confirmed with Enter never left its field: check it now.
    // A stored value the user did not touch is taken over as it is.
    const double fang = PBN_Fangbreite->Value();
    if (fang != openedFang_ && OutOfRange(PBN_Fangbreite, fang)) {
        PBNumEditInvalidEntry(PBN_Fangbreite);
        return;
    }
    const double potenz = PBN_Potenz1->Value();
    if (potenz != openedPotenz_ && OutOfRange(PBN_Potenz1, potenz)) {
        PBN_Potenz1->CheckRange();
        return;
    }
    // Only an administrator may change the system; the shown one stays otherwise.
    if (CB_System->isEnabled()) {
        const std::string text = CB_System->currentText().toStdString();
        const std::optional<int> epsg = ParseSystem(text);
        if (!epsg && !IsNoSystem(text)) {
            Platform().MessageBox(this, QStringLiteral("Fehler"), SystemMessage(), TMsgIcon::Error, TMsgButtons::Ok);
            CB_System->setFocus(Qt::OtherFocusReason);
            return;
        }
        std::optional<double> noData;
        if (!CB_KeinNoData->isChecked()) {
            if (!PBN_NoData->Commit()) {
                PBN_NoData->setFocus(Qt::OtherFocusReason);
                return;
            }
            // The field shows three decimals: a stored value with more stays as it is unless
            // the user changed the one shown.
            const double shown = PBN_NoData->Value();
            noData = noData_ && shown == shownNoData_ ? *noData_ : shown;
        }
        system_ = epsg;
        noData_ = noData;
    }
    accept();
}

void TOptionForm::ShowSystem(std::optional<int> epsg) {
    system_ = epsg;
    // No list entry current for a code: choosing any entry then replaces the text.
    CB_System->setCurrentIndex(epsg ? -1 : 0);
    if (epsg) CB_System->setEditText(QString::fromStdString(SystemText(*epsg)));
}

void TOptionForm::ShowNoData(std::optional<double> wert) {
    noData_ = wert;
    const QSignalBlocker still(CB_KeinNoData);
    CB_KeinNoData->setChecked(!wert);
    // Turned off, the field keeps the default to start from when the box is cleared.
    PBN_NoData->SetValue(wert.value_or(StandardNoData));
    shownNoData_ = PBN_NoData->Value();
    PBN_NoData->setEnabled(CB_KeinNoData->isEnabled() && !CB_KeinNoData->isChecked());
}

void TOptionForm::CancelButtonClick() { reject(); }

}  // namespace tervalo
