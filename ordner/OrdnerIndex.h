#pragma once
// The index of a folder entry: each tile of the folder with its extent, in an SQLite database
// under the index folder (never inside the data folder, which may be read-only). An R*Tree of
// 32-bit boxes rounded outwards finds the candidates; every hit is checked against the exact
// extent. SQLite's locking and atomic commit let several programs use one index at once; an
// unreadable, damaged or foreign index is rebuilt, never trusted.
//
// Threads: one object may be used from several threads; its calls are serialised.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/TYPEN.h"
#include "tools/Rueckmeldung.h"

namespace tervalo {

// Where a tile's extent comes from.
enum class TAusdehnungsQuelle : unsigned char {
    Name,    // its name (the km square, with the zone prefix when its first point carries one)
    Raster,  // a raster's header (pixel centres), no pixel read
    Scan,    // every point read (also a name-derived extent the points did not keep to)
    Leer,    // read, no accepted point: never found by Find
    Fehler,  // could not be read when indexed: never found by Find; looked at again on Update
};

struct TOrdnerKachel {
    int64_t Id = 0;           // the index's key of the tile
    std::string Relativ;      // path below the folder, "/" as separator
    std::string Pfad;         // folder + "/" + Relativ, the path to open
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;  // exact extent
    TAusdehnungsQuelle Quelle = TAusdehnungsQuelle::Scan;
    // A name-derived extent that all of the tile's points were checked against.
    bool Geprueft = false;
    uint64_t Groesse = 0;     // size and modification time (ns) when it was indexed
    int64_t Zeit = 0;
};

// Progress of Update: called on the calling thread only.
class TOrdnerBeobachter : public TRueckmeldung {
public:
    // `fertig` of `gesamt` tiles looked at (names, headers and scans together).
    virtual void Fortschritt(std::size_t fertig, std::size_t gesamt) { (void)fertig, (void)gesamt; }
};

// What Update did.
struct TOrdnerStand {
    std::size_t Kacheln = 0;        // tiles in the index now (Leer and Fehler included)
    std::size_t Neu = 0, Geaendert = 0, Entfernt = 0;
    bool Gelistet = false;          // the folder was listed again
    bool Abgebrochen = false;       // cancelled: what was done is kept, the next Update goes on
    // German messages: tiles that could not be read, names that lie (see Pruefen), an index
    // that was rebuilt, an index folder that cannot be written (the index is then kept in
    // memory for this object's life).
    std::vector<std::string> Meldungen;
};

// The message for a tile whose points lie outside the extent its name gives.
std::string NamensLuegeMeldung(const std::string& pfad);

// Whether an index message only informs: the index was made anew or is kept in memory, or a
// name lied and the tile's read extent holds from now on. The answers are complete all the same.
bool IsIndexHinweis(const std::string& meldung);

// The index file of a folder: indexOrdner + "ordner-" + 16 hex digits of a hash of the
// folder's absolute path + ".sqlite". The folder path is stored inside and compared on open.
std::string IndexDateiFor(const std::string& indexOrdner, const std::string& ordnerAbsolut);

class TOrdnerIndex {
public:
    // Opens the index of `ordner` (made absolute, symbolic links resolved, no "/" at the end)
    // for these options, creating it (and the index folder, 0700) when missing. Opening does
    // not list the folder: call Update. An index of other options is emptied and built anew by
    // Update (no message: nothing was wrong with it). An index folder inside the folder itself
    // counts as not writable.
    // Throws EInOutError (German, naming the folder) when `ordner` is no readable folder.
    TOrdnerIndex(const std::string& ordner, const TOrdnerOptionen& optionen);
    ~TOrdnerIndex();
    TOrdnerIndex(const TOrdnerIndex&) = delete;
    TOrdnerIndex& operator=(const TOrdnerIndex&) = delete;

    const std::string& Ordner() const;     // absolute, no "/" at the end
    const std::string& IndexDatei() const; // "" when kept in memory

    // Brings the index up to date. Lists the folder (and with Unterordner its subfolders)
    // again only when a folder's modification time differs from the stored one, or on the
    // first call, or with `vollstaendig`, which also compares every tile's size and time. New
    // and changed tiles get their extent: from the name (and their first point, for the zone
    // prefix; a first point outside the name's square makes it a Scan), a raster's header, or
    // a scan; the scans run on every core. Cancel (CancelCheck) keeps what is done; the folder
    // counts as listed only when all of it was looked at. A folder whose time was less than two
    // seconds old when it was listed is listed again by the next Update (a change made right
    // after the listing may not move its time); tests set old times (utimensat) to avoid that.
    // Tiles that could not be read (Fehler) are tried again on every Update.
    TOrdnerStand Update(TOrdnerBeobachter* beobachter = nullptr, bool vollstaendig = false);

    // The tiles whose exact extent touches the rectangle (closed intervals), in byte order
    // of Relativ. Leer and Fehler tiles are never returned.
    void Find(double xmin, double xmax, double ymin, double ymax, std::vector<TOrdnerKachel>& out) const;
    // Every tile, in byte order of Relativ (Leer and Fehler included).
    std::vector<TOrdnerKachel> All() const;
    std::size_t Count() const;  // every tile, Leer and Fehler included
    // The union of the extents Find can return; empty when there is none.
    struct TBox {
        double Xmin, Xmax, Ymin, Ymax;
    };
    std::optional<TBox> Union() const;

    // Before a run reads a tile found by Find: when its size or modification time differ
    // from the stored ones, its extent is taken anew (as Update does for one tile); a tile
    // with a name-derived extent not yet checked is scanned once, and when its points leave
    // the name's square its scanned extent is stored and the message (NamensLuegeMeldung) is
    // returned. Returns "" otherwise. `k` receives the tile as stored now; a tile that is gone
    // gets Quelle Fehler.
    std::string Pruefen(TOrdnerKachel& k);

private:
    void FindUnsicher(double xmin, double xmax, double ymin, double ymax, std::vector<TOrdnerKachel>& out) const;
    std::vector<TOrdnerKachel> AllUnsicher() const;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tervalo
