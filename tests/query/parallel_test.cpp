// Single queries and batches on several threads at once, sharing one catalogue, answer as
// they do alone. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <thread>

#include "query_test_util.h"
#include "query/Batch.h"
#include "query/Query.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;

namespace {

// Doubles in hexadecimal: equal texts are equal bits.
std::string Bits(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%a ", v);
    return buf;
}

std::string Zeilen(const std::vector<TDateiZeile>& dateien) {
    std::string s;
    for (const TDateiZeile& r : dateien)
        s += std::to_string(r.Nr) + " " + std::to_string(r.Eintrag) + " " + r.Name + " " + std::to_string(r.Gelesen) +
             " " + std::to_string(r.Gefiltert) + " " + r.Fehler + "\n";
    return s;
}

// Counts what the run reports to its own observer.
struct TZaehler : TAbfrageBeobachter {
    int gewaehlt = 0, fertig = 0;
    void FileSelected(const TDateiZeile&, const std::string&) override { ++gewaehlt; }
    void FileDone(const TDateiZeile&) override { ++fertig; }
};

std::string Einzeln(THoehenAbfrage& q, const TDateien& kat, double x, double y, char sep) {
    TAbfrageParameter p;
    p.X = x;
    p.Y = y;
    p.Fangbreite = 40;
    p.Potenz = 2.5;
    TZaehler z;
    std::string s;
    try {
        q.Run(kat, p, &z);
    } catch (const std::exception&) {
        s = "abgebrochen\n";
    }
    const THoehenAntwort& e = q.Ergebnis();
    const TFensterTexte t = BuildFensterTexte(e, sep);
    s += Zeilen(e.Dateien) + e.LB_DateiVoll + "|" + e.Fehler + "|" + t.LB_nextPointR + " " + t.LB_nextPointZ + " " +
         t.LB_ExtrapolnPoints + " " + t.LB_ExtrapolPointZ + "|" + Bits(e.ShepardZ);
    for (const auto& zeile : t.Grid)
        for (const std::string& zelle : zeile) s += zelle + ";";
    s += "|" + std::to_string(z.fertig == static_cast<int>(e.Dateien.size()) && z.gewaehlt <= z.fertig);
    return s;
}

std::string Text(const THoehenAntwort& a) {
    return Zeilen(a.Dateien) + a.LB_DateiVoll + "|" + a.Fehler + "|" + std::to_string(a.Beendet) +
           std::to_string(a.Berechnet) + std::to_string(a.HatNaechster) + " " + std::to_string(a.Anzahl) + " " +
           Bits(a.Naechster.X) + Bits(a.Naechster.Y) + Bits(a.Naechster.Z) + Bits(a.Naechster.R) + std::to_string(a.ShepardN) + " " + Bits(a.ShepardZ);
}

}  // namespace

TEST(QueryParallel, QueriesAndBatchesOnSeveralThreadsAnswerAsAlone) {
    qtest::TempDir dir;
    std::mt19937 rng(23);
    auto kachel = [&](double x0, double y0, double s) {
        auto pts = qtest::Grid(x0, x0 + 100, y0, y0 + 100, s);
        for (P& p : pts) p.z += (rng() % 1000) / 100.0;
        return pts;
    };
    auto a = kachel(0, 0, 2), b = kachel(100, 0, 2.5);
    std::shuffle(b.begin(), b.end(), rng);
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText(a));
    qtest::WriteDbf(dir.File("b.dbf"), b, 4);
    // Dense enough at 0.5 m that a square there fills the point store.
    qtest::WriteFile(dir.File("dicht.xyz"), qtest::XyzText(qtest::Grid(40, 110, 40, 110, 0.5)));
    TDateien kat;
    AddEntry(kat, dir.File("a.xyz"), 0, 100, 0, 100);
    AddEntry(kat, dir.File("b.dbf"), 100, 200, 0, 100);
    AddEntry(kat, dir.File("fehlt.xyz"), 150, 200, 50, 100);
    AddEntry(kat, dir.File("dicht.xyz"), 40, 110, 40, 110);
    AddEntry(kat, "/proc/self/mem", 180, 200, 0, 20);  // a read error ends the queries there
    AddEntry(kat, dir.File("a.xyz"), 50, 150, 0, 50);  // the same file twice

    std::vector<TBatchPunkt> punkte = {{75, 75}, {100, 50}, {195, 5}, {160, 80}, {-50, -50}};
    // Enough points that a batch answers them on both its threads (64 a chunk); single
    // queries take the first ones.
    for (int i = 0; i < 250; ++i) punkte.push_back({(rng() % 22000) / 100.0 - 10, (rng() % 12000) / 100.0 - 10});
    const std::size_t n = punkte.size(), einzelne = 30;

    // Alone, one thread: the answers to compare with.
    std::vector<std::string> einzeln[2], batch(n);
    THoehenAbfrage q;
    for (std::size_t k = 0; k < einzelne; ++k)
        for (int t = 0; t < 2; ++t) einzeln[t].push_back(Einzeln(q, kat, punkte[k].X, punkte[k].Y, t ? ',' : '.'));
    TBatchAbfrage allein(kat, 40, 2.5);
    allein.SetThreads(1);
    for (std::size_t k = 0; k < n; ++k) {
        THoehenAntwort antwort;
        allein.Ask(punkte[k].X, punkte[k].Y, antwort);
        batch[k] = Text(antwort);
    }

    // At once: each thread runs single queries with its own engine and observer, then a
    // batch of its own over all points (two answering threads, read ahead, a tight memory
    // bound on every other thread), then single points through that batch.
    constexpr int kThreads = 4;
    std::vector<int> fehler(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 eigen(static_cast<unsigned>(t));
            std::vector<std::size_t> reihe(n);
            for (std::size_t k = 0; k < n; ++k) reihe[k] = k;
            std::shuffle(reihe.begin(), reihe.end(), eigen);
            THoehenAbfrage eigeneAbfrage;
            for (std::size_t k : reihe)
                if (k < einzelne)
                        fehler[t] += Einzeln(eigeneAbfrage, kat, punkte[k].X, punkte[k].Y, t % 2 ? ',' : '.') != einzeln[t % 2][k];
            TBatchAbfrage b(kat, 40, 2.5);
            b.SetThreads(2);
            if (t % 2) b.SetMemoryBound(1);
            std::vector<std::string> antworten(n);
            b.AnswerAll(punkte, [&](std::size_t k, const THoehenAntwort& x) { antworten[k] = Text(x); }, {},
                         {{75, 75}, {150, 50}});
            for (std::size_t k = 0; k < n; ++k) fehler[t] += antworten[k] != batch[k];
            for (std::size_t k : reihe) {
                if (k >= einzelne) continue;
                THoehenAntwort antwort;
                b.Ask(punkte[k].X, punkte[k].Y, antwort);
                fehler[t] += Text(antwort) != batch[k];
            }
        });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(fehler[t], 0) << "thread " << t;
    // The comparison means something: the points meet every case.
    THoehenAntwort voll, abbruch, leer;
    allein.Ask(75, 75, voll);
    allein.Ask(195, 5, abbruch);
    allein.Ask(-50, -50, leer);
    EXPECT_EQ(voll.Anzahl, MaxPunkte);
    EXPECT_FALSE(abbruch.Beendet);
    EXPECT_TRUE(leer.Dateien.empty());
    EXPECT_NE(einzeln[0][0], einzeln[1][0]);  // the separators differ
}
