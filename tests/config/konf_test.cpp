#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/Konf.h"
#include "support/files.h"
#include "tools/Errors.h"
#include "tools/SafeWriter.h"
#include "tools/Tools.h"

using namespace tervalo;
namespace fs = std::filesystem;

namespace {

class KonfFile : public ::testing::Test {
protected:
    void SetUp() override { path_ = (dir_ / "tervalo.KNF").string(); }

    void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Loads as the main window does: the stored widths go to its grid afterwards.
    void Load(const TGitterZugriff* hooks = nullptr) {
        const TKonfGelesen r = KonfLoad(path_, "/opt/tervalo/", set_, dat_);
        if (hooks) ApplyGridWidths(r, set_, *hooks);
    }
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }

    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
    std::string path_;
    TSettings set_;
    TDateien dat_;
};

// The header lines written for the initial settings and the given width lines.
std::string Head(const std::string& widths6 = "0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t",
                 const std::string& widths7 = "0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t") {
    return "VERSION   1.2b\r\n"
           " 5.0                ; Standard-Rasterabstand der Rohdaten [m]\r\n"
           " 50.0               ; zu betrachtende Breite um den Messpunkt [m]\r\n"
           "2.0                 ; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)\r\n"
           "3                   ; dBase Export-Version\r\n" +
           widths6 + "\r\n" + widths7 + "\r\n";
}

std::string Entry(int nr, const std::string& path, double x0 = 1, double x1 = 2, double y0 = 3, double y1 = 4) {
    std::string s = "#DATEI " + std::to_string(nr) + "\r\n" + path + "\r\n";
    const char* names[] = {"Xmin", "Xmax", "Ymin", "Ymax"};
    double v[] = {x0, x1, y0, y1};
    for (int i = 0; i < 4; ++i) s += PadRight(FixedText(v[i], 10, 2), 20) + "; " + names[i] + "\r\n";
    return s;
}

struct RecordingGrid {
    std::vector<int> headings;
    std::vector<int> widths;
    std::vector<std::pair<int, int>> sets;
    TGitterZugriff Hooks() {
        TGitterZugriff h;
        h.colCount = static_cast<int>(headings.size());
        h.headingWidth = [this](int c) { return headings.at(static_cast<size_t>(c)); };
        h.setColWidth = [this](int c, int w) {
            sets.emplace_back(c, w);
            widths.at(static_cast<size_t>(c)) = w;
        };
        h.colWidth = [this](int c) { return widths.at(static_cast<size_t>(c)); };
        return h;
    }
};

}  // namespace

TEST_F(KonfFile, WritesTheDocumentedLayoutByteForByte) {
    dat_.Anzahl = 1;
    dat_.Datei[1] = "D:\\Raster\\Daten\\blatt1.xyz";
    dat_.Xmin[1] = 3566000.0;
    dat_.Xmax[1] = 3566999.996;
    dat_.Ymin[1] = 5936000.125;
    dat_.Ymax[1] = -12.5;
    RecordingGrid grid{{10, 10, 10, 10, 10}, {30, 70, 70, 45, 41}, {}};
    TGitterZugriff hooks = grid.Hooks();
    TakeGridWidths(set_, hooks);
    KonfSave(path_, set_, dat_);
    const std::string expected =
        "VERSION   1.2b\r\n"
        " 5.0                ; Standard-Rasterabstand der Rohdaten [m]\r\n"
        " 50.0               ; zu betrachtende Breite um den Messpunkt [m]\r\n"
        "2.0                 ; Potenz f\xFCr Wichtung bei Extrapolation (Verfahren nach Shepard)\r\n"
        "3                   ; dBase Export-Version\r\n"
        "30\t70\t70\t45\t41\t0\t0\t0\t0\t0\t0\t\r\n"
        "0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0\t\r\n"
        "[DATEIEN]\r\n"
        "#DATEI 1\r\n"
        "D:\\Raster\\Daten\\blatt1.xyz\r\n"
        "3566000.00          ; Xmin\r\n"
        "3567000.00          ; Xmax\r\n"
        "5936000.13          ; Ymin\r\n"
        "    -12.50          ; Ymax\r\n";
    EXPECT_EQ(Read(), expected);
    EXPECT_EQ(KonfText(set_, dat_), expected);
    EXPECT_EQ(set_.GridBreiten[0], 30);
    EXPECT_EQ(set_.GridBreiten[4], 41);

    // Read back into fresh values; the stored widths widen narrow headings.
    TSettings s2;
    s2.Fangbreite = 1;
    TDateien d2;
    RecordingGrid g2{{10, 10, 10, 10, 10}, {1, 1, 1, 1, 1}, {}};
    TGitterZugriff h2 = g2.Hooks();
    ApplyGridWidths(KonfLoad(path_, "/opt/tervalo/", s2, d2), s2, h2);
    EXPECT_EQ(s2.Rasterabstand, 5.0);
    EXPECT_EQ(s2.Fangbreite, 50.0);
    EXPECT_EQ(s2.Potenz, 2.0);
    EXPECT_EQ(s2.DBFVersion, 3);
    EXPECT_EQ(g2.widths, (std::vector<int>{30, 70, 70, 45, 41}));
    ASSERT_EQ(d2.Anzahl, 1);
    EXPECT_EQ(d2.Datei[1], "D:\\Raster\\Daten\\blatt1.xyz");
    EXPECT_EQ(d2.Xmin[1], 3566000.0);
    EXPECT_EQ(d2.Xmax[1], 3567000.0);
    EXPECT_EQ(d2.Ymin[1], 5936000.13);
    EXPECT_EQ(d2.Ymax[1], -12.5);
}

TEST_F(KonfFile, SaveAndLoadRoundsSettingsAndExtents) {
    set_.Rasterabstand = 2.25;
    set_.Fangbreite = 12.34;
    set_.Potenz = 1.75;
    set_.DBFVersion = 7;
    for (int i = 0; i < 11; ++i) set_.DateiGridBreiten[i] = 100 + i;
    dat_.Anzahl = 3;
    for (int i = 1; i <= 3; ++i) {
        dat_.Datei[static_cast<size_t>(i)] = "/srv/daten/blatt" + std::to_string(i) + ".dbf";
        dat_.Xmin[static_cast<size_t>(i)] = 3566000.004 + i;
        dat_.Xmax[static_cast<size_t>(i)] = 3567000.006 + i;
        dat_.Ymin[static_cast<size_t>(i)] = 5936000.0 + i;
        dat_.Ymax[static_cast<size_t>(i)] = -0.001;
    }
    KonfSave(path_, set_, dat_);
    TSettings s;
    TDateien d;
    KonfLoad(path_, "/x/", s, d);
    EXPECT_EQ(s.Rasterabstand, 2.3);
    EXPECT_EQ(s.Fangbreite, 12.3);
    EXPECT_EQ(s.Potenz, 1.8);
    EXPECT_EQ(s.DBFVersion, 7);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(s.DateiGridBreiten[i], 100 + i);
    ASSERT_EQ(d.Anzahl, 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(d.Datei[static_cast<size_t>(i)], dat_.Datei[static_cast<size_t>(i)]);
        EXPECT_EQ(d.Xmin[static_cast<size_t>(i)], 3566000.0 + i);
        const double xmax[] = {0, 3567001.01, 3567002.01, 3567003.01};
        EXPECT_EQ(d.Xmax[static_cast<size_t>(i)], xmax[i]);
        EXPECT_EQ(d.Ymax[static_cast<size_t>(i)], 0.0);
    }
    // Writing what was read gives the same file again.
    std::string first = Read();
    KonfSave(path_, s, d);
    EXPECT_EQ(Read(), first);
}

TEST_F(KonfFile, MissingEmptyOrShortFilesKeepTheValues) {
    set_.Fangbreite = 77;
    dat_.Anzahl = 2;
    dat_.Datei[1] = "a";
    Load();  // no file
    EXPECT_EQ(set_.Fangbreite, 77);
    EXPECT_EQ(dat_.Anzahl, 2);
    Write("");
    Load();
    EXPECT_EQ(set_.Fangbreite, 77);
    EXPECT_EQ(dat_.Anzahl, 2);
    Write("VERSION   9.9\r\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 5.0);
    EXPECT_EQ(set_.Fangbreite, 77);
    EXPECT_EQ(dat_.Anzahl, 2);
    // Only lines 1 to 3: Potenz stays.
    set_.Potenz = 3.5;
    Write("x\n 1.5\n 20.0");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 1.5);
    EXPECT_EQ(set_.Fangbreite, 20.0);
    EXPECT_EQ(set_.Potenz, 3.5);
    // A file on the way instead of a folder (ENOTDIR) is missing as well.
    EXPECT_FALSE(KonfLoad(path_ + "/t.KNF", "/", set_, dat_).Vorhanden);
    EXPECT_EQ(set_.Fangbreite, 20.0);
    EXPECT_TRUE(KonfLoad(path_, "/", set_, dat_).Vorhanden);
}

// Only a missing file counts as missing: anything else that cannot be read is reported with
// the path, and no value changes (the next save would replace the user's file).
TEST_F(KonfFile, UnreadableFilesAreReportedAndChangeNothing) {
    set_.Fangbreite = 77;
    dat_.Anzahl = 1;
    dat_.Datei[1] = "/a/keep.xyz";
    auto expectRefused = [&](const std::string& p, const std::string& text) {
        try {
            KonfLoad(p, "/", set_, dat_);
            ADD_FAILURE() << "no error for " << p;
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), text + ": " + p);
        }
        EXPECT_EQ(set_.Fangbreite, 77);
        EXPECT_EQ(dat_.Anzahl, 1);
        EXPECT_EQ(dat_.Datei[1], "/a/keep.xyz");
    };
    fs::create_directory(path_);  // a folder in place of the file
    expectRefused(path_, "Dateizugriff verweigert");
    const std::string fifo = (dir_ / "pipe.KNF").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    expectRefused(fifo, "Dateizugriff verweigert");  // and does not wait for a writer
    // /proc/self/mem opens but fails on reading at offset 0 (EIO, which is no access error).
    expectRefused("/proc/self/mem", "E/A-Fehler 5");
}

// A line's length decides neither memory nor correctness: the reader keeps a prefix.
TEST_F(KonfFile, VeryLongLines) {
    std::string widths = "30\t200\t70";
    widths.reserve(4'000'000);
    for (int i = 3; i < 500'000; ++i) widths += "\t" + std::to_string(i % 1000);
    Write(Head(widths, "7\t8") + "[DATEIEN]\r\n" + Entry(1, "/a/one.xyz", 5) + std::string(10'000'000, 'x'));
    TKonfGelesen r = KonfLoad(path_, "/", set_, dat_);
    EXPECT_EQ(r.Eintraege, 1u);
    EXPECT_EQ(set_.GridBreiten[1], 200);
    EXPECT_EQ(set_.GridBreiten[3], 3);
    EXPECT_EQ(set_.GridBreiten[10], 10);
    EXPECT_EQ(set_.DateiGridBreiten[1], 8);
    ASSERT_EQ(dat_.Anzahl, 1);
    EXPECT_EQ(dat_.Xmin[1], 5.0);
    // A file that is one line without a break: only the version line, nothing else changes.
    set_.Fangbreite = 33;
    Write("VERSION " + std::string(10'000'000, '7'));
    EXPECT_TRUE(KonfLoad(path_, "/", set_, dat_).Vorhanden);
    EXPECT_EQ(set_.Fangbreite, 33);
    EXPECT_EQ(dat_.Anzahl, 1);
}

TEST_F(KonfFile, SettingsLinesReadOnlyTheirFirstCharacters) {
    Write("V\r\n1234.56 ; c\r\n12345.6\r\n123456.7\r\n  7   x\r\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 1234.0);
    EXPECT_EQ(set_.Fangbreite, 12345.0);
    EXPECT_EQ(set_.Potenz, 12345.0);
    EXPECT_EQ(set_.DBFVersion, 7);
    // A comma stops the conversion; the digits before it count.
    Write("V\r\n5,5\r\n;    50.0\r\n   \r\n x4x\r\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 5.0);
    EXPECT_EQ(set_.Fangbreite, 0.0);  // nothing kept of ";    "
    EXPECT_EQ(set_.Potenz, 0.0);
    EXPECT_EQ(set_.DBFVersion, 4);
    Write("V\r\n-2.5e3\r\n1.2.3\r\n+.5\r\n--3\r\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, -2.5);  // only "-2.5e" is read, and "e" is no number character
    EXPECT_EQ(set_.Fangbreite, 12.0);
    EXPECT_EQ(set_.Potenz, 0.5);
    EXPECT_EQ(set_.DBFVersion, 0);
}

TEST_F(KonfFile, WidthLinesWidenOnlyNarrowHeadings) {
    Write(Head("30\t200\t70\t45\t41\t", "1\t2\t3"));
    RecordingGrid grid{{25, 25, 25, 60, 41}, {25, 25, 25, 60, 41}, {}};
    TGitterZugriff hooks = grid.Hooks();
    Load(&hooks);
    EXPECT_EQ(grid.widths, (std::vector<int>{30, 200, 70, 60, 41}));
    EXPECT_EQ(grid.sets.size(), 3u);  // 41 is not above the heading's 41
    EXPECT_EQ(set_.GridBreiten[3], 45);
    EXPECT_EQ(set_.DateiGridBreiten[2], 3);
    EXPECT_EQ(set_.DateiGridBreiten[3], 0);

    // A width line without numbers applies nothing, even stored widths from before.
    grid.sets.clear();
    Write(Head(" \t \t", ""));
    Load(&hooks);
    EXPECT_TRUE(grid.sets.empty());
    EXPECT_EQ(set_.GridBreiten[1], 200);
}

TEST_F(KonfFile, SurplusWidthsAndEntriesAreIgnored) {
    std::string widths;
    for (int i = 1; i <= 30; ++i) widths += std::to_string(i) + "\t";
    std::string text = Head(widths, widths) + "[DATEIEN]\r\n";
    for (int i = 1; i <= 250; ++i) text += Entry(i, "/d/b" + std::to_string(i) + ".xyz", i);
    Write(text);
    TKonfGelesen r = KonfLoad(path_, "/", set_, dat_);
    EXPECT_EQ(r.Eintraege, 250u);
    EXPECT_FALSE(r.ZuVieleEintraege);
    // Valid entries beyond the record are counted (the caller must not save over them).
    for (int i = 251; i <= 270; ++i) text += Entry(i, i % 10 == 0 ? "/d/b?.xyz" : "/d/b" + std::to_string(i) + ".xyz", i);
    Write(text);
    RecordingGrid grid{std::vector<int>(14, 0), std::vector<int>(14, 0), {}};
    TGitterZugriff hooks = grid.Hooks();
    r = KonfLoad(path_, "/opt/tervalo/", set_, dat_);
    ApplyGridWidths(r, set_, hooks);
    EXPECT_EQ(r.Eintraege, 268u);
    EXPECT_TRUE(r.ZuVieleEintraege);
    EXPECT_EQ(set_.GridBreiten[10], 11);
    EXPECT_EQ(set_.DateiGridBreiten[10], 11);
    EXPECT_EQ(grid.sets.size(), 11u);  // columns beyond the list keep their width
    EXPECT_EQ(grid.widths[11], 0);
    ASSERT_EQ(dat_.Anzahl, 250);
    EXPECT_EQ(dat_.Datei[250], "/d/b250.xyz");
    EXPECT_EQ(dat_.Xmin[250], 250.0);
    // The record never writes more than it holds.
    dat_.Anzahl = 255;
    EXPECT_EQ(KonfText(set_, dat_).find("#DATEI 251"), std::string::npos);
}

TEST_F(KonfFile, SectionLineAndEntryHeaders) {
    for (const char* section : {"[DATEIEN]", "[dateien]", "[DATA]", "  \t[Dat", "[DAT"}) {
        Write(Head() + section + "\r\n" + Entry(1, "/a/b.xyz"));
        dat_ = TDateien{};
        Load();
        EXPECT_EQ(dat_.Anzahl, 1) << section;
    }
    // No section: the catalogue keeps what it held.
    for (const char* section : {"DATEIEN", "[DA", "", "#DATEI 1"}) {
        Write(Head() + section + "\r\n" + Entry(1, "/a/b.xyz"));
        dat_ = TDateien{};
        dat_.Anzahl = 4;
        Load();
        EXPECT_EQ(dat_.Anzahl, 4) << section;
    }
    // Lines between the widths and the section are passed over.
    Write(Head() + "junk\r\n\r\n[DATEIEN] x\r\nmore junk\r\n" + Entry(1, "/a/b.xyz"));
    Load();
    EXPECT_EQ(dat_.Anzahl, 1);
    // A lower-case header starts no entry; numbers after "#DATEI" are never read.
    Write(Head() + "[DATEIEN]\r\n" + Entry(1, "/a/one.xyz") + "#datei 2\r\n/a/two.xyz\r\n1\r\n2\r\n3\r\n4\r\n" +
          Entry(7, "/a/three.xyz") + "#D\r\n/a/four.xyz\r\n1\r\n2\r\n3\r\n4\r\n" + Entry(7, "/a/five.xyz", 9, 9, 9, 9));
    Load();
    ASSERT_EQ(dat_.Anzahl, 4);
    EXPECT_EQ(dat_.Datei[1], "/a/one.xyz");
    EXPECT_EQ(dat_.Datei[2], "/a/three.xyz");
    EXPECT_EQ(dat_.Datei[3], "/a/four.xyz");
    EXPECT_EQ(dat_.Xmin[3], 1.0);
    EXPECT_EQ(dat_.Datei[4], "/a/five.xyz");
    EXPECT_EQ(dat_.Ymax[4], 9.0);
    // An empty section.
    Write(Head() + "[DATEIEN]\r\n");
    dat_.Anzahl = 9;
    Load();
    EXPECT_EQ(dat_.Anzahl, 0);
}

TEST_F(KonfFile, PathsAreCheckedAndBareNamesResolved) {
    // Names are UTF-8 here: a folder with umlauts is kept, byte for byte.
    const std::string utf8 = "/home/j\xC3\xBCrgen/H\xC3\xB6hendaten/blatt3.xyz";
    Write(Head() + "[DATEIEN]\r\n" + Entry(1, "  blatt1.xyz \t") + Entry(2, "Daten\\blatt2.xyz") +
          Entry(3, utf8, 3) + Entry(4, "/a/x|y.xyz") + Entry(5, "/a/[x].xyz", 5) +
          Entry(6, "C:blatt6.xyz", 6) + Entry(7, "") + Entry(8, "/a/eight.xyz", 8));
    Load();
    ASSERT_EQ(dat_.Anzahl, 5);
    EXPECT_EQ(dat_.Datei[1], "/opt/tervalo/Daten/blatt1.xyz");
    EXPECT_EQ(dat_.Datei[2], "Daten\\blatt2.xyz");
    EXPECT_EQ(dat_.Datei[3], utf8);
    EXPECT_EQ(dat_.Xmin[3], 3.0);
    EXPECT_EQ(dat_.Datei[4], "C:blatt6.xyz");
    EXPECT_EQ(dat_.Xmin[4], 6.0);
    EXPECT_EQ(dat_.Datei[5], "/a/eight.xyz");
    EXPECT_EQ(dat_.Xmin[5], 8.0);
    // The resolved name is saved as a full path; the UTF-8 path survives save and load.
    KonfSave(path_, set_, dat_);
    EXPECT_NE(Read().find("\r\n/opt/tervalo/Daten/blatt1.xyz\r\n"), std::string::npos);
    EXPECT_NE(Read().find("#DATEI 3\r\n" + utf8 + "\r\n"), std::string::npos);
    const TDateien saved = dat_;
    dat_ = TDateien{};
    Load();
    ASSERT_EQ(dat_.Anzahl, 5);
    EXPECT_EQ(dat_.Datei[3], utf8);
    EXPECT_EQ(dat_.Xmin[3], saved.Xmin[3]);
    // A program folder without a final separator gets one.
    Write(Head() + "[DATEIEN]\r\n" + Entry(1, "b.xyz"));
    KonfLoad(path_, "/opt/x", set_, dat_);
    EXPECT_EQ(dat_.Datei[1], "/opt/x/Daten/b.xyz");
}

TEST_F(KonfFile, ShortEntriesKeepEarlierExtents) {
    dat_.Xmin[2] = 11;
    dat_.Xmax[2] = 12;
    dat_.Ymin[2] = 13;
    dat_.Ymax[2] = 14;
    Write(Head() + "[DATEIEN]\r\n" + Entry(1, "/a/1.xyz") + "#DATEI 2\r\n/a/2.xyz\r\n  100.5\r\n");
    Load();
    ASSERT_EQ(dat_.Anzahl, 2);
    EXPECT_EQ(dat_.Xmin[2], 100.5);
    EXPECT_EQ(dat_.Xmax[2], 12);
    EXPECT_EQ(dat_.Ymax[2], 14);
    // Ending right after the header: the empty path drops the entry.
    Write(Head() + "[DATEIEN]\r\n" + Entry(1, "/a/1.xyz") + "#DATEI 2");
    Load();
    EXPECT_EQ(dat_.Anzahl, 1);
    // Extent lines read only twelve characters.
    Write(Head() + "[DATEIEN]\r\n#DATEI 1\r\n/a\r\n1234567890.999\r\n 3566000,50\r\n1e5\r\n-x7\r\n");
    Load();
    EXPECT_EQ(dat_.Xmin[1], 1234567890.9);
    EXPECT_EQ(dat_.Xmax[1], 3566000.0);
    EXPECT_EQ(dat_.Ymin[1], 15.0);
    EXPECT_EQ(dat_.Ymax[1], -7.0);
}

TEST_F(KonfFile, LineEndsAndEndOfFileByte) {
    // LF only, a lone CR inside a line, 0x1A ending the file.
    Write("VERSION\n 7.5\n 6\r0.0\r\n3.0\n4\n\n\n[DATEIEN]\n#DATEI 1\n/a/b\r.xyz\n1\n2\n3\n4\n\x1A#DATEI 2\n/c/d\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 7.5);
    EXPECT_EQ(set_.Fangbreite, 60.0);
    EXPECT_EQ(set_.Potenz, 3.0);
    EXPECT_EQ(set_.DBFVersion, 4);
    ASSERT_EQ(dat_.Anzahl, 1);
    EXPECT_EQ(dat_.Datei[1], "/a/b.xyz");
    EXPECT_EQ(dat_.Ymax[1], 4.0);
    // 0x1A in the middle of the settings: the rest of the file does not exist.
    TSettings fresh;
    set_ = fresh;
    Write("V\r\n 1.0\r\n\x1A 9.0\r\n");
    Load();
    EXPECT_EQ(set_.Rasterabstand, 1.0);
    EXPECT_EQ(set_.Fangbreite, 50.0);
}

TEST_F(KonfFile, ReadErrorAfterOpeningReachesTheCaller) {
    // /proc/self/mem opens but fails on reading at offset 0.
    set_.Fangbreite = 42;
    try {
        KonfLoad("/proc/self/mem", "/", set_, dat_);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "E/A-Fehler 5: /proc/self/mem");
    }
    EXPECT_EQ(set_.Fangbreite, 42);
}

TEST_F(KonfFile, SaveIsAtomic) {
    // Nothing can be created in a missing folder or under /proc: refused, nothing written.
    EXPECT_THROW(KonfSave((dir_ / "missing" / "t.KNF").string(), set_, dat_), EZielAbgelehnt);
    EXPECT_THROW(KonfSave("/proc/tervalo.KNF", set_, dat_), EZielAbgelehnt);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A directory in place of the file is refused before anything is written.
    fs::create_directory(path_);
    std::ofstream(fs::path(path_) / "keep") << "x";
    try {
        KonfSave(path_, set_, dat_);
        FAIL() << "no error";
    } catch (const EZielAbgelehnt& e) {
        EXPECT_EQ(std::string(e.what()), std::string(TextZielKeineDatei) + path_);
    }
    EXPECT_TRUE(fs::exists(fs::path(path_) / "keep"));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"tervalo.KNF"});
    fs::remove_all(path_);

    // Replacing a file keeps its permissions; a link stays a link.
    Write("old");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_NO_THROW(KonfSave(path_, set_, dat_));
    EXPECT_EQ(Read(), KonfText(set_, dat_));
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::path link = dir_ / "link.KNF";
    fs::create_symlink(path_, link);
    set_.Potenz = 4;
    KonfSave(link.string(), set_, dat_);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(Read().find("4.0                 ; Potenz"), std::string::npos);

    // A catalogued source is never replaced by the configuration, also not through a link.
    dat_.Anzahl = 1;
    dat_.Datei[1] = link.string();
    const std::string before = Read();
    EXPECT_THROW(KonfSave(path_, set_, dat_), EZielAbgelehnt);
    EXPECT_EQ(Read(), before);
}

TEST_F(KonfFile, ProtectedFilesOfACatalogue) {
    TDateien k;
    k.KonfDatei = path_;
    k.Anzahl = 255;  // more than the record holds: only its entries count
    for (int i = 1; i <= MaxDateien; ++i) k.Datei[static_cast<std::size_t>(i)] = "/d/" + std::to_string(i) + ".xyz";
    EXPECT_EQ(k.Eintraege(), MaxDateien);
    const TSchutz s = ProtectedFiles(k);
    EXPECT_EQ(s.Konfiguration, path_);
    ASSERT_EQ(s.Quellen.size(), static_cast<std::size_t>(MaxDateien));
    EXPECT_EQ(s.Quellen.back(), "/d/250.xyz");
    // The configuration is saved over itself, though no run may write it.
    EXPECT_NO_THROW(KonfSave(path_, set_, k));
    EXPECT_NE(Read().find("#DATEI 250\r\n/d/250.xyz\r\n"), std::string::npos);
    EXPECT_THROW(TSichereDatei(path_, s), EZielAbgelehnt);
}

TEST_F(KonfFile, WriteErrorLeavesThePreviousFileIntact) {
    std::string previous = Head() + "[DATEIEN]\r\n" + Entry(1, "/a/keep.xyz");
    Write(previous);
    for (int i = 1; i <= 200; ++i) dat_.Datei[static_cast<size_t>(i)] = std::string(100, 'p');
    dat_.Anzahl = 200;
    // The file size limit makes the write fail after the temporary file was created.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int rc = 3;
        try {
            KonfSave(path_, set_, dat_);
        } catch (const EInOutError& e) {
            rc = std::string(e.what()) == "Zu wenig Speicherplatz: " + path_ ? 0 : 4;  // EFBIG
        } catch (...) {
            rc = 5;
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Read(), previous);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"tervalo.KNF"});
}

TEST(KonfName, FollowsTheProgramFile) {
    EXPECT_EQ(KonfFileFor("D:\\Raster\\rechner.exe"), "D:\\Raster\\rechner.KNF");
    EXPECT_EQ(KonfFileFor("/opt/tervalo/bin/tervalo"), "/opt/tervalo/bin/tervalo.KNF");
}
