#include "DBFInfoFrm.h"

#include "filemanager/DbfInfo.h"
#include "ui/Platform.h"
#include "tools/ScopeGuard.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>

namespace tervalo {

namespace {

// Appends the lines as they come and offers cancelling the extent scan with Escape.
class TInfoObserver : public TDbfInfoBeobachter {
public:
    explicit TInfoObserver(TDBFInfoForm& f) : f_(f) {}

    void AddLine(const std::string& line) override {
        f_.Memo2->appendPlainText(QString::fromStdString(line));
        f_.Memo2->repaint();
    }

    bool CancelCheck() override {
        // Closed meanwhile ("Ende" or the title bar): nobody waits for the rest.
        if (f_.ClosedDuringScan()) return true;
        if (Platform().EscapePressed()) return AskCancel(&f_);
        events_.ProcessEvents();
        return false;
    }

private:
    TDBFInfoForm& f_;
    TEventThrottle events_;
};

}  // namespace

TDBFInfoForm::TDBFInfoForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("DBFInfoForm"));
    setWindowTitle(QStringLiteral("  DBF-Info"));
    resize(537, 270);

    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    // One tab stop beyond the longest label, so that every value starts at the same place.
    {
        const QFontMetrics fm(Memo2->font());
        int widest = 0;
        for (const char* label : {"Dateiformat: ", "Anzahl Datens\xC3\xA4tze: ", "Anzahl der Spalten: ",
                                  "Datei exclusiv offen: ", "Dateistatus: ", "Xmin =", "Xmax =", "Ymin =", "Ymax ="})
            widest = std::max(widest, fm.horizontalAdvance(QString::fromUtf8(label)));
        Memo2->setTabStopDistance(widest + fm.horizontalAdvance(QStringLiteral("  ")));
    }

    BottomBar = new QWidget(this);
    BottomBar->setFixedHeight(33);
    ENDEButton = new QPushButton(QStringLiteral("Ende"), BottomBar);
    ENDEButton->setObjectName(QStringLiteral("ENDEButton"));
    ENDEButton->setDefault(true);
    ENDEButton->setAutoDefault(true);
    auto* bar = new QHBoxLayout(BottomBar);
    bar->setContentsMargins(8, 4, 8, 4);
    bar->addStretch(1);
    bar->addWidget(ENDEButton);
    bar->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(Memo2, 1);
    outer->addWidget(BottomBar);

    connect(ENDEButton, &QPushButton::clicked, this, [this] { ENDEButtonClick(); });
}

int TDBFInfoForm::MyShowModal(const std::string& path) {
    Path = path;
    setWindowModality(Qt::ApplicationModal);
    // The text is complete before the window appears: a table the reader refuses ends here
    // with the error and without a window.
    {
        Platform().SetBusyCursor(true);
        auto busy = OnExit([] { Platform().SetBusyCursor(false); });
        FormShow();
    }
    if (ClosedDuringScan()) return result();
    return exec();
}

void TDBFInfoForm::FormShow() {
    Memo2->clear();
    cancelled_ = false;
    closed_ = false;
    scanning_ = true;
    auto scanning = OnExit([this] { scanning_ = false; });
    TInfoObserver obs(*this);
    std::vector<std::string> lines;
    {
        // Escape belongs to the scan while it runs, not to the window's cancel button.
        TEscapeWatch watch;
        lines = DbfInfoLines(Path, &obs, UserDecimalSeparator());
    }
    cancelled_ = !lines.empty() && lines.back() == kDbfInfoCancelled;
    ENDEButton->setFocus(Qt::OtherFocusReason);
}

void TDBFInfoForm::ENDEButtonClick() { done(QDialog::Accepted); }

void TDBFInfoForm::done(int r) {
    if (scanning_) closed_ = true;
    QDialog::done(r);
}

QStringList TDBFInfoForm::Lines() const {
    QStringList out;
    for (QTextBlock b = Memo2->document()->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

}  // namespace tervalo
