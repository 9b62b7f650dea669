#include "OptionFrm.h"

namespace tervalo {

TOptionForm::TOptionForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("  Optionen"));
}

int TOptionForm::MyShowModal(TDateien& dateien) {
    TDateien copy = dateien;
    const int r = exec();
    dateien = copy;
    return r;
}

}  // namespace tervalo
