#include "filemanager/Extent.h"

#include "formats/PunktQuelle.h"
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

}  // namespace

TExtremwerte ReadExtremwerte(const std::string& path, std::optional<int> kachelSystem) {
    TExtremwerte e;
    TPunktQuelle quelle(path);
    e.Dbase = quelle.IsDbase();
    if (const int err = quelle.Open()) {
        // The text for the system's error number: EIO stays an I/O error, not "access denied".
        e.OpenError = ErrnoText(err);
        return e;  // not readable: the file keeps the start values
    }
    e.Opened = true;
    if (TRaster* r = quelle.Raster()) {
        e.Raster = true;
        const TRasterKopf& k = r->Kopf();
        e.Read = e.Accepted = k.Pixel();
        if (e.Read > 0) {
            const TRasterAusdehnung a = k.Ausdehnung();
            e.Xmin = a.Xmin, e.Xmax = a.Xmax, e.Ymin = a.Ymin, e.Ymax = a.Ymax;
            e.Found = true;
        }
        e.Hinweis = SystemHinweis(quelle, kachelSystem);
        return e;
    }
    // A blank coordinate field is no point, like a text line the reader refuses.
    quelle.Read<TAusdehnungsZeilenRegel>([&](const auto& zeile) __attribute__((always_inline)) {
        ++e.Read;
        double x, y, z;
        if (zeile.Punkt(x, y, z) == TBefund::Punkt) Take(e, x, y);
    });
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
