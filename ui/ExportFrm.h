#pragma once
// Export window: the four bounds, the dBase level, the run log and its two counters.
#include "config/TYPEN.h"
#include "tools/Taktgeber.h"
#include "ui/PBNumEdit.h"

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace tervalo {

// The radio button (1, 2, 3) of a stored dBase level, and the level of a selected button.
int DbfVersionButton(int level);
int DbfVersionOfButton(int button);

class TExportForm : public QDialog {
    Q_OBJECT
public:
    explicit TExportForm(QWidget* owner = nullptr);

    // Works on a copy of the catalogue; the caller's record is given back unchanged.
    int MyShowModal(TDateien& dateien);
    void FormShow();
    void DoExportBtnClick();

    // The level of the selected radio button (3, 4 or 7) and its preset: 4 and 7 select
    // their buttons, any other value "3".
    int DBFVersion() const;
    void SetDBFVersion(int level);
    bool Running() const { return running_; }
    // Closing by Escape or the close box waits until a run has ended.
    void reject() override;

    // The window's copy of the catalogue.
    TDateien Dateien;
    // How often a run lets the window handle events; tests poll after every line.
    TTaktOptionen Poll;
    // How long a folder's index build runs before its window shows (tests: 0).
    int IndexFensterMs = 300;

    QGroupBox* GroupBox1;
    TPBNumEdit* PBN_Xmin;
    TPBNumEdit* PBN_Xmax;
    TPBNumEdit* PBN_Ymin;
    TPBNumEdit* PBN_Ymax;
    QGroupBox* GroupBox2;
    QRadioButton* RB1_DBFVersion;
    QRadioButton* RB2_DBFVersion;
    QRadioButton* RB3_DBFVersion;
    QPushButton* DoExportBtn;
    QLabel* ST_nOutWerte;
    QLabel* ST_nDoppelt;
    QPlainTextEdit* Memo1;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void SetRunning(bool running);
    bool running_ = false;
};

}  // namespace tervalo
