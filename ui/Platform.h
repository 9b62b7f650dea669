#pragma once
// Platform services behind one small interface, so window code can be driven by a script
// in tests: message boxes, file dialogs, beep, clipboard, busy cursor, event handling
// inside long runs and the Escape key.
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class QFileIconProvider;

namespace tervalo {

enum class TMsgIcon { Error, Question, Info };
enum class TMsgButtons { Ok, YesNo };
enum class TMsgResult { Ok, Yes, No };

struct TOpenDialog {
    QString Title;
    QStringList Filters;     // e.g. "XYZ-Dateien (*.xyz)"
    QString InitialDir;
};

struct TSaveDialog {
    QString Title;
    QStringList Filters;
    int FilterIndex = 1;     // 1-based, as the chosen filter is reported back
    QString InitialDir;
    QString FileName;        // proposed name, may be empty
    bool OverwritePrompt = true;
};

struct TSaveResult {
    bool Accepted = false;
    QString Path;
    int FilterIndex = 1;     // 1-based
};

class TPlatform {
public:
    virtual ~TPlatform() = default;
    virtual TMsgResult MessageBox(QWidget* parent, const QString& caption, const QString& text,
                                  TMsgIcon icon, TMsgButtons buttons) = 0;
    // Several files may be chosen; empty when cancelled.
    virtual QStringList OpenFiles(QWidget* parent, const TOpenDialog& dlg) = 0;
    // One existing folder (no "/" at the end); empty when cancelled. Filters are not used.
    virtual QString OpenFolder(QWidget* parent, const TOpenDialog& dlg) = 0;
    virtual TSaveResult SaveFile(QWidget* parent, const TSaveDialog& dlg) = 0;
    virtual void Beep() = 0;
    virtual void SetClipboardText(const QString& text) = 0;
    virtual QString ClipboardText() = 0;
    // Hourglass for the whole application; calls do not nest, the last one wins.
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void ProcessEvents() = 0;
    // Takes one pending event off the queue without dispatching it. The Escape press that
    // a long run reacts to is already swallowed by the Escape watch, so little is left to do.
    virtual void DropMessage() = 0;
    // While at least one watch is active an application event filter notes Escape presses
    // and swallows them; starting the first watch forgets earlier presses.
    virtual void BeginEscapeWatch() = 0;
    virtual void EndEscapeWatch() = 0;
    // True once per Escape press noted since the last call.
    virtual bool EscapePressed() = 0;
    virtual bool IsActiveApplication() = 0;
};

// Scoped Escape watch for long runs.
class TEscapeWatch {
public:
    TEscapeWatch();
    ~TEscapeWatch();
    TEscapeWatch(const TEscapeWatch&) = delete;
    TEscapeWatch& operator=(const TEscapeWatch&) = delete;
};

// The question of every long run: drops one pending event and asks "Wirklich abbrechen?"
// (true for Yes). `keepAbove`, a progress window, is raised again after the answer No.
bool AskCancel(QWidget* parent, QWidget* keepAbove = nullptr);

// The cancel check of long runs: after an Escape press while the program is active, asks
// (AskCancel); otherwise lets the application handle its pending events. Used with a
// TEscapeWatch in force.
bool EscapeCancelCheck(QWidget* parent, QWidget* keepAbove = nullptr);

// Lets the application handle its pending events at most once per interval, for runs that
// poll after every record: handling them each time would cost more than reading the record.
class TEventThrottle {
public:
    explicit TEventThrottle(int intervalMs = 20) : intervalMs_(intervalMs) {}
    void ProcessEvents();

private:
    int intervalMs_;
    QElapsedTimer timer_;
};

// The user's decimal separator, as core takes it: a separator outside ASCII reads as ",".
char UserDecimalSeparator();

// The save dialog asked about the name as typed, not about the one with the default extension
// appended: when that one exists, asks "… existiert bereits. Ersetzen?". True to go on; false
// ("Nein") after setting the dialog up to open again with the typed name and the chosen filter.
bool ConfirmAppendedTarget(QWidget* owner, TSaveDialog& dlg, const TSaveResult& chosen,
                           const std::string& typed, const std::string& target);

// Icons and type names of the program's file dialogs, decided by a name's type and
// extension alone: no file is opened to show it, so folders like /proc/ cannot stall a dialog.
QFileIconProvider* NameOnlyIconProvider();

// The platform in use: the Qt one unless a test has installed another (nullptr restores it).
TPlatform& Platform();
void SetPlatform(TPlatform* platform);

// Scripted platform for tests: answers come from queues, every call is recorded.
class TScriptedPlatform : public TPlatform {
public:
    struct TMessage {
        QString Caption, Text;
        TMsgIcon Icon;
        TMsgButtons Buttons;
    };
    // Answers; an empty queue answers Ok / No, an empty file list or folder, a cancelled save
    // dialog.
    std::deque<TMsgResult> MessageAnswers;
    std::deque<QStringList> OpenAnswers;
    std::deque<QString> FolderAnswers;
    std::deque<TSaveResult> SaveAnswers;
    // Escape presses reported by EscapePressed(), one per call, before it answers false.
    int PendingEscapes = 0;
    bool Active = true;

    // Records.
    std::vector<TMessage> Messages;
    std::vector<TOpenDialog> OpenDialogs;
    std::vector<TOpenDialog> FolderDialogs;
    std::vector<TSaveDialog> SaveDialogs;
    int Beeps = 0;
    int Drops = 0;
    int ProcessCalls = 0;
    int EscapeWatches = 0;   // currently active
    bool Busy = false;
    int BusyChanges = 0;
    QString Clipboard;
    int ClipboardWrites = 0;
    // Called on each ProcessEvents(), e.g. to press Escape in the middle of a run.
    std::function<void()> OnProcessEvents;

    TMsgResult MessageBox(QWidget*, const QString& caption, const QString& text, TMsgIcon icon,
                          TMsgButtons buttons) override;
    QStringList OpenFiles(QWidget*, const TOpenDialog& dlg) override;
    QString OpenFolder(QWidget*, const TOpenDialog& dlg) override;
    TSaveResult SaveFile(QWidget*, const TSaveDialog& dlg) override;
    void Beep() override { ++Beeps; }
    void SetClipboardText(const QString& text) override { Clipboard = text; ++ClipboardWrites; }
    QString ClipboardText() override { return Clipboard; }
    void SetBusyCursor(bool busy) override { if (busy != Busy) ++BusyChanges; Busy = busy; }
    void ProcessEvents() override;
    void DropMessage() override { ++Drops; }
    void BeginEscapeWatch() override { ++EscapeWatches; }
    void EndEscapeWatch() override { --EscapeWatches; }
    bool EscapePressed() override;
    bool IsActiveApplication() override { return Active; }
};

// Installs a scripted platform for the lifetime of the object.
class TScopedPlatform {
public:
    explicit TScopedPlatform(TPlatform& p) { SetPlatform(&p); }
    ~TScopedPlatform() { SetPlatform(nullptr); }
    TScopedPlatform(const TScopedPlatform&) = delete;
    TScopedPlatform& operator=(const TScopedPlatform&) = delete;
};

}  // namespace tervalo
