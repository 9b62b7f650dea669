// Writes pictures of the program's windows for the documentation:
//   tervalo-screenshots FOLDER KNF-FILE [X Y [BREITE LAENGE]]
// The main window works on the given catalogue and queries X, Y (default: near the middle of
// its first file). With BREITE and LAENGE a second picture shows that GPS position queried in
// WGS 84; a catalogue without a tiles' system is taken as GK zone 3 for it (in memory only).
#include "app/screenshots/ShotSupport.h"
#include "ui/About.h"
#include "ui/ErrorReport.h"
#include "ui/Globals.h"
#include "ui/IDoFenster1.h"
#include "ui/KurzMeldung.h"
#include "ui/MainUnit.h"
#include "ui/ProfilFrm.h"
#include "config/Einstellungen.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QThread>
#include <QTranslator>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using tervalo::shots::Save;

int main(int argc, char** argv) {
    using namespace tervalo;
    TApplication app(argc, argv);
    QString folder, knf;
    QTranslator qtGerman;
    if (!shots::Prepare(argc, argv, folder, knf, qtGerman)) return 2;

    TForm1 form;
    form.Dateien.KonfDatei = knf.toStdString();
    form.ProgramFolder = QFileInfo(knf).absolutePath().toStdString() + "/";
    form.show();
    QApplication::processEvents();

    bool ok = true;
    if (argc >= 5) {
        // The coordinates are written with "."; atof would follow the German locale.
        form.PBN_X->SetValue(QString::fromLatin1(argv[3]).toDouble());
        form.PBN_Y->SetValue(QString::fromLatin1(argv[4]).toDouble());
        form.StartBtn->click();
    } else if (form.Dateien.Anzahl > 0) {
        const TDateien& d = form.Dateien;
        form.PBN_X->SetValue(std::round((d.Xmin[1] + d.Xmax[1]) / 2.0) + 12.3);
        form.PBN_Y->SetValue(std::round((d.Ymin[1] + d.Ymax[1]) / 2.0) + 7.6);
        form.StartBtn->click();
    }
    ok &= Save(form, folder, "hauptfenster.png");
    form.Btn_GridShow->click();
    form.StringGrid1->SelectBlock(1, 1, 3, 2);
    ok &= Save(form, folder, "hauptfenster-raster.png");

    {
        TAboutBox box(&form);
        box.show();
        ok &= Save(box, folder, "info.png");
        box.hide();
    }
    {
        TKurzMeldgFrm msg;
        msg.MyShow(QStringLiteral("Datei: kachel_3566.xyz schon vorhanden!"));
        ok &= Save(msg, folder, "kurzmeldung.png");
        msg.hide();
    }
    {
        TIDoFenster busy(&form);
        busy.SetZiel(QStringLiteral("/daten/kachel_3566_5936.dbf"));
        busy.SetUebernommen(QStringLiteral("250000"));
        busy.SetNichtUebernommen(QStringLiteral("12"));
        busy.SetFrame(3);
        busy.ShowCentred();
        ok &= Save(busy, folder, "fortschritt.png");
        busy.hide();
    }
    {
        // A profile across the demo's valley, bending once; pasted as a user would, with the
        // German decimal comma.
        form.SB_ProfilClick();
        TProfilForm& profil = *form.Profil();
        profil.EinfuegenText(QStringLiteral("3566300,0\t5935250,0\n3566520,0\t5936050,0\n3566950,0\t5936850,0\n"));
        profil.BerechnenClick();
        QElapsedTimer uhr;
        uhr.start();
        while (profil.Running() && uhr.elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        // The mouse at the bottom of the valley.
        const std::vector<TProfilWert>& w = profil.Werte();
        std::size_t tief = 0;
        for (std::size_t i = 0; i < w.size(); ++i)
            if (w[i].HatHoehe() && (!w[tief].HatHoehe() || w[i].Z < w[tief].Z)) tief = i;
        if (!w.empty()) profil.Plot->ZeigeBei(w[tief].Station);
        ok &= Save(profil, folder, "profil.png");
        // The saved files as the user gets them, and the SVG as a viewer shows it.
        const std::string png = QDir(folder).filePath(QStringLiteral("profil-gespeichert.png")).toStdString();
        const QString svg = QDir(folder).filePath(QStringLiteral("profil-gespeichert.svg"));
        ok &= profil.Speichern(png, TProfilForm::Png) && profil.Speichern(svg.toStdString(), TProfilForm::Svg);
        QSvgRenderer renderer(svg);
        QImage bild(renderer.viewBox().size(), QImage::Format_RGB32);
        bild.fill(Qt::white);
        {
            QPainter p(&bild);
            renderer.render(&p);
        }
        ok &= renderer.isValid() && Save(QPixmap::fromImage(bild), folder, "profil-gespeichert-svg.png");
        std::printf("%s\n", qPrintable(profil.LB_Zusammenfassung->text()));
        profil.hide();
    }
    // Leave without saving the catalogue's file.
    form.hide();
    if (argc >= 7) {
        TForm1 geo;
        geo.Dateien.KonfDatei = knf.toStdString();
        geo.ProgramFolder = form.ProgramFolder;
        geo.show();
        QApplication::processEvents();
        if (!ReadKachelSystem(geo.Einstellungen)) {
            SetKachelSystem(geo.Einstellungen, 31467);
            geo.UpdateEingabe();
        }
        geo.SetEingabe("wgs84");
        // Typed as a user would, with the German decimal comma.
        geo.ED_Breite->setText(QString::fromLocal8Bit(argv[5]).replace(QLatin1Char('.'), QLatin1Char(',')));
        geo.ED_Laenge->setText(QString::fromLocal8Bit(argv[6]).replace(QLatin1Char('.'), QLatin1Char(',')));
        geo.StartBtn->click();
        ok &= Save(geo, folder, "hauptfenster-wgs84.png");
        std::printf("%s\n%s\n", qPrintable(geo.LB_Umrechnung->toolTip()), qPrintable(geo.LB_ExtrapolPointZ->text()));
        geo.hide();
    }
    return ok ? 0 : 1;
}
