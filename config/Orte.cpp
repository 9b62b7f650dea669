#include "config/Orte.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#ifndef TERVALO_INSTALL_BINDIR
#define TERVALO_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace tervalo {

namespace {

bool Absolut(const std::optional<std::string>& v) { return v && !v->empty() && v->front() == '/'; }

// "/usr/bin/", "/usr/bin" and "/usr//bin" name one folder.
std::string Normal(const std::string& folder) {
    std::string p = std::filesystem::path(folder).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string MitTrenner(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

TOrte FindOrte(const std::string& programFolder, const std::string& konfName, const TUmgebung& env,
               const std::string& installBin) {
    TOrte o;
    std::string home;
    if (Absolut(env.Home))
        home = *env.Home;
    else if (!env.PasswdHome.empty() && env.PasswdHome.front() == '/')
        home = env.PasswdHome;

    o.Installiert = !programFolder.empty() && !installBin.empty() && Normal(programFolder) == Normal(installBin);
    const bool xdgKonf = Absolut(env.XdgConfigHome), xdgDaten = Absolut(env.XdgDataHome);
    const bool xdgCache = Absolut(env.XdgCacheHome);
    if (!o.Installiert || (home.empty() && !(xdgKonf && xdgDaten))) {
        // Portable, or installed for a user without any home: beside the program.
        o.Ordner = MitTrenner(programFolder.empty() ? "." : programFolder);
        o.KonfDatei = o.Ordner + konfName;
        o.IndexOrdner = o.Installiert && xdgCache ? MitTrenner(*env.XdgCacheHome) + "tervalo/" : o.Ordner + "Index/";
    } else {
        const std::string konf = xdgKonf ? *env.XdgConfigHome : MitTrenner(home) + ".config";
        const std::string daten = xdgDaten ? *env.XdgDataHome : MitTrenner(home) + ".local/share";
        o.KonfDatei = MitTrenner(konf) + "tervalo/tervalo.KNF";
        o.Ordner = MitTrenner(daten) + "tervalo/";
        if (xdgCache)
            o.IndexOrdner = MitTrenner(*env.XdgCacheHome) + "tervalo/";
        else if (!home.empty())
            o.IndexOrdner = MitTrenner(home) + ".cache/tervalo/";
        else
            o.IndexOrdner = o.Ordner + "Index/";
    }
    o.DatenOrdner = o.Ordner + "Daten/";
    if (Absolut(env.IndexOrdner)) o.IndexOrdner = MitTrenner(*env.IndexOrdner);
    return o;
}

std::string FindProgrammOrdner() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    const std::string p(buf, static_cast<std::size_t>(n));
    return p.substr(0, p.find_last_of('/') + 1);
}

TUmgebung ReadProzessUmgebung() {
    auto var = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    TUmgebung env{var("HOME"), var("XDG_CONFIG_HOME"), var("XDG_DATA_HOME"), {}, var("XDG_CACHE_HOME"),
                  var("TERVALO_INDEX_ORDNER")};
    if (!Absolut(env.Home)) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) env.PasswdHome = pw->pw_dir;
    }
    return env;
}

std::string FindInstallBinOrdner() {
    // The prefix may reach its bin folder through a link (/bin -> /usr/bin): compare real paths.
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(TERVALO_INSTALL_BINDIR, ec);
    return ec ? std::string(TERVALO_INSTALL_BINDIR) : real.string();
}

TOrte FindProgrammOrte(const std::string& konfName) {
    return FindOrte(FindProgrammOrdner(), konfName, ReadProzessUmgebung(), FindInstallBinOrdner());
}

}  // namespace tervalo
