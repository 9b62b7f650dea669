#pragma once
// Saving window pictures for the screenshot programs.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

namespace tervalo::shots {

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
