#pragma once
// Shared set-up of the window tests.
//
// The test executable links GTest's own main, so the application object is created lazily:
// every ui test calls tervalo::test::UiApp() before it makes a widget (UiTest below does it
// in SetUp). It runs Qt's offscreen platform, a German locale for numbers, and the program's
// own TApplication, so the general error report is in force as in the program.
#include "ui/ErrorReport.h"
#include "ui/Platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace tervalo::test {

inline QApplication& UiApp() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char arg0[] = "test_ui";
        static char* argv[] = {arg0, nullptr};
        // Kept for the whole run: widgets of static lifetime may outlive the tests.
        auto* a = new TApplication(argc, argv);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        return a;
    }();
    return *app;
}

// Fixture with the application, the German locale and a scripted platform.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        UiApp();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        SetPlatform(&platform);
    }
    void TearDown() override { SetPlatform(nullptr); }

    TScriptedPlatform platform;
};

// Sends one typed character (or a key without text) to a widget.
inline void TypeKey(QWidget* w, int key, const QString& text = {},
                    Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &release);
}

inline void TypeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        const int key = c.isDigit() ? Qt::Key_0 + (c.unicode() - u'0') : c.toUpper().unicode();
        TypeKey(w, key, QString(c));
    }
}

}  // namespace tervalo::test
