// tervalo-cli info TABELLE: the lines of the dBase information window.
#include <iostream>
#include <string>

#include "cli/Commands.h"
#include "filemanager/DbfInfo.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

class PrintLines : public DbfInfoObserver {
public:
    void AddLine(const std::string& line) override { std::cout << line << '\n'; }
};

}  // namespace

void RegisterInfo(CLI::App& app) {
    auto* cmd = app.add_subcommand("info", "Informationen zu einer dBase-Tabelle");
    static std::string table;
    cmd->add_option("TABELLE", table, "dBase-Tabelle")->required();
    cmd->callback([] {
        PrintLines out;
        try {
            std::vector<std::string> lines = DbfInfoLines(table, &out, DecimalSeparator());
            // Lines are complete only when the table was opened and read.
            ExitCode() = lines.size() > 4 ? 0 : 1;
        } catch (const std::exception& e) {
            // The window stays silent on an abort; here the detail is the only answer.
            std::cout.flush();
            std::cerr << ReadErrorMessage(e, table) << '\n';
            ExitCode() = 1;
        }
    });
}

}  // namespace tervalo::cli
