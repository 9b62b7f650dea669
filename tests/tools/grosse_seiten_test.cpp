// Large arrays mapped on their own: aligned to large pages, every byte usable, growth keeps
// the contents, and giving them back leaves the rest of the mapping alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

#include "tools/GrosseSeiten.h"
#include "tools/PunktSet.h"

using namespace tervalo;

TEST(GrosseSeiten, LargeArraysAreAlignedKeptWhenGrowingAndGivenBack) {
    TGrossVektor<double> klein(100), gross;
    std::iota(klein.begin(), klein.end(), 0.0);
    gross.reserve((std::size_t{3} << 20) / sizeof(double) + 1);  // just over 3 MiB: two large pages
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(gross.data()) % (std::size_t{2} << 20), 0u);
    for (std::size_t i = 0; i < gross.capacity(); ++i) gross.push_back(static_cast<double>(i));
    gross.push_back(-1.0);  // grows into a new mapping, copying every value
    for (std::size_t i = 0; i + 1 < gross.size(); i += 4099) ASSERT_EQ(gross[i], static_cast<double>(i));
    EXPECT_EQ(gross.back(), -1.0);
    TGrossVektor<double>().swap(gross);
    EXPECT_EQ(klein[99], 99.0);  // small ones come from the heap and are untouched
    // The position set's table takes the same path once it passes 2 MiB.
    TPunktSet set(1 << 18);
    for (int i = 0; i < 300000; ++i) ASSERT_TRUE(set.Insert(i, -i));
    EXPECT_FALSE(set.Insert(299999, -299999));
    EXPECT_TRUE(set.Contains(123456, -123456));
}
