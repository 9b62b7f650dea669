#include "filemanager/DbfInfo.h"

#include <filesystem>

#include "formats/DbfFile.h"
#include "tools/Tools.h"

namespace tervalo {

namespace {

// "%10.2f": this window has always rounded as printf does.
std::string Extent(const char* label, double v, char sep) {
    return std::string(label) + FixedText(v, 10, 2, sep, TRundung::Printf);
}

}  // namespace

std::string FindDbfIndexFile(const TDbfFile& dbf, const std::string& path) {
    if (!dbf.ProductionIndexFlag() || dbf.TableVersion() == TDbfVersion::FoxPro) return {};
    const std::string mdx = FindProductionIndex(path);
    if (mdx.empty()) return {};
    // Shown in full, as the table's own path is.
    std::error_code ec;
    const auto abs = std::filesystem::absolute(mdx, ec);
    return ec ? mdx : abs.lexically_normal().string();
}

std::vector<std::string> DbfInfoLines(const std::string& path, TDbfInfoBeobachter* obs, char sep,
                                      std::vector<TDbfFieldDef>* fields) {
    std::vector<std::string> lines;
    auto add = [&](std::string line) {
        if (obs) obs->AddLine(line);
        lines.push_back(std::move(line));
    };
    add("Datenbank-Datei: " + path);
    add("Moment bitte ... Ermittlung von Informationen");
    if (!IsValidFileName(path)) {
        add("");
        add("Ung\xC3\xBCltige Zeichen im Dateinamen: " + path);
        return lines;
    }
    add("-------------------------");

    // A source is only read: the window shows the mode the table really has.
    TDbfFile dbf;
    dbf.OpenRead(path);
    if (fields) *fields = dbf.Fields();
    add("Datei: " + dbf.Path());
    add("Dateiformat: \t" + VersionName(dbf.TableVersion()));
    add("Anzahl Datens\xC3\xA4tze: \t" + std::to_string(dbf.RecordCount()));
    add("Anzahl der Spalten: \t" + std::to_string(dbf.FieldCount()));
    add(std::string("Datei exclusiv offen: \t") + (dbf.IsExclusive() ? "JA" : "NEIN"));
    add("Dateistatus: \t" + OpenModeName(dbf.OpenMode()));
    const std::string index = FindDbfIndexFile(dbf, path);
    add("Indexdatei: " + (index.empty() ? std::string("KEINE") : index));

    double xmin = 999999999.0, ymin = 999999999.0;
    double xmax = -9999999.0, ymax = -9999999.0;
    bool any = false;
    bool cancelled = false;
    for (dbf.First(); !dbf.AtEnd(); dbf.Next()) {
        auto x = dbf.FieldAsNumber(0);
        auto y = dbf.FieldAsNumber(1);
        // A record with a blank coordinate is passed over, as the file list's scan does.
        if (x && y) {
            if (!any) {
                xmin = xmax = *x;
                ymin = ymax = *y;
                any = true;
            }
            if (*x < xmin) xmin = *x;
            if (*x > xmax) xmax = *x;
            if (*y < ymin) ymin = *y;
            if (*y > ymax) ymax = *y;
        }
        if (obs && obs->CancelCheck()) {
            cancelled = true;
            break;
        }
    }
    if (cancelled) {
        add(kDbfInfoCancelled);
    } else {
        add(Extent("Xmin =\t", xmin, sep));
        add(Extent("Xmax =\t", xmax, sep));
        add(Extent("Ymin =\t", ymin, sep));
        add(Extent("Ymax =\t", ymax, sep));
    }
    dbf.Close();
    return lines;
}

}  // namespace tervalo
