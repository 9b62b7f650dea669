// The catalogue model the file manager edits.
#include <gtest/gtest.h>

#include <filesystem>

#include "filemanager/Katalog.h"
#include "support/files.h"

using namespace tervalo;

namespace {

std::vector<std::string> Names(const TKatalog& k) {
    std::vector<std::string> n;
    for (int r = 1; r <= k.Rows(); ++r) n.push_back(k.Row(r).Name());
    return n;
}

TDateien Catalogue(std::initializer_list<const char*> paths) {
    TDateien d;
    for (const char* p : paths) {
        ++d.Anzahl;
        d.Datei[d.Anzahl] = p;
        d.Xmin[d.Anzahl] = 1000.125 * d.Anzahl;
    }
    return d;
}

}  // namespace

TEST(Katalog, EditsKeepOneRowAndTheDraggedOrder) {
    TKatalog k = TKatalog::FromDateien(TDateien{});
    ASSERT_EQ(k.Rows(), 1);  // an empty catalogue is one blank row
    EXPECT_EQ(k.NamedRows(), 0);
    k.InsertAt(1, {"/d/a.xyz"});
    k.InsertAt(3, {"/d/c.xyz"});   // after the blank row
    k.InsertAt(5, {"/d/x.xyz"});   // beyond the end: nothing
    k.InsertAt(2, {});
    k.SetRow(2, {"/d/b.xyz"});
    EXPECT_EQ(Names(k), (std::vector<std::string>{"a.xyz", "b.xyz", "", "c.xyz"}));
    k.Move(4, 1);
    k.Move(2, 3);
    EXPECT_EQ(Names(k), (std::vector<std::string>{"c.xyz", "b.xyz", "a.xyz", ""}));
    EXPECT_TRUE(k.ContainsName("b.xyz"));
    EXPECT_FALSE(k.ContainsName("d.xyz"));
    for (int r : {4, 2, 1}) k.Remove(r);
    EXPECT_EQ(Names(k), (std::vector<std::string>{"a.xyz"}));
    k.Remove(1);  // the last row is blanked, not removed
    EXPECT_EQ(k.Rows(), 1);
    EXPECT_EQ(k.NamedRows(), 0);
}

TEST(Katalog, WritesNamedRowsBackAsTheFileStoresThem) {
    TDateien d = Catalogue({"/d/a.xyz", " /e/ b.xyz ", "/d/"});
    TKatalog k = TKatalog::FromDateien(d);
    EXPECT_EQ(k.Rows(), 3);
    EXPECT_EQ(k.Row(2).Pfad(), "/e/b.xyz");
    k.Move(1, 3);
    d.KonfDatei = "/k.KNF";
    k.ToDateien(d);
    ASSERT_EQ(d.Anzahl, 2);  // the row without a name is left out
    EXPECT_EQ(d.Datei[1], "/e/b.xyz");
    EXPECT_EQ(d.Datei[2], "/d/a.xyz");
    EXPECT_EQ(d.Xmin[1], 2000.25);
    EXPECT_EQ(d.Xmin[2], 1000.13);  // two decimals, halves away from zero
    EXPECT_EQ(d.KonfDatei, "/k.KNF");
}

TEST(Katalog, FullAtTheCatalogueSize) {
    TKatalog k;
    for (int i = 1; i < MaxDateien; ++i) k.InsertAt(i, {"/d/t" + std::to_string(i) + ".xyz"});
    EXPECT_FALSE(k.Full());
    k.InsertAt(1, {"/d/u.xyz"});
    EXPECT_TRUE(k.Full());
    k.InsertAt(1, {"/d/v.xyz"});  // the model takes it; the window refuses before
    TDateien d;
    k.ToDateien(d);
    EXPECT_EQ(d.Anzahl, MaxDateien);
    EXPECT_EQ(d.Datei[MaxDateien], "/d/t248.xyz");
}

// A folder row is known by its whole path: two folders named DGM1 are two entries, and a file
// named like a folder's last part is no repeat of it. Its box, the union of its tiles, is
// stored rounded outwards, so it still holds every tile.
TEST(Katalog, FolderRowsByTheirWholePathAndBoxRoundedOutwards) {
    const tervalo::test::TempDir tmp;
    const std::string nrw = tmp / "nrw", dgm1 = tmp / "nrw/DGM1";
    std::filesystem::create_directories(dgm1);
    TDateien d = Catalogue({"/d/a.xyz"});
    ++d.Anzahl;
    d.Datei[2] = dgm1;
    TKatalog k = TKatalog::FromDateien(d);
    EXPECT_FALSE(k.Row(1).IstOrdner);
    EXPECT_TRUE(k.Row(2).IstOrdner);
    EXPECT_FALSE(k.ContainsName("DGM1"));
    EXPECT_TRUE(k.ContainsOrdner(dgm1));
    EXPECT_TRUE(k.ContainsOrdner(dgm1 + "/"));
    EXPECT_FALSE(k.ContainsOrdner(tmp / "he/DGM1"));
    EXPECT_FALSE(k.ContainsOrdner("/d/a.xyz")) << "a file row is no folder";
    EXPECT_FALSE(k.ContainsOrdner(nrw));

    TKatalogZeile z{tmp / "he/DGM1", 350000.001, 351999.991, -5600000.004, -5599000.0};
    z.IstOrdner = true;
    k.InsertAt(3, z);
    TKatalogZeile datei{"/d/b.xyz", 350000.001, 351999.991, -5600000.004, -5599000.0};
    k.InsertAt(4, datei);
    k.ToDateien(d);
    ASSERT_EQ(d.Anzahl, 4);
    EXPECT_EQ(d.Datei[3], tmp / "he/DGM1");
    EXPECT_EQ(d.Xmin[3], 350000.0);
    EXPECT_EQ(d.Xmax[3], 352000.0);
    EXPECT_EQ(d.Ymin[3], -5600000.01);
    EXPECT_EQ(d.Ymax[3], -5599000.0) << "a value on two decimals stays";
    // A file's box as before: to the nearest.
    EXPECT_EQ(d.Xmin[4], 350000.0);
    EXPECT_EQ(d.Xmax[4], 351999.99);
    EXPECT_EQ(d.Ymin[4], -5600000.0);
}
