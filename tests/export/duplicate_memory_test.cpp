// The duplicate memory: same answers as a scan over the first remembered points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "export/PointRun.h"
#include "tools/PunktSet.h"

namespace tervalo {
namespace {

TEST(DuplicateMemory, ExactEqualityOfXAndYOnly) {
    TDuplicateMemory m;
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

TEST(DuplicateMemory, RemembersExactlyTheFirstFiveHundredThousand) {
    TDuplicateMemory m;
    ASSERT_EQ(m.Limit(), 500000u);
    // A 1 m grid like a tile, so hashing of regular coordinates is exercised too.
    auto x = [](int k) { return 3566000.0 + k % 1001; };
    auto y = [](int k) { return 5936000.0 + k / 1001; };
    for (int k = 0; k < 500001; ++k) ASSERT_TRUE(m.Insert(x(k), y(k))) << k;
    EXPECT_EQ(m.Inserted(), 500000u);
    EXPECT_FALSE(m.Insert(x(0), y(0)));
    EXPECT_FALSE(m.Insert(x(499999), y(499999)));
    EXPECT_TRUE(m.Insert(x(500000), y(500000)));  // the 500,001st was not remembered
}

TEST(DuplicateMemory, AgreesWithALinearScan) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(0, 60);
    const std::size_t limit = 700;
    TDuplicateMemory m(limit);
    std::vector<std::pair<double, double>> remembered;
    for (int i = 0; i < 5000; ++i) {
        double x = (coord(rng) - 30) * 0.5, y = (coord(rng) - 30) * 0.25;
        bool dup = false;
        for (auto& p : remembered) dup = dup || (p.first == x && p.second == y);
        ASSERT_EQ(m.Insert(x, y), !dup) << i;
        if (!dup && remembered.size() < limit) remembered.push_back({x, y});
    }
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
