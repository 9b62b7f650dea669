#include <clocale>
#include <climits>
#include <exception>
#include <iostream>
#include <unistd.h>

#include "cli/Commands.h"

namespace tervalo::cli {

std::string ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.find_last_of('/') + 1);
}

std::string DefaultKonfPath() { return ProgramFolder() + "tervalo.KNF"; }

TKonfCli LoadKonf(const std::string& path, const GridWidthHooks* grid) {
    TKonfCli k;
    k.Dateien.KonfDatei = path.empty() ? DefaultKonfPath() : path;
    k.Gelesen = KonfLoad(k.Dateien.KonfDatei, ProgramFolder(), k.Settings, k.Dateien, grid);
    if (k.Gelesen.ZuVieleEintraege) {
        std::cout.flush();
        std::cerr << "Warnung: Die Konfigurationsdatei enth\xC3\xA4lt " << k.Gelesen.Eintraege
                  << " Dateieintr\xC3\xA4ge, nur die ersten " << MaxDateien
                  << " werden verwendet: " << k.Dateien.KonfDatei << '\n';
    }
    return k;
}

char DecimalSeparator() {
    const lconv* lc = std::localeconv();
    return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

char ThousandsSeparator() {
    const lconv* lc = std::localeconv();
    return (lc && lc->thousands_sep && lc->thousands_sep[0]) ? lc->thousands_sep[0] : '\0';
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
