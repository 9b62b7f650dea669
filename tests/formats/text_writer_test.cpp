// XYZ and CSV layouts byte for byte, the buffered writer, write errors, read-back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "formats/TextPoints.h"
#include "support/files.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

using tervalo::test::ReadAll;

TEST(XyzLayout, FieldsAndWidths) {
    EXPECT_EQ(XyzLine(4567890.123, 5678901.234, 123.456), " 4567890.123  5678901.234   123.456");
    EXPECT_EQ(XyzLine(3566000, 5936000, 98.991), " 3566000.000  5936000.000    98.991");
    EXPECT_EQ(XyzLine(1, 2, 1234.5).substr(26), " 1234.500");
    EXPECT_EQ(XyzLine(1, 2, -3.25).substr(26), "   -3.250");
    // Longer numbers take the room they need and are never cut.
    EXPECT_EQ(XyzLine(12345678901.5, -123456789.25, 123456789.125),
              "12345678901.500 -123456789.250 123456789.125");
    // Values the fast path leaves to the general fixed-point text.
    EXPECT_EQ(XyzLine(0.5, -0.25, 0), "       0.500       -0.250     0.000");
    EXPECT_EQ(XyzLine(1e15, 0.0004, 0.0005), "1000000000000000.000        0.000     0.001");
}

TEST(XyzLayout, RoundingMatchesTheFixedPointText) {
    // Halves round away from zero on the 18-digit expansion: 1.0585 is stored as
    // 1.05849999999999999645 (rounds up there), 1.0005 as 1.00049999999999994 (down).
    EXPECT_EQ(XyzLine(1.0585, 1.0005, -2.5005), "       1.059        1.000    -2.501");
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> big(1.0, 1e8), mag(0, 14);
    std::uniform_int_distribution<int64_t> thou(1000, 99'999'999'999);
    for (int i = 0; i < 100000; ++i) {
        double v;
        switch (i % 4) {
            case 0: v = big(rng); break;
            case 1: v = std::pow(10.0, mag(rng)); break;
            case 2: v = (static_cast<double>(thou(rng)) + 0.5) / 1000.0; break;  // near halves
            default: v = -std::pow(10.0, mag(rng)); break;
        }
        std::string line = XyzLine(v, v, v);
        std::string want = FixedText(v, 12, 3) + " " + FixedText(v, 12, 3) + " " + FixedText(v, 9, 3);
        ASSERT_EQ(line, want) << std::hexfloat << v;
    }
}

TEST(CsvLayout, SeparatorsAndRounding) {
    EXPECT_EQ(CsvLine(4567890.123, 5678901.234, 123.456, ','), "4567890,123;5678901,234;123,456");
    EXPECT_EQ(CsvLine(4567890.123, 5678901.234, 123.456, '.'), "4567890.123;5678901.234;123.456");
    EXPECT_EQ(CsvLine(-1.5, 0, -0.0004, '.'), "-1.500;0.000;0.000");
    EXPECT_EQ(CsvLine(0.0005, 1.0585, -1.0005, '.'), "0.001;1.059;-1.000");
    // 12 significant digits for X and Y, 9 for Z, then 3 decimals shown.
    EXPECT_EQ(CsvLine(12345678901.2345, 123456789012.4, 12345678.567, '.'),
              "12345678901.200;123456789012.000;12345678.600");
    EXPECT_EQ(CsvLine(1, 2, 123456789.5, ','), "1,000;2,000;123456790,000");
    // More digits before the point than the limit: scientific notation.
    EXPECT_EQ(CsvLine(1234567890123.0, -1.5e13, 1234567890.0, ','),
              "1,23456789012E12;-1,5E13;1,23456789E9");
    EXPECT_EQ(CsvLine(999999999999.9, 1, 999999999.7, '.'), "1E12;1.000;1E9");
    EXPECT_EQ(CsvLine(NAN, INFINITY, -INFINITY, '.'), "NAN;INF;-INF");
}

class TextWriterTest : public ::testing::Test {
protected:
    std::string P(const std::string& name) { return (dir_ / name).string(); }
    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
};

TEST_F(TextWriterTest, CsvFileWithHeadingAndCrLf) {
    TSichereDatei file(P("a.csv"));
    TPunktSchreiber w(file);
    w.WriteCsvHeading();
    w.WriteCsv(4567890.123, 5678901.234, 123.456, ',');
    w.WriteCsv(1, 2, 3, ',');
    w.Close();
    file.Commit();
    EXPECT_EQ(ReadAll(P("a.csv")), "X;Y;Z\r\n4567890,123;5678901,234;123,456\r\n1,000;2,000;3,000\r\n");
    // Read back as a source: no line holds a blank, so no reader accepts any.
    TZeilenLeser r(P("a.csv"));
    std::string_view line;
    int lines = 0;
    while (r.ReadLine(line)) {
        ++lines;
        double x, y, z;
        EXPECT_FALSE(ReadExtentLine(line, x, y));
        EXPECT_FALSE(ReadPointLine(TrimLeft(line), x, y, z));
    }
    EXPECT_EQ(lines, 3);
}

TEST_F(TextWriterTest, XyzRoundTripOverManyBlocks) {
    const std::string path = P("big.xyz");
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> xs(3e6, 4e6), zs(-50, 3000);
    std::vector<std::array<double, 3>> pts(120000);
    {
        TSichereDatei file(path);
        TPunktSchreiber w(file);
        for (auto& p : pts) {
            p = {xs(rng), xs(rng) + 2e6, zs(rng)};
            w.WriteXyz(p[0], p[1], p[2]);
        }
        w.WriteXyz(0.25, 1e16, -0.5);  // general fixed-point text in the middle of the buffer
        w.Close();
        file.Commit();
    }
    EXPECT_EQ(fs::file_size(path), pts.size() * 37 + 46);
    TZeilenLeser r(path);
    std::string_view line;
    std::size_t i = 0;
    while (r.ReadLine(line)) {
        double x, y, z;
        ASSERT_TRUE(ReadPointLine(TrimLeft(line), x, y, z)) << line;
        if (i < pts.size()) {
            ASSERT_NEAR(x, pts[i][0], 0.0005);
            ASSERT_NEAR(y, pts[i][1], 0.0005);
            ASSERT_NEAR(z, pts[i][2], 0.0005);
        } else {
            EXPECT_EQ(line, "       0.250 10000000000000000.000    -0.500");
        }
        ++i;
    }
    EXPECT_EQ(i, pts.size() + 1);
}

TEST_F(TextWriterTest, LongLinesAndAbandonedWriters) {
    const std::string text(3 * 1024 * 1024 + 5, 'a');
    {
        TSichereDatei file(P("long.txt"));
        TPunktSchreiber w(file);
        w.WriteXyz(1, 2, 3);
        w.WriteLine(text);
        w.WriteLine("");
        w.Close();
        file.Commit();
    }
    const std::string whole = "       1.000        2.000     3.000\r\n" + text + "\r\n\r\n";
    EXPECT_EQ(ReadAll(P("long.txt")), whole);
    {
        TSichereDatei file(P("long.txt"));
        TPunktSchreiber w(file);
        w.WriteLine(text);  // more than a block reaches the temporary file
        // no Close, no Commit: an abandoned run leaves the old file as it was
    }
    EXPECT_EQ(ReadAll(P("long.txt")), whole);
    // Into a caller's file: Close only flushes, the caller decides.
    TSichereDatei file(P("long.txt"));
    {
        TPunktSchreiber w(file);
        w.WriteCsvHeading();
        w.Close();
    }
    EXPECT_EQ(ReadAll(P("long.txt")), whole);
    file.Commit();
    EXPECT_EQ(ReadAll(P("long.txt")), "X;Y;Z\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(TextWriterTest, CreateAndWriteFailuresAreFileErrors) {
    EXPECT_THROW(TSichereDatei f(P("no/such/folder/x.xyz")), EZielAbgelehnt);
    EXPECT_THROW(TSichereDatei f(dir_.string()), EZielAbgelehnt);
    ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0644), 0);
    try {
        TSichereDatei f(P("fifo"));  // refused at once, never opened
        ADD_FAILURE() << "a FIFO taken as output";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), TextZielKeineDatei + P("fifo"));
    }

    // A full disk (here: a file size limit) fails while writing, not only at the end, and
    // leaves the old file.
    const std::string old = P("old.xyz");
    { std::ofstream(old) << "alt"; }
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    {
        TSichereDatei file(old);
        TPunktSchreiber w(file);
        try {
            for (int i = 0; i < 100000; ++i) w.WriteCsv(1, 2, 3, '.');
            ADD_FAILURE() << "a failed write was reported as success";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Errno(), EFBIG);
            EXPECT_NE(std::string(e.what()).find(": " + old), std::string::npos) << e.what();
        }
        EXPECT_THROW(w.WriteXyz(1, 2, 3), EInOutError);
        EXPECT_THROW(w.Close(), EInOutError);  // never committed after a lost block
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ReadAll(old), "alt");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2);  // fifo and old.xyz
}

}  // namespace
