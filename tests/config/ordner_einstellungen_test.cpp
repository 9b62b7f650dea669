// How folder entries are read: [Ordner] in the settings file, and where their indexes live.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "config/Einstellungen.h"
#include "config/Orte.h"

using namespace tervalo;

namespace {

TEinstellungen Aus(const std::string& text) {
    TEinstellungen e;
    e.Parse(text, "/k/t.ini");
    return e;
}

TUmgebung Env(std::optional<std::string> home, std::optional<std::string> cache = std::nullopt,
              std::optional<std::string> index = std::nullopt) {
    TUmgebung u{std::move(home), std::nullopt, std::nullopt, "/home/pw"};
    u.XdgCacheHome = std::move(cache);
    u.IndexOrdner = std::move(index);
    return u;
}

}  // namespace

// ja/nein in any case; anything else counts as nein with a message naming file, line and key.
// An unusable pattern counts as unset; a usable one is kept as written. The index folder is the
// caller's and stays.
TEST(OrdnerEinstellung, ReadsSubfoldersAndPatternAndRefusesBadValues) {
    TDateien d;
    d.Ordner.IndexOrdner = "/cache/tervalo/";
    std::vector<std::string> m;
    ReadKachelWerte(Aus("[ordner]\nunterordner= JA \nMuster=dgm_{Ost}_{Nord}.xyz\n"), d, nullptr, &m);
    EXPECT_TRUE(d.Ordner.Unterordner);
    EXPECT_EQ(d.Ordner.Muster, "dgm_{Ost}_{Nord}.xyz");
    EXPECT_EQ(d.Ordner.IndexOrdner, "/cache/tervalo/");
    EXPECT_TRUE(m.empty());

    ReadKachelWerte(Aus("[Ordner]\nUnterordner=Nein\n"), d, nullptr, &m);
    EXPECT_FALSE(d.Ordner.Unterordner);
    EXPECT_EQ(d.Ordner.Muster, "") << "a value from an earlier file does not stay";

    for (const char* falsch : {"1", "yes", "", "jein"}) {
        std::string meldung;
        EXPECT_FALSE(ReadUnterordner(Aus(std::string("# x\n[Ordner]\nUnterordner=") + falsch + "\n"), &meldung));
        EXPECT_EQ(meldung, std::string("/k/t.ini, Zeile 3: Schl\xC3\xBCssel [Ordner] Unterordner: \"") + falsch +
                               "\" ist weder ja noch nein, es gilt nein");
    }
    m.clear();
    ReadKachelWerte(Aus("[Ordner]\nMuster=dgm_{Ost}.xyz\nUnterordner=vielleicht\n"), d, nullptr, &m);
    EXPECT_EQ(d.Ordner.Muster, "");
    EXPECT_FALSE(d.Ordner.Unterordner);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].rfind("/k/t.ini, Zeile 3: Schl\xC3\xBCssel [Ordner] Unterordner", 0), 0u) << m[0];
    EXPECT_EQ(m[1].rfind("/k/t.ini, Zeile 2: Schl\xC3\xBCssel [Ordner] Muster: \"dgm_{Ost}.xyz\" ist nicht verwendbar", 0),
              0u)
        << m[1];
}

// nein and an empty pattern remove their keys, so an untouched file stays as it was; an
// unusable pattern is refused before anything changes.
TEST(OrdnerEinstellung, WritesAndRemovesItsKeys) {
    TEinstellungen e = Aus("[Kacheln]\nSystem=gk3\n");
    EXPECT_TRUE(SetUnterordner(e, true));
    EXPECT_TRUE(SetMuster(e, "kachel_{Zone}{Ost}_{Nord}.tif"));
    EXPECT_EQ(e.Text(), "[Kacheln]\nSystem=gk3\n\n[Ordner]\nUnterordner=ja\nMuster=kachel_{Zone}{Ost}_{Nord}.tif\n");
    TOrdnerOptionen o;
    ReadOrdnerOptionen(Aus(e.Text()), o);
    EXPECT_TRUE(o.Unterordner);
    EXPECT_EQ(o.Muster, "kachel_{Zone}{Ost}_{Nord}.tif");

    EXPECT_THROW(SetMuster(e, "ohne_nord_{Ost}.xyz"), std::invalid_argument);
    EXPECT_EQ(ReadMuster(e), "kachel_{Zone}{Ost}_{Nord}.tif");
    EXPECT_TRUE(SetUnterordner(e, false));
    EXPECT_TRUE(SetMuster(e, ""));
    EXPECT_EQ(e.Text(), "[Kacheln]\nSystem=gk3\n");
    EXPECT_FALSE(SetUnterordner(e, false));
}

// The installed program keeps indexes in the user's cache folder, a portable copy beside
// itself; an absolute TERVALO_INDEX_ORDNER overrides both, relative values are ignored.
TEST(OrdnerEinstellung, IndexFolderFollowsTheProgramsPlaces) {
    EXPECT_EQ(FindOrte("/usr/bin/", "tervalo.KNF", Env("/home/ute"), "/usr/bin").IndexOrdner,
              "/home/ute/.cache/tervalo/");
    EXPECT_EQ(FindOrte("/usr/bin/", "tervalo.KNF", Env("/home/ute", "/x/cache/"), "/usr/bin").IndexOrdner,
              "/x/cache/tervalo/");
    EXPECT_EQ(FindOrte("/usr/bin/", "tervalo.KNF", Env("/home/ute", "cache"), "/usr/bin").IndexOrdner,
              "/home/ute/.cache/tervalo/");
    EXPECT_EQ(FindOrte("/usr/bin/", "tervalo.KNF", Env(std::nullopt), "/usr/bin").IndexOrdner,
              "/home/pw/.cache/tervalo/");
    EXPECT_EQ(FindOrte("/media/usb/tervalo/", "tervalo.KNF", Env("/home/ute", "/x/cache"), "/usr/bin").IndexOrdner,
              "/media/usb/tervalo/Index/");
    for (const char* prog : {"/usr/bin/", "/media/usb/tervalo/"}) {
        EXPECT_EQ(FindOrte(prog, "tervalo.KNF", Env("/home/ute", "/x", "/srv/index"), "/usr/bin").IndexOrdner,
                  "/srv/index/");
        EXPECT_EQ(FindOrte(prog, "tervalo.KNF", Env("/home/ute", std::nullopt, "index"), "/usr/bin").IndexOrdner,
                  std::string(prog) == "/usr/bin/" ? "/home/ute/.cache/tervalo/" : "/media/usb/tervalo/Index/");
    }
}
