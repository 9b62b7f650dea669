#include "admin_support.h"

#include "tools/Tools.h"
#include "ui/DBFInfoFrm.h"
#include "ui/DateiFrm.h"
#include "ui/IDoFenster1.h"

#include <QHeaderView>
#include <QStyle>
#include <QTest>
#include <filesystem>
#include <set>

using namespace tervalo;
using namespace tervalo::test;

namespace {

class FileManagerTest : public AdminTest {
protected:
    // A window filled from a catalogue of the given files, as when it is opened.
    void Open(TDateiForm& f, const std::vector<std::string>& paths) {
        f.Dateien.Anzahl = static_cast<uint8_t>(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) {
            f.Dateien.Datei[i + 1] = paths[i];
            f.Dateien.Xmin[i + 1] = 1000.0 * (i + 1) + 0.126;
            f.Dateien.Xmax[i + 1] = 1000.0 * (i + 1) + 500.0;
            f.Dateien.Ymin[i + 1] = -3.0;
            f.Dateien.Ymax[i + 1] = 7.5;
        }
        f.FormShow();
    }
    void Choose(std::initializer_list<std::string> paths) {
        QStringList l;
        for (const std::string& p : paths) l << QString::fromStdString(p);
        platform.OpenAnswers.push_back(l);
    }
    static std::vector<std::string> Names(const TDateiForm& f) {
        std::vector<std::string> n;
        for (int r = 1; r < f.DateiGrid->RowCount(); ++r) n.push_back(f.RowFileName(r));
        return n;
    }
    std::string Dir() const { return dir.path().toStdString() + "/"; }
};

TEST_F(FileManagerTest, EmptyCatalogueShowsOneEmptyRowAndAddingGoesAboveIt) {
    TDateiForm f;
    Open(f, {});
    ASSERT_EQ(f.DateiGrid->RowCount(), 2);
    EXPECT_EQ(f.DateiGrid->Cell(0, 1), "");
    EXPECT_EQ(Trim(f.DateiGrid->Cell(0, 0)), "Nr.");
    int used = 0;
    for (int c = 0; c < 6; ++c) used += f.DateiGrid->ColWidth(c);
    EXPECT_EQ(f.DateiGrid->ColWidth(6), TDateiForm::DesignWidth - used - 30);
    EXPECT_GE(f.DateiGrid->ColWidth(2), f.DateiGrid->TextWidth("5936000,00"));

    // Heading line and a line of two columns are no points.
    const std::string a = WriteText(dir, "a.xyz", "X Y Z\n3500000.5 5600000 10\n3500100 5600200.25 12\n1 2\n");
    Choose({a});
    f.Datei_einfuegenClick();
    ASSERT_EQ(platform.OpenDialogs.size(), 1u);
    EXPECT_EQ(platform.OpenDialogs[0].Title, QStringLiteral("Koordinatendatei \u00F6ffnen"));
    EXPECT_EQ(platform.OpenDialogs[0].Filters,
              (QStringList{QStringLiteral("unterst\u00FCtzte Formate (*.xyz *.dbf *.txt *.asc *.tif *.tiff *.xyz.gz "
                                          "*.txt.gz *.asc.gz)"),
                           QStringLiteral("XYZ-Dateien (*.xyz)"), QStringLiteral("gepackte XYZ-Dateien (*.xyz.gz)"),
                           QStringLiteral("dBase-Dateien (*.dbf)"), QStringLiteral("Rasterdateien (*.tif *.tiff *.asc)"),
                           QStringLiteral("TXT-Dateien (*.txt)"), QStringLiteral("Alle Dateien (*.*)")}));
    EXPECT_EQ(platform.BusyChanges, 2);
    EXPECT_FALSE(platform.Busy);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"a.xyz", ""}));
    EXPECT_EQ(Trim(f.DateiGrid->Cell(0, 2)), "2");
    EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmin"), 1), "3500000,50");
    EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Verzeichnis"), 1), Dir());

    f.OKButtonClick();
    ASSERT_EQ(f.Dateien.Anzahl, 1);
    EXPECT_EQ(f.Dateien.Datei[1], a);
    EXPECT_EQ(f.Dateien.Xmin[1], 3500000.5);
    EXPECT_EQ(f.Dateien.Ymax[1], 5600200.25);
}

TEST_F(FileManagerTest, SeveralFilesGoInReverseAtTheCursorAndRefusalsAreTold) {
    const std::string old = WriteText(dir, "old.xyz", "1 1 1\n");
    TDateiForm f;
    Open(f, {old});
    std::filesystem::create_directory(Dir() + "other");
    const std::string first = WriteText(dir, "first.xyz", "1 2 3\n");
    const std::string second = WriteText(dir, "second.txt", "only two\n");
    const std::string third = WriteText(dir, "Old.xyz", "5 6 7\n");  // other letter case: allowed
    const std::string dup = WriteText(dir, "other/old.xyz", "5 6 7\n");
    const std::string bad = WriteText(dir, "tile[1].xyz", "5 6 7\n");
    Choose({first, dup, second, bad, third});
    ShortMessageSpy spy;
    f.DateiGrid->SetCursorRow(1);
    f.Datei_einfuegenClick();
    EXPECT_EQ(Names(f), (std::vector<std::string>{"Old.xyz", "second.txt", "first.xyz", "old.xyz"}));
    EXPECT_EQ(spy.Texts, (std::vector<QString>{QStringLiteral("Datei: old.xyz schon vorhanden!"),
                                               QStringLiteral("Dateiname nicht OK: tile[1].xyz")}));
    for (int r = 1; r <= 4; ++r) EXPECT_EQ(Trim(f.DateiGrid->Cell(0, r)), std::to_string(r));
    // No accepted line: the start values.
    EXPECT_EQ(Trim(f.DateiGrid->Cell(f.FindColumn("Xmin"), 2)), "999999999,00");
    EXPECT_EQ(Trim(f.DateiGrid->Cell(f.FindColumn("Xmax"), 2)), "-9999999,00");
    f.OKButtonClick();
    ASSERT_EQ(f.Dateien.Anzahl, 4);
    EXPECT_EQ(f.Dateien.Datei[4], old);
    EXPECT_EQ(f.Dateien.Xmin[2], 999999999.0);
    EXPECT_EQ(f.Dateien.Xmax[2], -9999999.0);
}

// A table or packed tile whose scan fails ends adding after its report, and its row goes at once.
TEST_F(FileManagerTest, AFileWhoseScanFailsEndsAddingAndLeavesNoRow) {
    const std::string broken = WriteText(dir, "broken.dbf", std::string("\x03\x7A\x01\x01\xFF\xFF\xFF\x00", 8));
    // A gzip header without valid deflate data behind it.
    const std::string damaged = WriteText(dir, "t_nw.xyz.gz", std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10) + "1 2 3\n");
    for (const std::string& bad : {broken, damaged}) {
        TDateiForm f;
        Open(f, {});
        Choose({WriteText(dir, "a.xyz", "1 2 3\n"), bad, WriteText(dir, "b.xyz", "1 2 3\n")});
        EXPECT_ANY_THROW(f.Datei_einfuegenClick());
        EXPECT_FALSE(platform.Busy);
        EXPECT_EQ(Names(f), (std::vector<std::string>{"a.xyz", ""})) << bad;
        EXPECT_EQ(Trim(f.DateiGrid->Cell(0, 2)), "2");
        f.OKButtonClick();
        EXPECT_EQ(f.Dateien.Anzahl, 1);
    }
}

TEST_F(FileManagerTest, RemovingRenumbersAndTheOnlyRowIsEmptied) {
    TDateiForm f;
    Open(f, {"/d/a.xyz", "/d/b.xyz", "/d/c.xyz"});
    f.DateiGrid->SetCursorRow(2);
    f.Datei_loeschenClick();
    EXPECT_EQ(Names(f), (std::vector<std::string>{"a.xyz", "c.xyz"}));
    EXPECT_EQ(Trim(f.DateiGrid->Cell(0, 2)), "2");
    f.Datei_loeschenClick();
    f.Datei_loeschenClick();
    ASSERT_EQ(f.DateiGrid->RowCount(), 2);
    EXPECT_EQ(f.RowFileName(1), "");
    EXPECT_EQ(Trim(f.DateiGrid->Cell(0, 1)), "1");
    f.OKButtonClick();
    EXPECT_EQ(f.Dateien.Anzahl, 0);
}

TEST_F(FileManagerTest, OkTakesRowsInShownOrderAndColumnsByHeader) {
    TDateiForm f;
    Open(f, {"/d/a.xyz", "/d/b.xyz", "/d/c.xyz"});
    f.DateiGrid->MoveRow(3, 1);                                   // c to the top
    f.DateiGrid->MoveCol(f.FindColumn("Xmin"), 6);                // Xmin after Verzeichnis
    f.DateiGrid->MoveCol(f.FindColumn("Datei"), f.FindColumn("Ymax"));
    EXPECT_EQ(f.FindColumn("Xmin"), 6);
    EXPECT_EQ(Names(f), (std::vector<std::string>{"c.xyz", "a.xyz", "b.xyz"}));

    // Adding and removing work on what is shown, too.
    const std::string n = WriteText(dir, "n.xyz", "7 8 9\n");
    Choose({n});
    f.DateiGrid->SetCursorRow(2);
    f.Datei_einfuegenClick();
    f.DateiGrid->SetCursorRow(4);
    f.Datei_loeschenClick();
    EXPECT_EQ(Names(f), (std::vector<std::string>{"c.xyz", "n.xyz", "a.xyz"}));

    f.OKButtonClick();
    ASSERT_EQ(f.Dateien.Anzahl, 3);
    EXPECT_EQ(f.Dateien.Datei[1], "/d/c.xyz");
    EXPECT_EQ(f.Dateien.Datei[2], n);
    EXPECT_EQ(f.Dateien.Xmin[2], 7.0);
    EXPECT_EQ(f.Dateien.Datei[3], "/d/a.xyz");
    // Extents come back as shown: two decimals.
    EXPECT_EQ(f.Dateien.Xmin[1], 3000.13);
    EXPECT_EQ(f.Dateien.Xmax[3], 1500.0);
    EXPECT_EQ(f.Dateien.Ymin[3], -3.0);
}

TEST_F(FileManagerTest, A251stFileIsRefused) {
    std::vector<std::string> paths;
    for (int i = 1; i <= MaxDateien; ++i) paths.push_back("/d/t" + std::to_string(i) + ".xyz");
    TDateiForm f;
    Open(f, paths);
    Choose({WriteText(dir, "more.xyz", "1 2 3\n")});
    ShortMessageSpy spy;
    f.Datei_einfuegenClick();
    EXPECT_EQ(f.NamedRows(), MaxDateien);
    ASSERT_EQ(spy.Texts.size(), 1u);
    EXPECT_TRUE(spy.Texts[0].contains(QStringLiteral("250")));
    f.OKButtonClick();
    EXPECT_EQ(f.Dateien.Anzahl, MaxDateien);
    EXPECT_EQ(f.Dateien.Datei[MaxDateien], "/d/t250.xyz");
}

TEST_F(FileManagerTest, ColumnWidthsAreRememberedAndVerzeichnisFollowsTheWindow) {
    {
        TDateiForm f;
        f.FormShow();
        f.DateiGrid->SetColWidth(1, 180);
        f.DateiGrid->SetColWidth(2, 5);
        f.FormClose();
    }
    EXPECT_EQ(Settings.DateiGridBreiten[1], 180);
    EXPECT_EQ(Settings.DateiGridBreiten[0], 30);
    TDateiForm g;
    g.FormShow();
    EXPECT_EQ(g.DateiGrid->ColWidth(1), 180);
    EXPECT_GT(g.DateiGrid->ColWidth(2), 5);  // not wider than its header text
    g.show();
    g.resize(900, 500);
    QApplication::processEvents();
    int used = 0;
    for (int c = 0; c < 6; ++c) used += g.DateiGrid->ColWidth(c);
    EXPECT_EQ(g.DateiGrid->ColWidth(6), g.DateiGrid->width() - used - 30);
    g.OKButtonClick();
}

TEST_F(FileManagerTest, WidthsStayWithTheirColumnsAfterADrag) {
    {
        TDateiForm f;
        f.FormShow();
        f.DateiGrid->MoveCol(f.FindColumn("Verzeichnis"), 1);
        f.DateiGrid->SetColWidth(f.FindColumn("Verzeichnis"), 211);
        f.DateiGrid->SetColWidth(f.FindColumn("Datei"), 123);
        f.FormClose();
    }
    TDateiForm g;
    g.FormShow();
    EXPECT_EQ(g.FindColumn("Verzeichnis"), 6);
    EXPECT_EQ(g.DateiGrid->ColWidth(g.FindColumn("Verzeichnis")), 211);
    EXPECT_EQ(g.DateiGrid->ColWidth(g.FindColumn("Datei")), 123);
}

TEST_F(FileManagerTest, ExtentsShowInFullWhatOkStores) {
    TDateiForm f;
    Open(f, {"/d/a.xyz", "/d/b.xyz"});
    f.Dateien.Xmin[1] = 3566000.125;  // "%10.2f" would round this one down
    f.Dateien.Xmin[2] = 999999999.0, f.Dateien.Xmax[2] = -9999999.0;
    f.FormShow();
    EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmin"), 1), "3566000,13");
    EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmin"), 2), "999999999,00");
    EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmax"), 2), "-9999999,00");
    // Room for the widest value between the cell margins the item view keeps, and no more.
    const int margins = 2 * (f.DateiGrid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
    const int need = std::max(f.DateiGrid->TextWidth("999999999,00"), f.DateiGrid->TextWidth("-9999999,00"));
    for (const char* h : {"Xmin", "Xmax", "Ymin", "Ymax"}) {
        EXPECT_GE(f.DateiGrid->ColWidth(f.FindColumn(h)) - margins, need) << h;
        EXPECT_LE(f.DateiGrid->ColWidth(f.FindColumn(h)) - margins, need + 2) << h;
    }
    f.OKButtonClick();
    EXPECT_EQ(f.Dateien.Xmin[1], 3566000.13);
}

TEST_F(FileManagerTest, CloseBoxKeepsTheCatalogueEscapeStoresTheList) {
    const std::string a = WriteText(dir, "a.xyz", "1 2 3\n");
    for (bool escape : {false, true}) {
        TDateien cat;
        Choose({a});
        TDateiForm f;
        OnModal<TDateiForm>([escape](TDateiForm* w) {
            w->Datei_einfuegen->trigger();
            if (escape)
                TypeKey(w, Qt::Key_Escape);
            else
                w->close();
        });
        f.MyShowModal(cat);
        EXPECT_EQ(cat.Anzahl, escape ? 1 : 0);
    }
}

TEST_F(FileManagerTest, InfoOnlyForDbaseRows) {
    const std::string t = WriteTable(dir, "t.dbf", 4, {{1, 2, 3}});
    const std::string x = WriteText(dir, "x.xyz", "1 2 3\n");
    TDateiForm f;
    Open(f, {x, t});
    QStringList shown;
    OnModal<TDBFInfoForm>([&shown](TDBFInfoForm* i) {
        shown = i->Lines();
        i->ENDEButton->click();
    });
    f.DateiGrid->SetCursorRow(1);
    f.Datei_InfoClick();  // a text file: returns at once
    EXPECT_TRUE(shown.isEmpty());
    f.DateiGrid->SetCursorRow(2);
    f.Datei_InfoClick();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown[0], QStringLiteral("Datenbank-Datei: ") + QString::fromStdString(t));
}

// The keys the hint line under the list names do their entries' work; Info on a text tile says
// why nothing opens.
TEST_F(FileManagerTest, TheKeysNamedUnderTheListWork) {
    TDateiForm f;
    f.Dateien.Anzahl = 2;
    f.Dateien.Datei[1] = WriteText(dir, "x.xyz", "1 2 3\n");
    f.Dateien.Datei[2] = WriteTable(dir, "t.dbf", 4, {{1, 2, 3}});
    f.show();
    // The offscreen platform activates every window it shows and gives nothing back.
    auto key = [&f](int k) {
        f.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
        QTest::keyClick(f.DateiGrid, static_cast<Qt::Key>(k), Qt::ControlModifier);
    };
    EXPECT_EQ(f.HintLine->text(), QStringLiteral("Rechtsklick oder Strg+Einfg: Datei einf\u00FCgen \u00B7 "
                                                 "Strg+Umschalt+Einfg: Ordner einf\u00FCgen \u00B7 Strg+Entf: "
                                                 "l\u00F6schen \u00B7 Strg+I: Info \u00B7 Strg+K: Konvertieren"));
    ShortMessageSpy spy;
    key(Qt::Key_I);
    EXPECT_EQ(spy.Texts, std::vector<QString>{QStringLiteral("Keine dBase-Datei: x.xyz")});
    int infos = 0;
    OnModal<TDBFInfoForm>([&infos](TDBFInfoForm* i) { ++infos, i->ENDEButton->click(); });
    f.DateiGrid->SetCursorRow(2);
    key(Qt::Key_I);
    EXPECT_EQ(infos, 1);
    key(Qt::Key_K);  // the dialogs are cancelled
    key(Qt::Key_Insert);
    EXPECT_EQ(platform.SaveDialogs.size() + platform.OpenDialogs.size(), 2u);
    f.activateWindow();
    QTest::keyClick(f.DateiGrid, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(platform.FolderDialogs.size(), 1u);
    EXPECT_EQ(platform.OpenDialogs.size(), 1u);
    key(Qt::Key_Delete);
    EXPECT_EQ(Names(f), std::vector<std::string>{"x.xyz"});
    f.OKButtonClick();
}

// The "Datei" column starts wide enough for the names (at most half the list) unless a width is
// remembered; narrower, each name keeps its end, and every name carries its path as hint.
TEST_F(FileManagerTest, LongNamesStartInFullAndKeepTheirEndWhenNarrow) {
    const std::string nw = "/geo/dgm1l_32_357_5646_1_2024_00001_nw.xyz.gz", no = "/geo/a_no.xyz";
    auto opened = [this](TDateiForm& f, std::vector<std::string> paths) {
        Open(f, paths);
        f.show();
        return f.FindColumn("Datei");
    };
    {
        TDateiForm f;
        const int c = opened(f, {nw, no});
        EXPECT_EQ(f.DateiGrid->ColWidth(c), f.DateiGrid->CellWidthFor(FileNamePart(nw)));
        EXPECT_EQ(f.DateiGrid->ShownText(c, 1), FileNamePart(nw));
        f.DateiGrid->SetColWidth(c, 100);
        const std::string shown = f.DateiGrid->ShownText(c, 1);
        EXPECT_TRUE(shown.find("\xE2\x80\xA6") != std::string::npos && shown.ends_with("_nw.xyz.gz")) << shown;
        EXPECT_LE(f.DateiGrid->CellWidthFor(shown), 100);
        EXPECT_EQ(f.DateiGrid->Cell(c, 1), FileNamePart(nw));  // OK takes the whole name

        // Hints stay with their rows when a file goes in above them.
        Choose({WriteText(dir, "neu.xyz", "1 2 3\n")});
        f.DateiGrid->SetCursorRow(1);
        f.Datei_einfuegenClick();
        EXPECT_EQ(f.DateiGrid->CellHint(c, 1), Dir() + "neu.xyz");
        EXPECT_EQ(f.DateiGrid->CellHint(c, 3), no);
        f.OKButtonClick();
    }
    TDateiForm remembered;
    EXPECT_EQ(remembered.DateiGrid->ColWidth(opened(remembered, {nw})), 100);
    Settings.DateiGridBreiten[1] = 0;
    TDateiForm huge;
    EXPECT_EQ(huge.DateiGrid->ColWidth(opened(huge, {"/geo/" + std::string(150, 'k') + ".xyz"})), huge.width() / 2);
}

class ConvertTest : public FileManagerTest {
protected:
    void SetUp() override {
        FileManagerTest::SetUp();
        f.Poll = {1, std::chrono::milliseconds(0)};
    }
    void Save(const std::string& path, int filter) {
        platform.SaveAnswers.push_back({true, QString::fromStdString(path), filter});
    }
    bool app_ = (UiApp(), true);  // the window below needs the application first
    TDateiForm f;
};

TEST_F(ConvertTest, TextBecomesATableOfTheChosenLevel) {
    const std::string src = WriteText(dir, "src.xyz", "X Y Z\n1 2 3\n4 5 6\n1 2 9\n7 8 9\n");
    Open(f, {src});
    Save(Dir() + "out", 2);
    f.Konvertieren1Click();
    ASSERT_EQ(platform.SaveDialogs.size(), 1u);
    EXPECT_EQ(platform.SaveDialogs[0].Title, QStringLiteral("Datei konvertieren nach dBase III/IV"));
    EXPECT_EQ(platform.SaveDialogs[0].FileName, QStringLiteral("src"));
    EXPECT_EQ(platform.SaveDialogs[0].InitialDir.toStdString(), Dir());
    EXPECT_EQ(platform.SaveDialogs[0].Filters.size(), 4);
    TDbfFile dbf;
    dbf.OpenRead(Dir() + "out.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase4);
    EXPECT_EQ(dbf.RecordCount(), 3u);
    EXPECT_FALSE(f.Running());
    EXPECT_EQ(f.NamedRows(), 1);  // the new file is not listed
}

TEST_F(ConvertTest, TableBecomesCsvAndEscapeWithYesLeavesAValidPart) {
    const std::string src = WriteTable(dir, "src.dbf", 3, {{1, 2, 3}, {1, 2, 4}, {5, 6, 7}, {8, 9, 10}});
    Open(f, {src});
    Save(Dir() + "out", 2);
    f.Konvertieren1Click();
    std::ifstream in(Dir() + "out.csv");
    std::string head;
    std::getline(in, head);
    EXPECT_EQ(head.substr(0, 5), "X;Y;Z");

    // Escape after the first record; the run keeps the window from closing meanwhile.
    Save(Dir() + "part.xyz", 1);
    platform.MessageAnswers.push_back(TMsgResult::Yes);
    bool refused = false;
    platform.OnProcessEvents = [&] {
        f.OKButtonClick();
        refused = f.isVisible() || f.result() != QDialog::Accepted;
        platform.PendingEscapes = 1;
        platform.OnProcessEvents = nullptr;
    };
    f.Konvertieren1Click();
    EXPECT_TRUE(refused);
    EXPECT_EQ(f.result(), 0);
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Wirklich abbrechen?"));
    EXPECT_EQ(platform.Messages[0].Buttons, TMsgButtons::YesNo);
    std::ifstream part(Dir() + "part.xyz");
    std::string line;
    int lines = 0;
    while (std::getline(part, line)) ++lines;
    EXPECT_GE(lines, 1);
    EXPECT_LT(lines, 3);
}

TEST_F(ConvertTest, CountersShowTheLastMultipleOfTenAndTheWindowStaysOnTop) {
    std::string text;
    for (int i = 0; i < 12; ++i) text += std::to_string(i) + " 1 1\n";
    text += "0 1 5\n1 1 5\n2 1 5\n";  // repeated positions
    for (int i = 12; i < 25; ++i) text += std::to_string(i) + " 1 1\n";
    Open(f, {WriteText(dir, "src.xyz", text)});
    Save(Dir() + "out", 1);
    platform.MessageAnswers.push_back(TMsgResult::No);
    std::set<std::pair<QString, QString>> shown;
    TIDoFenster* progress = nullptr;
    int raised = 0, hidden = 0;
    EventCounter zorder(QEvent::ZOrderChange, raised);
    platform.OnProcessEvents = [&] {
        if (!progress) {
            progress = f.findChild<TIDoFenster*>();
            ASSERT_NE(progress, nullptr);
            progress->installEventFilter(&zorder);
            platform.PendingEscapes = 1;  // asked at the next look, answered No
        }
        if (!progress->isVisible()) ++hidden;
        shown.insert({progress->Label2->text(), progress->Label3->text()});
    };
    f.Konvertieren1Click();
    EXPECT_EQ(shown, (std::set<std::pair<QString, QString>>{{"0", "0"}, {"10", "0"}, {"20", "3"}}));
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_GE(raised, 1);
    EXPECT_EQ(hidden, 0);

    // Another program in front keeps its place.
    platform.Active = false;
    progress = nullptr;
    raised = 0;
    Save(Dir() + "out2", 1);
    f.Konvertieren1Click();
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(raised, 0);
}

TEST_F(ConvertTest, TheSourceIsNeverOverwritten) {
    const std::string content = "1 2 3\n4 5 6\n";
    const std::string src = WriteText(dir, "src.xyz", content);
    Open(f, {src});
    Save(src, 1);  // typed with its extension
    f.Konvertieren1Click();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(platform.Messages[0].Text, QString::fromUtf8(TextZielIstQuelle) + QString::fromStdString(src));
    std::ifstream in(src, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);

    // A name whose added extension meets an existing file is asked about; No leaves it and
    // goes back to the dialog, with the name as typed and the filter as chosen.
    WriteText(dir, "old.dbf", "keep");
    Save(Dir() + "old", 2);
    Save(Dir() + "neu", 2);
    platform.MessageAnswers.push_back(TMsgResult::No);
    f.Konvertieren1Click();
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_EQ(platform.Messages[1].Text, QStringLiteral("old.dbf existiert bereits.\nErsetzen?"));
    EXPECT_EQ(platform.Messages[1].Buttons, TMsgButtons::YesNo);
    EXPECT_EQ(std::filesystem::file_size(Dir() + "old.dbf"), 4u);
    ASSERT_EQ(platform.SaveDialogs.size(), 3u);
    EXPECT_EQ(platform.SaveDialogs[2].FileName, QStringLiteral("old"));
    EXPECT_EQ(platform.SaveDialogs[2].FilterIndex, 2);
    TDbfFile dbf;
    dbf.OpenRead(Dir() + "neu.dbf");
    EXPECT_EQ(dbf.TableVersion(), TDbfVersion::DBase4);
}

TEST_F(ConvertTest, ATargetNotCreatedOrASourceNotOpenedIsTold) {
    const std::string table = WriteTable(dir, "t.dbf", 3, {{1, 2, 3}});
    const std::string gone = Dir() + "fehlt.xyz";
    Open(f, {table, gone});

    f.DateiGrid->SetCursorRow(1);
    Save(Dir() + "kein/out", 1);  // a folder that does not exist
    f.Konvertieren1Click();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(platform.Messages[0].Text.contains(QStringLiteral("kein/out.xyz")));

    f.DateiGrid->SetCursorRow(2);
    Save(Dir() + "leer", 1);
    f.Konvertieren1Click();
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_TRUE(platform.Messages[1].Text.endsWith(QString::fromStdString(gone)));
    EXPECT_FALSE(std::filesystem::exists(Dir() + "leer.dbf"));  // no empty table for a missing source

    // A conversion that went through says nothing.
    f.DateiGrid->SetCursorRow(1);
    Save(Dir() + "gut", 1);
    f.Konvertieren1Click();
    EXPECT_EQ(platform.Messages.size(), 2u);
    EXPECT_FALSE(f.Running());
}

}  // namespace

// A GeoTIFF is added with the extent of its pixel centres from its header; one in another
// system than the tiles' is added all the same, with a note; Info refuses it as no table.
TEST_F(FileManagerTest, AddsARasterWithItsExtent) {
    const std::string asc = WriteText(dir, "r.asc",
                                      "ncols 4\nnrows 3\nxllcorner 3500000\nyllcorner 5600000\ncellsize 2\n"
                                      "NODATA_value -9999\n1 2 3 4\n5 -9999 7 8\n9 10 11 12\n");
    const std::string tif = Dir() + "r.tif", gk = Dir() + "g.tif";
    ASSERT_EQ(std::system(("gdal_translate -q -a_srs EPSG:25832 '" + asc + "' '" + tif + "' && gdal_translate -q "
                           "-a_srs EPSG:31467 '" + asc + "' '" + gk + "'").c_str()), 0);
    TDateiForm f;
    Open(f, {});
    f.Dateien.System = 25832;
    Choose({tif, gk});
    f.Datei_einfuegenClick();
    // Each goes in above the cursor row.
    ASSERT_EQ(Names(f), (std::vector<std::string>{"g.tif", "r.tif", ""}));
    for (int row : {1, 2}) {
        EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmin"), row), "3500001,00");
        EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Xmax"), row), "3500007,00");
        EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Ymin"), row), "5600001,00");
        EXPECT_EQ(f.DateiGrid->Cell(f.FindColumn("Ymax"), row), "5600005,00");
    }
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Hinweis"));
    EXPECT_EQ(platform.Messages[0].Text.toStdString(),
              "Bezugssystem der Datei (EPSG:31467) weicht von dem der Kacheln (EPSG:25832) ab: " + gk);

    ShortMessageSpy spy;
    f.DateiGrid->SetCursorRow(2);
    f.Datei_InfoClick();
    EXPECT_EQ(spy.Texts, std::vector<QString>{QStringLiteral("Keine dBase-Datei: r.tif")});
    f.OKButtonClick();
}
