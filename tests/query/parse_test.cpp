// The query's own line parsing, its quick square test and its line splitting.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "formats/QuadratTest.h"
#include "formats/TextPoints.h"
#include "formats/PunktQuelle.h"
#include "query/Batch.h"
#include "query/Query.h"
#include "query_test_util.h"
#include "tools/Tools.h"

using namespace tervalo;

namespace {

struct Xyz {
    bool punkt;
    double x, y, z;
};

Xyz Parse(std::string_view line) {
    Xyz r{};
    r.punkt = ParseQueryLine(line, r.x, r.y, r.z);
    return r;
}

// The rules written out plainly with the helper unit, as the reference for the fast paths.
Xyz Referenz(std::string_view line) {
    Xyz r{false, 0, 0, 0};
    std::size_t i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= 32) ++i;
    std::string_view s = line.substr(i);
    std::size_t b = s.find(' ');
    if (b == std::string_view::npos) return r;
    r.punkt = true;
    const bool xOk = ValDouble(CleanNumber(s.substr(0, b), true), r.x) == 0;
    s = s.substr(b + 1);
    i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    s = s.substr(i);
    b = s.find(' ');
    if (b != std::string_view::npos && xOk) {
        ValDouble(CleanNumber(s.substr(0, b), true), r.y);
        s = s.substr(b + 1);
    }
    const std::string zt = CleanNumber(s, true);
    if (!zt.empty()) ValDouble(zt, r.z);
    return r;
}

void ExpectSame(const Xyz& a, const Xyz& b, const std::string& line) {
    ASSERT_EQ(a.punkt, b.punkt) << line;
    if (!a.punkt) return;
    // Bit for bit, so 0.0 and -0.0 or two roundings would show.
    EXPECT_EQ(std::signbit(a.x), std::signbit(b.x)) << line;
    EXPECT_EQ(a.x, b.x) << line;
    EXPECT_EQ(a.y, b.y) << line;
    EXPECT_EQ(a.z, b.z) << line;
}

}  // namespace

TEST(QueryParse, ColumnsCommasAndBlanks) {
    Xyz r = Parse("12,5 7,25 3,4");
    EXPECT_TRUE(r.punkt);
    EXPECT_EQ(r.x, 12.5);
    EXPECT_EQ(r.y, 7.25);
    EXPECT_EQ(r.z, 3.4);
    ExpectSame(Parse("12.5 7.25 3.4"), r, "points");
    ExpectSame(Parse("  \t 12.5    7.25   3.4  \r"), r, "blanks, tab and CR");

    // Two columns: Y stays 0, the second column is Z.
    r = Parse("12.5 7.25");
    EXPECT_EQ(r.x, 12.5);
    EXPECT_EQ(r.y, 0.0);
    EXPECT_EQ(r.z, 7.25);

    // Further columns join Z; letters glued to a number are dropped.
    r = Parse("10.5 20.5 123.4 7");
    EXPECT_DOUBLE_EQ(r.z, 123.47);
    r = Parse("10.5m 20.5m 123.4m");
    EXPECT_EQ(r.x, 10.5);
    EXPECT_EQ(r.z, 123.4);

    // The exponent survives the cleaner here.
    r = Parse("1.5E3 2e1 -2.5e-1");
    EXPECT_EQ(r.x, 1500.0);
    EXPECT_EQ(r.y, 20.0);
    EXPECT_EQ(r.z, -0.25);
}

TEST(QueryParse, LinesWithoutPointAndFailedConversions) {
    EXPECT_FALSE(Parse("").punkt);
    EXPECT_FALSE(Parse("   \r").punkt);
    EXPECT_FALSE(Parse("1.0\t2.0\t3.0").punkt);
    EXPECT_FALSE(Parse("1.0;2.0;3.0").punkt);

    // A heading of letters gives the point (0, 0, 0).
    Xyz r = Parse("X Y Z");
    EXPECT_TRUE(r.punkt);
    EXPECT_EQ(r.x, 0.0);
    EXPECT_EQ(r.y, 0.0);
    EXPECT_EQ(r.z, 0.0);

    // X fails: it keeps the failed conversion's value, Y is not read, the rest is Z.
    r = Parse("1.2.3 5 6");
    EXPECT_TRUE(r.punkt);
    EXPECT_EQ(r.x, 12.0);
    EXPECT_EQ(r.y, 0.0);
    EXPECT_EQ(r.z, 56.0);

    // Y fails: its failed value is taken and the line goes on.
    r = Parse("1 2-3 4");
    EXPECT_EQ(r.x, 1.0);
    EXPECT_EQ(r.y, 2.0);
    EXPECT_EQ(r.z, 4.0);

    r = Parse("5. 6 7");
    EXPECT_EQ(r.x, 5.0);
    EXPECT_EQ(r.y, 6.0);
}

TEST(QueryParse, FastPathsAgreeWithTheRules) {
    std::mt19937 rng(42);
    const std::string alphabet = "0123456789012345678901234567890123456789..,,--+eE   \t\rxZ";
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        const int len = static_cast<int>(rng() % 30);
        for (int k = 0; k < len; ++k) line += alphabet[rng() % alphabet.size()];
        ExpectSame(Parse(line), Referenz(line), line);
    }
    for (const char* line : {"3566000.000 5936000.000 98.991", "-0 -0 -0", "0,5 ,5 5,", "+1 +2 +3",
                             "00012.50 0007 -0012,5", "1 2 3 4 5 6", "  -1.5e+2  -3E-1  7e0  "})
        ExpectSame(Parse(line), Referenz(line), line);
}

TEST(QueryParse, QuickSquareTestNeverDropsAPointInside) {
    std::mt19937 rng(7);
    const char* formen[] = {"%.3f %.3f %.3f", "%.0f %.0f %.1f", "%.2f  %.2f", "%.1f,%.1f %.1f",
                            " %.3f\t%.3f %.3f", "%+.2f %.2f %.2f", "%.2e %.2f %.2f", "%.3f %.3fx %.3f",
                            "%012.3f %012.3f %9.3f", "%.9f %.9f %.3f", "%12.3f %12.3f %9.3f"};
    // Small and Gauss-Krueger sized coordinates; squares with whole and broken bounds.
    for (double basis : {0.0, 100.0, 3566000.0, 99999990.0}) {
        for (int n = 0; n < 20000; ++n) {
            const double x = basis + (rng() % 20000) / 100.0, y = basis + (rng() % 20000) / 100.0;
            char line[160];
            std::snprintf(line, sizeof line, formen[rng() % 11], x, y, 1.0);
            std::string s = line;
            if (rng() % 4 == 0) {
                for (char& c : s) if (c == '.' && rng() % 2) c = ',';
            }
            const double cx = basis + (rng() % 200), cy = basis + (rng() % 200);
            const double d = (rng() % 2 ? (rng() % 3000) / 100.0 : static_cast<double>(rng() % 30));
            Xyz r = Parse(s);
            const bool drin = r.punkt && InRect(r.x, r.y, cx - d, cx + d, cy - d, cy + d);
            if (drin) {
                EXPECT_TRUE(MayLieInQuadrat(s.data(), s.data() + s.size(), cx - d, cx + d, cy - d, cy + d))
                    << s << " square " << cx << " " << cy << " " << d;
            }
        }
    }
    // And it does drop plain lines outside, which is what makes the query fast.
    const std::string weit = " 3566000.000  5936000.000    98.991";
    const char* b = weit.data();
    const char* e = b + weit.size();
    EXPECT_FALSE(MayLieInQuadrat(b, e, 3567000, 3567100, 5936000, 5936100));
    EXPECT_FALSE(MayLieInQuadrat(b, e, 3565000, 3566100, 5937000, 5937100));
    EXPECT_FALSE(MayLieInQuadrat(b, e, 3566001.0001, 3566100, 5935000, 5937100));
    EXPECT_TRUE(MayLieInQuadrat(b, e, 3566001, 3566100, 5935000, 5937100));
    EXPECT_TRUE(MayLieInQuadrat(b, e, 3566000.5, 3566100, 5935000, 5937100));
    EXPECT_TRUE(MayLieInQuadrat(b, e, 3565000, 3566000, 5936000, 5936000));
    EXPECT_FALSE(MayLieInQuadrat(b, e, 3565000, 3565999.99, 5935000, 5937100));
}

namespace {

std::vector<std::string> Zeilen(const std::string& path) {
    std::vector<std::string> out;
    TZeilenLeser r(path);
    std::string_view line;
    while (r.ReadLine(line)) out.emplace_back(line);
    return out;
}

// Lines the point source walks with the query's rule.
std::size_t ZeilenDerQuelle(const std::string& path) {
    TPunktQuelle quelle(path);
    EXPECT_EQ(quelle.Open(), 0);
    std::size_t n = 0;
    quelle.Read<TAbfrageZeilenRegel>([&](const auto&) { ++n; });
    return n;
}

}  // namespace

TEST(QueryScan, LineEndsAndEndOfFileByte) {
    qtest::TempDir dir;
    const std::string f = dir.File("a.xyz");
    struct Fall {
        std::string text;
        std::vector<std::string> zeilen;
    };
    const Fall faelle[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"\n\n", {"", ""}},
        {"a\nb", {"a", "b"}},
        {"a\nb\x1A" "c\nd\n", {"a", "b"}},
        {"a\n\x1A" "b\n", {"a"}},
        {"\x1A" "a\n", {}},
    };
    for (const Fall& fall : faelle) {
        qtest::WriteFile(f, fall.text);
        EXPECT_EQ(Zeilen(f), fall.zeilen);
        // The source walks the same lines.
        EXPECT_EQ(ZeilenDerQuelle(f), fall.zeilen.size());
    }
    TDateiBytes fehlt;
    EXPECT_NE(fehlt.Open(dir.File("fehlt.xyz")), 0);
    EXPECT_NE(fehlt.Open(dir.Path().string()), 0);  // a folder is no text file
}

TEST(QueryScan, LongLinesAndBlockBorders) {
    qtest::TempDir dir;
    const std::string f = dir.File("b.xyz");
    std::mt19937 rng(3);
    std::vector<std::string> erwartet;
    std::string text;
    for (int n = 0; n < 3000; ++n) {
        std::size_t len = rng() % 700;
        if (n == 1500) len = 1500000;  // longer than a block: only its prefix is delivered
        std::string z(len, 'x');
        for (char& c : z) c = static_cast<char>('0' + rng() % 10);
        erwartet.push_back(z.substr(0, LinePrefixBytes));
        text += z + "\n";
    }
    qtest::WriteFile(f, text);
    EXPECT_EQ(Zeilen(f), erwartet);
}

TEST(QueryScan, LongLinesKeepTheirPrefixAndCountOnce) {
    qtest::TempDir dir;
    const std::string f = dir.File("lang.xyz");
    const std::size_t P = LinePrefixBytes;
    // A 10 MB line between two point lines: delivered as its prefix, counted once.
    std::string huge(10 * 1000 * 1000, '7');
    huge[3] = ' ';
    qtest::WriteFile(f, "10 20 30\r\n" + huge + "\r\n11 21 31\r\n");
    EXPECT_EQ(Zeilen(f), (std::vector<std::string>{"10 20 30", huge.substr(0, P), "11 21 31"}));
    EXPECT_EQ(ZeilenDerQuelle(f), 3u);

    // Exactly the prefix is whole; a Ctrl-Z behind a cut line ends the file after it.
    const std::string exact(P, 'e');
    qtest::WriteFile(f, exact + "\n" + exact + "x\n" + exact + exact + "\x1A" "\nnie\n");
    EXPECT_EQ(Zeilen(f), (std::vector<std::string>{exact, exact, exact}));
    EXPECT_EQ(ZeilenDerQuelle(f), 3u);

    // The query and the batch read both points and count three lines.
    TDateien kat;
    qtest::WriteFile(f, "10 20 30\r\n" + huge + "\r\n11 21 31\r\n");
    qtest::AddEntry(kat, f);
    THoehenAbfrage q;
    TAbfrageParameter p;
    p.X = 10;
    p.Y = 20;
    p.Fangbreite = 5;
    const THoehenAntwort& e = q.Run(kat, p);
    ASSERT_EQ(e.Dateien.size(), 1u);
    EXPECT_EQ(e.Dateien[0].Gelesen, 3);
    EXPECT_EQ(e.Dateien[0].Gefiltert, 2);
    TBatchAbfrage batch(kat, 5, 2);
    THoehenAntwort a;
    batch.Ask(10, 20, a);
    EXPECT_EQ(a.Dateien[0].Gelesen, 3);
    EXPECT_EQ(a.Anzahl, 2);
}

TEST(QueryScan, CrLfAndLoneCrGiveTheResultOfTheLfFile) {
    qtest::TempDir dir;
    const std::string crlf = qtest::XyzText(qtest::Grid(3566000, 3566040, 5936000, 5936040, 1));
    std::string lf, lone;
    std::size_t k = 0;
    for (std::size_t a = 0, b; (b = crlf.find("\r\n", a)) != std::string::npos; a = b + 2, ++k) {
        std::string zeile = crlf.substr(a, b - a);
        lf += zeile + "\n";
        // A lone CR inside X, inside Y, or one more before the line end, by turns.
        if (k % 3 == 2)
            lone += zeile + "\r\r\n";
        else
            lone += zeile.insert(k % 3 == 0 ? 3 : 17, "\r") + "\r\n";
    }
    auto abfrage = [&](const std::string& name, const std::string& text) {
        const std::string f = dir.File(name);
        qtest::WriteFile(f, text);
        TDateien kat;
        qtest::AddEntry(kat, f);
        THoehenAbfrage q;
        TAbfrageParameter p;
        p.X = 3566020.3;
        p.Y = 5936020.4;
        p.Fangbreite = 5;
        const THoehenAntwort e = q.Run(kat, p);
        TBatchAbfrage batch(kat, p.Fangbreite, p.Potenz);
        THoehenAntwort a;
        batch.Ask(p.X, p.Y, a);
        EXPECT_EQ(a.Dateien.at(0).Gelesen, e.Dateien.at(0).Gelesen);
        const TFensterTexte t = BuildFensterTexte(e, ',');
        return std::make_tuple(e.Dateien.at(0).Gelesen, e.Dateien.at(0).Gefiltert, t.LB_nextPointZ,
                               t.LB_ExtrapolPointZ, t.Grid, a.Anzahl, a.Naechster.Z, a.ShepardZ);
    };
    const auto erwartet = abfrage("lf.xyz", lf);
    EXPECT_EQ(std::get<0>(erwartet), 41 * 41);
    EXPECT_EQ(std::get<1>(erwartet), 100);
    EXPECT_EQ(abfrage("crlf.xyz", crlf), erwartet);
    EXPECT_EQ(abfrage("lone.xyz", lone), erwartet);
    EXPECT_NE(lone.find("\r\r\n"), std::string::npos);
}
