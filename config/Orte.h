#pragma once
// Where the configuration file and the data folder live. A portable copy (any program folder
// other than the install prefix's bin folder) keeps both beside itself; the installed program
// keeps them in the user's XDG folders, the same for every user, root included.
#include <optional>
#include <string>

namespace tervalo {

// The environment the decision depends on: each value is empty when the variable is unset.
struct TUmgebung {
    std::optional<std::string> Home;           // $HOME
    std::optional<std::string> XdgConfigHome;  // $XDG_CONFIG_HOME
    std::optional<std::string> XdgDataHome;    // $XDG_DATA_HOME
    std::string PasswdHome;                    // the user's home from the password database
    std::optional<std::string> XdgCacheHome = std::nullopt;  // $XDG_CACHE_HOME
    std::optional<std::string> IndexOrdner = std::nullopt;   // $TERVALO_INDEX_ORDNER (tests, administrators)
};

struct TOrte {
    bool Installiert = false;  // the program runs from the install prefix's bin folder
    std::string KonfDatei;     // the configuration file
    std::string Ordner;        // base of bare catalogue names (they resolve below Ordner + "Daten/"), ends in "/"
    std::string DatenOrdner;   // Ordner + "Daten/"
    // Where folder entries' indexes live, ends in "/": the installed program's
    // $XDG_CACHE_HOME/tervalo/ (default ~/.cache/tervalo/), a portable copy's <program
    // folder>/Index/; an absolute $TERVALO_INDEX_ORDNER overrides both.
    std::string IndexOrdner;
};

// programFolder: folder of the running program (absolute, symbolic links resolved);
// konfName: the file name a portable copy uses beside itself; installBin: the bin folder of
// the prefix the program was built for. Relative or empty XDG values are ignored, as the XDG
// base directory rules say; a missing or relative HOME falls back to the password database.
// Without any home the installed program falls back to its program folder (its indexes then
// go below Ordner + "Index/").
TOrte FindOrte(const std::string& programFolder, const std::string& konfName, const TUmgebung& env,
               const std::string& installBin);

// The running process: its folder (/proc/self/exe), its environment and the compiled-in
// install bin folder.
TOrte FindProgrammOrte(const std::string& konfName = "tervalo.KNF");

// Folder of the running program, ending in "/" ("./" when unknown).
std::string FindProgrammOrdner();
TUmgebung ReadProzessUmgebung();
// The bin folder of the install prefix this program was built with.
std::string FindInstallBinOrdner();

}  // namespace tervalo
