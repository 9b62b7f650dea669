#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <exception>
#include <iostream>
#include <memory>
#include <regex>
#include <stdexcept>

#include "cli/Commands.h"
#include "query/Query.h"
#include "tools/Tools.h"

namespace tervalo::cli {

TKonfCli LoadKonf(const std::string& path, const GridWidthHooks* grid, bool missingAllowed) {
    TKonfCli k;
    k.Orte = OrteDesProgramms();
    k.Dateien.KonfDatei = path.empty() ? k.Orte.KonfDatei : path;
    k.Gelesen = KonfLoad(k.Dateien.KonfDatei, k.Orte.Ordner, k.Settings, k.Dateien);
    // A mistyped name would answer like an empty catalogue: "no data here".
    if (!path.empty() && !k.Gelesen.Vorhanden && !missingAllowed)
        throw std::runtime_error("Konfigurationsdatei nicht gefunden: " + path);
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
        TSafeFile::Check(target, schutz);
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

std::optional<double> ArgumentZahl(std::string_view t) {
    double v = 0;
    // The plain form, as the batch's input lines hold it, without a copy.
    if (dezimal::LiesSchlicht(t.data(), t.data() + t.size(), v, ',')) return v;
    std::string s;
    std::size_t separators = 0;
    for (char c : t) {
        if (c == '.' || c == ',') {
            ++separators;
            c = '.';
        }
        s.push_back(c);
    }
    // Two separators could be grouping ("3.567.000,5"): no guess about which is meant.
    if (s.empty() || separators > 1) return std::nullopt;
    std::size_t from = 0;
    if (s[0] == '+') {
        from = 1;
        if (s.size() == 1 || s[1] == '-' || s[1] == '+') return std::nullopt;
    }
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data() + from, end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return std::nullopt;
    return v;
}

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

class DeutscheHilfe : public CLI::Formatter {
public:
    DeutscheHilfe() {
        label("Usage", "Aufruf");
        label("OPTIONS", "OPTIONEN");
        label("SUBCOMMAND", "BEFEHL");
        label("SUBCOMMANDS", "BEFEHLE");
        label("Positionals", "Argumente");
        label("REQUIRED", "(Pflicht)");
        label("TEXT", "TEXT");
        label("INT", "GANZZAHL");
        label("UINT", "GANZZAHL");
        label("FLOAT", "ZAHL");
        label("Needs", "braucht");
        label("Excludes", "schlie\xC3\x9Ft aus");
        label("Env", "Umgebung");
    }
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
    app.formatter(std::make_shared<DeutscheHilfe>());
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
