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

// Missing: the default; keiner in any case: none; numbers with "." or ","; anything else the
// default with the message naming file, line and key, the line kept in the file.
TEST(NoDataEinstellung, ReadsDefaultOffNumbersAndRefusesTheRest) {
    EXPECT_EQ(ReadNoData(Aus("[Kacheln]\nSystem=gk3\n")), StandardNoData);
    EXPECT_EQ(ReadNoData(Aus("[kacheln]\nnodata=  KEINER \n")), std::nullopt);
    EXPECT_EQ(ReadNoData(Aus("[Kacheln]\nNoData=-3,5\n")), -3.5);
    EXPECT_EQ(ReadNoData(Aus("[Kacheln]\nNoData=\t1.25e2\n")), 125.0);
    for (const char* falsch : {"abc", "", "1,5.3", "nan", "1e999", "keins"}) {
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
// user who never set one stays as it was; the catalogue takes its values from the file.
TEST(NoDataEinstellung, WrittenValuesReadBackExactly) {
    for (const double w : {-32768.0, 0.1, -1e-300, -double(std::numeric_limits<float>::max()), 123456789.123456789}) {
        TEinstellungen e = Aus("[Kacheln]\nSystem=gk3\n");
        EXPECT_TRUE(SetNoData(e, w));
        EXPECT_EQ(e.Text().find(','), std::string::npos);
        TDateien d;
        ReadKachelWerte(Aus(e.Text()), d);
        EXPECT_EQ(d.NoData, w) << e.Text();
        EXPECT_EQ(d.System, 31467);
    }
    TEinstellungen e = Aus("[Kacheln]\nNoData=0\n");
    EXPECT_TRUE(SetNoData(e, std::nullopt));
    EXPECT_EQ(e.Text(), "[Kacheln]\nNoData=keiner\n");
    EXPECT_TRUE(SetNoData(e, StandardNoData));
    EXPECT_EQ(e.Text(), "");
    TEinstellungen leer = Aus("");
    EXPECT_FALSE(SetNoData(leer, -9999.0));
    EXPECT_THROW(SetNoData(leer, std::nan("")), std::invalid_argument);
    EXPECT_THROW(SetNoData(leer, std::numeric_limits<double>::infinity()), std::invalid_argument);
    EXPECT_FALSE(leer.Geaendert());
}

}  // namespace
