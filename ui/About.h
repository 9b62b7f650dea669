#pragma once
// About box: program name and version, memory figures, the program's picture.
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <cstdint>
#include <string>

namespace tervalo {

struct TMemoryStatus {
    uint64_t TotalBytes = 0;
    int LoadPercent = 0;
    bool Valid = false;
};

// Reads a /proc/meminfo text: MemTotal, and load = 100 - MemAvailable * 100 / MemTotal.
TMemoryStatus ParseMemInfo(const std::string& text);
TMemoryStatus ReadMemoryStatus();

// "#,### MB" above 100000000 bytes, "#,### KB" otherwise, grouped in the locale's way.
QString PhysMemText(uint64_t bytes, const QLocale& loc);
QString LoadText(int percent);

// Decodes a JPEG with libjpeg; a null image when the data are not a readable JPEG.
QImage DecodeJpeg(const unsigned char* data, size_t size);
// The program's own picture (a hill-shade of the demo terrain), built into the program.
QImage AboutPicture();

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* owner = nullptr);
    void FormCreate();

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Label5;
    QLabel* PhysMem;
    QLabel* FreeRes;
    QPushButton* OKButton;

protected:
    void showEvent(QShowEvent* e) override;
};

}  // namespace tervalo
