#include "Globals.h"

#include "tools/Tools.h"

#include <QPointer>
#include <QWidget>

namespace tervalo {

TSettings Settings;
bool Admin = false;

namespace {
QPointer<QWidget> g_mainWindow;
}

QWidget* MainWindow() { return g_mainWindow.data(); }
void SetMainWindow(QWidget* w) { g_mainWindow = w; }

bool IsAdminSwitch(int argc, const char* const* argv) {
    if (argc < 2 || argv[1] == nullptr || argv[1][0] == '\0') return false;
    return ToUpper(RemoveBlanks(argv[1])) == "/MAINT";
}

}  // namespace tervalo
