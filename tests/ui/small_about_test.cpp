#include "ui_test_support.h"

#include "ui/About.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace tervalo;

namespace {

TEST(AboutMemory, KibibytesUpToHundredMillionBytesThenMebibytes) {
    tervalo::test::UiApp();
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(PhysMemText(67108864ULL, de), QStringLiteral("65.536 KB"));
    EXPECT_EQ(PhysMemText(2147483648ULL, de), QStringLiteral("2.048 MB"));
    EXPECT_EQ(PhysMemText(100000000ULL, de), QStringLiteral("97.656 KB"));
    EXPECT_EQ(PhysMemText(100000001ULL, de), QStringLiteral("95 MB"));
    EXPECT_EQ(PhysMemText(2147483648ULL, QLocale(QLocale::English, QLocale::UnitedStates)),
              QStringLiteral("2,048 MB"));
    EXPECT_EQ(LoadText(37), QStringLiteral("37 %"));
}

TEST(AboutMemory, MemInfoTotalAndLoad) {
    const TMemoryStatus m = ParseMemInfo(
        "MemTotal:        2097152 kB\nMemFree:          100 kB\nMemAvailable:     524288 kB\n");
    EXPECT_TRUE(m.Valid);
    EXPECT_EQ(m.TotalBytes, 2147483648ULL);
    EXPECT_EQ(m.LoadPercent, 75);
    EXPECT_FALSE(ParseMemInfo("garbage\n").Valid);
    EXPECT_FALSE(ParseMemInfo("MemTotal: 0 kB\n").Valid);
    // Without MemAvailable the load cannot be known.
    EXPECT_EQ(ParseMemInfo("MemTotal: 1000 kB\n").LoadPercent, 0);
}

TEST(AboutPicture, DecodedWithLibjpegAndGarbageRefused) {
    tervalo::test::UiApp();
    const QImage pic = AboutPicture();
    ASSERT_FALSE(pic.isNull());
    EXPECT_GE(pic.width(), 64);
    // A hill-shade has many shades, not a flat fill.
    EXPECT_NE(pic.pixel(5, 5), pic.pixel(pic.width() / 2, pic.height() / 2));
    const unsigned char junk[] = {0xFF, 0xD8, 0x00, 0x01, 0x02, 0x03, 'n', 'o', 'j', 'p', 'g'};
    EXPECT_TRUE(DecodeJpeg(junk, sizeof junk).isNull());
    EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
}

TEST(AboutBox, CaptionVersionAndMemoryTexts) {
    tervalo::test::UiApp();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TAboutBox box;
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Info zu %1, Version 1.2b").arg(exe));
    EXPECT_EQ(box.Label5->text(), QStringLiteral("Stand:  März 2006,   Version:  1.2b"));
    EXPECT_TRUE(box.PhysMem->text().endsWith(QStringLiteral(" MB")));
    EXPECT_TRUE(box.FreeRes->text().endsWith(QStringLiteral(" %")));
    EXPECT_FALSE(box.ProgramIcon->pixmap().isNull());
    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Berechnung von Tervalo\naus einem X-Y-Z-Koordinatenraster"));
}

}  // namespace
