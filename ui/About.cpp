#include "About.h"

#include "config/TYPEN.h"
#include "ui/Globals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <jpeglib.h>

namespace tervalo {

extern const unsigned char AboutJpeg[];
extern const std::size_t AboutJpegSize;

TMemoryStatus ParseMemInfo(const std::string& text) {
    TMemoryStatus m;
    uint64_t totalKb = 0, availKb = 0;
    bool haveTotal = false, haveAvail = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        unsigned long long kb = 0;
        if (std::sscanf(line.c_str(), "MemTotal: %llu", &kb) == 1) {
            totalKb = kb;
            haveTotal = true;
        } else if (std::sscanf(line.c_str(), "MemAvailable: %llu", &kb) == 1) {
            availKb = kb;
            haveAvail = true;
        }
    }
    if (!haveTotal || totalKb == 0) return m;
    m.Valid = true;
    m.TotalBytes = totalKb * 1024;
    if (haveAvail) {
        if (availKb > totalKb) availKb = totalKb;
        m.LoadPercent = static_cast<int>(100 - availKb * 100 / totalKb);
    }
    return m;
}

TMemoryStatus ReadMemoryStatus() {
    std::ifstream f("/proc/meminfo");
    std::stringstream ss;
    ss << f.rdbuf();
    return ParseMemInfo(ss.str());
}

QString PhysMemText(uint64_t bytes, const QLocale& loc) {
    QLocale grouped = loc;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    if (bytes > 100000000ULL)
        return grouped.toString(static_cast<qulonglong>(bytes / 1024 / 1024)) + QStringLiteral(" MB");
    return grouped.toString(static_cast<qulonglong>(bytes / 1024)) + QStringLiteral(" KB");
}

QString LoadText(int percent) { return QString::asprintf("%d %%", percent); }

namespace {

struct TJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// libjpeg's own error exit ends the process; come back to the decoder instead.
[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}
void JpegSilent(j_common_ptr) {}

struct TRaw {
    int Width = 0, Height = 0;
    unsigned char* Pixels = nullptr;  // RGB, malloc'd
};

// Only plain C data live in this frame, so the jump back skips no destructor.
bool DecodeRaw(const unsigned char* data, size_t size, TRaw* raw) {
    jpeg_decompress_struct cinfo;
    TJpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegSilent;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(raw->Pixels);
        raw->Pixels = nullptr;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        cinfo.output_width > 8192 || cinfo.output_height > 8192) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    raw->Width = static_cast<int>(cinfo.output_width);
    raw->Height = static_cast<int>(cinfo.output_height);
    raw->Pixels = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(raw->Width) * raw->Height * 3));
    if (!raw->Pixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = raw->Pixels + static_cast<size_t>(cinfo.output_scanline) * raw->Width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, size_t size) {
    if (!data || size == 0) return {};
    TRaw raw;
    if (!DecodeRaw(data, size, &raw)) return {};
    QImage img(raw.Width, raw.Height, QImage::Format_RGB888);
    for (int y = 0; y < raw.Height; ++y)
        std::memcpy(img.scanLine(y), raw.Pixels + static_cast<size_t>(y) * raw.Width * 3,
                    static_cast<size_t>(raw.Width) * 3);
    std::free(raw.Pixels);
    return img;
}

QImage AboutPicture() { return DecodeJpeg(AboutJpeg, AboutJpegSize); }

TAboutBox::TAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::ToolTipText));
    setPalette(pal);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setFrameShape(QFrame::Panel);
    ProgramIcon->setFrameShadow(QFrame::Sunken);
    const QImage pic = AboutPicture();
    if (!pic.isNull()) ProgramIcon->setPixmap(QPixmap::fromImage(pic));
    ProgramIcon->setFixedSize(pic.isNull() ? QSize(116, 116) : pic.size() + QSize(4, 4));

    ProductName = new QLabel(QStringLiteral("Berechnung von Tervalo\naus einem X-Y-Z-Koordinatenraster"), this);
    QFont pf = ProductName->font();
    pf.setBold(true);
    pf.setPointSizeF(pf.pointSizeF() * 1.15);
    ProductName->setFont(pf);
    ProductName->setStyleSheet(QStringLiteral("color: maroon;"));

    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    auto* plain = new QLabel(QStringLiteral("Geländehöhen aus Punktrastern im Gauß-Krüger-System"), this);
    auto* mail = new QLabel(
        QStringLiteral("<a href=\"mailto:info@tervalo.example\">info@tervalo.example</a>"), this);
    auto* web = new QLabel(QStringLiteral("<a href=\"https://tervalo.example\">https://tervalo.example</a>"), this);
    for (QLabel* l : {mail, web}) {
        l->setTextFormat(Qt::RichText);
        l->setOpenExternalLinks(true);
        l->setTextInteractionFlags(Qt::TextBrowserInteraction);
    }

    PhysMem = new QLabel(this);
    PhysMem->setObjectName(QStringLiteral("PhysMem"));
    FreeRes = new QLabel(this);
    FreeRes->setObjectName(QStringLiteral("FreeRes"));
    PhysMem->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FreeRes->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    OKButton = new QPushButton(QStringLiteral("&OK"), this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(ProductName);
    text->addSpacing(6);
    text->addWidget(Label5);
    text->addWidget(plain);
    text->addWidget(mail);
    text->addWidget(web);
    text->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(ProgramIcon, 0, Qt::AlignTop);
    top->addLayout(text, 1);

    auto* mem = new QGridLayout;
    mem->setHorizontalSpacing(12);
    mem->addWidget(new QLabel(QStringLiteral("Gesamter physik. Arbeitsspeicher:"), this), 0, 0);
    mem->addWidget(PhysMem, 0, 1);
    mem->addWidget(new QLabel(QStringLiteral("Derzeitige Auslastung des Speichers:"), this), 1, 0);
    mem->addWidget(FreeRes, 1, 1);
    mem->setColumnStretch(2, 1);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::HLine);
    frame->setFrameShadow(QFrame::Sunken);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(14, 14, 14, 12);
    all->addLayout(top);
    all->addWidget(frame);
    all->addLayout(mem);
    all->addSpacing(6);
    all->addWidget(OKButton);

    FormCreate();
    setFixedSize(sizeHint());
}

void TAboutBox::FormCreate() {
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString version = QString::fromLatin1(Version);
    setWindowTitle(QStringLiteral("Info zu %1, Version %2").arg(exe, version));
    Label5->setText(QStringLiteral("Stand:  %1,   Version:  %2").arg(QString::fromUtf8(Datum), version));
    const TMemoryStatus m = ReadMemoryStatus();
    PhysMem->setText(PhysMemText(m.TotalBytes, QLocale()));
    FreeRes->setText(LoadText(m.LoadPercent));
}

void TAboutBox::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred over the main window.
    if (QWidget* main = MainWindow(); main && main != this && main->isVisible())
        move(main->frameGeometry().center() - QPoint(width() / 2, height() / 2));
}

}  // namespace tervalo
