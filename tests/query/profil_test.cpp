// Profiles: where the samples lie, what the summary sums, and that every sample is answered as
// the single query at its coordinate.
#include <geodesic.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "query/Batch.h"
#include "query/Profil.h"
#include "query/ProfilJson.h"
#include "query/Query.h"
#include "query_test_util.h"

using namespace tervalo;
using qtest::AddEntry;
using qtest::P;

namespace {

std::vector<double> Stationen(const TProfilLinie& l) {
    std::vector<double> v;
    for (const TProbe& p : l.Proben) v.push_back(p.Station);
    return v;
}

std::string Fehler(const std::vector<TXY>& ecken, const TAbtastung& a) {
    try {
        SampleProfile(ecken, a);
    } catch (const EProfil& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(Profil, StepSamplesEveryStepEveryVertexAndTheEndOnce) {
    // A zero-length segment in the middle adds no sample; station 12 lies on the second leg.
    const TProfilLinie l = SampleProfile({{0, 0}, {10, 0}, {10, 0}, {10, 7.5}}, TAbtastung::MitSchritt(4));
    EXPECT_EQ(Stationen(l), (std::vector<double>{0, 4, 8, 10, 12, 16, 17.5}));
    EXPECT_EQ(l.Laenge, 17.5);
    EXPECT_EQ(l.Ecken, (std::vector<double>{0, 10, 10, 17.5}));
    EXPECT_EQ(l.Proben[4].X, 10);
    EXPECT_DOUBLE_EQ(l.Proben[4].Y, 2);
    std::vector<bool> ecke;
    for (const TProbe& p : l.Proben) ecke.push_back(p.Ecke);
    EXPECT_EQ(ecke, (std::vector<bool>{true, false, false, true, false, false, true}));

    // A vertex on a step station: one sample, with the vertex's own coordinates.
    const TProfilLinie v = SampleProfile({{0.5, 0.25}, {8.5, 0.25}, {8.5, 6.25}}, TAbtastung::MitSchritt(4));
    EXPECT_EQ(Stationen(v), (std::vector<double>{0, 4, 8, 12, 14}));
    EXPECT_TRUE(v.Proben[2].Ecke);
    EXPECT_EQ(v.Proben[2].X, 8.5);
    EXPECT_EQ(v.Proben[2].Y, 0.25);
    // The end is the last vertex exactly, not a point computed along the leg.
    EXPECT_EQ(v.Proben.back().X, 8.5);
    EXPECT_EQ(v.Proben.back().Y, 6.25);

    // A step longer than the line: its start and its end.
    const TProfilLinie k = SampleProfile({{0, 0}, {3, 4}}, TAbtastung::MitSchritt(100));
    EXPECT_EQ(Stationen(k), (std::vector<double>{0, 5}));
    // A line of length 0: one sample.
    EXPECT_EQ(SampleProfile({{7, 7}, {7, 7}}, TAbtastung::MitSchritt(1)).Proben.size(), 1u);
    // Stations are multiples of the step, not sums of it: no drift over many steps.
    const TProfilLinie lang = SampleProfile({{0, 0}, {50000, 0}}, TAbtastung::MitSchritt(0.1));
    EXPECT_EQ(lang.Proben.size(), 500001u);
    EXPECT_EQ(lang.Proben[377777].Station, 377777 * 0.1);
}

TEST(Profil, CountSamplesAtEqualFractionsOfTheLength) {
    const TProfilLinie l = SampleProfile({{0, 0}, {3, 4}, {3, 0}}, TAbtastung::MitAnzahl(5));
    EXPECT_EQ(Stationen(l), (std::vector<double>{0, 2.25, 4.5, 6.75, 9}));
    EXPECT_DOUBLE_EQ(l.Proben[2].X, 2.7);
    EXPECT_DOUBLE_EQ(l.Proben[2].Y, 3.6);
    EXPECT_EQ(l.Proben[3].X, 3);
    EXPECT_DOUBLE_EQ(l.Proben[3].Y, 2.25);
    // No vertex is added, and N = 2 gives the two ends exactly.
    const TProfilLinie zwei = SampleProfile({{0.1, 0.2}, {7.3, 9.9}, {3.3, 3.3}}, TAbtastung::MitAnzahl(2));
    ASSERT_EQ(zwei.Proben.size(), 2u);
    EXPECT_EQ(zwei.Proben[0].X, 0.1);
    EXPECT_EQ(zwei.Proben[1].X, 3.3);
    EXPECT_EQ(zwei.Proben[1].Y, 3.3);
    EXPECT_EQ(zwei.Proben[1].Station, zwei.Laenge);
}

TEST(Profil, GeographicLinesAreMeasuredOnTheEllipsoid) {
    // One degree along a meridian: about 111.2 km, the samples stay on it.
    const TProfilLinie l = SampleProfile({{7, 50}, {7, 51}}, TAbtastung::MitSchritt(10000), true);
    EXPECT_NEAR(l.Laenge, 111230.0, 100.0);
    ASSERT_EQ(l.Proben.size(), 13u);
    geod_geodesic g{};
    geod_init(&g, 6378137.0, 1 / 298.257223563);
    for (const TProbe& p : l.Proben) {
        EXPECT_NEAR(p.X, 7, 1e-9);
        double s = 0;
        geod_inverse(&g, 50, 7, p.Y, p.X, &s, nullptr, nullptr);
        EXPECT_NEAR(s, p.Station, 1e-6);
    }
}

TEST(Profil, RefusesWhatCannotBeSampledWithAGermanMessage) {
    EXPECT_NE(Fehler({{1, 2}}, TAbtastung::MitSchritt(1)).find("mindestens 2 Eckpunkte"), std::string::npos);
    EXPECT_NE(Fehler(std::vector<TXY>(10001, TXY{1, 1}), TAbtastung::MitSchritt(1)).find("10000"), std::string::npos);
    EXPECT_EQ(Fehler(std::vector<TXY>(10000, TXY{1, 1}), TAbtastung::MitSchritt(1)), "");
    for (double s : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_NE(Fehler({{0, 0}, {1, 1}}, TAbtastung::MitSchritt(s)).find("Schritt"), std::string::npos) << s;
    EXPECT_NE(Fehler({{0, 0}, {1, 1}}, TAbtastung::MitAnzahl(1)).find("mindestens 2"), std::string::npos);
    EXPECT_NE(Fehler({{0, 0}, {std::nan(""), 1}}, TAbtastung::MitSchritt(1)).find("Eckpunkt 2"), std::string::npos);
    // A million samples are allowed; one more is refused before any is made.
    EXPECT_EQ(SampleProfile({{0, 0}, {999999, 0}}, TAbtastung::MitSchritt(1)).Proben.size(), 1000000u);
    EXPECT_NE(Fehler({{0, 0}, {1000000, 0}}, TAbtastung::MitSchritt(1)).find("1000000"), std::string::npos);
    EXPECT_NE(Fehler({{0, 0}, {1, 0}}, TAbtastung::MitAnzahl(1000001)).find("1000000"), std::string::npos);
    EXPECT_NE(Fehler({{0, 0}, {1e300, 0}}, TAbtastung::MitSchritt(1e-300)).find("Proben"), std::string::npos);
    // Stations merged with the vertices can pass the bound too.
    std::vector<TXY> zickzack;
    for (int i = 0; i < 10000; ++i) zickzack.push_back({i * 0.5 + 0.25, static_cast<double>(i % 2) * 1e-9});
    EXPECT_NE(Fehler(zickzack, TAbtastung::MitSchritt(0.0050247)).find("Proben"), std::string::npos);
}

namespace {

THoehenAntwort Antwort(std::optional<double> z, int n = 3, double shepard = 0) {
    THoehenAntwort a;
    a.Beendet = true;
    a.Berechnet = true;
    a.HatNaechster = z.has_value();
    a.Naechster.Z = z.value_or(0);
    a.Naechster.R = 1.25;
    a.ShepardN = z ? n : 0;
    a.ShepardZ = shepard;
    return a;
}

}  // namespace

TEST(Profil, SummarySumsOnlyBetweenNeighboursWithData) {
    TProfilSumme s(60);
    const std::vector<std::optional<double>> h = {12, 10, 12, std::nullopt, 15, 11, 11, 14, 10};
    for (std::size_t i = 0; i < h.size(); ++i) s.Add(static_cast<double>(i) * 7.5, Antwort(h[i]));
    const TProfilZusammenfassung& z = s.Ergebnis();
    EXPECT_EQ(z.Proben, 9u);
    EXPECT_EQ(z.OhneDaten, 1u);
    // 10->12 and 11->14 rise; 12->10, 15->11 and 14->10 fall; nothing across the gap.
    EXPECT_EQ(z.Anstieg, 5);
    EXPECT_EQ(z.Abstieg, 10);
    // The first station of the lowest height, not the last.
    EXPECT_EQ(*z.TiefsterZ, 10);
    EXPECT_EQ(*z.TiefsterStation, 7.5);
    EXPECT_EQ(*z.HoechsterZ, 15);
    EXPECT_EQ(*z.HoechsterStation, 30);
    EXPECT_EQ(ZusammenfassungText(z, ','),
              "L\xC3\xA4nge: 60,00 m\nTiefster Punkt: 10,00 mNN bei Station 7,50 m\n"
              "H\xC3\xB6" "chster Punkt: 15,00 mNN bei Station 30,00 m\nAnstieg gesamt: 5,00 m\n"
              "Abstieg gesamt: 10,00 m\nProben ohne Daten: 1 von 9\n");

    TProfilSumme leer(3);
    leer.Add(0, Antwort(std::nullopt));
    leer.Add(3, Antwort(std::nullopt));
    EXPECT_FALSE(leer.Ergebnis().TiefsterZ);
    EXPECT_NE(ZusammenfassungText(leer.Ergebnis(), '.').find("Tiefster Punkt: -----\n"), std::string::npos);
    const TJson j = ZusammenfassungToJson(leer.Ergebnis());
    EXPECT_TRUE(j["tiefster"].is_null());
    EXPECT_EQ(j["ohne_daten"], 2);
}

TEST(Profil, WrittenFormsShowGapsAsTheBatchDoes) {
    const TProbe p{1234.5678, 3566100.125, 5935500, false};
    EXPECT_EQ(ProbeCsv(p, Antwort(245.5, 9, 245.4949), ','), "1234,57;3566100,13;5935500,00;1,25;245,50;9;245,49\r\n");
    EXPECT_EQ(ProbeCsv(p, Antwort(245.5, 9, 245.4949), '.'), "1234.57;3566100.13;5935500.00;1.25;245.50;9;245.49\r\n");
    EXPECT_EQ(ProbeText(p, Antwort(std::nullopt), '.'), "1234.57\t3566100.13\t5935500.00\t-----\t-----\t0\t-----\n");
    // No point within the Shepard radius: its height is no 0.00.
    EXPECT_EQ(ProbeText(p, Antwort(7.0, 0, 0), '.'), "1234.57\t3566100.13\t5935500.00\t1.25\t7.00\t0\t-----\n");
    THoehenAntwort abgebrochen;
    abgebrochen.Fehler = "I/O-Fehler: /x";
    EXPECT_EQ(ProbeText(p, abgebrochen, '.'), "1234.57\t3566100.13\t5935500.00\t-----\t-----\t--\t-----\n");
    EXPECT_EQ(ProfilCsvKopf(), "Station;Rechtswert;Hochwert;Abstand;H\xC3\xB6he;n;Shepard\r\n");
    const TJson j = ProbeToJson(p, Antwort(245.5));
    EXPECT_EQ(j.begin().key(), "station");
    EXPECT_EQ(j["station"], 1234.5678);
    EXPECT_EQ(j["naechster"]["z"], 245.5);
}

// Every sample, answered in windows that split the line anywhere, equals the single query at its
// coordinate, a hole in the tiles included.
TEST(Profil, EverySampleEqualsTheSingleQuery) {
    qtest::TempDir dir;
    std::vector<P> links = qtest::Grid(0, 100, 0, 100, 2);
    // A hole: no point within 30 m of (70, 50), larger than the capture range.
    std::erase_if(links, [](const P& p) { return std::hypot(p.x - 70, p.y - 50) < 30; });
    const std::vector<P> rechts = qtest::Grid(96, 200, 0, 100, 2.5);
    qtest::WriteFile(dir.File("links.xyz"), qtest::XyzText(links));
    qtest::WriteDbf(dir.File("rechts.dbf"), rechts);
    TDateien kat;
    AddEntry(kat, dir.File("links.xyz"), 0, 100, 0, 100);
    AddEntry(kat, dir.File("rechts.dbf"), 96, 200, 0, 100);
    const TProfilLinie l = SampleProfile({{1, 50}, {70, 50}, {70, 50}, {190.3, 10.7}, {150, 95}}, TAbtastung::MitSchritt(1.7));
    std::size_t luecken = 0;
    for (TUmfang u : {TUmfang::NaechsterUndShepard, TUmfang::Voll}) {
        TBatchAbfrage batch(kat, 5, 2);
        batch.SetUmfang(u);
        std::vector<THoehenAntwort> antworten;
        std::size_t zuletzt = 0;
        ASSERT_TRUE(AnswerProfile(
            batch, l.Proben, [&](std::size_t i, const THoehenAntwort& a) {
                ASSERT_EQ(i, antworten.size());
                antworten.push_back(a);
            },
            [&](std::size_t n) {
                EXPECT_GE(n, zuletzt);
                zuletzt = n;
            },
            {}, 7));
        EXPECT_EQ(zuletzt, l.Proben.size());
        ASSERT_EQ(antworten.size(), l.Proben.size());
        THoehenAbfrage q;
        luecken = 0;
        for (std::size_t i = 0; i < l.Proben.size(); ++i) {
            const TProbe& p = l.Proben[i];
            SCOPED_TRACE(testing::Message() << "station " << p.Station);
            TAbfrageParameter par;
            par.X = p.X;
            par.Y = p.Y;
            par.Fangbreite = 5;
            par.Potenz = 2;
            q.Run(kat, par);
            const THoehenAntwort& e = q.Ergebnis();
            const THoehenAntwort& a = antworten[i];
            EXPECT_EQ(a.X, p.X);
            EXPECT_EQ(a.Y, p.Y);
            qtest::ExpectSameNearest(a, e);
            EXPECT_EQ(a.ShepardN, e.ShepardN);
            EXPECT_EQ(std::memcmp(&a.ShepardZ, &e.ShepardZ, sizeof(double)), 0);
            if (u == TUmfang::Voll) {
                EXPECT_EQ(a.Anzahl, e.Anzahl);
            }
            luecken += !HatHoehe(a);
        }
    }
    EXPECT_GT(luecken, 10u);
    EXPECT_LT(luecken, l.Proben.size() / 2);
}

TEST(Profil, ACancelledRunStopsBeforeTheNextWindow) {
    qtest::TempDir dir;
    qtest::WriteFile(dir.File("a.xyz"), qtest::XyzText(qtest::Grid(0, 50, 0, 50, 1)));
    TDateien kat;
    AddEntry(kat, dir.File("a.xyz"), 0, 50, 0, 50);
    const TProfilLinie l = SampleProfile({{0, 0}, {50, 50}}, TAbtastung::MitAnzahl(100));
    TBatchAbfrage batch(kat, 5, 2);
    std::size_t beantwortet = 0;
    int gefragt = 0;
    EXPECT_FALSE(AnswerProfile(
        batch, l.Proben, [&](std::size_t, const THoehenAntwort&) { ++beantwortet; }, {},
        [&] { return ++gefragt > 2; }, 30));
    EXPECT_EQ(beantwortet, 60u);
}
