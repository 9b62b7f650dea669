// Conversion through PROJ, checked against PROJ's own cs2cs as a black box: random points in the
// NRW DGM area (tiles in UTM 32) and in the demo area (tiles in GK zone 3), expressed in every
// system whose area covers them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "koord/Bezugssystem.h"
#include "koord/Umrechnung.h"
#include "tests/koord/koord_test_util.h"
#include "support/files.h"
#include "support/shell.h"
#include "tools/Eingabezahl.h"

using namespace tervalo;
using tervalo::test::Shell;

namespace {

bool HaveCs2cs() { return Shell("command -v cs2cs >/dev/null").code == 0; }

#define NEED_CS2CS() \
    if (!HaveCs2cs()) GTEST_SKIP() << "cs2cs is not installed (scripts/deps.sh test installs proj-bin)"

using TZeilen = std::vector<std::pair<std::string, std::string>>;

// cs2cs -d 9 over the lines, in the authority's axis order on both sides; the two first columns
// of its answer as texts.
TZeilen Cs2cs(int from, int to, const TZeilen& in, const std::string& env = "") {
    test::TempDir dir;
    std::string text;
    for (const auto& [a, b] : in) text += a + " " + b + "\n";
    test::WriteAll(dir / "in.txt", text);
    const auto r = Shell(env + "cs2cs -d 9 EPSG:" + std::to_string(from) + " EPSG:" + std::to_string(to) + " < " +
                             dir / "in.txt",
                         test::TStderr::Apart);
    TZeilen out;
    std::istringstream s(r.out);
    std::string a, b, z;
    while (s >> a >> b >> z) out.emplace_back(a, b);
    EXPECT_EQ(out.size(), in.size()) << r.out << r.err;
    return out;
}

double Num(const std::string& t) { return dezimal::ReadArgumentZahl(t).value_or(NAN); }

// Northing first in the EPSG definitions of the GK zones, latitude first for geographic systems.
bool NorthFirst(int epsg) { return epsg >= 31466 && epsg <= 31469; }

// The typed order (Rechtswert/easting or latitude first) from the authority order and back.
std::pair<std::string, std::string> Typed(int epsg, const std::pair<std::string, std::string>& p) {
    return NorthFirst(epsg) ? std::pair{p.second, p.first} : p;
}

TZeilen RandomPoints(double x0, double y0, double halb, int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-halb, halb);
    TZeilen p;
    char a[64], b[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(a, sizeof a, "%.3f", x0 + d(rng));
        std::snprintf(b, sizeof b, "%.3f", y0 + d(rng));
        p.emplace_back(a, b);
    }
    return p;
}

// "51°30'12.345678\"N" or "51 30 12.345678 N"; the value it stands for as 12-decimal text.
std::pair<std::string, std::string> Dms(double grad, bool breite, bool marks) {
    const char letter = grad < 0 ? (breite ? 'S' : 'W') : (breite ? 'N' : 'E');
    const double a = std::fabs(grad);
    const int d = static_cast<int>(a);
    const int m = static_cast<int>((a - d) * 60);
    const double s = std::round(((a - d) * 60 - m) * 60 * 1e6) / 1e6;
    char t[80], v[40];
    if (marks)
        std::snprintf(t, sizeof t, "%d\xC2\xB0%d'%.6f\"%c", d, m, s, letter);
    else
        std::snprintf(t, sizeof t, "%d %d %.6f %c", d, m, s, letter);
    const double back = (d + m / 60.0 + s / 3600.0) * (grad < 0 ? -1 : 1);
    std::snprintf(v, sizeof v, "%.12f", back);
    return {t, v};
}

struct TFall {
    const char* name;   // system as typed
    int epsg;
    bool dms = false;
    bool marks = false;
};

// For points given in the tiles' system, expresses them in each system of `faelle` (through
// cs2cs), converts them back with TUmrechnung and compares with cs2cs for the same pair.
void Differential(const char* kachelName, const TZeilen& kachelPunkte, std::initializer_list<TFall> faelle) {
    const TBezugssystem kacheln = ParseBezugssystem(kachelName);
    TUmrechnung u(kacheln);
    TZeilen authority;
    for (const auto& p : kachelPunkte) authority.push_back(NorthFirst(kacheln.Epsg) ? std::pair{p.second, p.first} : p);
    for (const TFall& f : faelle) {
        SCOPED_TRACE(f.name);
        const TBezugssystem ein = ParseBezugssystem(f.name);
        const TZeilen inAuthority = Cs2cs(kacheln.Epsg, f.epsg, authority);
        TZeilen typed, fed;
        for (const auto& p : inAuthority) {
            if (f.dms) {
                const auto [la, lav] = Dms(Num(p.first), true, f.marks);
                const auto [lo, lov] = Dms(Num(p.second), false, f.marks);
                typed.emplace_back(la, lo);
                fed.emplace_back(lav, lov);
            } else {
                typed.push_back(Typed(f.epsg, p));
                fed.push_back(p);
            }
        }
        const TZeilen expected = Cs2cs(f.epsg, kacheln.Epsg, fed);
        ASSERT_EQ(expected.size(), typed.size());
        for (std::size_t i = 0; i < typed.size(); ++i) {
            const TUmgerechnet r = u.Convert(ein, ReadEingabePunkt(ein, typed[i].first, typed[i].second));
            const auto [ex, ey] = Typed(kacheln.Epsg, expected[i]);
            EXPECT_NEAR(r.X, Num(ex), 1e-6) << typed[i].first << " " << typed[i].second;
            EXPECT_NEAR(r.Y, Num(ey), 1e-6) << typed[i].first << " " << typed[i].second;
            ASSERT_NE(r.Verfahren, nullptr);
        }
    }
}

TEST(Umrechnung, EverySystemOnUtmTilesAgreesWithCs2cs) {
    NEED_CS2CS();
    Differential("utm32", RandomPoints(350000, 5700000, 15000, 40, 1),
                 {{"gk2", 31466}, {"wgs84", 4326}, {"etrs89", 4258}, {"EPSG:4326", 4326},
                  {"wgs84", 4326, true, true}, {"etrs89", 4258, true, false}});
}

TEST(Umrechnung, EverySystemOnGkTilesAgreesWithCs2cs) {
    NEED_CS2CS();
    Differential("gk3", RandomPoints(3567000, 5936000, 4000, 40, 2),
                 {{"utm32", 25832}, {"EPSG:25832", 25832}, {"wgs84", 4326}, {"etrs89", 4258},
                  {"wgs84", 4326, true, false}});
}

TEST(Umrechnung, PrefixedUtmEastingsOnGkTilesAgreeWithCs2cs) {
    NEED_CS2CS();
    const TZeilen gk = RandomPoints(3567000, 5936000, 4000, 20, 3);
    TZeilen nordOst;
    for (const auto& p : gk) nordOst.emplace_back(p.second, p.first);
    const TZeilen utm = Cs2cs(31467, 25832, nordOst);
    const TZeilen back = Cs2cs(25832, 31467, utm);
    TUmrechnung u(ParseBezugssystem("gk3"));
    for (std::size_t i = 0; i < utm.size(); ++i) {
        const std::string mit = "32" + utm[i].first;
        const TBezugssystem ein = DetectBezugssystem(mit, utm[i].second, &u.Kacheln());
        ASSERT_EQ(ein.Epsg, 25832);
        const TUmgerechnet r = u.Convert(ein, ReadEingabePunkt(ein, mit, utm[i].second));
        EXPECT_NEAR(r.X, Num(back[i].second), 1e-6) << mit;
        EXPECT_NEAR(r.Y, Num(back[i].first), 1e-6) << mit;
    }
}

TEST(Umrechnung, OperationNamedAsProjStatesIt) {
    TUmrechnung u(ParseBezugssystem("utm32"));
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    const TUmgerechnet r = u.Convert(gk2, ReadEingabePunkt(gk2, "2560000", "5700000"));
    ASSERT_NE(r.Verfahren, nullptr);
    EXPECT_EQ(r.Verfahren->Gitter, std::optional<std::string>("BETA2007.gsb"));
    EXPECT_EQ(r.Verfahren->GenauigkeitM, 0.9);
    EXPECT_EQ(VerfahrenText(*r.Verfahren), "Umrechnung: " + r.Verfahren->Name + " (Gitter BETA2007), Genauigkeit 0,9 m");
    EXPECT_NE(r.Verfahren->Name.find("DHDN to ETRS89"), std::string::npos) << r.Verfahren->Name;
    // Asked again, the answer is the one description, not a new one per point.
    EXPECT_EQ(u.Convert(gk2, ReadEingabePunkt(gk2, "2560100", "5700100")).Verfahren, r.Verfahren);
    const TBezugssystem wgs = ParseBezugssystem("wgs84");
    const TUmgerechnet w = u.Convert(wgs, ReadEingabePunkt(wgs, "51.5", "7.5"));
    ASSERT_NE(w.Verfahren, nullptr);
    EXPECT_FALSE(w.Verfahren->Gitter);
    EXPECT_NE(VerfahrenText(*w.Verfahren).find(" (ohne Gitter), Genauigkeit "), std::string::npos);
    EXPECT_EQ(VerfahrenText({"X", 12.25, "a.gsb, b.tif"}), "Umrechnung: X (Gitter a, b), Genauigkeit 12,25 m");
}

TEST(Umrechnung, SameSystemGivesTheNumbersWithoutProj) {
    // PROJ does not know EPSG:999999: any PROJ object would fail.
    TBezugssystem s = ParseBezugssystem("EPSG:999999");
    s.Geprueft = true;
    TUmrechnung u(s);
    const TUmgerechnet r = u.Convert(s, TEingabePunkt{350500.123456789, 5700000.987654321, false});
    EXPECT_EQ(r.X, 350500.123456789);
    EXPECT_EQ(r.Y, 5700000.987654321);
    EXPECT_EQ(r.Verfahren, nullptr);
    const TKachelFenster f = u.ConvertWindow(s, {1.5, 0.5, 10, 20});
    EXPECT_EQ(f.XMin, 0.5);
    EXPECT_EQ(f.XMax, 1.5);
    EXPECT_EQ(f.YMax, 20);
    EXPECT_TRUE(f.Verfahren.empty());
    // A utm32 prefix taken off is still no conversion.
    TUmrechnung k(ParseBezugssystem("EPSG:25832"));
    const TBezugssystem utm = ParseBezugssystem("utm32");
    const TUmgerechnet p = k.Convert(utm, ReadEingabePunkt(utm, "32350500.1", "5700000.2"));
    EXPECT_EQ(p.X, 350500.1);
    EXPECT_EQ(p.Y, 5700000.2);
    EXPECT_EQ(p.Verfahren, nullptr);
}

TEST(Umrechnung, BadSystemsAndPlacesAreRefused) {
    TUmrechnung u(ParseBezugssystem("utm32"));
    EXPECT_EQ(KoordMessage([&] { u.CheckSystem(ParseBezugssystem("EPSG:999999")); }),
              "PROJ kennt das Bezugssystem EPSG:999999 nicht");
    for (const char* neither : {"EPSG:4979", "EPSG:4978", "EPSG:5783"})  // 3D, geocentric, vertical
        EXPECT_EQ(KoordMessage([&] { u.CheckSystem(ParseBezugssystem(neither)); }),
                  std::string("Das Bezugssystem ") + neither + " ist weder ein projiziertes noch ein geographisches 2D-System");
    EXPECT_TRUE(u.CheckSystem(ParseBezugssystem("EPSG:4230")).Geographisch);
    EXPECT_FALSE(u.CheckSystem(ParseBezugssystem("EPSG:2056")).Geographisch);
    // An NRW point in UTM 33 lies outside that zone's area.
    const TBezugssystem utm33 = ParseBezugssystem("utm33");
    const std::string m = KoordMessage([&] { u.Convert(utm33, ReadEingabePunkt(utm33, "-80000", "5720000")); });
    EXPECT_EQ(m.rfind("Der Punkt -80000 5720000 liegt au\xC3\x9F" "erhalb des Gebiets, f\xC3\xBC" "r das utm33 (EPSG:25833) gilt", 0), 0u) << m;
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    EXPECT_THROW(u.Convert(gk2, ReadEingabePunkt(gk2, "2560000", "4000000")), EKoordFehler);
    // ED50 in Saxony-Anhalt: no operation of PROJ's covers it but the ballpark shift; in
    // Denmark its own does.
    const TBezugssystem ed50 = u.CheckSystem(ParseBezugssystem("EPSG:4230"));
    const std::string b = KoordMessage([&] { u.Convert(ed50, ReadEingabePunkt(ed50, "52.5", "11")); });
    EXPECT_EQ(b, "F\xC3\xBCr die Umrechnung von EPSG:4230 nach EPSG:25832 kennt PROJ an dieser Stelle nur ein Verfahren "
                 "unbekannter Genauigkeit (Ballpark geographic offset from ED50 to ETRS89 + UTM zone 32N): keine "
                 "Antwort, sie k\xC3\xB6nnte weit daneben liegen");
    EXPECT_NO_THROW(u.Convert(ed50, ReadEingabePunkt(ed50, "56", "9.5")));
    // A GPS position in Australia has no place on tiles in UTM 32.
    const TBezugssystem wgs = ParseBezugssystem("wgs84");
    EXPECT_THROW(u.Convert(wgs, ReadEingabePunkt(wgs, "-33.9", "151.2")), EKoordFehler);
}

TEST(Umrechnung, TextsTakeTheWholeWay) {
    TUmrechnung u(ParseBezugssystem("utm32"));
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    const TUmgerechnet direkt = u.Convert(gk2, ReadEingabePunkt(gk2, "2560000,5", "5700000"));
    const auto a = u.ConvertText(ParseSystemWahl("auto"), "2560000,5", "5700000");
    EXPECT_EQ(a.Eingabe.Epsg, 31466);
    EXPECT_EQ(a.Werte.A, 2560000.5);
    EXPECT_EQ(a.Punkt.X, direkt.X);
    EXPECT_EQ(a.Punkt.Y, direkt.Y);
    const auto p = u.ConvertText(ParseSystemWahl("auto"), "32350500.25", "5700000");
    EXPECT_TRUE(p.Werte.ZoneEntfernt);
    EXPECT_EQ(p.Punkt.X, 350500.25);
    EXPECT_EQ(p.Punkt.Verfahren, nullptr);
    const auto e = u.ConvertText(ParseSystemWahl("EPSG:4230"), "56", "9.5");  // looked up in PROJ
    EXPECT_TRUE(e.Eingabe.Geographisch);
    EXPECT_EQ(u.ConvertText(ParseSystemWahl("EPSG:4230"), "56", "9.5").Punkt.X, e.Punkt.X);
    EXPECT_THROW(u.ConvertText(ParseSystemWahl("auto"), "1234", "5678"), EKoordFehler);
}

TEST(Umrechnung, WindowHoldsEveryConvertedPoint) {
    TUmrechnung u(ParseBezugssystem("utm32"));
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    const TKachelFenster f = u.ConvertWindow(gk2, {2560000, 2562000, 5700000, 5702000});
    ASSERT_EQ(f.Verfahren.size(), 1u);
    EXPECT_EQ(f.Verfahren[0]->Gitter, std::optional<std::string>("BETA2007.gsb"));
    double xmin = INFINITY, xmax = -INFINITY, ymin = INFINITY, ymax = -INFINITY;
    for (int i = 0; i <= 10; ++i)
        for (int j = 0; j <= 10; ++j) {
            const TUmgerechnet p = u.Convert(gk2, TEingabePunkt{2560000 + 200.0 * i, 5700000 + 200.0 * j, false});
            EXPECT_GE(p.X, f.XMin);
            EXPECT_LE(p.X, f.XMax);
            EXPECT_GE(p.Y, f.YMin);
            EXPECT_LE(p.Y, f.YMax);
            xmin = std::fmin(xmin, p.X), xmax = std::fmax(xmax, p.X);
            ymin = std::fmin(ymin, p.Y), ymax = std::fmax(ymax, p.Y);
        }
    // The smallest such window: the grid's own extremes lie on its edges.
    EXPECT_NEAR(f.XMin, xmin, 1e-3);
    EXPECT_NEAR(f.XMax, xmax, 1e-3);
    EXPECT_NEAR(f.YMin, ymin, 1e-3);
    EXPECT_NEAR(f.YMax, ymax, 1e-3);
    // Latitude first for a geographic window.
    const TBezugssystem wgs = ParseBezugssystem("wgs84");
    const TKachelFenster g = u.ConvertWindow(wgs, {51.40, 51.41, 6.80, 6.82});
    EXPECT_GT(g.YMin, 5690000);
    EXPECT_LT(g.XMax, 360000);
}

// Without the BETA2007 grid PROJ falls back to a Helmert shift, and the answer says so.
TEST(Umrechnung, WithoutTheGridTheAnswerSaysSo) {
    const std::filesystem::path daten = "/usr/share/proj";
    if (!std::filesystem::exists(daten / "BETA2007.gsb")) GTEST_SKIP() << "proj-data is not installed";
    test::TempDir kopie;
    for (const auto& e : std::filesystem::directory_iterator(daten))
        if (e.path().filename() != "BETA2007.gsb") std::filesystem::create_symlink(e.path(), kopie.Path() / e.path().filename());
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    const TZeilen punkte = RandomPoints(2560000, 5700000, 5000, 10, 4);
    std::vector<TUmgerechnet> mit;
    {
        TUmrechnung u(ParseBezugssystem("utm32"));
        for (const auto& p : punkte) mit.push_back(u.Convert(gk2, ReadEingabePunkt(gk2, p.first, p.second)));
    }
    const char* altData = std::getenv("PROJ_DATA");
    const std::string alt = altData ? altData : "";
    ::setenv("PROJ_DATA", kopie.Path().c_str(), 1);
    ::setenv("PROJ_LIB", kopie.Path().c_str(), 1);
    std::vector<TUmgerechnet> ohne;
    std::string text;
    {
        TUmrechnung u(ParseBezugssystem("utm32"));
        for (const auto& p : punkte) ohne.push_back(u.Convert(gk2, ReadEingabePunkt(gk2, p.first, p.second)));
        text = VerfahrenText(*ohne.front().Verfahren);
        EXPECT_FALSE(ohne.front().Verfahren->Gitter);
    }
    ::unsetenv("PROJ_LIB");
    if (altData)
        ::setenv("PROJ_DATA", alt.c_str(), 1);
    else
        ::unsetenv("PROJ_DATA");
    EXPECT_NE(text.find(" (ohne Gitter), Genauigkeit "), std::string::npos) << text;
    for (std::size_t i = 0; i < punkte.size(); ++i) {
        const double d = std::hypot(ohne[i].X - mit[i].X, ohne[i].Y - mit[i].Y);
        EXPECT_GT(d, 0.05) << i;
        EXPECT_LT(d, 2.0) << i;
    }
    if (!HaveCs2cs()) return;
    TZeilen nordOst;
    for (const auto& p : punkte) nordOst.emplace_back(p.second, p.first);
    const std::string env = "PROJ_DATA=" + test::Quote(kopie.Path().string()) + " PROJ_LIB=" + test::Quote(kopie.Path().string()) + " ";
    const TZeilen peer = Cs2cs(31466, 25832, nordOst, env);
    for (std::size_t i = 0; i < peer.size(); ++i) {
        EXPECT_NEAR(ohne[i].X, Num(peer[i].first), 1e-6);
        EXPECT_NEAR(ohne[i].Y, Num(peer[i].second), 1e-6);
    }
}

TEST(Umrechnung, ThreadsWithTheirOwnConvertersAgree) {
    const TBezugssystem wgs = ParseBezugssystem("wgs84");
    const TBezugssystem gk2 = ParseBezugssystem("gk2");
    std::vector<std::pair<const TBezugssystem*, TEingabePunkt>> punkte;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> d(0, 1);
    for (int i = 0; i < 100; ++i) {
        punkte.push_back({&wgs, TEingabePunkt{51.2 + 0.4 * d(rng), 6.6 + 0.5 * d(rng), false}});
        punkte.push_back({&gk2, TEingabePunkt{2550000 + 20000 * d(rng), 5690000 + 20000 * d(rng), false}});
    }
    auto run = [&](std::vector<std::pair<double, double>>& out) {
        TUmrechnung u(ParseBezugssystem("utm32"));
        for (const auto& [s, p] : punkte) {
            const TUmgerechnet r = u.Convert(*s, p);
            out.emplace_back(r.X, r.Y);
        }
    };
    std::vector<std::pair<double, double>> allein;
    run(allein);
    std::vector<std::vector<std::pair<double, double>>> je(3);
    std::vector<std::thread> threads;
    for (auto& v : je) threads.emplace_back(run, std::ref(v));
    for (auto& t : threads) t.join();
    for (const auto& v : je) EXPECT_EQ(v, allein);
}

}  // namespace
