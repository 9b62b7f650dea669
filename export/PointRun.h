#pragma once
// Pieces shared by the conversion and the export run: the duplicate memory, the output file
// in one of the three layouts, and the clock that decides when a run looks at its window.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/DbfFile.h"
#include "tools/PunktSet.h"
#include "tools/Rueckmeldung.h"
#include "tools/SafeWriter.h"

namespace tervalo {

class TextPointWriter;

enum class TAusgabeFormat { Xyz, Csv, DBase };

// Output layout and, for dBase, the table level (3, 4 or 7).
struct TAusgabe {
    TAusgabeFormat Format = TAusgabeFormat::Xyz;
    int DbfLevel = 3;
    friend bool operator==(const TAusgabe&, const TAusgabe&) = default;
};

// True when the file name part of the path has an extension (a "." after the last separator).
bool HasExtension(const std::string& path);
// Appends the extension when the chosen name has none; an empty extension changes nothing.
std::string WithDefaultExtension(const std::string& path, const std::string& ext);
// The layout a file name's extension stands for: .xyz and .txt XYZ, .csv CSV, .dbf dBase, in
// any case; empty for another extension or none.
std::optional<TAusgabeFormat> FormatOfExtension(const std::string& path);

// A rectangle of positions, bounds included.
struct TBereich {
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
    bool Enthaelt(double x, double y) const { return Xmin <= x && x <= Xmax && Ymin <= y && y <= Ymax; }
};

// Remembers the X/Y positions written and answers whether a point repeats one of them (exact
// double equality; Z plays no part). A run reads its files one after another; memory is
// bounded by what can still repeat: every point of the file being read (a file may repeat
// itself), and of the earlier files only the points that a later file can hold, that is the
// points inside a later file's extent. EndFile hands those on; the conversion reads one file
// and never ends it.
class TDuplicateMemory {
public:
    TDuplicateMemory() = default;
    TDuplicateMemory(const TDuplicateMemory&) = delete;
    TDuplicateMemory& operator=(const TDuplicateMemory&) = delete;

    // False when (x, y) repeats a remembered point; otherwise true, and the point is
    // remembered as one of the current file. A NaN position repeats nothing.
    bool Insert(double x, double y) {
        if (InBox(x, y) && carried_.Contains(x, y)) return false;
        return file_.Insert(x, y);
    }
    bool Contains(double x, double y) const {
        return file_.Contains(x, y) || (InBox(x, y) && carried_.Contains(x, y));
    }
    // Announces a point that Insert will soon be asked about.
    void Prefetch(double x, double y) const { file_.Prefetch(x, y); }
    // The current file ended: of its points and of those carried so far, only the ones inside
    // one of `later` (the extents of the files still to be read) are kept.
    void EndFile(const std::vector<TBereich>& later);
    // Forgets the current file's points, as if it had not been read.
    void DropFile() { file_.Clear(); }

    std::size_t FilePoints() const { return file_.Size(); }
    std::size_t CarriedPoints() const { return carried_.Size(); }

private:
    TPunktSet file_;
    TPunktSet carried_;
    // Bounding box of the carried points: a point outside it spares the second look-up.
    TBereich box_;
    bool InBox(double x, double y) const { return carried_.Size() > 0 && box_.Enthaelt(x, y); }
};

// How often a run hands control to its observer: the clock is read every `EveryLines`
// lines and the observer is called when `Interval` has passed since the last call.
// EveryLines 1 and Interval 0 call it after every line.
struct TPollOptions {
    uint32_t EveryLines = 256;
    std::chrono::milliseconds Interval{15};
};

class TPollTimer {
public:
    explicit TPollTimer(const TPollOptions& o) : opt_(o), last_(std::chrono::steady_clock::now()) {}
    bool Due() {
        if (++n_ < opt_.EveryLines) return false;
        n_ = 0;
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < opt_.Interval) return false;
        last_ = now;
        return true;
    }

private:
    TPollOptions opt_;
    uint32_t n_ = 0;
    std::chrono::steady_clock::time_point last_;
};

// What a run needs besides its files.
struct TRunOptions {
    char DecimalSeparator = '.';          // CSV layout only
    std::optional<TLanguageSettings> Language;  // for new dBase tables; unset: DefaultLanguage()
    TPollOptions Poll;
    // What a confirmed cancel leaves: the points so far as a valid file (the window's "Ja"),
    // or nothing, the target as it was (a signal in the command line).
    bool CancelKeepsOutput = true;
};

// How a run ended, for the decision on its output.
struct TRunEnd {
    bool Cancelled = false;
    bool Error = false;  // the error flag: the run can no longer succeed
};

// A cancel that throws the output away must win over the commit even when it comes after the
// last poll: asked once more when the run has read everything (never in the window, where a
// cancel keeps the output and the question would come after the run).
inline bool LastCancelCheck(const TRunOptions& o, TRueckmeldung& observer) {
    return !o.CancelKeepsOutput && observer.CancelCheck();
}

// The output of a run, written into a temporary file beside the target (TSafeFile). Close
// decides what becomes of it; an output destroyed without Close (an exception ended the run)
// is removed and the target stays exactly as it was, and no new file appears.
class TPointOutput {
public:
    TPointOutput();
    ~TPointOutput();
    TPointOutput(const TPointOutput&) = delete;
    TPointOutput& operator=(const TPointOutput&) = delete;

    // Checks the target against `schutz` and creates the output. Throws EZielAbgelehnt when
    // the target is refused or cannot be created; failures of the table layer as they come.
    void Open(const std::string& path, const TAusgabe& format, const TRunOptions& opt, const TSchutz& schutz);
    void Write(double x, double y, double z);
    // Where the output stands (bytes of a text, records of a table), and the way back there:
    // Rollback drops everything written after the mark, as if it had never been written.
    uint64_t Mark() const;
    void Rollback(uint64_t mark);
    // The one place that decides: a run that ran to its end replaces the target; a cancelled
    // one too when the options keep a cancel's output, otherwise the target stays; one with
    // the error flag never replaces an existing target (the one there when the run started)
    // and leaves a new one with the points written before the error. A kept output is
    // finished (a table gets its header, count and end byte) first. Returns whether the
    // target now holds the output. Errors throw; the temporary file is then gone and the
    // target as it was.
    bool Close(const TRunEnd& end);

private:
    TAusgabeFormat format_ = TAusgabeFormat::Xyz;
    char sep_ = '.';
    bool cancelKeeps_ = true;
    void Abandon() noexcept;
    std::unique_ptr<TSafeFile> file_;
    std::unique_ptr<TextPointWriter> text_;
    TDbfFile dbf_;
};

}  // namespace tervalo
