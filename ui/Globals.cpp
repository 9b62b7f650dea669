#include "Globals.h"

#include "tools/Tools.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <QWidget>

namespace tervalo {

TSettings Settings;
bool Admin = false;

namespace {
QPointer<QWidget> g_mainWindow;
}

QWidget* MainWindow() { return g_mainWindow.data(); }
void SetMainWindow(QWidget* w) { g_mainWindow = w; }

bool InstallQtGerman(QTranslator& translator) {
    const QString name = QStringLiteral("qtbase_de");
    if (!translator.load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        !translator.load(name, QStringLiteral("/usr/share/qt6/translations")))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

bool IsAdminSwitch(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr || argv[1][0] == '\0') return false;
    return ToUpper(RemoveBlanks(argv[1])) == "/MAINT";
}

}  // namespace tervalo
