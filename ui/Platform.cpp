#include "Platform.h"

#include "tools/Tools.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>
#include <filesystem>

namespace tervalo {

namespace {

// Notes Escape presses and swallows them, so that the key reaches no control while a
// long run watches it.
class TEscapeFilter : public QObject {
public:
    bool Pressed = false;
    int Watches = 0;

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (Watches > 0 && (ev->type() == QEvent::KeyPress || ev->type() == QEvent::ShortcutOverride)) {
            auto* key = static_cast<QKeyEvent*>(ev);
            if (key->key() == Qt::Key_Escape) {
                if (ev->type() == QEvent::KeyPress && !key->isAutoRepeat()) Pressed = true;
                return true;
            }
        }
        return QObject::eventFilter(obj, ev);
    }
};

// Qt's own provider asks the MIME database, which reads a file's first bytes when its name
// says too little, and a read of /proc/kmsg never returns.
class TNameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        return icon(info.isDir() ? QAbstractFileIconProvider::Folder : QAbstractFileIconProvider::File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QStringLiteral("Ordner");
        const QString ext = info.suffix();
        return ext.isEmpty() ? QStringLiteral("Datei") : ext.toUpper() + QStringLiteral("-Datei");
    }
};

class TQtPlatform : public TPlatform {
public:
    TMsgResult MessageBox(QWidget* parent, const QString& caption, const QString& text,
                          TMsgIcon icon, TMsgButtons buttons) override {
        QMessageBox box(parent);
        box.setWindowTitle(caption);
        box.setText(text);
        box.setIcon(icon == TMsgIcon::Error      ? QMessageBox::Critical
                    : icon == TMsgIcon::Question ? QMessageBox::Question
                                                 : QMessageBox::Information);
        if (buttons == TMsgButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        const int r = box.exec();
        if (buttons == TMsgButtons::Ok) return TMsgResult::Ok;
        return r == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
    }

    QStringList OpenFiles(QWidget* parent, const TOpenDialog& dlg) override {
        QFileDialog fd(parent, dlg.Title, dlg.InitialDir);
        fd.setIconProvider(NameOnlyIconProvider());
        fd.setAcceptMode(QFileDialog::AcceptOpen);
        fd.setFileMode(QFileDialog::ExistingFiles);
        fd.setNameFilters(dlg.Filters);
        if (fd.exec() != QDialog::Accepted) return {};
        return fd.selectedFiles();
    }

    QString OpenFolder(QWidget* parent, const TOpenDialog& dlg) override {
        QFileDialog fd(parent, dlg.Title, dlg.InitialDir);
        fd.setIconProvider(NameOnlyIconProvider());
        fd.setAcceptMode(QFileDialog::AcceptOpen);
        fd.setFileMode(QFileDialog::Directory);
        fd.setOption(QFileDialog::ShowDirsOnly, true);
        if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) return {};
        QString path = fd.selectedFiles().first();
        // The catalogue keeps a folder's path without the final separator.
        while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
        return path;
    }

    TSaveResult SaveFile(QWidget* parent, const TSaveDialog& dlg) override {
        QFileDialog fd(parent, dlg.Title, dlg.InitialDir);
        fd.setIconProvider(NameOnlyIconProvider());
        fd.setAcceptMode(QFileDialog::AcceptSave);
        fd.setFileMode(QFileDialog::AnyFile);
        fd.setNameFilters(dlg.Filters);
        if (dlg.FilterIndex >= 1 && dlg.FilterIndex <= dlg.Filters.size())
            fd.selectNameFilter(dlg.Filters[dlg.FilterIndex - 1]);
        if (!dlg.FileName.isEmpty()) fd.selectFile(dlg.FileName);
        fd.setOption(QFileDialog::DontConfirmOverwrite, !dlg.OverwritePrompt);
        TSaveResult res;
        res.FilterIndex = dlg.FilterIndex;
        if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) return res;
        res.Accepted = true;
        res.Path = fd.selectedFiles().first();
        const int idx = dlg.Filters.indexOf(fd.selectedNameFilter());
        if (idx >= 0) res.FilterIndex = idx + 1;
        return res;
    }

    void Beep() override { QApplication::beep(); }

    void SetClipboardText(const QString& text) override {
        QApplication::clipboard()->setText(text, QClipboard::Clipboard);
    }
    QString ClipboardText() override { return QApplication::clipboard()->text(QClipboard::Clipboard); }

    void SetBusyCursor(bool busy) override {
        if (busy == busy_) return;
        busy_ = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }

    void ProcessEvents() override { QCoreApplication::processEvents(); }

    // Key presses do not sit in Qt's posted-event queue; the Escape watch has already
    // kept the press from any control, so there is nothing left to drop.
    void DropMessage() override {}

    void BeginEscapeWatch() override {
        if (!filter_) {
            filter_ = new TEscapeFilter;
            qApp->installEventFilter(filter_);
        }
        if (filter_->Watches++ == 0) filter_->Pressed = false;
    }
    void EndEscapeWatch() override {
        if (filter_ && filter_->Watches > 0) --filter_->Watches;
    }
    bool EscapePressed() override {
        if (!filter_ || !filter_->Pressed) return false;
        filter_->Pressed = false;
        return true;
    }

    bool IsActiveApplication() override {
        return QGuiApplication::applicationState() == Qt::ApplicationActive;
    }

private:
    bool busy_ = false;
    TEscapeFilter* filter_ = nullptr;  // owned by nobody: lives as long as the program
};

TPlatform* g_platform = nullptr;

}  // namespace

QFileIconProvider* NameOnlyIconProvider() {
    // Never destroyed: its cached icons must not be freed after the application has gone.
    static auto* provider = new TNameOnlyIconProvider;
    return provider;
}

TPlatform& Platform() {
    static TQtPlatform qt;
    return g_platform ? *g_platform : qt;
}

void SetPlatform(TPlatform* platform) { g_platform = platform; }

TEscapeWatch::TEscapeWatch() { Platform().BeginEscapeWatch(); }
TEscapeWatch::~TEscapeWatch() { Platform().EndEscapeWatch(); }

bool ConfirmAppendedTarget(QWidget* owner, TSaveDialog& dlg, const TSaveResult& chosen,
                           const std::string& typed, const std::string& target) {
    if (target == typed || !std::filesystem::exists(std::filesystem::path(target)) ||
        Platform().MessageBox(owner, QStringLiteral("Best\u00E4tigen"),
                              QString::fromStdString(FileNamePart(target)) +
                                  QStringLiteral(" existiert bereits.\nErsetzen?"),
                              TMsgIcon::Question, TMsgButtons::YesNo) == TMsgResult::Yes)
        return true;
    dlg.InitialDir = QString::fromStdString(FolderPart(typed));
    dlg.FileName = QString::fromStdString(FileNamePart(typed));
    dlg.FilterIndex = chosen.FilterIndex;
    return false;
}

bool AskCancel(QWidget* parent, QWidget* keepAbove) {
    TPlatform& p = Platform();
    p.DropMessage();
    const bool yes = p.MessageBox(parent, QStringLiteral("Best\u00E4tigen"), QStringLiteral("Wirklich abbrechen?"),
                                  TMsgIcon::Question, TMsgButtons::YesNo) == TMsgResult::Yes;
    // Closing the question activates its parent, which the window manager raises over
    // a progress window of its own.
    if (!yes && keepAbove) {
        keepAbove->show();
        keepAbove->raise();
    }
    return yes;
}

bool EscapeCancelCheck(QWidget* parent, QWidget* keepAbove) {
    TPlatform& p = Platform();
    if (p.EscapePressed() && p.IsActiveApplication()) return AskCancel(parent, keepAbove);
    p.ProcessEvents();
    return false;
}

void TEventThrottle::ProcessEvents() {
    if (timer_.isValid() && timer_.elapsed() < intervalMs_) return;
    Platform().ProcessEvents();
    timer_.start();
}

char UserDecimalSeparator() {
    const QString p = QLocale().decimalPoint();
    return p.size() == 1 && p[0].unicode() < 128 ? static_cast<char>(p[0].unicode()) : ',';
}

TMsgResult TScriptedPlatform::MessageBox(QWidget*, const QString& caption, const QString& text,
                                         TMsgIcon icon, TMsgButtons buttons) {
    Messages.push_back({caption, text, icon, buttons});
    if (!MessageAnswers.empty()) {
        const TMsgResult r = MessageAnswers.front();
        MessageAnswers.pop_front();
        return r;
    }
    return buttons == TMsgButtons::Ok ? TMsgResult::Ok : TMsgResult::No;
}

QStringList TScriptedPlatform::OpenFiles(QWidget*, const TOpenDialog& dlg) {
    OpenDialogs.push_back(dlg);
    if (OpenAnswers.empty()) return {};
    QStringList r = OpenAnswers.front();
    OpenAnswers.pop_front();
    return r;
}

QString TScriptedPlatform::OpenFolder(QWidget*, const TOpenDialog& dlg) {
    FolderDialogs.push_back(dlg);
    if (FolderAnswers.empty()) return {};
    QString r = FolderAnswers.front();
    FolderAnswers.pop_front();
    return r;
}

TSaveResult TScriptedPlatform::SaveFile(QWidget*, const TSaveDialog& dlg) {
    SaveDialogs.push_back(dlg);
    if (SaveAnswers.empty()) return {};
    TSaveResult r = SaveAnswers.front();
    SaveAnswers.pop_front();
    return r;
}

void TScriptedPlatform::ProcessEvents() {
    ++ProcessCalls;
    if (OnProcessEvents) OnProcessEvents();
}

bool TScriptedPlatform::EscapePressed() {
    if (PendingEscapes <= 0) return false;
    --PendingEscapes;
    return true;
}

}  // namespace tervalo
