// Folder entries on the command line: konf adds, lists and sets them up, query reads their tiles.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "ordner/OrdnerIndex.h"
#include "support/files.h"
#include "support/shell.h"

namespace fs = std::filesystem;
using tervalo::test::Quote;
using tervalo::test::ReadAll;
using tervalo::test::WriteAll;

namespace {

// A tile with points on a 100 m grid over its km square.
std::string KmKachel(int ostKm, int nordKm, double basis) {
    std::string s;
    char buf[96];
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 10; ++i) {
            std::snprintf(buf, sizeof buf, "%d.00 %d.00 %.2f\n", ostKm * 1000 + 50 + 100 * i, nordKm * 1000 + 50 + 100 * j,
                          basis + i + 0.1 * j);
            s += buf;
        }
    return s;
}

class KonfOrdner : public ::testing::Test {
protected:
    void SetUp() override {
        knf_ = tmp_ / "t.KNF";
        index_ = tmp_ / "index";
        WriteAll(knf_, tervalo::test::kLeererKatalog);
        for (const char* land : {"nw", "he"}) {
            fs::create_directories(tmp_.Path() / land / "DGM1" / "alt");
            WriteAll(tmp_ / (std::string(land) + "/DGM1/dgm1_32_350_5600_1_" + land + ".xyz"), KmKachel(350, 5600, 100));
            WriteAll(tmp_ / (std::string(land) + "/DGM1/dgm1_32_351_5600_1_" + land + ".xyz"), KmKachel(351, 5600, 200));
            WriteAll(tmp_ / (std::string(land) + "/DGM1/alt/dgm1_32_352_5601_1_" + land + ".xyz"), KmKachel(352, 5601, 300));
            WriteAll(tmp_ / (std::string(land) + "/DGM1/LIESMICH.txt.sha256"), "0\n");
        }
    }

    tervalo::test::ShellResult Run(const std::string& args) {
        return tervalo::test::Shell("LC_ALL=C TERVALO_INDEX_ORDNER=" + Quote(index_) + " '" TERVALO_BIN_DIR
                                    "/tervalo-cli' " + args + " --konf " + Quote(knf_),
                                    tervalo::test::TStderr::Apart);
    }

    tervalo::test::TempDir tmp_;
    std::string knf_, index_;
};

}  // namespace

// The whole path decides: the same folder twice is refused, another DGM1 is a new entry. The
// .KNF stores a folder like a file, its box the union of its tiles rounded outwards; the
// listing shows the count.
TEST_F(KonfOrdner, AddsFoldersByTheirWholePath) {
    const std::string nw = tmp_ / "nw/DGM1", he = tmp_ / "he/DGM1";
    tervalo::test::ShellResult r = Run("konf --hinzufuegen " + Quote(nw + "/") + " " + Quote(nw));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Ordner: " + nw + " schon vorhanden!\n");
    r = Run("konf --hinzufuegen " + Quote(he));
    ASSERT_EQ(r.code, 0) << r.err;
    // Named tiles: their km squares.
    EXPECT_NE(r.out.find("Dateien:          2\n"
                         "1: " + nw + "  Xmin 350000.0  Xmax 352000.0  Ymin 5600000.0  Ymax 5601000.0  (Ordner, 2 Kacheln)\n"
                         "2: " + he + "  Xmin 350000.0"),
              std::string::npos)
        << r.out;
    // Stored like a file: its path on the line after the entry's header, no "/" at its end.
    const std::string knf = ReadAll(knf_);
    EXPECT_NE(knf.find("#DATEI 1\r\n" + nw + "\r\n 350000.00          ; Xmin\r\n"), std::string::npos) << knf;
    EXPECT_NE(knf.find("#DATEI 2\r\n" + he + "\r\n"), std::string::npos) << knf;
    EXPECT_TRUE(fs::is_directory(index_)) << "the index lives in the index folder";
    EXPECT_FALSE(fs::exists(nw + "/.tervalo")) << "never in the data folder";
    for (const auto& e : fs::recursive_directory_iterator(tmp_ / "nw"))
        EXPECT_EQ(e.path().string().find(".sqlite"), std::string::npos) << e.path();

    // Subfolders count once the settings say so; the listing counts them at once.
    r = Run("konf --json --unterordner ja");
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 2u);
    EXPECT_EQ(j["dateien"][0]["ordner"], true);
    EXPECT_EQ(j["dateien"][0]["kacheln"], 3);
    EXPECT_EQ(j["unterordner"], true);
    EXPECT_EQ(ReadAll(tmp_ / "t.ini"), "[Ordner]\nUnterordner=ja\n");

    // A file entry gets no folder keys; a file named like a folder is no repeat of it.
    const std::string datei = tmp_ / "DGM1";
    WriteAll(datei, KmKachel(360, 5600, 0));
    r = Run("konf --json --hinzufuegen " + Quote(datei));
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json k = nlohmann::json::parse(r.out);
    ASSERT_EQ(k["dateien"].size(), 3u);
    EXPECT_FALSE(k["dateien"][2].contains("ordner"));
    EXPECT_EQ(k["dateien"][1]["kacheln"], 3);
}

TEST_F(KonfOrdner, EmptyFolderAndPatternOptions) {
    const std::string leer = tmp_ / "leer";
    fs::create_directories(leer);
    WriteAll(leer + "/README", "nichts\n");
    tervalo::test::ShellResult r = Run("konf --hinzufuegen " + Quote(leer));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "Warnung: keine Kacheln, aufgenommen mit den Anfangswerten als Ausdehnung: " + leer + "\n");
    EXPECT_NE(r.out.find(leer + "  Xmin 999999999.0  Xmax -9999999.0  Ymin 999999999.0  Ymax -9999999.0  (Ordner, 0 Kacheln)\n"),
              std::string::npos)
        << r.out;

    r = Run("konf --muster 'kachel_{Ost}.xyz'");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(fs::exists(tmp_ / "t.ini"));
    r = Run("konf --muster 'k_{Ost}_{Nord}.xyz'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Namensmuster der Kacheln: k_{Ost}_{Nord}.xyz\n"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(tmp_ / "t.ini"), "[Ordner]\nMuster=k_{Ost}_{Nord}.xyz\n");
    r = Run("konf --muster keins --unterordner nein");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadAll(tmp_ / "t.ini"), "");
    // A bad value in the file is warned about by every command and counts as unset.
    WriteAll(tmp_ / "t.ini", "[Ordner]\nUnterordner=vielleicht\n");
    r = Run("query 1 2");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "Warnung: " + (tmp_ / "t.ini") +
                         ", Zeile 2: Schl\xC3\xBC" "ssel [Ordner] Unterordner: \"vielleicht\" ist weder ja noch nein, es gilt nein\n");
}

// The query names each tile read with the folder's entry number; a name that lies gets its
// message in the row (and on stderr), and the tile is found where it lies afterwards.
TEST_F(KonfOrdner, QueryNamesTilesAndReportsALyingName) {
    const std::string nw = tmp_ / "nw/DGM1";
    const std::string luegner = nw + "/dgm1_32_353_5600_1_nw.xyz";
    WriteAll(luegner, "353990.00 5600990.00 1.00\n" + KmKachel(355, 5602, 900));
    ASSERT_EQ(Run("konf --hinzufuegen " + Quote(nw)).code, 0);

    tervalo::test::ShellResult r = Run("query --json 351050 5600050 --fangbreite 1");
    ASSERT_EQ(r.code, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 1u);
    EXPECT_EQ(j["dateien"][0]["eintrag"], 1);
    EXPECT_EQ(j["dateien"][0]["datei"], nw + "/dgm1_32_351_5600_1_nw.xyz");
    EXPECT_EQ(j["naechster"]["z"], 200.0);
    EXPECT_EQ(j["lb_datei"], nw + "/dgm1_32_351_5600_1_nw.xyz");

    r = Run("query --json 353500 5600500");
    ASSERT_EQ(r.code, 0) << r.err;
    j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 1u);
    EXPECT_EQ(j["dateien"][0]["datei"], luegner);
    EXPECT_EQ(j["dateien"][0]["hinweis"], tervalo::NamensLuegeMeldung(luegner));
    EXPECT_NE(r.err.find(tervalo::NamensLuegeMeldung(luegner)), std::string::npos) << r.err;

    r = Run("query --json 355050 5602050 --fangbreite 1");
    ASSERT_EQ(r.code, 0) << r.err;
    j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["dateien"].size(), 1u);
    EXPECT_EQ(j["dateien"][0]["datei"], luegner);
    EXPECT_FALSE(j["dateien"][0].contains("hinweis"));
    EXPECT_EQ(j["naechster"]["z"], 900.0);
}

// batch over a folder answers as query does; a lying name is a note (exit code 0, the answers
// are complete: the batch selects again), an unreadable tile an error (exit code 1).
TEST_F(KonfOrdner, BatchAnswersAsQueryAndOnlyErrorsSetTheExitCode) {
    const std::string nw = tmp_ / "nw/DGM1";
    const std::string luegner = nw + "/dgm1_32_353_5600_1_nw.xyz";
    WriteAll(luegner, "353990.00 5600990.00 1.00\n" + KmKachel(355, 5602, 900));
    ASSERT_EQ(Run("konf --hinzufuegen " + Quote(nw)).code, 0);
    const std::string ein = tmp_ / "punkte.txt";
    WriteAll(ein, "353500 5600500\n355050 5602050\n351050 5600050\n350999 5600051\n");

    tervalo::test::ShellResult b = Run("batch --json " + Quote(ein));
    EXPECT_EQ(b.code, 0) << b.err;
    EXPECT_NE(b.err.find(tervalo::NamensLuegeMeldung(luegner)), std::string::npos) << b.err;
    std::istringstream zeilen(b.out);
    std::string zeile;
    for (const char* xy : {"353500 5600500", "355050 5602050", "351050 5600050", "350999 5600051"}) {
        ASSERT_TRUE(std::getline(zeilen, zeile)) << b.out;
        const tervalo::test::ShellResult q = Run(std::string("query --json ") + xy);
        ASSERT_EQ(q.code, 0) << q.err;
        const nlohmann::json jb = nlohmann::json::parse(zeile), jq = nlohmann::json::parse(q.out);
        EXPECT_EQ(jb["naechster"], jq["naechster"]) << xy;
        EXPECT_EQ(jb["shepard"], jq["shepard"]) << xy;
        EXPECT_EQ(jb["anzahl"], jq["anzahl"]) << xy;
    }
    EXPECT_EQ(nlohmann::json::parse(Run("query --json 355050 5602050").out)["naechster"]["z"], 900.0);

    // A tile the index cannot read leaves answers incomplete.
    const std::string kaputt = nw + "/dgm1_32_350_5601_1_nw.xyz.gz";
    WriteAll(kaputt, std::string("\x1f\x8b\x08\x00kaputt", 11));
    b = Run("batch " + Quote(ein));
    EXPECT_EQ(b.code, 1) << b.err;
    EXPECT_NE(b.err.find(kaputt), std::string::npos) << b.err;
}
