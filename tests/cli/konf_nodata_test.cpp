// tervalo-cli konf --nodata, and the NoData height as every command takes it from the settings
// file beside the configuration.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/files.h"
#include "support/shell.h"

using tervalo::test::ReadAll;
using tervalo::test::WriteAll;
namespace fs = std::filesystem;

namespace {

class KonfNoData : public ::testing::Test {
protected:
    void SetUp() override {
        knf_ = tmp_ / "t.KNF";
        ini_ = tmp_ / "t.ini";
        WriteAll(knf_, tervalo::test::kLeererKatalog);
    }
    tervalo::test::ShellResult Cli(const std::string& args, const char* locale = "C") {
        return tervalo::test::Shell(std::string("LC_ALL=") + locale + " '" TERVALO_BIN_DIR "/tervalo-cli' " + args,
                                    tervalo::test::TStderr::Apart);
    }
    tervalo::test::ShellResult Konf(const std::string& args, const char* locale = "C") {
        return Cli("konf --konf '" + knf_ + "' " + args, locale);
    }
    // Two tiles: a 3 x 3 grid with a -9999 hole at its centre, then a tile with a real height there.
    void Kacheln() {
        WriteAll(tmp_ / "loch.xyz",
                 "99 99 10\n100 99 11\n101 99 12\n99 100 13\n100 100 -9999\n101 100 15\n99 101 16\n100 101 17\n"
                 "101 101 18\n");
        WriteAll(tmp_ / "spaeter.xyz", "100 100 14.5\n");
        const auto r = Konf("--hinzufuegen '" + (tmp_ / "loch.xyz") + "' '" + (tmp_ / "spaeter.xyz") + "'");
        ASSERT_EQ(r.code, 0) << r.err;
    }

    tervalo::test::TempDir tmp_;
    std::string knf_, ini_;
};

// --nodata writes the one key (the .KNF and the other lines untouched), konf shows a value
// other than the default, keiner turns it off, the default removes the key again, a copy saved
// under another name takes the value along; a bad value is a usage error writing nothing.
TEST_F(KonfNoData, SetShownOffCopiedAndRefused) {
    const std::string eigenes = "# von Hand\n[Kacheln]\nSystem=EPSG:25832\n";
    WriteAll(ini_, eigenes);
    tervalo::test::ShellResult r = Konf("--nodata -32768,5");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("EPSG:25832\nNoData-H\xC3\xB6he der Kacheln: -32768.5\nRasterabstand:"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadAll(ini_), eigenes + "NoData=-32768.5\n");
    EXPECT_EQ(ReadAll(knf_), tervalo::test::kLeererKatalog);
    EXPECT_NE(Konf("", "de_DE.UTF-8").out.find("Kacheln: -32768,5\n"), std::string::npos);
    r = Konf("--save '" + (tmp_ / "kopie.KNF") + "'");
    EXPECT_EQ(ReadAll(tmp_ / "kopie.ini"), "[Kacheln]\nSystem=EPSG:25832\nNoData=-32768.5\n");

    r = Konf("--nodata KEINER --json");
    EXPECT_TRUE(r.out.ends_with(",\"system\":\"EPSG:25832\",\"nodata\":null}\n")) << r.out;
    EXPECT_EQ(ReadAll(ini_), eigenes + "NoData=keiner\n");
    for (const char* falsch : {"abc", "''", "1,5.3", "keins"}) {
        r = Konf(std::string("--nodata ") + falsch);
        EXPECT_EQ(r.code, 2) << falsch;
        EXPECT_NE(r.err.find("ist keine NoData-H\xC3\xB6he"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadAll(ini_), eigenes + "NoData=keiner\n");
    r = Konf("--nodata -9999");
    EXPECT_EQ(r.out.find("NoData"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(ini_), eigenes);
}

// query, batch, export and convert take the configuration's value: the hole gives no point,
// the later tile's height answers; keiner brings the old answers back; an unreadable value
// warns and counts as the default.
TEST_F(KonfNoData, EveryRunTakesTheConfigurationsValue) {
    Kacheln();
    const std::string k = " --konf '" + knf_ + "'";
    tervalo::test::ShellResult r = Cli("query" + k + " --json 100 100");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"gelesen\":9,\"gefiltert\":8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"naechster\":{\"x\":100.0,\"y\":100.0,\"z\":14.5"), std::string::npos) << r.out;
    WriteAll(tmp_ / "punkte.txt", "100 100\n");
    r = Cli("batch" + k + " '" + (tmp_ / "punkte.txt") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("14.5"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("-9999"), std::string::npos) << r.out;
    r = Cli("export" + k + " 0 1000 0 1000 '" + (tmp_ / "aus.xyz") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(tmp_ / "aus.xyz").find("-9999"), std::string::npos);
    EXPECT_NE(ReadAll(tmp_ / "aus.xyz").find("14.5"), std::string::npos);
    r = Cli("convert" + k + " '" + (tmp_ / "loch.xyz") + "' '" + (tmp_ / "loch.dbf") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Werte \xC3\xBC" "bernommen: 8\n"), std::string::npos) << r.out;

    ASSERT_EQ(Konf("--nodata keiner").code, 0);
    r = Cli("query" + k + " --json 100 100");
    EXPECT_NE(r.out.find("\"gelesen\":9,\"gefiltert\":9"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"z\":-9999.0"), std::string::npos) << r.out;
    r = Cli("convert" + k + " '" + (tmp_ / "loch.xyz") + "' '" + (tmp_ / "alle.xyz") + "'");
    EXPECT_NE(r.out.find("Werte \xC3\xBC" "bernommen: 9\n"), std::string::npos) << r.out;

    WriteAll(ini_, "[Kacheln]\nNoData=minus neun\n");
    r = Cli("query" + k + " --json 100 100");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "Warnung: " + ini_ + ", Zeile 2: Schl\xC3\xBCssel [Kacheln] NoData: \"minus neun\" ist keine "
                     "Zahl, es gilt -9999 (verstanden: eine Zahl mit \".\" oder \",\" als Dezimaltrenner, keiner)\n");
    EXPECT_NE(r.out.find("\"gefiltert\":8"), std::string::npos) << r.out;
}

}  // namespace
