// The export window driven by the scripted platform: dialog, log, counters, Escape, levels.
#include "support/files.h"
#include "ui_test_support.h"

#include "formats/DbfFile.h"
#include "formats/TextPoints.h"
#include "ui/ExportFrm.h"
#include "ui/IndexFenster.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <filesystem>
#include <QFontMetrics>
#include <QTimer>
#include <fstream>
#include <memory>
#include <sstream>

using namespace tervalo;

namespace {

using tervalo::test::ReadAll;

class ExportWindowTest : public tervalo::test::UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        form = std::make_unique<TExportForm>();
        // Two 10 x 10 tiles at 1 m, the second shifted by 5 m: 25 shared points.
        tileA = Path("a.xyz");
        tileB = Path("b.xyz");
        WriteTile(tileA, 100, 200);
        WriteTile(tileB, 105, 205);
        form->Dateien.Anzahl = 2;
        SetEntry(1, tileA, 100, 200);
        SetEntry(2, tileB, 105, 205);
        form->Poll.EveryLines = 1;
        form->Poll.Interval = std::chrono::milliseconds(0);
        form->PBN_Xmin->SetValue(0);
        form->PBN_Xmax->SetValue(1000);
        form->PBN_Ymin->SetValue(0);
        form->PBN_Ymax->SetValue(1000);
    }
    std::string Path(const char* name) const { return tmp.filePath(QString::fromLatin1(name)).toStdString(); }
    static void WriteTile(const std::string& path, double x0, double y0) {
        std::ofstream f(path, std::ios::binary);
        for (int j = 0; j < 10; ++j)
            for (int i = 0; i < 10; ++i) f << XyzLine(x0 + i, y0 + j, 50.0 + i) << "\r\n";
    }
    void SetEntry(int i, const std::string& path, double x0, double y0) {
        form->Dateien.Datei[i] = path;
        form->Dateien.Xmin[i] = x0, form->Dateien.Xmax[i] = x0 + 9;
        form->Dateien.Ymin[i] = y0, form->Dateien.Ymax[i] = y0 + 9;
    }
    void Answer(const std::string& path, int filterIndex) {
        platform.SaveAnswers.push_back({true, QString::fromStdString(path), filterIndex});
    }
    QStringList LogLines() const { return form->Memo1->toPlainText().split(u'\n'); }

    QTemporaryDir tmp;
    std::string tileA, tileB;
    std::unique_ptr<TExportForm> form;
};

TEST_F(ExportWindowTest, CaptionsHintsAndStartValues) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("  Datenexport"));
    EXPECT_EQ(form->GroupBox1->title(), QStringLiteral(" Koordinatenbereich zum Export "));
    EXPECT_EQ(form->DoExportBtn->text(), QStringLiteral("Export"));
    EXPECT_TRUE(form->DoExportBtn->isDefault());
    EXPECT_EQ(form->DoExportBtn->toolTip(), QStringLiteral("Export als dBase oder ASCII-Datei"));
    EXPECT_EQ(form->OKButton->text(), QStringLiteral("Ende"));
    EXPECT_EQ(form->RB1_DBFVersion->text(), QStringLiteral("3"));
    EXPECT_EQ(form->RB2_DBFVersion->text(), QStringLiteral("4"));
    EXPECT_EQ(form->RB3_DBFVersion->text(), QStringLiteral("7"));
    EXPECT_TRUE(form->RB1_DBFVersion->isChecked());
    EXPECT_EQ(form->ST_nOutWerte->text(), QStringLiteral("0/ 0"));
    EXPECT_EQ(form->ST_nDoppelt->text(), QStringLiteral("0"));
    EXPECT_EQ(form->ST_nOutWerte->toolTip(), QStringLiteral("Werte aus aktueller Datei/ Gesamtwerte."));
    EXPECT_EQ(form->ST_nDoppelt->toolTip(), QStringLiteral("Werte, die doppelt vorkommen."));
    EXPECT_EQ(form->PBN_Xmin->toolTip(), QStringLiteral("X-Koordinate in Meter\ndes Gauß-Krüger-Systems"));
    EXPECT_EQ(form->PBN_Ymax->toolTip(), QStringLiteral("Y-Koordinate in Meter\ndes Gauß-Krüger-Systems"));
    TExportForm fresh;
    for (TPBNumEdit* e : {fresh.PBN_Xmin, fresh.PBN_Xmax, fresh.PBN_Ymin, fresh.PBN_Ymax}) {
        EXPECT_EQ(e->Value(), 0.0);
        EXPECT_EQ(e->Decimals(), 2);
        EXPECT_EQ(e->MaxLength(), 12);
    }
}

TEST_F(ExportWindowTest, BereichSketchFillsTheRoomBetweenTheFourBounds) {
    auto* sketch = form->GroupBox1->findChild<QWidget*>(QStringLiteral("Bereich"));
    ASSERT_NE(sketch, nullptr);
    const QRect r = sketch->geometry();
    for (QWidget* w : form->GroupBox1->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != sketch) {
            EXPECT_FALSE(r.intersects(w->geometry())) << w->objectName().toStdString();
        }
    EXPECT_GT(r.top(), form->PBN_Ymax->geometry().bottom());
    EXPECT_LT(r.bottom(), form->PBN_Ymin->geometry().top());
    EXPECT_GT(r.left(), form->PBN_Xmin->geometry().right());
    EXPECT_LT(r.right(), form->PBN_Xmax->geometry().left());
    // The label fits in the window's own font, with room to spare.
    const QFontMetrics fm(sketch->font());
    EXPECT_GE(r.width(), 2 * fm.horizontalAdvance(QStringLiteral("Bereich")));
    EXPECT_GE(r.height(), 2 * fm.height());
}

TEST_F(ExportWindowTest, ATableThatCannotBeCreatedIsNamed) {
    const std::string target = "/proc/tervalo-export.dbf";  // a folder nobody can create files in
    Answer(target, 3);
    form->DoExportBtn->click();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(platform.Messages[0].Text.contains(QString::fromStdString(target)))
        << platform.Messages[0].Text.toStdString();
    EXPECT_TRUE(form->DoExportBtn->isEnabled());
}

TEST_F(ExportWindowTest, AnExistingFileBehindTheAddedExtensionIsAskedAbout) {
    std::ofstream(Path("o.dbf"), std::ios::binary) << "voriger Export";
    Answer(Path("o"), 3);
    platform.MessageAnswers.push_back(TMsgResult::No);
    form->DoExportBtnClick();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("o.dbf existiert bereits.\nErsetzen?"));
    ASSERT_EQ(platform.SaveDialogs.size(), 2u);  // "Nein" went back to the dialog, then cancelled
    EXPECT_EQ(platform.SaveDialogs[1].FileName, QStringLiteral("o"));
    EXPECT_EQ(platform.SaveDialogs[1].FilterIndex, 3);
    EXPECT_EQ(ReadAll(Path("o.dbf")), "voriger Export");

    Answer(Path("o"), 3);
    platform.MessageAnswers.push_back(TMsgResult::Yes);
    form->DoExportBtnClick();
    TDbfFile dbf;
    dbf.OpenRead(Path("o.dbf"));
    EXPECT_EQ(dbf.RecordCount(), 175u);
}

TEST_F(ExportWindowTest, LevelPresetAndReadBack) {
    form->SetDBFVersion(4);
    EXPECT_TRUE(form->RB2_DBFVersion->isChecked());
    EXPECT_EQ(form->DBFVersion(), 4);
    form->SetDBFVersion(7);
    EXPECT_EQ(form->DBFVersion(), 7);
    form->SetDBFVersion(5);  // anything else selects "3"
    EXPECT_TRUE(form->RB1_DBFVersion->isChecked());
    EXPECT_EQ(form->DBFVersion(), 3);
}

TEST_F(ExportWindowTest, RunWritesTheChosenLayoutAndShowsLogAndCounters) {
    const std::string chosen = Path("punkte");
    Answer(chosen, 2);  // CSV entry, name without extension
    form->DoExportBtnClick();
    ASSERT_EQ(platform.SaveDialogs.size(), 1u);
    const TSaveDialog& d = platform.SaveDialogs[0];
    EXPECT_EQ(d.Title, QStringLiteral("Koordinaten exportieren nach..."));
    EXPECT_EQ(d.Filters, (QStringList{QStringLiteral("XYZ-Textdatei-Datei (*.xyz)"), QStringLiteral("CSV-Datei (*.csv)"),
                                      QStringLiteral("dBase-Datei (*.dbf)"), QStringLiteral("Alle Dateien (*.*)")}));
    EXPECT_EQ(d.FilterIndex, 1);
    EXPECT_TRUE(d.OverwritePrompt);

    const QString out = QString::fromStdString(chosen + ".csv");
    EXPECT_EQ(LogLines(), (QStringList{QStringLiteral("Beginn der Konvertierung"), QStringLiteral("Ausgabeformat: Text-CSV"),
                                       QStringLiteral("Datei: ") + out,
                                       QStringLiteral("Lese Datei 1: ") + QString::fromStdString(tileA),
                                       QStringLiteral("100 Werte aus Datei: a.xyz exportiert"),
                                       QStringLiteral("Lese Datei 2: ") + QString::fromStdString(tileB),
                                       QStringLiteral("75 Werte aus Datei: b.xyz exportiert"),
                                       QStringLiteral("Konvertierung abgeschlossen"),
                                       QStringLiteral("175 Werte insgesamt exportiert"),
                                       QStringLiteral("25 doppelte Werte nicht exportiert")}));
    EXPECT_EQ(form->ST_nOutWerte->text(), QStringLiteral("75/ 175"));
    EXPECT_EQ(form->ST_nDoppelt->text(), QStringLiteral("25"));
    // German locale: decimal comma in the CSV layout.
    EXPECT_EQ(ReadAll(out.toStdString()).substr(0, 31), "X;Y;Z\r\n100,000;200,000;50,000\r\n");
    EXPECT_FALSE(form->Running());
    EXPECT_TRUE(form->DoExportBtn->isEnabled());

    // The XYZ entry with a typed .csv name writes the XYZ layout under that name.
    Answer(Path("x.csv"), 1);
    form->DoExportBtnClick();
    EXPECT_EQ(ReadAll(Path("x.csv")).substr(0, 37), XyzLine(100, 200, 50) + "\r\n");
    EXPECT_EQ(LogLines().at(1), QStringLiteral("Ausgabeformat: Text-XYZ"));
}

TEST_F(ExportWindowTest, CancelledDialogWritesNothing) {
    form->Memo1->setPlainText(QStringLiteral("alt"));
    form->DoExportBtnClick();
    EXPECT_EQ(platform.SaveDialogs.size(), 1u);
    EXPECT_EQ(form->Memo1->toPlainText(), QStringLiteral("alt"));
}

TEST_F(ExportWindowTest, ABoundThatDoesNotConvertStopsTheRunBeforeTheDialog) {
    form->PBN_Xmax->setText(QStringLiteral("3E"));
    form->DoExportBtnClick();
    EXPECT_TRUE(platform.SaveDialogs.empty());
    EXPECT_EQ(platform.Beeps, 1);
    EXPECT_EQ(form->PBN_Xmax->Value(), 1000.0);
}

TEST_F(ExportWindowTest, ControlsAreLockedWhileRunning) {
    int calls = 0;
    bool locked = true;
    platform.OnProcessEvents = [&] {
        if (++calls != 10) return;
        for (QWidget* w : std::initializer_list<QWidget*>{form->DoExportBtn, form->OKButton, form->PBN_Xmin, form->PBN_Xmax,
                                                          form->PBN_Ymin, form->PBN_Ymax, form->RB3_DBFVersion})
            locked = locked && !w->isEnabled();
        // Neither a second run nor closing the window can start now.
        form->DoExportBtnClick();
        form->OKButton->click();
        form->close();
        form->reject();
    };
    form->show();
    Answer(Path("o.xyz"), 1);
    form->DoExportBtnClick();
    EXPECT_GE(calls, 10);
    EXPECT_TRUE(locked);
    EXPECT_EQ(platform.SaveDialogs.size(), 1u);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(platform.EscapeWatches, 0);
    for (QWidget* w : std::initializer_list<QWidget*>{form->DoExportBtn, form->OKButton, form->PBN_Xmin, form->RB3_DBFVersion})
        EXPECT_TRUE(w->isEnabled());
    form->hide();
}

TEST_F(ExportWindowTest, EscapeAsksAndYesEndsTheRunWithAClosedTable) {
    int calls = 0;
    platform.OnProcessEvents = [&] {
        if (++calls == 30) platform.PendingEscapes = 1;
    };
    platform.MessageAnswers.push_back(TMsgResult::Yes);
    form->SetDBFVersion(7);
    Answer(Path("o.dbf"), 3);
    form->DoExportBtnClick();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Wirklich abbrechen?"));
    EXPECT_EQ(platform.Messages[0].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(platform.Drops, 1);
    // Events were handled after lines 1..30, Escape seen after line 31.
    EXPECT_EQ(LogLines().at(4), QStringLiteral("31 Werte aus Datei: a.xyz exportiert"));
    EXPECT_EQ(LogLines().at(5), QStringLiteral("Konvertierung abgeschlossen"));
    const std::string t = ReadAll(Path("o.dbf"));
    ASSERT_EQ(t.size(), 214u + 31 * 43);
    EXPECT_EQ(t[0], 0x04);
    EXPECT_EQ(t.back(), 0x1A);
    EXPECT_EQ(form->DBFVersion(), 7);
}

// In the window a confirmed cancel keeps what was written: it replaces an existing file with
// a valid table of the points so far, and the log ends as after a complete run.
TEST_F(ExportWindowTest, EscapeWithYesReplacesAnExistingFileWithThePointsSoFar) {
    std::ofstream(Path("o.dbf"), std::ios::binary) << "voriger Export";
    int calls = 0;
    platform.OnProcessEvents = [&] {
        if (++calls == 30) platform.PendingEscapes = 1;
    };
    platform.MessageAnswers.push_back(TMsgResult::Yes);
    Answer(Path("o.dbf"), 3);
    form->DoExportBtnClick();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(LogLines().mid(4), (QStringList{QStringLiteral("31 Werte aus Datei: a.xyz exportiert"),
                                              QStringLiteral("Konvertierung abgeschlossen"),
                                              QStringLiteral("31 Werte insgesamt exportiert"),
                                              QStringLiteral("0 doppelte Werte nicht exportiert")}));
    TDbfFile dbf;
    dbf.OpenRead(Path("o.dbf"));
    EXPECT_EQ(dbf.RecordCount(), 31u);
    dbf.Close();
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);  // tiles and o.dbf only
}

TEST_F(ExportWindowTest, EscapeAnsweredNoGoesOn) {
    int calls = 0;
    platform.OnProcessEvents = [&] {
        if (++calls == 30) platform.PendingEscapes = 1;
    };
    platform.MessageAnswers.push_back(TMsgResult::No);
    Answer(Path("o.xyz"), 1);
    form->DoExportBtnClick();
    EXPECT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(form->ST_nOutWerte->text(), QStringLiteral("75/ 175"));
    // Escape while another program is active is not looked at.
    platform.Messages.clear();
    platform.Active = false;
    calls = 0;
    Answer(Path("o.xyz"), 1);
    form->DoExportBtnClick();
    EXPECT_TRUE(platform.Messages.empty());
    EXPECT_EQ(LogLines().at(8), QStringLiteral("175 Werte insgesamt exportiert"));
}

TEST_F(ExportWindowTest, TableFailureReachesTheErrorReportAndUnlocksTheWindow) {
    // Signature of a table, but a field descriptor of unknown type.
    const std::string bad = Path("bad.dbf");
    std::string h(200, '\0');
    h[0] = 3, h[1] = 100, h[2] = 1, h[3] = 1, h[8] = 65, h[10] = 15;
    h[32] = 'X', h[43] = '!', h[48] = 14, h[64] = 0x0D;
    std::ofstream(bad, std::ios::binary) << h;
    form->Dateien.Anzahl = 3;
    SetEntry(3, bad, 0, 0);
    form->PBN_Xmin->SetValue(0);
    std::ofstream(Path("o.dbf"), std::ios::binary) << "voriger Export";
    Answer(Path("o.dbf"), 3);
    form->DoExportBtn->click();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(form->DoExportBtn->isEnabled());
    EXPECT_FALSE(form->Running());
    // The failed run leaves the previous output as it was.
    EXPECT_EQ(ReadAll(Path("o.dbf")), "voriger Export");
}

TEST_F(ExportWindowTest, ShowModalWorksOnACopyAndEmptiesTheLog) {
    TDateien cat = form->Dateien;
    cat.Anzahl = 1;
    TExportForm dlg;
    dlg.Memo1->setPlainText(QStringLiteral("alt"));
    bool sawCopy = false, logEmpty = false;
    QTimer::singleShot(0, &dlg, [&] {
        sawCopy = dlg.Dateien.Anzahl == 1 && dlg.Dateien.Datei[1] == tileA;
        logEmpty = dlg.Memo1->toPlainText().isEmpty();
        dlg.Dateien.Anzahl = 0;  // the window's own copy
        dlg.OKButton->click();
    });
    dlg.MyShowModal(cat);
    EXPECT_TRUE(sawCopy);
    EXPECT_TRUE(logEmpty);
    EXPECT_EQ(cat.Anzahl, 0);  // copied back as the window left it
    EXPECT_FALSE(dlg.isVisible());
}

}  // namespace

namespace {

// A folder entry's index is built before its tiles are read: the index window shows it, and
// its button cancels the run before any tile is read.
TEST_F(ExportWindowTest, TheIndexWindowShowsTheBuildAndItsButtonCancels) {
    const std::string folder = Path("DGM1");
    std::filesystem::create_directory(folder);
    for (int e = 300; e < 330; ++e)
        for (int n = 5600; n < 5650; ++n) {
            char name[64];
            std::snprintf(name, sizeof name, "/dgm1_32_%d_%d_1_nw.xyz", e, n);
            std::ofstream(folder + name, std::ios::binary) << XyzLine(e * 1000.0 + 500, n * 1000.0 + 500, 7) << "\n";
        }
    form->Dateien.Anzahl = 1;
    form->Dateien.Datei[1] = folder;
    form->Dateien.Ordner.IndexOrdner = Path("index") + "/";
    form->IndexFensterMs = 0;
    form->PBN_Xmin->SetValue(300000);
    form->PBN_Xmax->SetValue(330000);
    form->PBN_Ymin->SetValue(5600000);
    form->PBN_Ymax->SetValue(5650000);
    QString shown;
    platform.OnProcessEvents = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<TIndexFenster*>(w); p && p->isVisible()) {
                shown = p->LB_Ordner->text();
                p->Btn_Abbrechen->click();
            }
    };
    Answer(Path("o.xyz"), 1);
    form->DoExportBtnClick();
    EXPECT_EQ(shown, QString::fromStdString("Index wird aufgebaut: " + folder));
    EXPECT_FALSE(form->Memo1->toPlainText().contains(QStringLiteral("Lese Datei"))) << form->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(platform.Messages.empty());
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(qobject_cast<TIndexFenster*>(w) && w->isVisible());
}

}  // namespace
