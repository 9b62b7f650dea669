// Folder entries in the file manager and the main window: a folder of agency-named tiles is
// added with its index built, counted, refused when listed, and queried tile by tile.
#include "admin_support.h"
#include "support/files.h"

#include "config/Konf.h"
#include "tools/Tools.h"
#include "ui/DateiFrm.h"
#include "ui/IndexFenster.h"
#include "ui/MainUnit.h"

#include <QDir>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace tervalo;
using namespace tervalo::test;
using tervalo::test::ReadAll;

namespace {

double KachelZ(double x, double y) { return 50.0 + 0.01 * x - 0.002 * y; }

// A 1 km tile dgm1_32_<e>_<n>_1_nw.xyz of seite x seite points inside the square its name
// gives, shifted by `versatz` metres (a name that lies).
std::string WriteKachel(const std::string& folder, int e, int n, double versatz = 0, int seite = 10) {
    char name[64];
    std::snprintf(name, sizeof name, "dgm1_32_%d_%d_1_nw.xyz", e, n);
    const std::string path = folder + "/" + name;
    std::ofstream f(path, std::ios::binary);
    for (int j = 0; j < seite; ++j)
        for (int i = 0; i < seite; ++i) {
            const double x = e * 1000.0 + 50 + i * 100 + versatz, y = n * 1000.0 + 50 + j * 100;
            char line[96];
            std::snprintf(line, sizeof line, "%.2f %.2f %.3f\n", x, y, KachelZ(x, y));
            f << line;
        }
    return path;
}

class FolderTest : public AdminTest {
protected:
    std::string Dir() const { return dir.path().toStdString() + "/"; }
    std::string Folder(const std::string& rel) const {
        std::filesystem::create_directories(Dir() + rel);
        return Dir() + rel;
    }
    void Open(TDateiForm& f, const TDateien& d = {}) {
        f.Dateien = d;
        f.Dateien.Ordner.IndexOrdner = index_;
        f.FormShow();
    }
    void ChooseFolder(const std::string& path) { platform.FolderAnswers.push_back(QString::fromStdString(path)); }
    static std::string NameCell(const TDateiForm& f, int row) { return f.DateiGrid->Cell(f.FindColumn("Datei"), row); }
    static std::string Cell(const TDateiForm& f, const char* header, int row) {
        return Trim(f.DateiGrid->Cell(f.FindColumn(header), row));
    }
    // Every index of these tests lives in the test's own folder.
    std::string index_ = dir.path().toStdString() + "/index/";
};

TEST_F(FolderTest, AFolderIsAddedWithItsCountAndRefusedWhenListedByItsWholePath) {
    const std::string a = Folder("a/DGM1"), b = Folder("b/DGM1");
    for (int e : {350, 351})
        for (int n : {5600, 5601}) WriteKachel(a, e, n);
    WriteText(dir, "a/DGM1/README.txt.sha256", "not a tile\n");
    WriteText(dir, "a/DGM1/liesmich.pdf", "not a tile\n");
    WriteKachel(b, 352, 5602);
    const std::string file = WriteText(dir, "DGM1", "1 2 3\n");  // a file of the same name

    TDateiForm f;
    Open(f);
    // The progress window stands over the list while the index is built.
    QString progressText;
    int progressMax = -1;
    platform.OnProcessEvents = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<TIndexFenster*>(w); p && p->isVisible()) {
                progressText = p->LB_Ordner->text();
                progressMax = p->Balken->maximum();
            }
    };
    ChooseFolder(a + "/");  // a chooser may end the path in "/"
    f.Ordner_einfuegenClick();
    ASSERT_EQ(platform.FolderDialogs.size(), 1u);
    EXPECT_EQ(progressText, QString::fromStdString("Index wird aufgebaut: " + a));
    EXPECT_EQ(progressMax, 4);
    EXPECT_FALSE(f.Running());
    EXPECT_EQ(NameCell(f, 1), "DGM1 (4 Kacheln)");
    EXPECT_EQ(f.DateiGrid->ShownText(f.FindColumn("Datei"), 1), "DGM1 (4 Kacheln)");  // the column grew
    EXPECT_EQ(f.RowFileName(1), "DGM1");
    EXPECT_EQ(Cell(f, "Verzeichnis", 1), Dir() + "a/");
    EXPECT_EQ(Cell(f, "Xmin", 1), "350000,00");
    EXPECT_EQ(Cell(f, "Xmax", 1), "352000,00");
    EXPECT_EQ(Cell(f, "Ymin", 1), "5600000,00");
    EXPECT_EQ(Cell(f, "Ymax", 1), "5602000,00");
    EXPECT_EQ(f.DateiGrid->CellHint(f.FindColumn("Datei"), 1), a);
    EXPECT_TRUE(platform.Messages.empty());

    ShortMessageSpy spy;
    ChooseFolder(a);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(spy.Texts, std::vector<QString>{QString::fromStdString("Ordner: " + a + " schon vorhanden!")});
    EXPECT_EQ(f.NamedRows(), 1);

    // Another folder of that name is another entry, and so is a file of that name.
    ChooseFolder(b);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(NameCell(f, 1), "DGM1 (1 Kachel)");
    platform.OpenAnswers.push_back({QString::fromStdString(file)});
    f.Datei_einfuegenClick();
    EXPECT_EQ(NameCell(f, 1), "DGM1");
    EXPECT_EQ(f.NamedRows(), 3);

    f.OKButtonClick();
    ASSERT_EQ(f.Dateien.Anzahl, 3);
    EXPECT_EQ(f.Dateien.Datei[1], file);
    EXPECT_EQ(f.Dateien.Datei[2], b);
    EXPECT_EQ(f.Dateien.Datei[3], a);
    EXPECT_EQ(f.Dateien.Xmin[2], 352000.0);
    EXPECT_EQ(f.Dateien.Ymax[2], 5603000.0);
    // The configuration stores a folder's path as it stores a file's.
    f.Dateien.KonfDatei = Dir() + "tervalo.KNF";
    KonfSave(f.Dateien.KonfDatei, Settings, f.Dateien);
    const std::string knf = ReadAll(f.Dateien.KonfDatei);
    EXPECT_NE(knf.find("\r\n#DATEI 3\r\n" + a + "\r\n 350000.00 "), std::string::npos) << knf;
    EXPECT_NE(knf.find("\r\n" + b + "\r\n"), std::string::npos);

    // Opened again, the list counts the tiles from the index, and a folder is not converted.
    TDateiForm again;
    TDateien d;
    TSettings s;
    KonfLoad(f.Dateien.KonfDatei, Dir(), s, d);
    Open(again, d);
    EXPECT_EQ(NameCell(again, 2), "DGM1 (1 Kachel)");
    EXPECT_EQ(NameCell(again, 3), "DGM1 (4 Kacheln)");
    ShortMessageSpy spy2;
    again.DateiGrid->SetCursorRow(3);
    again.Konvertieren1Click();
    EXPECT_TRUE(platform.SaveDialogs.empty());
    EXPECT_EQ(spy2.Texts, std::vector<QString>{QStringLiteral("Ein Ordner wird nicht konvertiert: DGM1")});
}

TEST_F(FolderTest, CancellingTheBuildAddsNothingAndKeepsWhatWasIndexed) {
    // Enough tiles that the build asks several times whether to go on.
    const std::string a = Folder("DGM1_NW");
    for (int e = 300; e < 330; ++e)
        for (int n = 5600; n < 5650; ++n) WriteKachel(a, e, n, 0, 1);
    const std::string old = WriteText(dir, "old.xyz", "1 2 3\n");
    TDateien d;
    d.Anzahl = 1;
    d.Datei[1] = old;
    TDateiForm f;
    Open(f, d);
    f.DateiGrid->SetCursorRow(1);

    // Escape answered No goes on; Escape answered Yes ends the build.
    platform.MessageAnswers = {TMsgResult::No, TMsgResult::Yes};
    platform.PendingEscapes = 2;
    ChooseFolder(a);
    f.Ordner_einfuegenClick();
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_EQ(platform.Messages[1].Text, QStringLiteral("Wirklich abbrechen?"));
    // The cancel button ends it at once, without a question.
    platform.OnProcessEvents = [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<TIndexFenster*>(w); p && p->isVisible()) p->Btn_Abbrechen->click();
    };
    ChooseFolder(a);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(platform.Messages.size(), 2u);
    EXPECT_EQ(f.NamedRows(), 1);
    EXPECT_EQ(f.DateiGrid->RowCount(), 2);
    EXPECT_EQ(f.RowFileName(1), "old.xyz");
    EXPECT_FALSE(f.Running());
    EXPECT_TRUE(f.OKButton->isEnabled());

    platform.OnProcessEvents = nullptr;
    ChooseFolder(a);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(NameCell(f, 1), "DGM1_NW (1500 Kacheln)");
    EXPECT_EQ(f.RowFileName(2), "old.xyz");
    EXPECT_EQ(Cell(f, "Xmax", 1), "330000,00");
}

TEST_F(FolderTest, IndexMessagesFollowTheBuildAndAFolderWithoutTilesKeepsTheStartValues) {
    const std::string a = Folder("mixed");
    WriteKachel(a, 350, 5600);
    const std::string broken = WriteText(dir, "mixed/broken.dbf", std::string("\x03\x7A\x01\x01\xFF\xFF\xFF\x00", 8));
    const std::string empty = Folder("leer");
    WriteText(dir, "leer/README", "nothing here\n");

    TDateiForm f;
    Open(f);
    ChooseFolder(empty);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(NameCell(f, 1), "leer (0 Kacheln)");
    EXPECT_EQ(Cell(f, "Xmin", 1), "999999999,00");
    EXPECT_EQ(Cell(f, "Xmax", 1), "-9999999,00");
    EXPECT_TRUE(platform.Messages.empty());

    ChooseFolder(a);
    f.Ordner_einfuegenClick();
    EXPECT_EQ(NameCell(f, 1), "mixed (2 Kacheln)");
    EXPECT_EQ(Cell(f, "Xmin", 1), "350000,00");
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Hinweis"));
    EXPECT_TRUE(platform.Messages[0].Text.startsWith(QString::fromStdString("Kachel nicht lesbar: " + broken + " (")))
        << platform.Messages[0].Text.toStdString();

    // A folder that cannot be read is reported by the general report and not added.
    ChooseFolder(Dir() + "fehlt");
    EXPECT_ANY_THROW(f.Ordner_einfuegenClick());
    EXPECT_FALSE(f.Running());
    EXPECT_EQ(f.NamedRows(), 2);
}

class FolderQueryTest : public FolderTest {
protected:
    void TearDown() override {
        form.reset();
        FolderTest::TearDown();
    }
    std::unique_ptr<TForm1> form;
};

// The main window reads a folder entry tile by tile: its rows name the tiles, ">>" the last one,
// and a name that lies about its extent marks its row with the message.
TEST_F(FolderQueryTest, AQueryOverAFolderEntryShowsItsTiles) {
    const std::string a = Folder("DGM1_NW");
    for (int e : {350, 351})
        for (int n : {5600, 5601}) WriteKachel(a, e, n);
    const std::string broken = WriteText(dir, "DGM1_NW/kaputt.dbf", std::string("\x03\x7A\x01\x01\xFF\xFF\xFF\x00", 8));
    form = std::make_unique<TForm1>();
    form->Dateien.KonfDatei = Dir() + "tervalo.KNF";
    form->ProgramFolder = Dir();
    form->IndexOrdner = index_;
    form->show();
    QApplication::processEvents();
    EXPECT_EQ(form->Dateien.Ordner.IndexOrdner, index_);
    TDateien& d = form->Dateien;
    d.Anzahl = 1;
    d.Datei[1] = a;
    d.Xmin[1] = 350000, d.Xmax[1] = 352000, d.Ymin[1] = 5600000, d.Ymax[1] = 5602000;

    // At the common corner of the four tiles, in byte order of their names.
    form->PBN_X->SetValue(351000);
    form->PBN_Y->SetValue(5601000);
    form->StartBtn->click();
    const char* names[4] = {"dgm1_32_350_5600_1_nw.xyz", "dgm1_32_350_5601_1_nw.xyz", "dgm1_32_351_5600_1_nw.xyz",
                            "dgm1_32_351_5601_1_nw.xyz"};
    for (int k = 0; k < 4; ++k) {
        // The label keeps the name's end with the km numbers; its hint names the tile's path.
        const QString text = form->LB_DateiN[k]->text();
        EXPECT_TRUE(text == QString::fromLatin1(names[k]) ||
                    (text.startsWith(u'\u2026') && QString::fromLatin1(names[k]).endsWith(text.mid(1)) &&
                     text.size() >= 18))
            << text.toStdString();
        EXPECT_EQ(form->LB_DateiN[k]->toolTip().toStdString(), a + "/" + names[k]);
        EXPECT_EQ(form->LB_gelesen[k]->text(), QStringLiteral("100"));
        EXPECT_EQ(form->LB_gefiltert[k]->text(), QStringLiteral("1"));
    }
    EXPECT_EQ(form->LB_nextPointR->text(), QStringLiteral("70,71"));
    EXPECT_EQ(form->LetzterEintrag(), 1);
    // The index's message about a tile no row shows stands with the file label, without a box.
    const QString kaputt = QString::fromStdString("Kachel nicht lesbar: " + broken + " (");
    EXPECT_TRUE(form->LB_Datei->toolTip().contains(kaputt)) << form->LB_Datei->toolTip().toStdString();
    EXPECT_TRUE(platform.Messages.empty());
    form->Btn_GridShow->click();
    EXPECT_TRUE(form->LB_Datei->text().endsWith(QString::fromLatin1(names[3]))) << form->LB_Datei->text().toStdString();
    form->Btn_GridShow->click();

    // A tile whose points lie 300 m east of its name's square: its row carries the message.
    const std::string liar = WriteKachel(a, 353, 5600, 300);
    form->PBN_X->SetValue(353100);
    form->PBN_Y->SetValue(5600100);
    form->StartBtn->click();
    EXPECT_EQ(form->LB_DateiN[0]->toolTip().section(u'\n', 0, 0).toStdString(), liar);
    EXPECT_NE(form->LB_DateiN[0]->toolTip().toStdString().find(NamensLuegeMeldung(liar)), std::string::npos)
        << form->LB_DateiN[0]->toolTip().toStdString();
    EXPECT_TRUE(platform.Messages.empty());
    // The row shows this message; the label does not repeat it.
    EXPECT_FALSE(form->LB_Datei->toolTip().contains(QString::fromStdString(NamensLuegeMeldung(liar))));
    // The run after it finds the tile at its real place.
    form->PBN_X->SetValue(354250);
    form->StartBtn->click();
    EXPECT_EQ(form->LB_DateiN[0]->toolTip().toStdString(), liar);
    EXPECT_NE(form->LB_gefiltert[0]->text(), QStringLiteral("0"));
}

}  // namespace
