// Reading the height service's requests and writing its answers, without sockets.
#include <gtest/gtest.h>

#include <geodesic.h>

#include <cmath>
#include <string>

#include "server/Api.h"

namespace tervalo {
namespace {

constexpr std::size_t kMax = 10000;

// The status and text of the EAnfrage `f` throws; 0 when it throws nothing.
template <class F>
std::pair<int, std::string> Fehler(F&& f) {
    try {
        f();
    } catch (const EAnfrage& e) {
        return {e.Status, e.what()};
    }
    return {0, ""};
}

THoehenParameter Get(std::string_view abfrage, std::size_t max = kMax) {
    return ReadHoehenAnfrage(abfrage, "", "", max);
}
THoehenParameter Post(std::string_view koerper, std::string_view typ = "application/json") {
    return ReadHoehenAnfrage("", koerper, typ, kMax);
}

void ErwartePositionen(const std::vector<TPosition>& p, const std::vector<TPosition>& soll) {
    ASSERT_EQ(p.size(), soll.size());
    for (std::size_t i = 0; i < p.size(); ++i) {
        EXPECT_DOUBLE_EQ(p[i].Lat, soll[i].Lat) << i;
        EXPECT_DOUBLE_EQ(p[i].Lng, soll[i].Lng) << i;
    }
}

TEST(ApiQuery, PercentEncodedSeparatorsReadAsTypedOnes) {
    const std::vector<TPosition> soll{{51.5, 7.25}, {-33.9, 151.2}};
    ErwartePositionen(Get("locations=51.5,7.25|-33.9,151.2").Positionen, soll);
    ErwartePositionen(Get("locations=51.5%2C7.25%7C-33.9%2c151.2").Positionen, soll);
    // Blanks around the numbers, as a browser sends them ('+') or encoded.
    ErwartePositionen(Get("locations=51.5,+7.25+|+-33.9%20,%09151.2").Positionen, soll);
    // An encoded '&' or '=' stays inside its value.
    EXPECT_EQ(ParseParameterListe("a=x%26b%3D1&c")[0].second, "x&b=1");
    EXPECT_EQ(ParseParameterListe("a=x%26b%3D1&c")[1].first, "c");
    EXPECT_EQ(PercentDecode("a+b%2B", false), "a+b+");
    EXPECT_EQ(PercentDecode("a+b%2B", true), "a b+");
}

TEST(ApiQuery, BadPercentEncodingIsRefused) {
    for (const char* s : {"locations=51.5%2", "locations=%", "locations=51%zz", "x%G0=1"})
        EXPECT_EQ(Fehler([&] { Get(s); }).first, 400) << s;
}

TEST(ApiQuery, RepeatedParametersAreRefusedUnknownOnesIgnored) {
    EXPECT_EQ(Fehler([] { Get("locations=1,2&locations=3,4"); }).first, 400);
    EXPECT_EQ(Fehler([] { ReadHoehenAnfrage("samples=3", "locations=1,2&samples=4", "", kMax); }).first, 400);
    EXPECT_EQ(Get("key=abc&key=def&locations=1,2").Positionen.size(), 1u);
}

TEST(ApiLocations, ItemsOutOfShapeOrRangeAreNamed) {
    const auto [status, text] = Fehler([] { ParseLocations("1,2||3,4", kMax); });
    EXPECT_EQ(status, 400);
    EXPECT_NE(text.find("Position 2"), std::string::npos) << text;
    EXPECT_NE(Fehler([] { ParseLocations("1,2|3,4|", kMax); }).second.find("Position 3"), std::string::npos);
    EXPECT_NE(Fehler([] { ParseLocations("1,2|91,4", kMax); }).second.find("Breite"), std::string::npos);
    // A decimal comma makes three parts; the point is the only decimal separator.
    for (const char* s : {"51,5,7", "51;7", "51", "1e400,7", "nan,7", "inf,7", "-inf,7", "0x10,7", "1,2,", "   ",
                          "90.0000001,0", "0,-180.0001", "1e308,1e308", "--1,2", "1.2.3,4"})
        EXPECT_EQ(Fehler([&] { ParseLocations(s, kMax); }).first, 400) << s;
    ErwartePositionen(ParseLocations("90,-180|-90,180|5e1,+7.", kMax), {{90, -180}, {-90, 180}, {50, 7}});
}

TEST(ApiLocations, LimitCountsEveryPosition) {
    std::string s = "1,2";
    for (std::size_t i = 1; i < kMax; ++i) s += "|1,2";
    EXPECT_EQ(ParseLocations(s, kMax).size(), kMax);
    EXPECT_EQ(Fehler([&] { ParseLocations(s + "|1,2", kMax); }).first, 413);
    EXPECT_EQ(Fehler([&] { ParseLocations(s + "|", kMax); }).first, 413);
}

TEST(ApiPolyline, GooglesExampleAndRoundTrip) {
    const std::vector<TPosition> soll{{38.5, -120.2}, {40.7, -120.95}, {43.252, -126.453}};
    const auto p = ParseLocations("enc:_p~iF~ps|U_ulLnnqC_mqNvxq`@", kMax);
    ErwartePositionen(p, soll);
    EXPECT_EQ(EncodePolyline(soll), "_p~iF~ps|U_ulLnnqC_mqNvxq`@");
    const std::vector<TPosition> ecken{{90, 180}, {-90, -180}, {0, 0}, {0.00001, -0.00001}};
    ErwartePositionen(DecodePolyline(EncodePolyline(ecken), kMax), ecken);
    // Encoded bars and the query string's decoding.
    ErwartePositionen(Get("locations=enc%3A_p~iF~ps%7CU_ulLnnqC_mqNvxq%60%40").Positionen, soll);
}

TEST(ApiPolyline, MalformedCodesAreRefused) {
    for (const char* s : {"enc:", "enc:_p~iF", "enc:_p~iF~ps|U_", "enc:_p~iF ~ps|U", "enc:\x7f\x7f", "enc:~~~~~~~~?",
                          "enc:" "\x80", "enc:_p~iF~ps|U_ulL"})
        EXPECT_EQ(Fehler([&] { ParseLocations(s, kMax); }).first, 400) << s;
    // A latitude of 100 degrees: well formed, out of range.
    EXPECT_EQ(Fehler([] { DecodePolyline(EncodePolyline({{89, 0}}) + EncodePolyline({{11, 0}}), kMax); }).first, 400);
    std::vector<TPosition> viele(kMax + 1, TPosition{1, 1});
    EXPECT_EQ(DecodePolyline(EncodePolyline(viele), kMax + 1).size(), kMax + 1);
    EXPECT_EQ(Fehler([&] { DecodePolyline(EncodePolyline(viele), kMax); }).first, 413);
}

TEST(ApiJson, TheThreeBodyFormsAndTheFormBodyAgree) {
    const std::vector<TPosition> soll{{51.5, 7.25}, {-33.9, 151.2}};
    ErwartePositionen(Post(R"({"locations": "51.5,7.25|-33.9,151.2"})").Positionen, soll);
    ErwartePositionen(Post(R"({"locations": [{"lat": 51.5, "lng": 7.25}, {"lat": -33.9, "lng": 151.2}]})").Positionen,
                      soll);
    ErwartePositionen(
        Post(R"({"locations": [{"latitude": 51.5, "longitude": 7.25}, {"latitude": -33.9, "longitude": 151.2}]})")
            .Positionen,
        soll);
    ErwartePositionen(Post("locations=51.5%2C7.25%7C-33.9%2C151.2", "application/x-www-form-urlencoded").Positionen,
                      soll);
    // Without a content type (curl --data-binary): JSON by its first character, a form otherwise.
    ErwartePositionen(Post(R"( {"locations": "51.5,7.25|-33.9,151.2"})", "").Positionen, soll);
    ErwartePositionen(Post("locations=51.5,7.25|-33.9,151.2", "text/plain").Positionen, soll);
    const auto p = Post(R"({"locations": [{"lat": 1, "lng": 2}], "interpolation": "shepard", "nodata_value": -9999,
                          "samples": 5})",
                        "Application/JSON; charset=utf-8");
    EXPECT_EQ(p.Interpolation, TInterpolation::Shepard);
    EXPECT_EQ(p.NodataWert, -9999.0);
    EXPECT_EQ(p.Samples, 5u);
}

TEST(ApiJson, WrongTypesAndHostileBodiesAreRefused) {
    for (const char* s :
         {R"({"locations": 5})", R"({"locations": [{"lat": "51.5", "lng": 7}]})", R"({"locations": [[51.5, 7]]})",
          R"({"locations": [{"lat": 51.5}]})", R"({"locations": [{"lat": 1e400, "lng": 7}]})",
          R"({"locations": [{"lat": 51.5, "lng": 7}], "samples": 2.5})", R"({"locations": "1,2", "samples": -3})",
          R"({"locations": "1,2", "nodata_value": true})", R"({"locations": "1,2", "interpolation": 1})",
          R"({"locations": []})", R"({})", R"([{"lat": 1, "lng": 2}])", R"("x")", R"({"locations": "1,2")", "{",
R"({"locations": NaN})", R"({"locations": "1,2", "locations": "3,4")"})
        EXPECT_EQ(Fehler([&] { Post(s); }).first, 400) << s;
    EXPECT_EQ(Fehler([] { Post(std::string("{\"locations\": \"1,2\"}\0", 21)); }).first, 400);
    const std::string tief = R"({"locations": "1,2", "x": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_NE(Fehler([&] { Post(tief); }).second.find("verschachtelt"), std::string::npos);
    EXPECT_EQ(Fehler([] { Post(R"({"x": )" + std::string(50000, '{')); }).first, 400);
    // A body of many small values is stopped while it is read, not after.
    std::string lang = R"({"x": [)";
    for (int i = 0; i < 200000; ++i) lang += "0,";
    lang += "0]}";
    EXPECT_EQ(Fehler([&] { Post(lang); }).first, 413);
    std::string zuViele = R"({"locations": [)";
    for (std::size_t i = 0; i <= kMax; ++i) zuViele += R"({"lat":1,"lng":2},)";
    zuViele.back() = ']';
    EXPECT_EQ(Fehler([&] { Post(zuViele + "}"); }).first, 413);
}

TEST(ApiParameter, ValuesAndTheirLimits) {
    EXPECT_EQ(Get("locations=1,2").Interpolation, TInterpolation::Naechster);
    EXPECT_FALSE(Get("locations=1,2").NodataWert);
    EXPECT_FALSE(Get("locations=1,2&nodata_value=null").NodataWert);
    EXPECT_EQ(Get("locations=1,2&nodata_value=-9999.5").NodataWert, -9999.5);
    EXPECT_EQ(Get("locations=1,2&samples=10000").Samples, kMax);
    for (const char* s : {"interpolation=linear", "interpolation=", "nodata_value=nan", "nodata_value=1e400",
                          "nodata_value=", "samples=1", "samples=0", "samples=", "samples=2.0", "samples=-2",
                          "samples=0x10", "locations="})
        EXPECT_EQ(Fehler([&] { Get(std::string("locations=1,2&") + s); }).first, 400) << s;
    EXPECT_EQ(Fehler([] { Get(""); }).first, 400);
    for (const char* s : {"samples=10001", "samples=99999999999999999999999999"})
        EXPECT_EQ(Fehler([&] { Get(std::string("locations=1,2&") + s); }).first, 413) << s;
}

TEST(ApiNativ, SystemPointsAndRanking) {
    const TNativParameter p = ReadNativAnfrage("system=EPSG%3A31467&punkte=3400000.5,5700000|+32350500+,5706000",
                                               "", "", kMax);
    ASSERT_TRUE(p.System);
    EXPECT_EQ(p.System->System.Epsg, 31467);
    EXPECT_EQ(p.SystemText, "EPSG:31467");
    ASSERT_EQ(p.Punkte.size(), 2u);
    EXPECT_EQ(p.Punkte[0].A, "3400000.5");
    EXPECT_EQ(p.Punkte[1].A, "32350500");
    EXPECT_FALSE(p.Rangliste);
    const TNativParameter j = ReadNativAnfrage(
        "", R"({"punkte": [[350500.25, "5706000"]], "rangliste": 1, "system": "auto"})", "application/json", kMax);
    EXPECT_TRUE(j.System && j.System->Auto);
    EXPECT_TRUE(j.Rangliste);
    ASSERT_EQ(j.Punkte.size(), 1u);
    EXPECT_EQ(j.Punkte[0].A, "350500.25");
    EXPECT_EQ(j.Punkte[0].B, "5706000");
    EXPECT_FALSE(ReadNativAnfrage("punkte=1,2", "", "", kMax).System);
    for (const char* s : {"punkte=1,2&system=EPSG:x", "punkte=1,2&system=", "punkte=1,2&rangliste=2", "punkte=",
                          "punkte=1,2|", "punkte=1,2,3", "punkte=1|2", "punkte=,2", ""})
        EXPECT_EQ(Fehler([&] { ReadNativAnfrage(s, "", "", kMax); }).first, 400) << s;
    for (const char* s : {R"({"punkte": [[1]]})", R"({"punkte": [[1, true]]})", R"({"punkte": 5})",
                          R"({"punkte": [[1e400, 2]]})", R"({"punkte": "1,2", "system": 31467})"})
        EXPECT_EQ(Fehler([&] { ReadNativAnfrage("", s, "application/json", kMax); }).first, 400) << s;
    EXPECT_EQ(Fehler([] { ReadNativAnfrage("punkte=1,2|3,4|5,6", "", "", 2); }).first, 413);
}

TEST(ApiProfil, StepOrCountAndTheirLimits) {
    const TProfilParameter q = ReadProfilAnfrage("punkte=1,2|3,4&schritt=+2.5", "", "", kMax);
    EXPECT_EQ(q.Schritt, 2.5);
    EXPECT_FALSE(q.Anzahl || q.System);
    ASSERT_EQ(q.Punkte.size(), 2u);
    const TProfilParameter j =
        ReadProfilAnfrage("system=gk3", R"({"punkte": [[1, 2], [3, 4]], "anzahl": 7})", "application/json", kMax);
    EXPECT_EQ(j.Anzahl, 7u);
    EXPECT_FALSE(j.Schritt);
    EXPECT_EQ(j.SystemText, "gk3");
    EXPECT_FALSE(ReadProfilAnfrage("punkte=1,2|3,4", "", "", kMax).Schritt);
    for (const char* s : {R"({"schritt": 1e400})", R"({"schritt": -1})", R"({"anzahl": 2.5})", R"({"anzahl": -2})",
                          R"({"anzahl": true})", R"({"schritt": 1, "anzahl": 2})", R"({"schritt": 1, "schritt": 2})"})
        EXPECT_EQ(Fehler([&] { ReadProfilAnfrage("punkte=1,2|3,4", s, "application/json", kMax); }).first, 400) << s;
    EXPECT_EQ(Fehler([] { ReadProfilAnfrage("punkte=1,2|3,4&schritt=1", "anzahl=2", "", kMax); }).first, 400);
    for (const char* s : {"anzahl=10001", "anzahl=99999999999999999999999"})
        EXPECT_EQ(Fehler([&] { ReadProfilAnfrage(std::string("punkte=1,2|3,4&") + s, "", "", kMax); }).first, 413) << s;
    // The sampling's own limit on vertices holds for samples= too.
    EXPECT_EQ(Fehler([] { SamplePath(std::vector<TXY>(10001, TXY{1, 2}), 3); }).first, 400);
}

TEST(ApiSampling, EvenSpacingAndExactEnds) {
    // An L of 300 m + 100 m: 5 samples 100 m apart, the corner among them.
    const std::vector<TXY> weg{{1000.1, 2000.3}, {1300.1, 2000.3}, {1300.1, 2100.3}};
    const auto s = SamplePath(weg, 5);
    ASSERT_EQ(s.size(), 5u);
    const double soll[5][2] = {{1000.1, 2000.3}, {1100.1, 2000.3}, {1200.1, 2000.3}, {1300.1, 2000.3}, {1300.1, 2100.3}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(s[i].X, soll[i][0], 1e-9) << i;
        EXPECT_NEAR(s[i].Y, soll[i][1], 1e-9) << i;
    }
    // Both ends are the corners themselves, bit for bit.
    EXPECT_EQ(s.front().X, weg.front().X);
    EXPECT_EQ(s.back().X, weg.back().X);
    EXPECT_EQ(s.back().Y, weg.back().Y);
    const auto zwei = SamplePath({{0.1, 0.2}, {7.3, 9.9}, {3.3, 3.3}}, 2);
    ASSERT_EQ(zwei.size(), 2u);
    EXPECT_EQ(zwei[1].X, 3.3);
    EXPECT_EQ(zwei[1].Y, 3.3);
    // A path back over itself and repeated corners.
    const auto hin = SamplePath({{0, 0}, {0, 0}, {10, 0}, {10, 0}, {0, 0}}, 5);
    const double x[5] = {0, 5, 10, 5, 0};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(hin[i].X, x[i], 1e-12) << i;
    // Many samples on a long path stay on it and in order.
    const auto dicht = SamplePath({{0, 0}, {3e6, 4e6}}, 10000);
    for (std::size_t i = 1; i < dicht.size(); ++i) EXPECT_NEAR(std::hypot(dicht[i].X - dicht[i - 1].X,
                                                                          dicht[i].Y - dicht[i - 1].Y), 5e6 / 9999, 1e-6);
}

// Longitude and latitude: the length in metres on the ellipsoid, not in degrees. At 60 deg
// north a degree east is half as long as a degree north, so the middle of this path lies a
// quarter degree up its northern leg, not at the corner.
TEST(ApiSampling, GeographicPathsMeasureMetres) {
    const std::vector<TXY> weg{{10, 60}, {11, 60}, {11, 61}};
    const auto s = SamplePath(weg, 3, true);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s.front().X, 10);
    EXPECT_EQ(s.back().Y, 61);
    EXPECT_NEAR(s[1].X, 11, 1e-9);
    EXPECT_NEAR(s[1].Y, 60.25, 0.01);
    EXPECT_GT(s[1].Y, 60.2);
    // Evenly spaced in metres along one leg; across the antimeridian the longitude goes on.
    geod_geodesic g{};
    geod_init(&g, 6378137.0, 1 / 298.257223563);
    const auto lang = SamplePath({{179.5, 50}, {180.5, 50.5}}, 11, true);
    double gesamt = 0;
    geod_inverse(&g, 50, 179.5, 50.5, 180.5, &gesamt, nullptr, nullptr);
    for (std::size_t i = 1; i < lang.size(); ++i) {
        double d = 0;
        geod_inverse(&g, lang[i - 1].Y, lang[i - 1].X, lang[i].Y, lang[i].X, &d, nullptr, nullptr);
        EXPECT_NEAR(d, gesamt / 10, 1e-6) << i;
        EXPECT_GT(lang[i].X, lang[i - 1].X);
    }
}

TEST(ApiSampling, OnePositionOrNoLength) {
    for (const auto& weg : {std::vector<TXY>{{5, 6}}, std::vector<TXY>{{5, 6}, {5, 6}, {5, 6}}}) {
        const auto s = SamplePath(weg, 4);
        ASSERT_EQ(s.size(), 4u);
        for (const TXY& p : s) {
            EXPECT_EQ(p.X, 5);
            EXPECT_EQ(p.Y, 6);
        }
    }
    EXPECT_EQ(Fehler([] { SamplePath({}, 3); }).first, 400);
    EXPECT_EQ(Fehler([] { SamplePath({{1, 2}}, 1); }).first, 400);
}

TEST(ApiAntwort, ElevationAsTheInterpolationAsksAndNoData) {
    THoehenAntwort a;
    a.Berechnet = a.HatNaechster = true;
    a.Naechster = {10, 20, 123.25, 3.5};
    a.ShepardN = 0;
    THoehenErgebnis n, s, leer, kaputt;
    n.Location = {51.5, 7.25};
    FillErgebnis(n, a, TInterpolation::Naechster);
    FillErgebnis(s, a, TInterpolation::Shepard);
    EXPECT_EQ(n.Elevation, 123.25);
    EXPECT_FALSE(s.Elevation);  // no point within the Shepard radius
    EXPECT_EQ(s.Resolution, 3.5);
    FillErgebnis(leer, THoehenAntwort{}, TInterpolation::Naechster);
    EXPECT_FALSE(leer.Elevation || leer.Resolution);
    // An unreadable tile may have held the nearest point: no height, its message.
    a.Dateien.push_back(TDateiZeile{});
    a.Dateien.back().Fehler = TextKeineDatensaetze;
    a.Dateien.push_back(TDateiZeile{});
    a.Dateien.back().Fehler = "I/O-Fehler: /daten/k1.xyz";
    FillErgebnis(kaputt, a, TInterpolation::Naechster);
    EXPECT_FALSE(kaputt.Elevation);
    EXPECT_EQ(kaputt.Fehler, "I/O-Fehler: /daten/k1.xyz");

    EXPECT_EQ(ErgebnisseJson("dgm", {n, s, kaputt}, std::nullopt),
              R"({"results":[{"dataset":"dgm","elevation":123.25,"location":{"lat":51.5,"lng":7.25},"resolution":3.5},)"
              R"({"dataset":"dgm","elevation":null,"location":{"lat":0.0,"lng":0.0},"resolution":3.5},)"
              R"({"dataset":"dgm","elevation":null,"location":{"lat":0.0,"lng":0.0},"resolution":null,)"
              R"("error":"I/O-Fehler: /daten/k1.xyz"}],"status":"OK"})");
    EXPECT_NE(ErgebnisseJson("dgm", {s}, -9999.0).find(R"("elevation":-9999.0)"), std::string::npos);
    // Bytes that are not UTF-8 (a client's text quoted back) still give valid JSON.
    EXPECT_EQ(FehlerJson(FehlerStatus(400), "x\xff"), "{\"status\":\"INVALID_REQUEST\",\"error\":\"x\xEF\xBF\xBD\"}");
    EXPECT_STREQ(FehlerStatus(500), "SERVER_ERROR");
}

}  // namespace
}  // namespace tervalo
