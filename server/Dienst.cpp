#include "server/Dienst.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/Commands.h"
#include "cli/Eingabe.h"
#include "config/Einstellungen.h"
#include "config/Konf.h"
#include "koord/Umrechnung.h"
#include "ordner/Kacheln.h"
#include "ordner/OrdnerIndex.h"
#include "query/AntwortJson.h"
#include "query/Batch.h"
#include "query/ProfilJson.h"
#include "query/Query.h"
#include "server/Api.h"
#include "server/Metriken.h"

namespace tervalo::server {

namespace {

// One line on stderr in one write, so lines of several threads never mix.
void Protokoll(const std::string& zeile) {
    const std::string s = zeile + '\n';
    const ssize_t n = ::write(STDERR_FILENO, s.data(), s.size());
    (void)n;
}

// Converters into one system: PROJ objects belong to one thread at a time, and making one costs
// milliseconds, so requests borrow them.
class TUmrechnerPool {
public:
    explicit TUmrechnerPool(TBezugssystem ziel) : ziel_(std::move(ziel)) {}

    class TLeihe {
    public:
        TLeihe(TUmrechnerPool& pool, std::unique_ptr<TUmrechnung> u) : pool_(pool), u_(std::move(u)) {}
        ~TLeihe() { pool_.Zurueck(std::move(u_)); }
        TLeihe(const TLeihe&) = delete;
        TLeihe& operator=(const TLeihe&) = delete;
        TUmrechnung& operator*() { return *u_; }
        TUmrechnung* operator->() { return u_.get(); }

    private:
        TUmrechnerPool& pool_;
        std::unique_ptr<TUmrechnung> u_;
    };

    TLeihe Leihe() {
        {
            std::lock_guard<std::mutex> l(m_);
            if (!frei_.empty()) {
                std::unique_ptr<TUmrechnung> u = std::move(frei_.back());
                frei_.pop_back();
                return TLeihe(*this, std::move(u));
            }
        }
        return TLeihe(*this, std::make_unique<TUmrechnung>(ziel_));
    }

private:
    void Zurueck(std::unique_ptr<TUmrechnung> u) {
        std::lock_guard<std::mutex> l(m_);
        frei_.push_back(std::move(u));
    }

    TBezugssystem ziel_;
    std::mutex m_;
    std::vector<std::unique_ptr<TUmrechnung>> frei_;
};

// fn(i, converter) for i in [0, n): large requests on several threads, each with its own
// converter; a small one on the calling thread.
template <class Fn>
void Umrechnen(TUmrechnerPool& pool, std::size_t n, Fn&& fn) {
    constexpr std::size_t kJeThread = 1000;
    // Asked once: the library reads /sys at every call.
    static const std::size_t kerne = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::clamp<std::size_t>(n / kJeThread, 1, kerne);
    const std::size_t stueck = (n + threads - 1) / threads;
    auto teil = [&](std::size_t t) {
        auto u = pool.Leihe();
        for (std::size_t i = t * stueck; i < std::min(n, (t + 1) * stueck); ++i) fn(i, *u);
    };
    std::vector<std::thread> helfer;
    std::exception_ptr fehler;
    std::mutex fm;
    for (std::size_t t = 1; t < threads; ++t)
        helfer.emplace_back([&, t] {
            try {
                teil(t);
            } catch (...) {
                std::lock_guard<std::mutex> l(fm);
                if (!fehler) fehler = std::current_exception();
            }
        });
    try {
        teil(0);
    } catch (...) {
        std::lock_guard<std::mutex> l(fm);
        if (!fehler) fehler = std::current_exception();
    }
    for (std::thread& h : helfer) h.join();
    if (fehler) std::rethrow_exception(fehler);
}

// One batch engine shared by every request on a catalogue: one call at a time. A single point
// holds it for a few us, so requests queue only briefly; merging waiting requests into one
// call was measured slower (the waiters' wake-ups cost more than the planning it saves).
class TMaschine {
public:
    TMaschine(const std::string& name, const TDateien& kat, double fangbreite, double potenz, std::size_t bytes,
              TKatalogZaehler& zaehler)
        : name_(name), zaehler_(zaehler), engine_(kat, fangbreite, potenz) {
        engine_.SetMemoryBound(bytes);
    }

    // What the engine holds, as of its last call: read without its lock.
    std::size_t Kacheln() const { return kacheln_.load(std::memory_order_relaxed); }
    std::size_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

    // fertig(k, answer) for each point, on any of the engine's threads (as AnswerAll calls it).
    // A large request is answered in parts, each holding the engine alone, so that small
    // requests on the same catalogue are answered between them (a part takes some 10 ms on
    // 1 m grids, with the ranking some 15 ms).
    void Beantworte(const std::vector<TBatchPunkt>& punkte, TUmfang umfang, const TBatchAbfrage::TFertig& fertig) {
        const std::size_t teil = umfang == TUmfang::MitRangliste ? 128 : 2048;
        for (std::size_t start = 0; start < punkte.size(); start += teil) {
            const std::size_t ende = std::min(punkte.size(), start + teil);
            const std::vector<TBatchPunkt> stueck(punkte.begin() + static_cast<std::ptrdiff_t>(start),
                                                  punkte.begin() + static_cast<std::ptrdiff_t>(ende));
            // Before a further part the requests waiting meanwhile go first (for a millisecond at
            // most, so that steady traffic cannot hold this one back for long): the lock alone
            // would go back to this thread, which asks again at once.
            if (start > 0)
                for (int i = 0; i < 50 && wartend_.load() > 0; ++i)
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
            std::vector<std::string> meldungen;
            {
                ++wartend_;
                std::unique_lock<std::mutex> l(m_);
                --wartend_;
                engine_.SetUmfang(umfang);
                try {
                    engine_.AnswerAll(stueck, [&](std::size_t k, const THoehenAntwort& a) { fertig(start + k, a); });
                } catch (...) {
                    Erfasse();
                    meldungen = engine_.TakeMessages();
                    Melde(meldungen);
                    throw;
                }
                Erfasse();
                meldungen = engine_.TakeMessages();
            }
            Melde(meldungen);
        }
    }

private:
    // The engine's statistics for /metrics, under m_; readings as a difference, so that the
    // catalogue's count goes on over a reload's new engine.
    void Erfasse() {
        const int lesungen = engine_.Lesungen();
        zaehler_.Lesungen.fetch_add(static_cast<uint64_t>(lesungen - lesungenBisher_), std::memory_order_relaxed);
        lesungenBisher_ = lesungen;
        kacheln_.store(engine_.GehalteneKacheln(), std::memory_order_relaxed);
        bytes_.store(engine_.BelegteBytes(), std::memory_order_relaxed);
    }

    // Each file that cannot be read is reported once, when a point first needs it.
    void Melde(const std::vector<std::string>& meldungen) const {
        for (const std::string& m : meldungen) Protokoll("Katalog " + name_ + ": " + m);
    }

    std::string name_;
    TKatalogZaehler& zaehler_;
    std::mutex m_;
    std::atomic<int> wartend_{0};  // calls waiting for m_
    TBatchAbfrage engine_;
    int lesungenBisher_ = 0;
    std::atomic<std::size_t> kacheln_{0}, bytes_{0};
};

const TBezugssystem& Wgs84() {
    static const TBezugssystem s = ParseBezugssystem("wgs84");
    return s;
}

// A catalogue as served: configuration, settings, its system, its engine.
struct TKatalog {
    std::string Name;
    std::string Pfad;
    cli::TKonfCli Konf;
    std::optional<TBezugssystem> System;  // checked; none: positions cannot be converted
    TKatalogZaehler* Zaehler = nullptr;  // the name's, kept over reloads
    std::unique_ptr<TMaschine> Maschine;
    std::unique_ptr<TUmrechnerPool> Hin;      // WGS 84 into the catalogue's system
    std::unique_ptr<TUmrechnerPool> Zurueck;  // and back, for the samples' locations
    std::unique_ptr<TUmrechnerPool> Nativ;    // `system` of the native form into the catalogue's

    std::once_flag KachelnGezaehlt;
    std::size_t Kacheln = 0;  // entries, a folder counted by its tiles

    double Fangbreite() const { return Konf.Settings.Fangbreite; }
    double Potenz() const { return Konf.Settings.Potenz; }
};

std::shared_ptr<TKatalog> LadeKatalog(const TKatalogAngabe& angabe, std::size_t bytes, TMetriken& metriken) {
    auto k = std::make_shared<TKatalog>();
    k->Name = angabe.Name;
    k->Pfad = angabe.Pfad;
    try {
        k->Konf = cli::LoadKonf(angabe.Pfad);
        std::string meldung;
        if (const std::optional<int> epsg = ReadKachelSystem(k->Konf.Einstellungen, &meldung)) {
            TUmrechnung pruefer(ParseBezugssystem(SystemText(*epsg)));
            k->System = pruefer.CheckSystem(ParseBezugssystem(SystemText(*epsg)));
        } else if (!meldung.empty()) {
            throw EStartFehler(meldung, 1);
        }
    } catch (const EStartFehler& e) {
        throw EStartFehler("Katalog " + angabe.Name + ": " + e.what(), 1);
    } catch (const std::exception& e) {
        throw EStartFehler("Katalog " + angabe.Name + ": " + e.what(), 1);
    }
    k->Zaehler = &metriken.Katalog(k->Name);
    k->Maschine =
        std::make_unique<TMaschine>(k->Name, k->Konf.Dateien, k->Fangbreite(), k->Potenz(), bytes, *k->Zaehler);
    if (k->System) {
        k->Hin = std::make_unique<TUmrechnerPool>(*k->System);
        k->Zurueck = std::make_unique<TUmrechnerPool>(Wgs84());
        k->Nativ = std::make_unique<TUmrechnerPool>(*k->System);
    }
    return k;
}

struct TStand {
    std::map<std::string, std::shared_ptr<TKatalog>> Kataloge;
};

std::shared_ptr<const TStand> LadeStand(const TDienstEinstellungen& e, TMetriken& metriken) {
    auto s = std::make_shared<TStand>();
    const std::size_t n = std::max<std::size_t>(1, e.Kataloge.size());
    // One bound over all catalogues, shared out evenly.
    const std::size_t bytes = std::max<std::size_t>(1, (static_cast<std::size_t>(e.SpeicherMiB) << 20) / n);
    for (const TKatalogAngabe& a : e.Kataloge) s->Kataloge.emplace(a.Name, LadeKatalog(a, bytes, metriken));
    return s;
}

std::string Json(const TJson& j) { return FormatJson(j); }

TAntwort JsonAntwort(int status, std::string koerper) {
    TAntwort a;
    a.Status = status;
    a.Koerper = std::move(koerper);
    return a;
}

// Path segments, each percent-decoded; an empty path gives none.
std::vector<std::string> Segmente(std::string_view pfad) {
    std::vector<std::string> out;
    if (pfad.empty() || pfad.front() != '/') throw EAnfrage(400, "Pfad muss mit \"/\" beginnen");
    pfad.remove_prefix(1);
    while (true) {
        const std::size_t e = pfad.find('/');
        out.push_back(PercentDecode(pfad.substr(0, e), false));
        if (e == std::string_view::npos) break;
        pfad.remove_prefix(e + 1);
    }
    if (out.size() == 1 && out.front().empty()) out.clear();
    return out;
}

// A name from the request, as a message may quote it: at most 64 bytes.
std::string Zitiert(const std::string& s) { return s.size() > 64 ? s.substr(0, 64) + "\xE2\x80\xA6" : s; }

TAntwort Unbekannt(const std::string& name) {
    return FehlerAntwort(404, "Unbekannter Datensatz: " + Zitiert(name));
}

// The catalogue's system as the native answers' "eingabe" names it, for ReadEinWahl's rule.
std::size_t ZaehleKacheln(const TKatalog& k) {
    const TDateien& d = k.Konf.Dateien;
    std::size_t n = 0;
    for (int i = 1; i <= d.Eintraege(); ++i) {
        const std::string& pfad = d.Datei[static_cast<std::size_t>(i)];
        if (!IsOrdnerEintrag(pfad)) {
            ++n;
            continue;
        }
        try {
            TOrdnerIndex index(pfad, d.Ordner);
            index.Update();
            n += index.Count();
        } catch (const std::exception& e) {
            Protokoll("Katalog " + k.Name + ": " + e.what());
        }
    }
    return n;
}

}  // namespace

TAntwort FehlerAntwort(int status, const std::string& text) {
    return JsonAntwort(status, FehlerJson(FehlerStatus(status), text));
}

struct TDienst::TZustand {
    TMetriken metriken;  // outside the catalogues, so a reload keeps the counts
    std::mutex m;
    std::shared_ptr<const TStand> stand;

    std::mutex gesundheitM;
    std::chrono::steady_clock::duration intervall = std::chrono::seconds(10);
    std::optional<std::chrono::steady_clock::time_point> geprueft;
    TAntwort gesundheit;

    std::shared_ptr<const TStand> Stand() {
        std::lock_guard<std::mutex> l(m);
        return stand;
    }
};

TDienst::TDienst(const TDienstEinstellungen& e) : einstellungen_(e), zustand_(std::make_unique<TZustand>()) {
    zustand_->stand = LadeStand(einstellungen_, zustand_->metriken);
}

TDienst::~TDienst() = default;

void TDienst::SetGesundheitsIntervall(std::chrono::steady_clock::duration d) {
    std::lock_guard<std::mutex> l(zustand_->gesundheitM);
    zustand_->intervall = d;
    zustand_->geprueft.reset();
}

std::string TDienst::Neuladen(const std::vector<TKatalogAngabe>* kataloge) {
    std::shared_ptr<const TStand> neu;
    try {
        TDienstEinstellungen e = einstellungen_;
        if (kataloge) e.Kataloge = *kataloge;
        neu = LadeStand(e, zustand_->metriken);
    } catch (const std::exception& e) {
        return e.what();
    }
    {
        std::lock_guard<std::mutex> l(zustand_->m);
        zustand_->stand.swap(neu);
    }
    std::lock_guard<std::mutex> l(zustand_->gesundheitM);
    zustand_->geprueft.reset();
    return {};
    // `neu` now holds the old catalogues; requests still on them keep them alive.
}

namespace {

// What is wrong with the catalogue now; empty when its files can be read and its entries exist.
std::string Befund(const TKatalog& k) {
    try {
        TSettings s;
        TDateien d;
        const TKonfGelesen g = KonfLoad(k.Pfad, k.Konf.Orte.Ordner, s, d);
        if (!g.Vorhanden) return "Katalog " + k.Name + ": Konfigurationsdatei nicht gefunden: " + k.Pfad;
        TEinstellungen e;
        e.Load(EinstellungenFileFor(k.Pfad));
        for (int i = 1; i <= d.Eintraege(); ++i) {
            const std::string& pfad = d.Datei[static_cast<std::size_t>(i)];
            struct stat st {};
            if (::stat(pfad.c_str(), &st) != 0)
                return "Katalog " + k.Name + ": Eintrag " + std::to_string(i) + " fehlt: " + pfad;
        }
    } catch (const std::exception& e) {
        return "Katalog " + k.Name + ": " + e.what();
    }
    return {};
}

TAntwort Gesundheit(const TStand& stand) {
    std::string fehler;
    for (const auto& [name, k] : stand.Kataloge)
        if (std::string b = Befund(*k); !b.empty()) fehler += (fehler.empty() ? "" : "; ") + b;
    if (fehler.empty()) return JsonAntwort(200, Json(TJson{{"status", "OK"}}));
    TJson j;
    j["status"] = "UNAVAILABLE";
    j["error"] = fehler;
    return JsonAntwort(503, Json(j));
}

TAntwort Datensaetze(const TStand& stand) {
    TJson liste = TJson::array();
    for (const auto& [name, kp] : stand.Kataloge) {
        TKatalog& k = *kp;
        std::call_once(k.KachelnGezaehlt, [&] { k.Kacheln = ZaehleKacheln(k); });
        const TDateien& d = k.Konf.Dateien;
        TJson j;
        j["name"] = name;
        j["system"] = k.System ? TJson(k.System->Kanonisch) : TJson(nullptr);
        if (d.Eintraege() > 0) {
            double xmin = d.Xmin[1], xmax = d.Xmax[1], ymin = d.Ymin[1], ymax = d.Ymax[1];
            for (int i = 2; i <= d.Eintraege(); ++i) {
                const auto u = static_cast<std::size_t>(i);
                xmin = std::min(xmin, d.Xmin[u]), xmax = std::max(xmax, d.Xmax[u]);
                ymin = std::min(ymin, d.Ymin[u]), ymax = std::max(ymax, d.Ymax[u]);
            }
            j["extent"] = {{"xmin", xmin}, {"ymin", ymin}, {"xmax", xmax}, {"ymax", ymax}};
        } else {
            j["extent"] = nullptr;
        }
        j["tiles"] = k.Kacheln;
        liste.push_back(std::move(j));
    }
    TJson j;
    j["datasets"] = std::move(liste);
    j["status"] = "OK";
    return JsonAntwort(200, Json(j));
}

// Counts the items whose message `text(item)` is not empty as positions not converted, at once
// rather than on each converting thread.
template <class T, class Fn>
void ZaehleFehler(TKatalogZaehler& z, const std::vector<T>& items, Fn text) {
    std::size_t n = 0;
    for (const T& i : items) n += !text(i)->empty();
    if (n > 0) z.UmrechnungFehler.fetch_add(n, std::memory_order_relaxed);
}

// A point of the catalogue's system in the order a converter takes it.
TEingabePunkt AlsEingabe(const TBezugssystem& s, double x, double y) {
    return s.Geographisch ? TEingabePunkt{y, x, false} : TEingabePunkt{x, y, false};
}

TAntwort Hoehen(TKatalog& k, const TAnfrage& a, std::size_t maxPunkte) {
    if (!k.System)
        throw EAnfrage(400, "Der Katalog " + k.Name +
                                " hat kein Bezugssystem; WGS-84-Positionen k\xC3\xB6nnen nicht umgerechnet werden.");
    const THoehenParameter p = ReadHoehenAnfrage(a.Abfrage, a.Koerper, a.Inhaltstyp, maxPunkte);
    std::vector<THoehenErgebnis> ergebnisse;
    std::vector<TBatchPunkt> punkte;
    std::vector<std::size_t> zuErgebnis;  // the result each point answers
    if (p.Samples > 0) {
        std::vector<TXY> ecken(p.Positionen.size());
        std::vector<std::string> fehler(p.Positionen.size());
        Umrechnen(*k.Hin, p.Positionen.size(), [&](std::size_t i, TUmrechnung& u) {
            try {
                const TUmgerechnet r = u.Convert(Wgs84(), {p.Positionen[i].Lat, p.Positionen[i].Lng, false});
                ecken[i] = {r.X, r.Y};
            } catch (const EKoordFehler& e) {
                fehler[i] = e.what();
            }
        });
        ZaehleFehler(*k.Zaehler, fehler, [](const std::string& f) { return &f; });
        for (std::size_t i = 0; i < fehler.size(); ++i)
            if (!fehler[i].empty()) throw EAnfrage(400, "Position " + std::to_string(i + 1) + ": " + fehler[i]);
        const std::vector<TXY> proben = SamplePath(ecken, p.Samples, k.System->Geographisch);
        ergebnisse.resize(proben.size());
        Umrechnen(*k.Zurueck, proben.size(), [&](std::size_t i, TUmrechnung& u) {
            try {
                const TUmgerechnet r = u.Convert(*k.System, AlsEingabe(*k.System, proben[i].X, proben[i].Y));
                ergebnisse[i].Location = {r.Y, r.X};
            } catch (const EKoordFehler& e) {
                ergebnisse[i].Fehler = e.what();
            }
        });
        ZaehleFehler(*k.Zaehler, ergebnisse, [](const THoehenErgebnis& e) { return &e.Fehler; });
        for (std::size_t i = 0; i < proben.size(); ++i) {
            punkte.push_back({proben[i].X, proben[i].Y});
            zuErgebnis.push_back(i);
        }
    } else {
        ergebnisse.resize(p.Positionen.size());
        std::vector<std::optional<TBatchPunkt>> xy(p.Positionen.size());
        Umrechnen(*k.Hin, p.Positionen.size(), [&](std::size_t i, TUmrechnung& u) {
            ergebnisse[i].Location = p.Positionen[i];
            try {
                const TUmgerechnet r = u.Convert(Wgs84(), {p.Positionen[i].Lat, p.Positionen[i].Lng, false});
                xy[i] = TBatchPunkt{r.X, r.Y};
            } catch (const EKoordFehler& e) {
                ergebnisse[i].Fehler = e.what();
            }
        });
        ZaehleFehler(*k.Zaehler, ergebnisse, [](const THoehenErgebnis& e) { return &e.Fehler; });
        for (std::size_t i = 0; i < xy.size(); ++i)
            if (xy[i]) {
                punkte.push_back(*xy[i]);
                zuErgebnis.push_back(i);
            }
    }
    // The answers use the nearest point and the Shepard height only, not the counts.
    const TUmfang umfang =
        p.Interpolation == TInterpolation::Naechster ? TUmfang::Naechster : TUmfang::NaechsterUndShepard;
    k.Maschine->Beantworte(punkte, umfang, [&](std::size_t j, const THoehenAntwort& h) {
        THoehenErgebnis& e = ergebnisse[zuErgebnis[j]];
        std::string vorher = std::move(e.Fehler);
        FillErgebnis(e, h, p.Interpolation);
        // A sample whose location could not be converted back keeps saying so.
        if (!vorher.empty() && e.Fehler.empty()) e.Fehler = std::move(vorher);
    });
    k.Zaehler->Punkte.fetch_add(punkte.size(), std::memory_order_relaxed);
    return JsonAntwort(200, ErgebnisseJson(k.Name, ergebnisse, p.NodataWert));
}

// The native form's points in the catalogue's system: converted from `system` as --ein does
// (with what the answers' "eingabe" names, when asked for), or read as numbers. A point that
// cannot be read or converted stays empty, with its reason at the same place of the result.
std::vector<std::string> NativPunkte(TKatalog& k, const std::optional<TSystemWahl>& system,
                                     const std::vector<TZweiTexte>& punkte, std::vector<std::optional<TBatchPunkt>>& xy,
                                     std::vector<std::optional<TEingabeJson>>* eingabe) {
    const std::size_t n = punkte.size();
    xy.assign(n, std::nullopt);
    if (eingabe) eingabe->assign(n, std::nullopt);
    std::vector<std::string> fehler(n);
    if (system) {
        Umrechnen(*k.Nativ, n, [&](std::size_t i, TUmrechnung& u) {
            try {
                const TUmrechnung::TErgebnis r = u.ConvertText(*system, punkte[i].A, punkte[i].B);
                xy[i] = TBatchPunkt{r.Punkt.X, r.Punkt.Y};
                if (eingabe) (*eingabe)[i] = cli::EingabeJson(r.Eingabe, r.Werte, r.Punkt);
            } catch (const EKoordFehler& e) {
                fehler[i] = e.what();
            }
        });
        ZaehleFehler(*k.Zaehler, fehler, [](const std::string& f) { return &f; });
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const std::optional<double> x = cli::ArgumentZahl(punkte[i].A), y = cli::ArgumentZahl(punkte[i].B);
            if (x && y)
                xy[i] = TBatchPunkt{*x, *y};
            else
                fehler[i] = (x ? punkte[i].B : punkte[i].A) + " ist keine Zahl (Dezimaltrenner \".\" oder \",\")";
        }
    }
    return fehler;
}

TAntwort Nativ(TKatalog& k, const TAnfrage& a, std::size_t maxPunkte) {
    const TNativParameter p = ReadNativAnfrage(a.Abfrage, a.Koerper, a.Inhaltstyp, maxPunkte);
    const std::size_t n = p.Punkte.size();
    if (p.System && !k.System)
        throw EAnfrage(400, "Der Katalog " + k.Name + " hat kein Bezugssystem; system=" + Zitiert(p.SystemText) +
                                " kann nicht umgerechnet werden.");
    std::vector<std::optional<TBatchPunkt>> xy;
    std::vector<std::optional<TEingabeJson>> eingabe;
    const std::vector<std::string> fehler = NativPunkte(k, p.System, p.Punkte, xy, &eingabe);
    std::vector<TJson> results(n);
    auto ergebnis = [&](std::size_t i, const THoehenAntwort& h) {
        results[i] = NativPunktJson(h, p.Rangliste, eingabe[i] ? &*eingabe[i] : nullptr);
    };
    std::vector<TBatchPunkt> punkte;
    std::vector<std::size_t> zu;
    for (std::size_t i = 0; i < n; ++i)
        if (xy[i]) {
            punkte.push_back(*xy[i]);
            zu.push_back(i);
        }
    k.Maschine->Beantworte(punkte, p.Rangliste ? TUmfang::MitRangliste : TUmfang::Voll,
                           [&](std::size_t j, const THoehenAntwort& h) { ergebnis(zu[j], h); });
    k.Zaehler->Punkte.fetch_add(punkte.size(), std::memory_order_relaxed);
    TJson liste = TJson::array();
    for (std::size_t i = 0; i < n; ++i) liste.push_back(xy[i] ? std::move(results[i]) : NativFehlerJson(i + 1, fehler[i]));
    return JsonAntwort(200, NativJson(k.Name, std::move(liste)));
}

// The line's vertices in the catalogue's system: converted from `system` as --ein does, or read
// as numbers. A vertex that cannot be read or converted refuses the whole line: a profile
// cannot have a hole at a vertex.
std::vector<TXY> ProfilEcken(TKatalog& k, const TProfilParameter& p) {
    std::vector<std::optional<TBatchPunkt>> xy;
    const std::vector<std::string> fehler = NativPunkte(k, p.System, p.Punkte, xy, nullptr);
    std::vector<TXY> ecken;
    for (std::size_t i = 0; i < xy.size(); ++i) {
        if (!xy[i]) throw EAnfrage(400, "Eckpunkt " + std::to_string(i + 1) + ": " + fehler[i]);
        ecken.push_back({xy[i]->X, xy[i]->Y});
    }
    return ecken;
}

// The samples of the line as the command line's profile takes them; more than `maxPunkte`
// refused before any is answered.
TProfilLinie ProfilProben(const TKatalog& k, const TProfilParameter& p, const std::vector<TXY>& ecken,
                          std::size_t maxPunkte) {
    const bool geographisch = k.System && k.System->Geographisch;
    const TAbtastung abtastung = p.Anzahl ? TAbtastung::MitAnzahl(*p.Anzahl)
                                          : TAbtastung::MitSchritt(p.Schritt.value_or(k.Konf.Settings.Rasterabstand));
    try {
        // A small step on a long line is refused from its length alone, before a million
        // samples are made for nothing (the exact count follows).
        if (abtastung.Art == TAbtastung::TArt::Schritt && std::isfinite(abtastung.Schritt) && abtastung.Schritt > 0) {
            const double laenge = SampleProfile(ecken, TAbtastung::MitAnzahl(2), geographisch).Laenge;
            if (laenge / abtastung.Schritt > static_cast<double>(maxPunkte) + 2) ProbenUeberGrenze(maxPunkte);
        }
        TProfilLinie linie = SampleProfile(ecken, abtastung, geographisch);
        if (linie.Proben.size() > maxPunkte) ProbenUeberGrenze(maxPunkte, linie.Proben.size());
        return linie;
    } catch (const EProfil& e) {
        throw EAnfrage(400, e.what());
    }
}

TAntwort Profil(TKatalog& k, const TAnfrage& a, std::size_t maxPunkte) {
    const TProfilParameter p = ReadProfilAnfrage(a.Abfrage, a.Koerper, a.Inhaltstyp, maxPunkte);
    if (p.System && !k.System)
        throw EAnfrage(400, "Der Katalog " + k.Name + " hat kein Bezugssystem; system=" + Zitiert(p.SystemText) +
                                " kann nicht umgerechnet werden.");
    const TProfilLinie linie = ProfilProben(k, p, ProfilEcken(k, p), maxPunkte);
    const std::size_t n = linie.Proben.size();
    std::vector<TBatchPunkt> punkte;
    punkte.reserve(n);
    for (const TProbe& q : linie.Proben) punkte.push_back({q.X, q.Y});
    // Answers come on any of the engine's threads; the summary wants station order, and of each
    // sample only whether it has a height and which.
    std::vector<TJson> proben(n);
    std::vector<std::optional<double>> hoehe(n);
    k.Maschine->Beantworte(punkte, TUmfang::Voll, [&](std::size_t i, const THoehenAntwort& h) {
        proben[i] = ProbeToJson(linie.Proben[i], h);
        if (HatHoehe(h)) hoehe[i] = h.Naechster.Z;
    });
    k.Zaehler->Punkte.fetch_add(n, std::memory_order_relaxed);
    TProfilSumme summe(linie.Laenge);
    TJson liste = TJson::array();
    for (std::size_t i = 0; i < n; ++i) {
        summe.Add(linie.Proben[i].Station, hoehe[i]);
        liste.push_back(std::move(proben[i]));
    }
    return JsonAntwort(200, ProfilJson(k.Name, std::move(liste), summe.Ergebnis()));
}

constexpr const char* ErlaubteMethoden = "GET, POST, OPTIONS";

// The route of a request's path segments; Andere for paths the service does not serve.
TRoute RouteVon(const std::vector<std::string>& seg) {
    if (seg.size() == 1 && seg[0] == "health") return TRoute::Gesundheit;
    if (seg.size() == 1 && seg[0] == "metrics") return TRoute::Metriken;
    if (seg.size() == 2 && seg[0] == "v1") return seg[1] == "datasets" ? TRoute::Datensaetze : TRoute::Hoehen;
    if (seg.size() == 3 && seg[0] == "v1" && seg[2] == "punkte") return TRoute::Nativ;
    if (seg.size() == 3 && seg[0] == "v1" && seg[2] == "profil") return TRoute::Profil;
    return TRoute::Andere;
}

constexpr const char* kMetrikTyp = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace

// What the counters need to know of a request, filled in as far as it was read.
struct TDienst::TErfasst {
    TRoute Route = TRoute::Andere;
    TKatalogZaehler* Katalog = nullptr;  // for /v1/NAME...: the name's, or the unknown names'
};

TAntwort TDienst::Beantworte(const TAnfrage& a) {
    const auto beginn = std::chrono::steady_clock::now();
    TErfasst erfasst;
    const TAntwort antwort = Antworte(a, erfasst);
    zustand_->metriken.Zaehle(erfasst.Route, erfasst.Katalog, antwort.Status, std::chrono::steady_clock::now() - beginn);
    return antwort;
}

void TDienst::ZaehleAbgewiesen(std::string_view ziel, int status) {
    TErfasst erfasst;
    try {
        const std::vector<std::string> seg = Segmente(ziel.substr(0, ziel.find('?')));
        erfasst.Route = RouteVon(seg);
        if (erfasst.Route == TRoute::Hoehen || erfasst.Route == TRoute::Nativ || erfasst.Route == TRoute::Profil) {
            const std::shared_ptr<const TStand> stand = zustand_->Stand();
            const auto it = stand->Kataloge.find(seg[1]);
            erfasst.Katalog = it == stand->Kataloge.end() ? &zustand_->metriken.Unbekannt() : it->second->Zaehler;
        }
    } catch (const std::exception&) {
        erfasst = TErfasst{};  // a target that cannot be read: another path
    }
    zustand_->metriken.ZaehleAbgewiesen(erfasst.Route, erfasst.Katalog, status);
}

TAntwort TDienst::Antworte(const TAnfrage& a, TErfasst& erfasst) {
    const std::vector<std::string>& cors = einstellungen_.Cors;
    const bool alle = std::find(cors.begin(), cors.end(), "*") != cors.end();
    const bool erlaubt =
        !a.Herkunft.empty() && (alle || std::find(cors.begin(), cors.end(), a.Herkunft) != cors.end());
    auto mitCors = [&](TAntwort antwort) {
        if (erlaubt) {
            antwort.Kopf.emplace_back("Access-Control-Allow-Origin", alle ? "*" : a.Herkunft);
            if (!alle) antwort.Kopf.emplace_back("Vary", "Origin");
        }
        return antwort;
    };
    try {
        const std::vector<std::string> seg = Segmente(a.Pfad);
        erfasst.Route = RouteVon(seg);
        const bool hoehen = erfasst.Route == TRoute::Hoehen;
        const bool nativ = erfasst.Route == TRoute::Nativ;
        const bool profil = erfasst.Route == TRoute::Profil;
        const bool nurGet = erfasst.Route == TRoute::Gesundheit || erfasst.Route == TRoute::Datensaetze ||
                            erfasst.Route == TRoute::Metriken;
        if (!hoehen && !nativ && !profil && !nurGet) return mitCors(FehlerAntwort(404, "Unbekannter Pfad"));

        const std::shared_ptr<const TStand> stand = zustand_->Stand();
        TKatalog* katalog = nullptr;  // kept alive by `stand`
        if (hoehen || nativ || profil) {
            const auto it = stand->Kataloge.find(seg[1]);
            if (it != stand->Kataloge.end()) katalog = it->second.get();
            erfasst.Katalog = katalog ? katalog->Zaehler : &zustand_->metriken.Unbekannt();
        }

        if (a.Methode == "OPTIONS") {
            TAntwort antwort;
            antwort.Status = 204;
            antwort.Inhaltstyp.clear();
            antwort.Kopf.emplace_back("Allow", nurGet ? "GET, OPTIONS" : ErlaubteMethoden);
            if (erlaubt && !a.Anfordern.empty()) {
                antwort.Kopf.emplace_back("Access-Control-Allow-Methods", nurGet ? "GET, OPTIONS" : ErlaubteMethoden);
                antwort.Kopf.emplace_back("Access-Control-Allow-Headers", "Content-Type");
                antwort.Kopf.emplace_back("Access-Control-Max-Age", "86400");
            }
            return mitCors(std::move(antwort));
        }
        const bool get = a.Methode == "GET" || a.Methode == "HEAD";
        if (!get && !(a.Methode == "POST" && !nurGet)) {
            TAntwort antwort = FehlerAntwort(405, "Methode nicht erlaubt: " + Zitiert(a.Methode));
            antwort.Kopf.emplace_back("Allow", nurGet ? "GET, OPTIONS" : ErlaubteMethoden);
            return mitCors(std::move(antwort));
        }

        if (erfasst.Route == TRoute::Gesundheit) {
            std::lock_guard<std::mutex> l(zustand_->gesundheitM);
            const auto jetzt = std::chrono::steady_clock::now();
            if (!zustand_->geprueft || jetzt - *zustand_->geprueft >= zustand_->intervall) {
                zustand_->gesundheit = Gesundheit(*stand);
                zustand_->geprueft = jetzt;
            }
            return mitCors(zustand_->gesundheit);
        }
        if (erfasst.Route == TRoute::Metriken) {
            std::vector<TKatalogBelegung> belegung;
            for (const auto& [name, k] : stand->Kataloge)
                belegung.push_back({name, k->Maschine->Kacheln(), k->Maschine->Bytes()});
            TAntwort antwort;
            antwort.Koerper = zustand_->metriken.Text(belegung);
            antwort.Inhaltstyp = kMetrikTyp;
            return mitCors(std::move(antwort));
        }
        if (nurGet) return mitCors(Datensaetze(*stand));

        if (!katalog) return mitCors(Unbekannt(seg[1]));
        const std::size_t max = einstellungen_.MaxPunkte;
        return mitCors(hoehen ? Hoehen(*katalog, a, max) : profil ? Profil(*katalog, a, max) : Nativ(*katalog, a, max));
    } catch (const EAnfrage& e) {
        return mitCors(FehlerAntwort(e.Status, e.what()));
    } catch (const EKoordFehler& e) {
        return mitCors(FehlerAntwort(400, e.what()));
    } catch (const std::exception& e) {
        // The client learns nothing of the inside; the log does.
        Protokoll(std::string("Interner Fehler: ") + e.what());
    } catch (...) {
        Protokoll("Interner Fehler");
    }
    return mitCors(FehlerAntwort(500, "Interner Fehler"));
}

}  // namespace tervalo::server
