#pragma once
// The catalogue as runs read it: each entry a file, or a folder standing for its tiles at its
// place, in the byte order of their paths below it, as if each were listed there. Query, batch
// and export select from it; for a catalogue without folder entries the selection is exactly
// the entries whose stored box touches the square.
//
// Threads: one TKachelKatalog belongs to one engine (it holds that engine's open indexes);
// its calls are serialised, so an engine's own threads may share it.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/TYPEN.h"
#include "ordner/OrdnerIndex.h"

namespace tervalo {

// One tile a run may read.
struct TKachelWahl {
    int Eintrag = 0;        // the catalogue entry it belongs to (1-based)
    std::string Datei;      // the path to open: the entry's path, or the folder tile's path
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;  // the extent the selection used
    bool AusOrdner = false; // a tile of a folder entry
    TOrdnerKachel Kachel;   // for a folder tile: as the index holds it
    // A folder entry whose folder could not be read or indexed: Datei is the entry's path,
    // which the run then reports like a file that cannot be opened.
    bool OrdnerUnlesbar = false;
};

// An observer of index builds that also learns which folder's index is brought up to date
// (Select tells it before each folder's Update).
class TIndexBeobachter : public TOrdnerBeobachter {
public:
    virtual void OrdnerBeginnt(const std::string& ordner) { (void)ordner; }
};

// Whether the catalogue path names a folder (a directory now; a folder that is gone reads as
// a file that cannot be opened, as an older reader sees it).
bool IsOrdnerEintrag(const std::string& pfad);

class TKachelKatalog {
public:
    // Keeps a copy of the catalogue; indexes are opened on first use, with kat.Ordner.
    explicit TKachelKatalog(const TDateien& kat);
    ~TKachelKatalog();
    TKachelKatalog(const TKachelKatalog&) = delete;
    TKachelKatalog& operator=(const TKachelKatalog&) = delete;

    const TDateien& Dateien() const { return kat_; }

    // The tiles whose extent touches the rectangle (closed intervals), in catalogue order.
    // A plain entry is chosen by its stored box (TouchesEintrag); a folder entry by its tiles'
    // extents in its index (its stored box is not asked: it may be older than the index). A
    // folder's index is brought up to date once per Select (its modification time checked).
    // A folder that cannot be read or indexed appears as one choice with the entry's path, so
    // the run reports it in its row like a file that cannot be opened; messages go to Meldungen.
    // A TIndexBeobachter passed as `beobachter` learns each folder before its Update.
    void Select(double xmin, double xmax, double ymin, double ymax, std::vector<TKachelWahl>& out,
                TOrdnerBeobachter* beobachter = nullptr);

    // Before a run reads a chosen folder tile: TOrdnerIndex::Pruefen. Updates w's extent;
    // returns the message (also kept for TakeMeldungen) or "". Nothing for a plain entry.
    std::string Pruefen(TKachelWahl& w);

    // Messages of indexing and checking since the last call (each once).
    std::vector<std::string> TakeMeldungen();

    // The index of entry i when it is a folder (opened on first use), else nullptr.
    TOrdnerIndex* Index(int eintrag);

    // Whether entry i was a folder when the catalogue was taken (one stat per entry then).
    bool IstOrdner(int eintrag) const;
    // Whether any entry is a folder: without one, Select is the plain box test alone.
    bool HatOrdner() const { return hatOrdner_; }

private:
    TOrdnerIndex* IndexLocked(int eintrag);
    void Fehlschlag(int eintrag, const std::string& meldung);

    TDateien kat_;
    std::vector<char> istOrdner_;       // by entry number, index 0 unused
    std::vector<char> unlesbar_;        // folder entries whose failure was reported
    bool hatOrdner_ = false;
    std::mutex mutex_;
    std::map<int, std::unique_ptr<TOrdnerIndex>> indizes_;
    std::vector<std::string> meldungen_;
};

}  // namespace tervalo
