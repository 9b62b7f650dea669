#pragma once
// Saving window pictures for the screenshot programs.
#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QTranslator>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

#include "ui/Globals.h"

namespace tervalo::shots {

// Common start of both picture programs: PROGRAM FOLDER KNF-FILE [...] — the output folder is
// created, numbers and Qt's own texts are German. False (with the usage printed) when too few
// arguments were given.
inline bool Prepare(int argc, char** argv, QString& folder, QString& knf, QTranslator& qtGerman) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER KNF-FILE\n", argv[0]);
        return false;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    knf = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QDir().mkpath(folder);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    InstallQtGerman(qtGerman);
    return true;
}

inline bool Save(const QPixmap& pic, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    if (!pic.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Lets pending paints happen first, so the picture shows the window as it now is.
inline bool Save(QWidget& w, const QString& folder, const char* name) {
    QApplication::processEvents();
    return Save(w.grab(), folder, name);
}

}  // namespace tervalo::shots
