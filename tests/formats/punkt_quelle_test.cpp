// The point source: kind by content, lines and records in file order with their numbers,
// the line rule and the capture square; the dBase signature test it decides by.
#include <gtest/gtest.h>
#include <unistd.h>

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
    if (q) quelle.SetzeQuadrat(*q);
    quelle.Oeffne();
    Befunde out;
    quelle.Lies<Regel>([&](const auto& z) {
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
    EXPECT_FALSE(fehlt.IstDbase());
    auto oeffne = [](TPunktQuelle& q) {
        try {
            q.Oeffne();
        } catch (const ETextNichtOffen& e) {
            return e.Errno();
        }
        return 0;
    };
    EXPECT_EQ(oeffne(fehlt), ENOENT);
    TPunktQuelle ordner(dir.Path());
    EXPECT_EQ(oeffne(ordner), EISDIR);
}

TEST(PunktQuelle, RecordsByPhysicalNumberFieldByFieldInTheSquare) {
    dbftest::TempDir dir;
    const std::string f = dir / "t.dbf";
    using dbftest::Rec3;
    dbftest::WriteBytes(f, dbftest::MakeTable(dbftest::Xyz(), {Rec3("10", "20", "30"), Rec3("11", "21", "31", '*'),
                                                               Rec3("12", "22", ""), Rec3("500", "", "1"),
                                                               Rec3("13", "900", "")}));
    TPunktQuelle quelle(f);
    ASSERT_TRUE(quelle.IstDbase());
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
