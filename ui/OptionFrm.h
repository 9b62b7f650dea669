#pragma once
// Options dialog: capture range and Shepard exponent, and the door to the administrator
// tools (file manager, data export), which work on the dialog's copy of the catalogue.
#include "config/TYPEN.h"
#include "query/Query.h"
#include "ui/ExportFrm.h"
#include "ui/PBNumEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <optional>

namespace tervalo {

// "Eingabe nicht zulässig." and the range, three decimals in 8 characters each, with the
// given decimal separator.
QString RangeMessage(double lower, double upper, QChar decimalPoint);
// "Eingabe nicht zulässig." and the forms a reference system is understood in.
QString SystemMessage();

class TOptionForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionForm(QWidget* owner = nullptr);

    // Works on a copy of the catalogue and copies it back whatever closed the dialog.
    int MyShowModal(TDateien& dateien);

    // Handlers.
    void FormActivate();
    void PBNumEditInvalidEntry(TPBNumEdit* field);
    void DateiButtonClick();
    void ExportButtonClick();
    void OKButtonClick();
    void CancelButtonClick();

    // The tiles' system shown in CB_System ("EPSG:n", or "keins" when unset); System() is the
    // one taken with OK (unchanged otherwise).
    void ShowSystem(std::optional<int> epsg);
    std::optional<int> System() const { return system_; }
    // The tiles' NoData height shown in PBN_NoData, or CB_KeinNoData checked when there is none;
    // NoData() is the one taken with OK (unchanged otherwise, and exactly the stored value while
    // the shown one was not changed).
    void ShowNoData(std::optional<double> wert);
    std::optional<double> NoData() const { return noData_; }

    TDateien Dateien;

    QLabel* Label1;
    TPBNumEdit* PBN_Fangbreite;
    QLabel* Label2;
    TPBNumEdit* PBN_Potenz1;
    QGroupBox* GroupBox1;
    QPushButton* DateiButton;
    QPushButton* ExportButton;
    QPushButton* CancelButton;
    QPushButton* OKButton;
    // Below the controls above, which keep their places.
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QComboBox* CB_System;
    QLabel* Label4;
    TPBNumEdit* PBN_NoData;
    QCheckBox* CB_KeinNoData;

protected:
    void showEvent(QShowEvent* e) override;

private:
    bool activated_ = false;
    double openedFang_ = 0.0;
    double openedPotenz_ = 0.0;
    std::optional<int> system_;
    std::optional<double> noData_;
    double shownNoData_ = 0.0;  // the field's value as shown by ShowNoData
};

}  // namespace tervalo
