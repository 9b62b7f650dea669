// Point and extent line readers: column rules, the number filter, a reference comparison.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "formats/TextPoints.h"
#include "tools/Tools.h"

using namespace tervalo;

namespace {

struct Xyz {
    bool ok;
    double x = -1, y = -1, z = -1;
};
Xyz Point(std::string_view line) {
    Xyz r{};
    r.x = r.y = r.z = -1;
    r.ok = ReadPointLine(line, r.x, r.y, r.z);
    return r;
}
Xyz Extent(std::string_view line) {
    Xyz r{};
    r.x = r.y = r.z = -1;
    r.ok = ReadExtentLine(line, r.x, r.y);
    return r;
}

// The reading rules step by step with the Tools functions, as plainly as possible.
bool RefPoint(std::string_view line, double& x, double& y, double& z) {
    std::string s(line);
    auto b = s.find(' ');
    if (b == std::string::npos) return false;
    bool xOk = ValDouble(NumberChars(s.substr(0, b)), x) == 0;
    s = TrimLeft(s.substr(b + 1));
    b = s.find(' ');
    if (b == std::string::npos || !xOk) return false;
    bool yOk = ValDouble(NumberChars(s.substr(0, b)), y) == 0;
    std::string rest = NumberChars(s.substr(b + 1));
    if (rest.empty()) return false;
    bool zOk = ValDouble(rest, z) == 0;
    return xOk && yOk && zOk;
}
bool RefExtent(std::string_view line, double& x, double& y) {
    std::string s = TrimLeft(line);
    auto b = s.find(' ');
    if (b == std::string::npos) return false;
    bool xOk = ValDouble(NumberChars(s.substr(0, b)), x) == 0;
    s = TrimLeft(s.substr(b + 1));
    b = s.find(' ');
    if (b == std::string::npos || !xOk) return false;
    return ValDouble(NumberChars(s.substr(0, b)), y) == 0;
}

TEST(TextLines, DecimalPointsAcceptedDecimalCommasNot) {
    Xyz p = Point("4567890.5 5678901.25 123.125");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.x, 4567890.5);
    EXPECT_EQ(p.y, 5678901.25);
    EXPECT_EQ(p.z, 123.125);
    Xyz e = Extent("4567890.5 5678901.25 123.125");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.x, 4567890.5);
    EXPECT_EQ(e.y, 5678901.25);

    EXPECT_FALSE(Point("4567890,5 5678901,25 123,125").ok);
    EXPECT_FALSE(Extent("4567890,5 5678901,25 123,125").ok);
    EXPECT_FALSE(Point("1 2 3,5").ok);      // only Z has a comma
    EXPECT_FALSE(Extent("1,5 2 3").ok);
}

TEST(TextLines, OnlyBlanksSeparateColumns) {
    EXPECT_FALSE(Point("1.0\t2.0\t3.0").ok);
    EXPECT_FALSE(Extent("1.0\t2.0\t3.0").ok);
    // Control characters after a separating blank are skipped like blanks.
    Xyz p = Point("1.0 \t2.0 \t 3.0");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.y, 2.0);
    EXPECT_EQ(p.z, 3.0);
    Xyz e = Extent("\t  1.0 \t2.0 ");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.x, 1.0);
    EXPECT_EQ(e.y, 2.0);
}

TEST(TextLines, TwoColumns) {
    EXPECT_FALSE(Point("1.0 2.0").ok);
    EXPECT_FALSE(Extent("1.0 2.0").ok);
    EXPECT_FALSE(Point("1.0 2.0 ").ok);   // the filtered rest is empty
    Xyz e = Extent("1.0 2.0 ");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.x, 1.0);
    EXPECT_EQ(e.y, 2.0);
}

TEST(TextLines, HeadingsAndWordsAreRefused) {
    Xyz p = Point("X Y Z");
    EXPECT_FALSE(p.ok);
    EXPECT_FALSE(Extent("X Y Z").ok);
    EXPECT_FALSE(Point("Rechtswert Hochwert Hoehe").ok);
    EXPECT_FALSE(Point("10.5 Hochwert 7").ok);
    EXPECT_FALSE(Extent("10.5 Hochwert 7").ok);
    EXPECT_FALSE(Point("X;Y;Z").ok);
    EXPECT_FALSE(Point("4567890.123;5678901.234;123.456").ok);
    EXPECT_FALSE(Extent("4567890,123;5678901,234;123,456").ok);
}

TEST(TextLines, FilterDropsLettersAndJoinsSurplusColumns) {
    Xyz p = Point("1.5E3 2 3");
    ASSERT_TRUE(p.ok);
    EXPECT_DOUBLE_EQ(p.x, 1.53);
    p = Point("10.5 20.5 123.4 7");
    ASSERT_TRUE(p.ok);
    EXPECT_DOUBLE_EQ(p.z, 123.47);
    p = Point("10.5 20.5 123.4m");
    ASSERT_TRUE(p.ok);
    EXPECT_DOUBLE_EQ(p.z, 123.4);
    p = Point("-10.5 +20.5 -0.25");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.x, -10.5);
    EXPECT_EQ(p.y, 20.5);
    EXPECT_EQ(p.z, -0.25);
    EXPECT_FALSE(Point("10.5 20.5 1.2 3.4").ok);  // joined rest 1.23.4 has two points
    EXPECT_FALSE(Point("10.5- 20.5 3").ok);
    EXPECT_FALSE(Point("1.2.3 4 5").ok);
}

TEST(TextLines, SeveralBlanksChangeNothing) {
    Xyz a = Point("3566000.000 5936000.000 98.991");
    Xyz b = Point("3566000.000     5936000.000      98.991   ");
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.z, b.z);
    Xyz e = Extent("   3566000.000     5936000.000      98.991");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.x, a.x);
    EXPECT_EQ(e.y, a.y);
}

TEST(TextLines, UnusualNumberShapesFollowTheDecimalConversion) {
    // Shapes without digits and very long numbers take the general conversion.
    for (const char* line : {". 1 2", "+. 1 2", "- 1 2", "+ 1 2", "1 . 2", "1 2 .", "1 2 -",
                             "5. .5 -.5", "007 -0 +0.000"}) {
        double x = 0, y = 0, z = 0, rx = 0, ry = 0, rz = 0;
        bool got = ReadPointLine(line, x, y, z);
        bool want = RefPoint(line, rx, ry, rz);
        EXPECT_EQ(got, want) << line;
        if (got && want) {
            EXPECT_EQ(x, rx) << line;
            EXPECT_EQ(y, ry) << line;
            EXPECT_EQ(z, rz) << line;
        }
    }
    std::string huge = "1" + std::string(400, '0');
    double x = 0, y = 0, z = 0, rx = 0, ry = 0, rz = 0;
    std::string line = "1 2 " + huge;
    EXPECT_EQ(ReadPointLine(line, x, y, z), RefPoint(line, rx, ry, rz));
    EXPECT_EQ(z, rz);
    line = "0." + std::string(200, '0') + "1 2 3";
    EXPECT_EQ(ReadPointLine(line, x, y, z), RefPoint(line, rx, ry, rz));
    EXPECT_EQ(x, rx);
    line = "12345678901234567890.123456789012345 2 3";
    ASSERT_TRUE(ReadPointLine(line, x, y, z));
    EXPECT_EQ(x, 12345678901234567890.123456789012345);
}

TEST(TextLines, RandomLinesAgreeWithTheStepByStepRules) {
    std::mt19937 rng(20240601);
    const std::string pieces[] = {"1", "23", "4567890.125", ".", ",", "-", "+", " ", " ", "  ",
                                  "\t", "E", "x", "0", "9.75", "\x01", "\xE4"};
    std::uniform_int_distribution<int> pick(0, sizeof pieces / sizeof pieces[0] - 1);
    std::uniform_int_distribution<int> len(1, 14);
    int accepted = 0;
    for (int i = 0; i < 60000; ++i) {
        std::string line;
        for (int k = len(rng); k > 0; --k) line += pieces[pick(rng)];
        double x = 0, y = 0, z = 0, rx = 0, ry = 0, rz = 0;
        bool e = ReadExtentLine(line, x, y);
        bool re = RefExtent(line, rx, ry);
        ASSERT_EQ(e, re) << "extent [" << line << "]";
        if (e) {
            ASSERT_EQ(x, rx) << line;
            ASSERT_EQ(y, ry) << line;
        }
        std::string trimmed = TrimLeft(line);
        if (trimmed.empty()) continue;
        bool p = ReadPointLine(trimmed, x, y, z);
        bool rp = RefPoint(trimmed, rx, ry, rz);
        ASSERT_EQ(p, rp) << "point [" << trimmed << "]";
        if (p) {
            ++accepted;
            ASSERT_EQ(x, rx) << trimmed;
            ASSERT_EQ(y, ry) << trimmed;
            ASSERT_EQ(z, rz) << trimmed;
        }
    }
    EXPECT_GT(accepted, 100);  // the mix must exercise accepted lines too
}

}  // namespace
