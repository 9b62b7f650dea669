#include "filemanager/Konvert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

    void FromDbase(TDbfFile& dbf, TPointOutput& out) {
        out_ = &out;
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
                    Shown();
                    int picture = static_cast<int>(dbf.RecordNumber() / count * 8);
                    if (picture > 7) picture = 7;
                    if (picture > p_.Picture) p_.Picture = picture;
                }
            }
            dbf.Next();
            if (Poll()) break;
        }
    }

    void FromText(TextLineReader& text, TPointOutput& out) {
        out_ = &out;
        std::string_view line;
        while (text.ReadLine(line)) {
            std::string_view t = TrimLeading(line);
            double x, y, z;
            if (!t.empty() && ReadPointLine(t, x, y, z) && Take(x, y, z) && p_.Taken % 10 == 0) {
                Shown();
                if (p_.Taken % 1000 == 0) p_.Picture = (p_.Picture + 1) % 8;
            }
            if (Poll()) break;
        }
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
    TDuplicateMemory memory_;
    TPollTimer poll_;
    TPointOutput* out_ = nullptr;
    TKonvertProgress p_;
    bool cancelled_ = false;
};

}  // namespace

void CheckKonvertSource(const std::string& source) {
    int fd;
    do {
        fd = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO must not block
    } while (fd < 0 && errno == EINTR);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) err = errno;
        else if (S_ISDIR(st.st_mode)) err = EISDIR;
        else if (!S_ISREG(st.st_mode)) err = EACCES;  // pipes and devices hold no points
        ::close(fd);
    }
    if (err != 0) throw EKonvertQuelle(ErrnoToFileError(err), ErrnoText(err) + ": " + source, err);
}

TKonvertResult Konvertieren(const std::string& source, const std::string& target,
                            const TAusgabe& format, const TRunOptions& options, const TSchutz& schutz,
                            TKonvertObserver& observer) {
    CheckKonvertSource(source);
    TKonvertResult r;
    r.SourceIsDbase = IsDbaseFile(source);
    if (r.SourceIsDbase == (format.Format == TAusgabeFormat::DBase))
        throw std::invalid_argument(r.SourceIsDbase ? "dBase tables convert to text only"
                                                    : "text files convert to dBase only");
    TSchutz geschuetzt = schutz;
    geschuetzt.Quellen.push_back(source);

    // The source is open before anything happens to the target. Sources are only ever read.
    TDbfFile dbf;
    std::optional<TextLineReader> text;
    try {
        if (r.SourceIsDbase)
            dbf.OpenRead(source);
        else
            text.emplace(source);
    } catch (const EInOutError& e) {
        throw EKonvertQuelle(e.Code(), (e.Errno() != 0 ? ErrnoText(e.Errno()) : std::string(e.what())) + ": " + source,
                             e.Errno());
    }
    TPointOutput out;
    out.Open(target, format, options, geschuetzt);

    TKonvertRun run(options, observer);
    observer.Start(FileNamePart(target));
    observer.Progress(run.Progress());
    if (r.SourceIsDbase)
        run.FromDbase(dbf, out);
    else
        run.FromText(*text, out);
    out.Close();
    run.Finish();
    r.Counts = run.Progress();
    r.Cancelled = run.Cancelled();
    observer.Progress(r.Counts);
    return r;
}

}  // namespace tervalo
