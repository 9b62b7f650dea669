// Pictures of the administrator windows for the documentation:
//   admin-screenshots FOLDER KNF-FILE
// optionen.png (with administrator rights), optionen-ohne-admin.png, dateimanager.png (the
// catalogue of KNF-FILE), dateimanager-menue.png (with its context menu) and dbf-info.png
// (the first dBase table of the catalogue), export.png (the export window after a run over
// the middle of the catalogue, written to a temporary file).
//   admin-screenshots FOLDER KNF-FILE --ordner DIR [--speichern KNF]
// instead adds the folder DIR in the file manager (its index built as the program builds it):
// dateimanager-ordner.png, and fortschritt-index.png (the index's progress window); with
// --speichern the catalogue OK gives is saved to KNF, for the main window's picture.
#include "app/screenshots/ShotSupport.h"
#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "config/Orte.h"
#include "formats/PunktQuelle.h"
#include "tools/Tools.h"
#include "ui/DBFInfoFrm.h"
#include "ui/DateiFrm.h"
#include "ui/ErrorReport.h"
#include "ui/ExportFrm.h"
#include "ui/IndexFenster.h"
#include "ui/Globals.h"
#include "ui/OptionFrm.h"
#include "ui/Platform.h"

#include <QDir>
#include <QTemporaryDir>
#include <QFileInfo>
#include <QPainter>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstring>

using tervalo::shots::Save;

int main(int argc, char** argv) {
    using namespace tervalo;
    TApplication app(argc, argv);
    QString folder, knf;
    QTranslator qtGerman;
    if (!shots::Prepare(argc, argv, folder, knf, qtGerman)) return 2;

    TDateien dateien;
    KonfLoad(knf.toStdString(), QFileInfo(knf).absolutePath().toStdString() + "/", Settings, dateien);
    // Folder entries are read as the program reads them: options from the settings file,
    // indexes where this program keeps them.
    try {
        TEinstellungen einstellungen;
        einstellungen.Load(EinstellungenFileFor(knf.toStdString()));
        ReadKachelWerte(einstellungen, dateien);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    dateien.Ordner.IndexOrdner = FindProgrammOrte().IndexOrdner;

    if (argc >= 5 && std::strcmp(argv[3], "--ordner") == 0) {
        const QString ordner = QString::fromLocal8Bit(argv[4]);
        TScriptedPlatform scripted;
        SetPlatform(&scripted);
        scripted.FolderAnswers.push_back(ordner);
        bool ok = true;
        TDateiForm frm;
        frm.Dateien = dateien;
        frm.show();
        QApplication::processEvents();
        frm.DateiGrid->SetCursorRow(1);
        try {
            frm.Ordner_einfuegenClick();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            ok = false;
        }
        for (const auto& m : scripted.Messages) std::fprintf(stderr, "%s\n", qPrintable(m.Text));
        ok &= Save(frm, folder, "dateimanager-ordner.png");
        {
            TIndexFenster progress(&frm, ordner);
            progress.SetFortschritt(7, 12);
            progress.ShowCentred();
            ok &= Save(progress, folder, "fortschritt-index.png");
        }
        frm.OKButtonClick();
        if (argc >= 7 && std::strcmp(argv[5], "--speichern") == 0)
            KonfSave(argv[6], Settings, frm.Dateien);
        SetPlatform(nullptr);
        return ok ? 0 : 1;
    }

    bool ok = true;
    for (bool admin : {true, false}) {
        Admin = admin;
        TOptionForm dlg;
        dlg.PBN_Fangbreite->SetValue(Settings.Fangbreite);
        dlg.PBN_Potenz1->SetValue(Settings.Potenz);
        dlg.show();
        ok &= Save(dlg, folder, admin ? "optionen.png" : "optionen-ohne-admin.png");
        dlg.hide();
    }

    {
        TDateiForm frm;
        frm.Dateien = dateien;
        frm.show();
        frm.DateiGrid->SetCursorRow(dateien.Anzahl > 1 ? 2 : 1);
        ok &= Save(frm, folder, "dateimanager.png");

        // The context menu drawn into a picture of the window where it opens.
        QPixmap pic = frm.grab();
        frm.PopupMenu1->popup(frm.mapToGlobal(QPoint(200, 90)));
        QApplication::processEvents();
        const QPixmap menu = frm.PopupMenu1->grab();
        frm.PopupMenu1->hide();
        QPainter p(&pic);
        p.drawPixmap(frm.mapFromGlobal(frm.PopupMenu1->pos()), menu);
        p.end();
        ok &= Save(pic, folder, "dateimanager-menue.png");
        frm.hide();
    }

    std::string table;
    for (int i = 1; i <= dateien.Anzahl && table.empty(); ++i)
        if (IsDbaseFile(dateien.Datei[i])) table = dateien.Datei[i];
    if (table.empty()) {
        std::fprintf(stderr, "the catalogue holds no dBase table: no dbf-info.png\n");
        ok = false;
    } else {
        TDBFInfoForm info;
        info.Path = table;
        info.show();
        info.FormShow();
        ok &= Save(info, folder, "dbf-info.png");
        info.hide();
    }

    if (dateien.Anzahl > 0) {
        // The save dialog is answered by script so the picture shows a finished run.
        QTemporaryDir tmp;
        TScriptedPlatform scripted;
        TPlatform* previous = &Platform();
        SetPlatform(&scripted);
        scripted.SaveAnswers.push_back({true, tmp.filePath(QStringLiteral("ausschnitt.xyz")), 1});
        double xmin = dateien.Xmin[1], xmax = dateien.Xmax[1], ymin = dateien.Ymin[1], ymax = dateien.Ymax[1];
        for (int i = 2; i <= dateien.Anzahl; ++i) {
            xmin = std::min(xmin, dateien.Xmin[i]);
            xmax = std::max(xmax, dateien.Xmax[i]);
            ymin = std::min(ymin, dateien.Ymin[i]);
            ymax = std::max(ymax, dateien.Ymax[i]);
        }
        const double cx = (xmin + xmax) / 2, cy = (ymin + ymax) / 2;
        TExportForm frm;
        frm.Dateien = dateien;
        frm.SetDBFVersion(Settings.DBFVersion);
        frm.show();
        frm.PBN_Xmin->SetValue(cx - 250);
        frm.PBN_Xmax->SetValue(cx + 250);
        frm.PBN_Ymin->SetValue(cy - 250);
        frm.PBN_Ymax->SetValue(cy + 250);
        frm.DoExportBtnClick();
        ok &= Save(frm, folder, "export.png");
        frm.hide();
        SetPlatform(previous);
    }
    return ok ? 0 : 1;
}
