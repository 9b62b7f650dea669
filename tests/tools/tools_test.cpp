#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tools/Errors.h"
#include "tools/Tools.h"

using namespace tervalo;

namespace {

// Every character is 7 px wide, the blank 4 px, the point 2 px.
struct FixedFont : TTextMass {
    int TextWidth(std::string_view text) const override {
        int w = 0;
        for (char c : text) w += c == ' ' ? 4 : c == '.' ? 2 : 7;
        return w;
    }
};

class MemoryGrid : public TTextGitter {
public:
    MemoryGrid(int cols, int rows) : cols_(cols), rows_(rows), widths_(static_cast<size_t>(cols), 64) {}
    int ColCount() const override { return cols_; }
    int RowCount() const override { return rows_; }
    void SetRowCount(int rows) override {
        // Cells beyond the new count disappear, as in a real grid.
        for (auto it = cells_.begin(); it != cells_.end();)
            it = it->first.second >= rows ? cells_.erase(it) : std::next(it);
        rows_ = rows;
    }
    std::string Cell(int col, int row) const override {
        EXPECT_TRUE(col >= 0 && col < cols_ && row >= 0 && row < rows_) << col << "," << row;
        auto it = cells_.find({col, row});
        return it == cells_.end() ? std::string() : it->second;
    }
    void SetCell(int col, int row, const std::string& text) override {
        EXPECT_TRUE(col >= 0 && col < cols_ && row >= 0 && row < rows_) << col << "," << row;
        cells_[{col, row}] = text;
    }
    int ColWidth(int col) const override { return widths_[static_cast<size_t>(col)]; }
    void SetColWidth(int col, int width) override { widths_[static_cast<size_t>(col)] = width; }
    int TextWidth(std::string_view text) const override { return font_.TextWidth(text); }

private:
    int cols_, rows_;
    std::vector<int> widths_;
    std::map<std::pair<int, int>, std::string> cells_;
    FixedFont font_;
};

std::string Column(const MemoryGrid& g, int col) {
    std::string s;
    for (int r = 0; r < g.RowCount(); ++r) s += (r ? "|" : "") + g.Cell(col, r);
    return s;
}

}  // namespace

TEST(CharacterFilters, KeepAndChangeTheDocumentedCharacters) {
    EXPECT_EQ(RemoveBlanks("  / ma\tint  "), "/ma\tint");
    EXPECT_EQ(ToUpper(RemoveBlanks(" / m a i n t ")), "/MAINT");
    EXPECT_EQ(ToUpper("\xFC\xE4 abc-Z"), "\xFC\xE4 ABC-Z");  // only a..z change
    EXPECT_EQ(CommaToPoint("1,5,x"), "1.5.x");
    EXPECT_EQ(NumberChars("4.587.000,5 m"), "4.587.000,5");
    EXPECT_EQ(NumberChars("+-E e1;x"), "+-1");
    EXPECT_EQ(CleanNumber("1,5e3", true), "1.5e3");
    EXPECT_EQ(CleanNumber("1,5e3", false), "1.53");
    EXPECT_EQ(CleanNumber(" -2.5E+1 m", true), "-2.5E+1");
    EXPECT_EQ(IntegerChars(" +12.5e3x-"), "+1253-");
    EXPECT_EQ(TrimLeft("\t\r\n  a b \x01"), "a b \x01");
    EXPECT_EQ(Trim("\x1F a b \r\n"), "a b");
    EXPECT_EQ(Trim(" \t "), "");
    // Bytes above 127 are not white space.
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(ValDouble, AcceptsTheGrammar) {
    struct Case {
        const char* text;
        double value;
    } ok[] = {{"0", 0},          {"  12", 12},       {"+1.5", 1.5},     {"-2.5E-1", -0.25},
              {".", 0},          {".5", 0.5},        {"5.", 5},         {"1e3", 1000},
              {"1E+2", 100},     {"-.5e1", -5},      {"007", 7},        {"3566000.000", 3566000.0},
              {"1e-400", 0},     {"0.1", 0.1},       {"123456789012345678901234567890", 1.2345678901234568e29}};
    for (const auto& c : ok) {
        double v = -99;
        EXPECT_EQ(ValDouble(c.text, v), 0) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    double v = 0;
    EXPECT_EQ(ValDouble("1e400", v), 0);
    EXPECT_TRUE(std::isinf(v) && v > 0);
    EXPECT_EQ(ValDouble("-0.00000000000000000000000000001e-400", v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(ValDouble("-99999e99999999999999", v), 0);
    EXPECT_TRUE(std::isinf(v) && v < 0);
}

TEST(ValDouble, ConvertsCorrectlyRounded) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> dist(-1e7, 1e7);
    for (int i = 0; i < 2000; ++i) {
        double x = dist(rng);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", x);
        double v = 0;
        ASSERT_EQ(ValDouble(buf, v), 0) << buf;
        EXPECT_EQ(v, x) << buf;
    }
}

TEST(ValDouble, ReportsPositionAndMantissaDigitsOnFailure) {
    struct Case {
        const char* text;
        int pos;
        double value;
    } bad[] = {{"", 1, 0},         {"5.0 ", 4, 50},     {"12.3x", 5, 123},     {"-7,", 3, 7},
               {"-", 2, 0},        {"+", 2, 0},         {"   ", 4, 0},         {"1e", 3, 1},
               {"1e+", 4, 1},      {"2.5e-x", 6, 25},   {"1.2.3", 4, 12},      {"4.587.000,5", 6, 4587},
               {"5,5", 2, 5},      {"E5", 1, 0},        {"1 2", 2, 1},         {"\t1", 1, 0},
               {"--1", 2, 0},      {"1e5x", 4, 1},      {"x", 1, 0}};
    for (const auto& c : bad) {
        double v = -99;
        EXPECT_EQ(ValDouble(c.text, v), c.pos) << '"' << c.text << '"';
        EXPECT_EQ(v, c.value) << '"' << c.text << '"';
    }
}

TEST(ValInt, ConvertsAndFails) {
    int32_t v = -1;
    EXPECT_EQ(ValInt("  -42", v), 0);
    EXPECT_EQ(v, -42);
    EXPECT_EQ(ValInt("+2147483647", v), 0);
    EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(ValInt("-2147483648", v), 0);
    EXPECT_EQ(v, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ValInt("", v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ValInt("-", v), 2);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ValInt("-12x", v), 4);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(ValInt("3.5", v), 2);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(ValInt("7 ", v), 2);
    EXPECT_EQ(v, 7);
    // Overflow fails at the digit that no longer fits.
    EXPECT_EQ(ValInt("2147483648", v), 10);
    EXPECT_EQ(v, 214748364);
    EXPECT_EQ(ValInt("-99999999999", v), 11);
    EXPECT_EQ(v, 999999999);
}

TEST(FixedText, RoundsHalvesAwayFromZeroOnEighteenDigits) {
    EXPECT_EQ(FixedText(0.125, 0, 2), "0.13");
    EXPECT_EQ(FixedText(-0.125, 0, 2), "-0.13");
    EXPECT_EQ(FixedText(2.5, 0, 0), "3");
    EXPECT_EQ(FixedText(-2.5, 0, 0), "-3");
    EXPECT_EQ(FixedText(1.005, 0, 2), "1.00");  // 1.00499999999999989...
    EXPECT_EQ(FixedText(0.5, 0, 0), "1");
    EXPECT_EQ(FixedText(0.49, 0, 0), "0");
    EXPECT_EQ(FixedText(99.95, 0, 1), "100.0");  // 99.9500000000000028
    EXPECT_EQ(FixedText(9.96, 0, 1), "10.0");
    EXPECT_EQ(FixedText(999.999, 0, 2), "1000.00");
    EXPECT_EQ(FixedText(0.0, 0, 3), "0.000");
    EXPECT_EQ(FixedText(-0.0, 0, 1), "0.0");
    EXPECT_EQ(FixedText(-0.001, 0, 2), "0.00");
    EXPECT_EQ(FixedText(-0.005, 0, 2), "-0.01");
    EXPECT_EQ(FixedText(0.0004, 0, 3), "0.000");
    EXPECT_EQ(FixedText(0.0005, 0, 3), "0.001");
    EXPECT_EQ(FixedText(1e-300, 0, 2), "0.00");
    EXPECT_EQ(FixedText(1e20, 0, 2), "100000000000000000000.00");
    EXPECT_EQ(FixedText(123456789.123456789, 0, 5), "123456789.12346");
    EXPECT_EQ(FixedText(3566000.0, 0, 3), "3566000.000");
    EXPECT_EQ(FixedText(0.1, 0, 20), "0.10000000000000000600");
}

TEST(FixedText, AlignsRightAndNeverCuts) {
    EXPECT_EQ(FixedText(5.0, 4, 1), " 5.0");
    EXPECT_EQ(FixedText(50.0, 5, 1), " 50.0");
    EXPECT_EQ(FixedText(2.0, 3, 1), "2.0");
    EXPECT_EQ(FixedText(12345.6, 3, 1), "12345.6");
    EXPECT_EQ(FixedText(-3.25, 10, 2), "     -3.25");
    EXPECT_EQ(FixedText(3566000.0, 10, 2), "3566000.00");
    EXPECT_EQ(FixedText(std::nan(""), 5, 2), "  NAN");
    EXPECT_EQ(FixedText(-INFINITY, 0, 2), "-INF");
    std::string out = "x";
    AppendFixedText(out, 1.25, 6, 1);
    EXPECT_EQ(out, "x   1.3");
}

TEST(FixedText, SeparatorAndThePrintfRule) {
    EXPECT_EQ(FixedText(-3.25, 10, 2, ','), "     -3,25");
    EXPECT_EQ(FixedText(0.125, 0, 2, ','), "0,13");
    // printf's rule keeps its halves to even on the binary value, its "-0.00" and its words.
    EXPECT_EQ(FixedText(0.125, 0, 2, '.', TRundung::Printf), "0.12");
    EXPECT_EQ(FixedText(0.135, 6, 2, ',', TRundung::Printf), "  0,14");  // 0.135000000000000008...
    EXPECT_EQ(FixedText(-0.001, 0, 2, '.', TRundung::Printf), "-0.00");
    EXPECT_EQ(FixedText(INFINITY, 5, 2, '.', TRundung::Printf), "  inf");
    // Never cut, however long: 1e300 has 301 digits before the point.
    EXPECT_EQ(FixedText(1e300, 10, 2, '.', TRundung::Printf).size(), 304u);
    std::mt19937_64 rng(9);
    for (int i = 0; i < 5000; ++i) {
        uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isnan(v) || std::fabs(v) > 1e40) continue;
        char buf[128];
        std::snprintf(buf, sizeof buf, "%10.*f", i % 4, v);
        ASSERT_EQ(FixedText(v, 10, i % 4, '.', TRundung::Printf), buf) << std::hexfloat << v;
    }
}

TEST(FixedText, AgreesWithPrintfOnOrdinaryValues) {
    // Ties at the 18th digit are practically absent from random values, so printf's
    // exact rounding must give the same text.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-1e8, 1e8);
    for (int i = 0; i < 5000; ++i) {
        double x = dist(rng) / static_cast<double>(1 << (i % 20));
        int d = i % 6;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", d, x);
        std::string expect = buf;
        if (expect.find_first_not_of("-0.") == std::string::npos && expect[0] == '-') expect.erase(0, 1);
        ASSERT_EQ(FixedText(x, 0, d), expect) << x << " d=" << d;
    }
}

namespace {

// Independent reference: printf's 18 significant digits, then halves away from zero at d.
std::string ReferenceFixed(double v, int d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", v);
    const bool neg = buf[0] == '-';
    std::string dig;
    const char* p = buf + (neg ? 1 : 0);
    for (; *p != 'e'; ++p)
        if (*p != '.') dig += *p;
    const int exp10 = std::atoi(p + 1);
    // Place the digits on a fixed grid: 400 integer positions, d decimals.
    std::string grid(400 + static_cast<size_t>(d) + 1, '0');
    for (size_t i = 0; i < dig.size(); ++i) {
        long pos = 399 - exp10 + static_cast<long>(i);  // index of 10^(exp10 - i)
        if (pos >= 0 && pos < static_cast<long>(grid.size()) - 1) grid[static_cast<size_t>(pos)] = dig[i];
        else if (pos == static_cast<long>(grid.size()) - 1) grid.back() = dig[i];
    }
    // grid.back() holds the digit after the last decimal (if it exists in the 18 digits).
    long roundPos = 399 + d + 1;
    bool up = roundPos - 399 + exp10 <= 17 && roundPos - 399 + exp10 >= 0 && grid.back() >= '5';
    grid.pop_back();
    if (up) {
        long i = static_cast<long>(grid.size()) - 1;
        while (grid[static_cast<size_t>(i)] == '9') grid[static_cast<size_t>(i--)] = '0';
        ++grid[static_cast<size_t>(i)];
    }
    std::string ip = grid.substr(0, 400), fp = grid.substr(400);
    ip.erase(0, std::min(ip.find_first_not_of('0'), ip.size() - 1));
    std::string t = ip + (d > 0 ? "." + fp : "");
    if (neg && t.find_first_not_of("0.") != std::string::npos) t = "-" + t;
    return t;
}

}  // namespace

TEST(FixedText, MatchesTheEighteenDigitReferenceEverywhere) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> mant(1.0, 10.0);
    std::uniform_int_distribution<int> expo(-8, 18);
    std::vector<double> values = {1.005, 2.675, 0.045, 1.0005, 1234.5, 0.125, 99999.995, 1e-5, 9.999999e14,
                                  1e15, 999999999999999.9, 4503599627370495.5, 0.00001, 0.000015};
    for (int i = 0; i < 8000; ++i) {
        double v = mant(rng) * std::pow(10.0, expo(rng));
        values.push_back(i % 2 ? -v : v);
    }
    // Decimal halves such as 3566000.125 or 98.9915 sit right on the rounding point.
    for (int i = 0; i < 8000; ++i) values.push_back((static_cast<double>(rng() % 100000000) + 0.5) / std::pow(10.0, i % 7));
    for (double v : values)
        for (int d : {0, 1, 2, 3, 5, 8, 12})
            ASSERT_EQ(FixedText(v, 0, d), ReferenceFixed(v, d)) << std::hexfloat << v << " d=" << d;
}

TEST(PadRight, FillsButNeverShortens) {
    EXPECT_EQ(PadRight("3", 20), "3" + std::string(19, ' '));
    EXPECT_EQ(PadRight("abc", 2), "abc");
    EXPECT_EQ(PadRight("", 3, '*'), "***");
}

TEST(ParseIntList, ParsesSeparatedItems) {
    int32_t t[11] = {};
    EXPECT_EQ(ParseIntList("30\t70\t\t45\t", '\t', t), 3);
    EXPECT_EQ(t[0], 30);
    EXPECT_EQ(t[1], 70);
    EXPECT_EQ(t[2], 45);
    EXPECT_EQ(t[3], 0);

    int32_t u[11] = {};
    EXPECT_EQ(ParseIntList("", '\t', u), 0);
    EXPECT_EQ(ParseIntList(" \t\r\n ", '\t', u), 0);
    EXPECT_EQ(ParseIntList("12.7;-3.9;1,9;abc;7x", ';', u), 5);
    EXPECT_EQ(u[0], 12);
    EXPECT_EQ(u[1], -3);
    EXPECT_EQ(u[2], 1);
    EXPECT_EQ(u[3], 0);
    EXPECT_EQ(u[4], 7);
    // A last item longer than 14 characters: its first 14 count, the 15th is dropped.
    int32_t w[11] = {};
    EXPECT_EQ(ParseIntList("123456789012345678", '\t', w), 2);
    EXPECT_EQ(w[0], 2147483647);  // 12345678901234 clamped to 32 bits
    EXPECT_EQ(w[1], 678);
    EXPECT_EQ(ParseIntList("1e99\t-1e99", '\t', w), 2);
    EXPECT_EQ(w[0], std::numeric_limits<int32_t>::max());
    EXPECT_EQ(w[1], std::numeric_limits<int32_t>::min());
}

TEST(ParseIntList, NeverWritesPastElevenSlots) {
    struct {
        int32_t list[11];
        int32_t guard[4];
    } mem{};
    for (auto& g : mem.guard) g = -777;
    std::string line;
    for (int i = 1; i <= 20; ++i) line += std::to_string(i) + "\t";
    EXPECT_EQ(ParseIntList(line, '\t', mem.list), 11);
    EXPECT_EQ(mem.list[10], 11);
    for (auto g : mem.guard) EXPECT_EQ(g, -777);
}

TEST(ParseIntList, LongListsInLinearTime) {
    // Half a million items (a width line of the configuration file): the first eleven count.
    std::string line;
    for (int i = 1; i <= 500000; ++i) line += std::to_string(i % 1000) + "\t";
    int32_t t[11] = {};
    EXPECT_EQ(ParseIntList(line, '\t', t), 11);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(t[i], i + 1);
    // Two million digits without a separator: items of 14 digits, one digit dropped after each.
    std::string digits;
    for (int i = 0; i < 2000000; ++i) digits += static_cast<char>('0' + i % 15 % 10);
    EXPECT_EQ(ParseIntList(digits, ';', t), 11);
    EXPECT_EQ(t[0], 2147483647);  // 01234567890123 clamped
    EXPECT_EQ(t[1], 2147483647);
}

TEST(ErrorTexts, NamePathAndTheSystemsErrorNumbers) {
    // EIO keeps its own number; it is no "access denied" (code 5 of the error table).
    EXPECT_EQ(ErrnoText(EIO), "E/A-Fehler 5");
    EXPECT_EQ(ErrnoText(EACCES), "Dateizugriff verweigert");
    EXPECT_EQ(ErrnoText(ENOENT), "Datei nicht gefunden");
    EXPECT_EQ(NamePath("Datei nicht gefunden", "/d/a.xyz"), "Datei nicht gefunden: /d/a.xyz");
    EXPECT_EQ(NamePath("E/A-Fehler 5: /d/a.xyz", "/d/a.xyz"), "E/A-Fehler 5: /d/a.xyz");
    EXPECT_EQ(NamePath("", "/d/a.xyz"), "/d/a.xyz");
    // A silent abort says nothing in the window but names the file for the command line.
    EXPECT_EQ(ReadErrorMessage(ESilentAbort("Kaputt: /d/t.dbf"), "/d/t.dbf"), "Kaputt: /d/t.dbf");
    EXPECT_EQ(ReadErrorMessage(ESilentAbort(), "/d/t.dbf"), "Die Datei kann nicht gelesen werden: /d/t.dbf");
    EXPECT_EQ(ReadErrorMessage(std::runtime_error("Invalid DBF file."), "/d/t.dbf"), "Invalid DBF file.: /d/t.dbf");
}

TEST(FileNames, AcceptanceTest) {
    EXPECT_TRUE(IsValidFileName("D:\\Raster\\Daten mit Blank\\blatt 1.xyz"));
    EXPECT_TRUE(IsValidFileName("/srv/daten/blatt1.xyz"));  // "/" is the separator here
    EXPECT_TRUE(IsValidFileName("a:b\\c"));
    EXPECT_FALSE(IsValidFileName(""));
    EXPECT_FALSE(IsValidFileName("    "));
    // Names are UTF-8 here: every byte from 128 up passes, whatever it encodes.
    EXPECT_TRUE(IsValidFileName("/home/j\xC3\xBCrgen/H\xC3\xB6hendaten/stra\xC3\x9F" "e.xyz"));
    EXPECT_TRUE(IsValidFileName("D:\\M\xFC" "ller\\a.xyz"));
    EXPECT_TRUE(IsValidFileName("\x80\xFF"));
    EXPECT_FALSE(IsValidFileName("blatt[1].xyz"));
    for (const char* bad : {"a\"b", "a*b", "a<b", "a>b", "a?b", "a]b", "a\tb", "a\x1F", "a{b", "a|b", "a}b", "a~b",
                            "a\x7F", "\xC3\xBC|", "\xC3\xBC\x7F"})
        EXPECT_FALSE(IsValidFileName(bad)) << bad;
    EXPECT_TRUE(IsValidFileName("z"));  // 122 is the last ASCII code accepted
}

TEST(FileNames, PathParts) {
    EXPECT_TRUE(IsFolderSeparator('\\') && IsFolderSeparator(':') && IsFolderSeparator('/'));
    EXPECT_FALSE(IsFolderSeparator('.'));
    EXPECT_EQ(FolderPart("D:\\Raster\\rechner.exe"), "D:\\Raster\\");
    EXPECT_EQ(FileNamePart("D:\\Raster\\rechner.exe"), "rechner.exe");
    EXPECT_EQ(FolderPart("C:blatt.xyz"), "C:");
    EXPECT_EQ(FolderPart("/opt/tervalo/bin/tervalo"), "/opt/tervalo/bin/");
    EXPECT_EQ(FolderPart("blatt.xyz"), "");
    EXPECT_EQ(NameWithoutExt("D:\\Raster\\rechner.exe"), "rechner");
    EXPECT_EQ(NameWithoutExt("/a.b/rechner"), "rechner");
    EXPECT_EQ(NameWithoutExt("/x/archiv.tar.gz"), "archiv.tar");
    EXPECT_EQ(NameWithoutExt(""), "");
}

TEST(ShortenPath, CutsFoldersStepByStep) {
    FixedFont font;
    const std::string p = "C:\\A\\B\\C\\name.xyz";
    EXPECT_EQ(ShortenPath(p, font, font.TextWidth(p)), p);
    const char* steps[] = {"C:\\...\\B\\C\\name.xyz", "C:\\...\\C\\name.xyz", "C:\\...\\name.xyz",
                           "...\\name.xyz", "name.xyz"};
    for (const char* s : steps) EXPECT_EQ(ShortenPath(p, font, font.TextWidth(s)), s);
    EXPECT_EQ(ShortenPath(p, font, 0), "name.xyz");
    EXPECT_EQ(ShortenPath("/srv/daten/tiles/a.xyz", font, font.TextWidth("/.../tiles/a.xyz")), "/.../tiles/a.xyz");
    EXPECT_EQ(ShortenPath("/srv/daten/tiles/a.xyz", font, 0), "a.xyz");
    EXPECT_EQ(ShortenPath("\\\\server\\share\\a.xyz", font, 0), "a.xyz");
    EXPECT_EQ(ShortenPath("C:a.xyz", font, 0), "a.xyz");
    EXPECT_EQ(ShortenPath("a.xyz", font, 0), "a.xyz");
    EXPECT_EQ(ShortenPath(".hidden\\x\\a.xyz", font, 0), "a.xyz");
}

// Seven pixels per character, whatever its bytes in UTF-8.
struct CharFont : TTextMass {
    int TextWidth(std::string_view text) const override {
        return 7 * static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    }
};

TEST(ShortenPath, ABareNameTooWideKeepsItsEnd) {
    CharFont font;
    const std::string e = "\xE2\x80\xA6";  // the ellipsis
    const std::string nw = "dgm1l_32_357_5646_1_2024_00001_nw.xyz.gz";  // 40 characters
    // Folders go first, then the middle of the name; the start is cut after a break if it has one.
    for (const std::string& path : {nw, "/srv/geo/" + nw, "C:\\Daten\\" + nw})
        EXPECT_EQ(ShortenPath(path, font, 100), "dgm" + e + "_nw.xyz.gz") << path;
    EXPECT_EQ(ShortenPath(nw, font, 200), "dgm1l_" + e + "_2024_00001_nw.xyz.gz");
    // Tight room: the end alone, never a split character; no room at all: the bare name.
    EXPECT_EQ(ShortenPath("/d/abcdef", font, 21), e + "ef");
    EXPECT_EQ(ShortenPath("/d/modell_\xC3\xBC.xyz", font, 49), "m" + e + "\xC3\xBC.xyz");
    EXPECT_EQ(ShortenPath("/d/abcdef", font, 13), "abcdef");
}

TEST(GridRows, InsertAndDelete) {
    MemoryGrid g(2, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) g.SetCell(c, r, std::string(1, static_cast<char>('a' + r)) + std::to_string(c));
    InsertGridRow(g, 1);
    EXPECT_EQ(g.RowCount(), 4);
    EXPECT_EQ(Column(g, 0), "a0||b0|c0");
    EXPECT_EQ(Column(g, 1), "a1||b1|c1");
    InsertGridRow(g, 4);  // at the row count: an empty row at the end
    EXPECT_EQ(Column(g, 0), "a0||b0|c0|");
    DeleteGridRow(g, 0);
    EXPECT_EQ(Column(g, 1), "|b1|c1|");
    DeleteGridRow(g, 3);  // the last row: only the count drops
    EXPECT_EQ(Column(g, 0), "|b0|c0");
    InsertGridRow(g, 7);
    DeleteGridRow(g, 3);
    DeleteGridRow(g, -1);
    EXPECT_EQ(Column(g, 0), "|b0|c0");
    MemoryGrid empty(1, 0);
    DeleteGridRow(empty, 0);
    EXPECT_EQ(empty.RowCount(), 0);
    InsertGridRow(empty, 0);
    EXPECT_EQ(empty.RowCount(), 1);
}

TEST(GridCells, CenterCell) {
    MemoryGrid g(2, 2);
    g.SetColWidth(0, 70);
    CenterCell(g, 0, 0);  // (68 / 2) / 4 = 8 blanks
    EXPECT_EQ(g.Cell(0, 0), std::string(8, ' '));
    g.SetCell(0, 1, "Nr.");  // free 68 - 16 = 52, half 26, 6 blanks
    CenterCell(g, 0, 1);
    EXPECT_EQ(g.Cell(0, 1), "      Nr.");
    g.SetColWidth(1, 20);
    g.SetCell(1, 0, "abc");  // 21 px: wider than the column
    CenterCell(g, 1, 0);
    EXPECT_EQ(g.Cell(1, 0), "abc");
    g.SetCell(1, 1, "ab");  // free 4, half 2: less than one blank
    CenterCell(g, 1, 1);
    EXPECT_EQ(g.Cell(1, 1), "ab");
}

TEST(Arithmetic, InRectAndSafePower) {
    EXPECT_TRUE(InRect(1, 2, 1, 3, 2, 4));
    EXPECT_TRUE(InRect(3, 4, 1, 3, 2, 4));
    EXPECT_FALSE(InRect(3.0000001, 3, 1, 3, 2, 4));
    EXPECT_FALSE(InRect(2, 1.999, 1, 3, 2, 4));
    EXPECT_FALSE(InRect(std::nan(""), 3, 1, 3, 2, 4));
    int err = -1;
    EXPECT_DOUBLE_EQ(SafePower(4, 0.5, err), 2.0);
    EXPECT_EQ(err, 0);
    EXPECT_DOUBLE_EQ(SafePower(2, -2, err), 0.25);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(SafePower(0, 2, err), 0.0);
    EXPECT_EQ(err, 1);
    EXPECT_EQ(SafePower(-8, 1.0 / 3, err), 0.0);
    EXPECT_EQ(err, 1);
    EXPECT_EQ(SafePower(std::nan(""), 2, err), 0.0);
    EXPECT_EQ(err, 1);
}
