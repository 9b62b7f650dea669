#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <regex>
#include <stdexcept>

#include "cli/Commands.h"
#include "query/Query.h"
#include "tools/Eingabezahl.h"
#include "tools/Tools.h"

namespace tervalo::cli {

TKonfCli LoadKonf(const std::string& path, const TGitterZugriff* grid, bool missingAllowed) {
    TKonfCli k;
    k.Orte = FindProgrammOrte();
    k.Dateien.KonfDatei = path.empty() ? k.Orte.KonfDatei : path;
    k.Gelesen = KonfLoad(k.Dateien.KonfDatei, k.Orte.Ordner, k.Settings, k.Dateien);
    // A mistyped name would answer like an empty catalogue: "no data here".
    if (!path.empty() && !k.Gelesen.Vorhanden && !missingAllowed)
        throw std::runtime_error("Konfigurationsdatei nicht gefunden: " + path);
    k.Einstellungen.Load(EinstellungenFileFor(k.Dateien.KonfDatei));
    std::string meldung;
    std::vector<std::string> ordnerMeldungen;
    ReadKachelWerte(k.Einstellungen, k.Dateien, &meldung, &ordnerMeldungen);
    k.Dateien.Ordner.IndexOrdner = k.Orte.IndexOrdner;
    // The run goes on with the default, but the user learns why a hole may answer.
    if (!meldung.empty()) ordnerMeldungen.insert(ordnerMeldungen.begin(), meldung);
    if (!ordnerMeldungen.empty()) std::cout.flush();
    for (const std::string& m : ordnerMeldungen) std::cerr << "Warnung: " << m << '\n';
    if (grid) ApplyGridWidths(k.Gelesen, k.Settings, *grid);
    if (k.Gelesen.ZuVieleEintraege) {
        std::cout.flush();
        std::cerr << "Warnung: Die Konfigurationsdatei enth\xC3\xA4lt " << k.Gelesen.Eintraege
                  << " Dateieintr\xC3\xA4ge, nur die ersten " << MaxDateien
                  << " werden verwendet: " << k.Dateien.KonfDatei << '\n';
    }
    return k;
}

namespace {

const char* FormatName(TAusgabeFormat f) {
    return f == TAusgabeFormat::Csv ? "Text-CSV" : f == TAusgabeFormat::DBase ? "dBase" : "Text-XYZ";
}

// A number as the user reads it: shortest form, or `decimals` fixed, with the locale's separator.
std::string ZahlText(double v, int decimals = -1) {
    if (decimals >= 0) return FixedText(v, 0, decimals, DecimalSeparator(), TRundung::Printf);
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == '.') c = DecimalSeparator();
    return s;
}

}  // namespace

TZielFormat ZielFormat(const std::string& option, const std::string& target, TAusgabeFormat otherwise) {
    const std::optional<TAusgabeFormat> named = FormatOfExtension(target);
    if (option.empty()) return {named.value_or(otherwise), {}};
    TZielFormat z;
    z.Format = option == "csv" ? TAusgabeFormat::Csv : option == "dbf" ? TAusgabeFormat::DBase : TAusgabeFormat::Xyz;
    if (named && *named != z.Format) {
        const std::string name = FileNamePart(target);
        z.Warning = "Warnung: --format " + option + " widerspricht der Endung " + name.substr(name.rfind('.')) +
                    ", geschrieben wird " + FormatName(z.Format) + ": " + target;
    }
    return z;
}

bool WarnAfterTargetCheck(const std::string& target, const TSchutz& schutz, const std::vector<std::string>& warnings) {
    if (warnings.empty()) return true;
    try {
        TSichereDatei::Check(target, schutz);
    } catch (const EZielAbgelehnt& e) {
        // One that merely cannot be created is the run's to report, after its warnings.
        if (e.Errno() == 0) {
            std::cout.flush();
            std::cerr << e.what() << '\n';
            return false;
        }
    }
    std::cout.flush();
    for (const std::string& w : warnings) std::cerr << w << '\n';
    return true;
}

int CheckSearchOptions(const std::string& command, const TSettings& settings, const std::optional<double>& fangbreite,
                       const std::optional<double>& potenz) {
    std::string fehler;
    const double fangMax = FangbreiteMax(settings.Rasterabstand);
    if (fangbreite && *fangbreite < 0) {
        const std::string bereich =
            fangMax > 0 ? " liegt nicht im Bereich 0 bis " + ZahlText(fangMax, 3) : " ist kleiner als 0";
        fehler = "--fangbreite: " + ZahlText(*fangbreite) + bereich +
                 ": eine negative halbe Seite ergibt kein Suchquadrat";
    } else if (fangbreite && fangMax > 0 && *fangbreite > fangMax) {
        // No bound without a grid spacing, as in the options dialog.
        fehler = "--fangbreite: " + ZahlText(*fangbreite) + " liegt nicht im Bereich 0 bis " + ZahlText(fangMax, 3) +
                 ": bei einem Rasterabstand von " + ZahlText(settings.Rasterabstand) +
                 " m fasst ein gr\xC3\xB6\xC3\x9F" "eres Suchquadrat mehr als die " + std::to_string(MaxPunkte) +
                 " Punkte, die eine Abfrage aufnimmt";
    } else if (potenz && (*potenz < 0 || *potenz > PotenzMax)) {
        fehler = "--potenz: " + ZahlText(*potenz) + " liegt nicht im Bereich 0 bis " + ZahlText(PotenzMax) +
                 (*potenz < 0 ? ": ein negativer Exponent gewichtet ferne Punkte st\xC3\xA4rker als nahe"
                              : ": der Optionsdialog l\xC3\xA4sst keinen gr\xC3\xB6\xC3\x9F" "eren Exponenten zu");
    }
    if (fehler.empty()) return 0;
    std::cout.flush();
    std::cerr << fehler << "\nWeitere Informationen: tervalo-cli " << command << " --help\n";
    return 2;
}

char DecimalSeparator() {
    const lconv* lc = std::localeconv();
    return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

char ThousandsSeparator() {
    const lconv* lc = std::localeconv();
    return (lc && lc->thousands_sep && lc->thousands_sep[0]) ? lc->thousands_sep[0] : '\0';
}

std::optional<double> ArgumentZahl(std::string_view t) { return dezimal::ReadArgumentZahl(t); }

namespace {

// Numbers are read by the program itself: the framework converts with strtold, which follows
// the user's locale, so under de_DE "3567000.5" failed and under C "3567000,5".
CLI::Validator ZahlPruefung() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ArgumentZahl(text) ? std::string() : text + " ist keine Zahl (Dezimaltrenner \".\" oder \",\")";
        },
        "");
}

}  // namespace

CLI::Option* AddZahl(CLI::App* cmd, const std::string& name, double& target, const std::string& description) {
    return cmd
        ->add_option_function<std::string>(
            name, [&target](const std::string& text) { target = ArgumentZahl(text).value_or(0.0); }, description)
        ->check(ZahlPruefung())
        ->type_name("ZAHL");
}

CLI::Option* AddZahl(CLI::App* cmd, const std::string& name, std::optional<double>& target,
                     const std::string& description) {
    return cmd
        ->add_option_function<std::string>(
            name, [&target](const std::string& text) { target = ArgumentZahl(text); }, description)
        ->check(ZahlPruefung())
        ->type_name("ZAHL");
}

CLI::Validator Auswahl(std::initializer_list<const char*> words) {
    std::vector<std::string> list(words.begin(), words.end());
    std::string shown;
    for (const std::string& w : list) shown += (shown.empty() ? "" : ", ") + w;
    return CLI::Validator(
        [list, shown](std::string& text) -> std::string {
            for (const std::string& w : list)
                if (text == w) return std::string();
            return text + " ist nicht erlaubt (erlaubt: " + shown + ")";
        },
        "{" + shown + "}");
}

namespace {

bool IstFolgebyte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Columns UTF-8 text takes on a terminal: one per character (the help has no wide ones).
std::size_t Spalten(std::string_view s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return !IstFolgebyte(c); }));
}

// Bytes of the first `n` characters of s.
std::size_t ZeichenBytes(std::string_view s, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t zeichen = 0; i < s.size(); ++i)
        if (!IstFolgebyte(s[i]) && zeichen++ == n) break;
    return i;
}

// `text` in lines of at most `breite` columns, broken between words: the first line continues
// one already `belegt` columns wide, the others start with `einzug` blanks. Line breaks of the
// text stay; a word longer than a line is cut so that no line gets longer.
std::string Umbrochen(std::string_view text, std::size_t breite, std::size_t einzug, std::size_t belegt) {
    std::string out;
    std::size_t spalte = belegt;
    bool leer = true;  // nothing of the text on this line yet
    const auto neueZeile = [&] {
        out += '\n';
        out.append(einzug, ' ');
        spalte = einzug;
        leer = true;
    };
    for (std::size_t von = 0;;) {
        const std::size_t ende = std::min(text.find('\n', von), text.size());
        std::string_view absatz = text.substr(von, ende - von);
        while (!absatz.empty()) {
            const std::size_t anfang = absatz.find_first_not_of(' ');
            if (anfang == std::string_view::npos) break;
            absatz.remove_prefix(anfang);
            std::string_view wort = absatz.substr(0, absatz.find(' '));
            absatz.remove_prefix(wort.size());
            while (!wort.empty()) {
                const std::size_t noetig = Spalten(wort) + (leer ? 0 : 1);
                if (spalte + noetig <= breite) {
                    if (!leer) out += ' ';
                    out += wort;
                    spalte += noetig;
                    leer = false;
                    break;
                }
                if (!leer) {
                    neueZeile();
                    continue;
                }
                const std::size_t platz = std::max<std::size_t>(breite - std::min(breite, spalte), 1);
                const std::size_t teil = ZeichenBytes(wort, platz);
                out += wort.substr(0, teil);
                wort.remove_prefix(teil);
                neueZeile();
            }
        }
        if (ende == text.size()) break;
        neueZeile();
        von = ende + 1;
    }
    return out;
}

// The width help lines wrap at: that of the terminal (COLUMNS overrides it, as in POSIX), but at
// most 100 columns, which still read well, and at least 60, which the option column needs; 80
// when the help goes to a file or a pipe.
std::size_t HilfeBreite() {
    std::size_t spalten = 0;
    if (const char* c = std::getenv("COLUMNS")) {
        const auto r = std::from_chars(c, c + std::strlen(c), spalten);
        if (r.ec != std::errc() || *r.ptr != '\0') spalten = 0;
    }
    winsize ws{};
    if (spalten == 0 && ::isatty(STDOUT_FILENO) && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) spalten = ws.ws_col;
    return spalten == 0 ? 80 : std::clamp<std::size_t>(spalten, 60, 100);
}

// German labels; every description wraps at a fixed width, an entry's continuation lines stand
// under its description column. The framework prints each description on one line.
class DeutscheHilfe : public CLI::Formatter {
public:
    explicit DeutscheHilfe(std::size_t breite) : breite_(breite) {
        label("Usage", "Aufruf");
        label("OPTIONS", "OPTIONEN");
        label("SUBCOMMAND", "BEFEHL");
        label("SUBCOMMANDS", "BEFEHLE");
        label("Positionals", "Argumente");
        label("REQUIRED", "(Pflicht)");
        label("INT", "GANZZAHL");
        label("UINT", "GANZZAHL");
        label("FLOAT", "ZAHL");
        label("Needs", "braucht");
        label("Excludes", "schlie\xC3\x9Ft aus");
        label("Env", "Umgebung");
    }

    std::string make_description(const CLI::App* app) const override {
        const std::string text = app->get_description();
        return text.empty() ? std::string() : Umbrochen(text, breite_, 0, 0) + "\n\n";
    }

    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string zeile = CLI::Formatter::make_usage(app, name);
        while (!zeile.empty() && zeile.back() == '\n') zeile.pop_back();
        // Continued under the first word after the command.
        const std::size_t einzug = std::min(Spalten(get_label("Usage") + ": " + name + " "), breite_ / 2);
        return Umbrochen(zeile, breite_, einzug, 0) + "\n";
    }

    std::string make_option(const CLI::Option* opt, bool is_positional) const override {
        const std::string name = make_option_name(opt, is_positional);
        std::string art = make_option_opts(opt);
        // An argument named for its kind of value ("DATEI DATEI ...") says it once.
        if (is_positional && art.rfind(" " + name, 0) == 0 &&
            (art.size() == name.size() + 1 || art[name.size() + 1] == ' '))
            art.erase(0, name.size() + 1);
        return Eintrag(name + art, make_option_desc(opt));
    }

    std::string make_subcommand(const CLI::App* sub) const override {
        return Eintrag(sub->get_display_name(true), sub->get_description());
    }

private:
    // A name in the first column and its description beside it, or below it when the name
    // fills the column.
    std::string Eintrag(const std::string& name, const std::string& beschreibung) const {
        std::string out = "  " + name;
        if (beschreibung.empty()) return out + "\n";
        const std::size_t belegt = Spalten(out);
        if (belegt >= column_width_) {
            out += '\n';
            out.append(column_width_, ' ');
        } else {
            out.append(column_width_ - belegt, ' ');
        }
        return out + Umbrochen(beschreibung, breite_, column_width_, column_width_) + "\n";
    }

    std::size_t breite_;
};

// The framework's usage errors, English text pattern first, German text second ($1, $2 ...:
// the parts taken over).
struct Uebersetzung {
    std::regex muster;
    const char* text;
};

const std::vector<Uebersetzung>& Uebersetzungen() {
    static const std::vector<Uebersetzung> list = [] {
        const std::pair<const char*, const char*> pairs[] = {
            {"A subcommand is required", ""},  // filled in with the command names
            {"Requires at least (\\d+) subcommands", "Mindestens $1 Befehle n\xC3\xB6tig"},
            {"(.*) is required", "Angabe fehlt: $1"},
            {"Could not convert: (.*)", "Ung\xC3\xBCltiger Wert: $1"},
            {"The value (.*) is not an allowed value for (.*)", "$2: $1 ist nicht erlaubt"},
            {"The following argument was not expected: (.*)", "Unerwartetes Argument: $1"},
            {"The following arguments were not expected: (.*)", "Unerwartete Argumente: $1"},
            {"(.*): \\d+ required .* missing", "$1: Wert fehlt"},
            {"Expected exactly (\\d+) arguments to (.*), got (\\d+)", "$2 erwartet $1 Werte, angegeben: $3"},
            {"Expected at least (\\d+) arguments to (.*), got (\\d+)",
             "$2 erwartet mindestens $1 Werte, angegeben: $3"},
            {"(.*): At least (\\d+) required but received (\\d+)", "$1 erwartet mindestens $2 Werte, angegeben: $3"},
            {"(.*): At Most (\\d+) required but received (\\d+)", "$1 erwartet h\xC3\xB6" "chstens $2 Werte, angegeben: $3"},
            {"(.*): too many inputs for a flag", "$1 ist ein Schalter und nimmt keinen Wert"},
            {"(.*) was given a disallowed flag override", "$1 ist ein Schalter und nimmt keinen Wert"},
            {"(.*): Should be true/false or a number", "$1 erwartet true/false oder eine Zahl"},
            {"(.*) requires (.*)", "$1 braucht $2"},
            {"(.*) excludes (.*)", "$1 schlie\xC3\x9Ft $2 aus"},
            {"(.*): Too many positional arguments with unlimited expected args", "$1: zu viele Argumente"},
        };
        std::vector<Uebersetzung> v;
        for (const auto& [m, t] : pairs) v.push_back({std::regex(m), t});
        return v;
    }();
    return list;
}

}  // namespace

std::string UsageErrorText(const CLI::App& app, const CLI::Error& e) {
    const std::string what = e.what();
    const auto& list = Uebersetzungen();
    if (std::regex_match(what, list.front().muster)) {
        std::string names;
        for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
        const std::vector<std::string> rest = app.remaining();
        if (!rest.empty()) return "Unbekannter Befehl: " + rest.front() + " (bekannt: " + names + ")";
        return "Kein Befehl angegeben (" + names + ")";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
        // The framework names them last first; here they come in the order typed.
        const std::vector<std::string> rest = app.remaining(true);
        std::string typed;
        for (const std::string& a : rest) typed += (typed.empty() ? "" : " ") + a;
        if (!rest.empty()) return (rest.size() > 1 ? "Unerwartete Argumente: " : "Unerwartetes Argument: ") + typed;
    }
    for (const Uebersetzung& u : list) {
        std::smatch m;
        if (std::regex_match(what, m, u.muster)) return m.format(u.text);
    }
    // Validators and number checks already speak German.
    return what;
}

void Deutsch(CLI::App& app) {
    app.formatter(std::make_shared<DeutscheHilfe>(HilfeBreite()));
    app.option_defaults()->group("Optionen");
    app.group("Befehle");
    app.set_help_flag("-h,--help", "Diese Hilfe anzeigen und beenden");
    app.failure_message([](const CLI::App* root, const CLI::Error& e) {
        // Point at the help of the command that was typed, when there was one.
        std::string hilfe = root->get_name();
        for (const CLI::App* sub : root->get_subcommands({}))
            if (sub->parsed()) hilfe += " " + sub->get_name();
        return UsageErrorText(*root, e) + "\nWeitere Informationen: " + hilfe + " --help\n";
    });
}

void HilfeBeiOptionen(CLI::App& app) {
    // A command makes its help flag before it takes over the option group's name.
    for (CLI::App* sub : app.get_subcommands({}))
        if (CLI::Option* h = sub->get_help_ptr()) h->group("Optionen");
}

void RunCommand(const std::function<int()>& body) {
    try {
        ExitCode() = body();
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << e.what() << '\n';
        ExitCode() = 1;
    }
}

int& ExitCode() {
    static int code = 0;
    return code;
}

}  // namespace tervalo::cli
