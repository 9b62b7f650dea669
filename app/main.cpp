// The desktop program tervalo: heights at Gauss-Krüger coordinates.
#include "config/Version.h"
#include "ui/ErrorReport.h"
#include "ui/Globals.h"
#include "ui/MainUnit.h"

#include <QTranslator>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    using namespace tervalo;
    // Answered before anything needs a display.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", VersionText("tervalo").c_str());
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    Admin = IsAdminSwitch(argc, argv);

    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tervalo"));

    // The interface is German whatever the user's locale, Qt's own buttons and dialogs too.
    QTranslator qtGerman;
    InstallQtGerman(qtGerman);

    TForm1 form;
    form.show();
    return QApplication::exec();
}
