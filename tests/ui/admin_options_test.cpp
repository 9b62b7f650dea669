#include "admin_support.h"

#include "ui/DateiFrm.h"
#include "ui/MainUnit.h"
#include "ui/OptionFrm.h"

#include "ui/ExportFrm.h"

using namespace tervalo;
using namespace tervalo::test;

namespace {

using OptionsTest = AdminTest;

TEST_F(OptionsTest, CaptureRangeBoundFollowsTheGridSpacing) {
    TOptionForm dlg;
    dlg.FormActivate();
    EXPECT_NEAR(dlg.PBN_Fangbreite->MaxValue(), 303.686, 0.0005);
    EXPECT_EQ(dlg.PBN_Fangbreite->MinValue(), 0.0);
    EXPECT_EQ(dlg.PBN_Fangbreite->MaxLength(), 5);
    EXPECT_EQ(dlg.PBN_Potenz1->MaxLength(), 3);
    EXPECT_EQ(dlg.PBN_Potenz1->MaxValue(), 500.0);

    dlg.PBN_Fangbreite->SetValue(303.6);
    LeaveField(dlg.PBN_Fangbreite);
    EXPECT_TRUE(platform.Messages.empty());

    dlg.PBN_Fangbreite->SetValue(303.7);
    LeaveField(dlg.PBN_Fangbreite);
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Fehler"));
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(platform.Messages[0].Buttons, TMsgButtons::Ok);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Eingabe nicht zul\u00E4ssig.\nBereich    0,000 bis  303,686"));
    // The value stays as typed.
    EXPECT_DOUBLE_EQ(dlg.PBN_Fangbreite->Value(), 303.7);

    Settings.Rasterabstand = 10.0;
    dlg.FormActivate();
    EXPECT_NEAR(dlg.PBN_Fangbreite->MaxValue(), 607.372, 0.0005);
    dlg.PBN_Fangbreite->SetValue(607.3);
    LeaveField(dlg.PBN_Fangbreite);
    EXPECT_EQ(platform.Messages.size(), 1u);

    // Spacing 0: both bounds 0, any value passes.
    Settings.Rasterabstand = 0.0;
    dlg.FormActivate();
    dlg.PBN_Fangbreite->SetValue(99999);
    LeaveField(dlg.PBN_Fangbreite);
    EXPECT_EQ(platform.Messages.size(), 1u);
}

TEST_F(OptionsTest, ExponentClampsItselfAndOkRefusesTypedButNotStoredValues) {
    TOptionForm dlg;
    dlg.PBN_Fangbreite->SetValue(500.0);  // stored above the bound
    dlg.PBN_Potenz1->SetValue(2.0);
    dlg.FormActivate();

    dlg.PBN_Potenz1->SetValue(600.0);
    LeaveField(dlg.PBN_Potenz1);
    EXPECT_EQ(dlg.PBN_Potenz1->Value(), 500.0);
    EXPECT_EQ(platform.Beeps, 1);
    EXPECT_TRUE(platform.Messages.empty());

    // Untouched stored value: OK takes it over.
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(platform.Messages.empty());

    // A value typed out of range and confirmed without leaving the field is refused.
    dlg.setResult(0);
    dlg.PBN_Fangbreite->SetValue(400.0);
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.result(), 0);
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_TRUE(platform.Messages[0].Text.startsWith(QStringLiteral("Eingabe nicht zul\u00E4ssig.")));
}

TEST_F(OptionsTest, ToolButtonsOnlyWithAdministratorRights) {
    TOptionForm dlg;
    Admin = false;
    dlg.FormActivate();
    EXPECT_FALSE(dlg.DateiButton->isEnabled());
    EXPECT_FALSE(dlg.ExportButton->isEnabled());
    Admin = true;
    dlg.FormActivate();
    EXPECT_TRUE(dlg.DateiButton->isEnabled());
    EXPECT_TRUE(dlg.ExportButton->isEnabled());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("  Optionen"));
    EXPECT_TRUE(dlg.OKButton->isDefault());
}

TEST_F(OptionsTest, MainWindowTakesSettingsOnlyWithOk) {
    TForm1 main;
    Settings.Fangbreite = 50.0;
    OnModal<TOptionForm>([](TOptionForm* d) {
        EXPECT_EQ(d->PBN_Fangbreite->Value(), 50.0);
        d->PBN_Fangbreite->SetValue(120.5);
        d->PBN_Potenz1->SetValue(3.0);
        d->OKButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(Settings.Fangbreite, 120.5);
    EXPECT_EQ(Settings.Potenz, 3.0);
    EXPECT_EQ(main.LB_Fang->text(), QStringLiteral("120,5"));

    OnModal<TOptionForm>([](TOptionForm* d) {
        d->PBN_Fangbreite->SetValue(70.0);
        d->CancelButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(Settings.Fangbreite, 120.5);
    EXPECT_EQ(main.LB_Fang->text(), QStringLiteral("120,5"));
}

TEST_F(OptionsTest, CatalogueChangedInFileManagerSurvivesCancel) {
    Admin = true;
    const std::string path = WriteText(dir, "neu.xyz", "10 20 1\n30 40 2\n");
    platform.OpenAnswers.push_back({QString::fromStdString(path)});
    TForm1 main;
    OnModal<TOptionForm>([](TOptionForm* d) {
        OnModal<TDateiForm>([](TDateiForm* f) {
            f->Datei_einfuegen->trigger();
            f->OKButton->click();
        });
        d->DateiButton->click();
        d->PBN_Fangbreite->SetValue(77.0);
        d->CancelButton->click();
    });
    main.SB_OptionenClick();
    ASSERT_EQ(main.Dateien.Anzahl, 1);
    EXPECT_EQ(main.Dateien.Datei[1], path);
    EXPECT_EQ(main.Dateien.Xmax[1], 30.0);
    EXPECT_EQ(Settings.Fangbreite, 50.0);
}

TEST(OptionsLevel, PresetAndStoredLevels) {
    EXPECT_EQ(DbfVersionButton(4), 2);
    EXPECT_EQ(DbfVersionButton(7), 3);
    for (int other : {0, 3, 5, -1}) EXPECT_EQ(DbfVersionOfButton(DbfVersionButton(other)), 3) << other;
}

TEST_F(OptionsTest, ExportWindowShowsAndStoresTheLevelWhateverCloses) {
    Admin = true;
    struct Case {
        int stored, expectButton, choose, expectStored;
    };
    for (const Case& c : {Case{0, 1, 0, 3}, Case{5, 1, 0, 3}, Case{4, 2, 0, 4}, Case{7, 3, 0, 7}, Case{3, 1, 3, 7}}) {
        Settings.DBFVersion = c.stored;
        TOptionForm dlg;
        int shown = 0;
        OnModal<TExportForm>([&](TExportForm* e) {
            QRadioButton* rb[] = {e->RB1_DBFVersion, e->RB2_DBFVersion, e->RB3_DBFVersion};
            for (int i = 0; i < 3; ++i)
                if (rb[i]->isChecked()) shown = i + 1;
            if (c.choose) rb[c.choose - 1]->setChecked(true);
            e->close();  // title bar
        });
        dlg.ExportButtonClick();
        EXPECT_EQ(shown, c.expectButton) << c.stored;
        EXPECT_EQ(Settings.DBFVersion, c.expectStored) << c.stored;
    }
}

// A click as the user makes it: the field that holds the focus is left first. The focus
// events are sent here rather than left to Qt, which delivers them only while the dialog is
// the active window, and which window that is depends on the tests run before.
void ClickWithMouse(QWidget* w) {
    if (QWidget* from = w->window()->focusWidget(); from && from != w) {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QApplication::sendEvent(from, &out);
    }
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

TEST_F(OptionsTest, StoredRangeAboveTheBoundIsOnlyCheckedWhenTheFieldIsEntered) {
    enum Way { Ok, Cancel, EnterFieldThenOk };
    for (Way way : {Ok, Cancel, EnterFieldThenOk}) {
        platform.Messages.clear();
        TOptionForm dlg;
        dlg.PBN_Fangbreite->SetValue(500.0);
        dlg.PBN_Potenz1->SetValue(2.0);
        TDateien cat;
        OnModal<TOptionForm>([way](TOptionForm* d) {
            // The dialog opens with the focus away from the capture range.
            EXPECT_NE(d->focusWidget(), d->PBN_Fangbreite);
            if (way == EnterFieldThenOk) {
                QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
                QApplication::sendEvent(d->PBN_Fangbreite, &in);
                QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
                QApplication::sendEvent(d->PBN_Fangbreite, &out);
                ClickWithMouse(d->OKButton);
            } else {
                ClickWithMouse(way == Cancel ? d->CancelButton : d->OKButton);
            }
        });
        EXPECT_EQ(dlg.MyShowModal(cat), way == Cancel ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_EQ(platform.Messages.size(), way == EnterFieldThenOk ? 1u : 0u) << way;
        EXPECT_EQ(dlg.PBN_Fangbreite->Value(), 500.0);
    }
}

}  // namespace

namespace {

// Enter on a focused button presses that button; in a field it is OK.
TEST_F(OptionsTest, EnterPressesTheFocusedButtonAndOkElsewhere) {
    Admin = true;
    TDateien cat;
    {
        TOptionForm dlg;
        OnModal<TOptionForm>([](TOptionForm* d) { TypeKey(d->CancelButton, Qt::Key_Return, QStringLiteral("\r")); });
        EXPECT_EQ(dlg.MyShowModal(cat), QDialog::Rejected);
    }
    {
        TOptionForm dlg;
        bool managerOpened = false, stillOpen = false;
        OnModal<TOptionForm>([&](TOptionForm* d) {
            OnModal<TDateiForm>([&](TDateiForm* f) {
                managerOpened = true;
                f->close();
            });
            TypeKey(d->DateiButton, Qt::Key_Return, QStringLiteral("\r"));
            stillOpen = d->isVisible();
            d->PBN_Potenz1->SetValue(3.0);
            TypeKey(d->PBN_Potenz1, Qt::Key_Return, QStringLiteral("\r"));
        });
        EXPECT_EQ(dlg.MyShowModal(cat), QDialog::Accepted);
        EXPECT_TRUE(managerOpened);
        EXPECT_TRUE(stillOpen);
        EXPECT_EQ(dlg.PBN_Potenz1->Value(), 3.0);
    }
}

// A fixed dialog with a close button only; a typed text that does not convert is never
// taken over by OK.
TEST_F(OptionsTest, FixedDialogAndOkRefusesAFieldTextThatDoesNotConvert) {
    TOptionForm dlg;
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
              Qt::WindowCloseButtonHint);
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    dlg.hide();
    dlg.PBN_Potenz1->SetValue(2.0);
    dlg.FormActivate();
    dlg.PBN_Potenz1->setText(QStringLiteral("3E"));
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(platform.Beeps, 1);
    EXPECT_EQ(dlg.PBN_Potenz1->text(), QStringLiteral("2,0"));
    EXPECT_EQ(dlg.focusWidget(), dlg.PBN_Potenz1);
}

}  // namespace
