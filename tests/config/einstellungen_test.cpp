#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/Einstellungen.h"
#include "support/files.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"

using namespace tervalo;
using tervalo::test::ReadAll;
using tervalo::test::WriteAll;
namespace fs = std::filesystem;

namespace {

class EinstellungenFile : public ::testing::Test {
protected:
    void SetUp() override { path_ = tmp_ / "tervalo.ini"; }
    TEinstellungen Loaded(const std::string& bytes) {
        WriteAll(path_, bytes);
        TEinstellungen e;
        e.Load(path_);
        return e;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& d : fs::directory_iterator(tmp_.Path())) names.push_back(d.path().filename().string());
        return names;
    }

    tervalo::test::TempDir tmp_;
    std::string path_;
};

TEST(EinstellungenName, BesideTheConfiguration) {
    EXPECT_EQ(EinstellungenFileFor("/opt/t/tervalo.KNF"), "/opt/t/tervalo.ini");
    EXPECT_EQ(EinstellungenFileFor("/opt/t/projekt.knf"), "/opt/t/projekt.ini");
    EXPECT_EQ(EinstellungenFileFor("rel/p.Knf"), "rel/p.ini");
    EXPECT_EQ(EinstellungenFileFor("/opt/t/p.cfg"), "/opt/t/p.ini");
    EXPECT_EQ(EinstellungenFileFor("/opt/t.d/p"), "/opt/t.d/p.ini");
    EXPECT_EQ(EinstellungenFileFor("/opt/t/.versteckt"), "/opt/t/.versteckt.ini");
    // Never the configuration itself.
    EXPECT_EQ(EinstellungenFileFor("/opt/t/p.INI"), "/opt/t/p.INI.ini");
}

// CR LF is read, keys and sections in any case, comments and unknown lines kept as they are.
TEST_F(EinstellungenFile, FormAndCaseInsensitiveLookUp) {
    const TEinstellungen e = Loaded(
        "\xEF\xBB\xBF# Kopf\r\n"
        "; auch ein Kommentar\r\n"
        "[KACHELN]\r\n"
        "  system = EPSG:25832  \r\n"
        "\r\n"
        "[Fremd]\r\n"
        "Farbe=gr\xC3\xBCn\n"
        "leer=\n"
        "eins=a=b");
    EXPECT_TRUE(e.Vorhanden());
    EXPECT_TRUE(e.Meldungen().empty());
    const auto w = e.Get("Kacheln", "SYSTEM");
    ASSERT_TRUE(w);
    EXPECT_EQ(w->Text, "EPSG:25832");
    EXPECT_EQ(w->Zeile, 4u);
    EXPECT_EQ(e.Get("fremd", "farbe")->Text, "gr\xC3\xBCn");
    EXPECT_EQ(e.Get("Fremd", "leer")->Text, "");
    EXPECT_EQ(e.Get("Fremd", "eins")->Text, "a=b");
    EXPECT_FALSE(e.Get("Fremd", "System"));   // another section
    EXPECT_FALSE(e.Get("Kacheln", "Kopf"));   // a comment is no key
    EXPECT_EQ(e.Text(),
              "\xEF\xBB\xBF# Kopf\n; auch ein Kommentar\n[KACHELN]\n  system = EPSG:25832  \n\n[Fremd]\n"
              "Farbe=gr\xC3\xBCn\nleer=\neins=a=b\n");
    // Every CR at a line's end belongs to the line end; a mark of byte order on a later line
    // is passed over too.
    const TEinstellungen cr = Loaded("[K]\r\r\nx=1\r\r\n\xEF\xBB\xBFy=2\n");
    EXPECT_EQ(cr.Text(), "[K]\nx=1\n\xEF\xBB\xBFy=2\n");
    EXPECT_EQ(cr.Get("k", "x")->Text, "1");
    EXPECT_EQ(cr.Get("k", "Y")->Text, "2");
}

// A rewrite changes the one line, adds at the end of the section or file, and keeps the rest.
TEST_F(EinstellungenFile, RewriteKeepsEverythingElseWhereItStands) {
    const std::string text =
        "# Kopf\n"
        "[Kacheln]\n"
        "NoData=-9999\n"
        "# zum Fenster\n"
        "[fenster]\n"
        "eingabe=gk3\n"
        "[Ordner]\n"
        "x=1\n";
    TEinstellungen e = Loaded(text);
    EXPECT_FALSE(e.Set("Kacheln", "NoData", "-9999"));  // same value: no change
    EXPECT_FALSE(e.Geaendert());
    EXPECT_TRUE(SetKachelSystem(e, 25832));
    EXPECT_TRUE(SetFensterEingabe(e, "utm32"));
    EXPECT_TRUE(e.Set("Neu", "a", "b"));
    EXPECT_TRUE(e.Geaendert());
    EXPECT_EQ(e.Text(),
              "# Kopf\n[Kacheln]\nNoData=-9999\nSystem=EPSG:25832\n# zum Fenster\n[fenster]\neingabe=utm32\n"
              "[Ordner]\nx=1\n\n[Neu]\na=b\n");
    EXPECT_EQ(ReadKachelSystem(e), 25832);
    EXPECT_EQ(ReadFensterEingabe(e), "utm32");

    // The key's own spelling up to the value stays; later entries of the same key go.
    e = Loaded("[kacheln]\nSYSTEM = EPSG:1\nsystem=EPSG:2\nx=y\n");
    EXPECT_EQ(ReadKachelSystem(e), 1);
    SetKachelSystem(e, 31467);
    EXPECT_EQ(e.Text(), "[kacheln]\nSYSTEM = EPSG:31467\nx=y\n");

    // Removing: every entry of the key; a section left empty goes with its separating blank line.
    e = Loaded("# c\n\n[Kacheln]\nSystem=EPSG:1\n\n[B]\nb=1\n\n[Fenster]\nEingabe=x\nSystem=EPSG:5\n");
    EXPECT_TRUE(SetKachelSystem(e, std::nullopt));
    EXPECT_FALSE(SetKachelSystem(e, std::nullopt));
    EXPECT_TRUE(SetFensterEingabe(e, ""));
    EXPECT_EQ(e.Text(), "# c\n\n[B]\nb=1\n\n[Fenster]\nSystem=EPSG:5\n");
    e = Loaded("[Kacheln]\nSystem=EPSG:1\n");
    SetKachelSystem(e, std::nullopt);
    EXPECT_EQ(e.Text(), "");
    // A section holding a comment keeps its header.
    e = Loaded("[Kacheln]\n# mit Kommentar\nSystem=EPSG:1\n");
    SetKachelSystem(e, std::nullopt);
    EXPECT_EQ(e.Text(), "[Kacheln]\n# mit Kommentar\n");

    // A value that would break the file is refused, the text unchanged.
    EXPECT_THROW(e.Set("Fenster", "Eingabe", "a\nb"), std::invalid_argument);
    EXPECT_THROW(e.Set("Fenster", "Eingabe", std::string("a\0b", 3)), std::invalid_argument);
    EXPECT_THROW(e.Set("Fen]ster", "Eingabe", "a"), std::invalid_argument);
    EXPECT_EQ(e.Text(), "[Kacheln]\n# mit Kommentar\n");
}

// Lines that are not text or not of the form are reported with file and line, not interpreted,
// and written back byte for byte.
TEST_F(EinstellungenFile, UnreadableLinesAreReportedAndKept) {
    const std::string text = std::string("[Kacheln]\n") +
                             "System=EPSG:1\xFC\n"       // Windows-1252, not UTF-8
                             "\xC0\xAF=overlong\n"       // an overlong form
                             "x=\xED\xA0\x80\n"          // a surrogate
                             "nul=a" + std::string(1, '\0') + "b\n" +
                             "ohne Gleichheitszeichen\n"
                             "= ohne Schluessel\n"
                             "[offen\n"
                             "gut=ja\n";
    TEinstellungen e = Loaded(text);
    const std::vector<std::string> expected = {
        path_ + ", Zeile 2: kein UTF-8-Text, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 3: kein UTF-8-Text, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 4: kein UTF-8-Text, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 5: enth\xC3\xA4lt ein NUL-Byte, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 6: weder [Abschnitt] noch Schluessel=Wert, die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 7: kein Schl\xC3\xBCssel vor dem \"=\", die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei",
        path_ + ", Zeile 8: \"[\" ohne schlie\xC3\x9F" "endes \"]\", die Zeile wird \xC3\xBC" "bergangen und bleibt in der Datei"};
    EXPECT_EQ(e.Meldungen(), expected);
    EXPECT_FALSE(ReadKachelSystem(e));
    EXPECT_FALSE(e.Get("Kacheln", "nul"));
    EXPECT_EQ(e.Get("Kacheln", "gut")->Text, "ja");  // still under [Kacheln]
    EXPECT_EQ(e.Text(), text);
    // A new key goes after the kept lines of its section, which stay untouched.
    SetKachelSystem(e, 25833);
    EXPECT_EQ(e.Text(), text + "System=EPSG:25833\n");

    // A file of nothing but such lines gives a bounded list of messages.
    std::string viele;
    for (int i = 0; i < 5000; ++i) viele += "\xFF\n";
    e = Loaded(viele);
    ASSERT_EQ(e.Meldungen().size(), MaxEinstellungenMeldungen + 1);
    EXPECT_EQ(e.Meldungen().back(), path_ + ": 4980 weitere Zeilen \xC3\xBC" "bergangen");
    EXPECT_EQ(e.Text(), viele);
}

TEST(EinstellungenSystem, FormsUnderstood) {
    EXPECT_EQ(ParseSystem("EPSG:25832"), 25832);
    EXPECT_EQ(ParseSystem("epsg:4326"), 4326);
    EXPECT_EQ(ParseSystem(" Epsg:007 "), 7);
    EXPECT_EQ(ParseSystem("gk2"), 31466);
    EXPECT_EQ(ParseSystem("GK3"), 31467);
    EXPECT_EQ(ParseSystem("gk4"), 31468);
    EXPECT_EQ(ParseSystem("Gk5"), 31469);
    EXPECT_EQ(ParseSystem("utm32"), 25832);
    EXPECT_EQ(ParseSystem("UTM33"), 25833);
    // The names come from koord, which also knows the geographic ones.
    EXPECT_EQ(ParseSystem("wgs84"), 4326);
    EXPECT_EQ(ParseSystem("etrs89"), 4258);
    for (const char* bad : {"", "EPSG:", "EPSG:0", "EPSG:-5", "EPSG:+5", "EPSG: 5", "EPSG:5a", "EPSG:99999999999",
                            "EPSG25832", "25832", "gk1", "gk6", "utm31", "utm 32", "keins"})
        EXPECT_FALSE(ParseSystem(bad)) << bad;
    EXPECT_TRUE(IsNoSystem("keins"));
    EXPECT_TRUE(IsNoSystem("KEINS"));
    EXPECT_TRUE(IsNoSystem(""));
    EXPECT_FALSE(IsNoSystem("kein"));
    EXPECT_EQ(SystemText(31467), "EPSG:31467");
}

// A stored value that cannot be read counts as unset, with a message naming file, line and key.
TEST_F(EinstellungenFile, StoredSystemThatCannotBeRead) {
    TEinstellungen e = Loaded("[Kacheln]\n# x\nSystem = EPSG:abc\n");
    std::string meldung;
    EXPECT_FALSE(ReadKachelSystem(e, &meldung));
    EXPECT_EQ(meldung, path_ + ", Zeile 3: Schl\xC3\xBCssel [Kacheln] System: \"EPSG:abc\" ist kein Bezugssystem und "
                               "gilt als nicht gesetzt (verstanden: " + TextSystemFormen + ")");
    // A very long value is shown cut.
    e = Loaded("[Kacheln]\nSystem=" + std::string(1000, 'x') + "\n");
    ReadKachelSystem(e, &meldung);
    EXPECT_NE(meldung.find("\"" + std::string(60, 'x') + "\xE2\x80\xA6\""), std::string::npos);
    EXPECT_LT(meldung.size(), 400u);
    // Stored short names and "keins" read as the setter would have stored them.
    meldung.clear();
    e = Loaded("[Kacheln]\nSystem=utm32\n");
    EXPECT_EQ(ReadKachelSystem(e, &meldung), 25832);
    e = Loaded("[Kacheln]\nSystem=keins\n");
    EXPECT_FALSE(ReadKachelSystem(e, &meldung));
    e = Loaded("[Kacheln]\nSystem=\n");
    EXPECT_FALSE(ReadKachelSystem(e, &meldung));
    EXPECT_EQ(meldung, "");
}

// Only a missing file is empty; one that cannot be read throws with its path and leaves the
// held settings as they were.
TEST_F(EinstellungenFile, MissingIsEmptyUnreadableIsAnError) {
    TEinstellungen e;
    e.Load(path_);
    EXPECT_FALSE(e.Vorhanden());
    EXPECT_TRUE(e.Leer());
    EXPECT_EQ(e.Text(), "");
    WriteAll(tmp_ / "datei", "x");
    e.Load(tmp_ / "datei/tervalo.ini");  // ENOTDIR on the way
    EXPECT_FALSE(e.Vorhanden());

    e = Loaded("[Kacheln]\nSystem=EPSG:1\n");
    auto expectRefused = [&](const std::string& p, const std::string& text) {
        try {
            e.Load(p);
            ADD_FAILURE() << "no error for " << p;
        } catch (const EInOutError& ex) {
            EXPECT_EQ(std::string(ex.what()), text) << p;
        }
        EXPECT_EQ(ReadKachelSystem(e), 1) << p;
        EXPECT_EQ(e.Datei(), path_);
    };
    const std::string folder = tmp_ / "ordner.ini";
    fs::create_directory(folder);
    expectRefused(folder, "Dateizugriff verweigert: " + folder);
    const std::string fifo = tmp_ / "pipe.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    expectRefused(fifo, "Dateizugriff verweigert: " + fifo);
    expectRefused("/proc/self/mem", "E/A-Fehler 5: /proc/self/mem");
    const std::string gross = tmp_ / "gross.ini";
    WriteAll(gross, std::string(MaxEinstellungenBytes + 1, '#'));
    expectRefused(gross, "Die Einstellungsdatei ist gr\xC3\xB6\xC3\x9F" "er als 256 KiB und wird nicht gelesen: " + gross);
    WriteAll(gross, std::string(MaxEinstellungenBytes, '#'));
    EXPECT_NO_THROW(e.Load(gross));
}

// Written through the safe writer: LF lines, the mode kept, folders made on request, the
// configuration never replaced, and a failed write leaves the previous file.
TEST_F(EinstellungenFile, SavedThroughTheSafeWriter) {
    TEinstellungen e = Loaded("[Kacheln]\r\nSystem=EPSG:1\r\n");
    ::chmod(path_.c_str(), 0600);
    SetKachelSystem(e, 25832);
    e.Save(path_);
    EXPECT_EQ(ReadAll(path_), "[Kacheln]\nSystem=EPSG:25832\n");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string tief = tmp_ / "a/b/tervalo.ini";
    EXPECT_THROW(e.Save(tief), EZielAbgelehnt);
    e.Save(tief, {}, true);
    EXPECT_EQ(ReadAll(tief), ReadAll(path_));

    TSchutz schutz;
    schutz.Konfiguration = path_;
    EXPECT_THROW(e.Save(path_, schutz), EZielAbgelehnt);

    const std::string previous = ReadAll(path_);
    for (int i = 0; i < 100; ++i) e.Set("Fenster", "k" + std::to_string(i), std::string(100, 'v'));
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int rc = 3;
        try {
            e.Save(path_);
        } catch (const EInOutError& ex) {
            rc = std::string(ex.what()) == "Zu wenig Speicherplatz: " + path_ ? 0 : 4;
        } catch (...) {
            rc = 5;
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadAll(path_), previous);
    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "tervalo.ini"}));
}

}  // namespace
