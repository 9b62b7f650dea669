#ifndef TERVALO_RASTERMODUL_H
#define TERVALO_RASTERMODUL_H
/* The boundary between the core and the raster module (libtervalo-gdal.so), which the core
 * loads with dlopen on the first raster it meets, so a program that reads no raster never
 * loads GDAL. Plain C on purpose: no GDAL and no C++ type crosses it, so the module and the
 * programs may be built apart. The module exports one function, tervalo_raster_modul(), giving
 * a table of functions; a new field or a changed meaning raises TERVALO_RASTER_VERSION.
 *
 * Rules of the table:
 * - Every function may be called on several threads at once, each with its own handle; one
 *   handle is used by one thread at a time.
 * - Nothing here prints. GDAL's own message of the last failure on the calling thread is kept
 *   for diagnosis (letzte_meldung) and is never meant for the user.
 * - Values are band 1's raw values: scale and offset are reported, never applied. */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TERVALO_RASTER_VERSION 1
#define TERVALO_RASTER_EINSTIEG "tervalo_raster_modul"

/* The reader a file's content asked for; the module opens it with that GDAL driver only. */
enum tervalo_raster_art { TRM_ART_GEOTIFF = 1, TRM_ART_ASCII = 2 };

/* Results. */
enum tervalo_raster_ergebnis {
    TRM_OK = 0,
    TRM_DEFEKT = 1,             /* unreadable header, cut short, broken compression block */
    TRM_KEINE_GEOREFERENZ = 2,  /* no geotransform */
    TRM_GEDREHT = 3,            /* rotated or sheared geotransform */
    TRM_UNGUELTIG = 4,          /* cell size 0, values not finite */
    TRM_TYP = 5,                /* no band, or complex values */
    TRM_ARGUMENT = 6,           /* window outside the raster, null pointer: the caller's fault */
    TRM_SPEICHER = 7            /* out of memory */
};

/* Band 1's data type. */
enum tervalo_raster_typ {
    TRM_BYTE = 1, TRM_INT8, TRM_UINT16, TRM_INT16, TRM_UINT32, TRM_INT32,
    TRM_UINT64, TRM_INT64, TRM_FLOAT32, TRM_FLOAT64
};

typedef struct tervalo_raster tervalo_raster; /* one open dataset */

/* The header of an open raster. Row 0 is the first row of the file, column 0 its first column;
 * pixel (s, z) covers x0 + [s, s+1)·dx, y0 + [z, z+1)·dy (north-up: dy < 0). PixelIsPoint
 * files are already moved onto this grid by GDAL. */
typedef struct {
    int32_t spalten, zeilen;
    int32_t block_breite, block_hoehe; /* GDAL's natural block of band 1 */
    double x0, dx, y0, dy;
    int32_t hat_nodata;
    double nodata;
    int32_t hat_skala, hat_versatz;    /* 0 when absent: then scale 1, offset 0 */
    double skala, versatz;
    int32_t typ;                       /* tervalo_raster_typ */
} tervalo_raster_kopf;

typedef struct {
    int32_t version;     /* TERVALO_RASTER_VERSION */
    uint32_t groesse;    /* sizeof of this table as the module knows it */

    /* Opens `pfad` read-only with the driver `art` asks for and fills `kopf`. On TRM_OK
     * *raster holds the handle; otherwise it is NULL and nothing needs closing. */
    int (*oeffnen)(const char* pfad, int art, tervalo_raster** raster, tervalo_raster_kopf* kopf);
    void (*schliessen)(tervalo_raster* raster); /* NULL is fine */

    /* Reads band 1's raw values of the window (spalte, zeile, breite, hoehe) row by row into
     * `puffer`, breite·hoehe values of float (als_double 0) or double (als_double 1): float
     * is exact for Byte, Int8, UInt16, Int16 and Float32 only. *ganze_zeilen receives the rows
     * of the window read whole, from its first: all of them on TRM_OK, those before the damage
     * on TRM_DEFEKT (then the rows from there on are undefined). */
    int (*lesen)(tervalo_raster* raster, int32_t spalte, int32_t zeile, int32_t breite, int32_t hoehe,
                 int als_double, void* puffer, int32_t* ganze_zeilen);

    /* The horizontal part of the raster's reference system (agency GeoTIFFs carry a compound
     * one): *epsg its EPSG code, 0 when none or unknown; `name` (n bytes, UTF-8, may be cut)
     * its name, "" when none. Apart from the header since it costs PROJ look-ups (about half
     * a millisecond) that a run without a system of its own never needs. */
    void (*system)(tervalo_raster* raster, int32_t* epsg, char* name, size_t n);

    /* GDAL's block cache, shared by every open raster: the bound in bytes and what it holds. */
    void (*cache_setzen)(int64_t bytes);
    int64_t (*cache_groesse)(void);
    int64_t (*cache_belegt)(void);

    /* GDAL's message of the last failure on this thread, "" when none; for diagnosis only. */
    const char* (*letzte_meldung)(void);
} tervalo_raster_tabelle;

/* The module's entry: the table when it speaks `version`, else NULL. */
typedef const tervalo_raster_tabelle* (*tervalo_raster_einstieg)(int version);
const tervalo_raster_tabelle* tervalo_raster_modul(int version);

#ifdef __cplusplus
}
#endif

#endif
