// The tiles' NoData height in the settings file: reading, writing back exactly, bad values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "config/Einstellungen.h"

using namespace tervalo;

namespace {

TEinstellungen Aus(const std::string& text) {
    TEinstellungen e;
    e.Parse(text, "/k/t.ini");
    return e;
}

TEST(NoDataEinstellung, ReadsDefaultOffAndNumbers) {
    EXPECT_EQ(ReadNoData(Aus("")), StandardNoData);
    EXPECT_EQ(ReadNoData(Aus("[Kacheln]\nSystem=gk3\n")), StandardNoData);
    for (const char* aus : {"keiner", "KEINER", "  Keiner "})
        EXPECT_EQ(ReadNoData(Aus(std::string("[kacheln]\nnodata=") + aus + "\n")), std::nullopt) << aus;
    struct {
        const char* text;
        double wert;
    } const zahlen[] = {{"-32768", -32768.0}, {"0", 0.0}, {"-3,5", -3.5}, {"1.25e2", 125.0}, {"\t7 ", 7.0}};
    for (const auto& z : zahlen) {
        std::string meldung;
        EXPECT_EQ(ReadNoData(Aus(std::string("[Kacheln]\nNoData=") + z.text + "\n"), &meldung), z.wert) << z.text;
        EXPECT_EQ(meldung, "") << z.text;
    }
}

// A value that is no number counts as the default, with the message naming file, line and key;
// the line stays in the file.
TEST(NoDataEinstellung, UnreadableValueGivesTheDefaultAndAMessage) {
    for (const char* falsch : {"abc", "", "1,5.3", "nan", "inf", "1e999", "keins"}) {
        const TEinstellungen e = Aus(std::string("# x\n[Kacheln]\nNoData=") + falsch + "\n");
        std::string meldung;
        EXPECT_EQ(ReadNoData(e, &meldung), StandardNoData) << falsch;
        EXPECT_EQ(meldung, std::string("/k/t.ini, Zeile 3: Schl\xC3\xBCssel [Kacheln] NoData: \"") + falsch +
                               "\" ist keine Zahl, es gilt -9999 (verstanden: eine Zahl mit \".\" oder \",\" als "
                               "Dezimaltrenner, keiner)");
        EXPECT_EQ(e.Text(), std::string("# x\n[Kacheln]\nNoData=") + falsch + "\n");
    }
}

// Every value reads back as the same double; the default removes the key, so the file of a
// user who never set one stays as it was.
TEST(NoDataEinstellung, WrittenValuesReadBackExactly) {
    const double werte[] = {-32768.0, 0.1, -0.000001, 1e-300, -std::numeric_limits<float>::max(),
                            123456789.123456789, -9999.5};
    for (const double w : werte) {
        TEinstellungen e = Aus("[Kacheln]\nSystem=EPSG:25832\n");
        EXPECT_TRUE(SetNoData(e, w));
        const TEinstellungen zurueck = Aus(e.Text());
        EXPECT_EQ(ReadNoData(zurueck), w) << e.Text();
        EXPECT_EQ(e.Text().find(','), std::string::npos);
        EXPECT_EQ(ReadKachelSystem(zurueck), 25832);
    }
    TEinstellungen e = Aus("[Kacheln]\nNoData=0\n");
    EXPECT_TRUE(SetNoData(e, std::nullopt));
    EXPECT_EQ(e.Text(), "[Kacheln]\nNoData=keiner\n");
    EXPECT_TRUE(SetNoData(e, StandardNoData));
    EXPECT_EQ(e.Text(), "");
    EXPECT_FALSE(SetNoData(e, StandardNoData));

    TEinstellungen leer = Aus("");
    EXPECT_FALSE(SetNoData(leer, -9999.0));
    EXPECT_FALSE(leer.Geaendert());
    EXPECT_THROW(SetNoData(leer, std::nan("")), std::invalid_argument);
    EXPECT_THROW(SetNoData(leer, std::numeric_limits<double>::infinity()), std::invalid_argument);
    EXPECT_EQ(leer.Text(), "");
}

// The catalogue takes both values from the file; without one it keeps the default.
TEST(NoDataEinstellung, CatalogueTakesItsValuesFromTheFile) {
    TDateien d;
    EXPECT_EQ(d.NoData, StandardNoData);
    EXPECT_FALSE(d.System);
    std::string meldung;
    ReadKachelWerte(Aus("[Kacheln]\nSystem=gk3\nNoData=keiner\n"), d, &meldung);
    EXPECT_EQ(d.NoData, std::nullopt);
    EXPECT_EQ(d.System, 31467);
    EXPECT_EQ(meldung, "");
    ReadKachelWerte(Aus("[Kacheln]\nNoData=x\n"), d, &meldung);
    EXPECT_EQ(d.NoData, StandardNoData);
    EXPECT_FALSE(d.System);
    EXPECT_NE(meldung.find("Zeile 2"), std::string::npos);
}

}  // namespace
