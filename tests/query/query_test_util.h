#pragma once
// Files and catalogues for the query tests.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "config/TYPEN.h"
#include "query/Antwort.h"
#include "formats/DbfFile.h"
#include "support/files.h"

namespace qtest {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards; File() names a file in it.
class TempDir : public tervalo::test::TempDir {
public:
    std::string File(const std::string& name) const { return *this / name; }
};

inline constexpr auto& WriteFile = tervalo::test::WriteAll;

struct P {
    double x, y, z;
};

inline std::string XyzText(const std::vector<P>& pts) {
    std::string s;
    char buf[128];
    for (const P& p : pts) {
        std::snprintf(buf, sizeof buf, "%12.3f %12.3f %9.3f\r\n", p.x, p.y, p.z);
        s += buf;
    }
    return s;
}

// A dBase table with the fields X, Y, Z written by the project's own layer.
inline void WriteDbf(const std::string& path, const std::vector<P>& pts, int level = 4) {
    tervalo::TSichereDatei file(path);
    tervalo::TDbfFile dbf;
    dbf.CreateTable(file, level, tervalo::XyzFieldDefs());
    for (const P& p : pts) dbf.AppendRecord(p.x, p.y, p.z);
    dbf.Close();
    file.Commit();
}

// Adds an entry; without extent the file gets a box around the whole plane.
inline void AddEntry(tervalo::TDateien& kat, const std::string& path, double xmin = -1e12,
                     double xmax = 1e12, double ymin = -1e12, double ymax = 1e12) {
    const std::size_t i = ++kat.Anzahl;
    kat.Datei[i] = path;
    kat.Xmin[i] = xmin;
    kat.Xmax[i] = xmax;
    kat.Ymin[i] = ymin;
    kat.Ymax[i] = ymax;
}

// A regular grid x0..x1 by y0..y1 in steps of s, row by row, with a smooth height.
inline std::vector<P> Grid(double x0, double x1, double y0, double y1, double s) {
    std::vector<P> pts;
    for (double y = y0; y <= y1 + 1e-9; y += s)
        for (double x = x0; x <= x1 + 1e-9; x += s)
            pts.push_back({x, y, 100.0 + 0.01 * (x - x0) + 0.02 * (y - y0)});
    return pts;
}

// The same nearest point in two answers, bit for bit (none in both counts as the same).
inline void ExpectSameNearest(const tervalo::THoehenAntwort& a, const tervalo::THoehenAntwort& b) {
    ASSERT_EQ(a.HatNaechster, b.HatNaechster);
    if (!a.HatNaechster) return;
    EXPECT_EQ(a.Naechster.X, b.Naechster.X);
    EXPECT_EQ(a.Naechster.Y, b.Naechster.Y);
    EXPECT_EQ(a.Naechster.Z, b.Naechster.Z);
    EXPECT_EQ(a.Naechster.R, b.Naechster.R);
}

}  // namespace qtest
