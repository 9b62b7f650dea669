#include "KurzMeldung.h"

#include "Globals.h"
#include "tools/ScopeGuard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <memory>

namespace tervalo {

namespace {
constexpr int Margin = 10;
constexpr int MinWidth = 300;
constexpr int MaxWidth = 800;
constexpr int MaxHeight = 200;
}  // namespace

TKurzMeldgFrm::TKurzMeldgFrm()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("KurzMeldgFrm"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Meldung..."));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Highlight));
    pal.setColor(QPalette::WindowText, Qt::yellow);
    setPalette(pal);
    Label1 = new QLabel(this);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(16);
    Label1->setFont(f);
    Label1->setPalette(pal);
}

void TKurzMeldgFrm::MyShow(const QString& text) {
    Label1->setText(text);
    const QFontMetrics fm(Label1->font());
    const int textWidth = fm.horizontalAdvance(text) + 2;
    // Only a text too wide for the widest window is wrapped.
    Label1->setWordWrap(textWidth > MaxWidth - 2 * Margin);
    const int w = std::clamp(textWidth + 2 * Margin, MinWidth, MaxWidth);
    const QRect textRect = fm.boundingRect(QRect(0, 0, w - 2 * Margin, 10000),
                                           Qt::AlignCenter | Qt::TextWordWrap, text);
    const int h = std::min(textRect.height() + 2 * Margin, MaxHeight);
    setFixedSize(w, h);
    Label1->setGeometry(Margin, Margin, w - 2 * Margin, h - 2 * Margin);

    QRect over;
    if (QWidget* main = MainWindow(); main && main->isVisible())
        over = main->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        over = s->availableGeometry();
    if (over.isValid()) move(over.center() - QPoint(w / 2, h / 2));

    show();
    raise();
    repaint();
    // Let the window system map and draw it before the wait starts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ShowShortMessage(const QString& text, int ms) {
    auto frm = std::make_unique<TKurzMeldgFrm>();
    auto hide = OnExit([f = frm.get()] { f->hide(); });
    frm->MyShow(text);
    // Input is held back, not lost, while the message stands; painting goes on.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const qint64 left = ms - t.elapsed();
        if (left > 0) QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, 10)));
    }
}

}  // namespace tervalo
