#include "formats/PunktQuelle.h"

#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>

#include "formats/GzipStrom.h"
#include "tools/Errors.h"

namespace tervalo {

namespace {

// Bytes the kind is decided by: the table signature and gzip's take two, a raster's more.
constexpr std::size_t kKopf = RasterKopfBytes;

// The first bytes of an open file; fewer at its end. A read error reads as no bytes: the
// file then counts as text, whose reading meets the error again and reports it.
std::size_t LiesKopf(const TDateiHandle& h, unsigned char (&kopf)[kKopf]) {
    try {
        return ReadAt(h.Fd(), kopf, kKopf, 0);
    } catch (const EInOutError&) {
        return 0;
    }
}

TQuellArt ArtNachKopf(const unsigned char* kopf, std::size_t n, TRasterArt* raster = nullptr) {
    if (n < 2) return TQuellArt::Text;
    if ((kopf[0] == 3 || kopf[0] == 4) && kopf[1] > 64 && kopf[1] < 128) return TQuellArt::Dbase;
    if (kopf[0] == 0x1F && kopf[1] == 0x8B) return TQuellArt::Gepackt;
    const TRasterArt r = RasterArtVon(kopf, n);
    if (raster) *raster = r;
    return r == TRasterArt::Keine ? TQuellArt::Text : TQuellArt::Raster;
}

}  // namespace

bool IsDbaseFile(const std::string& path) {
    int err = 0;
    const TDateiHandle h = OpenForReading(path.c_str(), err);
    if (!h) return false;
    unsigned char kopf[kKopf] = {};
    return ArtNachKopf(kopf, LiesKopf(h, kopf)) == TQuellArt::Dbase;
}

TPunktQuelle::TPunktQuelle(std::string path) : path_(std::move(path)) {
    datei_ = OpenForReading(path_.c_str(), fehler_, &groesse_);
    if (!datei_) return;
    // Read with pread: the text reader still starts at the first byte.
    unsigned char kopf[kKopf] = {};
    art_ = ArtNachKopf(kopf, LiesKopf(datei_, kopf), &rasterArt_);
}

void TPunktQuelle::SetQuadrat(const TQuadrat& q) {
    quadrat_ = q;
    test_.emplace(q.Xmin, q.Xmax, q.Ymin, q.Ymax);
}

void TPunktQuelle::SetNoData(std::optional<double> wert) {
    // NaN never equals a height, so the walk needs no separate test for "off".
    noData_ = wert && !std::isnan(*wert) ? *wert : std::numeric_limits<double>::quiet_NaN();
}

int TPunktQuelle::Open() {
    if (!datei_) return fehler_;
    if (IsDbase()) {
        dbf_.OpenRead(std::move(datei_), path_);  // sources are only ever read
        return 0;
    }
    if (IsRaster()) {
        datei_.Reset();  // GDAL opens the file by its name
        raster_.emplace(path_, rasterArt_);
        return 0;
    }
    auto datei = std::make_unique<TDateiBytes>();
    datei->Uebernimm(std::move(datei_), path_, groesse_);
    // A packed file is read as the text it holds, whatever its name.
    if (art_ == TQuellArt::Gepackt)
        text_.emplace(std::make_unique<TGzipStrom>(std::move(datei), path_));
    else
        text_.emplace(std::move(datei));
    return 0;
}

TPixelFenster TPunktQuelle::RasterFenster() const {
    if (!raster_) return {};
    const TRasterKopf& k = raster_->Kopf();
    return quadrat_ ? k.FensterUeber(quadrat_->Xmin, quadrat_->Xmax, quadrat_->Ymin, quadrat_->Ymax) : k.Ganz();
}

std::string SystemHinweis(TPunktQuelle& quelle, std::optional<int> system) {
    TRaster* r = quelle.Raster();
    // The raster's system costs PROJ look-ups: asked only when there is one to compare with.
    if (!r || !system || *system <= 0) return {};
    const int eigenes = r->System().Epsg;
    if (eigenes == 0 || eigenes == *system) return {};
    return "Bezugssystem der Datei (EPSG:" + std::to_string(eigenes) + ") weicht von dem der Kacheln (EPSG:" +
           std::to_string(*system) + ") ab";
}

std::string TPunktQuelle::Pfad() const { return IsDbase() ? dbf_.Path() : path_; }

}  // namespace tervalo
