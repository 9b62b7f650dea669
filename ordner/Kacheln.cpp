#include "ordner/Kacheln.h"

#include <sys/stat.h>

#include <exception>
#include <stdexcept>
#include <utility>

#include "query/Query.h"

namespace tervalo {

namespace {
constexpr const char* TextOrdnerNichtLesbar = "Ordner nicht lesbar: ";
}  // namespace

bool IsOrdnerEintrag(const std::string& pfad) {
    struct stat st{};
    return !pfad.empty() && ::stat(pfad.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TKachelKatalog::TKachelKatalog(const TDateien& kat) : kat_(kat) {
    const int n = kat_.Eintraege();
    istOrdner_.assign(static_cast<std::size_t>(n) + 1, 0);
    unlesbar_.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int i = 1; i <= n; ++i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        if (IsOrdnerEintrag(kat_.Datei[ix])) {
            istOrdner_[ix] = 1;
            hatOrdner_ = true;
        }
    }
}

TKachelKatalog::~TKachelKatalog() = default;

bool TKachelKatalog::IstOrdner(int eintrag) const {
    return eintrag >= 1 && static_cast<std::size_t>(eintrag) < istOrdner_.size() &&
           istOrdner_[static_cast<std::size_t>(eintrag)] != 0;
}

TOrdnerIndex* TKachelKatalog::IndexLocked(int eintrag) {
    if (!IstOrdner(eintrag)) return nullptr;
    auto it = indizes_.find(eintrag);
    if (it != indizes_.end()) return it->second.get();
    auto idx = std::make_unique<TOrdnerIndex>(kat_.Datei[static_cast<std::size_t>(eintrag)], kat_.Ordner);
    TOrdnerIndex* roh = idx.get();
    indizes_.emplace(eintrag, std::move(idx));
    return roh;
}

TOrdnerIndex* TKachelKatalog::Index(int eintrag) {
    std::lock_guard<std::mutex> lock(mutex_);
    return IndexLocked(eintrag);
}

// A folder that fails is reported once until it can be read again.
void TKachelKatalog::Fehlschlag(int eintrag, const std::string& meldung) {
    char& gemeldet = unlesbar_[static_cast<std::size_t>(eintrag)];
    if (gemeldet) return;
    gemeldet = 1;
    meldungen_.push_back(meldung);
}

void TKachelKatalog::Select(double xmin, double xmax, double ymin, double ymax, std::vector<TKachelWahl>& out,
                            TOrdnerBeobachter* beobachter) {
    out.clear();
    const int n = kat_.Eintraege();
    auto eintragWahl = [&](int i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        TKachelWahl w;
        w.Eintrag = i;
        w.Datei = kat_.Datei[ix];
        w.Xmin = kat_.Xmin[ix];
        w.Xmax = kat_.Xmax[ix];
        w.Ymin = kat_.Ymin[ix];
        w.Ymax = kat_.Ymax[ix];
        return w;
    };
    if (!hatOrdner_) {
        for (int i = 1; i <= n; ++i)
            if (TouchesEintrag(kat_, static_cast<std::size_t>(i), xmin, xmax, ymin, ymax)) out.push_back(eintragWahl(i));
        return;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TOrdnerKachel> gefunden;
    for (int i = 1; i <= n; ++i) {
        const std::size_t ix = static_cast<std::size_t>(i);
        if (!istOrdner_[ix]) {
            if (TouchesEintrag(kat_, ix, xmin, xmax, ymin, ymax)) out.push_back(eintragWahl(i));
            continue;
        }
        TOrdnerIndex* idx = nullptr;
        std::string fehler;
        try {
            // A folder removed since: its index would only answer from what it remembers.
            if (!IsOrdnerEintrag(kat_.Datei[ix])) throw std::runtime_error(kat_.Datei[ix]);
            idx = IndexLocked(i);
            if (auto* ib = dynamic_cast<TIndexBeobachter*>(beobachter)) ib->OrdnerBeginnt(kat_.Datei[ix]);
            TOrdnerStand stand = idx->Update(beobachter);
            for (auto& m : stand.Meldungen) meldungen_.push_back(std::move(m));
            gefunden.clear();
            idx->Find(xmin, xmax, ymin, ymax, gefunden);
        } catch (const std::exception&) {
            fehler = TextOrdnerNichtLesbar + kat_.Datei[ix];
        }
        if (!fehler.empty()) {
            // Selected by its stored box, like a file that cannot be opened.
            Fehlschlag(i, fehler);
            if (TouchesEintrag(kat_, ix, xmin, xmax, ymin, ymax)) {
                TKachelWahl w = eintragWahl(i);
                w.OrdnerUnlesbar = true;
                out.push_back(std::move(w));
            }
            continue;
        }
        unlesbar_[ix] = 0;
        for (TOrdnerKachel& k : gefunden) {
            TKachelWahl w;
            w.Eintrag = i;
            w.Datei = k.Pfad;
            w.Xmin = k.Xmin;
            w.Xmax = k.Xmax;
            w.Ymin = k.Ymin;
            w.Ymax = k.Ymax;
            w.AusOrdner = true;
            w.Kachel = std::move(k);
            out.push_back(std::move(w));
        }
    }
}

std::string TKachelKatalog::Pruefen(TKachelWahl& w) {
    if (!w.AusOrdner) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = indizes_.find(w.Eintrag);
    if (it == indizes_.end()) return {};
    std::string m = it->second->Pruefen(w.Kachel);
    w.Xmin = w.Kachel.Xmin;
    w.Xmax = w.Kachel.Xmax;
    w.Ymin = w.Kachel.Ymin;
    w.Ymax = w.Kachel.Ymax;
    if (!m.empty()) meldungen_.push_back(m);
    return m;
}

std::vector<std::string> TKachelKatalog::TakeMeldungen() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> m;
    m.swap(meldungen_);
    return m;
}

}  // namespace tervalo
