#pragma once
// Each command of tervalo-cli registers its sub-command and sets the exit code it ends with.
#include <CLI/CLI.hpp>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "config/Orte.h"
#include "formats/PunktLauf.h"

namespace tervalo::cli {

// The user's decimal and thousands separators (from the C library's locale, "." / "" fallback).
char DecimalSeparator();
char ThousandsSeparator();

// Help text of the --konf option.
inline constexpr const char* KonfOptionHilfe =
    "Konfigurationsdatei (Standard: tervalo.KNF neben dem Programm, installiert ~/.config/tervalo/tervalo.KNF)";

// The configuration as every command reads it.
struct TKonfCli {
    TSettings Settings;
    TDateien Dateien;        // KonfDatei is the file read (the export and conversion protect it)
    TKonfGelesen Gelesen;
    TOrte Orte;              // where the program keeps its configuration and data
    TEinstellungen Einstellungen;  // the settings file beside the configuration
    // The file holds more entries than the catalogue takes: writing it would drop the rest.
    bool NichtUeberschreiben() const { return Gelesen.ZuVieleEintraege; }
};
// Reads the configuration (path: the --konf option, empty for the program's own file: see
// FindOrte). The program's own file, when missing, gives the initial values, silently; a file
// named with --konf must exist (otherwise a German error naming it is thrown) unless
// `missingAllowed`. A file that exists but cannot be read throws EInOutError naming it; more
// than 250 entries give a German warning on stderr. The settings file beside it is read by the
// same rule (missing: empty; unreadable: EInOutError naming it); the catalogue takes its NoData
// height and system from it (an unreadable NoData value: a German warning on stderr), and
// how its folder entries are read ([Ordner], unreadable values warned about likewise; the
// index folder from Orte, TERVALO_INDEX_ORDNER included).
TKonfCli LoadKonf(const std::string& path, const TGitterZugriff* grid = nullptr, bool missingAllowed = false);

// The format of an export or conversion target: the --format option (xyz, csv, dbf) when
// given, otherwise the one the target's extension stands for, `otherwise` for another
// extension or none. An option that the extension contradicts is obeyed; Warning says so.
struct TZielFormat {
    TAusgabeFormat Format = TAusgabeFormat::Xyz;
    std::string Warning;
};
TZielFormat ZielFormat(const std::string& option, const std::string& target, TAusgabeFormat otherwise);
// Prints the warnings of a run on stderr, but first refuses a target that may never be written
// (a protected file, no regular file) as the run itself would: a refused target then shows
// nothing but the refusal. False when refused.
bool WarnAfterTargetCheck(const std::string& target, const TSchutz& schutz, const std::vector<std::string>& warnings);

// --fangbreite and --potenz against the ranges of the options dialog (the capture range's upper
// bound follows from the configuration's grid spacing). 0 when they fit (or are not given),
// otherwise 2 after the usage error of `command` on stderr.
int CheckSearchOptions(const std::string& command, const TSettings& settings, const std::optional<double>& fangbreite,
                       const std::optional<double>& potenz);

// A number typed as an argument: "." or "," as decimal point in every locale (at most one of
// them), an optional sign and exponent; nothing else. Empty when the text is no finite number.
std::optional<double> ArgumentZahl(std::string_view text);
// An option or positional argument taking such a number; other text is a usage error.
CLI::Option* AddZahl(CLI::App* cmd, const std::string& name, double& target, const std::string& description);
CLI::Option* AddZahl(CLI::App* cmd, const std::string& name, std::optional<double>& target,
                     const std::string& description);
// Accepts only the listed words; a German usage error otherwise.
CLI::Validator Auswahl(std::initializer_list<const char*> words);
// German help texts (wrapped to the terminal's width, see HilfeBreite in Common.cpp), help flag
// and usage errors; called before the commands are registered, which inherit them.
void Deutsch(CLI::App& app);
// Puts each registered command's help flag among its options; called after registering.
void HilfeBeiOptionen(CLI::App& app);
// The German text of a usage error as the program prints it (without the hint to --help).
std::string UsageErrorText(const CLI::App& app, const CLI::Error& e);

// Shared exit code: set by a command's callback.
int& ExitCode();
// Runs a command body: its result becomes the exit code; an error is printed on stderr
// after what was already written to stdout, and gives exit code 1.
void RunCommand(const std::function<int()>& body);

void RegisterKonf(CLI::App& app);
void RegisterScan(CLI::App& app);
void RegisterInfo(CLI::App& app);
void RegisterQuery(CLI::App& app);
void RegisterBatch(CLI::App& app);
void RegisterExport(CLI::App& app);
void RegisterConvert(CLI::App& app);
void RegisterProfil(CLI::App& app);

}  // namespace tervalo::cli
