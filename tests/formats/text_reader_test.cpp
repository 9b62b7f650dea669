// Block line reader: line ends, lone CR, Ctrl-Z, long lines, block boundaries, errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/TextPoints.h"
#include "support/files.h"
#include "tools/Errors.h"
#include "tools/Tools.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

class TextReaderTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes, const std::string& name = "f.xyz") {
        std::string p = (dir_ / name).string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::vector<std::string> Lines(const std::string& path) {
        TZeilenLeser r(path);
        std::vector<std::string> out;
        std::string_view line;
        while (r.ReadLine(line)) out.emplace_back(line);
        return out;
    }
    std::vector<std::string> LinesOf(const std::string& bytes) { return Lines(Write(bytes)); }

    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
};

using V = std::vector<std::string>;

TEST_F(TextReaderTest, LineEnds) {
    EXPECT_EQ(LinesOf("a\r\nb\r\nc\r\n"), (V{"a", "b", "c"}));
    EXPECT_EQ(LinesOf("a\nb\nc\n"), (V{"a", "b", "c"}));
    EXPECT_EQ(LinesOf("a\r\nb\nc"), (V{"a", "b", "c"}));       // mixed, no final line end
    EXPECT_EQ(LinesOf("\n\r\nx\n\n"), (V{"", "", "x", ""}));   // empty lines are lines
    EXPECT_EQ(LinesOf(""), V{});
    EXPECT_EQ(LinesOf("\n"), V{""});
}

TEST_F(TextReaderTest, LoneCarriageReturnIsDroppedAndDoesNotEndTheLine) {
    EXPECT_EQ(LinesOf("1 2\r3\r\n4\r\r\n"), (V{"1 23", "4"}));
    EXPECT_EQ(LinesOf("\rabc\r"), V{"abc"});
    EXPECT_EQ(LinesOf("a\r\r\rb\n"), V{"ab"});
    // The side buffer must not leak into the next line.
    EXPECT_EQ(LinesOf("x\ry\nplain\n"), (V{"xy", "plain"}));
}

TEST_F(TextReaderTest, CtrlZEndsTheFile) {
    EXPECT_EQ(LinesOf("a\r\nb\x1A\r\nc\r\n"), V({"a", "b"}));
    EXPECT_EQ(LinesOf("a\r\n\x1A"), V{"a"});
    EXPECT_EQ(LinesOf("\x1A" "a\n"), V{});
    TZeilenLeser r(Write("ab\n\x1Ajunk"));
    std::string_view line;
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_FALSE(r.ReadLine(line));
    EXPECT_EQ(r.BytesRead(), 3u);
}

TEST_F(TextReaderTest, LinesLongerThanTheBlockAndAcrossBlockBoundaries) {
    // Longer than a block: delivered as its prefix, counted once, the next line intact.
    const std::string longLine(3 * 1024 * 1024 + 17, '7');
    const std::string prefix = longLine.substr(0, LinePrefixBytes);
    EXPECT_EQ(LinesOf("a\n" + longLine + "\r\nb"), (V{"a", prefix, "b"}));
    EXPECT_EQ(LinesOf(longLine), V{prefix});

    // A CR LF split exactly at the 1 MiB block boundary, and a Ctrl-Z in the second block.
    std::string first(1024 * 1024 - 1, 'x');
    std::string bytes = first + "\r\nnext\r\n\x1Agone\n";
    EXPECT_EQ(LinesOf(bytes), (V{first.substr(0, LinePrefixBytes), "next"}));
    // The same split after lines of ordinary length.
    V lines;
    bytes.clear();
    while (bytes.size() + 1002 < 1024 * 1024 - 1) {
        lines.push_back(std::string(1000, 'y'));
        bytes += lines.back() + "\r\n";
    }
    lines.push_back(std::string(1024 * 1024 - 1 - bytes.size(), 'z'));
    bytes += lines.back() + "\r\nnext\r\n\x1Agone\n";
    lines.push_back("next");
    EXPECT_EQ(LinesOf(bytes), lines);
}

TEST_F(TextReaderTest, LongLinesKeepTheirPrefixAndCountOnce) {
    const std::size_t P = LinePrefixBytes;
    // A 10 MB line with CR LF, then a point line: the point is read as ever, and BytesRead
    // still counts every byte of the passed-over rest.
    std::string huge(10 * 1000 * 1000, '1');
    huge[5] = ' ';
    const std::string bytes = "x\r\n" + huge + "\r\n3566000.5 5936000.5 98.1\r\n";
    TZeilenLeser r(Write(bytes));
    std::string_view line;
    ASSERT_TRUE(r.ReadLine(line));
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_EQ(line, huge.substr(0, P));
    EXPECT_EQ(r.BytesRead(), 3 + huge.size() + 2);
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_EQ(line, "3566000.5 5936000.5 98.1");
    EXPECT_FALSE(r.ReadLine(line));
    EXPECT_EQ(r.BytesRead(), bytes.size());

    // Around the prefix: a line of exactly P bytes is whole (its CR LF is the line end);
    // lone CRs inside the prefix are dropped; a Ctrl-Z behind a cut line ends the file.
    const std::string exact(P, 'e');
    EXPECT_EQ(LinesOf(exact + "\r\nz"), (V{exact, "z"}));
    EXPECT_EQ(LinesOf(exact + "f\nz"), (V{exact, "z"}));
    EXPECT_EQ(LinesOf("\r" + exact + "\rf\n"), (V{exact.substr(0, P - 1)}));
    EXPECT_EQ(LinesOf(exact + std::string(P, 'g') + "\x1A" "\nnie\n"), V{exact});
    // A file that is one long line without line end.
    EXPECT_EQ(LinesOf(std::string(3 * P, 'k')), V{std::string(P, 'k')});
}

TEST_F(TextReaderTest, RandomContentMatchesASimpleSplit) {
    std::mt19937 rng(4711);
    const char alphabet[] = {'1', ' ', '.', '\r', '\n', '\t', 'x'};
    for (int round = 0; round < 5; ++round) {
        std::string bytes;
        std::size_t size = round < 3 ? 3000 : 2'300'000;  // the last ones span three blocks
        std::uniform_int_distribution<int> pick(0, 6);
        for (std::size_t i = 0; i < size; ++i) {
            char c = alphabet[pick(rng)];
            if (round == 4 && c == '\n' && rng() % 20000 != 0) c = '1';  // lines beyond the prefix
            bytes.push_back(c);
        }
        V expect;
        std::string cur;
        std::size_t raw = 0;  // bytes of the line so far; only the prefix is delivered
        bool open = false;
        for (char c : bytes) {
            if (c == '\n') {
                expect.push_back(cur);
                cur.clear();
                raw = 0;
                open = false;
            } else {
                open = true;
                if (c != '\r' && raw < LinePrefixBytes) cur.push_back(c);
                ++raw;
            }
        }
        if (open) expect.push_back(cur);
        const std::string path = Write(bytes);
        EXPECT_EQ(Lines(path), expect) << "round " << round;
        TZeilenLeser r(path);
        std::string_view line;
        while (r.ReadLine(line)) {
        }
        EXPECT_EQ(r.BytesRead(), bytes.size());
    }
}

TEST_F(TextReaderTest, BytesReadFollowsTheLines) {
    TZeilenLeser r(Write("12\r\n345\n6"));
    std::string_view line;
    EXPECT_EQ(r.BytesRead(), 0u);
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_EQ(r.BytesRead(), 4u);
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_EQ(r.BytesRead(), 8u);
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_EQ(line, "6");
    EXPECT_EQ(r.BytesRead(), 9u);
    EXPECT_FALSE(r.ReadLine(line));
    EXPECT_FALSE(r.ReadLine(line));  // stays at the end
}

TEST_F(TextReaderTest, OpenAndReadFailuresAreFileErrors) {
    try {
        TZeilenLeser r((dir_ / "missing.xyz").string());
        FAIL() << "no error for a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_STREQ(e.what(), "Datei nicht gefunden");
    }
    try {
        TZeilenLeser r(dir_.string());
        FAIL() << "no error for a folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 5);
    }
    // A named pipe without a writer would block a blocking open for ever.
    const std::string fifo = (dir_ / "pipe.xyz").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        TZeilenLeser r(fifo);
        FAIL() << "no error for a named pipe";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 5);
    }
}

}  // namespace
