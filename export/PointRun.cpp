#include "export/PointRun.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "formats/TextPoints.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

bool HasExtension(const std::string& path) {
    return FileNamePart(path).find('.') != std::string::npos;
}

std::string WithDefaultExtension(const std::string& path, const std::string& ext) {
    return HasExtension(path) ? path : path + ext;
}

// --- duplicate memory ------------------------------------------------------------------

namespace {

// A NaN pattern marks a free slot; NaN points are never stored, so it cannot clash.
constexpr uint64_t kFreeBits = 0x7FF8'0000'DEAD'F00DULL;

inline uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return h;
}

inline uint64_t HashXY(double x, double y) {
    // -0.0 equals 0.0, so both must hash alike.
    if (x == 0.0) x = 0.0;
    if (y == 0.0) y = 0.0;
    return Mix(std::bit_cast<uint64_t>(x) ^ Mix(std::bit_cast<uint64_t>(y) + 0x9E3779B97F4A7C15ULL));
}

constexpr std::size_t kFirstCapacity = 1024;
// Beyond this a huge limit grows the table as it fills instead of allocating it up front.
constexpr std::size_t kMaxCapacity = std::size_t{1} << 22;

}  // namespace

void TDuplicateMemory::FreeSlots::operator()(Slot* p) const { std::free(p); }

// Look-ups hit the table at random: on Linux large pages spare most of the TLB misses.
std::unique_ptr<TDuplicateMemory::Slot[], TDuplicateMemory::FreeSlots> TDuplicateMemory::AllocateSlots(
    std::size_t count) {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    const std::size_t bytes = count * sizeof(Slot);
    void* p = nullptr;
    if (bytes >= kLargePage && bytes % kLargePage == 0) {
        p = std::aligned_alloc(kLargePage, bytes);
#ifdef __linux__
        if (p) madvise(p, bytes, MADV_HUGEPAGE);
#endif
    } else {
        p = std::malloc(bytes);
    }
    if (!p) throw std::bad_alloc();
    Slot* s = static_cast<Slot*>(p);
    for (std::size_t i = 0; i < count; ++i) s[i] = {std::bit_cast<double>(kFreeBits), 0.0};
    return std::unique_ptr<Slot[], FreeSlots>(s);
}

TDuplicateMemory::TDuplicateMemory(std::size_t limit) : limit_(limit) {
    // Sized for the whole limit at once (at most half full): growing by rehashing costs
    // more than the allocation.
    std::size_t cap = kFirstCapacity;
    while (cap < 2 * limit_ && cap < kMaxCapacity) cap *= 2;
    mask_ = cap - 1;
    slots_ = AllocateSlots(cap);
}

TDuplicateMemory::~TDuplicateMemory() = default;

std::size_t TDuplicateMemory::Find(double x, double y, bool& found) const {
    std::size_t i = HashXY(x, y) & mask_;
    for (;;) {
        const Slot& s = slots_[i];
        if (std::bit_cast<uint64_t>(s.x) == kFreeBits) {
            found = false;
            return i;
        }
        if (s.x == x && s.y == y) {
            found = true;
            return i;
        }
        i = (i + 1) & mask_;
    }
}

bool TDuplicateMemory::Contains(double x, double y) const {
    if (std::isnan(x) || std::isnan(y) || !InBox(x, y)) return false;  // NaN equals nothing
    bool found;
    Find(x, y, found);
    return found;
}

void TDuplicateMemory::Grow() {
    std::size_t oldCap = mask_ + 1;
    std::size_t cap = oldCap * 2;
    auto old = std::move(slots_);
    slots_ = AllocateSlots(cap);
    mask_ = cap - 1;
    for (std::size_t i = 0; i < oldCap; ++i) {
        if (std::bit_cast<uint64_t>(old[i].x) == kFreeBits) continue;
        bool found;
        std::size_t j = Find(old[i].x, old[i].y, found);
        slots_[j] = old[i];
    }
}

bool TDuplicateMemory::Insert(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) {
        if (inserted_ < limit_) ++inserted_;
        return true;
    }
    if (inserted_ >= limit_) {
        if (!InBox(x, y)) return true;
        bool found;
        Find(x, y, found);
        return !found;
    }
    bool found;
    std::size_t i = Find(x, y, found);
    if (found) return false;
    ++inserted_;
    // Keep the table at most half full so probes stay short.
    if ((stored_ + 1) * 2 > mask_ + 1) {
        Grow();
        i = Find(x, y, found);
    }
    slots_[i] = {x, y};
    if (stored_ == 0) {
        minX_ = maxX_ = x;
        minY_ = maxY_ = y;
    } else {
        minX_ = std::min(minX_, x), maxX_ = std::max(maxX_, x);
        minY_ = std::min(minY_, y), maxY_ = std::max(maxY_, y);
    }
    ++stored_;
    return true;
}

// --- output -------------------------------------------------------------------------------

TPointOutput::TPointOutput() = default;

TPointOutput::~TPointOutput() {
    // Not closed: the run failed. Its own error is the one to report; the file goes.
    text_.reset();
    try {
        dbf_.Close();
    } catch (...) {
    }
    file_.reset();
}

void TPointOutput::Open(const std::string& path, const TAusgabe& format, const TRunOptions& opt,
                        const TSchutz& schutz) {
    text_.reset();
    dbf_.Close();
    file_ = std::make_unique<TSafeFile>(path, schutz);
    format_ = format.Format;
    sep_ = opt.DecimalSeparator;
    if (format_ == TAusgabeFormat::DBase) {
        if (opt.Language) dbf_.Language = *opt.Language;
        dbf_.CreateTable(*file_, format.DbfLevel, XyzFieldDefs());
        dbf_.OpenShared(*file_);
        return;
    }
    text_ = std::make_unique<TextPointWriter>(*file_);
    if (format_ == TAusgabeFormat::Csv) text_->WriteCsvHeading();
}

void TPointOutput::Write(double x, double y, double z) {
    switch (format_) {
        case TAusgabeFormat::Xyz: text_->WriteXyz(x, y, z); break;
        case TAusgabeFormat::Csv: text_->WriteCsv(x, y, z, sep_); break;
        case TAusgabeFormat::DBase: dbf_.AppendRecord(x, y, z); break;
    }
}

void TPointOutput::Close() {
    if (!file_) return;
    if (text_) text_->Close();
    if (dbf_.IsOpen()) dbf_.Close();
    text_.reset();
    std::unique_ptr<TSafeFile> file = std::move(file_);
    file->Commit();
}

}  // namespace tervalo
