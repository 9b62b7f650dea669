// tervalo-cli --help against its man page and its bash completion: the same options with the
// same value names everywhere, and help lines that fit the width they wrap at.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "support/shell.h"

namespace tervalo::test {
namespace {

const std::string kCli = std::string(TERVALO_BIN_DIR) + "/tervalo-cli";
const std::string kMan = TERVALO_SOURCE_DIR "/packaging/man/tervalo-cli.1";
const std::string kCompletion = TERVALO_SOURCE_DIR "/packaging/tervalo-cli.bash-completion";
const std::vector<std::string> kBefehle = {"konf", "scan", "info", "query", "batch", "profil", "export", "convert"};
constexpr std::size_t kBeschreibungsSpalte = 30;

std::vector<std::string> Zeilen(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string z; std::getline(in, z);) v.push_back(z);
    return v;
}

std::size_t Zeichen(const std::string& s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The help with its descriptions as written: the first paragraph (the command's description)
// joined, each entry's continuation lines joined to it, runs of blanks as one.
std::string Entbrochen(const std::string& s) {
    const std::size_t absatz = std::min(s.find("\n\n"), s.size());
    const std::regex fortsetzung("\n {" + std::to_string(kBeschreibungsSpalte) + "}");
    const std::string eintraege = std::regex_replace(s.substr(absatz), fortsetzung, " ");
    return std::regex_replace(s.substr(0, absatz), std::regex("\n"), " ") +
           std::regex_replace(eintraege, std::regex("  +"), " ");
}

// A man page line as read: macro arguments (in quotes or not) joined, with a blank for .B/.I,
// without one for the font-alternating macros (.BR, .IR, ...); font and dash escapes resolved.
std::string RoffText(const std::string& zeile) {
    std::string text = zeile;
    if (!zeile.empty() && zeile[0] == '.') {
        const std::string makro = zeile.substr(0, zeile.find(' '));
        std::vector<std::string> args;
        std::string rest = zeile.size() > makro.size() ? zeile.substr(makro.size() + 1) : "";
        for (std::smatch m; std::regex_search(rest, m, std::regex("\"([^\"]*)\"|(\\S+)"));
             rest = m.suffix().str())
            args.push_back(m[1].matched ? m[1].str() : m[2].str());
        text.clear();
        for (const std::string& a : args) text += (text.empty() || makro.size() == 3 ? "" : " ") + a;
    }
    text = std::regex_replace(text, std::regex("\\\\f[BIPR]|\\\\&"), "");
    return std::regex_replace(text, std::regex("\\\\-"), "-");
}

struct ManBefehl {
    std::string uebersicht;              // its synopsis line
    std::vector<std::string> eintraege;  // the tags of its argument and option list
};

std::map<std::string, ManBefehl> ManSeite() {
    std::map<std::string, ManBefehl> seite;
    std::string abschnitt, befehl, *uebersicht = nullptr;
    int tiefe = 0;
    bool marke = false;  // the line after .TP
    for (const std::string& z : Zeilen(ReadAll(kMan))) {
        const std::string text = RoffText(z);
        if (z.starts_with(".SH ")) abschnitt = text, uebersicht = nullptr;
        if (abschnitt == "\xC3\x9C" "BERSICHT") {
            if (z.starts_with(".B tervalo-cli ")) uebersicht = &seite[text.substr(12)].uebersicht;
            if (z == ".br") uebersicht = nullptr;
            if (uebersicht) *uebersicht += (uebersicht->empty() ? "" : " ") + text;
        } else if (abschnitt == "BEFEHLE") {
            tiefe += z == ".RS" ? 1 : z == ".RE" ? -1 : 0;
            if (marke && tiefe == 0) befehl = text;
            if (marke && tiefe == 1) seite[befehl].eintraege.push_back(text);
        }
        marke = z == ".TP";
    }
    return seite;
}

// Option -> value name ("" for a switch, "..." after one taken many times), from "[--konf DATEI]"
// of the synopsis or "--konf DATEI" of the option list.
std::map<std::string, std::string> ManOptionen(const std::vector<std::string>& texte) {
    std::map<std::string, std::string> v;
    for (std::string t : texte) {
        t = std::regex_replace(t, std::regex(" \\.\\.\\."), "...");
        for (std::smatch m; std::regex_search(t, m, std::regex("(--[a-z]+)(?: ([^\\] ]+))?")); t = m.suffix().str())
            v[m[1]] = m[2];
    }
    return v;
}

ShellResult Hilfe(const std::string& befehl, const std::string& lc = "C", const std::string& columns = "") {
    return Shell("unset COLUMNS; " + (columns.empty() ? "" : "COLUMNS=" + columns + " ") + "LANG=" + lc +
                     " LC_ALL=" + lc + " " + kCli + " " + befehl + " --help",
                 TStderr::Apart);
}

struct HilfeText {
    std::string aufruf;                          // the usage line, as written
    std::map<std::string, std::string> werte;    // option -> value name, as ManOptionen gives it
    std::map<std::string, std::string> auswahl;  // option -> the words it allows, blank-separated
    std::vector<std::string> namen;              // every option name ("-h", "--help", ...) and command
};

HilfeText Read(const std::string& hilfe) {
    HilfeText h;
    const std::string ab = hilfe.substr(std::min(hilfe.find("Aufruf: "), hilfe.size()));
    h.aufruf = std::regex_replace(ab.substr(0, ab.find("\n\n")), std::regex("\n +"), " ");
    const std::regex eintrag("  ((?:-h,)?--[a-z]+|[a-z]+)(?: ([A-Z][^ :]*)(?::\\{([^}]*)\\})?( \\.\\.\\.)?)?( .*)?");
    for (const std::string& z : Zeilen(hilfe)) {
        std::smatch m;
        if (!std::regex_match(z, m, eintrag)) continue;
        const std::string name = m[1].str().substr(m[1].str().rfind(',') + 1);
        if (m[1].str() != name) h.namen.push_back("-h");
        h.namen.push_back(name);
        if (name == "--help" || !name.starts_with("--")) continue;
        h.werte[name] = m[2].str() + (m[4].matched ? "..." : "");
        if (m[3].matched) h.auswahl[name] = std::regex_replace(m[3].str(), std::regex(", "), " ");
    }
    return h;
}

// The words the completion offers when the line reads `woerter` (the last: the one typed).
std::string Vorschlag(const std::string& woerter) {
    TempDir d;
    WriteAll(d / "a.KNF", "");
    const ShellResult r = Shell(
        "cd " + Quote(d.Path().string()) + " && bash -c " +
            Quote(". " + Quote(kCompletion) + "; compopt() { :; }; COMP_WORDS=(" + woerter +
                  "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tervalo_cli; echo \"${COMPREPLY[*]}\""),
        TStderr::Apart);
    EXPECT_EQ(r.code, 0) << woerter << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

std::string Sortiert(const std::string& woerter) {
    std::vector<std::string> v;
    std::istringstream in(woerter);
    for (std::string w; in >> w;) v.push_back(w);
    std::sort(v.begin(), v.end());
    std::string s;
    for (const std::string& w : v) s += (s.empty() ? "" : " ") + w;
    return s;
}

}  // namespace

// Every help wraps at the width it was given (the default 80 without a terminal), its entries
// continue under their description column, and no word of the descriptions gets lost.
TEST(HelpCli, EveryHelpWrapsAtItsWidthWithGermanValueNames) {
    TERVALO_FOR_EACH_LOCALE(lc) {
        for (const auto& [columns, breite] : std::vector<std::pair<std::string, std::size_t>>{
                 {"", 80}, {"60", 60}, {"100", 100}, {"250", 100}}) {
            for (const std::string& befehl : [] { auto v = kBefehle; v.insert(v.begin(), ""); return v; }()) {
                const std::string wo = lc + " COLUMNS=" + columns + " " + befehl;
                const ShellResult r = Hilfe(befehl, lc, columns);
                ASSERT_EQ(r.code, 0) << wo << r.err;
                std::size_t laengste = 0;
                bool eintraege = false;  // within a list of options, arguments or commands
                for (const std::string& z : Zeilen(r.out)) {
                    laengste = std::max(laengste, Zeichen(z));
                    EXPECT_LE(Zeichen(z), breite) << wo << "\n" << z;
                    if (!z.empty() && z[0] != ' ') {
                        eintraege = z.ends_with(":") && !z.starts_with("Aufruf");
                    } else if (eintraege && !z.empty()) {
                        const std::string fortsetzung(kBeschreibungsSpalte, ' ');
                        EXPECT_TRUE(std::regex_match(z, std::regex("  [^ ].*|" + fortsetzung + "[^ ].*"))) << wo << z;
                    }
                }
                // Wrapped at this width, not narrower (the other helps have no long lines).
                if (befehl != "scan" && befehl != "info") {
                    EXPECT_GE(laengste, breite - 12) << wo << "\n" << r.out;
                }
                EXPECT_FALSE(std::regex_search(r.out, std::regex("\\b(TEXT|FLOAT|INT|UINT)\\b"))) << wo << r.out;
                const std::string text = Entbrochen(r.out);
                if (befehl == "konf" || befehl == "query" || befehl == "batch" || befehl == "profil" || befehl == "export") {
                    EXPECT_NE(text.find(" --konf DATEI Konfigurationsdatei (Standard: tervalo.KNF neben dem Programm, "
                                        "installiert ~/.config/tervalo/tervalo.KNF)\n"),
                              std::string::npos)
                        << wo << "\n" << text;
                }
                if (befehl == "konf" || befehl.empty()) {
                    EXPECT_NE(text.find(" Die Spaltenbreiten des Ergebnisgitters werden ohne Fenster mit 8 Pixeln je "
                                        "Zeichen der Spaltentitel gesch\xC3\xA4tzt; sie wirken sich auf die Ausgabe "
                                        "nicht aus.\n"),
                              std::string::npos)
                        << wo << "\n" << text;
                }
            }
        }
    }
}

// The synopsis of the man page, its option lists and --help name the same options, value names
// and arguments for every command.
TEST(HelpCli, HelpAndManPageNameTheSameOptionsAndValues) {
    const std::map<std::string, ManBefehl> man = ManSeite();
    TERVALO_FOR_EACH_LOCALE(lc) {
        const HilfeText oben = Read(Hilfe("", lc).out);
        EXPECT_EQ(oben.namen, (std::vector<std::string>{"-h", "--help", "--version", "konf", "scan", "info", "query",
                                                        "batch", "profil", "export", "convert"}));
        for (const std::string& befehl : kBefehle) {
            ASSERT_TRUE(man.count(befehl)) << befehl;
            const ManBefehl& m = man.at(befehl);
            const HilfeText h = Read(Hilfe(befehl, lc).out);
            EXPECT_FALSE(h.werte.empty() && befehl != "info") << befehl;
            EXPECT_EQ(ManOptionen({m.uebersicht}), h.werte) << befehl << ": " << m.uebersicht;
            std::vector<std::string> optionen;
            std::copy_if(m.eintraege.begin(), m.eintraege.end(), std::back_inserter(optionen),
                         [](const std::string& e) { return e.starts_with("--"); });
            EXPECT_EQ(ManOptionen(optionen), h.werte) << befehl;
            // The arguments: the synopsis without its options, the usage line without [OPTIONEN].
            const std::string argumente = std::regex_replace(
                std::regex_replace(m.uebersicht, std::regex(" \\[--[^\\]]*\\]"), ""), std::regex(" \\.\\.\\."), "...");
            EXPECT_EQ("Aufruf: " + argumente, std::regex_replace(h.aufruf, std::regex(" \\[OPTIONEN\\]"), ""));
        }
    }
}

// The completion offers each command's options, the words --format and --level allow, files
// after an option taking one and nothing after one taking a number.
TEST(HelpCli, CompletionFollowsTheHelp) {
    const HilfeText oben = Read(Hilfe("").out);
    std::string alle;
    for (const std::string& n : oben.namen) alle += " " + n;
    EXPECT_EQ(Sortiert(Vorschlag("tervalo-cli ''")), Sortiert(alle));
    for (const std::string& befehl : kBefehle) {
        const HilfeText h = Read(Hilfe(befehl).out);
        std::string namen;
        for (const std::string& n : h.namen) namen += " " + n;
        EXPECT_EQ(Sortiert(Vorschlag("tervalo-cli " + befehl + " -")), Sortiert(namen)) << befehl;
        for (const auto& [option, wert] : h.werte) {
            if (wert.empty()) continue;
            const std::string angebot = Vorschlag("tervalo-cli " + befehl + " " + option + " ''");
            const std::string erwartet =
                h.auswahl.count(option)                        ? h.auswahl.at(option)
                : wert.starts_with("DATEI") || wert == "PUNKTE" ? "a.KNF"
                                                                : "";
            EXPECT_EQ(angebot, erwartet) << befehl << " " << option << " " << wert;
        }
    }
}

}  // namespace tervalo::test
