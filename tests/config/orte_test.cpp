#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/Konf.h"
#include "config/Orte.h"
#include "support/files.h"
#include "tools/SafeWriter.h"

using namespace tervalo;
namespace fs = std::filesystem;

namespace {

TUmgebung Env(std::optional<std::string> home, std::optional<std::string> konf = std::nullopt,
              std::optional<std::string> daten = std::nullopt, std::string passwd = "/home/pw") {
    return {std::move(home), std::move(konf), std::move(daten), std::move(passwd)};
}

}  // namespace

TEST(Orte, PortableCopyKeepsEverythingBesideItself) {
    // XDG variables do not move a portable copy; it keeps its own file name.
    for (const std::string folder : {"/work/build/bin/", "/media/usb/tervalo/", "/usr/bin/tervalo/"}) {
        const TOrte o = FindOrte(folder, "rechner.KNF", Env("/home/ute", "/x/conf", "/x/data"), "/usr/bin");
        EXPECT_FALSE(o.Installiert) << folder;
        EXPECT_EQ(o.KonfDatei, folder + "rechner.KNF");
        EXPECT_EQ(o.Ordner, folder);
        EXPECT_EQ(o.DatenOrdner, folder + "Daten/");
    }
}

TEST(Orte, InstalledProgramUsesTheXdgFolders) {
    struct Fall {
        std::optional<std::string> konf, daten;
        std::string erwKonf, erwOrdner;
    };
    const Fall faelle[] = {
        {std::nullopt, std::nullopt, "/home/ute/.config/tervalo/tervalo.KNF", "/home/ute/.local/share/tervalo/"},
        {"/x/conf", "/x/data/", "/x/conf/tervalo/tervalo.KNF", "/x/data/tervalo/"},
        // Empty and relative values are ignored.
        {"", "", "/home/ute/.config/tervalo/tervalo.KNF", "/home/ute/.local/share/tervalo/"},
        {"conf", "./data", "/home/ute/.config/tervalo/tervalo.KNF", "/home/ute/.local/share/tervalo/"},
        {"/x/conf", "data", "/x/conf/tervalo/tervalo.KNF", "/home/ute/.local/share/tervalo/"},
    };
    for (const Fall& f : faelle) {
        // The folder matches whatever way it is written; the portable name does not count.
        const TOrte o = FindOrte("/usr/bin/", "rechner.KNF", Env("/home/ute/", f.konf, f.daten), "/usr//bin");
        EXPECT_TRUE(o.Installiert);
        EXPECT_EQ(o.KonfDatei, f.erwKonf) << f.konf.value_or("(unset)");
        EXPECT_EQ(o.Ordner, f.erwOrdner) << f.daten.value_or("(unset)");
        EXPECT_EQ(o.DatenOrdner, f.erwOrdner + "Daten/");
    }
    // root is a user like any other.
    EXPECT_EQ(FindOrte("/usr/bin/", "tervalo.KNF", Env("/root"), "/usr/bin").KonfDatei,
              "/root/.config/tervalo/tervalo.KNF");
}

TEST(Orte, WithoutHomeTheInstalledProgramFallsBack) {
    // No HOME, or a relative one: the password database's home.
    for (const std::optional<std::string>& home : {std::optional<std::string>(), std::optional<std::string>(""),
                                                 std::optional<std::string>("ute")}) {
        const TOrte o = FindOrte("/usr/bin/", "tervalo.KNF", Env(home), "/usr/bin");
        EXPECT_EQ(o.KonfDatei, "/home/pw/.config/tervalo/tervalo.KNF");
        EXPECT_EQ(o.DatenOrdner, "/home/pw/.local/share/tervalo/Daten/");
    }
    // Both XDG folders given: no home needed.
    TOrte o = FindOrte("/usr/bin/", "tervalo.KNF", Env(std::nullopt, "/c", "/d", ""), "/usr/bin");
    EXPECT_EQ(o.KonfDatei, "/c/tervalo/tervalo.KNF");
    EXPECT_EQ(o.DatenOrdner, "/d/tervalo/Daten/");
    // No home at all and a folder missing: beside the program, never a relative path.
    o = FindOrte("/usr/bin/", "tervalo.KNF", Env(std::nullopt, "/c", std::nullopt, ""), "/usr/bin");
    EXPECT_EQ(o.KonfDatei, "/usr/bin/tervalo.KNF");
    EXPECT_EQ(o.DatenOrdner, "/usr/bin/Daten/");
}

TEST(Orte, SavingCreatesThePrivateFolders) {
    const tervalo::test::TempDir tmp;
    const fs::path dir = tmp.Path();
    const std::string konf = (dir / "conf" / "tervalo" / "tervalo.KNF").string();

    // Without asking for it a missing folder stays a refusal.
    EXPECT_THROW(KonfSave(konf, TSettings{}, TDateien{}), EZielAbgelehnt);
    EXPECT_FALSE(fs::exists(dir / "conf"));
    KonfSave(konf, TSettings{}, TDateien{}, true);
    EXPECT_TRUE(fs::is_regular_file(konf));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_NO_THROW(TSichereDatei::MakeFolders((dir / "conf").string()));  // existing: nothing to do

    // A file in the way is refused by name.
    std::ofstream(dir / "datei") << "x";
    try {
        TSichereDatei::MakeFolders((dir / "datei" / "unter").string());
        ADD_FAILURE() << "no refusal";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_NE(std::string(e.what()).find((dir / "datei").string()), std::string::npos) << e.what();
    }
}
