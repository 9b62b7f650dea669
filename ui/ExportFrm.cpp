#include "ExportFrm.h"

#include "export/Export.h"
#include "tools/Tools.h"
#include "ui/ErrorReport.h"
#include "ui/IndexFenster.h"
#include "ui/Platform.h"
#include "tools/ScopeGuard.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <filesystem>
#include <memory>

namespace tervalo {

namespace {

QString U(const std::string& s) { return QString::fromStdString(s); }

QLabel* Caption(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// The drawn rectangle labelled "Bereich" between the four bounds.
class TBereichSketch : public QWidget {
public:
    explicit TBereichSketch(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(QColor(0x80, 0x00, 0x00), 1, Qt::DashLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        p.setPen(palette().color(QPalette::WindowText));
        // Shrink the label until it fits inside the frame.
        const QString text = QStringLiteral("Bereich");
        QFont f = font();
        while (f.pointSizeF() > 5 && QFontMetrics(f).horizontalAdvance(text) > width() - 4)
            f.setPointSizeF(f.pointSizeF() - 0.5);
        p.setFont(f);
        p.drawText(rect(), Qt::AlignCenter, text);
    }
};

// The filter list of a save dialog from the "caption|pattern|..." form: the captions,
// which carry their patterns in parentheses.
QStringList FilterCaptions(const char* filter) {
    const QStringList parts = QString::fromUtf8(filter).split(u'|');
    QStringList captions;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) captions << parts[i];
    return captions;
}

class TFormObserver : public TExportBeobachter {
public:
    explicit TFormObserver(TExportForm& f) : f_(f) {}
    void Log(const std::string& line) override { f_.Memo1->appendPlainText(U(line)); }
    void Counters(int32_t fileCount, int32_t total, int32_t duplicates) override {
        f_.ST_nOutWerte->setText(U(OutWerteText(fileCount, total)));
        f_.ST_nDoppelt->setText(QString::number(duplicates));
    }
    // A folder's index is built before its tiles are read: its window stands over the export
    // window meanwhile, and its button cancels the run as Escape does.
    void Fortschritt(const std::string& text, std::size_t fertig, std::size_t gesamt) override {
        if (fertig >= gesamt) {
            index_.reset();
            uhr_.invalidate();
            return;
        }
        // A few changed tiles are done before a window would be seen.
        if (!uhr_.isValid()) uhr_.start();
        if (!index_ && uhr_.elapsed() < f_.IndexFensterMs) return;
        if (!index_) {
            index_ = std::make_unique<TIndexFenster>(&f_, QString());
            index_->SetText(U(text));
            index_->ShowCentred();
        }
        index_->SetText(U(text));
        index_->SetFortschritt(fertig, gesamt);
    }
    bool CancelCheck() override {
        if (index_ && index_->Abgebrochen()) return true;
        return EscapeCancelCheck(&f_, index_.get());
    }

private:
    TExportForm& f_;
    std::unique_ptr<TIndexFenster> index_;
    QElapsedTimer uhr_;
};

}  // namespace

TExportForm::TExportForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                         Qt::WindowCloseButtonHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("ExportForm"));
    setWindowTitle(QStringLiteral("  Datenexport"));
    resize(560, 428);

    GroupBox1 = new QGroupBox(QStringLiteral(" Koordinatenbereich zum Export "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 544, 132);
    const QString xHint = QStringLiteral("X-Koordinate in Meter\ndes Gau\u00DF-Kr\u00FCger-Systems");
    const QString yHint = QStringLiteral("Y-Koordinate in Meter\ndes Gau\u00DF-Kr\u00FCger-Systems");
    auto makeBound = [this](const char* name, const QString& caption, const QString& hint, int x, int y) {
        Caption(GroupBox1, caption, x, y + 4);
        auto* e = new TPBNumEdit(GroupBox1);
        e->setObjectName(QString::fromLatin1(name));
        e->SetDecimals(2);
        e->SetMaxLength(12);
        e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        e->setGeometry(x + 40, y, 110, 24);
        e->setToolTip(hint);
        e->SetValue(0.0);
        Caption(GroupBox1, QStringLiteral("[m]"), x + 154, y + 4);
        return e;
    };
    // Xmin left and Xmax right of the sketch, Ymax above and Ymin below it, each field
    // centred on its side; the sketch fills the room between them.
    PBN_Ymax = makeBound("PBN_Ymax", QStringLiteral("Ymax:"), yHint, 177, 22);
    PBN_Xmin = makeBound("PBN_Xmin", QStringLiteral("Xmin:"), xHint, 8, 60);
    PBN_Xmax = makeBound("PBN_Xmax", QStringLiteral("Xmax:"), xHint, 362, 60);
    PBN_Ymin = makeBound("PBN_Ymin", QStringLiteral("Ymin:"), yHint, 177, 98);
    auto* sketch = new TBereichSketch(GroupBox1);
    sketch->setObjectName(QStringLiteral("Bereich"));
    sketch->setGeometry(192, 50, 164, 44);

    GroupBox2 = new QGroupBox(QStringLiteral("dBase-Version (Export)   "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 148, 200, 48);
    auto makeRadio = [this](const char* name, const QString& caption, int x) {
        auto* r = new QRadioButton(caption, GroupBox2);
        r->setObjectName(QString::fromLatin1(name));
        r->setGeometry(x, 20, 44, 20);
        return r;
    };
    RB1_DBFVersion = makeRadio("RB1_DBFVersion", QStringLiteral("3"), 12);
    RB2_DBFVersion = makeRadio("RB2_DBFVersion", QStringLiteral("4"), 72);
    RB3_DBFVersion = makeRadio("RB3_DBFVersion", QStringLiteral("7"), 132);
    RB1_DBFVersion->setChecked(true);

    DoExportBtn = new QPushButton(QStringLiteral("Export"), this);
    DoExportBtn->setObjectName(QStringLiteral("DoExportBtn"));
    DoExportBtn->setToolTip(QStringLiteral("Export als dBase oder ASCII-Datei"));
    DoExportBtn->setGeometry(336, 156, 100, 34);
    DoExportBtn->setDefault(true);

    const QString outHint = QStringLiteral("Werte aus aktueller Datei/ Gesamtwerte.");
    const QString dupHint = QStringLiteral("Werte, die doppelt vorkommen.");
    Caption(this, QStringLiteral("---> exportierte Werte:"), 12, 206)->setToolTip(outHint);
    ST_nOutWerte = new QLabel(QStringLiteral("0/ 0"), this);
    ST_nOutWerte->setObjectName(QStringLiteral("ST_nOutWerte"));
    ST_nOutWerte->setGeometry(160, 206, 160, 18);
    ST_nOutWerte->setToolTip(outHint);
    Caption(this, QStringLiteral("---> doppelte Werte:"), 12, 226)->setToolTip(dupHint);
    ST_nDoppelt = new QLabel(QStringLiteral("0"), this);
    ST_nDoppelt->setObjectName(QStringLiteral("ST_nDoppelt"));
    ST_nDoppelt->setGeometry(160, 226, 160, 18);
    ST_nDoppelt->setToolTip(dupHint);

    OKButton = new QPushButton(QStringLiteral("Ende"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(452, 156, 100, 34);
    OKButton->setAutoDefault(false);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 252, 544, 168);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);

    connect(DoExportBtn, &QPushButton::clicked, this, [this] { Guarded([&] { DoExportBtnClick(); }); });
    connect(OKButton, &QPushButton::clicked, this, [this] {
        if (!running_) accept();
    });
    setTabOrder(PBN_Xmin, PBN_Xmax);
    setTabOrder(PBN_Xmax, PBN_Ymin);
    setTabOrder(PBN_Ymin, PBN_Ymax);
    setTabOrder(PBN_Ymax, DoExportBtn);
}

int TExportForm::MyShowModal(TDateien& dateien) {
    Dateien = dateien;
    if (parentWidget()) {
        const QRect o = parentWidget()->frameGeometry();
        move(o.center() - rect().center());
    }
    const int r = exec();
    dateien = Dateien;
    return r;
}

void TExportForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    FormShow();
}

void TExportForm::FormShow() {
    PBN_Xmin->setFocus();
    Memo1->clear();
}

int DbfVersionButton(int level) { return level == 4 ? 2 : level == 7 ? 3 : 1; }

int DbfVersionOfButton(int button) { return button == 2 ? 4 : button == 3 ? 7 : 3; }

int TExportForm::DBFVersion() const {
    return DbfVersionOfButton(RB2_DBFVersion->isChecked() ? 2 : RB3_DBFVersion->isChecked() ? 3 : 1);
}

void TExportForm::SetDBFVersion(int level) {
    QRadioButton* const radio[] = {RB1_DBFVersion, RB2_DBFVersion, RB3_DBFVersion};
    radio[DbfVersionButton(level) - 1]->setChecked(true);
}

// While a run is in progress nothing may start another run or close the window, and the
// bounds stay as they were taken.
void TExportForm::SetRunning(bool running) {
    running_ = running;
    for (QWidget* w : std::initializer_list<QWidget*>{DoExportBtn, OKButton, PBN_Xmin, PBN_Xmax, PBN_Ymin,
                                                      PBN_Ymax, RB1_DBFVersion, RB2_DBFVersion, RB3_DBFVersion})
        w->setEnabled(!running);
}

void TExportForm::closeEvent(QCloseEvent* e) {
    if (running_)
        e->ignore();
    else
        QDialog::closeEvent(e);
}

void TExportForm::reject() {
    if (!running_) QDialog::reject();
}

void TExportForm::DoExportBtnClick() {
    if (running_) return;
    // The run uses the bounds as shown: a text that does not convert stops it here.
    for (TPBNumEdit* f : {PBN_Xmin, PBN_Xmax, PBN_Ymin, PBN_Ymax}) {
        if (!f->Commit()) {
            f->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    TSaveDialog dlg;
    dlg.Title = QString::fromUtf8(ExportDialogTitle);
    dlg.Filters = FilterCaptions(ExportDialogFilter);
    dlg.FilterIndex = 1;
    dlg.OverwritePrompt = true;
    TSaveResult chosen;
    std::string path;
    for (;;) {
        chosen = Platform().SaveFile(this, dlg);
        if (!chosen.Accepted || chosen.Path.isEmpty()) break;
        const std::string typed = chosen.Path.toStdString();
        path = ExportTargetPath(typed, chosen.FilterIndex);
        if (ConfirmAppendedTarget(this, dlg, chosen, typed, path)) break;
    }
    if (chosen.Accepted && !chosen.Path.isEmpty()) {
        const TAusgabe format = ExportFormatFromFilter(chosen.FilterIndex, DBFVersion());
        // The bounds are taken once; the fields cannot change during the run.
        const TExportGrenzen bounds{PBN_Xmin->Value(), PBN_Xmax->Value(), PBN_Ymin->Value(), PBN_Ymax->Value()};
        TLaufOptionen options;
        options.DecimalSeparator = UserDecimalSeparator();
        options.Poll = Poll;

        ST_nDoppelt->setText(QStringLiteral("0"));
        ST_nOutWerte->setText(QStringLiteral("0/ 0"));
        Memo1->clear();

        SetRunning(true);
        auto scope = OnExit([this] { SetRunning(false); });
        TEscapeWatch watch;
        TFormObserver observer(*this);
        ExportRun(Dateien, bounds, path, format, options, observer);
    }
    if (PBN_Xmin->isEnabled() && PBN_Xmin->isVisible()) PBN_Xmin->setFocus();
}

}  // namespace tervalo
