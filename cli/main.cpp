// tervalo-cli: the program's jobs without a window.
#include <clocale>
#include <cstdio>
#include <exception>
#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    CLI::App app{"Tervalo: terrain heights from XYZ and dBase point tiles"};
    app.require_subcommand(1);
    tervalo::cli::RegisterKonf(app);
    tervalo::cli::RegisterScan(app);
    tervalo::cli::RegisterInfo(app);
    tervalo::cli::RegisterQuery(app);
    tervalo::cli::RegisterBatch(app);
    tervalo::cli::RegisterExport(app);
    tervalo::cli::RegisterConvert(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return tervalo::cli::ExitCode();
}
