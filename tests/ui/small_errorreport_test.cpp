#include "ui_test_support.h"

#include "tools/Errors.h"
#include "ui/ErrorReport.h"
#include "ui/Globals.h"

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTranslator>
#include <stdexcept>

using namespace tervalo;

namespace {

using ErrorReportTest = tervalo::test::UiTest;

// An object whose event handler fails the way a window handler would.
class Thrower : public QObject {
public:
    std::function<void()> Throw;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) Throw();
        return QObject::event(e);
    }
};

TEST_F(ErrorReportTest, PointIsAddedOnlyAfterCharactersAbovePoint) {
    EXPECT_EQ(ErrorReportText(QStringLiteral("Datei nicht gefunden")), QStringLiteral("Datei nicht gefunden."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("E/A-Fehler 5")), QStringLiteral("E/A-Fehler 5."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Invalid DBF file.")), QStringLiteral("Invalid DBF file."));
    EXPECT_EQ(ErrorReportText(QStringLiteral("Wirklich?")), QStringLiteral("Wirklich?."));
    // "!", "-" and ")" have codes below "."; an empty text stays empty.
    EXPECT_EQ(ErrorReportText(QStringLiteral("Fehler!")), QStringLiteral("Fehler!"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(ErrorReportText(QStringLiteral("(x)")), QStringLiteral("(x)"));
    EXPECT_EQ(ErrorReportText(QString()), QString());
}

TEST_F(ErrorReportTest, HandlerErrorIsShownWithTitleIconAndOk) {
    Thrower t;
    t.Throw = [] { throw EInOutError(2, FileErrorText(2)); };
    QEvent ev(QEvent::User);
    EXPECT_FALSE(QApplication::sendEvent(&t, &ev));
    ASSERT_EQ(platform.Messages.size(), 1u);
    const auto& m = platform.Messages[0];
    EXPECT_EQ(m.Caption, QStringLiteral("Interpolation von Tervalo"));
    EXPECT_EQ(m.Text, QStringLiteral("Datei nicht gefunden."));
    EXPECT_EQ(m.Icon, TMsgIcon::Error);
    EXPECT_EQ(m.Buttons, TMsgButtons::Ok);

    // The program goes on: the next event is handled normally.
    t.Throw = [] {};
    QApplication::sendEvent(&t, &ev);
    EXPECT_EQ(platform.Messages.size(), 1u);
}

TEST_F(ErrorReportTest, SilentAbortShowsNothingAndBusyCursorIsReset) {
    Thrower t;
    t.Throw = [] { throw ESilentAbort(); };
    QEvent ev(QEvent::User);
    QApplication::sendEvent(&t, &ev);
    EXPECT_TRUE(platform.Messages.empty());

    platform.SetBusyCursor(true);
    t.Throw = [] { throw std::runtime_error("Invalid DBF file."); };
    QApplication::sendEvent(&t, &ev);
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Invalid DBF file."));
    EXPECT_FALSE(platform.Busy);
}

TEST_F(ErrorReportTest, GuardedReportsAndTellsTheCaller) {
    EXPECT_TRUE(Guarded([] {}));
    EXPECT_FALSE(Guarded([] { throw EDbfError("Field X not found"); }));
    EXPECT_FALSE(Guarded([] { throw ESilentAbort(); }));
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Field X not found."));
}

TEST(QtTexts, StandardButtonsReadGerman) {
    tervalo::test::UiApp();
    QTranslator translator;
    ASSERT_TRUE(InstallQtGerman(translator));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Nein"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    QCoreApplication::removeTranslator(&translator);
}

TEST(AdminSwitch, OnlyFirstArgumentWithBlanksAndAnyCase) {
    auto check = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tervalo");
        return IsAdminSwitch(static_cast<int>(args.size()), args.data());
    };
    EXPECT_TRUE(check({"/MAINT"}));
    EXPECT_TRUE(check({"/maint"}));
    EXPECT_TRUE(check({"  / mA in T "}));
    EXPECT_TRUE(check({"/Maint", "ignored"}));
    EXPECT_FALSE(check({}));
    EXPECT_FALSE(check({""}));
    EXPECT_FALSE(check({"x", "/MAINT"}));
    EXPECT_FALSE(check({"-/MAINT"}));
    EXPECT_FALSE(check({"/MAINTX"}));
    // Only blanks are removed, not tabs.
    EXPECT_FALSE(check({"/MA\tINT"}));
}

}  // namespace
