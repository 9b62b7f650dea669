#pragma once
// The batch's memory of files: every catalogued path once, its tile kept while the memory
// bound leaves room, the least recently needed let go of first and read again when needed.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "query/BatchLaden.h"

namespace tervalo {

// A catalogued file as the batch holds it. Everything but the tile is kept while the tile is
// let go of.
struct TBatchDatei {
    std::string pfad;
    TDateiBefund befund;                    // as last read
    std::shared_ptr<const TKachel> kachel;  // null while not loaded
    std::string gemeldet;                   // the message last given for it
    bool jeGelesen = false;
    uint64_t zuletzt = 0;                   // the batch that last needed it
    std::size_t schaetzung = 0;  // bytes its tile takes, as last loaded or guessed; 0: unknown
    uint64_t marke = 0;                     // planning mark
    bool geprueft = false;                  // a folder tile: checked against its index once

    bool Loaded() const { return kachel != nullptr; }
    std::size_t Bytes() const { return kachel ? TileBytes(*kachel) : 0; }
};

// Called from a single thread (the engine's calling one); only Read runs on several.
class TKachelCache {
public:
    // A point whose height is noData is no point, as in the query.
    // A raster whose own system is not `system` gets the query's note on its rows.
    TKachelCache(double zelle, std::optional<double> noData, std::optional<int> system = std::nullopt);

    // The file of that path, made known on first use.
    TBatchDatei& File(const std::string& pfad);

    // Keeps at most about that many bytes of tiles and, once a raster was read, GDAL's block
    // cache together (0: no bound for the tiles). The block cache gets a sixteenth of it, at
    // least 256 KiB and at most 8 MiB: grids are read once, a block row of a few blocks at a
    // time on each thread, so it never needs more.
    void SetBudget(std::size_t bytes);
    // Bytes of tiles kept at most (the bound, less the block cache once a raster was read);
    // 0: no bound.
    std::size_t Budget() const {
        if (bound_ == 0) return 0;
        if (!rasterGelesen_.load(std::memory_order_relaxed)) return bound_;
        return bound_ > rasterCache_ ? bound_ - rasterCache_ : std::max<std::size_t>(1, bound_ / 2);
    }
    // GDAL's block cache as the bound gives it, set when the first raster is read.
    std::size_t RasterCache() const { return rasterCache_; }
    std::size_t UsedBytes() const { return belegt_; }
    // Starts a new batch: what was needed before is not needed now.
    void Tick() { ++uhr_; }
    // A planning mark no file carries yet.
    uint64_t NewMark() { return ++planung_; }

    // What a file's tile will take, for planning: as when last loaded, or guessed from the
    // file's size.
    static std::size_t Estimate(TBatchDatei& f);

    // Makes the files loaded, reading the missing ones on up to `threads` threads, after
    // letting go of others as the budget asks. zwischendurch(), when given, is called on the
    // calling thread after each file it read.
    void Prepare(const std::vector<TBatchDatei*>& noetig, int threads,
                 const std::function<void()>& zwischendurch = {});

    // Reads the files into `neu` on n threads; touches nothing else (so it may run beside
    // answering threads and the other calls here, except Adopt of the same files).
    void Read(const std::vector<TBatchDatei*>& dateien, std::vector<TLesung>& neu, int n,
              const std::function<void()>& zwischendurch = {});
    // Keeps what Read read, as needed by the current batch.
    void Adopt(const std::vector<TBatchDatei*>& ziele, std::vector<TLesung>& neu);

    int DistinctReads() const;  // paths read at least once
    int Reads() const { return lesungen_.load(); }
    std::size_t HeldPoints() const;
    std::size_t HeldTiles() const { return gehalten_; }

private:
    // Lets go of the least recently used tiles not needed now until `frei` more bytes fit
    // the budget.
    void Evict(std::size_t frei = 0);
    int ReadersAtOnce(const std::vector<TBatchDatei*>& fehlend, int threads);

    // Gives GDAL's block cache its bound, once after SetBudget, when a raster is first read.
    void PrepareRasterCache();

    TLeseArt art_;
    std::mutex rasterCacheMutex_;
    bool rasterCacheGesetzt_ = false;
    std::size_t rasterCache_ = 0;
    std::map<std::string, std::unique_ptr<TBatchDatei>> dateien_;
    std::size_t bound_ = 0;           // bytes of tiles and block cache kept at most; 0: no bound
    std::atomic<bool> rasterGelesen_{false};
    std::size_t belegt_ = 0;          // bytes of tiles held now
    std::size_t gehalten_ = 0;        // tiles held now
    std::atomic<int> lesungen_{0};    // files read, a file read again counted again
    uint64_t uhr_ = 0;                // counts the batches, for least-recently-used
    uint64_t planung_ = 0;
};

}  // namespace tervalo
