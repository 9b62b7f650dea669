#include "formats/PunktQuelle.h"

#include <memory>
#include <utility>

#include "formats/GzipStrom.h"
#include "tools/Datei.h"
#include "tools/Errors.h"

namespace tervalo {

bool IsDbaseFile(const std::string& path) {
    // Read access only; a FIFO cannot hang the caller.
    int err = 0;
    const TDateiHandle h = OeffneZumLesen(path.c_str(), err);
    if (!h) return false;
    unsigned char head[2] = {};
    try {
        if (ReadAt(h.Fd(), head, sizeof head, 0) < 2) return false;
    } catch (const EInOutError&) {
        return false;
    }
    return (head[0] == 3 || head[0] == 4) && head[1] > 64 && head[1] < 128;
}

TPunktQuelle::TPunktQuelle(std::string path) : path_(std::move(path)), dbase_(IsDbaseFile(path_)) {}

void TPunktQuelle::SetzeQuadrat(const TQuadrat& q) {
    quadrat_ = q;
    test_.emplace(q.Xmin, q.Xmax, q.Ymin, q.Ymax);
}

ETextNichtOffen::ETextNichtOffen(int err, const std::string& path)
    : EInOutError(ErrnoToFileError(err), ErrnoText(err) + ": " + path, err) {}

void TPunktQuelle::Oeffne() {
    if (dbase_) {
        dbf_.OpenRead(path_);  // sources are only ever read
        return;
    }
    auto datei = std::make_unique<TDateiBytes>();
    if (const int err = datei->Open(path_)) throw ETextNichtOffen(err, path_);
    groesse_ = datei->Groesse();
    // A packed file is read as the text it holds, whatever its name.
    gepackt_ = datei->Gepackt();
    if (gepackt_)
        text_.emplace(std::make_unique<TGzipStrom>(std::move(datei), path_));
    else
        text_.emplace(std::move(datei));
}

std::string TPunktQuelle::Pfad() const { return dbase_ ? dbf_.Path() : path_; }

}  // namespace tervalo
