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

QRgb rgb(const QColor& c) { return c.rgb() & 0xFFFFFF; }

}  // namespace

TEST_F(ThemeTest, EverySurfaceSwitchesWithTheAppearance) {
    light();
    EXPECT_EQ(rgb(BrandColor::bg()), 0xFAFAF8u);
    EXPECT_EQ(rgb(BrandColor::text()), 0x141413u);
    EXPECT_EQ(rgb(BrandColor::textMuted()), 0x6B6B67u);
    EXPECT_EQ(rgb(BrandColor::border()), 0xE5E1D8u);
    EXPECT_EQ(rgb(BrandColor::warn()), 0x8A6D3Bu);
    EXPECT_EQ(rgb(BrandColor::chartOutput()), 0x4A4740u);
    EXPECT_EQ(rgb(BrandColor::windowBG()), 0xFAFAF8u);

    dark();
    EXPECT_EQ(rgb(BrandColor::bg()), 0x1A1917u);
    EXPECT_EQ(rgb(BrandColor::text()), 0xF2EFE8u);
    EXPECT_EQ(rgb(BrandColor::textMuted()), 0xA8A49Bu);
    EXPECT_EQ(rgb(BrandColor::border()), 0x38352Fu);
    EXPECT_EQ(rgb(BrandColor::warn()), 0xC9A85Eu);
    EXPECT_EQ(rgb(BrandColor::chartOutput()), 0xB4AFA4u);
    EXPECT_EQ(rgb(BrandColor::windowBG()), 0x1A1917u);
}

TEST_F(ThemeTest, AccentFaintHasItsOwnAlphaPerAppearance) {
    dark();
    EXPECT_EQ(rgb(BrandColor::accentFaint()), 0xC9A85Eu);
    EXPECT_NEAR(BrandColor::accentFaint().alphaF(), 0.16, 0.003);
    EXPECT_EQ(BrandColor::accent().alpha(), 255);
    light();
    EXPECT_EQ(rgb(BrandColor::accentFaint()), 0xB5924Cu);
    EXPECT_NEAR(BrandColor::accentFaint().alphaF(), 0.10, 0.003);
    EXPECT_EQ(BrandColor::accent().alpha(), 255);
}

TEST_F(ThemeTest, ChartCachedIsTheSameInBoth) {
    light();
    QColor l = BrandColor::chartCached();
    dark();
    EXPECT_EQ(BrandColor::chartCached(), l);
    EXPECT_EQ(rgb(l), 0x7E856Fu);
}

TEST_F(ThemeTest, StyleSheetTextKeepsTheAlpha) {
    light();
    EXPECT_EQ(BrandColor::css(BrandColor::bg()), "#fafaf8");
    EXPECT_EQ(BrandColor::css(BrandColor::accentFaint()), "rgba(181, 146, 76, 0.100)");
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
    EXPECT_EQ(BrandFont::sans(19, QFont::DemiBold).pixelSize(), 19);
    EXPECT_EQ(BrandFont::sans(10.6).pixelSize(), 11);
    EXPECT_EQ(BrandFont::sans(12).weight(), QFont::Normal);
    // A size too small to draw still gives a usable font.
    EXPECT_EQ(BrandFont::sans(0.2).pixelSize(), 1);
}
