#pragma once
// Global values of the desktop program, shared by its windows.
#include "config/TYPEN.h"

class QTranslator;
class QWidget;

namespace tervalo {

inline constexpr const char* ApplicationTitle = "Interpolation von Tervalo";

extern TSettings Settings;   // options and the two column-width lists
extern bool Admin;           // started with the administrator switch

// The main window, for centring small windows over it; nullptr before it exists.
QWidget* MainWindow();
void SetMainWindow(QWidget* w);

// Loads Qt's German texts (standard buttons, file dialogs) into the translator and installs it.
bool InstallQtGerman(QTranslator& translator);

// True when the first command-line argument, blanks removed and upper-cased, is "/MAINT".
bool IsAdminSwitch(int argc, const char* const* argv);

}  // namespace tervalo
