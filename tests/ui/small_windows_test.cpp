#include "ui_test_support.h"

#include "ui/BusyIcons.h"
#include "ui/IDoFenster1.h"
#include "ui/KurzMeldung.h"
#include "ui/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QWidget>

using namespace tervalo;

namespace {

using SmallWindowsTest = tervalo::test::UiTest;

int VisibleTopLevels(const char* className) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits(className)) ++n;
    return n;
}

TEST_F(SmallWindowsTest, ShortMessageWaitsItsTimeAndLeavesNoWindow) {
    QElapsedTimer t;
    t.start();
    ShowShortMessage(QStringLiteral("Datei bereits vorhanden"), 400);
    EXPECT_GE(t.elapsed(), 400);
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(VisibleTopLevels("tervalo::TKurzMeldgFrm"), 0);
}

TEST_F(SmallWindowsTest, ShortMessageIsSizedToItsTextWithinLimits) {
    TKurzMeldgFrm shortText;
    shortText.MyShow(QStringLiteral("OK"));
    EXPECT_EQ(shortText.width(), 300);
    EXPECT_EQ(shortText.Label1->text(), QStringLiteral("OK"));
    EXPECT_TRUE(shortText.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(shortText.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(shortText.Label1->font().pixelSize(), 16);
    EXPECT_TRUE(shortText.Label1->font().bold());

    TKurzMeldgFrm longText;
    longText.MyShow(QString(400, QLatin1Char('W')));
    EXPECT_EQ(longText.width(), 800);
    EXPECT_LE(longText.height(), 200);
    shortText.hide();
    longText.hide();
}

TEST_F(SmallWindowsTest, ProgressWindowTextsAndFrames) {
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    TIDoFenster w(&owner);
    w.ShowCentred();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isModal());
    EXPECT_EQ(w.Heading->text(), QStringLiteral("Bitte warten, konvertiere !"));
    w.SetZiel(QStringLiteral("/daten/ziel.dbf"));
    w.SetUebernommen(QStringLiteral("1200"));
    w.SetNichtUebernommen(QStringLiteral("3"));
    EXPECT_EQ(w.Label1->text(), QStringLiteral("/daten/ziel.dbf"));
    EXPECT_EQ(w.Label2->text(), QStringLiteral("1200"));
    EXPECT_EQ(w.Label3->text(), QStringLiteral("3"));
    ASSERT_EQ(w.ImageList1.size(), 8u);
    w.SetFrame(9);
    EXPECT_EQ(w.Frame(), 1);
    EXPECT_EQ(w.Image1->pixmap().toImage(), w.ImageList1[1].toImage());
}

TEST_F(SmallWindowsTest, FileDialogIconsAndTypesComeFromTheNameAlone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Contents the MIME database would recognise, under names that say little or otherwise.
    for (const char* name : {"bericht", "punkte.xyz"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    }
    QFileIconProvider* p = NameOnlyIconProvider();
    EXPECT_EQ(p->type(QFileInfo(dir.filePath(QStringLiteral("bericht")))), QStringLiteral("Datei"));
    EXPECT_EQ(p->type(QFileInfo(dir.filePath(QStringLiteral("punkte.xyz")))), QStringLiteral("XYZ-Datei"));
    EXPECT_EQ(p->type(QFileInfo(dir.path())), QStringLiteral("Ordner"));
    auto image = [](const QIcon& i) { return i.pixmap(16).toImage(); };
    EXPECT_EQ(image(p->icon(QFileInfo(dir.filePath(QStringLiteral("bericht"))))),
              image(p->icon(QAbstractFileIconProvider::File)));
    EXPECT_EQ(image(p->icon(QFileInfo(dir.path()))), image(p->icon(QAbstractFileIconProvider::Folder)));
}

TEST(BusyIcons, EightDistinctFramesThatWrap) {
    tervalo::test::UiApp();
    for (int i = 0; i < BusyFrameCount; ++i) {
        const QImage a = BusyFrame(i).toImage();
        EXPECT_EQ(a.size(), QSize(16, 16));
        EXPECT_NE(a, BusyFrame(i + 1).toImage()) << i;
    }
    EXPECT_EQ(BusyFrame(8).toImage(), BusyFrame(0).toImage());
}

TEST(QtPlatform, EscapeWatchSwallowsAndReportsOncePerPress) {
    tervalo::test::UiApp();
    SetPlatform(nullptr);
    QLineEdit edit;
    edit.show();
    int escapesSeen = 0;
    struct Counter : QObject {
        int* n;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) ++*n;
            return false;
        }
    } counter;
    counter.n = &escapesSeen;
    edit.installEventFilter(&counter);

    // Without a watch Escape reaches the control and is not noted.
    tervalo::test::TypeKey(&edit, Qt::Key_Escape, QStringLiteral("\x1b"));
    EXPECT_EQ(escapesSeen, 1);
    EXPECT_FALSE(Platform().EscapePressed());
    {
        TEscapeWatch watch;
        tervalo::test::TypeKey(&edit, Qt::Key_Escape, QStringLiteral("\x1b"));
        EXPECT_EQ(escapesSeen, 1);
        EXPECT_TRUE(Platform().EscapePressed());
        EXPECT_FALSE(Platform().EscapePressed());
    }
    tervalo::test::TypeKey(&edit, Qt::Key_Escape, QStringLiteral("\x1b"));
    EXPECT_EQ(escapesSeen, 2);
    EXPECT_FALSE(Platform().EscapePressed());
}

}  // namespace
