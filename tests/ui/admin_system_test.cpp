// The tiles' reference system in the options dialog and its way into the settings file.
#include "admin_support.h"

#include "config/Einstellungen.h"
#include "ui/MainUnit.h"
#include "ui/OptionFrm.h"

using namespace tervalo;
using namespace tervalo::test;

namespace {

using SystemOptionsTest = AdminTest;

// The field stands below everything the dialog had; only an administrator may change it.
TEST_F(SystemOptionsTest, FieldBelowTheOtherControlsForAdministratorsOnly) {
    TOptionForm dlg;
    dlg.show();
    QApplication::processEvents();
    const QRect box = dlg.GroupBox2->geometry();
    for (QWidget* w : {static_cast<QWidget*>(dlg.GroupBox1), static_cast<QWidget*>(dlg.OKButton),
                       static_cast<QWidget*>(dlg.CancelButton), static_cast<QWidget*>(dlg.PBN_Potenz1)})
        EXPECT_GT(box.top(), w->geometry().bottom()) << w->objectName().toStdString();
    EXPECT_EQ(dlg.CB_System->currentText(), QStringLiteral("keins"));
    EXPECT_FALSE(dlg.CB_System->isEnabled());
    dlg.hide();
    Admin = true;
    dlg.FormActivate();
    EXPECT_TRUE(dlg.CB_System->isEnabled());
    dlg.ShowSystem(25832);
    EXPECT_EQ(dlg.CB_System->currentText(), QStringLiteral("EPSG:25832"));
    EXPECT_EQ(dlg.System(), 25832);

    // Without the rights a stored system stays whatever the field holds.
    Admin = false;
    dlg.FormActivate();
    dlg.CB_System->setEditText(QStringLiteral("gk2"));
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.System(), 25832);
}

// An entry that is no system keeps the dialog open with the message; the forms understood
// and "keins" close it with that system.
TEST_F(SystemOptionsTest, OkTakesTheFormsUnderstoodAndRefusesOthers) {
    Admin = true;
    TOptionForm dlg;
    dlg.PBN_Potenz1->SetValue(2.0);
    dlg.FormActivate();
    dlg.ShowSystem(31467);
    for (const char* bad : {"utm34", "EPSG:", "EPSG:-3", "Gauss"}) {
        dlg.setResult(0);
        dlg.CB_System->setEditText(QString::fromLatin1(bad));
        dlg.OKButtonClick();
        EXPECT_EQ(dlg.result(), 0) << bad;
        EXPECT_EQ(dlg.System(), 31467) << bad;
    }
    ASSERT_EQ(platform.Messages.size(), 4u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Fehler"));
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(platform.Messages[0].Text, SystemMessage());
    EXPECT_TRUE(SystemMessage().startsWith(QStringLiteral("Eingabe nicht zul\u00E4ssig.\nBezugssystem der Kacheln: EPSG:n")));
    struct {
        const char* text;
        std::optional<int> epsg;
    } const good[] = {{"utm33", 25833}, {"EPSG:4326", 4326}, {"keins", std::nullopt}, {"", std::nullopt}, {"GK5", 31469}};
    for (const auto& g : good) {
        dlg.setResult(0);
        dlg.CB_System->setEditText(QString::fromLatin1(g.text));
        dlg.OKButtonClick();
        EXPECT_EQ(dlg.result(), QDialog::Accepted) << g.text;
        EXPECT_EQ(dlg.System(), g.epsg) << g.text;
    }
    EXPECT_EQ(platform.Messages.size(), 4u);
}

// The main window hands its stored system to the dialog and takes the new one only with OK.
TEST_F(SystemOptionsTest, MainWindowStoresTheSystemOnlyWithOk) {
    Admin = true;
    TForm1 main;
    SetKachelSystem(main.Einstellungen, 25832);
    OnModal<TOptionForm>([](TOptionForm* d) {
        EXPECT_EQ(d->CB_System->currentText(), QStringLiteral("EPSG:25832"));
        d->CB_System->setEditText(QStringLiteral("gk3"));
        d->OKButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(ReadKachelSystem(main.Einstellungen), 31467);

    OnModal<TOptionForm>([](TOptionForm* d) {
        d->CB_System->setEditText(QStringLiteral("keins"));
        d->CancelButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(ReadKachelSystem(main.Einstellungen), 31467);

    OnModal<TOptionForm>([](TOptionForm* d) {
        d->CB_System->setEditText(QStringLiteral("keins"));
        d->OKButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_FALSE(ReadKachelSystem(main.Einstellungen));
    EXPECT_FALSE(main.Einstellungen.Get(AbschnittKacheln, SchluesselSystem));
}

// The NoData height beside the system: shown as stored, "keine" turns it off, a stored value
// with more decimals than shown stays exact unless changed; only an administrator changes it.
TEST_F(SystemOptionsTest, NoDataFieldAndItsOffBox) {
    TOptionForm dlg;
    dlg.FormActivate();
    EXPECT_EQ(dlg.NoData(), -9999.0);
    EXPECT_FALSE(dlg.CB_KeinNoData->isChecked());
    EXPECT_FALSE(dlg.PBN_NoData->isEnabled());
    EXPECT_FALSE(dlg.CB_KeinNoData->isEnabled());
    EXPECT_EQ(dlg.Label4->text(), QStringLiteral("NoData-H\u00F6he:"));
    EXPECT_EQ(dlg.CB_KeinNoData->text(), QStringLiteral("keine"));
    dlg.CB_KeinNoData->setChecked(true);  // without the rights whatever the box shows is ignored
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.NoData(), -9999.0);

    Admin = true;
    dlg.ShowNoData(std::nullopt);
    dlg.FormActivate();
    EXPECT_TRUE(dlg.CB_KeinNoData->isChecked());
    EXPECT_FALSE(dlg.PBN_NoData->isEnabled());
    dlg.CB_KeinNoData->setChecked(false);
    EXPECT_TRUE(dlg.PBN_NoData->isEnabled());
    dlg.PBN_NoData->setText(QStringLiteral("-32768"));
    dlg.setResult(0);
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.NoData(), -32768.0);

    dlg.ShowNoData(0.000001);
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.NoData(), 0.000001);  // shown as 0.000, taken as stored
    dlg.PBN_NoData->setText(QStringLiteral("2"));
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.NoData(), 2.0);
    dlg.CB_KeinNoData->setChecked(true);
    dlg.OKButtonClick();
    EXPECT_EQ(dlg.NoData(), std::nullopt);
}

// The main window hands the catalogue's value to the dialog; OK stores it in the settings and
// the catalogue, Abbrechen changes neither; the default leaves no key.
TEST_F(SystemOptionsTest, MainWindowStoresTheNoDataOnlyWithOk) {
    Admin = true;
    TForm1 main;
    main.Dateien.NoData = 0.5;
    OnModal<TOptionForm>([](TOptionForm* d) {
        EXPECT_EQ(d->NoData(), 0.5);
        d->CB_KeinNoData->setChecked(true);
        d->OKButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(main.Dateien.NoData, std::nullopt);
    EXPECT_EQ(ReadNoData(main.Einstellungen), std::nullopt);

    OnModal<TOptionForm>([](TOptionForm* d) {
        d->CB_KeinNoData->setChecked(false);
        d->PBN_NoData->setText(QStringLiteral("7"));
        d->CancelButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(main.Dateien.NoData, std::nullopt);
    EXPECT_EQ(ReadNoData(main.Einstellungen), std::nullopt);

    OnModal<TOptionForm>([](TOptionForm* d) {
        d->CB_KeinNoData->setChecked(false);
        d->PBN_NoData->setText(QStringLiteral("-9999"));
        d->OKButton->click();
    });
    main.SB_OptionenClick();
    EXPECT_EQ(main.Dateien.NoData, -9999.0);
    EXPECT_FALSE(main.Einstellungen.Get(AbschnittKacheln, SchluesselNoData));
}

}  // namespace
