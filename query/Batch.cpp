#include "query/Batch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <set>

#include "query/BatchAntwort.h"
#include "query/BatchCache.h"
#include "query/BatchPlan.h"
#include "query/BatchThreads.h"

namespace tervalo {

namespace {

bool GleicheBox(const TKachelWahl& a, const TKachelWahl& b) {
    return a.Xmin == b.Xmin && a.Xmax == b.Xmax && a.Ymin == b.Ymin && a.Ymax == b.Ymax;
}

}  // namespace

struct TBatchAbfrage::Impl {
    Impl(double zelle, const TDateien& kat) : cache(zelle, kat.NoData, kat.System), katalog(kat) {}

    TKachelCache cache;
    TKachelKatalog katalog;  // made once: a folder's index stays open from call to call
    TAuswahl auswahl;
    double potenz = 0;
    std::vector<std::string> meldungen;  // not yet fetched by TakeMessages
    std::set<std::string> indexGemeldet; // the index's messages given so far
    int threads = 1;
    TUmfang umfang = TUmfang::Voll;
    bool absteigend = false;             // every other call groups in reverse
    std::vector<TArbeitsspeicher> arbeit;  // one per answering thread

    void TakeIndexMessages() {
        for (std::string& m : katalog.TakeMeldungen())
            if (indexGemeldet.insert(m).second) meldungen.push_back(std::move(m));
    }

    // The tiles of the rectangle, as the catalogue chooses them.
    void Choose(double xmin, double xmax, double ymin, double ymax) {
        std::vector<TKachelWahl> wahl;
        try {
            katalog.Select(xmin, xmax, ymin, ymax, wahl);
        } catch (...) {
            TakeIndexMessages();
            throw;
        }
        TakeIndexMessages();
        auswahl.Assign(std::move(wahl), cache);
    }

    // Checks the folder tiles the plan needs before any is read (each once for this engine).
    // Returns whether one of them now has another extent: the choice is then made again, so
    // that every point meets it where it really lies.
    bool Check(const TBatchPlan& plan) {
        bool anders = false;
        for (uint32_t i : plan.AllTouched()) {
            TKachelWahl& w = auswahl.wahl[i];
            TBatchDatei& f = *auswahl.datei[i];
            if (!w.AusOrdner || f.geprueft) continue;
            const TKachelWahl vorher = w;
            try {
                katalog.Pruefen(w);  // its message comes with the index's others
            } catch (...) {
                TakeIndexMessages();
                throw;
            }
            f.geprueft = true;
            if (!GleicheBox(vorher, w) || w.Kachel.Quelle != vorher.Kachel.Quelle) anders = true;
        }
        TakeIndexMessages();
        return anders;
    }

    // Messages of the files a query at (x, y) meets, each once.
    void Report(double x, double y) {
        const TBox quadrat{x - auswahl.d, x + auswahl.d, y - auswahl.d, y + auswahl.d};
        auswahl.Select(x, y, [&](uint32_t, TBatchDatei& f) {
            const std::string* m = &f.befund.meldung;
            bool weiter = !f.befund.abbruch;
            // A damaged raster is reported by the first query that meets the damage.
            if (weiter && f.kachel && DamageCut(*f.kachel, quadrat)) {
                m = &f.befund.schaden;
                weiter = false;
            }
            if (!m->empty() && *m != f.gemeldet) {
                meldungen.push_back(*m);
                f.gemeldet = *m;
            }
            return weiter;
        });
    }

    // Answers the plan's points at places [start, ende), in chunks, on every thread.
    void AnswerBatch(const TBatchPlan& plan, std::size_t start, std::size_t ende,
                     const std::vector<TBatchPunkt>& punkte, const TFertig& fertig,
                     const std::function<void(std::size_t)>& fortschritt, std::atomic<std::size_t>& gesamt) {
        const std::size_t anzahl = ende - start;
        constexpr std::size_t kStueck = 64;
        std::atomic<std::size_t> naechste{0};
        const int t = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads),
                                                             (anzahl + kStueck - 1) / kStueck));
        RunOnThreads(std::max(t, 1), [&](int nr) {
            TArbeitsspeicher& w = arbeit[static_cast<std::size_t>(nr)];
            THoehenAntwort a;
            for (std::size_t b; (b = naechste.fetch_add(kStueck)) < anzahl;) {
                const std::size_t e = std::min(anzahl, b + kStueck);
                for (std::size_t i = b; i < e; ++i) {
                    const std::size_t k = plan.Point(start + i);
                    AnswerPoint(auswahl, potenz, punkte[k].X, punkte[k].Y, a, w, umfang);
                    fertig(k, a);
                }
                const std::size_t g = gesamt += e - b;
                if (nr == 0 && fortschritt) fortschritt(g);
            }
        });
    }
};

TBatchAbfrage::TBatchAbfrage(const TDateien& kat, double fangbreite, double potenz)
    // About thirty rows per square whatever the capture range: a row's points inside it are
    // one run, found by two searches.
    : impl_(std::make_unique<Impl>((std::isfinite(fangbreite) && fangbreite > 0) ? fangbreite / 16 : 1.0, kat)) {
    impl_->auswahl.d = fangbreite;
    impl_->potenz = potenz;
    SetThreads(0);
}

TBatchAbfrage::~TBatchAbfrage() = default;

int TBatchAbfrage::GeleseneDateien() const { return impl_->cache.DistinctReads(); }

int TBatchAbfrage::Lesungen() const { return impl_->cache.Reads(); }

std::size_t TBatchAbfrage::BelegteBytes() const { return impl_->cache.UsedBytes(); }

std::size_t TBatchAbfrage::GehaltenePunkte() const { return impl_->cache.HeldPoints(); }

std::size_t TBatchAbfrage::GehalteneKacheln() const { return impl_->cache.HeldTiles(); }

void TBatchAbfrage::SetMemoryBound(std::size_t bytes) { impl_->cache.SetBudget(bytes); }

void TBatchAbfrage::SetUmfang(TUmfang u) { impl_->umfang = u; }

void TBatchAbfrage::SetThreads(int n) {
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    impl_->threads = std::clamp(n, 1, 64);
    impl_->arbeit.resize(static_cast<std::size_t>(impl_->threads));
}

std::vector<std::string> TBatchAbfrage::TakeMessages() {
    impl_->TakeIndexMessages();
    std::vector<std::string> out;
    out.swap(impl_->meldungen);
    return out;
}

void TBatchAbfrage::Ask(double x, double y, THoehenAntwort& out) {
    AnswerAll({{x, y}}, [&](std::size_t, const THoehenAntwort& a) { out = a; });
}

void TBatchAbfrage::AnswerAll(const std::vector<TBatchPunkt>& punkte, const TFertig& fertig,
                               const std::function<void(std::size_t)>& fortschritt,
                               const std::vector<TBatchPunkt>& danach) {
    Impl& m = *impl_;
    const std::size_t n = punkte.size();
    if (n == 0) return;
    // The tiles of the region that holds every square of this call and of the next points
    // (read ahead); a point that is no number may select anything, as in the query.
    double xmin = kUnendlich, xmax = -kUnendlich, ymin = kUnendlich, ymax = -kUnendlich;
    bool endlich = std::isfinite(m.auswahl.d);
    for (const std::vector<TBatchPunkt>* liste : {&punkte, &danach})
        for (const TBatchPunkt& p : *liste) {
            if (!std::isfinite(p.X) || !std::isfinite(p.Y)) endlich = false;
            xmin = std::min(xmin, p.X), xmax = std::max(xmax, p.X);
            ymin = std::min(ymin, p.Y), ymax = std::max(ymax, p.Y);
        }
    const double r = std::abs(m.auswahl.d);
    std::optional<TBatchPlan> geplant;
    do {
        if (endlich)
            m.Choose(xmin - r, xmax + r, ymin - r, ymax + r);
        else
            m.Choose(-kUnendlich, kUnendlich, -kUnendlich, kUnendlich);
        geplant.emplace(m.auswahl, punkte, m.absteigend);
    } while (m.Check(*geplant));
    const TBatchPlan& plan = *geplant;
    m.absteigend = !m.absteigend;

    std::atomic<std::size_t> fertigGesamt{0};
    std::vector<TBatchDatei*> noetig;
    for (std::size_t pos = 0; pos < n;) {
        const std::size_t start = pos;
        pos = plan.NextBatch(m.auswahl, m.cache, start, noetig);
        m.cache.Prepare(noetig, m.threads, [&] {
            if (fortschritt) fortschritt(fertigGesamt.load());
        });
        // While the last batch is answered, one more thread reads ahead for the next points.
        std::vector<TBatchDatei*> voraus;
        if (pos == n && !danach.empty()) voraus = ChooseReadAhead(m.auswahl, m.cache, danach);
        std::vector<TLesung> vorausNeu(voraus.size());
        THintergrund vorleser;
        if (!voraus.empty()) vorleser.Start([&] { m.cache.Read(voraus, vorausNeu, 1); });

        m.AnswerBatch(plan, start, pos, punkte, fertig, fortschritt, fertigGesamt);
        for (std::size_t i = start; i < pos; ++i) m.Report(punkte[plan.Point(i)].X, punkte[plan.Point(i)].Y);
        if (vorleser.Running()) {
            vorleser.Join();
            m.cache.Tick();  // read for the next call: not needed by this batch any more
            m.cache.Adopt(voraus, vorausNeu);
        }
    }
}

}  // namespace tervalo
