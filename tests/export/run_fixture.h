#pragma once
// Helpers shared by the export and conversion tests: temporary folders, tiles, tables,
// scripted observers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/TYPEN.h"
#include "export/Export.h"
#include "filemanager/Konvert.h"
#include "formats/DbfFile.h"
#include "formats/TextPoints.h"
#include "support/files.h"
#include "support/shell.h"

namespace tervalo::test {

namespace fs = std::filesystem;

struct Pt {
    double x, y, z;
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t e = text.find("\r\n", pos);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(pos, e - pos));
        pos = e + 2;
    }
    return out;
}

// An XYZ tile written with our own line writer.
inline void WriteXyzTile(const std::string& path, const std::vector<Pt>& pts) {
    std::string s;
    for (const Pt& p : pts) s += XyzLine(p.x, p.y, p.z) + "\r\n";
    WriteAll(path, s);
}

// A regular grid of n x n points at 1 m spacing starting at (x0, y0).
inline std::vector<Pt> Grid(double x0, double y0, int n) {
    std::vector<Pt> v;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) v.push_back({x0 + i, y0 + j, 100.0 + i * 0.5 + j * 0.25});
    return v;
}

inline void WriteDbfTable(const std::string& path, const std::vector<Pt>& pts, int level = 3,
                          std::vector<TDbfFieldDef> fields = XyzFieldDefs()) {
    TSichereDatei file(path);
    TDbfFile t;
    t.CreateTable(file, level, std::move(fields));
    for (const Pt& p : pts) t.AppendRecord(p.x, p.y, p.z);
    t.Close();
    file.Commit();
}

// Every live record of a table, via our reader; a blank field reads as NaN.
inline std::vector<Pt> ReadDbf(const std::string& path) {
    TDbfFile t;
    t.OpenRead(path);
    std::vector<Pt> v;
    for (t.First(); !t.AtEnd(); t.Next()) {
        auto val = [&](int i) { return t.FieldAsNumber(i).value_or(std::nan("")); };
        v.push_back({val(0), val(1), val(2)});
    }
    t.Close();
    return v;
}

// Points of an XYZ file, via the point line reader.
inline std::vector<Pt> ReadXyz(const std::string& path) {
    std::vector<Pt> v;
    for (const std::string& l : Lines(ReadAll(path))) {
        Pt p{};
        if (!ReadPointLine(l.substr(l.find_first_not_of(' ')), p.x, p.y, p.z)) ADD_FAILURE() << l;
        v.push_back(p);
    }
    return v;
}

inline void AddEntry(TDateien& cat, const std::string& path, double xmin, double xmax, double ymin,
                     double ymax) {
    int i = ++cat.Anzahl;
    cat.Datei[i] = path;
    cat.Xmin[i] = xmin;
    cat.Xmax[i] = xmax;
    cat.Ymin[i] = ymin;
    cat.Ymax[i] = ymax;
}

inline void AddEntry(TDateien& cat, const std::string& path, const std::vector<Pt>& pts) {
    double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
    for (const Pt& p : pts) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    AddEntry(cat, path, x0, x1, y0, y1);
}

// Options that poll after every line, so a scripted cancel lands on an exact line.
inline TLaufOptionen EveryLine(char sep = '.') {
    TLaufOptionen o;
    o.DecimalSeparator = sep;
    o.Poll.EveryLines = 1;
    o.Poll.Interval = std::chrono::milliseconds(0);
    o.Language = TSpracheinstellung{1252, 0x0407};
    return o;
}

// Records the log and counters; answers the cancel question at poll number `cancelAt`.
class ScriptedExportObserver : public TExportBeobachter {
public:
    std::vector<std::string> log;
    int32_t fileCount = -1, total = -1, duplicates = -1;
    int polls = 0;
    int cancelAt = 0;        // 0: Escape never pressed
    bool answerYes = true;
    int questions = 0;

    void Log(const std::string& line) override { log.push_back(line); }
    void Counters(int32_t f, int32_t t, int32_t d) override { fileCount = f, total = t, duplicates = d; }
    bool CancelCheck() override {
        if (++polls != cancelAt) return false;
        ++questions;
        return answerYes;
    }
};

class ScriptedKonvertObserver : public TKonvertBeobachter {
public:
    std::string target;
    std::vector<TKonvertFortschritt> progress;
    int polls = 0;
    int cancelAt = 0;
    bool answerYes = true;

    void Start(const std::string& name) override { target = name; }
    void Progress(const TKonvertFortschritt& p) override { progress.push_back(p); }
    bool CancelCheck() override { return ++polls == cancelAt && answerYes; }
};

}  // namespace tervalo::test
