#include "export/Export.h"

#include <algorithm>
#include <vector>

#include "config/Konf.h"
#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

namespace tervalo {

TAusgabe ExportFormatFromFilter(int filterIndex, int dbfLevel) {
    switch (filterIndex) {
        case 2: return {TAusgabeFormat::Csv, dbfLevel};
        case 3: return {TAusgabeFormat::DBase, dbfLevel};
        default: return {TAusgabeFormat::Xyz, dbfLevel};
    }
}

std::string ExportTargetPath(const std::string& chosen, int filterIndex) {
    switch (filterIndex) {
        case 1: return WithDefaultExtension(chosen, ".xyz");
        case 2: return WithDefaultExtension(chosen, ".csv");
        case 3: return WithDefaultExtension(chosen, ".dbf");
        default: return chosen;
    }
}

std::string OutWerteText(int32_t fileCount, int32_t total) {
    return std::to_string(fileCount) + "/ " + std::to_string(total);
}

namespace {

const char* FormatLine(TAusgabeFormat f) {
    switch (f) {
        case TAusgabeFormat::Csv: return "Ausgabeformat: Text-CSV";
        case TAusgabeFormat::DBase: return "Ausgabeformat: dBase";
        default: return "Ausgabeformat: Text-XYZ";
    }
}

// One run's state; lives for the duration of ExportRun.
class TExportRun {
public:
    TExportRun(const TDateien& cat, const TExportGrenzen& b, const TLaufOptionen& opt, TExportBeobachter& obs)
        : cat_(cat), b_(b), opt_(opt), obs_(obs), run_(opt, obs) {}

    TExportErgebnis Run(const std::string& outputPath, const TAusgabe& format, const TSchutz& schutz) {
        obs_.Counters(0, 0, 0);
        Log("Beginn der Konvertierung");
        Log(FormatLine(format.Format));
        Log("Datei: " + outputPath);
        bool opened = false;
        try {
            run_.Open(outputPath, format, schutz);
            opened = true;
        } catch (const EZielAbgelehnt& e) {
            // A table that cannot be created ends the run through the error report; a
            // text output says why in the log.
            if (format.Format == TAusgabeFormat::DBase) throw;
            Log(e.what());
            error_ = true;
        }
        if (opened)
            for (int i = 1; i <= cat_.Eintraege(); ++i) {
                if (!Overlaps(i)) continue;
                ReadEntry(i, cat_.Datei[i]);
                if (run_.Cancelled()) break;
            }
        const bool kept = run_.Finish(error_);
        const bool cancelled = run_.Cancelled();
        // A cancel that threw the output away reports no totals: nothing of them was kept.
        const bool discarded = cancelled && !opt_.CancelKeepsOutput;
        if (error_) {
            Log("Fehler bei Konvertierung aufgetreten");
        } else if (!discarded) {
            Log("Konvertierung abgeschlossen");
            Log(std::to_string(run_.Written()) + " Werte insgesamt exportiert");
            Log(std::to_string(run_.Duplicates()) + " doppelte Werte nicht exportiert");
        }
        if (discarded) Log("Konvertierung abgebrochen");
        return {run_.Written(), run_.Duplicates(), error_, cancelled, kept};
    }

private:
    // Every log line and poll drains the waiting points first, so the output, the counters
    // and the log keep the order of the lines.
    void Log(const std::string& line) {
        Flush();
        obs_.Log(line);
    }
    void Flush() {
        run_.Drain();
        Counters();
    }
    void Counters() { obs_.Counters(run_.FileWritten(), run_.Written(), run_.Duplicates()); }

    void ReadEntry(int index, const std::string& path) {
        TPunktQuelle quelle(path);
        quelle.SetNoData(cat_.NoData);
        // A raster reads only the pixels under the window; a text's lines all go through the
        // reader, which reports the lines it refuses.
        if (quelle.IsRaster()) quelle.SetQuadrat({b_.Xmin, b_.Xmax, b_.Ymin, b_.Ymax});
        const bool openFailed = quelle.Open() != 0;  // a table's failures throw and end the run
        if (quelle.IsDbase() && quelle.RecordCount() < 1) {
            Log("Datei-Fehler: Keine Datens\xC3\xA4tze in: " + path);
            error_ = true;
        }
        if (openFailed || error_) {
            Log("!!! ABBRUCH !!!");
            if (openFailed) {
                Log("Datei I/O-Fehler: " + path);
                error_ = true;
            }
            return;
        }
        Log("Lese Datei " + std::to_string(index) + ": " + path);
        run_.BeginFile();
        try {
            quelle.Read<TPunktZeilenRegel>([&](const auto& zeile) __attribute__((always_inline)) {
                double x, y, z;
                switch (zeile.Punkt(x, y, z)) {
                    case TBefund::Punkt:
                        if (!error_ && InRect(x, y, b_.Xmin, b_.Xmax, b_.Ymin, b_.Ymax)) run_.Queue(x, y, z);
                        break;
                    // A NoData height is no point: not written, not remembered, so a later
                    // tile's point at that place is taken.
                    case TBefund::Leer:
                    case TBefund::KeinWert: break;
                    default:
                        // A blank coordinate is a record the reader cannot take, like a refused line.
                        Log("Fehler in Zeile: " + std::to_string(zeile.Nr));
                        error_ = true;
                }
                return !run_.Poll([&] { Counters(); });
            });
        } catch (const EGzipDefekt& e) {
            // A damaged tile is a tile that could not be read: its checksum vouches for its
            // points only at its end, so none of them stays in the output or the counts.
            run_.DropFile();
            Log("!!! ABBRUCH !!!");
            Log(e.what());
            error_ = true;
            return;
        } catch (const ERasterDefekt& e) {
            // The pixels before the damage were read in file order and stay, as the lines of a
            // text before a bad one do; nothing after it is exported.
            run_.Drain();
            Log("!!! ABBRUCH !!!");
            Log(e.what());
            error_ = true;
            return;
        }
        run_.Drain();
        Log(std::to_string(run_.FileWritten()) + " Werte aus Datei: " + FileNamePart(path) + " exportiert");
        run_.EndFile(error_ ? std::vector<TBereich>{} : LaterExtents(index));
    }

    // The stored extents of the entries after `index` that the run will read, cut to the
    // window: only points inside them can be repeated later.
    std::vector<TBereich> LaterExtents(int index) const {
        std::vector<TBereich> out;
        for (int j = index + 1; j <= cat_.Eintraege(); ++j)
            if (Overlaps(j))
                out.push_back({std::max(b_.Xmin, cat_.Xmin[j]), std::min(b_.Xmax, cat_.Xmax[j]),
                               std::max(b_.Ymin, cat_.Ymin[j]), std::min(b_.Ymax, cat_.Ymax[j])});
        return out;
    }

    // Inclusive overlap of the window with an entry's stored extent: an extent that only
    // touches the window is read.
    bool Overlaps(int i) const {
        return b_.Xmin <= cat_.Xmax[i] && b_.Xmax >= cat_.Xmin[i] && b_.Ymin <= cat_.Ymax[i] &&
               b_.Ymax >= cat_.Ymin[i];
    }

    const TDateien& cat_;
    const TExportGrenzen b_;
    const TLaufOptionen& opt_;
    TExportBeobachter& obs_;
    TPunktLauf run_;
    bool error_ = false;
};

}  // namespace

TExportErgebnis ExportRun(const TDateien& catalogue, const TExportGrenzen& bounds,
                        const std::string& outputPath, const TAusgabe& format,
                        const TLaufOptionen& options, TExportBeobachter& observer) {
    const TSchutz schutz = ProtectedFiles(catalogue);
    try {
        TSichereDatei::Check(outputPath, schutz);
    } catch (const EZielAbgelehnt& e) {
        // A target that may never be written is refused before the run starts; one that
        // cannot be created is reported by the run, as the export describes it.
        if (e.Errno() == 0) throw;
    }
    TExportRun run(catalogue, bounds, options, observer);
    return run.Run(outputPath, format, schutz);
}

}  // namespace tervalo
