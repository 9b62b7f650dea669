// tervalo-cli info TABELLE: the lines of the dBase information window, then the table's fields.
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "cli/Commands.h"
#include "filemanager/DbfInfo.h"
#include "formats/DbfFile.h"
#include "tools/Datei.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

class PrintLines : public TDbfInfoBeobachter {
public:
    void AddLine(const std::string& line) override { std::cout << line << '\n'; }
};

// The German file-error text when the path is no regular file that can be read (a folder, a
// device, a read error), else empty: the table layer would only call such a file invalid.
std::string DateiProblem(const std::string& path) {
    int err = 0;
    const TDateiHandle h = OpenForReading(path.c_str(), err);
    if (h) {
        char byte;
        if (::pread(h.Fd(), &byte, 1, 0) < 0) err = errno;
    }
    return err != 0 ? NamePath(ErrnoText(err), path) : std::string();
}

void PrintFields(const std::vector<TDbfFieldDef>& fields) {
    std::cout << "-------------------------\n"
              << "Feld\tName\tTyp\tL\xC3\xA4nge\tDezimalen\n";
    int nr = 0;
    for (const TDbfFieldDef& f : fields)
        std::cout << ++nr << '\t' << f.FieldName << '\t' << f.NativeFieldType << '\t' << f.Size << '\t' << f.Precision
                  << '\n';
}

}  // namespace

void RegisterInfo(CLI::App& app) {
    auto* cmd = app.add_subcommand("info", "Informationen zu einer dBase-Tabelle");
    static std::string table;
    cmd->add_option("TABELLE", table, "dBase-Tabelle")->type_name("DATEI")->required();
    cmd->callback([] {
        PrintLines out;
        try {
            std::vector<TDbfFieldDef> fields;
            std::vector<std::string> lines = DbfInfoLines(table, &out, DecimalSeparator(), &fields);
            // Lines are complete only when the table was opened and read.
            const bool complete = lines.size() > 4;
            if (complete) PrintFields(fields);
            ExitCode() = complete ? 0 : 1;
        } catch (const std::exception& e) {
            // The window stays silent on an abort; here the detail is the only answer.
            std::cout.flush();
            const std::string problem = DateiProblem(table);
            std::cerr << (problem.empty() ? ReadErrorMessage(e, table) : problem) << '\n';
            ExitCode() = 1;
        }
    });
}

}  // namespace tervalo::cli
