#pragma once
// Progress window of a conversion: target name, two counters and an activity picture.
#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <vector>

namespace tervalo {

// Shows a progress window without making it modal, centred over its owner's window (the
// screen when the owner is not shown), and paints it at once.
void ShowCentredOver(QWidget& fenster, QWidget* owner);

class TIDoFenster : public QWidget {
    Q_OBJECT
public:
    explicit TIDoFenster(QWidget* owner);

    void SetZiel(const QString& path);            // Label1
    void SetUebernommen(const QString& count);    // Label2
    void SetNichtUebernommen(const QString& count);  // Label3
    void SetFrame(int frame);                     // one picture of ImageList1, modulo 8
    int Frame() const { return frame_; }
    // Shows the window without making it modal, centred over its owner, and paints it.
    void ShowCentred();

    QLabel* Heading;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Image1;
    std::vector<QPixmap> ImageList1;

private:
    QWidget* owner_;
    int frame_ = 0;
};

}  // namespace tervalo
