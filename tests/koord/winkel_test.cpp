// Degrees as users type them: decimals with either point, degree-minute-second forms, letters.
#include <gtest/gtest.h>

#include <string>

#include "koord/Bezugssystem.h"
#include "koord/Winkel.h"

using namespace tervalo;

namespace {

constexpr double kDms = 51.0 + 30.0 / 60.0 + 12.5 / 3600.0;

TEST(Winkel, FormsOfOneAngle) {
    struct Fall {
        const char* text;
        TAchse achse;
        double grad;
    } faelle[] = {
        {"51,5", TAchse::Breite, 51.5},
        {"51.5", TAchse::Breite, 51.5},
        {"-33.925", TAchse::Breite, -33.925},
        {"+7", TAchse::Laenge, 7.0},
        {"51\xC2\xB0" "30'12,5\"N", TAchse::Breite, kDms},
        {"51 30 12.5 N", TAchse::Breite, kDms},
        {"N 51 30 12.5", TAchse::Breite, kDms},
        {"51\xC2\xB0 30\xE2\x80\xB2 12.5\xE2\x80\xB3 N", TAchse::Breite, kDms},  // typographic marks
        {"51d30m12.5s", TAchse::Breite, kDms},
        {"51\xC2\xB0" "30'12.5''", TAchse::Breite, kDms},
        {"51\xC2\xB0" "30,5'S", TAchse::Breite, -(51.0 + 30.5 / 60.0)},
        {"51 30", TAchse::Breite, 51.5},
        {"7\xC2\xB0" "30'O", TAchse::Laenge, 7.5},
        {"7.5E", TAchse::Laenge, 7.5},
        {"W 0 7 39", TAchse::Laenge, -(7.0 / 60.0 + 39.0 / 3600.0)},
        {"90 S", TAchse::Breite, -90.0},
        {"180", TAchse::Laenge, 180.0},
        {"  51,5  ", TAchse::Breite, 51.5},
    };
    for (const Fall& f : faelle) {
        EXPECT_DOUBLE_EQ(ReadWinkel(f.text, f.achse), f.grad) << f.text;
        EXPECT_EQ(TryReadWinkel(f.text, f.achse), ReadWinkel(f.text, f.achse)) << f.text;
    }
    // A plain number of degrees is the number typed, bit for bit.
    EXPECT_EQ(ReadWinkel("51.123456789", TAchse::Breite), 51.123456789);
}

TEST(Winkel, RefusedWithTheReason) {
    auto message = [](const char* text, TAchse a) -> std::string {
        try {
            ReadWinkel(text, a);
        } catch (const EKoordFehler& e) {
            EXPECT_FALSE(TryReadWinkel(text, a)) << text;
            return e.what();
        }
        return "(accepted)";
    };
    EXPECT_EQ(message("90.0001", TAchse::Breite), "Breite \"90.0001\" liegt nicht im Bereich -90 bis 90 Grad");
    EXPECT_EQ(message("-180,5", TAchse::Laenge),
              "L\xC3\xA4nge \"-180,5\" liegt nicht im Bereich -180 bis 180 Grad");
    EXPECT_EQ(message("7.5 N", TAchse::Laenge), "L\xC3\xA4nge \"7.5 N\": der Buchstabe N geh\xC3\xB6rt zur Breite");
    EXPECT_EQ(message("51.5 E", TAchse::Breite), "Breite \"51.5 E\": der Buchstabe E geh\xC3\xB6rt zur L\xC3\xA4nge");
    EXPECT_EQ(message("51 60 0", TAchse::Breite), "Breite \"51 60 0\": Minuten und Sekunden m\xC3\xBCssen unter 60 liegen");
    EXPECT_EQ(message("51 30 60", TAchse::Breite),
              "Breite \"51 30 60\": Minuten und Sekunden m\xC3\xBCssen unter 60 liegen");
    const std::string form = message("abc", TAchse::Breite);
    EXPECT_EQ(form.rfind("Breite \"abc\" ist keine Gradangabe (Formen: 51,5 oder 51.5", 0), 0u) << form;
    // A fraction before the last part, parts out of order or twice, a sign and a letter, two
    // separators, an exponent, text after the seconds, nothing at all.
    for (const char* bad : {"51.5 30", "51\xC2\xB0 12\"", "30' 51\xC2\xB0", "-51 N", "51,5.5", "5.15e1", "51 30 12 5",
                            "", "N", "51 30 12 N N"})
        EXPECT_FALSE(TryReadWinkel(bad, TAchse::Breite)) << bad;
}

}  // namespace
