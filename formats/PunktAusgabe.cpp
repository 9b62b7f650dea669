#include "formats/PunktAusgabe.h"

#include "formats/TextPoints.h"
#include "tools/Tools.h"

namespace tervalo {

bool HasExtension(const std::string& path) {
    return FileNamePart(path).find('.') != std::string::npos;
}

std::string WithDefaultExtension(const std::string& path, const std::string& ext) {
    return HasExtension(path) ? path : path + ext;
}

std::optional<TAusgabeFormat> FormatOfExtension(const std::string& path) {
    const std::string name = FileNamePart(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == "xyz" || ext == "txt") return TAusgabeFormat::Xyz;
    if (ext == "csv") return TAusgabeFormat::Csv;
    if (ext == "dbf") return TAusgabeFormat::DBase;
    return std::nullopt;
}

TPunktAusgabe::TPunktAusgabe() = default;

TPunktAusgabe::~TPunktAusgabe() {
    // Not closed: the run failed. Its own error is the one to report; the file goes.
    Abandon();
}

void TPunktAusgabe::Abandon() noexcept {
    text_.reset();
    try {
        dbf_.Close();
    } catch (...) {
    }
    file_.reset();
}

void TPunktAusgabe::Open(const std::string& path, const TAusgabe& format, const TSchutz& schutz,
                        char decimalSeparator, const std::optional<TSpracheinstellung>& language) {
    Abandon();
    file_ = std::make_unique<TSichereDatei>(path, schutz);
    format_ = format.Format;
    sep_ = decimalSeparator;
    try {
        if (format_ == TAusgabeFormat::DBase) {
            if (language) dbf_.Language = *language;
            dbf_.CreateTable(*file_, format.DbfLevel, XyzFieldDefs());
            return;
        }
        text_ = std::make_unique<TPunktSchreiber>(*file_);
        if (format_ == TAusgabeFormat::Csv) text_->WriteCsvHeading();
    } catch (...) {
        Abandon();  // half made: not open
        throw;
    }
}

void TPunktAusgabe::Write(double x, double y, double z) {
    switch (format_) {
        case TAusgabeFormat::Xyz: text_->WriteXyz(x, y, z); break;
        case TAusgabeFormat::Csv: text_->WriteCsv(x, y, z, sep_); break;
        case TAusgabeFormat::DBase: dbf_.AppendRecord(x, y, z); break;
    }
}

uint64_t TPunktAusgabe::Mark() const {
    return format_ == TAusgabeFormat::DBase ? dbf_.RecordCount() : text_->Position();
}

void TPunktAusgabe::Rollback(uint64_t mark) {
    if (format_ == TAusgabeFormat::DBase)
        dbf_.DiscardRecordsAfter(static_cast<uint32_t>(mark));
    else
        text_->Truncate(mark);
}

bool TPunktAusgabe::Close(const TLaufEnde& end) {
    if (!file_) return false;
    const bool keep = !end.Cancelled || end.CancelKeepsOutput;
    const bool replace = !end.Error;
    if (!keep || (!replace && file_->TargetExisted())) {
        Abandon();
        return false;
    }
    if (text_) text_->Close();
    if (dbf_.IsOpen()) dbf_.Close();
    text_.reset();
    std::unique_ptr<TSichereDatei> file = std::move(file_);
    if (replace) {
        file->Commit();
        return true;
    }
    // Where a file appeared meanwhile, it stays.
    return file->CommitIfNew();
}

}  // namespace tervalo
