#pragma once
// Helpers of the administrator window tests: answering modal windows, watching short
// messages, writing point files and tables.
#include "ui_test_support.h"

#include "formats/DbfFile.h"
#include "ui/Globals.h"
#include "ui/KurzMeldung.h"

#include <QApplication>
#include <QFocusEvent>
#include <QTimer>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace tervalo::test {

// Runs fn on the next modal window of type T as soon as it is open (inside its event loop).
template <typename T>
void OnModal(std::function<void(T*)> fn) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fn(w);
        }
    });
    timer->start();
}

// Records the texts of the short messages shown while it lives (they wait with timers running).
class ShortMessageSpy {
public:
    ShortMessageSpy() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* m = qobject_cast<TKurzMeldgFrm*>(w); m && m->isVisible()) {
                    const QString t = m->Label1->text();
                    if (Texts.empty() || Texts.back() != t) Texts.push_back(t);
                }
        });
        timer_.start(20);
    }
    std::vector<QString> Texts;

private:
    QTimer timer_;
};

// Counts the events of one type that reach the objects it watches.
class EventCounter : public QObject {
public:
    EventCounter(QEvent::Type type, int& count) : type_(type), count_(count) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == type_) ++count_;
        return QObject::eventFilter(o, e);
    }

private:
    QEvent::Type type_;
    int& count_;
};

// Leaves a field as the user's Tab would.
inline void LeaveField(QWidget* w) {
    QFocusEvent ev(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &ev);
}

inline std::string WriteText(const QTemporaryDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.path().toStdString() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct Pt {
    double x, y, z;
};

inline std::string WriteTable(const QTemporaryDir& dir, const std::string& name, int level,
                              const std::vector<Pt>& points) {
    const std::string path = dir.path().toStdString() + "/" + name;
    TSichereDatei file(path);
    TDbfFile dbf;
    dbf.CreateTable(file, level, XyzFieldDefs());
    for (const Pt& p : points) dbf.AppendRecord(p.x, p.y, p.z);
    dbf.Close();
    file.Commit();
    return path;
}

// Keeps the global settings and the administrator flag of one test from the next.
class AdminTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        saved_ = Settings;
        savedAdmin_ = Admin;
        Settings = TSettings{};
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        Settings = saved_;
        Admin = savedAdmin_;
        UiTest::TearDown();
    }
    QTemporaryDir dir;

private:
    TSettings saved_;
    bool savedAdmin_ = false;
};

}  // namespace tervalo::test
