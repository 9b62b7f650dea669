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
#include "tools/Errors.h"

namespace fs = std::filesystem;
using namespace tervalo;

namespace {

class TextReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tervalo_text_reader_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& bytes, const std::string& name = "f.xyz") {
        std::string p = (dir_ / name).string();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::vector<std::string> Lines(const std::string& path) {
        TextLineReader r(path);
        std::vector<std::string> out;
        std::string_view line;
        while (r.ReadLine(line)) out.emplace_back(line);
        return out;
    }
    std::vector<std::string> LinesOf(const std::string& bytes) { return Lines(Write(bytes)); }

    fs::path dir_;
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
    TextLineReader r(Write("ab\n\x1Ajunk"));
    std::string_view line;
    ASSERT_TRUE(r.ReadLine(line));
    EXPECT_FALSE(r.ReadLine(line));
    EXPECT_EQ(r.BytesRead(), 3u);
}

TEST_F(TextReaderTest, LinesLongerThanTheBlockAndAcrossBlockBoundaries) {
    const std::string longLine(3 * 1024 * 1024 + 17, '7');
    EXPECT_EQ(LinesOf("a\n" + longLine + "\r\nb"), (V{"a", longLine, "b"}));
    EXPECT_EQ(LinesOf(longLine), V{longLine});

    // A CR LF split exactly at the 1 MiB block boundary, and a Ctrl-Z in the second block.
    std::string first(1024 * 1024 - 1, 'x');
    std::string bytes = first + "\r\nnext\r\n\x1Agone\n";
    EXPECT_EQ(LinesOf(bytes), (V{first, "next"}));
}

TEST_F(TextReaderTest, RandomContentMatchesASimpleSplit) {
    std::mt19937 rng(4711);
    const char alphabet[] = {'1', ' ', '.', '\r', '\n', '\t', 'x'};
    for (int round = 0; round < 4; ++round) {
        std::string bytes;
        std::size_t size = round < 3 ? 3000 : 2'300'000;  // the last one spans three blocks
        std::uniform_int_distribution<int> pick(0, 6);
        for (std::size_t i = 0; i < size; ++i) bytes.push_back(alphabet[pick(rng)]);
        V expect;
        std::string cur;
        bool open = false;
        for (char c : bytes) {
            if (c == '\n') {
                expect.push_back(cur);
                cur.clear();
                open = false;
            } else {
                open = true;
                if (c != '\r') cur.push_back(c);
            }
        }
        if (open) expect.push_back(cur);
        const std::string path = Write(bytes);
        EXPECT_EQ(Lines(path), expect) << "round " << round;
        TextLineReader r(path);
        std::string_view line;
        while (r.ReadLine(line)) {
        }
        EXPECT_EQ(r.BytesRead(), bytes.size());
    }
}

TEST_F(TextReaderTest, BytesReadFollowsTheLines) {
    TextLineReader r(Write("12\r\n345\n6"));
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
        TextLineReader r((dir_ / "missing.xyz").string());
        FAIL() << "no error for a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_STREQ(e.what(), "Datei nicht gefunden");
    }
    try {
        TextLineReader r(dir_.string());
        FAIL() << "no error for a folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 5);
    }
    // A named pipe without a writer would block a blocking open for ever.
    const std::string fifo = (dir_ / "pipe.xyz").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        TextLineReader r(fifo);
        FAIL() << "no error for a named pipe";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 5);
    }
}

}  // namespace
