#include "ordner/KachelMuster.h"

#include <gtest/gtest.h>

#include <string>

namespace tervalo {
namespace {

TEST(KachelMuster, TileEndingsInAnyCaseAreTiles) {
    for (const char* n : {"a.xyz", "A.XYZ", "a.xyz.gz", "a.XyZ.Gz", "a.txt", "a.TXT.GZ", "a.asc", "a.dbf", "a.DBF",
                          "a.tif", "a.TIFF", "dgm1_32_350_5600_1_nw.xyz.gz", "x.y.z.txt"})
        EXPECT_TRUE(IsKachelName(n)) << n;
    for (const char* n : {"", "README", "readme.md", "a.prj", "a.tif.aux.xml", "x.xyz.md5", "x.xyz.gz.sha256", ".xyz",
                          ".hidden.xyz", ".xyz.gz", "xyz", "a.gz", "a.tar.gz", "a.xyz~", "a.tfw", "a.xyzgz", "a.tiff2"})
        EXPECT_FALSE(IsKachelName(n)) << n;
}

struct TErwartet {
    const char* Name;
    int Zone;
    double Xmin, Xmax, Ymin, Ymax;
};

TEST(KachelMuster, AgencyNamesGiveTheirKmSquare) {
    const TErwartet faelle[] = {
        {"dgm1_32_350_5600_1_nw.xyz.gz", 32, 350000, 351000, 5600000, 5601000},
        {"dgm1_32_280_5652_1_nw_2022.tif", 32, 280000, 281000, 5652000, 5653000},
        {"DGM1_32_497_5540_1_he.xyz", 32, 497000, 498000, 5540000, 5541000},
        {"dgm1_32_574_6020_1_sh_2023.xyz", 32, 574000, 575000, 6020000, 6021000},
        {"dgm1_33_358_5648_2_sn.xyz", 33, 358000, 360000, 5648000, 5650000},
        {"DOM1_32_350_5600_10.TXT", 32, 350000, 360000, 5600000, 5610000},
        // The first place where the fields fit wins, whatever the prefix holds.
        {"las_dgm_32_350_5600_1_32_999_9999_1.asc", 32, 350000, 351000, 5600000, 5601000},
    };
    for (const TErwartet& f : faelle) {
        const auto a = ExtentFromName(f.Name);
        ASSERT_TRUE(a) << f.Name;
        EXPECT_EQ(a->Zone, f.Zone) << f.Name;
        EXPECT_EQ(a->Xmin, f.Xmin) << f.Name;
        EXPECT_EQ(a->Xmax, f.Xmax) << f.Name;
        EXPECT_EQ(a->Ymin, f.Ymin) << f.Name;
        EXPECT_EQ(a->Ymax, f.Ymax) << f.Name;
    }
}

TEST(KachelMuster, NamesOffThePatternGiveNothing) {
    for (const char* n : {"kachel.xyz", "32_350_5600_1.xyz", "dgm1_32_350_560_1.xyz", "dgm1_32_3500_5600_1.xyz",
                          "dgm1_2_350_5600_1.xyz", "dgm1_32_350_5600_0_nw.xyz", "dgm1_32_350_5600_100.xyz",
                          "dgm1_32_350_5600_.xyz", "dgm1_32_350_5600_1x.xyz", "dgm1_32_350_5600_1_nw.prj",
                          "dgm1_32_350_5600_1_nw.xyz.md5", "dgm1_32_35a_5600_1.xyz"})
        EXPECT_FALSE(ExtentFromName(n)) << n;
}

TEST(KachelMuster, UserPatternIsTriedFirstAndFallsBackToTheAgencyOne) {
    auto a = ExtentFromName("Kachel350-5600.XYZ", "kachel{Ost}-{Nord}.xyz");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Zone, 0);
    EXPECT_EQ(a->Xmin, 350000);
    EXPECT_EQ(a->Xmax, 351000);
    EXPECT_EQ(a->Ymax, 5601000);

    a = ExtentFromName("dom_323505600_2km_v3.xyz.gz", "*_{Zone}{Ost}{Nord}_{Groesse}km*");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Zone, 32);
    EXPECT_EQ(a->Xmax, 352000);
    EXPECT_EQ(a->Ymax, 5602000);
    // Two digits of size where the pattern allows them, one where only that fits.
    a = ExtentFromName("t_350_5600_12.xyz", "t_{Ost}_{Nord}_{Groesse}*");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Xmax, 362000);
    a = ExtentFromName("t_350_5600_12.xyz", "t_{Ost}_{Nord}_{Groesse}2.xyz");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Xmax, 351000);
    EXPECT_FALSE(ExtentFromName("t_350_5600_0.xyz", "t_{Ost}_{Nord}_{Groesse}.xyz"));

    // "?" is one letter of the name, also one written in two bytes.
    EXPECT_TRUE(ExtentFromName("t\xC3\xA4_350_5600.xyz", "t?_{Ost}_{Nord}.xyz"));
    EXPECT_FALSE(ExtentFromName("tab_350_5600.xyz", "t?_{Ost}_{Nord}.xyz"));

    // Not matching, or not usable: the agency pattern still applies.
    a = ExtentFromName("dgm1_32_350_5600_1_nw.xyz", "kachel{Ost}-{Nord}.xyz");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Zone, 32);
    EXPECT_TRUE(ExtentFromName("dgm1_32_350_5600_1_nw.xyz", "*{Ost}*"));
    EXPECT_FALSE(ExtentFromName("k350.xyz", "k{Ost}.xyz"));
    EXPECT_FALSE(ExtentFromName("k350_5600_2022.xyz", "k{Ost}_{Nord}_{Jahr}.xyz"));
}

TEST(KachelMuster, CheckMusterNamesWhatIsWrong) {
    EXPECT_EQ(CheckMuster(""), "");
    EXPECT_EQ(CheckMuster("*_{Ost}_{Nord}_{Groesse}*"), "");
    EXPECT_EQ(CheckMuster("{zone}{ost}{nord}.xyz"), "");
    EXPECT_EQ(CheckMuster("k{Ost}.xyz"), "Das Muster k{Ost}.xyz enthält kein {Nord}.");
    EXPECT_EQ(CheckMuster("k{Nord}.xyz"), "Das Muster k{Nord}.xyz enthält kein {Ost}.");
    EXPECT_EQ(CheckMuster("{Ost}{Nord}{Jahr}"),
              "Das Muster {Ost}{Nord}{Jahr} enthält das unbekannte Feld {Jahr} (bekannt sind {Zone}, {Ost}, {Nord} und "
              "{Groesse}).");
    EXPECT_EQ(CheckMuster("{Ost}{Nord}{Ost}"), "Das Muster {Ost}{Nord}{Ost} enthält {Ost} mehr als einmal.");
    EXPECT_EQ(CheckMuster("{Ost}{Nord"), "Das Muster {Ost}{Nord enthält eine „{“ ohne „}“.");
    EXPECT_EQ(CheckMuster("{Ost}}{Nord}"), "Das Muster {Ost}}{Nord} enthält eine „}“ ohne „{“.");
}

// Stars that can match anywhere must not make the matching exponential: a pattern of many stars
// against a long name that never matches ends at once (without the memory of failed places
// this runs for ages and the test times out), and the one that does match still catches.
TEST(KachelMuster, ManyStarsStayCheap) {
    std::string sterne;
    for (int i = 0; i < 30; ++i) sterne += "*a";
    const std::string name = std::string(240, 'a') + "_350_5600.xyz";
    EXPECT_FALSE(ExtentFromName(name, sterne + "*{Ost}_{Nord}b*"));
    const auto a = ExtentFromName(name, sterne + "*_{Ost}_{Nord}.xyz");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Xmin, 350000);
    EXPECT_EQ(a->Ymin, 5600000);
}

}  // namespace
}  // namespace tervalo
