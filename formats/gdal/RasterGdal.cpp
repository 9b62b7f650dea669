// The raster module: GeoTIFF and ESRI ASCII grids through GDAL, behind the plain-C table of
// formats/RasterModul.h. Only this library links GDAL; the programs load it when they meet
// their first raster.
#include <gdal.h>
#include <gdal_frmts.h>
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <ogr_srs_api.h>
#include <proj.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "formats/RasterModul.h"

struct tervalo_raster {
    GDALDatasetH ds = nullptr;
    GDALRasterBandH band = nullptr;
    int32_t spalten = 0, zeilen = 0, blockHoehe = 1;
    bool signedByte = false;  // GDAL 3.6 keeps Int8 as Byte with a PIXELTYPE note
    // ASCII grids: GDAL finds a line by looking for every line before it, recursing once per
    // line not yet found, which on a damaged line grows exponentially. So lines are visited in
    // order: rows before `gridBis` were found, from `gridDefekt` on none can be.
    bool grid = false;
    int32_t gridBis = 0;
    int32_t gridDefekt = INT32_MAX;
};

namespace {

// The last failure GDAL reported on this thread; the handler is global, its store is not, so
// rasters read on several threads keep their messages apart.
thread_local std::string letzteMeldung;

void CPL_STDCALL Fehlerfaenger(CPLErr klasse, CPLErrorNum, const char* text) {
    if (klasse == CE_Failure || klasse == CE_Fatal) letzteMeldung = text ? text : "";
}

// PROJ, asked by GDAL's GeoTIFF reader about a file's units, logs through the context it was
// given; contexts are created as copies of the default one, so a silent default keeps its
// messages off the user's terminal. What fails is reported through GDAL's results anyway.
void ProjStill(void*, int, const char*) {}

void Einrichten() {
    static std::once_flag einmal;
    std::call_once(einmal, [] {
        // Opening a tile must not list its folder (tens of thousands of tiles), and reading must
        // never leave an .aux.xml beside a source.
        CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
        CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
        CPLSetErrorHandler(Fehlerfaenger);
        proj_log_func(PJ_DEFAULT_CTX, nullptr, ProjStill);
        GDALRegister_GTiff();
        GDALRegister_AAIGrid();
    });
}

bool Existiert(const std::string& pfad) {
    struct stat st;
    return ::stat(pfad.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The name GDAL is given: a path GDAL would read as one of its own prefixes (/vsicurl/...,
// GTIFF_DIR:...) is turned into the same file named plainly, so a catalogued name can never
// make GDAL fetch from the network or open another file.
std::string FuerGdal(const char* pfad) {
    if (pfad[0] != '/') return std::string("./") + pfad;
    if (std::strncmp(pfad, "/vsi", 4) == 0) return std::string("/.") + pfad;
    return pfad;
}

// An ASCII grid holds at least one byte per cell; a header promising more is cut short or
// absurd, and GDAL would allocate by it before reading a value.
bool GridKopfPasst(const std::string& pfad) {
    FILE* f = std::fopen(pfad.c_str(), "rb");
    if (!f) return true;  // GDAL reports it
    char kopf[1024];
    const size_t n = std::fread(kopf, 1, sizeof kopf - 1, f);
    std::fseek(f, 0, SEEK_END);
    const long groesse = std::ftell(f);
    std::fclose(f);
    kopf[n] = 0;
    double spalten = -1, zeilen = -1;
    for (char* z = kopf; *z;) {
        while (*z == ' ' || *z == '\t' || *z == '\r' || *z == '\n') ++z;
        char* ende = z;
        while (*ende && *ende != ' ' && *ende != '\t' && *ende != '\r' && *ende != '\n') ++ende;
        const bool istSpalten = ende - z == 5 && strncasecmp(z, "ncols", 5) == 0;
        const bool istZeilen = ende - z == 5 && strncasecmp(z, "nrows", 5) == 0;
        if (!istSpalten && !istZeilen) {
            if (ende == z) break;
            z = ende;
            continue;
        }
        const double v = std::strtod(ende, &z);
        if (z == ende) break;
        (istSpalten ? spalten : zeilen) = v;
    }
    if (spalten < 0 || zeilen < 0) return true;  // GDAL refuses the header itself
    return spalten * zeilen <= static_cast<double>(groesse);
}

// Band 1's type; 0 for complex values, which hold no height.
int32_t TypVon(GDALDataType t, bool signedByte) {
    switch (t) {
        case GDT_Byte: return signedByte ? TRM_INT8 : TRM_BYTE;
        case GDT_UInt16: return TRM_UINT16;
        case GDT_Int16: return TRM_INT16;
        case GDT_UInt32: return TRM_UINT32;
        case GDT_Int32: return TRM_INT32;
        case GDT_UInt64: return TRM_UINT64;
        case GDT_Int64: return TRM_INT64;
        case GDT_Float32: return TRM_FLOAT32;
        case GDT_Float64: return TRM_FLOAT64;
        default: return 0;
    }
}

// The horizontal part of the raster's system: agency GeoTIFFs carry a compound one.
void System(tervalo_raster* r, int32_t* epsgAus, char* name, size_t n) {
    if (epsgAus) *epsgAus = 0;
    if (name && n) name[0] = 0;
    if (!r || !epsgAus || !name || !n) return;
    OGRSpatialReferenceH srs = GDALGetSpatialRef(r->ds);
    if (!srs) return;
    OGRSpatialReferenceH h = OSRClone(srs);
    if (!h) return;
    if (OSRIsCompound(h)) OSRStripVertical(h);
    auto epsg = [&]() -> int32_t {
        const char* name = OSRGetAuthorityName(h, nullptr);
        const char* code = OSRGetAuthorityCode(h, nullptr);
        if (!name || !code || !EQUAL(name, "EPSG")) return 0;
        return static_cast<int32_t>(std::atoi(code));
    };
    *epsgAus = epsg();
    if (*epsgAus == 0 && OSRAutoIdentifyEPSG(h) == OGRERR_NONE) *epsgAus = epsg();
    if (const char* text = OSRGetName(h)) {
        std::strncpy(name, text, n - 1);
        name[n - 1] = 0;
    }
    OSRDestroySpatialReference(h);
}

int Oeffnen(const char* pfad, int art, tervalo_raster** raster, tervalo_raster_kopf* kopf) {
    if (!raster || !kopf || !pfad) return TRM_ARGUMENT;
    *raster = nullptr;
    *kopf = tervalo_raster_kopf{};
    if (art != TRM_ART_GEOTIFF && art != TRM_ART_ASCII) return TRM_ARGUMENT;
    Einrichten();
    letzteMeldung.clear();
    const std::string name = FuerGdal(pfad);
    if (art == TRM_ART_ASCII && !GridKopfPasst(name)) {
        letzteMeldung = "ASCII grid header promises more cells than the file has bytes";
        return TRM_DEFEKT;
    }
    const char* treiberGtiff[] = {"GTiff", nullptr};
    const char* treiberGrid[] = {"AAIGrid", nullptr};
    // Decimal grid values are read as double: as Float32 (GDAL's choice) 123.45 would become
    // 123.44999695, and GDAL would scan the whole file to make that choice.
    const char* gridOptionen[] = {"DATATYPE=Float64", nullptr};
    // The folder is not listed; the sidecar that carries an ASCII grid's system is named.
    std::string prj;
    const char* geschwister[] = {nullptr, nullptr};
    if (art == TRM_ART_ASCII) {
        std::string stamm = name;
        const size_t schraeg = stamm.rfind('/');
        const size_t punkt = stamm.rfind('.');
        if (punkt != std::string::npos && punkt > schraeg) stamm.resize(punkt);
        for (const char* endung : {".prj", ".PRJ"})
            if (Existiert(stamm + endung)) {
                prj = (stamm + endung).substr(schraeg + 1);
                geschwister[0] = prj.c_str();
                break;
            }
    }
    GDALDatasetH ds = GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                 art == TRM_ART_GEOTIFF ? treiberGtiff : treiberGrid,
                                 art == TRM_ART_ASCII ? gridOptionen : nullptr, geschwister);
    if (!ds) return TRM_DEFEKT;
    auto ablehnen = [&](int grund) {
        GDALClose(ds);
        return grund;
    };
    if (GDALGetRasterCount(ds) < 1) return ablehnen(TRM_TYP);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    const char* pixeltyp = GDALGetMetadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
    const bool signedByte = pixeltyp && EQUAL(pixeltyp, "SIGNEDBYTE");
    kopf->typ = TypVon(GDALGetRasterDataType(band), signedByte);
    if (kopf->typ == 0) return ablehnen(TRM_TYP);

    double gt[6];
    if (GDALGetGeoTransform(ds, gt) != CE_None) return ablehnen(TRM_KEINE_GEOREFERENZ);
    if (gt[2] != 0.0 || gt[4] != 0.0) return ablehnen(TRM_GEDREHT);
    if (!std::isfinite(gt[0]) || !std::isfinite(gt[1]) || !std::isfinite(gt[3]) || !std::isfinite(gt[5]) ||
        gt[1] == 0.0 || gt[5] == 0.0)
        return ablehnen(TRM_UNGUELTIG);
    kopf->spalten = GDALGetRasterXSize(ds);
    kopf->zeilen = GDALGetRasterYSize(ds);
    if (kopf->spalten <= 0 || kopf->zeilen <= 0) return ablehnen(TRM_DEFEKT);
    // Pixel centres must be told apart in double and the far edge finite; else a small square
    // would cover countless pixels.
    auto aufloesbar = [](double a, double d, int32_t n) {
        return std::isnormal(d) && std::fabs(d) >= std::fabs(a) * 0x1p-40 && std::isfinite(a + double(n) * d);
    };
    if (!aufloesbar(gt[0], gt[1], kopf->spalten) || !aufloesbar(gt[3], gt[5], kopf->zeilen))
        return ablehnen(TRM_UNGUELTIG);
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    kopf->block_breite = std::clamp(bx, 1, kopf->spalten);
    kopf->block_hoehe = std::clamp(by, 1, kopf->zeilen);
    kopf->x0 = gt[0], kopf->dx = gt[1], kopf->y0 = gt[3], kopf->dy = gt[5];
    // GDAL holds one whole block in memory to read a single pixel of it. A large block an
    // uncompressed file cannot hold, or one of more than 1 GiB, comes from a damaged or absurd
    // header; reading by it would allocate by the header. (Small ones may be sparse: no bytes.)
    if (art == TRM_ART_GEOTIFF) {
        // Pixel-interleaved bands share their blocks: one block holds them all.
        const char* verschraenkt = GDALGetMetadataItem(ds, "INTERLEAVE", "IMAGE_STRUCTURE");
        const double baender = verschraenkt && EQUAL(verschraenkt, "PIXEL") ? GDALGetRasterCount(ds) : 1;
        const double blockBytes = double(kopf->block_breite) * double(kopf->block_hoehe) * baender *
                                  GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band));
        struct stat st;
        const double dateiBytes = ::stat(name.c_str(), &st) == 0 ? double(st.st_size) : 0.0;
        const bool gepackt = GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE") != nullptr;
        if (blockBytes > double(int64_t{1} << 30) || (!gepackt && blockBytes > dateiBytes && blockBytes > double(64 << 20))) {
            letzteMeldung = "block larger than the file could hold";
            return ablehnen(TRM_DEFEKT);
        }
    }

    int hat = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &hat);
    kopf->hat_nodata = hat ? 1 : 0;
    kopf->nodata = hat ? nodata : 0.0;
    hat = 0;
    const double skala = GDALGetRasterScale(band, &hat);
    kopf->hat_skala = hat ? 1 : 0;
    kopf->skala = hat ? skala : 1.0;
    hat = 0;
    const double versatz = GDALGetRasterOffset(band, &hat);
    kopf->hat_versatz = hat ? 1 : 0;
    kopf->versatz = hat ? versatz : 0.0;

    auto* r = new (std::nothrow) tervalo_raster;
    if (!r) return ablehnen(TRM_SPEICHER);
    r->ds = ds;
    r->band = band;
    r->spalten = kopf->spalten;
    r->zeilen = kopf->zeilen;
    r->blockHoehe = kopf->block_hoehe;
    r->signedByte = signedByte;
    r->grid = art == TRM_ART_ASCII;
    *raster = r;
    return TRM_OK;
}

void Schliessen(tervalo_raster* r) {
    if (!r) return;
    GDALClose(r->ds);
    delete r;
}

// One piece of rows [zeile, zeile + hoehe) of the window into `ziel`; false when GDAL failed.
bool Stueck(tervalo_raster* r, int32_t spalte, int32_t zeile, int32_t breite, int32_t hoehe, bool alsDouble,
            void* ziel) {
    const GDALDataType typ = alsDouble ? GDT_Float64 : GDT_Float32;
    return GDALRasterIO(r->band, GF_Read, spalte, zeile, breite, hoehe, ziel, breite, hoehe, typ, 0, 0) == CE_None;
}

template <class T>
void VorzeichenRichten(T* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] >= T(128)) p[i] -= T(256);
}

int Lesen(tervalo_raster* r, int32_t spalte, int32_t zeile, int32_t breite, int32_t hoehe, int alsDouble,
          void* puffer, int32_t* ganzeZeilen) {
    if (ganzeZeilen) *ganzeZeilen = 0;
    if (!r || !puffer || !ganzeZeilen || spalte < 0 || zeile < 0 || breite <= 0 || hoehe <= 0 ||
        breite > r->spalten - spalte || hoehe > r->zeilen - zeile)
        return TRM_ARGUMENT;
    letzteMeldung.clear();
    bool gridDefekt = false;
    if (r->grid) {
        double wert;
        while (r->gridBis < zeile + hoehe && r->gridBis < r->gridDefekt) {
            if (!Stueck(r, 0, r->gridBis, 1, 1, true, &wert)) {
                r->gridDefekt = r->gridBis;
                break;
            }
            ++r->gridBis;
        }
        // Only the rows before the damaged line are asked of GDAL.
        if (zeile + hoehe > r->gridDefekt) {
            gridDefekt = true;
            hoehe = std::max(0, r->gridDefekt - zeile);
            if (hoehe == 0) return TRM_DEFEKT;
        }
    }
    const size_t groesse = alsDouble ? sizeof(double) : sizeof(float);
    auto* bytes = static_cast<unsigned char*>(puffer);
    // Whole block rows at a time, at least a few ten thousand values, so the normal path stays
    // a handful of calls; row by row only to find where a failing piece broke.
    const int32_t bh = r->blockHoehe;
    const int32_t proStueck = std::max<int32_t>(bh, static_cast<int32_t>(std::min<int64_t>(
                                                        r->zeilen, (int64_t{1} << 16) / breite / bh * bh)));
    int32_t fertig = 0;
    while (fertig < hoehe) {
        const int32_t anfang = zeile + fertig;
        // Pieces end on block row boundaries of the file.
        int32_t ende = (anfang / bh) * bh + proStueck;
        ende = std::min(ende, zeile + hoehe);
        void* ziel = bytes + static_cast<size_t>(fertig) * static_cast<size_t>(breite) * groesse;
        if (!Stueck(r, spalte, anfang, breite, ende - anfang, alsDouble, ziel)) {
            for (int32_t z = anfang; z < ende; ++z) {
                void* zeilenZiel = bytes + static_cast<size_t>(z - zeile) * static_cast<size_t>(breite) * groesse;
                if (!Stueck(r, spalte, z, breite, 1, alsDouble, zeilenZiel)) break;
                ++fertig;
            }
            // Every row read alone: the piece is whole after all.
            if (fertig == ende - zeile) continue;
            if (r->signedByte) {
                const size_t n = static_cast<size_t>(fertig) * static_cast<size_t>(breite);
                alsDouble ? VorzeichenRichten(static_cast<double*>(puffer), n)
                          : VorzeichenRichten(static_cast<float*>(puffer), n);
            }
            *ganzeZeilen = fertig;
            return TRM_DEFEKT;
        }
        fertig = ende - zeile;
    }
    if (r->signedByte) {
        const size_t n = static_cast<size_t>(hoehe) * static_cast<size_t>(breite);
        alsDouble ? VorzeichenRichten(static_cast<double*>(puffer), n)
                  : VorzeichenRichten(static_cast<float*>(puffer), n);
    }
    *ganzeZeilen = hoehe;
    return gridDefekt ? TRM_DEFEKT : TRM_OK;
}

void CacheSetzen(int64_t bytes) {
    Einrichten();
    GDALSetCacheMax64(std::max<int64_t>(bytes, 0));
}
int64_t CacheGroesse() {
    Einrichten();
    return GDALGetCacheMax64();
}
int64_t CacheBelegt() { return GDALGetCacheUsed64(); }

const char* LetzteMeldung() { return letzteMeldung.c_str(); }

constexpr tervalo_raster_tabelle kTabelle = {
    TERVALO_RASTER_VERSION, sizeof(tervalo_raster_tabelle), Oeffnen, Schliessen, Lesen, System,
    CacheSetzen, CacheGroesse, CacheBelegt, LetzteMeldung};

}  // namespace

extern "C" __attribute__((visibility("default"))) const tervalo_raster_tabelle* tervalo_raster_modul(int version) {
    return version == TERVALO_RASTER_VERSION ? &kTabelle : nullptr;
}
