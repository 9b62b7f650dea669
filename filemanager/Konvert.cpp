#include "filemanager/Konvert.h"

#include <cerrno>
#include <stdexcept>

#include "formats/PunktQuelle.h"
#include "tools/Datei.h"
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

std::string KonvertTargetName(const std::string& sourceName) {
    std::string name = FileNamePart(sourceName);
    const std::size_t n = name.size();
    if (n > 3 && name[n - 3] == '.' && (name[n - 2] | 0x20) == 'g' && (name[n - 1] | 0x20) == 'z')
        name.resize(n - 3);
    return NameWithoutExt(name);
}

namespace {

class TKonvertRun {
public:
    TKonvertRun(const TRunOptions& opt, TKonvertObserver& obs)
        : obs_(obs), poll_(opt.Poll) {}

    void Read(TPunktQuelle& quelle, TPointOutput& out) {
        out_ = &out;
        if (quelle.IstDbase()) {
            if (quelle.Datensaetze() < 1) return;
            const double count = quelle.Datensaetze();
            quelle.Lies<TPunktZeilenRegel>([&](const auto& satz) {
                double x, y, z;
                // A record with a blank coordinate holds no point; it is passed over.
                if (satz.Punkt(x, y, z) == TBefund::Punkt) {
                    Take(x, y, z);
                    if (p_.Taken % 10 == 0) {
                        Shown();
                        int picture = static_cast<int>(static_cast<double>(satz.Nr) / count * 8);
                        if (picture > 7) picture = 7;
                        if (picture > p_.Picture) p_.Picture = picture;
                    }
                }
                return !Poll();
            });
            return;
        }
        quelle.Lies<TPunktZeilenRegel>([&](const auto& zeile) {
            double x, y, z;
            if (zeile.Punkt(x, y, z) == TBefund::Punkt && Take(x, y, z) && p_.Taken % 10 == 0) {
                Shown();
                if (p_.Taken % 1000 == 0) p_.Picture = (p_.Picture + 1) % 8;
            }
            return !Poll();
        });
    }

    const TKonvertProgress& Progress() const { return p_; }
    void Finish() { Shown(); }
    bool Cancelled() const { return cancelled_; }

private:
    void Shown() {
        p_.ShownTaken = p_.Taken;
        p_.ShownNotTaken = p_.NotTaken;
    }
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
    TDuplicateMemory memory_;  // every point written: one file can only repeat itself
    TPollTimer poll_;
    TPointOutput* out_ = nullptr;
    TKonvertProgress p_;
    bool cancelled_ = false;
};

}  // namespace

void CheckKonvertSource(const std::string& source) {
    int err = 0;
    OeffneZumLesen(source.c_str(), err);
    if (err != 0) throw EKonvertQuelle(ErrnoToFileError(err), ErrnoText(err) + ": " + source, err);
}

TKonvertResult Konvertieren(const std::string& source, const std::string& target,
                            const TAusgabe& format, const TRunOptions& options, const TSchutz& schutz,
                            TKonvertObserver& observer) {
    CheckKonvertSource(source);
    TKonvertResult r;
    TPunktQuelle quelle(source);
    r.SourceIsDbase = quelle.IstDbase();
    // Text to plain XYZ unpacks or normalises a tile; dBase to dBase and text to CSV stay refused.
    if (r.SourceIsDbase ? format.Format == TAusgabeFormat::DBase : format.Format == TAusgabeFormat::Csv)
        throw std::invalid_argument(r.SourceIsDbase ? "dBase tables convert to text only"
                                                    : "text files convert to dBase or XYZ only");
    TSchutz geschuetzt = schutz;
    geschuetzt.Quellen.push_back(source);

    // The source is open before anything happens to the target. Sources are only ever read.
    try {
        quelle.Oeffne();
    } catch (const EInOutError& e) {
        throw EKonvertQuelle(e.Code(), (e.Errno() != 0 ? ErrnoText(e.Errno()) : std::string(e.what())) + ": " + source,
                             e.Errno());
    }
    TPointOutput out;
    out.Open(target, format, options, geschuetzt);

    TKonvertRun run(options, observer);
    observer.Start(FileNamePart(target));
    observer.Progress(run.Progress());
    run.Read(quelle, out);
    r.Cancelled = run.Cancelled() || LastCancelCheck(options, observer);
    r.Kept = out.Close({r.Cancelled, false});
    run.Finish();
    r.Counts = run.Progress();
    observer.Progress(r.Counts);
    return r;
}

}  // namespace tervalo
