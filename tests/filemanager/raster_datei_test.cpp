// Raster tiles in the extent scan, the conversion, the export and the dBase information: each
// as over the raster's XYZ export, NoData left out, damage reported without a half-written
// file presented as finished.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "export/Export.h"
#include "filemanager/DbfInfo.h"
#include "filemanager/Extent.h"
#include "filemanager/Konvert.h"
#include "formats/PunktQuelle.h"
#include "support/files.h"
#include "support/shell.h"

using namespace tervalo;
using tervalo::test::Quote;
using tervalo::test::ReadAll;
using tervalo::test::TempDir;
using tervalo::test::WriteAll;

namespace {

constexpr int kSpalten = 37, kZeilen = 23;

double Wert(int s, int z) {
    if ((s * 5 + z * 3) % 19 == 0) return -9999;  // holes
    return z == 12 && s == 0 ? 4321.5 : 200 + 0.5 * s - 0.25 * z;
}

// A Float32 GeoTIFF in 2 m pixels from (6000, 9046) down, in strips of two rows.
std::string MakeTif(const TempDir& d, const std::string& name) {
    std::ostringstream s;
    s.precision(17);
    s << "ncols " << kSpalten << "\nnrows " << kZeilen << "\nxllcorner 6000\nyllcorner " << 9046 - 2 * kZeilen
      << "\ncellsize 2\nNODATA_value -9999\n";
    for (int z = 0; z < kZeilen; ++z)
        for (int sp = 0; sp < kSpalten; ++sp) s << Wert(sp, z) << (sp + 1 < kSpalten ? " " : "\n");
    WriteAll(d / (name + ".asc"), s.str());
    const std::string tif = d / (name + ".tif");
    const auto r = tervalo::test::Shell("gdal_translate -q -ot Float32 -co BLOCKYSIZE=2 -a_srs EPSG:25832 " +
                                        Quote(d / (name + ".asc")) + " " + Quote(tif) + " && gdal_translate -q -of XYZ " +
                                        Quote(tif) + " " + Quote(d / (name + ".xyz")));
    if (r.code != 0) throw std::runtime_error(r.out);
    return tif;
}

// The raster cut at the first pixel of its row 12: its header stays whole.
std::string Kaputt(const TempDir& d, const std::string& tif) {
    const std::string bytes = ReadAll(tif);
    const float marke = 4321.5f;
    const std::size_t an = bytes.find(std::string(reinterpret_cast<const char*>(&marke), sizeof marke));
    if (an == std::string::npos) throw std::runtime_error("marker not found");
    WriteAll(d / "kaputt.tif", bytes.substr(0, an));
    return d / "kaputt.tif";
}

int Gueltige() {
    int n = 0;
    for (int z = 0; z < kZeilen; ++z)
        for (int s = 0; s < kSpalten; ++s) n += Wert(s, z) != -9999;
    return n;
}

class Stumm : public TKonvertBeobachter {};

class Protokoll : public TExportBeobachter {
public:
    void Log(const std::string& line) override { zeilen += line + "\n"; }
    std::string zeilen;
};

// From the header alone, the pixel centres' extent and every pixel counted: what the scan of
// the XYZ export gives. A raster damaged past its header scans all the same: no pixel is read.
TEST(RasterDatei, ScanFromTheHeader) {
    TempDir d;
    const std::string tif = MakeTif(d, "r");
    const TExtremwerte r = ReadExtremwerte(tif), x = ReadExtremwerte(d / "r.xyz");
    EXPECT_TRUE(r.Raster && r.Opened && r.Found);
    EXPECT_FALSE(x.Raster || r.Dbase);
    EXPECT_EQ(r.Read, uint64_t(kSpalten * kZeilen));
    EXPECT_EQ(r.Accepted, x.Accepted);
    EXPECT_EQ(r.Read, x.Read);
    EXPECT_EQ(r.Xmin, 6001.0);
    EXPECT_EQ(r.Xmax, x.Xmax);
    EXPECT_EQ(r.Ymin, x.Ymin);
    EXPECT_EQ(r.Ymax, 9045.0);
    const TExtremwerte k = ReadExtremwerte(Kaputt(d, tif));
    EXPECT_EQ(k.Read, r.Read);
    EXPECT_EQ(k.Ymin, r.Ymin);
    // The tiles' system given: a note for another one, none for the same.
    EXPECT_EQ(ReadExtremwerte(tif, 25832).Hinweis, "");
    EXPECT_EQ(ReadExtremwerte(tif, 31467).Hinweis,
              "Bezugssystem der Datei (EPSG:25832) weicht von dem der Kacheln (EPSG:31467) ab");
    EXPECT_EQ(ReadExtremwerte(d / "r.xyz", 31467).Hinweis, "");
}

// Raster to XYZ and dBase as its export converts, to CSV as the export's table does; holes
// (the NoData pixels) left out. Damage throws and leaves an existing target as it was.
TEST(RasterDatei, ConvertsToAllThree) {
    TempDir d;
    const std::string tif = MakeTif(d, "r");
    Stumm still;
    const TLaufOptionen opt;
    for (const TAusgabe& f : {TAusgabe{TAusgabeFormat::Xyz, 3}, TAusgabe{TAusgabeFormat::DBase, 4}}) {
        const std::string ext = f.Format == TAusgabeFormat::Xyz ? ".xyz" : ".dbf";
        const TKonvertErgebnis r = Konvertieren(tif, d / ("kr" + ext), f, opt, {}, still);
        const TKonvertErgebnis x = Konvertieren(d / "r.xyz", d / ("kx" + ext), f, opt, {}, still);
        EXPECT_TRUE(r.Kept);
        EXPECT_EQ(r.Counts.Taken, Gueltige());
        EXPECT_EQ(r.Counts.NotTaken, 0);
        EXPECT_EQ(x.Counts.Taken, r.Counts.Taken);
        EXPECT_FALSE(r.SourceIsDbase);
        EXPECT_EQ(ReadAll(d / ("kr" + ext)), ReadAll(d / ("kx" + ext))) << ext;
    }
    const TAusgabe csv{TAusgabeFormat::Csv, 3};
    EXPECT_EQ(Konvertieren(tif, d / "kr.csv", csv, opt, {}, still).Counts.Taken, Gueltige());
    Konvertieren(d / "kx.dbf", d / "kx.csv", csv, opt, {}, still);
    EXPECT_EQ(ReadAll(d / "kr.csv"), ReadAll(d / "kx.csv"));
    // Without NoData the holes are heights like any other.
    EXPECT_EQ(Konvertieren(tif, d / "alle.xyz", TAusgabe{TAusgabeFormat::Xyz, 3}, opt, {}, still, std::nullopt)
                  .Counts.Taken,
              Gueltige());  // the band's own NoData still is no height

    const std::string kaputt = Kaputt(d, tif);
    WriteAll(d / "alt.xyz", "1 2 3\n");
    EXPECT_THROW(Konvertieren(kaputt, d / "alt.xyz", TAusgabe{TAusgabeFormat::Xyz, 3}, opt, {}, still), ERasterDefekt);
    EXPECT_EQ(ReadAll(d / "alt.xyz"), "1 2 3\n");
}

// The export writes what the export's window holds; a damaged raster logs the abort after its
// points before the damage, and the next tile is not read.
TEST(RasterDatei, ExportWindowAndDamage) {
    TempDir d;
    const std::string tif = MakeTif(d, "r");
    auto lauf = [&](const std::vector<std::string>& dateien, const TExportGrenzen& g, const std::string& ziel,
                    TExportErgebnis* e = nullptr) {
        TDateien kat;
        for (const std::string& f : dateien) {
            const std::size_t i = ++kat.Anzahl;
            kat.Datei[i] = f;
            kat.Xmin[i] = 6001, kat.Xmax[i] = 6073, kat.Ymin[i] = 9001, kat.Ymax[i] = 9045;
        }
        Protokoll p;
        const TExportErgebnis r = ExportRun(kat, g, ziel, TAusgabe{TAusgabeFormat::Xyz, 3}, TLaufOptionen{}, p);
        if (e) *e = r;
        return p.zeilen;
    };
    for (const TExportGrenzen& g : {TExportGrenzen{6010, 6031, 9011, 9030}, TExportGrenzen{6010.5, 6030.5, 9010.2, 9029.9},
                                    TExportGrenzen{0, 1e5, 0, 1e5}}) {
        const std::string r = lauf({tif}, g, d / "er.xyz"), x = lauf({d / "r.xyz"}, g, d / "ex.xyz");
        std::string rs = r;
        rs.replace(rs.find("er.xyz"), 6, "ex.xyz");
        for (std::size_t i; (i = rs.find("r.tif")) != std::string::npos;) rs.replace(i, 5, "r.xyz");
        EXPECT_EQ(rs, x);
        EXPECT_EQ(ReadAll(d / "er.xyz"), ReadAll(d / "ex.xyz"));
        EXPECT_EQ(x.find("\n0 Werte"), std::string::npos) << x;
    }
    WriteAll(d / "danach.xyz", "6011 9011 5\n");
    const std::string kaputt = Kaputt(d, tif);
    TExportErgebnis e;
    const std::string log = lauf({kaputt, d / "danach.xyz"}, {0, 1e5, 0, 1e5}, d / "ek.xyz", &e);
    EXPECT_TRUE(e.Error);
    EXPECT_EQ(e.Total, [] {
        int n = 0;
        for (int z = 0; z < 12; ++z)
            for (int s = 0; s < kSpalten; ++s) n += Wert(s, z) != -9999;
        return n;
    }());
    EXPECT_NE(log.find("!!! ABBRUCH !!!\nDatei besch\xC3\xA4" "digt: " + kaputt + "\n!!! ABBRUCH !!!\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Fehler bei Konvertierung aufgetreten"), std::string::npos);
}

// The dBase information refuses a GeoTIFF like any file that is no table.
TEST(RasterDatei, NoDbaseInformationForARaster) {
    TempDir d;
    const std::string tif = MakeTif(d, "r");
    EXPECT_FALSE(IsDbaseFile(tif));
    const std::string vorher = ReadAll(tif);
    EXPECT_ANY_THROW(DbfInfoLines(tif, nullptr));
    EXPECT_EQ(ReadAll(tif), vorher);
}

}  // namespace
