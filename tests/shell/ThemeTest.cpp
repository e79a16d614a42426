// The theme's colours under each appearance, and the font fallback.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <optional>

#include "Appearance.h"
#include "Theme.h"

using namespace vorel;
using vorel::platform::Appearance;

namespace {

// Forces an appearance for one test and hands the choice back afterwards.
class ThemeTest : public ::testing::Test {
protected:
    void TearDown() override { Appearance::shared().setOverride(std::nullopt); }
    static void light() { Appearance::shared().setOverride(false); }
    static void dark() { Appearance::shared().setOverride(true); }
};

}  // namespace

TEST_F(ThemeTest, EverySurfaceSwitchesWithTheAppearanceButTheCachedShare) {
    using Colour = QColor (*)();
    const Colour switching[] = {BrandColor::bg,     BrandColor::bgSubtle, BrandColor::bgElevated,
                                BrandColor::text,   BrandColor::textMuted, BrandColor::textFaint,
                                BrandColor::accent, BrandColor::accentFaint, BrandColor::border,
                                BrandColor::warn,   BrandColor::chartOutput, BrandColor::windowBG};
    std::vector<QColor> lightColours;
    light();
    for (Colour c : switching) lightColours.push_back(c());
    const QColor cached = BrandColor::chartCached();
    dark();
    for (size_t i = 0; i < std::size(switching); ++i) EXPECT_NE(switching[i](), lightColours[i]) << i;
    EXPECT_EQ(BrandColor::chartCached(), cached);

    // The window is the page background; the faint accent is the accent,
    // see-through.
    for (bool isDark : {false, true}) {
        Appearance::shared().setOverride(isDark);
        EXPECT_EQ(BrandColor::windowBG(), BrandColor::bg());
        EXPECT_EQ(BrandColor::accentFaint().rgb(), BrandColor::accent().rgb());
        EXPECT_LT(BrandColor::accentFaint().alpha(), 64);
        EXPECT_EQ(BrandColor::accent().alpha(), 255);
    }
}

TEST_F(ThemeTest, StyleSheetTextKeepsTheAlpha) {
    EXPECT_EQ(BrandColor::css(QColor(0xFA, 0xFA, 0xF8)), "#fafaf8");
    EXPECT_EQ(BrandColor::css(QColor(181, 146, 76, 26)), "rgba(181, 146, 76, 0.102)");
}

TEST_F(ThemeTest, OverrideAnnouncesOnlyRealChanges) {
    light();
    QSignalSpy spy(&Appearance::shared(), &Appearance::changed);
    light();
    EXPECT_EQ(spy.count(), 0);
    dark();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(Appearance::shared().isDark());
}

TEST(BrandFontTest, KeepsSizeAndWeightWhateverTheFace) {
    QFont f = BrandFont::sans(13, QFont::Medium);
    EXPECT_EQ(f.pixelSize(), 13);
    EXPECT_EQ(f.weight(), QFont::Medium);
    EXPECT_EQ(BrandFont::sans(10.6).pixelSize(), 11);
    EXPECT_EQ(BrandFont::sans(12).weight(), QFont::Normal);
    // A size too small to draw still gives a usable font.
    EXPECT_EQ(BrandFont::sans(0.2).pixelSize(), 1);
}
