// The decimal engine's pieces: the 18-digit expansion against the C library, rounding, placing.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/Dezimal.h"

using namespace tervalo;
using namespace tervalo::dezimal;

namespace {

// printf's 18 significant digits as digits and exponent.
TEntwicklung PrintfExpansion(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", std::fabs(v));
    TEntwicklung x;
    const char* p = buf;
    for (; *p != 'e'; ++p)
        if (*p != '.') x.Digits = x.Digits * 10 + static_cast<uint64_t>(*p - '0');
    x.Exp10 = std::atoi(p + 1) - 17;
    return x;
}

std::string Place(TSkaliert s, int d, char point = '.') {
    char buf[64];
    return std::string(buf, WriteScaled(buf, s, d, point));
}

TEST(Dezimal, ExpansionAgreesWithPrintfOnEveryMagnitude) {
    std::mt19937_64 rng(3);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v) && v != 0) values.push_back(v);
    }
    // Around the powers of ten the digit count changes: the exact path's estimate is tested there.
    for (int k = -6; k <= 16; ++k) {
        const double p = std::pow(10.0, k);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300)}) values.push_back(v);
    }
    for (int i = 0; i < 20000; ++i) values.push_back(static_cast<double>(rng() % 1000000000000u) / std::pow(10.0, i % 16));
    for (double v : values) {
        if (v == 0) continue;
        const TEntwicklung got = Expand(v), want = PrintfExpansion(v);
        ASSERT_EQ(got.Digits, want.Digits) << std::hexfloat << v;
        ASSERT_EQ(got.Exp10, want.Exp10) << std::hexfloat << v;
    }
    EXPECT_EQ(Expand(0.0).Digits, 0u);
    EXPECT_EQ(Expand(-0.0).IntDigits(), 0);
}

TEST(Dezimal, RoundsHalvesAwayAndPlacesThePoint) {
    EXPECT_EQ(RoundDrop(15, 1), 2u);
    EXPECT_EQ(RoundDrop(149, 2), 1u);
    EXPECT_EQ(RoundDrop(500000000000000000u, 18), 1u);
    EXPECT_EQ(RoundDrop(499999999999999999u, 18), 0u);
    EXPECT_EQ(RoundDrop(999999999999999999u, 20), 0u);
    EXPECT_EQ(RoundDrop(7, 0), 7u);

    EXPECT_EQ(Place({5, 0}, 3), "0.005");
    EXPECT_EQ(Place({12345, 0}, 3, ','), "12,345");
    EXPECT_EQ(Place({12, 4}, 3), "120.000");
    EXPECT_EQ(Place({0, 0}, 3), "0.000");
    EXPECT_EQ(Place({0, 0}, 0), "0");
    EXPECT_EQ(Place({42, 2}, 0), "4200");
    EXPECT_EQ(Place({0, 5}, 3), "0.000");
    // WriteScaled writes backwards from the length it computes: both must agree.
    for (TSkaliert s : {TSkaliert{5, 0}, TSkaliert{12, 4}, TSkaliert{0, 2}, TSkaliert{0, 7}, TSkaliert{987654321, 0}})
        for (int d : {0, 1, 3, 12}) {
            char buf[64];
            EXPECT_EQ(static_cast<std::size_t>(buf + sizeof buf - WriteScaledBackwards(buf + sizeof buf, s, d, '.')),
                      ScaledLength(s, d));
        }

    char buf[kFixedRoom];
    EXPECT_EQ(std::string(buf, WriteFixed(buf, -0.0004, 9, 3)), "    0.000");
    EXPECT_EQ(std::string(buf, WriteFixed(buf, -999999999999999.875, 0, 0)), "-1000000000000000");  // the widest
}

// The plain form: what it takes, what it leaves to the readers' own rules, and its values
// against the library's correctly rounded conversion, on both of its ways.
TEST(Dezimal, ReadsThePlainFormCorrectlyRounded) {
    auto lies = [](std::string_view t, char komma = '.') -> std::optional<double> {
        double v = 12345.0;
        if (ReadPlain(t.data(), t.data() + t.size(), v, komma)) return v;
        EXPECT_EQ(v, 12345.0) << t;  // untouched
        return std::nullopt;
    };
    EXPECT_EQ(lies("3566000.125"), 3566000.125);
    EXPECT_EQ(lies("+5."), 5.0);
    EXPECT_EQ(lies("-.5"), -0.5);
    EXPECT_TRUE(std::signbit(*lies("-0")));
    EXPECT_EQ(lies("1,5"), std::nullopt);
    EXPECT_EQ(lies("1,5", ','), 1.5);
    EXPECT_EQ(lies("1.5", ','), 1.5);
    for (const char* t : {"", "-", "+", ".", "-.", "1.2.3", "1,5.2", "+-1", "1e5", " 1", "1 ", "0x10", "inf"})
        EXPECT_EQ(lies(t, ','), std::nullopt) << t;
    // Beyond the double's range the readers decide (ValDouble: infinity or zero).
    EXPECT_EQ(lies("1" + std::string(400, '0')), std::nullopt);
    EXPECT_EQ(lies("0." + std::string(400, '0') + "1"), std::nullopt);

    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i) {
        // Up to 30 digits, so both the division and the library's way are taken, halves included.
        std::string t = std::to_string(rng() % 100000000000ull);
        if (i % 3 == 0) t += std::to_string(rng());
        const std::size_t at = rng() % (t.size() + 1);
        t.insert(at, 1, '.');
        double want = 0;
        std::from_chars(t.data(), t.data() + t.size(), want);
        const std::optional<double> got = lies(t);
        ASSERT_TRUE(got) << t;
        ASSERT_EQ(*got, want) << t;
    }
}

}  // namespace
