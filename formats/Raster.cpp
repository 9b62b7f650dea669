#include "formats/Raster.h"

#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

#include "formats/RasterModul.h"
#include "tools/Datei.h"

namespace tervalo {

namespace {

bool IstLeerzeichen(unsigned char c) { return c == ' ' || c == '\t'; }

// The module is loaded once and stays: GDAL keeps threads and global state a dlclose would
// pull away from under them.
struct TModul {
    const tervalo_raster_tabelle* Tabelle = nullptr;
    std::string Grund;  // why it could not be loaded
};

std::atomic<bool> geladen{false};

std::string ModulPfad() {
    if (const char* p = std::getenv("TERVALO_RASTERMODUL"); p && *p) return p;
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    if (n <= 0) return "lib/tervalo/libtervalo-gdal.so";
    exe.resize(static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1) + "../lib/tervalo/libtervalo-gdal.so";
}

TModul Laden() {
    TModul m;
    const std::string pfad = ModulPfad();
    struct stat st;
    if (::stat(pfad.c_str(), &st) != 0) {
        m.Grund = "das Rastermodul " + pfad + " fehlt";
        return m;
    }
    void* lib = ::dlopen(pfad.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* e = ::dlerror();
        m.Grund = "das Rastermodul " + pfad + " l\xC3\xA4sst sich nicht laden (" + (e ? e : "") + ")";
        return m;
    }
    auto einstieg = reinterpret_cast<tervalo_raster_einstieg>(::dlsym(lib, TERVALO_RASTER_EINSTIEG));
    const tervalo_raster_tabelle* t = einstieg ? einstieg(TERVALO_RASTER_VERSION) : nullptr;
    if (!t || t->version != TERVALO_RASTER_VERSION || t->groesse < sizeof(tervalo_raster_tabelle)) {
        m.Grund = "das Rastermodul " + pfad + " passt nicht zu diesem Programm";
        return m;
    }
    m.Tabelle = t;
    geladen.store(true, std::memory_order_release);
    return m;
}

const tervalo_raster_tabelle& Tabelle(const std::string& fuerPfad) {
    static const TModul modul = Laden();  // thread-safe, once
    if (!modul.Tabelle)
        throw EInOutError(0, "Rasterdateien k\xC3\xB6nnen nicht gelesen werden, " + modul.Grund + ": " + fuerPfad);
    return *modul.Tabelle;
}

TRasterTyp TypVon(int32_t t) {
    switch (t) {
        case TRM_BYTE: return TRasterTyp::Byte;
        case TRM_INT8: return TRasterTyp::Int8;
        case TRM_UINT16: return TRasterTyp::UInt16;
        case TRM_INT16: return TRasterTyp::Int16;
        case TRM_UINT32: return TRasterTyp::UInt32;
        case TRM_INT32: return TRasterTyp::Int32;
        case TRM_UINT64: return TRasterTyp::UInt64;
        case TRM_INT64: return TRasterTyp::Int64;
        case TRM_FLOAT32: return TRasterTyp::Float32;
        default: return TRasterTyp::Float64;
    }
}

[[noreturn]] void Ablehnen(int ergebnis, const std::string& pfad) {
    switch (ergebnis) {
        case TRM_KEINE_GEOREFERENZ: throw EInOutError(0, "Rasterdatei ohne Georeferenz: " + pfad);
        case TRM_GEDREHT:
            throw EInOutError(0, "Gedrehte oder gescherte Rasterdateien werden nicht unterst\xC3\xBCtzt: " + pfad);
        case TRM_UNGUELTIG: throw EInOutError(0, "Rasterdatei mit ung\xC3\xBCltiger Georeferenz: " + pfad);
        case TRM_TYP: throw EInOutError(0, "Rasterdatei ohne Band mit H\xC3\xB6henwerten: " + pfad);
        case TRM_SPEICHER: throw std::bad_alloc();
        case TRM_ARGUMENT: throw std::invalid_argument("raster: bad argument for " + pfad);
        default: throw ERasterDefekt(pfad);
    }
}

// First index in [0, n) for which `ja` holds, n when none; `ja` is false, then true.
template <class F>
int32_t ErsterTreffer(int32_t n, F ja) {
    int32_t lo = 0, hi = n;
    while (lo < hi) {
        const int32_t mitte = lo + (hi - lo) / 2;
        if (ja(mitte))
            hi = mitte;
        else
            lo = mitte + 1;
    }
    return lo;
}

// The indices whose centres c(i) lie in [min, max]; c is monotonic with the sign of d.
template <class C>
std::pair<int32_t, int32_t> Bereich(int32_t n, double d, double min, double max, C c) {
    if (!(min <= max)) return {0, 0};  // NaN too
    int32_t a, b;
    if (d > 0) {
        a = ErsterTreffer(n, [&](int32_t i) { return c(i) >= min; });
        b = ErsterTreffer(n, [&](int32_t i) { return c(i) > max; });
    } else {
        a = ErsterTreffer(n, [&](int32_t i) { return c(i) <= max; });
        b = ErsterTreffer(n, [&](int32_t i) { return c(i) < min; });
    }
    return {a, std::max(a, b)};
}

}  // namespace

TRasterArt RasterArtVon(const unsigned char* kopf, std::size_t n) {
    if (n >= 4) {
        const bool ii = kopf[0] == 'I' && kopf[1] == 'I' && kopf[3] == 0 && (kopf[2] == 42 || kopf[2] == 43);
        const bool mm = kopf[0] == 'M' && kopf[1] == 'M' && kopf[2] == 0 && (kopf[3] == 42 || kopf[3] == 43);
        if (ii || mm) return TRasterArt::GeoTiff;
    }
    std::size_t i = 0;
    while (i < n && IstLeerzeichen(kopf[i])) ++i;
    if (n - i >= 6 && strncasecmp(reinterpret_cast<const char*>(kopf + i), "ncols", 5) == 0 &&
        IstLeerzeichen(kopf[i + 5]))
        return TRasterArt::AsciiGrid;
    return TRasterArt::Keine;
}

ERasterDefekt::ERasterDefekt(const std::string& pfad) : EInOutError(0, "Datei besch\xC3\xA4" "digt: " + pfad) {}

TRasterAusdehnung TRasterKopf::Ausdehnung() const {
    const double xa = X(0), xb = X(Spalten - 1), ya = Y(0), yb = Y(Zeilen - 1);
    return {std::min(xa, xb), std::max(xa, xb), std::min(ya, yb), std::max(ya, yb)};
}

TPixelFenster TRasterKopf::FensterUeber(double xmin, double xmax, double ymin, double ymax) const {
    const auto [s0, s1] = Bereich(Spalten, DX, xmin, xmax, [this](int32_t i) { return X(i); });
    const auto [z0, z1] = Bereich(Zeilen, DY, ymin, ymax, [this](int32_t i) { return Y(i); });
    if (s1 <= s0 || z1 <= z0) return {};
    return {s0, z0, s1 - s0, z1 - z0};
}

namespace raster {
void ModulLaden(const std::string& fuerPfad) { Tabelle(fuerPfad); }
bool ModulGeladen() { return geladen.load(std::memory_order_acquire); }
void SetCacheGroesse(int64_t bytes) { Tabelle("").cache_setzen(bytes); }
int64_t CacheGroesse() { return Tabelle("").cache_groesse(); }
int64_t CacheBelegt() { return Tabelle("").cache_belegt(); }
}  // namespace raster

TRaster::TRaster(const std::string& pfad, TRasterArt art) : pfad_(pfad) {
    if (art == TRasterArt::Keine) throw std::invalid_argument("TRaster: no raster kind for " + pfad);
    // Opened by the system first: a missing file or no access gets its usual text, and GDAL
    // never meets a named pipe it would hang on.
    {
        int err = 0;
        const TDateiHandle h = OpenForReading(pfad.c_str(), err);
        if (!h) ThrowFileError(err, pfad);
    }
    const tervalo_raster_tabelle& t = Tabelle(pfad);
    tervalo_raster* r = nullptr;
    tervalo_raster_kopf k{};
    const int e = t.oeffnen(pfad.c_str(), art == TRasterArt::GeoTiff ? TRM_ART_GEOTIFF : TRM_ART_ASCII, &r, &k);
    if (e != TRM_OK) Ablehnen(e, pfad);
    handle_ = r;
    kopf_.Spalten = k.spalten;
    kopf_.Zeilen = k.zeilen;
    kopf_.BlockBreite = k.block_breite;
    kopf_.BlockHoehe = k.block_hoehe;
    kopf_.X0 = k.x0, kopf_.DX = k.dx, kopf_.Y0 = k.y0, kopf_.DY = k.dy;
    kopf_.HatNoData = k.hat_nodata != 0;
    kopf_.NoData = k.nodata;
    kopf_.HatSkala = k.hat_skala != 0 || k.hat_versatz != 0;
    kopf_.Skala = k.skala;
    kopf_.Versatz = k.versatz;
    kopf_.Typ = TypVon(k.typ);
}

const TRasterSystem& TRaster::System() {
    if (!system_) {
        if (!handle_) throw std::logic_error("TRaster: system after move");
        TRasterSystem s;
        int32_t epsg = 0;
        char name[256];
        Tabelle(pfad_).system(static_cast<tervalo_raster*>(handle_), &epsg, name, sizeof name);
        s.Epsg = epsg;
        s.Name = name;
        system_ = std::move(s);
    }
    return *system_;
}

TRaster::~TRaster() { Schliessen(); }

TRaster::TRaster(TRaster&& o) noexcept
    : pfad_(std::move(o.pfad_)), handle_(std::exchange(o.handle_, nullptr)), kopf_(o.kopf_),
      system_(std::move(o.system_)) {}

TRaster& TRaster::operator=(TRaster&& o) noexcept {
    if (this != &o) {
        Schliessen();
        pfad_ = std::move(o.pfad_);
        handle_ = std::exchange(o.handle_, nullptr);
        kopf_ = o.kopf_;
        system_ = std::move(o.system_);
    }
    return *this;
}

void TRaster::Schliessen() noexcept {
    // A handle exists only after the module was loaded.
    if (handle_) Tabelle(pfad_).schliessen(static_cast<tervalo_raster*>(std::exchange(handle_, nullptr)));
}

template <class T>
void TRaster::Lies(const TPixelFenster& f, T* puffer, std::size_t n) {
    if (!handle_) throw std::logic_error("TRaster: read after move");
    if (f.Leer()) return;
    if (f.Spalte < 0 || f.Zeile < 0 || f.Breite > kopf_.Spalten - f.Spalte ||
        f.Hoehe > kopf_.Zeilen - f.Zeile)
        throw std::out_of_range("TRaster: window outside " + pfad_);
    if (n < f.Pixel()) throw std::out_of_range("TRaster: buffer too small for the window");
    int32_t ganze = 0;
    const int e = Tabelle(pfad_).lesen(static_cast<tervalo_raster*>(handle_), f.Spalte, f.Zeile, f.Breite, f.Hoehe,
                                       std::is_same_v<T, double> ? 1 : 0, puffer, &ganze);
    if (e == TRM_DEFEKT) throw ERasterFensterDefekt(pfad_, ganze);
    if (e != TRM_OK) Ablehnen(e, pfad_);
}

// ForEachPixel, a template in the header, calls Lies from other units: instantiated here, so an
// optimised build that inlines every use of it in this file still provides it.
template void TRaster::Lies<float>(const TPixelFenster&, float*, std::size_t);
template void TRaster::Lies<double>(const TPixelFenster&, double*, std::size_t);

void TRaster::ReadWindow(const TPixelFenster& f, float* puffer, std::size_t n) { Lies(f, puffer, n); }
void TRaster::ReadWindow(const TPixelFenster& f, double* puffer, std::size_t n) { Lies(f, puffer, n); }

}  // namespace tervalo
