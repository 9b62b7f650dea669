#include "filemanager/Konvert.h"

#include <optional>
#include <stdexcept>

#include "formats/DbfFile.h"
#include "formats/TextPoints.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace tervalo {

TAusgabe KonvertTargetFromFilter(bool sourceIsDbase, int filterIndex) {
    if (sourceIsDbase) return {filterIndex == 2 ? TAusgabeFormat::Csv : TAusgabeFormat::Xyz, 3};
    switch (filterIndex) {
        case 2: return {TAusgabeFormat::DBase, 4};
        case 3: return {TAusgabeFormat::DBase, 7};
        default: return {TAusgabeFormat::DBase, 3};
    }
}

std::string KonvertTargetPath(const std::string& chosen, const TAusgabe& target) {
    switch (target.Format) {
        case TAusgabeFormat::Csv: return WithDefaultExtension(chosen, ".csv");
        case TAusgabeFormat::DBase: return WithDefaultExtension(chosen, ".dbf");
        default: return WithDefaultExtension(chosen, ".xyz");
    }
}

namespace {

class TKonvertRun {
public:
    TKonvertRun(const TRunOptions& opt, TKonvertObserver& obs)
        : obs_(obs), memory_(opt.DuplicateLimit), poll_(opt.Poll) {}

    void FromDbase(const std::string& source, TPointOutput& out) {
        out_ = &out;
        // Sources are only ever read; the table is opened read-only.
        TDbfFile dbf;
        dbf.OpenRead(source);
        if (dbf.RecordCount() < 1) return;
        dbf.First();
        const double count = dbf.RecordCount();
        while (!dbf.AtEnd()) {
            std::optional<double> x = dbf.FieldAsNumber(0);
            std::optional<double> y = dbf.FieldAsNumber(1);
            std::optional<double> z = dbf.FieldAsNumber(2);
            // A record with a blank coordinate holds no point; it is passed over.
            if (x && y && z) {
                Take(*x, *y, *z);
                if (p_.Taken % 10 == 0) {
                    int picture = static_cast<int>(dbf.RecordNumber() / count * 8);
                    if (picture > 7) picture = 7;
                    if (picture > p_.Picture) p_.Picture = picture;
                }
            }
            dbf.Next();
            if (Poll()) break;
        }
    }

    // False when the source cannot be opened.
    bool FromText(const std::string& source, TPointOutput& out) {
        out_ = &out;
        std::optional<TextLineReader> text;
        try {
            text.emplace(source);
        } catch (const EInOutError&) {
            return false;
        }
        std::string_view line;
        while (text->ReadLine(line)) {
            std::string_view t = TrimLeading(line);
            double x, y, z;
            if (!t.empty() && ReadPointLine(t, x, y, z) && Take(x, y, z) && p_.Taken % 1000 == 0)
                p_.Picture = (p_.Picture + 1) % 8;
            if (Poll()) break;
        }
        return true;
    }

    const TKonvertProgress& Progress() const { return p_; }
    bool Cancelled() const { return cancelled_; }

private:
    // True when the point was written.
    bool Take(double x, double y, double z) {
        if (!memory_.Insert(x, y)) {
            ++p_.NotTaken;
            return false;
        }
        ++p_.Taken;
        out_->Write(x, y, z);
        return true;
    }

    bool Poll() {
        if (!poll_.Due()) return false;
        obs_.Progress(p_);
        if (obs_.CancelCheck()) cancelled_ = true;
        return cancelled_;
    }

    TKonvertObserver& obs_;
    TDuplicateMemory memory_;
    TPollTimer poll_;
    TPointOutput* out_ = nullptr;
    TKonvertProgress p_;
    bool cancelled_ = false;
};

}  // namespace

TKonvertResult Konvertieren(const std::string& source, const std::string& target,
                            const TAusgabe& format, const TRunOptions& options,
                            TKonvertObserver& observer) {
    TKonvertResult r;
    r.SourceIsDbase = IsDbaseFile(source);
    if (r.SourceIsDbase == (format.Format == TAusgabeFormat::DBase))
        throw std::invalid_argument(r.SourceIsDbase ? "dBase tables convert to text only"
                                                    : "text files convert to dBase only");
    CheckNotASource(target, source);
    TKonvertRun run(options, observer);
    observer.Start(FileNamePart(target));
    observer.Progress(run.Progress());
    {
        TPointOutput out;
        r.TargetCreated = out.Open(target, format, options);
        if (r.TargetCreated) {
            if (r.SourceIsDbase) {
                run.FromDbase(source, out);
                r.SourceOpened = true;
            } else {
                r.SourceOpened = run.FromText(source, out);
            }
            out.Close();
        }
    }
    r.Counts = run.Progress();
    r.Cancelled = run.Cancelled();
    observer.Progress(r.Counts);
    return r;
}

}  // namespace tervalo
