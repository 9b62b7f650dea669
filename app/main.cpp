// The desktop program tervalo: heights at Gauss-Krüger coordinates.
#include "ui/ErrorReport.h"
#include "ui/Globals.h"
#include "ui/MainUnit.h"

#include <QTranslator>

int main(int argc, char** argv) {
    using namespace tervalo;
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
