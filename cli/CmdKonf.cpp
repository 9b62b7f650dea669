// tervalo-cli konf: the configuration as the program reads it at start-up.
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/Commands.h"
#include "config/Konf.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

namespace tervalo::cli {

namespace {

// Stand-in for the main window's result grid: start widths and centred headings, every
// character estimated at 8 pixels (there is no window to measure with).
class EstimatedResultGrid : public TextGrid {
public:
    EstimatedResultGrid() {
        const char* headings[] = {"Nr.", "X", "Y", "Z", "R"};
        for (int c = 0; c < 5; ++c) {
            cells_[c] = headings[c];
            CenterCell(*this, c, 0);
        }
    }
    int ColCount() const override { return 5; }
    int RowCount() const override { return 1; }
    void SetRowCount(int) override {}
    std::string Cell(int col, int) const override { return cells_[col]; }
    void SetCell(int col, int, const std::string& text) override { cells_[col] = text; }
    int ColWidth(int col) const override { return widths_[col]; }
    void SetColWidth(int col, int width) override { widths_[col] = width; }
    int TextWidth(std::string_view text) const override { return 8 * static_cast<int>(text.size()); }

private:
    std::string cells_[5];
    int widths_[5] = {30, 70, 70, 45, 41};
};

nlohmann::ordered_json Widths(const int32_t (&list)[11]) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (int32_t w : list) a.push_back(w);
    return a;
}

struct KonfOptions {
    std::string file;
    std::string save;
    bool json = false;
};

// True when both paths name one file (same device and inode, or the same path resolved).
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return TSafeFile::Resolve(a) == TSafeFile::Resolve(b);
}

void Run(const KonfOptions& o) {
    EstimatedResultGrid grid;
    GridWidthHooks hooks = GridHooksFor(grid);
    // Saved over the file it names, a missing configuration is made from the initial values.
    TKonfCli k = LoadKonf(o.file, &hooks, !o.file.empty() && !o.save.empty() && SameFile(o.save, o.file));
    const std::string& path = k.Dateien.KonfDatei;
    TSettings& settings = k.Settings;
    const TDateien& dateien = k.Dateien;

    if (o.json) {
        nlohmann::ordered_json j;  // keys in the documented order
        j["rasterabstand"] = settings.Rasterabstand;
        j["fangbreite"] = settings.Fangbreite;
        j["potenz"] = settings.Potenz;
        j["dbfversion"] = settings.DBFVersion;
        j["gridbreiten"] = Widths(settings.GridBreiten);
        j["dateigridbreiten"] = Widths(settings.DateiGridBreiten);
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (int i = 1; i <= std::min<int>(dateien.Anzahl, MaxDateien); ++i) {
            const auto k = static_cast<std::size_t>(i);
            list.push_back({{"datei", dateien.Datei[k]},
                            {"xmin", dateien.Xmin[k]},
                            {"xmax", dateien.Xmax[k]},
                            {"ymin", dateien.Ymin[k]},
                            {"ymax", dateien.Ymax[k]}});
        }
        j["dateien"] = list;
        std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        std::cout << "Konfigurationsdatei: " << path << (k.Gelesen.Vorhanden ? "" : " (nicht vorhanden, Anfangswerte)")
                  << '\n'
                  << "Datenordner: " << k.Orte.DatenOrdner
                  << (k.Orte.Installiert ? " (installiertes Programm)" : " (neben dem Programm)") << '\n'
                  << KonfListing(settings, dateien, DecimalSeparator());
    }

    if (!o.save.empty()) {
        // Written over itself, a file with surplus entries would lose them.
        if (k.NichtUeberschreiben() && SameFile(o.save, path))
            throw EZielAbgelehnt("Die Konfigurationsdatei enth\xC3\xA4lt mehr als " + std::to_string(MaxDateien) +
                                 " Dateieintr\xC3\xA4ge und wird nicht \xC3\xBC" "berschrieben: " + o.save);
        // The stored widths are written as read: the estimated grid is no real window.
        KonfSave(o.save, settings, dateien);
    }
}

}  // namespace

void RegisterKonf(CLI::App& app) {
    static KonfOptions opts;
    auto* cmd = app.add_subcommand(
        "konf",
        "Konfiguration lesen wie beim Programmstart und ausgeben. Die Spaltenbreiten des "
        "Ergebnisgitters werden ohne Fenster mit 8 Pixeln je Zeichen der Spaltentitel geschätzt; "
        "sie wirken sich auf die Ausgabe nicht aus.");
    cmd->add_option("--konf", opts.file, KonfOptionHilfe);
    cmd->add_flag("--json", opts.json, "Ausgabe als JSON");
    cmd->add_option("--save", opts.save, "gelesene Konfiguration in diese Datei schreiben");
    cmd->callback([] {
        RunCommand([] {
            Run(opts);
            return 0;
        });
    });
}

}  // namespace tervalo::cli
