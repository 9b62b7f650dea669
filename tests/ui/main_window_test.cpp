#include "ui_test_support.h"
#include "admin_support.h"

#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "support/nobody.h"
#include "ui/About.h"
#include "ui/Globals.h"
#include "ui/MainUnit.h"
#include "ui/OptionFrm.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

using namespace tervalo;

namespace {

constexpr double X0 = 3566000.0;
constexpr double Y0 = 5936000.0;

double TileZ(double x, double y) { return 100.0 + 0.1 * (x - X0) + 0.2 * (y - Y0); }

// n x n points at `step` metres from (x0, y0), one "X Y Z" line each.
void WriteTile(const std::string& path, double x0, double y0, int n, double step) {
    std::ofstream f(path, std::ios::binary);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double x = x0 + i * step, y = y0 + j * step;
            char line[96];
            std::snprintf(line, sizeof line, "%.3f %.3f %.3f\r\n", x, y, TileZ(x, y));
            f << line;
        }
}

// A level-3 table with the fields X, Y, Z (N 14.5) and no record.
void WriteEmptyDbf(const std::string& path) {
    std::string h(32, '\0');
    h[0] = 3;
    h[1] = 126;
    h[2] = 1;
    h[3] = 1;
    h[8] = static_cast<char>(129);
    h[10] = 43;
    for (const char* name : {"X", "Y", "Z"}) {
        std::string d(32, '\0');
        d[0] = name[0];
        d[11] = 'N';
        d[16] = 14;
        d[17] = 5;
        h += d;
    }
    h += '\x0D';
    h += '\x1A';
    std::ofstream(path, std::ios::binary) << h;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a block with the unprivileged user's effective ids when the tests run as root, so the
// window meets file permissions as a user would (the real ids stay, to come back).
class AsNobody {
public:
    explicit AsNobody(bool on) {
        if (!on || ::geteuid() != 0) return;
        root_ = true;
        groups_.resize(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
        if (::getgroups(static_cast<int>(groups_.size()), groups_.data()) < 0) groups_.clear();
        const bool active = ::setgroups(0, nullptr) == 0 && ::setegid(tervalo::test::NobodyRun::kGid) == 0 &&
                            ::seteuid(tervalo::test::NobodyRun::kUid) == 0;
        EXPECT_TRUE(active);
    }
    ~AsNobody() {
        if (!root_) return;
        if (::seteuid(0) != 0 || ::setegid(0) != 0 || ::setgroups(groups_.size(), groups_.data()) != 0)
            std::abort();  // the rest of the run must not go on as another user
    }
    AsNobody(const AsNobody&) = delete;
    AsNobody& operator=(const AsNobody&) = delete;

private:
    std::vector<gid_t> groups_;
    bool root_ = false;
};

class MainWindowTest : public tervalo::test::UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        Settings = TSettings{};
        Admin = false;
    }
    void TearDown() override {
        form.reset();
        UiTest::TearDown();
    }

    std::string Path(const char* name) const { return QDir(dir.path()).filePath(QString::fromLatin1(name)).toStdString(); }

    // A main window on a configuration file (by default in the temporary folder), activated.
    void Open(const std::string& konf = {}) {
        form = std::make_unique<TForm1>();
        form->Dateien.KonfDatei = konf.empty() ? Path("tervalo.KNF") : konf;
        form->ProgramFolder = dir.path().toStdString() + "/";
        form->show();
        QApplication::processEvents();
    }

    void AddFile(const std::string& path, double xmin, double xmax, double ymin, double ymax) {
        TDateien& d = form->Dateien;
        ++d.Anzahl;
        d.Datei[d.Anzahl] = path;
        d.Xmin[d.Anzahl] = xmin;
        d.Xmax[d.Anzahl] = xmax;
        d.Ymin[d.Anzahl] = ymin;
        d.Ymax[d.Anzahl] = ymax;
    }

    void Query(double x, double y) {
        form->PBN_X->SetValue(x);
        form->PBN_Y->SetValue(y);
        form->StartBtn->click();
    }

    QString Cell(int c, int r) const { return QString::fromStdString(form->StringGrid1->Cell(c, r)); }

    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, FirstActivationWithoutConfiguration) {
    Open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral(" Berechnung Tervalo"));
    EXPECT_EQ(form->LB_Fang->text(), QStringLiteral("50,0"));
    EXPECT_EQ(form->PBN_X->text(), QStringLiteral("0,00"));
    EXPECT_EQ(form->PBN_Y->text(), QStringLiteral("0,00"));
    EXPECT_EQ(form->Btn_GridShow->text(), QStringLiteral(">>"));
    EXPECT_FALSE(form->StringGrid1->isVisible());
    EXPECT_FALSE(form->GridShown);
    EXPECT_EQ(form->width(), TForm1::DesignWidth - (form->StringGrid1->width() + 2));
    EXPECT_EQ(form->LB_Datei->width(), form->width() - 155 - TForm1::ProfilBreite);
    EXPECT_EQ(form->LB_Datei->text(), QStringLiteral("???"));
    EXPECT_TRUE(form->StartBtn->isDefault());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    // The grid's fixed texts are centred with leading blanks.
    EXPECT_EQ(Cell(0, 0).trimmed(), QStringLiteral("Nr."));
    EXPECT_TRUE(Cell(1, 0).startsWith(QLatin1Char(' ')));
    EXPECT_EQ(Cell(1, 0).trimmed(), QStringLiteral("X"));
    EXPECT_EQ(Cell(0, 20).trimmed(), QStringLiteral("20"));
    EXPECT_EQ(form->StringGrid1->RowCount(), 21);
    EXPECT_EQ(form->StringGrid1->ColCount(), 5);
}

TEST_F(MainWindowTest, QueryOnTextTileFillsLabelsAndGrid) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 21, 5.0);
    Open();
    AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
    Query(X0 + 12, Y0 + 13);

    EXPECT_EQ(form->LB_DateiN[0]->text(), QStringLiteral("kachel1.xyz"));
    EXPECT_EQ(form->LB_gelesen[0]->text(), QStringLiteral("441"));
    // Square 3565962..3566062 x 5935963..5936063: 13 x 13 grid points.
    EXPECT_EQ(form->LB_gefiltert[0]->text(), QStringLiteral("169"));
    EXPECT_EQ(form->LB_DateiN[1]->text(), QStringLiteral("---"));
    EXPECT_EQ(form->LB_gelesen[1]->text(), QStringLiteral("0"));
    // Nearest point (X0+10, Y0+15), 2.83 m off, height 100 + 1 + 3.
    EXPECT_EQ(form->LB_nextPointR->text(), QStringLiteral("2,83"));
    EXPECT_EQ(form->LB_nextPointZ->text(), QStringLiteral("104,00"));
    EXPECT_EQ(form->LB_ExtrapolnPoints->text(), QStringLiteral("4"));
    EXPECT_FALSE(form->LB_Datei->text().isEmpty());
    EXPECT_NE(form->LB_Datei->text(), QStringLiteral("???"));
    EXPECT_EQ(form->LetzterEintrag(), 1);

    // Grid: nearest first, fixed formats with the German separator.
    EXPECT_EQ(Cell(1, 1), QStringLiteral("3566010,00"));
    EXPECT_EQ(Cell(2, 1), QStringLiteral("5936015,00"));
    EXPECT_EQ(Cell(3, 1), QStringLiteral(" 104,00"));
    EXPECT_EQ(Cell(4, 1), QStringLiteral("  2,83"));
    EXPECT_FALSE(Cell(1, 20).isEmpty());
    // Cursor and icon are back, the focus is in X.
    EXPECT_FALSE(platform.Busy);
    EXPECT_EQ(platform.BusyChanges, 2);
    EXPECT_EQ(form->BusyStep(), 0);
    EXPECT_TRUE(platform.Messages.empty());
}

TEST_F(MainWindowTest, MissingFileEmptyTableAndFileOutsideTheSquare) {
    const std::string missing = Path("fehlt.xyz");
    const std::string empty = Path("leer.dbf");
    const std::string far = Path("weit.xyz");
    WriteEmptyDbf(empty);
    WriteTile(far, X0 + 5000, Y0, 3, 5.0);
    Open();
    AddFile(missing, X0, X0 + 100, Y0, Y0 + 100);
    AddFile(empty, X0, X0 + 100, Y0, Y0 + 100);
    AddFile(far, X0 + 5000, X0 + 5010, Y0, Y0 + 10);
    Query(X0 + 50, Y0 + 50);

    EXPECT_EQ(form->LB_DateiN[0]->text(), QStringLiteral("---"));
    EXPECT_EQ(form->LB_gelesen[0]->text(), QStringLiteral("0"));
    EXPECT_EQ(form->LB_DateiN[1]->text(), QStringLiteral("leer.dbf"));
    EXPECT_EQ(form->LB_gelesen[1]->text(), QStringLiteral("0"));
    EXPECT_EQ(form->LB_gefiltert[1]->text(), QStringLiteral("0"));
    EXPECT_EQ(form->LB_DateiN[2]->text(), QStringLiteral("---"));
    EXPECT_EQ(form->LB_Datei->text(), QStringLiteral("Fehler: Keine Datensätze!"));
    EXPECT_EQ(form->LB_nextPointR->text(), QStringLiteral("-----"));
    EXPECT_EQ(form->LB_nextPointZ->text(), QStringLiteral("-----"));
    EXPECT_EQ(form->LB_ExtrapolnPoints->text(), QStringLiteral("--"));
    EXPECT_EQ(form->LB_ExtrapolPointZ->text(), QStringLiteral("-----"));
    EXPECT_TRUE(Cell(1, 1).isEmpty());
    EXPECT_TRUE(platform.Messages.empty());

    // Showing the grid puts the last selected file's path into the label.
    form->Btn_GridShow->click();
    EXPECT_EQ(form->LB_Datei->text().right(8), QStringLiteral("leer.dbf"));

    // A query that selects no file leaves "???", also after toggling.
    Query(0, 0);
    EXPECT_EQ(form->LB_Datei->text(), QStringLiteral("???"));
    EXPECT_EQ(form->LB_DateiN[1]->text(), QStringLiteral("---"));
    form->Btn_GridShow->click();
    EXPECT_EQ(form->LB_Datei->text(), QStringLiteral("???"));
}

TEST_F(MainWindowTest, MissingFileShowsIoErrorThenPathOnToggle) {
    const std::string missing = Path("fehlt.xyz");
    Open();
    AddFile(missing, X0, X0 + 100, Y0, Y0 + 100);
    Query(X0 + 50, Y0 + 50);
    EXPECT_TRUE(form->LB_Datei->text().startsWith(QStringLiteral("I/O-Fehler: ")));
    form->Btn_GridShow->click();
    EXPECT_FALSE(form->LB_Datei->text().startsWith(QStringLiteral("I/O-Fehler")));
    EXPECT_TRUE(form->LB_Datei->text().endsWith(QStringLiteral("fehlt.xyz")));
}

TEST_F(MainWindowTest, ReadErrorEndsRunWithReportAndResetsCursorAndIcon) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 21, 5.0);
    // dBase signature, but the header claims more than the file holds.
    const std::string broken = Path("kaputt.dbf");
    {
        std::string h(32, '\0');
        h[0] = 3;
        h[1] = 126;
        h[2] = 1;
        h[3] = 1;
        h[4] = 5;
        h[8] = static_cast<char>(129);
        h[10] = 43;
        std::ofstream(broken, std::ios::binary) << h;
    }
    Open();
    AddFile(broken, X0, X0 + 100, Y0, Y0 + 100);
    AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
    Query(X0 + 12, Y0 + 13);

    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Interpolation von Tervalo"));
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_FALSE(platform.Messages[0].Text.isEmpty());
    // The run ended at the first file: the second was not read, results keep their start texts.
    EXPECT_EQ(form->LB_DateiN[1]->text(), QStringLiteral("---"));
    EXPECT_EQ(form->LB_nextPointR->text(), QStringLiteral("-----"));
    EXPECT_TRUE(Cell(1, 1).isEmpty());
    EXPECT_FALSE(platform.Busy);
    EXPECT_EQ(form->BusyStep(), 0);
}

TEST_F(MainWindowTest, EnterInCoordinateFieldStartsQuery) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 21, 5.0);
    Open();
    AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
    form->PBN_X->SetValue(X0 + 12);
    form->PBN_Y->SetValue(Y0 + 13);
    tervalo::test::TypeKey(form->PBN_Y, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(form->LB_DateiN[0]->text(), QStringLiteral("kachel1.xyz"));
}

// The query runs on the coordinate the field shows, or not at all.
TEST_F(MainWindowTest, QueryRunsOnPastedValueAndNeverOnAnotherThanTheOneShown) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 21, 5.0);
    Open();
    AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
    form->PBN_Y->SetValue(Y0 + 13);
    form->PBN_X->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("3566011.5"));  // a point under a German locale
    tervalo::test::TypeKey(form->PBN_X, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);
    EXPECT_EQ(form->PBN_X->text(), QStringLiteral("3566011,5"));
    tervalo::test::TypeKey(form->PBN_X, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(form->LB_nextPointR->text(), QStringLiteral("2,50"));  // from (X0+10, Y0+15)
    EXPECT_EQ(form->PBN_X->text(), QStringLiteral("3566011,50"));
    EXPECT_EQ(platform.BusyChanges, 2);

    // Typed but incomplete: a beep, the last value shown again, no query.
    form->PBN_Y->selectAll();
    tervalo::test::TypeText(form->PBN_Y, QStringLiteral("5936013E"));
    tervalo::test::TypeKey(form->PBN_Y, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(platform.BusyChanges, 2);
    EXPECT_EQ(platform.Beeps, 1);
    EXPECT_EQ(form->PBN_Y->text(), QStringLiteral("5936013,00"));
    EXPECT_EQ(form->focusWidget(), form->PBN_Y);
}

// A typed point (German) or comma (C) is the decimal separator: the query runs on the coordinate
// meant, not on one ten times as large that may lie in another tile.
TEST_F(MainWindowTest, TypedPointOrCommaGivesTheCoordinateMeantInEitherLocale) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 21, 5.0);
    for (const QLocale& loc : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
        QLocale::setDefault(loc);
        const QString sep = loc.decimalPoint();
        Open();
        AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
        form->PBN_X->selectAll();
        QTest::keyClicks(form->PBN_X, QStringLiteral("3566011.5"));
        form->PBN_Y->selectAll();
        QTest::keyClicks(form->PBN_Y, QStringLiteral("5936013,5"));
        QTest::keyClick(form->PBN_Y, Qt::Key_Return);
        EXPECT_EQ(form->PBN_X->text(), "3566011" + sep + "50");
        EXPECT_EQ(form->PBN_Y->text(), "5936013" + sep + "50");
        EXPECT_EQ(form->LB_DateiN[0]->text(), QStringLiteral("kachel1.xyz"));
        EXPECT_EQ(Cell(1, 1), "3566010" + sep + "00");  // nearest (X0+10, Y0+15)
        EXPECT_EQ(Cell(2, 1), "5936015" + sep + "00");
        EXPECT_EQ(form->LB_nextPointR->text(), "2" + sep + "12");
    }
    EXPECT_EQ(platform.Beeps, 0);
}

// One Tab enters the grid and the next leaves it; Enter on a focused button presses that
// button, anywhere else it starts the query.
TEST_F(MainWindowTest, TabPassesThroughTheGridAndEnterPressesTheFocusedButton) {
    Open();
    form->Btn_GridShow->click();
    TResultGrid* g = form->StringGrid1;
    const int column = g->currentColumn();
    form->Btn_GridShow->setFocus(Qt::TabFocusReason);
    tervalo::test::TypeKey(form->Btn_GridShow, Qt::Key_Tab, QStringLiteral("\t"));
    EXPECT_EQ(form->focusWidget(), g);
    tervalo::test::TypeKey(g, Qt::Key_Tab, QStringLiteral("\t"));
    EXPECT_NE(form->focusWidget(), g);
    EXPECT_EQ(g->currentColumn(), column);

    tervalo::test::TypeKey(g, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(platform.BusyChanges, 2);
    form->Btn_GridShow->setFocus(Qt::TabFocusReason);
    tervalo::test::TypeKey(form->Btn_GridShow, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_FALSE(form->GridShown);
    EXPECT_EQ(platform.BusyChanges, 2);
    form->StartBtn->setFocus(Qt::TabFocusReason);
    tervalo::test::TypeKey(form->StartBtn, Qt::Key_Return, QStringLiteral("\r"));
    EXPECT_EQ(platform.BusyChanges, 4);
}

// Rows end with a line feed, so a pasted block keeps its rows on Linux; cells and blanks are
// copied exactly as shown.
TEST_F(MainWindowTest, CopiesSelectedBlockWithTabsAndLineFeeds) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 2, 5.0);  // four points only
    Open();
    AddFile(tile, X0, X0 + 5, Y0, Y0 + 5);
    Query(X0 + 1, Y0 + 1);
    form->Btn_GridShow->click();
    TResultGrid* g = form->StringGrid1;

    g->SelectBlock(1, 1, 2, 3);
    form->inZwischenablagekopieren1->trigger();
    const QString block = QStringLiteral("3566000,00\t5936000,00\n3566005,00\t5936000,00\n3566000,00\t5936005,00\n");
    EXPECT_EQ(platform.Clipboard, block);
    EXPECT_EQ(platform.Clipboard,
              Cell(1, 1) + '\t' + Cell(2, 1) + '\n' + Cell(1, 2) + '\t' + Cell(2, 2) + '\n' + Cell(1, 3) + '\t' +
                  Cell(2, 3) + '\n');

    // One cell: its text as shown, leading blanks kept, and one line feed.
    g->SelectBlock(4, 1, 4, 1);
    form->inZwischenablagekopieren1->trigger();
    EXPECT_EQ(platform.Clipboard, QStringLiteral("  1,41\n"));

    // Rows without a point give the separators only.
    g->SelectBlock(2, 5, 4, 6);
    form->inZwischenablagekopieren1->trigger();
    EXPECT_EQ(platform.Clipboard, QStringLiteral("\t\t\n\t\t\n"));

    // Ctrl+C (and Ctrl+Ins) on the grid copy the same block as the menu, not the current cell.
    g->setFocus(Qt::TabFocusReason);
    g->SelectBlock(1, 1, 2, 3);
    platform.Clipboard.clear();
    QTest::keyClick(g, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(platform.Clipboard, block);
    g->SelectBlock(3, 2, 4, 2);
    QTest::keyClick(g, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(platform.Clipboard, Cell(3, 2) + '\t' + Cell(4, 2) + '\n');
    EXPECT_EQ(platform.ClipboardWrites, 5);

    // The bytes the system clipboard holds as plain text.
    SetPlatform(nullptr);
    g->SelectBlock(3, 1, 4, 2);
    QTest::keyClick(g, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->mimeData()->data(QStringLiteral("text/plain")),
              QByteArray(" 100,00\t  1,41\n 100,50\t  4,12\n"));
    SetPlatform(&platform);
}

// Right-clicking a cell to reach the context menu must not replace the dragged block.
TEST_F(MainWindowTest, RightClickKeepsTheSelectionForCopying) {
    const std::string tile = Path("kachel1.xyz");
    WriteTile(tile, X0, Y0, 2, 5.0);
    Open();
    AddFile(tile, X0, X0 + 5, Y0, Y0 + 5);
    Query(X0 + 1, Y0 + 1);
    form->Btn_GridShow->click();
    TResultGrid* g = form->StringGrid1;
    g->SelectBlock(1, 1, 2, 3);

    const QRect cell = g->visualRect(g->model()->index(9, 4));  // row 10, column R
    QWidget* vp = g->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, cell.center(), vp->mapToGlobal(cell.center()),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, cell.center(), vp->mapToGlobal(cell.center()),
                        Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &release);

    const TResultGrid::TBlock b = g->Selection();
    EXPECT_EQ(b.Left, 1);
    EXPECT_EQ(b.Top, 1);
    EXPECT_EQ(b.Right, 2);
    EXPECT_EQ(b.Bottom, 3);
    form->inZwischenablagekopieren1->trigger();
    EXPECT_EQ(platform.Clipboard.count(QLatin1Char('\n')), 3);
}

TEST_F(MainWindowTest, GridToggleAndDoubleClickWidths) {
    Open();
    const int narrow = form->width();
    form->Btn_GridShow->click();
    EXPECT_TRUE(form->GridShown);
    EXPECT_TRUE(form->StringGrid1->isVisible());
    EXPECT_EQ(form->Btn_GridShow->text(), QStringLiteral("<<"));
    EXPECT_EQ(form->width(), narrow + form->StringGrid1->width());
    EXPECT_EQ(form->LB_Datei->width(), form->width() - 155 - TForm1::ProfilBreite);
    EXPECT_TRUE(form->PBN_X->hasFocus());
    form->Btn_GridShow->click();
    EXPECT_EQ(form->width(), narrow);
    EXPECT_EQ(form->Btn_GridShow->text(), QStringLiteral(">>"));
    EXPECT_EQ(form->LB_Datei->width(), narrow - 155 - TForm1::ProfilBreite);

    TResultGrid& g = *form->StringGrid1;
    g.SetColWidth(1, 120);
    g.SetColWidth(4, 10);
    form->StringGrid1DblClick();
    EXPECT_EQ(g.ColWidth(0), 30);
    EXPECT_EQ(g.ColWidth(1), 70);
    EXPECT_EQ(g.ColWidth(2), 70);
    EXPECT_EQ(g.ColWidth(3), 45);
    EXPECT_EQ(g.ColWidth(4), 265 - 215 - 9);
}

TEST_F(MainWindowTest, StoredWidthsApplyWhenWiderThanHeadingAndAreSavedOnClose) {
    TSettings s;
    s.Fangbreite = 25.0;
    s.GridBreiten[1] = 100;
    s.GridBreiten[3] = 2;  // narrower than the heading text: ignored
    TDateien d;
    {
        std::ofstream(Path("tervalo.KNF"), std::ios::binary) << KonfText(s, d);
    }
    Open();
    EXPECT_EQ(form->LB_Fang->text(), QStringLiteral("25,0"));
    EXPECT_EQ(form->StringGrid1->ColWidth(1), 100);
    EXPECT_EQ(form->StringGrid1->ColWidth(3), 45);

    form->StringGrid1->SetColWidth(2, 88);
    form->SpeedButton3->click();  // "Ende"
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Settings.GridBreiten[2], 88);
    TSettings back;
    TDateien backD;
    KonfLoad(Path("tervalo.KNF"), dir.path().toStdString() + "/", back, backD);
    EXPECT_EQ(back.GridBreiten[1], 100);
    EXPECT_EQ(back.GridBreiten[2], 88);
    EXPECT_DOUBLE_EQ(back.Fangbreite, 25.0);
    EXPECT_TRUE(platform.Messages.empty());
}

// Closing is never blocked: a save that cannot even be created is silent, a later failure is
// reported once, and the window closes either way.
TEST_F(MainWindowTest, FailedSaveOnClosingNeverKeepsTheWindowOpen) {
    Open();
    // The save path became a folder.
    const std::string blocked = Path("belegt.KNF");
    QDir().mkpath(QString::fromStdString(blocked + "/inhalt"));
    form->Dateien.KonfDatei = blocked;
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(platform.Messages.empty());
    EXPECT_EQ(form->Abfrage(), nullptr);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(blocked + "/inhalt")).isDir());

    // A write that fails midway (file size limit): one report, the old file kept whole.
    Open();
    const std::string konf = Path("tervalo.KNF");
    std::ofstream(konf, std::ios::binary) << "alt";
    for (int i = 0; i < 100; ++i) AddFile("/d/" + std::string(100, 'p') + std::to_string(i), 0, 1, 0, 1);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    form->close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QString::fromStdString("Zu wenig Speicherplatz: " + konf + "."));
    EXPECT_EQ(ReadBytes(konf), "alt");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("tervalo.KNF")});
    form->close();
    EXPECT_EQ(platform.Messages.size(), 1u);
}

TEST_F(MainWindowTest, ReadErrorOnLoadIsReportedAndTheFileIsNotOverwritten) {
    // Reading /proc/self/mem from its start fails with an I/O error.
    const QString link = QString::fromStdString(Path("tervalo.KNF"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), link));
    Open();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Caption, QStringLiteral("Interpolation von Tervalo"));
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("E/A-Fehler 5: ") + link + QStringLiteral("."));
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(platform.Messages.size(), 1u);
}

// A configuration that exists but cannot be read is reported at start-up; the window still comes
// up whole with the initial values, and closing leaves the file exactly as it was.
TEST_F(MainWindowTest, UnreadableConfigurationIsReportedAndNeverWritten) {
    tervalo::test::NobodyRun nobody;
    const std::string folder = Path("ordner.KNF");
    QDir().mkpath(QString::fromStdString(folder + "/inhalt"));
    const std::string fifo = Path("pipe.KNF");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    TSettings s;
    s.Fangbreite = 25.0;
    const std::string text = KonfText(s, TDateien{});
    const std::string locked = nobody.Work() + "/tervalo.KNF";  // no read permission for the user
    std::ofstream(locked, std::ios::binary) << text;
    tervalo::test::NobodyRun::GiveAway(locked);
    ::chmod(locked.c_str(), 0);

    for (const std::string& konf : {folder, fifo, locked}) {
        SCOPED_TRACE(konf);
        platform.Messages.clear();
        Settings = TSettings{};
        {
            AsNobody user(konf == locked);
            Open(konf);
            Settings.Potenz = 7;  // a change that must not reach the file
            ASSERT_EQ(platform.Messages.size(), 1u);
            EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
            EXPECT_EQ(platform.Messages[0].Text, QString::fromStdString("Dateizugriff verweigert: " + konf + "."));
            EXPECT_EQ(form->LB_Fang->text(), QStringLiteral("50,0"));
            EXPECT_EQ(form->PBN_X->text(), QStringLiteral("0,00"));
            EXPECT_FALSE(form->StringGrid1->isVisible());
            EXPECT_EQ(form->width(), TForm1::DesignWidth - (form->StringGrid1->width() + 2));
            form->SpeedButton3->click();
            EXPECT_FALSE(form->isVisible());
        }
        EXPECT_EQ(platform.Messages.size(), 1u);
    }
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folder + "/inhalt")).isDir());
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat(locked.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u);
    EXPECT_EQ(ReadBytes(locked), text);
}

// A write-protected configuration stays protected: closing does not go round it by a rename.
TEST_F(MainWindowTest, WriteProtectedConfigurationIsNotReplacedOnClosing) {
    tervalo::test::NobodyRun nobody;
    TSettings s;
    s.Fangbreite = 25.0;
    const std::string text = KonfText(s, TDateien{});
    const std::string konf = nobody.Work() + "/tervalo.KNF";
    std::ofstream(konf, std::ios::binary) << text;
    ::chmod(konf.c_str(), 0444);
    struct stat before {};
    ASSERT_EQ(::stat(konf.c_str(), &before), 0);
    {
        AsNobody user(true);
        Open(konf);
        EXPECT_EQ(form->LB_Fang->text(), QStringLiteral("25,0"));
        Settings.Fangbreite = 30.0;
        form->close();
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_TRUE(platform.Messages.empty());
    struct stat after {};
    ASSERT_EQ(::stat(konf.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadBytes(konf), text);
}

// More entries than the catalogue holds: the first 250 are used, the user is told, and the file
// is not saved over (that would drop the rest).
TEST_F(MainWindowTest, SurplusEntriesAreAnnouncedAndTheFileKept) {
    std::string text = KonfText(TSettings{}, TDateien{});
    for (int i = 1; i <= 300; ++i)
        text += "#DATEI " + std::to_string(i) + "\r\n/d/b" + std::to_string(i) + ".xyz\r\n1\r\n2\r\n3\r\n4\r\n";
    const std::string konf = Path("tervalo.KNF");
    std::ofstream(konf, std::ios::binary) << text;
    Open();
    EXPECT_EQ(form->Dateien.Anzahl, 250);
    EXPECT_EQ(form->Dateien.Datei[250], "/d/b250.xyz");
    ASSERT_EQ(platform.Messages.size(), 1u);
    const QString m = platform.Messages[0].Text;
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Info);
    EXPECT_TRUE(m.contains(QStringLiteral("300")) && m.contains(QStringLiteral("250"))) << m.toStdString();
    EXPECT_TRUE(m.contains(QStringLiteral("nicht in diese Datei gespeichert"))) << m.toStdString();
    EXPECT_TRUE(m.contains(QString::fromStdString(konf)));
    Settings.Fangbreite = 30.0;
    form->StringGrid1->SetColWidth(2, 88);
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(ReadBytes(konf), text);
    EXPECT_EQ(platform.Messages.size(), 1u);
}

// Tab walks X, Y, the start button, Optionen, Info, Ende and ">>"; Alt+O, F1, Alt+E and Enter on
// a focused top-bar button do what a click does.
TEST_F(MainWindowTest, TheTopBarButtonsAreReachedByTabAndByTheirKeys) {
    Open();
    // The offscreen platform does not give the activation back when a modal window closes.
    auto activate = [this] {
        form->activateWindow();
        return QTest::qWaitForWindowActive(form.get());
    };
    ASSERT_TRUE(activate());
    const std::vector<QWidget*> order{form->PBN_Y,        form->StartBtn,     form->SB_Profil,    form->SB_Optionen,
                                      form->SpeedButton1, form->SpeedButton3, form->Btn_GridShow, form->PBN_X};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    int about = 0, options = 0;
    for (bool enter : {false, true}) {
        tervalo::test::OnModal<TAboutBox>([&about](TAboutBox* b) { ++about, b->reject(); });
        form->SpeedButton1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(form->SpeedButton1, enter ? Qt::Key_Return : Qt::Key_F1);
        ASSERT_TRUE(activate());
    }
    EXPECT_EQ(about, 2);
    EXPECT_EQ(platform.BusyChanges, 0);  // Enter on the button starts no query
    tervalo::test::OnModal<TOptionForm>([&options](TOptionForm* o) { ++options, o->reject(); });
    QTest::keyClick(form->PBN_Y, Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(options, 1);
    ASSERT_TRUE(activate());
    QTest::keyClick(form->PBN_Y, Qt::Key_E, Qt::AltModifier);
    EXPECT_FALSE(form->isVisible());
}

// Agency tiles differ only at the end of their long names: the labels keep that end and carry
// the full path as hint; the window widens (at most 80 pixels) for the file label.
TEST_F(MainWindowTest, LongTileNamesKeepTheirEndAndShowTheirPath) {
    const std::string nw = Path("dgm1l_32_357_5646_1_2024_00001_nw.xyz.gz");
    const std::string no = Path("dgm1l_32_357_5646_1_2024_00001_no.xyz.gz");
    WriteTile(nw, X0, Y0, 3, 5.0);  // plain text under a packed name reads as text
    WriteTile(no, X0, Y0 + 10, 3, 5.0);
    Open();
    const int narrow = form->width();
    AddFile(nw, X0, X0 + 10, Y0, Y0 + 10);
    AddFile(no, X0, X0 + 10, Y0 + 10, Y0 + 20);
    Query(X0 + 5, Y0 + 10);

    const QString name = QString::fromStdString(FileNamePart(no));
    const int need = QFontMetrics(form->LB_Datei->font()).horizontalAdvance(name) - (narrow - 155 - TForm1::ProfilBreite);
    EXPECT_EQ(form->width(), narrow + std::clamp(need, 0, TForm1::MaxZusatz));
    EXPECT_EQ(form->width() - form->Btn_GridShow->geometry().right(), narrow - 321);  // moved along
    for (const QLabel* l : {form->LB_Datei, form->LB_DateiN[0], form->LB_DateiN[1]}) {
        const bool first = l == form->LB_DateiN[0];
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width());
        EXPECT_TRUE(l->text().endsWith(first ? QStringLiteral("_nw.xyz.gz") : QStringLiteral("_no.xyz.gz")))
            << l->text().toStdString();
        EXPECT_EQ(l->toolTip(), QString::fromStdString(first ? nw : no));
    }
    // With the grid the label has room; hiding it widens the window again.
    const int widened = form->width();
    form->Btn_GridShow->click();
    EXPECT_EQ(form->width(), narrow + form->StringGrid1->width());
    form->Btn_GridShow->click();
    EXPECT_EQ(form->width(), widened);
    EXPECT_EQ(form->LB_Datei->toolTip(), QString::fromStdString(no));
}

// The settings file beside the configuration: read at start, written on closing, but made
// only once something is set; the other lines of an existing one stay.
TEST_F(MainWindowTest, SettingsFileIsReadAtStartAndWrittenOnClosing) {
    const std::string ini = Path("tervalo.ini");
    Open();
    EXPECT_TRUE(form->Einstellungen.Leer());
    form->close();
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(Path("tervalo.KNF"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ini)));

    Open();
    SetKachelSystem(form->Einstellungen, 25832);
    form->close();
    EXPECT_EQ(ReadBytes(ini), "[Kacheln]\nSystem=EPSG:25832\n");

    std::ofstream(ini, std::ios::binary) << "; Hand\r\n[Kacheln]\r\nSystem=gk3\r\n[Fenster]\r\nEingabe=utm32\r\n";
    Open();
    EXPECT_EQ(ReadKachelSystem(form->Einstellungen), 31467);
    EXPECT_EQ(ReadFensterEingabe(form->Einstellungen), "utm32");
    SetFensterEingabe(form->Einstellungen, "gk4");
    form->close();
    EXPECT_EQ(ReadBytes(ini), "; Hand\n[Kacheln]\nSystem=gk3\n[Fenster]\nEingabe=gk4\n");
    EXPECT_TRUE(platform.Messages.empty());
}

// A settings file that cannot be read is reported as the configuration is and never written;
// a stored value that cannot be read is named with file, line and key.
TEST_F(MainWindowTest, UnreadableSettingsFileIsReportedAndKept) {
    const std::string ini = Path("tervalo.ini");
    QDir().mkpath(QString::fromStdString(ini + "/inhalt"));
    Open();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(platform.Messages[0].Text, QString::fromStdString("Dateizugriff verweigert: " + ini + "."));
    SetKachelSystem(form->Einstellungen, 25832);
    form->close();
    EXPECT_EQ(platform.Messages.size(), 1u);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(ini + "/inhalt")).isDir());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(Path("tervalo.KNF"))));  // saved as ever

    QDir(QString::fromStdString(ini)).removeRecursively();
    std::ofstream(ini, std::ios::binary) << "[Kacheln]\nSystem=EPSG:x\n";
    platform.Messages.clear();
    Open();
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Info);
    EXPECT_EQ(platform.Messages[0].Text.toStdString(),
              ini + ", Zeile 2: Schl\xC3\xBCssel [Kacheln] System: \"EPSG:x\" ist kein Bezugssystem und gilt als nicht "
                    "gesetzt (verstanden: " + TextSystemFormen + ")");
    EXPECT_FALSE(ReadKachelSystem(form->Einstellungen));
    form->close();
    EXPECT_EQ(ReadBytes(ini), "[Kacheln]\nSystem=EPSG:x\n");  // kept until someone sets a system
}

TEST(FangText, GroupingRoundingAndExponent) {
    tervalo::test::UiApp();
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(FangText(50.0, de), QStringLiteral("50,0"));
    EXPECT_EQ(FangText(303.686, de), QStringLiteral("303,7"));
    EXPECT_EQ(FangText(1234.5, de), QStringLiteral("1.235,0"));
    EXPECT_EQ(FangText(12.345, de), QStringLiteral("12,3"));
    EXPECT_EQ(FangText(12345.0, de), QStringLiteral("1,235E4"));
    EXPECT_EQ(FangText(10000.0, de), QStringLiteral("1E4"));
    EXPECT_EQ(FangText(0.0, de), QStringLiteral("0,0"));
    EXPECT_EQ(FangText(1234.5, QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("1,235.0"));
}

}  // namespace

// --- The input system -----------------------------------------------------------------------

// The tiles are in GK zone 3; the WGS 84 position of (X0 + 12.5, Y0 + 13.5) is from cs2cs -d 9.
constexpr const char* Breite = "53,551451691";
constexpr const char* Laenge = "9,994937682";

class EingabeTest : public MainWindowTest {
protected:
    void OpenWith(const std::string& ini) {
        std::ofstream(Path("tervalo.ini"), std::ios::binary) << ini;
        Open();
    }
    void OpenOnTile(const std::string& ini) {
        const std::string tile = Path("kachel1.xyz");
        WriteTile(tile, X0, Y0, 21, 5.0);
        OpenWith(ini);
        AddFile(tile, X0, X0 + 100, Y0, Y0 + 100);
    }
    void QueryDegrees(const QString& breite, const QString& laenge) {
        form->ED_Breite->setText(breite);
        form->ED_Laenge->setText(laenge);
        form->StartBtn->click();
    }
    std::vector<QString> Results() const {
        std::vector<QString> r = {form->LB_nextPointR->text(), form->LB_nextPointZ->text(),
                                  form->LB_ExtrapolnPoints->text(), form->LB_ExtrapolPointZ->text()};
        for (int row = 1; row <= 20; ++row)
            for (int c = 1; c <= 4; ++c) r.push_back(Cell(c, row));
        return r;
    }
};

TEST_F(EingabeTest, ChoiceOnlyWithATilesSystemAndTheDescribedControlsStay) {
    Open();
    const QRect x = form->PBN_X->geometry(), start = form->StartBtn->geometry();
    EXPECT_EQ(form->height(), TForm1::DesignHeight);
    EXPECT_FALSE(form->CB_Eingabe->isVisible());
    EXPECT_FALSE(form->LB_Umrechnung->isVisible());
    EXPECT_FALSE(form->ED_Breite->isVisible());
    EXPECT_TRUE(form->PBN_X->hasFocus());
    EXPECT_EQ(form->EingabeName(), "");
    form->close();

    OpenWith("[Kacheln]\nSystem=gk3\n");
    EXPECT_EQ(form->height(), TForm1::DesignHeight + TForm1::EingabeZusatz);
    EXPECT_TRUE(form->CB_Eingabe->isVisible());
    EXPECT_EQ(form->PBN_X->geometry(), x);
    EXPECT_EQ(form->StartBtn->geometry(), start);
    EXPECT_GE(form->CB_Eingabe->y(), start.bottom());
    EXPECT_LE(form->LB_Umrechnung->geometry().bottom(), form->height());
    // The tiles' own system first; GK 3 is not offered a second time.
    ASSERT_EQ(form->CB_Eingabe->count(), 8);
    EXPECT_EQ(form->CB_Eingabe->itemText(0), QStringLiteral("Kachelsystem (EPSG:31467)"));
    EXPECT_EQ(form->CB_Eingabe->findData(QStringLiteral("gk3")), -1);
    EXPECT_FALSE(form->SetEingabe("gk3"));
    EXPECT_TRUE(form->SetEingabe("utm32"));
    EXPECT_TRUE(form->PBN_X->isVisible());  // metres: the same fields
    EXPECT_TRUE(form->SetEingabe("wgs84"));
    EXPECT_FALSE(form->PBN_X->isVisible());
    EXPECT_TRUE(form->ED_Breite->isVisible());
    EXPECT_EQ(form->ED_Breite->geometry(), x);
    EXPECT_TRUE(platform.Messages.empty());
}

TEST_F(EingabeTest, DegreeFieldsReadDecimalsAndDmsAndRefuseBadAngles) {
    OpenOnTile("[Kacheln]\nSystem=gk3\n[Fenster]\nEingabe=wgs84\n");
    ASSERT_EQ(form->EingabeName(), "wgs84");
    EXPECT_TRUE(form->ED_Breite->hasFocus());
    // Tab: latitude, longitude, start, the choice; the hidden metre fields are passed over.
    std::vector<QWidget*> reihe;
    for (int i = 0; i < 4; ++i) {
        reihe.push_back(form->focusWidget());
        tervalo::test::TypeKey(form->focusWidget(), Qt::Key_Tab, QStringLiteral("\t"));
    }
    EXPECT_EQ(reihe, (std::vector<QWidget*>{form->ED_Breite, form->ED_Laenge, form->StartBtn, form->CB_Eingabe}));
    form->ED_Breite->setFocus();
    QueryDegrees(QStringLiteral("53,5"), QStringLiteral("10"));
    const QString dezimal = form->LB_Umrechnung->text();
    EXPECT_TRUE(dezimal.startsWith(QStringLiteral("Abgefragt: ")));
    EXPECT_TRUE(dezimal.contains(QStringLiteral("\nUmrechnung: ")));
    QueryDegrees(QStringLiteral("53°30'0\"N"), QStringLiteral("10°0'0,0\"E"));
    EXPECT_EQ(form->LB_Umrechnung->text(), dezimal);
    EXPECT_TRUE(platform.Messages.empty());

    // Beyond 90 degrees, an unreadable longitude: a message, no query, the bad field focused.
    form->LB_nextPointZ->setText(QStringLiteral("unberührt"));
    QueryDegrees(QStringLiteral("91°"), QStringLiteral("10"));
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(platform.Messages[0].Text.contains(QStringLiteral("Breite")));
    EXPECT_TRUE(form->ED_Breite->hasFocus());
    QueryDegrees(QStringLiteral("53,5"), QStringLiteral("10°70'"));
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_TRUE(platform.Messages[1].Text.contains(QStringLiteral("Länge")));
    EXPECT_TRUE(form->ED_Laenge->hasFocus());
    // Far outside the area of the tiles' system: refused by the conversion.
    QueryDegrees(QStringLiteral("-40"), QStringLiteral("150"));
    ASSERT_EQ(platform.Messages.size(), 3u);
    EXPECT_TRUE(form->LB_Umrechnung->text().isEmpty());
    EXPECT_EQ(form->LB_nextPointZ->text(), QStringLiteral("unberührt"));
}

// One engine: the converted point answers exactly as the same point typed in the tiles' system.
TEST_F(EingabeTest, ConvertedPointGivesTheHeightOfTheTilesQuery) {
    OpenOnTile("[Kacheln]\nSystem=gk3\n[Fenster]\nEingabe=wgs84\n");
    EXPECT_EQ(form->Umrechnung(), nullptr);
    form->ED_Breite->setText(QString::fromLatin1(Breite));
    form->ED_Laenge->setText(QString::fromLatin1(Laenge));
    // Enter in the longitude starts the query, as in the metre fields.
    tervalo::test::TypeKey(form->ED_Laenge, Qt::Key_Return, QStringLiteral("\r"));
    ASSERT_NE(form->Umrechnung(), nullptr);
    EXPECT_TRUE(platform.Messages.empty());
    EXPECT_TRUE(form->LB_Umrechnung->text().startsWith(QStringLiteral("Abgefragt: 3566012,50 / 5936013,50 [m]\n")));
    EXPECT_TRUE(form->LB_Umrechnung->toolTip().startsWith(QStringLiteral("Umrechnung: ")));
    // A long operation name is cut, its accuracy stays readable.
    EXPECT_TRUE(form->LB_Umrechnung->text().contains(QStringLiteral("Genauigkeit")));
    const QFontMetrics fm(form->LB_Umrechnung->font());
    EXPECT_LE(fm.boundingRect(QRect(0, 0, form->LB_Umrechnung->width(), 10000), Qt::TextWordWrap,
                              form->LB_Umrechnung->text()).height(),
              form->LB_Umrechnung->height());
    EXPECT_EQ(form->LB_DateiN[0]->text(), QStringLiteral("kachel1.xyz"));
    // Nearest grid point (X0 + 10, Y0 + 15).
    EXPECT_EQ(form->LB_nextPointZ->text(), QStringLiteral("104,00"));
    const std::vector<QString> umgerechnet = Results();

    form->CB_Eingabe->setCurrentIndex(0);
    EXPECT_TRUE(form->PBN_X->isVisible());
    Query(X0 + 12.5, Y0 + 13.5);
    EXPECT_EQ(Results(), umgerechnet);
    EXPECT_TRUE(form->LB_Umrechnung->text().isEmpty());
}

TEST_F(EingabeTest, ChoiceIsSavedAndRestoredThroughTheSettingsFile) {
    const std::string ini = Path("tervalo.ini");
    OpenWith("[Kacheln]\nSystem=utm32\n");
    EXPECT_EQ(form->EingabeName(), "");
    form->CB_Eingabe->setCurrentIndex(form->CB_Eingabe->findData(QStringLiteral("etrs89")));
    form->close();
    EXPECT_EQ(ReadBytes(ini), "[Kacheln]\nSystem=utm32\n\n[Fenster]\nEingabe=etrs89\n");
    Open();
    EXPECT_EQ(form->EingabeName(), "etrs89");
    EXPECT_TRUE(form->ED_Breite->isVisible());
    form->CB_Eingabe->setCurrentIndex(0);
    form->close();
    EXPECT_EQ(ReadBytes(ini), "[Kacheln]\nSystem=utm32\n");

    // A stored name the window does not offer counts as the tiles' system.
    OpenWith("[Kacheln]\nSystem=utm32\n[Fenster]\nEingabe=mars\n");
    EXPECT_EQ(form->EingabeName(), "");
    EXPECT_TRUE(platform.Messages.empty());
    // Without a tiles' system the stored choice stays as it is.
    form.reset();
    OpenWith("[Fenster]\nEingabe=gk4\n");
    EXPECT_FALSE(form->CB_Eingabe->isVisible());
    form->close();
    EXPECT_EQ(ReadBytes(ini), "[Fenster]\nEingabe=gk4\n");
}
