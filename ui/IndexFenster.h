#pragma once
// Progress window of a folder's index build: the folder, a bar over the tiles looked at, and a
// button that cancels. It blocks its owner while shown, so the list cannot change under the run.
#include "ordner/OrdnerIndex.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QString>

namespace tervalo {

class TIndexFenster : public QDialog {
    Q_OBJECT
public:
    explicit TIndexFenster(QWidget* owner, const QString& ordner);

    // Shows the window centred over its owner and paints it.
    void ShowCentred();
    void SetFortschritt(std::size_t fertig, std::size_t gesamt);
    // The whole heading ("Index wird aufgebaut: " + folder), for runs that give it so.
    void SetText(const QString& text);
    // The cancel button was pressed (or the window closed).
    bool Abgebrochen() const { return abgebrochen_; }

    QLabel* LB_Ordner;
    QProgressBar* Balken;
    QPushButton* Btn_Abbrechen;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    bool abgebrochen_ = false;
};

// Shows Update's progress in the window; Escape asks as in the other long runs, the button
// cancels at once. The owner's events are handled now and then, so the window stays alive.
class TIndexFensterBeobachter : public TOrdnerBeobachter {
public:
    TIndexFensterBeobachter(QWidget* owner, TIndexFenster& w) : owner_(owner), w_(w) {}
    void Fortschritt(std::size_t fertig, std::size_t gesamt) override;
    bool CancelCheck() override;

private:
    void Verarbeiten(bool sofort);
    QWidget* owner_;
    TIndexFenster& w_;
    qint64 zuletzt_ = -1;  // ms of the last event handling
};

}  // namespace tervalo
