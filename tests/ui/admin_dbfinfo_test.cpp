#include "admin_support.h"

#include "ui/DBFInfoFrm.h"

#include <QTextBlock>
#include <QTextLayout>
#include <set>

using namespace tervalo;
using namespace tervalo::test;

namespace {

using DbfInfoTest = AdminTest;

// Where the text after the tab of each line starts, in pixels.
std::set<int> ValueStarts(const TDBFInfoForm& w) {
    std::set<int> starts;
    for (QTextBlock b = w.Memo2->document()->begin(); b.isValid(); b = b.next())
        if (const int tab = b.text().indexOf(u'\t'); tab >= 0 && b.layout()->lineCount() > 0)
            starts.insert(qRound(b.layout()->lineAt(0).cursorToX(tab + 1)));
    return starts;
}

// Shows the window for a table and gives its text when the window opened.
QStringList ShowInfo(const std::string& path, std::set<int>* starts = nullptr) {
    TDBFInfoForm w;
    QStringList lines;
    bool endFocused = false;
    OnModal<TDBFInfoForm>([&](TDBFInfoForm* i) {
        lines = i->Lines();
        if (starts) *starts = ValueStarts(*i);
        endFocused = i->focusWidget() == i->ENDEButton;
        TypeKey(i, Qt::Key_Escape);  // Esc closes like "Ende"
    });
    w.MyShowModal(path);
    EXPECT_TRUE(endFocused);
    EXPECT_FALSE(w.isVisible());
    return lines;
}

TEST_F(DbfInfoTest, Level4TableShowsItsFactsAndExtent) {
    const std::string t = WriteTable(dir, "t4.dbf", 4, {{3500000.25, 5600000, 1}, {3499000, 5601000.5, 2}, {3500500, 5600500, 3}});
    const QString p = QString::fromStdString(t);
    std::set<int> starts;
    const QStringList lines = ShowInfo(t, &starts);
    EXPECT_EQ(starts.size(), 1u);  // every value at one tab stop
    const QStringList expected = {
        QStringLiteral("Datenbank-Datei: ") + p,
        QStringLiteral("Moment bitte ... Ermittlung von Informationen"),
        QStringLiteral("-------------------------"),
        QStringLiteral("Datei: ") + p,
        QStringLiteral("Dateiformat: \tdBase 4"),
        QStringLiteral("Anzahl Datens\u00E4tze: \t3"),
        QStringLiteral("Anzahl der Spalten: \t3"),
        QStringLiteral("Datei exclusiv offen: \tNEIN"),
    };
    ASSERT_GE(lines.size(), expected.size() + 6);
    for (qsizetype i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
    EXPECT_TRUE(lines[8].startsWith(QStringLiteral("Dateistatus: \t")));
    EXPECT_EQ(lines[9], QStringLiteral("Indexdatei: KEINE"));
    EXPECT_EQ(lines.mid(10), (QStringList{QStringLiteral("Xmin =\t3499000,00"), QStringLiteral("Xmax =\t3500500,00"),
                                          QStringLiteral("Ymin =\t5600000,00"), QStringLiteral("Ymax =\t5601000,50")}));
}

TEST_F(DbfInfoTest, EmptyTableShowsTheStartValues) {
    const QStringList lines = ShowInfo(WriteTable(dir, "empty.dbf", 3, {}));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{QStringLiteral("Xmin =\t999999999,00"), QStringLiteral("Xmax =\t-9999999,00"),
                           QStringLiteral("Ymin =\t999999999,00"), QStringLiteral("Ymax =\t-9999999,00")}));
}

TEST_F(DbfInfoTest, EscapeAsksAndYesCancelsTheScanNoGoesOn) {
    std::vector<Pt> pts;
    for (int i = 0; i < 50; ++i) pts.push_back({double(i), double(2 * i), 0});
    const std::string t = WriteTable(dir, "many.dbf", 3, pts);
    for (TMsgResult answer : {TMsgResult::Yes, TMsgResult::No}) {
        platform.Messages.clear();
        platform.PendingEscapes = 1;
        platform.MessageAnswers = {answer};
        TDBFInfoForm w;
        w.Path = t;
        w.FormShow();
        ASSERT_EQ(platform.Messages.size(), 1u);
        EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Wirklich abbrechen?"));
        EXPECT_EQ(platform.Drops, answer == TMsgResult::Yes ? 1 : 2);
        EXPECT_EQ(platform.EscapeWatches, 0);
        const QStringList lines = w.Lines();
        if (answer == TMsgResult::Yes) {
            EXPECT_TRUE(w.Cancelled());
            EXPECT_EQ(lines.back(), QStringLiteral("Abbruch durch Anwender"));
        } else {
            EXPECT_FALSE(w.Cancelled());
            EXPECT_EQ(lines.back(), QStringLiteral("Ymax =\t     98,00"));
        }
    }
}

TEST_F(DbfInfoTest, EndeDuringTheScanStopsItAndTheWindowStaysClosed) {
    std::vector<Pt> pts(200, Pt{1, 2, 3});
    const std::string t = WriteTable(dir, "long.dbf", 3, pts);
    TDBFInfoForm w;
    platform.OnProcessEvents = [&] {
        w.ENDEButton->click();
        platform.OnProcessEvents = nullptr;
    };
    bool reopened = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        reopened = true;
        w.done(0);
    });
    guard.start(3000);
    w.MyShowModal(t);
    EXPECT_FALSE(reopened);
    EXPECT_TRUE(w.ClosedDuringScan());
    EXPECT_FALSE(w.isVisible());
}

TEST_F(DbfInfoTest, BadNamesAndBrokenTables) {
    TDBFInfoForm w;
    w.Path = dir.path().toStdString() + "/H?he.dbf";
    w.FormShow();
    const QStringList lines = w.Lines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[2], QString());
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Ung\u00FCltige Zeichen im Dateinamen: ")));

    // A header that does not fit the file: the error propagates and the window is gone.
    const std::string broken = WriteText(dir, "broken.dbf", std::string("\x03\x7A\x01\x01\xFF\xFF\xFF\x00", 8));
    TDBFInfoForm b;
    int shows = 0;
    EventCounter counter(QEvent::Show, shows);
    b.installEventFilter(&counter);
    EXPECT_ANY_THROW(b.MyShowModal(broken));
    EXPECT_EQ(shows, 0);  // not even for a moment
}

}  // namespace
