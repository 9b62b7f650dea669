#pragma once
// The steps the conversion and the export run share: each point taken is tested against the
// duplicate memory, written and counted; the observer is polled by the clock; a confirmed
// cancel stops the run, and the output is then kept or thrown away as the options say.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/DbfFile.h"
#include "formats/PunktAusgabe.h"
#include "tools/DuplikatSpeicher.h"
#include "tools/Taktgeber.h"
#include "tools/Rueckmeldung.h"
#include "tools/SafeWriter.h"

namespace tervalo {

// What a run needs besides its files.
struct TLaufOptionen {
    char DecimalSeparator = '.';          // CSV layout only
    std::optional<TSpracheinstellung> Language;  // for new dBase tables; unset: DefaultLanguage()
    TTaktOptionen Poll;
    // What a confirmed cancel leaves: the points so far as a valid file (the window's "Ja"),
    // or nothing, the target as it was (a signal in the command line).
    bool CancelKeepsOutput = true;
};

// One run's output, duplicate memory, counts and poll clock. The counts are of the points
// written (Written) and of those left out as repeats (Duplicates), in the whole run and in the
// file being read (from BeginFile on).
class TPunktLauf {
public:
    TPunktLauf(const TLaufOptionen& options, TRueckmeldung& observer)
        : opt_(options), obs_(observer), poll_(options.Poll) {}
    TPunktLauf(const TPunktLauf&) = delete;
    TPunktLauf& operator=(const TPunktLauf&) = delete;

    // Creates the output (TPunktAusgabe::Open with the options' separator and language).
    void Open(const std::string& path, const TAusgabe& format, const TSchutz& schutz) {
        out_.Open(path, format, schutz, opt_.DecimalSeparator, opt_.Language);
    }

    // Writes the point unless it repeats one written before; true when it was written.
    bool Take(double x, double y, double z) {
        if (!memory_.Insert(x, y)) {
            ++duplicates_;
            return false;
        }
        out_.Write(x, y, z);
        ++written_;
        return true;
    }
    // Take for a stream of points whose single outcomes nobody waits for: they wait in small
    // groups, since the duplicate test of each is a look-up at a random place of a large table
    // and announcing a group's places first lets their cache misses overlap. Drain decides the
    // waiting points in their order; Poll drains first, and so must a caller before it reports
    // counts.
    void Queue(double x, double y, double z) {
        memory_.Prefetch(x, y);
        waiting_[nWaiting_++] = {x, y, z};
        if (nWaiting_ == waiting_.size()) Drain();
    }
    void Drain() {
        const std::size_t n = nWaiting_;
        nWaiting_ = 0;
        for (std::size_t k = 0; k < n; ++k) Take(waiting_[k].x, waiting_[k].y, waiting_[k].z);
    }

    // When the clock says so: drains, calls `report` (the counters for the observer) and asks
    // the observer whether to cancel. True once a cancel was confirmed.
    template <class F>
    bool Poll(F&& report) {
        if (!poll_.Due()) return false;
        Drain();
        report();
        if (obs_.CancelCheck()) cancelled_ = true;
        return cancelled_;
    }
    bool Cancelled() const { return cancelled_; }
    // A cancel the observer confirmed outside Poll (while the run prepared its files).
    void Cancel() { cancelled_ = true; }

    // A file starts: its counts start at 0, and DropFile can take it back.
    void BeginFile() {
        fileWritten_ = written_;
        fileDuplicates_ = duplicates_;
        mark_ = out_.Mark();
    }
    // Takes back every point of the current file, as if it had not been read: from the output,
    // the counts and the duplicate memory.
    void DropFile() {
        nWaiting_ = 0;
        out_.Rollback(mark_);
        written_ = fileWritten_;
        duplicates_ = fileDuplicates_;
        memory_.DropFile();
    }
    // The current file ended; `later` are the extents still to be read (TDuplikatSpeicher).
    void EndFile(const std::vector<TBereich>& later) { memory_.EndFile(later); }
    // The same, the caller answering whether a later extent holds a point (TDuplikatSpeicher).
    template <class F>
    void EndFileKeeping(F&& laterHolds) {
        memory_.EndFileKeeping(laterHolds);
    }

    int32_t Written() const { return written_; }
    int32_t Duplicates() const { return duplicates_; }
    int32_t FileWritten() const { return written_ - fileWritten_; }

    // Ends the run: points still waiting are written; where a cancel throws the output away,
    // the observer is asked once more (a cancel must win over the commit even when it comes
    // after the last poll; never in the window, where a cancel keeps the output and the
    // question would come after the run). Then the output's Close decides (an output never
    // opened stays so). Returns whether the target now holds the output.
    bool Finish(bool error) {
        Drain();
        if (!cancelled_ && !opt_.CancelKeepsOutput && obs_.CancelCheck()) cancelled_ = true;
        return out_.Close({cancelled_, error, opt_.CancelKeepsOutput});
    }

private:
    const TLaufOptionen& opt_;
    TRueckmeldung& obs_;
    TTaktgeber poll_;
    TPunktAusgabe out_;
    TDuplikatSpeicher memory_;
    int32_t written_ = 0;
    int32_t duplicates_ = 0;
    int32_t fileWritten_ = 0;     // written_ and duplicates_ when the current file began
    int32_t fileDuplicates_ = 0;
    uint64_t mark_ = 0;
    struct TWartend {
        double x, y, z;
    };
    std::array<TWartend, 16> waiting_;
    std::size_t nWaiting_ = 0;
    bool cancelled_ = false;
};

}  // namespace tervalo
