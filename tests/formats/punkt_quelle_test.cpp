// The point source: kind by content, lines and records in file order with their numbers,
// the line rule and the capture square; the dBase signature test it decides by.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "formats/PunktQuelle.h"
#include "formats/dbf_helpers.h"

using namespace tervalo;

namespace {

using Befunde = std::vector<std::tuple<uint64_t, TBefund, double>>;

template <class Regel>
Befunde Walk(const std::string& path, const TQuadrat* q = nullptr) {
    TPunktQuelle quelle(path);
    if (q) quelle.SetQuadrat(*q);
    EXPECT_EQ(quelle.Open(), 0);
    Befunde out;
    quelle.Read<Regel>([&](const auto& z) {
        double x = 0, y = 0, h = 0;
        const TBefund b = z.Punkt(x, y, h);
        out.emplace_back(z.Nr, b, b == TBefund::Punkt ? x : 0.0);
    });
    return out;
}

constexpr TBefund P = TBefund::Punkt, L = TBefund::Leer, A = TBefund::Abgelehnt, O = TBefund::Ausserhalb;

TEST(PunktQuelle, TextLinesWithTheirNumbersRuleAndSquare) {
    dbftest::TempDir dir;
    const std::string f = dir / "a.txt";
    std::ofstream(f, std::ios::binary) << "10 20 30\r\n  \r\nX Y Z\n900 20 1\n\t1\r1 21 31\r";
    EXPECT_EQ(Walk<TPunktZeilenRegel>(f), (Befunde{{1, P, 10}, {2, L, 0}, {3, A, 0}, {4, P, 900}, {5, P, 11}}));
    // The extent reader needs a blank after Y and has no empty-line case of its own.
    EXPECT_EQ(Walk<TAusdehnungsZeilenRegel>(f), (Befunde{{1, P, 10}, {2, A, 0}, {3, A, 0}, {4, P, 900}, {5, P, 11}}));
    // The square rules plain lines out by their first characters; the heading is unclear.
    const TQuadrat q{0, 100, 0, 100};
    EXPECT_EQ(Walk<TPunktZeilenRegel>(f, &q), (Befunde{{1, P, 10}, {2, L, 0}, {3, A, 0}, {4, O, 0}, {5, P, 11}}));

    TPunktQuelle fehlt(dir / "fehlt.xyz");
    EXPECT_FALSE(fehlt.IsDbase());
    EXPECT_EQ(fehlt.Open(), ENOENT);
    TPunktQuelle ordner(dir.Path());
    EXPECT_EQ(ordner.Open(), EISDIR);
}

// A file that cannot be opened is a value, never an exception, and nothing to read.
TEST(PunktQuelle, CannotOpenIsTheErrorNumber) {
    dbftest::TempDir dir;
    const std::string fifo = dir / "rohr.dbf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::pair<std::string, int> faelle[] = {
        {dir / "fehlt.dbf", ENOENT}, {dir.Path(), EISDIR}, {fifo, EACCES}, {"/dev/null", EACCES}};
    for (const auto& [pfad, err] : faelle) {
        TPunktQuelle q(pfad);  // a pipe without writer must not hang the opening
        EXPECT_FALSE(q.IsDbase()) << pfad;
        EXPECT_EQ(q.Fehler(), err) << pfad;
        int oeffne = -1;
        EXPECT_NO_THROW(oeffne = q.Open()) << pfad;
        EXPECT_EQ(oeffne, err) << pfad;
        int zeilen = 0;
        EXPECT_NO_THROW(q.Read<TPunktZeilenRegel>([&](const auto&) { ++zeilen; })) << pfad;
        EXPECT_EQ(zeilen, 0) << pfad;
    }
}

// The file opened to decide its kind is the one read: a name that meanwhile leads elsewhere,
// or nowhere, changes nothing.
TEST(PunktQuelle, ReadsTheFileItDecidedOn) {
    dbftest::TempDir dir;
    using dbftest::Rec3;
    const std::string tab = dir / "t.dbf", txt = dir / "t.xyz";
    dbftest::WriteBytes(tab, dbftest::MakeTable(dbftest::Xyz(), {Rec3("10", "20", "30"), Rec3("11", "21", "31")}));
    std::ofstream(txt, std::ios::binary) << "1 2 3\n4 5 6\n7 8 9\n";
    TPunktQuelle tabelle(tab);
    TPunktQuelle text(txt);
    ASSERT_TRUE(tabelle.IsDbase());
    ASSERT_FALSE(text.IsDbase());
    // Swapped: each name now holds the other kind.
    std::filesystem::rename(tab, dir / "tmp");
    std::filesystem::rename(txt, tab);
    std::filesystem::rename(dir / "tmp", txt);
    auto walk = [](TPunktQuelle& q) {
        std::vector<double> xs;
        EXPECT_EQ(q.Open(), 0);
        q.Read<TPunktZeilenRegel>([&](const auto& z) {
            double x = 0, y = 0, h = 0;
            if (z.Punkt(x, y, h) == TBefund::Punkt) xs.push_back(x);
        });
        return xs;
    };
    EXPECT_EQ(walk(tabelle), (std::vector<double>{10, 11}));
    EXPECT_EQ(tabelle.RecordCount(), 2u);
    EXPECT_EQ(walk(text), (std::vector<double>{1, 4, 7}));
}

TEST(PunktQuelle, RecordsByPhysicalNumberFieldByFieldInTheSquare) {
    dbftest::TempDir dir;
    const std::string f = dir / "t.dbf";
    using dbftest::Rec3;
    dbftest::WriteBytes(f, dbftest::MakeTable(dbftest::Xyz(), {Rec3("10", "20", "30"), Rec3("11", "21", "31", '*'),
                                                               Rec3("12", "22", ""), Rec3("500", "", "1"),
                                                               Rec3("13", "900", "")}));
    TPunktQuelle quelle(f);
    ASSERT_TRUE(quelle.IsDbase());
    EXPECT_EQ(Walk<TPunktZeilenRegel>(f), (Befunde{{1, P, 10}, {3, A, 0}, {4, A, 0}, {5, A, 0}}));
    EXPECT_EQ(Walk<TAusdehnungsZeilenRegel>(f), (Befunde{{1, P, 10}, {3, P, 12}, {4, A, 0}, {5, P, 13}}));
    // In the square a field is read only while the point can still lie inside it.
    const TQuadrat q{0, 100, 0, 100};
    EXPECT_EQ(Walk<TPunktZeilenRegel>(f, &q), (Befunde{{1, P, 10}, {3, A, 0}, {4, O, 0}, {5, O, 0}}));
}

TEST(IsDbaseFile, ChecksTheSignatureWithReadAccessOnly) {
    namespace fs = std::filesystem;
    const dbftest::TempDir tmp;
    const fs::path dir = tmp.Path();
    auto write = [&](const char* name, std::string bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    EXPECT_TRUE(IsDbaseFile(write("l3.dbf", std::string("\x03\x41\x01\x01", 4) + std::string(40, '\0'))));
    EXPECT_TRUE(IsDbaseFile(write("l4.dbf", std::string("\x04\x7F", 2))));  // two bytes suffice
    EXPECT_FALSE(IsDbaseFile(write("l7.dbf", std::string("\x05\x70\x01", 3))));
    EXPECT_FALSE(IsDbaseFile(write("b64.dbf", std::string("\x03\x40\x01", 3))));
    EXPECT_FALSE(IsDbaseFile(write("b128.dbf", std::string("\x03\x80\x01", 3))));
    EXPECT_FALSE(IsDbaseFile(write("one.dbf", std::string("\x03", 1))));
    EXPECT_FALSE(IsDbaseFile(write("text.xyz", "3566000.000 5936000.000 98.991\r\n")));
    EXPECT_FALSE(IsDbaseFile((dir / "missing.dbf").string()));
    EXPECT_FALSE(IsDbaseFile(dir.string()));
    std::string ro = write("ro.dbf", std::string("\x03\x6A\x01\x01", 4));
    fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(IsDbaseFile(ro));  // read-only tables are still tables
}

}  // namespace
