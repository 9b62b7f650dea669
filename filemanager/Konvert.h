#pragma once
// Conversion of one point file into the other storage kind: a text file becomes a dBase
// table, a dBase table becomes an XYZ or CSV text file. A text file (plain or packed) also
// becomes a plain XYZ file; a raster becomes any of the three. Repeated X/Y positions are left out, and so are points whose
// height is the source's NoData value (TPunktQuelle::SetNoData).
#include <cstdint>
#include <optional>
#include <string>

#include "config/TYPEN.h"
#include "formats/PunktLauf.h"
#include "tools/Errors.h"
#include "tools/Rueckmeldung.h"
#include "tools/SafeWriter.h"

namespace tervalo {

// Save dialog of the conversion, by source kind. Filter entries are numbered from 1.
inline constexpr const char* KonvertTitleToText = "Datei konvertieren nach ASCII/CSV";
inline constexpr const char* KonvertFilterToText =
    "XYZ-Textdatei-Datei (*.xyz)|*.xyz|CSV-Datei (*.csv)|*.csv|Alle Dateien (*.*)|*.*";
inline constexpr const char* KonvertTitleToDbase = "Datei konvertieren nach dBase III/IV";
inline constexpr const char* KonvertFilterToDbase =
    "dBase 3-Datei (*.dbf)|*.dbf|dBase 4-Datei (*.dbf)|*.dbf|dBase 7-Datei (*.dbf)|*.dbf|"
    "Alle Dateien (*.*)|*.*";

// Target of the chosen filter entry. dBase source: 2 CSV, otherwise XYZ.
// Text source: 2 level 4, 3 level 7, otherwise level 3.
TAusgabe KonvertTargetFromFilter(bool sourceIsDbase, int filterIndex);
// The chosen name with the target's default extension (.xyz, .csv, .dbf) when it has none.
std::string KonvertTargetPath(const std::string& chosen, const TAusgabe& target);
// The name the save dialog proposes for a source: its name without the extension, and
// without ".gz" before that for a packed tile ("blatt.xyz.gz" proposes "blatt").
std::string KonvertTargetName(const std::string& sourceName);

struct TKonvertFortschritt {
    int32_t Taken = 0;     // "Werte übernommen:"
    int32_t NotTaken = 0;  // "Werte nicht übernommen:"
    int Picture = 0;       // progress picture 0..7
    // The counters as the progress window shows them: taken when it last reached a multiple
    // of 10 and not taken at that moment; at the end of the run the final counts.
    int32_t ShownTaken = 0;
    int32_t ShownNotTaken = 0;
};

// CancelCheck is asked whenever the run polls, after Progress.
class TKonvertBeobachter : public TRueckmeldung {
public:
    // Target file name without folder; called before anything is written.
    virtual void Start(const std::string& targetName) { (void)targetName; }
    // Called at the start, whenever the run polls and at the end.
    virtual void Progress(const TKonvertFortschritt& p) { (void)p; }
};

struct TKonvertErgebnis {
    TKonvertFortschritt Counts;
    bool SourceIsDbase = false;
    bool Cancelled = false;
    bool Kept = false;  // the target now holds the converted points
};

// The source of a conversion cannot be opened or read: "<file error>: <source path>".
class EKonvertQuelle : public EInOutError {
public:
    using EInOutError::EInOutError;
};

class TPunktQuelle;

// Throws EKonvertQuelle when the source could not be opened: missing, no regular file or not
// readable.
void CheckKonvertSource(const TPunktQuelle& quelle);

// Converts `source` (kind from its signature) into `target`. The source is checked first
// (EKonvertQuelle), then the direction: a dBase source goes to XYZ or CSV, a text source to
// dBase or XYZ, a raster to any (std::invalid_argument otherwise). The target is refused when it is the source, a file of `schutz`
// or no regular file, and when it cannot be created (EZielAbgelehnt); nothing is written then.
// The new file replaces the target when the run ends, and when it is cancelled where the
// options keep a cancel's output; failures of the table layer, read and write errors throw
// and leave the target exactly as it was, and no new file. A point whose height is noData is
// left out.
TKonvertErgebnis Konvertieren(const std::string& source, const std::string& target,
                            const TAusgabe& format, const TLaufOptionen& options, const TSchutz& schutz,
                            TKonvertBeobachter& observer, std::optional<double> noData = StandardNoData);
// The same for a source its caller opened already (and has not read from): the source is
// opened once for the whole conversion, with the NoData value the caller gave it.
TKonvertErgebnis Konvertieren(TPunktQuelle& quelle, const std::string& target, const TAusgabe& format,
                            const TLaufOptionen& options, const TSchutz& schutz, TKonvertBeobachter& observer);

}  // namespace tervalo
