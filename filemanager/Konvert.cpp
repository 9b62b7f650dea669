#include "filemanager/Konvert.h"

#include <cerrno>
#include <stdexcept>

#include "formats/PunktQuelle.h"
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
    TKonvertRun(const TLaufOptionen& opt, TKonvertBeobachter& obs) : obs_(obs), run_(opt, obs) {}

    void Open(const std::string& target, const TAusgabe& format, const TSchutz& schutz) {
        run_.Open(target, format, schutz);
    }

    void Read(TPunktQuelle& quelle) {
        if (quelle.IsDbase()) {
            if (quelle.RecordCount() < 1) return;
            const double count = quelle.RecordCount();
            quelle.Read<TPunktZeilenRegel>([&](const auto& satz) __attribute__((always_inline)) {
                double x, y, z;
                // A record with a blank coordinate holds no point; it is passed over.
                if (satz.Punkt(x, y, z) == TBefund::Punkt) {
                    run_.Take(x, y, z);
                    if (run_.Written() % 10 == 0) {
                        Shown();
                        int picture = static_cast<int>(static_cast<double>(satz.Nr) / count * 8);
                        if (picture > 7) picture = 7;
                        if (picture > picture_) picture_ = picture;
                    }
                }
                return !Poll();
            });
            return;
        }
        quelle.Read<TPunktZeilenRegel>([&](const auto& zeile) __attribute__((always_inline)) {
            double x, y, z;
            if (zeile.Punkt(x, y, z) == TBefund::Punkt && run_.Take(x, y, z) && run_.Written() % 10 == 0) {
                Shown();
                if (run_.Written() % 1000 == 0) picture_ = (picture_ + 1) % 8;
            }
            return !Poll();
        });
    }

    TKonvertFortschritt Progress() const {
        return {run_.Written(), run_.Duplicates(), picture_, shownTaken_, shownNotTaken_};
    }
    // Ends the run (TPunktLauf::Finish); the final counts are shown. Returns whether the target
    // now holds the converted points.
    bool Finish() {
        const bool kept = run_.Finish(false);
        Shown();
        return kept;
    }
    bool Cancelled() const { return run_.Cancelled(); }

private:
    void Shown() {
        shownTaken_ = run_.Written();
        shownNotTaken_ = run_.Duplicates();
    }
    bool Poll() {
        return run_.Poll([&] { obs_.Progress(Progress()); });
    }

    TKonvertBeobachter& obs_;
    TPunktLauf run_;  // its duplicate memory holds every point written: one file can only repeat itself
    int picture_ = 0;
    int32_t shownTaken_ = 0;
    int32_t shownNotTaken_ = 0;
};

}  // namespace

void CheckKonvertSource(const TPunktQuelle& quelle) {
    if (const int err = quelle.Fehler())
        throw EKonvertQuelle(ErrnoToFileError(err), ErrnoText(err) + ": " + quelle.Angegeben(), err);
}

TKonvertErgebnis Konvertieren(const std::string& source, const std::string& target,
                            const TAusgabe& format, const TLaufOptionen& options, const TSchutz& schutz,
                            TKonvertBeobachter& observer, std::optional<double> noData) {
    TPunktQuelle quelle(source);
    quelle.SetNoData(noData);
    return Konvertieren(quelle, target, format, options, schutz, observer);
}

TKonvertErgebnis Konvertieren(TPunktQuelle& quelle, const std::string& target, const TAusgabe& format,
                            const TLaufOptionen& options, const TSchutz& schutz, TKonvertBeobachter& observer) {
    CheckKonvertSource(quelle);
    const std::string& source = quelle.Angegeben();
    TKonvertErgebnis r;
    r.SourceIsDbase = quelle.IsDbase();
    // Text to plain XYZ unpacks or normalises a tile; dBase to dBase and text to CSV stay refused.
    // A raster goes into any of the three: each is a new form of its points.
    if (!quelle.IsRaster() &&
        (r.SourceIsDbase ? format.Format == TAusgabeFormat::DBase : format.Format == TAusgabeFormat::Csv))
        throw std::invalid_argument(r.SourceIsDbase ? "dBase tables convert to text only"
                                                    : "text files convert to dBase or XYZ only");
    TSchutz geschuetzt = schutz;
    geschuetzt.Quellen.push_back(source);

    // The source is open before anything happens to the target. Sources are only ever read.
    try {
        (void)quelle.Open();  // its open failure was reported above
    } catch (const EInOutError& e) {
        throw EKonvertQuelle(e.Code(), (e.Errno() != 0 ? ErrnoText(e.Errno()) : std::string(e.what())) + ": " + source,
                             e.Errno());
    }
    TKonvertRun run(options, observer);
    run.Open(target, format, geschuetzt);
    observer.Start(FileNamePart(target));
    observer.Progress(run.Progress());
    run.Read(quelle);
    r.Kept = run.Finish();
    r.Cancelled = run.Cancelled();
    r.Counts = run.Progress();
    observer.Progress(r.Counts);
    return r;
}

}  // namespace tervalo
