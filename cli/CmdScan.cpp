// tervalo-cli scan DATEI...: the extent scan of the file list for each file.
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "filemanager/Extent.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

// "%10.2f" with the user's decimal separator, rounded as the file list shows the extent and
// the configuration stores it.
std::string Number(double v, char sep) { return FixedText(v, 10, 2, sep); }

void PrintText(const std::string& path, const TExtremwerte& e, char sep) {
    // Without a point the start values would read as an extent.
    auto value = [&](double v) { return e.Found ? Number(v, sep) : std::string("keine Punkte"); };
    std::cout << "Datei: " << path << '\n'
              << "  Typ:  " << (e.Dbase ? "dBase" : e.Raster ? "Raster" : "Text") << " (" << e.Read
              << (e.Dbase ? " Datens\xC3\xA4tze, " : " Zeilen, ") << e.Accepted << " Punkte)\n"
              << "  Xmin: " << value(e.Xmin) << "   Xmax: " << value(e.Xmax) << '\n'
              << "  Ymin: " << value(e.Ymin) << "   Ymax: " << value(e.Ymax) << '\n';
    if (!e.Found) std::cout << "  Keine g\xC3\xBCltigen Punkte gefunden\n";
}

}  // namespace

void RegisterScan(CLI::App& app) {
    auto* cmd = app.add_subcommand("scan", "Ausdehnung (Xmin, Xmax, Ymin, Ymax) von Punktdateien");
    static std::vector<std::string> files;
    static bool json = false;
    cmd->add_option("DATEI", files, "XYZ-Datei, dBase-Tabelle oder Rasterdatei")->type_name("DATEI")->required();
    cmd->add_flag("--json", json, "Ausgabe als JSON");
    cmd->callback([] {
        const char sep = DecimalSeparator();
        // Keys in the documented order, one compact array like the other commands.
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        int rc = 0;
        for (const std::string& path : files) {
            TExtremwerte e;
            try {
                e = ReadExtremwerte(path);
            } catch (const std::exception& ex) {
                std::cerr << ReadErrorMessage(ex, path) << '\n';
                rc = 1;
                continue;
            }
            if (!e.Opened) {
                // The file list adds such a file with the start values; here it is an error.
                std::cerr << NamePath(e.OpenError, path) << '\n';
                rc = 1;
                continue;
            }
            if (json) {
                out.push_back({{"datei", path}, {"dbase", e.Dbase}, {"xmin", e.Xmin}, {"xmax", e.Xmax},
                               {"ymin", e.Ymin}, {"ymax", e.Ymax}, {"gefunden", e.Found}, {"punkte", e.Accepted}});
            } else {
                PrintText(path, e, sep);
            }
        }
        if (json) std::cout << out.dump() << '\n';
        ExitCode() = rc;
    });
}

}  // namespace tervalo::cli
