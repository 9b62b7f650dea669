#include "ErrorReport.h"

#include "Globals.h"
#include "Platform.h"

#include <new>

namespace tervalo {

QString ErrorReportText(const QString& message) {
    QString t = message;
    if (!t.isEmpty() && t.back().unicode() > u'.') t += QLatin1Char('.');
    return t;
}

void ShowErrorReport(const QString& message) {
    // The busy cursor must not outlive the action that failed.
    Platform().SetBusyCursor(false);
    Platform().MessageBox(MainWindow(), QString::fromUtf8(ApplicationTitle), ErrorReportText(message),
                          TMsgIcon::Error, TMsgButtons::Ok);
}

void ShowErrorReport(const std::exception& e) {
    if (dynamic_cast<const ESilentAbort*>(&e)) return;
    if (dynamic_cast<const std::bad_alloc*>(&e)) {
        ShowErrorReport(QStringLiteral("Zu wenig Arbeitsspeicher"));
        return;
    }
    ShowErrorReport(QString::fromUtf8(e.what()));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorReport(e);
    } catch (...) {
        ShowErrorReport(QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}

}  // namespace tervalo
