#include "IDoFenster1.h"

#include "BusyIcons.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace tervalo {

TIDoFenster::TIDoFenster(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint), owner_(owner) {
    setObjectName(QStringLiteral("IDoFenster"));
    setWindowTitle(QStringLiteral("  Bitte warten..."));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::ToolTipText));
    setPalette(pal);

    // The thin border of the pop-up window.
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setLineWidth(1);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    Heading = new QLabel(QStringLiteral("Bitte warten, konvertiere !"), frame);
    QFont hf = font();
    hf.setBold(true);
    hf.setPointSizeF(hf.pointSizeF() * 1.6);
    Heading->setFont(hf);
    Heading->setStyleSheet(QStringLiteral("color: maroon;"));

    for (int i = 0; i < 8; ++i) ImageList1.push_back(BusyFrame(i, 32));
    Image1 = new QLabel(frame);
    Image1->setFixedSize(32, 32);
    Image1->setPixmap(ImageList1[0]);

    Label1 = new QLabel(frame);
    Label2 = new QLabel(QStringLiteral("0"), frame);
    Label3 = new QLabel(QStringLiteral("0"), frame);
    Label1->setMinimumWidth(260);
    Label1->setTextFormat(Qt::PlainText);

    auto* grid = new QGridLayout(frame);
    grid->setContentsMargins(14, 10, 14, 12);
    grid->setHorizontalSpacing(10);
    grid->addWidget(Heading, 0, 0, 1, 2);
    grid->addWidget(Image1, 0, 2, Qt::AlignRight);
    grid->addWidget(new QLabel(QStringLiteral("Ziel:"), frame), 1, 0);
    grid->addWidget(Label1, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Werte übernommen:"), frame), 2, 0);
    grid->addWidget(Label2, 2, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Werte nicht übernommen:"), frame), 3, 0);
    grid->addWidget(Label3, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
}

void TIDoFenster::SetZiel(const QString& path) { Label1->setText(path); }
void TIDoFenster::SetUebernommen(const QString& count) { Label2->setText(count); }
void TIDoFenster::SetNichtUebernommen(const QString& count) { Label3->setText(count); }

void TIDoFenster::SetFrame(int frame) {
    frame_ = ((frame % 8) + 8) % 8;
    Image1->setPixmap(ImageList1[static_cast<size_t>(frame_)]);
}

void ShowCentredOver(QWidget& fenster, QWidget* owner) {
    fenster.adjustSize();
    QRect over;
    if (owner && owner->isVisible())
        over = owner->window()->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        over = s->availableGeometry();
    if (over.isValid()) fenster.move(over.center() - QPoint(fenster.width() / 2, fenster.height() / 2));
    fenster.show();
    fenster.raise();
    fenster.repaint();
}

void TIDoFenster::ShowCentred() { ShowCentredOver(*this, owner_); }

}  // namespace tervalo
