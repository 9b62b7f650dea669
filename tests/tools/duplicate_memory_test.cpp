// The duplicate memory: the same answers as remembering every point written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "tools/DuplikatSpeicher.h"
#include "tools/PunktSet.h"

namespace tervalo {
namespace {

TEST(DuplicateMemory, ExactEqualityOfXAndYOnly) {
    TDuplikatSpeicher m;
    EXPECT_TRUE(m.Insert(3566000.0, 5936000.0));
    EXPECT_FALSE(m.Insert(3566000.0, 5936000.0));
    EXPECT_TRUE(m.Insert(3566000.0, 5936000.000000001));  // differs in the last bit
    EXPECT_TRUE(m.Insert(5936000.0, 3566000.0));          // swapped
    EXPECT_TRUE(m.Contains(3566000.0, 5936000.0));
    // -0.0 and 0.0 are equal doubles.
    EXPECT_TRUE(m.Insert(0.0, -0.0));
    EXPECT_FALSE(m.Insert(-0.0, 0.0));
    // NaN equals nothing, not even itself.
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(m.Insert(nan, 1.0));
    EXPECT_TRUE(m.Insert(nan, 1.0));
    EXPECT_FALSE(m.Contains(nan, 1.0));
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(m.Insert(inf, -inf));
    EXPECT_FALSE(m.Insert(inf, -inf));
}

TEST(DuplicateMemory, RemembersEveryPointOfTheFileBeingRead) {
    TDuplikatSpeicher m;
    // A 1 m grid like a tile, so hashing of regular coordinates is exercised too.
    auto x = [](int k) { return 3566000.0 + k % 1001; };
    auto y = [](int k) { return 5936000.0 + k / 1001; };
    const int n = 1001 * 1001;
    for (int k = 0; k < n; ++k) ASSERT_TRUE(m.Insert(x(k), y(k))) << k;
    EXPECT_EQ(m.FilePoints(), static_cast<std::size_t>(n));
    for (int k = 0; k < n; k += 997) ASSERT_FALSE(m.Insert(x(k), y(k))) << k;
    EXPECT_FALSE(m.Insert(x(n - 1), y(n - 1)));
}

// Files read one after another with true extents: the memory answers as one that remembers
// every point of the run, while it keeps of a finished file only what a later extent holds.
TEST(DuplicateMemory, CarriesOnlyWhatALaterFileCanRepeatAndAgreesWithRememberingAll) {
    std::mt19937 rng(7);
    for (int runde = 0; runde < 20; ++runde) {
        std::vector<TBereich> extents;
        for (int f = 0; f < 6; ++f) {
            const double x0 = static_cast<double>(rng() % 30), y0 = static_cast<double>(rng() % 30);
            extents.push_back({x0, x0 + static_cast<double>(rng() % 15), y0, y0 + static_cast<double>(rng() % 15)});
        }
        TDuplikatSpeicher m;
        std::set<std::pair<double, double>> alle;
        for (std::size_t f = 0; f < extents.size(); ++f) {
            const TBereich& e = extents[f];
            for (int i = 0; i < 300; ++i) {
                const double x = e.Xmin + static_cast<double>(rng() % static_cast<unsigned>(e.Xmax - e.Xmin + 1));
                const double y = e.Ymin + static_cast<double>(rng() % static_cast<unsigned>(e.Ymax - e.Ymin + 1));
                ASSERT_EQ(m.Insert(x, y), alle.insert({x, y}).second) << runde << " " << f << " " << i;
            }
            const std::vector<TBereich> later(extents.begin() + static_cast<std::ptrdiff_t>(f) + 1, extents.end());
            m.EndFile(later);
            EXPECT_EQ(m.FilePoints(), 0u);
            std::size_t noetig = 0;
            for (const auto& [x, y] : alle)
                noetig += std::any_of(later.begin(), later.end(), [&](const TBereich& b) { return b.Enthaelt(x, y); });
            EXPECT_EQ(m.CarriedPoints(), noetig) << runde << " " << f;
        }
    }
}

TEST(DuplicateMemory, DropFileForgetsOnlyTheCurrentFile) {
    TDuplikatSpeicher m;
    EXPECT_TRUE(m.Insert(1, 1));
    EXPECT_TRUE(m.Insert(5, 5));
    m.EndFile({{0, 2, 0, 2}});  // (5, 5) cannot come again
    EXPECT_TRUE(m.Contains(1, 1));
    EXPECT_FALSE(m.Contains(5, 5));
    EXPECT_TRUE(m.Insert(2, 2));
    EXPECT_FALSE(m.Insert(1, 1));
    m.DropFile();
    EXPECT_FALSE(m.Contains(2, 2));
    EXPECT_TRUE(m.Contains(1, 1));
    m.EndFile({});
    EXPECT_EQ(m.CarriedPoints(), 0u);
    EXPECT_TRUE(m.Insert(1, 1));
}

// The set under the duplicate memory, as the query and the batch use it: growing from a
// small table, emptied again and again (a few entries or a full table).
TEST(PunktSet, GrowsClearsAndAgreesWithALinearScan) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(0, 90);
    TPunktSet set(4);
    for (int runde = 0; runde < 6; ++runde) {
        set.Clear();
        EXPECT_EQ(set.Size(), 0u);
        std::vector<std::pair<double, double>> drin;
        const int n = runde % 2 ? 3000 : 5;
        for (int i = 0; i < n; ++i) {
            const double x = coord(rng) - 45.0, y = (coord(rng) - 45) * 0.5;
            bool dup = false;
            for (auto& p : drin) dup = dup || (p.first == x && p.second == y);
            ASSERT_EQ(set.Insert(x, y), !dup) << runde << " " << i;
            if (!dup) drin.push_back({x, y});
        }
        EXPECT_EQ(set.Size(), drin.size());
        for (auto& p : drin) EXPECT_TRUE(set.Contains(p.first, p.second));
        // Each position once, whether the used slots are listed (few) or the table is walked.
        std::vector<std::pair<double, double>> besucht;
        set.ForEach([&](double x, double y) { besucht.push_back({x, y}); });
        std::sort(besucht.begin(), besucht.end());
        std::sort(drin.begin(), drin.end());
        EXPECT_EQ(besucht, drin);
    }
    set.Clear();
    EXPECT_FALSE(set.Contains(0.0, 0.0));
    EXPECT_TRUE(set.Insert(-0.0, 0.0));
    EXPECT_FALSE(set.Insert(0.0, -0.0));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(set.Insert(nan, 1.0));
    EXPECT_TRUE(set.Insert(nan, 1.0));
    EXPECT_FALSE(set.Contains(nan, 1.0));
    EXPECT_EQ(set.Size(), 1u);
}

}  // namespace
}  // namespace tervalo
