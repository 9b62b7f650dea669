// A catalogue of gzip-packed tiles answers exactly as the same tiles unpacked: the height query,
// the batch, the extent scan, the export and the conversion; only the file names differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "QueryTestUtil.h"
#include "export/Export.h"
#include "filemanager/Extent.h"
#include "filemanager/Konvert.h"
#include "formats/GzipStrom.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "support/Shell.h"

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
    const TAbfrageErgebnis& e = q.Ergebnis();
    std::string s = p.s + Zeilen(e.Dateien) + A(e.X) + A(e.Y) + A(e.SqXmin) + A(e.SqXmax) + A(e.SqYmin) +
                    A(e.SqYmax) + std::to_string(e.LetzterEintrag) + e.LB_Datei + "|" + e.LB_DateiVoll + "|" +
                    std::to_string(e.Beendet) + e.Fehler + "|" + e.LB_nextPointR + e.LB_nextPointZ +
                    e.LB_ExtrapolnPoints + e.LB_ExtrapolPointZ + std::to_string(e.Berechnet) + "\n";
    for (const auto& row : e.Grid)
        for (const std::string& cell : row) s += cell + "|";
    const TBerechnung& b = e.Berechnung;
    s += std::to_string(b.Naechster) + " " + std::to_string(b.ShepardN) + A(b.ShepardZ) + "\n";
    for (int r : b.Rang) s += std::to_string(r) + ",";
    const TPunktSpeicher& sp = q.Speicher();
    s += "\nstore " + std::to_string(sp.Anzahl) + "\n";
    for (std::size_t i = 1; i <= sp.Anzahl; ++i) s += A(sp.X[i]) + A(sp.Y[i]) + A(sp.Z[i]) + A(sp.R[i]) + "\n";
    return s;
}

std::string Antwort(TBatchAbfrage& batch, double x, double y) {
    TBatchAntwort a;
    batch.Frage(x, y, a);
    std::string s = Zeilen(a.Dateien) + std::to_string(a.LetzterEintrag) + a.LB_DateiVoll + std::to_string(a.Beendet) +
                    a.Fehler + std::to_string(a.Anzahl) + std::to_string(a.Berechnet) + std::to_string(a.HatNaechster) +
                    A(a.NX) + A(a.NY) + A(a.NZ) + A(a.NR) + std::to_string(a.ShepardN) + A(a.ShepardZ) + "\n";
    for (const std::string& m : batch.NeueMeldungen()) s += m + "\n";
    return s;
}

struct ExportLog : TExportObserver {
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
            struct : TKonvertObserver {
            } still;
            const TKonvertResult r = Konvertieren(quelle, k.dir.File("tafel.dbf"), {TAusgabeFormat::DBase, 4}, {},
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
            TRunOptions opt;
            opt.DuplicateLimit = 20000;  // the memory fills up in the dense tile
            const TExportResult r = ExportRun(kat, {960, 1040, 940, 1060}, k.dir.File("aus"), format, opt, log);
            return log.s + std::to_string(r.Total) + " " + std::to_string(r.Duplicates) + std::to_string(r.Error) +
                   std::to_string(r.Cancelled) + "\n" +
                   OhneDatum(ReadAll(k.dir.File("aus")), format.Format == TAusgabeFormat::DBase);
        };
        const std::string klar = exportiere(k.klar);
        ASSERT_NE(klar.find("Werte aus Datei: c.xyz"), std::string::npos) << klar;
        EXPECT_TRUE(Gleich(klar, Ohne(exportiere(k.gepackt))));
    }
}

TEST(GepackteKacheln, ADamagedTileEndsEveryRunWithTheDamageAndItsPath) {
    Kacheln k;
    const std::string bPfad = k.gepackt.Datei[2], defekt = "Datei besch\xC3\xA4" "digt (gzip): " + bPfad;
    const std::string ganz = ReadAll(bPfad);
    // A tile cut short is found in the middle of a query at its centre, after tile b.
    const std::string d = k.gepackt.Datei[4];
    qtest::WriteFile(d, ReadAll(d).substr(0, ReadAll(d).size() / 2));
    THoehenAbfrage q;
    TAbfrageParameter par;
    par.X = par.Y = 1000;
    EXPECT_THROW(q.Run(k.gepackt, par), EGzipDefekt);
    const TAbfrageErgebnis& e = q.Ergebnis();
    const std::string defektD = "Datei besch\xC3\xA4" "digt (gzip): " + d;
    EXPECT_FALSE(e.Beendet);
    EXPECT_EQ(e.Fehler, defektD);
    ASSERT_EQ(e.Dateien.size(), 4u);
    EXPECT_EQ(e.Dateien[3].Fehler, defektD);
    EXPECT_EQ(e.Dateien[2].Fehler, "");
    // What came before the damage is counted, as after a read error.
    EXPECT_GT(e.Dateien[3].Gelesen, 241 * 241 / 3);
    EXPECT_LT(e.Dateien[3].Gelesen, 241 * 241);

    // Garbage behind the last member of b: the batch names it once, the scan and the export throw it.
    qtest::WriteFile(bPfad, ganz + "kein gzip");
    TBatchAbfrage batch(k.gepackt, 50, 2);
    TBatchAntwort a;
    batch.Frage(1000, 1000, a);
    EXPECT_FALSE(a.Beendet);
    EXPECT_EQ(batch.NeueMeldungen(), std::vector<std::string>{defekt});
    try {
        ReadExtremwerte(bPfad);
        ADD_FAILURE() << "the scan took a damaged tile";
    } catch (const EGzipDefekt& x) {
        EXPECT_EQ(x.what(), defekt);
    }
    qtest::WriteFile(k.dir.File("aus.xyz"), "alt");
    ExportLog log;
    try {
        TDateien cb;
        qtest::AddEntry(cb, k.gepackt.Datei[3]);
        qtest::AddEntry(cb, bPfad);
        ExportRun(cb, {0, 2000, 0, 2000}, k.dir.File("aus.xyz"), {}, {}, log);
        ADD_FAILURE() << "the export took a damaged tile";
    } catch (const EInOutError& x) {
        EXPECT_EQ(x.what(), defekt);
    }
    EXPECT_EQ(ReadAll(k.dir.File("aus.xyz")), "alt");
    struct : TKonvertObserver {
    } still;
    EXPECT_THROW(Konvertieren(bPfad, k.dir.File("t.dbf"), {TAusgabeFormat::DBase, 3}, {}, {}, still), EGzipDefekt);
}

}  // namespace
