#pragma once
// A catalogue for the service's tests: one 100 m tile on a 5 m grid in Gauss-Krueger zone 3,
// with the tiles' system set (EPSG:31467) or not.
#include <string>

#include "config/Konf.h"
#include "query/query_test_util.h"

namespace tervalo::test {

constexpr double kX0 = 3567000, kY0 = 5936000;

struct TKatalogDateien {
    qtest::TempDir dir;
    std::string knf = dir.File("dgm.KNF");
    std::string tile = dir.File("kachel.xyz");
    TDateien kat;

    explicit TKatalogDateien(bool mitSystem = true) {
        qtest::WriteFile(tile, qtest::XyzText(qtest::Grid(kX0, kX0 + 100, kY0, kY0 + 100, 5)));
        qtest::AddEntry(kat, tile, kX0, kX0 + 100, kY0, kY0 + 100);
        KonfSave(knf, TSettings{}, kat);
        qtest::WriteFile(dir.File("dgm.ini"), mitSystem ? "[Kacheln]\nSystem=EPSG:31467\n" : "");
    }
};

}  // namespace tervalo::test
