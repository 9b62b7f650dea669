#pragma once
// dBase information window: what the table reader makes of one source table.
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <string>

namespace tervalo {

class TDBFInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TDBFInfoForm(QWidget* owner = nullptr);

    // Shows the window modally for the table at `path` once its text is filled; an error of
    // the table layer propagates and the window is never shown.
    int MyShowModal(const std::string& path);

    void FormShow();
    void ENDEButtonClick();

    std::string Path;
    bool Cancelled() const { return cancelled_; }
    // The window was closed while the scan still ran; the scan then stops.
    bool ClosedDuringScan() const { return closed_; }
    // The text area's lines as shown.
    QStringList Lines() const;

    QPlainTextEdit* Memo2;
    QWidget* BottomBar;
    QPushButton* ENDEButton;

public slots:
    void done(int r) override;

private:
    bool cancelled_ = false;
    bool scanning_ = false;
    bool closed_ = false;
};

}  // namespace tervalo
