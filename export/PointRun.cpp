#include "export/PointRun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

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
// Beyond this a huge limit grows the table as it fills instead of allocating it up front.
constexpr std::size_t kMostUpFront = std::size_t{1} << 21;
}  // namespace

// Sized for the whole limit at once: growing by rehashing costs more than the allocation.
TDuplicateMemory::TDuplicateMemory(std::size_t limit)
    : limit_(limit), set_(std::clamp<std::size_t>(limit, 512, kMostUpFront)) {}

bool TDuplicateMemory::Contains(double x, double y) const {
    return InBox(x, y) && set_.Contains(x, y);  // a NaN is in no box
}

bool TDuplicateMemory::Insert(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) {
        if (inserted_ < limit_) ++inserted_;
        return true;
    }
    if (inserted_ >= limit_) return !InBox(x, y) || !set_.Contains(x, y);
    if (!set_.Insert(x, y)) return false;
    ++inserted_;
    if (set_.Size() == 1) {
        minX_ = maxX_ = x;
        minY_ = maxY_ = y;
    } else {
        minX_ = std::min(minX_, x), maxX_ = std::max(maxX_, x);
        minY_ = std::min(minY_, y), maxY_ = std::max(maxY_, y);
    }
    return true;
}

// --- output -------------------------------------------------------------------------------

TPointOutput::TPointOutput() = default;

TPointOutput::~TPointOutput() {
    // Not closed: the run failed. Its own error is the one to report; the file goes.
    Abandon();
}

void TPointOutput::Abandon() noexcept {
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
    cancelKeeps_ = opt.CancelKeepsOutput;
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

bool TPointOutput::Close(const TRunEnd& end) {
    if (!file_) return false;
    const bool keep = !end.Cancelled || cancelKeeps_;
    const bool replace = !end.Error;
    if (!keep || (!replace && file_->TargetExisted())) {
        Abandon();
        return false;
    }
    if (text_) text_->Close();
    if (dbf_.IsOpen()) dbf_.Close();
    text_.reset();
    std::unique_ptr<TSafeFile> file = std::move(file_);
    if (replace) {
        file->Commit();
        return true;
    }
    // Where a file appeared meanwhile, it stays.
    return file->CommitIfNew();
}

}  // namespace tervalo
