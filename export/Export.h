#pragma once
// The export run: every point of the catalogued files inside an X/Y window, written once
// to one XYZ, CSV or dBase file, with the log the export window shows.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/TYPEN.h"
#include "formats/PunktLauf.h"
#include "tools/Rueckmeldung.h"

namespace tervalo {

// Captions of the save dialog; filter entries are numbered from 1.
inline constexpr const char* ExportDialogTitle = "Koordinaten exportieren nach...";
inline constexpr const char* ExportDialogFilter =
    "XYZ-Textdatei-Datei (*.xyz)|*.xyz|CSV-Datei (*.csv)|*.csv|dBase-Datei (*.dbf)|*.dbf|"
    "Alle Dateien (*.*)|*.*";

// Output of the chosen filter entry: 2 CSV, 3 dBase (at `dbfLevel`), otherwise XYZ.
TAusgabe ExportFormatFromFilter(int filterIndex, int dbfLevel);
// The chosen name with the filter entry's extension when it has none (1 .xyz, 2 .csv, 3 .dbf).
std::string ExportTargetPath(const std::string& chosen, int filterIndex);

struct TExportGrenzen {
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
};

// The counter texts of the export window.
std::string OutWerteText(int32_t fileCount, int32_t total);  // "120/ 5430"

// CancelCheck is asked whenever the run polls, after Counters.
class TExportBeobachter : public TRueckmeldung {
public:
    virtual void Log(const std::string& line) = 0;
    // Exported from the current file, exported in total, duplicates. Called at the start,
    // before each log line, whenever the run polls and at the end.
    virtual void Counters(int32_t fileCount, int32_t total, int32_t duplicates) {
        (void)fileCount, (void)total, (void)duplicates;
    }
    // A folder's index is brought up to date before its tiles are read: `text` names the
    // folder ("Index wird aufgebaut: ..."), `fertig` of `gesamt` tiles looked at.
    virtual void Fortschritt(const std::string& text, std::size_t fertig, std::size_t gesamt) {
        (void)text, (void)fertig, (void)gesamt;
    }
};

struct TExportErgebnis {
    int32_t Total = 0;
    int32_t Duplicates = 0;
    bool Error = false;      // the log ends with "Fehler bei Konvertierung aufgetreten"
    bool Cancelled = false;  // where the cancel throws the output away, the log ends with "Konvertierung abgebrochen"
    bool Kept = false;       // the target now holds this run's output
};

// Runs one export. The bounds are taken as given for the whole run. The tiles are read in
// catalogue order, a folder entry's tiles at its place ("Lese Datei <entry>: <tile>"); the
// messages of the folder indexes go into the log. An output that is one of the catalogued
// files or the configuration file (catalogue.KonfDatei), that would be a tile of a catalogued
// folder, or no regular file, is refused before the first log line (EZielAbgelehnt). A text output that cannot be created
// logs the reason and ends with the error flag; a table that cannot be created throws
// EZielAbgelehnt naming the path. What becomes of the output is TPunktAusgabe::Close's
// decision: a run that ran to its end replaces the target, a cancelled one as the options
// say, one with the error flag only creates a target that did not exist. Failures of the
// table layer, read and write failures throw and leave the target as it was, and no new file.
TExportErgebnis ExportRun(const TDateien& catalogue, const TExportGrenzen& bounds,
                        const std::string& outputPath, const TAusgabe& format,
                        const TLaufOptionen& options, TExportBeobachter& observer);

}  // namespace tervalo
