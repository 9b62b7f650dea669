// tervalo-cli over a raster in another reference system than the tiles': the note when it is
// added and on the query's file row (text and JSON), the tile still answering; convert takes a
// raster into all three formats.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "raster/raster_gen.h"

namespace tervalo::test {
namespace {

ShellResult Cli(const std::string& args) {
    return Shell("LC_ALL=C " TERVALO_BIN_DIR "/tervalo-cli " + args, TStderr::Apart);
}

TEST(RasterCli, NoteForAnotherSystemWhenAddedAndQueried) {
    TempDir d;
    TRasterArt a;
    a.Name = "gk", a.Spalten = 12, a.Zeilen = 9, a.X0 = 3500000, a.Y0 = 5600009, a.NoData = -9999;
    a.System = "EPSG:31467";
    MakeRaster(a, d.Path().string());
    const std::string tif = d / a.Datei(), konf = d / "k.KNF";
    const std::string note = "Bezugssystem der Datei (EPSG:31467) weicht von dem der Kacheln (EPSG:25832) ab";
    ASSERT_EQ(Cli("konf --konf " + Quote(konf) + " --save " + Quote(konf)).code, 0);
    ASSERT_EQ(Cli("konf --konf " + Quote(konf) + " --system EPSG:25832").code, 0);
    const ShellResult add = Cli("konf --konf " + Quote(konf) + " --hinzufuegen " + Quote(tif));
    EXPECT_EQ(add.code, 0) << add.err;
    EXPECT_NE(add.err.find("Hinweis: " + note + ": " + tif), std::string::npos) << add.err;
    EXPECT_NE(ReadAll(konf).find(tif), std::string::npos);

    const std::string q = "query " + Quote(std::to_string(a.X(1))) + " " + Quote(std::to_string(a.Y(1))) + " --konf " +
                          Quote(konf);
    const ShellResult text = Cli(q);
    EXPECT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find(std::to_string(a.Spalten * a.Zeilen) + " "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  " + note + "\n"), std::string::npos) << text.out;
    const ShellResult json = Cli(q + " --json");
    ASSERT_EQ(json.code, 0) << json.err;
    const auto j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["dateien"][0]["hinweis"], note);
    EXPECT_TRUE(j["dateien"][0]["fehler"].is_null());
    EXPECT_EQ(j["naechster"]["r"].get<double>(), 0.0);

    // In the tiles' own system the row has no such field.
    ASSERT_EQ(Cli("konf --konf " + Quote(konf) + " --system EPSG:31467").code, 0);
    const auto k = nlohmann::json::parse(Cli(q + " --json").out);
    EXPECT_FALSE(k["dateien"][0].contains("hinweis"));
    EXPECT_EQ(Cli("konf --konf " + Quote(konf) + " --save " + Quote(d / "n.KNF") + " --hinzufuegen " + Quote(tif)).err.find(
                  "Hinweis"),
              std::string::npos);
}

TEST(RasterCli, ConvertTakesARasterIntoEveryFormat) {
    TempDir d;
    TRasterArt a;
    a.Name = "kv", a.Spalten = 6, a.Zeilen = 5, a.X0 = 100, a.Y0 = 205, a.NoData = -9999;
    MakeRaster(a, d.Path().string());
    const std::string konf = d / "k.KNF";
    ASSERT_EQ(Cli("konf --konf " + Quote(konf) + " --save " + Quote(konf)).code, 0);
    int loecher = 0;
    for (int r = 0; r < a.Zeilen; ++r)
        for (int c = 0; c < a.Spalten; ++c) loecher += a.Loch(c, r);
    const std::string taken = "Werte \xC3\xBC" "bernommen: " + std::to_string(a.Spalten * a.Zeilen - loecher) + "\n";
    for (const char* ziel : {"a.xyz", "a.csv", "a.dbf"}) {
        const ShellResult r = Cli("convert " + Quote(d / a.Datei()) + " " + Quote(d / ziel) + " --konf " + Quote(konf));
        EXPECT_EQ(r.code, 0) << ziel << r.err;
        EXPECT_NE(r.out.find(taken), std::string::npos) << ziel << r.out;
    }
    const std::vector<std::string> csv = SplitLines(ReadAll(d / "a.csv"));
    ASSERT_EQ(csv.size(), std::size_t(a.Spalten * a.Zeilen - loecher + 1));
    EXPECT_EQ(csv[0], "X;Y;Z\r");
    // Pixel (0, 0) is a hole: the first point is (1, 0), of the northern row.
    char erste[64];
    std::snprintf(erste, sizeof erste, "101.500;204.500;%.3f\r", a.Wert(1, 0));
    EXPECT_EQ(csv[1], erste);
    // A text source still does not go to CSV.
    EXPECT_EQ(Cli("convert " + Quote(d / a.Export()) + " " + Quote(d / "t.csv") + " --konf " + Quote(konf)).code, 2);
}

// A GeoTIFF whose unit PROJ does not know: PROJ's own complaint must not reach the terminal.
TEST(RasterCli, LibraryMessagesNeverReachTheUser) {
    const ShellResult r = Cli("scan " TERVALO_SOURCE_DIR "/fuzz/corpus/raster/tif_unit_unknown_to_proj");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Raster"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tervalo::test
