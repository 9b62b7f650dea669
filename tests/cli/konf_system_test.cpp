// tervalo-cli konf --system and the settings file beside the configuration.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/Einstellungen.h"
#include "support/files.h"
#include "support/shell.h"

using namespace tervalo;
using tervalo::test::ReadAll;
using tervalo::test::WriteAll;
namespace fs = std::filesystem;

namespace {

class KonfSystem : public ::testing::Test {
protected:
    void SetUp() override {
        knf_ = tmp_ / "t.KNF";
        ini_ = tmp_ / "t.ini";
        WriteAll(knf_, tervalo::test::kLeererKatalog);
    }
    tervalo::test::ShellResult Run(const std::string& args) {
        return tervalo::test::Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' konf --konf '" + knf_ + "' " + args,
                                    tervalo::test::TStderr::Apart);
    }
    std::string Kopf() const {
        return "Konfigurationsdatei: " + knf_ + "\nDatenordner: " TERVALO_BIN_DIR "/Daten/ (neben dem Programm)\n";
    }

    tervalo::test::TempDir tmp_;
    std::string knf_, ini_;
};

// Without a system nothing new appears: no line, no key, no file, whatever konf writes.
TEST_F(KonfSystem, WithoutASystemNothingChanges) {
    tervalo::test::ShellResult r = Run("");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("Bezugssystem"), std::string::npos);
    EXPECT_EQ(r.out.rfind(Kopf() + "Rasterabstand:", 0), 0u) << r.out;
    r = Run("--json");
    EXPECT_EQ(r.out.find("\"system\""), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(",\"dateien\":[]}\n")) << r.out;
    r = Run("--save '" + (tmp_ / "kopie.KNF") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Run("--system keins");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(ini_));
    EXPECT_FALSE(fs::exists(tmp_ / "kopie.ini"));
    EXPECT_EQ(ReadAll(knf_), tervalo::test::kLeererKatalog);
}

// --system writes the one key into the .ini (the .KNF untouched, the rest of the .ini as it
// was), konf shows it, keins removes it again.
TEST_F(KonfSystem, SetShownAndRemoved) {
    const std::string eigenes = "# von Hand\n[Fremd]\nSchluessel=Wert\n";
    WriteAll(ini_, eigenes);
    tervalo::test::ShellResult r = Run("--system UTM32");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(Kopf() + "Bezugssystem der Kacheln: EPSG:25832\nRasterabstand:    5.0\n", 0), 0u) << r.out;
    EXPECT_EQ(ReadAll(ini_), eigenes + "\n[Kacheln]\nSystem=EPSG:25832\n");
    EXPECT_EQ(ReadAll(knf_), tervalo::test::kLeererKatalog);

    r = Run("--json");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with(",\"dateien\":[],\"system\":\"EPSG:25832\"}\n")) << r.out;
    r = Run("--system epsg:31467");
    EXPECT_EQ(ReadAll(ini_), eigenes + "\n[Kacheln]\nSystem=EPSG:31467\n");

    r = Run("--system keins");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("Bezugssystem"), std::string::npos);
    EXPECT_EQ(ReadAll(ini_), eigenes);
    EXPECT_EQ(ReadAll(knf_), tervalo::test::kLeererKatalog);
}

// A value that is no system is a usage error: exit 2, the forms named, nothing written.
TEST_F(KonfSystem, BadValueIsAUsageErrorAndWritesNothing) {
    for (const char* bad : {"utm34", "EPSG:0", "EPSG:x", "''"}) {
        const tervalo::test::ShellResult r = Run(std::string("--system ") + bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("ist kein Bezugssystem (verstanden: EPSG:n mit n einer positiven ganzen Zahl, gk2, gk3, "
                             "gk4, gk5"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("utm32, utm33 (ETRS89 / UTM), wgs84, etrs89 (Breite/L\xC3\xA4nge), keins)\nWeitere Informationen: tervalo-cli konf --help\n"),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(ini_)) << bad;
    }
    // A code PROJ does not know, or one that is no 2D projected or geographic system, is refused
    // the same way; a known one is stored.
    for (const char* bad : {"EPSG:999999", "EPSG:5783", "EPSG:4979"}) {
        const tervalo::test::ShellResult r = Run(std::string("--system ") + bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find(std::string("\"") + bad + "\": "), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(ini_)) << bad;
    }
    EXPECT_EQ(Run("--system EPSG:3035").code, 0);
    EXPECT_NE(ReadAll(ini_).find("EPSG:3035"), std::string::npos);
    // Nor with a missing configuration named by --konf.
    knf_ = tmp_ / "fehlt.KNF";
    const tervalo::test::ShellResult r = Run("--system utm32");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Konfigurationsdatei nicht gefunden: " + knf_ + "\n");
    EXPECT_FALSE(fs::exists(tmp_ / "fehlt.ini"));
}

// A stored value that cannot be read is reported with file, line and key and counts as unset;
// an .ini that cannot be read ends every command as an unreadable configuration does.
TEST_F(KonfSystem, StoredValuesAndUnreadableFiles) {
    WriteAll(ini_, "[Kacheln]\r\nSystem=Gauss\r\n\xFF\r\n");
    tervalo::test::ShellResult r = Run("");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, ini_ + ", Zeile 3: kein UTF-8-Text, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei\n" +
                         ini_ + ", Zeile 2: Schl\xC3\xBCssel [Kacheln] System: \"Gauss\" ist kein Bezugssystem und gilt "
                         "als nicht gesetzt (verstanden: " + TextSystemFormen + ")\n");
    EXPECT_EQ(r.out.find("Bezugssystem"), std::string::npos);
    // Replacing it keeps the line that is no text, byte for byte.
    r = Run("--system gk4");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(ini_), "[Kacheln]\nSystem=EPSG:31468\n\xFF\n");

    fs::remove(ini_);
    fs::create_directory(ini_);
    for (const std::string& cmd : {std::string("konf --konf '" + knf_ + "'"),
                                   "konf --konf '" + knf_ + "' --system utm32",
                                   "query 1 2 --konf '" + knf_ + "'"}) {
        r = tervalo::test::Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' " + cmd, tervalo::test::TStderr::Apart);
        EXPECT_EQ(r.code, 1) << cmd;
        EXPECT_EQ(r.out, "") << cmd;
        EXPECT_EQ(r.err, "Dateizugriff verweigert: " + ini_ + "\n") << cmd;
    }
    EXPECT_TRUE(fs::is_directory(ini_));
}

// Saved under another name the copy takes the catalogue's system along into its own .ini,
// whose other lines stay; --system with --save goes to the copy alone.
TEST_F(KonfSystem, SaveUnderAnotherNameTakesTheSystemAlong) {
    WriteAll(ini_, "[Kacheln]\nSystem=EPSG:25833\n[Fenster]\nEingabe=gk3\n");
    const std::string kopie = tmp_ / "kopie.KNF", kopieIni = tmp_ / "kopie.ini";
    WriteAll(kopieIni, "; Kopie\n[Fenster]\nEingabe=utm32\n");
    tervalo::test::ShellResult r = Run("--save '" + kopie + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(kopie), tervalo::test::kLeererKatalog);
    EXPECT_EQ(ReadAll(kopieIni), "; Kopie\n[Fenster]\nEingabe=utm32\n\n[Kacheln]\nSystem=EPSG:25833\n");

    r = Run("--save '" + kopie + "' --system keins");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(kopieIni), "; Kopie\n[Fenster]\nEingabe=utm32\n");
    EXPECT_EQ(ReadAll(ini_), "[Kacheln]\nSystem=EPSG:25833\n[Fenster]\nEingabe=gk3\n");

    // A catalogue without a system makes its copy one without.
    fs::remove(ini_);
    WriteAll(kopieIni, "[Kacheln]\nSystem=EPSG:1\n");
    r = Run("--save '" + kopie + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(kopieIni), "");
    EXPECT_FALSE(fs::exists(ini_));

    // Saved over itself nothing travels and nothing is created.
    r = Run("--save '" + knf_ + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(ini_));
}

}  // namespace
