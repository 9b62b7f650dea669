#include "ui_test_support.h"

#include "ui/PBNumEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

using namespace tervalo;
using tervalo::test::TypeKey;
using tervalo::test::TypeText;

namespace {

class NumEditTest : public tervalo::test::UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        form = std::make_unique<QWidget>();
        auto* lay = new QVBoxLayout(form.get());
        edit = new TPBNumEdit(form.get());
        other = new QLineEdit(form.get());
        lay->addWidget(edit);
        lay->addWidget(other);
        edit->SetDecimals(2);
        edit->SetMaxLength(12);
        form->show();
        QApplication::setActiveWindow(form.get());
        edit->setFocus();
        QApplication::processEvents();
    }
    void TearDown() override {
        form.reset();
        UiTest::TearDown();
    }
    void Clear() {
        edit->setText({});
    }
    // Moves the focus on to the other field, as Tab would.
    void Leave() {
        other->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }

    std::unique_ptr<QWidget> form;
    TPBNumEdit* edit = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(NumEditTest, ShowsValueWithLocaleSeparatorWithoutGrouping) {
    edit->SetValue(3566123.456);
    EXPECT_EQ(edit->text(), QStringLiteral("3566123,46"));
    EXPECT_TRUE(edit->alignment() & Qt::AlignRight);
    edit->SetDecimals(0);
    EXPECT_EQ(edit->text(), QStringLiteral("3566123"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    edit->SetDecimals(1);
    edit->SetValue(-2.25);
    EXPECT_EQ(edit->text(), QStringLiteral("-2.3"));
}

TEST_F(NumEditTest, KeyFilterAcceptsOnlyNumberCharacters) {
    Clear();
    TypeText(edit, QStringLiteral("12a,5;x"));
    EXPECT_EQ(edit->text(), QStringLiteral("12,5"));
    EXPECT_EQ(platform.Beeps, 3);
    // A second separator, of either mark, could never convert.
    TypeText(edit, QStringLiteral(".,"));
    EXPECT_EQ(edit->text(), QStringLiteral("12,5"));
    EXPECT_EQ(platform.Beeps, 5);
    EXPECT_DOUBLE_EQ(edit->Value(), 12.5);
}

// Real key events: "." and "," both enter the locale's separator, German or C; a second one
// is refused with a beep like any other key.
TEST_F(NumEditTest, TypedPointOrCommaIsTheLocaleSeparatorInEitherLocale) {
    for (const QLocale& loc : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
        QLocale::setDefault(loc);
        const QString sep = loc.decimalPoint();
        for (const QString& typed : {QStringLiteral("3567002.5"), QStringLiteral("3567002,5")}) {
            SCOPED_TRACE((loc.name() + QLatin1Char(' ') + typed).toStdString());
            const int beeps = platform.Beeps;
            Clear();
            QTest::keyClicks(edit, typed);
            EXPECT_EQ(edit->text(), "3567002" + sep + "5");
            EXPECT_DOUBLE_EQ(edit->Value(), 3567002.5);
            QTest::keyClicks(edit, QStringLiteral(".,"));
            EXPECT_EQ(edit->text(), "3567002" + sep + "5");
            EXPECT_EQ(platform.Beeps, beeps + 2);
            Leave();
            EXPECT_EQ(edit->text(), "3567002" + sep + "50");
            EXPECT_DOUBLE_EQ(edit->Value(), 3567002.5);
            // Typed over a selection holding the separator, a mark replaces it.
            edit->setFocus();
            QApplication::processEvents();
            edit->setSelection(6, 4);
            QTest::keyClicks(edit, typed.right(2) + QStringLiteral("7"));
            EXPECT_EQ(edit->text(), "356700" + sep + "57");
            EXPECT_EQ(platform.Beeps, beeps + 2);
        }
    }
}

TEST_F(NumEditTest, MinusTogglesSignAndLowerCaseExponentBecomesUpper) {
    Clear();
    TypeText(edit, QStringLiteral("15"));
    TypeKey(edit, Qt::Key_Minus, QStringLiteral("-"));
    EXPECT_EQ(edit->text(), QStringLiteral("-15"));
    TypeKey(edit, Qt::Key_Minus, QStringLiteral("-"));
    EXPECT_EQ(edit->text(), QStringLiteral("15"));
    TypeText(edit, QStringLiteral("e3"));
    EXPECT_EQ(edit->text(), QStringLiteral("15E3"));
    EXPECT_DOUBLE_EQ(edit->Value(), 15000.0);
    EXPECT_EQ(platform.Beeps, 0);
}

TEST_F(NumEditTest, SeparatorRefusedWithoutDecimals) {
    edit->SetDecimals(0);
    Clear();
    TypeText(edit, QStringLiteral("7,."));
    EXPECT_EQ(edit->text(), QStringLiteral("7"));
    EXPECT_EQ(platform.Beeps, 2);
}

TEST_F(NumEditTest, MaxLengthLimitsTypingButNotProgramValues) {
    edit->SetMaxLength(4);
    Clear();
    TypeText(edit, QStringLiteral("12345"));
    EXPECT_EQ(edit->text(), QStringLiteral("1234"));
    EXPECT_EQ(platform.Beeps, 1);
    edit->SetValue(123456.0);
    EXPECT_EQ(edit->text(), QStringLiteral("123456,00"));
}

TEST_F(NumEditTest, PasteIsCheckedAgainstMaxLength) {
    QApplication::clipboard()->setText(QStringLiteral("12,5"));
    Clear();
    TypeKey(edit, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("12,5"));
    edit->SetMaxLength(5);
    TypeKey(edit, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(edit->text(), QStringLiteral("12,5"));
    EXPECT_EQ(platform.Beeps, 1);
}

TEST_F(NumEditTest, ReformatsWhenLeftAndKeepsLastValueForJunk) {
    edit->SetValue(4.0);
    edit->setText(QStringLiteral("3,14159"));
    Leave();
    EXPECT_EQ(edit->text(), QStringLiteral("3,14"));
    // Pasted junk does not convert: the last valid value comes back.
    edit->setFocus();
    edit->setText(QStringLiteral("abc"));
    Leave();
    EXPECT_EQ(edit->text(), QStringLiteral("3,14"));
    EXPECT_EQ(platform.Beeps, 1);
}

// Numbers copied from elsewhere come with "." or ","; what would not convert never enters.
TEST_F(NumEditTest, PasteTakesOnePointOrCommaAsSeparatorAndRefusesTheRest) {
    auto paste = [&](const char* clip, const char* before) {
        edit->setText(QString::fromLatin1(before));
        edit->selectAll();
        QApplication::clipboard()->setText(QString::fromLatin1(clip));
        TypeKey(edit, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
        return edit->text();
    };
    EXPECT_EQ(paste("3567502.5", "0,00"), QStringLiteral("3567502,5"));
    EXPECT_EQ(paste(" -3567502,25 ", "0,00"), QStringLiteral("-3567502,25"));
    EXPECT_EQ(paste("1.5e3", "0,00"), QStringLiteral("1,5E3"));
    EXPECT_EQ(platform.Beeps, 0);
    const char* refused[] = {"3567502E", "1.234,5", "1.234.567", "12 m", "5-3", "--5", "1E999", "+5"};
    for (const char* clip : refused) EXPECT_EQ(paste(clip, "7,25"), QStringLiteral("7,25")) << clip;
    EXPECT_EQ(platform.Beeps, 8);

    // The context menu's paste goes the same way.
    QApplication::clipboard()->setText(QStringLiteral("8.5"));
    edit->selectAll();
    std::unique_ptr<QMenu> menu(edit->CreateContextMenu());
    QAction* pasteAction = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
    ASSERT_NE(pasteAction, nullptr);
    pasteAction->trigger();
    EXPECT_EQ(edit->text(), QStringLiteral("8,5"));

    edit->SetDecimals(0);
    EXPECT_EQ(paste("12.5", "3"), QStringLiteral("3"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    edit->SetDecimals(2);
    EXPECT_EQ(paste("12,5", "0.00"), QStringLiteral("12.5"));
}

TEST_F(NumEditTest, OutOfRangeWithoutHandlerClampsBeepsAndTakesFocusBack) {
    edit->SetMinValue(0.0);
    edit->SetMaxValue(300.0);
    edit->setText(QStringLiteral("500"));
    Leave();
    QApplication::processEvents();
    EXPECT_EQ(edit->text(), QStringLiteral("300,00"));
    EXPECT_EQ(platform.Beeps, 1);
    EXPECT_TRUE(edit->hasFocus());

    edit->setText(QStringLiteral("-5"));
    Leave();
    QApplication::processEvents();
    EXPECT_EQ(edit->text(), QStringLiteral("0,00"));
    EXPECT_EQ(platform.Beeps, 2);
}

TEST_F(NumEditTest, OutOfRangeWithHandlerLeavesTheDecisionToIt) {
    edit->SetMaxValue(10.0);
    int calls = 0;
    edit->OnInvalidEntry = [&](TPBNumEdit* f) {
        ++calls;
        EXPECT_EQ(f, edit);
    };
    edit->setText(QStringLiteral("11"));
    Leave();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(edit->text(), QStringLiteral("11,00"));
    EXPECT_EQ(platform.Beeps, 0);
    // Inside the range nothing is raised.
    edit->setFocus();
    edit->setText(QStringLiteral("9"));
    Leave();
    EXPECT_EQ(calls, 1);
}

TEST_F(NumEditTest, BothBoundsZeroAcceptAnyValue) {
    edit->setText(QStringLiteral("-123456"));
    Leave();
    QApplication::processEvents();
    EXPECT_EQ(edit->text(), QStringLiteral("-123456,00"));
    EXPECT_EQ(platform.Beeps, 0);
}

}  // namespace

namespace {

// Entering the field by Tab (or by the program, as after a query) selects the whole value,
// so the next coordinate replaces the old one instead of being appended to it.
TEST_F(NumEditTest, EnteringByKeyboardSelectsTheValueForRetyping) {
    edit->SetValue(3567002.5);
    Leave();
    edit->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(edit->selectedText(), edit->text());
    TypeText(edit, QStringLiteral("5936002,5"));
    EXPECT_EQ(edit->text(), QStringLiteral("5936002,5"));
    Leave();
    edit->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    EXPECT_FALSE(edit->hasSelectedText());
}

}  // namespace
