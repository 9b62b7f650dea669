#pragma once
// Catalogues the service tests serve, made once per test program by the project's own tools
// (tervalo-demo, tervalo-cli konf/convert), gzip and GDAL:
//   demo      the demo terrain (XYZ and dBase tiles), system EPSG:31467
//   ohne      the same tiles without a system
//   gemischt  a packed tile, a dBase table and a GeoTIFF, EPSG:31467
//   ordner    a folder entry of named km tiles, EPSG:25832
//   kaputt    a readable tile beside a packed one that cannot be read, EPSG:31467
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "raster/raster_gen.h"
#include "support/files.h"
#include "support/shell.h"

namespace tervalo::test {

struct TKataloge {
    TempDir Dir;
    std::string Demo, Ohne, Gemischt, Ordner, Kaputt;  // .KNF paths
    std::string KaputteKachel;

    std::string Cli(const std::string& args) const {
        const ShellResult r = Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' " + args, TStderr::Apart);
        if (r.code != 0) throw std::runtime_error("tervalo-cli " + args + ": " + r.err);
        return r.out;
    }
    // --katalog arguments for the server.
    std::vector<std::string> Alle() const {
        return {"--katalog", "demo=" + Demo,         "--katalog", "ohne=" + Ohne,     "--katalog",
                "gemischt=" + Gemischt, "--katalog", "ordner=" + Ordner, "--katalog", "kaputt=" + Kaputt};
    }
};

// A catalogue with these entries (path and box), written as the configuration stores them.
inline void SchreibeKnf(const std::string& knf, const std::vector<std::pair<std::string, std::string>>& eintraege) {
    std::string s = kLeererKatalog;
    int i = 0;
    for (const auto& [pfad, box] : eintraege) s += "#DATEI " + std::to_string(++i) + "\r\n" + pfad + "\r\n" + box;
    WriteAll(knf, s);
}

inline const TKataloge& Kataloge() {
    static std::unique_ptr<TKataloge> k = [] {
        auto k = std::make_unique<TKataloge>();
        const std::string d = k->Dir.Path().string();
        // The folder index goes beside the test data, for the CLI and the service alike.
        ::setenv("TERVALO_INDEX_ORDNER", (d + "/index").c_str(), 1);
        RunOrThrow("'" TERVALO_BIN_DIR "/tervalo-demo' " + Quote(d + "/demo"));
        const std::string daten = d + "/demo/Daten/";
        k->Demo = d + "/demo/tervalo.KNF";
        k->Ohne = d + "/ohne.KNF";
        k->Cli("konf --konf " + Quote(k->Demo) + " --save " + Quote(k->Ohne));
        k->Cli("konf --konf " + Quote(k->Demo) + " --system EPSG:31467");

        std::filesystem::create_directories(d + "/gemischt");
        RunOrThrow("gzip -c " + Quote(daten + "blatt_sw.xyz") + " > " + Quote(d + "/gemischt/sw.xyz.gz"));
        std::filesystem::copy_file(daten + "blatt_so.dbf", d + "/gemischt/so.dbf");
        TRasterArt r;
        r.Name = "nw";
        r.Spalten = r.Zeilen = 40;
        r.X0 = 3566000;
        r.Y0 = 5937000;
        r.Dx = 25;
        r.Dy = -25;
        r.NoData = -9999;
        r.System = "EPSG:31467";
        MakeRaster(r, d + "/gemischt");
        k->Gemischt = d + "/gemischt/gemischt.KNF";
        WriteAll(k->Gemischt, kLeererKatalog);
        k->Cli("konf --konf " + Quote(k->Gemischt) + " --hinzufuegen " + Quote(d + "/gemischt/sw.xyz.gz") + " " +
               Quote(d + "/gemischt/so.dbf") + " " + Quote(d + "/gemischt/nw.tif"));
        k->Cli("konf --konf " + Quote(k->Gemischt) + " --system EPSG:31467");

        // Named km tiles, 100 m apart, in UTM zone 32.
        std::filesystem::create_directories(d + "/kacheln");
        for (int ost : {350, 351}) {
            std::string s;
            char buf[96];
            for (int j = 0; j < 10; ++j)
                for (int i = 0; i < 10; ++i) {
                    std::snprintf(buf, sizeof buf, "%d.00 %d.00 %.2f\n", ost * 1000 + 50 + 100 * i, 5600000 + 50 + 100 * j,
                                  (ost - 300) + i + 0.1 * j);
                    s += buf;
                }
            WriteAll(d + "/kacheln/dgm1_32_" + std::to_string(ost) + "_5600_1_nw.xyz", s);
        }
        k->Ordner = d + "/ordner.KNF";
        WriteAll(k->Ordner, kLeererKatalog);
        k->Cli("konf --konf " + Quote(k->Ordner) + " --hinzufuegen " + Quote(d + "/kacheln"));
        k->Cli("konf --konf " + Quote(k->Ordner) + " --system EPSG:25832");

        k->Kaputt = d + "/kaputt.KNF";
        k->KaputteKachel = d + "/kaputt.xyz.gz";
        WriteAll(k->KaputteKachel, std::string("\x1f\x8b\x08\x00kaputt", 11));
        SchreibeKnf(k->Kaputt, {{daten + "blatt_sw.xyz", "3566000.00\r\n3567000.00\r\n5935000.00\r\n5936000.00\r\n"},
                                {k->KaputteKachel, "3567000.00\r\n3568000.00\r\n5935000.00\r\n5936000.00\r\n"}});
        k->Cli("konf --konf " + Quote(k->Kaputt) + " --system EPSG:31467");
        return k;
    }();
    return *k;
}

}  // namespace tervalo::test
