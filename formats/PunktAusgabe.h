#pragma once
// The output of a run in one of the three layouts (XYZ text, CSV text, dBase table), written
// through the safe writer.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "formats/DbfFile.h"
#include "tools/SafeWriter.h"

namespace tervalo {

class TPunktSchreiber;

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

// How a run ended, for the decision on its output.
struct TLaufEnde {
    bool Cancelled = false;
    bool Error = false;  // the error flag: the run can no longer succeed
    // What a confirmed cancel leaves: the points so far as a valid file, or the target as it was.
    bool CancelKeepsOutput = true;
};

// The output of a run, written into a temporary file beside the target (TSichereDatei). Close
// decides what becomes of it; an output destroyed without Close (an exception ended the run)
// is removed and the target stays exactly as it was, and no new file appears.
class TPunktAusgabe {
public:
    TPunktAusgabe();
    ~TPunktAusgabe();
    TPunktAusgabe(const TPunktAusgabe&) = delete;
    TPunktAusgabe& operator=(const TPunktAusgabe&) = delete;

    // Checks the target against `schutz` and creates the output; `decimalSeparator` is the
    // CSV layout's, `language` that of a new table (unset: DefaultLanguage()). Throws
    // EZielAbgelehnt when the target is refused or cannot be created; failures of the table
    // layer as they come.
    void Open(const std::string& path, const TAusgabe& format, const TSchutz& schutz,
              char decimalSeparator = '.', const std::optional<TSpracheinstellung>& language = std::nullopt);
    bool IsOpen() const { return file_ != nullptr; }
    void Write(double x, double y, double z);
    // Where the output stands (bytes of a text, records of a table), and the way back there:
    // Rollback drops everything written after the mark, as if it had never been written.
    uint64_t Mark() const;
    void Rollback(uint64_t mark);
    // The one place that decides: a run that ran to its end replaces the target; a cancelled
    // one too when `end` keeps a cancel's output, otherwise the target stays; one with the
    // error flag never replaces an existing target (the one there when the run started) and
    // leaves a new one with the points written before the error. A kept output is finished
    // (a table gets its header, count and end byte) first. Returns whether the target now
    // holds the output; false for an output never opened. Errors throw; the temporary file is
    // then gone and the target as it was.
    bool Close(const TLaufEnde& end);

private:
    TAusgabeFormat format_ = TAusgabeFormat::Xyz;
    char sep_ = '.';
    void Abandon() noexcept;
    std::unique_ptr<TSichereDatei> file_;
    std::unique_ptr<TPunktSchreiber> text_;
    TDbfFile dbf_;
};

}  // namespace tervalo
