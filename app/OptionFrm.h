#pragma once
// Options dialog (placeholder until the dialog itself is written).
#include "config/TYPEN.h"

#include <QDialog>

namespace tervalo {

class TOptionForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionForm(QWidget* owner = nullptr);
    // Works on a copy of the catalogue and copies it back when it closes.
    int MyShowModal(TDateien& dateien);
};

}  // namespace tervalo
