#include "query/BatchCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "query/BatchThreads.h"

namespace tervalo {

TBatchDatei& TKachelCache::File(const std::string& pfad) {
    auto& f = dateien_[pfad];
    if (!f) {
        f = std::make_unique<TBatchDatei>();
        f->pfad = pfad;
    }
    return *f;
}

namespace {
constexpr std::size_t kMiB = std::size_t{1} << 20;
}

TKachelCache::TKachelCache(double zelle, std::optional<double> noData, std::optional<int> system) {
    art_.zelle = zelle;
    art_.noData = noData;
    art_.system = system;
    art_.vorRaster = [this] { PrepareRasterCache(); };
    SetBudget(0);
}

void TKachelCache::SetBudget(std::size_t bytes) {
    rasterCache_ = bytes == 0 ? 8 * kMiB : std::clamp<std::size_t>(bytes / 16, kMiB / 4, 8 * kMiB);
    bound_ = bytes;
    {
        const std::lock_guard<std::mutex> sperre(rasterCacheMutex_);
        rasterCacheGesetzt_ = false;
    }
    // Only a program that has met a raster has GDAL loaded; no other loads it for this.
    if (raster::ModulGeladen()) PrepareRasterCache();
    Tick();  // nothing is needed now
    Evict();
}

void TKachelCache::PrepareRasterCache() {
    const std::lock_guard<std::mutex> sperre(rasterCacheMutex_);
    if (rasterCacheGesetzt_) return;
    raster::SetCacheGroesse(static_cast<int64_t>(rasterCache_));
    rasterCacheGesetzt_ = true;
    rasterGelesen_ = true;
}

// About 28 bytes of points for a line of 37 bytes. A raster's grid is mostly larger than its
// file: four times for a GeoTIFF (packed, or of narrower values than the float kept), and
// about the file's size for an ASCII grid (a value of eight characters or more kept as double).
std::size_t TKachelCache::Estimate(TBatchDatei& f) {
    if (f.schaetzung == 0) {
        struct stat st {};
        if (::stat(f.pfad.c_str(), &st) != 0 || st.st_size <= 0) {
            f.schaetzung = 1;
            return f.schaetzung;
        }
        const std::size_t groesse = static_cast<std::size_t>(st.st_size);
        unsigned char kopf[RasterKopfBytes];
        std::size_t n = 0;
        if (std::FILE* d = std::fopen(f.pfad.c_str(), "rb")) {
            n = std::fread(kopf, 1, sizeof kopf, d);
            std::fclose(d);
        }
        switch (RasterArtVon(kopf, n)) {
            case TRasterArt::GeoTiff: f.schaetzung = groesse * 4; break;
            case TRasterArt::AsciiGrid: f.schaetzung = groesse; break;
            case TRasterArt::Keine: f.schaetzung = groesse / 4 * 3; break;
        }
        f.schaetzung = std::max<std::size_t>(f.schaetzung, 1);
    }
    return f.schaetzung;
}

void TKachelCache::Evict(std::size_t frei) {
    const std::size_t budget = Budget();
    while (budget > 0 && belegt_ + frei > budget) {
        TBatchDatei* alt = nullptr;
        for (auto& [pfad, f] : dateien_)
            if (f->Loaded() && f->zuletzt < uhr_ && f->Bytes() > 0 && (!alt || f->zuletzt < alt->zuletzt))
                alt = f.get();
        if (!alt) return;
        belegt_ -= alt->Bytes();
        --gehalten_;
        alt->kachel.reset();  // a reader still holding it keeps it alive
    }
}

// A file being read holds about its tile's size again: with a memory bound, read at most so
// many at once that this stays within half the bound.
int TKachelCache::ReadersAtOnce(const std::vector<TBatchDatei*>& fehlend, int threads) {
    int zugleich = std::min<int>(threads, static_cast<int>(fehlend.size()));
    const std::size_t budget = Budget();
    if (budget == 0) return zugleich;
    std::size_t groesste = 1;
    for (TBatchDatei* f : fehlend) groesste = std::max(groesste, Estimate(*f));
    return static_cast<int>(std::clamp<std::size_t>(budget / 2 / groesste, 1, static_cast<std::size_t>(zugleich)));
}

void TKachelCache::Prepare(const std::vector<TBatchDatei*>& noetig, int threads,
                           const std::function<void()>& zwischendurch) {
    Tick();
    std::vector<TBatchDatei*> fehlend;
    std::size_t dazu = 0;
    for (TBatchDatei* f : noetig) {
        f->zuletzt = uhr_;
        if (!f->Loaded()) {
            fehlend.push_back(f);
            dazu += Estimate(*f);
        }
    }
    if (fehlend.empty()) return;
    Evict(dazu);
    std::vector<TLesung> neu(fehlend.size());
    Read(fehlend, neu, ReadersAtOnce(fehlend, threads), zwischendurch);
    Adopt(fehlend, neu);
    Evict();
}

void TKachelCache::Read(const std::vector<TBatchDatei*>& dateien, std::vector<TLesung>& neu, int n,
                        const std::function<void()>& zwischendurch) {
    std::atomic<std::size_t> naechste{0};
    RunOnThreads(n, [&](int nr) {
        for (std::size_t i; (i = naechste++) < dateien.size();) {
            neu[i] = ReadTile(dateien[i]->pfad, art_);
            ++lesungen_;
            if (nr == 0 && zwischendurch) zwischendurch();
        }
    });
}

void TKachelCache::Adopt(const std::vector<TBatchDatei*>& ziele, std::vector<TLesung>& neu) {
    for (std::size_t i = 0; i < ziele.size(); ++i) {
        TBatchDatei& f = *ziele[i];
        if (f.Loaded()) --gehalten_;  // read again over a tile still held
        f.befund = std::move(neu[i].befund);
        f.kachel = std::move(neu[i].kachel);
        f.zuletzt = uhr_;
        f.jeGelesen = true;
        f.schaetzung = std::max<std::size_t>(f.Bytes(), 1);
        belegt_ += f.Bytes();
        if (f.Loaded()) ++gehalten_;
    }
}

int TKachelCache::DistinctReads() const {
    int n = 0;
    for (const auto& [pfad, f] : dateien_) n += f->jeGelesen;
    return n;
}

std::size_t TKachelCache::HeldPoints() const {
    std::size_t n = 0;
    for (const auto& [pfad, f] : dateien_)
        if (f->kachel) n += TilePoints(*f->kachel);
    return n;
}

}  // namespace tervalo
