#pragma once
// The general error report: whatever an event handler throws ends that action and is shown
// in a message box captioned with the application title; the program then goes on.
#include <QApplication>
#include <QString>
#include <exception>

namespace tervalo {

// The text as the report shows it: a "." is added when the last character's code is above ".".
QString ErrorReportText(const QString& message);

// Shows the report for an error; ESilentAbort shows nothing.
void ShowErrorReport(const std::exception& e);
void ShowErrorReport(const QString& message);

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs fn and reports what it throws; returns false when it threw. For code that runs
// outside an event handler (start-up) or must go on after a failed step.
template <typename F>
bool Guarded(F&& fn);

}  // namespace tervalo

#include "tools/Errors.h"

namespace tervalo {

template <typename F>
bool Guarded(F&& fn) {
    try {
        fn();
        return true;
    } catch (const ESilentAbort&) {
        return false;
    } catch (const std::exception& e) {
        ShowErrorReport(e);
        return false;
    }
}

}  // namespace tervalo
