// A catalogue of gzip-packed tiles answers exactly as the same tiles unpacked: the height query,
// the batch, the extent scan, the export and the conversion; only the file names differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "query_test_util.h"
#include "export/Export.h"
#include "filemanager/Extent.h"
#include "filemanager/Konvert.h"
#include "formats/GzipStrom.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "support/shell.h"

using namespace tervalo;
using tervalo::test::Quote;
using tervalo::test::ReadAll;
using tervalo::test::Shell;

namespace {

// The packed twin of "n.xyz" is "n.xyz.gz"; names aside, both must read alike.
std::string Ohne(std::string s) {
    for (std::size_t i; (i = s.find(".xyz.gz")) != std::string::npos;) s.erase(i + 4, 3);
    return s;
}

std::string A(double v) {
    char b[40];
    std::snprintf(b, sizeof b, " %a", v);
    return b;
}

// Equal strings, or where they part.
testing::AssertionResult Gleich(const std::string& klar, const std::string& gepackt) {
    if (klar == gepackt) return testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < klar.size() && i < gepackt.size() && klar[i] == gepackt[i]) ++i;
    const std::size_t von = i < 80 ? 0 : i - 80;
    return testing::AssertionFailure() << "differ at " << i << ":\n  unpacked: " << klar.substr(von, 160)
                                       << "\n  packed:   " << gepackt.substr(von, 160);
}

// Tiles around (1000, 1000) with CR LF, lone CR and LF line ends, a heading, a last line
// without line end, Ctrl-Z with lines behind it, repeats within and across tiles and more
// points near the centre than the store holds. The block boundaries of the stream fall mid-line.
struct Kacheln {
    qtest::TempDir dir;
    TDateien klar, gepackt;
    std::vector<std::string> namen{"a", "b", "c", "d"};

    Kacheln() {
        std::mt19937 gen(5);
        auto zeile = [&](double x, double y, const char* ende) {
            char b[80];
            std::snprintf(b, sizeof b, "%.3f %.3f %.3f%s", x, y, 50 + (gen() % 1000003) / 7.0, ende);
            return std::string(b);
        };
        std::string a = "X Y Z\r\n", b, c, d;
        for (double y = 800; y <= 1200; y += 2)
            for (double x = 800; x <= 1200; x += 2) a += zeile(x, y, "\r\n");
        const char* enden[] = {"\r\n", "\n", "\r", "\r\r\n", "\n\n"};
        int n = 0;
        for (double y = 901; y <= 1099; y += 2)
            for (double x = 901; x <= 1099; x += 2) {
                b += zeile(x, y, enden[n++ % 5]);
                if (x == 1001) b += zeile(x, y, "\n");  // a repeat within the tile
            }
        b += zeile(1000.5, 1000.5, "");
        for (double y = 990; y <= 1010; y += 1) c += zeile(1000, y, "\n");  // repeats of a
        c += "\x1A" + zeile(1000.25, 1000.25, "\n");
        for (double y = 970; y <= 1030; y += 0.25)
            for (double x = 970; x <= 1030; x += 0.25) d += zeile(x, y, "\r\n");
        const std::string packer[] = {"gzip -1", "gzip -9", "", "gzip -1"};
        for (std::size_t i = 0; i < namen.size(); ++i) {
            const std::string f = dir.File(namen[i] + ".xyz"), g = f + ".gz";
            qtest::WriteFile(f, std::vector<std::string>{a, b, c, d}[i]);
            // c becomes two members, split inside a line.
            const std::string cmd = !packer[i].empty() ? packer[i] + " -c " + Quote(f) + " > " + Quote(g)
                                    : "{ head -c 60 " + Quote(f) + " | gzip -9; tail -c +61 " + Quote(f) +
                                          " | gzip -1; } > " + Quote(g);
            EXPECT_EQ(Shell(cmd).code, 0);
            qtest::AddEntry(klar, f);
            qtest::AddEntry(gepackt, g);
        }
    }
};

struct Protokoll : TAbfrageBeobachter {
    std::string s;
    void FileSelected(const TDateiZeile& r, const std::string& lb) override { s += "sel " + r.Name + lb + "\n"; }
    void FileDone(const TDateiZeile& r) override { s += "done " + std::to_string(r.Gelesen) + "\n"; }
    void BusyStep(int step) override { s += std::to_string(step) + ","; }
};

std::string Zeilen(const std::vector<TDateiZeile>& rows) {
    std::string s;
    for (const TDateiZeile& r : rows)
        s += std::to_string(r.Nr) + " " + std::to_string(r.Eintrag) + " " + r.Datei + " " + r.Name + " " +
             std::to_string(r.DBase) + std::to_string(r.OeffnenFehler) + " " + std::to_string(r.Gelesen) + " " +
             std::to_string(r.Gefiltert) + " " + r.Fehler + "\n";
    return s;
}

// What a query answers: the result labels, the grid, the computation and the whole point store.
std::string Antworten(const THoehenAbfrage& q) {
    const THoehenAntwort& e = q.Ergebnis();
    const TFensterTexte t = BuildFensterTexte(e, ',');
    std::string s = t.LB_nextPointR + t.LB_nextPointZ + t.LB_ExtrapolnPoints + t.LB_ExtrapolPointZ +
                    std::to_string(e.Berechnet) + "\n";
    for (const auto& row : t.Grid)
        for (const std::string& cell : row) s += cell + "|";
    const TAntwortPunkt& n = e.Naechster;
    s += std::to_string(e.HatNaechster) + A(n.X) + A(n.Y) + A(n.Z) + A(n.R) + " " + std::to_string(e.ShepardN) +
         A(e.ShepardZ) + " " + std::to_string(e.Anzahl) + "\n";
    for (const TAntwortPunkt& r : e.Rangliste) s += A(r.X) + A(r.Y) + A(r.Z) + A(r.R) + ",";
    const TPunktSpeicher& sp = q.Speicher();
    s += "\nstore " + std::to_string(sp.Anzahl) + "\n";
    for (std::size_t i = 1; i <= sp.Anzahl; ++i) s += A(sp.X[i]) + A(sp.Y[i]) + A(sp.Z[i]) + A(sp.R[i]) + "\n";
    return s;
}

// Every field of a query's result, the observer's calls and the whole point store.
std::string Abfrage(const TDateien& kat, double x, double y) {
    THoehenAbfrage q;
    Protokoll p;
    TAbfrageParameter par;
    par.X = x, par.Y = y, par.Fangbreite = 50, par.Potenz = 2.5;
    try {
        q.Run(kat, par, &p);
    } catch (const std::exception& e) {
        p.s += std::string("throws ") + e.what() + "\n";
    }
    const THoehenAntwort& e = q.Ergebnis();
    return p.s + Zeilen(e.Dateien) + A(e.X) + A(e.Y) + A(e.Fangbreite) + A(e.Potenz) +
           std::to_string(e.LetzterEintrag) + q.DateiLabel() + "|" + e.LB_DateiVoll + "|" + std::to_string(e.Beendet) +
           e.Fehler + "|" + Antworten(q);
}

std::string Antwort(TBatchAbfrage& batch, double x, double y) {
    THoehenAntwort a;
    batch.Ask(x, y, a);
    std::string s = Zeilen(a.Dateien) + std::to_string(a.LetzterEintrag) + a.LB_DateiVoll + std::to_string(a.Beendet) +
                    a.Fehler + std::to_string(a.Anzahl) + std::to_string(a.Berechnet) + std::to_string(a.HatNaechster) +
                    A(a.Naechster.X) + A(a.Naechster.Y) + A(a.Naechster.Z) + A(a.Naechster.R) + std::to_string(a.ShepardN) + A(a.ShepardZ) + "\n";
    for (const std::string& m : batch.TakeMessages()) s += m + "\n";
    return s;
}

struct ExportLog : TExportBeobachter {
    std::string s;
    void Log(const std::string& line) override { s += line + "\n"; }
};

// The output of a run with the table's date (header bytes 1 to 3) blanked.
std::string OhneDatum(std::string bytes, bool tabelle) {
    if (tabelle && bytes.size() > 3) bytes.replace(1, 3, "DAT");
    return bytes;
}

const double kPunkte[][2] = {{1000, 1000}, {1001.1, 999.3}, {950, 1050}, {1150, 830}, {5000, 5000}};

TEST(GepackteKacheln, QueryBatchScanExportAndConversionEqualTheUnpackedOnes) {
    Kacheln k;
    ASSERT_EQ(k.gepackt.Anzahl, 4);
    const std::string mitte = Abfrage(k.klar, 1000, 1000);
    ASSERT_NE(mitte.find("store 15000"), std::string::npos) << "the capacity is not reached";
    for (auto [x, y] : kPunkte) {
        SCOPED_TRACE(testing::Message() << "query at " << x << " " << y);
        EXPECT_TRUE(Gleich(Abfrage(k.klar, x, y), Ohne(Abfrage(k.gepackt, x, y))));
    }
    TBatchAbfrage bk(k.klar, 50, 2.5), bg(k.gepackt, 50, 2.5);
    for (auto [x, y] : kPunkte) {
        SCOPED_TRACE(testing::Message() << "batch at " << x << " " << y);
        EXPECT_TRUE(Gleich(Antwort(bk, x, y), Ohne(Antwort(bg, x, y))));
    }
    EXPECT_EQ(bk.GeleseneDateien(), bg.GeleseneDateien());

    for (std::size_t i = 1; i <= 4; ++i) {
        auto scan = [](const std::string& pfad) {
            const TExtremwerte e = ReadExtremwerte(pfad);
            return A(e.Xmin) + A(e.Xmax) + A(e.Ymin) + A(e.Ymax) + std::to_string(e.Found) + std::to_string(e.Dbase) +
                   std::to_string(e.Opened) + e.OpenError + " " + std::to_string(e.Read) + " " +
                   std::to_string(e.Accepted);
        };
        EXPECT_TRUE(Gleich(scan(k.klar.Datei[i]), scan(k.gepackt.Datei[i]))) << k.klar.Datei[i];

        // The conversion of each tile to a table.
        auto konvert = [&](const std::string& quelle) {
            struct : TKonvertBeobachter {
            } still;
            const TKonvertErgebnis r = Konvertieren(quelle, k.dir.File("tafel.dbf"), {TAusgabeFormat::DBase, 4}, {},
                                                  {}, still);
            return std::to_string(r.Counts.Taken) + " " + std::to_string(r.Counts.NotTaken) + " " +
                   std::to_string(r.SourceIsDbase) + OhneDatum(ReadAll(k.dir.File("tafel.dbf")), true);
        };
        EXPECT_TRUE(Gleich(konvert(k.klar.Datei[i]), konvert(k.gepackt.Datei[i]))) << k.klar.Datei[i];
    }

    // The export ends at a refused line (the heading of a): d and c come first.
    auto exportKatalog = [](const TDateien& kat) {
        TDateien t;
        for (int i : {4, 3, 2, 1}) qtest::AddEntry(t, kat.Datei[i]);
        return t;
    };
    for (const TAusgabe format : {TAusgabe{TAusgabeFormat::Xyz, 3}, TAusgabe{TAusgabeFormat::DBase, 7}}) {
        auto exportiere = [&](const TDateien& alle) {
            const TDateien kat = exportKatalog(alle);
            ExportLog log;
            const TExportErgebnis r = ExportRun(kat, {960, 1040, 940, 1060}, k.dir.File("aus"), format, {}, log);
            return log.s + std::to_string(r.Total) + " " + std::to_string(r.Duplicates) + std::to_string(r.Error) +
                   std::to_string(r.Cancelled) + "\n" +
                   OhneDatum(ReadAll(k.dir.File("aus")), format.Format == TAusgabeFormat::DBase);
        };
        const std::string klar = exportiere(k.klar);
        ASSERT_NE(klar.find("Werte aus Datei: c.xyz"), std::string::npos) << klar;
        EXPECT_TRUE(Gleich(klar, Ohne(exportiere(k.gepackt))));
    }
}

// A damaged packed tile (cut short, a wrong checksum, garbage behind its last member) is
// passed over like a tile that cannot be opened: its row shows the lines read and the damage,
// and the query and the batch answer from the other tiles exactly as without it, although the
// tile came first and alone filled the store before the damage showed.
TEST(GepackteKacheln, ADamagedTileIsPassedOverAndTheOtherTilesAnswer) {
    Kacheln k;
    const std::string kurz = k.dir.File("kurz.xyz.gz"), falsch = k.dir.File("falsch.xyz.gz"),
                      muell = k.dir.File("muell.xyz.gz");
    const std::string d = ReadAll(k.gepackt.Datei[4]);
    qtest::WriteFile(kurz, d.substr(0, d.size() / 2));
    std::string a = ReadAll(k.gepackt.Datei[1]);
    a[a.size() - 8] = static_cast<char>(a[a.size() - 8] ^ 1);  // CRC-32 of the trailer
    qtest::WriteFile(falsch, a);
    qtest::WriteFile(muell, ReadAll(k.gepackt.Datei[2]) + "kein gzip");

    for (const std::string& defekt : {kurz, falsch, muell}) {
        SCOPED_TRACE(defekt);
        const std::string meldung = "Datei besch\xC3\xA4" "digt (gzip): " + defekt;
        TDateien mit, ohne;
        qtest::AddEntry(mit, defekt);
        for (int i = 1; i <= 4; ++i) {
            qtest::AddEntry(mit, k.gepackt.Datei[i]);
            qtest::AddEntry(ohne, k.gepackt.Datei[i]);
        }
        TBatchAbfrage bm(mit, 50, 2.5), bo(ohne, 50, 2.5);
        for (auto [x, y] : kPunkte) {
            SCOPED_TRACE(testing::Message() << "at " << x << " " << y);
            THoehenAbfrage qm, qo;
            TAbfrageParameter par;
            par.X = x, par.Y = y, par.Fangbreite = 50, par.Potenz = 2.5;
            ASSERT_NO_THROW(qm.Run(mit, par));
            qo.Run(ohne, par);
            const THoehenAntwort &e = qm.Ergebnis(), &o = qo.Ergebnis();
            ASSERT_TRUE(e.Beendet);
            ASSERT_EQ(e.Dateien.size(), 5u);
            const TDateiZeile& row = e.Dateien[0];
            EXPECT_EQ(row.Name, FileNamePart(defekt));
            EXPECT_GT(row.Gelesen, 1000);
            EXPECT_EQ(row.Gefiltert, 0);
            EXPECT_EQ(row.Fehler, meldung);
            EXPECT_FALSE(row.OeffnenFehler);
            EXPECT_EQ(e.Fehler, "");
            auto ohneNr = [](TDateiZeile r) {
                r.Nr = r.Eintrag = 0;
                return Zeilen({r});
            };
            for (std::size_t i = 1; i < 5; ++i) EXPECT_EQ(ohneNr(e.Dateien[i]), ohneNr(o.Dateien[i - 1]));
            EXPECT_EQ(e.LB_DateiVoll, o.LB_DateiVoll);
            // Heights, nearest point, ranking and the store itself as without the tile.
            EXPECT_TRUE(Gleich(Antworten(qo), Antworten(qm)));

            THoehenAntwort am, ao;
            bm.Ask(x, y, am);
            bo.Ask(x, y, ao);
            EXPECT_TRUE(am.Beendet);
            ASSERT_EQ(am.Dateien.size(), 5u);
            EXPECT_EQ(Zeilen(am.Dateien), Zeilen(e.Dateien));
            EXPECT_EQ(am.LB_DateiVoll, e.LB_DateiVoll);
            EXPECT_EQ(am.Anzahl, ao.Anzahl);
            EXPECT_EQ(std::to_string(am.Berechnet) + std::to_string(am.HatNaechster) + A(am.Naechster.X) + A(am.Naechster.Y) + A(am.Naechster.Z) +
                          A(am.Naechster.R) + std::to_string(am.ShepardN) + A(am.ShepardZ),
                      std::to_string(ao.Berechnet) + std::to_string(ao.HatNaechster) + A(ao.Naechster.X) + A(ao.Naechster.Y) + A(ao.Naechster.Z) +
                          A(ao.Naechster.R) + std::to_string(ao.ShepardN) + A(ao.ShepardZ));
        }
        EXPECT_EQ(bm.TakeMessages(), std::vector<std::string>{meldung});
    }

    // The last tile damaged: the file label names the damage, as it names a missing file.
    TDateien zuletzt;
    qtest::AddEntry(zuletzt, k.gepackt.Datei[3]);
    qtest::AddEntry(zuletzt, falsch);
    THoehenAbfrage q;
    TAbfrageParameter par;
    par.X = par.Y = 1000;
    q.Run(zuletzt, par);
    EXPECT_EQ(q.Ergebnis().LB_DateiVoll, "Datei besch\xC3\xA4" "digt (gzip): " + falsch);
    EXPECT_EQ(q.DateiLabel(), q.Ergebnis().LB_DateiVoll);
    EXPECT_TRUE(q.Ergebnis().Berechnet);

    // The scan and the conversion of a damaged tile fail with the damage and its path.
    try {
        ReadExtremwerte(muell);
        ADD_FAILURE() << "the scan took a damaged tile";
    } catch (const EGzipDefekt& x) {
        EXPECT_EQ(x.what(), "Datei besch\xC3\xA4" "digt (gzip): " + muell);
    }
    struct : TKonvertBeobachter {
    } still;
    EXPECT_THROW(Konvertieren(kurz, k.dir.File("t.dbf"), {TAusgabeFormat::DBase, 3}, {}, {}, still), EGzipDefekt);
    EXPECT_FALSE(std::filesystem::exists(k.dir.File("t.dbf")));
}

}  // namespace
