#pragma once
// Rasters for the tests, made by GDAL's own tools: an ESRI ASCII grid written here, turned into
// a GeoTIFF by gdal_translate, and the XYZ export of each by gdal_translate -of XYZ, the text
// tile a raster must answer like.
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/shell.h"

namespace tervalo::test {

struct TRasterArt {
    std::string Name;          // two characters: "<name>.tif" and "<name>.xyz" have one length
    int Spalten = 0, Zeilen = 0;
    double X0 = 0, Y0 = 0;     // geotransform origin: the outer corner of the first pixel
    double Dx = 1, Dy = -1;    // pixel size; Dy > 0 is south-up
    std::string Typ = "Float32";  // Float32, Int16 or Float64
    std::optional<double> NoData;
    std::optional<double> Skala, Versatz;  // band scale and offset (raw * Skala + Versatz)
    std::string System;        // -a_srs, empty for none
    bool PixelIsPoint = false;
    std::string Kacheln;       // "" striped and plain; "256" or "16": internal tiles, DEFLATE
    bool Ascii = false;        // the ASCII grid itself is the tile

    std::string Datei() const { return Name + (Ascii ? ".asc" : ".tif"); }
    std::string Export() const { return Name + ".xyz"; }
    // Pixel centre, as the raster's points lie.
    double X(int col) const { return X0 + (col + 0.5) * Dx; }
    double Y(int row) const { return Y0 + (row + 0.5) * Dy; }
    bool Loch(int col, int row) const {
        if (!NoData) return false;
        return (col * 7 + row * 3) % 23 == 0 || (col >= 3 && col <= 5 && row >= 2 && row <= 4);
    }
    // The stored value: raw counts for Int16, otherwise a height with a fraction that Float32
    // does not hold exactly (the ASCII grid keeps to 1/64, which every reader takes alike).
    double Wert(int col, int row) const {
        if (Loch(col, row)) return *NoData;
        const double h = 180.0 + 0.37 * col - 0.61 * row + 4.1 * std::sin(col * 0.7) * std::cos(row * 0.45);
        if (Typ == "Int16") return std::round((h - Versatz.value_or(0)) / Skala.value_or(1));
        if (Ascii) return std::round(h * 64) / 64;
        return h + 1e-7 * (col * 31 + row * 17);
    }
};

// Writes the ASCII grid the raster is made from; values in full so the raster type decides.
inline void WriteAsciiGrid(const TRasterArt& a, const std::string& pfad) {
    std::string s = "ncols " + std::to_string(a.Spalten) + "\nnrows " + std::to_string(a.Zeilen) + "\n";
    char buf[128];
    const double ymin = a.Dy < 0 ? a.Y0 + a.Zeilen * a.Dy : a.Y0;
    std::snprintf(buf, sizeof buf, "xllcorner %.17g\nyllcorner %.17g\ncellsize %.17g\n", a.X0, ymin, a.Dx);
    s += buf;
    if (a.NoData) {
        std::snprintf(buf, sizeof buf, "NODATA_value %.17g\n", *a.NoData);
        s += buf;
    }
    // The grid's first line is the raster's first row; for a south-up raster -a_ullr makes
    // it the southern one.
    for (int row = 0; row < a.Zeilen; ++row) {
        for (int c = 0; c < a.Spalten; ++c) {
            std::snprintf(buf, sizeof buf, "%s%.17g", c ? " " : "", a.Wert(c, row));
            s += buf;
        }
        s += "\n";
    }
    WriteAll(pfad, s);
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> z;
    std::size_t a = 0;
    for (std::size_t e; (e = text.find('\n', a)) != std::string::npos; a = e + 1) z.push_back(text.substr(a, e - a));
    if (a < text.size()) z.push_back(text.substr(a));
    return z;
}

inline void RunOrThrow(const std::string& cmd) {
    const ShellResult r = Shell(cmd);
    if (r.code != 0) throw std::runtime_error(cmd + ": " + r.out);
}

// Makes the tile and its XYZ export in `dir`. A raster with scale and offset is exported raw
// and scaled here in double (GDAL 3.6's -unscale computes in single precision); the -unscale
// export is kept as "<name>.unscale.xyz" for a check of the convention.
inline void MakeRaster(const TRasterArt& a, const std::string& dir) {
    const std::string asc = dir + "/" + a.Name + (a.Ascii ? ".asc" : ".src.asc");
    WriteAsciiGrid(a, asc);
    const std::string tile = dir + "/" + a.Datei(), xyz = dir + "/" + a.Export();
    if (!a.Ascii) {
        std::string cmd = "gdal_translate -q -of GTiff -ot " + a.Typ;
        if (a.Typ == "Float64") cmd = "gdal_translate --config AAIGRID_DATATYPE Float64 -q -of GTiff -ot Float64";
        char buf[160];
        if (a.NoData) {
            std::snprintf(buf, sizeof buf, " -a_nodata %.17g", *a.NoData);
            cmd += buf;
        }
        if (a.Skala) {
            std::snprintf(buf, sizeof buf, " -a_scale %.17g -a_offset %.17g", *a.Skala, a.Versatz.value_or(0));
            cmd += buf;
        }
        if (!a.System.empty()) cmd += " -a_srs " + a.System;
        if (a.PixelIsPoint) cmd += " -mo AREA_OR_POINT=Point";
        if (!a.Kacheln.empty()) {
            cmd += " -co TILED=YES -co COMPRESS=DEFLATE";
            if (a.Kacheln != "256") cmd += " -co BLOCKXSIZE=" + a.Kacheln + " -co BLOCKYSIZE=" + a.Kacheln;
        }
        // Upper left and lower right as the geotransform has them: a south-up raster names
        // its southern edge first.
        std::snprintf(buf, sizeof buf, " -a_ullr %.17g %.17g %.17g %.17g", a.X0, a.Y0, a.X0 + a.Spalten * a.Dx,
                      a.Y0 + a.Zeilen * a.Dy);
        cmd += buf;
        RunOrThrow(cmd + " " + Quote(asc) + " " + Quote(tile));
    }
    if (a.Typ == "Float64" && !a.Skala) {
        // GDAL 3.6's XYZ writer reads a Float64 band as Float32: its heights keep the export's
        // coordinates and take the raster's own values, as the grid it was made from has them.
        RunOrThrow("gdal_translate -q -of XYZ " + Quote(tile) + " " + Quote(xyz + ".roh"));
        std::vector<double> werte;
        for (int row = 0; row < a.Zeilen; ++row)
            for (int c = 0; c < a.Spalten; ++c) werte.push_back(a.Wert(c, row));
        const std::vector<std::string> zeilen = SplitLines(ReadAll(xyz + ".roh"));
        if (zeilen.size() != werte.size()) throw std::runtime_error("XYZ export of " + tile + ": wrong line count");
        std::string aus;
        for (std::size_t i = 0; i < zeilen.size(); ++i) {
            char buf[64];
            std::snprintf(buf, sizeof buf, " %.17g\n", werte[i]);
            aus += zeilen[i].substr(0, zeilen[i].rfind(' ')) + buf;
        }
        WriteAll(xyz, aus);
        return;
    }
    if (!a.Skala) {
        RunOrThrow("gdal_translate -q -of XYZ " + Quote(tile) + " " + Quote(xyz));
        return;
    }
    RunOrThrow("gdal_translate -q -of XYZ " + Quote(tile) + " " + Quote(xyz + ".roh"));
    RunOrThrow("gdal_translate -q -unscale -ot Float64 -of XYZ " + Quote(tile) + " " + Quote(dir + "/" + a.Name + ".unscale.xyz"));
    std::string aus;
    for (const std::string& zeile : SplitLines(ReadAll(xyz + ".roh"))) {
        const std::size_t b = zeile.rfind(' ');
        const double roh = std::stod(zeile.substr(b + 1));
        char buf[64];
        std::snprintf(buf, sizeof buf, " %.17g\n", a.NoData && roh == *a.NoData ? roh : roh * *a.Skala + a.Versatz.value_or(0));
        aus += zeile.substr(0, b) + buf;
    }
    WriteAll(xyz, aus);
}

}  // namespace tervalo::test
