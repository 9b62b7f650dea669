#include "export/Export.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "config/Konf.h"
#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "ordner/Kacheln.h"
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

// The tiles' extents cut to the window, in reading order, in a grid over the window: after
// each of tens of thousands of tiles a remembered point is tested against the later tiles
// of its cell only, not against every later tile.
class TSpaeterBereiche {
public:
    void Build(const TExportGrenzen& w, std::vector<TBereich> boxes) {
        boxes_ = std::move(boxes);
        const std::size_t n = boxes_.size();
        const int g = std::clamp(static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n)))), 1, 1024);
        x0_ = w.Xmin, y0_ = w.Ymin;
        nx_ = ny_ = g;
        cw_ = (w.Xmax - w.Xmin) / g;
        ch_ = (w.Ymax - w.Ymin) / g;
        if (!(cw_ > 0) || !std::isfinite(cw_)) nx_ = 1, cw_ = 1;
        if (!(ch_ > 0) || !std::isfinite(ch_)) ny_ = 1, ch_ = 1;
        cells_.assign(static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_), {});
        gross_.clear();
        for (std::size_t k = 0; k < n; ++k) {
            const TBereich& b = boxes_[k];
            const int cx0 = Cell(b.Xmin, x0_, cw_, nx_), cx1 = Cell(b.Xmax, x0_, cw_, nx_);
            const int cy0 = Cell(b.Ymin, y0_, ch_, ny_), cy1 = Cell(b.Ymax, y0_, ch_, ny_);
            // A box over many cells is asked for every time instead of filling them all.
            if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > 16) {
                gross_.push_back(k);
                continue;
            }
            for (int cy = cy0; cy <= cy1; ++cy)
                for (int cx = cx0; cx <= cx1; ++cx) cells_[Index(cx, cy)].push_back(k);
        }
    }

    // Whether a box after position k holds (x, y).
    bool LaterHolds(std::size_t k, double x, double y) const {
        auto holds = [&](const std::vector<std::size_t>& list) {
            for (auto it = std::upper_bound(list.begin(), list.end(), k); it != list.end(); ++it)
                if (boxes_[*it].Enthaelt(x, y)) return true;
            return false;
        };
        return holds(cells_[Index(Cell(x, x0_, cw_, nx_), Cell(y, y0_, ch_, ny_))]) || holds(gross_);
    }

private:
    static int Cell(double v, double v0, double size, int n) {
        const double t = (v - v0) / size;
        if (!(t > 0)) return 0;  // NaN too
        return t >= n ? n - 1 : static_cast<int>(t);
    }
    std::size_t Index(int cx, int cy) const {
        return static_cast<std::size_t>(cy) * static_cast<std::size_t>(nx_) + static_cast<std::size_t>(cx);
    }

    std::vector<TBereich> boxes_;
    std::vector<std::vector<std::size_t>> cells_;
    std::vector<std::size_t> gross_;
    double x0_ = 0, y0_ = 0, cw_ = 1, ch_ = 1;
    int nx_ = 1, ny_ = 1;
};

// One run's state; lives for the duration of ExportRun.
class TExportRun {
public:
    TExportRun(const TDateien& cat, const TExportGrenzen& b, const TLaufOptionen& opt, TExportBeobachter& obs)
        : katalog_(cat), b_(b), opt_(opt), obs_(obs), run_(opt, obs), indexBeob_(*this) {}

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
        if (opened) ReadTiles();
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
    // The folder indexes' progress and cancel: the run's observer, polled by the clock.
    class TIndexLauf : public TIndexBeobachter {
    public:
        explicit TIndexLauf(TExportRun& run) : run_(run), takt_({1, run.opt_.Poll.Interval}) {}
        void OrdnerBeginnt(const std::string& ordner) override { Ordner = ordner; }
        std::string Ordner;
        void Fortschritt(std::size_t fertig, std::size_t gesamt) override {
            run_.obs_.Fortschritt("Index wird aufgebaut: " + Ordner, fertig, gesamt);
        }
        bool CancelCheck() override {
            if (run_.run_.Cancelled()) return true;
            if (!takt_.Due()) return false;
            run_.Counters();
            if (run_.obs_.CancelCheck()) run_.run_.Cancel();
            return run_.run_.Cancelled();
        }

    private:
        TExportRun& run_;
        TTaktgeber takt_;
    };

    // The tiles of the window in catalogue order, each read in turn.
    void ReadTiles() {
        std::vector<TKachelWahl> wahl;
        katalog_.Select(b_.Xmin, b_.Xmax, b_.Ymin, b_.Ymax, wahl, &indexBeob_);
        LogMeldungen();
        if (run_.Cancelled()) return;
        // Plain entries (and unreadable folders) by their stored box, exactly as always.
        std::erase_if(wahl, [&](const TKachelWahl& w) { return !w.AusOrdner && !Overlaps(w); });
        std::vector<TBereich> boxes;
        boxes.reserve(wahl.size());
        for (const TKachelWahl& w : wahl) boxes.push_back(Cut(w));
        later_.Build(b_, std::move(boxes));
        for (std::size_t k = 0; k < wahl.size(); ++k) {
            TKachelWahl& w = wahl[k];
            // A tile not read after an error needs no check.
            if (w.AusOrdner && !error_) {
                katalog_.Pruefen(w);
                LogMeldungen();
            }
            ReadEntry(k, w);
            if (run_.Cancelled()) break;
        }
    }

    void LogMeldungen() {
        for (const std::string& m : katalog_.TakeMeldungen()) Log(m);
    }

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

    void ReadEntry(std::size_t pos, const TKachelWahl& w) {
        const std::string& path = w.Datei;
        TPunktQuelle quelle(path);
        quelle.SetNoData(katalog_.Dateien().NoData);
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
        Log("Lese Datei " + std::to_string(w.Eintrag) + ": " + path);
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
        // Only points inside a later tile's extent can be repeated later.
        if (error_)
            run_.EndFile(std::vector<TBereich>{});
        else
            run_.EndFileKeeping([&](double x, double y) { return later_.LaterHolds(pos, x, y); });
    }

    // A tile's extent cut to the window.
    TBereich Cut(const TKachelWahl& w) const {
        return {std::max(b_.Xmin, w.Xmin), std::min(b_.Xmax, w.Xmax), std::max(b_.Ymin, w.Ymin),
                std::min(b_.Ymax, w.Ymax)};
    }

    // Inclusive overlap of the window with an entry's stored extent: an extent that only
    // touches the window is read.
    bool Overlaps(const TKachelWahl& w) const {
        return b_.Xmin <= w.Xmax && b_.Xmax >= w.Xmin && b_.Ymin <= w.Ymax && b_.Ymax >= w.Ymin;
    }

    TKachelKatalog katalog_;
    const TExportGrenzen b_;
    const TLaufOptionen& opt_;
    TExportBeobachter& obs_;
    TPunktLauf run_;
    TIndexLauf indexBeob_;
    TSpaeterBereiche later_;
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
