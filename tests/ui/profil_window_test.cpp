// The height profile window over small tiles: every sample against the single query, gaps,
// Escape during and outside a run, the saved files and refused targets, the plot's lines.
#include "ui_test_support.h"

#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "koord/Umrechnung.h"
#include "query/Query.h"
#include "support/shell.h"
#include "ui/Globals.h"
#include "ui/MainUnit.h"
#include "ui/ProfilFrm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QSvgRenderer>
#include <QTest>
#include <QThread>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>

using namespace tervalo;

namespace {

constexpr double X0 = 3566000.0;
constexpr double Y0 = 5936000.0;

double Z(double x, double y) { return 100.0 + 0.1 * (x - X0) + 20.0 * std::sin((y - Y0) / 40.0); }

// n x m points at 5 m from (x0, y0).
void WriteTile(const std::string& path, double x0, double y0, int n, int m) {
    std::ofstream f(path, std::ios::binary);
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%.3f %.3f %.3f\r\n", x0 + i * 5, y0 + j * 5, Z(x0 + i * 5, y0 + j * 5));
            f << line;
        }
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ProfilWindowTest : public tervalo::test::UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        AddTile("a.xyz", X0, Y0, 41, 41);  // 200 m x 200 m
        form = std::make_unique<TProfilForm>();
        form->Quelle = [this] {
            TProfilQuelle q;
            q.Dateien = kat;
            q.Fangbreite = 12.0;
            q.Potenz = 2.0;
            q.Rasterabstand = 5.0;
            q.KachelSystem = system;
            return q;
        };
        form->Oeffnen();
    }
    void TearDown() override {
        form.reset();
        UiTest::TearDown();
    }
    std::string Path(const char* name) const { return QDir(dir.path()).filePath(QString::fromLatin1(name)).toStdString(); }
    void AddTile(const char* name, double x0, double y0, int n, int m) {
        const std::string p = Path(name);
        WriteTile(p, x0, y0, n, m);
        ++kat.Anzahl;
        kat.Datei[kat.Anzahl] = p;
        kat.Xmin[kat.Anzahl] = x0, kat.Xmax[kat.Anzahl] = x0 + 5 * (n - 1);
        kat.Ymin[kat.Anzahl] = y0, kat.Ymax[kat.Anzahl] = y0 + 5 * (m - 1);
    }
    bool Run() {
        form->BerechnenClick();
        QElapsedTimer t;
        t.start();
        while (form->Running() && t.elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(1);
        }
        return !form->Running();
    }
    THoehenAntwort Single(const TProbe& p) {
        TAbfrageParameter par;
        par.X = p.X;
        par.Y = p.Y;
        par.Fangbreite = 12.0;
        par.Potenz = 2.0;
        return abfrage.Run(kat, par);
    }
    void Step(double m) {
        form->RB_Schritt->setChecked(true);
        form->PBN_Schritt->SetValue(m);
    }

    QTemporaryDir dir;
    TDateien kat;
    std::optional<int> system;
    THoehenAbfrage abfrage;
    std::unique_ptr<TProfilForm> form;
};

TEST_F(ProfilWindowTest, EverySampleIsTheSingleQueryAndTheTableAndCopyShowItsText) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Höhenprofil"));
    EXPECT_EQ(form->PBN_Schritt->Value(), 5.0);  // the configuration's grid spacing
    // A heading, then TAB, ";" and blanks between, decimal commas, a zero-length segment.
    ASSERT_TRUE(form->EinfuegenText(QStringLiteral("Rechtswert\tHochwert\n3566010,5\t5936010,5\r\n"
                                                   "3566150;5936040,25\n3566150 5936040,25\n  3566060.5   5936180  \n")));
    EXPECT_EQ(form->TB_Ecken->rowCount(), 5);  // and the empty row for typing
    const std::vector<TXY> ecken{{3566010.5, 5936010.5}, {3566150, 5936040.25}, {3566150, 5936040.25}, {3566060.5, 5936180}};
    Step(7);
    ASSERT_TRUE(Run());
    ASSERT_TRUE(form->Vollstaendig());
    EXPECT_TRUE(platform.Messages.empty());
    EXPECT_TRUE(form->Btn_Speichern->isEnabled());

    const TProfilLinie linie = SampleProfile(ecken, TAbtastung::MitSchritt(7));
    const std::vector<TProfilWert>& w = form->Werte();
    ASSERT_EQ(w.size(), linie.Proben.size());
    TProfilSumme summe(linie.Laenge);
    for (std::size_t i = 0; i < w.size(); ++i) {
        const TProbe& p = linie.Proben[i];
        const THoehenAntwort a = Single(p);
        summe.Add(p.Station, a);
        ASSERT_EQ(w[i].Station, p.Station) << i;
        EXPECT_EQ(w[i].X, p.X);
        EXPECT_EQ(w[i].Y, p.Y);
        ASSERT_TRUE(HatHoehe(a)) << i;
        EXPECT_TRUE(w[i].HatHoehe());
        EXPECT_EQ(w[i].Z, a.Naechster.Z) << i;
        EXPECT_EQ(w[i].R, a.Naechster.R) << i;
        EXPECT_EQ(w[i].ShepardN, a.ShepardN) << i;
        EXPECT_EQ(w[i].ShepardZ, a.ShepardZ) << i;
        EXPECT_EQ(ProbeText(w[i].Probe(), w[i].Antwort(), ','), ProbeText(p, a, ','));
    }
    EXPECT_EQ(form->Zusammenfassung().Anstieg, summe.Ergebnis().Anstieg);
    EXPECT_EQ(form->Zusammenfassung().Abstieg, summe.Ergebnis().Abstieg);
    EXPECT_EQ(form->Zusammenfassung().HoechsterStation, summe.Ergebnis().HoechsterStation);
    EXPECT_EQ(form->LB_Zusammenfassung->text().toStdString() + "\n", ZusammenfassungText(summe.Ergebnis(), ','));

    // The table holds the command line's cells; a copied block is the result grid's form.
    QAbstractItemModel* m = form->TV_Proben->model();
    ASSERT_EQ(m->rowCount(), static_cast<int>(w.size()));
    EXPECT_EQ(m->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Höhe"));
    const QStringList z1 = QString::fromStdString(ProbeText(linie.Proben[1], Single(linie.Proben[1]), ',')).chopped(1).split(u'\t');
    const QStringList z2 = QString::fromStdString(ProbeText(linie.Proben[2], Single(linie.Proben[2]), ',')).chopped(1).split(u'\t');
    for (int c = 0; c < 7; ++c) EXPECT_EQ(m->data(m->index(1, c)).toString(), z1[c]);
    form->TV_Proben->selectionModel()->select(QItemSelection(m->index(1, 3), m->index(2, 4)), QItemSelectionModel::Select);
    form->KopierenClick();
    EXPECT_EQ(platform.Clipboard, z1[3] + u'\t' + z1[4] + GridRowEnd + z2[3] + u'\t' + z2[4] + GridRowEnd);
}

TEST_F(ProfilWindowTest, NoDataLeavesGapsInBothLinesAndIsCounted) {
    AddTile("b.xyz", X0 + 300, Y0, 21, 41);  // 100 m of nothing between the tiles
    form->EinfuegenText(QStringLiteral("3566010 5936050\n3566390 5936050\n"));
    Step(5);
    ASSERT_TRUE(Run());
    ASSERT_TRUE(form->Vollstaendig());
    const std::vector<TProfilWert>& w = form->Werte();
    std::size_t ohne = 0, ersteZeile = 0;
    double erste = -1, letzte = -1;
    for (std::size_t i = 0; i < w.size(); ++i) {
        const TProfilWert& v = w[i];
        EXPECT_EQ(v.HatHoehe(), HatHoehe(Single(v.Probe()))) << v.Station;
        if (v.HatHoehe()) continue;
        ++ohne;
        if (erste < 0) erste = v.Station, ersteZeile = i;
        letzte = v.Station;
    }
    ASSERT_GT(ohne, 5u);
    EXPECT_EQ(form->Zusammenfassung().OhneDaten, ohne);
    EXPECT_EQ(form->TV_Proben->model()->data(form->TV_Proben->model()->index(static_cast<int>(ersteZeile), 4)).toString(),
              QStringLiteral("-----"));

    const QRectF f = form->Plot->Zeichenflaeche(QRectF(0, 0, 800, 400));
    const double px0 = f.left() + erste / 380.0 * f.width(), px1 = f.left() + letzte / 380.0 * f.width();
    for (TProfilPlot::TReihe r : {TProfilPlot::Naechster, TProfilPlot::Shepard}) {
        const QList<QPolygonF> linien = form->Plot->Linien(r, f);
        ASSERT_EQ(linien.size(), 2) << r;
        for (const QPolygonF& l : linien)
            for (const QPointF& p : l) EXPECT_TRUE(p.x() < px0 - 0.5 || p.x() > px1 + 0.5) << p.x();
    }
    // The read-out names the gap.
    form->Plot->ZeigeBei((erste + letzte) / 2);
    EXPECT_TRUE(form->LB_Ablesung->text().contains(QStringLiteral("nächster Punkt: keine Daten")))
        << form->LB_Ablesung->text().toStdString();
}

TEST_F(ProfilWindowTest, EscapeAsksDuringARunAndClosesTheWindowOtherwise) {
    EXPECT_TRUE(form->isVisible());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(platform.Messages.empty());

    form->Oeffnen();
    form->EinfuegenText(QStringLiteral("3566010 5936010\n3566190 5936190\n"));
    std::promise<void> weiter;
    std::shared_future<void> los = weiter.get_future().share();
    form->VorDemAntworten = [los] { los.wait(); };
    form->BerechnenClick();
    ASSERT_TRUE(form->Running());
    // The window answers while the worker is held.
    platform.MessageAnswers = {TMsgResult::No, TMsgResult::Yes};
    QTest::keyClick(form.get(), Qt::Key_Escape);
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_EQ(platform.Messages[0].Text, QStringLiteral("Wirklich abbrechen?"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Btn_Abbrechen->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_TRUE(form->isVisible());
    weiter.set_value();
    QElapsedTimer t;
    t.start();
    while (form->Running() && t.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(form->Running());
    EXPECT_FALSE(form->Vollstaendig());
    EXPECT_TRUE(form->Werte().empty());
    EXPECT_FALSE(form->Btn_Speichern->isEnabled());  // a cancelled profile is not saved as one
    EXPECT_TRUE(form->Btn_Berechnen->isEnabled());
    EXPECT_EQ(platform.Messages.size(), 2u);
}

TEST_F(ProfilWindowTest, SavedCsvIsTheCoreBytesAndThePicturesLoadBack) {
    form->EinfuegenText(QStringLiteral("3566010 5936010\n3566190 5936100\n"));
    Step(9.5);
    ASSERT_TRUE(Run());
    const TProfilLinie linie = SampleProfile({{3566010, 5936010}, {3566190, 5936100}}, TAbtastung::MitSchritt(9.5));
    for (const char sep : {',', '.'}) {
        QLocale::setDefault(sep == ',' ? QLocale(QLocale::German, QLocale::Germany) : QLocale::c());
        std::string soll = ProfilCsvKopf();
        for (const TProbe& p : linie.Proben) soll += ProbeCsv(p, Single(p), sep);
        ASSERT_TRUE(form->Speichern(Path("profil.csv"), TProfilForm::Csv));
        EXPECT_EQ(ReadBytes(Path("profil.csv")), soll) << sep;
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // Through the dialog: the filter's extension is added; a name's own extension decides.
    platform.SaveAnswers.push_back({true, QString::fromStdString(Path("bild")), 2});
    platform.SaveAnswers.push_back({true, QString::fromStdString(Path("grafik.svg")), 1});
    form->SpeichernClick();
    form->SpeichernClick();
    ASSERT_EQ(platform.SaveDialogs.size(), 2u);
    EXPECT_EQ(platform.SaveDialogs[0].Filters.size(), 3);
    const QImage bild(QString::fromStdString(Path("bild.png")));
    ASSERT_FALSE(bild.isNull());
    EXPECT_EQ(bild.size(), QSize(TProfilForm::BildBreite, TProfilForm::BildHoehe));
    int blau = 0;  // the nearest point's line is drawn
    for (int y = 0; y < bild.height(); ++y)
        for (int x = 0; x < bild.width(); ++x) {
            const QColor c = bild.pixelColor(x, y);
            if (c.blue() > 150 && c.red() < 80) ++blau;
        }
    EXPECT_GT(blau, 300);
    QSvgRenderer svg(QString::fromStdString(Path("grafik.svg")));
    EXPECT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBoxF(), QRectF(0, 0, TProfilForm::BildBreite, TProfilForm::BildHoehe));
    EXPECT_TRUE(ReadBytes(Path("grafik.svg")).find("<polyline") != std::string::npos);
    EXPECT_TRUE(platform.Messages.empty());
}

// The window's CSV and the command line's are the same bytes (German locale on both sides).
TEST_F(ProfilWindowTest, SavedCsvEqualsTheCommandLines) {
    if (tervalo::test::TestLocales().empty()) GTEST_SKIP() << "de_DE.UTF-8 not installed";
    TSettings s;
    s.Fangbreite = 12.0;
    s.Potenz = 2.0;
    KonfSave(Path("tervalo.KNF"), s, kat);
    form->EinfuegenText(QStringLiteral("3566010,5 5936010\n3566150 5936120,5\n3566020 5936190\n"));
    Step(6.5);
    ASSERT_TRUE(Run());
    ASSERT_TRUE(form->Speichern(Path("fenster.csv"), TProfilForm::Csv));
    const tervalo::test::ShellResult cli = tervalo::test::Shell(
        "LC_ALL=de_DE.UTF-8 " + std::string(TERVALO_BIN_DIR) + "/tervalo-cli profil --konf " + Path("tervalo.KNF") +
            " --schritt 6.5 --csv 3566010.5 5936010 3566150 5936120.5 3566020 5936190",
        tervalo::test::TStderr::Apart);
    ASSERT_EQ(cli.code, 0) << cli.err;
    EXPECT_EQ(ReadBytes(Path("fenster.csv")), cli.out);
}

TEST_F(ProfilWindowTest, ARefusedTargetKeepsTheExistingFileAndIsNamed) {
    form->EinfuegenText(QStringLiteral("3566010 5936010\n3566100 5936010\n"));
    ASSERT_TRUE(Run());
    const std::string alt = Path("alt.csv");
    std::ofstream(alt, std::ios::binary) << "voriges Profil";
    ASSERT_EQ(::chmod(alt.c_str(), 0444), 0);
    EXPECT_FALSE(form->Speichern(alt, TProfilForm::Csv));
    EXPECT_FALSE(form->Speichern(alt, TProfilForm::Png));
    EXPECT_EQ(ReadBytes(alt), "voriges Profil");
    const std::string kachel = ReadBytes(kat.Datei[1]);
    EXPECT_FALSE(form->Speichern(kat.Datei[1], TProfilForm::Csv));  // a source of the run
    EXPECT_EQ(ReadBytes(kat.Datei[1]), kachel);
    ASSERT_EQ(platform.Messages.size(), 3u);
    EXPECT_EQ(platform.Messages[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(platform.Messages[0].Text.contains(QString::fromStdString(alt))) << platform.Messages[0].Text.toStdString();
    EXPECT_TRUE(platform.Messages[2].Text.contains(QStringLiteral("zugleich Quelldatei")));
    // No temporary file is left beside them.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("tervalo-")).size(), 0);
}

TEST_F(ProfilWindowTest, BadInputIsNamedAndStartsNothing) {
    EXPECT_FALSE(form->EinfuegenText(QStringLiteral("3566010 5936010\n3566100\n")));
    EXPECT_EQ(form->TB_Ecken->rowCount(), 1);  // nothing of it inserted
    ASSERT_EQ(platform.Messages.size(), 1u);
    EXPECT_TRUE(platform.Messages[0].Text.contains(QStringLiteral("Zeile 2")));

    form->EinfuegenText(QStringLiteral("3566010 5936010\nabc 5936100\n"));
    form->BerechnenClick();
    EXPECT_FALSE(form->Running());
    ASSERT_EQ(platform.Messages.size(), 2u);
    EXPECT_EQ(platform.Messages[1].Text, QStringLiteral("Eckpunkt in Zeile 2: \"abc\" ist keine Zahl."));

    form->TB_Ecken->setRowCount(0);
    form->EinfuegenText(QStringLiteral("3566010 5936010\n"));
    ASSERT_TRUE(Run());
    ASSERT_EQ(platform.Messages.size(), 3u);
    EXPECT_TRUE(platform.Messages[2].Text.contains(QStringLiteral("mindestens 2 Eckpunkte")));

    // Beyond a million samples: the core's message, before any is made.
    form->EinfuegenText(QStringLiteral("3566010 5936010\n3596010 5936010\n"));
    Step(0.01);
    ASSERT_TRUE(Run());
    ASSERT_EQ(platform.Messages.size(), 4u);
    EXPECT_TRUE(platform.Messages[3].Text.contains(QStringLiteral("1000000"))) << platform.Messages[3].Text.toStdString();
    EXPECT_TRUE(form->Werte().empty());
    EXPECT_TRUE(form->Btn_Berechnen->isEnabled());
    EXPECT_FALSE(form->Btn_Speichern->isEnabled());
}

TEST_F(ProfilWindowTest, VerticesInAnotherSystemAreConvertedAsTheMainWindowConverts) {
    system = 31467;
    form->Oeffnen();  // takes the tiles' system and offers the others
    ASSERT_TRUE(form->CB_Eingabe->isVisible());
    form->CB_Eingabe->setCurrentIndex(form->CB_Eingabe->findData(QStringLiteral("wgs84")));
    EXPECT_EQ(form->TB_Ecken->horizontalHeaderItem(0)->text(), QStringLiteral("Breite"));
    form->EinfuegenText(QStringLiteral("53,5431 9,9943\n53,5440 9,9960\n"));
    form->RB_Anzahl->setChecked(true);
    form->SE_Anzahl->setValue(5);
    ASSERT_TRUE(Run());
    EXPECT_TRUE(platform.Messages.empty()) << (platform.Messages.empty() ? "" : platform.Messages[0].Text.toStdString());
    TUmrechnung u(ParseBezugssystem("gk3"));
    TSystemWahl wahl;
    wahl.System = ParseBezugssystem("wgs84");
    const auto a = u.ConvertText(wahl, "53,5431", "9,9943").Punkt, b = u.ConvertText(wahl, "53,5440", "9,9960").Punkt;
    ASSERT_EQ(form->Werte().size(), 5u);
    EXPECT_EQ(form->Werte().front().X, a.X);
    EXPECT_EQ(form->Werte().front().Y, a.Y);
    EXPECT_EQ(form->Werte().back().X, b.X);
    EXPECT_EQ(form->Werte().back().Y, b.Y);
}

TEST(ProfilPlotTest, NiceTicksAndAMillionSamplesDrawnByPixelColumn) {
    int d = -1;
    EXPECT_EQ(TProfilPlot::Striche(0, 1000, 5, &d), (std::vector<double>{0, 200, 400, 600, 800, 1000}));
    EXPECT_EQ(d, 0);
    EXPECT_EQ(TProfilPlot::Striche(151.3, 448.7, 6, &d), (std::vector<double>{200, 250, 300, 350, 400}));
    EXPECT_EQ(TProfilPlot::Striche(0, 1, 4, &d), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    EXPECT_EQ(d, 2);
    TProfilPlot::Striche(0, 0.3, 3, &d);
    EXPECT_EQ(d, 1);

    tervalo::test::UiApp();
    std::vector<TProfilWert> werte(1000000);
    for (std::size_t i = 0; i < werte.size(); ++i) {
        werte[i].Station = static_cast<double>(i);
        werte[i].Art = (i >= 600000 && i < 600100) ? TProfilWert::OhneHoehe : TProfilWert::MitHoehe;
        werte[i].Z = 200.0 + 50.0 * std::sin(static_cast<double>(i) / 5000.0) + (i == 123457 ? 80.0 : 0.0);
    }
    TProfilPlot plot;
    plot.SetProfil(&werte, {0.0, 999999.0}, 999999.0);
    const QRectF f(0, 0, 800, 400);
    const QList<QPolygonF> linien = plot.Linien(TProfilPlot::Naechster, f);
    ASSERT_EQ(linien.size(), 2);
    EXPECT_LE(linien[0].size() + linien[1].size(), 4 * 802);
    // The single high sample survives the thinning: it is the top of the drawing.
    double oben = 1e9;
    for (const QPolygonF& l : linien)
        for (const QPointF& p : l) oben = std::min(oben, p.y());
    EXPECT_NEAR(oben, f.top() + f.height() * 0.06 / 1.12, 1.0);
}

// "Profil…" beside "Optionen" and Alt+P open the window over the main window's catalogue.
TEST_F(ProfilWindowTest, TheMainWindowOpensItByButtonAndKey) {
    Settings = TSettings{};
    TForm1 main;
    main.Dateien.KonfDatei = Path("tervalo.KNF");
    main.ProgramFolder = dir.path().toStdString() + "/";
    main.show();
    QApplication::processEvents();
    Settings.Rasterabstand = 2.5;  // after the start has read the configuration
    EXPECT_EQ(main.SB_Profil->text(), QStringLiteral("Profil…"));
    EXPECT_EQ(main.SB_Profil->toolTip(), QStringLiteral("Höhenprofil (Alt+P)"));
    EXPECT_LE(main.LB_Datei->geometry().right(), main.SB_Profil->x());
    EXPECT_LE(main.SB_Profil->geometry().right(), main.SB_Optionen->x());
    main.SB_Profil->click();
    ASSERT_NE(main.Profil(), nullptr);
    EXPECT_TRUE(main.Profil()->isVisible());
    EXPECT_EQ(main.Profil()->PBN_Schritt->Value(), 2.5);
    main.Profil()->hide();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    QTest::keyClick(main.PBN_X, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(main.Profil()->isVisible());
    main.close();
    EXPECT_FALSE(main.Profil()->isVisible());  // it goes with the main window
    Settings = TSettings{};
}

}  // namespace
