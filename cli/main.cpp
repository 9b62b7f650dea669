// tervalo-cli: the program's jobs without a window.
#include <poll.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "cli/Commands.h"
#include "config/Version.h"

namespace {

// True when standard output is a pipe whose reader has gone (`... | head -1`).
bool ReaderGone() {
    pollfd p{STDOUT_FILENO, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

// A command whose standard output could not be written did not do what it was asked. A reader
// that went away on purpose needs no message; any other failure (a full disk) gets one.
int CheckStdout(int rc) {
    std::cout.flush();
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout;
    if (!failed) return rc;
    if (!ReaderGone()) std::cerr << "Fehler beim Schreiben der Standardausgabe\n";
    return rc == 0 ? 1 : rc;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A closed standard output must not end a run (an export would leave a broken file):
    // writes to it just fail.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"Tervalo: Gel\xC3\xA4ndeh\xC3\xB6hen aus XYZ- und dBase-Punktdateien", "tervalo-cli"};
    tervalo::cli::Deutsch(app);
    app.set_version_flag("--version", tervalo::VersionText("tervalo-cli"), "Version anzeigen und beenden");
    app.require_subcommand(1);
    tervalo::cli::RegisterKonf(app);
    tervalo::cli::RegisterScan(app);
    tervalo::cli::RegisterInfo(app);
    tervalo::cli::RegisterQuery(app);
    tervalo::cli::RegisterBatch(app);
    tervalo::cli::RegisterProfil(app);
    tervalo::cli::RegisterExport(app);
    tervalo::cli::RegisterConvert(app);
    tervalo::cli::HilfeBeiOptionen(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    const int rc = tervalo::cli::ExitCode();
    // Export and convert judge their run by its output file; their log is secondary.
    if (app.got_subcommand("export") || app.got_subcommand("convert")) return rc;
    return CheckStdout(rc);
}
