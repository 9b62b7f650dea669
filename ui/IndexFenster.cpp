#include "IndexFenster.h"

#include "ui/IDoFenster1.h"
#include "ui/Platform.h"

#include <QCloseEvent>
#include <algorithm>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace tervalo {

namespace {
// Handling events after every tile would cost more than a tile given by its name.
constexpr qint64 EventIntervallMs = 40;
}  // namespace

TIndexFenster::TIndexFenster(QWidget* owner, const QString& ordner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setObjectName(QStringLiteral("IndexFenster"));
    setWindowTitle(QStringLiteral("  Bitte warten..."));
    setWindowModality(Qt::WindowModal);

    LB_Ordner = new QLabel(QStringLiteral("Index wird aufgebaut: ") + ordner, this);
    LB_Ordner->setObjectName(QStringLiteral("LB_Ordner"));
    LB_Ordner->setTextFormat(Qt::PlainText);
    LB_Ordner->setWordWrap(true);
    LB_Ordner->setMinimumWidth(380);
    QFont hf = LB_Ordner->font();
    hf.setBold(true);
    LB_Ordner->setFont(hf);
    LB_Ordner->setStyleSheet(QStringLiteral("color: maroon;"));

    Balken = new QProgressBar(this);
    Balken->setObjectName(QStringLiteral("Balken"));
    // Until the folder is listed the count is unknown: the bar moves without a value.
    Balken->setRange(0, 0);
    Balken->setFormat(QStringLiteral("%v von %m Kacheln"));
    Balken->setTextVisible(true);

    Btn_Abbrechen = new QPushButton(QStringLiteral("Abbrechen"), this);
    Btn_Abbrechen->setObjectName(QStringLiteral("Btn_Abbrechen"));
    Btn_Abbrechen->setAutoDefault(false);
    connect(Btn_Abbrechen, &QPushButton::clicked, this, [this] { abgebrochen_ = true; });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Btn_Abbrechen);
    buttons->addStretch(1);
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(14, 12, 14, 12);
    l->setSpacing(10);
    l->addWidget(LB_Ordner);
    l->addWidget(Balken);
    l->addLayout(buttons);
}

void TIndexFenster::ShowCentred() { ShowCentredOver(*this, parentWidget()); }

void TIndexFenster::SetFortschritt(std::size_t fertig, std::size_t gesamt) {
    // The bar counts in int; a folder of more tiles than that is shown in proportion.
    constexpr std::size_t grenze = 1u << 30;
    const std::size_t teiler = gesamt > grenze ? gesamt / grenze + 1 : 1;
    const int m = static_cast<int>(gesamt / teiler), v = static_cast<int>(std::min(fertig, gesamt) / teiler);
    if (Balken->maximum() != m) Balken->setRange(0, m);
    if (Balken->value() != v) Balken->setValue(v);
}

void TIndexFenster::SetText(const QString& text) {
    if (LB_Ordner->text() == text) return;
    LB_Ordner->setText(text);
    adjustSize();
}

void TIndexFenster::reject() { abgebrochen_ = true; }

void TIndexFenster::closeEvent(QCloseEvent* e) {
    // The run closes the window when it ends; the user's close asks it to end.
    abgebrochen_ = true;
    e->ignore();
}

void TIndexFensterBeobachter::Fortschritt(std::size_t fertig, std::size_t gesamt) {
    w_.SetFortschritt(fertig, gesamt);
    Verarbeiten(fertig == gesamt);
}

bool TIndexFensterBeobachter::CancelCheck() {
    TPlatform& p = Platform();
    if (p.EscapePressed() && p.IsActiveApplication() && AskCancel(owner_, &w_)) return true;
    Verarbeiten(false);
    return w_.Abgebrochen();
}

void TIndexFensterBeobachter::Verarbeiten(bool sofort) {
    const qint64 jetzt = QDateTime::currentMSecsSinceEpoch();
    if (!sofort && zuletzt_ >= 0 && jetzt - zuletzt_ < EventIntervallMs) return;
    zuletzt_ = jetzt;
    Platform().ProcessEvents();
}

}  // namespace tervalo
