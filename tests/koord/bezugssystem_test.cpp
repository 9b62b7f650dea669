// System names, the auto rule, the two numbers of a point and the one-argument form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "koord/Bezugssystem.h"
#include "koord/Winkel.h"
#include "tests/koord/koord_test_util.h"

using namespace tervalo;

namespace {

using P = std::pair<const char*, const char*>;

TEST(Bezugssystem, NamesAndCodes) {
    struct Fall {
        const char* name;
        int epsg;
        bool geo;
        bool geprueft;
        int zone;
    } faelle[] = {
        {"gk2", 31466, false, true, 0},      {"GK5", 31469, false, true, 0},     {"utm32", 25832, false, true, 32},
        {" utm33 ", 25833, false, true, 33}, {"wgs84", 4326, true, true, 0},     {"ETRS89", 4258, true, true, 0},
        {"EPSG:31467", 31467, false, true, 0}, {"epsg:4326", 4326, true, true, 0}, {"EPSG:25831", 25831, false, false, 31},
        {"EPSG:2056", 2056, false, false, 0},
    };
    for (const Fall& f : faelle) {
        const TBezugssystem s = ParseBezugssystem(f.name);
        EXPECT_EQ(s.Epsg, f.epsg) << f.name;
        EXPECT_EQ(s.Geographisch, f.geo) << f.name;
        EXPECT_EQ(s.Geprueft, f.geprueft) << f.name;
        EXPECT_EQ(s.UtmZone, f.zone) << f.name;
        EXPECT_EQ(s.Kanonisch, "EPSG:" + std::to_string(f.epsg)) << f.name;
    }
    EXPECT_EQ(ParseBezugssystem(" gk3").Name, "gk3");
    EXPECT_TRUE(ParseSystemWahl("Auto").Auto);
    EXPECT_FALSE(ParseSystemWahl("gk3").Auto);
    for (const char* bad : {"gk1", "gk6", "utm31", "EPSG:", "EPSG:-5", "EPSG:+5", "EPSG:12x", "EPSG:0", "wgs 84", "",
                            "auto"})
        EXPECT_THROW(ParseBezugssystem(bad), EKoordFehler) << bad;
    EXPECT_EQ(KoordMessage([] { ParseBezugssystem("gauss"); }),
              "Unbekanntes Bezugssystem \"gauss\" (bekannt: EPSG:n, gk2 bis gk5, utm32, utm33, wgs84, etrs89, auto)");
}

TEST(Bezugssystem, AutoDecidesFromTheNumbers) {
    const TBezugssystem utm33 = ParseBezugssystem("utm33");
    const TBezugssystem gk3 = ParseBezugssystem("gk3");
    struct Fall {
        const char* a;
        const char* b;
        const TBezugssystem* kacheln;
        int epsg;
    } faelle[] = {
        {"3567002.5", "5936002.5", nullptr, 31467},  // 7 digits before the point
        {"2500000", "5600000", nullptr, 31466},
        {"5400000,25", "5600000", nullptr, 31469},
        {"32350500", "5700000", nullptr, 25832},
        {"33400000.5", "5800000", &gk3, 25833},
        {"350500", "5700000", nullptr, 25832},
        {"350500", "5700000", &utm33, 25833},       // the tiles' zone
        {"350500", "5700000", &gk3, 25832},         // else 32
        {"0350500", "5700000", nullptr, 25832},     // a leading zero is no digit
        {"3.5675e6", "5936000", nullptr, 31467},    // digits of the value, not of the text
        {"51.5", "7.5", nullptr, 4326},
        {"-33,9", "18,4", nullptr, 4326},
        {"51\xC2\xB0" "30'N", "7\xC2\xB0" "30'E", nullptr, 4326},
        {"90", "-180", nullptr, 4326},
    };
    for (const Fall& f : faelle) EXPECT_EQ(DetectBezugssystem(f.a, f.b, f.kacheln).Epsg, f.epsg) << f.a << " " << f.b;
    EXPECT_EQ(DetectBezugssystem("32350500", "5700000", nullptr).UtmZone, 32);
    EXPECT_TRUE(DetectBezugssystem("51.5", "7.5", nullptr).Geographisch);
    // Neither a zone 1 or 6..9 Rechtswert, nor a 34 prefix, nor -3567000, nor 5 digits, nor 91/0.
    for (auto [a, b] : {P{"1567000", "5936000"}, P{"6567000", "5936000"}, P{"34350500", "5700000"},
                        P{"-3567000", "5936000"}, P{"35000", "5700000"}, P{"91", "0"}, P{"45", "181"}, P{"x", "1"}})
        EXPECT_THROW(DetectBezugssystem(a, b, nullptr), EKoordFehler) << a << " " << b;
    const std::string m = KoordMessage([] { DetectBezugssystem("1234", "5678", nullptr); });
    EXPECT_NE(m.find("\"1234 5678\" passt zu keiner Form"), std::string::npos) << m;
    for (const char* form : {"gk2 bis gk5", "32 oder 33", "6 Stellen", "WGS 84"})
        EXPECT_NE(m.find(form), std::string::npos) << form;
}

TEST(Bezugssystem, PointReadForItsSystem) {
    const TBezugssystem utm32 = ParseBezugssystem("utm32");
    // The prefix comes off the text: the very double of the number without it.
    for (auto [mit, ohne] : {P{"32350500.1", "350500.1"}, P{"32350500,37", "350500.37"}, P{"+32350500", "350500"},
                             P{"32050500.5", "050500.5"}}) {
        const TEingabePunkt p = ReadEingabePunkt(utm32, mit, "5700000.3");
        const TEingabePunkt q = ReadEingabePunkt(utm32, ohne, "5700000.3");
        EXPECT_TRUE(p.ZoneEntfernt) << mit;
        EXPECT_FALSE(q.ZoneEntfernt) << ohne;
        EXPECT_EQ(std::memcmp(&p.A, &q.A, sizeof p.A), 0) << mit;
        EXPECT_EQ(p.B, 5700000.3);
    }
    EXPECT_EQ(ReadEingabePunkt(utm32, "3.23505e7", "5700000").A, 350500.0);
    // Another zone's prefix and a GK Rechtswert stay as they are.
    EXPECT_EQ(ReadEingabePunkt(utm32, "33350500", "5700000").A, 33350500.0);
    EXPECT_EQ(ReadEingabePunkt(ParseBezugssystem("gk3"), "3567002,5", "5936002.5").A, 3567002.5);
    const TEingabePunkt g = ReadEingabePunkt(ParseBezugssystem("wgs84"), "51\xC2\xB0" "30'N", "7,25");
    EXPECT_EQ(g.A, 51.5);
    EXPECT_EQ(g.B, 7.25);
    EXPECT_EQ(KoordMessage([&] { ReadEingabePunkt(utm32, "35o500", "5700000"); }),
              "Rechtswert \"35o500\" ist keine Zahl (Dezimaltrenner \".\" oder \",\")");
    EXPECT_EQ(KoordMessage([&] { ReadEingabePunkt(utm32, "350500", "5.700.000"); }),
              "Hochwert \"5.700.000\" ist keine Zahl (Dezimaltrenner \".\" oder \",\")");
    EXPECT_THROW(ReadEingabePunkt(ParseBezugssystem("wgs84"), "91", "7"), EKoordFehler);
    EXPECT_THROW(ReadEingabePunkt(ParseBezugssystem("EPSG:2056"), "1", "2"), std::logic_error);  // unchecked
}

TEST(Bezugssystem, OneArgumentSplitsIntoTwo) {
    struct Fall {
        const char* text;
        const char* a;
        const char* b;
    } faelle[] = {
        {"51.50000, 7.50000", "51.50000", "7.50000"},
        {"51,5, 7,5", "51,5", "7,5"},
        {" 51.5,7.5 ", "51.5", "7.5"},
        {"51,5;7,5", "51,5", "7,5"},
        {"51.5\t7.5", "51.5", "7.5"},
        {"3567000 5936000", "3567000", "5936000"},
        {"51\xC2\xB0" "30'12,5\"N 7\xC2\xB0" "30'E", "51\xC2\xB0" "30'12,5\"N", "7\xC2\xB0" "30'E"},
        {"51 30 12.5 N 7 30 0 E", "51 30 12.5 N", "7 30 0 E"},
        {"N 51.5 E 7.5", "N 51.5", "E 7.5"},
    };
    for (const Fall& f : faelle) {
        const TZweiTexte z = SplitKoordinate(f.text);
        EXPECT_EQ(z.A, f.a) << f.text;
        EXPECT_EQ(z.B, f.b) << f.text;
    }
    // "51,5,7,5" could be split two ways; one number or three are not two.
    for (const char* bad : {"51,5,7,5", "51.5", "1 2 3", "", "51.5, ", "51,5"})
        EXPECT_THROW(SplitKoordinate(bad), EKoordFehler) << bad;
}

}  // namespace
