#include "filemanager/Extent.h"

#include <optional>

#include "formats/DbfFile.h"
#include "formats/TextPoints.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

// The first point sets all four values, so the start values never take part in a
// comparison: points beyond them (X above 999999999 or below -9999999) still get an
// extent that holds them.
void Take(TExtremwerte& e, double x, double y) {
    if (!e.Found) {
        e.Xmin = e.Xmax = x;
        e.Ymin = e.Ymax = y;
        e.Found = true;
    } else {
        if (x < e.Xmin) e.Xmin = x;
        if (x > e.Xmax) e.Xmax = x;
        if (y < e.Ymin) e.Ymin = y;
        if (y > e.Ymax) e.Ymax = y;
    }
    ++e.Accepted;
}

void ScanDbase(const std::string& path, TExtremwerte& e) {
    TDbfFile dbf;
    dbf.OpenRead(path);
    e.Opened = true;
    for (dbf.First(); !dbf.AtEnd(); dbf.Next()) {
        ++e.Read;
        auto x = dbf.FieldAsNumber(0);
        auto y = dbf.FieldAsNumber(1);
        // A blank coordinate field is no point, like a text line the reader refuses.
        if (x && y) Take(e, *x, *y);
    }
    dbf.Close();
}

void ScanText(const std::string& path, TExtremwerte& e) {
    std::optional<TextLineReader> reader;
    try {
        reader.emplace(path);
    } catch (const EInOutError& err) {
        // The text for the system's error number: EIO stays an I/O error, not "access denied".
        e.OpenError = err.Errno() != 0 ? ErrnoText(err.Errno()) : err.what();
        return;  // not readable: the file keeps the start values
    }
    e.Opened = true;
    std::string_view line;
    double x = 0, y = 0;
    while (reader->ReadLine(line)) {
        ++e.Read;
        if (ReadExtentLine(line, x, y)) Take(e, x, y);
    }
}

}  // namespace

TExtremwerte ReadExtremwerte(const std::string& path) {
    TExtremwerte e;
    if (IsDbaseFile(path)) {
        e.Dbase = true;
        ScanDbase(path, e);
    } else {
        ScanText(path, e);
    }
    return e;
}

void ReadExtremwerte(const std::string& path, double& Xmin, double& Xmax, double& Ymin, double& Ymax) {
    TExtremwerte e = ReadExtremwerte(path);
    Xmin = e.Xmin;
    Xmax = e.Xmax;
    Ymin = e.Ymin;
    Ymax = e.Ymax;
}

}  // namespace tervalo
