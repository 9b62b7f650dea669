// Nearest point, Shepard height, ranking of the 20 nearest, and the number texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "query/Query.h"

using namespace tervalo;

namespace {

struct Store {
    std::unique_ptr<TPunktSpeicher> s = std::make_unique<TPunktSpeicher>();
    void Add(double x, double y, double z) {
        const int i = ++s->Anzahl;
        s->X[i] = x;
        s->Y[i] = y;
        s->Z[i] = z;
    }
    TBerechnung Run(double x, double y, double p) {
        TBerechnung b;
        Compute(*s, x, y, p, b);
        return b;
    }
};

}  // namespace

TEST(QueryBerechnung, SinglePointAndExponents) {
    for (double p : {0.0, 1.0, 2.0, 5.5}) {
        Store st;
        st.Add(103, 100, 100);
        TBerechnung b = st.Run(100, 100, p);
        EXPECT_EQ(b.Naechster, 1);
        EXPECT_EQ(st.s->R[1], 3.0);
        EXPECT_EQ(b.ShepardN, 1);
        EXPECT_DOUBLE_EQ(b.ShepardZ, 100.0) << p;
        EXPECT_EQ(b.Rang[1], 1);
        EXPECT_EQ(b.Rang[2], 0);
    }
    // Exponent 0: the plain mean of the points within the radius.
    Store st;
    st.Add(101, 100, 10);
    st.Add(100, 102, 20);
    st.Add(100, 95, 60);
    EXPECT_DOUBLE_EQ(st.Run(100, 100, 0).ShepardZ, 30.0);
}

TEST(QueryBerechnung, TiesExactHitAndRadius) {
    // Equal distances: the point accepted first is the nearest and ranks first.
    Store st;
    st.Add(102, 100, 1);
    st.Add(100, 102, 2);
    st.Add(98, 100, 3);
    TBerechnung b = st.Run(100, 100, 2);
    EXPECT_EQ(b.Naechster, 1);
    EXPECT_EQ((std::vector<int>{b.Rang[1], b.Rang[2], b.Rang[3]}), (std::vector<int>{1, 2, 3}));

    // An exact hit weighs 10000; the others still count with their own weights.
    Store hit;
    hit.Add(101, 100, 50);
    hit.Add(100, 100, 10);
    b = hit.Run(100, 100, 2);
    EXPECT_EQ(b.Naechster, 2);
    EXPECT_DOUBLE_EQ(b.ShepardZ, (10 * 10000.0 + 50 * 1.0) / 10001.0);

    // Nothing within sqrt(50): n = 0 and height 0, the nearest point is still found.
    Store weit;
    weit.Add(108, 100, 70);
    weit.Add(100, 92, 80);
    b = weit.Run(100, 100, 2);
    EXPECT_EQ(b.ShepardN, 0);
    EXPECT_EQ(b.ShepardZ, 0.0);
    EXPECT_EQ(b.Naechster, 1);
    EXPECT_EQ(FormatResult(b.ShepardZ, ','), "0,00");

    EXPECT_EQ(ShepardRadius, std::sqrt(50.0));
    // Exactly sqrt(50) away (5 m in X and in Y, and 1 m / 7 m) takes part; a hair more does not.
    Store rand;
    rand.Add(105, 105, 10);
    rand.Add(101, 107, 20);
    rand.Add(105, 105.000001, 30);
    b = rand.Run(100, 100, 2);
    EXPECT_EQ(b.ShepardN, 2);
    EXPECT_DOUBLE_EQ(b.ShepardZ, 15.0);
}

TEST(QueryBerechnung, RankingOfTwentyWithTies) {
    // 40 points at distances 1..8 m, many at equal distance, in a mixed order.
    Store st;
    std::vector<double> r;
    for (int i = 0; i < 40; ++i) {
        const double d = 1 + (i * 7) % 8;
        st.Add(100 + d, 100, i);
        r.push_back(d);
    }
    TBerechnung b = st.Run(100, 100, 2);
    std::vector<int> pos(40);
    std::iota(pos.begin(), pos.end(), 1);
    std::stable_sort(pos.begin(), pos.end(), [&](int a, int c) { return r[a - 1] < r[c - 1]; });
    for (int s = 1; s <= 20; ++s) EXPECT_EQ(b.Rang[s], pos[s - 1]) << s;
    EXPECT_EQ(b.Naechster, pos[0]);

    // Fewer points than slots: only the first count slots are filled.
    Store wenig;
    wenig.Add(103, 100, 1);
    wenig.Add(101, 100, 2);
    b = wenig.Run(100, 100, 2);
    EXPECT_EQ(b.Rang[1], 2);
    EXPECT_EQ(b.Rang[2], 1);
    EXPECT_EQ(b.Rang[3], 0);
}

TEST(QueryBerechnung, NumberTexts) {
    EXPECT_EQ(FormatResult(3.0, ','), "3,00");
    EXPECT_EQ(FormatResult(0.125, '.'), "0.13");  // a half rounds away from zero
    EXPECT_EQ(FormatResult(-2.5, ','), "-2,50");
    EXPECT_EQ(FormatResult(1234567.891, ','), "1234567,89");
    EXPECT_EQ(FormatCell(3566000.5, 10, ','), "3566000,50");
    EXPECT_EQ(FormatCell(12345678.5, 10, ','), "12345678,50");  // never cut
    EXPECT_EQ(FormatCell(1234.5, 7, ','), "1234,50");
    EXPECT_EQ(FormatCell(98.991, 7, '.'), "  98.99");
    EXPECT_EQ(FormatCell(3, 6, ','), "  3,00");
}

TEST(QueryBerechnung, ShepardWeightsForEveryAllowedExponent) {
    // The weights as written: r^-p (computed through 1/r as ever), 10000 for an exact hit.
    auto alt = [](const Store& st, double p) {
        double zw = 0, w = 0;
        for (int i = 1; i <= st.s->Anzahl; ++i) {
            const double r = st.s->R[i];
            if (!InShepardRadius(r)) continue;
            const double g = r <= 0 ? TrefferGewicht : std::exp(p * std::log(1.0 / r));
            zw += st.s->Z[i] * g;
            w += g;
        }
        return w > 0 ? zw / w : 0.0;
    };
    // Ordinary exponents on random point sets: the old formula's height to 1e-12.
    std::mt19937 rng(99);
    for (int n = 0; n < 300; ++n) {
        Store st;
        const int anzahl = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < anzahl; ++i)
            st.Add(100 + (rng() % 1500) / 100.0 - 7.5, 100 + (rng() % 1500) / 100.0 - 7.5, 50 + (rng() % 100000) / 100.0);
        if (n % 10 == 0) st.Add(100, 100, 77);  // an exact hit now and then
        const double p = std::vector<double>{0, 0.5, 1, 2, 3, 5.5, 10, 20}[n % 8];
        const TBerechnung b = st.Run(100, 100, p);
        const double erwartet = alt(st, p);
        EXPECT_NEAR(b.ShepardZ, erwartet, 1e-12 * std::fabs(erwartet)) << "p " << p << " set " << n;
    }

    // Exponent 500 at 0.14 m from a grid point: r^-p overflows (the old height was 0); now the
    // nearest point decides, as it should. All points beyond 4.2 m used to underflow to 0.
    Store nah;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j) nah.Add(100 + i, 100 + j, 200 + 10 * i + j);
    TBerechnung b = nah.Run(100.14, 100, 500);
    EXPECT_EQ(b.ShepardN, 25);
    EXPECT_DOUBLE_EQ(b.ShepardZ, 200.0);
    EXPECT_EQ(FormatResult(b.ShepardZ, ','), "200,00");
    Store weit;
    weit.Add(105, 105, 10);
    weit.Add(100, 106, 20);
    b = weit.Run(100, 100, 500);
    EXPECT_EQ(b.ShepardN, 2);
    EXPECT_DOUBLE_EQ(b.ShepardZ, 20.0);
    // Exponent 0: every weight is 1, an exact hit still weighs 10000.
    Store null;
    null.Add(101, 100, 10);
    null.Add(100, 100, 40);
    null.Add(100, 103, 70);
    EXPECT_DOUBLE_EQ(null.Run(100, 100, 0).ShepardZ, (10 + 70 + 40 * 10000.0) / 10002.0);
}
