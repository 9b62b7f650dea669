#pragma once
// Short timed message: a borderless window on top, shown for a given time.
#include <QLabel>
#include <QWidget>

namespace tervalo {

class TKurzMeldgFrm : public QWidget {
    Q_OBJECT
public:
    TKurzMeldgFrm();
    // Shows the text, sized to it and centred over the main window, and paints it at once.
    void MyShow(const QString& text);
    QLabel* Label1;
};

// Shows the text for ms milliseconds; user input waits meanwhile. No window is left behind.
void ShowShortMessage(const QString& text, int ms);

}  // namespace tervalo
